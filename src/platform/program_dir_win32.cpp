#include <windows.h>

#include "platform/program_dir.h"

namespace platform {

std::filesystem::path programDirectory() {
    wchar_t buffer[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    if (n == 0 || n >= std::size(buffer)) return std::filesystem::current_path();
    return std::filesystem::path(std::wstring(buffer, n)).parent_path();
}

}  // namespace platform
