#include "pages/parameters/parameter_page.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "pages/parameters/compare_view.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace pages {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr std::u16string_view kFileFilter = u"(*.dat)|*.dat|*(*.*)|*.*||";
constexpr std::u16string_view kUnknown = u"未知";

// The buttons that start drive work or change what a job reads; disabled
// while a job of the page runs.
constexpr std::array<int, 7> kJobControls{
    ParameterPage::kBackupButton,  ParameterPage::kLoadButton,   ParameterPage::kImportButton,
    ParameterPage::kFactoryButton, ParameterPage::kEepromButton, ParameterPage::kWriteButton,
    ParameterPage::kModelCombo};

// Column headers: UI entry, default, width.
struct ColumnSpec {
    std::size_t entry;
    std::u16string_view fallback;
    int width;
};
constexpr std::array<ColumnSpec, 4> kColumns{{
    {75, u"参数号", 60},
    {76, u"参数名称", 274},
    {77, u"驱动器值", 90},
    {78, u"载入文件值", 95},
}};

// Controls whose resource text a UI entry replaces when present.
constexpr std::array<std::pair<int, std::size_t>, 10> kCaptions{{
    {ParameterPage::kGroup, 69},
    {ParameterPage::kBackupButton, 70},
    {ParameterPage::kLoadButton, 71},
    {ParameterPage::kImportButton, 72},
    {ParameterPage::kFactoryButton, 73},
    {ParameterPage::kEepromButton, 74},
    {ParameterPage::kDetailLabel, 79},
    {ParameterPage::kCurrentLabel, 80},
    {ParameterPage::kNewLabel, 81},
    {ParameterPage::kWriteButton, 82},
}};

// The expected duration of the EEPROM store-all: UI 104, else the default.
std::uint32_t saveTimeoutOf(const app::AppContext& context) {
    if (!context.uiTexts().present(104)) return drive::kDefaultSaveTimeoutMs;
    return data::readDecimal(context.uiTexts()[104].view());
}

}  // namespace

ParameterPage::ParameterPage(app::AppContext& context)
    : MainPage(resources::kParameterPage),
      context_(context),
      service_(context.session, context.language.parameters(), saveTimeoutOf(context)),
      jobs_(context) {}

ParameterPage::~ParameterPage() = default;

std::u16string ParameterPage::uiText(std::size_t index, std::u16string_view fallback) const {
    return std::u16string(context_.uiText(index, fallback));
}

bool ParameterPage::onInitDialog() {
    writeMode_ = 0;
    setRadioGroupIndex(kMemoryMode, writeMode_);
    setText(kCurrentValue, u"");
    setText(kCompareButton, context_.words(u"Compare", u"比较"));
    initList();

    if (context_.modelTableLoaded != 1) {
        showControl(kModelCombo, false);
    } else {
        showControl(kModelCombo, true);
        ui::Control& combo = control(kModelCombo);
        combo.clearItems();
        if (context_.models.count() > 0) {
            combo.addItem(context_.uiText(132, u"选择驱动器型号!"));
            for (std::size_t s = 0; s < context_.models.count(); ++s)
                combo.addItem(context_.models.wideName(s));
        }
        combo.setSelection(0);
    }

    if (!service_.tableFits()) {
        // A language file whose parameters do not fit one poll: the rest show
        // as unknown rather than being read past the buffer.
        const std::string text = "The parameter table does not fit the register read of " +
                                 std::to_string(kReadBufferBytes / 2) +
                                 " registers: only the first " + std::to_string(readableCount()) +
                                 " of " + std::to_string(parameters().size()) +
                                 " parameters are read from the drive.";
        ui::messageBox(platform::fromUtf8(text), u"Warning", ui::MessageIcon::Exclamation);
    }
    return true;
}

void ParameterPage::initList() {
    layoutControls();
    ui::Control& list = control(kList);
    list.setExtendedStyle(ui::list_style::kGridLines | ui::list_style::kFullRowSelect);
    for (std::size_t c = 0; c < kColumns.size(); ++c)
        list.insertColumn(static_cast<int>(c),
                          context_.uiText(kColumns[c].entry, kColumns[c].fallback),
                          kColumns[c].width);
    data::ParameterTable& table = parameters();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const data::ParameterDefinition& p = table[i];
        const int row = static_cast<int>(i);
        list.insertRow(row, p.numberText.view());
        list.setCellText(row, kNameColumn, p.name.view());
        list.setCellText(row, kDriveColumn,
                         data::valueToText(p.typeCode, p.driveValue.load(kRelaxed)));
    }
    list.setSelectionMark(0);
    ui::Control& progress = control(kProgress);
    progress.setRange(0, 100);
    progress.setPosition(0);
}

void ParameterPage::layoutControls() {
    move(context_.pageRect);
    const int w = clientRect().width();
    const int h = clientRect().height();
    const auto place = [this](int id, int x, int y, int cx, int cy) {
        control(id).move(ui::Rect::fromXywh(x, y, cx, cy));
    };
    const data::UiTextTable& texts = context_.uiTexts();
    // Texts first: the controls are sized to what they show.
    for (const auto& [id, entry] : kCaptions)
        if (texts.present(entry)) setText(id, texts[entry].view());
    if (texts.present(109)) setText(kMemoryMode, texts[109].view());
    if (texts.present(110)) setText(kEepromMode, texts[110].view());

    place(kGroup, 5, 10, w - 10, h - 30);
    place(kProgress, 5, h - 17, w - 10, 12);
    // The buttons keep their nominal width while the row has room, else
    // shrink to their texts; the model choice follows them.
    const int buttons[] = {kBackupButton, kLoadButton, kImportButton, kFactoryButton,
                           kEepromButton};
    const int comboWidth = std::max(130, fitSize(kModelCombo).width);
    const int compareWidth = std::max(55, fitSize(kCompareButton).width);
    int wanted = 0;
    for (int id : buttons) wanted += std::max(130, fitSize(id).width) + 20;
    const bool roomy = 15 + wanted + comboWidth + 10 + compareWidth + 15 <= w;
    int x = 15;
    for (int id : buttons) {
        const int bw = std::max(roomy ? 130 : 90, fitSize(id).width);
        place(id, x, 35, bw, 40);
        x += bw + (roomy ? 20 : 10);
    }
    place(kModelCombo, x, 45, comboWidth, 300);
    place(kCompareButton, x + comboWidth + 10, 40, compareWidth, 30);

    // The right pane is as wide as its bottom row needs (or its nominal
    // width); the list takes the rest and grows with the page.
    const int labelWidth = std::max({90, fitSize(kCurrentLabel).width, fitSize(kNewLabel).width});
    const int writeWidth = std::max(90, fitSize(kWriteButton).width);
    const int modeWidth = std::max({100, fitSize(kMemoryMode).width, fitSize(kEepromMode).width});
    const int paneWidth = std::max(389, labelWidth + 80 + 20 + writeWidth + 20 + modeWidth);
    const int paneX = w - 15 - paneWidth;
    place(kList, 15, 85, paneX - 25, h - 115);
    place(kDetailLabel, paneX, 85, paneWidth, 25);
    place(kDetail, paneX, 110, paneWidth, h - 205);
    place(kCurrentLabel, paneX, h - 85, labelWidth, 25);
    place(kCurrentValue, paneX + labelWidth, h - 85, 80, 25);
    place(kNewLabel, paneX, h - 55, labelWidth, 25);
    place(kNewValue, paneX + labelWidth, h - 55, 80, 25);
    place(kWriteButton, paneX + labelWidth + 100, h - 55, writeWidth, 25);
    place(kMemoryMode, w - 15 - modeWidth, h - 85, modeWidth, 25);
    place(kEepromMode, w - 15 - modeWidth, h - 55, modeWidth, 25);

    if (texts.present(109)) showControl(kMemoryMode, true);
    if (texts.present(110)) showControl(kEepromMode, true);
}

void ParameterPage::onDestroy() {
    jobs_.waitForEnd();
}

// --- Poll

std::uint8_t ParameterPage::readDriveValues() {
    return service_.readAll().accessCode();
}

// --- Refresh

std::u16string ParameterPage::driveText(std::size_t i) const {
    const data::ParameterDefinition& p = context_.language.parameters()[i];
    if (!context_.session.connected() || i >= readableCount()) return uiText(14, kUnknown);
    return data::valueToText(p.typeCode, p.driveValue.load(kRelaxed));
}

void ParameterPage::setCell(int row, int column, const std::u16string& text) {
    ui::Control& list = control(kList);
    if (list.cellText(row, column) != text) list.setCellText(row, column, text);
}

void ParameterPage::refreshView() {
    if (!exists()) return;
    // The store-all sends one command and waits for its answer: the bar
    // follows the expected duration and stops there while the wait goes on.
    if (storing_) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - storeStart_)
                                 .count();
        const std::uint32_t expected = saveTimeoutMs();
        if (expected > 0 && elapsed < expected)
            setProgress(static_cast<int>(elapsed * 100 / expected));
    }
    // The file values stay as they are while a job may be writing them.
    if (context_.modelTableLoaded == 1 && !busy()) applyDriveModel();
    data::ParameterTable& table = parameters();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const int row = static_cast<int>(i);
        setCell(row, kDriveColumn, driveText(i));
        const data::ParameterDefinition& p = table[i];
        if (p.writable())
            setCell(row, kFileColumn, data::valueToText(p.typeCode, p.fileValue.load(kRelaxed)));
    }
    showSelection();
}

void ParameterPage::applyDriveModel() {
    const int m = control(kModelCombo).selection();
    if (m < 1) return;
    service_.setFileLoaded(true);
    data::ParameterTable& table = parameters();
    const auto set = static_cast<std::size_t>(m - 1);
    // A set holds the first kModelValues parameters; the rest keep their values.
    const std::size_t n = std::min(table.size(), kModelValues);
    for (std::size_t i = 0; i < n; ++i)
        table[i].fileValue.store(static_cast<std::uint32_t>(context_.models.value(set, i)),
                                 kRelaxed);
}

std::u16string ParameterPage::detailText(const data::ParameterDefinition& p) const {
    if (data::typeSize(p.typeCode) == 0) return {};
    const auto number = [&p](std::uint32_t v) { return data::valueToText(p.typeCode, v); };
    std::u16string t;
    t += uiText(83, u"  参数名：") + p.name.str() + u"\r\n";
    t += uiText(84, u"参数范围：") + number(p.minimum) + u"～" + number(p.maximum) + u"\r\n";
    t += uiText(85, u"参数单位：") + p.unit.str() + u"\r\n";
    t += uiText(86, u"  出厂值：") + number(p.factoryValue) + u"\r\n";
    t += uiText(87, u"生效方式：") + p.effectMode.str() + u"\r\n";
    t += uiText(88, u"适用方式：") + p.applicableMode.str() + u"\r\n";
    t += uiText(89, u"参数说明：") + p.description.str();
    return t;
}

void ParameterPage::showSelection() {
    data::ParameterTable& table = parameters();
    ui::Control& list = control(kList);
    const int s = list.selectionMark();
    if (s < 0 || s >= static_cast<int>(table.size())) return;
    const data::ParameterDefinition& p = table[static_cast<std::size_t>(s)];
    if (s != lastShownRow_) {
        setText(kDetail, detailText(p));
        setText(kNewValue, list.cellText(s, kDriveColumn));
        list.setSelectionMark(s);
        list.ensureVisible(s);
        list.setRowSelected(s, true);
        lastShownRow_ = s;
    }
    const std::u16string current = list.cellText(lastShownRow_, kDriveColumn);
    if (text(kCurrentValue) != current) setText(kCurrentValue, current);
    enable(kNewValue, p.writable() && !busy());
}

// --- Commands

void ParameterPage::onCommand(int id) {
    switch (id) {
        case kWriteButton:
            writeSelected();
            break;
        case kBackupButton:
            backupToFile();
            break;
        case kLoadButton:
            loadFromFile();
            break;
        case kImportButton:
            importFileValues();
            break;
        case kFactoryButton:
            restoreFactoryValues();
            break;
        case kEepromButton:
            saveToEeprom();
            break;
        case kCompareButton:
            openCompareView(context_, service_);
            break;
        default:
            // A page has no OK or Cancel of its own.
            break;
    }
}

void ParameterPage::onSelectionChange(int id) {
    if (id != kModelCombo || modelWarned_) return;
    if (control(kModelCombo).selection() < 1 || parameters().size() <= kModelValues) return;
    modelWarned_ = true;
    const std::string text = "A drive model gives the values of the first " +
                             std::to_string(kModelValues) + " parameters only: the other " +
                             std::to_string(parameters().size() - kModelValues) +
                             " keep their file values.";
    ui::messageBox(platform::fromUtf8(text), u"Warning", ui::MessageIcon::Exclamation);
}

void ParameterPage::onListClick(int /*id*/, int /*row*/) {
    // The selection is picked up by the next refresh.
}

ui::KeyAction ParameterPage::preTranslateKey(ui::Key key) {
    // Enter and Escape go to the focused control; they never end the page.
    // Tab and the other keys are the dialog manager's.
    if (key == ui::Key::Enter || key == ui::Key::Escape) return ui::KeyAction::Deliver;
    return ui::KeyAction::Default;
}

void ParameterPage::setProgress(int position) {
    control(kProgress).setPosition(position);
}

void ParameterPage::showBusy(bool on) {
    for (int id : kJobControls) enable(id, !on);
    if (lastShownRow_ >= 0 && static_cast<std::size_t>(lastShownRow_) < parameters().size())
        enable(kNewValue, !on && parameters()[static_cast<std::size_t>(lastShownRow_)].writable());
}

bool ParameterPage::startJob(std::string name, std::function<void(drive::JobContext&)> body,
                             std::function<void()> onDone) {
    drive::Job job;
    job.name = std::move(name);
    job.body = std::move(body);
    job.onProgress = [this](std::size_t done, std::size_t total) {
        if (total > 0) setProgress(static_cast<int>(done * 100 / total));
    };
    job.onDone = [this, onDone = std::move(onDone)] {
        storing_ = false;
        showBusy(false);
        if (onDone) onDone();
    };
    if (!jobs_.start(std::move(job))) return false;
    showBusy(true);
    return true;
}

void ParameterPage::showParameterError(std::size_t index) {
    ui::messageBox(service_.displayName(index) + u" Error", u"Error", ui::MessageIcon::Error);
}

void ParameterPage::showMessage(std::size_t textEntry, std::u16string_view text,
                                std::size_t captionEntry, std::u16string_view caption,
                                ui::MessageIcon icon) {
    ui::messageBox(context_.uiText(textEntry, text), context_.uiText(captionEntry, caption), icon);
}

void ParameterPage::bulkFailed(const drive::BulkReport& report, bool nameParameter,
                               std::size_t textEntry, std::u16string_view text,
                               std::size_t captionEntry) {
    if (nameParameter) {
        for (const drive::ItemReport& item : report.items) {
            if (item.outcome == drive::ItemOutcome::refused ||
                item.outcome == drive::ItemOutcome::unconfirmed ||
                (item.outcome == drive::ItemOutcome::notReached && !item.result.ok())) {
                showParameterError(item.index);
                break;
            }
        }
    }
    showMessage(textEntry, text, captionEntry, u"Error", ui::MessageIcon::Error);
}

void ParameterPage::writeSelected() {
    if (!app::linkUsable(context_)) return;
    data::ParameterTable& table = parameters();
    const int r = lastShownRow_;
    if (r < 0 || r >= static_cast<int>(table.size())) return;
    const auto index = static_cast<std::size_t>(r);
    const data::ParameterDefinition& p = table[index];
    if (!p.writable()) return;

    std::optional<std::uint32_t> value;
    const std::u16string entered = text(kNewValue);
    const std::u16string current = control(kList).cellText(r, kDriveColumn);
    if (!entered.empty() && entered != current) {
        // The conversion reads at most 19 narrow bytes; a longer text would be
        // cut at an arbitrary place and write a value the user never typed.
        if (platform::wideToNarrow(entered).size() > kMaxEntryBytes) {
            showParameterError(index);
            return;
        }
        // The entered text is clamped into the range, as the page always did.
        std::array<std::uint8_t, 4> bytes{};
        const std::size_t count =
            data::textToValue(p.typeCode, p.minimum, p.maximum, entered, bytes);
        if (count > 0) {
            std::uint32_t field = 0;
            data::bytesToValue(p.typeCode, field,
                               std::span<const std::uint8_t>(bytes.data(), count));
            value = field;
        }
    }
    writeMode_ = std::max(0, radioGroupIndex(kMemoryMode));
    const bool store = writeMode_ != 0;
    if (!value && !store) return;

    auto written = std::make_shared<drive::Result>();
    auto stored = std::make_shared<drive::Result>();
    startJob(
        "parameter write",
        [this, index, value, store, written, stored](drive::JobContext&) {
            // A refused value write is not reported: the list shows the
            // drive's value. The store is asked for either way.
            if (value) *written = service_.writeOne(index, *value);
            if (store) *stored = service_.storeOne(index);
        },
        [this, index, written, stored] {
            // A write whose answer was lost may have been applied: the list
            // cannot show that yet, so the user is told to read it back.
            if (written->error == drive::Error::writeUnconfirmed)
                ui::messageBox(
                    service_.displayName(index) + u": " + platform::fromUtf8(written->cause()),
                    context_.uiText(90, u"Error"), ui::MessageIcon::Error);
            if (!stored->ok())
                showMessage(106, u"驱动器参数固化失败！", 105, u"Error", ui::MessageIcon::Error);
        });
}

void ParameterPage::backupToFile() {
    if (!app::linkUsable(context_)) return;
    std::optional<std::u16string> chosen = ui::saveFileDialog(kFileFilter);
    if (!chosen) return;
    std::u16string path = std::move(*chosen);
    if (path.find(u".dat") == std::u16string::npos) {
        path += u".dat";
        // The dialog asked about the name without ".dat"; a file of the
        // longer name is not replaced unasked.
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::path(path), ec)) {
            ui::messageBox(path + u" already exists. Choose it by its full name to replace it.",
                           context_.uiText(90, u"Error"));
            return;
        }
    }
    // Only values read from the drive after this connection and the last
    // write go into the file: without such a read the job reads first, with
    // progress, and a read that fails leaves no file.
    setProgress(0);
    auto result = std::make_shared<drive::Result>();
    startJob(
        "backup",
        [this, result, file = std::filesystem::path(path)](drive::JobContext& job) {
            *result = service_.backup(file, drive::BackupMode::readFirst, job.control());
        },
        [this, result] {
            if (result->ok()) return;
            std::u16string text(context_.uiText(91, u"备份参数失败！"));
            // A file that cannot be written gets the plain box; a backup
            // without values to trust says why.
            if (result->error != drive::Error::fileError)
                text += u"\r\n" + platform::fromUtf8(result->cause());
            ui::messageBox(text, context_.uiText(90, u"Error"));
        });
}

void ParameterPage::loadFromFile() {
    const std::optional<std::u16string> chosen = ui::openFileDialog(kFileFilter);
    if (!chosen) return;
    if (service_.load(std::filesystem::path(*chosen))) return;
    showMessage(93, u"参数加载失败！", 92, u"Error", ui::MessageIcon::None);
}

void ParameterPage::importFileValues() {
    if (!app::linkUsable(context_)) return;
    if (!fileLoaded()) {
        showMessage(95, u"还未加载文件，目前没有可写入的数据！", 94, u"Error",
                    ui::MessageIcon::Error);
        return;
    }
    // The values as they are now: the model choice cannot change them under
    // the job. The whole set is range-checked before anything is sent.
    std::vector<std::uint32_t> values = service_.fileValues();
    if (const auto bad = service_.firstOutOfRange(values)) {
        showParameterError(*bad);
        return;
    }
    setProgress(0);
    auto report = std::make_shared<drive::BulkReport>();
    startJob(
        "import",
        [this, report, values = std::move(values)](drive::JobContext& job) {
            *report = service_.writeAll(values, job.control());
        },
        [this, report] {
            if (!report->ok()) {
                showMessage(97, u"参数导入失败！", 96, u"Error", ui::MessageIcon::Error);
                return;
            }
            setProgress(100);
            showMessage(
                99, u"参数导入成功，执行【固化驱动器参数】操作方可保证写入的参数在断电后不丢失！",
                98, u"Success", ui::MessageIcon::Exclamation);
        });
}

void ParameterPage::restoreFactoryValues() {
    if (!app::linkUsable(context_)) return;
    setProgress(0);
    auto report = std::make_shared<drive::BulkReport>();
    startJob(
        "factory restore",
        [this, report](drive::JobContext& job) { *report = service_.factoryValues(job.control()); },
        [this, report] {
            if (!report->ok()) {
                bulkFailed(*report, true, 101, u"恢复出厂值失败！", 100);
                return;
            }
            setProgress(100);
            showMessage(103, u"恢复出厂值成功！", 102, u"Success", ui::MessageIcon::Exclamation);
        });
}

void ParameterPage::saveToEeprom() {
    if (!app::linkUsable(context_)) return;
    if (parameters().empty()) return;
    setProgress(0);
    auto result = std::make_shared<drive::Result>();
    if (!startJob(
            "EEPROM store", [this, result](drive::JobContext&) { *result = service_.storeAll(); },
            [this, result] {
                if (!result->ok()) {
                    showMessage(106, u"驱动器参数固化失败！", 105, u"Error",
                                ui::MessageIcon::Error);
                    return;
                }
                setProgress(100);
                showMessage(108, u"驱动器参数固化成功！", 107, u"Success",
                            ui::MessageIcon::Exclamation);
            }))
        return;
    storing_ = true;
    storeStart_ = std::chrono::steady_clock::now();
}

}  // namespace pages
