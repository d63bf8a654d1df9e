#include "platform/program_dir.h"

namespace platform {

std::filesystem::path programFile(std::string_view relativeName) {
    std::filesystem::path p = programDirectory();
    p /= std::filesystem::path(std::string(relativeName)).make_preferred();
    return p;
}

}  // namespace platform
