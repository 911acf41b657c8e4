// Table and record locks between sessions.
//
// There is no lock server: a table lock is a locked byte of the table's
// locks file, one byte per lock type and session, and a record lock is the
// session's record-lock byte plus a slot that names the locked record.
// Because the byte-range lock primitive refuses a second lock of a byte also
// inside this process, sessions of one process and sessions of other
// processes are treated alike. Check-then-lock sequences run while the
// locks file's own lock (byte 0 of its first page) is held, so they are
// atomic among all engines that follow this protocol.
//
// Locks file content (N = sessions the table was created for):
//   t * N + s, t = ltIS .. ltRW   lock byte of type t held by session s
//   5 * N + s                     record-lock byte of session s
//   6 * N + 6 * s                 PageNo (int32) of the record s has locked
//   6 * N + 6 * s + 4             PageItemNo (uint16) of that record
// ltX has no byte: an exclusive table lock is the lock of the whole file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "storage/file/SDBInternalFile.h"
#include "storage/file/SDBPageFormat.h"
#include "storage/table/SDBTableData.h"

namespace sdb {

inline constexpr int kSDBLockTypeCount = 7;
inline constexpr int kSDBLocksBytesPerSession = 12;
// Waits of the lock bookkeeping itself (the locks-file lock, releases).
inline constexpr int kSDBLocksFileTryCount = 4500;
inline constexpr int kSDBLocksFileDelayMs = 20;
// Waits of a commit for the write locks of the modified tables.
inline constexpr int kSDBCommitLockTryCount = 900;
inline constexpr int kSDBCommitLockDelayMs = 100;

// Whether a lock of type Requested by one session can coexist with a lock of
// type Held of another session.
bool SDBLocksCompatible(TSDBLockType Held, TSDBLockType Requested);
// A is at least as strong as B: every type compatible with A is compatible with B.
bool SDBLockAtLeastAsStrong(TSDBLockType A, TSDBLockType B);
const char* SDBLockTypeName(TSDBLockType LockType);

class TSDBTableLocksFile {
 public:
  // A locks file of its own (create or open it by page number).
  explicit TSDBTableLocksFile(TSDBDiskPageManager& PageManager);
  // A view of a locks file some table data already has open.
  explicit TSDBTableLocksFile(TSDBInternalDBDirectAccessFile& Handle);
  TSDBTableLocksFile(const TSDBTableLocksFile&) = delete;
  TSDBTableLocksFile& operator=(const TSDBTableLocksFile&) = delete;

  // Answers the first page number.
  int32_t CreateFile(int32_t aMaxSessionCount);
  void OpenFile(int32_t aStartPageNo);
  void CloseFile();
  void DeleteFile();
  bool IsOpen() const { return FHandle && FHandle->IsOpen(); }
  int32_t StartPageNo() const { return FHandle ? FHandle->StartPageNo() : -1; }
  int32_t MaxSessionCount() const { return FMaxSessionCount; }

  bool LockTable(int SessionID, TSDBLockType LockType);
  bool UnlockTable(int SessionID, TSDBLockType LockType);
  bool IsTableLockedByAnyOtherSession(int SessionID, TSDBLockType LockType);
  bool IsTableLockAllowed(int SessionID, TSDBLockType LockType, bool AllowXIRWAfterSIRW);
  // Whether another session holds a byte of any of Types (ascending).
  // OwnHeld has bit t set when the session holds its own byte of type t.
  bool IsAnyLockedByOtherSession(int SessionID, const TSDBLockType* Types, int Count, unsigned OwnHeld);
  bool LockRecord(int SessionID, const TSDBPageItemID& RecordID);
  bool UnlockRecord(int SessionID, const TSDBPageItemID& RecordID);
  bool IsRecordLockedByAnyOtherSession(int SessionID, const TSDBPageItemID& RecordID);
  bool LockFile();
  bool UnlockFile();

  // Inspection (tools): whether session s holds the byte of a type, its
  // record-lock byte, and the record in its slot. Answers for bytes held
  // through this very handle too.
  bool IsLockByteHeld(int SessionID, TSDBLockType LockType);
  bool IsRecordByteHeld(int SessionID);
  TSDBPageItemID RecordSlot(int SessionID);
  // Whether the whole-file lock (ltX or bookkeeping) is held by anybody.
  bool IsFileLockHeld();

 private:
  void CheckOpen(int ErrorCode) const;
  bool IsOtherByteLocked(int32_t Base, int SessionID);

  std::unique_ptr<TSDBInternalDBDirectAccessFile> FOwnHandle;
  TSDBInternalDBDirectAccessFile* FHandle = nullptr;
  int32_t FMaxSessionCount = 0;
};

// What one session of this process holds.
struct TSDBTableLockItem {
  TSDBLockType LockType = ltIS;
  int32_t LocksFilePageNo = -1;
  int32_t Count = 0;
  bool HasPhysicalLock = false;
  bool IsXIRWAfterSIRWAllowed = false;
  // ltU items: the locked record, so that a record lock granted under a
  // stronger table lock can take its own byte when that lock goes.
  TSDBPageItemID RecordID;
};

class TSDBTableLockList {
 public:
  void AddLock(TSDBLockType LockType, int32_t LocksFilePageNo, bool HasPhysicalLock, bool IsXIRWAfterSIRWAllowed);
  // One grant less; the item goes when its count reaches 0 or IgnoreCount
  // is set. Answers whether the item went. Raises 20202 when absent.
  bool RemoveLock(TSDBLockType LockType, int32_t LocksFilePageNo, bool& HasPhysicalLock, bool IgnoreCount);
  bool LockExists(TSDBLockType LockType, int32_t LocksFilePageNo) const;
  bool LockExists(TSDBLockType LockType, int32_t LocksFilePageNo, bool IsXIRWAfterSIRWAllowed) const;
  // Another type held on the table that is at least as strong.
  bool StrongerLockExists(TSDBLockType LockType, int32_t LocksFilePageNo) const;
  void SetPhysicalLock(int ItemNo) { FLockList[static_cast<size_t>(ItemNo)].HasPhysicalLock = true; }
  // Item ItemNo is a non-physical lock of LockType's table weaker than LockType.
  bool IsWeakerNonPhysicalLock(int ItemNo, TSDBLockType LockType, int32_t LocksFilePageNo) const;
  int Find(TSDBLockType LockType, int32_t LocksFilePageNo) const;

  const std::vector<TSDBTableLockItem>& Items() const { return FLockList; }
  std::vector<TSDBTableLockItem>& Items() { return FLockList; }

 private:
  std::vector<TSDBTableLockItem> FLockList;
};

// How many shared (ltS) and read-write (ltRW) grants a session holds on a
// table: what change detection follows.
struct TSDBGrantCounts {
  int32_t LocksFilePageNo = -1;
  int S = 0;
  int RW = 0;
};

class TSDBDatabaseTableLockManager {
 public:
  TSDBDatabaseTableLockManager(TSDBDiskPageManager& PageManager, int32_t MaxSessionCount);

  bool LockTable(int SessionID, TSDBLockType LockType, TSDBTableLocksFile& TableLocksFile, int aTryCount,
                 int aDelayMS, bool NoThreadLock, bool AllowXIRWAfterSIRW);
  bool UnlockTable(int SessionID, TSDBLockType LockType, TSDBTableLocksFile& TableLocksFile, bool IgnoreIfNoLock,
                   bool IgnoreCount);
  bool LockRecord(int SessionID, TSDBTableLocksFile& TableLocksFile, const TSDBPageItemID& RecordID, int aTryCount,
                  int aDelayMS);
  bool UnlockRecord(int SessionID, TSDBTableLocksFile& TableLocksFile, const TSDBPageItemID& RecordID);
  bool IsRecordLocked(int SessionID, TSDBTableLocksFile& TableLocksFile, const TSDBPageItemID& RecordID);
  // Locks files are found again by their first page number (the table
  // identifier of the lock lists); the database data supplies them.
  using TLocksFileResolver = std::function<TSDBTableLocksFile*(int32_t LocksFilePageNo)>;
  bool AddRWLocksBeforeCommit(int SessionID, const TLocksFileResolver& Resolve);
  bool ClearTransactionLocks(int SessionID, const TLocksFileResolver& Resolve);
  // Drops everything a session holds (disconnect).
  void ReleaseSessionLocks(int SessionID, const TLocksFileResolver& Resolve);

  // Forgets the session's grants on a table whose locks file was deleted
  // (the caller releases what the file held).
  void ForgetTable(int SessionID, int32_t LocksFilePageNo);
  // Whether the session already holds LockType on the table.
  bool HoldsLock(int SessionID, TSDBLockType LockType, int32_t LocksFilePageNo);
  // Whether the session's one grant of LockType on the table holds a byte of
  // its own (releasing it gives the byte back).
  bool HoldsSinglePhysicalGrant(int SessionID, TSDBLockType LockType, int32_t LocksFilePageNo);
  // Replaces Out with the session's ltS and ltRW counts per table (tables
  // with neither are left out).
  void CountGrants(int SessionID, std::vector<TSDBGrantCounts>& Out);
  // A copy of a session's list (tests, tools).
  std::vector<TSDBTableLockItem> SessionLocks(int SessionID);
  int32_t MaxSessionCount() const { return FMaxSessionCount; }
  // Waits of a commit for its write locks (tests shorten them).
  int CommitLockTryCount = kSDBCommitLockTryCount;
  int CommitLockDelayMs = kSDBCommitLockDelayMs;
  bool Exclusive() const { return LPageManager.Exclusive(); }

 private:
  TSDBTableLockList& List(int SessionID);
  bool ReleasePhysical(TSDBLockType LockType, TSDBTableLocksFile& File, int SessionID);

  std::vector<TSDBTableLockList> FSessionLockList;
  int32_t FMaxSessionCount;
  std::recursive_mutex FCSect;
  TSDBDiskPageManager& LPageManager;
};

}  // namespace sdb
