#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace orvex {

// The observer of the protocol engine: told the log name of every command
// when its exchange is done, and given free-standing log lines.
class COutputInterface {
public:
    virtual ~COutputInterface() = default;

    virtual void OutputLine(std::string) { }
    virtual void OnCommandDone(std::string) { }

    // Set from the window's "Display communication data" box (1 = show the
    // raw record lines). Read on the engine's thread.
    std::atomic<std::uint8_t> m_rawFrames { 1 };
};

} // namespace orvex
