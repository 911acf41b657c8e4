#include "sdb/SDBFieldTypes.h"

#include <cctype>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "common/SDBNames.h"

namespace sdb {

namespace {

constexpr const char* kAdvancedNames[] = {
    "aftUnknown",         "aftChar",           "aftString",          "aftWideChar",
    "aftWideString",      "aftShortint",       "aftSmallint",        "aftInteger",
    "aftLargeint",        "aftByte",           "aftWord",            "aftCardinal",
    "aftAutoInc",         "aftAutoIncShortint", "aftAutoIncSmallint", "aftAutoIncInteger",
    "aftAutoIncLargeint", "aftAutoIncByte",    "aftAutoIncWord",     "aftAutoIncCardinal",
    "aftSingle",          "aftDouble",         "aftExtended",        "aftBoolean",
    "aftCurrency",        "aftDate",           "aftTime",            "aftDateTime",
    "aftTimeStamp",       "aftBytes",          "aftVarBytes",        "aftBlob",
    "aftGraphic",         "aftMemo",           "aftFormattedMemo",   "aftWideMemo",
    "aftGuid"};
static_assert(sizeof kAdvancedNames / sizeof kAdvancedNames[0] == kSDBAdvancedFieldTypeCount);

// Base type per advanced type, in the advanced type's order.
constexpr TSDBBaseFieldType kBaseOfAdvanced[] = {
    bftUnknown,                                      // aftUnknown
    bftChar,         bftVarchar,      bftWideChar,   bftWideVarchar,
    bftSignedInt8,   bftSignedInt16,  bftSignedInt32, bftSignedInt64,
    bftUnsignedInt8, bftUnsignedInt16, bftUnsignedInt32,
    bftSignedInt32,                                  // aftAutoInc
    bftSignedInt8,   bftSignedInt16,  bftSignedInt32, bftSignedInt64,
    bftUnsignedInt8, bftUnsignedInt16, bftUnsignedInt32,
    bftSingle,       bftDouble,       bftExtended,   bftLogical,
    bftCurrency,     bftDate,         bftTime,       bftDateTime,
    bftDateTime,                                     // aftTimeStamp
    bftBytes,        bftVarBytes,
    bftBlob,         bftBlob,                        // aftBlob, aftGraphic
    bftClob,         bftClob,         bftWideClob,
    bftChar};                                        // aftGuid
static_assert(sizeof kBaseOfAdvanced / sizeof kBaseOfAdvanced[0] == kSDBAdvancedFieldTypeCount);

}  // namespace

const char* SDBAdvancedFieldTypeName(TSDBAdvancedFieldType Type) {
  return Type < kSDBAdvancedFieldTypeCount ? kAdvancedNames[Type] : "";
}

const std::vector<TSDBSQLTypeName>& SDBSQLTypeNames() {
  static const std::vector<TSDBSQLTypeName> names = {
      {"CHAR", aftChar, bftChar},
      {"FIXEDCHAR", aftChar, bftChar},
      {"STRING", aftString, bftVarchar},
      {"VARCHAR", aftString, bftVarchar},
      {"VARCHAR2", aftString, bftVarchar},
      {"WIDECHAR", aftWideChar, bftWideChar},
      {"FIXEDWIDECHAR", aftWideChar, bftWideChar},
      {"WIDESTRING", aftWideString, bftWideVarchar},
      {"WIDEVARCHAR", aftWideString, bftWideVarchar},
      {"SHORTINT", aftShortint, bftSignedInt8},
      {"SIGNEDINT8", aftShortint, bftSignedInt8},
      {"SMALLINT", aftSmallint, bftSignedInt16},
      {"SIGNEDINT16", aftSmallint, bftSignedInt16},
      {"INTEGER", aftInteger, bftSignedInt32},
      {"SIGNEDINT32", aftInteger, bftSignedInt32},
      {"LARGEINT", aftLargeint, bftSignedInt64},
      {"INT64", aftLargeint, bftSignedInt64},
      {"SIGNEDINT64", aftLargeint, bftSignedInt64},
      {"BYTE", aftByte, bftUnsignedInt8},
      {"UNSIGNEDINT8", aftByte, bftUnsignedInt8},
      {"WORD", aftWord, bftUnsignedInt16},
      {"UNSIGNEDINT16", aftWord, bftUnsignedInt16},
      {"CARDINAL", aftCardinal, bftUnsignedInt32},
      {"UNSIGNEDINT32", aftCardinal, bftUnsignedInt32},
      {"AUTOINC", aftAutoInc, bftSignedInt32},
      {"AUTOINCSHORTINT", aftAutoIncShortint, bftSignedInt8},
      {"AUTOINCSMALLINT", aftAutoIncSmallint, bftSignedInt16},
      {"AUTOINCINTEGER", aftAutoIncInteger, bftSignedInt32},
      {"AUTOINCLARGEINT", aftAutoIncLargeint, bftSignedInt64},
      {"AUTOINCBYTE", aftAutoIncByte, bftUnsignedInt8},
      {"AUTOINCWORD", aftAutoIncWord, bftUnsignedInt16},
      {"AUTOINCCARDINAL", aftAutoIncCardinal, bftUnsignedInt32},
      {"SINGLE", aftSingle, bftSingle},
      {"FLOAT", aftDouble, bftDouble},
      {"DOUBLE", aftDouble, bftDouble},
      {"EXTENDED", aftExtended, bftExtended},
      {"LOGICAL", aftBoolean, bftLogical},
      {"BOOLEAN", aftBoolean, bftLogical},
      {"BOOL", aftBoolean, bftLogical},
      {"BIT", aftBoolean, bftLogical},
      {"CURRENCY", aftCurrency, bftCurrency},
      {"MONEY", aftCurrency, bftCurrency},
      {"DATE", aftDate, bftDate},
      {"TIME", aftTime, bftTime},
      {"DATETIME", aftDateTime, bftDateTime},
      {"TIMESTAMP", aftTimeStamp, bftDateTime},
      {"BYTES", aftBytes, bftBytes},
      {"VARBYTES", aftVarBytes, bftVarBytes},
      {"BLOB", aftBlob, bftBlob},
      {"GRAPHIC", aftGraphic, bftBlob},
      {"MEMO", aftMemo, bftClob},
      {"CLOB", aftMemo, bftClob},
      {"FORMATTEDMEMO", aftFormattedMemo, bftClob},
      {"WIDEMEMO", aftWideMemo, bftWideClob},
      {"WIDECLOB", aftWideMemo, bftWideClob},
      {"GUID", aftGuid, bftChar},
  };
  return names;
}

std::optional<TSDBSQLTypeName> SDBFindSQLTypeName(std::string_view Name) {
  std::string upper(Name);
  for (char& c : upper) c = SDBUpperNameChar(c);
  for (const auto& entry : SDBSQLTypeNames())
    if (upper == entry.Name) return entry;
  return std::nullopt;
}

TSDBBaseFieldType SDBAdvancedToBaseFieldType(TSDBAdvancedFieldType Type) {
  if (Type >= kSDBAdvancedFieldTypeCount || kBaseOfAdvanced[Type] == bftUnknown)
    throw ESDBException(kSDBErrUnsupportedDataType, "Unsupported data type '%s'",
                        {std::string(Type < kSDBAdvancedFieldTypeCount ? kAdvancedNames[Type]
                                                                       : std::to_string(Type))});
  return kBaseOfAdvanced[Type];
}

bool SDBIsBlobFieldType(TSDBBaseFieldType Type) {
  return Type == bftBlob || Type == bftClob || Type == bftWideClob;
}

bool SDBIsStringFieldType(TSDBBaseFieldType Type) {
  return Type >= bftChar && Type <= bftWideVarchar;
}

bool SDBIsAutoIncFieldType(TSDBAdvancedFieldType Type) {
  return Type >= aftAutoInc && Type <= aftAutoIncCardinal;
}

}  // namespace sdb
