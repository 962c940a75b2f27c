#pragma once

#include "link/CCommand.h"
#include "link/Frame.h"

#include <cstdint>
#include <vector>

namespace orvex {

// Composes one command frame: the command code, then the parameters high
// byte first, laid out by the link's frame code. The address and check
// code are filled in at send time.
class CFrameBuilder {
public:
    // The largest short frame leaves 249 parameter bytes.
    static constexpr int kMaximumParameters = kLongestShortFrame - kShortestFrame;

    explicit CFrameBuilder(std::uint8_t code)
        : m_code(code)
    {
    }

    CFrameBuilder& Add(std::uint8_t value)
    {
        // Past the short form's limit nothing more is taken; callers check
        // their counts against kMaximumParameters first.
        if (static_cast<int>(m_parameters.size()) < kMaximumParameters)
            m_parameters.push_back(value);
        return *this;
    }

    CFrameBuilder& Add24(std::uint32_t value)
    {
        return Add(static_cast<std::uint8_t>(value >> 16)).Add(static_cast<std::uint8_t>(value >> 8)).Add(static_cast<std::uint8_t>(value));
    }

    CFrameBuilder& Add32(std::uint32_t value)
    {
        return Add(static_cast<std::uint8_t>(value >> 24)).Add24(value);
    }

    int Length() const { return kShortestFrame + static_cast<int>(m_parameters.size()); }

    CCommand Frame() const
    {
        std::vector<std::uint8_t> frame = BuildCommandFrame(0, m_code, m_parameters);
        return CCommand(frame.data(), 0, static_cast<int>(frame.size()));
    }

private:
    std::uint8_t m_code;
    std::vector<std::uint8_t> m_parameters;
};

} // namespace orvex
