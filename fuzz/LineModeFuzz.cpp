// Line-mode texts ("9600,n,8,1"): what parses must be a mode the port can
// set, and the same mode must come back from its own canonical text.
#include "link/LineMode.h"
#include "support/FuzzCheck.h"

#include <string>

using namespace orvex;
using orvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(bytes), size);
    auto mode = ParseLineMode(text);
    if (!mode)
        return 0;
    Check(mode->baud > 0, "a parsed baud rate that is not positive");
    Check(mode->dataBits >= 5 && mode->dataBits <= 8, "data bits outside 5..8");
    Check(mode->stopBits == 1 || mode->stopBits == 2, "stop bits other than 1 or 2");
    const char parity = mode->parity == Parity::None ? 'n' : mode->parity == Parity::Even ? 'e' : 'o';
    std::string canonical = std::to_string(mode->baud) + "," + parity + "," + std::to_string(mode->dataBits) + ","
        + std::to_string(mode->stopBits);
    auto again = ParseLineMode(canonical);
    Check(again && again->baud == mode->baud && again->parity == mode->parity && again->dataBits == mode->dataBits
            && again->stopBits == mode->stopBits,
        "the canonical text of a parsed mode does not parse to the same mode");
    return 0;
}
