#pragma once
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/main_page.h"
#include "app/main_window.h"

namespace app {

struct StartOptions {
    // Where Language/, version/ and system.ini are looked up; empty for the
    // executable's own directory (never the current directory).
    std::filesystem::path programDirectory;
    // The language choice (LanguageDialog::Choice) to take instead of asking
    // the user, for scripted runs.
    std::optional<int> language;
    // Empty for platform::startSocketLayer.
    std::function<bool()> startSocketLayer;
    // Empty for a std::thread.
    ThreadLauncher launchThread;
};

// The data files, relative to the program directory.
inline constexpr const char* kChineseLanguageFile = "Language/Define.cfg";
inline constexpr const char* kEnglishLanguageFile = "Language/DefineEn.cfg";
inline constexpr const char* kOtherLanguageFile = "Language/DefineEx.cfg";
inline constexpr const char* kSettingsFile = "system.ini";
inline constexpr const char* kModelFile = "version/Servo.csv";

// The whole life of the program on the installed backend: starts the socket
// layer, resets the link, asks for the language, loads the language file,
// system.ini and version/Servo.csv, runs the main window modally with the
// factory's pages, then writes system.ini when its content changed and frees
// everything. A language file that cannot be used, a data file that cannot be
// read (other than missing) and a failed save of system.ini are reported in
// message boxes with the error icon. Returns 0, or 1 when the socket layer
// could not start (its message was shown and nothing else ran). User
// interface thread.
int runApplication(const StartOptions& options, const PageFactory& pages);

// The language files tried for a choice, in order; the last one loaded (if
// any) gave the tables.
struct LanguageChoiceLoad {
    struct Attempt {
        std::filesystem::path file;
        data::LanguageLoad result;
    };
    std::vector<Attempt> attempts;

    bool loaded() const { return !attempts.empty() && attempts.back().result.loaded(); }
    bool usable() const { return !attempts.empty() && attempts.back().result.usable(); }
};

// The language file of a choice, with its fallback: the choice's file, and
// Language/Define.cfg when that is the Chinese file or fails to load (missing,
// empty or unreadable). `into` is left empty when no file was loaded.
LanguageChoiceLoad loadLanguageChoice(const std::filesystem::path& programDirectory, int choice,
                                      data::LanguageData& into);

// What the user is told at start about the language files tried, in English
// or Chinese by the choice (the file's own texts cannot be relied on); empty
// when the file in use is sound and nothing tried before it was refused
// (a missing file with a sound fallback is the normal case).
std::u16string languageReport(const LanguageChoiceLoad& load, int choice);

}  // namespace app
