#pragma once

#include "capture/CJsonSink.h"
#include "decode/CLogSink.h"

#include <mutex>
#include <ostream>

namespace orvex {

// The log list is standard output: one line per log line, flushed at once
// so that a stopped run leaves whole lines behind (or left to the stream's
// buffer when a capture file is decoded as fast as it goes).
class CStreamSink : public CLogSink {
public:
    explicit CStreamSink(std::ostream& out, LineFlush flush = LineFlush::EachLine)
        : m_out(out)
        , m_flush(flush)
    {
    }
    void AddLine(std::string_view line) override
    {
        std::lock_guard lock(m_mutex);
        m_out << line << '\n';
        if (m_flush == LineFlush::EachLine)
            m_out.flush();
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }

private:
    std::mutex m_mutex; // guards m_out: the engine's thread writes too
    std::ostream& m_out;
    LineFlush m_flush;
};

} // namespace orvex
