#pragma once
// Language files, the UI text table and the drive tables they carry
// (parameters, status items, scope quantities, alarm texts).
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/parameters.h"
#include "data/text_ref.h"
#include "platform/file_io.h"

namespace data {

// Section 0: 150 UI texts, each absent or present (possibly empty only when
// given so by another route; an empty field leaves the entry absent).
class UiTextTable {
  public:
    static constexpr std::size_t kSize = 150;

    // Absent for an index not below kSize.
    TextRef operator[](std::size_t index) const {
        return index < kSize ? entries_[index] : TextRef{};
    }
    bool present(std::size_t index) const { return (*this)[index].present(); }
    // The entry's text when present, else the caller's built-in default.
    std::u16string_view text(std::size_t index, std::u16string_view fallback) const {
        return (*this)[index].valueOr(fallback);
    }
    // All entries absent.
    void clear() { entries_ = {}; }
    void set(std::size_t index, TextRef text) {
        if (index < kSize) entries_[index] = text;
    }

  private:
    std::array<TextRef, kSize> entries_{};
};

// Section 3.
struct StatusItem {
    std::uint8_t access = kAccessReadOnly;  // always 0x80
    TypeCode typeCode = TypeCode::Int16S;
    std::uint16_t address = 0;
    TextRef name;
    // Last value read: written by the poll thread, read by the UI
    // thread; relaxed loads and stores.
    std::atomic<std::uint32_t> value{0};
    float divisor = 0.0f;         // valid when hasDivisor is 1
    std::int32_t hasDivisor = 0;  // 1 when field 3 contains a '.'
    TextRef unit;
};

// Section 4. Minimum and maximum are
// changed by the settings file and the range dialog on the UI thread.
struct ScopeQuantity {
    std::int32_t rowIndex = 0;  // position in the list, from 0 (set for every row)
    std::uint16_t address = 0;
    std::uint16_t size = 0;  // 2 or 4 for a read entry; 0 for a row no entry filled
    double minimum = 0.0;
    double maximum = 0.0;
    TextRef name;
};

// Section 5; indexed from 0 in file order.
struct AlarmEntry {
    std::int32_t code = 0;
    TextRef content;
    TextRef cause;
};

using StatusTable = FixedTable<StatusItem>;
using ScopeTable = FixedTable<ScopeQuantity>;
using AlarmTable = FixedTable<AlarmEntry>;

// What the parser saw, for the layout checker (layout_check.h). Offsets are
// UTF-16 character positions in the file text.
struct LanguageDiagnostics {
    struct Section {
        int number = 0;  // as read from the header
        std::size_t headerOffset = 0;
        bool hasEnd = false;          // "#END" and a first '#' found; false = skipped
        bool known = false;           // 0 to 5
        bool duplicate = false;       // the same number was read before
        std::size_t markers = 0;      // entry markers counted (sections 1 to 5)
        std::size_t entriesRead = 0;  // entries whose fields were all taken
        bool endedEarly = false;      // a field's '[' or ']' was missing
        bool capped = false;          // more markers than the reader keeps (see kMaxRecords)
    };
    struct MacroReference {
        std::size_t parameter = 0;  // index in the parameter table
        int field = 0;              // 10 or 11
        std::u16string name;
        bool beforeMacroSection = false;  // section 1 had not been read yet
    };
    std::vector<Section> sections;  // in file order
    std::vector<MacroReference> unresolvedMacros;
    std::size_t uiEntriesIgnored = 0;  // section 0 markers after entry 149
    std::size_t characters = 0;        // length of the text (L / 2)
};

// The loaded language file: the text and every table that refers into it.
// One instance is owned by the program. Moving it keeps every
// TextRef valid (the text buffer does not move); it cannot be copied. Tables
// never change size; only their value fields change.
class LanguageData {
  public:
    // No file: every UI text absent, every table empty.
    LanguageData() = default;
    // A moved-from LanguageData is empty.
    LanguageData(LanguageData&& other) noexcept { *this = std::move(other); }
    LanguageData& operator=(LanguageData&& other) noexcept {
        if (this == &other) return *this;
        text_ = std::move(other.text_);
        other.text_.clear();
        ui_ = other.ui_;
        other.ui_.clear();
        parameters_ = std::move(other.parameters_);
        status_ = std::move(other.status_);
        scope_ = std::move(other.scope_);
        alarms_ = std::move(other.alarms_);
        return *this;
    }
    LanguageData(const LanguageData&) = delete;
    LanguageData& operator=(const LanguageData&) = delete;

    const UiTextTable& uiTexts() const { return ui_; }
    ParameterTable& parameters() { return parameters_; }
    const ParameterTable& parameters() const { return parameters_; }
    StatusTable& statusItems() { return status_; }
    const StatusTable& statusItems() const { return status_; }
    ScopeTable& scopeQuantities() { return scope_; }
    const ScopeTable& scopeQuantities() const { return scope_; }
    AlarmTable& alarms() { return alarms_; }
    const AlarmTable& alarms() const { return alarms_; }

    // The whole file text (first L / 2 characters of the L bytes).
    std::u16string_view text() const { return {text_.data(), text_.size()}; }

    // At most this many records per table (and macros) are kept; a section
    // with more markers is cut there (LanguageDiagnostics::Section::capped).
    // Far beyond anything usable: registers are 16-bit, scope rows 8-bit.
    static constexpr std::size_t kMaxRecords = 65536;

  private:
    friend class LanguageParser;
    std::vector<char16_t> text_;  // heap buffer: views stay valid across moves
    UiTextTable ui_;
    ParameterTable parameters_;
    StatusTable status_;
    ScopeTable scope_;
    AlarmTable alarms_;
};

// Parses a language file image: its text is the first L / 2 UTF-16
// little-endian characters of the L bytes (an odd last byte is ignored).
// Never fails: malformed content gives what could be read; no search looks
// outside the text, and field searches stay inside their section.
// A section's "#END" is the first one before the next section header
// ("[<" blanks/sign/digits ">]"), so a section without "#END" is skipped
// and the sections after it are still read.
// Sections 1 to 5 keep at most kMaxRecords records each.
LanguageData parseLanguageBytes(std::span<const std::uint8_t> bytes,
                                LanguageDiagnostics* diagnostics = nullptr);
// The same from a UTF-16 text (tests).
LanguageData parseLanguageText(std::u16string_view text,
                               LanguageDiagnostics* diagnostics = nullptr);

// Why a language file cannot serve the program: its tables are then empty or
// incomplete, and what the user saved against them must not be judged by them.
enum class LanguageProblem : std::uint8_t {
    None,
    Missing,
    Unreadable,  // not a regular file, or refused by the system (LanguageLoad::file)
    Empty,
    Utf8,            // 8-bit text, valid UTF-8 (plain ASCII included), not UTF-16LE
    EightBit,        // 8-bit text in some other code page, not UTF-16LE
    Utf16BigEndian,  // UTF-16 with the bytes of each character swapped
    Damaged,         // no section at all, or a section cut off before its "#END"
    NoParameterTable,
};

struct LanguageLoad {
    LanguageProblem problem = LanguageProblem::None;
    platform::FileOutcome file;  // how the read went
    // Damaged: the number of the first section without "#END"; nullopt when
    // the text holds no section at all.
    std::optional<int> cutSection;

    bool usable() const { return problem == LanguageProblem::None; }
    // The file was read and parsed (it may still be unusable).
    bool loaded() const {
        return file.ok() && problem != LanguageProblem::Missing &&
               problem != LanguageProblem::Empty;
    }
};

// What is wrong with a parsed, non-empty language file image, judged from the
// bytes and what the parser saw: the encoding first (a file in another
// encoding yields no section), then sections cut off, then a missing
// parameter table.
LanguageLoad diagnoseLanguage(std::span<const std::uint8_t> bytes, const LanguageData& parsed,
                              const LanguageDiagnostics& diagnostics);

// Reads and parses the file. When the file is a readable, non-empty regular
// file, `into` is replaced by the parsed file (whatever its content) and the
// result says whether it is usable; otherwise `into` is left unchanged.
LanguageLoad loadLanguage(const std::filesystem::path& path, LanguageData& into,
                          LanguageDiagnostics* diagnostics = nullptr);

// loadLanguageFile: 1 when the file exists and is not empty (whatever
// its content) — `into` is then replaced by the parsed file; otherwise 0 and
// `into` is left unchanged.
int loadLanguageFile(const std::filesystem::path& path, LanguageData& into,
                     LanguageDiagnostics* diagnostics = nullptr);

}  // namespace data
