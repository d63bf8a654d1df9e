#pragma once
// Layout diagnostics of the loaded tables for the command-line checker
// (`servoctl defs`): the assumptions that the pages make of the language file
// and the parser's observations.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "data/language.h"
#include "data/model_sets.h"

namespace data {

enum class LayoutIssue {
    ParameterOrder,     // parameters not in ascending gap-free register order
    ParameterSpan,      // register span above 251, or last block beyond 65535
    ParameterBytes,     // more than 512 bytes of parameter values
    TooManyParameters,  // more than 100 parameters (model sets hold 100)
    NoAlarmValue,       // fewer than nine status items
    StatusLast32Bit,    // last status item is 32-bit (high word outside the block)
    StatusOrder,        // a status item outside [first address, last address]
    StatusDivisorZero,  // a status divisor of 0
    ScopeRegisters,     // scope rows whose registers are not consecutive
    ScopeRows,          // more than 256 scope rows
    UndefinedMacro,     // macro reference without a macro (or before section 1)
    SectionWithoutEnd,  // section without "#END" (or without any '#'): skipped
    UnknownSection,     // section number other than 0 to 5: skipped
    DuplicateSection,   // a section number read twice
    ExtraMarkers,       // markers counted inside field texts: records left at initial values
    SectionEndedEarly,  // a field's '[' or ']' missing: the section's rest is lost
    TableCapped,        // more records than LanguageData::kMaxRecords
    UiTextOverflow,     // section 0 entries beyond 149
    ModelSetsIgnored,   // Servo.csv: more than 70 sets, or values beyond 100
};

struct LayoutWarning {
    LayoutIssue kind;
    std::string message;  // UTF-8, for people
};

// Stable machine-readable name of a kind, e.g. "parameter-order".
std::string_view layoutIssueName(LayoutIssue kind);

// Warnings about the tables; the parser's observations are added when
// `diagnostics` is given (the ones that need it: undefined macros, sections
// without "#END", extra markers, ...). `models` adds the model file notes.
std::vector<LayoutWarning> checkLayout(const LanguageData& language,
                                       const LanguageDiagnostics* diagnostics = nullptr,
                                       const ModelDiagnostics* models = nullptr);

}  // namespace data
