#pragma once
#include <filesystem>
#include <string_view>

namespace platform {

// Directory of the running executable. Data files are named relative to it,
// never to the current directory.
std::filesystem::path programDirectory();

// programDirectory() joined with a relative name written with '/' separators
// ("Language/Define.cfg", "version/Servo.csv", "system.ini").
std::filesystem::path programFile(std::string_view relativeName);

// True when this process may create files in `directory` (false when it does
// not exist).
bool directoryWritable(const std::filesystem::path& directory);

// The user's own settings directory for this program: $XDG_CONFIG_HOME or
// ~/.config, then "servo-tool", on Linux; %APPDATA%\servo-tool on Windows.
// Empty when the environment names no home. Not created here.
std::filesystem::path userSettingsDirectory();

// Where the program writes its settings: the program directory when the user
// may write there (an unpacked zip, a build tree), else the user's own
// settings directory (an install under /opt or Program Files is read-only for
// the people who run it, and every save would fail).
std::filesystem::path settingsDirectory(const std::filesystem::path& programDir);

}  // namespace platform
