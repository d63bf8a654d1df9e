// The start and end sequence: language choice and files, the data files beside
// the program, system.ini at the end, the socket layer's failure.
#include "app/start.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <system_error>

#include "app/dialogs.h"
#include "app_fixture.h"
#include "data/settings_file.h"
#include "platform/program_dir.h"

namespace {

using namespace apptest;

// What a run showed: the caption, the tab titles and the context the pages got.
struct Seen {
    std::u16string caption;
    std::vector<std::u16string> tabs;
    int modelTableLoaded = -1;
    std::size_t scopeQuantities = 0;
    bool scopeCreated = false;
};

class StartSequence : public ::testing::Test {
  protected:
    // Runs the program with the language dialog answered by `answer` (nothing:
    // no dialog expected) and returns what the main window showed.
    Seen run(app::StartOptions options, std::function<void(ui::Dialog&)> answer = {}) {
        if (options.programDirectory.empty() && !useProgramDirectory)
            options.programDirectory = dir.path();
        if (answer) backend.queueModalScript(136, answer);
        Seen seen;
        backend.queueModalScript(102, [&](ui::Dialog& d) {
            seen.caption = d.caption();
            const ui::Control& tabs = d.control(app::MainWindow::kTabControl);
            for (int i = 0; i < tabs.itemCount(); ++i) seen.tabs.push_back(tabs.itemText(i));
            seen.modelTableLoaded = pages.context->modelTableLoaded;
            seen.scopeQuantities = pages.context->language.scopeQuantities().size();
            seen.scopeCreated = pages.scope->exists();
        });
        result = app::runApplication(options, countingPages(pages));
        return seen;
    }

    void copyDist(const char* relative) {
        fs::create_directories((dir.path() / relative).parent_path());
        fs::copy_file(fs::path(SERVO_DIST_DIR) / relative, dir.path() / relative);
    }

    ui::HeadlessBackend backend;
    TempDir dir;
    PageRefs pages;
    int result = -1;
    bool useProgramDirectory = false;
};

const auto kEscape = [](ui::Dialog& d) { EXPECT_FALSE(d.userKey(ui::Key::Escape)); };
const auto kEnglish = [](ui::Dialog& d) { EXPECT_TRUE(d.userClick(1100)); };
const auto kChinese = [](ui::Dialog& d) { EXPECT_TRUE(d.userClick(1099)); };

TEST_F(StartSequence, WithoutALanguageFileTwoTabsAndTheBuiltInTexts) {
    const Seen seen = run({}, kEscape);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(backend.modalRuns(), (std::vector<int>{136, 102}));
    EXPECT_EQ(seen.caption, u"伺服管理软件");
    EXPECT_EQ(seen.tabs, (std::vector<std::u16string>{u"【驱动状态】", u"【驱动参数】"}));
    EXPECT_EQ(seen.modelTableLoaded, 0);
    EXPECT_EQ(seen.scopeQuantities, 0u);
    EXPECT_FALSE(seen.scopeCreated);
    // Said once, before the window: which file, and that it is missing.
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text,
              u"语言文件无法使用：\n" + (dir.path() / "Language/Define.cfg").u16string() +
                  u"：文件不存在\n程序将以能读取的内容继续运行；system.ini "
                  u"中保存的示波器范围将保留。");
    EXPECT_EQ(backend.messages()[0].icon, ui::MessageIcon::Error);
}

TEST_F(StartSequence, LanguageChoiceAndItsFallbacks) {
    writeUtf16(dir.path() / "Language/Define.cfg", uiTextsFile({{0, u"中文版"}}));
    writeUtf16(dir.path() / "Language/DefineEn.cfg",
               uiTextsFile({{0, u"English"}, {1, u"Status"}, {2, u"Parameters"}}));
    writeUtf16(dir.path() / "Language/DefineEx.cfg", uiTextsFile({{0, u"Other"}}));

    EXPECT_EQ(run({}, kEscape).caption, u"中文版") << "Escape is the Chinese choice";
    EXPECT_EQ(run({}, kChinese).caption, u"中文版");
    const Seen english = run({}, kEnglish);
    EXPECT_EQ(english.caption, u"English");
    EXPECT_EQ(english.tabs, (std::vector<std::u16string>{u"Status", u"Parameters"}));
    // The third choice has no button in use; a scripted run can still take it.
    app::StartOptions other;
    other.language = app::LanguageDialog::Other;
    EXPECT_EQ(run(other).caption, u"Other");

    // A missing English or other file falls back to Define.cfg.
    fs::remove(dir.path() / "Language/DefineEn.cfg");
    fs::remove(dir.path() / "Language/DefineEx.cfg");
    EXPECT_EQ(run({}, kEnglish).caption, u"中文版");
    EXPECT_EQ(run(other).caption, u"中文版");
    // No file at all: built-in texts.
    fs::remove(dir.path() / "Language/Define.cfg");
    EXPECT_EQ(run({}, kEnglish).caption, u"伺服管理软件");
}

TEST_F(StartSequence, ScopeTabOnlyWhenTheLanguageFileNamesIt) {
    writeUtf16(dir.path() / "Language/Define.cfg", uiTextsFile({{3, u"【示波器】"}}));
    const Seen seen = run({}, kChinese);
    EXPECT_EQ(seen.caption, u"伺服管理软件") << "UI 0 absent: the template's caption";
    EXPECT_EQ(seen.tabs,
              (std::vector<std::u16string>{u"【驱动状态】", u"【驱动参数】", u"【示波器】"}));
    EXPECT_TRUE(seen.scopeCreated);
}

TEST_F(StartSequence, SystemIniIsWrittenWhenMissingAndKeepsItsContentFromRunToRun) {
    copyDist("Language/Define.cfg");
    const fs::path ini = dir.path() / "system.ini";
    ASSERT_FALSE(fs::exists(ini));
    app::StartOptions options;
    options.language = app::LanguageDialog::Chinese;
    const Seen first = run(options);
    ASSERT_GT(first.scopeQuantities, 0u);
    ASSERT_TRUE(fs::exists(ini)) << "written although missing at start";

    // What the file held at start it holds after the end: its setting word
    // and the ranges of the scope quantities.
    data::LanguageData defs;
    ASSERT_EQ(data::loadLanguageFile(dir.path() / "Language/Define.cfg", defs), 1);
    auto scope = defs.scopeQuantities().span();
    scope[0].minimum = -12.5;
    scope[0].maximum = 99.0;
    ASSERT_EQ(data::saveSettingsFile(ini, 7, scope), 1);
    fs::remove(dir.path() / "Language/Define.cfg");
    copyDist("Language/Define.cfg");
    run(options);
    data::LanguageData again;
    ASSERT_EQ(data::loadLanguageFile(dir.path() / "Language/Define.cfg", again), 1);
    std::uint32_t word = 0;
    ASSERT_EQ(data::loadSettingsFile(ini, word, again.scopeQuantities().span()), 1);
    EXPECT_EQ(word, 7u);
    EXPECT_EQ(again.scopeQuantities()[0].minimum, -12.5);
    EXPECT_EQ(again.scopeQuantities()[0].maximum, 99.0);
}

TEST_F(StartSequence, ModelTableIsReadAgainstTheLanguageFile) {
    copyDist("Language/DefineEn.cfg");
    copyDist("version/Servo.csv");
    app::StartOptions options;
    options.language = app::LanguageDialog::English;
    EXPECT_EQ(run(options).modelTableLoaded, 1);
    fs::remove(dir.path() / "version/Servo.csv");
    EXPECT_EQ(run(options).modelTableLoaded, 0);
}

TEST_F(StartSequence, AnotherWorkingDirectoryStillFindsTheFilesBesideTheProgram) {
    // A decoy in the working directory, which must not be read or written.
    writeUtf16(dir.path() / "Language/Define.cfg", uiTextsFile({{0, u"decoy"}}));
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    useProgramDirectory = true;
    const Seen seen = run({}, kEnglish);
    fs::current_path(before);

    data::LanguageData shipped;
    ASSERT_EQ(data::loadLanguageFile(platform::programFile("Language/DefineEn.cfg"), shipped), 1)
        << "the build copies dist/ beside the test";
    EXPECT_EQ(seen.caption, shipped.uiTexts().text(0, u"?"));
    EXPECT_EQ(seen.modelTableLoaded, 1);
    EXPECT_TRUE(fs::exists(platform::programFile("system.ini")));
    EXPECT_FALSE(fs::exists(dir.path() / "system.ini"));
}

TEST_F(StartSequence, SocketLayerFailureEndsBeforeAnyWindow) {
    app::StartOptions options;
    options.startSocketLayer = [] { return false; };
    run(options, kChinese);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(backend.modalRuns().empty());
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text, u"Windows 通信端口初始化失败。");
    EXPECT_EQ(backend.messages()[0].icon, ui::MessageIcon::Error);
    EXPECT_FALSE(fs::exists(dir.path() / "system.ini"));
}

TEST_F(StartSequence, WithoutAPollThreadTheWindowStillWorks) {
    app::StartOptions options;
    options.language = app::LanguageDialog::Chinese;
    options.launchThread = [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    int refreshes = -1;
    backend.queueModalScript(102, [&](ui::Dialog& d) {
        auto& window = dynamic_cast<app::MainWindow&>(d);
        EXPECT_FALSE(window.pollThreadRunning());
        backend.advance(300);
        refreshes = pages.status->refreshes;
        d.userClose();
    });
    options.programDirectory = dir.path();
    copyDist("Language/Define.cfg");
    EXPECT_EQ(app::runApplication(options, countingPages(pages)), 0);
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text, u"Creat thread error!");
    EXPECT_EQ(backend.messages()[0].caption, u"Error");
    EXPECT_EQ(refreshes, 3) << "the timer refreshes the page without the thread";
    EXPECT_TRUE(fs::exists(dir.path() / "system.ini"));
}

// ---- Files that cannot be used ---------------------------------------------

std::vector<std::uint8_t> bytesOf(const fs::path& path) {
    return platform::readWholeFile(path).value_or(std::vector<std::uint8_t>{});
}

// Re-saving the language file as UTF-8 (as an editor may) leaves the program
// without its tables: the start says so, and system.ini stays byte for byte
// as it was, its scope ranges included.
TEST_F(StartSequence, Utf8LanguageFileIsNamedAndSystemIniIsKept) {
    copyDist("Language/Define.cfg");
    const fs::path cfg = dir.path() / "Language/Define.cfg";
    const fs::path ini = dir.path() / "system.ini";
    data::LanguageData defs;
    ASSERT_TRUE(data::loadLanguage(cfg, defs).usable());
    auto scope = defs.scopeQuantities().span();
    ASSERT_GT(scope.size(), 2u);
    scope[2].minimum = -7.25;
    ASSERT_EQ(data::saveSettingsFile(ini, 3, scope), 1);
    const auto saved = bytesOf(ini);

    const std::vector<std::uint8_t> utf16 = bytesOf(cfg);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2)
        text += static_cast<char16_t>(utf16[i] | (utf16[i + 1] << 8));
    std::ofstream(cfg, std::ios::binary | std::ios::trunc) << platform::toUtf8(text);

    using Answer = std::function<void(ui::Dialog&)>;
    const std::pair<Answer, std::u16string> answers[] = {{kChinese, u"文件为 UTF-8 编码"},
                                                         {kEnglish, u"it is UTF-8 text"}};
    for (const auto& [answer, says] : answers) {
        backend.clearMessages();
        const Seen seen = run({}, answer);
        EXPECT_EQ(seen.scopeQuantities, 0u);
        ASSERT_EQ(backend.messages().size(), 1u);
        const std::u16string& shown = backend.messages()[0].text;
        EXPECT_NE(shown.find(cfg.u16string()), std::u16string::npos);
        EXPECT_NE(shown.find(says), std::u16string::npos) << platform::toUtf8(shown);
        EXPECT_EQ(bytesOf(ini), saved);
    }
    // Once the file is sound again, the ranges are all there.
    fs::remove(cfg);
    copyDist("Language/Define.cfg");
    data::LanguageData again;
    ASSERT_TRUE(data::loadLanguage(cfg, again).usable());
    std::uint32_t word = 0;
    EXPECT_EQ(data::loadSettingsFile(ini, word, again.scopeQuantities().span()), 1);
    EXPECT_EQ(again.scopeQuantities()[2].minimum, -7.25);
}

// A folder or a FIFO in the place of each data file: named in the message,
// nothing waits on the FIFO, and nothing is put in their place at the end.
TEST_F(StartSequence, FoldersAndFifosInPlaceOfDataFilesAreNamed) {
    for (const bool fifo : {false, true}) {
        const char* names[] = {"Language/DefineEn.cfg", "Language/Define.cfg", "system.ini",
                               "version/Servo.csv"};
        for (const char* name : names) {
            const fs::path path = dir.path() / name;
            fs::remove_all(path);
            fs::create_directories(path.parent_path());
            if (fifo)
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            else
                fs::create_directory(path);
        }
        backend.clearMessages();
        ::alarm(30);
        run({}, kEnglish);
        ::alarm(0);
        ASSERT_EQ(backend.messages().size(), 1u);
        const std::u16string& shown = backend.messages()[0].text;
        for (const char* name : {names[0], names[1]}) {
            const std::u16string line =
                (dir.path() / name).u16string() + u": cannot be read: not a regular file";
            EXPECT_NE(shown.find(line), std::u16string::npos) << platform::toUtf8(shown);
        }
        for (const char* name : {names[2], names[3]}) {
            const std::u16string line =
                u"Cannot read " + (dir.path() / name).u16string() + u": not a regular file";
            EXPECT_NE(shown.find(line), std::u16string::npos) << platform::toUtf8(shown);
        }
        for (const char* name : names)
            EXPECT_EQ(fs::status(dir.path() / name).type(),
                      fifo ? fs::file_type::fifo : fs::file_type::directory)
                << name;
    }
}

// A save that fails at the end names the file and the system's reason, and
// the previous file stays. The size limit (which binds root too) runs in a
// child process so that it cannot leak.
TEST_F(StartSequence, FailedSaveOfSystemIniIsReported) {
    copyDist("Language/Define.cfg");
    const fs::path ini = dir.path() / "system.ini";
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    std::ofstream(ini, std::ios::binary) << "old";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16, 16};  // below any image of the sample's scope list
        ::setrlimit(RLIMIT_FSIZE, &limit);
        app::StartOptions options;
        options.language = app::LanguageDialog::English;
        run(options);
        const auto& shown = backend.messages();
        const std::u16string expected =
            u"The settings could not be saved. The previous file is "
            u"kept.\nCannot write " +
            ini.u16string() + u": File too large";
        ::_exit(shown.size() == 1 && shown[0].text == expected &&
                        shown[0].icon == ui::MessageIcon::Error
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the message box was not the expected one";
    EXPECT_EQ(bytesOf(ini), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2)
        << "no temporary file is left beside Language/ and system.ini";
}

}  // namespace
