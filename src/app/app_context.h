#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/link_state.h"
#include "data/language.h"
#include "data/model_sets.h"
#include "modbus/drive_access.h"
#include "ui/geometry.h"

namespace app {

// What the application hands to its pages: the program-wide objects, each a
// single instance that lives from the start sequence to its end. The loaded
// tables never change size while the main window runs; pages change only
// their value fields.
struct AppContext {
    LinkState& link;
    modbus::DriveAccess& drive;
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

    const data::UiTextTable& uiTexts() const { return language.uiTexts(); }
    // A UI text, or the caller's built-in default when the language file has none.
    std::u16string_view uiText(std::size_t index, std::u16string_view fallback) const {
        return uiTexts().text(index, fallback);
    }
};

// The pages' rule before an operation that the user asks of the drive: true
// when the link is connected and healthy; otherwise shows the refusal message
// (UI 67 / UI 68, error icon) and returns false. User interface thread.
bool linkUsable(const AppContext& context);

}  // namespace app
