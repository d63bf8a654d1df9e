#include "data/language.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/file_io.h"
#include "platform/text.h"

namespace data {

namespace {

constexpr std::size_t npos = std::u16string_view::npos;

char16_t asciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool equalsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

std::u16string foldCase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) c = asciiLower(c);
    return out;
}

float toFloat(double v) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (v > kMax) return std::numeric_limits<float>::infinity();
    if (v < -kMax) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

}  // namespace

// Parsing. Every search is bounded: by the end of the text while
// looking for a section, and by the section's "#END" inside a section.
class LanguageParser {
  public:
    LanguageParser(LanguageData& out, LanguageDiagnostics* diagnostics)
        : out_(out), diag_(diagnostics), t_(out.text()) {}

    void run() {
        if (diag_) {
            *diag_ = {};
            diag_->characters = t_.size();
        }
        std::size_t pos = 0;
        while (pos < t_.size()) {
            const std::size_t open = find(u"[<", pos, t_.size());  // the next header
            if (open == npos) break;
            const std::size_t close = find(u">]", open + 2, t_.size());
            if (close == npos) break;
            const int number = static_cast<int>(readDecimal(t_.substr(open + 2, close - open - 2)));
            const std::size_t bodyStart = close + 2;
            LanguageDiagnostics::Section info;
            info.number = number;
            info.headerOffset = open;
            info.known = number >= 0 && number <= 5;
            // A section's own "#END" is the first one before the next section
            // header: a section without "#END" is skipped and the following
            // sections are still read, instead of running on to the next
            // section's "#END".
            const std::size_t limit = nextHeader(bodyStart);
            const std::size_t hash = nextHash_.next(t_, u"#", bodyStart);
            const std::size_t endMark = nextEnd_.next(t_, u"#END", bodyStart);
            const std::size_t firstHash = hash < limit ? hash : npos;
            const std::size_t end = endMark != npos && endMark + 4 <= limit ? endMark : npos;
            if (firstHash == npos || end == npos) {
                note(info);
                pos = bodyStart;
                continue;
            }
            info.hasEnd = true;
            if (info.known) {
                info.duplicate = (seen_ & (1u << number)) != 0;
                seen_ |= 1u << number;
            }
            switch (number) {
                case 0:
                    readUiTexts(firstHash, end, info);
                    break;
                case 1:
                    readMacros(firstHash, end, info);
                    break;
                case 2:
                    readParameters(firstHash, end, info);
                    break;
                case 3:
                    readStatusItems(firstHash, end, info);
                    break;
                case 4:
                    readScopeQuantities(firstHash, end, info);
                    break;
                case 5:
                    readAlarms(firstHash, end, info);
                    break;
                default:
                    break;  // unknown section: skipped
            }
            note(info);
            pos = end + 4;  // past "#END"
        }
    }

  private:
    // ---- bounded searches -------------------------------------------------
    std::size_t find(std::u16string_view needle, std::size_t from, std::size_t limit) const {
        if (from >= limit || limit - from < needle.size()) return npos;
        const std::size_t at = t_.substr(0, limit).find(needle, from);
        return at;
    }
    std::size_t findChar(char16_t c, std::size_t from, std::size_t limit) const {
        if (from >= limit) return npos;
        return t_.substr(0, limit).find(c, from);
    }
    // Start of the next section header "[<" number ">]" (blanks, a sign and
    // digits between the brackets) at or after `from`; the text end if none.
    // Calls come with increasing `from`, so the last answer is reused while it
    // lies ahead: the scans stay linear in the text.
    std::size_t nextHeader(std::size_t from) {
        if (headerFrom_ <= from && headerAt_ >= from) return headerAt_;
        headerFrom_ = from;
        headerAt_ = scanHeader(from);
        return headerAt_;
    }
    std::size_t scanHeader(std::size_t from) const {
        for (std::size_t at = find(u"[<", from, t_.size()); at != npos;
             at = find(u"[<", at + 1, t_.size())) {
            std::size_t i = at + 2;
            while (i < t_.size() && (t_[i] == u' ' || t_[i] == u'\t' || t_[i] == u'+' ||
                                     t_[i] == u'-' || (t_[i] >= u'0' && t_[i] <= u'9')))
                ++i;
            if (i + 1 < t_.size() && t_[i] == u'>' && t_[i + 1] == u']') return at;
        }
        return t_.size();
    }
    bool isMarker(std::size_t i) const { return t_[i] == u'#' && (i == 0 || t_[i - 1] != u'\\'); }
    std::size_t findMarker(std::size_t from, std::size_t limit) const {
        for (std::size_t i = from; i < limit; ++i)
            if (isMarker(i)) return i;
        return npos;
    }
    std::size_t countMarkers(std::size_t from, std::size_t limit) const {
        std::size_t n = 0;
        for (std::size_t i = from; i < limit; ++i)
            if (isMarker(i)) ++n;
        return n;
    }
    // A field: the next '[' from pos and the next ']' after it, before limit.
    bool readField(std::size_t& pos, std::size_t limit, std::u16string_view& field) const {
        const std::size_t open = findChar(u'[', pos, limit);
        if (open == npos) return false;
        const std::size_t close = findChar(u']', open + 1, limit);
        if (close == npos) return false;
        field = t_.substr(open + 1, close - open - 1);
        pos = close + 1;
        return true;
    }
    std::size_t tableSize(std::size_t firstHash, std::size_t end,
                          LanguageDiagnostics::Section& info) const {
        std::size_t count = countMarkers(firstHash, end);
        info.markers = count;
        if (count > LanguageData::kMaxRecords) {
            count = LanguageData::kMaxRecords;
            info.capped = true;
        }
        return count;
    }
    void note(const LanguageDiagnostics::Section& info) {
        if (diag_) diag_->sections.push_back(info);
    }

    // Reads `count` entries of `fieldCount` fields each; `apply(index, field
    // number, text)` stores one field.
    template <class Apply>
    void readEntries(std::size_t firstHash, std::size_t end, std::size_t count, int fieldCount,
                     LanguageDiagnostics::Section& info, Apply apply) {
        std::size_t pos = firstHash;
        for (std::size_t index = 0; index < count; ++index) {
            const std::size_t marker = findMarker(pos, end);
            if (marker == npos) return;
            pos = marker + 1;
            for (int f = 0; f < fieldCount; ++f) {
                std::u16string_view field;
                if (!readField(pos, end, field)) {
                    info.endedEarly = true;
                    return;
                }
                apply(index, f, field);
            }
            ++info.entriesRead;
        }
    }

    // ---- sections -----------------------------------------------------------
    void readUiTexts(std::size_t firstHash, std::size_t end, LanguageDiagnostics::Section& info) {
        info.markers = countMarkers(firstHash, end);
        std::size_t pos = firstHash;
        std::size_t index = 0;
        for (; index < UiTextTable::kSize; ++index) {
            const std::size_t marker = findMarker(pos, end);
            if (marker == npos) break;
            pos = marker + 1;
            std::u16string_view field;
            if (!readField(pos, end, field)) {
                info.endedEarly = true;
                break;
            }
            if (!field.empty()) out_.ui_.set(index, TextRef(field));
            ++info.entriesRead;
        }
        if (index == UiTextTable::kSize && diag_) diag_->uiEntriesIgnored += countMarkers(pos, end);
    }

    void readMacros(std::size_t firstHash, std::size_t end, LanguageDiagnostics::Section& info) {
        const std::size_t count = tableSize(firstHash, end, info);
        macros_.clear();
        macros_.reserve(count);
        macrosRead_ = true;
        std::size_t pos = firstHash;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t marker = findMarker(pos, end);
            if (marker == npos) return;
            std::size_t nameEnd = marker + 1;
            while (nameEnd < end && t_[nameEnd] != u' ' && t_[nameEnd] != u'\r' &&
                   t_[nameEnd] != u'=')
                ++nameEnd;
            const std::u16string_view name = t_.substr(marker + 1, nameEnd - marker - 1);
            const std::size_t equals = findChar(u'=', nameEnd, end);
            if (equals == npos) {
                info.endedEarly = true;
                return;
            }
            pos = equals + 1;
            std::u16string_view value;
            if (!readField(pos, end, value)) {
                info.endedEarly = true;
                return;
            }
            macros_.emplace(foldCase(name), value);  // the first of equal names wins
            ++info.entriesRead;
        }
    }

    TextRef macroOrText(std::u16string_view field, std::size_t parameter, int fieldNumber) {
        if (field.size() < 2 || field.front() != u'%' || field.back() != u'%')
            return TextRef(field);
        const std::u16string_view name = field.substr(1, field.size() - 2);
        if (const auto it = macros_.find(foldCase(name)); it != macros_.end())
            return TextRef(it->second);
        if (diag_)
            diag_->unresolvedMacros.push_back(
                {parameter, fieldNumber, std::u16string(name), !macrosRead_});
        return TextRef(std::u16string_view{});
    }

    static std::uint32_t numberOfType(TypeCode type, std::u16string_view field) {
        const std::uint32_t v = readDecimal(field);
        return typeSize(type) == 2 ? (v & 0xFFFFu) : v;
    }

    void readParameters(std::size_t firstHash, std::size_t end,
                        LanguageDiagnostics::Section& info) {
        ParameterTable table(tableSize(firstHash, end, info));
        readEntries(firstHash, end, table.size(), 12, info,
                    [&](std::size_t i, int f, std::u16string_view field) {
                        ParameterDefinition& p = table[i];
                        switch (f) {
                            case 0:
                                p.access =
                                    equalsNoCase(field, u"RW") ? kAccessWritable : kAccessReadOnly;
                                break;
                            case 1:
                                p.typeCode = typeFromWord(field);
                                break;
                            case 2:
                                p.address = static_cast<std::uint16_t>(readDecimal(field));
                                break;
                            case 3:
                                p.numberText = TextRef(field);
                                break;
                            case 4:
                                p.name = TextRef(field);
                                break;
                            case 5:
                                p.applicableMode = TextRef(field);
                                break;
                            case 6:
                                p.minimum = numberOfType(p.typeCode, field);
                                break;
                            case 7:
                                p.maximum = numberOfType(p.typeCode, field);
                                break;
                            case 8:
                                p.factoryValue = numberOfType(p.typeCode, field);
                                break;
                            case 9:
                                p.unit = TextRef(field);
                                break;
                            case 10:
                                p.effectMode = macroOrText(field, i, 10);
                                break;
                            default:
                                p.description = macroOrText(field, i, 11);
                                break;
                        }
                    });
        out_.parameters_ = std::move(table);
    }

    void readStatusItems(std::size_t firstHash, std::size_t end,
                         LanguageDiagnostics::Section& info) {
        StatusTable table(tableSize(firstHash, end, info));
        readEntries(firstHash, end, table.size(), 5, info,
                    [&](std::size_t i, int f, std::u16string_view field) {
                        StatusItem& s = table[i];
                        switch (f) {
                            case 0:
                                s.typeCode = typeFromWord(field);
                                break;
                            case 1:
                                s.address = static_cast<std::uint16_t>(readDecimal(field));
                                break;
                            case 2:
                                s.name = TextRef(field);
                                break;
                            case 3:
                                if (field.find(u'.') != npos) {
                                    s.divisor = toFloat(readReal(field));
                                    s.hasDivisor = 1;
                                }
                                break;
                            default:
                                s.unit = TextRef(field);
                                break;
                        }
                    });
        out_.status_ = std::move(table);
    }

    void readScopeQuantities(std::size_t firstHash, std::size_t end,
                             LanguageDiagnostics::Section& info) {
        ScopeTable table(tableSize(firstHash, end, info));
        for (std::size_t i = 0; i < table.size(); ++i)
            table[i].rowIndex = static_cast<std::int32_t>(i);
        readEntries(firstHash, end, table.size(), 6, info,
                    [&](std::size_t i, int f, std::u16string_view field) {
                        ScopeQuantity& q = table[i];
                        switch (f) {
                            case 0:
                                q.size = static_cast<std::uint16_t>(typeSize(typeFromWord(field)));
                                break;
                            case 1:
                                q.address = static_cast<std::uint16_t>(readDecimal(field));
                                break;
                            case 2:
                                q.name = TextRef(field);
                                break;
                            case 3:
                                q.minimum = readReal(field);
                                break;
                            case 4:
                                q.maximum = readReal(field);
                                break;
                            default:
                                break;  // field 5: read and ignored
                        }
                    });
        out_.scope_ = std::move(table);
    }

    void readAlarms(std::size_t firstHash, std::size_t end, LanguageDiagnostics::Section& info) {
        AlarmTable table(tableSize(firstHash, end, info));
        readEntries(firstHash, end, table.size(), 3, info,
                    [&](std::size_t i, int f, std::u16string_view field) {
                        AlarmEntry& a = table[i];
                        switch (f) {
                            case 0:
                                a.code = readTruncatedInt(field);
                                break;
                            case 1:
                                a.content = TextRef(field);
                                break;
                            default:
                                a.cause = TextRef(field);
                                break;
                        }
                    });
        out_.alarms_ = std::move(table);
    }

    LanguageData& out_;
    LanguageDiagnostics* diag_;
    std::u16string_view t_;
    unsigned seen_ = 0;
    std::size_t headerFrom_ = npos;  // nextHeader's last query and answer
    std::size_t headerAt_ = 0;
    // The first occurrence of a needle at or after a position that only grows
    // from one section to the next: the last answer is reused while it lies
    // ahead, so a text of many sections without "#END" costs linear time.
    struct ForwardSearch {
        std::size_t from = npos;
        std::size_t at = npos;
        std::size_t next(std::u16string_view text, std::u16string_view needle, std::size_t start) {
            if (from != npos && from <= start && (at == npos || at >= start)) return at;
            from = start;
            at = start < text.size() ? text.find(needle, start) : npos;
            return at;
        }
    };
    ForwardSearch nextHash_;
    ForwardSearch nextEnd_;
    bool macrosRead_ = false;
    // Section 1 by name folded to lower case (ASCII letters; names are looked
    // up without regard to case), used while reading, dropped with the parser.
    std::unordered_map<std::u16string, std::u16string_view> macros_;

  public:
    static LanguageData parse(std::vector<char16_t> text, LanguageDiagnostics* diagnostics) {
        LanguageData data;
        data.text_ = std::move(text);
        LanguageParser(data, diagnostics).run();
        return data;
    }
};

LanguageData parseLanguageBytes(std::span<const std::uint8_t> bytes,
                                LanguageDiagnostics* diagnostics) {
    std::vector<char16_t> text(bytes.size() / 2);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return LanguageParser::parse(std::move(text), diagnostics);
}

LanguageData parseLanguageText(std::u16string_view text, LanguageDiagnostics* diagnostics) {
    return LanguageParser::parse(std::vector<char16_t>(text.begin(), text.end()), diagnostics);
}

namespace {

// The byte sequence at an offset that is a multiple of `step`.
bool containsAt(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> seq,
                std::size_t step) {
    for (auto at = bytes.begin();
         (at = std::search(at, bytes.end(), seq.begin(), seq.end())) != bytes.end(); ++at)
        if (static_cast<std::size_t>(at - bytes.begin()) % step == 0) return true;
    return false;
}

bool startsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> seq) {
    return bytes.size() >= seq.size() && std::equal(seq.begin(), seq.end(), bytes.begin());
}

}  // namespace

LanguageLoad diagnoseLanguage(std::span<const std::uint8_t> bytes, const LanguageData& parsed,
                              const LanguageDiagnostics& diagnostics) {
    LanguageLoad result;
    if (bytes.empty()) {
        result.problem = LanguageProblem::Empty;
        return result;
    }
    const bool anySection = !diagnostics.sections.empty();
    if (parsed.parameters().size() == 0 || !anySection) {
        // A section header and an end mark in another encoding. Neither can
        // be read so from a UTF-16LE text, whose "[<" is 5B 00 3C 00: its
        // big-endian form 00 5B 00 3C would stand at an odd offset there.
        if (startsWith(bytes, {0xFE, 0xFF}) ||
            (containsAt(bytes, {0, '[', 0, '<'}, 2) &&
             containsAt(bytes, {0, '#', 0, 'E', 0, 'N', 0, 'D'}, 2))) {
            result.problem = LanguageProblem::Utf16BigEndian;
            return result;
        }
        if (startsWith(bytes, {0xEF, 0xBB, 0xBF}) ||
            (containsAt(bytes, {'[', '<'}, 1) && containsAt(bytes, {'#', 'E', 'N', 'D'}, 1))) {
            const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            result.problem =
                platform::isValidUtf8(text) ? LanguageProblem::Utf8 : LanguageProblem::EightBit;
            return result;
        }
    }
    if (!anySection) {
        result.problem = LanguageProblem::Damaged;
        return result;
    }
    for (const LanguageDiagnostics::Section& section : diagnostics.sections) {
        if (section.known && !section.hasEnd) {
            result.problem = LanguageProblem::Damaged;
            result.cutSection = section.number;
            return result;
        }
    }
    if (parsed.parameters().size() == 0) result.problem = LanguageProblem::NoParameterTable;
    return result;
}

LanguageLoad loadLanguage(const std::filesystem::path& path, LanguageData& into,
                          LanguageDiagnostics* diagnostics) {
    LanguageLoad result;
    platform::FileContent content = platform::readFile(path);
    result.file = content.outcome;
    if (!content.outcome.ok()) {
        result.problem = content.outcome.status == platform::FileStatus::Missing
                             ? LanguageProblem::Missing
                             : LanguageProblem::Unreadable;
        return result;
    }
    if (content.bytes.empty()) {
        result.problem = LanguageProblem::Empty;
        return result;
    }
    LanguageDiagnostics own;
    LanguageDiagnostics& seen = diagnostics ? *diagnostics : own;
    into = parseLanguageBytes(content.bytes, &seen);
    const LanguageLoad judged = diagnoseLanguage(content.bytes, into, seen);
    result.problem = judged.problem;
    result.cutSection = judged.cutSection;
    return result;
}

int loadLanguageFile(const std::filesystem::path& path, LanguageData& into,
                     LanguageDiagnostics* diagnostics) {
    return loadLanguage(path, into, diagnostics).loaded() ? 1 : 0;
}

}  // namespace data
