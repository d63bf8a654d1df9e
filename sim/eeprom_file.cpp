#include "eeprom_file.h"

#include <charconv>
#include <system_error>
#include <vector>

#include "platform/file_io.h"

namespace sim {

namespace {

constexpr std::string_view kHeader = "servo-sim-eeprom 1";

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

template <class T>
bool parseNumber(std::string_view text, T& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

std::string formatEeprom(const EepromValues& values) {
    std::string out(kHeader);
    out += "\n# register value\n";
    for (const auto& [address, value] : values)
        out += std::to_string(address) + " " + std::to_string(value) + "\n";
    return out;
}

std::optional<EepromValues> parseEeprom(std::string_view text, std::string& error) {
    EepromValues values;
    bool headerSeen = false;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        std::size_t eol = text.find('\n');
        std::string_view line = trim(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        if (!headerSeen) {
            if (line != kHeader) {
                error = "line " + std::to_string(lineNumber) + ": expected \"" +
                        std::string(kHeader) + "\"";
                return std::nullopt;
            }
            headerSeen = true;
            continue;
        }
        std::size_t space = line.find_first_of(" \t");
        std::uint16_t address = 0;
        std::uint32_t value = 0;
        if (space == std::string_view::npos || !parseNumber(line.substr(0, space), address) ||
            !parseNumber(trim(line.substr(space)), value)) {
            error = "line " + std::to_string(lineNumber) + ": expected \"<register> <value>\"";
            return std::nullopt;
        }
        if (!values.emplace(address, value).second) {
            error = "line " + std::to_string(lineNumber) + ": register " + std::to_string(address) +
                    " given twice";
            return std::nullopt;
        }
    }
    if (!headerSeen) {
        error = "no \"" + std::string(kHeader) + "\" header";
        return std::nullopt;
    }
    return values;
}

std::optional<EepromValues> readEepromFile(const std::filesystem::path& path, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) return EepromValues{};
    auto bytes = platform::readWholeFile(path);
    if (!bytes) {
        error = "cannot read " + path.string();
        return std::nullopt;
    }
    std::string text(bytes->begin(), bytes->end());
    auto values = parseEeprom(text, error);
    if (!values) error = path.string() + ": " + error;
    return values;
}

bool writeEepromFile(const std::filesystem::path& path, const EepromValues& values,
                     std::string& error) {
    std::string text = formatEeprom(values);
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (!platform::replaceFile(path, bytes)) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

}  // namespace sim
