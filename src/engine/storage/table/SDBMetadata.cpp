#include "storage/table/SDBMetadata.h"

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

namespace {

[[noreturn]] void BadCount(TSDBMetaReader& R, int Code, int32_t n) {
  throw ESDBException(Code, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                      {static_cast<int64_t>(R.Position()), static_cast<int64_t>(R.Size()), int64_t{n},
                       static_cast<int64_t>(R.Size() - R.Position())});
}

// A count of items of at least `minSize` bytes each that the rest of the
// stream can hold.
int32_t ReadCount(TSDBMetaReader& R, int Code, size_t minSize) {
  int32_t n = R.Int32(Code);
  if (n < 0 || static_cast<size_t>(n) > (R.Size() - R.Position()) / minSize) BadCount(R, Code, n);
  return n;
}

}  // namespace

std::vector<uint8_t> TSDBTableMetadata::Save() const {
  TSDBMetaWriter W;
  W.Int32(FieldDefs.Count());
  for (int i = 0; i < FieldDefs.Count(); ++i) FieldDefs[i].SaveToStream(W);
  int32_t stored = 0;
  for (int i = 0; i < IndexDefs.Count(); ++i)
    if (!IndexDefs[i].FTemporary) ++stored;
  W.Int32(stored);
  for (int i = 0; i < IndexDefs.Count(); ++i)
    if (!IndexDefs[i].FTemporary) IndexDefs[i].SaveToStream(W);
  W.Int32(ConstraintDefs.Count());
  for (int i = 0; i < ConstraintDefs.Count(); ++i) {
    W.Byte(ConstraintDefs[i].ConstraintType());
    ConstraintDefs[i].SaveToStream(W);
  }
  W.Int32(RecordPageIndexRoot);
  W.Int32(BlobPageIndexRoot);
  return std::move(W.Data());
}

void TSDBTableMetadata::Load(const std::vector<uint8_t>& Data) {
  TSDBMetaReader R(Data);
  FieldDefs.Clear();
  IndexDefs.Clear();
  ConstraintDefs.Clear();
  int32_t n = ReadCount(R, kSDBErrMetadataFieldCount, 40);
  for (int32_t i = 0; i < n; ++i) FieldDefs.Emplace().LoadFromStream(R);
  n = ReadCount(R, kSDBErrMetadataIndexCount, 16);
  for (int32_t i = 0; i < n; ++i) IndexDefs.Emplace().LoadFromStream(R);
  n = ReadCount(R, kSDBErrMetadataConstraintCount, 6);
  for (int32_t i = 0; i < n; ++i) {
    auto c = TSDBConstraintDef::Create(R.Byte(kSDBErrMetadataConstraintType));
    c->LoadFromStream(R);
    ConstraintDefs.Add(std::move(c));
  }
  RecordPageIndexRoot = R.Int32(kSDBErrMetadataRecordPageIndexRoot);
  BlobPageIndexRoot = R.Int32(kSDBErrMetadataBlobPageIndexRoot);
}

std::vector<uint8_t> TSDBMostUpdatedData::Save() const {
  TSDBMetaWriter W;
  W.Int32(static_cast<int32_t>(LastAutoIncValues.size()));
  for (int64_t v : LastAutoIncValues) W.Int64(v);
  W.Int32(TableState);
  W.Int32(RecordCount);
  return std::move(W.Data());
}

void TSDBMostUpdatedData::Load(const std::vector<uint8_t>& Data, int FieldCount) {
  const size_t bufferSize = (static_cast<size_t>(FieldCount) * 8 + 8) * 4;
  const size_t expected = 4 + static_cast<size_t>(FieldCount) * 8 + 8;
  if (Data.size() > bufferSize || Data.size() < 4) throw ESDBException(kSDBErrInvalidTableHeader, "Invalid table header data");
  int32_t n = GetLEI32(Data.data());
  if (n != FieldCount || Data.size() < expected) throw ESDBException(kSDBErrInvalidTableHeader, "Invalid table header data");
  LastAutoIncValues.assign(static_cast<size_t>(n), 0);
  for (int32_t i = 0; i < n; ++i) LastAutoIncValues[static_cast<size_t>(i)] = GetLEI64(Data.data() + 4 + 8 * i);
  TableState = GetLEI32(Data.data() + 4 + 8 * n);
  RecordCount = GetLEI32(Data.data() + 8 + 8 * n);
  if (RecordCount < 0) throw ESDBException(kSDBErrInvalidTableHeader, "Invalid table header data");
}

}  // namespace sdb
