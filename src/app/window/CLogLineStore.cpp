#include "app/window/CLogLineStore.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace orvex {

namespace {

std::size_t RoundUp(std::size_t size, std::size_t unit)
{
    return (size + unit - 1) / unit * unit;
}

// Aligned to a huge page and marked for one, where the kernel allows it
// only on request.
void* AllocateBlock(std::size_t size)
{
    void* memory = std::aligned_alloc(CLogLineStore::kBlockSize, size);
    if (!memory)
        throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    madvise(memory, size, MADV_HUGEPAGE);
#endif
    return memory;
}

} // namespace

CLogLineStore::~CLogLineStore()
{
    Clear();
}

CLogLineStore::TextBlock& CLogLineStore::BlockFor(std::size_t length)
{
    if (!m_blocks.empty()) {
        TextBlock& last = m_blocks.back();
        // Offsets are 32-bit; only a block of one oversized line could pass that.
        if (last.capacity - last.used >= length && last.used + length <= 0xFFFFFFFFu)
            return last;
    }
    // A line longer than a block gets a block of its own size.
    TextBlock block;
    block.capacity = length > kBlockSize ? RoundUp(length, kBlockSize) : kBlockSize;
    block.text = static_cast<char*>(AllocateBlock(block.capacity));
    m_blocks.push_back(block);
    return m_blocks.back();
}

void CLogLineStore::Append(std::string_view line)
{
    if (m_count % kStartsPerBlock == 0)
        m_starts.push_back(static_cast<std::uint64_t*>(AllocateBlock(kBlockSize)));
    TextBlock& block = BlockFor(line.size());
    auto blockIndex = static_cast<std::uint64_t>(&block - m_blocks.data());
    m_starts.back()[m_count % kStartsPerBlock] = blockIndex << 32 | static_cast<std::uint32_t>(block.used);
    if (!line.empty())
        std::memcpy(block.text + block.used, line.data(), line.size());
    block.used += line.size();
    ++m_count;
    m_textBytes += line.size();
    if (line.size() > m_longestLine)
        m_longestLine = line.size();
}

std::string_view CLogLineStore::Line(std::size_t index) const
{
    if (index >= m_count)
        return {};
    std::uint64_t start = Start(index);
    auto blockIndex = static_cast<std::size_t>(start >> 32);
    auto offset = static_cast<std::size_t>(start & 0xFFFFFFFFu);
    const TextBlock& block = m_blocks[blockIndex];
    std::size_t end = block.used;
    if (index + 1 < m_count) {
        std::uint64_t next = Start(index + 1);
        if ((next >> 32) == blockIndex)
            end = static_cast<std::size_t>(next & 0xFFFFFFFFu);
    }
    return { block.text + offset, end - offset };
}

void CLogLineStore::Clear()
{
    for (TextBlock& block : m_blocks)
        std::free(block.text);
    for (std::uint64_t* starts : m_starts)
        std::free(starts);
    std::vector<TextBlock>().swap(m_blocks);
    std::vector<std::uint64_t*>().swap(m_starts);
    m_count = 0;
    m_longestLine = 0;
    m_textBytes = 0;
}

std::size_t CLogLineStore::MemoryUsage() const
{
    std::size_t total = m_blocks.capacity() * sizeof(TextBlock) + m_starts.capacity() * sizeof(std::uint64_t*)
        + m_starts.size() * kBlockSize;
    for (const TextBlock& block : m_blocks)
        total += block.capacity;
    return total;
}

} // namespace orvex
