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
        ParameterSpec spec;
        spec.number = utf8(p.numberText);
        spec.address = p.address;
        spec.type = fromTypeCode(p.typeCode);
        spec.writable = p.writable();
        spec.minimum = spec.normalise(p.minimum);
        spec.maximum = spec.normalise(p.maximum);
        spec.factory = spec.normalise(p.factoryValue);
        layout.parameters.push_back(std::move(spec));
    }
    for (const auto& s : language.statusItems()) {
        QuantitySpec spec;
        spec.name = utf8(s.name);
        spec.address = s.address;
        spec.type = fromTypeCode(s.typeCode);
        spec.scale = s.hasDivisor != 0 && s.divisor != 0.0f ? s.divisor : scaleFromName(spec.name);
        layout.status.push_back(std::move(spec));
    }
    for (const auto& q : language.scopeQuantities()) {
        if (q.size == 0) continue;
        QuantitySpec spec;
        spec.name = utf8(q.name);
        spec.address = q.address;
        // The scope page decodes every quantity as signed.
        spec.type = q.size == 4 ? ValueType::Int32S : ValueType::Int16S;
        spec.scale = scaleFromName(spec.name);
        layout.scope.push_back(std::move(spec));
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
