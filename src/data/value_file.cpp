#include "data/value_file.h"

#include "data/binary_image.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace data {

namespace {
constexpr std::size_t kHeaderBytes = 8;    // length, count
constexpr std::size_t kMinimumBytes = 10;  // a file of an empty table

ValueFileResult failed(ValueFileCheck check) {
    ValueFileResult r;
    r.check = check;
    return r;
}

// The value as its type reads it, for messages.
std::string typedText(TypeCode type, std::uint32_t value) {
    return platform::toUtf8(valueToText(type, value));
}
}  // namespace

std::vector<std::uint8_t> valueImage(std::span<const ParameterDefinition> parameters) {
    const std::size_t length = 4 * parameters.size() + kMinimumBytes;
    std::vector<std::uint8_t> out;
    out.reserve(length);
    detail::putU32(out, static_cast<std::uint32_t>(length));
    detail::putU32(out, static_cast<std::uint32_t>(parameters.size()));
    for (const ParameterDefinition& p : parameters)
        detail::putU32(out, p.driveValue.load(std::memory_order_relaxed));
    detail::appendCrc(out);
    return out;
}

ValueFileResult readValueImage(std::span<const std::uint8_t> bytes,
                               std::span<ParameterDefinition> parameters, RangeCheck ranges) {
    if (bytes.size() < kMinimumBytes) {
        ValueFileResult r = failed(ValueFileCheck::tooShort);
        r.fileBytes = bytes.size();
        return r;
    }
    // Checksum, length field, count: a damaged file fails on its checksum first.
    if (!detail::crcMatches(bytes)) return failed(ValueFileCheck::checksum);
    if (const std::uint32_t length = detail::getU32(bytes, 0); length != bytes.size()) {
        ValueFileResult r = failed(ValueFileCheck::length);
        r.fileBytes = bytes.size();
        r.found = length;
        return r;
    }
    if (const std::uint32_t count = detail::getU32(bytes, 4); count != parameters.size()) {
        ValueFileResult r = failed(ValueFileCheck::count);
        r.found = count;
        return r;
    }
    // Holds whenever the three checks pass; kept so no read can leave the bytes.
    if (bytes.size() != 4 * parameters.size() + kMinimumBytes) {
        ValueFileResult r = failed(ValueFileCheck::length);
        r.fileBytes = bytes.size();
        r.found = static_cast<std::uint32_t>(bytes.size());
        return r;
    }
    const auto valueAt = [&](std::size_t i) { return detail::getU32(bytes, kHeaderBytes + 4 * i); };
    if (ranges == RangeCheck::on) {
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            const ParameterDefinition& p = parameters[i];
            if (p.writable() && checkRange(p.typeCode, valueAt(i), p.minimum, p.maximum) != 0) {
                ValueFileResult r = failed(ValueFileCheck::outOfRange);
                r.parameter = i;
                r.found = valueAt(i);
                return r;
            }
        }
    }
    for (std::size_t i = 0; i < parameters.size(); ++i)
        parameters[i].fileValue.store(valueAt(i), std::memory_order_relaxed);
    return {};
}

ValueFileResult readValueFile(const std::filesystem::path& path,
                              std::span<ParameterDefinition> parameters, RangeCheck ranges) {
    platform::FileContent content = platform::readFile(path);
    if (!content.outcome.ok()) {
        ValueFileResult r = failed(ValueFileCheck::unreadable);
        r.file = std::move(content.outcome);
        return r;
    }
    return readValueImage(content.bytes, parameters, ranges);
}

std::string describeValueFileCheck(const ValueFileResult& r,
                                   std::span<const ParameterDefinition> parameters) {
    switch (r.check) {
        case ValueFileCheck::ok:
            return {};
        case ValueFileCheck::unreadable:
            return r.file.reason.empty() ? std::string("it cannot be read") : r.file.reason;
        case ValueFileCheck::tooShort:
            return "it is too short for a parameter file (" + std::to_string(r.fileBytes) +
                   " bytes)";
        case ValueFileCheck::checksum:
            return "the checksum does not match (the file is damaged)";
        case ValueFileCheck::length:
            return "its length field says " + std::to_string(r.found) + " bytes, the file has " +
                   std::to_string(r.fileBytes);
        case ValueFileCheck::count:
            return "it holds " + std::to_string(r.found) + " parameters, this table has " +
                   std::to_string(parameters.size());
        case ValueFileCheck::outOfRange: {
            if (r.parameter >= parameters.size()) return "a value is out of range";
            const ParameterDefinition& p = parameters[r.parameter];
            std::string name = platform::toUtf8(p.numberText.view());
            if (name.empty()) name = "parameter " + std::to_string(r.parameter + 1);
            std::string text = name + " = " + typedText(p.typeCode, r.found) +
                               " is outside its range " + typedText(p.typeCode, p.minimum) +
                               " to " + typedText(p.typeCode, p.maximum);
            if (const std::string unit = platform::toUtf8(p.unit.view()); !unit.empty())
                text += " " + unit;
            return text;
        }
    }
    return {};
}

int applyValueImage(std::span<const std::uint8_t> bytes,
                    std::span<ParameterDefinition> parameters) {
    return readValueImage(bytes, parameters).ok() ? 1 : 0;
}

platform::FileOutcome writeValueFile(const std::filesystem::path& path,
                                     std::span<const ParameterDefinition> parameters) {
    const std::vector<std::uint8_t> image = valueImage(parameters);
    return platform::writeFileReplacing(path, image);
}

int saveValueFile(const std::filesystem::path& path,
                  std::span<const ParameterDefinition> parameters) {
    return writeValueFile(path, parameters).ok() ? 1 : 0;
}

int loadValueFile(const std::filesystem::path& path, std::span<ParameterDefinition> parameters) {
    return readValueFile(path, parameters).ok() ? 1 : 0;
}

}  // namespace data
