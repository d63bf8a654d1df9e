#include "pages/parameters/parameter_page.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>

#include "data/value_file.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace pages {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr std::u16string_view kFileFilter = u"(*.dat)|*.dat|*(*.*)|*.*||";
constexpr std::u16string_view kUnknown = u"未知";

// Time-out and retries of the one-parameter EEPROM command.
constexpr std::uint16_t kStoreOneTimeoutMs = 400;
constexpr std::uint8_t kStoreOneRetries = 0;
// The store-all command gets saveTimeoutMs plus this, and one retry.
constexpr std::uint32_t kStoreAllExtraMs = 2000;
constexpr std::uint8_t kStoreAllRetries = 1;
constexpr unsigned kSaveWaitStepMs = 20;

constexpr std::uint32_t kSaveBusy = 2;
constexpr std::uint32_t kSaveSucceeded = 1;

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

std::uint32_t tickMs() {
    return static_cast<std::uint32_t>(platform::monotonicMicros() / 1000);
}

}  // namespace

ParameterPage::ParameterPage(app::AppContext& context, app::ThreadLauncher launcher)
    : MainPage(resources::kParameterPage), context_(context), launcher_(std::move(launcher)) {
    if (context_.uiTexts().present(104))
        saveTimeoutMs_ = data::readDecimal(context_.uiTexts()[104].view());
    planReads();
}

ParameterPage::~ParameterPage() {
    // The window normally went first (onDestroy); this covers a page object
    // that goes while its window is still there.
    stopWorkerThread();
}

std::u16string ParameterPage::uiText(std::size_t index, std::u16string_view fallback) const {
    return std::u16string(context_.uiText(index, fallback));
}

// The blocks that the poll reads: from the first parameter's register to the
// last one's, 12 registers a block, as many as the read buffer holds and the
// register space leaves room for (a block must end at or below 65535). The
// parameters whose bytes lie inside what is read are the readable ones.
void ParameterPage::planReads() {
    const auto table =
        std::span<const data::ParameterDefinition>(parameters().data(), parameters().size());
    if (table.empty()) return;
    firstAddress_ = table.front().address;
    const std::uint32_t first = firstAddress_;
    const std::uint32_t last = table.back().address;
    const std::uint32_t wanted = last < first ? 0 : (last - first) / kBlockRegisters + 1;
    const std::uint32_t bufferBlocks = kReadBufferBytes / (2u * kBlockRegisters);
    const std::uint32_t spaceBlocks =
        first + kBlockRegisters - 1 > 0xFFFF
            ? 0
            : (0xFFFF - (first + kBlockRegisters - 1)) / kBlockRegisters + 1;
    const std::uint32_t blocks = std::min({wanted, bufferBlocks, spaceBlocks});
    blocks_ = static_cast<int>(blocks);
    const std::size_t bytes = std::size_t{blocks} * 2u * kBlockRegisters;
    std::size_t offset = 0;
    readable_ = 0;
    for (const data::ParameterDefinition& p : table) {
        const std::size_t size = data::typeSize(p.typeCode);
        if (offset + size > bytes) break;
        offset += size;
        ++readable_;
    }
    tableFits_ = blocks == wanted && readable_ == table.size();
}

bool ParameterPage::onInitDialog() {
    writeMode_ = 0;
    setRadioGroupIndex(kMemoryMode, writeMode_);
    setText(kCurrentValue, u"");
    initList();
    startWorker();

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

    if (!tableFits_) {
        // A language file whose parameters do not fit one poll: the rest show
        // as unknown rather than being read past the buffer.
        const std::string text = "The parameter table does not fit the register read of " +
                                 std::to_string(kReadBufferBytes / 2) +
                                 " registers: only the first " + std::to_string(readable_) +
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
    place(kGroup, 5, 10, w - 10, h - 30);
    place(kProgress, 5, h - 17, w - 10, 12);
    const int buttons[] = {kBackupButton, kLoadButton, kImportButton, kFactoryButton,
                           kEepromButton};
    for (int i = 0; i < 5; ++i) place(buttons[i], 15 + 150 * i, 35, 130, 40);
    place(kModelCombo, 765, 45, 130, 300);
    place(kList, 15, 85, 540, h - 115);
    place(kDetailLabel, 565, 85, w - 580, 25);
    place(kDetail, 565, 110, w - 580, h - 205);
    place(kCurrentLabel, 565, h - 85, 90, 25);
    place(kCurrentValue, 655, h - 85, 80, 25);
    place(kNewLabel, 565, h - 55, 90, 25);
    place(kNewValue, 655, h - 55, 80, 25);
    place(kWriteButton, 755, h - 55, 90, 25);
    place(kMemoryMode, 865, h - 85, 100, 25);
    place(kEepromMode, 865, h - 55, 100, 25);

    const data::UiTextTable& texts = context_.uiTexts();
    for (const auto& [id, entry] : kCaptions)
        if (texts.present(entry)) setText(id, texts[entry].view());
    if (texts.present(109)) {
        setText(kMemoryMode, texts[109].view());
        showControl(kMemoryMode, true);
    }
    if (texts.present(110)) {
        setText(kEepromMode, texts[110].view());
        showControl(kEepromMode, true);
    }
}

// --- EEPROM worker

void ParameterPage::startWorker() {
    stopWorker_.store(false, kRelaxed);
    {
        std::lock_guard lock(eventMutex_);
        saveEvent_ = false;
    }
    std::function<void()> body = [this] { eepromWorker(); };
    try {
        worker_ = launcher_ ? launcher_(std::move(body)) : std::thread(std::move(body));
    } catch (const std::system_error&) {
        worker_ = std::thread();
    }
    if (!worker_.joinable()) ui::messageBox(u"Creat thread error!", u"Error");
}

void ParameterPage::stopWorkerThread() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard lock(eventMutex_);
        stopWorker_.store(true, kRelaxed);
        saveEvent_ = true;
    }
    eventSignal_.notify_one();
    // A store-all command in flight ends within its own time-out; the page
    // and the link it uses stay until then.
    worker_.join();
}

void ParameterPage::eepromWorker() {
    while (true) {
        {
            std::unique_lock lock(eventMutex_);
            eventSignal_.wait(lock, [this] { return saveEvent_; });
            saveEvent_ = false;
        }
        if (stopWorker_.load(kRelaxed)) return;
        storeAll();
    }
}

void ParameterPage::storeAll() {
    saveState_.store(kSaveBusy, kRelaxed);
    const std::uint8_t channel = context_.link.channel.load(kRelaxed);
    // Saturated rather than wrapped: a long store must not get a short time-out.
    const std::uint64_t timeout = std::uint64_t{saveTimeoutMs_} + kStoreAllExtraMs;
    context_.drive.setLinkTiming(
        channel, static_cast<std::uint16_t>(std::min<std::uint64_t>(timeout, 0xFFFF)),
        kStoreAllRetries);
    const std::uint8_t command[2] = {static_cast<std::uint8_t>(kStoreAll & 0xFF),
                                     static_cast<std::uint8_t>(kStoreAll >> 8)};
    const std::uint8_t r = context_.drive.writeRegisters(kEepromCommandRegister, command, 2);
    saveState_.store(r == 0 ? kSaveSucceeded : 0, kRelaxed);
    context_.drive.setLinkTiming(channel, context_.link.timeoutMs.load(kRelaxed),
                                 context_.link.retries.load(kRelaxed));
}

void ParameterPage::onDestroy() {
    stopWorkerThread();
}

// --- Poll

std::uint8_t ParameterPage::readDriveValues() {
    data::ParameterTable& table = parameters();
    if (table.empty()) return 0;
    std::array<std::uint8_t, kReadBufferBytes> buffer{};
    for (int k = 0; k < blocks_; ++k) {
        const auto address = static_cast<std::uint16_t>(firstAddress_ + kBlockRegisters * k);
        const std::uint8_t r = context_.drive.readRegisters(
            address,
            buffer.data() + std::size_t{2u * kBlockRegisters} * static_cast<std::size_t>(k),
            2u * kBlockRegisters);
        if (r != 0) return r;
    }
    std::size_t offset = 0;
    for (std::size_t i = 0; i < readable_; ++i) {
        data::ParameterDefinition& p = table[i];
        offset += data::bytesToValue(p.typeCode, p.driveValue,
                                     std::span<const std::uint8_t>(buffer).subspan(offset));
    }
    return 0;
}

// --- Refresh

std::u16string ParameterPage::driveText(std::size_t i) const {
    const data::ParameterDefinition& p = context_.language.parameters()[i];
    if (context_.link.connected.load(kRelaxed) != 1 || i >= readable_) return uiText(14, kUnknown);
    return data::valueToText(p.typeCode, p.driveValue.load(kRelaxed));
}

void ParameterPage::setCell(int row, int column, const std::u16string& text) {
    ui::Control& list = control(kList);
    if (list.cellText(row, column) != text) list.setCellText(row, column, text);
}

void ParameterPage::refreshView() {
    if (!exists()) return;
    if (context_.modelTableLoaded == 1) applyDriveModel();
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
    fileLoaded_ = true;
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
    enable(kNewValue, p.writable());
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

ui::KeyAction ParameterPage::preTranslateKey(ui::Key /*key*/) {
    // Enter and Escape go to the focused control; they never end the page.
    return ui::KeyAction::Deliver;
}

void ParameterPage::restoreLinkTiming() {
    context_.drive.setLinkTiming(context_.link.channel.load(kRelaxed),
                                 context_.link.timeoutMs.load(kRelaxed),
                                 context_.link.retries.load(kRelaxed));
}

void ParameterPage::setProgress(int position) {
    control(kProgress).setPosition(position);
}

void ParameterPage::showParameterError(const data::ParameterDefinition& p) {
    std::u16string name = p.numberText.str();
    if (name.empty()) name = p.name.str();
    ui::messageBox(name + u" Error", u"Error", ui::MessageIcon::Error);
}

void ParameterPage::writeSelected() {
    if (!app::linkUsable(context_)) return;
    data::ParameterTable& table = parameters();
    const int r = lastShownRow_;
    if (r < 0 || r >= static_cast<int>(table.size())) return;
    const data::ParameterDefinition& p = table[static_cast<std::size_t>(r)];
    if (!p.writable()) return;

    const std::u16string entered = text(kNewValue);
    const std::u16string current = control(kList).cellText(r, kDriveColumn);
    if (!entered.empty() && entered != current) {
        // The conversion reads at most 19 narrow bytes; a longer text would be
        // cut at an arbitrary place and write a value the user never typed.
        if (platform::wideToNarrow(entered).size() > kMaxEntryBytes) {
            showParameterError(p);
            return;
        }
        std::array<std::uint8_t, 4> bytes{};
        const std::size_t count =
            data::textToValue(p.typeCode, p.minimum, p.maximum, entered, bytes);
        // A failed value write is not reported: the list shows the drive's value.
        if (count > 0)
            context_.drive.writeRegisters(p.address, bytes.data(),
                                          static_cast<std::uint32_t>(count));
    }

    writeMode_ = std::max(0, radioGroupIndex(kMemoryMode));
    if (writeMode_ == 0) return;
    std::uint8_t res = modbus::kAccessFailed;
    // Position 65535 would read as "store all".
    if (r < kStoreAll) {
        const std::uint8_t position[2] = {static_cast<std::uint8_t>(r & 0xFF),
                                          static_cast<std::uint8_t>((r >> 8) & 0xFF)};
        context_.drive.setLinkTiming(context_.link.channel.load(kRelaxed), kStoreOneTimeoutMs,
                                     kStoreOneRetries);
        res = context_.drive.writeRegisters(kEepromCommandRegister, position, 2);
        restoreLinkTiming();
    }
    if (res != 0)
        ui::messageBox(context_.uiText(106, u"驱动器参数固化失败！"),
                       context_.uiText(105, u"Error"), ui::MessageIcon::Error);
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
    if (data::saveValueFile(std::filesystem::path(path), parameters()) == 0)
        ui::messageBox(context_.uiText(91, u"备份参数失败！"), context_.uiText(90, u"Error"));
}

void ParameterPage::loadFromFile() {
    const std::optional<std::u16string> chosen = ui::openFileDialog(kFileFilter);
    if (!chosen) return;
    if (data::loadValueFile(std::filesystem::path(*chosen), parameters()) == 1) {
        fileLoaded_ = true;
        return;
    }
    ui::messageBox(context_.uiText(93, u"参数加载失败！"), context_.uiText(92, u"Error"));
}

void ParameterPage::importFileValues() {
    if (!app::linkUsable(context_)) return;
    if (!fileLoaded_) {
        ui::messageBox(context_.uiText(95, u"还未加载文件，目前没有可写入的数据！"),
                       context_.uiText(94, u"Error"), ui::MessageIcon::Error);
        return;
    }
    data::ParameterTable& table = parameters();
    for (const data::ParameterDefinition& p : table) {
        if (p.writable() &&
            data::checkRange(p.typeCode, p.fileValue.load(kRelaxed), p.minimum, p.maximum) != 0) {
            showParameterError(p);
            return;
        }
    }
    setProgress(0);
    const std::size_t n = table.size();
    bool failed = false;
    for (std::size_t i = 0; i < n && !failed; ++i) {
        setProgress(static_cast<int>(i * 100 / n));
        const data::ParameterDefinition& p = table[i];
        if (!p.writable()) continue;
        std::array<std::uint8_t, 4> bytes{};
        const std::size_t count = data::valueBytes(p.typeCode, p.fileValue.load(kRelaxed), bytes);
        if (count == 0) continue;
        failed = context_.drive.writeRegisters(p.address, bytes.data(),
                                               static_cast<std::uint32_t>(count)) != 0;
    }
    if (failed) {
        ui::messageBox(context_.uiText(97, u"参数导入失败！"), context_.uiText(96, u"Error"),
                       ui::MessageIcon::Error);
        return;
    }
    setProgress(100);
    ui::messageBox(
        context_.uiText(
            99, u"参数导入成功，执行【固化驱动器参数】操作方可保证写入的参数在断电后不丢失！"),
        context_.uiText(98, u"Success"), ui::MessageIcon::Exclamation);
}

void ParameterPage::restoreFactoryValues() {
    if (!app::linkUsable(context_)) return;
    data::ParameterTable& table = parameters();
    setProgress(0);
    const std::size_t n = table.size();
    bool failed = false;
    for (std::size_t i = 0; i < n && !failed; ++i) {
        setProgress(static_cast<int>(i * 100 / n));
        const data::ParameterDefinition& p = table[i];
        if (!p.writable()) continue;
        std::array<std::uint8_t, 4> bytes{};
        const std::size_t count = data::valueBytes(p.typeCode, p.factoryValue, bytes);
        if (count == 0) continue;
        if (context_.drive.writeRegisters(p.address, bytes.data(),
                                          static_cast<std::uint32_t>(count)) != 0) {
            showParameterError(p);
            failed = true;
        }
    }
    if (failed) {
        ui::messageBox(context_.uiText(101, u"恢复出厂值失败！"), context_.uiText(100, u"Error"),
                       ui::MessageIcon::Error);
        return;
    }
    setProgress(100);
    ui::messageBox(context_.uiText(103, u"恢复出厂值成功！"), context_.uiText(102, u"Success"),
                   ui::MessageIcon::Exclamation);
}

void ParameterPage::saveToEeprom() {
    if (!app::linkUsable(context_)) return;
    if (parameters().empty()) return;
    const auto failed = [this] {
        ui::messageBox(context_.uiText(106, u"驱动器参数固化失败！"),
                       context_.uiText(105, u"Error"), ui::MessageIcon::Error);
    };
    // Without its worker nothing would ever clear the busy state.
    if (!worker_.joinable()) {
        failed();
        return;
    }
    saveState_.store(kSaveBusy, kRelaxed);
    setProgress(0);
    {
        std::lock_guard lock(eventMutex_);
        saveEvent_ = true;
    }
    eventSignal_.notify_one();
    const std::uint32_t t0 = tickMs();
    // The worker's command ends within its own time-out and retry; the bar
    // stops at the expected duration while the wait goes on.
    while ((saveState_.load(kRelaxed) & kSaveBusy) != 0) {
        const std::uint32_t e = tickMs() - t0;
        if (e < saveTimeoutMs_)
            setProgress(static_cast<int>(std::uint64_t{e} * 100 / saveTimeoutMs_));
        platform::sleepMs(kSaveWaitStepMs);
    }
    if ((saveState_.load(kRelaxed) & kSaveSucceeded) == 0) {
        failed();
        return;
    }
    setProgress(100);
    ui::messageBox(context_.uiText(108, u"驱动器参数固化成功！"), context_.uiText(107, u"Success"),
                   ui::MessageIcon::Exclamation);
}

}  // namespace pages
