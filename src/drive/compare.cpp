#include "drive/compare.h"

#include <algorithm>
#include <array>
#include <span>

#include "data/value_file.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace drive {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// The value in the width of the type: a 16-bit field's high half is noise
// (a .dat file stores 4 bytes, a model set a signed 32-bit number).
std::uint32_t inWidth(data::TypeCode type, std::uint32_t value) {
    return data::typeSize(type) == 2 ? (value & 0xFFFFu) : value;
}

std::string pathText(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

std::string valueText(const data::ParameterDefinition& p, std::uint32_t value) {
    std::string text = platform::toUtf8(data::valueToText(p.typeCode, value));
    if (const std::string unit = platform::toUtf8(p.unit.view()); !unit.empty()) text += " " + unit;
    return text;
}

// A write that failed without a refusal: sent (it may have been applied) or
// never sent.
VerifyOutcome failedWrite(const Result& r) {
    switch (r.error) {
        case Error::refused:
            return VerifyOutcome::refused;
        case Error::notConnected:
        case Error::channelUnavailable:
        case Error::portUnavailable:
            return VerifyOutcome::notReached;
        default:
            return VerifyOutcome::unconfirmed;
    }
}

}  // namespace

Result sourceFromFile(ParameterService& service, const std::filesystem::path& path,
                      CompareSource& source) {
    const platform::FileContent file = platform::readFile(path);
    if (!file.outcome.ok())
        return Result::failure(Error::fileError,
                               platform::describeFileFailure("read", path, file.outcome));
    // A scratch table: the file's values must not replace the ones the
    // parameter page has loaded.
    const data::ParameterTable& table = service.table();
    std::vector<data::ParameterDefinition> scratch(table.size());
    if (data::applyValueImage(file.bytes, scratch) != 1)
        return Result::failure(Error::fileError, "cannot compare with " + pathText(path) +
                                                     ": not a parameter file for this table of " +
                                                     std::to_string(table.size()) + " parameters");
    CompareSource out;
    out.name = "file " + pathText(path.filename());
    out.values.reserve(table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        out.values.emplace_back(inWidth(table[i].typeCode, scratch[i].fileValue.load(kRelaxed)));
    source = std::move(out);
    return {};
}

CompareSource sourceFromFactory(ParameterService& service) {
    CompareSource out;
    out.name = "factory values";
    for (const data::ParameterDefinition& p : service.table())
        out.values.emplace_back(inWidth(p.typeCode, p.factoryValue));
    return out;
}

CompareSource sourceFromModel(ParameterService& service, const data::ModelValueSets& models,
                              std::size_t set) {
    const data::ParameterTable& table = service.table();
    CompareSource out;
    out.values.resize(table.size());
    if (set >= models.count()) return out;
    out.name = "model " + std::string(models.name(set));
    const std::span<const std::int32_t> values = models.values(set);
    for (std::size_t i = 0; i < table.size() && i < values.size(); ++i)
        out.values[i] = inWidth(table[i].typeCode, static_cast<std::uint32_t>(values[i]));
    return out;
}

std::size_t Comparison::differences() const {
    return static_cast<std::size_t>(
        std::count_if(rows.begin(), rows.end(), [](const CompareRow& r) { return r.differs; }));
}

Comparison ParameterCompare::compare(const CompareSource& source, const BulkControl& control) {
    Comparison out;
    const data::ParameterTable& table = parameters_.table();
    if (!parameters_.tableFits()) {
        out.result = Result::failure(
            Error::incompleteRead, "only " + std::to_string(parameters_.readableCount()) + " of " +
                                       std::to_string(table.size()) +
                                       " parameters can be read from the drive");
        return out;
    }
    // Always a fresh read: the drive's panel or another tool may have changed
    // it since the last one, and a comparison is made to decide what to write.
    if (Result r = parameters_.readAll(control); !r) {
        out.result = r;
        return out;
    }
    const std::vector<std::uint32_t> drive = parameters_.completeValues();
    if (drive.empty()) {
        out.result = Result::failure(Error::incompleteRead,
                                     "a write changed the drive during the read; compare again");
        return out;
    }
    out.rows.reserve(table.size());
    for (std::size_t i = 0; i < table.size() && i < drive.size(); ++i) {
        const data::ParameterDefinition& p = table[i];
        CompareRow row;
        row.index = i;
        row.driveValue = inWidth(p.typeCode, drive[i]);
        if (i < source.values.size()) row.sourceValue = source.values[i];
        row.differs = row.sourceValue && *row.sourceValue != row.driveValue;
        row.writable = p.writable();
        out.rows.push_back(row);
    }
    return out;
}

const char* verifyOutcomeName(VerifyOutcome outcome) {
    switch (outcome) {
        case VerifyOutcome::verified:
            return "written and verified";
        case VerifyOutcome::refused:
            return "refused";
        case VerifyOutcome::different:
            return "different after writing";
        case VerifyOutcome::unverified:
            return "written, not read back";
        case VerifyOutcome::unconfirmed:
            return "unconfirmed";
        case VerifyOutcome::notReached:
            return "not reached";
    }
    return "";
}

bool VerifyReport::ok() const {
    return result.ok() && count(VerifyOutcome::verified) == items.size();
}

std::size_t VerifyReport::count(VerifyOutcome outcome) const {
    return static_cast<std::size_t>(
        std::count_if(items.begin(), items.end(),
                      [outcome](const VerifyItem& i) { return i.outcome == outcome; }));
}

std::string VerifyReport::summary() const {
    std::string s = std::to_string(count(VerifyOutcome::verified)) + " verified, " +
                    std::to_string(count(VerifyOutcome::refused)) + " refused, " +
                    std::to_string(count(VerifyOutcome::different)) + " different after writing";
    for (const VerifyOutcome o :
         {VerifyOutcome::unverified, VerifyOutcome::unconfirmed, VerifyOutcome::notReached})
        if (const std::size_t n = count(o); n > 0)
            s += ", " + std::to_string(n) + " " + verifyOutcomeName(o);
    return s;
}

Result ParameterCompare::readBack(std::size_t index, std::uint32_t& value) {
    const data::ParameterDefinition& p = parameters_.table()[index];
    std::array<std::uint8_t, 4> bytes{};
    const std::size_t size = data::typeSize(p.typeCode);
    const auto span = std::span<std::uint8_t>(bytes.data(), size);
    if (Result r = session_.readRegisters(p.address, span); !r) return r;
    std::uint32_t field = 0;
    data::bytesToValue(p.typeCode, field, span);
    value = inWidth(p.typeCode, field);
    return {};
}

VerifyReport ParameterCompare::writeChecked(std::vector<CheckedValue> values,
                                            const BulkControl& control) {
    VerifyReport report;
    data::ParameterTable& table = parameters_.table();
    std::sort(values.begin(), values.end(),
              [](const CheckedValue& a, const CheckedValue& b) { return a.index < b.index; });
    values.erase(std::unique(values.begin(), values.end(),
                             [](const CheckedValue& a, const CheckedValue& b) {
                                 return a.index == b.index;
                             }),
                 values.end());
    for (const CheckedValue& v : values) {
        VerifyItem item;
        item.index = v.index;
        item.value = v.index < table.size() ? inWidth(table[v.index].typeCode, v.value) : v.value;
        report.items.push_back(item);
    }
    // The whole set is checked before anything is sent.
    for (const VerifyItem& item : report.items) {
        const std::string name =
            item.index < table.size() ? platform::toUtf8(parameters_.displayName(item.index)) : "";
        if (item.index >= table.size()) {
            report.result = Result::failure(
                Error::badValue, "no parameter " + std::to_string(item.index) + " in the table");
            return report;
        }
        const data::ParameterDefinition& p = table[item.index];
        if (!p.writable() || data::typeSize(p.typeCode) == 0) {
            report.result = Result::failure(Error::badValue, name + " is read-only");
            return report;
        }
        if (data::checkRange(p.typeCode, item.value, p.minimum, p.maximum) != 0) {
            report.result =
                Result::failure(Error::outOfRange,
                                platform::toUtf8(data::valueToText(p.typeCode, item.value)) +
                                    " is outside the range: " + parameters_.rangeText(item.index));
            return report;
        }
    }
    if (!session_.connected()) {
        report.result = Result::failure(Error::notConnected);
        return report;
    }
    // Progress counts the writes and then the reads.
    const std::size_t total = 2 * report.items.size();
    std::size_t done = 0;
    for (VerifyItem& item : report.items) {
        control.report(done++, total);
        if (control.cancelled()) {
            report.result = Result::failure(Error::cancelled);
            break;
        }
        const Result r = parameters_.writeOne(item.index, item.value);
        if (r) {
            item.outcome = VerifyOutcome::unverified;
            continue;
        }
        item.outcome = failedWrite(r);
        item.result = r;
        if (item.outcome == VerifyOutcome::refused) continue;
        report.result = r;
        break;
    }
    // Read back after every write: a later write that changes an earlier
    // parameter shows as a difference.
    done = report.items.size();
    for (VerifyItem& item : report.items) {
        if (item.outcome != VerifyOutcome::unverified) continue;
        control.report(done++, total);
        const Result r = readBack(item.index, item.readBack);
        if (!r) {
            item.result = r;
            continue;
        }
        item.outcome =
            item.readBack == item.value ? VerifyOutcome::verified : VerifyOutcome::different;
    }
    if (report.result.ok()) control.report(total, total);
    return report;
}

std::string reportText(ParameterService& service, const VerifyReport& report,
                       const std::string& sourceName) {
    const data::ParameterTable& table = service.table();
    std::string text = "Parameter write with read back";
    if (!sourceName.empty()) text += " (values of " + sourceName + ")";
    text += "\r\n" + report.summary() + "\r\n";
    if (!report.result.ok()) text += "Stopped: " + report.result.cause() + "\r\n";
    text += "\r\n";
    for (const VerifyItem& item : report.items) {
        if (item.index >= table.size()) continue;
        const data::ParameterDefinition& p = table[item.index];
        std::string line = platform::toUtf8(service.displayName(item.index));
        if (const std::string name = platform::toUtf8(p.name.view());
            !name.empty() && p.numberText.present())
            line += " " + name;
        line += ": " + valueText(p, item.value) + ": " + verifyOutcomeName(item.outcome);
        switch (item.outcome) {
            case VerifyOutcome::different:
                line += ", the drive reads " + valueText(p, item.readBack);
                break;
            case VerifyOutcome::refused:
            case VerifyOutcome::unverified:
            case VerifyOutcome::unconfirmed:
                line += ": " + item.result.cause();
                break;
            case VerifyOutcome::verified:
            case VerifyOutcome::notReached:
                break;
        }
        text += line + "\r\n";
    }
    return text;
}

Result saveReport(const std::filesystem::path& path, const std::string& text) {
    const auto bytes = std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    const platform::FileOutcome outcome = platform::writeFileReplacing(path, bytes);
    if (!outcome.ok())
        return Result::failure(Error::fileError,
                               platform::describeFileFailure("write", path, outcome));
    return {};
}

}  // namespace drive
