#include "link/CCommand.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orvex;

namespace {

const std::uint8_t kPoll[] { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x81 };

} // namespace

TEST(Command, EmptyObjectHoldsNothing)
{
    CCommand command;
    EXPECT_EQ(command.GetStatus(), 0);
    EXPECT_EQ(command.GetBytes(), nullptr);
    EXPECT_EQ(command.GetLength(), 0);
    EXPECT_EQ(command.HexText(), "");
}

TEST(Command, HexTextOfThePollFrame)
{
    CCommand command(kPoll, 0);
    EXPECT_EQ(command.GetLength(), 6);
    EXPECT_EQ(command.HexText(), "02 03 06 33 DA 81 ");
    EXPECT_EQ(command.HexText().size(), 18u);
}

TEST(Command, LengthComesFromTheHeaderWhenNotGiven)
{
    std::vector<std::uint8_t> longFrame(300, 0);
    longFrame[0] = 0x02;
    longFrame[3] = 0x01;
    longFrame[4] = 0x2C;
    CCommand command(longFrame.data(), 0);
    EXPECT_EQ(command.GetLength(), 300);
    CCommand none(nullptr, 0);
    EXPECT_EQ(none.GetLength(), 0);
    EXPECT_EQ(none.GetBytes(), nullptr);
}

TEST(Command, FailureStatusKeepsNoBytes)
{
    CCommand command(kPoll, -4);
    EXPECT_EQ(command.GetStatus(), -4);
    EXPECT_EQ(command.GetBytes(), nullptr);
    EXPECT_EQ(command.GetLength(), 0);
    EXPECT_EQ(command.HexText(), "");
    command.SetByte(0x55, 0); // nothing to write into
    EXPECT_EQ(command.GetBytes(), nullptr);
}

TEST(Command, CopiesAreDeep)
{
    CCommand original(kPoll, 0);
    CCommand copy(original);
    ASSERT_NE(copy.GetBytes(), original.GetBytes());
    copy.SetByte(0x34, 3);
    EXPECT_EQ(original.GetBytes()[3], 0x33);
    EXPECT_EQ(copy.GetBytes()[3], 0x34);

    CCommand assigned;
    assigned = original;
    EXPECT_EQ(assigned.HexText(), original.HexText());
    assigned = assigned; // self-assignment keeps the frame
    EXPECT_EQ(assigned.HexText(), original.HexText());
}

TEST(Command, CopyOfAFailureIsTheBareStatus)
{
    CCommand failed(nullptr, -1);
    CCommand copy(failed);
    EXPECT_EQ(copy.GetStatus(), -1);
    EXPECT_EQ(copy.GetBytes(), nullptr);
    CCommand assigned(kPoll, 0);
    assigned = failed;
    EXPECT_EQ(assigned.GetStatus(), -1);
    EXPECT_EQ(assigned.GetLength(), 0);
}

TEST(Command, SetByteStaysInsideTheFrame)
{
    CCommand command(kPoll, 0);
    command.SetByte(0x99, 6);
    command.SetByte(0x99, 100);
    command.SetByte(0x99, -1);
    EXPECT_EQ(command.HexText(), "02 03 06 33 DA 81 ");
    command.SetByte(0x99, 5);
    EXPECT_EQ(command.HexText(), "02 03 06 33 DA 99 ");
}

TEST(Command, AssignFromBytesReplacesTheFrame)
{
    const std::uint8_t ack[] { 0x02, 0x03, 0x06, 0x00, 0xC2, 0x82 };
    CCommand command(kPoll, 0);
    command.Assign(ack, 0);
    EXPECT_EQ(command.HexText(), "02 03 06 00 C2 82 ");
    command.Assign(ack, -2);
    EXPECT_EQ(command.GetStatus(), -2);
    EXPECT_EQ(command.GetBytes(), nullptr);
}
