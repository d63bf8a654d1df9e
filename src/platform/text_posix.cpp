#include <iconv.h>

#include <cerrno>
#include <vector>

#include "platform/text.h"

namespace platform {

namespace {

std::u16string gb18030ToWide(std::string_view narrow) {
    std::u16string out;
    iconv_t cd = iconv_open("UTF-16LE", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) return fromUtf8(narrow);  // no converter: best effort
    std::vector<char> buffer(narrow.size() * 4 + 8);
    std::size_t i = 0;
    while (i < narrow.size()) {
        char* in = const_cast<char*>(narrow.data() + i);
        std::size_t inLeft = narrow.size() - i;
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        std::size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const std::size_t produced = buffer.size() - outLeft;
        for (std::size_t k = 0; k + 1 < produced; k += 2) {
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(buffer[k]) |
                                                (static_cast<unsigned char>(buffer[k + 1]) << 8)));
        }
        i = narrow.size() - inLeft;
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // Invalid or truncated sequence: replace one byte and go on.
            out.push_back(u'\uFFFD');
            ++i;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::u16string narrowToWide(std::string_view narrow) {
    if (isValidUtf8(narrow)) return fromUtf8(narrow);
    return gb18030ToWide(narrow);
}

std::string wideToNarrow(std::u16string_view wide) {
    return toUtf8(wide);
}

}  // namespace platform
