#include "offline.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "data/language.h"
#include "data/layout_check.h"
#include "data/settings_file.h"
#include "data/value_file.h"
#include "modbus/crc.h"
#include "output.h"
#include "platform/file_io.h"

namespace servoctl {

namespace {

using json = nlohmann::ordered_json;

std::uint32_t u32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

double doubleAt(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < 8; ++k) bits |= static_cast<std::uint64_t>(b[at + k]) << (8 * k);
    double d;
    static_assert(sizeof d == sizeof bits);
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The trailing checksum of a binary data file: stored (low byte first) and
// computed over everything before it.
struct Checksum {
    std::uint16_t stored = 0;
    std::uint16_t computed = 0;
    bool ok() const { return stored == computed; }
};

Checksum checksumOf(const std::vector<std::uint8_t>& b) {
    const std::size_t n = b.size() - 2;
    return {static_cast<std::uint16_t>(b[n] | (b[n + 1] << 8)), modbus::modbusCrc16(b.data(), n)};
}

std::string hex16(std::uint16_t v) {
    char s[8];
    std::snprintf(s, sizeof s, "0x%04X", v);
    return s;
}

std::optional<std::vector<std::uint8_t>> readFile(const std::string& file) {
    platform::FileContent content = platform::readFile(file);
    if (!content.outcome.ok()) {
        printError("cannot read " + file, content.outcome.reason);
        return std::nullopt;
    }
    return std::move(content.bytes);
}

// Why the program could not use a language file, for its error line.
std::string languageProblemText(const data::LanguageLoad& load) {
    using P = data::LanguageProblem;
    const char* mustBe = "; a language file must be UTF-16LE text";
    switch (load.problem) {
        case P::None:
        case P::Missing:
        case P::Unreadable:
        case P::Empty:
            break;
        case P::Utf8:
            return std::string("UTF-8 text") + mustBe;
        case P::EightBit:
            return std::string("8-bit text (an ANSI code page)") + mustBe;
        case P::Utf16BigEndian:
            return std::string("UTF-16 big-endian text") + mustBe;
        case P::Damaged:
            if (!load.cutSection) return "damaged or not a language file: no section found";
            return "damaged: section [<" + std::to_string(*load.cutSection) +
                   ">] has no #END (the file may be cut short)";
        case P::NoParameterTable:
            return "no parameter table (section [<2>]): the program would have no parameters";
    }
    return {};
}

// The framing shared by the two binary data files: total length first, a
// count of fixed-size records, the CRC last. Checked in the order the program
// checks them; the first failure decides. Fills `info` with what was read and
// returns the problem ("" for a sound frame) and the count.
struct Framing {
    std::string problem;
    std::uint32_t count = 0;
};

Framing checkFraming(const std::vector<std::uint8_t>& bytes, const char* kind, std::size_t header,
                     std::size_t countAt, std::size_t recordSize, json& info) {
    const std::size_t size = bytes.size();
    const std::size_t minimum = header + 2;
    Framing f;
    if (size < minimum) {
        f.problem = std::string("too short for a ") + kind + " (" + std::to_string(size) +
                    " bytes, at least " + std::to_string(minimum) + ")";
        return f;
    }
    const Checksum crc = checksumOf(bytes);
    const std::uint32_t lengthField = u32At(bytes, 0);
    f.count = u32At(bytes, countAt);
    info["lengthField"] = lengthField;
    if (countAt != 4) info["settingsWord"] = u32At(bytes, 4);
    info["count"] = f.count;
    info["crcStored"] = crc.stored;
    info["crcComputed"] = crc.computed;
    if (!crc.ok()) {
        f.problem = "checksum mismatch (stored " + hex16(crc.stored) + ", computed " +
                    hex16(crc.computed) + ")";
    } else if (lengthField != size) {
        f.problem = "length field " + std::to_string(lengthField) + " differs from the file size " +
                    std::to_string(size);
    } else if (static_cast<std::uint64_t>(f.count) * recordSize + minimum != size) {
        f.problem = "count " + std::to_string(f.count) + " does not fit the file size " +
                    std::to_string(size);
    }
    return f;
}

json parameterJson(const data::ParameterDefinition& p) {
    const auto t = p.typeCode;
    return {{"access", p.access},
            {"typeCode", std::string(data::typeName(t))},
            {"address", p.address},
            {"numberText", textJson(p.numberText)},
            {"name", textJson(p.name)},
            {"applicableMode", textJson(p.applicableMode)},
            {"minimum", typedValue(t, p.minimum)},
            {"maximum", typedValue(t, p.maximum)},
            {"factoryValue", typedValue(t, p.factoryValue)},
            {"unit", textJson(p.unit)},
            {"effectMode", textJson(p.effectMode)},
            {"description", textJson(p.description)}};
}

void printDefsText(const std::string& file, const data::LanguageData& lang,
                   const std::vector<data::LayoutWarning>& warnings) {
    std::cout << "language file " << file << " (" << lang.text().size() << " characters)\n";
    std::cout << "\nUI texts:\n";
    for (std::size_t i = 0; i < data::UiTextTable::kSize; ++i) {
        const auto t = lang.uiTexts()[i];
        if (t.present()) std::cout << "  " << i << "  " << utf8(t.view()) << '\n';
    }
    std::cout << "\nparameters: " << lang.parameters().size() << '\n';
    for (const auto& p : lang.parameters()) {
        const auto t = p.typeCode;
        std::cout << "  " << utf8(p.numberText.view()) << "  reg " << p.address << "  "
                  << data::typeName(t) << "  " << (p.writable() ? "RW" : "R ") << "  ["
                  << typedValue(t, p.minimum) << ", " << typedValue(t, p.maximum) << "] factory "
                  << typedValue(t, p.factoryValue) << " " << utf8(p.unit.view()) << "  "
                  << utf8(p.name.view()) << "  (" << utf8(p.effectMode.view()) << ")\n";
    }
    std::cout << "\nstatus items: " << lang.statusItems().size() << '\n';
    for (std::size_t i = 0; i < lang.statusItems().size(); ++i) {
        const auto& s = lang.statusItems()[i];
        std::cout << "  " << i << "  reg " << s.address << "  " << data::typeName(s.typeCode);
        if (s.hasDivisor) std::cout << "  /" << s.divisor;
        std::cout << "  " << utf8(s.name.view()) << " " << utf8(s.unit.view()) << '\n';
    }
    std::cout << "\nscope quantities: " << lang.scopeQuantities().size() << '\n';
    for (const auto& q : lang.scopeQuantities()) {
        std::cout << "  " << q.rowIndex << "  reg " << q.address << "  size " << q.size << "  ["
                  << q.minimum << ", " << q.maximum << "]  " << utf8(q.name.view()) << '\n';
    }
    std::cout << "\nalarms: " << lang.alarms().size() << '\n';
    for (const auto& a : lang.alarms()) {
        std::cout << "  " << a.code << "  " << utf8(a.content.view()) << "  -- "
                  << utf8(a.cause.view()) << '\n';
    }
    std::cout << "\nwarnings: " << warnings.size() << '\n';
    for (const auto& w : warnings) {
        std::cout << "  " << data::layoutIssueName(w.kind) << ": " << w.message << '\n';
    }
}

json defsJson(const std::string& file, const data::LanguageData& lang,
              const std::vector<data::LayoutWarning>& warnings) {
    json ui = json::array();
    for (std::size_t i = 0; i < data::UiTextTable::kSize; ++i)
        ui.push_back(textJson(lang.uiTexts()[i]));
    json params = json::array();
    for (const auto& p : lang.parameters()) params.push_back(parameterJson(p));
    json status = json::array();
    for (const auto& s : lang.statusItems()) {
        status.push_back({{"access", s.access},
                          {"typeCode", std::string(data::typeName(s.typeCode))},
                          {"address", s.address},
                          {"name", textJson(s.name)},
                          {"divisor", s.hasDivisor ? json(s.divisor) : json(nullptr)},
                          {"hasDivisor", s.hasDivisor},
                          {"unit", textJson(s.unit)}});
    }
    json scope = json::array();
    for (const auto& q : lang.scopeQuantities()) {
        scope.push_back({{"rowIndex", q.rowIndex},
                         {"address", q.address},
                         {"size", q.size},
                         {"minimum", q.minimum},
                         {"maximum", q.maximum},
                         {"name", textJson(q.name)}});
    }
    json alarms = json::array();
    for (const auto& a : lang.alarms()) {
        alarms.push_back(
            {{"code", a.code}, {"content", textJson(a.content)}, {"cause", textJson(a.cause)}});
    }
    json warn = json::array();
    for (const auto& w : warnings) {
        warn.push_back(
            {{"kind", std::string(data::layoutIssueName(w.kind))}, {"message", w.message}});
    }
    return {{"file", file},
            {"uiTexts", ui},
            {"parameters", params},
            {"statusItems", status},
            {"scopeQuantities", scope},
            {"alarms", alarms},
            {"warnings", warn}};
}

}  // namespace

int runDefs(const std::string& file, bool asJson) {
    data::LanguageData lang;
    data::LanguageDiagnostics diagnostics;
    auto bytes = readFile(file);
    if (!bytes) return kExitInvalid;
    if (bytes->empty()) {
        printError(file, "empty file: the program would not load it");
        return kExitInvalid;
    }
    lang = data::parseLanguageBytes(*bytes, &diagnostics);
    const auto warnings = data::checkLayout(lang, &diagnostics);
    const std::string problem =
        languageProblemText(data::diagnoseLanguage(*bytes, lang, diagnostics));
    if (asJson) {
        json out = defsJson(file, lang, warnings);
        out["valid"] = problem.empty();
        if (!problem.empty()) out["problem"] = problem;
        std::cout << out.dump(2) << '\n';
    } else {
        printDefsText(file, lang, warnings);
    }
    if (!problem.empty()) {
        printError(file, problem);
        return kExitInvalid;
    }
    return kExitOk;
}

int runDat(const std::string& file, const std::optional<std::string>& defsFile, bool asJson) {
    data::LanguageData lang;
    if (defsFile) {
        auto defs = readFile(*defsFile);
        if (!defs) return kExitInvalid;
        if (defs->empty()) {
            printError(*defsFile, "empty language file");
            return kExitInvalid;
        }
        lang = data::parseLanguageBytes(*defs);
    }
    auto bytes = readFile(file);
    if (!bytes) return kExitInvalid;
    const std::size_t size = bytes->size();

    json info = {{"file", file}, {"size", size}};
    Framing framing = checkFraming(*bytes, "value file", 8, 4, 4, info);
    std::string& problem = framing.problem;
    const std::uint32_t count = framing.count;
    if (problem.empty() && defsFile && count != lang.parameters().size()) {
        problem = "count " + std::to_string(count) + " differs from the " +
                  std::to_string(lang.parameters().size()) + " parameters of " + *defsFile;
    }
    // Values are listed as far as the file holds them.
    json values = json::array();
    const std::size_t available = size >= 10 ? (size - 10) / 4 : 0;
    const std::size_t shown = std::min<std::size_t>(count, available);
    for (std::size_t i = 0; i < shown; ++i) {
        const std::uint32_t bits = u32At(*bytes, 8 + 4 * i);
        json v = {{"index", i}, {"raw", bits}};
        if (const auto* p = lang.parameters().at(i)) {
            v["numberText"] = textJson(p->numberText);
            v["name"] = textJson(p->name);
            v["typeCode"] = std::string(data::typeName(p->typeCode));
            v["value"] = typedValue(p->typeCode, bits);
        } else {
            v["value"] = static_cast<std::int32_t>(bits);
        }
        values.push_back(v);
    }
    info["values"] = values;
    info["valid"] = problem.empty();
    if (!problem.empty()) info["problem"] = problem;

    if (asJson) {
        std::cout << info.dump(2) << '\n';
    } else {
        std::cout << "value file " << file << ": " << size << " bytes";
        if (info.contains("count")) std::cout << ", " << count << " values";
        std::cout << (problem.empty() ? ", valid\n" : ", INVALID\n");
        for (const auto& v : values) {
            std::cout << "  " << v["index"].get<std::size_t>();
            if (v.contains("numberText") && !v["numberText"].is_null())
                std::cout << "  " << v["numberText"].get<std::string>();
            std::cout << "  " << v["value"].dump();
            if (v.contains("typeCode")) std::cout << "  " << v["typeCode"].get<std::string>();
            if (v.contains("name") && !v["name"].is_null())
                std::cout << "  " << v["name"].get<std::string>();
            std::cout << '\n';
        }
    }
    if (!problem.empty()) {
        printError(file, problem);
        return kExitInvalid;
    }
    return kExitOk;
}

int runIni(const std::string& file, bool asJson) {
    auto bytes = readFile(file);
    if (!bytes) return kExitInvalid;
    const std::size_t size = bytes->size();
    json info = {{"file", file}, {"size", size}};
    const Framing framing = checkFraming(*bytes, "settings file", 12, 8, 16, info);
    const std::string& problem = framing.problem;
    const std::uint32_t count = framing.count;
    json ranges = json::array();
    const std::size_t available = size >= 14 ? (size - 14) / 16 : 0;
    const std::size_t shown = std::min<std::size_t>(count, available);
    for (std::size_t i = 0; i < shown; ++i) {
        ranges.push_back({{"index", i},
                          {"minimum", doubleAt(*bytes, 12 + 16 * i)},
                          {"maximum", doubleAt(*bytes, 20 + 16 * i)}});
    }
    info["ranges"] = ranges;
    info["valid"] = problem.empty();
    if (!problem.empty()) info["problem"] = problem;
    if (asJson) {
        std::cout << info.dump(2) << '\n';
    } else {
        std::cout << "settings file " << file << ": " << size << " bytes";
        if (info.contains("settingsWord"))
            std::cout << ", settingsWord " << info["settingsWord"].get<std::uint32_t>() << ", "
                      << count << " scope ranges";
        std::cout << (problem.empty() ? ", valid\n" : ", INVALID\n");
        for (const auto& r : ranges) {
            std::cout << "  " << r["index"].get<std::size_t>() << "  [" << r["minimum"].dump()
                      << ", " << r["maximum"].dump() << "]\n";
        }
    }
    if (!problem.empty()) {
        printError(file, problem);
        return kExitInvalid;
    }
    return kExitOk;
}

}  // namespace servoctl
