// ==== Storage level 3 of 4: databases, sessions and locks (storage/database) ====
//
// This level owns an open database as its users see it: the database data
// shared by the sessions of a process (this header), the sessions
// themselves and their identifiers (SDBSession, SDBActiveSessions), the
// table and record locks between sessions and processes
// (SDBLockManager), the single-user database of one file used by tools and
// maintenance (SDBTableDatabase) and the in-memory database behind memory
// tables (SDBMemoryDatabase).
//
// It may use the table and file levels below it (storage/table,
// storage/file), common/, platform/ and include/sdb's value and error
// headers. It implements the table level's TSDBTableDatabaseContext; the
// SQL layer and the components above reach storage through it.
//
// One open database file as the sessions of a process share it: the page
// cache, the system directory, the active-sessions file, the table list, the
// table lock manager and the table data objects, all under one re-entrant
// critical section. Sessions that name the same file and the same session
// name share one object; sessions with another session name get their own
// and meet it only through the file, like another process.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "storage/database/SDBActiveSessions.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/database/SDBLockManager.h"
#include "storage/file/SDBSystemDirectory.h"
#include "storage/table/SDBTableData.h"
#include "storage/file/SDBTablePagesCache.h"

namespace sdb {

class TSDBBaseSession;

// One statement run on the calling thread (scopes nest; the outermost one
// is the statement). Inside it, the last shared (ltS) grant a session gives
// back on a table keeps its byte until the statement ends: the statement's
// next read of the table (its open reads the counters under one, its
// execution reads the rows under another) takes no new lock, and trusts
// what it read under the first, since no writer could come in between.
// The byte goes at the end of the statement, or before the session asks
// for any other lock, so that a session never waits for a lock while it
// keeps one this way.
class TSDBStatementScope {
 public:
  TSDBStatementScope();
  ~TSDBStatementScope();
  TSDBStatementScope(const TSDBStatementScope&) = delete;
  TSDBStatementScope& operator=(const TSDBStatementScope&) = delete;
  // Whether the calling thread runs a statement.
  static bool Active();
};

class TSDBDatabaseData {
 public:
  virtual ~TSDBDatabaseData() = default;
  void Lock() { FCSect.lock(); }
  void Unlock() { FCSect.unlock(); }

  virtual void ConnectSession(TSDBBaseSession& Session) = 0;
  virtual void DisconnectSession(TSDBBaseSession& Session) = 0;
  virtual void Commit(int SessionID, bool DoFlushBuffers) = 0;
  virtual void Rollback(int SessionID) = 0;
  virtual void FlushBuffers() = 0;

  const std::string& DatabaseName() const { return FDatabaseName; }
  const std::string& SessionName() const { return FSessionName; }
  bool ReadOnly() const { return FReadOnly; }
  bool IsMultiUser() const { return FMultiUser; }
  int SessionCount();

 protected:
  std::recursive_mutex FCSect;
  std::vector<TSDBBaseSession*> FSessionList;
  std::string FDatabaseName;
  std::string FSessionName;
  bool FReadOnly = false;
  bool FMultiUser = false;
};

class TSDBDiskDatabaseData : public TSDBDatabaseData, public TSDBTableDatabaseContext {
 public:
  TSDBDiskDatabaseData(const std::string& FileName, const std::string& SessionName, int CacheCapacity = 0);
  ~TSDBDiskDatabaseData() override;

  // ---- Sessions ------------------------------------------------------------------------

  void ConnectSession(TSDBBaseSession& Session) override;
  void DisconnectSession(TSDBBaseSession& Session) override;
  // Connections to the file from every process (a single-user holder counts
  // as the whole file).
  int GetDBFileConnectionsCount();
  void Commit(int SessionID, bool DoFlushBuffers) override;
  void Rollback(int SessionID) override;
  void FlushBuffers() override;

  // ---- Tables --------------------------------------------------------------------------

  void CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                   TSDBIndexDefs IndexDefs);
  void OpenTable(TSDBCursor& Cursor, const std::string& TableName);
  void CloseTable(TSDBCursor& Cursor);
  void DeleteTable(int SessionID, const std::string& TableName);
  void RenameTable(int SessionID, const std::string& OldName, const std::string& NewName);
  // Replaces the table in one commit (TSDBDiskTableData::RebuildTable),
  // holding it exclusively meanwhile.
  void RebuildTable(int SessionID, const std::string& TableName, TSDBFieldDefs FieldDefs,
                    TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill);
  void EmptyTable(int SessionID, const std::string& TableName);
  std::vector<std::string> GetTablesList();
  bool TableExists(const std::string& TableName);
  TSDBDiskTableData* FindTableData(const std::string& TableName);

  // ---- State ---------------------------------------------------------------------------

  bool IsOpen() { return FCache.DiskPageManager().IsOpened(); }
  bool RepairNeeded() const { return FRepairNeeded; }
  bool Exclusive() { return FCache.DiskPageManager().Exclusive(); }
  int PageSize() { return FCache.DiskPageManager().PageSize(); }
  int PageCountInExtent() { return FCache.DiskPageManager().PageCountInExtent(); }
  TSDBCryptoAlgorithm Cipher();
  const std::string& Password() const { return FPassword; }
  TSDBDiskPageCache& Cache() { return FCache; }
  TSDBDatabaseTableLockManager* TableLockManager() { return FTableLockManager.get(); }
  TSDBDiskTablePagesCacheManager& PagesCacheManager() { return FPagesCacheManager; }
  TSDBActiveSessionsFile* ActiveSessionsFile() { return FActiveSessionsFile.get(); }

  // ---- TSDBTableDatabaseContext --------------------------------------------------------

  TSDBPageManager& PageManager() override { return FCache; }
  TSDBDiskPageManager& DiskPageManager() override { return FCache.DiskPageManager(); }
  TSDBTableListFile& TableListFile() override;
  std::recursive_mutex& CriticalSection() override { return FCSect; }
  bool LockTables(int TryCount, int DelayMs) override;
  void UnlockTables() override;
  int32_t GetNewObjectId() override;
  int32_t MaxSessionCount() const override { return FMaxSessionCount; }
  bool MultiUser() const override { return FMultiUser; }
  bool PageInUse(int32_t PageNo) override;
  bool LockTable(TSDBDiskTableData& Table, int SessionID, TSDBLockType LockType, int TryCount, int DelayMs,
                 bool AllowXIRWAfterSIRW) override;
  bool UnlockTable(TSDBDiskTableData& Table, int SessionID, TSDBLockType LockType, bool IgnoreIfNoLock) override;
  bool LockRecord(TSDBDiskTableData& Table, int SessionID, const TSDBPageItemID& RecordID, int TryCount,
                  int DelayMs) override;
  bool UnlockRecord(TSDBDiskTableData& Table, int SessionID, const TSDBPageItemID& RecordID) override;
  bool IsRecordLocked(TSDBDiskTableData& Table, int SessionID, const TSDBPageItemID& RecordID) override;
  void MostUpdatedLoaded(TSDBDiskTableData& Table, int SessionID, int32_t TableState) override;
  bool MostUpdatedKnown(TSDBDiskTableData& Table, int SessionID) override;

  // Gives back the shared locks kept for the statements of the calling
  // thread (see TSDBStatementScope).
  void EndStatement() noexcept;
  // Whether the session keeps a shared lock of an ended read (tests).
  bool KeepsSharedLock(int SessionID);

 private:
  // A shared grant given back inside a statement whose byte is kept.
  struct TKeptSharedLock {
    int SessionID;
    TSDBDiskTableData* Table;
    int32_t LocksFilePageNo;
    std::thread::id Thread;
  };
  // Gives back the kept locks of the session (every session: -1), or only
  // those kept by the calling thread.
  void ReleaseKeptLocks(int SessionID, bool ThisThreadOnly);
  void OpenDatabase(TSDBBaseSession& Session);
  void LoadCatalogue();
  void CloseDatabase() noexcept;
  bool UsesLocks(int SessionID) const;
  // Opens the table exclusively for the session, runs Op, and closes the
  // table again when Op fails.
  void RunExclusive(int SessionID, const std::string& TableName,
                    const std::function<void(TSDBDiskTableData&, TSDBCursor&)>& Op);
  // The locks file of a table by its first page: an open table's own, or
  // one opened for the call (kept in FLooseLocksFiles).
  TSDBTableLocksFile* ResolveLocksFile(int32_t LocksFilePageNo);
  // Tells change detection about ltS / ltRW grants and releases the lock
  // manager made for the session since the last call.
  void SyncChangeDetection(int SessionID);

  TSDBDiskPageCache FCache;
  std::unique_ptr<TSDBSystemDirectory> FSystemDir;
  std::unique_ptr<TSDBActiveSessionsFile> FActiveSessionsFile;
  std::unique_ptr<TSDBTableListFile> FTableList;
  std::unique_ptr<TSDBDatabaseTableLockManager> FTableLockManager;
  TSDBDiskTablePagesCacheManager FPagesCacheManager;
  TSDBOpenTableList FTableDataList{*this};
  std::map<int32_t, std::unique_ptr<TSDBTableLocksFile>> FLooseLocksFiles;
  // Per session: the ltS and ltRW counts per table as last told to change
  // detection, and the counts of a call in progress (kept to reuse).
  std::map<int, std::vector<TSDBGrantCounts>> FReportedCounts;
  std::vector<TSDBGrantCounts> FGrantCounts;
  std::vector<int32_t> FGrantTables;
  std::vector<TKeptSharedLock> FKeptLocks;
  std::string FPassword;
  int32_t FMaxSessionCount = 0;
  bool FSingleUserConnected = false;
  bool FRepairNeeded = false;
};

// The process-wide list of database data objects, one per file and session
// name (both compared case-insensitively). Guarded by its own mutex.
class TSDBDatabaseDataList {
 public:
  static TSDBDatabaseDataList& Instance();
  // The shared object for this file and session name, created when absent.
  std::shared_ptr<TSDBDiskDatabaseData> FindOrCreate(const std::string& FileName, const std::string& SessionName);
  // Drops the object when no session is connected to it any more.
  void FreeIfNoSessionsConnected(const std::shared_ptr<TSDBDiskDatabaseData>& Data);
  int Count();

 private:
  std::mutex FLock;
  std::vector<std::shared_ptr<TSDBDiskDatabaseData>> FList;
};

}  // namespace sdb
