#include "link/CPortTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

using namespace orvex;

TEST(PortTable, SlotNamesAreOneBased)
{
    EXPECT_EQ(CPortTable::Name(0), "COM1");
    EXPECT_EQ(CPortTable::Name(15), "COM16");
    EXPECT_FALSE(CPortTable::IsValidIndex(-1));
    EXPECT_FALSE(CPortTable::IsValidIndex(16));
}

TEST(PortTable, ListFillsSlotsInOrderAndEmptyItemsLeaveGaps)
{
    auto table = CPortTable::FromList("/dev/ttyUSB0,,/dev/pts/7");
    EXPECT_EQ(table.Path(0), "/dev/ttyUSB0");
    EXPECT_EQ(table.Path(1), "");
    EXPECT_EQ(table.Path(2), "/dev/pts/7");
    EXPECT_EQ(table.Path(3), "");
    EXPECT_EQ(table.Path(-1), "");
    EXPECT_EQ(table.Path(16), "");
}

TEST(PortTable, EnvironmentListWins)
{
    const char* old = std::getenv("ORVEX_PORTS");
    std::string saved = old ? old : "";
    setenv("ORVEX_PORTS", ",/tmp/second", 1);
    auto table = CPortTable::FromEnvironment();
    EXPECT_EQ(table.Path(0), "");
    EXPECT_EQ(table.Path(1), "/tmp/second");
    if (old)
        setenv("ORVEX_PORTS", saved.c_str(), 1);
    else
        unsetenv("ORVEX_PORTS");
}

TEST(PortTable, DevicesInFamilyThenNaturalNumberOrder)
{
    char pattern[] = "/tmp/orvex-devXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::filesystem::path directory(pattern);
    for (const char* name : { "ttyS10", "ttyS2", "ttyACM0", "ttyUSB1", "ttyUSB0", "ttyS", "ttySx", "tty0", "ttyUSB10" }) {
        int fd = ::open((directory / name).c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    auto table = CPortTable::FromDevices(directory.string());
    const std::string base = directory.string() + "/";
    EXPECT_EQ(table.Path(0), base + "ttyUSB0");
    EXPECT_EQ(table.Path(1), base + "ttyUSB1");
    EXPECT_EQ(table.Path(2), base + "ttyUSB10");
    EXPECT_EQ(table.Path(3), base + "ttyACM0");
    EXPECT_EQ(table.Path(4), base + "ttyS2");
    EXPECT_EQ(table.Path(5), base + "ttyS10");
    EXPECT_EQ(table.Path(6), "");
    std::filesystem::remove_all(directory);
}

TEST(PortTable, DevicesBeyondSixteenAreLeftOut)
{
    char pattern[] = "/tmp/orvex-devXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::filesystem::path directory(pattern);
    for (int i = 0; i < 20; ++i) {
        int fd = ::open((directory / ("ttyS" + std::to_string(i))).c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    auto table = CPortTable::FromDevices(directory.string());
    EXPECT_EQ(table.Path(15), directory.string() + "/ttyS15");
    std::filesystem::remove_all(directory);
}
