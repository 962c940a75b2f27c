#include "sim/CSimDevice.h"

#include "link/CheckCode.h"
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
        return 0x11;
    if (m_readerCancelPending)
        return 0x14;
    return m_readerBase;
}

SimBytes CSimDevice::ReaderCommand(const SimBytes& frame, Clock::time_point now, bool& poll)
{
    const std::uint8_t command = frame[3];
    const std::size_t parameters = frame.size() - 6;
    auto reply = [&](const std::vector<std::uint8_t>& data) { return Frame(4, data); };
    auto invalid = [&] { return Frame(4, Invalid()); };
    bool busy = now < m_readerBusyUntil;
    switch (command) {
    case 0x31: // RESET
        m_readerBase = 1;
        m_readerEnabled = false;
        m_readerCancelPending = false;
        m_readerFunds = 0;
        m_readerBusyUntil = now + Scaled(kReaderResetMs);
        return reply(Ack());
    case 0x33: { // POLL CR
        poll = true;
        std::uint8_t state = ReaderState(now);
        if (state == 0x14)
            m_readerCancelPending = false; // the cancel has been seen
        return reply({ state, 0 });
    }
    case 0x11: // set-up: scale byte and currency
        if (parameters < 4 || busy || m_readerBase == 0x10)
            return invalid();
        return reply({ 0x00, frame[4] });
    case 0x15: { // CR IDENTIFICATION
        const char text[] = "ORVEX CR-10 1.3.2 CR0000004711";
        return reply(std::vector<std::uint8_t>(text, text + sizeof text - 1));
    }
    case 0x14: // ENABLE CR
        if (parameters < 1 || busy || m_readerBase == 0x10)
            return invalid();
        m_readerEnabled = frame[4] != 0;
        if (m_readerBase == 1 || m_readerBase == 5)
            m_readerBase = m_readerEnabled ? 5 : 1;
        return reply(Ack());
    case 0x13: {
        if (parameters < 1 || busy || m_readerBase == 0x10)
            return invalid();
        std::uint8_t sub = frame[4];
        switch (sub) {
        case 0x00: { // GET FUNDS
            std::vector<std::uint8_t> data { 0xE0 };
            if (m_readerBase == 7) {
                std::string currency = m_bills.empty() ? "USD" : m_bills[0].country;
                data.insert(data.end(), currency.begin(), currency.begin() + 3);
                Append32(data, m_readerFunds);
                data.push_back(2);
            }
            return reply(data);
        }
        case 0x01:
        case 0x02: { // VEND/REQUEST
            if (parameters < 10)
                return invalid();
            std::uint32_t amount = Read32(frame, 6);
            if (m_readerBase != 7 || amount > m_readerFunds)
                return reply({ kNakCode }); // refused
            m_readerFunds -= amount;
            return reply(Ack());
        }
        case 0x03: // VEND/CANCEL
            m_readerCancelPending = true;
            return reply(Ack());
        case 0x04: // END SESSION
            m_readerBase = m_readerEnabled ? 5 : 1;
            m_readerFunds = 0;
            return reply(Ack());
        case 0x10: // START SESSION
            if (m_readerBase != 1 && m_readerBase != 5)
                return invalid();
            m_readerBase = 7;
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
