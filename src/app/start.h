#pragma once
#include <filesystem>
#include <functional>
#include <optional>

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
// factory's pages, then writes system.ini and frees everything. Returns 0,
// or 1 when the socket layer could not start (its message was shown and
// nothing else ran). User interface thread.
int runApplication(const StartOptions& options, const PageFactory& pages);

// The language file of a choice, with its fallback: the choice's file, and
// Language/Define.cfg when that is the Chinese file or fails to load. Returns
// 1 when a file was loaded; `into` is left empty otherwise.
int loadLanguageChoice(const std::filesystem::path& programDirectory, int choice,
                       data::LanguageData& into);

}  // namespace app
