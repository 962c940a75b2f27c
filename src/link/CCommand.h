#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace orvex {

// One frame in memory, or the result code that stands in its place.
// A non-zero status never holds bytes.
class CCommand {
public:
    CCommand() = default;
    CCommand(const std::uint8_t* frame, int status, int length = 0);
    CCommand(const CCommand& other);
    CCommand& operator=(const CCommand& other);
    CCommand(CCommand&& other) noexcept;
    CCommand& operator=(CCommand&& other) noexcept;
    virtual ~CCommand();

    void Assign(const std::uint8_t* frame, int status);

    int GetStatus() const { return m_status; }
    void SetStatus(int status) { m_status = status; }
    const std::uint8_t* GetBytes() const { return m_bytes.get(); }
    std::uint8_t* GetBytes() { return m_bytes.get(); }
    int GetLength() const { return m_length; }
    void SetByte(std::uint8_t value, int position);
    std::string HexText() const;

private:
    void Take(const std::uint8_t* frame, int status, int length);

    int m_status { 0 };
    std::unique_ptr<std::uint8_t[]> m_bytes;
    int m_length { 0 };
};

// "%02X " per byte.
std::string HexText(const std::uint8_t* bytes, int count);
// The same, added to the end of `text`.
void AppendHexText(std::string& text, const std::uint8_t* bytes, int count);

} // namespace orvex
