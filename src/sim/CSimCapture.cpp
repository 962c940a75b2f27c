#include "sim/CSimCapture.h"

#include "Version.h"

namespace orvex {

CSimCapture::CSimCapture()
    : m_sink(m_writer, m_ports)
    , m_decoder({ &m_sink }, WireLogOptions {})
    , m_assembler(m_decoder)
    , m_tap(m_assembler, 0, BusRole::Device)
{
}

bool CSimCapture::Open(const std::string& path, const std::string& portName, std::string& error)
{
    m_ports = { portName };
    if (!m_writer.Open(path, "orvex-sim " ORVEX_VERSION)) {
        error = m_writer.Error();
        return false;
    }
    return true;
}

std::string CSimCapture::Close()
{
    m_tap.Finish();
    m_writer.Close();
    return m_writer.Error();
}

} // namespace orvex
