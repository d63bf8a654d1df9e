#pragma once
// Threads of the application shell: who owns what.
//
// - The user interface thread owns every window, page and control, the
//   DriveSession's connect and disconnect, and starting jobs. It never waits
//   on the link: the drive work it asks for runs on the poll thread or as a
//   job, and reaches it back through the dialog layer's post.
// - The poll thread (PollLoop, one per main window) probes the link and runs
//   the selected page's poll() (status read, parameter block read, scope
//   acquisition). It touches no control; what it reads it leaves in atomic
//   words or posts. It waits for its next pass on the window's stop signal,
//   so that closing wakes it at once, and the window joins it before the
//   pages and the session it uses go.
// - The job thread (drive::JobRunner, one for the program) runs the long
//   operations one at a time: imports, factory restores, EEPROM stores,
//   parameter and output writes, and backups. The link is shared with the
//   poll thread by the master's first come, first served channel lock.
//   Closing the window while a job runs shows what it waits for and closes
//   when the job ends; a disconnect is refused meanwhile.
// - Each page owns its service; a page that goes waits for its job first
//   (PageJobs), and the runner, made before the window, is joined after it.
// - Link state is the DriveSession's (published with release/acquire); the
//   shell keeps no copy of its own.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "data/language.h"
#include "data/model_sets.h"
#include "drive/jobs.h"
#include "drive/link_health.h"
#include "drive/session.h"
#include "modbus/transaction_log.h"
#include "ui/geometry.h"

namespace app {

// What the application hands to its pages: the program-wide objects, each a
// single instance that lives from the start sequence to its end. The loaded
// tables never change size while the main window runs; pages change only
// their value fields.
struct AppContext {
    drive::DriveSession& session;
    // The program's job thread, for the drive work that takes longer than a
    // user interface thread may wait.
    drive::JobRunner& jobs;
    // The language file with the UI texts and the parameter, status, scope and
    // alarm tables.
    data::LanguageData& language;
    // The drive model value sets of version/Servo.csv.
    data::ModelValueSets& models;
    // 1 when version/Servo.csv was read, else 0.
    int modelTableLoaded = 0;
    // The setting word kept in system.ini.
    std::uint32_t& settingsWord;
    // Where every page places itself inside the tab control (tab control client
    // pixels). Written by the main window's layout before it asks the pages to
    // lay themselves out; user interface thread only.
    ui::Rect pageRect{};
    // User interface thread: page jobs started whose end the page has not
    // shown yet (PageJobs), and the call made after each has been shown; the
    // main window closes there when it waits.
    int jobsInFlight = 0;
    std::function<void()> jobEnded{};
    // The language chosen at start: the program's own texts (those that no
    // language file provides) are given in English and Chinese, and this
    // picks one. Chinese for the Chinese choice, English for the others.
    bool englishTexts = true;
    // User interface thread: shows a short note on the status line about an
    // operation that has ended ("P00.07 = 40 written"). Set by the main
    // window; empty without one (page tests may set their own).
    std::function<void(std::u16string)> showNote{};
    // Every attempt of the master, for the link's health and the bus
    // monitor; read by the user interface thread without ever making the link
    // wait. nullptr when nobody records (page tests).
    const modbus::TransactionLog* transactions = nullptr;
    // User interface thread: the link's health, which the main window takes in
    // from `transactions` at each tick of its timer before the page in view
    // refreshes, so that the log keeps its one reader. A page that opens a
    // new link resets it first. nullptr without a main window (page tests may
    // set their own).
    drive::LinkHealth* linkHealth = nullptr;
    // User interface thread: opens the bus monitor window; empty when there
    // is none.
    std::function<void()> openBusMonitor{};
    // User interface thread: called by the page that connects or disconnects,
    // so that the status line shows the new link at once. Set by the main
    // window; empty without one.
    std::function<void()> linkChanged{};
    // The scope page's own settings file (scope.ini beside system.ini); empty:
    // its settings are not kept.
    std::filesystem::path scopeSettingsFile{};

    const data::UiTextTable& uiTexts() const { return language.uiTexts(); }
    // A UI text, or the caller's built-in default when the language file has none.
    std::u16string_view uiText(std::size_t index, std::u16string_view fallback) const {
        return uiTexts().text(index, fallback);
    }
    // The program's own text in the chosen language.
    std::u16string_view words(std::u16string_view english, std::u16string_view chinese) const {
        return englishTexts ? english : chinese;
    }
    // A UI text of the language file, or the program's own in the chosen
    // language when the file has none.
    std::u16string_view uiText(std::size_t index, std::u16string_view english,
                               std::u16string_view chinese) const {
        return uiTexts().text(index, words(english, chinese));
    }
};

// The pages' rule before an operation that the user asks of the drive: true
// when the link is connected and healthy; otherwise shows the refusal message
// (UI 67 / UI 68, error icon) and returns false. User interface thread.
bool linkUsable(const AppContext& context);

}  // namespace app
