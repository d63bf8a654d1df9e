#include "ports.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "output.h"
#include "platform/port_list.h"

namespace servoctl {

int runPorts(bool asJson, const std::string& root) {
    const std::vector<platform::SerialPortInfo> ports =
        root.empty() ? platform::listSerialPorts() : platform::listSerialPortsUnder(root);
    if (asJson) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto& p : ports) {
            nlohmann::ordered_json entry;
            entry["device"] = p.device;
            entry["stable_name"] = p.stableName;
            entry["description"] = p.description;
            entry["vendor_id"] = p.vendorId;
            entry["product_id"] = p.productId;
            entry["serial_number"] = p.serialNumber;
            entry["com"] = p.comAliases;
            list.push_back(std::move(entry));
        }
        std::cout << list.dump(2) << '\n';
        return kExitOk;
    }
    if (ports.empty()) std::cerr << "servoctl: ports: no serial port found\n";
    for (const auto& p : ports) {
        std::cout << p.device;
        if (!p.description.empty()) std::cout << "  " << p.description;
        if (!p.stableName.empty()) std::cout << "  " << p.stableName;
        for (const auto& com : p.comAliases) std::cout << "  [" << com << "]";
        std::cout << '\n';
    }
    return kExitOk;
}

}  // namespace servoctl
