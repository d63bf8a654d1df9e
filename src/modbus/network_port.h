#pragma once
// Ports that reach a drive through a gateway on the network, written
// "tcp://HOST:PORT" (Modbus TCP) or "rtu+tcp://HOST:PORT" (RTU frames carried
// over a TCP stream). Every place that takes a serial device takes these too.
#include <cstdint>
#include <string>
#include <string_view>

namespace modbus {

enum class NetworkProtocol : std::uint8_t {
    modbusTcp,   // MBAP header, unit id = station, no CRC
    rtuOverTcp,  // RTU frames, CRC included, as on the serial line
};

// What is wrong with a port text.
enum class NetworkPortError : std::uint8_t {
    none,
    notNetwork,     // no "scheme://": a serial device name
    unknownScheme,  // a scheme other than tcp or rtu+tcp
    noHost,
    badHost,  // characters that no host name or address has
    noPort,   // rtu+tcp has no standard port: it must be given
    badPort,  // not a number from 1 to 65535, or text after it
};

// Modbus TCP's registered port, taken when "tcp://HOST" gives none.
inline constexpr std::uint16_t kModbusTcpPort = 502;

struct NetworkPort {
    NetworkProtocol protocol = NetworkProtocol::modbusTcp;
    std::string host;  // a name, an IPv4 address or an IPv6 address without brackets
    std::uint16_t port = kModbusTcpPort;

    // The canonical text: "tcp://10.0.0.5:502", "rtu+tcp://[fe80::1]:4001".
    std::string text() const;
};

struct NetworkPortParse {
    NetworkPortError error = NetworkPortError::none;
    // What is wrong, in words for the user (empty when nothing is).
    std::string cause;
    NetworkPort port;

    bool ok() const { return error == NetworkPortError::none; }
};

// Checks and splits a port text. Blanks around it are ignored, the scheme is
// compared without regard to case; "tcp://HOST" means port 502.
NetworkPortParse parseNetworkPort(std::string_view text);

// True when the text names a network port at all (it has "scheme://"), valid
// or not: such a text is never opened as a serial device.
bool isNetworkPortText(std::string_view text);

}  // namespace modbus
