#pragma once

#include "link/CCommand.h"
#include "link/CheckCode.h"

#include <array>
#include <cstdint>

namespace orvex {

// Composes one command frame in a zero-filled 256-byte buffer: sync,
// address placeholder, length, command code, then the parameters high
// byte first. The address and check code are filled in at send time.
class CFrameBuilder {
public:
    // The largest short frame leaves 249 parameter bytes.
    static constexpr int kMaximumParameters = 255 - 6;

    explicit CFrameBuilder(std::uint8_t code)
    {
        m_bytes[0] = kSync;
        m_bytes[3] = code;
    }

    CFrameBuilder& Add(std::uint8_t value)
    {
        // Past the short form's limit nothing more is taken; callers check
        // their counts against kMaximumParameters first.
        if (m_parameters < kMaximumParameters)
            m_bytes[static_cast<std::size_t>(4 + m_parameters++)] = value;
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

    int Length() const { return 6 + m_parameters; }

    CCommand Frame()
    {
        m_bytes[2] = static_cast<std::uint8_t>(Length());
        return CCommand(m_bytes.data(), 0, Length());
    }

private:
    std::array<std::uint8_t, 256> m_bytes {};
    int m_parameters { 0 };
};

} // namespace orvex
