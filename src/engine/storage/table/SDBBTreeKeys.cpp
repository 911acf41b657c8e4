// Key descriptions of the B-trees: building and comparing keys.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBVariant.h"
#include "storage/table/SDBBTree.h"
#include "storage/table/SDBKeyFormat.h"
#include "common/SDBNames.h"

namespace sdb {

namespace {

bool IsWideType(TSDBBaseFieldType t) { return t == bftWideChar || t == bftWideVarchar; }

// Types whose stored prefix keeps their order; other types are always
// stored whole, since a cut number or date would order by its low bytes.
bool IsPrefixType(TSDBBaseFieldType t) { return SDBIsStringFieldType(t) || t == bftBytes; }

}  // namespace

// ---- TSDBBTreeKeyRef --------------------------------------------------------------------

TSDBBTreeKeyRef::TSDBBTreeKeyRef() : FCollation(TSDBCollation::Default()) {}

bool TSDBBTreeKeyRef::HasTruncatedParts() const {
  return std::any_of(Parts.begin(), Parts.end(), [](const TSDBKeyPart& p) { return p.AddedSize != 0; });
}

int TSDBBTreeKeyRef::ComparePart(const TSDBKeyPart& Part, const uint8_t* Part1, const uint8_t* Part2, int Size,
                                 int CompareLength) const {
  return SDBCompareKeyPartValues(Part.DataType, Part1[0] != 0, Part1 + 1, Part2[0] != 0, Part2 + 1, Size - 1,
                                 Part.Descending, Part.CaseInsensitive, CompareLength, *FCollation);
}

int TSDBBTreeKeyRef::CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2, const uint8_t*,
                                      const uint8_t*, int, bool) {
  int n = std::min(FCompareFieldCount, PartCount());
  for (int i = 0; i < n; ++i) {
    const TSDBKeyPart& p = Parts[static_cast<size_t>(i)];
    int c = ComparePart(p, KeyBuffer1 + p.OffsetInShortKeyBuffer, KeyBuffer2 + p.OffsetInShortKeyBuffer,
                        p.ShortSize, -1);
    if (c != 0) return c;
  }
  return 0;
}

int TSDBBTreeKeyRef::CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2) {
  int n = std::min(FCompareFieldCount, PartCount());
  for (int i = 0; i < n; ++i) {
    const TSDBKeyPart& p = Parts[static_cast<size_t>(i)];
    int c = ComparePart(p, KeyBuffer1 + p.OffsetInFullKeyBuffer, KeyBuffer2 + p.OffsetInFullKeyBuffer,
                        p.FullSize, -1);
    if (c != 0) return c;
  }
  return 0;
}

int TSDBBTreeKeyRef::CompareReferences(const uint8_t* Reference1, const uint8_t* Reference2, int Size) {
  if (Size == TSDBPageItemID::kSize) {
    int32_t p1 = GetLEI32(Reference1), p2 = GetLEI32(Reference2);
    if (p1 != p2) return p1 < p2 ? -1 : 1;
    uint16_t s1 = GetLE16(Reference1 + 4), s2 = GetLE16(Reference2 + 4);
    return s1 < s2 ? -1 : (s1 > s2 ? 1 : 0);
  }
  for (int i = 0; i < Size; ++i)
    if (Reference1[i] != Reference2[i]) return Reference1[i] < Reference2[i] ? -1 : 1;
  return 0;
}

// ---- TSDBPageKeyRef --------------------------------------------------------------------

TSDBPageKeyRef::TSDBPageKeyRef() {
  TSDBKeyPart p;
  p.ShortSize = 4;
  p.FullSize = 4;
  p.DataType = bftSignedInt32;
  Parts.push_back(p);
  FShortKeySize = 4;
  FFullKeySize = 4;
  FReferenceSize = 2;
  FCompareFieldCount = 1;
}

int TSDBPageKeyRef::CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2, const uint8_t*,
                                     const uint8_t*, int, bool) {
  return CompareFullKeys(KeyBuffer1, KeyBuffer2);
}

int TSDBPageKeyRef::CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2) {
  int32_t a = GetLEI32(KeyBuffer1), b = GetLEI32(KeyBuffer2);
  return a < b ? -1 : (a > b ? 1 : 0);
}

// ---- TSDBRecordKeyRef ------------------------------------------------------------------

TSDBRecordKeyRef::TSDBRecordKeyRef() { FReferenceSize = TSDBPageItemID::kSize; }

void TSDBRecordKeyRef::Assign(const std::vector<TSDBKeyColumnInfo>& Columns,
                              const std::vector<TSDBKeyFieldInfo>& Fields, TSDBIndexRecordSource* RecordSource) {
  if (Fields.empty()) throw ESDBException(kSDBErrKeyRefNoFields, "Pointer is nil");
  std::vector<TSDBKeyPart> parts;
  int shortOffset = 0, fullOffset = 0;
  for (const TSDBKeyColumnInfo& col : Columns) {
    const std::string name = col.FieldName;
    auto it = std::find_if(Fields.begin(), Fields.end(),
                           [&](const TSDBKeyFieldInfo& f) { return SDBSameName(f.Name, name); });
    if (it == Fields.end()) throw ESDBException(kSDBErrIndexFieldNotFound, "Cannot find index field '%s'", {name});
    if (SDBIsBlobFieldType(it->DataType))
      throw ESDBException(kSDBErrBlobFieldIndex,
                          "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, please "
                          "use CAST(blob_field, string) function to convert BLOB field to a string expression "
                          "before indexing.",
                          {name});
    TSDBKeyPart p;
    p.FieldNo = it->FieldNo;
    p.OffsetInRecordBuffer = it->OffsetInRecordBuffer;
    p.DataType = it->DataType;
    p.Descending = col.Descending;
    p.CaseInsensitive = col.CaseInsensitive;
    p.FullSize = it->MemoryDataSize + 1;
    int maxIndexed = col.MaxIndexedSize;
    if (IsWideType(p.DataType)) maxIndexed &= ~1;  // whole code units only
    if (IsPrefixType(p.DataType) && maxIndexed > 0 && maxIndexed < it->MemoryDataSize) {
      p.AddedSize = 2;
      p.ShortSize = maxIndexed + 3;
    } else {
      p.AddedSize = 0;
      p.ShortSize = p.FullSize;
    }
    p.OffsetInShortKeyBuffer = shortOffset;
    p.OffsetInFullKeyBuffer = fullOffset;
    shortOffset += p.ShortSize;
    fullOffset += p.FullSize;
    parts.push_back(p);
  }
  Parts = std::move(parts);
  FShortKeySize = shortOffset;
  FFullKeySize = fullOffset;
  FReferenceSize = TSDBPageItemID::kSize;
  FCompareFieldCount = PartCount();
  FCompareLengths.assign(Parts.size(), -1);
  LTableData = RecordSource;
  LRecordBuffer = nullptr;
}

bool TSDBRecordKeyRef::IsNullInRecord(const uint8_t* RecordBuffer, int FieldNo) {
  return (RecordBuffer[FieldNo / 8] >> (FieldNo % 8)) & 1;
}

bool TSDBRecordKeyRef::SameKeyBytes(const uint8_t* RecordBuffer1, const uint8_t* RecordBuffer2,
                                    int PartCount) const {
  const size_t n = PartCount < 0 ? Parts.size() : std::min(Parts.size(), static_cast<size_t>(PartCount));
  for (size_t i = 0; i < n; ++i) {
    const TSDBKeyPart& p = Parts[i];
    const bool null1 = IsNullInRecord(RecordBuffer1, p.FieldNo);
    if (null1 != IsNullInRecord(RecordBuffer2, p.FieldNo)) return false;
    if (null1) continue;
    if (std::memcmp(RecordBuffer1 + p.OffsetInRecordBuffer, RecordBuffer2 + p.OffsetInRecordBuffer,
                    static_cast<size_t>(p.FullSize - 1)) != 0)
      return false;
  }
  return true;
}

void TSDBRecordKeyRef::MakeShortKeyFromRecordBuffer(const uint8_t* RecordBuffer, uint8_t* KeyBuffer) {
  if (!RecordBuffer || !KeyBuffer) throw ESDBException(kSDBErrKeyRefNoRecord, "Pointer is nil");
  std::memset(KeyBuffer, 0, static_cast<size_t>(FShortKeySize));
  for (const TSDBKeyPart& p : Parts) {
    uint8_t* dst = KeyBuffer + p.OffsetInShortKeyBuffer;
    if (IsNullInRecord(RecordBuffer, p.FieldNo)) {
      dst[0] = 1;
      continue;
    }
    std::memcpy(dst + 1, RecordBuffer + p.OffsetInRecordBuffer, static_cast<size_t>(p.ShortSize - 1 - p.AddedSize));
  }
  LRecordBuffer = RecordBuffer;
}

void TSDBRecordKeyRef::MakeFullKeyFromRecordBuffer(const uint8_t* RecordBuffer, uint8_t* KeyBuffer) const {
  if (!RecordBuffer || !KeyBuffer) throw ESDBException(kSDBErrKeyRefNoRecord, "Pointer is nil");
  std::memset(KeyBuffer, 0, static_cast<size_t>(FFullKeySize));
  for (const TSDBKeyPart& p : Parts) {
    uint8_t* dst = KeyBuffer + p.OffsetInFullKeyBuffer;
    if (IsNullInRecord(RecordBuffer, p.FieldNo)) {
      dst[0] = 1;
      continue;
    }
    std::memcpy(dst + 1, RecordBuffer + p.OffsetInRecordBuffer, static_cast<size_t>(p.FullSize - 1));
  }
}

int TSDBRecordKeyRef::ShortCompareLength(const TSDBKeyPart& Part) {
  if (Part.AddedSize == 0) return -1;
  int valueBytes = Part.ShortSize - 1 - Part.AddedSize;
  // One character more than the stored prefix: the probe byte must weigh.
  return IsWideType(Part.DataType) ? valueBytes / 2 + 1 : valueBytes + 1;
}

bool TSDBRecordKeyRef::BuildFullKeyFor(int SessionID, const uint8_t* Reference, TSDBKeyBuffer& FullKey) {
  FullKey.assign(static_cast<size_t>(FFullKeySize), 0);
  if (!Reference) {
    if (!LRecordBuffer) return false;
    MakeFullKeyFromRecordBuffer(LRecordBuffer, FullKey.data());
    return true;
  }
  if (!LTableData) return false;
  TSDBPageItemID id;
  id.Load(Reference);
  std::vector<uint8_t> record;
  if (!LTableData->ReadRecordForIndex(SessionID, id, record) || record.empty())
    throw ESDBException(kSDBErrIndexRecordUnavailable, "Cannot retrieve record for index");
  MakeFullKeyFromRecordBuffer(record.data(), FullKey.data());
  return true;
}

int TSDBRecordKeyRef::CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2,
                                       const uint8_t* Reference2, const uint8_t* Reference1, int SessionID,
                                       bool MayUseFullKeys) {
  int n = std::min(FCompareFieldCount, PartCount());
  if (FCompareLengths.size() != Parts.size()) FCompareLengths.assign(Parts.size(), -1);
  for (int i = 0; i < n; ++i) {
    const TSDBKeyPart& p = Parts[static_cast<size_t>(i)];
    const uint8_t* a = KeyBuffer1 + p.OffsetInShortKeyBuffer;
    const uint8_t* b = KeyBuffer2 + p.OffsetInShortKeyBuffer;
    int len = ShortCompareLength(p);
    int prefix = FCompareLengths[static_cast<size_t>(i)];
    if (prefix >= 0) len = len < 0 ? prefix : std::min(len, prefix);
    int c = ComparePart(p, a, b, p.ShortSize, len);
    if (c != 0) return c;
    if (p.AddedSize == 0 || a[0] != 0 || b[0] != 0) continue;
    if (!MayUseFullKeys) return 0;
    if (!Reference2) continue;
    // Probe: a prefix that fills the indexed size differs from the same
    // prefix followed by 0x01; a shorter value does not see the byte.
    std::vector<uint8_t> probe(a, a + p.ShortSize);
    probe[static_cast<size_t>(p.ShortSize - p.AddedSize)] = 0x01;
    if (ComparePart(p, probe.data(), b, p.ShortSize, len) == 0) continue;
    TSDBKeyBuffer full1, full2;
    if (!BuildFullKeyFor(SessionID, Reference1, full1)) continue;
    if (!BuildFullKeyFor(SessionID, Reference2, full2)) continue;
    return CompareFullKeys(full1.data(), full2.data());
  }
  return 0;
}

int TSDBRecordKeyRef::CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2) {
  int n = std::min(FCompareFieldCount, PartCount());
  if (FCompareLengths.size() != Parts.size()) FCompareLengths.assign(Parts.size(), -1);
  for (int i = 0; i < n; ++i) {
    const TSDBKeyPart& p = Parts[static_cast<size_t>(i)];
    int c = ComparePart(p, KeyBuffer1 + p.OffsetInFullKeyBuffer, KeyBuffer2 + p.OffsetInFullKeyBuffer, p.FullSize,
                        FCompareLengths[static_cast<size_t>(i)]);
    if (c != 0) return c;
  }
  return 0;
}

void TSDBRecordKeyRef::SetPartialCompare(const uint8_t* RecordBuffer, bool PartialCompare, int KeyFieldCount) {
  FCompareLengths.assign(Parts.size(), -1);
  if (!PartialCompare) {
    FCompareFieldCount = PartCount();
    return;
  }
  int n = KeyFieldCount < 0 ? PartCount() : std::min(KeyFieldCount, PartCount());
  FCompareFieldCount = n;
  if (!RecordBuffer) return;
  for (int i = 0; i < n; ++i) {
    const TSDBKeyPart& p = Parts[static_cast<size_t>(i)];
    if (!SDBIsStringFieldType(p.DataType) || IsNullInRecord(RecordBuffer, p.FieldNo)) continue;
    const uint8_t* v = RecordBuffer + p.OffsetInRecordBuffer;
    int size = p.FullSize - 1, len = 0;
    if (IsWideType(p.DataType)) {
      while (len * 2 + 1 < size && GetLE16(v + len * 2) != 0) ++len;
    } else {
      while (len < size && v[len] != 0) ++len;
    }
    FCompareLengths[static_cast<size_t>(i)] = len;
  }
}

}  // namespace sdb
