#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace orvex {

// The program-wide values: one instance, owned by the application shell,
// read by the layers that need them (the serial mode by every port
// opening, the closing flag by the long waits, the escrow mask by the
// polling engine). They live down here so that lower layers can read them
// without reaching up.
class CProgramValues {
public:
    static CProgramValues& Instance();

    std::atomic<int> closing { 0 };
    std::atomic<std::uint32_t> escrowMask { 0xFFFFFF };

    std::string SerialMode() const;
    void SetSerialMode(std::string mode);

private:
    mutable std::mutex m_modeMutex; // guards m_serialMode
    std::string m_serialMode { "9600,n,8,1" };
};

} // namespace orvex
