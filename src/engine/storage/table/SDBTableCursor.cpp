#include "storage/table/SDBTableCursor.h"

#include <chrono>
#include <thread>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

namespace {

void Sleep(int Ms) {
  if (Ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
}

// Two bounds built from the same values for the same index.
bool SameBound(const TSDBScanSearchCondition& a, const TSDBScanSearchCondition& b) {
  return a.Condition == b.Condition && a.KeyFieldCount == b.KeyFieldCount && a.IndexID == b.IndexID &&
         a.PartialCompare == b.PartialCompare && a.KeyRecordBuffer == b.KeyRecordBuffer;
}

bool TextStartsWith(const std::string& s, const std::string& prefix, bool caseInsensitive) {
  if (prefix.size() > s.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    unsigned char a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(prefix[i]);
    if (caseInsensitive) {
      a = static_cast<unsigned char>(std::toupper(a));
      b = static_cast<unsigned char>(std::toupper(b));
    }
    if (a != b) return false;
  }
  return true;
}

// The database critical section of a table for one scope.
class CriticalSection {
 public:
  explicit CriticalSection(TSDBDiskTableData& Table) : FTable(Table) { FTable.Lock(); }
  ~CriticalSection() { FTable.Unlock(); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

 private:
  TSDBDiskTableData& FTable;
};

}  // namespace

TSDBTableCursor::TSDBTableCursor(TSDBTableOpenFunctions Opener, int SessionID) : FOpener(std::move(Opener)) {
  FCursor.SessionID = SessionID;
}

TSDBTableCursor::~TSDBTableCursor() {
  try {
    Close();
  } catch (...) {
  }
}

void TSDBTableCursor::RaiseEngine(int Code) { throw ESDBEngineError::Make(Code); }

template <class F>
auto TSDBTableCursor::IndexRead(F&& Read) {
  TSDBDiskTableData& t = Table();
  CriticalSection cs(t);
  const int s = FCursor.SessionID;
  if (!t.LockTable(s, ltS, kSDBReadLockTryCount, kSDBReadLockDelayMs)) RaiseEngine(kSDBRecErrTableLocked);
  struct Release {
    TSDBDiskTableData& T;
    int S;
    ~Release() { T.UnlockTable(S, ltS, true); }
  } release{t, s};
  t.RebuildTemporaryIndexes(s);
  return Read();
}

bool TSDBTableCursor::FindInIndex(bool First, const TSDBScanSearchCondition& Condition, TSDBPageItemID& RecordID) {
  return IndexRead([&] {
    TSDBBTreeRecordIndex& index = CurrentIndex();
    // The same edge found a moment ago (a query estimates its range, then
    // positions on it) is taken from where it was, once the leaf confirms it.
    if (FFoundIndexID == index.IndexID() && FFoundFirst == First && SameBound(FFoundBound, Condition) &&
        index.IsEdgeOfCondition(FCursor.SessionID, FFoundPosition, First, Condition, RecordID)) {
      FFoundRecordID = RecordID;
      return true;
    }
    TSDBKeyPath pos;
    if (!index.FindByCondition(FCursor.SessionID, First, Condition, pos)) return false;
    RecordID = index.GetRecordIDByIndexPosition(FCursor.SessionID, pos);
    // The first step from that record looks there before searching (see
    // RangeEndsHere).
    RememberFound(index.IndexID(), First, Condition, pos, RecordID);
    return true;
  });
}

void TSDBTableCursor::RememberFound(int32_t IndexID, bool First, const TSDBScanSearchCondition& Bound,
                                    const TSDBKeyPath& Position, const TSDBPageItemID& RecordID) {
  FFoundIndexID = IndexID;
  FFoundFirst = First;
  FFoundBound = Bound;
  FFoundPosition = Position;
  FFoundRecordID = RecordID;
}

bool TSDBTableCursor::RangeEndsHere(bool Forward) {
  const TSDBScanSearchCondition& bound = Forward ? FRangeEnd : FRangeStart;
  if (!FHasRange || bound.Condition == scNone || FCursor.CurrentIndexID < 0) return false;
  // Only from the record the range was entered at: most ranges a query
  // reads hold one record, and a longer one would pay the look at every
  // step for a read saved only at its end.
  const TSDBPageItemID& id = FCursor.CurrentRecordID;
  if (FFoundIndexID != FCursor.CurrentIndexID || !(FFoundRecordID == id) || FFoundPosition.Empty()) return false;
  return IndexRead([&] {
    return CurrentIndex().NeighbourBeyondBound(FCursor.SessionID, id, FCursor.CurrentRecordBuffer.data(),
                                               &FFoundPosition, Forward, bound);
  });
}

void TSDBTableCursor::CheckActive() const {
  if (FState == csInactive || !FCursor.TableData) throw ESDBException(kSDBErrTableNotActive, "Nil pointer occured");
}

void TSDBTableCursor::CheckBrowse(int Code) const {
  CheckActive();
  if (FState != csBrowse) throw ESDBException(Code, "Dataset is in edit or insert mode");
}

TSDBDiskTableData& TSDBTableCursor::Table() {
  CheckActive();
  return *FCursor.TableData;
}

// ---- Open and close ------------------------------------------------------------------------------

void TSDBTableCursor::Open(const std::string& TableName, bool Exclusive, bool Positioned) {
  if (Active()) Close();
  FCursor.FExclusive = Exclusive;
  FCursor.CurrentIndexID = -1;
  FCursor.PositionCache.Clear();
  FFoundIndexID = -1;
  FOpener.Open(FCursor, TableName);
  if (!FCursor.TableData) throw ESDBException(kSDBErrTableNotActive, "Nil pointer occured");
  FState = csBrowse;
  FHasRange = false;
  FHasRecord = false;
  FBof = FEof = true;
  if (Positioned) First();
}

void TSDBTableCursor::Close() {
  if (FState == csInactive) return;
  if (FState == csEdit || FState == csInsert) Cancel();
  if (FCursor.FBatchUpdate) EndBatchUpdate(true);
  FState = csInactive;
  FHasRecord = false;
  FEof = FBof = true;
  FHasRange = false;
  FOpener.Close(FCursor);
  FCursor.CurrentIndexID = -1;
  FCursor.PositionCache.Clear();
}

// ---- Order ------------------------------------------------------------------------------------------

void TSDBTableCursor::SetIndexID(int32_t IndexID) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  if (IndexID >= 0) Table().IndexManager().OpenIndex(IndexID);
  FCursor.CurrentIndexID = IndexID;
  FCursor.PositionCache.Clear();
  FHasRange = false;
  if (!FHasRecord) {
    First();
    return;
  }
  // Stay on the same record in the new order.
  if (!PositionOn(FCursor.CurrentRecordID)) First();
  FEof = FBof = false;
}

void TSDBTableCursor::SetIndexName(const std::string& IndexName) {
  CheckActive();
  if (IndexName.empty()) {
    SetIndexID(-1);
    return;
  }
  SetIndexID(IndexIDOfName(IndexName));
}

int32_t TSDBTableCursor::IndexIDOfName(const std::string& IndexName) {
  const int32_t id = Table().IndexIDByName(IndexName);
  if (id < 0) throw ESDBException(kSDBErrNoSuchIndex, "Index not found");
  return id;
}

void TSDBTableCursor::SetIndexFieldNames(const std::vector<std::string>& FieldNames,
                                         const std::vector<std::string>& AscDesc,
                                         const std::vector<std::string>& CaseSensitivity) {
  CheckActive();
  if (FieldNames.empty()) {
    SetIndexID(-1);
    return;
  }
  bool created = false;
  SetIndexID(Table().FindOrCreateIndex(FCursor, FieldNames, created, CaseSensitivity, AscDesc));
}

std::string TSDBTableCursor::IndexName() const {
  if (FCursor.CurrentIndexID < 0 || !FCursor.TableData) return {};
  const TSDBIndexDef* d = FCursor.TableData->IndexDefs().FindByID(FCursor.CurrentIndexID);
  return d ? d->FName : std::string();
}

TSDBBTreeRecordIndex& TSDBTableCursor::CurrentIndex() {
  CheckActive();
  if (FCursor.CurrentIndexID < 0) throw ESDBException(kSDBErrNoSuchIndex, "Index not found");
  return Table().IndexManager().OpenIndex(FCursor.CurrentIndexID);
}

// ---- Range ------------------------------------------------------------------------------------------

TSDBScanSearchCondition TSDBTableCursor::MakeBound(const std::vector<TSDBVariant>& Values,
                                                   TSDBSearchCondition Condition, bool PartialCompare) {
  if (Values.empty()) return {};
  return MakeBound(CurrentIndex(), Values, Condition, PartialCompare);
}

TSDBScanSearchCondition TSDBTableCursor::MakeBound(TSDBBTreeRecordIndex& idx, const std::vector<TSDBVariant>& Values,
                                                   TSDBSearchCondition Condition, bool PartialCompare) {
  TSDBScanSearchCondition c;
  FillBound(c, idx, Values, Condition, PartialCompare);
  return c;
}

void TSDBTableCursor::FillBound(TSDBScanSearchCondition& c, TSDBBTreeRecordIndex& idx,
                                const std::vector<TSDBVariant>& Values, TSDBSearchCondition Condition,
                                bool PartialCompare) {
  if (Values.empty()) {
    c = {};
    return;
  }
  const TSDBIndexDef& def = idx.IndexDef();
  if (Values.size() > def.FColumns.size())
    throw ESDBException(kSDBErrKeyListLengths, "Error - different list lengths. L1 = %d, L2 = %d",
                        {static_cast<int64_t>(Values.size()), static_cast<int64_t>(def.FColumns.size())});
  TSDBDiskTableData& t = Table();
  TSDBBaseFieldManager& fm = t.FieldManager();
  // The empty record of the table's layout, made once per definitions: a
  // bound set again (a kept query's range, each run) reuses its buffer.
  if (FBlankRecord.empty() || FBlankGeneration != t.DefinitionsGeneration()) {
    FBlankRecord = fm.NewMemRecordBuffer();
    FBlankGeneration = t.DefinitionsGeneration();
  }
  c.Condition = scNone;
  c.KeyRecordBuffer.assign(FBlankRecord.begin(), FBlankRecord.end());
  for (size_t i = 0; i < Values.size(); ++i) {
    const int f = fm.FieldNo(def.FColumns[i].FFieldName);
    if (f < 0) throw ESDBException(kSDBErrCursorFieldNotFound, "Field '%s' not found", {def.FColumns[i].FFieldName});
    fm.SetFieldValue(c.KeyRecordBuffer.data(), f, Values[i]);
  }
  c.Condition = Condition;
  c.KeyFieldCount = static_cast<int>(Values.size());
  c.IndexID = idx.IndexID();
  c.PartialCompare = PartialCompare;
}

void TSDBTableCursor::SetRange(const std::vector<TSDBVariant>& StartValues, const std::vector<TSDBVariant>& EndValues,
                               bool StartExclusive, bool EndExclusive, bool PartialCompare) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  // A bound that cannot be made leaves no range rather than half of one.
  FHasRange = false;
  if (StartValues.empty())
    FRangeStart = {};
  else
    FillBound(FRangeStart, CurrentIndex(), StartValues, StartExclusive ? scGreater : scGreaterEqual, PartialCompare);
  if (EndValues.empty())
    FRangeEnd = {};
  else
    FillBound(FRangeEnd, CurrentIndex(), EndValues, EndExclusive ? scLower : scLowerEqual, PartialCompare);
  if (FCursor.CurrentIndexID < 0) throw ESDBException(kSDBErrNoSuchIndex, "Index not found");
  FHasRange = true;
  First();
}

void TSDBTableCursor::SetIndexRange(const std::string& IndexName, const std::vector<TSDBVariant>& StartValues,
                                    const std::vector<TSDBVariant>& EndValues, bool StartExclusive,
                                    bool EndExclusive) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  const int32_t id = IndexIDOfName(IndexName);
  Table().IndexManager().OpenIndex(id);
  FCursor.CurrentIndexID = id;
  FCursor.PositionCache.Clear();
  FHasRange = false;
  SetRange(StartValues, EndValues, StartExclusive, EndExclusive);
}

void TSDBTableCursor::CancelRange() {
  if (!FHasRange) return;
  FHasRange = false;
  FRangeStart = {};
  FRangeEnd = {};
  if (!FHasRecord) First();
}

int64_t TSDBTableCursor::ApproxRangeRecordCount() {
  CheckActive();
  const int64_t total = Table().GetRecordCount(FCursor.SessionID);
  if (!FHasRange) return total;
  return IndexRead([&] {
    return CurrentIndex().GetApproxRangeRecordCount(FCursor.SessionID, total,
                                                    FRangeStart.Condition != scNone ? &FRangeStart : nullptr,
                                                    FRangeEnd.Condition != scNone ? &FRangeEnd : nullptr);
  });
}

int64_t TSDBTableCursor::ApproxIndexRangeRecordCount(const std::string& IndexName,
                                                     const std::vector<TSDBVariant>& StartValues,
                                                     const std::vector<TSDBVariant>& EndValues, bool StartExclusive,
                                                     bool EndExclusive) {
  CheckActive();
  const int32_t id = IndexIDOfName(IndexName);
  TSDBBTreeRecordIndex& idx = Table().IndexManager().OpenIndex(id);
  const TSDBScanSearchCondition start = MakeBound(idx, StartValues, StartExclusive ? scGreater : scGreaterEqual, false);
  const TSDBScanSearchCondition end = MakeBound(idx, EndValues, EndExclusive ? scLower : scLowerEqual, false);
  const int64_t total = Table().GetRecordCount(FCursor.SessionID);
  TSDBKeyPath lower;
  const int64_t n = IndexRead([&] {
    return Table().IndexManager().OpenIndex(id).GetApproxRangeRecordCount(
        FCursor.SessionID, total, start.Condition != scNone ? &start : nullptr,
        end.Condition != scNone ? &end : nullptr, &lower);
  });
  // Where the range starts: positioning on it next needs no second search.
  if (start.Condition != scNone && !lower.Empty()) RememberFound(id, true, start, lower, {});
  return n;
}

bool TSDBTableCursor::InStartBound(const uint8_t* RecordBuffer) {
  if (!FHasRange || FRangeStart.Condition == scNone) return true;
  CriticalSection cs(Table());
  return CurrentIndex().RecordSatisfies(RecordBuffer, FRangeStart);
}

bool TSDBTableCursor::InEndBound(const uint8_t* RecordBuffer) {
  if (!FHasRange || FRangeEnd.Condition == scNone) return true;
  CriticalSection cs(Table());
  return CurrentIndex().RecordSatisfies(RecordBuffer, FRangeEnd);
}

bool TSDBTableCursor::InRange(const uint8_t* RecordBuffer) {
  return InStartBound(RecordBuffer) && InEndBound(RecordBuffer);
}

// ---- Navigation --------------------------------------------------------------------------------------

bool TSDBTableCursor::PositionOn(const TSDBPageItemID& RecordID) {
  TSDBDiskTableData& t = Table();
  const TSDBPageItemID saved = FCursor.CurrentRecordID;
  const bool first = FCursor.FirstPosition, last = FCursor.LastPosition;
  FCursor.CurrentRecordID = RecordID;
  FCursor.FirstPosition = FCursor.LastPosition = false;
  if (t.GetRecordBuffer(FCursor, grmCurrent) == grrOK) {
    FHasRecord = true;
    return true;
  }
  FCursor.CurrentRecordID = saved;
  FCursor.FirstPosition = first;
  FCursor.LastPosition = last;
  return false;
}

bool TSDBTableCursor::Step(TSDBGetRecordMode Mode, bool FromEdge) {
  TSDBDiskTableData& t = Table();
  const TSDBPageItemID saved = FCursor.CurrentRecordID;
  const bool hadRecord = FHasRecord;
  if (FromEdge) {
    FCursor.FirstPosition = Mode == grmNext;
    FCursor.LastPosition = Mode == grmPrior;
  }
  const TSDBGetRecordResult r = t.GetRecordBuffer(FCursor, Mode);
  if (r == grrError) throw ESDBException(kSDBErrUpdateRecordNotFound, "Record not found");
  if (r == grrOK) {
    FHasRecord = true;
    return true;
  }
  // Off the end: the cursor stays on the record it had.
  if (hadRecord && !FromEdge && PositionOn(saved)) return false;
  FHasRecord = false;
  return false;
}

void TSDBTableCursor::First() {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  bool found;
  if (FHasRange && FRangeStart.Condition != scNone) {
    TSDBPageItemID id;
    found = FindInIndex(true, FRangeStart, id) && PositionOn(id);
  } else {
    found = Step(grmNext, true);
  }
  if (found && !InRange(FCursor.CurrentRecordBuffer.data())) found = false;
  FHasRecord = found;
  FBof = true;
  FEof = !found;
}

void TSDBTableCursor::Last() {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  bool found;
  if (FHasRange && FRangeEnd.Condition != scNone) {
    TSDBPageItemID id;
    found = FindInIndex(false, FRangeEnd, id) && PositionOn(id);
  } else {
    found = Step(grmPrior, true);
  }
  if (found && !InRange(FCursor.CurrentRecordBuffer.data())) found = false;
  FHasRecord = found;
  FEof = true;
  FBof = !found;
}

void TSDBTableCursor::Next() {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  if (!FHasRecord) {
    FEof = true;
    return;
  }
  if (RangeEndsHere(true)) {
    FEof = true;
    return;
  }
  const TSDBPageItemID saved = FCursor.CurrentRecordID;
  if (!Step(grmNext, false)) {
    FEof = true;
    return;
  }
  if (!InEndBound(FCursor.CurrentRecordBuffer.data())) {
    PositionOn(saved);
    FEof = true;
    return;
  }
  FBof = FEof = false;
}

void TSDBTableCursor::Prior() {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  if (!FHasRecord) {
    FBof = true;
    return;
  }
  if (RangeEndsHere(false)) {
    FBof = true;
    return;
  }
  const TSDBPageItemID saved = FCursor.CurrentRecordID;
  if (!Step(grmPrior, false)) {
    FBof = true;
    return;
  }
  if (!InStartBound(FCursor.CurrentRecordBuffer.data())) {
    PositionOn(saved);
    FBof = true;
    return;
  }
  FBof = FEof = false;
}

int64_t TSDBTableCursor::MoveBy(int64_t Distance) {
  int64_t moved = 0;
  while (Distance > 0 && (Next(), !FEof)) --Distance, ++moved;
  while (Distance < 0 && (Prior(), !FBof)) ++Distance, --moved;
  return moved;
}

bool TSDBTableCursor::IsEmpty() {
  CheckActive();
  if (!FHasRange) return Table().GetRecordCount(FCursor.SessionID) == 0;
  return !FHasRecord;
}

int64_t TSDBTableCursor::RecordCount() {
  CheckActive();
  if (!FHasRange) return Table().GetRecordCount(FCursor.SessionID);
  // A range is counted exactly by walking it; the cursor keeps its place.
  const bool hadRecord = FHasRecord, eof = FEof, bof = FBof;
  const TSDBPageItemID saved = FCursor.CurrentRecordID;
  int64_t n = 0;
  if (FState == csBrowse) {
    for (First(); !FEof; Next()) ++n;
    if (hadRecord) PositionOn(saved);
    FHasRecord = hadRecord;
    FEof = eof;
    FBof = bof;
  }
  return n;
}

int64_t TSDBTableCursor::RecNo() {
  CheckActive();
  if (!FHasRecord || FState == csInsert) return 0;
  return Table().GetRecNo(FCursor);
}

void TSDBTableCursor::SetRecNo(int64_t RecNo) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  Table().SetRecNo(FCursor, RecNo);
  FHasRecord = true;
  FEof = FBof = false;
}

bool TSDBTableCursor::GotoRecordID(const TSDBPageItemID& RecordID) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  if (!PositionOn(RecordID)) return false;
  FEof = FBof = false;
  return true;
}

bool TSDBTableCursor::Refresh() {
  CheckActive();
  if (!FHasRecord) return false;
  if (PositionOn(FCursor.CurrentRecordID)) return true;
  FHasRecord = false;
  return false;
}

bool TSDBTableCursor::Locate(const std::vector<std::string>& FieldNames, const std::vector<TSDBVariant>& Values,
                             bool CaseInsensitive, bool PartialKey) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  if (FieldNames.size() != Values.size())
    throw ESDBException(kSDBErrKeyListLengths, "Error - different list lengths. L1 = %d, L2 = %d",
                        {static_cast<int64_t>(FieldNames.size()), static_cast<int64_t>(Values.size())});
  std::vector<int> fields;
  for (const auto& n : FieldNames) fields.push_back(FieldNo(n));
  const bool hadRecord = FHasRecord, eof = FEof, bof = FBof;
  const TSDBPageItemID saved = FCursor.CurrentRecordID;
  TSDBDiskTableData& t = Table();
  for (First(); !FEof; Next()) {
    bool match = true;
    for (size_t i = 0; i < fields.size() && match; ++i) {
      const TSDBVariant v = t.GetFieldValue(FCursor.CurrentRecordBuffer, fields[i]);
      const TSDBVariant& want = Values[i];
      if (want.IsNull() || v.IsNull()) {
        match = want.IsNull() && v.IsNull();
      } else if (PartialKey && SDBIsTextType(v.DataType())) {
        match = TextStartsWith(v.AsString(), want.AsString(), CaseInsensitive);
      } else {
        match = v.Compare(want, CaseInsensitive) == 0;
      }
    }
    if (match) {
      FBof = FEof = false;
      return true;
    }
  }
  if (hadRecord) PositionOn(saved);
  FHasRecord = hadRecord;
  FEof = eof;
  FBof = bof;
  return false;
}

bool TSDBTableCursor::FindKey(const std::vector<TSDBVariant>& KeyValues) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  TSDBScanSearchCondition c = MakeBound(KeyValues, scEqual, false);
  if (c.Condition == scNone) return false;
  TSDBPageItemID id;
  if (!FindInIndex(true, c, id)) return false;
  const TSDBPageItemID saved = FCursor.CurrentRecordID;
  if (!PositionOn(id)) return false;
  if (!InRange(FCursor.CurrentRecordBuffer.data())) {
    PositionOn(saved);
    return false;
  }
  FEof = FBof = false;
  return true;
}

bool TSDBTableCursor::FindNearest(const std::vector<TSDBVariant>& KeyValues) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  TSDBScanSearchCondition c = MakeBound(KeyValues, scGreaterEqual, false);
  if (c.Condition == scNone) {
    First();
    return FHasRecord;
  }
  TSDBPageItemID id;
  if (!FindInIndex(true, c, id)) {
    Last();
    FEof = true;
    return false;
  }
  const TSDBPageItemID saved = FCursor.CurrentRecordID;
  if (!PositionOn(id)) return false;
  if (!InRange(FCursor.CurrentRecordBuffer.data())) {
    PositionOn(saved);
    return false;
  }
  FEof = FBof = false;
  return true;
}

// ---- Editing ---------------------------------------------------------------------------------------------

bool TSDBTableCursor::ReadCurrent(std::vector<uint8_t>& Buffer) {
  return Table().ReadRecordForIndex(FCursor.SessionID, FCursor.CurrentRecordID, Buffer);
}

void TSDBTableCursor::ClearBuffers() {
  TSDBDiskTableData& t = Table();
  t.ClearBlobsCacheInRecordBuffer(FCursor.EditRecordBuffer);
}

void TSDBTableCursor::Insert() {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  TSDBDiskTableData& t = Table();
  ClearBuffers();
  FCursor.EditRecordBuffer = t.NewRecordBuffer();
  FState = csInsert;
}

void TSDBTableCursor::Edit() {
  CheckActive();
  if (FState == csEdit || FState == csInsert) return;
  if (!FHasRecord) throw ESDBException(kSDBErrUpdateRecordNotFound, "Record not found");
  TSDBDiskTableData& t = Table();
  const int s = FCursor.SessionID;
  FEditLockType = FCursor.FInTransaction ? ltXIRW : ltSIRW;
  if (!t.LockTable(s, FEditLockType, kSDBEditTableLockTryCount, kSDBEditTableLockDelayMs, true)) RaiseEngine(kSDBRecErrTableLocked);
  FEditTableLocked = true;
  if (!t.LockRecord(s, FCursor.CurrentRecordID, kSDBRecordLockTryCount, kSDBRecordLockDelayMs)) {
    ReleaseEditLocks();
    RaiseEngine(kSDBRecErrRecordLocked);
  }
  FRecordLocked = true;
  std::vector<uint8_t> stored;
  if (!ReadCurrent(stored)) {
    ReleaseEditLocks();
    FHasRecord = false;
    RaiseEngine(kSDBRecErrUpdateDeleted);
  }
  if (!t.FieldManager().CompareRecordBuffers(stored.data(), FCursor.CurrentRecordBuffer.data())) {
    ReleaseEditLocks();
    // The cursor shows the record as it now is.
    PositionOn(FCursor.CurrentRecordID);
    RaiseEngine(kSDBRecErrUpdateModified);
  }
  FEditOriginal = stored;
  FEditTableState = t.TableState();
  ClearBuffers();
  FCursor.EditRecordBuffer = FCursor.CurrentRecordBuffer;
  FState = csEdit;
}

bool TSDBTableCursor::EditRecordID(const TSDBPageItemID& RecordID) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  TSDBDiskTableData& t = Table();
  if (t.BlobManager()) {
    // A buffer with BLOBs is read through the cursor, which manages their cache.
    if (!GotoRecordID(RecordID)) return false;
    Edit();
    return true;
  }
  const int s = FCursor.SessionID;
  FEditLockType = FCursor.FInTransaction ? ltXIRW : ltSIRW;
  if (!t.LockTable(s, FEditLockType, kSDBEditTableLockTryCount, kSDBEditTableLockDelayMs, true)) RaiseEngine(kSDBRecErrTableLocked);
  FEditTableLocked = true;
  if (!t.LockRecord(s, RecordID, kSDBRecordLockTryCount, kSDBRecordLockDelayMs)) {
    FEditTableLocked = false;
    if (!FCursor.FInTransaction) t.UnlockTable(s, FEditLockType, true);
    RaiseEngine(kSDBRecErrRecordLocked);
  }
  const TSDBPageItemID saved = FCursor.CurrentRecordID;
  FCursor.CurrentRecordID = RecordID;
  FRecordLocked = true;
  bool found = false;
  try {
    found = ReadCurrent(FEditOriginal);
  } catch (...) {
    ReleaseEditLocks();
    FCursor.CurrentRecordID = saved;
    throw;
  }
  if (!found) {
    ReleaseEditLocks();
    FCursor.CurrentRecordID = saved;
    FEditOriginal.clear();
    return false;
  }
  FEditTableState = t.TableState();
  FCursor.FirstPosition = FCursor.LastPosition = false;
  FCursor.CurrentRecordBuffer = FEditOriginal;
  FCursor.EditRecordBuffer = FEditOriginal;
  FHasRecord = true;
  FEof = FBof = false;
  FState = csEdit;
  return true;
}

void TSDBTableCursor::ReleaseEditLocks() {
  TSDBDiskTableData& t = Table();
  const int s = FCursor.SessionID;
  if (FRecordLocked) t.UnlockRecord(s, FCursor.CurrentRecordID);
  FRecordLocked = false;
  if (FEditTableLocked) {
    // Inside a transaction the lock belongs to the transaction until commit.
    if (!FCursor.FInTransaction) t.UnlockTable(s, FEditLockType, true);
    FEditTableLocked = false;
  }
}

bool TSDBTableCursor::LockTableForPost(int TryCount, int DelayMs, TSDBLockType& Taken) {
  TSDBDiskTableData& t = Table();
  Taken = FCursor.FInTransaction ? ltXIRW : ltRW;
  // One attempt at a time: the critical section is free between attempts.
  for (int i = 0; i < TryCount; ++i) {
    if (t.LockTable(FCursor.SessionID, Taken, 1, 0, true)) return true;
    Sleep(DelayMs);
  }
  return false;
}

void TSDBTableCursor::Post() {
  CheckActive();
  if (FState != csEdit && FState != csInsert) return;
  TSDBDiskTableData& t = Table();
  const int s = FCursor.SessionID;
  TSDBLockType taken;
  if (!LockTableForPost(kSDBPostLockTryCount, kSDBPostLockDelayMs, taken)) RaiseEngine(kSDBRecErrTableLocked);
  auto releasePostLock = [&] {
    if (!FCursor.FInTransaction) t.UnlockTable(s, taken, true);
  };
  try {
    if (FState == csInsert) {
      if (t.MultiUser()) t.LoadMostUpdated(s);
      bool ok = false;
      try {
        ok = t.InsertRecord(FCursor);
      } catch (const ESDBEngineError&) {
        throw;
      } catch (const ESDBException& e) {
        throw ESDBEngineError(kSDBRecErrPassedOn, e.RawMessage(), e.NativeError());
      }
      if (!ok) RaiseEngine(kSDBRecErrAdd);
    } else {
      // The record must still be as it was when the edit began.
      bool ok = false;
      TSDBDiskTableData::TSDBStoredRecord found = TSDBDiskTableData::TSDBStoredRecord::Gone;
      try {
        ok = t.UpdateRecord(FCursor, FEditOriginal.data(), FEditTableState, found);
      } catch (const ESDBEngineError&) {
        throw;
      } catch (const ESDBException& e) {
        throw ESDBEngineError(kSDBRecErrPassedOn, e.RawMessage(), e.NativeError());
      }
      if (!ok)
        RaiseEngine(found == TSDBDiskTableData::TSDBStoredRecord::Gone ? kSDBRecErrUpdateDeleted
                                                                        : kSDBRecErrUpdateModified);
    }
  } catch (...) {
    releasePostLock();
    throw;
  }
  if (FState == csEdit) {
    if (FRecordLocked) t.UnlockRecord(s, FCursor.CurrentRecordID);
    FRecordLocked = false;
    // Inside a transaction the edit took ltXIRW, which stays until commit.
    if (FEditTableLocked) t.UnlockTable(s, ltSIRW, FCursor.FInTransaction);
    FEditTableLocked = false;
  }
  releasePostLock();
  const bool inserted = FState == csInsert;
  FState = csBrowse;
  FEditOriginal.clear();
  // The stored record becomes current (it may lie outside the range). The
  // table left it in CurrentRecordBuffer as stored (an insert as a read
  // gives it); an edited record with BLOBs is read again so that its buffer
  // holds no value cached for the edit.
  if (t.BlobManager() && !inserted)
    PositionOn(FCursor.CurrentRecordID);
  else
    FHasRecord = true;
  FEof = FBof = false;
}

void TSDBTableCursor::Cancel() {
  CheckActive();
  if (FState != csEdit && FState != csInsert) return;
  if (FState == csEdit) ReleaseEditLocks();
  ClearBuffers();
  FCursor.EditRecordBuffer = Table().FieldManager().NewMemRecordBuffer();
  FState = csBrowse;
  FEditOriginal.clear();
  if (FHasRecord && !PositionOn(FCursor.CurrentRecordID)) First();
}

void TSDBTableCursor::Delete() {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  if (!FHasRecord) throw ESDBException(kSDBErrDeleteRecordNotFound, "Record not found");
  TSDBDiskTableData& t = Table();
  const int s = FCursor.SessionID;
  TSDBLockType taken;
  if (!LockTableForPost(kSDBDeleteLockTryCount, kSDBDeleteLockDelayMs, taken)) RaiseEngine(kSDBRecErrTableLocked);
  const TSDBPageItemID id = FCursor.CurrentRecordID;
  bool recordLocked = false;
  try {
    if (!t.LockRecord(s, id, kSDBRecordLockTryCount, kSDBRecordLockDelayMs)) RaiseEngine(kSDBRecErrRecordLocked);
    recordLocked = true;
    std::vector<uint8_t> stored;
    if (!ReadCurrent(stored)) {
      FHasRecord = false;
      RaiseEngine(kSDBRecErrDeleteDeleted);
    }
    if (!t.FieldManager().CompareRecordBuffers(stored.data(), FCursor.CurrentRecordBuffer.data())) {
      PositionOn(id);
      RaiseEngine(kSDBRecErrDeleteModified);
    }
    bool ok = false;
    try {
      ok = t.DeleteRecord(FCursor);
    } catch (const ESDBEngineError&) {
      throw;
    } catch (const ESDBException& e) {
      throw ESDBEngineError(kSDBRecErrPassedOn, e.RawMessage(), e.NativeError());
    }
    if (!ok) RaiseEngine(kSDBRecErrDelete);
  } catch (...) {
    if (recordLocked) t.UnlockRecord(s, id);
    if (!FCursor.FInTransaction) t.UnlockTable(s, taken, true);
    throw;
  }
  t.UnlockRecord(s, id);
  if (!FCursor.FInTransaction) t.UnlockTable(s, taken, true);
  // The table put the cursor on the neighbour (or before the first record).
  FHasRecord = !FCursor.FirstPosition && !FCursor.LastPosition;
  if (FHasRecord && FHasRange && !InRange(FCursor.CurrentRecordBuffer.data())) {
    // The neighbour lies outside the range: the range starts over.
    First();
    return;
  }
  FEof = !FHasRecord;
  FBof = !FHasRecord;
}

void TSDBTableCursor::BeginBatchUpdate() {
  CheckActive();
  FCursor.FBatchUpdate = true;
}

void TSDBTableCursor::EndBatchUpdate(bool Commit) {
  CheckActive();
  if (!FCursor.FBatchUpdate) return;
  FCursor.FBatchUpdate = false;
  TSDBDiskTableData& t = Table();
  if (Commit) {
    try {
      t.ApplyChanges(FCursor.SessionID, FCursor.FInTransaction);
    } catch (...) {
      // A commit that failed left nothing in the file; the batch must not
      // stay half in the cache either (a retry starts from the file).
      if (!FCursor.FInTransaction) {
        try {
          t.CancelChanges(FCursor.SessionID, false);
          t.Rollback(FCursor.SessionID);
        } catch (...) {
        }
      }
      throw;
    }
  } else {
    t.CancelChanges(FCursor.SessionID, FCursor.FInTransaction);
    if (!FCursor.FInTransaction) t.Rollback(FCursor.SessionID);
    if (FState == csBrowse) First();
  }
}

// ---- Fields ---------------------------------------------------------------------------------------------

int TSDBTableCursor::FieldCount() { return Table().FieldManager().FieldCount(); }

int TSDBTableCursor::FieldNo(const std::string& FieldName) {
  const int f = Table().FieldManager().FieldNo(FieldName);
  if (f < 0) throw ESDBException(kSDBErrCursorFieldNotFound, "Field '%s' not found", {FieldName});
  return f;
}

const TSDBFieldDef& TSDBTableCursor::FieldDef(int FieldNo) {
  TSDBBaseFieldManager& fm = Table().FieldManager();
  fm.CheckFieldNo(FieldNo);
  return fm.FFieldDefs[FieldNo];
}

std::vector<uint8_t>& TSDBTableCursor::ValueBuffer() {
  return FState == csEdit || FState == csInsert ? FCursor.EditRecordBuffer : FCursor.CurrentRecordBuffer;
}

TSDBVariant TSDBTableCursor::GetFieldValue(int FieldNo) {
  const TSDBFieldDef& def = FieldDef(FieldNo);
  if (FState == csBrowse && !FHasRecord) return TSDBVariant(def.FBaseFieldType);
  if (def.IsBlob()) {
    return SDBBlobValue(def.FBaseFieldType, ReadBlob(FieldNo));
  }
  return Table().GetFieldValue(ValueBuffer(), FieldNo);
}

bool TSDBTableCursor::IsNull(int FieldNo) {
  const TSDBFieldDef& def = FieldDef(FieldNo);
  if (FState == csBrowse && !FHasRecord) return true;
  if (def.IsBlob()) return ReadBlob(FieldNo).empty();
  return Table().FieldManager().IsNull(ValueBuffer().data(), FieldNo);
}

void TSDBTableCursor::SetFieldValue(int FieldNo, const TSDBVariant& Value) {
  CheckActive();
  if (FState != csEdit && FState != csInsert)
    throw ESDBException(kSDBErrCursorNotEditing, "Dataset not in edit or insert mode");
  const TSDBFieldDef& def = FieldDef(FieldNo);
  if (def.IsBlob()) {
    if (Value.IsNull()) {
      ClearBlob(FieldNo);
    } else {
      WriteBlob(FieldNo, SDBBlobBytes(def, Value));
    }
    return;
  }
  Table().SetFieldValue(FCursor.EditRecordBuffer, FieldNo, Value);
}

std::vector<uint8_t> TSDBTableCursor::ReadBlob(int FieldNo) {
  CheckActive();
  if (FState == csBrowse && !FHasRecord) return {};
  return Table().ReadBlobField(FCursor, ValueBuffer(), FieldNo);
}

std::string TSDBTableCursor::ReadBlobText(int FieldNo) {
  CheckActive();
  if (FState == csBrowse && !FHasRecord) return {};
  return Table().ReadBlobFieldText(FCursor, ValueBuffer(), FieldNo);
}

void TSDBTableCursor::WriteBlob(int FieldNo, const std::vector<uint8_t>& Value) {
  CheckActive();
  if (FState != csEdit && FState != csInsert)
    throw ESDBException(kSDBErrCursorNotEditing, "Dataset not in edit or insert mode");
  Table().WriteBLOBFieldToRecordBuffer(FCursor.EditRecordBuffer, FieldNo, Value);
}

void TSDBTableCursor::WriteBlobText(int FieldNo, const std::string& Value) {
  WriteBlob(FieldNo, std::vector<uint8_t>(Value.begin(), Value.end()));
}

void TSDBTableCursor::ClearBlob(int FieldNo) {
  CheckActive();
  if (FState != csEdit && FState != csInsert)
    throw ESDBException(kSDBErrCursorNotEditing, "Dataset not in edit or insert mode");
  Table().ClearBLOBFieldInRecordBuffer(FCursor.EditRecordBuffer, FieldNo);
}

// ---- Indexes --------------------------------------------------------------------------------------------

int32_t TSDBTableCursor::AddIndex(const TSDBIndexDef& IndexDef) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  return Table().AddIndex(FCursor, IndexDef);
}

void TSDBTableCursor::DeleteIndex(const std::string& IndexName) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  const bool current = FCursor.CurrentIndexID >= 0 && FCursor.CurrentIndexID == Table().IndexIDByName(IndexName);
  Table().DeleteIndex(FCursor, IndexName);
  if (current) {
    FHasRange = false;
    FCursor.CurrentIndexID = -1;
  }
}

void TSDBTableCursor::EmptyIndex(const std::string& IndexName) {
  CheckBrowse(kSDBErrCursorNotBrowsing);
  Table().EmptyIndex(FCursor, IndexName);
}

void TSDBTableCursor::ApplyDistinct(TSDBRecordBitmap& Bitmap, int FieldCount) {
  CheckActive();
  IndexRead([&] {
    CurrentIndex().ApplyDistinctToRecordBitmap(FCursor.SessionID, &Bitmap, FieldCount);
    return true;
  });
}

}  // namespace sdb
