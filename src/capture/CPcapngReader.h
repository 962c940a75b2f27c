#pragma once

#include "capture/WireFrame.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// One packet of a capture: a frame, or (without bytes) a tool event whose
// text is the comment.
struct CapturedPacket {
    int interface { 0 };
    std::int64_t timeNs { 0 };
    WireDirection direction { WireDirection::Unknown };
    std::span<const std::uint8_t> frame;
    std::string_view comment;
    bool isEvent { false };
};

struct CaptureInterface {
    std::string name;
    std::uint16_t linkType { 0 };
    // Timestamp units: 10^-exponent s, or 2^-exponent s when binary.
    std::uint8_t exponent { 6 };
    bool binary { false };
};

// Reads a pcapng capture from memory, block by block, in either byte
// order. Stops at the first block that is cut short or does not hold
// together, and at an interface of another link type, with Error() saying
// what and Offset() where; everything before it has been returned.
class CPcapngReader {
public:
    enum class Step { Packet, End, Failed };

    explicit CPcapngReader(std::span<const std::uint8_t> bytes);

    Step Next(CapturedPacket& packet);
    const std::string& Error() const { return m_error; }
    // Byte offset of the block being read (of the failure after Failed).
    std::size_t Offset() const { return m_offset; }
    const std::vector<CaptureInterface>& Interfaces() const { return m_interfaces; }

private:
    std::uint16_t U16(std::size_t at) const;
    std::uint32_t U32(std::size_t at) const;
    Step Fail(std::string text);
    bool ReadSection(std::size_t length);
    bool ReadInterface(std::size_t length);
    // Step::Packet when the block held an ORVEX packet; End to go on.
    Step ReadEnhancedPacket(std::size_t length, CapturedPacket& packet);

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_offset { 0 };
    bool m_swap { false };
    bool m_sectionSeen { false };
    std::vector<CaptureInterface> m_interfaces;
    std::string m_error;
};

// The name of a link type for messages ("Ethernet", "Upper PDU", ...).
std::string LinkTypeName(std::uint16_t linkType);

// A capture file mapped into memory, unmapped when this ends.
class CCaptureFile {
public:
    CCaptureFile() = default;
    ~CCaptureFile();
    CCaptureFile(const CCaptureFile&) = delete;
    CCaptureFile& operator=(const CCaptureFile&) = delete;

    // False with Error() naming the file and the reason.
    bool Open(const std::string& path);
    std::span<const std::uint8_t> Bytes() const { return { m_data, m_size }; }
    const std::string& Error() const { return m_error; }

private:
    const std::uint8_t* m_data { nullptr };
    std::size_t m_size { 0 };
    void* m_mapping { nullptr };
    std::string m_error;
};

} // namespace orvex
