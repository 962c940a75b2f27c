#pragma once

#include <cstdint>

// The pcapng block and option codes this tool writes and reads (the
// numbers the pcapng format gives them), shared by the writer and the reader.
namespace orvex::pcapng {

inline constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
inline constexpr std::uint32_t kInterfaceDescription = 1;
inline constexpr std::uint32_t kSimplePacket = 3;
inline constexpr std::uint32_t kEnhancedPacket = 6;
inline constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
inline constexpr std::uint32_t kSwappedMagic = 0x4D3C2B1A;
inline constexpr std::uint16_t kOptionEnd = 0;
inline constexpr std::uint16_t kOptionComment = 1;
inline constexpr std::uint16_t kShbUserApplication = 4;
inline constexpr std::uint16_t kIfName = 2;
inline constexpr std::uint16_t kIfTsResolution = 9;
inline constexpr std::uint16_t kEpbFlags = 2;
// Exported-PDU tags (big-endian type and length, values padded to four bytes).
inline constexpr std::uint16_t kExportedPduEnd = 0;
inline constexpr std::uint16_t kExportedPduDissectorName = 12;

} // namespace orvex::pcapng
