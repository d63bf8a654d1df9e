#include <windows.h>

#include <atomic>
#include <string>

#include "platform/file_io.h"
#include "platform/text.h"

namespace platform {
namespace {

// The system's text for an error code, without the trailing line break.
std::string systemMessage(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (n > 0 && buffer) text.assign(buffer, buffer + n);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ' ||
                             text.back() == u'.'))
        text.pop_back();
    if (text.empty()) return "error " + std::to_string(error);
    return toUtf8(text);
}

FileOutcome fromError(DWORD error) {
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return {missing ? FileStatus::Missing : FileStatus::Failed, systemMessage(error)};
}

FileOutcome notRegular() {
    return {FileStatus::NotRegular, detail::kNotRegularReason};
}

// A folder or a device name (COM1, NUL, a pipe): refused before opening.
bool notRegularName(const std::wstring& name) {
    const DWORD attributes = GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0;
}

// A name part that no other save of this process, and most likely no other
// process, uses: CREATE_NEW still decides.
std::wstring uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    unsigned long long mix = static_cast<unsigned long long>(ticks.QuadPart);
    mix ^= static_cast<unsigned long long>(GetCurrentProcessId()) << 32;
    mix ^= counter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ull;
    mix ^= mix >> 29;
    std::wstring text = L".";
    for (int shift = 28; shift >= 0; shift -= 4) text += L"0123456789abcdef"[(mix >> shift) & 0xF];
    return text + L".tmp";
}

}  // namespace

FileContent readFile(const std::filesystem::path& path) {
    FileContent out;
    const std::wstring name = path.wstring();
    if (notRegularName(name)) {
        out.outcome = notRegular();
        return out;
    }
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        out.outcome = fromError(GetLastError());
        return out;
    }
    // What was opened, whatever the name looked like: a disk file, not a pipe
    // or a character device, and not a folder.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(h);
        out.outcome = notRegular();
        return out;
    }
    // The size is a first guess: the file may grow or shrink while it is read.
    const unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) bytes.resize(bytes.size() + bytes.size() / 2 + 4096);
        const std::size_t room = bytes.size() - done;
        const DWORD chunk = room > 0x40000000u ? 0x40000000u : static_cast<DWORD>(room);
        DWORD got = 0;
        if (!ReadFile(h, bytes.data() + done, chunk, &got, nullptr)) {
            out.outcome = fromError(GetLastError());
            CloseHandle(h);
            return out;
        }
        if (got == 0) break;
        done += got;
    }
    CloseHandle(h);
    bytes.resize(done);
    out.bytes = std::move(bytes);
    return out;
}

FileOutcome writeFileReplacing(const std::filesystem::path& path,
                               std::span<const std::uint8_t> bytes) {
    const std::wstring target = path.wstring();
    if (notRegularName(target)) return notRegular();
    // A new file of a name not in use: CREATE_NEW fails rather than take over
    // an existing file, and another name is tried.
    std::wstring tmp;
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < 64 && h == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = target + uniqueSuffix();
        h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
        if (h != INVALID_HANDLE_VALUE) break;
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return fromError(error);
    }
    if (h == INVALID_HANDLE_VALUE) return fromError(error);
    error = ERROR_SUCCESS;
    std::size_t done = 0;
    while (error == ERROR_SUCCESS && done < bytes.size()) {
        DWORD written = 0;
        const std::size_t rest = bytes.size() - done;
        const DWORD chunk = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr))
            error = GetLastError();
        else if (written == 0)
            error = ERROR_WRITE_FAULT;
        done += written;
    }
    if (error == ERROR_SUCCESS && !FlushFileBuffers(h)) error = GetLastError();
    if (!CloseHandle(h) && error == ERROR_SUCCESS) error = GetLastError();
    if (error == ERROR_SUCCESS && !MoveFileExW(tmp.c_str(), target.c_str(),
                                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error == ERROR_SUCCESS) return {};
    DeleteFileW(tmp.c_str());
    return fromError(error);
}

}  // namespace platform
