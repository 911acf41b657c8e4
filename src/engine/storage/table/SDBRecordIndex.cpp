#include "storage/table/SDBRecordIndex.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/table/SDBBTreeIndexDef.h"
#include "storage/file/SDBMemoryPageManager.h"
#include "storage/table/SDBTableData.h"
#include "common/SDBNames.h"

namespace sdb {

namespace {

TSDBCheckConstraintEvaluator& Evaluator() {
  static TSDBCheckConstraintEvaluator e;
  return e;
}

// Leaf page fields used by the leaf walks of record numbers and DISTINCT.
struct LeafInfo {
  int32_t Left = -1;
  int32_t Right = -1;
  int Count = 0;
};

LeafInfo ReadLeaf(TSDBPageManager& pm, int SessionID, int32_t PageNo) {
  TSDBPageGuard g = SDBGetPageGuard(pm, SessionID, PageNo, ptTableIndex);
  const uint8_t* d = g.Get()->Data();
  LeafInfo li;
  li.Left = GetLEI32(d + 2);
  li.Right = GetLEI32(d + 6);
  li.Count = GetLE16(d + 14);
  return li;
}

std::string NewGuidText() {
  static std::mt19937_64 rng{std::random_device{}()};
  uint64_t a = rng(), b = rng();
  char buf[64];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>((a & 0x0FFF) | 0x4000),
                static_cast<unsigned>(((b >> 48) & 0x3FFF) | 0x8000),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return buf;
}

}  // namespace

void SDBSetCheckConstraintEvaluator(TSDBCheckConstraintEvaluator E) { Evaluator() = std::move(E); }
const TSDBCheckConstraintEvaluator& SDBGetCheckConstraintEvaluator() { return Evaluator(); }

// ---- TSDBRecordBitmap -------------------------------------------------------------------------

void TSDBRecordBitmap::SetVisible(int64_t No, bool Visible) {
  if (No < 0) return;
  if (No >= Size()) {
    if (!Visible) return;
    Resize(No + 1, false);
  }
  FBits[static_cast<size_t>(No)] = Visible;
}

int64_t TSDBRecordBitmap::VisibleCount() const { return std::count(FBits.begin(), FBits.end(), true); }

// ---- TSDBBTreeRecordIndex -----------------------------------------------------------------------

TSDBBTreeRecordIndex::TSDBBTreeRecordIndex(TSDBBaseIndexManager& Manager, TSDBIndexDef& IndexDef)
    : FIndexManager(Manager), FIndexDef(&IndexDef) {}

TSDBPageManager& TSDBBTreeRecordIndex::PageManager() { return FIndexManager.GetPageManager(*FIndexDef); }

void TSDBBTreeRecordIndex::OpenIndex() {
  SDBAssignRecordKeyRef(FKeyRef, *FIndexDef, FIndexManager.TableData().FieldManager().FFieldDefs,
                        &FIndexManager.TableData());
  FOpened = true;
}

TSDBBTreePage TSDBBTreeRecordIndex::Tree(int Code) {
  if (FIndexDef->FRootPageNo < 0) throw ESDBException(Code, "Invalid page number");
  if (!FOpened) OpenIndex();
  return TSDBBTreePage(FKeyRef, PageManager(), FIndexDef->FRootPageNo);
}

void TSDBBTreeRecordIndex::ResetCompare() { FKeyRef.SetPartialCompare(nullptr, false); }

void TSDBBTreeRecordIndex::CreateIndex(int SessionID, bool Fill) {
  if (!FOpened) OpenIndex();
  TSDBBTreePage t(FKeyRef, PageManager());
  FIndexDef->FRootPageNo = t.CreateRoot(SessionID);
  if (!Fill) return;
  TSDBDiskTableData& table = FIndexManager.TableData();
  TSDBDiskRecordManager& rm = table.RecordManager();
  std::vector<uint8_t> rec(static_cast<size_t>(table.FieldManager().MemoryRecordBufferSize()));
  TSDBNavigationInfo info;
  info.RecordBuffer = rec.data();
  info.FirstPosition = true;
  info.GetRecordMode = grmNext;
  for (;;) {
    rm.GetRecordBuffer(SessionID, info);
    if (info.GetRecordResult != grrOK) break;
    info.FirstPosition = false;
    if (FIndexDef->FUnique || FIndexDef->FPrimary) {
      if (!CanInsertRecord(SessionID, rec.data())) {
        if (FIndexDef->FPrimary)
          throw ESDBException(kSDBErrPrimaryKeyViolated, "Primary Key constraint '%s' violated. Duplicate found.", {FIndexDef->FName});
        throw ESDBException(kSDBErrUniqueViolated, "Constraint unique '%s' violated. Duplicate found.", {FIndexDef->FName});
      }
    }
    InsertRecord(SessionID, rec.data(), info.RecordID);
  }
}

void TSDBBTreeRecordIndex::EmptyIndex(int SessionID) { Tree(kSDBErrRecordIndexEmptyNoRoot).FreeAllPages(SessionID, true); }

void TSDBBTreeRecordIndex::DropIndex(int SessionID) {
  Tree(kSDBErrRecordIndexDropNoRoot).FreeAllPages(SessionID, false);
  FIndexDef->FRootPageNo = -1;
}

void TSDBBTreeRecordIndex::RebuildTemporaryIndex(int SessionID) {
  if (FIndexDef->FRootPageNo >= 0) DropIndex(SessionID);
  CreateIndex(SessionID, true);
}

void TSDBBTreeRecordIndex::Answer(int SessionID, TSDBNavigationInfo& Info, TSDBIndexPositionCache& Cache,
                                  int32_t TableState, const TSDBKeyPath& Position) {
  TSDBPageItemID id = GetRecordIDByIndexPosition(SessionID, Position);
  TSDBDiskTableData& table = FIndexManager.TableData();
  std::vector<uint8_t> rec;
  if (!table.ReadRecordForIndex(SessionID, id, rec)) {
    Info.GetRecordResult = grrError;
    return;
  }
  if (Info.RecordBuffer) std::copy(rec.begin(), rec.end(), Info.RecordBuffer);
  Info.RecordID = id;
  Info.FirstPosition = Info.LastPosition = false;
  Info.GetRecordResult = grrOK;
  Cache.Position = Position;
  Cache.IndexID = IndexID();
  Cache.RecordID = id;
  Cache.TableState = TableState;
}

void TSDBBTreeRecordIndex::GetRecordBuffer(int SessionID, TSDBNavigationInfo& Info, TSDBIndexPositionCache& Cache,
                                           int32_t TableState) {
  if (Info.GetRecordMode == grmCurrent)
    throw ESDBException(kSDBErrInvalidGetRecordMode, "Invalid 'get record' mode for index: grmCurrent");
  TSDBBTreePage t = Tree(kSDBErrRecordIndexReadNoRoot);
  ResetCompare();
  const bool next = Info.GetRecordMode == grmNext;
  TSDBKeyPath pos;
  if (Info.FirstPosition || Info.LastPosition) {
    if (Info.FirstPosition && !next) {
      Info.GetRecordResult = grrBOF;
      return;
    }
    if (Info.LastPosition && next) {
      Info.GetRecordResult = grrEOF;
      return;
    }
    const bool found = Info.FirstPosition ? t.GetFirstPosition(SessionID, pos) : t.GetLastPosition(SessionID, pos);
    if (!found) {
      Info.GetRecordResult = Info.FirstPosition ? grrEOF : grrBOF;
      Info.FirstPosition = !next;
      Info.LastPosition = next;
      return;
    }
    Answer(SessionID, Info, Cache, TableState, pos);
    return;
  }
  if (Cache.IndexID == IndexID() && Cache.RecordID == Info.RecordID && Cache.TableState == TableState &&
      !Cache.Position.Empty()) {
    pos = Cache.Position;
  } else if (!GetIndexPosition(SessionID, Info.RecordID, Info.RecordBuffer, pos)) {
    // The navigation buffer may be stale (the record changed under another
    // cursor) or the record may be gone: use the stored record when it
    // still exists, else the nearest key.
    std::vector<uint8_t> stored;
    if (!FIndexManager.TableData().ReadRecordForIndex(SessionID, Info.RecordID, stored) ||
        !GetIndexPosition(SessionID, Info.RecordID, stored.data(), pos)) {
      GetClosestRecordBuffer(SessionID, Info, Cache, TableState);
      return;
    }
  }
  const bool moved = next ? t.GotoNextEntry(SessionID, pos) : t.GotoPriorEntry(SessionID, pos);
  if (!moved) {
    Info.GetRecordResult = next ? grrEOF : grrBOF;
    Info.LastPosition = next;
    Info.FirstPosition = !next;
    return;
  }
  Answer(SessionID, Info, Cache, TableState, pos);
}

void TSDBBTreeRecordIndex::GetClosestRecordBuffer(int SessionID, TSDBNavigationInfo& Info,
                                                  TSDBIndexPositionCache& Cache, int32_t TableState) {
  if (Info.GetRecordMode == grmCurrent)
    throw ESDBException(kSDBErrInvalidGetRecordMode, "Invalid 'get record' mode for index: grmCurrent");
  TSDBBTreePage t = Tree(kSDBErrRecordIndexClosestNoRoot);
  const bool next = Info.GetRecordMode == grmNext;
  TSDBKeyPath pos;
  bool found = false;
  if (Info.RecordBuffer) {
    ResetCompare();
    TSDBKeyBuffer key = FKeyRef.AllocShortKeyBuffer();
    FKeyRef.MakeShortKeyFromRecordBuffer(Info.RecordBuffer, key.data());
    found = t.FindByCondition(SessionID, next, next ? scGreater : scLower, key.data(), pos);
  }
  if (!found) {
    Info.GetRecordResult = next ? grrEOF : grrBOF;
    Info.LastPosition = next;
    Info.FirstPosition = !next;
    return;
  }
  Answer(SessionID, Info, Cache, TableState, pos);
}

bool TSDBBTreeRecordIndex::GetIndexPosition(int SessionID, const TSDBPageItemID& RecordID,
                                            const uint8_t* RecordBuffer, TSDBKeyPath& Position) {
  TSDBBTreePage t = Tree(kSDBErrRecordIndexPositionNoRoot);
  if (!RecordBuffer) return false;
  ResetCompare();
  TSDBKeyBuffer key = FKeyRef.AllocShortKeyBuffer();
  FKeyRef.MakeShortKeyFromRecordBuffer(RecordBuffer, key.data());
  uint8_t ref[TSDBPageItemID::kSize];
  RecordID.Save(ref);
  return t.FindEntry(SessionID, key.data(), ref, Position);
}

int TSDBBTreeRecordIndex::CompareRecordPositionsInIndex(const TSDBKeyPath& Position1,
                                                        const TSDBKeyPath& Position2) {
  return Position1.Compare(Position2);
}

TSDBPageItemID TSDBBTreeRecordIndex::GetRecordIDByIndexPosition(int SessionID, const TSDBKeyPath& Position) {
  TSDBBTreePage t = Tree(kSDBErrRecordIndexRecordIDNoRoot);
  uint8_t ref[TSDBPageItemID::kSize];
  t.GetEntry(SessionID, Position, nullptr, ref);
  TSDBPageItemID id;
  id.Load(ref);
  return id;
}

int64_t TSDBBTreeRecordIndex::GetRecNoByRecordID(int SessionID, const TSDBPageItemID& RecordID,
                                                 const uint8_t* RecordBuffer) {
  TSDBKeyPath pos;
  if (!GetIndexPosition(SessionID, RecordID, RecordBuffer, pos)) return -1;
  TSDBPageManager& pm = PageManager();
  int64_t recNo = pos.Last().EntryNo + 1;
  int32_t page = ReadLeaf(pm, SessionID, pos.Last().PageNo).Left;
  for (int32_t guard = 0; page >= 0; ++guard) {
    if (guard > pm.GetPageCount()) throw ESDBException(kSDBErrIndexInvalidPageNumber, "Index error: invalid page number");
    LeafInfo li = ReadLeaf(pm, SessionID, page);
    recNo += li.Count;
    page = li.Left;
  }
  return recNo;
}

TSDBPageItemID TSDBBTreeRecordIndex::GetRecordIDByRecNo(int SessionID, int64_t RecNo) {
  TSDBBTreePage t = Tree(kSDBErrRecordIndexRecNoNoRoot);
  TSDBKeyPath pos;
  if (!t.GetFirstPosition(SessionID, pos))
    throw ESDBException(kSDBErrEmptyIndexRecord, "Cannot retrieve record from empty index");
  if (RecNo < 1) RecNo = 1;
  TSDBPageManager& pm = PageManager();
  int32_t page = pos.Last().PageNo;
  int64_t before = 0;
  for (int32_t guard = 0; page >= 0; ++guard) {
    if (guard > pm.GetPageCount()) throw ESDBException(kSDBErrIndexInvalidPageNumber, "Index error: invalid page number");
    LeafInfo li = ReadLeaf(pm, SessionID, page);
    if (RecNo <= before + li.Count) {
      TSDBKeyPath p;
      p.AddItem(page, static_cast<int32_t>(RecNo - before - 1), li.Count);
      return GetRecordIDByIndexPosition(SessionID, p);
    }
    before += li.Count;
    page = li.Right;
  }
  throw ESDBException(kSDBErrIndexRecNoTooLarge, "Cannot set RecNo greater than RecordCount");
}

void TSDBBTreeRecordIndex::ApplyDistinctToRecordBitmap(int SessionID, TSDBRecordBitmap* Bitmap,
                                                       int DistinctFieldCount) {
  if (!Bitmap) throw ESDBException(kSDBErrDistinctBitmapMissing, "Pointer is nil");
  TSDBBTreePage t = Tree(kSDBErrRecordIndexDistinctNoRoot);
  TSDBDiskTableData& table = FIndexManager.TableData();
  TSDBKeyPath pos;
  if (!t.GetFirstPosition(SessionID, pos)) return;
  std::vector<uint8_t> kept, cur;
  bool haveKept = false;
  do {
    TSDBPageItemID id = GetRecordIDByIndexPosition(SessionID, pos);
    const int64_t no = table.RecordIDToPhysicalRecordNo(id);
    if (!Bitmap->IsVisible(no)) continue;
    // Full values decide, so values that share a truncated prefix stay apart.
    if (!table.ReadRecordForIndex(SessionID, id, cur)) continue;
    if (haveKept && CompareRecordBuffersByIndex(kept.data(), cur.data(), DistinctFieldCount) == 0) {
      Bitmap->SetVisible(no, false);
    } else {
      kept.swap(cur);
      haveKept = true;
    }
  } while (t.GotoNextEntry(SessionID, pos));
}

int TSDBBTreeRecordIndex::CompareRecordBuffersByIndex(const uint8_t* Buffer1, const uint8_t* Buffer2,
                                                      int IndexFieldCount) {
  if (!FOpened) OpenIndex();
  if (FKeyRef.SameKeyBytes(Buffer1, Buffer2, IndexFieldCount)) return 0;
  FKeyRef.SetPartialCompare(nullptr, IndexFieldCount >= 0, IndexFieldCount);
  TSDBKeyBuffer k1 = FKeyRef.AllocFullKeyBuffer(), k2 = FKeyRef.AllocFullKeyBuffer();
  FKeyRef.MakeFullKeyFromRecordBuffer(Buffer1, k1.data());
  FKeyRef.MakeFullKeyFromRecordBuffer(Buffer2, k2.data());
  int c = FKeyRef.CompareFullKeys(k1.data(), k2.data());
  ResetCompare();
  return c;
}

int TSDBBTreeRecordIndex::CompareConditions(TSDBSearchCondition Condition1, TSDBSearchCondition) {
  if (Condition1 == scGreater || Condition1 == scGreaterEqual) return -1;
  if (Condition1 == scLower || Condition1 == scLowerEqual) return 1;
  return 0;
}

void TSDBBTreeRecordIndex::PrepareCondition(const TSDBScanSearchCondition& Condition, TSDBKeyBuffer& Key) {
  if (!FOpened) OpenIndex();
  const size_t need = static_cast<size_t>(FIndexManager.TableData().FieldManager().MemoryRecordBufferSize());
  if (Condition.KeyRecordBuffer.size() != need) throw ESDBException(kSDBErrIndexConditionMissing, "Pointer is nil");
  Key = FKeyRef.AllocShortKeyBuffer();
  FKeyRef.SetPartialCompare(nullptr, false);
  FKeyRef.MakeShortKeyFromRecordBuffer(Condition.KeyRecordBuffer.data(), Key.data());
  if (Condition.PartialCompare)
    FKeyRef.SetPartialCompare(Condition.KeyRecordBuffer.data(), true, Condition.KeyFieldCount);
  else if (Condition.KeyFieldCount >= 0)
    FKeyRef.SetPartialCompare(nullptr, true, Condition.KeyFieldCount);
}

bool TSDBBTreeRecordIndex::FindByCondition(int SessionID, bool First, const TSDBScanSearchCondition& Condition,
                                           TSDBKeyPath& Position) {
  TSDBBTreePage t = Tree(kSDBErrRecordIndexNoRoot);
  TSDBKeyBuffer key;
  PrepareCondition(Condition, key);
  bool found = false;
  try {
    found = t.FindByCondition(SessionID, First, Condition.Condition, key.data(), Position);
  } catch (...) {
    ResetCompare();
    throw;
  }
  ResetCompare();
  return found;
}

bool TSDBBTreeRecordIndex::NeighbourBeyondBound(int SessionID, const TSDBPageItemID& RecordID,
                                                const uint8_t* RecordBuffer, const TSDBKeyPath* Known, bool Forward,
                                                const TSDBScanSearchCondition& Bound) {
  if (Bound.Condition == scNone || Bound.Condition == scEqual) return false;
  TSDBBTreePage t = Tree(kSDBErrRecordIndexNoRoot);
  uint8_t ref[TSDBPageItemID::kSize], neighbourRef[TSDBPageItemID::kSize];
  RecordID.Save(ref);
  TSDBKeyBuffer key = FKeyRef.AllocShortKeyBuffer();
  int found = Known ? t.GetNeighbourEntry(SessionID, *Known, ref, Forward, key.data(), neighbourRef) : -1;
  if (found < 0) {
    TSDBKeyPath pos;
    if (!GetIndexPosition(SessionID, RecordID, RecordBuffer, pos)) return false;
    found = t.GetNeighbourEntry(SessionID, pos, ref, Forward, key.data(), neighbourRef);
  }
  if (found <= 0) return false;
  // The bound against the entry, as the tree's condition search compares
  // them (full values decide tied truncated prefixes).
  TSDBKeyBuffer bound;
  PrepareCondition(Bound, bound);
  int c = 0;
  try {
    c = FKeyRef.CompareShortKeys(bound.data(), key.data(), neighbourRef, nullptr, SessionID, true);
  } catch (...) {
    ResetCompare();
    throw;
  }
  ResetCompare();
  switch (Bound.Condition) {
    case scLowerEqual: return c < 0;
    case scLower: return c <= 0;
    case scGreaterEqual: return c > 0;
    case scGreater: return c >= 0;
    default: return false;
  }
}

bool TSDBBTreeRecordIndex::IsEdgeOfCondition(int SessionID, const TSDBKeyPath& Position, bool First,
                                             const TSDBScanSearchCondition& Condition, TSDBPageItemID& RecordID) {
  const TSDBSearchCondition op = Condition.Condition;
  // The conditions whose qualifying entries start (First) or end there.
  const bool starts = op == scEqual || op == scGreater || op == scGreaterEqual;
  const bool ends = op == scEqual || op == scLower || op == scLowerEqual;
  if (First ? !starts : !ends) return false;
  TSDBBTreePage t = Tree(kSDBErrRecordIndexNoRoot);
  TSDBKeyBuffer key = FKeyRef.AllocShortKeyBuffer(), neighbourKey = FKeyRef.AllocShortKeyBuffer();
  uint8_t ref[TSDBPageItemID::kSize], neighbourRef[TSDBPageItemID::kSize];
  if (!t.GetLeafEntry(SessionID, Position, key.data(), ref)) return false;
  const int neighbour = t.GetNeighbourEntry(SessionID, Position, ref, !First, neighbourKey.data(), neighbourRef);
  if (neighbour < 0) return false;
  TSDBKeyBuffer bound;
  PrepareCondition(Condition, bound);
  // The bound against an entry, as the tree's condition search compares them.
  auto satisfies = [&](const uint8_t* k, const uint8_t* r) {
    const int c = FKeyRef.CompareShortKeys(bound.data(), k, r, nullptr, SessionID, true);
    switch (op) {
      case scEqual: return c == 0;
      case scGreater: return c < 0;
      case scGreaterEqual: return c <= 0;
      case scLower: return c > 0;
      case scLowerEqual: return c >= 0;
      default: return false;
    }
  };
  bool edge = false;
  try {
    edge = satisfies(key.data(), ref) && (neighbour == 0 || !satisfies(neighbourKey.data(), neighbourRef));
  } catch (...) {
    ResetCompare();
    throw;
  }
  ResetCompare();
  if (edge) RecordID.Load(ref);
  return edge;
}

bool TSDBBTreeRecordIndex::RecordSatisfies(const uint8_t* RecordBuffer, const TSDBScanSearchCondition& Condition) {
  if (Condition.Condition == scNone) return true;
  TSDBKeyBuffer bound;
  PrepareCondition(Condition, bound);
  // Record key against the bound: the bound's settings (prefix lengths,
  // column count) apply; the record's full values decide truncated ties.
  TSDBKeyBuffer full1 = FKeyRef.AllocFullKeyBuffer(), full2 = FKeyRef.AllocFullKeyBuffer();
  FKeyRef.MakeFullKeyFromRecordBuffer(RecordBuffer, full1.data());
  FKeyRef.MakeFullKeyFromRecordBuffer(Condition.KeyRecordBuffer.data(), full2.data());
  const int c = FKeyRef.CompareFullKeys(full1.data(), full2.data());
  ResetCompare();
  switch (Condition.Condition) {
    case scEqual: return c == 0;
    case scLower: return c < 0;
    case scGreater: return c > 0;
    case scLowerEqual: return c <= 0;
    case scGreaterEqual: return c >= 0;
    case scNone: return true;
  }
  return true;
}

int64_t TSDBBTreeRecordIndex::GetApproxRangeRecordCount(int SessionID, int64_t TableRecordCount,
                                                        const TSDBScanSearchCondition* RangeCondition1,
                                                        const TSDBScanSearchCondition* RangeCondition2,
                                                        TSDBKeyPath* LowerPosition) {
  const TSDBScanSearchCondition* lower = RangeCondition1;
  const TSDBScanSearchCondition* upper = RangeCondition2;
  if (lower && upper && CompareConditions(lower->Condition, upper->Condition) > 0) std::swap(lower, upper);
  if (!lower && upper && CompareConditions(upper->Condition, scNone) < 0) std::swap(lower, upper);
  TSDBBTreePage t = Tree(kSDBErrRecordIndexNoRoot);
  TSDBKeyPath lo, hi;
  bool haveLo = lower ? FindByCondition(SessionID, true, *lower, lo) : t.GetFirstPosition(SessionID, lo);
  // A short range mostly ends on the leaf where it starts: the first entry
  // there beyond the upper bound ends it without a second descent.
  bool haveHi = false;
  if (lower && upper && haveLo && CompareConditions(upper->Condition, scNone) > 0) {
    hi = lo;
    TSDBKeyBuffer bound;
    PrepareCondition(*upper, bound);
    const TSDBSearchCondition op = upper->Condition;
    try {
      haveHi = t.LastWithinOnLeaf(SessionID, hi, [&](const uint8_t* key, const uint8_t* ref) {
        const int c = FKeyRef.CompareShortKeys(bound.data(), key, ref, nullptr, SessionID, true);
        return op == scLower ? c > 0 : c >= 0;
      });
    } catch (...) {
      ResetCompare();
      throw;
    }
    ResetCompare();
  }
  if (!haveHi) haveHi = upper ? FindByCondition(SessionID, false, *upper, hi) : t.GetLastPosition(SessionID, hi);
  if (LowerPosition) {
    LowerPosition->Clear();
    if (lower && haveLo) *LowerPosition = lo;
  }
  if (!haveLo || !haveHi) return 0;
  const double span = hi.GetApproxRecNoInPercents() - lo.GetApproxRecNoInPercents();
  int64_t n = static_cast<int64_t>(std::llround(span * static_cast<double>(TableRecordCount)));
  return std::clamp<int64_t>(n, 0, std::max<int64_t>(TableRecordCount, 0));
}

bool TSDBBTreeRecordIndex::FindRecord(int SessionID, bool Restart, bool GoForward,
                                      const TSDBScanSearchCondition* StartScanCondition,
                                      const TSDBScanSearchCondition* EndScanCondition, const uint8_t* RecordBuffer,
                                      TSDBPageItemID& RecordID, TSDBIndexSearchInfo* SearchInfo) {
  if (!SearchInfo) throw ESDBException(kSDBErrIndexConditionMissing, "Pointer is nil");
  TSDBIndexSearchInfo& si = *SearchInfo;
  TSDBBTreePage t = Tree(kSDBErrRecordIndexNoRoot);
  if (si.Finished) return false;
  auto step = [&](TSDBKeyPath& p) { return si.GoForward ? t.GotoNextEntry(SessionID, p) : t.GotoPriorEntry(SessionID, p); };
  const TSDBScanSearchCondition* start =
      StartScanCondition && StartScanCondition->Condition != scNone ? StartScanCondition : nullptr;
  const TSDBScanSearchCondition* end =
      EndScanCondition && EndScanCondition->Condition != scNone ? EndScanCondition : nullptr;
  if (!si.Started) {
    si.GoForward = GoForward;
    bool have = false;
    TSDBKeyPath firstQualifying;
    bool haveFirstQualifying = false;
    if (start) haveFirstQualifying = FindByCondition(SessionID, GoForward, *start, firstQualifying);
    if (Restart) {
      if (start) {
        have = haveFirstQualifying;
        si.Current = firstQualifying;
      } else {
        ResetCompare();
        have = GoForward ? t.GetFirstPosition(SessionID, si.Current) : t.GetLastPosition(SessionID, si.Current);
      }
    } else {
      TSDBKeyPath own;
      const bool haveOwn = GetIndexPosition(SessionID, RecordID, RecordBuffer, own);
      if (start) {
        if (!haveFirstQualifying) {
          have = false;
        } else if (haveOwn && (GoForward ? own.Compare(firstQualifying) >= 0 : own.Compare(firstQualifying) <= 0)) {
          si.Current = own;
          have = step(si.Current);
        } else {
          // Start at the first qualifying entry itself.
          si.Current = firstQualifying;
          have = true;
        }
      } else {
        if (!haveOwn) {
          have = false;
        } else {
          si.Current = own;
          have = step(si.Current);
        }
      }
    }
    si.HasEnd = false;
    if (start) {
      const TSDBScanSearchCondition& e = end ? *end : *start;
      si.HasEnd = FindByCondition(SessionID, !GoForward, e, si.End);
      if (!si.HasEnd) have = false;
    } else if (end) {
      // An end without a start still bounds the scan.
      si.HasEnd = FindByCondition(SessionID, !GoForward, *end, si.End);
      if (!si.HasEnd) have = false;
    }
    si.Started = true;
    if (!have) {
      si.Finished = true;
      return false;
    }
  } else {
    if (Restart) throw ESDBException(kSDBErrIndexInvalidParams, "Index error: invalid params");
    if (!step(si.Current)) {
      si.Finished = true;
      return false;
    }
  }
  if (si.HasEnd) {
    const int c = si.Current.Compare(si.End);
    if (si.GoForward ? c > 0 : c < 0) {
      si.Finished = true;
      return false;
    }
  }
  RecordID = GetRecordIDByIndexPosition(SessionID, si.Current);
  return true;
}

bool TSDBBTreeRecordIndex::CanInsertRecord(int SessionID, const uint8_t* RecordBuffer) {
  if (!FIndexDef->FUnique && !FIndexDef->FPrimary) return true;
  TSDBBTreePage t = Tree(kSDBErrRecordIndexNoRoot);
  ResetCompare();
  TSDBKeyBuffer key = FKeyRef.AllocShortKeyBuffer();
  FKeyRef.MakeShortKeyFromRecordBuffer(RecordBuffer, key.data());
  TSDBKeyPath pos;
  return !t.FindByCondition(SessionID, true, scEqual, key.data(), pos);
}

bool TSDBBTreeRecordIndex::CanUpdateRecord(int SessionID, const uint8_t* OldRecordBuffer,
                                           const uint8_t* NewRecordBuffer) {
  if (!FIndexDef->FUnique && !FIndexDef->FPrimary) return true;
  if (CompareRecordBuffersByIndex(OldRecordBuffer, NewRecordBuffer, -1) == 0) return true;
  return CanInsertRecord(SessionID, NewRecordBuffer);
}

void TSDBBTreeRecordIndex::InsertRecord(int SessionID, const uint8_t* RecordBuffer, const TSDBPageItemID& RecordID) {
  TSDBBTreePage t = Tree(kSDBErrRecordIndexChangeNoRoot);
  ResetCompare();
  TSDBKeyBuffer key = FKeyRef.AllocShortKeyBuffer();
  FKeyRef.MakeShortKeyFromRecordBuffer(RecordBuffer, key.data());
  uint8_t ref[TSDBPageItemID::kSize];
  RecordID.Save(ref);
  TSDBKeyPath p;
  t.InsertLeafEntry(SessionID, key.data(), ref, p);
}

void TSDBBTreeRecordIndex::DeleteRecord(int SessionID, const uint8_t* RecordBuffer, const TSDBPageItemID& RecordID) {
  TSDBBTreePage t = Tree(kSDBErrRecordIndexChangeNoRoot);
  ResetCompare();
  TSDBKeyBuffer key = FKeyRef.AllocShortKeyBuffer();
  FKeyRef.MakeShortKeyFromRecordBuffer(RecordBuffer, key.data());
  uint8_t ref[TSDBPageItemID::kSize];
  RecordID.Save(ref);
  TSDBKeyPath p;
  if (!t.DeleteLeafEntry(SessionID, key.data(), ref, p))
    throw ESDBException(kSDBErrIndexDeleteEntryMissing, "Index error: cannot delete entry. Entry not found");
}

void TSDBBTreeRecordIndex::UpdateRecord(int SessionID, const uint8_t* OldRecordBuffer, const uint8_t* NewRecordBuffer,
                                        const TSDBPageItemID& RecordID, bool BeforeNewRecordIsStored) {
  if (CompareRecordBuffersByIndex(OldRecordBuffer, NewRecordBuffer, -1) == 0) return;
  if (BeforeNewRecordIsStored) {
    TSDBBTreePage t = Tree(kSDBErrRecordIndexChangeNoRoot);
    ResetCompare();
    TSDBKeyBuffer key = FKeyRef.AllocShortKeyBuffer();
    FKeyRef.MakeShortKeyFromRecordBuffer(OldRecordBuffer, key.data());
    uint8_t ref[TSDBPageItemID::kSize];
    RecordID.Save(ref);
    TSDBKeyPath p;
    if (!t.DeleteLeafEntry(SessionID, key.data(), ref, p))
      throw ESDBException(kSDBErrIndexUpdateEntryMissing, "Index error: cannot delete entry. Entry not found");
  } else {
    InsertRecord(SessionID, NewRecordBuffer, RecordID);
  }
}

int64_t TSDBBTreeRecordIndex::GetMaxEntriesPerPage() {
  if (!FOpened) OpenIndex();
  return (PageManager().PageDataSize()) / (FKeyRef.FShortKeySize + 4);
}

int64_t TSDBBTreeRecordIndex::GetEntryCount(int SessionID) { return Tree(kSDBErrRecordIndexNoRoot).GetEntryCount(SessionID); }

void TSDBBTreeRecordIndex::CheckIntegrity(int SessionID) {
  ResetCompare();
  Tree(kSDBErrRecordIndexNoRoot).CheckIntegrity(SessionID);
}

std::vector<TSDBPageItemID> TSDBBTreeRecordIndex::GetAllRecordIDs(int SessionID) {
  TSDBBTreePage t = Tree(kSDBErrRecordIndexNoRoot);
  std::vector<TSDBPageItemID> out;
  TSDBKeyPath p;
  if (!t.GetFirstPosition(SessionID, p)) return out;
  do {
    out.push_back(GetRecordIDByIndexPosition(SessionID, p));
  } while (t.GotoNextEntry(SessionID, p));
  return out;
}

// ---- TSDBBaseIndexManager --------------------------------------------------------------------------

TSDBBaseIndexManager::TSDBBaseIndexManager(TSDBDiskTableData& TableData, TSDBIndexDefs& IndexDefs,
                                           TSDBPageManager& PageManager)
    : FTableData(TableData), FIndexDefs(IndexDefs), FPageManager(PageManager) {}

TSDBBaseIndexManager::~TSDBBaseIndexManager() {
  FOpenIndexList.clear();
  // Temporary definitions go with their pages.
  for (int i = FIndexDefs.Count() - 1; i >= 0; --i)
    if (FIndexDefs[i].FTemporary) FIndexDefs.Delete(i);
}

TSDBPageManager& TSDBBaseIndexManager::TemporaryPageManager() {
  if (!FTemporaryPageManager) FTemporaryPageManager = std::make_unique<TSDBMemoryPageManager>(FPageManager.PageSize());
  return *FTemporaryPageManager;
}

TSDBPageManager& TSDBBaseIndexManager::GetPageManager(const TSDBIndexDef& Def) {
  return Def.FTemporary ? TemporaryPageManager() : FPageManager;
}

TSDBBTreeRecordIndex& TSDBBaseIndexManager::AddIndexObject(TSDBIndexDef& Def) {
  FOpenIndexList.push_back(std::make_unique<TSDBBTreeRecordIndex>(*this, Def));
  return *FOpenIndexList.back();
}

void TSDBBaseIndexManager::RemoveIndexObject(int32_t IndexID) {
  for (auto it = FOpenIndexList.begin(); it != FOpenIndexList.end(); ++it)
    if ((*it)->IndexID() == IndexID) {
      FOpenIndexList.erase(it);
      return;
    }
}

void TSDBBaseIndexManager::OpenIndexes() {
  FOpenIndexList.clear();
  for (int i = 0; i < FIndexDefs.Count(); ++i) AddIndexObject(FIndexDefs[i]).OpenIndex();
}

void TSDBBaseIndexManager::CreateIndexesByIndexDefs(int SessionID) {
  FOpenIndexList.clear();
  for (int i = 0; i < FIndexDefs.Count(); ++i) AddIndexObject(FIndexDefs[i]).CreateIndex(SessionID, false);
}

TSDBBTreeRecordIndex* TSDBBaseIndexManager::FindOpenIndex(int32_t IndexID) {
  for (auto& i : FOpenIndexList)
    if (i->IndexID() == IndexID) return i.get();
  return nullptr;
}

TSDBBTreeRecordIndex& TSDBBaseIndexManager::OpenIndex(int32_t IndexID) {
  if (TSDBBTreeRecordIndex* i = FindOpenIndex(IndexID)) return *i;
  TSDBIndexDef* def = FIndexDefs.FindByID(IndexID);
  if (!def) throw ESDBException(kSDBErrNoSuchIndex, "Index not found");
  TSDBBTreeRecordIndex& idx = AddIndexObject(*def);
  idx.OpenIndex();
  return idx;
}

TSDBBTreeRecordIndex* TSDBBaseIndexManager::FindIndexByName(const std::string& Name) {
  TSDBIndexDef* def = FIndexDefs.FindByName(Name);
  return def ? &OpenIndex(def->FObjectID) : nullptr;
}

TSDBBTreeRecordIndex& TSDBBaseIndexManager::CreateIndex(int SessionID, std::unique_ptr<TSDBIndexDef> IndexDef,
                                                        bool Fill) {
  TSDBIndexDef& def = FIndexDefs.Add(std::move(IndexDef));
  TSDBBTreeRecordIndex* idx = nullptr;
  try {
    idx = &AddIndexObject(def);
    idx->OpenIndex();
    idx->CreateIndex(SessionID, Fill);
  } catch (...) {
    // The caller drops the session's pending pages; the definition goes.
    if (idx) RemoveIndexObject(def.FObjectID);
    int i = FIndexDefs.IndexOfID(def.FObjectID);
    if (i >= 0) FIndexDefs.Delete(i);
    throw;
  }
  return *idx;
}

void TSDBBaseIndexManager::DropIndex(int SessionID, int32_t IndexID) {
  TSDBBTreeRecordIndex& idx = OpenIndex(IndexID);
  if (idx.IndexDef().FRootPageNo >= 0) idx.DropIndex(SessionID);
  RemoveIndexObject(IndexID);
  int i = FIndexDefs.IndexOfID(IndexID);
  if (i >= 0) FIndexDefs.Delete(i);
}

void TSDBBaseIndexManager::DropAllIndexes(int SessionID) {
  while (FIndexDefs.Count() > 0) DropIndex(SessionID, FIndexDefs[0].FObjectID);
}

void TSDBBaseIndexManager::EmptyIndex(int SessionID, int32_t IndexID) { OpenIndex(IndexID).EmptyIndex(SessionID); }

void TSDBBaseIndexManager::EmptyAllIndexes(int SessionID) {
  for (int i = 0; i < FIndexDefs.Count(); ++i) EmptyIndex(SessionID, FIndexDefs[i].FObjectID);
}

int TSDBBaseIndexManager::FindIndex(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDesc,
                                    int SessionID, const std::vector<std::string>& CaseSensitivity) {
  if (!AscDesc.empty() && AscDesc.size() != FieldNames.size())
    throw ESDBException(kSDBErrKeyListLengths, "Error - different list lengths. L1 = %d, L2 = %d",
                        {static_cast<int64_t>(FieldNames.size()), static_cast<int64_t>(AscDesc.size())});
  if (!CaseSensitivity.empty() && CaseSensitivity.size() != FieldNames.size())
    throw ESDBException(kSDBErrIndexCaseListLength, "Error - different list lengths. L1 = %d, L2 = %d",
                        {static_cast<int64_t>(FieldNames.size()), static_cast<int64_t>(CaseSensitivity.size())});
  TSDBBaseFieldManager& fm = FTableData.FieldManager();
  for (int d = 0; d < FIndexDefs.Count(); ++d) {
    const TSDBIndexDef& def = FIndexDefs[d];
    if (def.FColumns.size() < FieldNames.size()) continue;
    if (def.FTemporary && def.FSessionID != SessionID) continue;
    if (def.FRootPageNo < 0) continue;
    bool fits = true;
    for (size_t i = 0; i < FieldNames.size() && fits; ++i) {
      const TSDBIndexColumn& c = def.FColumns[i];
      if (SDBUpperName(c.FFieldName) != SDBUpperName(FieldNames[i])) {
        fits = false;
        break;
      }
      const bool desc = !AscDesc.empty() && SDBUpperName(AscDesc[i]) == "DESC";
      if (c.FDescending != desc) fits = false;
      const std::string cs = CaseSensitivity.empty() ? std::string("CASE") : SDBUpperName(CaseSensitivity[i]);
      const int fieldNo = fm.FieldNo(c.FFieldName);
      const bool isString = fieldNo >= 0 && SDBIsStringFieldType(fm.FFieldDefs[fieldNo].FBaseFieldType);
      if (cs == "NO_CASE" && !c.FCaseInsensitive && isString) fits = false;
      if (cs != "NO_CASE" && c.FCaseInsensitive && isString) fits = false;
    }
    if (fits) return d;
  }
  return -1;
}

TSDBBTreeRecordIndex& TSDBBaseIndexManager::CreateTemporaryIndex(int SessionID,
                                                                 const std::vector<std::string>& FieldNames,
                                                                 const std::vector<std::string>& CaseSensitivity,
                                                                 const std::vector<std::string>& AscDesc) {
  auto def = std::make_unique<TSDBIndexDef>();
  do {
    def->FName = "TEMPORARY_INDEX_" + NewGuidText();
  } while (FIndexDefs.IndexOfName(def->FName) >= 0);
  def->FObjectID = FTableData.NewObjectId();
  def->FTemporary = true;
  def->FSessionID = SessionID;
  def->FTableState = FTableData.TableState();
  for (size_t i = 0; i < FieldNames.size(); ++i) {
    TSDBIndexColumn c;
    c.FFieldName = FieldNames[i];
    c.FDescending = i < AscDesc.size() && SDBUpperName(AscDesc[i]) == "DESC";
    c.FCaseInsensitive = i < CaseSensitivity.size() && SDBUpperName(CaseSensitivity[i]) == "NO_CASE";
    c.FMaxIndexedSize = 20;
    def->FColumns.push_back(c);
  }
  try {
    TSDBBTreeRecordIndex& idx = CreateIndex(SessionID, std::move(def), true);
    TemporaryPageManager().ApplyChanges(SessionID);
    return idx;
  } catch (...) {
    if (FTemporaryPageManager) FTemporaryPageManager->CancelChanges(SessionID);
    throw;
  }
}

TSDBBTreeRecordIndex& TSDBBaseIndexManager::FindOrCreateIndex(int SessionID, const std::vector<std::string>& FieldNames,
                                                              bool& IsCreated,
                                                              const std::vector<std::string>& CaseSensitivity,
                                                              const std::vector<std::string>& AscDesc) {
  IsCreated = false;
  int d = FindIndex(FieldNames, AscDesc, SessionID, CaseSensitivity);
  if (d >= 0) return OpenIndex(FIndexDefs[d].FObjectID);
  IsCreated = true;
  return CreateTemporaryIndex(SessionID, FieldNames, CaseSensitivity, AscDesc);
}

void TSDBBaseIndexManager::DropTemporaryIndexes(int SessionID) {
  for (int i = FIndexDefs.Count() - 1; i >= 0; --i) {
    if (!FIndexDefs[i].FTemporary) continue;
    if (SessionID >= 0 && FIndexDefs[i].FSessionID != SessionID) continue;
    const int32_t id = FIndexDefs[i].FObjectID;
    const int owner = FIndexDefs[i].FSessionID;
    DropIndex(owner, id);
    TemporaryPageManager().ApplyChanges(owner);
  }
}

bool TSDBBaseIndexManager::SynchronizeTemporaryIndexes(int SessionID) {
  if (FSynchronizingTemporaryIndexes) return false;
  FSynchronizingTemporaryIndexes = true;
  bool changed = false;
  try {
    const int32_t state = FTableData.TableState();
    for (int i = 0; i < FIndexDefs.Count(); ++i) {
      TSDBIndexDef& def = FIndexDefs[i];
      if (!def.FTemporary || def.FTableState == state) continue;
      try {
        OpenIndex(def.FObjectID).RebuildTemporaryIndex(SessionID);
      } catch (...) {
        TemporaryPageManager().CancelChanges(SessionID);
        throw;
      }
      TemporaryPageManager().ApplyChanges(SessionID);
      def.FTableState = state;
      changed = true;
    }
  } catch (...) {
    FSynchronizingTemporaryIndexes = false;
    throw;
  }
  FSynchronizingTemporaryIndexes = false;
  return changed;
}

void TSDBBaseIndexManager::InsertRecord(int SessionID, const uint8_t* RecordBuffer, const TSDBPageItemID& RecordID) {
  for (int i = 0; i < FIndexDefs.Count(); ++i) {
    const TSDBIndexDef& def = FIndexDefs[i];
    OpenIndex(def.FObjectID).InsertRecord(SessionID, RecordBuffer, RecordID);
  }
}

void TSDBBaseIndexManager::DeleteRecord(int SessionID, const uint8_t* RecordBuffer, const TSDBPageItemID& RecordID) {
  for (int i = 0; i < FIndexDefs.Count(); ++i) {
    const TSDBIndexDef& def = FIndexDefs[i];
    OpenIndex(def.FObjectID).DeleteRecord(SessionID, RecordBuffer, RecordID);
  }
}

void TSDBBaseIndexManager::UpdateRecord(int SessionID, const uint8_t* OldRecordBuffer,
                                        const uint8_t* NewRecordBuffer, const TSDBPageItemID& RecordID,
                                        bool BeforeNewRecordIsStored) {
  for (int i = 0; i < FIndexDefs.Count(); ++i) {
    const TSDBIndexDef& def = FIndexDefs[i];
    OpenIndex(def.FObjectID).UpdateRecord(SessionID, OldRecordBuffer, NewRecordBuffer, RecordID,
                                          BeforeNewRecordIsStored);
  }
}

void TSDBBaseIndexManager::SetTemporaryTableState(int32_t TableState) {
  for (int i = 0; i < FIndexDefs.Count(); ++i)
    if (FIndexDefs[i].FTemporary) FIndexDefs[i].FTableState = TableState;
}

void TSDBBaseIndexManager::ApplyTemporaryChanges(int SessionID) {
  if (FTemporaryPageManager) FTemporaryPageManager->ApplyChanges(SessionID);
}

void TSDBBaseIndexManager::CancelTemporaryChanges(int SessionID) {
  if (!FTemporaryPageManager) return;
  FTemporaryPageManager->CancelChanges(SessionID);
  // What the temporary indexes held may now differ from the records: they
  // are rebuilt before their next use.
  for (int i = 0; i < FIndexDefs.Count(); ++i)
    if (FIndexDefs[i].FTemporary) FIndexDefs[i].FTableState = -1;
}

}  // namespace sdb
