#include "capture/CPcapngReader.h"
#include "capture/PcapngFormat.h"

#include "capture/CPcapngWriter.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {

namespace {

using namespace pcapng;


std::uint16_t Swap16(std::uint16_t value) { return static_cast<std::uint16_t>((value >> 8) | (value << 8)); }
std::uint32_t Swap32(std::uint32_t value) { return __builtin_bswap32(value); }

std::int64_t ToNanoseconds(std::uint64_t units, const CaptureInterface& interface)
{
    constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(INT64_MAX);
    if (interface.binary) {
        const long double seconds = std::ldexp(static_cast<long double>(units), -static_cast<int>(interface.exponent));
        const long double nanoseconds = seconds * 1e9L;
        return nanoseconds >= static_cast<long double>(kLimit) ? INT64_MAX : static_cast<std::int64_t>(nanoseconds);
    }
    std::uint64_t value = units;
    for (int step = interface.exponent; step < 9; ++step) {
        if (value > kLimit / 10)
            return INT64_MAX;
        value *= 10;
    }
    for (int step = 9; step < interface.exponent && value > 0; ++step)
        value /= 10;
    return value > kLimit ? INT64_MAX : static_cast<std::int64_t>(value);
}

} // namespace

std::string LinkTypeName(std::uint16_t linkType)
{
    switch (linkType) {
    case 0: return "Null/Loopback";
    case 1: return "Ethernet";
    case 101: return "Raw IP";
    case 105: return "IEEE 802.11";
    case 113: return "Linux cooked";
    case 147: return "User 0";
    case 189: return "USB Linux";
    case 220: return "USB Linux mmapped";
    case 228: return "IPv4";
    case 229: return "IPv6";
    case 249: return "USBPcap";
    case kUpperPduLinkType: return "Upper PDU";
    case 276: return "Linux cooked v2";
    default: return "link type " + std::to_string(linkType);
    }
}

CPcapngReader::CPcapngReader(std::span<const std::uint8_t> bytes)
    : m_bytes(bytes)
{
}

std::uint16_t CPcapngReader::U16(std::size_t at) const
{
    std::uint16_t value;
    std::memcpy(&value, m_bytes.data() + at, 2);
    return m_swap ? Swap16(value) : value;
}

std::uint32_t CPcapngReader::U32(std::size_t at) const
{
    std::uint32_t value;
    std::memcpy(&value, m_bytes.data() + at, 4);
    return m_swap ? Swap32(value) : value;
}

CPcapngReader::Step CPcapngReader::Fail(std::string text)
{
    m_error = std::move(text);
    return Step::Failed;
}

CPcapngReader::Step CPcapngReader::Next(CapturedPacket& packet)
{
    if (!m_error.empty())
        return Step::Failed;
    for (;;) {
        const std::size_t left = m_bytes.size() - m_offset;
        if (left == 0) {
            if (!m_sectionSeen)
                return Fail("empty, not a pcapng capture");
            return Step::End;
        }
        if (left < 12)
            return Fail("truncated block (" + std::to_string(left) + " bytes left)");
        std::uint32_t type;
        std::memcpy(&type, m_bytes.data() + m_offset, 4);
        if (type == kSectionHeader) {
            std::uint32_t magic;
            std::memcpy(&magic, m_bytes.data() + m_offset + 8, 4);
            if (magic != kByteOrderMagic && magic != kSwappedMagic)
                return Fail("not a pcapng capture (no byte-order magic)");
            m_swap = magic == kSwappedMagic;
        } else if (!m_sectionSeen) {
            return Fail("not a pcapng capture (no section header)");
        }
        type = U32(m_offset);
        const std::size_t length = U32(m_offset + 4);
        if (length < 12 || length % 4 != 0)
            return Fail("corrupt block (length " + std::to_string(length) + ")");
        if (length > left)
            return Fail("truncated block (" + std::to_string(length) + " bytes announced, " + std::to_string(left) + " left)");
        if (U32(m_offset + length - 4) != length)
            return Fail("corrupt block (its two lengths differ)");
        Step step = Step::End;
        if (type == kSectionHeader) {
            if (!ReadSection(length))
                return Step::Failed;
        } else if (type == kInterfaceDescription) {
            if (!ReadInterface(length))
                return Step::Failed;
        } else if (type == kEnhancedPacket) {
            step = ReadEnhancedPacket(length, packet);
            if (step == Step::Failed)
                return step;
        } else if (type == kSimplePacket && length >= 16) {
            if (m_interfaces.empty())
                return Fail("packet before any interface");
            const std::size_t captured = U32(m_offset + 8);
            if (captured > length - 16)
                return Fail("corrupt packet (longer than its block)");
            packet = CapturedPacket {};
            packet.frame = m_bytes.subspan(m_offset + 12, captured);
            step = Step::Packet;
        }
        m_offset += length;
        if (step == Step::Packet)
            return step;
    }
}

bool CPcapngReader::ReadSection(std::size_t length)
{
    if (length < 28) {
        Fail("corrupt section header");
        return false;
    }
    m_sectionSeen = true;
    m_interfaces.clear();
    return true;
}

bool CPcapngReader::ReadInterface(std::size_t length)
{
    if (length < 20) {
        Fail("corrupt interface description");
        return false;
    }
    CaptureInterface interface;
    interface.linkType = U16(m_offset + 8);
    if (interface.linkType != kUpperPduLinkType) {
        Fail("link type " + std::to_string(interface.linkType) + " (" + LinkTypeName(interface.linkType)
            + ") is not an ORVEX capture; orvexctl reads link type 252 (Upper PDU)");
        return false;
    }
    std::size_t at = m_offset + 16;
    const std::size_t end = m_offset + length - 4;
    while (at + 4 <= end) {
        const std::uint16_t code = U16(at);
        const std::size_t size = U16(at + 2);
        if (code == 0 || at + 4 + size > end)
            break;
        const char* value = reinterpret_cast<const char*>(m_bytes.data() + at + 4);
        if (code == kIfName)
            interface.name.assign(value, strnlen(value, size));
        if (code == kIfTsResolution && size >= 1) {
            const std::uint8_t resolution = m_bytes[at + 4];
            interface.binary = (resolution & 0x80) != 0;
            interface.exponent = resolution & 0x7F;
        }
        at += 4 + ((size + 3) & ~std::size_t { 3 });
    }
    if (interface.name.empty())
        interface.name = "interface " + std::to_string(m_interfaces.size());
    m_interfaces.push_back(std::move(interface));
    return true;
}

CPcapngReader::Step CPcapngReader::ReadEnhancedPacket(std::size_t length, CapturedPacket& packet)
{
    if (length < 32)
        return Fail("corrupt packet block");
    const std::uint32_t interfaceId = U32(m_offset + 8);
    if (interfaceId >= m_interfaces.size())
        return Fail("packet of interface " + std::to_string(interfaceId) + ", which was never described");
    const CaptureInterface& interface = m_interfaces[interfaceId];
    const std::uint64_t units = (static_cast<std::uint64_t>(U32(m_offset + 12)) << 32) | U32(m_offset + 16);
    const std::size_t captured = U32(m_offset + 20);
    const std::size_t dataStart = m_offset + 28;
    const std::size_t end = m_offset + length - 4;
    if (captured > end - dataStart)
        return Fail("corrupt packet (longer than its block)");

    packet = CapturedPacket {};
    packet.interface = static_cast<int>(interfaceId);
    packet.timeNs = ToNanoseconds(units, interface);

    // The exported-PDU tags come first; the frame follows the end tag.
    std::size_t at = dataStart;
    const std::size_t dataEnd = dataStart + captured;
    bool ours = true;
    for (;;) {
        if (at + 4 > dataEnd)
            return Fail("corrupt packet (exported-PDU tags run past its end)");
        const std::uint16_t tag = static_cast<std::uint16_t>(m_bytes[at] << 8 | m_bytes[at + 1]);
        const std::size_t size = static_cast<std::size_t>(m_bytes[at + 2] << 8 | m_bytes[at + 3]);
        at += 4;
        if (tag == 0)
            break;
        if (at + size > dataEnd)
            return Fail("corrupt packet (exported-PDU tags run past its end)");
        if (tag == kExportedPduDissectorName) {
            const char* name = reinterpret_cast<const char*>(m_bytes.data() + at);
            ours = std::string_view(name, strnlen(name, size)) == kDissectorName;
        }
        at += size;
    }
    packet.frame = m_bytes.subspan(at, dataEnd - at);

    std::size_t option = dataStart + ((captured + 3) & ~std::size_t { 3 });
    while (option + 4 <= end) {
        const std::uint16_t code = U16(option);
        const std::size_t size = U16(option + 2);
        if (code == 0 || option + 4 + size > end)
            break;
        if (code == kOptionComment)
            packet.comment = std::string_view(reinterpret_cast<const char*>(m_bytes.data() + option + 4), size);
        if (code == kEpbFlags && size == 4) {
            const std::uint32_t flags = U32(option + 4) & 3;
            packet.direction = flags == 2 ? WireDirection::FromController
                : flags == 1                ? WireDirection::FromDevice
                                            : WireDirection::Unknown;
        }
        option += 4 + ((size + 3) & ~std::size_t { 3 });
    }
    packet.isEvent = packet.frame.empty();
    // Packets for another dissector share the file but not the bus.
    return ours ? Step::Packet : Step::End;
}

CCaptureFile::~CCaptureFile()
{
    if (m_mapping)
        ::munmap(m_mapping, m_size);
}

bool CCaptureFile::Open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        m_error = path + ": not a regular file";
        ::close(fd);
        return false;
    }
    m_size = static_cast<std::size_t>(info.st_size);
    if (m_size > 0) {
        m_mapping = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (m_mapping == MAP_FAILED) {
            m_mapping = nullptr;
            m_error = path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        m_data = static_cast<const std::uint8_t*>(m_mapping);
    }
    ::close(fd);
    return true;
}

} // namespace orvex
