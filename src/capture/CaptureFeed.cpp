#include "capture/CaptureFeed.h"

#include "capture/CExchangeAssembler.h"
#include "capture/CPcapngReader.h"

namespace orvex {

bool FeedCapture(std::span<const std::uint8_t> bytes, CExchangeAssembler& assembler, std::vector<std::string>& ports,
    std::string& error)
{
    CPcapngReader reader(bytes);
    CapturedPacket packet;
    CPcapngReader::Step step;
    while ((step = reader.Next(packet)) == CPcapngReader::Step::Packet) {
        while (ports.size() < reader.Interfaces().size())
            ports.push_back(reader.Interfaces()[ports.size()].name);
        if (packet.isEvent)
            assembler.Event(WireEvent { packet.interface, packet.timeNs, std::string(packet.comment) });
        else
            assembler.FeedPacket(packet.interface, packet.direction, packet.timeNs, packet.frame);
    }
    assembler.Finish();
    if (step != CPcapngReader::Step::Failed)
        return true;
    error = reader.Error() + " at byte " + std::to_string(reader.Offset());
    return false;
}

} // namespace orvex
