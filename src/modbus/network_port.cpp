#include "modbus/network_port.h"

#include <cctype>

namespace modbus {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

NetworkPortParse failure(NetworkPortError error, std::string cause) {
    NetworkPortParse p;
    p.error = error;
    p.cause = std::move(cause);
    return p;
}

// Letters, digits, '.', '-' and '_' for names and IPv4; hex digits, ':' and
// '.' (an embedded IPv4) and '%' with a zone for IPv6.
bool validHost(std::string_view host, bool v6) {
    for (char c : host) {
        const auto u = static_cast<unsigned char>(c);
        const bool ok =
            v6 ? (std::isxdigit(u) || c == ':' || c == '.' || c == '%' || std::isalnum(u))
               : (std::isalnum(u) || c == '.' || c == '-' || c == '_');
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::string NetworkPort::text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return std::string(protocol == NetworkProtocol::modbusTcp ? "tcp://" : "rtu+tcp://") +
           (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool isNetworkPortText(std::string_view text) {
    return trim(text).find("://") != std::string_view::npos;
}

NetworkPortParse parseNetworkPort(std::string_view text) {
    text = trim(text);
    const std::size_t sep = text.find("://");
    if (sep == std::string_view::npos)
        return failure(NetworkPortError::notNetwork,
                       "\"" + std::string(text) +
                           "\" is not a network port: write tcp://HOST:PORT or "
                           "rtu+tcp://HOST:PORT");
    const std::string_view scheme = text.substr(0, sep);
    NetworkPortParse result;
    if (equalNoCase(scheme, "tcp")) {
        result.port.protocol = NetworkProtocol::modbusTcp;
    } else if (equalNoCase(scheme, "rtu+tcp")) {
        result.port.protocol = NetworkProtocol::rtuOverTcp;
    } else {
        return failure(NetworkPortError::unknownScheme,
                       "unknown kind of port \"" + std::string(scheme) +
                           "://\": use tcp:// (Modbus TCP) or rtu+tcp:// (RTU over TCP)");
    }
    std::string_view rest = text.substr(sep + 3);
    std::string_view host;
    std::string_view portText;
    bool hasPort = false;
    bool v6 = false;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return failure(NetworkPortError::badHost, "the IPv6 address lacks its closing ']'");
        host = rest.substr(1, close - 1);
        v6 = true;
        rest.remove_prefix(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return failure(NetworkPortError::badPort,
                               "unexpected \"" + std::string(rest) + "\" after the address");
            portText = rest.substr(1);
            hasPort = true;
        }
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon != std::string_view::npos) {
            host = rest.substr(0, colon);
            portText = rest.substr(colon + 1);
            hasPort = true;
        } else {
            host = rest;
        }
    }
    if (host.empty()) return failure(NetworkPortError::noHost, "no host given before the port");
    if (!validHost(host, v6))
        return failure(NetworkPortError::badHost,
                       "\"" + std::string(host) + "\" is not a host name or address");
    if (!hasPort) {
        if (result.port.protocol == NetworkProtocol::rtuOverTcp)
            return failure(NetworkPortError::noPort,
                           "rtu+tcp:// needs a port number: rtu+tcp://HOST:PORT");
    } else {
        unsigned long value = 0;
        bool ok = !portText.empty() && portText.size() <= 5;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c))) ok = false;
            if (ok) value = value * 10 + static_cast<unsigned long>(c - '0');
        }
        if (!ok || value < 1 || value > 65535)
            return failure(
                NetworkPortError::badPort,
                "the port must be a number from 1 to 65535, not \"" + std::string(portText) + "\"");
        result.port.port = static_cast<std::uint16_t>(value);
    }
    result.port.host = std::string(host);
    return result;
}

}  // namespace modbus
