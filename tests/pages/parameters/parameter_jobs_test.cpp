// The parameter page's drive work as jobs beside the poll loop, against
// servo-sim: the main window stays usable during an EEPROM store and waits for
// it when closed; an import reports its progress through post; and a backup
// holds values read from the drive after the connection and the last write,
// or is refused with the reason.
#include <gtest/gtest.h>

#include <set>

#include "app/main_window.h"
#include "data/value_file.h"
#include "main/page_set.h"
#include "pages/status/status_page.h"
#include "parameter_fixture.h"

namespace {

using namespace paramtest;
using app::MainWindow;
using pages::StatusPage;

// The buttons that a job of the page disables.
constexpr int kJobButtons[] = {ParameterPage::kBackupButton, ParameterPage::kLoadButton,
                               ParameterPage::kImportButton, ParameterPage::kFactoryButton,
                               ParameterPage::kEepromButton, ParameterPage::kWriteButton};

// The main window with the program's real pages.
struct Window {
    ui::HeadlessBackend backend;
    Program program;
    MainWindow window;

    explicit Window(std::u16string_view languageText)
        : program(languageText), window(program.context, servo_main::makePages) {}

    ParameterPage& parameters() { return *dynamic_cast<ParameterPage*>(window.page(1)); }
    StatusPage& status() { return *dynamic_cast<StatusPage*>(window.page(0)); }
    std::u16string statusLine() const { return window.text(MainWindow::kStatusLine); }
    bool waitFor(const std::function<bool()>& condition) {
        return testsupport::pumpUntil(backend, condition);
    }
    // Runs the window; the script connects first, as the user does (COM1,
    // 115200 bit/s, station 1), and shows the parameter tab.
    void run(const std::function<void()>& script) {
        backend.queueModalScript(resources::kMainDialog, [this, script](ui::Dialog&) {
            ASSERT_TRUE(status().userClick(StatusPage::kConnectButton));
            ASSERT_TRUE(waitFor([this] { return program.session.healthy(); }));
            window.userClickTab(MainWindow::kTabControl, 1);
            script();
            if (window.modalEnded()) return;
            window.userClose();
            EXPECT_TRUE(waitFor([this] { return window.modalEnded(); }));
        });
        window.runModal();
    }
    int progress() { return parameters().control(ParameterPage::kProgress).position(); }
};

// A parameter's value on the drive as the list would show it.
std::u16string simText(testsupport::SimProcess& sim, const data::ParameterTable& table,
                       std::size_t i) {
    return data::valueToText(table[i].typeCode, static_cast<std::uint32_t>(simParam(sim, i)));
}

class ParameterJobs : public ::testing::Test {
  protected:
    void SetUp() override { sim.exportAsCom(1); }
    testsupport::SimProcess sim{{"--no-pace", "--eeprom-ms", "1500"}};
};

// The distinct start addresses of the register reads among the frames.
std::size_t blocksRead(const std::vector<std::string>& frames) {
    std::set<std::string> starts;
    for (const std::string& f : withFunction(frames, "03")) starts.insert(f.substr(4, 4));
    return starts.size();
}

TEST_F(ParameterJobs, AnEepromStoreRunsBesideTheWindowWithItsProgress) {
    Window w(sampleLanguage({{104, u"1500"}}));
    w.run([&] {
        ParameterPage& page = w.parameters();
        ASSERT_TRUE(page.userClick(ParameterPage::kEepromButton));
        // The click has returned while the drive still stores.
        EXPECT_TRUE(page.busy());
        EXPECT_TRUE(w.backend.messages().empty());
        for (int id : kJobButtons) EXPECT_FALSE(page.control(id).isEnabled()) << id;
        // The window's ticks move the bar along the expected duration.
        ASSERT_TRUE(w.waitFor([&] {
            w.backend.advance(100);
            return w.progress() > 0;
        }));
        EXPECT_LT(w.progress(), 100);

        // The other pages stay usable meanwhile.
        ASSERT_TRUE(w.window.userClickTab(MainWindow::kTabControl, 0));
        EXPECT_EQ(w.window.visiblePage(), 0);
        ASSERT_TRUE(w.status().userClickRow(StatusPage::kStatusList, 2));
        EXPECT_EQ(w.status().control(StatusPage::kStatusList).selectionMark(), 2);
        // A disconnect would cut the store off: refused, naming it.
        ASSERT_TRUE(w.status().userClick(StatusPage::kConnectButton));
        EXPECT_TRUE(w.program.session.connected());
        ASSERT_EQ(w.backend.messages().size(), 1u);
        EXPECT_NE(w.backend.messages()[0].text.find(u"\"EEPROM store\" is still running"),
                  std::u16string::npos);
        EXPECT_TRUE(page.busy()) << "all of this happened during the store";

        ASSERT_TRUE(w.waitFor([&] { return !page.busy(); }));
        ASSERT_EQ(w.backend.messages().size(), 2u);
        EXPECT_MESSAGE(w.backend.messages()[1], u"Drive parameters saved to EEPROM!", u"Success",
                       Icon::Exclamation);
        EXPECT_EQ(w.progress(), 100);
        for (int id : kJobButtons) EXPECT_TRUE(page.control(id).isEnabled()) << id;
    });
}

TEST_F(ParameterJobs, ClosingWaitsForTheStoreAndSaysWhatItWaitsFor) {
    Window w(sampleLanguage({{104, u"1500"}}));
    const std::size_t speed = w.program.indexOf(u"P03.01");
    sim.ok("set param " + std::to_string(speed) + " 321");
    w.run([&] {
        ASSERT_TRUE(w.parameters().userClick(ParameterPage::kEepromButton));
        w.window.userClose();
        EXPECT_FALSE(w.window.modalEnded());
        EXPECT_EQ(w.statusLine(), u"Closing: waiting for \"EEPROM store\" to finish...");
        // The poll thread's texts do not replace it.
        w.backend.advance(500);
        EXPECT_EQ(w.statusLine(), u"Closing: waiting for \"EEPROM store\" to finish...");
        EXPECT_TRUE(w.waitFor([&] { return w.window.modalEnded(); }));
    });
    // The store was finished and its outcome shown before the window went.
    EXPECT_EQ(sim.ok("get eeprom " + std::to_string(speed)), "321");
    ASSERT_EQ(w.backend.messages().size(), 1u);
    EXPECT_EQ(w.backend.messages()[0].caption, u"Success");
    EXPECT_FALSE(w.window.pollThreadRunning());
}

// --- On the page alone

class ParameterPageJobs : public ::testing::Test {
  protected:
    void SetUp() override { sim.exportAsCom(1); }
    // Paced at the line speed: an import takes long enough to watch.
    testsupport::SimProcess sim{{"--eeprom-ms", "100"}};
};

TEST_F(ParameterPageJobs, AnImportReportsItsProgressThroughPost) {
    TempDir dir;
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    rig.program.connect();
    // A file of values that differ from the drive's where the range allows.
    data::ParameterTable& table = rig.program.language.parameters();
    for (auto& p : table) {
        const std::uint32_t up = p.factoryValue + 1;
        p.driveValue.store(
            data::checkRange(p.typeCode, up, p.minimum, p.maximum) == 0 ? up : p.factoryValue,
            kRelaxed);
    }
    ASSERT_EQ(data::saveValueFile(dir.path() / "file.dat", table), 1);
    rig.backend.queueFileAnswer(platform::fromUtf8((dir.path() / "file.dat").string()));
    page.loadFromFile();

    rig.backend.queueAnswer(true);
    ASSERT_TRUE(page.userClick(ParameterPage::kImportButton));
    EXPECT_TRUE(page.busy());
    EXPECT_FALSE(page.control(ParameterPage::kImportButton).isEnabled());
    std::set<int> seen;
    ASSERT_TRUE(testsupport::pumpUntil(rig.backend, [&] {
        seen.insert(rig.progress());
        return !page.busy();
    }));
    EXPECT_GE(seen.size(), 4u) << "progress in steps, not only at the end";
    EXPECT_EQ(rig.progress(), 100);
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_EQ(rig.messages()[0].caption, u"Success");
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!table[i].writable()) continue;
        EXPECT_EQ(simText(sim, table, i),
                  data::valueToText(table[i].typeCode, table[i].fileValue.load(kRelaxed)))
            << i;
    }
}

TEST_F(ParameterPageJobs, APageThatGoesWhileItsJobRunsWaitsForItAndDropsItsEnd) {
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    rig.program.connect();
    const std::size_t speed = rig.program.indexOf(u"P03.01");
    sim.ok("set param " + std::to_string(speed) + " 77");
    ASSERT_TRUE(page.userClick(ParameterPage::kEepromButton));
    ASSERT_TRUE(page.busy());
    // The window and then the object go with the store under way.
    page.destroy();
    rig.page.reset();
    EXPECT_FALSE(rig.program.jobs.busy()) << "the page went before its job had ended";
    EXPECT_EQ(sim.ok("get eeprom " + std::to_string(speed)), "77");
    // The end, already posted, finds no page and shows nothing.
    rig.backend.pumpPosted();
    EXPECT_TRUE(rig.messages().empty());
    EXPECT_EQ(rig.program.context.jobsInFlight, 0);
}

// The values of a backup file, one per parameter.
std::vector<std::uint32_t> backupValues(const fs::path& file, std::size_t count) {
    data::ParameterTable copy(count);
    if (data::loadValueFile(file, copy.span()) != 1) return {};
    std::vector<std::uint32_t> values;
    for (const auto& p : copy) values.push_back(p.fileValue.load(kRelaxed));
    return values;
}

TEST_F(ParameterPageJobs, ABackupRightAfterConnectReadsTheDriveFirst) {
    TempDir dir;
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    data::ParameterTable& table = rig.program.language.parameters();
    // Drive values that are neither zero nor the factory values.
    for (std::size_t i = 0; i < table.size(); ++i)
        sim.ok("set param " + std::to_string(i) + " " + std::to_string(i % 7 + 2));
    // Connected and probed, but no parameter read yet.
    rig.program.connect();
    const fs::path file = dir.path() / "after-connect.dat";
    sim.ok("log on");
    rig.backend.queueFileAnswer(platform::fromUtf8(file.string()));
    ASSERT_TRUE(page.userClick(ParameterPage::kBackupButton));
    rig.settle();
    EXPECT_TRUE(rig.messages().empty());
    // Counted by block, not by request: a garbled answer on a loaded machine
    // makes the master send a block again.
    EXPECT_EQ(blocksRead(requests(sim)), 9u) << "the whole table read first";
    EXPECT_EQ(rig.progress(), 100);
    const auto values = backupValues(file, table.size());
    ASSERT_EQ(values.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_EQ(data::valueToText(table[i].typeCode, values[i]), simText(sim, table, i)) << i;

    // A write makes that read stale: the next backup reads again and holds
    // the written value.
    const std::size_t speed = rig.program.indexOf(u"P03.01");
    rig.write(speed, u"250");
    sim.ok("log on");
    rig.backend.queueFileAnswer(platform::fromUtf8(file.string()));
    ASSERT_TRUE(page.userClick(ParameterPage::kBackupButton));
    rig.settle();
    EXPECT_EQ(blocksRead(requests(sim)), 9u);
    EXPECT_EQ(data::valueToText(table[speed].typeCode, backupValues(file, table.size())[speed]),
              u"250");
}

TEST_F(ParameterPageJobs, ABackupWithoutAnAnswerIsRefusedWithTheReasonAndWritesNothing) {
    TempDir dir;
    Rig rig(sampleLanguage());
    ParameterPage& page = rig.open();
    rig.program.connect(0, 0);
    sim.ok("noanswer on");
    const fs::path file = dir.path() / "silent.dat";
    rig.backend.queueFileAnswer(platform::fromUtf8(file.string()));
    ASSERT_TRUE(page.userClick(ParameterPage::kBackupButton));
    rig.settle();
    EXPECT_FALSE(fs::exists(file));
    ASSERT_EQ(rig.messages().size(), 1u);
    const std::string text = platform::toUtf8(rig.messages()[0].text);
    EXPECT_EQ(text.rfind("Backing up the parameters failed!\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("no answer from station 1"), std::string::npos) << text;
}

}  // namespace
