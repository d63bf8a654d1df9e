#include "platform/port_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A fake machine: dev/ and sys/ laid out as the kernel and udev lay them out,
// with relative links as sysfs has them.
class PortList : public ::testing::Test {
  protected:
    void SetUp() override {
        for (unsigned n = 1; n <= 6; ++n) ::unsetenv(("SERVO_COM" + std::to_string(n)).c_str());
    }
    void TearDown() override { SetUp(); }

    fs::path root() const { return tmp.path(); }
    void file(const fs::path& relative, const std::string& text = {}) {
        fs::create_directories((root() / relative).parent_path());
        std::ofstream(root() / relative) << text << '\n';
    }
    void link(const fs::path& relative, const fs::path& target) {
        fs::create_directories((root() / relative).parent_path());
        fs::create_symlink(target, root() / relative);
    }
    // A USB adapter: the USB device with its identification, an interface
    // below it, the tty below that (ttyUSB one level deeper, as usb-serial
    // puts it), the class link and the device node.
    void usbAdapter(const std::string& tty, const std::string& usb, const std::string& vendor,
                    const std::string& product, const std::string& serial, const std::string& maker,
                    const std::string& productName) {
        const fs::path dev = fs::path("sys/devices/pci0000:00/usb1") / usb;
        file(dev / "idVendor", vendor);
        file(dev / "idProduct", product);
        if (!serial.empty()) file(dev / "serial", serial);
        file(dev / "manufacturer", maker);
        file(dev / "product", productName);
        const bool acm = tty.rfind("ttyACM", 0) == 0;
        const fs::path iface = dev / (usb + ":1.0");
        const fs::path ttyDevice = acm ? iface : iface / tty;
        fs::create_directories(root() / ttyDevice / "tty" / tty);
        link(fs::path("sys/class/tty") / tty, fs::path("../../devices/pci0000:00/usb1") / usb /
                                                  (usb + ":1.0") / (acm ? "" : tty) / "tty" / tty);
        link(ttyDevice / "tty" / tty / "device", acm ? "../.." : "../..");
        file(fs::path("dev") / tty);
    }
    // A fixed port; type 0 is a placeholder without a UART.
    void fixedPort(const std::string& tty, const std::string& type) {
        const fs::path dir = fs::path("sys/devices/platform/serial8250/tty") / tty;
        file(dir / "type", type);
        link(dir / "device", "../../../serial8250");
        link(fs::path("sys/class/tty") / tty,
             fs::path("../../devices/platform/serial8250/tty") / tty);
        file(fs::path("dev") / tty);
    }

    testsupport::TempDir tmp;
};

TEST_F(PortList, UsbAdaptersFirstWithStableNamesAndIdentificationThenRealFixedPorts) {
    usbAdapter("ttyUSB0", "1-2", "0403", "6001", "A50285BI", "FTDI", "FT232R USB UART");
    usbAdapter("ttyACM0", "1-3", "2341", "0043", "", "Arduino", "Uno");
    usbAdapter("ttyUSB10", "1-4", "1a86", "7523", "", "", "");
    fixedPort("ttyS0", "4");
    fixedPort("ttyS1", "0");
    link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
    // A tty that is not a serial port, and a class entry without a node.
    fs::create_directories(root() / "sys/devices/virtual/tty/tty1");
    link("sys/class/tty/tty1", "../../devices/virtual/tty/tty1");
    file("dev/tty1");
    fixedPort("ttyS2", "4");
    fs::remove(root() / "dev/ttyS2");

    const auto ports = platform::listSerialPortsUnder(root());
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].device, "/dev/ttyUSB0");
    EXPECT_EQ(ports[0].stableName,
              "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(ports[0].description, "FTDI FT232R USB UART (0403:6001, serial A50285BI)");
    EXPECT_EQ(ports[0].serialNumber, "A50285BI");
    // Numeric order, not text order: ttyUSB10 after ttyUSB0, ACM after USB.
    EXPECT_EQ(ports[1].device, "/dev/ttyUSB10");
    EXPECT_EQ(ports[1].description, "USB serial adapter (1a86:7523)");
    EXPECT_EQ(ports[2].device, "/dev/ttyACM0");
    EXPECT_EQ(ports[2].description, "Arduino Uno (2341:0043)");
    EXPECT_TRUE(ports[2].stableName.empty());
    // ttyS1 is a placeholder (type 0), ttyS2 has no device node.
    EXPECT_EQ(ports[3].device, "/dev/ttyS0");
    EXPECT_EQ(ports[3].description, "Serial port");
}

TEST_F(PortList, ComMappingNamesTheListedPortByDeviceOrStableName) {
    usbAdapter("ttyUSB0", "1-2", "0403", "6001", "X1", "FTDI", "FT232R");
    usbAdapter("ttyUSB1", "1-5", "0403", "6001", "X2", "FTDI", "FT232R");
    link("dev/serial/by-id/usb-FTDI-X2", "../../ttyUSB1");
    fixedPort("ttyS0", "4");
    ::setenv("SERVO_COM2", "/dev/ttyUSB0", 1);
    ::setenv("SERVO_COM3", "/dev/serial/by-id/usb-FTDI-X2", 1);
    ::setenv("SERVO_COM4", "/dev/ttyUSB1", 1);
    const auto ports = platform::listSerialPortsUnder(root());
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].comAliases, std::vector<std::string>{"COM2"});
    EXPECT_EQ(ports[1].comAliases, (std::vector<std::string>{"COM3", "COM4"}));
    // COM1 keeps its default device.
    EXPECT_EQ(ports[2].comAliases, std::vector<std::string>{"COM1"});
}

TEST_F(PortList, MissingOrUnreadableTreeListsNothing) {
    EXPECT_TRUE(platform::listSerialPortsUnder(root() / "absent").empty());
    file("sys/class/tty");  // a file where the folder should be
    EXPECT_TRUE(platform::listSerialPortsUnder(root()).empty());
}

}  // namespace
