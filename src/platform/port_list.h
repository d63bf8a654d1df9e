#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// A serial port that exists on this machine, as a user would choose it.
struct SerialPortInfo {
    // What the program opens: "/dev/ttyUSB0", or "COM7" on Windows.
    std::string device;
    // A name that survives re-plugging and reordering, when the system has
    // one: "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0".
    std::string stableName;
    // In words, for a list: the adapter's maker and product, or the system's
    // friendly name ("USB Serial Port (COM7)"); empty when nothing is known.
    std::string description;
    // USB identification, when the port is a USB adapter (hex, lower case).
    std::string vendorId;
    std::string productId;
    std::string serialNumber;
    // The COMn names that the program's mapping (SERVO_COMn, ports.cfg)
    // points at this device, e.g. {"COM1"}.
    std::vector<std::string> comAliases;
};

// The serial ports of this machine, sorted by kind then number: on Linux the
// USB adapters (ttyUSB*, ttyACM*) with their /dev/serial/by-id names, then
// the ttyS* ports that a driver backs with real hardware; on Windows the
// registry's SERIALCOMM list with the friendly names of the Ports class.
// Never fails: a tree that cannot be read lists nothing.
std::vector<SerialPortInfo> listSerialPorts();

// The Linux listing over another root folder holding dev/ and sys/ (tests
// give a fake tree). Symbolic links inside the tree are resolved within it.
std::vector<SerialPortInfo> listSerialPortsUnder(const std::filesystem::path& root);

}  // namespace platform
