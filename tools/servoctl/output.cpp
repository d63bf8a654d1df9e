#include "output.h"

#include <iostream>

#include "platform/text.h"

namespace servoctl {

std::string utf8(std::u16string_view text) {
    return platform::toUtf8(text);
}

nlohmann::ordered_json textJson(const data::TextRef& text) {
    if (!text.present()) return nullptr;
    return utf8(text.view());
}

std::int64_t typedValue(data::TypeCode type, std::uint32_t bits) {
    switch (type) {
        case data::TypeCode::Int16S:
            return static_cast<std::int16_t>(bits & 0xFFFF);
        case data::TypeCode::Int16U:
            return bits & 0xFFFF;
        case data::TypeCode::Int32S:
            return static_cast<std::int32_t>(bits);
        case data::TypeCode::Int32U:
            return bits;
    }
    return static_cast<std::int32_t>(bits);
}

void printError(std::string_view subject, std::string_view problem) {
    std::cerr << "servoctl: " << subject << ": " << problem << '\n';
}

}  // namespace servoctl
