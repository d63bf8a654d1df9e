#pragma once
#include <cstdint>

namespace platform {

// Starts the system's socket layer in version 1.1, once, at program start
// before anything else. True when the layer runs in exactly that version;
// false when it cannot start or offers another version, in which case nothing
// is left started: the program shows its start-failure text (string table
// entry 103) and ends. Sockets need no start on POSIX: there it does nothing
// and succeeds.
bool startSocketLayer();

// The same for a given version (major, minor): true only when the layer starts
// and reports that version. Lets tests reach the failure paths.
bool startSocketLayerVersion(std::uint8_t major, std::uint8_t minor);

// Undoes one successful start. The program itself leaves the layer to the
// system's clean-up at exit; tests balance their starts with it.
void stopSocketLayer();

}  // namespace platform
