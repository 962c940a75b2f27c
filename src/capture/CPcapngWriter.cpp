#include "capture/CPcapngWriter.h"
#include "capture/PcapngFormat.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orvex {

namespace {

using namespace pcapng;

// Direction bits of the packet flags.
constexpr std::uint32_t kInbound = 1;
constexpr std::uint32_t kOutbound = 2;

// Blocks are written in the machine's byte order; the byte-order magic
// tells readers which it is.
class CBlock {
public:
    CBlock(std::vector<std::uint8_t>& buffer, std::uint32_t type)
        : m_buffer(buffer)
        , m_start(buffer.size())
    {
        U32(type);
        U32(0); // total length, filled in by End
    }
    void U16(std::uint16_t value) { Raw(&value, 2); }
    void U32(std::uint32_t value) { Raw(&value, 4); }
    void U64(std::uint64_t value) { Raw(&value, 8); }
    void Raw(const void* data, std::size_t count)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        m_buffer.insert(m_buffer.end(), bytes, bytes + count);
    }
    void Pad()
    {
        while ((m_buffer.size() - m_start) % 4 != 0)
            m_buffer.push_back(0);
    }
    void Option(std::uint16_t code, const void* data, std::size_t count)
    {
        U16(code);
        U16(static_cast<std::uint16_t>(count));
        Raw(data, count);
        Pad();
    }
    void TextOption(std::uint16_t code, std::string_view text)
    {
        // An option holds at most 65535 bytes; a longer comment is cut.
        Option(code, text.data(), text.size() > 65532 ? 65532 : text.size());
    }
    void End()
    {
        const std::uint32_t length = static_cast<std::uint32_t>(m_buffer.size() - m_start + 4);
        U32(length);
        std::memcpy(m_buffer.data() + m_start + 4, &length, 4);
    }

private:
    std::vector<std::uint8_t>& m_buffer;
    std::size_t m_start;
};

} // namespace

CPcapngWriter::~CPcapngWriter() { Close(); }

bool CPcapngWriter::Open(const std::string& path, std::string_view application)
{
    Close();
    m_path = path;
    m_error.clear();
    m_interfaces.clear();
    m_buffer.clear();
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_error = path + ": " + std::strerror(errno);
        return false;
    }
    CBlock block(m_buffer, kSectionHeader);
    block.U32(kByteOrderMagic);
    block.U16(1);
    block.U16(0);
    block.U64(~std::uint64_t { 0 }); // section length not given
    block.TextOption(kShbUserApplication, application);
    block.Option(kOptionEnd, nullptr, 0);
    block.End();
    return Flush();
}

int CPcapngWriter::Interface(std::string_view name)
{
    for (std::size_t index = 0; index < m_interfaces.size(); ++index) {
        if (m_interfaces[index] == name)
            return static_cast<int>(index);
    }
    m_interfaces.emplace_back(name);
    CBlock block(m_buffer, kInterfaceDescription);
    block.U16(kUpperPduLinkType);
    block.U16(0);
    block.U32(0); // no snapshot limit
    block.TextOption(kIfName, name);
    const std::uint8_t nanoseconds = 9;
    block.Option(kIfTsResolution, &nanoseconds, 1);
    block.Option(kOptionEnd, nullptr, 0);
    block.End();
    return static_cast<int>(m_interfaces.size() - 1);
}

void CPcapngWriter::AddFrame(int interface, const WireFrame& frame, std::string_view comment)
{
    AddPacket(interface, frame.timeNs, frame.direction, frame.bytes.data(), frame.bytes.size(), comment);
}

void CPcapngWriter::AddEvent(int interface, std::int64_t timeNs, std::string_view text)
{
    AddPacket(interface, timeNs, WireDirection::Unknown, nullptr, 0, text);
}

void CPcapngWriter::AddPacket(int interface, std::int64_t timeNs, WireDirection direction, const std::uint8_t* bytes,
    std::size_t count, std::string_view comment)
{
    // Exported-PDU tags: the dissector's name, padded to four bytes, then the end tag.
    std::uint8_t tags[16] {};
    tags[1] = kExportedPduDissectorName;
    tags[3] = 8;
    std::memcpy(tags + 4, kDissectorName.data(), kDissectorName.size());
    tags[12] = kExportedPduEnd >> 8;
    tags[13] = kExportedPduEnd & 0xFF;
    const std::uint32_t captured = static_cast<std::uint32_t>(sizeof tags + count);

    const std::uint64_t time = timeNs < 0 ? 0 : static_cast<std::uint64_t>(timeNs);
    CBlock block(m_buffer, kEnhancedPacket);
    block.U32(static_cast<std::uint32_t>(interface));
    block.U32(static_cast<std::uint32_t>(time >> 32));
    block.U32(static_cast<std::uint32_t>(time));
    block.U32(captured);
    block.U32(captured);
    block.Raw(tags, sizeof tags);
    if (count > 0)
        block.Raw(bytes, count);
    block.Pad();
    if (!comment.empty())
        block.TextOption(kOptionComment, comment);
    if (direction != WireDirection::Unknown) {
        const std::uint32_t flags = direction == WireDirection::FromController ? kOutbound : kInbound;
        block.Option(kEpbFlags, &flags, 4);
    }
    block.Option(kOptionEnd, nullptr, 0);
    block.End();
}

bool CPcapngWriter::Flush()
{
    if (m_fd < 0) {
        m_buffer.clear();
        return false;
    }
    std::size_t done = 0;
    while (done < m_buffer.size()) {
        const ssize_t written = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (m_error.empty())
                m_error = m_path + ": " + std::strerror(written < 0 ? errno : EIO);
            m_buffer.clear();
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    m_buffer.clear();
    return m_error.empty();
}

void CPcapngWriter::Close()
{
    if (m_fd < 0)
        return;
    Flush();
    if (::close(m_fd) != 0 && m_error.empty())
        m_error = m_path + ": " + std::strerror(errno);
    m_fd = -1;
}

} // namespace orvex
