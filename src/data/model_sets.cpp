#include "data/model_sets.h"

#include <string_view>

#include "data/parameters.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace data {

ModelValueSets::ModelValueSets()
    : values_(std::make_unique<std::array<std::array<std::int32_t, kMaxValues>, kMaxSets>>()) {}

std::string_view ModelValueSets::name(std::size_t set) const {
    return set < names_.size() ? std::string_view(names_[set]) : std::string_view();
}

std::u16string ModelValueSets::wideName(std::size_t set) const {
    return platform::narrowToWide(name(set));
}

std::int32_t ModelValueSets::value(std::size_t set, std::size_t parameter) const {
    if (set >= names_.size() || parameter >= kMaxValues || !values_) return 0;
    return (*values_)[set][parameter];
}

std::span<const std::int32_t> ModelValueSets::values(std::size_t set) const {
    if (set >= names_.size() || !values_) return {};
    return (*values_)[set];
}

// Every search is bounded by the end
// of the bytes (the text is not terminated).
class ModelTableParser {
  public:
    static ModelValueSets parse(std::string_view text, std::size_t parameterCount,
                                ModelDiagnostics* diag) {
        constexpr std::size_t npos = std::string_view::npos;
        ModelValueSets sets;  // all values 0, no sets
        if (diag) *diag = {};
        std::size_t pos = 0;
        while (true) {
            const std::size_t hashes = text.find("##", pos);  // a set starts "##name,"
            if (hashes == npos) break;
            const std::size_t comma = text.find(',', hashes + 2);
            if (comma == npos) break;
            const std::string_view name = text.substr(hashes + 2, comma - hashes - 2);
            pos = comma + 1;
            if (name.empty()) continue;  // a set without a name is not one
            const std::size_t set = sets.names_.size();
            const bool kept = set < ModelValueSets::kMaxSets;
            if (!kept && diag) ++diag->setsIgnored;
            // Excess sets and parameters are read past but not stored.
            bool complete = true;
            for (std::size_t i = 0; i < parameterCount; ++i) {
                const std::size_t p = text.find('P', pos);
                const std::size_t c = p == npos ? npos : text.find(',', p + 1);
                const std::size_t lf = c == npos ? npos : text.find('\n', c + 1);
                if (lf == npos) {
                    complete = false;
                    break;
                }
                const auto v = static_cast<std::int32_t>(readDecimal(text.substr(c + 1)));
                if (kept && i < ModelValueSets::kMaxValues)
                    (*sets.values_)[set][i] = v;
                else if (kept && diag)
                    ++diag->valuesIgnored;
                pos = lf + 1;
            }
            if (kept) sets.names_.emplace_back(name);
            if (!complete) {
                if (diag) diag->stoppedEarly = true;
                break;
            }
        }
        return sets;
    }
};

ModelValueSets parseModelTable(std::span<const std::uint8_t> bytes, std::size_t parameterCount,
                               ModelDiagnostics* diagnostics) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return ModelTableParser::parse(text, parameterCount, diagnostics);
}

int loadModelTable(const std::filesystem::path& path, std::size_t parameterCount,
                   ModelValueSets& into, ModelDiagnostics* diagnostics,
                   platform::FileOutcome* file) {
    const platform::FileContent content = platform::readFile(path);
    if (file) *file = content.outcome;
    if (!content.outcome.ok() || content.bytes.empty()) return 0;
    into = parseModelTable(content.bytes, parameterCount, diagnostics);
    return 1;
}

}  // namespace data
