#include "drive_commands.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "data/language.h"
#include "drive/compare.h"
#include "drive/parameters.h"
#include "drive/result.h"
#include "drive/scope.h"
#include "drive/session.h"
#include "drive/status.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "output.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/program_dir.h"
#include "platform/text.h"
#include "terminal.h"

namespace servoctl {
namespace {

using json = nlohmann::ordered_json;
using drive::Error;
using drive::ItemOutcome;
using drive::Result;

constexpr auto kRelaxed = std::memory_order_relaxed;

int exitCode(const Result& r) {
    switch (r.error) {
        case Error::none:
        case Error::broadcastSent:
            return kExitOk;
        case Error::noAnswer:
        case Error::writeUnconfirmed:
            return kExitTimeout;
        case Error::badChecksum:
            return kExitChecksum;
        case Error::refused:
            return kExitException;
        case Error::wrongStation:
        case Error::malformed:
            return kExitFraming;
        case Error::portFailure:
        case Error::portUnavailable:
        case Error::connectionLost:
        case Error::channelUnavailable:
        case Error::notConnected:
            return kExitPort;
        default:
            return kExitInvalid;
    }
}

// The width a terminal gives the text: East Asian wide characters take two
// columns, so that Chinese names line up with the English ones.
std::size_t displayWidth(std::string_view text) {
    const std::u16string wide = platform::fromUtf8(text);
    std::size_t width = 0;
    for (char16_t c : wide) {
        if (c >= 0xDC00 && c <= 0xDFFF) continue;  // second half of a pair
        const bool wideChar = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                              (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                              (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6);
        width += wideChar ? 2 : 1;
    }
    return width;
}

std::string padRight(const std::string& text, std::size_t width) {
    const std::size_t w = displayWidth(text);
    return w >= width ? text : text + std::string(width - w, ' ');
}

std::string padLeft(const std::string& text, std::size_t width) {
    const std::size_t w = displayWidth(text);
    return w >= width ? text : std::string(width - w, ' ') + text;
}

// Prints rows as columns two spaces apart; `right` marks the columns of numbers.
void printTable(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right) {
    std::vector<std::size_t> widths(right.size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(row[c]));
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (c > 0) line += "  ";
            const bool last = c + 1 == row.size();
            line += right[c] ? padLeft(row[c], widths[c])
                    : last   ? row[c]
                             : padRight(row[c], widths[c]);
        }
        std::cout << line << '\n';
    }
}

// A path in messages, as UTF-8 whatever the system's code page (the default
// language file's path comes from the system and may lie outside it).
std::string pathText(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

std::string text(const data::TextRef& ref) {
    return utf8(ref.view());
}

// A progress line on standard error while it is a terminal ("restore: 40/99"),
// cleared before anything else is printed.
class Progress {
  public:
    explicit Progress(std::string what) : what_(std::move(what)), on_(standardErrorIsTerminal()) {}
    ~Progress() { clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void show(const std::string& state) {
        if (!on_) return;
        const std::string line = what_ + ": " + state;
        const std::size_t blank = width_ > line.size() ? width_ - line.size() : 0;
        width_ = std::max(width_, line.size());
        std::cerr << '\r' << line << std::string(blank, ' ') << std::flush;
    }
    void clear() {
        if (!on_ || width_ == 0) return;
        std::cerr << '\r' << std::string(width_, ' ') << '\r' << std::flush;
        width_ = 0;
    }
    // For the bulk operations: parameters (or blocks) done of all.
    drive::BulkControl control() {
        return {[this](std::size_t done, std::size_t total) {
                    show(std::to_string(done) + " of " + std::to_string(total));
                },
                nullptr};
    }

  private:
    std::string what_;
    bool on_;
    std::size_t width_ = 0;
};

// One command's link and tables. The session disconnects before the master
// that it uses goes.
class Command {
  public:
    Command(const LinkOptions& link, const DriveArgs& args) : link_(link), args_(args) {
        access_.initModbus();
    }
    // The next servoctl may open the port at once: a late answer to a failed
    // attempt must not be left on its way to it.
    ~Command() {
        if (session_.connected()) master_.awaitQuietLine(channel_);
    }
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    bool json() const { return link_.json; }
    const DriveArgs& args() const { return args_; }
    data::LanguageData& language() { return language_; }
    data::ParameterTable& parameters() { return language_.parameters(); }
    drive::DriveSession& session() { return session_; }

    // The language file: given with --defs, else the one beside servoctl.
    bool loadDefinitions() {
        defsPath_ = args_.defs.empty() ? platform::programFile("Language/DefineEn.cfg")
                                       : std::filesystem::path(args_.defs);
        if (data::loadLanguageFile(defsPath_, language_) != 1) {
            printError(pathText(defsPath_), "cannot be read (missing, empty or not permitted)");
            return false;
        }
        return true;
    }
    bool require(bool present, const char* table) {
        if (present) return true;
        printError(pathText(defsPath_),
                   std::string("holds no ") + table + " (not a UTF-16LE language file?)");
        return false;
    }

    Result connect() {
        drive::LinkSettings s;
        const unsigned com = comNumber(link_.port);
        if (com >= 1 && com <= modbus::kChannelCount) {
            s.channel = static_cast<std::uint8_t>(com - 1);
        } else {
            s.channel = 0;
            s.device = link_.port;
        }
        s.baudRate = link_.baud;
        s.parity = link_.parity;
        s.station = link_.station;
        s.frameType = link_.ascii ? modbus::kFrameAscii : modbus::kFrameRtu;
        s.timing = {static_cast<std::uint16_t>(link_.timeoutMs),
                    static_cast<std::uint8_t>(link_.retries)};
        channel_ = s.channel;
        return session_.connect(s);
    }

    std::uint32_t saveTimeoutMs() const {
        const data::UiTextTable& ui = language_.uiTexts();
        return ui.present(104) ? data::readDecimal(ui[104].view()) : drive::kDefaultSaveTimeoutMs;
    }

    // A failure of the command: JSON (when asked) on standard output, one
    // line on standard error, and the exit status of its kind.
    int fail(const std::string& subject, const Result& r, const std::string& prefix = {}) const {
        const std::string cause = prefix + r.cause();
        if (json())
            std::cout << nlohmann::ordered_json{{"ok", false},
                                                {"error", drive::errorName(r.error)},
                                                {"cause", cause}}
                             .dump()
                      << '\n';
        printError(subject, cause);
        return exitCode(r);
    }
    int failLink(const Result& r) const { return fail(link_.port, r); }

    int usage(const std::string& problem) const {
        printError("usage", problem);
        return kExitUsage;
    }
    // A refusal before anything is sent: a value, a parameter or a file.
    int refuse(const std::string& subject, const std::string& problem) const {
        if (json())
            std::cout << nlohmann::ordered_json{{"ok", false},
                                                {"error", "refused"},
                                                {"cause", problem}}
                             .dump()
                      << '\n';
        printError(subject, problem);
        return kExitInvalid;
    }
    bool broadcast() const { return link_.station == 0; }

    // The table position of a parameter number ("P01.03", case ignored).
    std::optional<std::size_t> find(const std::string& number) {
        const auto lower = [](std::string s) {
            for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        const std::string wanted = lower(number);
        for (std::size_t i = 0; i < parameters().size(); ++i)
            if (lower(text(parameters()[i].numberText)) == wanted) return i;
        return std::nullopt;
    }

    std::string number(std::size_t index) {
        const data::ParameterDefinition& p = parameters()[index];
        return p.numberText.view().empty() ? text(p.name) : text(p.numberText);
    }

  private:
    LinkOptions link_;
    DriveArgs args_;
    data::LanguageData language_;
    std::filesystem::path defsPath_;
    std::uint8_t channel_ = 0;
    modbus::ModbusMaster master_;
    modbus::DriveAccess access_{master_};
    drive::DriveSession session_{access_};
};

std::string shown(const data::ParameterDefinition& p, std::uint32_t value) {
    return utf8(data::valueToText(p.typeCode, value));
}

// "20 ms"; the language files write "-" for a quantity without a unit.
std::string withUnit(const std::string& value, const std::string& unit) {
    return unit.empty() || unit == "-" ? value : value + ' ' + unit;
}

// The value in the type's width: a file may carry bits above a 16-bit value
// that the drive never holds.
std::uint32_t inWidth(const data::ParameterDefinition& p, std::uint32_t value) {
    return data::typeSize(p.typeCode) == 2 ? (value & 0xFFFF) : value;
}

// --- status

int runStatus(Command& c) {
    data::LanguageData& lang = c.language();
    if (const Result r = c.connect(); !r) return c.failLink(r);
    drive::StatusService status(c.session(), lang.statusItems());
    if (const Result r = status.poll(); !r) return c.failLink(r);

    const data::UiTextTable& ui = lang.uiTexts();
    json items = json::array();
    for (const data::StatusItem& item : lang.statusItems()) {
        items.push_back({{"name", text(item.name)},
                         {"value", utf8(drive::statusValueText(item))},
                         {"unit", text(item.unit)},
                         {"raw", typedValue(item.typeCode, item.value.load(kRelaxed))}});
    }
    // The alarm value indexes the alarm table; the page shows the entry's own
    // code, and for a value outside the table the value marked unknown.
    json alarm = nullptr;
    if (lang.statusItems().size() > drive::StatusService::kAlarmItem) {
        const std::int32_t value = status.lastAlarm();
        const data::AlarmEntry* entry =
            value >= 0 ? lang.alarms().at(static_cast<std::size_t>(value)) : nullptr;
        alarm = {{"value", value},
                 {"code", entry ? entry->code : value},
                 {"content", entry ? text(entry->content) : utf8(ui.text(14, u"未知"))},
                 {"cause", entry ? text(entry->cause) : std::string()}};
    }
    json inputs = json::array();
    json outputs = json::array();
    for (int i = 0; i < drive::StatusService::kInputCount; ++i)
        inputs.push_back(status.inputState(i));
    for (int i = 0; i < drive::StatusService::kOutputCount; ++i)
        outputs.push_back(status.outputState(i));

    if (c.json()) {
        std::cout << json{{"ok", true},
                          {"items", items},
                          {"alarm", alarm},
                          {"inputs", inputs},
                          {"outputs", outputs}}
                         .dump(2)
                  << '\n';
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const json& item : items)
        rows.push_back({item["name"].get<std::string>(), item["value"].get<std::string>(),
                        item["unit"].get<std::string>()});
    printTable(rows, {false, true, false});
    if (!alarm.is_null()) {
        std::cout << "\nalarm " << alarm["code"].get<std::int32_t>() << ": "
                  << alarm["content"].get<std::string>() << '\n';
        if (const std::string cause = alarm["cause"].get<std::string>(); !cause.empty())
            std::cout << "  " << cause << '\n';
    }
    // The point names as the page labels its boxes (UI 18-27, UI 44-51).
    const auto points = [&](const char* title, const json& states, std::size_t firstText,
                            char letter) {
        std::cout << title;
        for (std::size_t i = 0; i < states.size(); ++i) {
            const std::u16string fallback = platform::fromUtf8(letter + std::to_string(i));
            std::cout << "  " << utf8(ui.text(firstText + i, fallback)) << '=' << states[i].dump();
        }
        std::cout << '\n';
    };
    points("inputs: ", inputs, 18, 'X');
    points("outputs:", outputs, 44, 'Y');
    return kExitOk;
}

// --- params, get

json parameterJson(Command& c, std::size_t i, bool read) {
    const data::ParameterDefinition& p = c.parameters()[i];
    const std::uint32_t raw = p.driveValue.load(kRelaxed);
    return {{"number", text(p.numberText)},
            {"name", text(p.name)},
            {"value", read ? json(shown(p, raw)) : json(nullptr)},
            {"raw", read ? json(raw) : json(nullptr)},
            {"unit", text(p.unit)},
            {"minimum", shown(p, p.minimum)},
            {"maximum", shown(p, p.maximum)},
            {"factory", shown(p, p.factoryValue)},
            {"writable", p.writable()}};
}

int runParams(Command& c) {
    if (const Result r = c.connect(); !r) return c.failLink(r);
    drive::ParameterService service(c.session(), c.parameters(), c.saveTimeoutMs());
    if (const Result r = service.readAll(); !r) return c.failLink(r);
    json list = json::array();
    for (std::size_t i = 0; i < c.parameters().size(); ++i)
        list.push_back(parameterJson(c, i, i < service.readableCount()));
    if (c.json()) {
        std::cout << json{{"ok", true}, {"parameters", list}}.dump(2) << '\n';
        return kExitOk;
    }
    // A value the read does not reach shows as the page shows it: unknown.
    const std::string unknown = utf8(c.language().uiTexts().text(14, u"未知"));
    std::vector<std::vector<std::string>> rows{
        {"number", "name", "value", "raw", "unit", "minimum", "maximum", "factory"}};
    for (const json& p : list) {
        rows.push_back({p["number"].get<std::string>(), p["name"].get<std::string>(),
                        p["value"].is_null() ? unknown : p["value"].get<std::string>(),
                        p["raw"].is_null() ? unknown : p["raw"].dump(),
                        p["unit"].get<std::string>(), p["minimum"].get<std::string>(),
                        p["maximum"].get<std::string>(), p["factory"].get<std::string>()});
    }
    printTable(rows, {false, false, true, true, false, true, true, true});
    return kExitOk;
}

int runGet(Command& c) {
    const auto index = c.find(c.args().number);
    if (!index) return c.refuse(c.args().number, "no such parameter in the language file");
    drive::ParameterService service(c.session(), c.parameters(), c.saveTimeoutMs());
    if (*index >= service.readableCount())
        return c.refuse(c.args().number, "lies beyond the parameters the drive read covers");
    if (const Result r = c.connect(); !r) return c.failLink(r);
    if (const Result r = service.readAll(); !r) return c.failLink(r);
    const json p = parameterJson(c, *index, true);
    if (c.json()) {
        json out = {{"ok", true}};
        out.update(p);
        std::cout << out.dump(2) << '\n';
        return kExitOk;
    }
    std::cout << p["number"].get<std::string>() << "  " << p["name"].get<std::string>() << "  "
              << withUnit(p["value"].get<std::string>(), p["unit"].get<std::string>()) << "  (raw "
              << p["raw"].dump() << ", range " << p["minimum"].get<std::string>() << " to "
              << p["maximum"].get<std::string>() << ", factory " << p["factory"].get<std::string>()
              << (p["writable"].get<bool>() ? "" : ", read-only") << ")\n";
    return kExitOk;
}

// --- set

int runSet(Command& c) {
    const DriveArgs& a = c.args();
    const auto index = c.find(a.number);
    if (!index) return c.refuse(a.number, "no such parameter in the language file");
    const data::ParameterDefinition& p = c.parameters()[*index];
    if (!p.writable()) return c.refuse(a.number, "is read-only");
    drive::ParameterService service(c.session(), c.parameters(), c.saveTimeoutMs());
    // The value is checked before the port is opened: a refused value sends nothing.
    std::uint32_t value = 0;
    if (const Result r = service.parseValue(*index, platform::fromUtf8(a.value), value); !r)
        return c.refuse(a.number, r.cause());
    if (const Result r = c.connect(); !r) return c.failLink(r);
    const Result r = service.writeOne(*index, value,
                                      a.eeprom ? drive::WriteMode::eeprom : drive::WriteMode::ram);
    const std::string name = c.number(*index);
    if (!r) {
        // writeOne stores in the EEPROM only after the value was written.
        if (a.eeprom && r.address == drive::ParameterService::kEepromCommandRegister)
            return c.fail(name, r, "the value was written, but storing it in the EEPROM failed: ");
        return c.fail(name, r);
    }
    const bool toAll = c.broadcast() || r.error == Error::broadcastSent;
    const std::string where = toAll      ? "sent to all stations, no answer expected"
                              : a.eeprom ? "written and stored in the EEPROM"
                                         : "written";
    if (c.json()) {
        std::cout << json{{"ok", true},        {"number", name},       {"value", shown(p, value)},
                          {"raw", value},      {"unit", text(p.unit)}, {"eeprom", a.eeprom},
                          {"broadcast", toAll}}
                         .dump()
                  << '\n';
    } else {
        std::cout << name << " = " << withUnit(shown(p, value), text(p.unit)) << ": " << where
                  << '\n';
    }
    return kExitOk;
}

// --- backup

int runBackup(Command& c) {
    const DriveArgs& a = c.args();
    std::error_code ec;
    if (!a.force && std::filesystem::exists(a.file, ec))
        return c.refuse(a.file, "exists; --force replaces it");
    if (const Result r = c.connect(); !r) return c.failLink(r);
    drive::ParameterService service(c.session(), c.parameters(), c.saveTimeoutMs());
    // A fresh session holds no read: the backup reads every parameter first
    // and writes only what that read returned.
    Result r;
    {
        Progress progress("reading the parameters");
        r = service.backup(a.file, drive::BackupMode::readFirst, progress.control());
    }
    if (!r)
        return r.error == Error::fileError || r.error == Error::incompleteRead ? c.fail(a.file, r)
                                                                               : c.failLink(r);
    if (c.json())
        std::cout
            << json{{"ok", true}, {"file", a.file}, {"parameters", c.parameters().size()}}.dump()
            << '\n';
    else
        std::cout << "backup " << a.file << ": " << c.parameters().size()
                  << " parameters read from the drive\n";
    return kExitOk;
}

// --- restore, factory-reset

// Loads a value file's values into `values`, for this table.
bool loadValues(Command& c, drive::ParameterService& service, std::vector<std::uint32_t>& values) {
    if (const Result r = service.load(c.args().file); !r) {
        c.refuse(c.args().file, r.cause());
        return false;
    }
    values = service.fileValues();
    return true;
}

// Names every writable parameter whose value lies outside its range; true
// when there is none.
bool checkRanges(Command& c, drive::ParameterService& service,
                 const std::vector<std::uint32_t>& values, const std::string& subject) {
    json bad = json::array();
    for (std::size_t i = 0; i < values.size() && i < c.parameters().size(); ++i) {
        const data::ParameterDefinition& p = c.parameters()[i];
        if (!p.writable() || data::checkRange(p.typeCode, values[i], p.minimum, p.maximum) == 0)
            continue;
        const std::string problem = std::to_string(typedValue(p.typeCode, values[i])) +
                                    " is outside the range: " + service.rangeText(i);
        bad.push_back({{"number", c.number(i)}, {"cause", problem}});
        printError(subject, problem);
    }
    if (!bad.empty() && c.json())
        std::cout << json{{"ok", false}, {"error", "out of range"}, {"outOfRange", bad}}.dump()
                  << '\n';
    return bad.empty();
}

struct Difference {
    std::size_t index;
    std::uint32_t drive;
    std::uint32_t other;
};

// Parameters whose value as read differs from `values`, in the type's width.
std::vector<Difference> differences(Command& c, std::size_t readable,
                                    const std::vector<std::uint32_t>& values, bool writableOnly) {
    std::vector<Difference> out;
    for (std::size_t i = 0; i < readable && i < values.size(); ++i) {
        const data::ParameterDefinition& p = c.parameters()[i];
        if (writableOnly && !p.writable()) continue;
        const std::uint32_t d = inWidth(p, p.driveValue.load(kRelaxed));
        if (d != inWidth(p, values[i])) out.push_back({i, d, values[i]});
    }
    return out;
}

// Prints a bulk write's report and returns its exit status: the failure that
// stopped it, else the first refusal, else 0.
int reportBulk(Command& c, const std::string& subject, const drive::BulkReport& report,
               const std::optional<std::vector<Difference>>& verified,
               const Result& readBack = {}) {
    json written = json::array();
    json unchanged = json::array();
    json notReached = json::array();
    json failed = json::array();
    int status = exitCode(report.result);
    for (const drive::ItemReport& item : report.items) {
        const std::string name = c.number(item.index);
        switch (item.outcome) {
            case ItemOutcome::written:
                written.push_back(name);
                break;
            case ItemOutcome::unchanged:
                unchanged.push_back(name);
                break;
            case ItemOutcome::notReached:
                notReached.push_back(name);
                break;
            case ItemOutcome::refused:
            case ItemOutcome::unconfirmed:
                failed.push_back({{"number", name},
                                  {"outcome", drive::outcomeName(item.outcome)},
                                  {"cause", item.result.cause()}});
                if (status == kExitOk) status = exitCode(item.result);
                break;
        }
    }
    json verify = nullptr;
    if (verified) {
        verify = {{"differences", json::array()}};
        for (const Difference& d : *verified) {
            const data::ParameterDefinition& p = c.parameters()[d.index];
            verify["differences"].push_back({{"number", c.number(d.index)},
                                             {"written", shown(p, d.other)},
                                             {"drive", shown(p, d.drive)},
                                             {"unit", text(p.unit)}});
        }
        if (status == kExitOk && !verified->empty()) status = kExitInvalid;
    }
    if (!readBack.ok()) {
        verify = {{"error", "the read-back failed: " + readBack.cause()}};
        if (status == kExitOk) status = exitCode(readBack);
    }
    const bool stopped = !report.result.ok();
    if (c.json()) {
        json out = {{"ok", status == kExitOk},    {"summary", report.summary()},
                    {"broadcast", c.broadcast()}, {"written", written},
                    {"failed", failed},           {"notReached", notReached},
                    {"unchanged", unchanged},     {"verify", verify}};
        if (stopped) out["error"] = report.result.cause();
        std::cout << out.dump(2) << '\n';
    } else {
        std::cout << subject << ": " << report.summary()
                  << (c.broadcast() ? " (sent to all stations: nothing confirmed)" : "") << '\n';
        if (status != kExitOk && !written.empty()) {
            std::cout << "written:";
            for (const json& n : written) std::cout << ' ' << n.get<std::string>();
            std::cout << '\n';
        }
        if (!notReached.empty()) {
            std::cout << "not reached:";
            for (const json& n : notReached) std::cout << ' ' << n.get<std::string>();
            std::cout << '\n';
        }
        if (!written.empty())
            std::cout << "the values are in the drive's working memory: eeprom-save keeps them "
                         "after power-off\n";
        if (verified) {
            if (verified->empty())
                std::cout << "verify: every written value read back as written\n";
            for (const json& d : verify["differences"])
                std::cout << "verify: " << d["number"].get<std::string>() << " written "
                          << d["written"].get<std::string>() << ", drive holds "
                          << withUnit(d["drive"].get<std::string>(), d["unit"].get<std::string>())
                          << '\n';
        }
    }
    for (const json& f : failed)
        printError(f["number"].get<std::string>(), f["cause"].get<std::string>());
    if (stopped) printError(subject, "stopped: " + report.result.cause());
    if (!readBack.ok()) printError(subject, "the read-back failed: " + readBack.cause());
    if (status != kExitOk) {
        std::string what = report.summary();
        if (verified && !verified->empty())
            what += "; " + std::to_string(verified->size()) + " read back different";
        printError(subject, what);
    }
    return status;
}

// restore --only: the named parameters only, each read back after the
// writes; every name, and its value in the file, is checked before the port
// is opened.
int runRestoreChecked(Command& c, drive::ParameterService& service,
                      const std::vector<std::uint32_t>& values) {
    const DriveArgs& a = c.args();
    std::vector<drive::CheckedValue> chosen;
    for (const std::string& number : a.only) {
        const std::optional<std::size_t> index = c.find(number);
        if (!index) return c.refuse(number, "no such parameter in the language file");
        const data::ParameterDefinition& p = c.parameters()[*index];
        if (!p.writable()) return c.refuse(number, "is read-only");
        const std::uint32_t v = inWidth(p, values[*index]);
        if (data::checkRange(p.typeCode, v, p.minimum, p.maximum) != 0)
            return c.refuse(a.file, std::to_string(typedValue(p.typeCode, v)) +
                                        " is outside the range: " + service.rangeText(*index));
        chosen.push_back({*index, v});
    }
    if (const Result r = c.connect(); !r) return c.failLink(r);
    drive::ParameterCompare compare(c.session(), service);
    drive::VerifyReport report;
    {
        Progress progress("writing and reading back");
        report = compare.writeChecked(std::move(chosen), progress.control());
    }
    int status = exitCode(report.result);
    json items = json::array();
    for (const drive::VerifyItem& item : report.items) {
        const data::ParameterDefinition& p = c.parameters()[item.index];
        json entry = {{"number", c.number(item.index)},
                      {"value", shown(p, item.value)},
                      {"unit", text(p.unit)},
                      {"outcome", drive::verifyOutcomeName(item.outcome)}};
        if (item.outcome == drive::VerifyOutcome::different)
            entry["drive"] = shown(p, item.readBack);
        if (!item.result.ok()) entry["cause"] = item.result.cause();
        items.push_back(entry);
        if (status == kExitOk && item.outcome != drive::VerifyOutcome::verified)
            status = item.result.ok() ? kExitInvalid : exitCode(item.result);
    }
    const std::string subject = "restore " + a.file;
    if (c.json()) {
        json out = {{"ok", status == kExitOk}, {"summary", report.summary()}, {"items", items}};
        if (!report.result.ok()) out["error"] = report.result.cause();
        std::cout << out.dump(2) << '\n';
    } else {
        std::cout << subject << ": " << report.summary() << '\n';
        for (const json& item : items) {
            std::cout << item["number"].get<std::string>() << ' '
                      << withUnit(item["value"].get<std::string>(), item["unit"].get<std::string>())
                      << ": " << item["outcome"].get<std::string>();
            if (item.contains("drive"))
                std::cout << ", the drive reads "
                          << withUnit(item["drive"].get<std::string>(),
                                      item["unit"].get<std::string>());
            if (item.contains("cause")) std::cout << ": " << item["cause"].get<std::string>();
            std::cout << '\n';
        }
    }
    if (!report.result.ok()) printError(subject, "stopped: " + report.result.cause());
    if (status != kExitOk) printError(subject, report.summary());
    return status;
}

int runRestore(Command& c) {
    const DriveArgs& a = c.args();
    drive::ParameterService service(c.session(), c.parameters(), c.saveTimeoutMs());
    std::vector<std::uint32_t> values;
    if (!loadValues(c, service, values)) return kExitInvalid;
    if (!a.only.empty()) return runRestoreChecked(c, service, values);
    // The whole file is checked before the port is opened.
    if (!checkRanges(c, service, values, a.file)) return kExitInvalid;
    if (const Result r = c.connect(); !r) return c.failLink(r);
    drive::BulkReport report;
    {
        Progress progress("writing");
        report = service.writeAll(values, progress.control());
    }
    std::optional<std::vector<Difference>> verified;
    // Read back what was written, unless the link failed on the way.
    if (a.verify && report.result.ok()) {
        Result r;
        {
            Progress progress("reading back");
            r = service.readAll(progress.control());
        }
        if (!r) return reportBulk(c, "restore " + a.file, report, std::nullopt, r);
        verified = differences(c, service.readableCount(), values, true);
    }
    return reportBulk(c, "restore " + a.file, report, verified);
}

int runFactoryReset(Command& c) {
    if (!c.args().yes)
        return c.usage(
            "factory-reset overwrites every writable parameter with its factory value; "
            "add --yes to do it");
    if (const Result r = c.connect(); !r) return c.failLink(r);
    drive::ParameterService service(c.session(), c.parameters(), c.saveTimeoutMs());
    drive::BulkReport report;
    {
        Progress progress("writing the factory values");
        report = service.factoryValues(progress.control());
    }
    return reportBulk(c, "factory-reset", report, std::nullopt);
}

// --- diff

int runDiff(Command& c) {
    const DriveArgs& a = c.args();
    if (a.factory == !a.file.empty()) return c.usage("diff takes either FILE or --factory");
    drive::ParameterService service(c.session(), c.parameters(), c.saveTimeoutMs());
    std::vector<std::uint32_t> values;
    if (a.factory)
        values = service.factoryValueList();
    else if (!loadValues(c, service, values))
        return kExitInvalid;
    if (const Result r = c.connect(); !r) return c.failLink(r);
    if (const Result r = service.readAll(); !r) return c.failLink(r);
    const std::vector<Difference> found = differences(c, service.readableCount(), values, false);
    const char* other = a.factory ? "factory" : "file";
    json list = json::array();
    for (const Difference& d : found) {
        const data::ParameterDefinition& p = c.parameters()[d.index];
        list.push_back({{"number", c.number(d.index)},
                        {"name", text(p.name)},
                        {"drive", shown(p, d.drive)},
                        {"other", shown(p, d.other)},
                        {"unit", text(p.unit)},
                        {"writable", p.writable()}});
    }
    if (c.json()) {
        std::cout << json{{"ok", true},
                          {"against", a.factory ? json("factory") : json(a.file)},
                          {"differences", list}}
                         .dump(2)
                  << '\n';
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const json& d : list)
            rows.push_back({d["number"].get<std::string>(), d["name"].get<std::string>(),
                            "drive " + d["drive"].get<std::string>(),
                            std::string(other) + ' ' + d["other"].get<std::string>(),
                            d["unit"].get<std::string>() +
                                (d["writable"].get<bool>() ? "" : "  (read-only)")});
        printTable(rows, {false, false, false, false, false});
    }
    if (service.readableCount() < c.parameters().size())
        printError("diff", "only the first " + std::to_string(service.readableCount()) +
                               " parameters can be read and compared");
    return found.empty() ? kExitOk : kExitInvalid;
}

// --- eeprom-save

int runEepromSave(Command& c) {
    if (const Result r = c.connect(); !r) return c.failLink(r);
    drive::ParameterService service(c.session(), c.parameters(), c.saveTimeoutMs());
    const std::uint64_t start = platform::monotonicMicros();
    Result r;
    {
        // One request, answered when the drive is done.
        Progress progress("eeprom-save");
        progress.show("the drive is storing its parameters (up to " +
                      std::to_string((c.saveTimeoutMs() + drive::kStoreAllExtraMs) / 1000) + " s)");
        r = service.storeAll();
    }
    if (!r) return c.fail("eeprom-save", r);
    const double seconds = static_cast<double>(platform::monotonicMicros() - start) / 1e6;
    char took[32];
    std::snprintf(took, sizeof took, "%.2f", seconds);
    if (c.json())
        std::cout << json{{"ok", true}, {"seconds", seconds}, {"broadcast", c.broadcast()}}.dump()
                  << '\n';
    else if (c.broadcast())
        std::cout << "store-all command sent to all stations, no answer expected\n";
    else
        std::cout << "the drive stored every parameter in its EEPROM (" << took << " s)\n";
    return kExitOk;
}

// --- scope

// Ctrl-C ends a recording early and keeps what it recorded.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onInterrupt(int) {
    interrupted.store(true);
}

// "Motor speed (rpm)" -> {"Motor speed", "rpm"}; a name without a unit in
// parentheses gives an empty unit.
std::pair<std::string, std::string> splitUnit(const std::string& name) {
    const std::size_t open = name.rfind(" (");
    if (name.empty() || name.back() != ')' || open == std::string::npos) return {name, ""};
    return {name.substr(0, open), name.substr(open + 2, name.size() - open - 3)};
}

std::string csvField(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char ch : field) {
        if (ch == '"') quoted += '"';
        quoted += ch;
    }
    return quoted + '"';
}

int runScope(Command& c) {
    const DriveArgs& a = c.args();
    const data::ScopeTable& table = c.language().scopeQuantities();
    if (a.quantities.empty() || a.quantities.size() > drive::ScopeAcquisition::kChannels)
        return c.usage("--quantities takes one to three rows of the scope list");
    if (a.periodMs < 1 || a.periodMs > 60000) return c.usage("--period must be 1 to 60000 ms");
    if (!(a.durationS > 0.0) || a.durationS > 86400.0)
        return c.usage("--duration must be above 0 and at most 86400 s");
    for (std::size_t k = 0; k < a.quantities.size(); ++k) {
        const int row = a.quantities[k];
        if (row < 0 || static_cast<std::size_t>(row) >= table.size())
            return c.usage("scope quantity " + std::to_string(row) + " does not exist (0 to " +
                           std::to_string(table.size() - 1) + ")");
        // The acquisition reads a register once per cycle, for the lowest channel.
        for (std::size_t j = 0; j < k; ++j)
            if (table[static_cast<std::size_t>(a.quantities[j])].address ==
                table[static_cast<std::size_t>(row)].address)
                return c.usage("scope quantities " + std::to_string(a.quantities[j]) + " and " +
                               std::to_string(row) + " are the same register");
    }
    if (const Result r = c.connect(); !r) return c.failLink(r);

    drive::ScopeAcquisition scope(c.session(), table);
    const int channels = static_cast<int>(a.quantities.size());
    for (int k = 0; k < drive::ScopeAcquisition::kChannels; ++k)
        scope.setChannel(k, k < channels,
                         k < channels ? a.quantities[static_cast<std::size_t>(k)] : -1);
    scope.setSamplePeriodUs(static_cast<int>(a.periodMs) * 1000);

    // One row per cycle, stamped with its first read; channels that a cycle
    // reads in separate requests are a transaction apart at most.
    std::string csv = "time (s)";
    json quantities = json::array();
    for (int row : a.quantities) {
        const std::string name = text(table[static_cast<std::size_t>(row)].name);
        csv += "," + csvField(name);
        const auto [bare, unit] = splitUnit(name);
        quantities.push_back({{"row", row}, {"name", bare}, {"unit", unit}});
    }
    csv += '\n';
    const auto limit = static_cast<std::uint64_t>(a.durationS * 1e6);
    std::uint64_t first = 0;
    std::uint64_t previous = 0;
    std::uint64_t longest = 0;
    std::size_t rows = 0;
    Result failure;
    interrupted.store(false);
    const auto previousHandler = std::signal(SIGINT, onInterrupt);
    Progress progress("scope (Ctrl-C ends it)");
    std::uint64_t shownAt = 0;
    for (;;) {
        if (interrupted.load()) break;
        const Result r = scope.acquire();
        std::array<std::optional<std::int32_t>, drive::ScopeAcquisition::kChannels> values;
        std::uint64_t stamp = std::numeric_limits<std::uint64_t>::max();
        scope.takeSamples([&](const drive::ScopeSample& s) {
            if (s.channel < 0 || s.channel >= drive::ScopeAcquisition::kChannels) return;
            values[static_cast<std::size_t>(s.channel)] = s.value;
            stamp = std::min(stamp, s.timeMicros);
        });
        if (!r) {
            failure = r;
            break;
        }
        if (stamp == std::numeric_limits<std::uint64_t>::max()) continue;
        if (rows == 0) first = previous = stamp;
        if (stamp - first >= limit) break;
        longest = std::max(longest, stamp - previous);
        previous = stamp;
        char time[32];
        std::snprintf(time, sizeof time, "%.6f", static_cast<double>(stamp - first) / 1e6);
        csv += time;
        for (int k = 0; k < channels; ++k) {
            csv += ',';
            if (const auto& v = values[static_cast<std::size_t>(k)]) csv += std::to_string(*v);
        }
        csv += '\n';
        ++rows;
        if (stamp - shownAt >= 250000) {
            shownAt = stamp;
            char state[64];
            std::snprintf(state, sizeof state, "%.1f s, %zu rows",
                          static_cast<double>(stamp - first) / 1e6, rows);
            progress.show(state);
        }
    }
    progress.clear();
    std::signal(SIGINT, previousHandler == SIG_ERR ? SIG_DFL : previousHandler);
    // What was recorded is kept even when the link failed on the way.
    const bool saved =
        (rows > 0 || failure.ok()) &&
        platform::replaceFile(
            a.csv, std::span(reinterpret_cast<const std::uint8_t*>(csv.data()), csv.size()));
    if ((rows > 0 || failure.ok()) && !saved) return c.refuse(a.csv, "cannot be written");
    if (!failure.ok()) {
        const double after = static_cast<double>(previous - first) / 1e6;
        char at[32];
        std::snprintf(at, sizeof at, "%.3f", after);
        return c.fail(a.csv, failure,
                      "recording stopped after " + std::string(at) + " s with " +
                          std::to_string(rows) + " rows" + (saved ? " (written)" : "") + ": ");
    }
    // The intervals that the rows show: the period is a target that a slow
    // link or a busy machine may stretch.
    const double meanMs =
        rows > 1 ? static_cast<double>(previous - first) / 1000.0 / static_cast<double>(rows - 1)
                 : 0.0;
    char gap[64];
    std::snprintf(gap, sizeof gap, "mean interval %.2f ms, longest %.1f ms", meanMs,
                  static_cast<double>(longest) / 1000.0);
    if (c.json())
        std::cout << json{{"ok", true},
                          {"file", a.csv},
                          {"rows", rows},
                          {"periodMs", a.periodMs},
                          {"interrupted", interrupted.load()},
                          {"meanIntervalMs", meanMs},
                          {"longestIntervalMs", static_cast<double>(longest) / 1000.0},
                          {"quantities", quantities}}
                         .dump()
                  << '\n';
    else
        std::cout << "scope " << a.csv << ": " << rows << " rows of " << channels
                  << " quantities, period " << a.periodMs << " ms, " << gap
                  << (interrupted.load() ? " (stopped by Ctrl-C)" : "") << '\n';
    return kExitOk;
}

}  // namespace

drive::Result backupDrive(const LinkOptions& link, const DriveArgs& args, std::size_t& parameters) {
    parameters = 0;
    Command c(link, args);
    if (!c.loadDefinitions() || !c.require(!c.parameters().empty(), "parameter table"))
        return Result::failure(Error::fileError, "the language file cannot be used");
    if (const Result r = c.connect(); !r) return r;
    drive::ParameterService service(c.session(), c.parameters(), c.saveTimeoutMs());
    const Result r = service.backup(args.file, drive::BackupMode::readFirst, {});
    if (r) parameters = c.parameters().size();
    return r;
}

int runDriveCommand(const LinkOptions& link, DriveCommand command, const DriveArgs& args) {
    if (const std::string problem = linkOptionProblem(link); !problem.empty()) {
        printError("usage", problem);
        return kExitUsage;
    }
    // Station 0 is a broadcast: writes reach every drive, and nothing answers a read.
    const bool reads = command != DriveCommand::Set && command != DriveCommand::EepromSave &&
                       command != DriveCommand::FactoryReset &&
                       !(command == DriveCommand::Restore && !args.verify && args.only.empty());
    if (link.station == 0 && reads) {
        printError("usage", "station 0 is a broadcast, which nothing answers: this command reads");
        return kExitUsage;
    }
    Command c(link, args);
    if (!c.loadDefinitions()) return kExitInvalid;
    // The table a command works on must not be empty: a language file of
    // another encoding or a damaged one yields none.
    data::LanguageData& lang = c.language();
    const bool present = command == DriveCommand::Status  ? !lang.statusItems().empty()
                         : command == DriveCommand::Scope ? !lang.scopeQuantities().empty()
                                                          : !lang.parameters().empty();
    const char* table = command == DriveCommand::Status  ? "status items"
                        : command == DriveCommand::Scope ? "scope quantities"
                                                         : "parameter table";
    if (!c.require(present, table)) return kExitInvalid;
    switch (command) {
        case DriveCommand::Status:
            return runStatus(c);
        case DriveCommand::Params:
            return runParams(c);
        case DriveCommand::Get:
            return runGet(c);
        case DriveCommand::Set:
            return runSet(c);
        case DriveCommand::Backup:
            return runBackup(c);
        case DriveCommand::Restore:
            return runRestore(c);
        case DriveCommand::Diff:
            return runDiff(c);
        case DriveCommand::EepromSave:
            return runEepromSave(c);
        case DriveCommand::FactoryReset:
            return runFactoryReset(c);
        case DriveCommand::Scope:
            return runScope(c);
    }
    return kExitUsage;
}

}  // namespace servoctl
