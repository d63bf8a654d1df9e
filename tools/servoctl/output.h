#pragma once
// Shared output helpers of servoctl: UTF-8 conversion, JSON of texts, errors.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "data/parameters.h"
#include "data/text_ref.h"

namespace servoctl {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInvalid = 1;  // refused or invalid file, failed exchange
inline constexpr int kExitUsage = 2;

std::string utf8(std::u16string_view text);
// null for an absent text, the UTF-8 string otherwise (also "").
nlohmann::ordered_json textJson(const data::TextRef& text);
// The number that the type gives the stored bits: INT16S and INT32S signed,
// INT16U and INT32U unsigned (16-bit types use the low half only).
std::int64_t typedValue(data::TypeCode type, std::uint32_t bits);

// One line on stderr: "servoctl: <subject>: <problem>".
void printError(std::string_view subject, std::string_view problem);

}  // namespace servoctl
