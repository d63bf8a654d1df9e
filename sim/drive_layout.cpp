#include "drive_layout.h"

#include "data/language.h"
#include "platform/text.h"
#include "servo_model.h"

namespace sim {

namespace {

ValueType fromTypeCode(data::TypeCode code) {
    switch (code) {
        case data::TypeCode::Int16U:
            return ValueType::Int16U;
        case data::TypeCode::Int32S:
            return ValueType::Int32S;
        case data::TypeCode::Int32U:
            return ValueType::Int32U;
        case data::TypeCode::Int16S:
            break;
    }
    return ValueType::Int16S;
}

std::string utf8(const data::TextRef& text) {
    return platform::toUtf8(text.view());
}

}  // namespace

std::uint32_t ParameterSpec::normalise(std::uint32_t value) const {
    return isWide(type) ? value : (value & 0xFFFFu);
}

bool ParameterSpec::inRange(std::uint32_t value) const {
    switch (type) {
        case ValueType::Int16S: {
            auto v = static_cast<std::int16_t>(value & 0xFFFFu);
            auto lo = static_cast<std::int16_t>(minimum & 0xFFFFu);
            auto hi = static_cast<std::int16_t>(maximum & 0xFFFFu);
            return lo <= v && v <= hi;
        }
        case ValueType::Int16U: {
            std::uint32_t v = value & 0xFFFFu;
            return (minimum & 0xFFFFu) <= v && v <= (maximum & 0xFFFFu);
        }
        case ValueType::Int32S: {
            auto v = static_cast<std::int32_t>(value);
            return static_cast<std::int32_t>(minimum) <= v &&
                   v <= static_cast<std::int32_t>(maximum);
        }
        case ValueType::Int32U:
            return minimum <= value && value <= maximum;
    }
    return false;
}

DriveLayout layoutFromLanguage(const data::LanguageData& language) {
    DriveLayout layout;
    for (const auto& p : language.parameters()) {
        ParameterSpec entry;
        entry.number = utf8(p.numberText);
        entry.address = p.address;
        entry.type = fromTypeCode(p.typeCode);
        entry.writable = p.writable();
        entry.minimum = entry.normalise(p.minimum);
        entry.maximum = entry.normalise(p.maximum);
        entry.factory = entry.normalise(p.factoryValue);
        layout.parameters.push_back(std::move(entry));
    }
    for (const auto& s : language.statusItems()) {
        QuantitySpec entry;
        entry.name = utf8(s.name);
        entry.address = s.address;
        entry.type = fromTypeCode(s.typeCode);
        entry.scale =
            s.hasDivisor != 0 && s.divisor != 0.0f ? s.divisor : scaleFromName(entry.name);
        layout.status.push_back(std::move(entry));
    }
    for (const auto& q : language.scopeQuantities()) {
        if (q.size == 0) continue;
        QuantitySpec entry;
        entry.name = utf8(q.name);
        entry.address = q.address;
        // The scope page decodes every quantity as signed.
        entry.type = q.size == 4 ? ValueType::Int32S : ValueType::Int16S;
        entry.scale = scaleFromName(entry.name);
        layout.scope.push_back(std::move(entry));
    }
    return layout;
}

std::optional<DriveLayout> loadDriveLayout(const std::filesystem::path& path, std::string& error) {
    data::LanguageData language;
    if (data::loadLanguageFile(path, language) != 1) {
        error = "cannot read the language file " + path.string() + " (missing or empty)";
        return std::nullopt;
    }
    DriveLayout layout = layoutFromLanguage(language);
    if (layout.parameters.empty()) {
        error = "the language file " + path.string() + " defines no parameters";
        return std::nullopt;
    }
    return layout;
}

}  // namespace sim
