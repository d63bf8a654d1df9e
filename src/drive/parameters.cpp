#include "drive/parameters.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <span>

#include "data/value_file.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace drive {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

std::string narrow(std::u16string_view text) {
    return platform::toUtf8(text);
}

// A path in messages, as UTF-8 whatever the system's code page.
std::string pathText(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

// The value as the type reads it, for messages and range checks.
long long typedValue(data::TypeCode type, std::uint32_t value) {
    switch (type) {
        case data::TypeCode::Int16S:
            return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
        case data::TypeCode::Int16U:
            return static_cast<std::uint16_t>(value);
        case data::TypeCode::Int32S:
            return static_cast<std::int32_t>(value);
        case data::TypeCode::Int32U:
            return value;
    }
    return value;
}

// An item that a link failure stopped at: sent (it may have been applied) or
// refused before anything went out.
ItemOutcome failedOutcome(const Result& r) {
    switch (r.error) {
        case Error::refused:
            return ItemOutcome::refused;
        case Error::notConnected:
        case Error::channelUnavailable:
        case Error::portUnavailable:
            return ItemOutcome::notReached;
        default:
            return ItemOutcome::unconfirmed;
    }
}

}  // namespace

const char* outcomeName(ItemOutcome outcome) {
    switch (outcome) {
        case ItemOutcome::written:
            return "written";
        case ItemOutcome::refused:
            return "refused";
        case ItemOutcome::unchanged:
            return "unchanged";
        case ItemOutcome::unconfirmed:
            return "unconfirmed";
        case ItemOutcome::notReached:
            return "not reached";
    }
    return "";
}

bool BulkReport::ok() const {
    return result.ok() && count(ItemOutcome::refused) == 0 &&
           count(ItemOutcome::unconfirmed) == 0 && count(ItemOutcome::notReached) == 0;
}

std::size_t BulkReport::count(ItemOutcome outcome) const {
    return static_cast<std::size_t>(
        std::count_if(items.begin(), items.end(),
                      [outcome](const ItemReport& i) { return i.outcome == outcome; }));
}

std::string BulkReport::summary() const {
    std::string s = std::to_string(count(ItemOutcome::written)) + " written, " +
                    std::to_string(count(ItemOutcome::refused)) + " refused, ";
    if (const std::size_t u = count(ItemOutcome::unconfirmed); u > 0)
        s += std::to_string(u) + " unconfirmed, ";
    s += std::to_string(count(ItemOutcome::unchanged)) + " unchanged, " +
         std::to_string(count(ItemOutcome::notReached)) + " not reached";
    return s;
}

ParameterService::ParameterService(DriveSession& session, data::ParameterTable& table,
                                   std::uint32_t saveTimeoutMs)
    : session_(session), table_(table), saveTimeoutMs_(saveTimeoutMs) {
    planReads();
}

// The blocks of the read: from the first parameter's register to the last
// one's, 12 registers a block, as many as the read buffer holds and the
// register space leaves room for (a block must end at or below 65535). The
// parameters whose bytes lie inside what is read are the readable ones; the
// values are taken in table order, each the size of its type, as the drive
// lays them out.
void ParameterService::planReads() {
    const auto table = std::span<const data::ParameterDefinition>(table_.data(), table_.size());
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

Result ParameterService::readAll(const BulkControl& control) {
    if (table_.empty()) return {};
    if (!session_.connected()) return Result::failure(Error::notConnected);
    // Taken before the first request: a write sent after this point makes the
    // read stale even when it lands between two blocks.
    const std::uint64_t generation = session_.generation();
    const std::uint64_t writes = session_.writeSequence();
    // A write still on its way may land between two blocks: such a read shows
    // values but does not count as complete.
    const bool settled = !session_.writeInProgress();
    std::array<std::uint8_t, kReadBufferBytes> buffer{};
    const auto blocks = static_cast<std::size_t>(blocks_);
    for (std::size_t k = 0; k < blocks; ++k) {
        control.report(k, blocks);
        if (control.cancelled()) return Result::failure(Error::cancelled);
        const auto address = static_cast<std::uint16_t>(firstAddress_ + kBlockRegisters * k);
        const Result r =
            session_.readRegisters(address, std::span<std::uint8_t>(buffer).subspan(
                                                2u * kBlockRegisters * k, 2u * kBlockRegisters));
        if (!r) return r;
    }
    control.report(blocks, blocks);
    std::vector<std::uint32_t> values(table_.size(), 0);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < readable_; ++i) {
        data::ParameterDefinition& p = table_[i];
        const auto rest = std::span<const std::uint8_t>(buffer).subspan(offset);
        data::bytesToValue(p.typeCode, values[i], rest);
        offset += data::bytesToValue(p.typeCode, p.driveValue, rest);
    }
    if (!settled) return {};
    std::lock_guard lock(mutex_);
    readValues_ = std::move(values);
    readGeneration_ = generation;
    readWriteSequence_ = writes;
    haveRead_ = true;
    return {};
}

bool ParameterService::hasCompleteRead() const {
    std::lock_guard lock(mutex_);
    return haveRead_ && tableFits_ && session_.connected() &&
           readGeneration_ == session_.generation() &&
           readWriteSequence_ == session_.writeSequence();
}

std::vector<std::uint32_t> ParameterService::completeValues() const {
    if (!hasCompleteRead()) return {};
    std::lock_guard lock(mutex_);
    return readValues_;
}

std::u16string ParameterService::displayName(std::size_t index) const {
    if (index >= table_.size()) return {};
    const data::ParameterDefinition& p = table_[index];
    std::u16string name = p.numberText.str();
    if (name.empty()) name = p.name.str();
    return name;
}

std::string ParameterService::rangeText(std::size_t index) const {
    if (index >= table_.size()) return {};
    const data::ParameterDefinition& p = table_[index];
    std::string text = narrow(displayName(index)) + " takes " +
                       std::to_string(typedValue(p.typeCode, p.minimum)) + " to " +
                       std::to_string(typedValue(p.typeCode, p.maximum));
    if (const std::string unit = narrow(p.unit.view()); !unit.empty()) text += " " + unit;
    return text;
}

Result ParameterService::parseValue(std::size_t index, std::u16string_view text,
                                    std::uint32_t& value) const {
    if (index >= table_.size()) return Result::failure(Error::badValue, "no such parameter");
    const data::ParameterDefinition& p = table_[index];
    std::string s = narrow(text);
    const auto notSpace = [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    if (!s.empty() && s[0] == '+') s.erase(0, 1);
    long long parsed = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), parsed);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return Result::failure(
            Error::badValue, "\"" + narrow(text) + "\" is not a whole number; " + rangeText(index));
    long long lowest = 0;
    long long highest = 0;
    switch (p.typeCode) {
        case data::TypeCode::Int16S:
            lowest = std::numeric_limits<std::int16_t>::min();
            highest = std::numeric_limits<std::int16_t>::max();
            break;
        case data::TypeCode::Int16U:
            highest = std::numeric_limits<std::uint16_t>::max();
            break;
        case data::TypeCode::Int32S:
            lowest = std::numeric_limits<std::int32_t>::min();
            highest = std::numeric_limits<std::int32_t>::max();
            break;
        case data::TypeCode::Int32U:
            highest = std::numeric_limits<std::uint32_t>::max();
            break;
    }
    const auto outOfRange = [&] {
        return Result::failure(Error::outOfRange,
                               narrow(text) + " is outside the range: " + rangeText(index));
    };
    if (parsed < lowest || parsed > highest) return outOfRange();
    const auto raw = static_cast<std::uint32_t>(parsed);
    const std::uint32_t field = data::typeSize(p.typeCode) == 2 ? (raw & 0xFFFF) : raw;
    if (data::checkRange(p.typeCode, field, p.minimum, p.maximum) != 0) return outOfRange();
    value = field;
    return {};
}

Result ParameterService::writeValue(std::size_t index, std::uint32_t value) {
    const data::ParameterDefinition& p = table_[index];
    std::array<std::uint8_t, 4> bytes{};
    const std::size_t count = data::valueBytes(p.typeCode, value, bytes);
    if (count == 0) return Result::failure(Error::badValue, "the parameter has no value type");
    return session_.writeRegisters(p.address, std::span<const std::uint8_t>(bytes.data(), count));
}

Result ParameterService::writeOne(std::size_t index, std::uint32_t value, WriteMode mode) {
    if (index >= table_.size()) return Result::failure(Error::badValue, "no such parameter");
    const data::ParameterDefinition& p = table_[index];
    if (!p.writable())
        return Result::failure(Error::badValue, narrow(displayName(index)) + " is read-only");
    if (data::checkRange(p.typeCode, value, p.minimum, p.maximum) != 0)
        return Result::failure(Error::outOfRange, std::to_string(typedValue(p.typeCode, value)) +
                                                      " is outside the range: " + rangeText(index));
    if (Result r = writeValue(index, value); !r) return r;
    if (mode == WriteMode::eeprom) return storeOne(index);
    return {};
}

Result ParameterService::storeOne(std::size_t index) {
    // Position 65535 would read as "store all".
    if (index >= table_.size() || index >= kStoreAll)
        return Result::failure(Error::badValue, "no such parameter");
    const std::array<std::uint8_t, 2> position{static_cast<std::uint8_t>(index & 0xFF),
                                               static_cast<std::uint8_t>((index >> 8) & 0xFF)};
    return session_.writeRegisters(kEepromCommandRegister, position, kStoreOneTiming);
}

Result ParameterService::storeAll() {
    // Saturated rather than wrapped: a long store must not get a short time-out.
    const std::uint64_t timeout = std::uint64_t{saveTimeoutMs_} + kStoreAllExtraMs;
    const RequestTiming timing{static_cast<std::uint16_t>(std::min<std::uint64_t>(timeout, 0xFFFF)),
                               kStoreAllRetries};
    const std::array<std::uint8_t, 2> command{static_cast<std::uint8_t>(kStoreAll & 0xFF),
                                              static_cast<std::uint8_t>(kStoreAll >> 8)};
    return session_.writeRegisters(kEepromCommandRegister, command, timing);
}

data::ValueFileResult ParameterService::loadFile(const std::filesystem::path& path,
                                                 data::RangeCheck ranges) {
    data::ValueFileResult r = data::readValueFile(
        path, std::span<data::ParameterDefinition>(table_.data(), table_.size()), ranges);
    if (r.ok()) setFileLoaded(true);
    return r;
}

Result ParameterService::load(const std::filesystem::path& path) {
    const data::ValueFileResult r = loadFile(path);
    if (!r.ok())
        return Result::failure(
            Error::fileError,
            "cannot load " + pathText(path) + ": " +
                data::describeValueFileCheck(
                    r, std::span<const data::ParameterDefinition>(table_.data(), table_.size())));
    return {};
}

std::vector<std::uint32_t> ParameterService::fileValues() const {
    std::vector<std::uint32_t> values;
    values.reserve(table_.size());
    for (const data::ParameterDefinition& p : table_) values.push_back(p.fileValue.load(kRelaxed));
    return values;
}

std::vector<std::uint32_t> ParameterService::factoryValueList() const {
    std::vector<std::uint32_t> values;
    values.reserve(table_.size());
    for (const data::ParameterDefinition& p : table_) values.push_back(p.factoryValue);
    return values;
}

std::optional<std::size_t> ParameterService::firstOutOfRange(
    const std::vector<std::uint32_t>& values) const {
    for (std::size_t i = 0; i < table_.size() && i < values.size(); ++i) {
        const data::ParameterDefinition& p = table_[i];
        if (p.writable() && data::checkRange(p.typeCode, values[i], p.minimum, p.maximum) != 0)
            return i;
    }
    return std::nullopt;
}

BulkReport ParameterService::writeAll(const std::vector<std::uint32_t>& values,
                                      const BulkControl& control) {
    BulkReport report;
    const std::size_t n = table_.size();
    report.items.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        report.items[i].index = i;
        report.items[i].value = i < values.size() ? values[i] : 0;
    }
    if (values.size() != n) {
        report.result = Result::failure(Error::badValue, std::to_string(values.size()) +
                                                             " values for a table of " +
                                                             std::to_string(n) + " parameters");
        return report;
    }
    // The whole set is checked before anything is sent.
    if (const auto bad = firstOutOfRange(values)) {
        const data::ParameterDefinition& p = table_[*bad];
        report.result = Result::failure(Error::outOfRange,
                                        std::to_string(typedValue(p.typeCode, values[*bad])) +
                                            " is outside the range: " + rangeText(*bad));
        return report;
    }
    if (!session_.connected()) {
        report.result = Result::failure(Error::notConnected);
        return report;
    }
    for (std::size_t i = 0; i < n; ++i) {
        ItemReport& item = report.items[i];
        control.report(i, n);
        if (control.cancelled()) {
            report.result = Result::failure(Error::cancelled);
            break;
        }
        const data::ParameterDefinition& p = table_[i];
        if (!p.writable() || data::typeSize(p.typeCode) == 0) {
            item.outcome = ItemOutcome::unchanged;
            continue;
        }
        const Result r = writeValue(i, values[i]);
        if (r) {
            item.outcome = ItemOutcome::written;
            continue;
        }
        item.outcome = failedOutcome(r);
        item.result = r;
        // The drive answered and refused this value: the others still go.
        if (item.outcome == ItemOutcome::refused) continue;
        report.result = r;
        break;
    }
    if (report.result.ok()) control.report(n, n);
    return report;
}

BulkReport ParameterService::importFile(const BulkControl& control) {
    if (!fileLoaded()) {
        BulkReport report;
        report.result = Result::failure(Error::fileError, "no parameter file loaded");
        return report;
    }
    return writeAll(fileValues(), control);
}

BulkReport ParameterService::factoryValues(const BulkControl& control) {
    return writeAll(factoryValueList(), control);
}

Result ParameterService::backup(const std::filesystem::path& path, BackupMode mode,
                                const BulkControl& control) {
    if (!tableFits_)
        return Result::failure(Error::incompleteRead, "only " + std::to_string(readable_) + " of " +
                                                          std::to_string(table_.size()) +
                                                          " parameters can be read from the drive");
    std::vector<std::uint32_t> values = completeValues();
    if (values.empty()) {
        if (mode == BackupMode::refuseStale)
            return Result::failure(Error::incompleteRead,
                                   "the parameters have not been read since connecting or "
                                   "since the last write; read them first");
        if (Result r = readAll(control); !r) return r;
        values = completeValues();
        if (values.empty())
            return Result::failure(Error::incompleteRead,
                                   "a write changed the drive during the read; back up again");
    }
    // A table of its own for the file writer: the values of this read only.
    std::vector<data::ParameterDefinition> copy(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) copy[i].driveValue.store(values[i], kRelaxed);
    if (const platform::FileOutcome written = data::writeValueFile(path, copy); !written.ok())
        return Result::failure(Error::fileError,
                               platform::describeFileFailure("write", path, written));
    return {};
}

}  // namespace drive
