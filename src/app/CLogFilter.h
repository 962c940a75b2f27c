#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Which lines of the exchange log are shown. The filter is fed the lines
// in order, once each, and keeps only what it needs to group lines into
// exchanges, so that filtering ten million lines is one pass over them.
class CLogFilter {
public:
    enum class Kind {
        All,         // every line
        Errors,      // failure lines, each after its exchange's header
        BillEvents,  // bill events, each after its exchange's header
        LogName,     // whole exchanges of one command name
    };

    CLogFilter() = default;
    CLogFilter(Kind kind, std::string name = {});

    Kind GetKind() const { return m_kind; }
    const std::string& Name() const { return m_name; }
    bool ShowsAll() const { return m_kind == Kind::All; }

    // Line `index` of the log, in order from 0: adds the indices of the
    // lines to show to `rows` (the line's exchange header first, where the
    // header was held back).
    void Feed(std::size_t index, std::string_view line, std::vector<std::uint32_t>& rows);
    // The log was emptied.
    void Restart();

private:
    Kind m_kind { Kind::All };
    std::string m_name;
    // The header of the exchange being fed, and whether it is shown yet.
    std::int64_t m_header { -1 };
    bool m_headerShown { false };
    bool m_inNamedExchange { false };
};

} // namespace orvex
