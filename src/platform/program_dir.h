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

}  // namespace platform
