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

#include "app/link_text.h"
#include "pages/parameters/compare_view.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace pages {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr std::u16string_view kFileFilter = u"(*.dat)|*.dat|*(*.*)|*.*||";

// The buttons that start drive work or change what a job reads; disabled
// while a job of the page runs.
constexpr std::array<int, 7> kJobControls{
    ParameterPage::kBackupButton,  ParameterPage::kLoadButton,   ParameterPage::kImportButton,
    ParameterPage::kFactoryButton, ParameterPage::kEepromButton, ParameterPage::kWriteButton,
    ParameterPage::kModelCombo};

// Column headers: UI entry (0: none in the language file), defaults, width.
struct ColumnText {
    std::size_t entry;
    std::u16string_view english;
    std::u16string_view chinese;
    int width;
};
constexpr std::array<ColumnText, 5> kColumns{{
    {75, u"No.", u"参数号", 60},
    {76, u"Name", u"参数名称", 224},
    {77, u"Drive value", u"驱动器值", 90},
    {78, u"File value", u"载入文件值", 95},
    {0, u"Unit", u"单位", 60},
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
            combo.addItem(context_.uiText(132, u"Select drive model!", u"选择驱动器型号!"));
            for (std::size_t s = 0; s < context_.models.count(); ++s)
                combo.addItem(context_.models.wideName(s));
        }
        combo.setSelection(0);
    }

    if (!service_.tableFits()) {
        // A language file whose parameters do not fit one poll: the rest show
        // as unknown rather than being read past the buffer.
        const auto n = [](std::size_t v) { return platform::fromUtf8(std::to_string(v)); };
        const std::u16string text = words(
            u"The parameter table does not fit the register read of " + n(kReadBufferBytes / 2) +
                u" registers: only the first " + n(readableCount()) + u" of " +
                n(parameters().size()) + u" parameters are read from the drive.",
            u"参数表超出一次读取的 " + n(kReadBufferBytes / 2) + u" 个寄存器：只从驱动器读取 " +
                n(parameters().size()) + u" 个参数中的前 " + n(readableCount()) + u" 个。");
        ui::messageBox(text, words(u"Warning", u"警告"), ui::MessageIcon::Exclamation);
    }
    return true;
}

void ParameterPage::initList() {
    layoutControls();
    ui::Control& list = control(kList);
    list.setExtendedStyle(ui::list_style::kGridLines | ui::list_style::kFullRowSelect);
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        const ColumnText& column = kColumns[c];
        const std::u16string header =
            column.entry
                ? std::u16string(context_.uiText(column.entry, column.english, column.chinese))
                : words(column.english, column.chinese);
        list.insertColumn(static_cast<int>(c), header, column.width);
    }
    data::ParameterTable& table = parameters();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const data::ParameterDefinition& p = table[i];
        const int row = static_cast<int>(i);
        list.insertRow(row, p.numberText.view());
        list.setCellText(row, kNameColumn, p.name.view());
        list.setCellText(row, kDriveColumn,
                         data::valueToText(p.typeCode, p.driveValue.load(kRelaxed)));
        list.setCellText(row, kUnitColumn, p.unit.view());
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
    if (groupCaption_.empty()) groupCaption_ = text(kGroup);
    updateGroupCaption();
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

void ParameterPage::updateGroupCaption() {
    std::u16string caption = groupCaption_;
    if (!sourceName_.empty())
        caption += (sourceIsModel_ ? words(u" - drive model: ", u" - 驱动器型号：")
                                   : words(u" - file: ", u" - 文件：")) +
                   sourceName_;
    if (text(kGroup) != caption) setText(kGroup, caption);
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
    if (!context_.session.connected() || i >= readableCount())
        return std::u16string(context_.uiText(14, u"Unknown", u"未知"));
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
        // Empty until a file or a drive model gave values.
        if (p.writable())
            setCell(row, kFileColumn,
                    fileLoaded() ? data::valueToText(p.typeCode, p.fileValue.load(kRelaxed))
                                 : std::u16string());
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
    t += uiText(83, u"Name: ", u"  参数名：") + p.name.str() + u"\r\n";
    t += uiText(84, u"Range: ", u"参数范围：") + number(p.minimum) + u"～" + number(p.maximum) +
         u"\r\n";
    t += uiText(85, u"Unit: ", u"参数单位：") + p.unit.str() + u"\r\n";
    t += uiText(86, u"Factory: ", u"  出厂值：") + number(p.factoryValue) + u"\r\n";
    t += uiText(87, u"Takes effect: ", u"生效方式：") + p.effectMode.str() + u"\r\n";
    t += uiText(88, u"Modes: ", u"适用方式：") + p.applicableMode.str() + u"\r\n";
    t += uiText(89, u"Details: ", u"参数说明：") + p.description.str();
    return t;
}

void ParameterPage::showSelection() {
    data::ParameterTable& table = parameters();
    ui::Control& list = control(kList);
    const int s = list.selectionMark();
    if (s < 0 || s >= static_cast<int>(table.size())) return;
    const data::ParameterDefinition& p = table[static_cast<std::size_t>(s)];
    const std::u16string current = list.cellText(s, kDriveColumn);
    if (s != lastShownRow_) {
        setText(kDetail, detailText(p));
        showDriveValueInEntry(current);
        list.setSelectionMark(s);
        list.ensureVisible(s);
        list.setRowSelected(s, true);
        lastShownRow_ = s;
    } else if (text(kNewValue) == shownEntry_ && current != shownEntry_) {
        // Nothing typed: the entry follows the drive value (after a poll, a
        // bulk write, a reconnect).
        showDriveValueInEntry(current);
    }
    if (text(kCurrentValue) != current) setText(kCurrentValue, current);
    enable(kNewValue, p.writable() && !busy());
}

void ParameterPage::showDriveValueInEntry(const std::u16string& value) {
    shownEntry_ = value;
    setText(kNewValue, value);
}

void ParameterPage::followDriveValue() {
    if (lastShownRow_ >= 0 && lastShownRow_ < control(kList).rowCount())
        showDriveValueInEntry(control(kList).cellText(lastShownRow_, kDriveColumn));
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
    if (id != kModelCombo) return;
    if (const int m = control(kModelCombo).selection(); m >= 1) {
        sourceName_ = control(kModelCombo).itemText(m);
        sourceIsModel_ = true;
        updateGroupCaption();
    }
    if (modelWarned_) return;
    if (control(kModelCombo).selection() < 1 || parameters().size() <= kModelValues) return;
    modelWarned_ = true;
    const auto n = [](std::size_t v) { return platform::fromUtf8(std::to_string(v)); };
    const std::u16string text =
        words(u"A drive model gives the values of the first " + n(kModelValues) +
                  u" parameters only: the other " + n(parameters().size() - kModelValues) +
                  u" keep their file values.",
              u"驱动器型号只给出前 " + n(kModelValues) + u" 个参数的值：其余 " +
                  n(parameters().size() - kModelValues) + u" 个保留其文件值。");
    ui::messageBox(text, words(u"Warning", u"警告"), ui::MessageIcon::Exclamation);
}

void ParameterPage::onListClick(int /*id*/, int /*row*/) {
    // The selection is picked up by the next refresh.
}

ui::KeyAction ParameterPage::preTranslateKey(ui::Key key) {
    // Enter in "New value" applies it; otherwise Enter and Escape go to the
    // focused control, and neither ends the page. Tab and the other keys are
    // the dialog manager's.
    const ui::Control* focused = focus();
    if (key == ui::Key::Enter && focused && focused->id() == kNewValue) {
        writeSelected();
        return ui::KeyAction::Swallow;
    }
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

void ParameterPage::showMessage(std::size_t textEntry, std::u16string_view english,
                                std::u16string_view chinese, std::size_t captionEntry,
                                ui::MessageIcon icon, std::u16string_view detail) {
    std::u16string text(context_.uiText(textEntry, english, chinese));
    if (!detail.empty()) text += u"\r\n" + std::u16string(detail);
    // The success boxes carry the exclamation icon, as they always did.
    const std::u16string_view caption = icon == ui::MessageIcon::Exclamation
                                            ? context_.uiText(captionEntry, u"Success", u"成功")
                                            : context_.uiText(captionEntry, u"Error", u"错误");
    ui::messageBox(text, caption, icon);
}

std::u16string ParameterPage::rangeWords(std::size_t index) const {
    const data::ParameterDefinition& p = context_.language.parameters()[index];
    const std::u16string name = service_.displayName(index);
    const std::u16string low = data::valueToText(p.typeCode, p.minimum);
    const std::u16string high = data::valueToText(p.typeCode, p.maximum);
    std::u16string unit = p.unit.str();
    if (!unit.empty()) unit = u" " + unit;
    return words(name + u" takes " + low + u" to " + high + unit + u".",
                 name + u" 的范围是 " + low + u"～" + high + unit + u"。");
}

std::u16string ParameterPage::entryRefusal(std::size_t index, std::u16string_view entered,
                                           const drive::Result& why) const {
    const std::u16string name = service_.displayName(index);
    const std::u16string quoted = u"\"" + std::u16string(entered) + u"\"";
    std::u16string text = why.error == drive::Error::outOfRange
                              ? words(name + u": " + quoted + u" is outside the range.",
                                      name + u"：" + quoted + u" 超出范围。")
                              : words(name + u": " + quoted + u" is not a whole number.",
                                      name + u"：" + quoted + u" 不是整数。");
    return text + u"\r\n" + rangeWords(index) +
           words(u"\r\nNothing was written.", u"\r\n未写入任何值。");
}

std::u16string ParameterPage::valueOutOfRange(std::size_t index, std::uint32_t value) const {
    const data::ParameterDefinition& p = context_.language.parameters()[index];
    const std::u16string name = service_.displayName(index);
    const std::u16string v = data::valueToText(p.typeCode, value);
    return words(name + u" = " + v + u" is outside the range. ",
                 name + u" = " + v + u" 超出范围。") +
           rangeWords(index);
}

std::u16string ParameterPage::fileCheckWords(const data::ValueFileResult& r) const {
    const auto number = [](std::size_t n) { return platform::fromUtf8(std::to_string(n)); };
    switch (r.check) {
        case data::ValueFileCheck::ok:
            return {};
        case data::ValueFileCheck::unreadable:
            return words(u"It cannot be read: ", u"无法读取：") + platform::fromUtf8(r.file.reason);
        case data::ValueFileCheck::tooShort:
            return words(
                u"It is too short for a parameter file (" + number(r.fileBytes) + u" bytes).",
                u"文件太短，不是参数文件（" + number(r.fileBytes) + u" 字节）。");
        case data::ValueFileCheck::checksum:
            return words(u"Its checksum does not match: the file is damaged.",
                         u"校验和不符：文件已损坏。");
        case data::ValueFileCheck::length:
            return words(u"Its length field says " + number(r.found) + u" bytes, the file has " +
                             number(r.fileBytes) + u".",
                         u"长度字段为 " + number(r.found) + u" 字节，文件实为 " +
                             number(r.fileBytes) + u" 字节。");
        case data::ValueFileCheck::count:
            return words(u"It holds " + number(r.found) + u" parameters; this drive's table has " +
                             number(parameters().size()) + u".",
                         u"文件含 " + number(r.found) + u" 个参数，本驱动器的参数表有 " +
                             number(parameters().size()) + u" 个。");
        case data::ValueFileCheck::outOfRange:
            return valueOutOfRange(r.parameter, r.found);
    }
    return {};
}

std::u16string ParameterPage::bulkFailureWords(const drive::BulkReport& report) const {
    std::u16string text;
    for (const drive::ItemReport& item : report.items) {
        if (item.outcome != drive::ItemOutcome::refused &&
            item.outcome != drive::ItemOutcome::unconfirmed)
            continue;
        const data::ParameterDefinition& p = context_.language.parameters()[item.index];
        text += service_.displayName(item.index) + u" = " +
                data::valueToText(p.typeCode, item.value) + u": " +
                app::linkCause(context_, item.result) + u"\r\n";
        break;
    }
    if (!report.result.ok() && report.result.error != drive::Error::refused)
        text += app::linkCause(context_, report.result) + u"\r\n";
    const auto n = [&](drive::ItemOutcome o) {
        return platform::fromUtf8(std::to_string(report.count(o)));
    };
    using O = drive::ItemOutcome;
    text += words(n(O::written) + u" written, " + n(O::refused) + u" refused, " +
                      n(O::unconfirmed) + u" unconfirmed, " + n(O::notReached) + u" not reached.",
                  u"已写入 " + n(O::written) + u"，被拒绝 " + n(O::refused) + u"，未确认 " +
                      n(O::unconfirmed) + u"，未发送 " + n(O::notReached) + u"。");
    return text;
}

std::size_t ParameterPage::writableCount() {
    std::size_t n = 0;
    for (const data::ParameterDefinition& p : parameters())
        if (p.writable() && data::typeSize(p.typeCode) != 0) ++n;
    return n;
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
        // Never clamped or cut: a text that is not exactly a value of the
        // parameter is refused before anything is sent.
        std::uint32_t field = 0;
        if (const drive::Result parsed = service_.parseValue(index, entered, field); !parsed) {
            ui::messageBox(entryRefusal(index, entered, parsed), words(u"Error", u"错误"),
                           ui::MessageIcon::Exclamation);
            setFocus(kNewValue);
            control(kNewValue).setEditSelection(0, -1);
            return;
        }
        value = field;
    }
    writeMode_ = std::max(0, radioGroupIndex(kMemoryMode));
    const bool store = writeMode_ != 0;
    if (!value && !store) return;

    auto written = std::make_shared<drive::Result>();
    auto stored = std::make_shared<drive::Result>();
    startJob(
        "parameter write",
        [this, index, value, store, written, stored](drive::JobContext&) {
            if (value) *written = service_.writeOne(index, *value);
            // A value the drive did not take is not stored either.
            if (store && written->ok()) *stored = service_.storeOne(index);
        },
        [this, index, value, store, written, stored] {
            const data::ParameterDefinition& parameter = parameters()[index];
            const std::u16string name = service_.displayName(index);
            const std::u16string valueText =
                value ? data::valueToText(parameter.typeCode, *value) : std::u16string();
            if (!written->ok()) {
                // A write whose answer was lost may have been applied: the
                // list cannot show that yet, so the user is told to read it back.
                const std::u16string head =
                    written->error == drive::Error::writeUnconfirmed
                        ? name + u": "
                        : name + u" = " + valueText + words(u" was not written: ", u" 未写入：");
                ui::messageBox(head + app::linkCause(context_, *written),
                               context_.uiText(90, u"Error", u"错误"), ui::MessageIcon::Error);
                // The typed text no longer stands as if it were the drive's.
                if (lastShownRow_ == static_cast<int>(index))
                    showDriveValueInEntry(control(kList).cellText(lastShownRow_, kDriveColumn));
                return;
            }
            if (store && !stored->ok()) {
                showMessage(106, u"Saving the drive parameters to EEPROM failed!",
                            u"驱动器参数固化失败！", 105, ui::MessageIcon::Error,
                            name + u": " + app::linkCause(context_, *stored));
                return;
            }
            // The written value stands in the entry until the drive's changes.
            if (value && lastShownRow_ == static_cast<int>(index)) shownEntry_ = valueText;
            std::u16string note = value ? name + u" = " + valueText : name;
            note += store ? words(u" stored in EEPROM", u" 已存入 EEPROM")
                          : words(u" written", u" 已写入");
            if (context_.showNote) context_.showNote(note);
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
            ui::messageBox(
                words(path + u" already exists. Choose it by its full name to replace it.",
                      path + u" 已存在。如要替换，请以完整文件名选择它。"),
                context_.uiText(90, u"Error", u"错误"));
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
        [this, result, path] {
            if (!result->ok()) {
                // The cause names the path and the system's reason, or why the
                // values could not be trusted.
                std::u16string text(
                    context_.uiText(91, u"Backing up the parameters failed!", u"备份参数失败！"));
                text += u"\r\n" + app::linkCause(context_, *result);
                ui::messageBox(text, context_.uiText(90, u"Error", u"错误"));
                return;
            }
            setProgress(100);
            if (context_.showNote)
                context_.showNote(words(u"Parameters backed up to ", u"参数已备份到 ") + path);
        });
}

void ParameterPage::loadFromFile() {
    const std::optional<std::u16string> chosen = ui::openFileDialog(kFileFilter);
    if (!chosen) return;
    const std::filesystem::path path(*chosen);
    // Out-of-range values are refused here, so that what loads can be imported.
    const data::ValueFileResult r = service_.loadFile(path, data::RangeCheck::on);
    if (!r.ok()) {
        showMessage(93, u"Loading the parameter file failed!", u"参数加载失败！", 92,
                    ui::MessageIcon::None, *chosen + u"\r\n" + fileCheckWords(r));
        return;
    }
    // The file wins over a chosen drive model, which would overwrite its
    // values at the next tick.
    if (context_.modelTableLoaded == 1 && control(kModelCombo).selection() > 0)
        control(kModelCombo).setSelection(0);
    sourceName_ = path.filename().u16string();
    sourceIsModel_ = false;
    updateGroupCaption();
    if (context_.showNote) context_.showNote(words(u"Loaded ", u"已加载 ") + *chosen);
}

void ParameterPage::importFileValues() {
    if (!app::linkUsable(context_)) return;
    if (!fileLoaded()) {
        showMessage(95, u"No file loaded yet, there is nothing to write!",
                    u"还未加载文件，目前没有可写入的数据！", 94, ui::MessageIcon::Error);
        return;
    }
    // The values as they are now: the model choice cannot change them under
    // the job. The whole set is range-checked before anything is sent.
    std::vector<std::uint32_t> values = service_.fileValues();
    if (const auto bad = service_.firstOutOfRange(values)) {
        showMessage(97, u"Writing the file values failed!", u"参数导入失败！", 96,
                    ui::MessageIcon::Error,
                    valueOutOfRange(*bad, values[*bad]) +
                        words(u"\r\nNothing was written.", u"\r\n未写入任何值。"));
        return;
    }
    const std::u16string count = platform::fromUtf8(std::to_string(writableCount()));
    if (!ui::askYesNo(
            words(u"Write the values of " + sourceName_ + u" to " + count +
                      u" parameters of the drive?",
                  u"将把 " + sourceName_ + u" 的值写入驱动器的 " + count + u" 个参数，继续吗？"),
            words(u"Write file values", u"写入文件值")))
        return;
    setProgress(0);
    auto report = std::make_shared<drive::BulkReport>();
    startJob(
        "import",
        [this, report, values = std::move(values)](drive::JobContext& job) {
            *report = service_.writeAll(values, job.control());
        },
        [this, report] {
            followDriveValue();
            if (!report->ok()) {
                showMessage(97, u"Writing the file values failed!", u"参数导入失败！", 96,
                            ui::MessageIcon::Error, bulkFailureWords(*report));
                return;
            }
            setProgress(100);
            showMessage(
                99,
                u"File values written. Use \"Save to EEPROM\" to keep them after the "
                u"drive is switched off!",
                u"参数导入成功，执行【固化驱动器参数】操作方可保证写入的参数在断电后不丢失！", 98,
                ui::MessageIcon::Exclamation);
        });
}

void ParameterPage::restoreFactoryValues() {
    if (!app::linkUsable(context_)) return;
    const std::u16string count = platform::fromUtf8(std::to_string(writableCount()));
    if (!ui::askYesNo(
            words(u"Write the factory values to " + count +
                      u" parameters of the drive? Their present values are lost.",
                  u"将把驱动器的 " + count + u" 个参数恢复为出厂值，当前值将丢失。继续吗？"),
            words(u"Factory defaults", u"恢复出厂值")))
        return;
    setProgress(0);
    auto report = std::make_shared<drive::BulkReport>();
    startJob(
        "factory restore",
        [this, report](drive::JobContext& job) { *report = service_.factoryValues(job.control()); },
        [this, report] {
            followDriveValue();
            if (!report->ok()) {
                showMessage(101, u"Restoring the factory values failed!", u"恢复出厂值失败！", 100,
                            ui::MessageIcon::Error, bulkFailureWords(*report));
                return;
            }
            setProgress(100);
            showMessage(103, u"Factory values restored!", u"恢复出厂值成功！", 102,
                        ui::MessageIcon::Exclamation);
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
                    showMessage(106, u"Saving the drive parameters to EEPROM failed!",
                                u"驱动器参数固化失败！", 105, ui::MessageIcon::Error,
                                app::linkCause(context_, *result));
                    return;
                }
                setProgress(100);
                showMessage(108, u"Drive parameters saved to EEPROM!", u"驱动器参数固化成功！", 107,
                            ui::MessageIcon::Exclamation);
            }))
        return;
    storing_ = true;
    storeStart_ = std::chrono::steady_clock::now();
}

}  // namespace pages
