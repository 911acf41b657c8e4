// Ordering of stored key values.
//
// A key part holds one field value as it sits in a memory record buffer (the
// field's "memory image"), preceded in keys by one null-flag byte (1 = NULL,
// 0 = a value; a NULL part's value bytes stay zero). This file compares two
// such values of one base type; the same routine orders index entries,
// checks constraints and serves the query layer, so every place that orders
// values agrees.
//
// Memory images by base type (little-endian):
//   bftChar, bftVarchar, bftBytes      8-bit characters, zero-terminated
//   bftWideChar, bftWideVarchar        UTF-16 code units, zero-terminated
//   bftSignedInt8/16/32/64             two's complement of that width
//   bftUnsignedInt8/16/32              unsigned of that width
//   bftSingle / bftDouble              IEEE single / double
//   bftExtended                        80-bit extended precision
//   bftCurrency                        IEEE double
//   bftDate                            Integer day number
//   bftTime                            Integer milliseconds since midnight
//   bftDateTime                        Date Integer, then Time Integer
//   bftLogical                         2 bytes, zero = false
// Strings are read only up to the end of the given area even when their
// terminator is missing, so damaged keys cannot make a comparison read past
// its buffer.
#pragma once

#include <cstdint>

#include "sdb/SDBCollation.h"
#include "sdb/SDBFieldTypes.h"

namespace sdb {

// -1, 0 or 1 for two values of `Type`, each `Size` bytes. `CompareLength`
// limits string comparisons to that many characters (-1: whole strings).
// Raises "Unknown DataType: '%s'" (30047) for types without an order
// (bftVarBytes, BLOB types, unknown).
int SDBCompareKeyValues(TSDBBaseFieldType Type, const uint8_t* Value1, const uint8_t* Value2, int Size,
                        bool CaseInsensitive, int CompareLength, const TSDBCollation& Collation);

// Compares two values with their null flags: NULL equals NULL and sorts
// before every value; `Descending` negates the result.
int SDBCompareKeyPartValues(TSDBBaseFieldType Type, bool IsNull1, const uint8_t* Value1, bool IsNull2,
                            const uint8_t* Value2, int Size, bool Descending, bool CaseInsensitive,
                            int CompareLength, const TSDBCollation& Collation);

// Whether values of the type have an order (string, number, date/time,
// logical types).
bool SDBIsOrderedKeyType(TSDBBaseFieldType Type);

}  // namespace sdb
