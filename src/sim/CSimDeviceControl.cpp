#include "sim/CSimDevice.h"

#include "sim/SimFields.h"
#include "sim/SimTimings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvex {

using namespace simfields;

// ---- Control -----------------------------------------------------------

std::string CSimDevice::Describe(int type) const
{
    std::string text = "bill type " + std::to_string(type);
    if (type == kSimCouponType)
        return text + " (barcode coupon)";
    if (type >= 0 && type < static_cast<int>(m_bills.size()) && m_bills[static_cast<std::size_t>(type)].digits != 0)
        return text + " (" + m_bills[static_cast<std::size_t>(type)].ValueText() + " " + m_bills[static_cast<std::size_t>(type)].country + ")";
    return text + " (not in the bill table)";
}

std::string CSimDevice::StateName(std::uint8_t state) const
{
    std::string_view name = wire::PollStateName(state);
    if (!name.empty())
        return std::string(name);
    char text[8];
    std::snprintf(text, sizeof text, "%02X", state);
    return text;
}

std::string CSimDevice::InsertBill(int type, const std::string& barcode, Clock::time_point now)
{
    const char* word = type == kSimCouponType && !barcode.empty() ? "insert-barcode" : "insert";
    std::string prefix = std::string("error: ") + word + ": ";
    if (m_ledger.inChannel > 0)
        return prefix + "a bill is already in the acceptor";
    if (!AtRest() || m_enableMask == 0 || Frozen(now))
        return prefix + "the unit takes no bill now (" + StateName(CurrentPoll(now).state) + ")";
    ++m_ledger.inserted;
    m_ledger.inChannel = 1;
    Count(m_statistics.inserted);
    m_channelType = type;
    m_channelBarcode = barcode;
    m_rejectReason = 0;
    bool known = type == kSimCouponType || (type < static_cast<int>(m_bills.size()) && m_bills[static_cast<std::size_t>(type)].digits != 0);
    if (!known) {
        m_rejectReason = wire::kIdentificationError;
        Count(m_statistics.unrecognized);
    } else if (type == kSimCouponType && barcode.empty()) {
        m_rejectReason = wire::kUnrecognizedBarcode;
    } else if (type == kSimCouponType && m_barLength != 0 && barcode.size() != m_barLength) {
        m_rejectReason = wire::kInvalidBarcodeLength;
    } else if ((m_enableMask & (1u << type)) == 0) {
        m_rejectReason = wire::kDenominationInhibited;
    }
    m_toEscrow = (m_escrowMask & (1u << type)) != 0;
    Enter(SimPhase::Accepting, now);
    std::string outcome = m_rejectReason != 0 ? "it will be rejected" : m_toEscrow ? "it will wait in escrow" : "it will be stacked";
    return "ok: " + Describe(type) + " accepting, " + outcome;
}

std::string CSimDevice::Control(const SimControlCommand& command, Clock::time_point now)
{
    Settle(now);
    switch (command.verb) {
    case SimControlVerb::Insert:
        return InsertBill(command.number, {}, now);
    case SimControlVerb::InsertBarcode:
        return InsertBill(kSimCouponType, command.text, now);
    case SimControlVerb::Auto:
        m_autoSeconds = command.seconds;
        m_nextAuto = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(command.seconds));
        if (command.seconds <= 0)
            return "ok: automatic bills off";
        {
            char text[64];
            std::snprintf(text, sizeof text, "ok: a random enabled bill every %g s", command.seconds);
            return text;
        }
    case SimControlVerb::Take: {
        if (m_ledger.inDispenser == 0)
            return "error: take: the dispenser is empty";
        long bills = m_ledger.inDispenser;
        for (auto& waiting : m_dispenser) {
            m_ledger.dispensed += waiting;
            waiting = 0;
        }
        m_ledger.inDispenser = 0;
        m_taken = true;
        Settle(now);
        return "ok: " + std::to_string(bills) + " bills taken";
    }
    case SimControlVerb::Jam: {
        if (m_phase == SimPhase::PowerUp)
            return "error: jam: the unit is powering up";
        int code = command.number;
        if (code == kSimJamAuto)
            code = m_phase == SimPhase::Stacking ? kSimJamStacker : kSimJamAcceptor;
        m_failure = static_cast<std::uint8_t>(code);
        Count(m_statistics.failures[code == kSimJamStacker ? kJamDropCassette : kJamInputAligning]);
        return "ok: " + StateName(m_failure) + " until RESET";
    }
    case SimControlVerb::BoxRemove:
        if (m_boxRemoved)
            return "error: box-remove: the drop box is already out";
        m_boxRemoved = true;
        return "ok: drop box removed";
    case SimControlVerb::BoxInsert:
        if (!m_boxRemoved)
            return "error: box-insert: the drop box is already in";
        m_boxRemoved = false;
        return "ok: drop box inserted";
    case SimControlVerb::PowerCut: {
        std::string was = StateName(CurrentPoll(now).state);
        Interrupt(now, true);
        m_enableMask = 0;
        m_escrowMask = 0;
        m_busyUntil = {};
        m_testCode = 0;
        m_readerBase = wire::kReaderPowerUp;
        m_readerEnabled = false;
        m_readerCancelPending = false;
        m_readerFunds = 0;
        m_readerBusyUntil = {};
        Enter(SimPhase::PowerUp, now);
        char record[8];
        std::snprintf(record, sizeof record, "%02X", m_recovery.empty() ? 0 : m_recovery[0]);
        return "ok: power cut while " + was + ", now " + StateName(m_powerUpCode) + ", recovery record " + record;
    }
    case SimControlVerb::Silent:
        m_silent = command.on;
        return command.on ? "ok: silent" : "ok: answering again";
    case SimControlVerb::Corrupt:
        m_corruptNext = true;
        return "ok: the next reply gets a wrong check code";
    case SimControlVerb::Garbage:
        m_garbageNext = true;
        return "ok: the next reply is noise";
    case SimControlVerb::Nak:
        m_nakNext = true;
        return "ok: the next command gets NAK";
    case SimControlVerb::Busy:
        m_busyUntil = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(command.seconds));
        return command.seconds > 0 ? "ok: busy" : "ok: not busy";
    case SimControlVerb::Fail:
        if (m_phase == SimPhase::PowerUp)
            return "error: fail: the unit is powering up";
        m_failure = static_cast<std::uint8_t>(command.number);
        m_failureDetail[0] = static_cast<std::uint8_t>(command.second >= 0 ? command.second : wire::kStackerMotorFailure);
        m_failureDetail[1] = static_cast<std::uint8_t>(command.third >= 0 ? command.third : 0x00);
        if (m_failure == wire::kFailure) {
            switch (m_failureDetail[0]) {
            case wire::kStackerMotorFailure: Count(m_statistics.failures[kFailureStacking]); break;
            case wire::kTransportMotorSpeed:
            case wire::kTransportMotorFailure: Count(m_statistics.failures[kFailureTransport]); break;
            case wire::kAligningMotorFailure: Count(m_statistics.failures[kFailureAligning]); break;
            case wire::kOpticalSensorsFailure: Count(m_statistics.failures[kFailureOptical]); break;
            case wire::kMagneticSensorsFailure: Count(m_statistics.failures[kFailureMagnetic]); break;
            default: break;
            }
        }
        return "ok: " + StateName(m_failure) + " until RESET";
    case SimControlVerb::State:
        return StateLine(now);
    case SimControlVerb::Help:
        return "ok: insert TYPE, insert-barcode TEXT, auto SECONDS, take, jam [acceptor|stacker], box-remove, box-insert, "
               "power-cut, silent on|off, corrupt next, garbage next, nak next, busy SECONDS, fail CODE [Z2 [Z3]], state, quit";
    case SimControlVerb::Quit:
        return "ok: quit";
    }
    return "error: unknown command";
}

void CSimDevice::Advance(Clock::time_point now)
{
    Settle(now);
    if (m_autoSeconds <= 0 || now < m_nextAuto)
        return;
    m_nextAuto = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_autoSeconds));
    if (!AtRest() || m_enableMask == 0 || Frozen(now) || m_ledger.inChannel > 0)
        return;
    std::vector<int> enabled;
    for (int type = 0; type < kSimCouponType && type < static_cast<int>(m_bills.size()); ++type)
        if (m_bills[static_cast<std::size_t>(type)].digits != 0 && (m_enableMask & (1u << type)) != 0)
            enabled.push_back(type);
    if (enabled.empty())
        return;
    std::uniform_int_distribution<std::size_t> pick(0, enabled.size() - 1);
    InsertBill(enabled[pick(m_random)], {}, now);
}

SimSnapshot CSimDevice::Snapshot(Clock::time_point now)
{
    Settle(now);
    SimSnapshot snapshot;
    PollState poll = CurrentPoll(now);
    snapshot.state = poll.state;
    snapshot.subState = poll.detail.empty() ? 0 : poll.detail[0];
    snapshot.stateName = StateName(poll.state);
    snapshot.ledger = m_ledger;
    snapshot.enableMask = m_enableMask;
    snapshot.escrowMask = m_escrowMask;
    snapshot.boxRemoved = m_boxRemoved;
    snapshot.silent = m_silent;
    snapshot.recoveryState = m_recovery.empty() ? 0 : m_recovery[0];
    snapshot.readerState = m_options.cardReader ? ReaderState(now) : 0;
    snapshot.framesReceived = m_framesReceived;
    snapshot.exchangesAnswered = m_exchangesAnswered;
    snapshot.framesSkipped = m_framesSkipped;
    return snapshot;
}

std::string CSimDevice::StateLine(Clock::time_point now)
{
    SimSnapshot snapshot = Snapshot(now);
    const SimLedger& ledger = snapshot.ledger;
    char head[96];
    std::snprintf(head, sizeof head, "ok: %s enable=%06X escrow=%06X", snapshot.stateName.c_str(), snapshot.enableMask,
        snapshot.escrowMask);
    std::string line = head;
    if (m_cyclor) {
        line += " cassettes=";
        for (int index = 0; index < kSimCassettes; ++index) {
            const auto& cassette = ledger.cassettes[static_cast<std::size_t>(index)];
            if (index > 0)
                line += ",";
            line += std::to_string(index + 1) + ":t" + std::to_string(cassette.type) + "=" + std::to_string(cassette.count) + "/"
                + std::to_string(cassette.capacity) + (cassette.full ? "F" : "");
        }
    }
    line += " dropbox=" + std::to_string(ledger.dropBox) + " returned=" + std::to_string(ledger.returned)
        + " dispensed=" + std::to_string(ledger.dispensed) + " dispenser=" + std::to_string(ledger.inDispenser)
        + " channel=" + std::to_string(ledger.inChannel) + " inserted=" + std::to_string(ledger.inserted)
        + " initial=" + std::to_string(ledger.initial) + " unloaded=" + std::to_string(ledger.unloaded)
        + " answered=" + std::to_string(snapshot.exchangesAnswered) + " balanced=" + (ledger.Balanced() ? "yes" : "NO");
    if (snapshot.boxRemoved)
        line += " box=out";
    if (snapshot.silent)
        line += " silent";
    return line;
}

} // namespace orvex
