// A database file opened for table work by one process in single-user
// mode: the page cache, the system directory, the table catalogue, the
// critical section and the open table data objects (one per table, shared
// by its cursors). Tools and tests use it directly; the multi-user database
// data offers the same context with sessions and locks.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBSystemDirectory.h"
#include "storage/table/SDBTableData.h"

namespace sdb {

class TSDBTableDatabase : public TSDBTableDatabaseContext {
 public:
  explicit TSDBTableDatabase(int CacheCapacity = 0);
  ~TSDBTableDatabase() override;

  // Creates a new database file and opens it.
  void CreateDatabase(const TSDBCreateDatabaseParams& Params);
  // Exclusive: for this process alone; a file another connection holds
  // raises "Error - database file %s is in use." (10461).
  void OpenDatabase(const std::string& FileName, const std::string& Password = {}, bool ReadOnly = false,
                    bool Exclusive = false);
  // Closes every table and the file (uncommitted changes are discarded).
  void CloseDatabase();
  bool IsOpen() { return FCache.DiskPageManager().IsOpened(); }
  bool RepairNeeded() const { return FRepairNeeded; }
  bool ReadOnly() const { return FReadOnly; }

  // Creates a table (as the engine's own session).
  void CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs = {},
                   TSDBIndexDefs IndexDefs = {});
  // Opens the table for the cursor; the table data is shared by every
  // cursor of the table. Repair rebuilds a damaged record page index.
  void OpenTable(TSDBCursor& Cursor, const std::string& TableName, bool Repair = false);
  void CloseTable(TSDBCursor& Cursor);
  void DeleteTable(const std::string& TableName);
  void RenameTable(const std::string& OldName, const std::string& NewName);
  // Replaces the table by one of these definitions, filled from the old
  // records by Fill, in one commit (the table must not be open).
  void RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                    TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill);
  std::vector<std::string> GetTablesList();
  bool TableExists(const std::string& TableName);

  // Transactions of a session: changes stay pending until Commit.
  void Commit(int SessionID);
  void Rollback(int SessionID);

  TSDBDiskPageCache& Cache() { return FCache; }

  // TSDBTableDatabaseContext
  TSDBPageManager& PageManager() override { return FCache; }
  TSDBDiskPageManager& DiskPageManager() override { return FCache.DiskPageManager(); }
  TSDBTableListFile& TableListFile() override { return *FTableList; }
  std::recursive_mutex& CriticalSection() override { return FCSect; }
  bool LockTables(int TryCount, int DelayMs) override;
  void UnlockTables() override;
  int32_t GetNewObjectId() override;
  int32_t MaxSessionCount() const override { return FMaxSessionCount; }
  bool MultiUser() const override { return false; }
  bool PageInUse(int32_t PageNo) override;

 private:
  void LoadCatalogue();

  std::recursive_mutex FCSect;
  TSDBDiskPageCache FCache;
  std::unique_ptr<TSDBSystemDirectory> FSystemDir;
  std::unique_ptr<TSDBTableListFile> FTableList;
  TSDBOpenTableList FTableDataList{*this};
  int32_t FMaxSessionCount = kSDBDefaultMaxConnections;
  bool FRepairNeeded = false;
  bool FReadOnly = false;
};

}  // namespace sdb
