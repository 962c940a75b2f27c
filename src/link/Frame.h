#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orvex {

// The one place where frames are laid out and judged, for the host and the
// simulator alike. A frame is sync, address, length, body, check code (low
// byte first). The short form holds the length L in byte 2; the long form
// has 0 there and L in bytes 3 and 4 (high first), the body starting at 5.

inline constexpr int kShortHeader = 3;
inline constexpr int kLongHeader = 5;
inline constexpr int kCheckCodeSize = 2;
// The shortest frames each form can describe: a short one carries at least
// one body byte; a long one at least the two length bytes' worth more.
inline constexpr int kShortestFrame = 6;
inline constexpr int kShortestLongFrame = 7;
inline constexpr int kLongestShortFrame = 255;

enum class FrameVerdict { Whole, NeedMore, BadSync, BadLength, BadCheckCode };

// Judges the bytes at the start of `bytes` as one frame. `frameLength` is
// set to L as soon as the header tells it (also for NeedMore, BadLength and
// BadCheckCode), and to 0 before that. NeedMore means every byte so far
// fits a frame. Pure; never reads past the span.
FrameVerdict JudgeFrame(std::span<const std::uint8_t> bytes, int& frameLength);

// Total frame length from the header. The header must hold at least 3
// bytes, and 5 for a long frame.
int FrameLength(const std::uint8_t* header);

// Writes the address and the check code into a frame of `length` bytes.
// Positions at or past `length` are never written.
void FinishFrame(std::uint8_t* frame, int length, std::uint8_t address);

enum class FrameForm { Shortest, Long };

// A whole frame around `body`: short form while it fits, long form after
// (or always, for replies that are long by definition).
std::vector<std::uint8_t> BuildFrame(std::uint8_t address, std::span<const std::uint8_t> body, FrameForm form = FrameForm::Shortest);
// A command frame: the code, then its data.
std::vector<std::uint8_t> BuildCommandFrame(std::uint8_t address, std::uint8_t code, std::span<const std::uint8_t> data = {});
// The host's six-byte ACK and NAK frames.
std::vector<std::uint8_t> BuildAck(std::uint8_t address);
std::vector<std::uint8_t> BuildNak(std::uint8_t address);

} // namespace orvex
