#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "platform/program_dir.h"

namespace platform {

std::filesystem::path programDirectory() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return std::filesystem::current_path(ec);
    return exe.parent_path();
}

bool directoryWritable(const std::filesystem::path& directory) {
    return ::access(directory.c_str(), W_OK | X_OK) == 0;
}

std::filesystem::path userSettingsDirectory() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    if (config && config[0] == '/') return std::filesystem::path(config) / "servo-tool";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::filesystem::path(home) / ".config" / "servo-tool";
    return {};
}

}  // namespace platform
