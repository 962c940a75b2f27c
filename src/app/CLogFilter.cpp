#include "app/CLogFilter.h"

#include "app/LogLineKind.h"

namespace orvex {

CLogFilter::CLogFilter(Kind kind, std::string name)
    : m_kind(kind)
    , m_name(std::move(name))
{
}

void CLogFilter::Restart()
{
    m_header = -1;
    m_headerShown = false;
    m_inNamedExchange = false;
}

void CLogFilter::Feed(std::size_t index, std::string_view line, std::vector<std::uint32_t>& rows)
{
    const auto row = static_cast<std::uint32_t>(index);
    if (m_kind == Kind::All) {
        rows.push_back(row);
        return;
    }
    // The cheap tests first: most lines are decided by their first bytes.
    if (line.size() >= 3 && line[0] == '-' && line[1] == '>' && line[2] != ' ' && line[2] != '-') {
        std::string_view name = HeaderName(line);
        if (!name.empty()) {
            m_header = static_cast<std::int64_t>(index);
            m_headerShown = false;
            if (m_kind == Kind::LogName) {
                m_inNamedExchange = name == m_name;
                if (m_inNamedExchange)
                    rows.push_back(row);
            }
            return;
        }
    }
    if (m_kind == Kind::LogName) {
        if (m_inNamedExchange) {
            rows.push_back(row);
            if (line.size() >= 3 && line[0] == '-' && line[1] == '-' && line[2] == '-')
                m_inNamedExchange = false;
        }
        return;
    }
    LogLineKind kind = ClassifyLogLine(line);
    if (kind == LogLineKind::Separator) {
        m_header = -1;
        return;
    }
    const bool wanted = m_kind == Kind::Errors ? kind == LogLineKind::Failure : kind == LogLineKind::BillEvent;
    if (!wanted)
        return;
    if (m_header >= 0 && !m_headerShown) {
        rows.push_back(static_cast<std::uint32_t>(m_header));
        m_headerShown = true;
    }
    rows.push_back(row);
}

} // namespace orvex
