#pragma once
// Helpers of the scope page tests: language files with scope quantities at
// chosen registers, the scope page hosted on the headless backend with the
// program-wide objects it uses, the link set up as the connection page sets
// it, and servo-sim's request log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "data/language.h"
#include "data/model_sets.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "pages/scope/scope_page.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "support/language_file.h"
#include "support/program_rig.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/headless.h"

namespace scopetest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// One scope quantity row of a language file.
struct Row {
    int address = 0;
    bool wide = false;  // INT32S
    int min = -1000;
    int max = 1000;
};

// A language file with UI entries (index, text; others absent) and the scope
// rows, named "Q<address>".
inline std::u16string languageText(const std::vector<Row>& rows,
                                   const std::vector<std::pair<int, std::u16string>>& ui = {}) {
    std::u16string out = testsupport::uiTextSection(ui) + u"\r\n[<4>]\r\n";
    for (const Row& r : rows) {
        char line[128];
        std::snprintf(line, sizeof line, "#[%s][%d][Q%d][%d][%d][0]\r\n",
                      r.wide ? "INT32S" : "INT16S", r.address, r.address, r.min, r.max);
        out += platform::fromUtf8(line);
    }
    return out + u"#END\r\n";
}

// Consecutive 16-bit rows at first, first + 1, ... last.
inline std::vector<Row> rowsFrom(int first, int last) {
    std::vector<Row> rows;
    for (int a = first; a <= last; ++a) rows.push_back({a});
    return rows;
}

// Language files of these tests carry a byte-order mark, as the shipped ones do.
inline void writeUtf16(const fs::path& path, std::u16string_view text) {
    testsupport::writeUtf16(path, text, true);
}

using testsupport::TempDir;

// The scope page inside a modeless main window template on the headless
// backend, with the objects the start sequence would give it.
struct Host {
    ui::HeadlessBackend backend;
    testsupport::ProgramRig program;
    drive::DriveSession& session = program.session;
    data::LanguageData& language = program.language;
    app::AppContext& context = program.context;
    ui::Dialog main{resources::kMainDialog};
    std::unique_ptr<pages::ScopePage> page;

    // `scopeIni`: the page's settings file (none when empty).
    explicit Host(std::u16string_view languageText, const fs::path& scopeIni = {})
        : program(languageText) {
        // As the main window leaves it: 983 x 660, so that the buttons'
        // spare share s is 7.
        context.pageRect = {2, 25, 985, 685};
        context.scopeSettingsFile = scopeIni;
        page = std::make_unique<pages::ScopePage>(context);
        EXPECT_TRUE(main.createModeless());
        EXPECT_TRUE(page->create(main, 1064));
    }
    ~Host() {
        main.destroy();
        page.reset();
    }

    pages::ScopePage& p() { return *page; }

    // The first list row of the register.
    int rowOf(int address) const {
        const data::ScopeTable& list = language.scopeQuantities();
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].address == address) return static_cast<int>(i);
        ADD_FAILURE() << "no row at " << address;
        return 0;
    }

    // What the connection page does on connect to COM1 (the simulator's pty).
    void connect(std::uint16_t timeoutMs = 200, std::uint8_t retries = 5) {
        const drive::Result r = program.connect(0, {timeoutMs, retries});
        ASSERT_TRUE(r.ok()) << r.cause();
    }
    // Connected and healthy as far as the page's checks go, without a drive.
    void pretendConnected() { ASSERT_TRUE(program.connectIdleLine().ok()); }

    // The refreshes that bring the three ranges and then the time base to
    // the plot, one change per refresh.
    void settle() {
        for (int i = 0; i < 4; ++i) page->refresh();
    }
};

// The request frames servo-sim received since "log on", as hex.
inline std::vector<std::string> loggedRequests(testsupport::SimProcess& sim) {
    std::istringstream in(sim.ok("log dump"));
    std::vector<std::string> out;
    std::string word;
    in >> word;  // the count
    while (in >> word) out.push_back(word);
    return out;
}

// "read holding registers at address, count" as the request starts on the
// line for station 1 (the CRC left out).
inline std::string readRequest(int address, int count) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0103%04X%04X", address, count);
    return hex;
}

inline std::vector<std::string> withoutCrc(const std::vector<std::string>& frames) {
    std::vector<std::string> out;
    for (const std::string& f : frames) out.push_back(f.size() > 4 ? f.substr(0, f.size() - 4) : f);
    return out;
}

}  // namespace scopetest
