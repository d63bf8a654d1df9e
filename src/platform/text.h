#pragma once
#include <string>
#include <string_view>

namespace platform {

// Narrow text of the system code page to UTF-16. On POSIX the narrow text is
// taken as UTF-8 when it is valid UTF-8, else as GB18030 (files written on
// Chinese Windows systems); undecodable bytes become U+FFFD. On Windows it is
// the ANSI code page.
std::u16string narrowToWide(std::string_view narrow);

// UTF-16 to narrow text of the system code page (UTF-8 on POSIX). Unpaired
// surrogates become '?'.
std::string wideToNarrow(std::u16string_view wide);

// Portable UTF-8 <-> UTF-16 conversions for tools and tests.
std::string toUtf8(std::u16string_view wide);
std::u16string fromUtf8(std::string_view utf8);
bool isValidUtf8(std::string_view bytes);

}  // namespace platform
