// Scalar helpers behind the SQL functions: text case mapping and
// trimming, LIKE matching, rounding, date-time formatting and parsing,
// MIME (base64) decoding. They work on plain values; null handling and
// typing are the evaluator's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sql/SDBLexer.h"

namespace sdb {

enum TSDBCaseMapping : uint8_t { cmUpper, cmLower, cmFold };
// Full Unicode case mapping (root locale).
std::u16string SDBMapCase(std::u16string_view s, TSDBCaseMapping mapping);

// Removes the characters of `chars` (a set) from the start and/or the end.
std::u16string SDBTrimChars(std::u16string_view s, std::u16string_view chars, bool leading, bool trailing);

// SQL LIKE: '%' any run, '_' one character; `escape` (when set) makes the
// next '%', '_' or escape character literal. Returns nullopt when the
// pattern misuses the escape character (followed by anything else, or last).
std::optional<bool> SDBLikeMatch(std::u16string_view text, std::u16string_view pattern,
                                 std::optional<char16_t> escape);

// Rounds `v` to `digits` decimals (negative: tens, hundreds ...) in the
// mode named by a rounding reserved word (rwHALFEVEN ... rwRNDUP; rwNone
// rounds half away from zero).
double SDBRoundTo(double v, int digits, TReservedWord mode);
// The same on an integer with digits < 0; false on overflow.
bool SDBRoundInt(int64_t v, int digits, TReservedWord mode, int64_t& out);

// Date-time patterns of TODATE and TOSTRING: YYYY, YY, MM, DD, HH (or
// HH24), MI (or NN), SS and ZZZ (milliseconds), letters in any case; every
// other character stands for itself.
std::string SDBFormatDateTime(double dt, std::string_view pattern);
// Reads `text` by the pattern; false when it does not fit or the date is
// invalid. Missing parts default to 1899-12-30 00:00:00.
bool SDBParseDateTime(std::string_view text, std::string_view pattern, double& out);

// A number by a FormatFloat-like pattern: digits '0' (always shown) and
// '#' (shown when significant), one '.' for the decimals, ',' to group
// thousands; text around the digits is kept. False when the pattern has
// no digit placeholder.
bool SDBFormatNumber(double v, std::string_view pattern, std::string& out);

// Base64 (MIME) decoding; white space is skipped. False on bad input.
bool SDBDecodeMime(std::string_view text, std::string& out);

}  // namespace sdb
