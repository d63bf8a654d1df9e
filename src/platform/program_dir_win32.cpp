#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <string>
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

bool directoryWritable(const std::filesystem::path& directory) {
    // Access rights on Windows come from ACLs, virtualisation and read-only
    // media together: the one sure test is to create a file, which the
    // system deletes again when its handle closes.
    const std::filesystem::path probe =
        directory / (L"servo-tool-write-test-" + std::to_wstring(GetCurrentProcessId()) + L".tmp");
    const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

std::filesystem::path userSettingsDirectory() {
    const wchar_t* appData = _wgetenv(L"APPDATA");
    if (!appData || !*appData) return {};
    return std::filesystem::path(appData) / L"servo-tool";
}

}  // namespace platform
