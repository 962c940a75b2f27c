#include "device/CKRMSInterface.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace orvex {
namespace {

TEST(ResultText, PlainProtocolCodes)
{
    EXPECT_EQ(CVMCInterface::ResultText(0), "OK");
    EXPECT_EQ(CVMCInterface::ResultText(-5), "ACK not recieved");
    EXPECT_EQ(CVMCInterface::ResultText(-8), "Error code FFFFFFF8");
    EXPECT_EQ(CVMCInterface::ResultText(128), "Error code 80");
}

TEST(ResultText, FamiliesReplaceThePrefix)
{
    EXPECT_EQ(CVMCInterface::ResultText(-10004), "Failure. Comm: CRC error");
    EXPECT_EQ(CVMCInterface::ResultText(-2001), "Command error. Comm: Timeout");
    EXPECT_EQ(CVMCInterface::ResultText(-1000), "Communication error. Comm: OK");
    EXPECT_EQ(CVMCInterface::ResultText(-1001), "Communication error. Comm: Timeout");
    EXPECT_EQ(CVMCInterface::ResultText(-10000), "Failure. Comm: OK");
    // The remainder of a failure can itself fall into a lower family.
    EXPECT_EQ(CVMCInterface::ResultText(-12005), "Command error. Comm: ACK not recieved");
}

TEST(ResultText, ExtremeCodesDoNotOverflow)
{
    EXPECT_FALSE(CVMCInterface::ResultText(INT32_MIN).empty());
}

TEST(BaseDefaults, ReportNoDeviceActivity)
{
    CVMCInterface base;
    std::string text = "left over";
    EXPECT_EQ(base.ReadBarcode(text, 3), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(base.WaitReaderState(-1, 10), 1);
    EXPECT_EQ(base.WaitState(-1, 1, 3), 0);
    EXPECT_FALSE(base.IsDevicePresent());
    EXPECT_EQ(base.GetProtocol(), nullptr);
    EXPECT_EQ(base.NextRecoveryEvent(), 0);

    std::uint32_t enabled = 7, security = 7, routed = 7;
    EXPECT_EQ(base.GetStatus(enabled, security, routed, 1), 0);
    EXPECT_EQ(enabled | security | routed, 0u);

    CassetteRecord records[kCassettes];
    records[3].status = 9;
    records[3].billCount = 9;
    records[3].billType = 9;
    EXPECT_EQ(base.GetCassettes(records, 1), 0);
    EXPECT_EQ(records[3].status, 0);
    EXPECT_EQ(records[3].billCount, 0);
    EXPECT_EQ(records[3].billType, 9);
}

TEST(BaseDefaults, NewCassetteRecord)
{
    CassetteRecord record;
    EXPECT_EQ(record.status, 254);
    EXPECT_EQ(record.unloadMinute, 255);
    EXPECT_EQ(record.billType, 0);
    EXPECT_TRUE(record.country.empty());
}

TEST(BaseDefaults, StopFlagIsReadThroughThePointer)
{
    CVMCInterface base;
    EXPECT_FALSE(base.StopRequested());
    std::atomic<std::uint8_t> stop { 0 };
    base.SetStopFlag(&stop);
    EXPECT_FALSE(base.StopRequested());
    stop = 1;
    EXPECT_TRUE(base.StopRequested());
    base.SetStopFlag(nullptr);
    EXPECT_FALSE(base.StopRequested());
}

} // namespace
} // namespace orvex
