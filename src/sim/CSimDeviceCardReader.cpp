#include "sim/CSimDevice.h"

#include "link/Frame.h"
#include "sim/SimFields.h"
#include "sim/SimTimings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvex {

using namespace simfields;

// ---- Card reader -------------------------------------------------------

std::uint8_t CSimDevice::ReaderState(Clock::time_point now) const
{
    if (now < m_readerBusyUntil)
        return wire::kReaderBusy;
    if (m_readerCancelPending)
        return wire::kReaderIdle;
    return m_readerBase;
}

SimBytes CSimDevice::ReaderCommand(const SimBytes& frame, Clock::time_point now, bool& poll)
{
    const std::uint8_t command = frame[3];
    const std::size_t parameters = frame.size() - kShortestFrame;
    auto reply = [&](const std::vector<std::uint8_t>& data) { return BuildFrame(wire::kCardReaderAddress, data); };
    auto invalid = [&] { return BuildFrame(wire::kCardReaderAddress, Invalid()); };
    bool busy = now < m_readerBusyUntil;
    switch (command) {
    case wire::kReaderReset:
        m_readerBase = wire::kReaderInactive;
        m_readerEnabled = false;
        m_readerCancelPending = false;
        m_readerFunds = 0;
        m_readerBusyUntil = now + Scaled(kReaderResetMs);
        return reply(Ack());
    case wire::kReaderPoll: {
        poll = true;
        std::uint8_t state = ReaderState(now);
        if (state == wire::kReaderIdle)
            m_readerCancelPending = false; // the cancel has been seen
        return reply({ state, 0 });
    }
    case wire::kReaderSetup: // scale byte and currency
        if (parameters < 4 || busy || m_readerBase == wire::kReaderPowerUp)
            return invalid();
        return reply({ wire::kAck, frame[4] });
    case wire::kReaderIdentification: {
        const char text[] = "ORVEX CR-10 1.3.2 CR0000004711";
        return reply(std::vector<std::uint8_t>(text, text + sizeof text - 1));
    }
    case wire::kEnableReader:
        if (parameters < 1 || busy || m_readerBase == wire::kReaderPowerUp)
            return invalid();
        m_readerEnabled = frame[4] != 0;
        if (m_readerBase == wire::kReaderInactive || m_readerBase == wire::kReaderEnabled)
            m_readerBase = m_readerEnabled ? wire::kReaderEnabled : wire::kReaderInactive;
        return reply(Ack());
    case wire::kReaderSession: {
        if (parameters < 1 || busy || m_readerBase == wire::kReaderPowerUp)
            return invalid();
        std::uint8_t sub = frame[4];
        switch (sub) {
        case wire::kGetFunds: {
            std::vector<std::uint8_t> data { wire::kFundsTableMark };
            if (m_readerBase == wire::kReaderReadyForVend) {
                const std::string_view currency = m_bills.empty() ? std::string_view("USD") : std::string_view(m_bills[0].country);
                for (std::size_t index = 0; index < 3; ++index)
                    data.push_back(index < currency.size() ? static_cast<std::uint8_t>(currency[index]) : ' ');
                Append32(data, m_readerFunds);
                data.push_back(2);
            }
            return reply(data);
        }
        case wire::kVendRequest:
        case wire::kVendRequestSecondForm: {
            if (parameters < 10)
                return invalid();
            std::uint32_t amount = Read32(frame, 6);
            if (m_readerBase != wire::kReaderReadyForVend || amount > m_readerFunds)
                return reply({ wire::kNak }); // refused
            m_readerFunds -= amount;
            return reply(Ack());
        }
        case wire::kVendCancel:
            m_readerCancelPending = true;
            return reply(Ack());
        case wire::kEndSession:
            m_readerBase = m_readerEnabled ? wire::kReaderEnabled : wire::kReaderInactive;
            m_readerFunds = 0;
            return reply(Ack());
        case wire::kStartSession:
            if (m_readerBase != wire::kReaderInactive && m_readerBase != wire::kReaderEnabled)
                return invalid();
            m_readerBase = wire::kReaderReadyForVend;
            m_readerFunds = kSessionFunds;
            return reply(Ack());
        default:
            return invalid();
        }
    }
    default:
        return invalid();
    }
}

} // namespace orvex
