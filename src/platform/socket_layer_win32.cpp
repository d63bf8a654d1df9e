// Windows Sockets start-up.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>

#include "platform/socket_layer.h"

namespace platform {

bool startSocketLayer() {
    return startSocketLayerVersion(1, 1);
}

bool startSocketLayerVersion(std::uint8_t major, std::uint8_t minor) {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(major, minor), &data) != 0) return false;
    // A layer that starts in another version than asked for is undone: the
    // caller treats it as a failed start.
    if (LOBYTE(data.wVersion) != major || HIBYTE(data.wVersion) != minor) {
        WSACleanup();
        return false;
    }
    return true;
}

void stopSocketLayer() {
    WSACleanup();
}

}  // namespace platform
