#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <devguid.h>
// clang-format on

#include <algorithm>
#include <map>

#include "platform/port_list.h"
#include "platform/serial.h"

namespace platform {
namespace {

std::string utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
    return text;
}

// COMn -> n, for sorting; 0 for other names.
unsigned long comNumber(const std::string& name) {
    if (name.size() < 4 || _strnicmp(name.c_str(), "COM", 3) != 0) return 0;
    return std::strtoul(name.c_str() + 3, nullptr, 10);
}

// The port names the system has now: HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
// whose values map a driver's device object to "COMn".
std::vector<std::string> serialCommNames() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameLength = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataBytes / sizeof(wchar_t)] = L'\0';
        names.push_back(utf8(data));
    }
    RegCloseKey(key);
    return names;
}

// Friendly names of the Ports device class ("USB Serial Port (COM7)") by the
// port name their PortName value gives.
std::map<std::string, std::string> friendlyNames() {
    std::map<std::string, std::string> names;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t port[64];
        DWORD bytes = sizeof(port) - sizeof(wchar_t);
        DWORD type = 0;
        const bool named =
            RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port),
                             &bytes) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        if (!named) continue;
        port[bytes / sizeof(wchar_t)] = L'\0';
        wchar_t friendly[256];
        if (SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(friendly),
                                              sizeof(friendly) - sizeof(wchar_t), nullptr))
            names.emplace(utf8(port), utf8(friendly));
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

}  // namespace

std::vector<SerialPortInfo> listSerialPorts() {
    std::vector<std::string> names = serialCommNames();
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return comNumber(a) != comNumber(b) ? comNumber(a) < comNumber(b) : a < b;
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    const auto friendly = friendlyNames();
    std::vector<SerialPortInfo> ports;
    for (const std::string& name : names) {
        SerialPortInfo port;
        port.device = name;
        if (const auto found = friendly.find(name); found != friendly.end())
            port.description = found->second;
        for (unsigned n = 1; n <= 6; ++n) {
            const std::string mapped = comDevicePath(n);
            if (_stricmp(mapped.c_str(), name.c_str()) == 0 ||
                _stricmp(mapped.c_str(), ("\\\\.\\" + name).c_str()) == 0)
                port.comAliases.push_back("COM" + std::to_string(n));
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

// Windows has no device tree to read: the fake-root listing is Linux only.
std::vector<SerialPortInfo> listSerialPortsUnder(const std::filesystem::path&) {
    return {};
}

}  // namespace platform
