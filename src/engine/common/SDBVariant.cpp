#include "sdb/SDBVariant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "common/SDBNames.h"

namespace sdb {

namespace {

constexpr const char* kTypeNames[kSDBBaseFieldTypeCount] = {
    "bftUnknown",       "bftChar",        "bftWideChar",      "bftVarchar",     "bftWideVarchar",
    "bftSignedInt8",    "bftSignedInt16", "bftSignedInt32",   "bftSignedInt64", "bftUnsignedInt8",
    "bftUnsignedInt16", "bftUnsignedInt32", "bftSingle",      "bftDouble",      "bftExtended",
    "bftDate",          "bftTime",        "bftDateTime",      "bftBlob",        "bftClob",
    "bftWideClob",      "bftLogical",     "bftCurrency",      "bftBytes",       "bftVarBytes",
    "bftBFile"};


// Days between 1 January 0001 (day 1) and 30 December 1899 (TDateTime 0).
constexpr int32_t kDateDelta = 693594;
constexpr double kMSecsPerDay = 86400000.0;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseInt(std::string_view s, int64_t& out) {
  s = Trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

bool ParseDouble(std::string_view s, double& out) {
  std::string t(Trim(s));
  if (!t.empty() && t.front() == '+') t.erase(0, 1);
  if (t.empty()) return false;
  // A lone decimal comma (the French regional form) reads as a point.
  if (t.find('.') == std::string::npos && std::count(t.begin(), t.end(), ',') == 1)
    std::replace(t.begin(), t.end(), ',', '.');
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  return ec == std::errc() && p == t.data() + t.size() && std::isfinite(out);
}

// Reads exactly `digits` decimal digits (or 1..digits when `atMost`).
bool ReadNum(std::string_view& s, int minDigits, int maxDigits, int& out) {
  int n = 0;
  out = 0;
  while (n < maxDigits && !s.empty() && s.front() >= '0' && s.front() <= '9') {
    out = out * 10 + (s.front() - '0');
    s.remove_prefix(1);
    ++n;
  }
  return n >= minDigits;
}

bool Eat(std::string_view& s, char c) {
  if (!s.empty() && s.front() == c) {
    s.remove_prefix(1);
    return true;
  }
  return false;
}

bool ValidDate(int y, int m, int d) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

// Days from 1 January 0001 (= 1), proleptic Gregorian.
int64_t DayNumber(int y, int m, int d) {
  static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  int64_t yy = y - 1;
  return yy * 365 + yy / 4 - yy / 100 + yy / 400 + before[m - 1] + (m > 2 && leap ? 1 : 0) + d;
}

void FromDayNumber(int64_t n, int& y, int& m, int& d) {
  // Inverse of DayNumber for 1 <= n.
  int64_t z = n - 1;  // days since 0001-01-01
  int64_t q400 = z / 146097;
  z %= 146097;
  int64_t q100 = std::min<int64_t>(z / 36524, 3);
  z -= q100 * 36524;
  int64_t q4 = z / 1461;
  z %= 1461;
  int64_t q1 = std::min<int64_t>(z / 365, 3);
  z -= q1 * 365;
  y = static_cast<int>(q400 * 400 + q100 * 100 + q4 * 4 + q1 + 1);
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  m = 1;
  while (m <= 12) {
    int l = len[m - 1] + (m == 2 && leap ? 1 : 0);
    if (z < l) break;
    z -= l;
    ++m;
  }
  d = static_cast<int>(z) + 1;
}

bool ParseTimePart(std::string_view& s, double& out) {
  int h, mi, sec = 0, ms = 0;
  if (!ReadNum(s, 1, 2, h) || !Eat(s, ':') || !ReadNum(s, 2, 2, mi)) return false;
  if (Eat(s, ':')) {
    if (!ReadNum(s, 2, 2, sec)) return false;
    if (Eat(s, '.')) {
      std::string_view before = s;
      if (!ReadNum(s, 1, 3, ms)) return false;
      for (size_t n = before.size() - s.size(); n < 3; ++n) ms *= 10;
    }
  }
  if (h > 23 || mi > 59 || sec > 59) return false;
  out = (h * 3600000.0 + mi * 60000.0 + sec * 1000.0 + ms) / kMSecsPerDay;
  return true;
}

bool ParseDatePart(std::string_view& s, double& out) {
  int y, m, d;
  std::string_view save = s;
  if (ReadNum(s, 4, 4, y) && Eat(s, '-') && ReadNum(s, 1, 2, m) && Eat(s, '-') && ReadNum(s, 1, 2, d)) {
  } else {
    s = save;  // DD/MM/YYYY
    if (!(ReadNum(s, 1, 2, d) && Eat(s, '/') && ReadNum(s, 1, 2, m) && Eat(s, '/') && ReadNum(s, 4, 4, y)))
      return false;
  }
  if (!ValidDate(y, m, d)) return false;
  out = static_cast<double>(DayNumber(y, m, d) - kDateDelta);
  return true;
}

bool ParseDateTime(std::string_view text, TSDBBaseFieldType type, double& out) {
  std::string_view s = Trim(text);
  double date = 0, time = 0;
  if (type == bftTime) {
    if (ParseTimePart(s, time) && s.empty()) {
      out = time;
      return true;
    }
    // A full date-time gives its time of day.
    if (!ParseDateTime(text, bftDateTime, out)) return false;
    out = std::fabs(out - std::trunc(out));
    return true;
  }
  if (!ParseDatePart(s, date)) {
    // A bare time of day is a date-time on day 0.
    s = Trim(text);
    if (type != bftDateTime || !ParseTimePart(s, time) || !s.empty()) return false;
    out = time;
    return true;
  }
  if (!s.empty()) {
    if (!(Eat(s, ' ') || Eat(s, 'T'))) return false;
    while (Eat(s, ' ')) {
    }
    if (!ParseTimePart(s, time) || !s.empty()) return false;
    if (type == bftDate) time = 0;
  }
  // TDateTime: the fraction is always a positive time of day.
  out = date >= 0 ? date + time : date - time;
  return true;
}

bool ParseBool(std::string_view text, bool& out) {
  std::string s(Trim(text));
  for (auto& c : s) c = SDBUpperNameChar(c);
  if (s == "TRUE" || s == "T" || s == "YES" || s == "Y" || s == "1" || s == "-1") {
    out = true;
    return true;
  }
  if (s == "FALSE" || s == "F" || s == "NO" || s == "N" || s == "0") {
    out = false;
    return true;
  }
  return false;
}

std::string FormatDouble(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

std::string FormatDateTime(double v, TSDBBaseFieldType type) {
  int y, mo, d, h, mi, s, ms;
  SDBDecodeDateTime(v, y, mo, d, h, mi, s, ms);
  char date[32], time[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", y, mo, d);
  if (ms)
    std::snprintf(time, sizeof time, "%02d:%02d:%02d.%03d", h, mi, s, ms);
  else
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", h, mi, s);
  if (type == bftDate) return date;
  if (type == bftTime) return time;
  return std::string(date) + " " + time;
}

bool InRange(int64_t v, TSDBBaseFieldType t) {
  switch (t) {
    case bftSignedInt8: return v >= INT8_MIN && v <= INT8_MAX;
    case bftSignedInt16: return v >= INT16_MIN && v <= INT16_MAX;
    case bftSignedInt32: return v >= INT32_MIN && v <= INT32_MAX;
    case bftUnsignedInt8: return v >= 0 && v <= UINT8_MAX;
    case bftUnsignedInt16: return v >= 0 && v <= UINT16_MAX;
    case bftUnsignedInt32: return v >= 0 && v <= static_cast<int64_t>(UINT32_MAX);
    default: return true;
  }
}

template <typename T>
int Cmp(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Byte-wise order of raw byte strings.
int CompareRaw(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  int r = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (r) return r < 0 ? -1 : 1;
  return Cmp(a.size(), b.size());
}

}  // namespace

std::string SDBBaseFieldTypeName(TSDBBaseFieldType type) {
  if (static_cast<int>(type) < kSDBBaseFieldTypeCount) return kTypeNames[type];
  return "bftUnknown(" + std::to_string(static_cast<int>(type)) + ")";
}

bool SDBIsAnsiTextType(TSDBBaseFieldType t) { return t == bftChar || t == bftVarchar || t == bftClob; }
bool SDBIsWideTextType(TSDBBaseFieldType t) {
  return t == bftWideChar || t == bftWideVarchar || t == bftWideClob;
}
bool SDBIsTextType(TSDBBaseFieldType t) { return SDBIsAnsiTextType(t) || SDBIsWideTextType(t); }
bool SDBIsSignedIntType(TSDBBaseFieldType t) { return t >= bftSignedInt8 && t <= bftSignedInt64; }
bool SDBIsUnsignedIntType(TSDBBaseFieldType t) { return t >= bftUnsignedInt8 && t <= bftUnsignedInt32; }
bool SDBIsIntegerType(TSDBBaseFieldType t) { return SDBIsSignedIntType(t) || SDBIsUnsignedIntType(t); }
bool SDBIsFloatType(TSDBBaseFieldType t) {
  return t == bftSingle || t == bftDouble || t == bftExtended || t == bftCurrency;
}
bool SDBIsNumericType(TSDBBaseFieldType t) { return SDBIsIntegerType(t) || SDBIsFloatType(t); }
bool SDBIsDateTimeType(TSDBBaseFieldType t) { return t == bftDate || t == bftTime || t == bftDateTime; }
bool SDBIsBytesType(TSDBBaseFieldType t) {
  return t == bftBytes || t == bftVarBytes || t == bftBlob || t == bftBFile;
}

double SDBEncodeDate(int year, int month, int day) {
  if (!ValidDate(year, month, day))
    throw ESDBException(kEvalErrConvert, "Cannot convert value '%s' of type %s to %s",
                        {std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day),
                         std::string("date"), SDBBaseFieldTypeName(bftDate)});
  return static_cast<double>(DayNumber(year, month, day) - kDateDelta);
}

double SDBEncodeTime(int hour, int minute, int second, int msec) {
  return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMSecsPerDay;
}

void SDBDecodeDateTime(double dt, int& year, int& month, int& day, int& hour, int& minute, int& second,
                       int& msec) {
  if (!std::isfinite(dt) || dt < -693593.0 || dt > 2958466.0) dt = 0;
  // Work in whole milliseconds so that 23:59:59.9996 rounds into the next day
  // consistently with the day part.
  double days = std::trunc(dt);
  auto ms = static_cast<int64_t>(std::llround(std::fabs(dt - days) * kMSecsPerDay));
  auto dayNo = static_cast<int64_t>(days) + kDateDelta;
  if (ms >= static_cast<int64_t>(kMSecsPerDay)) {
    ms -= static_cast<int64_t>(kMSecsPerDay);
    dayNo += dt >= 0 ? 1 : -1;
  }
  if (dayNo < 1) dayNo = 1;
  FromDayNumber(dayNo, year, month, day);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

int32_t SDBDateTimeToDayNumber(double dt) { return static_cast<int32_t>(std::trunc(dt)) + kDateDelta; }

int32_t SDBDateTimeToMSecs(double dt) {
  double frac = std::fabs(dt - std::trunc(dt));
  auto ms = static_cast<int32_t>(std::llround(frac * kMSecsPerDay));
  return std::min<int32_t>(ms, 86399999);
}

double SDBDayNumberMSecsToDateTime(int32_t dayNumber, int32_t msecs) {
  double date = static_cast<double>(dayNumber) - kDateDelta;
  double time = msecs / kMSecsPerDay;
  return date >= 0 ? date + time : date - time;
}

// ----------------------------------------------------------------------------

TSDBVariant TSDBVariant::FromInt(int64_t v, TSDBBaseFieldType type) {
  TSDBVariant r;
  r.SetAsInt64(v, type);
  return r;
}
TSDBVariant TSDBVariant::FromDouble(double v, TSDBBaseFieldType type) {
  TSDBVariant r;
  r.SetAsDouble(v, type);
  return r;
}
TSDBVariant TSDBVariant::FromString(std::string_view v, TSDBBaseFieldType type) {
  TSDBVariant r;
  r.SetAsString(v, type);
  return r;
}
TSDBVariant TSDBVariant::FromWideString(std::u16string_view v, TSDBBaseFieldType type) {
  TSDBVariant r;
  r.SetAsWideString(v, type);
  return r;
}
TSDBVariant TSDBVariant::FromBool(bool v) {
  TSDBVariant r;
  r.SetAsBoolean(v);
  return r;
}
TSDBVariant TSDBVariant::FromDateTime(double v, TSDBBaseFieldType type) {
  TSDBVariant r;
  r.SetAsDateTime(v, type);
  return r;
}
TSDBVariant TSDBVariant::FromBytes(std::string_view v, TSDBBaseFieldType type) {
  TSDBVariant r;
  r.SetAsBytes(v, type);
  return r;
}

bool TSDBVariant::IsNull() const noexcept {
  if (FIsNull) return true;
  if (SDBIsAnsiTextType(FType) || SDBIsBytesType(FType)) return FBytes.empty();
  if (SDBIsWideTextType(FType)) return FWide.empty();
  return false;
}

void TSDBVariant::SetNull() noexcept {
  FIsNull = true;
  FInt = 0;
  FFloat = 0;
  FBytes.clear();
  FWide.clear();
}

void TSDBVariant::Clear() noexcept {
  SetNull();
  FType = bftUnknown;
}

void TSDBVariant::SetAsInt64(int64_t v, TSDBBaseFieldType type) {
  SetNull();
  if (!SDBIsIntegerType(FType)) FType = SDBIsIntegerType(type) ? type : bftSignedInt64;
  if (!InRange(v, FType))
    throw ESDBException(kEvalErrRange, "Value %s is out of range for %s",
                        {std::to_string(v), SDBBaseFieldTypeName(FType)});
  FInt = v;
  FIsNull = false;
}

void TSDBVariant::SetAsDouble(double v, TSDBBaseFieldType type) {
  SetNull();
  if (!SDBIsFloatType(FType)) FType = SDBIsFloatType(type) ? type : bftDouble;
  if (FType == bftSingle) {
    if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max())
      throw ESDBException(kEvalErrRange, "Value %s is out of range for %s", {FormatDouble(v), SDBBaseFieldTypeName(FType)});
    v = static_cast<double>(static_cast<float>(v));
  }
  FFloat = v;
  FIsNull = false;
}

void TSDBVariant::SetAsString(std::string_view v, TSDBBaseFieldType type) {
  SetNull();
  if (!SDBIsAnsiTextType(FType)) FType = SDBIsAnsiTextType(type) ? type : bftVarchar;
  FBytes.assign(v.data(), v.size());
  FIsNull = FBytes.empty();
}

void TSDBVariant::SetAsWideString(std::u16string_view v, TSDBBaseFieldType type) {
  SetNull();
  if (!SDBIsWideTextType(FType)) FType = SDBIsWideTextType(type) ? type : bftWideVarchar;
  FWide.assign(v.data(), v.size());
  FIsNull = FWide.empty();
}

void TSDBVariant::SetAsBoolean(bool v) {
  SetNull();
  FType = bftLogical;
  FInt = v ? 1 : 0;
  FIsNull = false;
}

void TSDBVariant::SetAsDateTime(double v, TSDBBaseFieldType type) {
  SetNull();
  if (!SDBIsDateTimeType(FType)) FType = SDBIsDateTimeType(type) ? type : bftDateTime;
  if (!std::isfinite(v))
    throw ESDBException(kEvalErrConvert, "Cannot convert value '%s' of type %s to %s",
                        {FormatDouble(v), SDBBaseFieldTypeName(bftDouble), SDBBaseFieldTypeName(FType)});
  if (FType == bftDate) v = std::trunc(v);
  if (FType == bftTime) v = std::fabs(v - std::trunc(v));
  FFloat = v;
  FIsNull = false;
}

void TSDBVariant::SetAsBytes(std::string_view v, TSDBBaseFieldType type) {
  SetNull();
  if (!SDBIsBytesType(FType)) FType = SDBIsBytesType(type) ? type : bftBytes;
  FBytes.assign(v.data(), v.size());
  FIsNull = FBytes.empty();
}

void TSDBVariant::RaiseConvert(TSDBBaseFieldType to) const {
  std::string shown;
  try {
    shown = AsString();
  } catch (const ESDBException&) {
    shown = "?";
  }
  if (shown.size() > 64) shown = shown.substr(0, 64) + "...";
  throw ESDBException(kEvalErrConvert, "Cannot convert value '%s' of type %s to %s",
                      {shown, SDBBaseFieldTypeName(FType), SDBBaseFieldTypeName(to)});
}

void TSDBVariant::CheckNotNull() const {
  if (IsNull()) throw ESDBException(kSDBErrValueIsNull, "Value is Null");
}

int64_t TSDBVariant::AsInt64() const {
  CheckNotNull();
  if (SDBIsIntegerType(FType) || FType == bftLogical) return FInt;
  if (SDBIsFloatType(FType) || SDBIsDateTimeType(FType)) {
    double t = std::trunc(FFloat);
    if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0))
      throw ESDBException(kEvalErrRange, "Value %s is out of range for %s",
                          {FormatDouble(FFloat), SDBBaseFieldTypeName(bftSignedInt64)});
    return static_cast<int64_t>(t);
  }
  if (SDBIsTextType(FType) || FType == bftBytes) {
    std::string s = AsString();
    int64_t v;
    if (ParseInt(s, v)) return v;
    double d;
    if (ParseDouble(s, d) && d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
      return static_cast<int64_t>(d);
  }
  RaiseConvert(bftSignedInt64);
  return 0;
}

int32_t TSDBVariant::AsInteger() const {
  int64_t v = AsInt64();
  if (!InRange(v, bftSignedInt32))
    throw ESDBException(kEvalErrRange, "Value %s is out of range for %s",
                        {std::to_string(v), SDBBaseFieldTypeName(bftSignedInt32)});
  return static_cast<int32_t>(v);
}

double TSDBVariant::AsDouble() const {
  CheckNotNull();
  if (SDBIsIntegerType(FType) || FType == bftLogical) return static_cast<double>(FInt);
  if (SDBIsFloatType(FType) || SDBIsDateTimeType(FType)) return FFloat;
  if (SDBIsTextType(FType) || FType == bftBytes) {
    double d;
    if (ParseDouble(AsString(), d)) return d;
  }
  RaiseConvert(bftDouble);
  return 0;
}

std::string TSDBVariant::AsString() const {
  CheckNotNull();
  if (SDBIsAnsiTextType(FType) || SDBIsBytesType(FType)) return FBytes;
  if (SDBIsWideTextType(FType)) return SDBWideToAnsi(FWide);
  if (SDBIsIntegerType(FType)) return std::to_string(FInt);
  if (SDBIsFloatType(FType)) return FormatDouble(FFloat);
  if (SDBIsDateTimeType(FType)) return FormatDateTime(FFloat, FType);
  if (FType == bftLogical) return FInt ? "True" : "False";
  RaiseConvert(bftVarchar);
  return {};
}

std::u16string TSDBVariant::AsWideString() const {
  CheckNotNull();
  if (SDBIsWideTextType(FType)) return FWide;
  return SDBAnsiToWide(AsString());
}

bool TSDBVariant::AsBoolean() const {
  CheckNotNull();
  if (FType == bftLogical || SDBIsIntegerType(FType)) return FInt != 0;
  if (SDBIsFloatType(FType)) return FFloat != 0;
  if (SDBIsTextType(FType)) {
    bool b;
    if (ParseBool(AsString(), b)) return b;
  }
  RaiseConvert(bftLogical);
  return false;
}

double TSDBVariant::AsDateTime() const {
  CheckNotNull();
  if (SDBIsDateTimeType(FType) || SDBIsFloatType(FType)) return FFloat;
  if (SDBIsIntegerType(FType)) return static_cast<double>(FInt);
  if (SDBIsTextType(FType)) {
    double d;
    if (ParseDateTime(AsString(), bftDateTime, d)) return d;
  }
  RaiseConvert(bftDateTime);
  return 0;
}

std::string TSDBVariant::AsBytes() const {
  CheckNotNull();
  if (SDBIsBytesType(FType) || SDBIsAnsiTextType(FType)) return FBytes;
  if (SDBIsWideTextType(FType)) return SDBWideToAnsi(FWide);
  RaiseConvert(bftBytes);
  return {};
}

void TSDBVariant::ConvertTo(TSDBBaseFieldType type) {
  if (type == FType) return;
  if (IsNull()) {
    SetNull();
    FType = type;
    return;
  }
  TSDBVariant r(type);
  if (SDBIsIntegerType(type)) {
    int64_t v = AsInt64();
    if (!InRange(v, type))
      throw ESDBException(kEvalErrRange, "Value %s is out of range for %s",
                          {std::to_string(v), SDBBaseFieldTypeName(type)});
    r.SetAsInt64(v, type);
  } else if (SDBIsFloatType(type)) {
    r.SetAsDouble(AsDouble(), type);
  } else if (SDBIsDateTimeType(type)) {
    if (SDBIsTextType(FType)) {
      double d;
      if (!ParseDateTime(AsString(), type, d)) RaiseConvert(type);
      r.SetAsDateTime(d, type);
    } else if (SDBIsNumericType(FType) || SDBIsDateTimeType(FType)) {
      r.SetAsDateTime(AsDateTime(), type);
    } else {
      RaiseConvert(type);
    }
  } else if (SDBIsAnsiTextType(type)) {
    r.SetAsString(AsString(), type);
  } else if (SDBIsWideTextType(type)) {
    r.SetAsWideString(AsWideString(), type);
  } else if (type == bftLogical) {
    r.SetAsBoolean(AsBoolean());
  } else if (SDBIsBytesType(type)) {
    r.SetAsBytes(AsBytes(), type);
  } else {
    RaiseConvert(type);
  }
  *this = std::move(r);
}

TSDBVariant TSDBVariant::ConvertedTo(TSDBBaseFieldType type) const {
  TSDBVariant r(*this);
  r.ConvertTo(type);
  return r;
}

int TSDBVariant::Compare(const TSDBVariant& other, bool caseInsensitive, const TSDBCollation* collation) const {
  bool n1 = IsNull(), n2 = other.IsNull();
  if (n1 || n2) return n1 && n2 ? 0 : (n1 ? -1 : 1);

  const TSDBBaseFieldType t1 = FType, t2 = other.FType;
  auto incompatible = [&]() -> int {
    throw ESDBException(kEvalErrIncompatible, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                        {SDBBaseFieldTypeName(t1), SDBBaseFieldTypeName(t2)});
  };
  auto coll = [&]() -> const TSDBCollation& {
    if (collation) return *collation;
    static const TSDBCollationPtr def = TSDBCollation::Default();
    return *def;
  };
  // Fixed 8-bit byte strings order as 8-bit texts (as index keys do).
  auto textLike = [](TSDBBaseFieldType t) { return SDBIsTextType(t) || t == bftBytes; };

  if (textLike(t1) && textLike(t2)) {
    if (SDBIsWideTextType(t1) || SDBIsWideTextType(t2))
      return coll().Compare(AsWideString(), other.AsWideString(), caseInsensitive);
    return coll().CompareAnsi(FBytes, other.FBytes, caseInsensitive);
  }
  if (SDBIsBytesType(t1) && SDBIsBytesType(t2)) return CompareRaw(FBytes, other.FBytes);

  // A text against a typed value: read the text as that type.
  if (SDBIsTextType(t1) && !SDBIsTextType(t2)) {
    if (SDBIsBytesType(t2) || t2 == bftUnknown) return incompatible();
    TSDBBaseFieldType target = SDBIsIntegerType(t2) ? bftSignedInt64 : t2;
    if (SDBIsIntegerType(t2)) {
      int64_t v;
      if (!ParseInt(AsString(), v)) target = bftDouble;
    }
    return ConvertedTo(target).Compare(other, caseInsensitive, collation);
  }
  if (SDBIsTextType(t2) && !SDBIsTextType(t1)) return -other.Compare(*this, caseInsensitive, collation);

  if (SDBIsIntegerType(t1) && SDBIsIntegerType(t2)) return Cmp(FInt, other.FInt);
  if ((SDBIsNumericType(t1) || SDBIsDateTimeType(t1)) && (SDBIsNumericType(t2) || SDBIsDateTimeType(t2))) {
    if (SDBIsIntegerType(t1) && SDBIsIntegerType(t2)) return Cmp(FInt, other.FInt);
    return Cmp(AsDouble(), other.AsDouble());
  }
  if (t1 == bftLogical && t2 == bftLogical) return Cmp(FInt != 0, other.FInt != 0);
  return incompatible();
}

bool TSDBVariant::operator==(const TSDBVariant& other) const {
  if (FType != other.FType) return false;
  bool n1 = IsNull(), n2 = other.IsNull();
  if (n1 || n2) return n1 == n2;
  if (SDBIsWideTextType(FType)) return FWide == other.FWide;
  if (SDBIsAnsiTextType(FType) || SDBIsBytesType(FType)) return FBytes == other.FBytes;
  if (SDBIsFloatType(FType) || SDBIsDateTimeType(FType)) return FFloat == other.FFloat;
  return FInt == other.FInt;
}

}  // namespace sdb
