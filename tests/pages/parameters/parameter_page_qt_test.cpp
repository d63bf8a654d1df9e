// The parameter page end to end: the main window on the Qt backend
// (offscreen) with its poll thread and timer, the page as tab 1, servo-sim on
// a pseudo-terminal as COM1. The test acts as the user on the page's widgets;
// only the toolkit's standard message and file dialogs are answered by the
// test instead of a person.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <memory>
#include <optional>
#include <thread>

#include "app/main_window.h"
#include "data/value_file.h"
#include "pages/parameters/parameter_page.h"
#include "parameter_fixture.h"
#include "ui/qt/qt_backend.h"

namespace {

using namespace paramtest;
using app::MainWindow;
using pages::ParameterPage;

// Windows, timers and posted tasks of the Qt backend; message boxes recorded
// and file dialogs answered from a queue.
class ScriptedDialogs final : public ui::Backend {
  public:
    explicit ScriptedDialogs(ui::qt::QtBackend& qt) : qt_(qt) {}

    std::unique_ptr<ui::WindowView> createView(ui::Dialog& d) override { return qt_.createView(d); }
    void runModalLoop(ui::Dialog& d) override { qt_.runModalLoop(d); }
    int messageBox(std::u16string_view text, std::u16string_view caption,
                   ui::MessageIcon icon) override {
        messages.push_back({std::u16string(text), std::u16string(caption), icon});
        return ui::kIdOk;
    }
    bool askYesNo(std::u16string_view text, std::u16string_view caption) override {
        questions.push_back({std::u16string(text), std::u16string(caption), ui::MessageIcon::None});
        const bool yes = !confirmAnswers.empty() && confirmAnswers.front();
        if (!confirmAnswers.empty()) confirmAnswers.pop_front();
        return yes;
    }
    std::optional<std::u16string> fileDialog(const ui::FileDialogRequest& request) override {
        requests.push_back(request);
        if (answers.empty()) return std::nullopt;
        std::optional<std::u16string> a = answers.front();
        answers.pop_front();
        return a;
    }
    void post(std::function<void()> task) override { qt_.post(std::move(task)); }
    std::unique_ptr<ui::DrawContext> createMemoryContext(ui::Size size) override {
        return qt_.createMemoryContext(size);
    }
    ui::Rect workArea() const override { return qt_.workArea(); }

    struct Message {
        std::u16string text;
        std::u16string caption;
        ui::MessageIcon icon;
    };
    std::vector<Message> messages;
    std::vector<Message> questions;
    std::deque<bool> confirmAnswers;
    std::deque<std::optional<std::u16string>> answers;
    std::vector<ui::FileDialogRequest> requests;

  private:
    ui::qt::QtBackend& qt_;
};

ui::qt::QtBackend* g_qt = nullptr;
ScriptedDialogs* g_dialogs = nullptr;

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        g_qt = new ui::qt::QtBackend();
        g_dialogs = new ScriptedDialogs(*g_qt);
        ui::setBackend(g_dialogs);
    }
    void TearDown() override {
        ui::setBackend(g_qt);
        delete g_dialogs;
        delete g_qt;
    }
};
[[maybe_unused]] const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Tab 0 until the real status page lands: reads nothing.
class IdlePage : public app::MainPage {
  public:
    explicit IdlePage(app::AppContext& context)
        : MainPage(resources::kStatusPage), context_(context) {}
    std::uint8_t poll() override { return 0; }
    void refreshPage() override {}
    void layoutPage() override { move(context_.pageRect); }

  protected:
    bool onInitDialog() override {
        layoutPage();
        return true;
    }

  private:
    app::AppContext& context_;
};

// Runs the event loop until the condition holds or the time-out passes.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ui::qt::processEvents(10);
    }
    return true;
}

const std::u16string kImportFailed = u"参数导入失败！";

class ParameterPageEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        sim.exportAsCom(1);
        g_dialogs->messages.clear();
        g_dialogs->questions.clear();
        g_dialogs->confirmAnswers.clear();
        g_dialogs->answers.clear();
        g_dialogs->requests.clear();
        speed = program.indexOf(u"P03.01");   // INT16S -6000..6000, register 48
        offset = program.indexOf(u"P01.12");  // INT32S +-1073741824, registers 27-28
    }

    // The main window with the parameter page as tab 1, connected to the
    // drive as the connection page connects; the script runs once the page
    // shows the drive's values, and the window is closed after it.
    void run(const std::function<void(MainWindow&, ParameterPage&)>& script,
             std::uint8_t retries = 5) {
        ParameterPage* page = nullptr;
        MainWindow window(program.context, [&page](app::AppContext& c) {
            app::PageSet set;
            set.status = std::make_unique<IdlePage>(c);
            auto p = std::make_unique<ParameterPage>(c);
            page = p.get();
            set.parameters = std::move(p);
            return set;
        });
        sim.ok("set reg 48 4321");
        g_qt->setModalHook([&](ui::Dialog&) {
            program.connect(3, retries);
            window.userClickTab(MainWindow::kTabControl, 1);
            if (waitFor([&] { return cell(*page, speed, 2) == u"4321"; }))
                script(window, *page);
            else
                ADD_FAILURE() << "the page never showed the drive's values";
            window.userClose();
        });
        // A watchdog, so that a broken script cannot hang the suite.
        auto alive = std::make_shared<std::atomic<bool>>(true);
        std::thread watchdog([alive, &window] {
            for (int i = 0; i < 600 && alive->load(); ++i) std::this_thread::sleep_for(100ms);
            if (!alive->load()) return;
            ui::post([alive, &window] {
                if (alive->load() && window.exists()) window.endDialog(-9);
            });
        });
        EXPECT_NE(window.runModal(), -9) << "watchdog";
        alive->store(false);
        watchdog.join();
        g_qt->setModalHook(nullptr);
    }

    static std::u16string cell(ParameterPage& page, std::size_t row, int column) {
        return page.control(ParameterPage::kList).cellText(static_cast<int>(row), column);
    }
    // The drive's value of parameter i as the list would show it.
    std::u16string driveText(std::size_t i) {
        const data::ParameterDefinition& p = program.language.parameters()[i];
        return data::valueToText(p.typeCode, static_cast<std::uint32_t>(simParam(sim, i)));
    }
    // Waits until the list shows the drive's value of parameter i.
    bool shows(ParameterPage& page, std::size_t i, std::u16string_view text) {
        return waitFor([&] { return cell(page, i, 2) == text; });
    }
    void select(ParameterPage& page, std::size_t row) {
        ASSERT_TRUE(page.userSelectRow(ParameterPage::kList, static_cast<int>(row)));
        ASSERT_TRUE(waitFor([&] { return page.lastShownRow() == static_cast<int>(row); }));
    }
    void write(ParameterPage& page, std::size_t row, std::u16string_view text) {
        select(page, row);
        ASSERT_TRUE(page.userType(ParameterPage::kNewValue, text));
        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kWriteButton));
        ASSERT_TRUE(ended(page));
    }
    // Runs the event loop until the page's job has ended and shown its outcome.
    static bool ended(ParameterPage& page) {
        return waitFor([&] { return !page.busy(); });
    }
    std::size_t messageCount() const { return g_dialogs->messages.size(); }
    const ScriptedDialogs::Message& lastMessage() const { return g_dialogs->messages.back(); }

    testsupport::SimProcess sim{{"--no-pace"}};
    // The Chinese sample file; UI 104 shortened so that a silent drive fails
    // the EEPROM save after 2 x 2.3 s.
    Program program{sampleLanguage({{104, u"300"}}, "Define.cfg")};
    std::size_t speed = 0;
    std::size_t offset = 0;
};

TEST_F(ParameterPageEndToEnd, ListsEveryParameterWithTheDrivesValues) {
    run([&](MainWindow& window, ParameterPage& page) {
        const std::size_t n = program.language.parameters().size();
        ASSERT_EQ(page.control(ParameterPage::kList).rowCount(), static_cast<int>(n));
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(cell(page, i, 0), program.language.parameters()[i].numberText.view());
            EXPECT_EQ(cell(page, i, 2), driveText(i)) << i;
        }
        // A parameter selected, then the picture.
        select(page, offset);
        EXPECT_EQ(page.text(ParameterPage::kCurrentValue), cell(page, offset, 2));
        ui::qt::processEvents(200);
        const fs::path png = fs::path(PARAMETER_SCREENSHOT_DIR) / "parameters.png";
        ASSERT_TRUE(ui::qt::saveWindowPng(window, png));
        const auto img = ui::qt::loadPng(png);
        ASSERT_TRUE(img);
        EXPECT_EQ(img->width, 1000);
        EXPECT_EQ(img->height, 730);
    });
    EXPECT_TRUE(g_dialogs->messages.empty());
}

TEST_F(ParameterPageEndToEnd, EditsOutsideTheRangeAreRefusedAndTheEepromModeStoresThem) {
    run([&](MainWindow&, ParameterPage& page) {
        sim.ok("log on");
        write(page, speed, u"7000");
        write(page, offset, u"-2000000000");
        EXPECT_TRUE(withFunction(requests(sim), "06").empty());
        EXPECT_TRUE(withFunction(requests(sim), "10").empty());
        ASSERT_EQ(messageCount(), 2u);
        EXPECT_NE(g_dialogs->messages[0].text.find(u"P03.01"), std::u16string::npos);
        g_dialogs->messages.clear();
        write(page, speed, u"-250");
        EXPECT_TRUE(shows(page, speed, u"-250"));
        write(page, offset, u"-1073741824");
        EXPECT_TRUE(shows(page, offset, u"-1073741824"));
        EXPECT_EQ(simParam(sim, offset), -1073741824);

        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kEepromMode));
        EXPECT_EQ(page.radioGroupIndex(ParameterPage::kMemoryMode), 1);
        sim.ok("log on");
        write(page, speed, u"1234");
        EXPECT_TRUE(shows(page, speed, u"1234"));
        const auto writes = withFunction(requests(sim), "06");
        ASSERT_EQ(writes.size(), 2u);
        char store[16];
        std::snprintf(store, sizeof store, "0106FFFF%04X", static_cast<unsigned>(speed));
        EXPECT_EQ(writes[1].substr(0, 12), store);
        EXPECT_EQ(sim.ok("get eeprom " + std::to_string(speed)), "1234");
        EXPECT_EQ(program.timing(), std::make_pair(200, 5));
    });
    EXPECT_TRUE(g_dialogs->messages.empty());
}

TEST_F(ParameterPageEndToEnd, ABackupLoadedAndImportedPutsItsValuesBack) {
    TempDir dir;
    const fs::path backup = dir.path() / "drive";
    run([&](MainWindow&, ParameterPage& page) {
        sim.ok("set reg 27 5");  // P01.12 = 5
        ASSERT_TRUE(shows(page, offset, u"5"));
        g_dialogs->answers.push_back(platform::fromUtf8(backup.string()));
        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kBackupButton));
        ASSERT_TRUE(ended(page));
        ASSERT_TRUE(fs::exists(dir.path() / "drive.dat"));
        std::vector<long long> saved;
        for (std::size_t i = 0; i < program.language.parameters().size(); ++i)
            saved.push_back(simParam(sim, i));

        // The drive changes.
        sim.ok("set param " + std::to_string(speed) + " -6000");
        sim.ok("set param " + std::to_string(offset) + " 99999");
        sim.ok("set param 0 17");
        ASSERT_TRUE(shows(page, offset, u"99999"));

        g_dialogs->answers.push_back(platform::fromUtf8((dir.path() / "drive.dat").string()));
        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kLoadButton));
        EXPECT_TRUE(waitFor([&] { return cell(page, offset, 3) == u"5"; }));
        g_dialogs->confirmAnswers.push_back(true);
        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kImportButton));
        ASSERT_TRUE(ended(page));
        ASSERT_EQ(messageCount(), 1u);
        EXPECT_EQ(lastMessage().text,
                  u"参数导入成功，执行【固化驱动器参数】操作方可保证写入的参数在断电后不丢失！");
        EXPECT_EQ(lastMessage().caption, u"Success");
        EXPECT_EQ(page.control(ParameterPage::kProgress).position(), 100);
        for (std::size_t i = 0; i < saved.size(); ++i) EXPECT_EQ(simParam(sim, i), saved[i]) << i;
        EXPECT_TRUE(shows(page, offset, u"5"));
    });
}

TEST_F(ParameterPageEndToEnd, FactoryRestore) {
    run([&](MainWindow&, ParameterPage& page) {
        sim.ok("set param " + std::to_string(speed) + " 3333");
        sim.ok("set param " + std::to_string(offset) + " -77");
        ASSERT_TRUE(shows(page, offset, u"-77"));
        g_dialogs->confirmAnswers.push_back(true);
        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kFactoryButton));
        ASSERT_TRUE(ended(page));
        ASSERT_EQ(messageCount(), 1u);
        EXPECT_EQ(lastMessage().text, u"恢复出厂值成功！");
        EXPECT_EQ(lastMessage().icon, ui::MessageIcon::Exclamation);
        const data::ParameterTable& table = program.language.parameters();
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (!table[i].writable()) continue;
            EXPECT_EQ(driveText(i), data::valueToText(table[i].typeCode, table[i].factoryValue))
                << i;
        }
        EXPECT_TRUE(shows(page, speed, u"100"));
    });
}

TEST_F(ParameterPageEndToEnd, TheEepromSaveSucceedsWhenTheDriveAnswersAfterOneAndAHalfSeconds) {
    sim.ok("eeprom-ms 1500");
    run([&](MainWindow&, ParameterPage& page) {
        sim.ok("set param " + std::to_string(speed) + " 2222");
        ASSERT_TRUE(shows(page, speed, u"2222"));
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kEepromButton));
        // The window goes on while the drive stores; the outcome comes with
        // the drive's answer.
        EXPECT_TRUE(page.busy());
        EXPECT_EQ(messageCount(), 0u);
        ASSERT_TRUE(ended(page));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms)
            << "the save waits for the drive";
        ASSERT_EQ(messageCount(), 1u);
        EXPECT_EQ(lastMessage().text, u"驱动器参数固化成功！");
        EXPECT_EQ(lastMessage().caption, u"Success");
        EXPECT_EQ(page.control(ParameterPage::kProgress).position(), 100);
        EXPECT_EQ(sim.ok("get eeprom " + std::to_string(speed)), "2222");
        EXPECT_EQ(program.timing(), std::make_pair(200, 5));
    });
}

TEST_F(ParameterPageEndToEnd, TheEepromSaveFailsWhenTheDriveIsSilent) {
    run([&](MainWindow&, ParameterPage& page) {
        sim.ok("noanswer on");
        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kEepromButton));
        ASSERT_TRUE(ended(page));
        sim.ok("noanswer off");
        ASSERT_GE(messageCount(), 1u);
        EXPECT_EQ(g_dialogs->messages[0].text.rfind(u"驱动器参数固化失败！\r\n", 0), 0u)
            << platform::toUtf8(g_dialogs->messages[0].text);
        EXPECT_EQ(g_dialogs->messages[0].caption, u"Error");
        EXPECT_EQ(g_dialogs->messages[0].icon, ui::MessageIcon::Error);
        // The bar rose over the expected 300 ms and stopped short of the end.
        EXPECT_GT(page.control(ParameterPage::kProgress).position(), 0);
        EXPECT_LT(page.control(ParameterPage::kProgress).position(), 100);
        EXPECT_EQ(program.timing(), std::make_pair(200, 5));
    });
}

TEST_F(ParameterPageEndToEnd, AnImportGoesOnPastTheRefusedFifthParameter) {
    TempDir dir;
    const fs::path file = dir.path() / "values.dat";
    // File values: the drive's values plus one where the range allows.
    data::ParameterTable& table = program.language.parameters();
    for (auto& p : table) {
        const std::uint32_t up = p.factoryValue + 1;
        p.driveValue.store(
            data::checkRange(p.typeCode, up, p.minimum, p.maximum) == 0 ? up : p.factoryValue);
    }
    ASSERT_EQ(data::saveValueFile(file, table), 1);
    for (auto& p : table) p.driveValue.store(0);

    // The drive refuses the fifth writable parameter, retries included.
    run([&](MainWindow&, ParameterPage& page) {
        g_dialogs->answers.push_back(platform::fromUtf8(file.string()));
        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kLoadButton));
        sim.ok("rejectwrite 5");
        g_dialogs->confirmAnswers.push_back(true);
        ASSERT_TRUE(ui::qt::clickWidget(page, ParameterPage::kImportButton));
        ASSERT_TRUE(ended(page));
        ASSERT_EQ(messageCount(), 1u);
        EXPECT_EQ(lastMessage().text.rfind(kImportFailed + u"\r\nP00.06 = ", 0), 0u);
        EXPECT_EQ(lastMessage().icon, ui::MessageIcon::Error);
        // Writable rows 0, 1, 2, 5 written; row 6 refused and left as it
        // was; the drive answered, so the rest was written too.
        for (std::size_t i : {0, 1, 2, 5})
            EXPECT_EQ(simParam(sim, i), static_cast<long long>(table[i].fileValue.load())) << i;
        EXPECT_EQ(simParam(sim, 6), static_cast<long long>(table[6].factoryValue));
        std::size_t next = 7;
        while (next < table.size() && !table[next].writable()) ++next;
        ASSERT_LT(next, table.size());
        EXPECT_EQ(simParam(sim, next), static_cast<long long>(table[next].fileValue.load()))
            << next;
        EXPECT_EQ(page.control(ParameterPage::kProgress).position(), 100);
    });
}

}  // namespace
