#include <windows.h>

#include "platform/file_io.h"

namespace platform {

bool replaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::wstring tmp = path.wstring() + L".tmp";
    HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(bytes.size() - done);
        if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            ok = false;
        done += written;
    }
    if (ok) ok = FlushFileBuffers(h) != 0;
    if (!CloseHandle(h)) ok = false;
    if (ok)
        ok = MoveFileExW(tmp.c_str(), path.wstring().c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) DeleteFileW(tmp.c_str());
    return ok;
}

}  // namespace platform
