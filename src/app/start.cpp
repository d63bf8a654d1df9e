#include "app/start.h"

#include <cstdint>
#include <utility>

#include "app/dialogs.h"
#include "data/settings_file.h"
#include "modbus/master.h"
#include "platform/program_dir.h"
#include "platform/socket_layer.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace app {
namespace {

std::filesystem::path fileIn(const std::filesystem::path& directory, const char* relativeName) {
    return directory / std::filesystem::path(relativeName).make_preferred();
}

}  // namespace

int loadLanguageChoice(const std::filesystem::path& programDirectory, int choice,
                       data::LanguageData& into) {
    int loaded = 0;
    if (choice == LanguageDialog::English)
        loaded = data::loadLanguageFile(fileIn(programDirectory, kEnglishLanguageFile), into);
    else if (choice == LanguageDialog::Other)
        loaded = data::loadLanguageFile(fileIn(programDirectory, kOtherLanguageFile), into);
    if (!loaded)
        loaded = data::loadLanguageFile(fileIn(programDirectory, kChineseLanguageFile), into);
    return loaded;
}

int runApplication(const StartOptions& options, const PageFactory& pages) {
    const bool socketsStarted =
        options.startSocketLayer ? options.startSocketLayer() : platform::startSocketLayer();
    if (!socketsStarted) {
        ui::messageBox(resources::loadString(resources::kSocketStartFailedText),
                       ui::applicationTitle(), ui::MessageIcon::Error);
        return 1;
    }

    modbus::ModbusMaster master;
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

    const std::filesystem::path directory =
        options.programDirectory.empty() ? platform::programDirectory() : options.programDirectory;
    loadLanguageChoice(directory, choice, language);
    // Both files below are read against the tables of the language file.
    std::uint32_t settingsWord = data::kInitialSettingsWord;
    data::loadSettingsFile(fileIn(directory, kSettingsFile), settingsWord,
                           language.scopeQuantities().span());
    data::ModelValueSets models;
    const int modelTableLoaded =
        data::loadModelTable(fileIn(directory, kModelFile), language.parameters().size(), models);

    // Declared after the tables and before the window: it is joined after
    // the window has gone and before the tables that its jobs use.
    drive::JobRunner jobs([](std::function<void()> task) { ui::post(std::move(task)); });
    AppContext context{session, jobs, language, models, modelTableLoaded, settingsWord};
    {
        MainWindow window(context, pages, options.launchThread);
        window.runModal();
        // The window has joined the poll thread. The page objects go with the
        // window object, before the tables that they refer to.
    }
    data::saveSettingsFile(fileIn(directory, kSettingsFile), settingsWord,
                           language.scopeQuantities().span());
    language = data::LanguageData();
    models = data::ModelValueSets();
    return 0;
}

}  // namespace app
