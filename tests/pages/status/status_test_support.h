#pragma once
// Shared by the status page tests: language file texts and the simulator's
// request log.
#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "support/sim_process.h"

namespace statustest {

// A language file text with UI entries (others absent), status items (each
// "[type][address][name][divisor][unit]") and alarms ("[code][content][cause]").
inline std::u16string languageText(const std::vector<std::pair<int, std::u16string>>& ui,
                                   const std::vector<std::u16string>& items,
                                   const std::vector<std::u16string>& alarms) {
    std::u16string text;
    if (!ui.empty()) {
        int top = 0;
        for (const auto& entry : ui) top = std::max(top, entry.first);
        text += u"[<0>]\r\n";
        for (int i = 0; i <= top; ++i) {
            std::u16string value;
            for (const auto& entry : ui)
                if (entry.first == i) value = entry.second;
            text += u"#" + platform::fromUtf8(std::to_string(i)) + u"[" + value + u"]\r\n";
        }
        text += u"#END\r\n";
    }
    const auto section = [&text](const char16_t* header, const std::vector<std::u16string>& rows) {
        if (rows.empty()) return;
        text += header;
        for (const auto& row : rows) text += u"#" + row + u"\r\n";
        text += u"#END\r\n";
    };
    section(u"[<3>]\r\n", items);
    section(u"[<5>]\r\n", alarms);
    return text;
}

// A request as the simulator logged it.
struct Request {
    int station = 0;
    int function = 0;
    int address = 0;
    int quantity = 0;
};

// The requests logged since "log on", in order.
inline std::vector<Request> loggedRequests(testsupport::SimProcess& sim) {
    std::istringstream in(sim.ok("log dump"));
    std::size_t count = 0;
    in >> count;
    std::vector<Request> requests;
    for (std::string hex; in >> hex;) {
        const auto field = [&hex](std::size_t at, std::size_t digits) {
            return hex.size() >= at + digits ? std::stoi(hex.substr(at, digits), nullptr, 16) : -1;
        };
        requests.push_back({field(0, 2), field(2, 2), field(4, 4), field(8, 4)});
    }
    if (requests.size() != count) requests.clear();
    return requests;
}

}  // namespace statustest
