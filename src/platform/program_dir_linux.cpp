#include <unistd.h>

#include <system_error>

#include "platform/program_dir.h"

namespace platform {

std::filesystem::path programDirectory() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return std::filesystem::current_path(ec);
    return exe.parent_path();
}

}  // namespace platform
