#pragma once

#include <string_view>

namespace orvex {

// Where the exchange log writes: the window's log list and status box, the
// command-line front end's output, or a store in tests. Called from the
// window's thread and from the VMC engine's thread (OutputLine takes no
// lock), so an implementation must be safe to call from two threads and
// must not block for long.
class CLogSink {
public:
    virtual ~CLogSink() = default;

    // Appends one line to the log list.
    virtual void AddLine(std::string_view line) = 0;
    // Selects (scrolls to) the last line of the log list.
    virtual void SelectLastLine() = 0;
    // Replaces the text of the single-line status box.
    virtual void SetStatusText(std::string_view text) = 0;
};

} // namespace orvex
