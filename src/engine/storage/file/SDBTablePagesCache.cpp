#include "storage/file/SDBTablePagesCache.h"

#include <algorithm>

namespace sdb {

TSDBDTPCTableInfo& TSDBDTPCSessionInfo::Table(int32_t TableID) {
  auto [it, added] = FTableInfo.try_emplace(TableID);
  if (added) it->second.TableID = TableID;
  return it->second;
}

void TSDBDiskTablePagesCacheManager::Changed(TSDBDTPCTableInfo& Info, int Before) {
  const int after = Info.TableSLockCount + Info.TableRWLockCount;
  // A new lock period starts, or one ends: what was read before proves nothing.
  if ((Before == 0) != (after == 0)) {
    Info.IsMostUpdatedLoaded = false;
    Info.TableState = -1;
  }
}

void TSDBDiskTablePagesCacheManager::TableIsSLocked(int SessionID, int32_t TableID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  TSDBDTPCTableInfo& t = FSessionInfo[SessionID].Table(TableID);
  const int before = t.TableSLockCount + t.TableRWLockCount;
  ++t.TableSLockCount;
  Changed(t, before);
  Bump();
}

void TSDBDiskTablePagesCacheManager::TableIsSUnlocked(int SessionID, int32_t TableID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  TSDBDTPCTableInfo& t = FSessionInfo[SessionID].Table(TableID);
  const int before = t.TableSLockCount + t.TableRWLockCount;
  if (t.TableSLockCount > 0) --t.TableSLockCount;
  Changed(t, before);
  Bump();
}

void TSDBDiskTablePagesCacheManager::TableIsRWLocked(int SessionID, int32_t TableID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  TSDBDTPCTableInfo& t = FSessionInfo[SessionID].Table(TableID);
  const int before = t.TableSLockCount + t.TableRWLockCount;
  ++t.TableRWLockCount;
  Changed(t, before);
  Bump();
}

void TSDBDiskTablePagesCacheManager::TableIsRWUnlocked(int SessionID, int32_t TableID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  TSDBDTPCTableInfo& t = FSessionInfo[SessionID].Table(TableID);
  const int before = t.TableSLockCount + t.TableRWLockCount;
  if (t.TableRWLockCount > 0) --t.TableRWLockCount;
  Changed(t, before);
  Bump();
}

bool TSDBDiskTablePagesCacheManager::GetIsMostUpdatedLoaded(int SessionID, int32_t TableID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  return FSessionInfo[SessionID].Table(TableID).IsMostUpdatedLoaded;
}

void TSDBDiskTablePagesCacheManager::SetIsMostUpdatedLoaded(int SessionID, int32_t TableID, int64_t TableState) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  TSDBDTPCTableInfo& t = FSessionInfo[SessionID].Table(TableID);
  // Outside a lock period the value could change at any moment: keep nothing.
  if (!t.IsTableLockedFromModification() || t.IsMostUpdatedLoaded) return;
  t.IsMostUpdatedLoaded = true;
  t.TableState = TableState;
  Bump();
}

void TSDBDiskTablePagesCacheManager::BeginWorkWithTable(int SessionID, int32_t TableID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  FSessionInfo[SessionID].FWorkTableIDs.push_back(TableID);
  Bump();
}

void TSDBDiskTablePagesCacheManager::EndWorkWithTable(int SessionID, int32_t TableID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  auto& ids = FSessionInfo[SessionID].FWorkTableIDs;
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    if (*it == TableID) {
      ids.erase(std::next(it).base());
      Bump();
      return;
    }
  }
}

bool TSDBDiskTablePagesCacheManager::GetWorkTableState(int SessionID, int32_t& WorkTableID, int64_t& WorkTableState,
                                                       uint64_t* Generation) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (Generation) *Generation = FGeneration.load(std::memory_order_relaxed);
  WorkTableID = -1;
  WorkTableState = -1;
  auto s = FSessionInfo.find(SessionID);
  if (s == FSessionInfo.end() || s->second.FWorkTableIDs.empty()) return false;
  WorkTableID = s->second.FWorkTableIDs.back();
  const TSDBDTPCTableInfo& t = s->second.Table(WorkTableID);
  WorkTableState = t.TableState;
  return t.IsTableLockedFromModification() && t.IsMostUpdatedLoaded;
}

void TSDBDiskTablePagesCacheManager::ClearSession(int SessionID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  FSessionInfo.erase(SessionID);
  Bump();
}

void TSDBDiskTablePagesCacheManager::Clear() {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  FSessionInfo.clear();
  Bump();
}

}  // namespace sdb
