// Change detection between sessions. While a session holds a read (ltS) or
// write (ltRW) lock on a table nobody else can change it, so the table state
// read from its most-updated file during that lock period describes every
// page of the table the session sees. A cached page stamped with that state
// for this session and table needs no look at its on-disk copy; any other
// page is checked against its on-disk State before use.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace sdb {

struct TSDBDTPCTableInfo {
  int32_t TableID = -1;
  int TableSLockCount = 0;
  int TableRWLockCount = 0;
  bool IsMostUpdatedLoaded = false;
  int64_t TableState = -1;
  bool IsTableLockedFromModification() const { return TableSLockCount + TableRWLockCount > 0; }
};

struct TSDBDTPCSessionInfo {
  std::map<int32_t, TSDBDTPCTableInfo> FTableInfo;
  std::vector<int32_t> FWorkTableIDs;
  TSDBDTPCTableInfo& Table(int32_t TableID);
};

class TSDBDiskTablePagesCacheManager {
 public:
  void TableIsSLocked(int SessionID, int32_t TableID);
  void TableIsSUnlocked(int SessionID, int32_t TableID);
  void TableIsRWLocked(int SessionID, int32_t TableID);
  void TableIsRWUnlocked(int SessionID, int32_t TableID);
  bool GetIsMostUpdatedLoaded(int SessionID, int32_t TableID);
  // Keeps the first state recorded in a lock period.
  void SetIsMostUpdatedLoaded(int SessionID, int32_t TableID, int64_t TableState);
  void BeginWorkWithTable(int SessionID, int32_t TableID);
  void EndWorkWithTable(int SessionID, int32_t TableID);
  // The state of the session's current work table, and whether it can be
  // trusted (table locked from modification and loaded in this period).
  // Generation, when given, receives the Generation() the answer holds for.
  bool GetWorkTableState(int SessionID, int32_t& WorkTableID, int64_t& WorkTableState,
                         uint64_t* Generation = nullptr);
  // Changes with every change of what the manager knows: an answer of
  // GetWorkTableState holds as long as this is the same.
  uint64_t Generation() const noexcept { return FGeneration.load(std::memory_order_acquire); }
  // Forgets a session (disconnect) or everything (close).
  void ClearSession(int SessionID);
  void Clear();

 private:
  void Changed(TSDBDTPCTableInfo& Info, int Before);
  // Under FCSect, after a change.
  void Bump() noexcept { FGeneration.fetch_add(1, std::memory_order_release); }
  std::recursive_mutex FCSect;
  std::atomic<uint64_t> FGeneration{0};
  std::map<int, TSDBDTPCSessionInfo> FSessionInfo;
};

}  // namespace sdb
