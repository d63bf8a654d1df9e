#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ui/dialog.h"

// What servo-tool does on its own once the main window is up, the same on
// every backend: connect as the Connect button does (--connect, --demo) and
// save a picture of each page (--screenshots).
namespace servo_main {

// --connect PORT[:BAUD[:STATION]]: one of the status page's choices.
struct ConnectChoice {
    int port = 1;  // COM1 to COM6
    std::uint32_t baud = 115200;
    int station = 1;  // 1 to 64
};

// Parses "COM3", "com3:9600" or "COM3:9600:12"; nothing, with the cause in
// `error`, for a port, rate or station the status page does not offer.
std::optional<ConnectChoice> parseConnectChoice(std::string_view text, std::string& error);

// Chooses the rate, port and station on the main window's status page and
// presses Connect, as a user would. Returns true when the link is connected
// afterwards; a failed open has shown the page's own message.
bool connectAtStart(ui::Dialog& mainWindow, const ConnectChoice& choice);

// The toolkit's parts of a screenshot run.
struct ScreenshotBackend {
    std::function<void(int ms)> processEvents;
    std::function<bool(const ui::Dialog&, const std::filesystem::path&)> saveWindow;
    std::string extension;  // ".png", ".bmp"
};

// Inside the main window's modal loop: with a connection, connects, lets
// the scope record its first three quantities every 10 ms; then selects each
// tab in turn, gives its timer and the poll thread time, saves it as
// DIR/<page><extension> (paths printed on standard output); once connected, also
// the compare view against the first drive model set as DIR/compare<extension>
// and the bus monitor over the recording link as DIR/monitor<extension>;
// then closes the window. False when a picture could not be written or the connection failed.
bool takeScreenshots(ui::Dialog& mainWindow, const std::filesystem::path& dir,
                     const std::optional<ConnectChoice>& connect, const ScreenshotBackend& backend);

}  // namespace servo_main
