// Port texts of gateways: what is accepted, what is refused and why.
#include "modbus/network_port.h"

#include <gtest/gtest.h>

namespace {

using modbus::NetworkPortError;
using modbus::NetworkProtocol;
using modbus::parseNetworkPort;

TEST(NetworkPort, AcceptsBothProtocolsWithHostsOfEveryForm) {
    struct Case {
        const char* text;
        NetworkProtocol protocol;
        const char* host;
        std::uint16_t port;
        const char* canonical;
    };
    const Case cases[] = {
        {"tcp://192.168.1.10:502", NetworkProtocol::modbusTcp, "192.168.1.10", 502,
         "tcp://192.168.1.10:502"},
        {"  TCP://gw-7.plant.local:1502 ", NetworkProtocol::modbusTcp, "gw-7.plant.local", 1502,
         "tcp://gw-7.plant.local:1502"},
        {"tcp://gateway", NetworkProtocol::modbusTcp, "gateway", 502, "tcp://gateway:502"},
        {"rtu+tcp://10.0.0.5:4001", NetworkProtocol::rtuOverTcp, "10.0.0.5", 4001,
         "rtu+tcp://10.0.0.5:4001"},
        {"Rtu+Tcp://[fe80::1%eth0]:65535", NetworkProtocol::rtuOverTcp, "fe80::1%eth0", 65535,
         "rtu+tcp://[fe80::1%eth0]:65535"},
        {"tcp://[::1]", NetworkProtocol::modbusTcp, "::1", 502, "tcp://[::1]:502"},
    };
    for (const Case& c : cases) {
        const auto p = parseNetworkPort(c.text);
        ASSERT_TRUE(p.ok()) << c.text << ": " << p.cause;
        EXPECT_TRUE(p.cause.empty());
        EXPECT_EQ(p.port.protocol, c.protocol) << c.text;
        EXPECT_EQ(p.port.host, c.host) << c.text;
        EXPECT_EQ(p.port.port, c.port) << c.text;
        EXPECT_EQ(p.port.text(), c.canonical) << c.text;
        // The canonical text reads back as the same port.
        const auto again = parseNetworkPort(p.port.text());
        ASSERT_TRUE(again.ok()) << p.port.text();
        EXPECT_EQ(again.port.host, p.port.host);
        EXPECT_EQ(again.port.port, p.port.port);
    }
}

TEST(NetworkPort, RefusesWithACauseThatNamesTheFault) {
    struct Case {
        const char* text;
        NetworkPortError error;
        const char* causePart;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", NetworkPortError::notNetwork, "not a network port"},
        {"COM3", NetworkPortError::notNetwork, "tcp://HOST:PORT"},
        {"udp://1.2.3.4:502", NetworkPortError::unknownScheme, "udp://"},
        {"tcp://:502", NetworkPortError::noHost, "no host"},
        {"tcp://", NetworkPortError::noHost, "no host"},
        {"tcp://bad host:502", NetworkPortError::badHost, "bad host"},
        {"tcp://fe80::1:502", NetworkPortError::badHost, "fe80::1"},
        {"tcp://[::1:502", NetworkPortError::badHost, "']'"},
        {"tcp://[::1]502", NetworkPortError::badPort, "502"},
        {"rtu+tcp://10.0.0.5", NetworkPortError::noPort, "needs a port"},
        {"tcp://host:0", NetworkPortError::badPort, "1 to 65535"},
        {"tcp://host:65536", NetworkPortError::badPort, "65536"},
        {"tcp://host:", NetworkPortError::badPort, "1 to 65535"},
        {"tcp://host:502/x", NetworkPortError::badPort, "502/x"},
        {"tcp://host:-1", NetworkPortError::badPort, "-1"},
        {"tcp://host:0000502", NetworkPortError::badPort, "0000502"},
    };
    for (const Case& c : cases) {
        const auto p = parseNetworkPort(c.text);
        EXPECT_FALSE(p.ok()) << c.text;
        EXPECT_EQ(p.error, c.error) << c.text;
        EXPECT_NE(p.cause.find(c.causePart), std::string::npos) << c.text << ": " << p.cause;
    }
}

TEST(NetworkPort, TellsNetworkTextsFromSerialDevices) {
    EXPECT_TRUE(modbus::isNetworkPortText("tcp://x:1"));
    EXPECT_TRUE(modbus::isNetworkPortText(" udp://x"));  // refused later, never opened as a file
    EXPECT_FALSE(modbus::isNetworkPortText("/dev/serial/by-id/usb-FTDI_x-if00-port0"));
    EXPECT_FALSE(modbus::isNetworkPortText("\\\\.\\COM12"));
}

}  // namespace
