#include "drive/bus_monitor.h"

#include <cstdio>

#include "modbus/request.h"
#include "platform/text.h"

namespace drive {

namespace {

using modbus::Outcome;

std::u16string ascii(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

std::u16string pick(bool english, std::u16string_view en, std::u16string_view zh) {
    return std::u16string(english ? en : zh);
}

bool registerFunction(std::uint8_t code) {
    return code == modbus::kReadHoldingRegisters || code == 4 ||
           code == modbus::kWriteSingleRegister || code == modbus::kWriteMultipleRegisters;
}

// The parameter at the address, else the status item there, else the scope
// quantity there (the scope's reads); empty when none.
std::u16string ownerOf(std::uint16_t address, const data::LanguageData& language) {
    for (const data::ParameterDefinition& p : language.parameters()) {
        if (p.address != address) continue;
        // The number as the parameter page shows it ("P01.07").
        std::u16string out(p.numberText.view());
        if (!p.name.view().empty()) out += u" " + std::u16string(p.name.view());
        return out;
    }
    for (const data::StatusItem& s : language.statusItems()) {
        if (s.address == address) return std::u16string(s.name.view());
    }
    for (const data::ScopeQuantity& q : language.scopeQuantities().span()) {
        if (q.size != 0 && q.address == address) return std::u16string(q.name.view());
    }
    return {};
}

std::u16string outcomeText(const modbus::TransactionRecord& r, bool english) {
    switch (r.outcome) {
        case Outcome::ok:
        case Outcome::broadcastSent:
            return {};
        case Outcome::noAnswer:
            return pick(english, u"time-out", u"超时");
        case Outcome::badChecksum:
            return pick(english, u"bad checksum", u"校验错误");
        case Outcome::exception: {
            char code[8];
            std::snprintf(code, sizeof code, " %02X", static_cast<unsigned>(r.exceptionCode));
            return pick(english, u"exception", u"异常") + ascii(code);
        }
        case Outcome::wrongStation:
            return pick(english, u"wrong station", u"站号错误");
        case Outcome::malformed:
            return pick(english, u"malformed answer", u"帧格式错误");
        case Outcome::mismatch:
            return pick(english, u"answer does not match", u"应答不符");
        case Outcome::portFailure:
        case Outcome::portUnavailable:
        case Outcome::channelUnavailable:
            return pick(english, u"port failure", u"串口错误");
        case Outcome::connectionLost:
            return pick(english, u"connection lost", u"连接中断");
        case Outcome::broadcastRead:
            return pick(english, u"broadcast read refused", u"广播不能读");
    }
    return {};
}

std::u16string valuesText(const modbus::TransactionRecord& r) {
    std::string out;
    const std::size_t kept = r.keptBytes();
    if (registerFunction(r.functionCode)) {
        for (std::size_t i = 0; i + 1 < kept; i += 2) {
            if (!out.empty()) out += ' ';
            out += std::to_string(r.data[i] << 8 | r.data[i + 1]);
        }
    } else if (r.functionCode == modbus::kWriteSingleCoil) {
        if (kept >= 1) out = r.data[0] == 0xFF ? "1" : "0";
    } else {
        // Packed bits, the first point in the lowest bit; no more than asked.
        const std::size_t points = std::min<std::size_t>(r.quantity, kept * 8);
        for (std::size_t i = 0; i < points; ++i)
            out += ((r.data[i / 8] >> (i % 8)) & 1) != 0 ? '1' : '0';
    }
    if (r.dataBytes > kept) out += " ...";
    return ascii(out);
}

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::u16string functionText(std::uint8_t code, bool english) {
    char number[8];
    std::snprintf(number, sizeof number, "%02X ", static_cast<unsigned>(code));
    std::u16string out = ascii(number);
    switch (code) {
        case modbus::kReadCoils:
            return out + pick(english, u"read coils", u"读线圈");
        case modbus::kReadDiscreteInputs:
            return out + pick(english, u"read inputs", u"读输入");
        case modbus::kReadHoldingRegisters:
            return out + pick(english, u"read registers", u"读寄存器");
        case 4:
            return out + pick(english, u"read input registers", u"读输入寄存器");
        case modbus::kWriteSingleCoil:
            return out + pick(english, u"write coil", u"写线圈");
        case modbus::kWriteSingleRegister:
            return out + pick(english, u"write register", u"写寄存器");
        case modbus::kWriteMultipleCoils:
            return out + pick(english, u"write coils", u"写多个线圈");
        case modbus::kWriteMultipleRegisters:
            return out + pick(english, u"write registers", u"写多个寄存器");
        default:
            return out;
    }
}

MonitorRow describeTransaction(const modbus::TransactionRecord& r,
                               const data::LanguageData& language, bool english,
                               std::uint64_t startMicros) {
    MonitorRow row;
    row.sequence = r.sequence;
    row.failed = r.failed();
    row.functionCode = r.functionCode;
    const std::uint64_t since = r.timeMicros > startMicros ? r.timeMicros - startMicros : 0;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%llu.%03llu",
                  static_cast<unsigned long long>(since / 1'000'000),
                  static_cast<unsigned long long>(since / 1000 % 1000));
    row.time = ascii(buf);
    row.direction = r.isWrite() ? pick(english, u"write", u"写") : pick(english, u"read", u"读");
    row.station = ascii(std::to_string(r.station));
    row.function = functionText(r.functionCode, english);
    row.address = ascii(std::to_string(r.address));
    if (registerFunction(r.functionCode)) {
        const std::u16string owner = ownerOf(r.address, language);
        if (!owner.empty()) row.address += u" " + owner;
    }
    if (r.quantity > 1) row.address += ascii(" (+" + std::to_string(r.quantity - 1) + ")");
    row.values = valuesText(r);
    if (r.roundTripMicros != 0) {
        std::snprintf(buf, sizeof buf, "%.2f ms", r.roundTripMicros / 1000.0);
        row.roundTrip = ascii(buf);
    }
    row.error = outcomeText(r, english);
    if (r.retry()) {
        if (!row.error.empty()) row.error += u", ";
        row.error += pick(english, u"retry ", u"重试 ") + ascii(std::to_string(r.attempt - 1));
    }
    return row;
}

BusMonitor::BusMonitor(const modbus::TransactionLog& log, const data::LanguageData& language,
                       bool english, std::uint64_t startMicros)
    : log_(log),
      language_(language),
      english_(english),
      startMicros_(startMicros),
      next_(log.written()) {}

std::size_t BusMonitor::update() {
    if (paused_) return 0;
    std::vector<modbus::TransactionRecord> fresh;
    next_ = log_.readSince(next_, fresh);
    for (const modbus::TransactionRecord& r : fresh) {
        rows_.push_back(describeTransaction(r, language_, english_, startMicros_));
        if (rows_.size() > kCapacity) rows_.pop_front();
    }
    return fresh.size();
}

std::vector<const MonitorRow*> BusMonitor::visibleRows() const {
    std::vector<const MonitorRow*> out;
    for (const MonitorRow& row : rows_) {
        if (filter_.errorsOnly && !row.failed) continue;
        if (filter_.functionCode >= 0 && row.functionCode != filter_.functionCode) continue;
        out.push_back(&row);
    }
    return out;
}

namespace {

std::vector<std::u16string> header(bool english) {
    if (english)
        return {u"time s",  u"direction", u"station",    u"function",
                u"address", u"values",    u"round trip", u"error"};
    return {u"时间 s", u"方向", u"站号", u"功能", u"地址", u"数值", u"往返时间", u"错误"};
}

std::vector<std::u16string> cells(const MonitorRow& r) {
    return {r.time, r.direction, r.station, r.function, r.address, r.values, r.roundTrip, r.error};
}

template <class Field>
std::string table(const std::vector<const MonitorRow*>& rows, bool english, char separator,
                  Field field) {
    std::string out;
    auto line = [&](const std::vector<std::u16string>& columns) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (i != 0) out += separator;
            out += field(platform::toUtf8(columns[i]));
        }
        out += separator == ',' ? "\r\n" : "\n";
    };
    line(header(english));
    for (const MonitorRow* r : rows) line(cells(*r));
    return out;
}

}  // namespace

std::string BusMonitor::asText() const {
    // A tab in a field would shift the columns; none of the texts has one.
    return table(visibleRows(), english_, '\t', [](const std::string& s) { return s; });
}

std::string BusMonitor::asCsv() const {
    return table(visibleRows(), english_, ',', csvField);
}

}  // namespace drive
