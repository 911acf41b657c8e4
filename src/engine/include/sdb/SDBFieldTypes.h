// Field type enumerations of the engine and the SQL type-name table.
// The base type is what a record stores, the advanced type what the user
// declared. Both are stored as one byte in table metadata, so the order of
// the values below is part of the file format and must never change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sdb {

enum TSDBBaseFieldType : uint8_t {
  bftUnknown,
  bftChar,
  bftWideChar,
  bftVarchar,
  bftWideVarchar,
  bftSignedInt8,
  bftSignedInt16,
  bftSignedInt32,
  bftSignedInt64,
  bftUnsignedInt8,
  bftUnsignedInt16,
  bftUnsignedInt32,
  bftSingle,
  bftDouble,
  bftExtended,
  bftDate,
  bftTime,
  bftDateTime,
  bftBlob,
  bftClob,
  bftWideClob,
  bftLogical,
  bftCurrency,
  bftBytes,
  bftVarBytes,
  bftBFile,
};
constexpr int kSDBBaseFieldTypeCount = bftBFile + 1;

enum TSDBAdvancedFieldType : uint8_t {
  aftUnknown,
  aftChar,
  aftString,
  aftWideChar,
  aftWideString,
  aftShortint,
  aftSmallint,
  aftInteger,
  aftLargeint,
  aftByte,
  aftWord,
  aftCardinal,
  aftAutoInc,
  aftAutoIncShortint,
  aftAutoIncSmallint,
  aftAutoIncInteger,
  aftAutoIncLargeint,
  aftAutoIncByte,
  aftAutoIncWord,
  aftAutoIncCardinal,
  aftSingle,
  aftDouble,
  aftExtended,
  aftBoolean,
  aftCurrency,
  aftDate,
  aftTime,
  aftDateTime,
  aftTimeStamp,
  aftBytes,
  aftVarBytes,
  aftBlob,
  aftGraphic,
  aftMemo,
  aftFormattedMemo,
  aftWideMemo,
  aftGuid,
};
inline constexpr int kSDBAdvancedFieldTypeCount = aftGuid + 1;

// The enumeration value's own name ("aftString"); "" when out of range.
// (The base type's name is SDBBaseFieldTypeName in SDBVariant.h.)
const char* SDBAdvancedFieldTypeName(TSDBAdvancedFieldType Type);

// One row of the SQL type-name table: a name a statement may use for a
// column type, the advanced type it declares and the base type it stores.
struct TSDBSQLTypeName {
  const char* Name;
  TSDBAdvancedFieldType AdvancedType;
  TSDBBaseFieldType BaseType;
};

// Every SQL type name the dialect accepts, upper case.
const std::vector<TSDBSQLTypeName>& SDBSQLTypeNames();
// Looks a type name up, case-insensitively.
std::optional<TSDBSQLTypeName> SDBFindSQLTypeName(std::string_view Name);

// The base type that stores an advanced type. Raises "Unsupported data type
// '%s'" (code 30007) for aftUnknown or an out-of-range value.
TSDBBaseFieldType SDBAdvancedToBaseFieldType(TSDBAdvancedFieldType Type);

bool SDBIsBlobFieldType(TSDBBaseFieldType Type);
// bftChar .. bftWideVarchar
bool SDBIsStringFieldType(TSDBBaseFieldType Type);
bool SDBIsAutoIncFieldType(TSDBAdvancedFieldType Type);

}  // namespace sdb
