// ORVEX_PORTS lists: sixteen slots at most, each the item at its place,
// nothing invented and nothing shifted.
#include "link/CPortTable.h"
#include "support/FuzzCheck.h"

#include <string>

using namespace orvex;
using orvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    std::string_view list(reinterpret_cast<const char*>(bytes), size);
    CPortTable table = CPortTable::FromList(list);

    std::string_view rest = list;
    for (int slot = 0; slot < CPortTable::kSlots; ++slot) {
        auto comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        Check(table.Path(slot) == item, "a slot does not hold the item at its place");
        Check(table.Path(slot).find(',') == std::string::npos, "a path holds the separator");
        if (comma == std::string_view::npos) {
            for (int empty = slot + 1; empty < CPortTable::kSlots; ++empty)
                Check(table.Path(empty).empty(), "a slot past the end of the list has a path");
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    Check(table.Path(-1).empty() && table.Path(CPortTable::kSlots).empty(), "an invalid slot has a path");
    Check(CPortTable::Name(0) == "COM1" && CPortTable::Name(15) == "COM16", "slot names");
    return 0;
}
