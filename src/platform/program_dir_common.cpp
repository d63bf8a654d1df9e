#include "platform/program_dir.h"

namespace platform {

std::filesystem::path programFile(std::string_view relativeName) {
    std::filesystem::path p = programDirectory();
    p /= std::filesystem::path(std::string(relativeName)).make_preferred();
    return p;
}

std::filesystem::path settingsDirectory(const std::filesystem::path& programDir) {
    if (directoryWritable(programDir)) return programDir;
    std::filesystem::path user = userSettingsDirectory();
    return user.empty() ? programDir : user;
}

}  // namespace platform
