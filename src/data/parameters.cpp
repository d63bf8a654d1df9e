#include "data/parameters.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "platform/text.h"

namespace data {

namespace {

template <class Char>
bool isBlank(Char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <class Char>
bool isDigit(Char c) {
    return c >= '0' && c <= '9';
}

template <class Char>
std::uint32_t readDecimalImpl(std::basic_string_view<Char> text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;  // unsigned: wraps modulo 2^32 by definition
    for (; i < text.size() && isDigit(text[i]); ++i)
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    return negative ? 0u - value : value;
}

char16_t asciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool equalsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

std::uint32_t readLittleEndian(const std::uint8_t* p, std::size_t n) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < n; ++k) v |= static_cast<std::uint32_t>(p[k]) << (8 * k);
    return v;
}

void writeLittleEndian(std::uint8_t* p, std::uint32_t v, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) p[k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// The clamp of textToValue: when the larger of value and minimum exceeds the
// maximum the result is the maximum; otherwise a value below the minimum gives
// the minimum.
template <class T>
T clampByRule(T value, T minimum, T maximum) {
    const T larger = value > minimum ? value : minimum;
    if (larger > maximum) return maximum;
    if (value < minimum) return minimum;
    return value;
}

template <class T>
bool within(T value, T minimum, T maximum) {
    return value >= minimum && value <= maximum;
}

}  // namespace

std::size_t typeSize(TypeCode type) {
    switch (type) {
        case TypeCode::Int16S:
        case TypeCode::Int16U:
            return 2;
        case TypeCode::Int32S:
        case TypeCode::Int32U:
            return 4;
    }
    return 0;
}

std::string_view typeName(TypeCode type) {
    switch (type) {
        case TypeCode::Int16S:
            return "INT16S";
        case TypeCode::Int16U:
            return "INT16U";
        case TypeCode::Int32S:
            return "INT32S";
        case TypeCode::Int32U:
            return "INT32U";
    }
    return "";
}

TypeCode typeFromWord(std::u16string_view word) {
    if (equalsNoCase(word, u"INT16S")) return TypeCode::Int16S;
    if (equalsNoCase(word, u"INT16U")) return TypeCode::Int16U;
    if (equalsNoCase(word, u"INT32S")) return TypeCode::Int32S;
    if (equalsNoCase(word, u"INT32U")) return TypeCode::Int32U;
    return TypeCode::Int16S;
}

std::u16string valueToText(TypeCode type, std::uint32_t value) {
    std::string narrow;
    switch (type) {
        case TypeCode::Int16S:
            narrow = std::to_string(static_cast<std::int16_t>(static_cast<std::uint16_t>(value)));
            break;
        case TypeCode::Int16U:
            narrow = std::to_string(static_cast<std::uint16_t>(value));
            break;
        case TypeCode::Int32S:
        case TypeCode::Int32U:
            narrow = std::to_string(static_cast<std::int32_t>(value));
            break;
        default:
            return {};
    }
    return std::u16string(narrow.begin(), narrow.end());
}

std::size_t bytesToValue(TypeCode type, std::uint32_t& field,
                         std::span<const std::uint8_t> source) {
    const std::size_t n = typeSize(type);
    if (n == 0 || source.size() < n) return 0;
    const std::uint32_t v = readLittleEndian(source.data(), n);
    field = n == 2 ? ((field & 0xFFFF0000u) | v) : v;
    return n;
}

std::size_t bytesToValue(TypeCode type, std::atomic<std::uint32_t>& field,
                         std::span<const std::uint8_t> source) {
    std::uint32_t v = field.load(std::memory_order_relaxed);
    const std::size_t n = bytesToValue(type, v, source);
    if (n != 0) field.store(v, std::memory_order_relaxed);
    return n;
}

std::size_t valueBytes(TypeCode type, std::uint32_t value, std::span<std::uint8_t> destination) {
    const std::size_t n = typeSize(type);
    if (n == 0 || destination.size() < n) return 0;
    writeLittleEndian(destination.data(), value, n);
    return n;
}

std::size_t textToValue(TypeCode type, std::uint32_t minimum, std::uint32_t maximum,
                        std::u16string_view text, std::span<std::uint8_t> destination) {
    const std::size_t n = typeSize(type);
    if (n == 0 || destination.size() < n) return 0;
    // A minus sign on an unsigned type converts to nothing.
    if ((type == TypeCode::Int16U || type == TypeCode::Int32U) && !text.empty() && text[0] == u'-')
        return 0;
    // Narrow text in a 20-byte buffer (19 bytes and the terminator).
    // Every character takes at least one narrow byte, so 19 characters suffice.
    constexpr std::size_t kBufferBytes = 20;
    std::string narrow = platform::wideToNarrow(text.substr(0, kBufferBytes - 1));
    if (narrow.size() > kBufferBytes - 1) narrow.resize(kBufferBytes - 1);
    if (const auto nul = narrow.find('\0'); nul != std::string::npos) narrow.resize(nul);
    const std::uint32_t raw = readDecimal(std::string_view(narrow));
    // Read as a decimal, then clamped within the type's own width.
    std::uint32_t result = 0;
    switch (type) {
        case TypeCode::Int16S:
            result = static_cast<std::uint16_t>(
                clampByRule(static_cast<std::int16_t>(static_cast<std::uint16_t>(raw)),
                            static_cast<std::int16_t>(static_cast<std::uint16_t>(minimum)),
                            static_cast<std::int16_t>(static_cast<std::uint16_t>(maximum))));
            break;
        case TypeCode::Int16U:
            result =
                clampByRule(static_cast<std::uint16_t>(raw), static_cast<std::uint16_t>(minimum),
                            static_cast<std::uint16_t>(maximum));
            break;
        case TypeCode::Int32S:
            result = static_cast<std::uint32_t>(clampByRule(static_cast<std::int32_t>(raw),
                                                            static_cast<std::int32_t>(minimum),
                                                            static_cast<std::int32_t>(maximum)));
            break;
        case TypeCode::Int32U:
            result = clampByRule(raw, minimum, maximum);
            break;
    }
    writeLittleEndian(destination.data(), result, n);
    return n;
}

int checkRange(TypeCode type, std::uint32_t value, std::uint32_t minimum, std::uint32_t maximum) {
    switch (type) {
        case TypeCode::Int16S: {
            auto s = [](std::uint32_t v) {
                return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
            };
            return within(s(value), s(minimum), s(maximum)) ? 0 : -1;
        }
        case TypeCode::Int16U: {
            auto u = [](std::uint32_t v) { return static_cast<std::uint16_t>(v); };
            return within(u(value), u(minimum), u(maximum)) ? 0 : -2;
        }
        case TypeCode::Int32S: {
            auto s = [](std::uint32_t v) { return static_cast<std::int32_t>(v); };
            return within(s(value), s(minimum), s(maximum)) ? 0 : -3;
        }
        case TypeCode::Int32U:
            return within(value, minimum, maximum) ? 0 : -4;
    }
    return 0;
}

std::uint32_t readDecimal(std::u16string_view text) {
    return readDecimalImpl(text);
}
std::uint32_t readDecimal(std::string_view text) {
    return readDecimalImpl(text);
}

double readReal(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Collect "digits[.digits][e[sign]digits]" as ASCII and keep a rough decimal
    // magnitude, to tell overflow from underflow when from_chars refuses.
    std::string number;
    long long magnitude = 0;  // position of the first significant digit
    bool significant = false;
    bool anyDigit = false;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        anyDigit = true;
        if (text[i] != u'0') significant = true;
        if (significant && magnitude < 100000) ++magnitude;
        number.push_back(static_cast<char>(text[i]));
    }
    if (i < text.size() && text[i] == u'.') {
        std::size_t j = i + 1;
        std::string fraction;
        for (; j < text.size() && isDigit(text[j]); ++j) {
            if (!significant) {
                if (text[j] != u'0')
                    significant = true;
                else if (magnitude > -100000)
                    --magnitude;
            }
            fraction.push_back(static_cast<char>(text[j]));
        }
        if (anyDigit || !fraction.empty()) {
            anyDigit = anyDigit || !fraction.empty();
            number += '.';
            number += fraction;
            i = j;
        }
    }
    if (!anyDigit) return 0.0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
            exponent.push_back(static_cast<char>(text[j++]));
        const std::size_t digitsStart = j;
        long long e = 0;
        for (; j < text.size() && isDigit(text[j]); ++j) {
            exponent.push_back(static_cast<char>(text[j]));
            if (e < 100000) e = e * 10 + (text[j] - u'0');
        }
        if (j > digitsStart) {
            number += exponent;
            magnitude += exponent.size() > 1 && exponent[1] == '-' ? -e : e;
        }
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (ec == std::errc::result_out_of_range)
        value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    else if (ec != std::errc())
        value = 0.0;
    return negative ? -value : value;
}

std::int32_t readTruncatedInt(std::u16string_view text) {
    const double v = std::trunc(readReal(text));
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

}  // namespace data
