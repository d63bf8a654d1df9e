// POSIX sockets are ready in every process: there is nothing to start.
#include "platform/socket_layer.h"

namespace platform {

bool startSocketLayer() {
    return true;
}

bool startSocketLayerVersion(std::uint8_t, std::uint8_t) {
    return true;
}

void stopSocketLayer() {}

}  // namespace platform
