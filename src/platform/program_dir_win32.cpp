#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <vector>

#include "platform/program_dir.h"

namespace platform {

std::filesystem::path programDirectory() {
    // A path that does not fit is cut short without an error code on older
    // systems: grow the buffer until the answer is shorter than it, up to the
    // longest path the system has.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) break;
        if (n < buffer.size())
            return std::filesystem::path(std::wstring(buffer.data(), n)).parent_path();
        if (buffer.size() >= 32768) break;
        buffer.resize(buffer.size() * 2);
    }
    // Not reached in practice: the system always knows its own program.
    return std::filesystem::current_path();
}

}  // namespace platform
