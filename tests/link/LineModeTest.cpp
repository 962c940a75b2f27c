#include "link/LineMode.h"

#include <gtest/gtest.h>

using namespace orvex;

TEST(LineMode, TheTwoBusSpeeds)
{
    auto slow = ParseLineMode("9600,n,8,1");
    ASSERT_TRUE(slow);
    EXPECT_EQ(slow->baud, 9600);
    EXPECT_EQ(slow->parity, Parity::None);
    EXPECT_EQ(slow->dataBits, 8);
    EXPECT_EQ(slow->stopBits, 1);
    auto fast = ParseLineMode("19200,n,8,1");
    ASSERT_TRUE(fast);
    EXPECT_EQ(fast->baud, 19200);
}

TEST(LineMode, OtherParitiesSizesAndStandardRates)
{
    auto mode = ParseLineMode("115200,e,7,2");
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->baud, 115200);
    EXPECT_EQ(mode->parity, Parity::Even);
    EXPECT_EQ(mode->dataBits, 7);
    EXPECT_EQ(mode->stopBits, 2);
    auto odd = ParseLineMode("2400,O,5,1");
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->parity, Parity::Odd);
    EXPECT_EQ(odd->dataBits, 5);
}

TEST(LineMode, TextsThatDoNotParse)
{
    for (const char* text : { "", "9600", "9600,n,8", "9600,n,8,1,1", "9601,n,8,1", "9600,x,8,1", "9600,n,9,1",
             "9600,n,4,1", "9600,n,8,3", "fast,n,8,1", "9600,,8,1", "-9600,n,8,1", "9600,n,8,1x" })
        EXPECT_FALSE(ParseLineMode(text)) << '"' << text << '"';
}
