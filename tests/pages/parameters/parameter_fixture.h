#pragma once
// Helpers of the parameter page tests: the program-wide objects a page gets
// (link, drive access, language, model sets), the sample language file with
// some UI texts replaced, the link set up as the connection page sets it up,
// and the simulator's request log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_context.h"
#include "app/link_state.h"
#include "data/language.h"
#include "data/model_sets.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "platform/text.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace paramtest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr auto kRelaxed = std::memory_order_relaxed;

inline fs::path distDir() {
    return fs::path(SERVO_DIST_DIR);
}

inline std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A sample language file (the English one is what servo-sim serves by
// default; the Chinese one has the same parameters), with the given section 0
// entries replaced; each must be in the file.
inline std::u16string sampleLanguage(const std::vector<std::pair<int, std::u16string>>& ui = {},
                                     const char* file = "DefineEn.cfg") {
    const std::vector<std::uint8_t> bytes = readBytes(distDir() / "Language" / file);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    for (const auto& [entry, value] : ui) {
        const std::u16string marker = u"\n#" + platform::fromUtf8(std::to_string(entry)) + u"[";
        const std::size_t at = text.find(marker);
        if (at == std::u16string::npos) throw std::runtime_error("no UI entry to replace");
        const std::size_t begin = at + marker.size();
        text.replace(begin, text.find(u']', begin) - begin, value);
    }
    return text;
}

// The objects that the start sequence makes and hands to the pages.
struct Program {
    app::LinkState link;
    modbus::ModbusMaster master;
    modbus::DriveAccess drive{master};
    data::LanguageData language;
    data::ModelValueSets models;
    std::uint32_t settingsWord = 1;
    app::AppContext context{link, drive, language, models, 0, settingsWord};

    explicit Program(std::u16string_view languageText = {}) {
        drive.initModbus();
        if (!languageText.empty()) language = data::parseLanguageText(languageText);
        // The page rectangle of the 1000 x 730 main window.
        context.pageRect = {2, 23, 985, 685};
    }
    ~Program() {
        if (link.connected.load(kRelaxed) != 0) {
            drive.selectDrive(0, 1, modbus::kFrameRtu, false);
            drive.closeLink(0);
        }
    }

    // The drive model sets of the sample family.
    void loadSampleModels() {
        ASSERT_EQ(data::loadModelTable(distDir() / "version/Servo.csv",
                                       language.parameters().size(), models),
                  1);
        context.modelTableLoaded = 1;
    }

    // What the connection page does on connect to COM1 (channel 0), station 1.
    // faultCode 0: the poll loop's probe has succeeded.
    void connect(std::uint8_t faultCode = 0, std::uint8_t retries = 5) {
        link.station.store(1, kRelaxed);
        link.channel.store(0, kRelaxed);
        link.parity.store(0, kRelaxed);
        link.baudRate.store(115200, kRelaxed);
        link.retries.store(retries, kRelaxed);
        link.timeoutMs.store(200, kRelaxed);
        ASSERT_EQ(drive.openLink(0, 115200, 8, 0, 0), modbus::kLinkSuccess) << drive.linkError(0);
        link.faultCode.store(3, kRelaxed);
        link.connected.store(1, kRelaxed);
        drive.setLinkTiming(0, 200, retries);
        drive.selectDrive(0, 1, modbus::kFrameRtu, true);
        link.faultCode.store(faultCode, kRelaxed);
    }

    // The channel's timing now.
    std::pair<int, int> timing() const {
        const modbus::ModbusChannel& c = master.channel(0);
        return {c.responseTimeoutMs.load(kRelaxed), c.retries.load(kRelaxed)};
    }

    // Index of a parameter by its number text.
    std::size_t indexOf(std::u16string_view number) const {
        const data::ParameterTable& t = language.parameters();
        for (std::size_t i = 0; i < t.size(); ++i)
            if (t[i].numberText.view() == number) return i;
        throw std::runtime_error("no such parameter");
    }
};

inline std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// The request frames (hex, CRC included) the simulator received since
// "log on", without the count.
inline std::vector<std::string> requests(testsupport::SimProcess& sim) {
    auto w = words(sim.ok("log dump"));
    if (!w.empty()) w.erase(w.begin());
    return w;
}

// Frames of one function code.
inline std::vector<std::string> withFunction(const std::vector<std::string>& frames,
                                             const char* code) {
    std::vector<std::string> out;
    for (const std::string& f : frames)
        if (f.size() >= 4 && f.compare(2, 2, code) == 0) out.push_back(f);
    return out;
}

// A parameter's value on the drive, as servo-sim reports it.
inline long long simParam(testsupport::SimProcess& sim, std::size_t index) {
    return std::stoll(sim.ok("get param " + std::to_string(index)));
}

using testsupport::TempDir;

}  // namespace paramtest
