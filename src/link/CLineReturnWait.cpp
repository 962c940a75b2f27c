#include "link/CLineReturnWait.h"

#include "link/NetworkPortName.h"

#include <sys/stat.h>
#include <thread>

namespace orvex {

namespace {

constexpr auto kStopLook = std::chrono::milliseconds(100);

bool Exists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

} // namespace

CLineReturnWait::CLineReturnWait(PortDescription identity)
    : m_identity(std::move(identity))
{
}

std::string CLineReturnWait::Locate() const
{
    if (IsNetworkPortName(m_identity.path))
        return m_identity.path;
    // The stable name follows the adapter to whatever node it gets.
    if (Exists(m_identity.byId))
        return m_identity.byId;
    if (!m_identity.serial.empty()) {
        for (const PortDescription& present : ListSerialDevices()) {
            if (present.serial == m_identity.serial && present.vendorId == m_identity.vendorId
                && present.productId == m_identity.productId)
                return present.device;
        }
        return {};
    }
    return Exists(m_identity.path) ? m_identity.path : std::string();
}

std::string CLineReturnWait::Wait(const StopRequested& stopRequested, const Reopen& reopen) const
{
    const auto pause = IsNetworkPortName(m_identity.path) ? kNetworkRetry : kDeviceLook;
    while (!stopRequested()) {
        std::string path = Locate();
        if (!path.empty() && reopen(path))
            return path;
        const auto until = std::chrono::steady_clock::now() + pause;
        while (!stopRequested() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(kStopLook);
    }
    return {};
}

} // namespace orvex
