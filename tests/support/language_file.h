#pragma once
// Language files made by tests: UTF-16LE text, optionally behind a byte-order
// mark, and a section 0 with chosen UI entries.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

// Section 0 with the given UI entries (index, text); entries in between are
// written empty, so they stay absent.
inline std::u16string uiTextSection(const std::vector<std::pair<int, std::u16string>>& entries) {
    int top = -1;
    for (const auto& e : entries) top = std::max(top, e.first);
    std::u16string text = u"[<0>]\r\n";
    for (int i = 0; i <= top; ++i) {
        std::u16string value;
        for (const auto& e : entries)
            if (e.first == i) value = e.second;
        const std::string number = std::to_string(i);
        text += u"#" + std::u16string(number.begin(), number.end()) + u"[" + value + u"]\r\n";
    }
    return text + u"#END\r\n";
}

// Writes the text as UTF-16LE, creating the folder; with a byte-order mark
// first when asked.
inline void writeUtf16(const std::filesystem::path& path, std::u16string_view text,
                       bool byteOrderMark = false) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (byteOrderMark) {
        out.put(static_cast<char>(0xFF));
        out.put(static_cast<char>(0xFE));
    }
    for (char16_t c : text) {
        out.put(static_cast<char>(c & 0xFF));
        out.put(static_cast<char>(c >> 8));
    }
}

}  // namespace testsupport
