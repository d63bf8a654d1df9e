#if defined(_MSC_VER) && !defined(_CRT_SECURE_NO_WARNINGS)
#define _CRT_SECURE_NO_WARNINGS  // std::getenv
#endif

#include <cctype>
#include <cstdlib>

#include "platform/file_io.h"
#include "platform/program_dir.h"
#include "platform/serial.h"

namespace platform {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> findPortInConfig(std::string_view configText, unsigned n) {
    const std::string wanted = "COM" + std::to_string(n);
    while (!configText.empty()) {
        const std::size_t end = configText.find('\n');
        std::string_view line = trim(configText.substr(0, end));
        configText =
            end == std::string_view::npos ? std::string_view{} : configText.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        if (!equalsNoCase(trim(line.substr(0, eq)), wanted)) continue;
        const std::string_view device = trim(line.substr(eq + 1));
        if (device.empty()) continue;
        return std::string(device);
    }
    return std::nullopt;
}

std::optional<std::string> findPortInConfigFile(const std::filesystem::path& file, unsigned n) {
    const auto bytes = readWholeFile(file);
    if (!bytes) return std::nullopt;
    return findPortInConfig(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), n);
}

std::string comDevicePath(unsigned n) {
    const std::string variable = "SERVO_COM" + std::to_string(n);
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0')
        return value;
    if (auto device = findPortInConfigFile(programFile("ports.cfg"), n)) return *device;
    return defaultComDevicePath(n);
}

void SerialPort::fail(std::string_view what, const std::string& reason) {
    error_.assign(what);
    error_ += ' ';
    error_ += path_;
    error_ += ": ";
    error_ += reason;
}

}  // namespace platform
