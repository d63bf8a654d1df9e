#include "data/layout_check.h"

#include <string>

#include "platform/text.h"

namespace data {

namespace {

// At most this many warnings of one kind are listed one by one; the rest are
// summed up in one more warning.
constexpr std::size_t kPerKind = 20;

class Collector {
  public:
    void add(LayoutIssue kind, std::string message) {
        std::size_t& n = counts_[static_cast<std::size_t>(kind)];
        ++n;
        if (n <= kPerKind) out_.push_back({kind, std::move(message)});
    }
    std::vector<LayoutWarning> finish() {
        for (std::size_t k = 0; k < kKinds; ++k)
            if (counts_[k] > kPerKind)
                out_.push_back(
                    {static_cast<LayoutIssue>(k),
                     "... and " + std::to_string(counts_[k] - kPerKind) + " more of this kind"});
        return std::move(out_);
    }

  private:
    static constexpr std::size_t kKinds =
        static_cast<std::size_t>(LayoutIssue::ModelSetsIgnored) + 1;
    std::vector<LayoutWarning> out_;
    std::size_t counts_[kKinds] = {};
};

std::string label(const TextRef& text) {
    if (!text.present()) return "(no text)";
    // Appended piece by piece: GCC 12 at -O3 misreports "x" + s + "x" (-Wrestrict).
    std::string quoted = "\"";
    quoted += platform::toUtf8(text.view());
    quoted += '"';
    return quoted;
}

std::string num(std::size_t v) {
    return std::to_string(v);
}

void checkParameters(const ParameterTable& p, Collector& c) {
    const std::size_t n = p.size();
    if (n == 0) return;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < n; ++i) {
        bytes += typeSize(p[i].typeCode);
        if (i == 0) continue;
        const long expected = static_cast<long>(p[i - 1].address) + p[i - 1].registerCount();
        if (p[i].address != expected)
            c.add(LayoutIssue::ParameterOrder,
                  "parameter " + num(i) + " " + label(p[i].numberText) + " is at register " +
                      num(p[i].address) + ", expected " + std::to_string(expected) +
                      " after parameter " + num(i - 1) + " " + label(p[i - 1].numberText) + " (" +
                      std::string(typeName(p[i - 1].typeCode)) +
                      "); the parameter poll hands values out in table order by width");
    }
    const long first = p[0].address;
    const long last = p[n - 1].address;
    if (last < first)
        c.add(LayoutIssue::ParameterSpan, "the last parameter's register " + std::to_string(last) +
                                              " is below the first one's " + std::to_string(first));
    else if (last - first > 251)
        c.add(LayoutIssue::ParameterSpan,
              "parameter registers span " + std::to_string(last - first) + " (from " +
                  std::to_string(first) + " to " + std::to_string(last) +
                  "); the parameter poll reads at most 251");
    if (last + 12 > 65536)
        c.add(LayoutIssue::ParameterSpan,
              "the last parameter register " + std::to_string(last) +
                  " leaves no room for a block of 12 registers below 65536");
    if (bytes > 512)
        c.add(LayoutIssue::ParameterBytes, "parameter values take " + num(bytes) +
                                               " bytes; the parameter poll buffer holds 512");
    if (n > 100)
        c.add(LayoutIssue::TooManyParameters,
              num(n) + " parameters; drive model value sets hold values for the first 100 only");
}

void checkStatus(const StatusTable& s, Collector& c) {
    const std::size_t n = s.size();
    if (n < 9)
        c.add(LayoutIssue::NoAlarmValue,
              num(n) + " status items: the alarm value is the ninth item, so there is none");
    if (n == 0) return;
    const StatusItem& last = s[n - 1];
    if (typeSize(last.typeCode) == 4)
        c.add(LayoutIssue::StatusLast32Bit,
              "the last status item " + label(last.name) +
                  " is 32-bit: its high word lies one register past the status block");
    const unsigned first = s[0].address;
    for (std::size_t i = 0; i < n; ++i) {
        if (s[i].address < first || s[i].address > last.address)
            c.add(LayoutIssue::StatusOrder,
                  "status item " + num(i) + " " + label(s[i].name) + " at register " +
                      num(s[i].address) + " lies outside the block from " + num(first) + " to " +
                      num(last.address) +
                      " (the first item must have the lowest register, the last the highest)");
        if (s[i].hasDivisor && s[i].divisor == 0.0f)
            c.add(LayoutIssue::StatusDivisorZero,
                  "status item " + num(i) + " " + label(s[i].name) + " has a divisor of 0");
    }
}

void checkScope(const ScopeTable& q, Collector& c) {
    for (std::size_t i = 0; i < q.size(); ++i) {
        if (q[i].size == 0)
            c.add(LayoutIssue::ScopeRegisters,
                  "scope row " + num(i) + " was not filled by an entry (size 0, register 0)");
        if (i == 0) continue;
        const long expected = static_cast<long>(q[i - 1].address) + q[i - 1].size / 2;
        if (q[i].address != expected)
            c.add(LayoutIssue::ScopeRegisters,
                  "scope row " + num(i) + " " + label(q[i].name) + " is at register " +
                      num(q[i].address) + ", expected " + std::to_string(expected) + " after row " +
                      num(i - 1) + "; grouped sampling needs consecutive registers");
    }
    if (q.size() > 256)
        c.add(LayoutIssue::ScopeRows,
              num(q.size()) +
                  " scope rows; a row index travels in 8 bits, so at most 256 are usable");
}

const char* sectionName(int number) {
    switch (number) {
        case 0:
            return " (UI texts)";
        case 1:
            return " (macros)";
        case 2:
            return " (parameters)";
        case 3:
            return " (status items)";
        case 4:
            return " (scope quantities)";
        case 5:
            return " (alarm texts)";
        default:
            return "";
    }
}

void checkDiagnostics(const LanguageDiagnostics& d, Collector& c) {
    for (const auto& s : d.sections) {
        const std::string name = "section " + std::to_string(s.number) + sectionName(s.number) +
                                 " at character " + num(s.headerOffset);
        if (!s.hasEnd) {
            c.add(LayoutIssue::SectionWithoutEnd,
                  name + " has no \"#END\" (or no '#' at all) and is skipped");
            continue;
        }
        if (!s.known) {
            c.add(LayoutIssue::UnknownSection, name + " has an unknown number and is skipped");
            continue;
        }
        if (s.duplicate)
            c.add(LayoutIssue::DuplicateSection,
                  name + " occurs a second time and replaces the first");
        if (s.capped)
            c.add(LayoutIssue::TableCapped, name + " counts " + num(s.markers) +
                                                " entry markers; only the first " +
                                                num(LanguageData::kMaxRecords) + " are kept");
        if (s.endedEarly) {
            c.add(LayoutIssue::SectionEndedEarly, name + ": entry " + num(s.entriesRead) +
                                                      " lacks a field's '[' or ']', which ends the "
                                                      "section; later entries are not read");
        } else if (s.number != 0 && s.entriesRead < s.markers && !s.capped) {
            c.add(LayoutIssue::ExtraMarkers,
                  name + " counts " + num(s.markers) + " entry markers but holds " +
                      num(s.entriesRead) +
                      " entries: a '#' inside a field text (write \\# for a literal one) leaves " +
                      num(s.markers - s.entriesRead) + " record(s) at their initial values");
        }
    }
    for (const auto& m : d.unresolvedMacros)
        c.add(LayoutIssue::UndefinedMacro,
              "parameter " + num(m.parameter) + " field " + std::to_string(m.field) +
                  " refers to macro %" + platform::toUtf8(m.name) + "%, " +
                  (m.beforeMacroSection
                       ? "read before section 1 (macros): it resolves to an empty text"
                       : "which is not defined: it resolves to an empty text"));
    if (d.uiEntriesIgnored > 0)
        c.add(LayoutIssue::UiTextOverflow, "section 0 has " + num(d.uiEntriesIgnored) +
                                               " entries beyond entry 149; they are ignored");
}

}  // namespace

std::string_view layoutIssueName(LayoutIssue kind) {
    switch (kind) {
        case LayoutIssue::ParameterOrder:
            return "parameter-order";
        case LayoutIssue::ParameterSpan:
            return "parameter-span";
        case LayoutIssue::ParameterBytes:
            return "parameter-bytes";
        case LayoutIssue::TooManyParameters:
            return "too-many-parameters";
        case LayoutIssue::NoAlarmValue:
            return "no-alarm-value";
        case LayoutIssue::StatusLast32Bit:
            return "status-last-32bit";
        case LayoutIssue::StatusOrder:
            return "status-order";
        case LayoutIssue::StatusDivisorZero:
            return "status-divisor-zero";
        case LayoutIssue::ScopeRegisters:
            return "scope-registers";
        case LayoutIssue::ScopeRows:
            return "scope-rows";
        case LayoutIssue::UndefinedMacro:
            return "undefined-macro";
        case LayoutIssue::SectionWithoutEnd:
            return "section-without-end";
        case LayoutIssue::UnknownSection:
            return "unknown-section";
        case LayoutIssue::DuplicateSection:
            return "duplicate-section";
        case LayoutIssue::ExtraMarkers:
            return "extra-markers";
        case LayoutIssue::SectionEndedEarly:
            return "section-ended-early";
        case LayoutIssue::TableCapped:
            return "table-capped";
        case LayoutIssue::UiTextOverflow:
            return "ui-text-overflow";
        case LayoutIssue::ModelSetsIgnored:
            return "model-sets-ignored";
    }
    return "unknown";
}

std::vector<LayoutWarning> checkLayout(const LanguageData& language,
                                       const LanguageDiagnostics* diagnostics,
                                       const ModelDiagnostics* models) {
    Collector c;
    if (diagnostics) checkDiagnostics(*diagnostics, c);
    checkParameters(language.parameters(), c);
    checkStatus(language.statusItems(), c);
    checkScope(language.scopeQuantities(), c);
    if (models) {
        if (models->setsIgnored > 0)
            c.add(LayoutIssue::ModelSetsIgnored,
                  "Servo.csv holds " + num(models->setsIgnored) +
                      " model sets beyond the 70 kept; they are ignored");
        if (models->valuesIgnored > 0)
            c.add(LayoutIssue::ModelSetsIgnored,
                  "Servo.csv: " + num(models->valuesIgnored) +
                      " values of parameters beyond the first 100 are ignored");
    }
    return c.finish();
}

}  // namespace data
