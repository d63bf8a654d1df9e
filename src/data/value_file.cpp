#include "data/value_file.h"

#include "data/binary_image.h"
#include "platform/file_io.h"

namespace data {

namespace {
constexpr std::size_t kHeaderBytes = 8;    // length, count
constexpr std::size_t kMinimumBytes = 10;  // a file of an empty table
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

int applyValueImage(std::span<const std::uint8_t> bytes,
                    std::span<ParameterDefinition> parameters) {
    if (bytes.size() < kMinimumBytes) return 0;
    // Checksum, length field, count: a damaged file fails on its checksum first.
    if (!detail::crcMatches(bytes)) return 0;
    if (detail::getU32(bytes, 0) != bytes.size()) return 0;
    if (detail::getU32(bytes, 4) != parameters.size()) return 0;
    // Holds whenever the three checks pass; kept so no read can leave the bytes.
    if (bytes.size() != 4 * parameters.size() + kMinimumBytes) return 0;
    for (std::size_t i = 0; i < parameters.size(); ++i)
        parameters[i].fileValue.store(detail::getU32(bytes, kHeaderBytes + 4 * i),
                                      std::memory_order_relaxed);
    return 1;
}

int saveValueFile(const std::filesystem::path& path,
                  std::span<const ParameterDefinition> parameters) {
    const std::vector<std::uint8_t> image = valueImage(parameters);
    return platform::replaceFile(path, image) ? 1 : 0;
}

int loadValueFile(const std::filesystem::path& path, std::span<ParameterDefinition> parameters) {
    const auto bytes = platform::readWholeFile(path);
    if (!bytes) return 0;
    return applyValueImage(*bytes, parameters);
}

}  // namespace data
