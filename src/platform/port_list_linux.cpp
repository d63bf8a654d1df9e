#include <algorithm>
#include <fstream>
#include <map>
#include <string_view>
#include <system_error>

#include "platform/port_list.h"
#include "platform/serial.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, or empty.
std::string readAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (in) std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// ttyUSB3 -> (0, 3): USB adapters first, then ACM, then the fixed ports.
std::pair<int, long> sortKey(const std::string& name) {
    static constexpr std::string_view kinds[] = {"ttyUSB", "ttyACM", "ttyS"};
    for (int k = 0; k < 3; ++k) {
        if (!startsWith(name, kinds[k])) continue;
        const std::string digits = name.substr(kinds[k].size());
        long n = 0;
        for (char c : digits) n = n * 10 + (c - '0');
        return {k, n};
    }
    return {3, 0};
}

bool isPortName(const std::string& name) {
    for (std::string_view kind : {"ttyUSB", "ttyACM", "ttyS"}) {
        if (!startsWith(name, kind) || name.size() == kind.size()) continue;
        return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kind.size()), name.end(),
                           [](char c) { return c >= '0' && c <= '9'; });
    }
    return false;
}

// The USB device above a tty's device folder: the first ancestor holding
// idVendor (ttyUSB sits two levels below it, ttyACM one).
fs::path usbDeviceOf(const fs::path& ttyDevice, const fs::path& sysRoot) {
    std::error_code ec;
    fs::path dir = fs::canonical(ttyDevice, ec);
    if (ec) return {};
    for (int up = 0; up < 5 && !dir.empty() && dir != dir.root_path(); ++up) {
        if (fs::exists(dir / "idVendor", ec)) return dir;
        if (dir == sysRoot) break;
        dir = dir.parent_path();
    }
    return {};
}

// A ttyS port is listed only when a driver backs it with a UART: the serial
// core reports type 0 for the placeholders that every PC kernel creates.
bool backedByHardware(const fs::path& classDir) {
    std::error_code ec;
    if (!fs::exists(classDir / "device", ec)) return false;
    const fs::path type = classDir / "type";
    if (!fs::exists(type, ec)) return true;
    return readAttribute(type) != "0";
}

void addDescription(SerialPortInfo& port, const fs::path& usb) {
    port.vendorId = readAttribute(usb / "idVendor");
    port.productId = readAttribute(usb / "idProduct");
    port.serialNumber = readAttribute(usb / "serial");
    std::string text = readAttribute(usb / "manufacturer");
    const std::string product = readAttribute(usb / "product");
    if (!product.empty()) text += (text.empty() ? "" : " ") + product;
    std::string ids = port.vendorId + ":" + port.productId;
    if (!port.serialNumber.empty()) ids += ", serial " + port.serialNumber;
    port.description = text.empty() ? "USB serial adapter (" + ids + ")" : text + " (" + ids + ")";
}

// /dev/serial/by-id entries by the device name they point at.
std::map<std::string, std::string> stableNames(const fs::path& root) {
    std::map<std::string, std::string> names;
    std::error_code ec;
    const fs::path byId = root / "dev" / "serial" / "by-id";
    for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_symlink(ec)) continue;
        const fs::path target = fs::read_symlink(it->path(), ec);
        if (ec) continue;
        names.emplace(target.filename().string(),
                      "/dev/serial/by-id/" + it->path().filename().string());
    }
    return names;
}

// The program's own names for the listed ports: COM1 to COM6, the choices of
// its connection page, through the same mapping that opening uses.
void addComAliases(std::vector<SerialPortInfo>& ports, const fs::path& root) {
    const auto inRoot = [&](const std::string& path) {
        std::error_code ec;
        fs::path real = fs::canonical(root / fs::path(path).relative_path(), ec);
        return ec ? fs::path{} : real;
    };
    for (unsigned n = 1; n <= 6; ++n) {
        const std::string mapped = comDevicePath(n);
        const fs::path real = inRoot(mapped);
        for (SerialPortInfo& port : ports) {
            if (mapped == port.device || mapped == port.stableName ||
                (!real.empty() && inRoot(port.device) == real))
                port.comAliases.push_back("COM" + std::to_string(n));
        }
    }
}

}  // namespace

std::vector<SerialPortInfo> listSerialPortsUnder(const fs::path& root) {
    std::vector<SerialPortInfo> ports;
    std::error_code ec;
    const fs::path sysRoot = root / "sys";
    const fs::path classRoot = sysRoot / "class" / "tty";
    const auto byId = stableNames(root);
    std::vector<std::string> names;
    for (fs::directory_iterator it(classRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (isPortName(name) && fs::exists(root / "dev" / name, ec)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return sortKey(a) < sortKey(b); });
    for (const std::string& name : names) {
        const fs::path classDir = classRoot / name;
        const bool fixed = startsWith(name, "ttyS");
        if (fixed && !backedByHardware(classDir)) continue;
        SerialPortInfo port;
        port.device = "/dev/" + name;
        if (const auto found = byId.find(name); found != byId.end())
            port.stableName = found->second;
        if (const fs::path usb = usbDeviceOf(classDir / "device", sysRoot); !usb.empty())
            addDescription(port, usb);
        else if (fixed)
            port.description = "Serial port";
        ports.push_back(std::move(port));
    }
    addComAliases(ports, root);
    return ports;
}

std::vector<SerialPortInfo> listSerialPorts() {
    return listSerialPortsUnder("/");
}

}  // namespace platform
