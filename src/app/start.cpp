#include "app/start.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "app/dialogs.h"
#include "data/settings_file.h"
#include "modbus/master.h"
#include "platform/file_io.h"
#include "platform/program_dir.h"
#include "platform/socket_layer.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace app {
namespace {

std::filesystem::path fileIn(const std::filesystem::path& directory, const char* relativeName) {
    return directory / std::filesystem::path(relativeName).make_preferred();
}

// The start's own messages come in two languages; the language file, whose
// texts would otherwise be used, may be what the message is about.
struct Words {
    bool english;
    std::u16string operator()(std::u16string_view en, std::u16string_view zh) const {
        return std::u16string(english ? en : zh);
    }
};

Words wordsFor(int choice) {
    return {choice != LanguageDialog::Chinese};
}

std::u16string sectionMark(int number) {
    return u"[<" + platform::fromUtf8(std::to_string(number)) + u">]";
}

std::u16string languageCause(const data::LanguageLoad& load, const Words& w) {
    using P = data::LanguageProblem;
    const std::u16string mustBe = w(u"; a language file must be UTF-16LE (Unicode) text",
                                    u"，语言文件须为 UTF-16LE（Unicode）编码");
    switch (load.problem) {
        case P::None:
            break;
        case P::Missing:
            return w(u"the file does not exist", u"文件不存在");
        case P::Unreadable:
            return w(u"cannot be read: ", u"无法读取：") + platform::fromUtf8(load.file.reason);
        case P::Empty:
            return w(u"the file is empty", u"文件为空");
        case P::Utf8:
            return w(u"it is UTF-8 text", u"文件为 UTF-8 编码") + mustBe;
        case P::EightBit:
            return w(u"it is 8-bit text (an ANSI code page)", u"文件为单字节编码（ANSI/GBK）") +
                   mustBe;
        case P::Utf16BigEndian:
            return w(u"it is UTF-16 big-endian text", u"文件为 UTF-16BE（大端）编码") + mustBe;
        case P::Damaged:
            if (!load.cutSection)
                return w(u"it is damaged or not a language file: no section found",
                         u"文件已损坏或不是语言文件：找不到任何段");
            return w(u"it is damaged: section ", u"文件已损坏：") + sectionMark(*load.cutSection) +
                   w(u" has no #END (the file may be cut short)",
                     u" 段缺少 #END（文件可能被截断）");
        case P::NoParameterTable:
            return w(u"it holds no parameter table (section [<2>])",
                     u"文件中没有参数表（[<2>] 段）");
    }
    return {};
}

// A data file that exists but cannot be read; nothing for a missing one (the
// normal first start) or one that was read.
std::u16string readProblem(const std::filesystem::path& path, const platform::FileOutcome& file,
                           const Words& w) {
    if (file.ok() || file.status == platform::FileStatus::Missing) return {};
    return w(u"Cannot read ", u"无法读取 ") + path.u16string() + w(u": ", u"：") +
           platform::fromUtf8(file.reason) + u"\n";
}

void reportError(std::u16string text, const Words& w) {
    while (!text.empty() && text.back() == u'\n') text.pop_back();
    if (text.empty()) return;
    ui::messageBox(text, w(u"Error", u"错误"), ui::MessageIcon::Error);
}

}  // namespace

LanguageChoiceLoad loadLanguageChoice(const std::filesystem::path& programDirectory, int choice,
                                      data::LanguageData& into) {
    LanguageChoiceLoad load;
    auto attempt = [&](const char* name) {
        const std::filesystem::path file = fileIn(programDirectory, name);
        load.attempts.push_back({file, data::loadLanguage(file, into)});
    };
    if (choice == LanguageDialog::English)
        attempt(kEnglishLanguageFile);
    else if (choice == LanguageDialog::Other)
        attempt(kOtherLanguageFile);
    if (!load.loaded()) attempt(kChineseLanguageFile);
    return load;
}

std::u16string languageReport(const LanguageChoiceLoad& load, int choice) {
    const Words w = wordsFor(choice);
    std::u16string lines;
    for (std::size_t i = 0; i < load.attempts.size(); ++i) {
        const auto& [file, result] = load.attempts[i];
        const bool last = i + 1 == load.attempts.size();
        if (result.usable()) continue;
        // A missing file of the choice is the fallback's normal case.
        if (!last && result.problem == data::LanguageProblem::Missing && load.usable()) continue;
        lines += file.u16string() + w(u": ", u"：") + languageCause(result, w) + u"\n";
    }
    if (lines.empty()) return {};
    std::u16string text =
        w(u"The language file cannot be used:\n", u"语言文件无法使用：\n") + lines;
    if (!load.usable())
        text +=
            w(u"The program goes on with what could be read; the scope ranges saved in "
              u"system.ini are kept.",
              u"程序将以能读取的内容继续运行；system.ini 中保存的示波器范围将保留。");
    return text;
}

int runApplication(const StartOptions& options, const PageFactory& pages) {
    const bool socketsStarted =
        options.startSocketLayer ? options.startSocketLayer() : platform::startSocketLayer();
    if (!socketsStarted) {
        ui::messageBox(resources::loadString(resources::kSocketStartFailedText),
                       ui::applicationTitle(), ui::MessageIcon::Error);
        return 1;
    }

    // Declared before the master, which reports every attempt to it until
    // the master goes.
    modbus::TransactionLog transactions;
    modbus::ModbusMaster master;
    master.setObserver(&transactions);
    modbus::DriveAccess drive(master);
    drive.initModbus();
    drive::DriveSession session(drive);
    data::LanguageData language;  // every UI text absent, every table empty

    int choice = LanguageDialog::Chinese;
    if (options.language) {
        choice = *options.language;
    } else {
        LanguageDialog dialog;
        dialog.runModal();
        choice = dialog.choice();
    }
    const Words words = wordsFor(choice);

    const std::filesystem::path directory =
        options.programDirectory.empty() ? platform::programDirectory() : options.programDirectory;
    const LanguageChoiceLoad languageLoad = loadLanguageChoice(directory, choice, language);
    // Both files below are read against the tables of the language file.
    // Settings are written where the user may write; until a first save
    // there, the file shipped beside the program holds the defaults.
    const std::filesystem::path settingsDirectory = platform::settingsDirectory(directory);
    const std::filesystem::path settingsPath = fileIn(settingsDirectory, kSettingsFile);
    std::error_code ignored;
    const std::filesystem::path settingsSource =
        settingsDirectory != directory && !std::filesystem::exists(settingsPath, ignored)
            ? fileIn(directory, kSettingsFile)
            : settingsPath;
    std::uint32_t settingsWord = data::kInitialSettingsWord;
    const data::SettingsAtStart settingsAtStart =
        data::readSettingsFile(settingsSource, settingsWord, language.scopeQuantities().span());
    const std::filesystem::path modelPath = fileIn(directory, kModelFile);
    data::ModelValueSets models;
    platform::FileOutcome modelFile;
    const int modelTableLoaded =
        data::loadModelTable(modelPath, language.parameters().size(), models, nullptr, &modelFile);

    // One message for everything found at start, before the window opens.
    std::u16string startReport = languageReport(languageLoad, choice);
    std::u16string unread = readProblem(settingsSource, settingsAtStart.file, words) +
                            readProblem(modelPath, modelFile, words);
    if (!startReport.empty() && !unread.empty()) startReport += u"\n\n";
    reportError(startReport + unread, words);

    // Declared after the tables and before the window: it is joined after
    // the window has gone and before the tables that its jobs use.
    drive::JobRunner jobs([](std::function<void()> task) { ui::post(std::move(task)); });
    AppContext context{session, jobs, language, models, modelTableLoaded, settingsWord};
    context.englishTexts = words.english;
    context.transactions = &transactions;
    context.scopeSettingsFile = fileIn(settingsDirectory, "scope.ini");
    // Both settings files are written into it, the scope's as its page closes.
    if (settingsDirectory != directory)
        std::filesystem::create_directories(settingsDirectory, ignored);
    {
        MainWindow window(context, pages, options.launchThread);
        window.runModal();
        // The window has joined the poll thread. The page objects go with the
        // window object, before the tables that they refer to.
    }
    // Written only when its content changed, and never over ranges that an
    // unusable language file could not take: a start with a broken language
    // file must not cost the user the saved ranges.
    const data::SettingsSaveResult saved =
        data::saveSettingsAtEnd(settingsPath, settingsAtStart, settingsWord,
                                language.scopeQuantities().span(), languageLoad.usable());
    if (saved.action == data::SettingsSave::Failed) {
        const std::string failure =
            platform::describeFileFailure("write", settingsPath, saved.file);
        std::fprintf(stderr, "servo-tool: settings not saved: %s\n", failure.c_str());
        reportError(words(u"The settings could not be saved. The previous file is kept.\n",
                          u"设置未能保存，原文件保持不变。\n") +
                        words(u"Cannot write ", u"无法写入 ") + settingsPath.u16string() +
                        words(u": ", u"：") + platform::fromUtf8(saved.file.reason),
                    words);
    }
    language = data::LanguageData();
    models = data::ModelValueSets();
    return 0;
}

}  // namespace app
