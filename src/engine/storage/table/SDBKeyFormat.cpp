#include "storage/table/SDBKeyFormat.h"

#include <cstring>
#include <string_view>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBVariant.h"

namespace sdb {

namespace {

template <class T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

std::string_view AnsiView(const uint8_t* p, int size) {
  const void* z = std::memchr(p, 0, static_cast<size_t>(size));
  size_t n = z ? static_cast<size_t>(static_cast<const uint8_t*>(z) - p) : static_cast<size_t>(size);
  return {reinterpret_cast<const char*>(p), n};
}

std::u16string WideText(const uint8_t* p, int size) {
  std::u16string s;
  for (int i = 0; i + 1 < size; i += 2) {
    char16_t c = static_cast<char16_t>(GetLE16(p + i));
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

// 80-bit extended values compared exactly: sign, then biased exponent and
// 64-bit mantissa as one magnitude.
int CompareExtended(const uint8_t* a, const uint8_t* b) {
  auto parts = [](const uint8_t* p, bool& negative, uint16_t& exponent, uint64_t& mantissa) {
    mantissa = GetLE64(p);
    uint16_t se = GetLE16(p + 8);
    negative = (se & 0x8000) != 0;
    exponent = se & 0x7FFF;
    if (exponent == 0 && mantissa == 0) negative = false;  // -0 = +0
  };
  bool na, nb;
  uint16_t ea, eb;
  uint64_t ma, mb;
  parts(a, na, ea, ma);
  parts(b, nb, eb, mb);
  if (na != nb) return na ? -1 : 1;
  int magnitude = ea != eb ? Sign(ea, eb) : Sign(ma, mb);
  return na ? -magnitude : magnitude;
}

[[noreturn]] void RaiseUnknownType(TSDBBaseFieldType type) {
  throw ESDBException(kSDBErrKeyDataTypeUnknown, "Unknown DataType: '%s'", {SDBBaseFieldTypeName(type)});
}

void NeedSize(TSDBBaseFieldType type, int size, int needed) {
  if (size < needed) RaiseUnknownType(type);
}

}  // namespace

bool SDBIsOrderedKeyType(TSDBBaseFieldType Type) {
  switch (Type) {
    case bftChar: case bftVarchar: case bftBytes: case bftWideChar: case bftWideVarchar:
    case bftSignedInt8: case bftSignedInt16: case bftSignedInt32: case bftSignedInt64:
    case bftUnsignedInt8: case bftUnsignedInt16: case bftUnsignedInt32:
    case bftSingle: case bftDouble: case bftExtended: case bftCurrency:
    case bftDate: case bftTime: case bftDateTime: case bftLogical:
      return true;
    default:
      return false;
  }
}

int SDBCompareKeyValues(TSDBBaseFieldType Type, const uint8_t* a, const uint8_t* b, int Size,
                        bool CaseInsensitive, int CompareLength, const TSDBCollation& Collation) {
  switch (Type) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
      return Collation.CompareAnsi(AnsiView(a, Size), AnsiView(b, Size), CaseInsensitive, CompareLength);
    case bftWideChar:
    case bftWideVarchar:
      return Collation.Compare(WideText(a, Size), WideText(b, Size), CaseInsensitive, CompareLength);
    case bftSignedInt8:
      NeedSize(Type, Size, 1);
      return Sign(static_cast<int8_t>(a[0]), static_cast<int8_t>(b[0]));
    case bftSignedInt16:
      NeedSize(Type, Size, 2);
      return Sign(GetLEI16(a), GetLEI16(b));
    case bftSignedInt32:
    case bftDate:
    case bftTime:
      NeedSize(Type, Size, 4);
      return Sign(GetLEI32(a), GetLEI32(b));
    case bftSignedInt64:
      NeedSize(Type, Size, 8);
      return Sign(GetLEI64(a), GetLEI64(b));
    case bftUnsignedInt8:
      NeedSize(Type, Size, 1);
      return Sign(a[0], b[0]);
    case bftUnsignedInt16:
      NeedSize(Type, Size, 2);
      return Sign(GetLE16(a), GetLE16(b));
    case bftUnsignedInt32:
      NeedSize(Type, Size, 4);
      return Sign(GetLE32(a), GetLE32(b));
    case bftSingle: {
      NeedSize(Type, Size, 4);
      uint32_t ba = GetLE32(a), bb = GetLE32(b);
      float fa, fb;
      std::memcpy(&fa, &ba, 4);
      std::memcpy(&fb, &bb, 4);
      return Sign(fa, fb);
    }
    case bftDouble:
    case bftCurrency:
      NeedSize(Type, Size, 8);
      return Sign(GetLEDouble(a), GetLEDouble(b));
    case bftExtended:
      NeedSize(Type, Size, 10);
      return CompareExtended(a, b);
    case bftDateTime: {
      NeedSize(Type, Size, 8);
      int c = Sign(GetLEI32(a), GetLEI32(b));
      return c != 0 ? c : Sign(GetLEI32(a + 4), GetLEI32(b + 4));
    }
    case bftLogical: {
      NeedSize(Type, Size, 1);
      bool va = false, vb = false;
      for (int i = 0; i < Size && i < 2; ++i) {
        va = va || a[i] != 0;
        vb = vb || b[i] != 0;
      }
      return Sign(int{va}, int{vb});
    }
    default:
      RaiseUnknownType(Type);
  }
}

int SDBCompareKeyPartValues(TSDBBaseFieldType Type, bool IsNull1, const uint8_t* Value1, bool IsNull2,
                            const uint8_t* Value2, int Size, bool Descending, bool CaseInsensitive,
                            int CompareLength, const TSDBCollation& Collation) {
  int c;
  if (IsNull1 || IsNull2)
    c = IsNull1 == IsNull2 ? 0 : (IsNull1 ? -1 : 1);
  else
    c = SDBCompareKeyValues(Type, Value1, Value2, Size, CaseInsensitive, CompareLength, Collation);
  return Descending ? -c : c;
}

}  // namespace sdb
