#include "capture/CPortTap.h"

namespace orvex {

CPortTap::CPortTap(CExchangeAssembler& assembler, int port, BusRole role)
    : m_assembler(assembler)
    , m_port(port)
    , m_role(role)
{
}

void CPortTap::OnBytes(TapDirection direction, std::int64_t timeNs, std::span<const std::uint8_t> bytes)
{
    const bool fromController = (direction == TapDirection::Written) == (m_role == BusRole::Controller);
    std::lock_guard guard(m_mutex);
    m_assembler.Feed(m_port, fromController ? WireDirection::FromController : WireDirection::FromDevice, timeNs, bytes);
}

void CPortTap::OnLineEvent(std::int64_t timeNs, std::string_view text)
{
    std::lock_guard guard(m_mutex);
    m_assembler.Event(WireEvent { m_port, timeNs, std::string(text) });
}

void CPortTap::Finish()
{
    std::lock_guard guard(m_mutex);
    m_assembler.Finish();
}

} // namespace orvex
