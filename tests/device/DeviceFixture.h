#pragma once

#include "FakeBus.h"
#include "device/CKRMSInterface.h"

#include <gtest/gtest.h>

namespace orvex::test {

inline constexpr std::uint8_t kCy = 1;
inline constexpr std::uint8_t kBv = 3;
inline constexpr std::uint8_t kCr = 4;

// Records what the sequences tell the escrow hook.
class CRecordingInterface : public CKRMSInterface {
public:
    using CKRMSInterface::CKRMSInterface;
    void EscrowNotify(int billType) override { notified.push_back(billType); }
    std::vector<int> notified;
};

// A device interface on a scripted bus that answers at once, with a short
// poll interval so that waits of minutes end after a poll or two.
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        peer.SetResponder(bus.Responder());
        ASSERT_NE(device.OpenPort(0, 50), 0) << peer.SlavePath();
        device.SetIntercommandInterval(0);
        device.SetPollInterval(10);
    }

    std::vector<std::uint8_t> Codes(std::uint8_t address, bool withPolls = false) const
    {
        return CodesTo(peer, address, withPolls);
    }

    // Declared in this order so the peer's thread stops before the bus it
    // calls goes away, and the port closes before the peer.
    FakeBus bus;
    PtyPeer peer;
    CRecordingInterface device { CPortTable({ peer.SlavePath() }) };
};

using CodeList = std::vector<std::uint8_t>;

} // namespace orvex::test
