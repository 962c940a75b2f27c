#include "link/CCommand.h"
#include "link/CheckCode.h"

#include <gtest/gtest.h>

using namespace orvex;

TEST(CheckCode, MatchesKermitCheckValue)
{
    const char* text = "123456789";
    EXPECT_EQ(CheckCodeOver(reinterpret_cast<const std::uint8_t*>(text), 9), 0x2189);
}
