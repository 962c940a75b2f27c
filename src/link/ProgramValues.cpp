#include "link/ProgramValues.h"

namespace orvex {

CProgramValues& CProgramValues::Instance()
{
    static CProgramValues values;
    return values;
}

std::string CProgramValues::SerialMode() const
{
    std::lock_guard lock(m_modeMutex);
    return m_serialMode;
}

void CProgramValues::SetSerialMode(std::string mode)
{
    std::lock_guard lock(m_modeMutex);
    m_serialMode = std::move(mode);
}

} // namespace orvex
