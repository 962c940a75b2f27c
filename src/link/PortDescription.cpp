#include "link/PortDescription.h"

#include "link/CPortTable.h"
#include "link/NetworkPortName.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <libudev.h>
#include <memory>
#include <sys/stat.h>

namespace orvex {

const char* const kSerialByIdFolder = "/dev/serial/by-id";

namespace {

std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string Text(const char* value)
{
    return value ? std::string(value) : std::string();
}

// The by-id link that leads to `device`, if any.
std::string ByIdNameOf(const std::string& device)
{
    std::string found;
    if (DIR* folder = opendir(kSerialByIdFolder)) {
        while (dirent* entry = readdir(folder)) {
            if (entry->d_name[0] == '.')
                continue;
            std::string link = std::string(kSerialByIdFolder) + "/" + entry->d_name;
            if (RealPath(link) == device) {
                found = link;
                break;
            }
        }
        closedir(folder);
    }
    return found;
}

struct UdevDeleter {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};

// USB ids, serial and product text from the USB device above the tty.
// Read from its attributes, so that no udev daemon needs to be running.
void ReadUsbDetails(const std::string& device, PortDescription& description)
{
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
        return;
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context)
        return;
    std::unique_ptr<udev_device, UdevDeleter> tty(udev_device_new_from_devnum(context.get(), 'c', info.st_rdev));
    if (!tty)
        return;
    // Owned by the tty device; not to be unreferenced.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device");
    if (usb == nullptr)
        return;
    description.vendorId = Text(udev_device_get_sysattr_value(usb, "idVendor"));
    description.productId = Text(udev_device_get_sysattr_value(usb, "idProduct"));
    description.serial = Text(udev_device_get_sysattr_value(usb, "serial"));
    description.product = Text(udev_device_get_sysattr_value(usb, "product"));
}

} // namespace

PortDescription DescribePort(const std::string& path)
{
    PortDescription description;
    description.path = path;
    if (IsNetworkPortName(path)) {
        description.network = DescribeNetworkPortName(path);
        return description;
    }
    description.device = RealPath(path);
    if (description.device.empty())
        return description;
    description.byId = ByIdNameOf(description.device);
    ReadUsbDetails(description.device, description);
    return description;
}

std::string DescribePortText(const PortDescription& description)
{
    std::string text = description.path;
    if (!description.network.empty())
        return text + ": " + description.network;
    std::vector<std::string> details;
    if (!description.vendorId.empty())
        details.push_back(description.vendorId + ":" + description.productId);
    if (!description.serial.empty())
        details.push_back("serial " + description.serial);
    std::string extra = description.product;
    if (!details.empty()) {
        std::string joined;
        for (const std::string& detail : details)
            joined += (joined.empty() ? "" : ", ") + detail;
        extra += (extra.empty() ? "(" : " (") + joined + ")";
    }
    if (!description.device.empty() && description.device != description.path)
        extra += (extra.empty() ? "" : ", ") + description.device;
    if (!description.byId.empty() && description.byId != description.path)
        extra += (extra.empty() ? "" : ", ") + description.byId;
    return extra.empty() ? text : text + ": " + extra;
}

std::string DescribePortColumns(const PortDescription& description)
{
    std::string columns;
    auto add = [&columns](const char* key, const std::string& value) {
        if (value.empty())
            return;
        bool quote = value.find(' ') != std::string::npos;
        columns += std::string(" ") + key + "=" + (quote ? "\"" + value + "\"" : value);
    };
    add("by-id", description.byId);
    if (!description.vendorId.empty())
        add("usb", description.vendorId + ":" + description.productId);
    add("serial", description.serial);
    add("product", description.product);
    add("network", description.network);
    return columns;
}

std::vector<PortDescription> ListSerialDevices(const std::string& directory)
{
    CPortTable table = CPortTable::FromDevices(directory);
    std::vector<PortDescription> found;
    for (int i = 0; i < CPortTable::kSlots && !table.Path(i).empty(); ++i)
        found.push_back(DescribePort(table.Path(i)));
    return found;
}

} // namespace orvex
