#include <windows.h>

#include "platform/text.h"

namespace platform {

std::u16string narrowToWide(std::string_view narrow) {
    if (narrow.empty()) return {};
    int n =
        MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), w.data(), n);
    return std::u16string(w.begin(), w.end());
}

std::string wideToNarrow(std::u16string_view wide) {
    if (wide.empty()) return {};
    std::wstring w(wide.begin(), wide.end());
    int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

}  // namespace platform
