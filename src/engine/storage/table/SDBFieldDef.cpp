#include "storage/table/SDBFieldDef.h"

#include <cctype>
#include <cmath>
#include <cstring>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBText.h"

namespace sdb {

// ---- Writer / reader -----------------------------------------------------------------

void TSDBMetaWriter::Word(uint16_t v) {
  uint8_t b[2];
  PutLE16(b, v);
  Bytes(b, 2);
}
void TSDBMetaWriter::Int32(int32_t v) {
  uint8_t b[4];
  PutLEI32(b, v);
  Bytes(b, 4);
}
void TSDBMetaWriter::Int64(int64_t v) {
  uint8_t b[8];
  PutLEI64(b, v);
  Bytes(b, 8);
}
void TSDBMetaWriter::Bytes(const void* p, size_t n) {
  if (n == 0) return;
  const auto* b = static_cast<const uint8_t*>(p);
  FData.insert(FData.end(), b, b + n);
}
void TSDBMetaWriter::ShortString(const std::string& Name) {
  const std::string s = SDBNameToAnsi(Name);
  size_t n = s.size() > 255 ? 255 : s.size();
  Byte(static_cast<uint8_t>(n));
  Bytes(s.data(), n);
}

const uint8_t* TSDBMetaReader::Need(size_t n, int Code) {
  if (n > FSize || FPos > FSize - n)
    throw ESDBException(Code, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {static_cast<int64_t>(FPos), static_cast<int64_t>(FSize), static_cast<int64_t>(n),
                         static_cast<int64_t>(FSize - FPos)});
  const uint8_t* p = FData + FPos;
  FPos += n;
  return p;
}
uint8_t TSDBMetaReader::Byte(int Code) { return *Need(1, Code); }
uint16_t TSDBMetaReader::Word(int Code) { return GetLE16(Need(2, Code)); }
int32_t TSDBMetaReader::Int32(int Code) { return GetLEI32(Need(4, Code)); }
int64_t TSDBMetaReader::Int64(int Code) { return GetLEI64(Need(8, Code)); }
void TSDBMetaReader::Bytes(void* p, size_t n, int Code) {
  const uint8_t* src = Need(n, Code);
  if (n) std::memcpy(p, src, n);
}
std::string TSDBMetaReader::ShortString(int Code) {
  uint8_t n = Byte(Code);
  const uint8_t* p = Need(n, Code);
  return SDBNameFromAnsi(std::string_view(reinterpret_cast<const char*>(p), n));
}

// ---- Value encoding ----------------------------------------------------------------------

int32_t SDBFieldDataSize(TSDBBaseFieldType Type, int32_t S, bool Disk) {
  switch (Type) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
    case bftVarBytes:
      return S + 1;
    case bftWideChar:
    case bftWideVarchar:
      return (S + 1) * 2;
    case bftSignedInt8:
    case bftUnsignedInt8:
      return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical:
      return 2;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftSingle:
    case bftDate:
    case bftTime:
      return 4;
    case bftSignedInt64:
    case bftDouble:
    case bftDateTime:
    case bftCurrency:
      return 8;
    case bftExtended:
      return 10;
    case bftBlob:
    case bftClob:
    case bftWideClob:
      return Disk ? 6 : 10;
    default:
      throw ESDBException(kSDBErrFieldDataTypeUnknown, "Unknown DataType: '%s'", {SDBBaseFieldTypeName(Type)});
  }
}

void SDBDoubleToExtended(double Value, uint8_t* Out) {
  std::memset(Out, 0, 10);
  if (Value == 0) {
    if (std::signbit(Value)) Out[9] = 0x80;
    return;
  }
  uint64_t bits;
  std::memcpy(&bits, &Value, 8);
  const bool neg = bits >> 63;
  int exp = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t frac = bits & ((uint64_t{1} << 52) - 1);
  uint64_t mant;
  int e80;
  if (exp == 0x7FF) {  // infinity, NaN
    e80 = 0x7FFF;
    mant = (uint64_t{1} << 63) | (frac << 11);
  } else if (exp == 0) {  // subnormal double: normalise
    int shift = 0;
    while (!(frac & (uint64_t{1} << 52))) {
      frac <<= 1;
      ++shift;
    }
    e80 = 1 - 1023 - shift + 16383;
    mant = frac << 11;
  } else {
    e80 = exp - 1023 + 16383;
    mant = (uint64_t{1} << 63) | (frac << 11);
  }
  PutLE64(Out, mant);
  PutLE16(Out + 8, static_cast<uint16_t>(e80 | (neg ? 0x8000 : 0)));
}

double SDBExtendedToDouble(const uint8_t* In) {
  uint64_t mant = GetLE64(In);
  uint16_t se = GetLE16(In + 8);
  const bool neg = se & 0x8000;
  int e = se & 0x7FFF;
  double r;
  if (e == 0 && mant == 0)
    r = 0;
  else if (e == 0x7FFF)
    r = (mant << 1) ? std::nan("") : HUGE_VAL;
  else
    r = std::ldexp(static_cast<double>(mant), e - 16383 - 63);
  return neg ? -r : r;
}

void SDBWriteFieldValue(uint8_t* B, int32_t N, TSDBBaseFieldType T, const TSDBVariant& V) {
  std::memset(B, 0, static_cast<size_t>(N));
  // An integer of the field's own type needs no conversion (and no range
  // check: a conversion to the type it has changes nothing).
  auto integer = [&] { return V.DataType() == T ? V.AsInt64() : V.ConvertedTo(T).AsInt64(); };
  switch (T) {
    case bftChar:
    case bftVarchar: {
      std::string s = V.AsString();
      size_t n = std::min<size_t>(s.size(), static_cast<size_t>(N - 1));
      std::memcpy(B, s.data(), n);
      break;
    }
    case bftWideChar:
    case bftWideVarchar: {
      std::u16string s = V.AsWideString();
      size_t n = std::min<size_t>(s.size(), static_cast<size_t>(N / 2 - 1));
      for (size_t i = 0; i < n; ++i) PutLE16(B + 2 * i, s[i]);
      break;
    }
    case bftBytes:
    case bftVarBytes: {
      std::string s = V.AsBytes();
      size_t n = std::min<size_t>(s.size(), static_cast<size_t>(N - 1));
      std::memcpy(B, s.data(), n);
      break;
    }
    case bftSignedInt8:
    case bftUnsignedInt8:
      B[0] = static_cast<uint8_t>(integer());
      break;
    case bftSignedInt16:
    case bftUnsignedInt16:
      PutLE16(B, static_cast<uint16_t>(integer()));
      break;
    case bftSignedInt32:
    case bftUnsignedInt32:
      PutLE32(B, static_cast<uint32_t>(integer()));
      break;
    case bftSignedInt64:
      PutLEI64(B, V.AsInt64());
      break;
    case bftSingle: {
      float f = static_cast<float>(V.AsDouble());
      uint32_t u;
      std::memcpy(&u, &f, 4);
      PutLE32(B, u);
      break;
    }
    case bftDouble:
    case bftCurrency:
      PutLEDouble(B, V.AsDouble());
      break;
    case bftExtended:
      SDBDoubleToExtended(V.AsDouble(), B);
      break;
    case bftDate:
      PutLEI32(B, SDBDateTimeToDayNumber(V.AsDateTime()));
      break;
    case bftTime:
      PutLEI32(B, SDBDateTimeToMSecs(V.AsDateTime()));
      break;
    case bftDateTime: {
      double dt = V.AsDateTime();
      PutLEI32(B, SDBDateTimeToDayNumber(dt));
      PutLEI32(B + 4, SDBDateTimeToMSecs(dt));
      break;
    }
    case bftLogical:
      PutLE16(B, V.AsBoolean() ? 1 : 0);
      break;
    default:
      throw ESDBException(kSDBErrFieldDataTypeUnknown, "Unknown DataType: '%s'", {SDBBaseFieldTypeName(T)});
  }
}

std::vector<uint8_t> SDBBlobBytes(const TSDBFieldDef& Def, const TSDBVariant& Value) {
  std::vector<uint8_t> bytes;
  if (Value.IsNull()) return bytes;
  if (Def.FBaseFieldType == bftWideClob) {
    const std::u16string w = Value.AsWideString();
    bytes.reserve(w.size() * 2);
    for (char16_t c : w) {
      bytes.push_back(static_cast<uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
  }
  const std::string s = SDBIsTextType(Def.FBaseFieldType) || SDBIsTextType(Value.DataType())
                            ? SDBColumnValue(Value, bftClob, Def.FName).AsString()
                            : Value.AsBytes();
  bytes.assign(s.begin(), s.end());
  return bytes;
}

TSDBVariant SDBBlobValue(TSDBBaseFieldType Type, const std::vector<uint8_t>& Bytes) {
  const std::string_view data(reinterpret_cast<const char*>(Bytes.data()), Bytes.size());
  if (Type == bftWideClob) {
    std::u16string w(Bytes.size() / 2, u'\0');
    for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<char16_t>(Bytes[2 * i] | (Bytes[2 * i + 1] << 8));
    return TSDBVariant::FromWideString(w, bftWideClob);
  }
  if (SDBIsAnsiTextType(Type)) return TSDBVariant::FromString(data, Type);
  return TSDBVariant::FromBytes(data, Type);
}

TSDBVariant SDBReadFieldValue(const uint8_t* B, int32_t N, TSDBBaseFieldType T) {
  switch (T) {
    case bftChar:
    case bftVarchar: {
      size_t n = strnlen(reinterpret_cast<const char*>(B), static_cast<size_t>(N));
      return TSDBVariant::FromString(std::string_view(reinterpret_cast<const char*>(B), n), T);
    }
    case bftWideChar:
    case bftWideVarchar: {
      std::u16string s;
      for (int32_t i = 0; i + 1 < N; i += 2) {
        char16_t c = GetLE16(B + i);
        if (!c) break;
        s.push_back(c);
      }
      return TSDBVariant::FromWideString(s, T);
    }
    case bftBytes:
      return TSDBVariant::FromBytes(std::string_view(reinterpret_cast<const char*>(B), static_cast<size_t>(N - 1)), T);
    case bftVarBytes: {
      size_t n = static_cast<size_t>(N - 1);
      while (n > 0 && B[n - 1] == 0) --n;
      return TSDBVariant::FromBytes(std::string_view(reinterpret_cast<const char*>(B), n), T);
    }
    case bftSignedInt8:
      return TSDBVariant::FromInt(static_cast<int8_t>(B[0]), T);
    case bftUnsignedInt8:
      return TSDBVariant::FromInt(B[0], T);
    case bftSignedInt16:
      return TSDBVariant::FromInt(GetLEI16(B), T);
    case bftUnsignedInt16:
      return TSDBVariant::FromInt(GetLE16(B), T);
    case bftSignedInt32:
      return TSDBVariant::FromInt(GetLEI32(B), T);
    case bftUnsignedInt32:
      return TSDBVariant::FromInt(GetLE32(B), T);
    case bftSignedInt64:
      return TSDBVariant::FromInt(GetLEI64(B), T);
    case bftSingle: {
      uint32_t u = GetLE32(B);
      float f;
      std::memcpy(&f, &u, 4);
      return TSDBVariant::FromDouble(f, T);
    }
    case bftDouble:
    case bftCurrency:
      return TSDBVariant::FromDouble(GetLEDouble(B), T);
    case bftExtended:
      return TSDBVariant::FromDouble(SDBExtendedToDouble(B), T);
    case bftDate:
      return TSDBVariant::FromDateTime(SDBDayNumberMSecsToDateTime(GetLEI32(B), 0), T);
    case bftTime:
      return TSDBVariant::FromDateTime(SDBDayNumberMSecsToDateTime(SDBDateTimeToDayNumber(0), GetLEI32(B)), T);
    case bftDateTime:
      return TSDBVariant::FromDateTime(SDBDayNumberMSecsToDateTime(GetLEI32(B), GetLEI32(B + 4)), T);
    case bftLogical:
      return TSDBVariant::FromBool(GetLE16(B) != 0);
    default:
      throw ESDBException(kSDBErrFieldDataTypeUnknown, "Unknown DataType: '%s'", {SDBBaseFieldTypeName(T)});
  }
}

namespace {

// Bytes of a value in its serialised-variant form.
std::vector<uint8_t> EncodeVariantData(const TSDBVariant& V) {
  const TSDBBaseFieldType T = V.DataType();
  std::vector<uint8_t> out;
  switch (T) {
    case bftChar:
    case bftVarchar:
    case bftClob: {
      std::string s = V.AsString();
      out.assign(s.begin(), s.end());
      out.push_back(0);
      return out;
    }
    case bftWideChar:
    case bftWideVarchar:
    case bftWideClob: {
      std::u16string s = V.AsWideString();
      out.resize((s.size() + 1) * 2);
      for (size_t i = 0; i < s.size(); ++i) PutLE16(out.data() + 2 * i, s[i]);
      return out;
    }
    case bftBytes:
    case bftVarBytes:
    case bftBlob:
    case bftBFile: {
      std::string s = V.AsBytes();
      out.assign(s.begin(), s.end());
      return out;
    }
    default: {
      int32_t n = SDBFieldDataSize(T, 0, false);
      out.resize(static_cast<size_t>(n));
      SDBWriteFieldValue(out.data(), n, T, V);
      return out;
    }
  }
}

TSDBVariant DecodeVariantData(TSDBBaseFieldType T, const std::vector<uint8_t>& d, int Code) {
  auto text = [&](size_t n) { return std::string_view(reinterpret_cast<const char*>(d.data()), n); };
  switch (T) {
    case bftChar:
    case bftVarchar:
    case bftClob:
      return TSDBVariant::FromString(text(strnlen(reinterpret_cast<const char*>(d.data()), d.size())), T);
    case bftWideChar:
    case bftWideVarchar:
    case bftWideClob: {
      std::u16string s;
      for (size_t i = 0; i + 1 < d.size(); i += 2) {
        char16_t c = GetLE16(d.data() + i);
        if (!c) break;
        s.push_back(c);
      }
      return TSDBVariant::FromWideString(s, T);
    }
    case bftBytes:
    case bftVarBytes:
    case bftBlob:
    case bftBFile:
      return TSDBVariant::FromBytes(text(d.size()), T);
    default: {
      if (T >= kSDBBaseFieldTypeCount || T == bftUnknown)
        throw ESDBException(kSDBErrFieldDataTypeUnknown, "Unknown DataType: '%s'", {SDBBaseFieldTypeName(T)});
      int32_t n = SDBFieldDataSize(T, 0, false);
      if (static_cast<int32_t>(d.size()) < n)
        throw ESDBException(Code, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                            {int64_t{0}, static_cast<int64_t>(d.size()), static_cast<int64_t>(n),
                             static_cast<int64_t>(d.size())});
      return SDBReadFieldValue(d.data(), n, T);
    }
  }
}

}  // namespace

void SDBWriteVariant(TSDBMetaWriter& W, const TSDBVariant& V) {
  W.Byte(V.DataType());
  const bool isNull = V.IsNull();
  W.Bool(isNull);
  if (isNull) return;
  std::vector<uint8_t> d = EncodeVariantData(V);
  W.Int32(static_cast<int32_t>(d.size()));
  W.Bytes(d.data(), d.size());
}

TSDBVariant SDBReadVariant(TSDBMetaReader& R, int Code) {
  auto type = static_cast<TSDBBaseFieldType>(R.Byte(Code));
  bool isNull = R.Bool(Code);
  if (isNull) return TSDBVariant(type);
  int32_t n = R.Int32(Code);
  if (n < 0 || static_cast<size_t>(n) > R.Size() - R.Position())
    throw ESDBException(Code, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {static_cast<int64_t>(R.Position()), static_cast<int64_t>(R.Size()), int64_t{n},
                         static_cast<int64_t>(R.Size() - R.Position())});
  std::vector<uint8_t> d(static_cast<size_t>(n));
  R.Bytes(d.data(), d.size(), Code);
  return DecodeVariantData(type, d, Code);
}

// ---- Definitions -----------------------------------------------------------------------------

void TSDBMetaObjectDef::SavePrefix(TSDBMetaWriter& W) const {
  W.ShortString(FName);
  W.Int32(FObjectID);
}

void TSDBMetaObjectDef::LoadPrefix(TSDBMetaReader& R, int NameCode, int ObjectIDCode) {
  FName = R.ShortString(NameCode);
  FObjectID = R.Int32(ObjectIDCode);
}

TSDBFieldDef::TSDBFieldDef(const std::string& Name, TSDBAdvancedFieldType Type, int32_t Size) {
  FName = Name;
  FAdvancedFieldType = Type;
  FBaseFieldType = SDBAdvancedToBaseFieldType(Type);
  FFieldSize = Size;
  if (Type == aftGuid && Size == 0) FFieldSize = 38;
  RecalcDataSizes();
}

void TSDBFieldDef::RecalcDataSizes() {
  FDiskDataSize = SDBFieldDataSize(FBaseFieldType, FFieldSize, true);
  FMemoryDataSize = SDBFieldDataSize(FBaseFieldType, FFieldSize, false);
}

void TSDBFieldDef::SaveToStream(TSDBMetaWriter& W) const {
  SavePrefix(W);
  W.Byte(FBaseFieldType);
  W.Byte(FAdvancedFieldType);
  W.Int32(FFieldSize);
  if (IsBlob()) {
    W.Byte(FBLOBCompressionAlgorithm);
    W.Byte(FBLOBCompressionMode);
    W.Int32(FBLOBBlockSize);
  }
  W.Int64(FAutoincIncrement);
  W.Int64(FAutoincInitialValue);
  W.Int64(FAutoincMinValue);
  W.Int64(FAutoincMaxValue);
  W.Bool(FAutoincCycled);
  // A default expression is stored as its text in the default's place.
  SDBWriteVariant(W, FDefaultValueExpr.empty() ? FDefaultValue : TSDBVariant::FromString(FDefaultValueExpr));
}

void TSDBFieldDef::LoadFromStream(TSDBMetaReader& R) {
  LoadPrefix(R, kSDBErrFieldDefName, kSDBErrFieldDefObjectID);
  FBaseFieldType = static_cast<TSDBBaseFieldType>(R.Byte(kSDBErrFieldDefBaseType));
  FAdvancedFieldType = static_cast<TSDBAdvancedFieldType>(R.Byte(kSDBErrFieldDefAdvancedType));
  FFieldSize = R.Int32(kSDBErrFieldDefSize);
  if (FFieldSize < 0 || FFieldSize > 0xFFFF)
    throw ESDBException(kSDBErrFieldDefSize, "Invalid field size %d for field '%s'", {int64_t{FFieldSize}, FName});
  if (IsBlob()) {
    uint8_t alg = R.Byte(kSDBErrFieldDefBlobAlgorithm);
    if (alg >= kSDBCompressionAlgorithmCount)
      throw ESDBException(kSDBErrFieldDefBlobAlgorithm, "Invalid BLOB compression algorithm %d for field '%s'", {int64_t{alg}, FName});
    FBLOBCompressionAlgorithm = static_cast<TSDBCompressionAlgorithm>(alg);
    FBLOBCompressionMode = R.Byte(kSDBErrFieldDefBlobMode);
    FBLOBBlockSize = R.Int32(kSDBErrFieldDefBlobBlockSize);
  }
  FAutoincIncrement = R.Int64(kSDBErrFieldDefAutoincIncrement);
  FAutoincInitialValue = R.Int64(kSDBErrFieldDefAutoincInitial);
  FAutoincMinValue = R.Int64(kSDBErrFieldDefAutoincMin);
  FAutoincMaxValue = R.Int64(kSDBErrFieldDefAutoincMax);
  FAutoincCycled = R.Bool(kSDBErrFieldDefAutoincCycled);
  FDefaultValue = SDBReadVariant(R, kSDBErrFieldDefDefaultValue);
  // A text default of a field that holds no text, and that no conversion
  // makes a value of the field, is an expression's text: evaluated at each
  // insert rather than stored in the records as it is.
  FDefaultValueExpr.clear();
  if (!FDefaultValue.IsNull() && SDBIsStringFieldType(FDefaultValue.DataType()) && !SDBIsStringFieldType(FBaseFieldType) &&
      !SDBIsBlobFieldType(FBaseFieldType)) {
    bool converts = true;
    try {
      (void)FDefaultValue.ConvertedTo(FBaseFieldType);
    } catch (const ESDBException&) {
      converts = false;
    }
    if (!converts) {
      FDefaultValueExpr = FDefaultValue.AsString();
      FDefaultValue = TSDBVariant();
    }
  }
  RecalcDataSizes();
}

void TSDBIndexDef::SaveToStream(TSDBMetaWriter& W) const {
  SavePrefix(W);
  W.Byte(FIndexType);
  W.Bool(FUnique);
  W.Bool(FPrimary);
  W.Int32(static_cast<int32_t>(FColumns.size()));
  W.Int32(FRootPageNo);
  for (const auto& c : FColumns) {
    W.ShortString(c.FFieldName);
    W.Bool(c.FDescending);
    W.Bool(c.FCaseInsensitive);
    W.Int32(c.FMaxIndexedSize);
  }
}

void TSDBIndexDef::LoadFromStream(TSDBMetaReader& R) {
  LoadPrefix(R, kSDBErrIndexDefName, kSDBErrIndexDefObjectID);
  FIndexType = static_cast<TSDBIndexType>(R.Byte(kSDBErrIndexDefType));
  FUnique = R.Bool(kSDBErrIndexDefUnique);
  FPrimary = R.Bool(kSDBErrIndexDefPrimary);
  int32_t n = R.Int32(kSDBErrIndexDefColumnCount);
  FRootPageNo = R.Int32(kSDBErrIndexDefRootPage);
  // Each column takes at least 7 bytes: refuse counts the stream cannot hold.
  if (n < 0 || static_cast<size_t>(n) > (R.Size() - R.Position()) / 7)
    throw ESDBException(kSDBErrIndexDefColumnCount, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {static_cast<int64_t>(R.Position()), static_cast<int64_t>(R.Size()), int64_t{n} * 7,
                         static_cast<int64_t>(R.Size() - R.Position())});
  FColumns.clear();
  for (int32_t i = 0; i < n; ++i) {
    TSDBIndexColumn c;
    c.FFieldName = R.ShortString(kSDBErrIndexDefColumnName);
    c.FDescending = R.Bool(kSDBErrIndexDefDescending);
    c.FCaseInsensitive = R.Bool(kSDBErrIndexDefCaseInsensitive);
    c.FMaxIndexedSize = R.Int32(kSDBErrIndexDefMaxIndexedSize);
    FColumns.push_back(std::move(c));
  }
}

std::unique_ptr<TSDBConstraintDef> TSDBConstraintDef::Create(uint8_t Type) {
  switch (Type) {
    case ctPK:
      return std::make_unique<TSDBConstraintDefPrimary>();
    case ctUnique:
      return std::make_unique<TSDBConstraintDefUnique>();
    case ctNotNull:
      return std::make_unique<TSDBConstraintDefNotNull>();
    case ctCheck:
      return std::make_unique<TSDBConstraintDefCheck>();
    case ctFK:
      throw ESDBException(kSDBErrConstraintTypeNotImplemented, "Not implemented yet");
    default:
      throw ESDBException(kSDBErrUnknownConstraintType, "Unknown Constraint Type: '%d'", {int64_t{Type}});
  }
}

namespace {

// Byte N = length + 1, then the length byte and the characters.
void WriteByteCountedString(TSDBMetaWriter& W, const std::string& Name) {
  const std::string s = SDBNameToAnsi(Name);
  size_t n = s.size() > 254 ? 254 : s.size();
  W.Byte(static_cast<uint8_t>(n + 1));
  W.Byte(static_cast<uint8_t>(n));
  W.Bytes(s.data(), n);
}
std::string ReadByteCountedString(TSDBMetaReader& R, int Code) {
  uint8_t total = R.Byte(Code);
  if (total == 0) return {};
  std::string raw(total, '\0');
  R.Bytes(raw.data(), total, Code);
  size_t len = std::min<size_t>(static_cast<uint8_t>(raw[0]), total - 1u);
  return SDBNameFromAnsi(std::string_view(raw).substr(1, len));
}
// Integer N = length + 1, then the length byte and the characters.
void WriteIntCountedString(TSDBMetaWriter& W, const std::string& Name) {
  const std::string s = SDBNameToAnsi(Name);
  size_t n = s.size() > 255 ? 255 : s.size();
  W.Int32(static_cast<int32_t>(n + 1));
  W.Byte(static_cast<uint8_t>(n));
  W.Bytes(s.data(), n);
}
std::string ReadIntCountedString(TSDBMetaReader& R, int Code) {
  int32_t total = R.Int32(Code);
  if (total <= 0) return {};
  if (total > 256)
    throw ESDBException(Code, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {static_cast<int64_t>(R.Position()), static_cast<int64_t>(R.Size()), int64_t{total},
                         int64_t{0}});
  std::string raw(static_cast<size_t>(total), '\0');
  R.Bytes(raw.data(), raw.size(), Code);
  size_t len = std::min<size_t>(static_cast<uint8_t>(raw[0]), static_cast<size_t>(total - 1));
  return SDBNameFromAnsi(std::string_view(raw).substr(1, len));
}

}  // namespace

void TSDBConstraintDefNotNull::SaveToStream(TSDBMetaWriter& W) const {
  SavePrefix(W);
  W.Int32(FTableSchemaObjectID);
  W.Int32(FTableObjectID);
  W.Int32(FColumnObjectID);
  WriteByteCountedString(W, FTableSchemaName);
  WriteByteCountedString(W, FTableName);
  WriteByteCountedString(W, FColumnName);
}

void TSDBConstraintDefNotNull::LoadFromStream(TSDBMetaReader& R) {
  LoadPrefix(R, kSDBErrNotNullDefName, kSDBErrNotNullDefObjectID);
  FTableSchemaObjectID = R.Int32(kSDBErrNotNullDefSchemaID);
  FTableObjectID = R.Int32(kSDBErrNotNullDefTableID);
  FColumnObjectID = R.Int32(kSDBErrNotNullDefColumnID);
  FTableSchemaName = ReadByteCountedString(R, kSDBErrNotNullDefSchemaName);
  FTableName = ReadByteCountedString(R, kSDBErrNotNullDefTableName);
  FColumnName = ReadByteCountedString(R, kSDBErrNotNullDefColumnName);
}

void TSDBConstraintDefCheck::SaveToStream(TSDBMetaWriter& W) const {
  TSDBConstraintDefNotNull::SaveToStream(W);
  SDBWriteVariant(W, FMinValue);
  SDBWriteVariant(W, FMaxValue);
}

void TSDBConstraintDefCheck::LoadFromStream(TSDBMetaReader& R) {
  TSDBConstraintDefNotNull::LoadFromStream(R);
  FMinValue = SDBReadVariant(R, kSDBErrCheckDefMinValue);
  FMaxValue = SDBReadVariant(R, kSDBErrCheckDefMaxValue);
}

void TSDBConstraintDefUnique::SaveToStream(TSDBMetaWriter& W) const {
  SavePrefix(W);
  W.Int32(FTableSchemaObjectID);
  W.Int32(FTableObjectID);
  W.Int32(FIndexObjectID);
  WriteIntCountedString(W, FTableSchemaName);
  WriteIntCountedString(W, FTableName);
  WriteIntCountedString(W, FIndexName);
  W.Int32(static_cast<int32_t>(FColumns.size()));
  for (const auto& c : FColumns) {
    W.Int32(c.ColumnObjectID);
    WriteIntCountedString(W, c.ColumnName);
  }
}

void TSDBConstraintDefUnique::LoadFromStream(TSDBMetaReader& R) {
  LoadPrefix(R, kSDBErrUniqueDefName, kSDBErrUniqueDefObjectID);
  FTableSchemaObjectID = R.Int32(kSDBErrUniqueDefSchemaID);
  FTableObjectID = R.Int32(kSDBErrUniqueDefTableID);
  FIndexObjectID = R.Int32(kSDBErrUniqueDefIndexID);
  FTableSchemaName = ReadIntCountedString(R, kSDBErrUniqueDefSchemaName);
  FTableName = ReadIntCountedString(R, kSDBErrUniqueDefTableName);
  FIndexName = ReadIntCountedString(R, kSDBErrUniqueDefIndexName);
  int32_t n = R.Int32(kSDBErrUniqueDefColumnCount);
  if (n < 0 || static_cast<size_t>(n) > (R.Size() - R.Position()) / 8)
    throw ESDBException(kSDBErrUniqueDefColumnCount, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {static_cast<int64_t>(R.Position()), static_cast<int64_t>(R.Size()), int64_t{n} * 8,
                         static_cast<int64_t>(R.Size() - R.Position())});
  FColumns.clear();
  for (int32_t i = 0; i < n; ++i) {
    TSDBConstraintColumn c;
    c.ColumnObjectID = R.Int32(kSDBErrUniqueDefColumnID);
    c.ColumnName = ReadIntCountedString(R, kSDBErrUniqueDefColumnName);
    FColumns.push_back(std::move(c));
  }
}

}  // namespace sdb
