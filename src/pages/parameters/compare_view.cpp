#include "pages/parameters/compare_view.h"

#include <array>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/link_text.h"
#include "platform/text.h"
#include "resources/resources.h"
#include "ui/backend.h"

namespace pages {
namespace {

constexpr int kSourceLabel = 1210;
constexpr std::u16string_view kDatFilter = u"(*.dat)|*.dat|*(*.*)|*.*||";
constexpr std::u16string_view kTextFilter = u"(*.txt)|*.txt|*(*.*)|*.*||";

std::u16string number(std::size_t n) {
    return platform::fromUtf8(std::to_string(n));
}

// The confirmation before the checked write (template 143): "Write" ends it
// with OK; Cancel, the default button, Escape and the close box do not write.
class ConfirmDialog : public ui::Dialog {
  public:
    ConfirmDialog(std::u16string caption, std::u16string text, std::u16string write,
                  std::u16string cancel)
        : Dialog(resources::kCompareConfirmDialog),
          caption_(std::move(caption)),
          text_(std::move(text)),
          write_(std::move(write)),
          cancel_(std::move(cancel)) {}

  protected:
    bool onInitDialog() override {
        setCaption(caption_);
        setText(CompareView::kConfirmText, text_);
        setText(ui::kIdOk, write_);
        setText(ui::kIdCancel, cancel_);
        setFocus(ui::kIdCancel);
        return false;
    }

  private:
    std::u16string caption_, text_, write_, cancel_;
};

}  // namespace

CompareView::CompareView(app::AppContext& context, drive::ParameterService& service)
    : Dialog(resources::kCompareDialog),
      context_(context),
      service_(service),
      compare_(context.session, service),
      source_(drive::sourceFromFactory(service)),
      checked_(service.size(), false),
      jobs_(context) {}

CompareView::~CompareView() = default;

bool CompareView::onInitDialog() {
    setCaption(words(u"Parameter compare", u"参数比较"));
    setText(kSourceLabel, words(u"Compare with:", u"比较对象："));
    setText(kCompareButton, words(u"Read and compare", u"读取并比较"));
    setText(kOnlyDifferences, words(u"Only differences", u"只显示差异"));
    setText(kWriteButton, words(u"Write checked", u"写入勾选参数"));
    setText(kSaveReport, words(u"Save report...", u"保存报告..."));
    setText(ui::kIdCancel, words(u"Close", u"关闭"));

    ui::Control& combo = control(kSourceCombo);
    combo.clearItems();
    combo.addItem(words(u"Factory values", u"出厂值"));
    combo.addItem(words(u"Parameter file (.dat)...", u"参数文件 (.dat)..."));
    if (context_.modelTableLoaded == 1)
        for (std::size_t s = 0; s < context_.models.count(); ++s)
            combo.addItem(words(u"Model ", u"型号 ") + context_.models.wideName(s));
    combo.setSelection(sourceItem_);

    ui::Control& list = control(kList);
    list.setExtendedStyle(ui::list_style::kGridLines | ui::list_style::kFullRowSelect |
                          ui::list_style::kCheckBoxes);
    list.insertColumn(kNumberColumn, context_.uiText(75, u"参数号"), 90);
    list.insertColumn(kNameColumn, context_.uiText(76, u"参数名称"), 300);
    list.insertColumn(kDriveColumn, context_.uiText(77, u"驱动器值"), 110);
    list.insertColumn(kSourceColumn, words(u"Compared value", u"比较值"), 110);
    list.insertColumn(kUnitColumn, words(u"Unit", u"单位"), 120);
    control(kProgress).setRange(0, 100);
    fillList();
    updateButtons();
    // Reading at once spares a click; without a usable link the view waits
    // for "Read and compare", which says why it cannot.
    if (context_.session.healthy()) startCompare();
    return true;
}

void CompareView::onDestroy() {
    // Only when the window goes under a running job (the program closing):
    // the view's own close waits for the job's end without blocking.
    jobs_.waitForEnd();
}

void CompareView::onCancel() {
    if (!busy()) {
        endDialog(ui::kIdCancel);
        return;
    }
    closeRequested_ = true;
    context_.jobs.cancel();
    setText(kSummary, words(u"Stopping...", u"正在停止..."));
}

void CompareView::onCommand(int id) {
    switch (id) {
        case kCompareButton:
            startCompare();
            break;
        case kOnlyDifferences:
            fillList();
            break;
        case kWriteButton:
            writeChecked();
            break;
        case kSaveReport:
            saveReport();
            break;
        default:
            Dialog::onCommand(id);
            break;
    }
}

void CompareView::onSelectionChange(int id) {
    if (id == kSourceCombo) chooseSource();
}

void CompareView::chooseSource() {
    ui::Control& combo = control(kSourceCombo);
    const int item = combo.selection();
    // The running read compares with the source it was given.
    if (busy()) {
        combo.setSelection(sourceItem_);
        return;
    }
    if (item == kFileSource) {
        const std::optional<std::u16string> path = ui::openFileDialog(kDatFilter);
        drive::CompareSource loaded;
        if (!path) {
            combo.setSelection(sourceItem_);
            return;
        }
        if (const drive::Result r =
                drive::sourceFromFile(service_, std::filesystem::path(*path), loaded);
            !r) {
            ui::messageBox(app::linkCause(context_, r), context_.uiText(90, u"Error"),
                           ui::MessageIcon::Error);
            combo.setSelection(sourceItem_);
            return;
        }
        source_ = std::move(loaded);
    } else if (item >= kFirstModelSource) {
        source_ = drive::sourceFromModel(service_, context_.models,
                                         static_cast<std::size_t>(item - kFirstModelSource));
    } else {
        source_ = drive::sourceFromFactory(service_);
    }
    sourceItem_ = item;
    // Checks made against another source mean nothing here.
    checked_.assign(checked_.size(), false);
    comparison_ = {};
    fillList();
    startCompare();
}

bool CompareView::startJob(std::string name, std::function<void(drive::JobContext&)> body,
                           std::function<void()> onDone) {
    drive::Job job;
    job.name = std::move(name);
    job.body = std::move(body);
    job.onProgress = [this](std::size_t done, std::size_t total) {
        if (total > 0) control(kProgress).setPosition(static_cast<int>(done * 100 / total));
    };
    job.onDone = [this, onDone = std::move(onDone)] {
        updateButtons();
        if (closeRequested_) {
            endDialog(ui::kIdCancel);
            return;
        }
        if (onDone) onDone();
    };
    control(kProgress).setPosition(0);
    if (!jobs_.start(std::move(job))) return false;
    updateButtons();
    return true;
}

void CompareView::startCompare() {
    if (busy() || !app::linkUsable(context_)) return;
    auto result = std::make_shared<drive::Comparison>();
    const bool started = startJob(
        "parameter compare",
        [this, result, source = source_](drive::JobContext& job) {
            *result = compare_.compare(source, job.control());
        },
        [this, result] {
            comparison_ = std::move(*result);
            if (!comparison_.result.ok() && comparison_.result.error != drive::Error::cancelled)
                ui::messageBox(app::linkCause(context_, comparison_.result),
                               context_.uiText(90, u"Error"), ui::MessageIcon::Error);
            fillList();
        });
    if (started)
        setText(kSummary, words(u"Reading the drive's parameters...", u"正在读取驱动器参数..."));
}

void CompareView::writeChecked() {
    if (busy()) return;
    std::vector<drive::CheckedValue> values;
    for (const drive::CompareRow& row : comparison_.rows)
        if (checked_[row.index] && row.sourceValue) values.push_back({row.index, *row.sourceValue});
    if (values.empty()) {
        ui::messageBox(words(u"No parameter is checked.", u"没有勾选参数。"),
                       words(u"Write checked", u"写入勾选参数"), ui::MessageIcon::Exclamation);
        return;
    }
    if (!app::linkUsable(context_)) return;
    const std::u16string count = number(values.size());
    ConfirmDialog confirm(
        words(u"Write checked", u"写入勾选参数"),
        words(u"Write the " + count +
                  u" checked parameters to the drive (RAM) and read each one back?",
              u"将勾选的 " + count + u" 个参数写入驱动器（内存）并逐个读回校验？"),
        words(u"Write", u"写入"), words(u"Cancel", u"取消"));
    if (confirm.runModal() != ui::kIdOk) return;

    struct Outcome {
        drive::VerifyReport report;
        drive::Comparison after;
    };
    auto outcome = std::make_shared<Outcome>();
    const bool started = startJob(
        "checked parameter write",
        [this, outcome, values = std::move(values), source = source_](drive::JobContext& job) {
            outcome->report = compare_.writeChecked(values, job.control());
            // The list shows the drive as the write left it.
            if (!job.cancelled()) outcome->after = compare_.compare(source, job.control());
        },
        [this, outcome] {
            report_ = std::move(outcome->report);
            reportText_ = drive::reportText(service_, *report_, source_.name);
            setText(kReport, platform::fromUtf8(reportText_));
            for (const drive::VerifyItem& item : report_->items)
                if (item.outcome == drive::VerifyOutcome::verified) checked_[item.index] = false;
            if (outcome->after.result.ok()) comparison_ = std::move(outcome->after);
            fillList();
            if (context_.showNote) context_.showNote(platform::fromUtf8(report_->summary()));
        });
    if (started) setText(kSummary, words(u"Writing...", u"正在写入..."));
}

void CompareView::saveReport() {
    if (reportText_.empty()) return;
    const std::optional<std::u16string> path = ui::saveFileDialog(kTextFilter);
    if (!path) return;
    if (const drive::Result r = drive::saveReport(std::filesystem::path(*path), reportText_); !r)
        ui::messageBox(app::linkCause(context_, r), context_.uiText(90, u"Error"),
                       ui::MessageIcon::Error);
}

void CompareView::onListCheck(int id, int row) {
    if (id != kList || row < 0 || static_cast<std::size_t>(row) >= shown_.size()) return;
    const std::size_t index = shown_[static_cast<std::size_t>(row)];
    ui::Control& list = control(kList);
    const bool on = list.isRowChecked(row);
    const drive::CompareRow* compared =
        index < comparison_.rows.size() ? &comparison_.rows[index] : nullptr;
    if (on && (!compared || !compared->writable || !compared->sourceValue)) {
        // Only a writable parameter with a value to write can be checked.
        list.setRowChecked(row, false);
        const std::u16string name = service_.displayName(index);
        setText(kSummary, !compared ? words(u"Read and compare first.", u"请先读取并比较。")
                          : !compared->writable ? name + words(u" is read-only.", u" 为只读参数。")
                                                : name + words(u" has no value in this source.",
                                                               u" 在比较对象中没有值。"));
        return;
    }
    checked_[index] = on;
    showSummary();
    updateButtons();
}

std::size_t CompareView::checkedCount() const {
    std::size_t n = 0;
    for (bool c : checked_) n += c ? 1 : 0;
    return n;
}

int CompareView::rowOf(std::size_t index) const {
    for (std::size_t r = 0; r < shown_.size(); ++r)
        if (shown_[r] == index) return static_cast<int>(r);
    return -1;
}

void CompareView::fillList() {
    if (!exists()) return;
    ui::Control& list = control(kList);
    const data::ParameterTable& table = service_.table();
    const bool onlyDifferences = check(kOnlyDifferences) != 0;
    list.deleteAllRows();
    shown_.clear();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const data::ParameterDefinition& p = table[i];
        const drive::CompareRow* compared =
            i < comparison_.rows.size() ? &comparison_.rows[i] : nullptr;
        const bool differs = compared && compared->differs;
        if (onlyDifferences && !differs) continue;
        const int row = list.insertRow(list.rowCount(), p.numberText.view());
        shown_.push_back(i);
        list.setCellText(row, kNameColumn, p.name.view());
        if (compared) {
            list.setCellText(row, kDriveColumn,
                             data::valueToText(p.typeCode, compared->driveValue));
            if (compared->sourceValue)
                list.setCellText(row, kSourceColumn,
                                 data::valueToText(p.typeCode, *compared->sourceValue));
        }
        list.setCellText(row, kUnitColumn, p.unit.view());
        list.setRowHighlighted(row, differs);
        list.setRowChecked(row, checked_[i]);
    }
    showSummary();
    updateButtons();
}

void CompareView::showSummary() {
    if (!exists()) return;
    if (comparison_.rows.empty()) {
        setText(kSummary, words(u"Not compared yet.", u"尚未比较。"));
        return;
    }
    const std::u16string source = control(kSourceCombo).itemText(sourceItem_);
    const std::u16string differ = number(comparison_.differences());
    const std::u16string total = number(comparison_.rows.size());
    const std::u16string checked = number(checkedCount());
    setText(kSummary, words(differ + u" of " + total + u" parameters differ from " + source +
                                u"; " + checked + u" checked.",
                            u"共 " + total + u" 个参数，其中 " + differ + u" 个与" + source +
                                u"不同；已勾选 " + checked + u" 个。"));
}

void CompareView::updateButtons() {
    if (!exists()) return;
    const bool idle = !busy();
    enable(kSourceCombo, idle);
    enable(kCompareButton, idle);
    enable(kWriteButton, idle && checkedCount() > 0);
    enable(kSaveReport, idle && !reportText_.empty());
}

void openCompareView(app::AppContext& context, drive::ParameterService& service) {
    CompareView view(context, service);
    view.runModal();
}

}  // namespace pages
