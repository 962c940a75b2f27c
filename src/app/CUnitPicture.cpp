#include "app/CUnitPicture.h"

#include "decode/FrameBytes.h"
#include "link/WireVocabulary.h"

#include <cstdio>

namespace orvex {

namespace {

bool Answered(std::span<const std::string> record)
{
    return record.size() >= 2 && HasByteGroup(record[1]);
}

} // namespace

void CUnitPicture::OnExchange(std::string_view name, std::span<const std::string> record, Clock::time_point)
{
    if (!Answered(record))
        return;
    if (name == "GET CASSETTE STATUS") {
        OnCassetteStatus(record);
    } else if (name == "POLL") {
        OnPoll(record);
    } else if (name == "DISPENSE") {
        CFrameBytes sent;
        sent.Collect(record, "->", kReplyCapacity);
        std::lock_guard guard(m_mutex);
        m_pendingDispense.clear();
        // Pairs of bill type and count after the command code.
        for (int offset = 4; offset + 1 < sent.DataEnd(); offset += 2) {
            int count = sent.Byte(offset + 1);
            if (count != 0 && count != wire::kNoCount)
                m_pendingDispense.push_back({ sent.Byte(offset) & wire::kBillTypeMask, count });
        }
    } else if (name == "UNLOAD") {
        CFrameBytes sent;
        sent.Collect(record, "->", kReplyCapacity);
        std::lock_guard guard(m_mutex);
        m_pendingUnloadCassette = sent.Byte(4) - 1;
        m_pendingUnloadCount = sent.Byte(5);
    } else if (name == "EMPTY DISPENSER") {
        std::lock_guard guard(m_mutex);
        m_snapshot.dropBox += m_snapshot.dispenser;
        m_snapshot.dispenser = 0;
        m_pendingDispense.clear();
    }
}

void CUnitPicture::OnCassetteStatus(std::span<const std::string> record)
{
    CFrameBytes reply;
    reply.Collect(record, "<-", kReplyCapacity);
    std::lock_guard guard(m_mutex);
    for (int i = 0; i < kShownCassettes; ++i) {
        int offset = 3 + 2 * i;
        if (offset + 1 >= reply.DataEnd())
            break;
        std::uint8_t flags = reply.Byte(offset);
        Cassette& cassette = m_snapshot.cassettes[static_cast<std::size_t>(i)];
        cassette.known = true;
        cassette.present = (flags & wire::kCassettePresent) != 0;
        cassette.full = (flags & wire::kCassetteFull) != 0;
        cassette.billType = flags & wire::kBillTypeMask;
        cassette.escrow = cassette.billType == wire::kEscrowBillType;
        cassette.assigned = cassette.billType < kBillTypes;
        cassette.count = reply.Byte(offset + 1);
        if (cassette.full && cassette.count > 0)
            cassette.capacity = cassette.count;
        Describe(cassette);
    }
}

void CUnitPicture::OnPoll(std::span<const std::string> record)
{
    const std::uint8_t address = LineByte(record[0], 1);
    const std::uint8_t state = LineByte(record[1], 3);
    const std::uint8_t second = LineByte(record[1], 4);
    const std::uint8_t third = LineByte(record[1], 5);

    std::lock_guard guard(m_mutex);
    Snapshot& unit = m_snapshot;
    switch (state) {
    case wire::kBillStacked: {
        // Each stacked bill is told once: the poll's ACK takes the event.
        ++unit.billsIn;
        unit.moneyIn += Value(second & wire::kBillTypeMask);
        if (address == wire::kCyclorAddress) {
            if (third == 0) {
                ++unit.dropBox;
            } else if (third <= kShownCassettes) {
                Cassette& cassette = unit.cassettes[third - 1u];
                if (cassette.known)
                    ++cassette.count;
            }
        }
        break;
    }
    case wire::kDispensing:
        if (second == wire::kWaitingForRemoval && !m_pendingDispense.empty()) {
            int waiting = 0;
            for (const Request& request : m_pendingDispense)
                waiting += request.count;
            unit.dispenser = waiting;
        }
        break;
    case wire::kDispensed:
        // Paid out: the request becomes the session's money out, and the
        // cassettes of its bill types lose the bills until their next status.
        for (const Request& request : m_pendingDispense) {
            unit.billsOut += request.count;
            unit.moneyOut += Value(request.billType) * request.count;
            if (Cassette* cassette = CassetteOfType(request.billType))
                cassette->count = cassette->count > request.count ? cassette->count - request.count : 0;
        }
        m_pendingDispense.clear();
        unit.dispenser = 0;
        break;
    case wire::kInvalidBillNumber:
        m_pendingDispense.clear();
        break;
    case wire::kUnloaded:
        if (m_pendingUnloadCassette >= 0) {
            int moved = second != 0 ? second : m_pendingUnloadCount;
            unit.dropBox += moved;
            if (m_pendingUnloadCassette < kShownCassettes) {
                Cassette& cassette = unit.cassettes[static_cast<std::size_t>(m_pendingUnloadCassette)];
                cassette.count = cassette.count > moved ? cassette.count - moved : 0;
            }
            m_pendingUnloadCassette = -1;
        }
        break;
    default:
        break;
    }
}

void CUnitPicture::SetBillTable(const std::array<BillTypeEntry, kBillTypes>& table)
{
    std::lock_guard guard(m_mutex);
    m_billTable = table;
    m_snapshot.currency.clear();
    for (const BillTypeEntry& entry : table) {
        if (entry.value != 0) {
            m_snapshot.currency = entry.country;
            break;
        }
    }
    for (Cassette& cassette : m_snapshot.cassettes)
        Describe(cassette);
}

void CUnitPicture::SetCapacity(int cassette, int capacity)
{
    if (cassette < 0 || cassette >= kShownCassettes)
        return;
    std::lock_guard guard(m_mutex);
    m_snapshot.cassettes[static_cast<std::size_t>(cassette)].capacity = capacity > 0 ? capacity : 0;
}

CUnitPicture::Snapshot CUnitPicture::Take() const
{
    std::lock_guard guard(m_mutex);
    return m_snapshot;
}

void CUnitPicture::ResetTotals()
{
    std::lock_guard guard(m_mutex);
    m_snapshot.billsIn = 0;
    m_snapshot.moneyIn = 0;
    m_snapshot.billsOut = 0;
    m_snapshot.moneyOut = 0;
    m_snapshot.dropBox = 0;
}

double CUnitPicture::Value(int billType) const
{
    return billType >= 0 && billType < kBillTypes ? m_billTable[static_cast<std::size_t>(billType)].value : 0.0;
}

CUnitPicture::Cassette* CUnitPicture::CassetteOfType(int billType)
{
    for (Cassette& cassette : m_snapshot.cassettes) {
        if (cassette.known && cassette.assigned && cassette.billType == billType)
            return &cassette;
    }
    return nullptr;
}

void CUnitPicture::Describe(Cassette& cassette) const
{
    if (!cassette.known)
        return;
    if (cassette.escrow)
        cassette.billText = "escrow";
    else if (!cassette.assigned)
        cassette.billText = "not assigned";
    else
        cassette.billText = BillText(m_billTable, cassette.billType);
    cassette.status = !cassette.present                  ? "not present"
        : cassette.billType == wire::kUnassignedBillType          ? "not assigned"
        : cassette.full                                  ? "FULL"
                                                         : "OK";
}

std::string CUnitPicture::BillText(const std::array<BillTypeEntry, kBillTypes>& table, int billType)
{
    if (billType < 0 || billType >= kBillTypes || table[static_cast<std::size_t>(billType)].value == 0)
        return "type " + std::to_string(billType);
    const BillTypeEntry& entry = table[static_cast<std::size_t>(billType)];
    return MoneyText(entry.value, entry.country);
}

std::string CUnitPicture::MoneyText(double amount, const std::string& currency)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", amount);
    return currency.empty() ? std::string(text) : std::string(text) + " " + currency;
}

} // namespace orvex
