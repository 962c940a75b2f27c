// The pcapng reader on any bytes: it never reads outside the input, every
// packet it returns lies inside it, and it ends with End or a failure that
// names an offset inside the input.
#include "capture/CPcapngReader.h"

#include <cstdlib>

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::span<const std::uint8_t> input(data, size);
    CPcapngReader reader(input);
    CapturedPacket packet;
    CPcapngReader::Step step;
    std::size_t packets = 0;
    while ((step = reader.Next(packet)) == CPcapngReader::Step::Packet) {
        if (!packet.frame.empty() && (packet.frame.data() < data || packet.frame.data() + packet.frame.size() > data + size))
            std::abort();
        if (packet.interface < 0 || static_cast<std::size_t>(packet.interface) >= reader.Interfaces().size())
            std::abort();
        if (++packets > size)
            std::abort(); // every packet takes a block of at least 12 bytes
    }
    if (step == CPcapngReader::Step::Failed && (reader.Error().empty() || reader.Offset() > size))
        std::abort();
    return 0;
}
