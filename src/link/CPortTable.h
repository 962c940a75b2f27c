#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// The sixteen port slots: slot i is COM(i+1) and names one device path,
// or none. Built from ORVEX_PORTS, else from the serial devices present.
class CPortTable {
public:
    static constexpr int kSlots = 16;

    CPortTable() = default;
    explicit CPortTable(const std::vector<std::string>& paths);

    static CPortTable FromEnvironment();
    // Comma-separated paths in slot order; an empty item leaves its slot empty.
    static CPortTable FromList(std::string_view list);
    // /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*, each in natural number order.
    static CPortTable FromDevices(const std::string& directory = "/dev");

    static bool IsValidIndex(int index) { return index >= 0 && index < kSlots; }
    static std::string Name(int index);
    // Empty for an invalid index or an empty slot.
    const std::string& Path(int index) const;
    void SetPath(int index, std::string path);

private:
    std::array<std::string, kSlots> m_paths;
};

} // namespace orvex
