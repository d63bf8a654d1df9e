// Fuzzes the language file reader with its layout checks and the
// value conversions on what it produced.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data/language.h"
#include "data/layout_check.h"
#include "data/value_file.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

// Every text must lie inside the file text.
void checkInside(const data::LanguageData& d, const data::TextRef& t) {
    if (!t.present() || t.view().empty()) return;
    const std::u16string_view all = d.text();
    require(t.view().data() >= all.data() &&
            t.view().data() + t.view().size() <= all.data() + all.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    data::LanguageDiagnostics diag;
    data::LanguageData d = data::parseLanguageBytes(std::span(bytes, size), &diag);
    require(d.text().size() == size / 2);
    // The diagnosis calls a file usable exactly when it has a parameter table
    // and no section cut off, and an empty one empty.
    const data::LanguageLoad judged = data::diagnoseLanguage(std::span(bytes, size), d, diag);
    bool whole = true;
    for (const auto& section : diag.sections) whole = whole && (!section.known || section.hasEnd);
    require(judged.usable() == (d.parameters().size() > 0 && whole));
    require((size == 0) == (judged.problem == data::LanguageProblem::Empty));

    for (std::size_t i = 0; i < data::UiTextTable::kSize; ++i) {
        checkInside(d, d.uiTexts()[i]);
        // A present UI text from section 0 is never empty.
        require(!d.uiTexts()[i].present() || !d.uiTexts()[i].view().empty());
    }
    std::array<std::uint8_t, 4> out{};
    for (auto& p : d.parameters()) {
        for (const auto* t :
             {&p.numberText, &p.name, &p.applicableMode, &p.unit, &p.effectMode, &p.description})
            checkInside(d, *t);
        (void)data::valueToText(p.typeCode, p.factoryValue);
        const std::size_t n =
            data::textToValue(p.typeCode, p.minimum, p.maximum, p.name.view(), out);
        require(n == 0 || n == data::typeSize(p.typeCode));
        if (n != 0) {
            std::uint32_t v = 0;
            require(data::bytesToValue(p.typeCode, v, out) == n);
            // The clamped value is in range whenever the range is not empty.
            if (data::checkRange(p.typeCode, p.minimum, p.minimum, p.maximum) == 0)
                require(data::checkRange(p.typeCode, v, p.minimum, p.maximum) == 0);
        }
        p.driveValue.store(p.factoryValue);
    }
    for (const auto& s : d.statusItems()) {
        checkInside(d, s.name);
        checkInside(d, s.unit);
        require(s.hasDivisor == 0 || s.hasDivisor == 1);
    }
    for (std::size_t i = 0; i < d.scopeQuantities().size(); ++i) {
        const auto& q = d.scopeQuantities()[i];
        checkInside(d, q.name);
        require(q.rowIndex == static_cast<std::int32_t>(i));
        require(q.size == 0 || q.size == 2 || q.size == 4);
    }
    for (const auto& a : d.alarms()) {
        checkInside(d, a.content);
        checkInside(d, a.cause);
    }
    // The parameter table round-trips through a value file image.
    const auto image = data::valueImage(d.parameters());
    require(data::applyValueImage(image, d.parameters()) == 1);
    for (const auto& p : d.parameters()) require(p.fileValue.load() == p.driveValue.load());

    (void)data::checkLayout(d, &diag);
    return 0;
}
