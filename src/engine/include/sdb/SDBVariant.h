// TSDBVariant: the engine's typed value (a base type, a null flag and the
// data), used for parameters, default values, constraint bounds and
// expression results.
//
// Representation by base type:
//   texts (Char, Varchar, Clob)                8-bit (Windows-1252) string
//   wide texts (WideChar, WideVarchar, WideClob) UTF-16 string
//   signed and unsigned integers               int64_t
//   Single, Double, Extended, Currency         double
//   Date, Time, DateTime                       double in TDateTime form: days
//                                              since 30 December 1899, the
//                                              fraction is the time of day
//   Logical                                    bool
//   Bytes, VarBytes, Blob, BFile               byte string
// A value is null when its null flag is set or when it is a text (or byte
// string) of length 0: an empty text is a null value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sdb/SDBCollation.h"
#include "sdb/SDBFieldTypes.h"

namespace sdb {

// "bftVarchar" etc.; "bftUnknown(%d)" style text for values out of range.
std::string SDBBaseFieldTypeName(TSDBBaseFieldType type);

// Classes of base types that share a representation.
bool SDBIsAnsiTextType(TSDBBaseFieldType t);     // Char, Varchar, Clob
bool SDBIsWideTextType(TSDBBaseFieldType t);     // WideChar, WideVarchar, WideClob
bool SDBIsTextType(TSDBBaseFieldType t);         // either of the above
bool SDBIsSignedIntType(TSDBBaseFieldType t);
bool SDBIsUnsignedIntType(TSDBBaseFieldType t);
bool SDBIsIntegerType(TSDBBaseFieldType t);
bool SDBIsFloatType(TSDBBaseFieldType t);        // Single, Double, Extended, Currency
bool SDBIsNumericType(TSDBBaseFieldType t);      // integers and floats
bool SDBIsDateTimeType(TSDBBaseFieldType t);     // Date, Time, DateTime
bool SDBIsBytesType(TSDBBaseFieldType t);        // Bytes, VarBytes, Blob, BFile

// Delphi TDateTime helpers (days since 1899-12-30, fraction = time of day).
double SDBEncodeDate(int year, int month, int day);  // raises 30048 on an invalid date
double SDBEncodeTime(int hour, int minute, int second, int msec);
void SDBDecodeDateTime(double dt, int& year, int& month, int& day, int& hour, int& minute, int& second,
                       int& msec);
// The on-disk forms of Part-of-record types: day number counted from
// 1 January 0001 (that day = 1) and milliseconds since midnight.
int32_t SDBDateTimeToDayNumber(double dt);
int32_t SDBDateTimeToMSecs(double dt);
double SDBDayNumberMSecsToDateTime(int32_t dayNumber, int32_t msecs);

class TSDBVariant {
 public:
  // An untyped null value.
  TSDBVariant() = default;
  // A null value of the given type.
  explicit TSDBVariant(TSDBBaseFieldType type) : FType(type) {}

  static TSDBVariant FromInt(int64_t v, TSDBBaseFieldType type = bftSignedInt64);
  static TSDBVariant FromDouble(double v, TSDBBaseFieldType type = bftDouble);
  static TSDBVariant FromString(std::string_view v, TSDBBaseFieldType type = bftVarchar);
  static TSDBVariant FromWideString(std::u16string_view v, TSDBBaseFieldType type = bftWideVarchar);
  static TSDBVariant FromBool(bool v);
  static TSDBVariant FromDateTime(double v, TSDBBaseFieldType type = bftDateTime);
  static TSDBVariant FromCurrency(double v) { return FromDouble(v, bftCurrency); }
  static TSDBVariant FromBytes(std::string_view v, TSDBBaseFieldType type = bftBytes);

  TSDBBaseFieldType DataType() const noexcept { return FType; }
  // Null flag set, or no data (a text or byte string of length 0).
  bool IsNull() const noexcept;
  // Keeps the type, drops the data.
  void SetNull() noexcept;
  // Back to an untyped null.
  void Clear() noexcept;

  // Setters keep the current type when it is of the matching class and
  // otherwise switch to the given default type.
  void SetAsInt64(int64_t v, TSDBBaseFieldType type = bftSignedInt64);
  void SetAsDouble(double v, TSDBBaseFieldType type = bftDouble);
  void SetAsString(std::string_view v, TSDBBaseFieldType type = bftVarchar);
  void SetAsWideString(std::u16string_view v, TSDBBaseFieldType type = bftWideVarchar);
  void SetAsBoolean(bool v);
  void SetAsDateTime(double v, TSDBBaseFieldType type = bftDateTime);
  void SetAsBytes(std::string_view v, TSDBBaseFieldType type = bftBytes);

  // Readers convert from the stored type; a null value raises "Value is
  // Null" (30140); a value that has no form in the asked type raises 30048
  // "Cannot convert value '%s' of type %s to %s"; an integer outside the
  // range of the target raises 30049 "Value %s is out of range for %s".
  int64_t AsInt64() const;
  int32_t AsInteger() const;
  double AsDouble() const;
  std::string AsString() const;          // 8-bit text
  std::u16string AsWideString() const;   // UTF-16 text
  bool AsBoolean() const;
  double AsDateTime() const;
  std::string AsBytes() const;

  // Changes the value to another base type (a null value just changes its
  // type). Raises as the readers do.
  void ConvertTo(TSDBBaseFieldType type);
  TSDBVariant ConvertedTo(TSDBBaseFieldType type) const;

  // -1, 0 or 1. Null equals null and sorts before every other value. Values
  // of different types are compared in a common type: two texts as texts;
  // numbers as numbers (integers exactly, otherwise as doubles); a date or
  // time with a number or another date or time by its TDateTime value;
  // logical with logical; byte strings with byte strings; a text with a
  // number, date, time or logical by converting the text to the other type.
  // Anything else raises "Cannot compare Incompatible DataTypes: '%s' and
  // '%s'" (30044). Texts use `collation` (the process default when null).
  int Compare(const TSDBVariant& other, bool caseInsensitive = false,
              const TSDBCollation* collation = nullptr) const;

  bool operator==(const TSDBVariant& other) const;  // same type, nullness and data

 private:
  void RaiseConvert(TSDBBaseFieldType to) const;
  void CheckNotNull() const;

  TSDBBaseFieldType FType = bftUnknown;
  bool FIsNull = true;
  int64_t FInt = 0;
  double FFloat = 0;
  std::string FBytes;      // 8-bit texts and byte strings
  std::u16string FWide;    // wide texts
};

}  // namespace sdb
