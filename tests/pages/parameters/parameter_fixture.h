#pragma once
// Helpers of the parameter page tests: the program-wide objects a page gets
// (session, job runner, language, model sets), the sample language file with
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
#include "data/language.h"
#include "data/model_sets.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "pages/parameters/parameter_page.h"
#include "platform/text.h"
#include "support/program_rig.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/headless.h"

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
struct Program : testsupport::ProgramRig {
    explicit Program(std::u16string_view languageText = {}) : ProgramRig(languageText) {
        // The page rectangle of the 1000 x 730 main window.
        context.pageRect = {2, 23, 985, 685};
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
        const drive::Result r = ProgramRig::connect(faultCode, {200, retries});
        ASSERT_TRUE(r.ok()) << r.cause();
    }
    // A fault flagged on the connected link, as a failed poll leaves it.
    void flagFault(std::uint8_t code) { session.noteFault(session.generation(), code); }

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

using pages::ParameterPage;
using testsupport::TempDir;
using Icon = ui::MessageIcon;

// The page hosted as a modeless window on the headless backend.
struct Rig {
    ui::HeadlessBackend backend;
    Program program;
    std::unique_ptr<ParameterPage> page;

    explicit Rig(std::u16string_view languageText = {}) : program(languageText) {}
    ~Rig() {
        if (page && page->exists()) page->destroy();
        page.reset();
    }
    ParameterPage& open() {
        page = std::make_unique<ParameterPage>(program.context);
        EXPECT_TRUE(page->createModeless());
        return *page;
    }
    // Runs the user interface thread's posted work until the page's job has
    // ended and shown its outcome.
    void settle() {
        ASSERT_TRUE(testsupport::pumpUntil(backend, [this] { return !page->busy(); }))
            << "the job did not end";
    }
    ui::Control& list() { return page->control(ParameterPage::kList); }
    std::u16string cell(std::size_t row, int column) {
        return list().cellText(static_cast<int>(row), column);
    }
    // The user selects a row; the next tick shows it.
    void select(std::size_t row) {
        ASSERT_TRUE(page->userSelectRow(ParameterPage::kList, static_cast<int>(row)));
        page->refreshView();
    }
    // Selects the row, types the text and presses "确认修改".
    void write(std::size_t row, std::u16string_view text) {
        select(row);
        ASSERT_TRUE(page->userType(ParameterPage::kNewValue, text));
        ASSERT_TRUE(page->userClick(ParameterPage::kWriteButton));
        settle();
    }
    // One poll and one tick.
    void pollAndRefresh() {
        ASSERT_EQ(page->readDriveValues(), 0);
        page->refreshView();
    }
    // The message boxes shown, without the questions asked.
    std::vector<ui::HeadlessBackend::Message> messages() const {
        std::vector<ui::HeadlessBackend::Message> out;
        for (const auto& m : backend.messages())
            if (!m.question) out.push_back(m);
        return out;
    }
    std::vector<ui::HeadlessBackend::Message> questions() const {
        std::vector<ui::HeadlessBackend::Message> out;
        for (const auto& m : backend.messages())
            if (m.question) out.push_back(m);
        return out;
    }
    int progress() { return page->control(ParameterPage::kProgress).position(); }
};

inline ::testing::AssertionResult isMessage(const ui::HeadlessBackend::Message& m,
                                            std::u16string_view text, std::u16string_view caption,
                                            Icon icon) {
    if (m.text == text && m.caption == caption && m.icon == icon)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "message \"" << platform::toUtf8(m.text) << "\" / \"" << platform::toUtf8(m.caption)
           << "\" / icon " << static_cast<int>(m.icon);
}
#define EXPECT_MESSAGE(m, ...) EXPECT_TRUE(isMessage((m), __VA_ARGS__))

}  // namespace paramtest
