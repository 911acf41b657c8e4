#include "storage/database/SDBLockManager.h"

#include <algorithm>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "platform/SDBPlatform.h"

namespace sdb {

namespace {

// Rows: held, columns: requested (ltIS ltS ltSIRW ltXIRW ltRW ltU ltX).
constexpr bool kCompatible[kSDBLockTypeCount][kSDBLockTypeCount] = {
    {1, 1, 1, 1, 1, 1, 0},  // ltIS
    {1, 1, 1, 1, 0, 1, 0},  // ltS
    {1, 1, 1, 0, 1, 1, 0},  // ltSIRW
    {1, 1, 0, 0, 0, 1, 0},  // ltXIRW
    {1, 0, 1, 0, 0, 1, 0},  // ltRW
    {1, 1, 1, 1, 1, 1, 0},  // ltU
    {0, 0, 0, 0, 0, 0, 0},  // ltX
};

// How often a lock wait looks at the bytes again.
constexpr uint32_t kSDBLockWatchMs = 2;

// Types with a byte of their own in the locks file.
bool HasByte(TSDBLockType t) { return t <= ltRW; }

// Whether the session's holding Held keeps every other session from holding
// Other on the same table: whoever asks for a type incompatible with a held
// one finds its byte and is refused. The one exception is ltXIRW granted
// next to ltSIRW when the asker allowed it (held either way round).
bool KeepsOut(const TSDBTableLockItem& Held, TSDBLockType Other) {
  // A type without a byte (ltU) keeps nobody out by itself.
  if (!HasByte(Held.LockType) || SDBLocksCompatible(Held.LockType, Other)) return false;
  if (Held.LockType == ltSIRW && Other == ltXIRW) return false;
  if (Held.LockType == ltXIRW && Other == ltSIRW && Held.IsXIRWAfterSIRWAllowed) return false;
  return true;
}

// The types another session could hold on the table that LockType cannot
// coexist with and that the session's own grants do not keep out already:
// only their bytes need a look. At most the four types with a byte.
struct TTypesToCheck {
  TSDBLockType Types[kSDBLockTypeCount];
  int Count = 0;
  bool Empty() const { return Count == 0; }
};

TTypesToCheck TypesToCheck(const TSDBTableLockList& List, int32_t Table, TSDBLockType LockType,
                           bool AllowXIRWAfterSIRW) {
  TTypesToCheck types;
  for (int t = 0; t < kSDBLockTypeCount; ++t) {
    const auto T = static_cast<TSDBLockType>(t);
    if (SDBLocksCompatible(T, LockType)) continue;
    if (AllowXIRWAfterSIRW && LockType == ltXIRW && T == ltSIRW) continue;
    // ltX of another session is its hold of the file lock, which the
    // attempt takes itself; ltU has no byte (record locks are separate).
    if (!HasByte(T)) continue;
    bool keptOut = false;
    for (const TSDBTableLockItem& i : List.Items())
      if (i.LocksFilePageNo == Table && KeepsOut(i, T)) keptOut = true;
    if (!keptOut) types.Types[types.Count++] = T;
  }
  return types;
}

// The types whose byte the session holds on the table (bit per type).
unsigned OwnBytes(const TSDBTableLockList& List, int32_t Table) {
  unsigned held = 0;
  for (const TSDBTableLockItem& i : List.Items())
    if (i.LocksFilePageNo == Table && i.HasPhysicalLock && HasByte(i.LockType)) held |= 1u << i.LockType;
  return held;
}

bool NoOtherHolds(TSDBTableLocksFile& File, int SessionID, const TTypesToCheck& Types, unsigned OwnHeld) {
  return Types.Empty() || !File.IsAnyLockedByOtherSession(SessionID, Types.Types, Types.Count, OwnHeld);
}


// Holds a recursive mutex unless told not to.
class TOptionalLock {
 public:
  TOptionalLock(std::recursive_mutex& m, bool take) : FM(m), FHeld(take) {
    if (FHeld) FM.lock();
  }
  ~TOptionalLock() {
    if (FHeld) FM.unlock();
  }
  void Leave() {
    if (FHeld) FM.unlock();
  }
  void Enter() {
    if (FHeld) FM.lock();
  }
  TOptionalLock(const TOptionalLock&) = delete;
  TOptionalLock& operator=(const TOptionalLock&) = delete;

 private:
  std::recursive_mutex& FM;
  bool FHeld;
};

}  // namespace

bool SDBLocksCompatible(TSDBLockType Held, TSDBLockType Requested) {
  return kCompatible[static_cast<int>(Held)][static_cast<int>(Requested)];
}

bool SDBLockAtLeastAsStrong(TSDBLockType A, TSDBLockType B) {
  for (int t = 0; t < kSDBLockTypeCount; ++t) {
    const auto T = static_cast<TSDBLockType>(t);
    // Compatibility is symmetric, so "compatible with A" reads either way.
    if (SDBLocksCompatible(A, T) && !SDBLocksCompatible(B, T)) return false;
  }
  return true;
}

const char* SDBLockTypeName(TSDBLockType LockType) {
  static const char* const kNames[] = {"ltIS", "ltS", "ltSIRW", "ltXIRW", "ltRW", "ltU", "ltX"};
  return static_cast<int>(LockType) < kSDBLockTypeCount ? kNames[static_cast<int>(LockType)] : "?";
}

// ---- Locks file ---------------------------------------------------------------------------

TSDBTableLocksFile::TSDBTableLocksFile(TSDBDiskPageManager& PageManager)
    : FOwnHandle(std::make_unique<TSDBInternalDBDirectAccessFile>(PageManager, ptTableLocks)),
      FHandle(FOwnHandle.get()) {}

TSDBTableLocksFile::TSDBTableLocksFile(TSDBInternalDBDirectAccessFile& Handle) : FHandle(&Handle) {
  if (Handle.IsOpen()) FMaxSessionCount = Handle.GetSize() / kSDBLocksBytesPerSession;
}

void TSDBTableLocksFile::CheckOpen(int ErrorCode) const {
  if (!IsOpen()) throw ESDBException(ErrorCode, "Nil pointer occured");
}

int32_t TSDBTableLocksFile::CreateFile(int32_t aMaxSessionCount) {
  if (!FOwnHandle) throw ESDBException(kSDBErrLocksFileMissing, "Nil pointer occured");
  FOwnHandle->CreateFile(aMaxSessionCount * kSDBLocksBytesPerSession);
  FMaxSessionCount = aMaxSessionCount;
  return FOwnHandle->StartPageNo();
}

void TSDBTableLocksFile::OpenFile(int32_t aStartPageNo) {
  if (!FOwnHandle) throw ESDBException(kSDBErrLocksFileMissing, "Nil pointer occured");
  FOwnHandle->OpenFile(aStartPageNo);
  FMaxSessionCount = FOwnHandle->GetSize() / kSDBLocksBytesPerSession;
}

void TSDBTableLocksFile::CloseFile() {
  if (FOwnHandle) FOwnHandle->CloseFile();
  FMaxSessionCount = 0;
}

void TSDBTableLocksFile::DeleteFile() {
  CheckOpen(kSDBErrLocksFileMissing);
  if (!FOwnHandle) throw ESDBException(kSDBErrLocksFileMissing, "Nil pointer occured");
  FOwnHandle->DeleteFile(FOwnHandle->StartPageNo());
  FMaxSessionCount = 0;
}

bool TSDBTableLocksFile::LockTable(int SessionID, TSDBLockType LockType) {
  CheckOpen(kSDBErrLocksFileLockTable);
  if (SessionID < 0 || SessionID >= FMaxSessionCount)
    throw ESDBException(kSDBErrTableLockNoSlot,
                        "Cannot set table lock. Try to repair the database or increase number of allowed connections");
  if (!HasByte(LockType)) return false;
  return FHandle->LockByte(LockType * FMaxSessionCount + SessionID);
}

bool TSDBTableLocksFile::UnlockTable(int SessionID, TSDBLockType LockType) {
  CheckOpen(kSDBErrLocksFileUnlockTable);
  if (!HasByte(LockType) || SessionID < 0 || SessionID >= FMaxSessionCount) return false;
  return FHandle->UnlockByte(LockType * FMaxSessionCount + SessionID);
}

bool TSDBTableLocksFile::IsOtherByteLocked(int32_t Base, int SessionID) {
  if (SessionID > 0 && FHandle->IsRegionLocked(Base, SessionID)) return true;
  const int32_t after = FMaxSessionCount - SessionID - 1;
  return after > 0 && FHandle->IsRegionLocked(Base + SessionID + 1, after);
}

bool TSDBTableLocksFile::IsTableLockedByAnyOtherSession(int SessionID, TSDBLockType LockType) {
  CheckOpen(kSDBErrLocksFileTableLockQuery);
  if (!HasByte(LockType)) return false;
  return IsOtherByteLocked(LockType * FMaxSessionCount, SessionID);
}

bool TSDBTableLocksFile::IsAnyLockedByOtherSession(int SessionID, const TSDBLockType* Types, int Count,
                                                   unsigned OwnHeld) {
  CheckOpen(kSDBErrLocksFileTableLockQuery);
  if (SessionID < 0 || SessionID >= FMaxSessionCount) {
    for (int i = 0; i < Count; ++i)
      if (IsTableLockedByAnyOtherSession(SessionID, Types[i])) return true;
    return false;
  }
  // The bytes are looked at in as few ranges as they allow: a range may
  // run over the session's own byte of a type when the session does not
  // hold it (nobody else ever takes it), and on into the next type's bytes.
  int32_t start = 0, end = 0;
  auto look = [&] { return end > start && FHandle->IsRegionLocked(start, end - start); };
  auto add = [&](int32_t from, int32_t to) {
    if (to <= from) return false;
    if (end > start && from == end) {
      end = to;
      return false;
    }
    if (look()) return true;
    start = from;
    end = to;
    return false;
  };
  for (int i = 0; i < Count; ++i) {
    const TSDBLockType t = Types[i];
    if (!HasByte(t)) continue;
    const int32_t base = t * FMaxSessionCount, own = base + SessionID;
    if (OwnHeld & (1u << t)) {
      if (add(base, own) || add(own + 1, base + FMaxSessionCount)) return true;
    } else if (add(base, base + FMaxSessionCount)) {
      return true;
    }
  }
  return look();
}

bool TSDBTableLocksFile::IsTableLockAllowed(int SessionID, TSDBLockType LockType, bool AllowXIRWAfterSIRW) {
  CheckOpen(kSDBErrLocksFileLockAllowed);
  for (int t = 0; t < kSDBLockTypeCount; ++t) {
    const auto T = static_cast<TSDBLockType>(t);
    if (SDBLocksCompatible(T, LockType)) continue;
    if (AllowXIRWAfterSIRW && LockType == ltXIRW && T == ltSIRW) continue;
    // ltX of another session is its hold of the file lock, which the caller
    // has just taken itself; ltU has no byte (record locks are separate).
    if (IsTableLockedByAnyOtherSession(SessionID, T)) return false;
  }
  return true;
}

bool TSDBTableLocksFile::LockRecord(int SessionID, const TSDBPageItemID& RecordID) {
  CheckOpen(kSDBErrLocksFileLockRecord);
  if (SessionID < 0 || SessionID >= FMaxSessionCount)
    throw ESDBException(kSDBErrTableLockNoSlot,
                        "Cannot set table lock. Try to repair the database or increase number of allowed connections");
  if (!FHandle->LockByte(5 * FMaxSessionCount + SessionID)) return false;
  uint8_t slot[TSDBPageItemID::kSize];
  RecordID.Save(slot);
  try {
    FHandle->WriteBuffer(slot, sizeof slot, 6 * FMaxSessionCount + 6 * SessionID);
  } catch (...) {
    FHandle->UnlockByte(5 * FMaxSessionCount + SessionID);
    throw;
  }
  return true;
}

bool TSDBTableLocksFile::UnlockRecord(int SessionID, const TSDBPageItemID&) {
  CheckOpen(kSDBErrLocksFileRecordLock);
  if (SessionID < 0 || SessionID >= FMaxSessionCount) return false;
  return FHandle->UnlockByte(5 * FMaxSessionCount + SessionID);
}

bool TSDBTableLocksFile::IsRecordLockedByAnyOtherSession(int SessionID, const TSDBPageItemID& RecordID) {
  CheckOpen(kSDBErrLocksFileRecordLock);
  const int32_t base = 5 * FMaxSessionCount;
  if (!IsOtherByteLocked(base, SessionID)) return false;
  // Only the slots of sessions whose byte is locked count: the others hold
  // stale values of earlier locks.
  for (int s = 0; s < FMaxSessionCount; ++s) {
    if (s == SessionID || !FHandle->IsByteLocked(base + s)) continue;
    if (RecordSlot(s) == RecordID) return true;
  }
  return false;
}

bool TSDBTableLocksFile::LockFile() {
  CheckOpen(kSDBErrLocksFileMissing);
  return FHandle->LockFile();
}

bool TSDBTableLocksFile::UnlockFile() {
  CheckOpen(kSDBErrLocksFileMissing);
  return FHandle->UnlockFile();
}

bool TSDBTableLocksFile::IsLockByteHeld(int SessionID, TSDBLockType LockType) {
  CheckOpen(kSDBErrLocksFileTableLockQuery);
  if (!HasByte(LockType) || SessionID < 0 || SessionID >= FMaxSessionCount) return false;
  return FHandle->IsByteLocked(LockType * FMaxSessionCount + SessionID);
}

bool TSDBTableLocksFile::IsRecordByteHeld(int SessionID) {
  CheckOpen(kSDBErrLocksFileRecordLock);
  if (SessionID < 0 || SessionID >= FMaxSessionCount) return false;
  return FHandle->IsByteLocked(5 * FMaxSessionCount + SessionID);
}

TSDBPageItemID TSDBTableLocksFile::RecordSlot(int SessionID) {
  CheckOpen(kSDBErrLocksFileRecordLock);
  uint8_t slot[TSDBPageItemID::kSize];
  FHandle->ReadBuffer(slot, sizeof slot, 6 * FMaxSessionCount + 6 * SessionID);
  TSDBPageItemID id;
  id.Load(slot);
  return id;
}

bool TSDBTableLocksFile::IsFileLockHeld() {
  CheckOpen(kSDBErrLocksFileMissing);
  if (!FHandle->LockFile()) return true;
  FHandle->UnlockFile();
  return false;
}

// ---- Session lock list ----------------------------------------------------------------------

int TSDBTableLockList::Find(TSDBLockType LockType, int32_t LocksFilePageNo) const {
  for (size_t i = 0; i < FLockList.size(); ++i)
    if (FLockList[i].LockType == LockType && FLockList[i].LocksFilePageNo == LocksFilePageNo)
      return static_cast<int>(i);
  return -1;
}

void TSDBTableLockList::AddLock(TSDBLockType LockType, int32_t LocksFilePageNo, bool HasPhysicalLock,
                                bool IsXIRWAfterSIRWAllowed) {
  int i = Find(LockType, LocksFilePageNo);
  if (i >= 0) {
    ++FLockList[static_cast<size_t>(i)].Count;
    return;
  }
  FLockList.push_back({LockType, LocksFilePageNo, 1, HasPhysicalLock, IsXIRWAfterSIRWAllowed});
}

bool TSDBTableLockList::RemoveLock(TSDBLockType LockType, int32_t LocksFilePageNo, bool& HasPhysicalLock,
                                   bool IgnoreCount) {
  int i = Find(LockType, LocksFilePageNo);
  if (i < 0) throw ESDBException(kSDBErrTableLockNotFound, "Cannot remove table lock. Lock not found");
  TSDBTableLockItem& item = FLockList[static_cast<size_t>(i)];
  HasPhysicalLock = item.HasPhysicalLock;
  if (--item.Count > 0 && !IgnoreCount) return false;
  FLockList.erase(FLockList.begin() + i);
  return true;
}

bool TSDBTableLockList::LockExists(TSDBLockType LockType, int32_t LocksFilePageNo) const {
  return Find(LockType, LocksFilePageNo) >= 0;
}

bool TSDBTableLockList::LockExists(TSDBLockType LockType, int32_t LocksFilePageNo,
                                   bool IsXIRWAfterSIRWAllowed) const {
  int i = Find(LockType, LocksFilePageNo);
  return i >= 0 && FLockList[static_cast<size_t>(i)].IsXIRWAfterSIRWAllowed == IsXIRWAfterSIRWAllowed;
}

bool TSDBTableLockList::StrongerLockExists(TSDBLockType LockType, int32_t LocksFilePageNo) const {
  for (const auto& it : FLockList)
    if (it.LocksFilePageNo == LocksFilePageNo && it.LockType != LockType &&
        SDBLockAtLeastAsStrong(it.LockType, LockType))
      return true;
  return false;
}

bool TSDBTableLockList::IsWeakerNonPhysicalLock(int ItemNo, TSDBLockType LockType, int32_t LocksFilePageNo) const {
  const TSDBTableLockItem& it = FLockList[static_cast<size_t>(ItemNo)];
  return it.LocksFilePageNo == LocksFilePageNo && !it.HasPhysicalLock && it.LockType != LockType &&
         SDBLockAtLeastAsStrong(LockType, it.LockType);
}

// ---- Lock manager -------------------------------------------------------------------------

TSDBDatabaseTableLockManager::TSDBDatabaseTableLockManager(TSDBDiskPageManager& PageManager, int32_t MaxSessionCount)
    : FSessionLockList(static_cast<size_t>(std::max(MaxSessionCount, 1))),
      FMaxSessionCount(MaxSessionCount),
      LPageManager(PageManager) {}

TSDBTableLockList& TSDBDatabaseTableLockManager::List(int SessionID) {
  if (SessionID < 0 || SessionID >= static_cast<int>(FSessionLockList.size()))
    throw ESDBException(kSDBErrTableLockNoSlot,
                        "Cannot set table lock. Try to repair the database or increase number of allowed connections");
  return FSessionLockList[static_cast<size_t>(SessionID)];
}

void TSDBDatabaseTableLockManager::ForgetTable(int SessionID, int32_t LocksFilePageNo) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  auto& items = List(SessionID).Items();
  items.erase(std::remove_if(items.begin(), items.end(),
                             [&](const TSDBTableLockItem& i) { return i.LocksFilePageNo == LocksFilePageNo; }),
              items.end());
}

bool TSDBDatabaseTableLockManager::HoldsSinglePhysicalGrant(int SessionID, TSDBLockType LockType,
                                                            int32_t LocksFilePageNo) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (SessionID < 0 || SessionID >= static_cast<int>(FSessionLockList.size())) return false;
  const TSDBTableLockList& list = List(SessionID);
  const int i = list.Find(LockType, LocksFilePageNo);
  if (i < 0) return false;
  const TSDBTableLockItem& item = list.Items()[static_cast<size_t>(i)];
  return item.Count == 1 && item.HasPhysicalLock;
}

void TSDBDatabaseTableLockManager::CountGrants(int SessionID, std::vector<TSDBGrantCounts>& Out) {
  Out.clear();
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (SessionID < 0 || SessionID >= static_cast<int>(FSessionLockList.size())) return;
  for (const TSDBTableLockItem& it : List(SessionID).Items()) {
    if (it.LockType != ltS && it.LockType != ltRW) continue;
    auto c = std::find_if(Out.begin(), Out.end(),
                          [&](const TSDBGrantCounts& c2) { return c2.LocksFilePageNo == it.LocksFilePageNo; });
    if (c == Out.end()) c = Out.insert(Out.end(), TSDBGrantCounts{it.LocksFilePageNo, 0, 0});
    (it.LockType == ltS ? c->S : c->RW) += it.Count;
  }
}

std::vector<TSDBTableLockItem> TSDBDatabaseTableLockManager::SessionLocks(int SessionID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  return List(SessionID).Items();
}

bool TSDBDatabaseTableLockManager::HoldsLock(int SessionID, TSDBLockType LockType, int32_t LocksFilePageNo) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (SessionID < 0 || SessionID >= static_cast<int>(FSessionLockList.size())) return false;
  return List(SessionID).LockExists(LockType, LocksFilePageNo);
}

bool TSDBDatabaseTableLockManager::LockTable(int SessionID, TSDBLockType LockType, TSDBTableLocksFile& File,
                                             int aTryCount, int aDelayMS, bool NoThreadLock,
                                             bool AllowXIRWAfterSIRW) {
  if (LPageManager.Exclusive()) return true;
  TOptionalLock cs(FCSect, !NoThreadLock);
  TSDBTableLockList& list = List(SessionID);
  const int32_t table = File.StartPageNo();
  if (list.LockExists(LockType, table)) {
    if (LockType == ltSIRW) return false;
    list.AddLock(LockType, table, true, AllowXIRWAfterSIRW);
    return true;
  }
  if (list.StrongerLockExists(LockType, table)) {
    list.AddLock(LockType, table, false, AllowXIRWAfterSIRW);
    return true;
  }
  if (SessionID >= File.MaxSessionCount())
    throw ESDBException(kSDBErrTableLockNoSlot,
                        "Cannot set table lock. Try to repair the database or increase number of allowed connections");
  const TTypesToCheck check = TypesToCheck(list, table, LockType, AllowXIRWAfterSIRW);
  // Nothing to look at (a lock the session holds keeps out everybody this
  // one would conflict with, ltX included): the byte is taken without the
  // locks-file lock. A session checking meanwhile under that lock either
  // sees the byte or was granted first, which the grant tolerates.
  const bool holdsByte = std::any_of(list.Items().begin(), list.Items().end(), [&](const TSDBTableLockItem& i) {
    return i.LocksFilePageNo == table && HasByte(i.LockType);
  });
  if (check.Empty() && HasByte(LockType) && holdsByte) {
    if (!File.LockTable(SessionID, LockType)) throw ESDBException(kSDBErrSetTableLock, "Cannot set table lock");
    list.AddLock(LockType, table, true, AllowXIRWAfterSIRW);
    return true;
  }
  // The wait lasts what aTryCount pauses of aDelayMS would on average,
  // but between attempts the bytes are watched (a look needs no lock) and
  // the next attempt comes as soon as they look free: a table that writers
  // keep busy leaves gaps far shorter than a pause, and a reader that only
  // tried after each pause would hardly ever meet one.
  // Read while the list is guarded: the watch below runs without that.
  const unsigned own = OwnBytes(list, table);
  const uint32_t start = SDBGetTickCount();
  const uint32_t budget =
      static_cast<uint32_t>(std::max(aTryCount - 1, 0)) * static_cast<uint32_t>(std::max(aDelayMS, 0)) * 3 / 4;
  for (int attempt = 0;; ++attempt) {
    if (attempt > 0) {
      if (SDBGetTickCount() - start >= budget) return false;
      cs.Leave();
      for (;;) {
        SDBSleep(kSDBLockWatchMs);
        if (SDBGetTickCount() - start >= budget) break;
        bool free = true;
        try {
          free = NoOtherHolds(File, SessionID, check, own);
        } catch (...) {
          // The attempt itself reports what is wrong.
        }
        if (free) break;
      }
      cs.Enter();
    }
    // Another session's ltX holds this lock, so the attempt fails here.
    if (!File.LockFile()) continue;
    bool allowed = false;
    try {
      allowed = NoOtherHolds(File, SessionID, check, own);
    } catch (...) {
      File.UnlockFile();
      throw;
    }
    if (!allowed) {
      File.UnlockFile();
      continue;
    }
    if (LockType != ltX) {
      const bool locked = File.LockTable(SessionID, LockType);
      File.UnlockFile();
      if (!locked) throw ESDBException(kSDBErrSetTableLock, "Cannot set table lock");
    }
    list.AddLock(LockType, table, true, AllowXIRWAfterSIRW);
    return true;
  }
}

bool TSDBDatabaseTableLockManager::ReleasePhysical(TSDBLockType LockType, TSDBTableLocksFile& File, int SessionID) {
  if (LockType == ltX) return File.UnlockFile();
  if (!HasByte(LockType)) return true;
  // Giving a byte back needs no locks-file lock: whoever checks the bytes
  // under that lock meanwhile sees the byte either still held (and is
  // refused, as a moment earlier) or gone; neither answer is wrong. Nor
  // does the release wait for a holder of that lock.
  if (!File.UnlockTable(SessionID, LockType)) throw ESDBException(kSDBErrUnlockTable, "Cannot unlock table");
  return true;
}

bool TSDBDatabaseTableLockManager::UnlockTable(int SessionID, TSDBLockType LockType, TSDBTableLocksFile& File,
                                               bool IgnoreIfNoLock, bool IgnoreCount) {
  if (LPageManager.Exclusive()) return true;
  std::lock_guard<std::recursive_mutex> cs(FCSect);
  TSDBTableLockList& list = List(SessionID);
  const int32_t table = File.StartPageNo();
  const int idx = list.Find(LockType, table);
  if (idx < 0 && IgnoreIfNoLock) return true;
  const TSDBTableLockItem saved = idx >= 0 ? list.Items()[static_cast<size_t>(idx)] : TSDBTableLockItem{};
  bool physical = false;
  if (!list.RemoveLock(LockType, table, physical, IgnoreCount)) return true;
  if (!physical) return true;

  // Weaker grants that rode on this lock now need bytes of their own; they
  // are locked before this one goes, so the table is never uncovered.
  std::vector<int> weaker;
  for (int i = 0; i < static_cast<int>(list.Items().size()); ++i)
    if (list.IsWeakerNonPhysicalLock(i, LockType, table)) weaker.push_back(i);
  bool ok = true;
  if (!weaker.empty()) {
    // While this lock is held no other session holds a type it excludes,
    // and a weaker type excludes no more: the weaker bytes can be taken
    // without the check, hence without the locks-file lock. A record lock
    // still needs that lock: its byte and its slot must appear together
    // to whoever checks the record locks.
    bool record = false;
    for (int i : weaker) record = record || list.Items()[static_cast<size_t>(i)].LockType == ltU;
    const bool haveFileLock = LockType == ltX;
    const bool needFileLock = record && !haveFileLock;
    bool fileLocked = !needFileLock || SDBRetry(kSDBLocksFileTryCount, kSDBLocksFileDelayMs, [&] { return File.LockFile(); });
    if (!fileLocked) {
      ok = false;
    } else {
      for (int i : weaker) {
        const TSDBTableLockItem& item = list.Items()[static_cast<size_t>(i)];
        bool taken = false;
        if (item.LockType == ltU)
          taken = File.LockRecord(SessionID, item.RecordID);
        else if (HasByte(item.LockType))
          taken = File.LockTable(SessionID, item.LockType);
        if (taken) list.SetPhysicalLock(i);
      }
      if (needFileLock) File.UnlockFile();
    }
  }
  if (ok) {
    try {
      ok = ReleasePhysical(LockType, File, SessionID);
    } catch (...) {
      list.Items().push_back(saved);
      throw;
    }
  }
  if (!ok) {
    list.Items().push_back(saved);
    return false;
  }
  return true;
}

bool TSDBDatabaseTableLockManager::LockRecord(int SessionID, TSDBTableLocksFile& File, const TSDBPageItemID& RecordID,
                                              int aTryCount, int aDelayMS) {
  std::unique_lock<std::recursive_mutex> cs(FCSect);
  TSDBTableLockList& list = List(SessionID);
  const int32_t table = File.StartPageNo();
  if (list.LockExists(ltU, table)) return false;
  if (list.LockExists(ltX, table) || list.LockExists(ltXIRW, table, false)) {
    list.AddLock(ltU, table, false, false);
    list.Items()[static_cast<size_t>(list.Find(ltU, table))].RecordID = RecordID;
    return true;
  }
  const uint32_t start = SDBGetTickCount();
  const uint32_t budget = static_cast<uint32_t>(std::max(aDelayMS, 0)) * static_cast<uint32_t>(std::max(aTryCount, 1));
  for (int attempt = 0;; ++attempt) {
    if (File.LockFile()) {
      bool locked = false;
      try {
        if (!File.IsRecordLockedByAnyOtherSession(SessionID, RecordID)) {
          if (!File.LockRecord(SessionID, RecordID)) throw ESDBException(kSDBErrLockRecord, "Cannot lock record");
          locked = true;
        }
      } catch (...) {
        File.UnlockFile();
        throw;
      }
      File.UnlockFile();
      if (locked) {
        list.AddLock(ltU, table, true, false);
        list.Items()[static_cast<size_t>(list.Find(ltU, table))].RecordID = RecordID;
        return true;
      }
    }
    if (attempt + 1 >= aTryCount || SDBGetTickCount() - start >= budget) return false;
    cs.unlock();
    SDBSleep(static_cast<uint32_t>(std::max(aDelayMS, 0)));
    cs.lock();
  }
}

bool TSDBDatabaseTableLockManager::UnlockRecord(int SessionID, TSDBTableLocksFile& File,
                                                const TSDBPageItemID& RecordID) {
  std::lock_guard<std::recursive_mutex> cs(FCSect);
  TSDBTableLockList& list = List(SessionID);
  const int32_t table = File.StartPageNo();
  if (!list.LockExists(ltU, table)) return false;
  bool physical = false;
  list.RemoveLock(ltU, table, physical, true);
  if (!physical) return true;
  // As for table locks, giving the byte back needs no locks-file lock: a
  // checker reads a session's slot only while its byte is held, and a slot
  // is written only under that lock, right after its byte is taken.
  if (!File.UnlockRecord(SessionID, RecordID)) throw ESDBException(kSDBErrUnlockRecord, "Cannot unlock record");
  return true;
}

bool TSDBDatabaseTableLockManager::IsRecordLocked(int SessionID, TSDBTableLocksFile& File,
                                                  const TSDBPageItemID& RecordID) {
  std::lock_guard<std::recursive_mutex> cs(FCSect);
  return File.IsRecordLockedByAnyOtherSession(SessionID, RecordID);
}

bool TSDBDatabaseTableLockManager::AddRWLocksBeforeCommit(int SessionID, const TLocksFileResolver& Resolve) {
  if (LPageManager.Exclusive()) return true;
  std::lock_guard<std::recursive_mutex> cs(FCSect);
  TSDBTableLockList& list = List(SessionID);
  std::vector<int32_t> tables;
  for (const auto& it : list.Items())
    if (it.LockType == ltXIRW) tables.push_back(it.LocksFilePageNo);
  bool failed = false;
  for (int32_t table : tables) {
    bool covered = false;
    for (const auto& it : list.Items())
      if (it.LocksFilePageNo == table && SDBLockAtLeastAsStrong(it.LockType, ltRW)) covered = true;
    if (covered) continue;
    TSDBTableLocksFile* file = Resolve(table);
    if (!file || !LockTable(SessionID, ltRW, *file, CommitLockTryCount, CommitLockDelayMs, true, true)) {
      failed = true;
      break;
    }
  }
  if (!failed) return true;
  bool leftover = false;
  std::vector<int32_t> rw;
  for (const auto& it : list.Items())
    if (it.LockType == ltRW) rw.push_back(it.LocksFilePageNo);
  for (int32_t table : rw) {
    TSDBTableLocksFile* file = Resolve(table);
    if (!file || !UnlockTable(SessionID, ltRW, *file, true, true)) leftover = true;
  }
  if (leftover) throw ESDBException(kSDBErrTableLocksRemain, "Some table locks still exist");
  throw ESDBException(kSDBErrCommitLocksFailed, "Cannot commit changes. Locks of modified tables failed");
}

bool TSDBDatabaseTableLockManager::ClearTransactionLocks(int SessionID, const TLocksFileResolver& Resolve) {
  if (LPageManager.Exclusive()) return true;
  std::lock_guard<std::recursive_mutex> cs(FCSect);
  TSDBTableLockList& list = List(SessionID);
  bool ok = true;
  // An edit still open keeps its record covered by an ltSIRW of its own.
  std::vector<int32_t> edited;
  for (const auto& it : list.Items())
    if (it.LockType == ltU) edited.push_back(it.LocksFilePageNo);
  for (int32_t table : edited) {
    if (list.LockExists(ltSIRW, table)) continue;
    TSDBTableLocksFile* file = Resolve(table);
    if (!file || !LockTable(SessionID, ltSIRW, *file, CommitLockTryCount, CommitLockDelayMs, true, true))
      ok = false;
  }
  std::vector<std::pair<TSDBLockType, int32_t>> drop;
  for (const auto& it : list.Items())
    if (it.LockType == ltXIRW || it.LockType == ltRW) drop.emplace_back(it.LockType, it.LocksFilePageNo);
  // Strongest first, so a weaker grant never takes a byte only to lose it.
  std::stable_sort(drop.begin(), drop.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [type, table] : drop) {
    TSDBTableLocksFile* file = Resolve(table);
    if (!file) {
      bool physical = false;
      if (list.LockExists(type, table)) list.RemoveLock(type, table, physical, true);
      continue;
    }
    if (!UnlockTable(SessionID, type, *file, true, true)) ok = false;
  }
  return ok;
}

void TSDBDatabaseTableLockManager::ReleaseSessionLocks(int SessionID, const TLocksFileResolver& Resolve) {
  std::lock_guard<std::recursive_mutex> cs(FCSect);
  if (SessionID < 0 || SessionID >= static_cast<int>(FSessionLockList.size())) return;
  TSDBTableLockList& list = List(SessionID);
  while (!list.Items().empty()) {
    // The strongest item goes first so that no weaker one is made physical
    // just to be released right after.
    size_t best = 0;
    for (size_t i = 1; i < list.Items().size(); ++i)
      if (list.Items()[i].LockType > list.Items()[best].LockType) best = i;
    const TSDBTableLockItem it = list.Items()[best];
    TSDBTableLocksFile* file = LPageManager.Exclusive() ? nullptr : Resolve(it.LocksFilePageNo);
    bool released = false;
    if (file) {
      try {
        released = it.LockType == ltU ? UnlockRecord(SessionID, *file, {})
                                      : UnlockTable(SessionID, it.LockType, *file, true, true);
      } catch (...) {
      }
    }
    const int again = list.Find(it.LockType, it.LocksFilePageNo);
    if (!released && again >= 0) list.Items().erase(list.Items().begin() + again);
  }
}

}  // namespace sdb
