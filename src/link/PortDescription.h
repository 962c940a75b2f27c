#pragma once

#include <string>
#include <vector>

namespace orvex {

// What a technician needs to tell one serial adapter from another. Fields
// that do not apply (a built-in port, a pty, a network line) stay empty.
struct PortDescription {
    std::string path;        // as given: /dev/ttyUSB0, a by-id link, tcp://...
    std::string device;      // the device node behind it: /dev/ttyUSB0
    std::string byId;        // its stable name: /dev/serial/by-id/usb-FTDI_..._A10K3V2Q-if00-port0
    std::string vendorId;    // USB ids, four hex digits each
    std::string productId;
    std::string serial;      // the adapter's serial number
    std::string product;     // the product text: "FT232R USB UART"
    std::string network;     // for a network line: "raw TCP to HOST port PORT"
};

// Describes a port name, reading USB details through udev. Never fails:
// what cannot be learnt stays empty.
PortDescription DescribePort(const std::string& path);
// The serial devices present now (USB adapters, ACM modems, built-in
// ports), described; in the order of the port table's own search.
std::vector<PortDescription> ListSerialDevices(const std::string& directory = "/dev");
// One line for a menu or a tooltip: "/dev/ttyUSB0: FT232R USB UART
// (0403:6001, serial A10K3V2Q), /dev/serial/by-id/usb-FTDI_...";
// "tcp://host:4001: raw TCP to host port 4001"; the bare path when there is
// nothing more to say.
std::string DescribePortText(const PortDescription& description);
// Extra columns for a listing, each " key=value" (values with spaces in
// double quotes): by-id, usb (vendor:product), serial, product, network.
// Empty when there is nothing more to say.
std::string DescribePortColumns(const PortDescription& description);
// The folder of stable adapter names.
extern const char* const kSerialByIdFolder;

} // namespace orvex
