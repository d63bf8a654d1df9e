#pragma once
// Parameter definitions and the value conversions.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "data/text_ref.h"

namespace data {

// The type code of a parameter, status item or scope quantity: an 8-bit
// character. Any other value can occur only by a cast; the conversions treat
// it as "any other type code".
enum class TypeCode : char {
    Int16S = '#',  // "INT16S"
    Int16U = '$',  // "INT16U"
    Int32S = 'E',  // "INT32S"
    Int32U = 'F',  // "INT32U"
};

// 2 for the 16-bit types, 4 for the 32-bit types, 0 for any other code.
std::size_t typeSize(TypeCode type);
// "INT16S", "INT16U", "INT32S", "INT32U"; "" for any other code.
std::string_view typeName(TypeCode type);
// The type word of a language file field, case ignored; anything else gives
// Int16S.
TypeCode typeFromWord(std::u16string_view word);

// Access flags.
inline constexpr std::uint8_t kAccessReadOnly = 0x80;
inline constexpr std::uint8_t kAccessWritable = 0x40;

// One drive parameter, fields in the order of the language file's record. Texts refer into
// the language file text owned by the LanguageData holding the table.
//
// driveValue and fileValue are written by one thread and read by another
// (the poll thread writes driveValue, the UI thread fileValue): use relaxed
// loads and stores. The other fields never change after loading.
//
// Value fields hold the value in the width of the type: for the 16-bit types
// only the low 16 bits count.
struct ParameterDefinition {
    std::uint8_t access = kAccessReadOnly;
    TypeCode typeCode = TypeCode::Int16S;
    std::uint16_t address = 0;
    TextRef numberText;
    TextRef name;
    TextRef applicableMode;
    std::atomic<std::uint32_t> driveValue{0};
    std::atomic<std::uint32_t> fileValue{0};
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
    std::uint32_t factoryValue = 0;
    TextRef unit;
    TextRef effectMode;
    TextRef description;

    bool writable() const { return (access & kAccessWritable) != 0; }
    // Registers taken by the value: 1 for the 16-bit types, 2 for the 32-bit.
    unsigned registerCount() const { return typeSize(typeCode) == 4 ? 2u : 1u; }
};

// Section 2 of the language file, in file order (= register order). Its size
// is the number of entry markers of the section; 0 = no table.
using ParameterTable = FixedTable<ParameterDefinition>;

// ---- Conversions -----------------------------------------------------------
// Register bytes are the in-memory register image of the access layer: 16-bit
// little-endian registers in address order, a 32-bit value low register first,
// i.e. the value's 2 or 4 bytes little-endian.

// Decimal text of a value field: INT16S as signed 16-bit, INT16U as unsigned
// 16-bit, INT32S and INT32U both as signed 32-bit ("%d"); other codes: "".
std::u16string valueToText(TypeCode type, std::uint32_t value);

// Copies 2 bytes into the low half of the field (the high half is kept) for the
// 16-bit types and 4 bytes for the 32-bit types; returns 2 or 4. Another type
// code, or a source shorter than needed, copies nothing and returns 0.
std::size_t bytesToValue(TypeCode type, std::uint32_t& field, std::span<const std::uint8_t> source);
// The same on an atomic field (relaxed; one writer thread per field).
std::size_t bytesToValue(TypeCode type, std::atomic<std::uint32_t>& field,
                         std::span<const std::uint8_t> source);

// The reverse copy: writes 2 or 4 bytes of the value to the destination and
// returns that count; another type code, or a destination shorter than
// needed, writes nothing and returns 0.
std::size_t valueBytes(TypeCode type, std::uint32_t value, std::span<std::uint8_t> destination);

// The value the user entered: unsigned types refuse a text starting
// with '-' (result 0); otherwise the text is made narrow (system code page) in
// a 20-byte buffer (at most 19 bytes), read as a decimal integer modulo 2^32,
// cut to the type's width and clamped to [minimum, maximum] by the clamp rule
// (a minimum above the maximum yields the maximum). Writes 2 or 4 bytes and
// returns that count; another type code (or a too short destination) gives 0.
std::size_t textToValue(TypeCode type, std::uint32_t minimum, std::uint32_t maximum,
                        std::u16string_view text, std::span<std::uint8_t> destination);

// 0 when minimum <= value <= maximum in the type's width and signedness,
// otherwise -1 (INT16S), -2 (INT16U), -3 (INT32S), -4 (INT32U). Other codes: 0.
int checkRange(TypeCode type, std::uint32_t value, std::uint32_t minimum, std::uint32_t maximum);

// ---- Number readers shared by the file readers (and by pages, e.g. UI 104) --

// Leading white space, one optional sign, then digits up to the first other
// character; no digits gives 0; the digits accumulate modulo 2^32 (so the
// result of "-1" and of "4294967295" is 0xFFFFFFFF). Never reads past the view.
std::uint32_t readDecimal(std::u16string_view text);
std::uint32_t readDecimal(std::string_view text);
// A decimal number with optional fraction and exponent (like wcstod): leading
// white space, optional sign; no number gives 0.
double readReal(std::u16string_view text);
// readReal truncated toward zero, saturated to the int32 range (NaN gives 0).
std::int32_t readTruncatedInt(std::u16string_view text);

}  // namespace data
