#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace orvex {

// The log's lines, each stored once: the text packed into large blocks and
// one 8-byte start per line, the starts themselves in blocks, so that
// growing never copies what is stored. A line never spans two text blocks:
// its end is the next line's start in the same block, or the block's
// filled end. Not thread-safe; the model guards it.
class CLogLineStore {
public:
    CLogLineStore() = default;
    ~CLogLineStore();
    CLogLineStore(const CLogLineStore&) = delete;
    CLogLineStore& operator=(const CLogLineStore&) = delete;

    void Append(std::string_view line);
    // Gives all memory back.
    void Clear();

    std::size_t Count() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }
    // An index outside the store gives an empty view. The view stays valid
    // until Clear: stored text never moves.
    std::string_view Line(std::size_t index) const;
    // Bytes of the longest line appended since the last Clear.
    std::size_t LongestLine() const { return m_longestLine; }
    // Bytes of text held, without the bookkeeping.
    std::size_t TextBytes() const { return m_textBytes; }
    // Bytes reserved for text and bookkeeping together.
    std::size_t MemoryUsage() const;

    // Two megabytes: the size of a huge page, so that the kernel can back a
    // block with one page instead of 512 and filling it faults once.
    static constexpr std::size_t kBlockSize = std::size_t { 2 } << 20;
    static constexpr std::size_t kStartsPerBlock = kBlockSize / sizeof(std::uint64_t);

private:
    struct TextBlock {
        char* text { nullptr };
        std::size_t capacity { 0 };
        std::size_t used { 0 };
    };

    TextBlock& BlockFor(std::size_t length);
    std::uint64_t Start(std::size_t index) const
    {
        return m_starts[index / kStartsPerBlock][index % kStartsPerBlock];
    }

    std::vector<TextBlock> m_blocks;
    // Block index in the high 32 bits, offset within the block in the low 32.
    std::vector<std::uint64_t*> m_starts;
    std::size_t m_count { 0 };
    std::size_t m_longestLine { 0 };
    std::size_t m_textBytes { 0 };
};

} // namespace orvex
