// A database whose tables live in memory: the context the table layer sees
// (TSDBTableDatabaseContext) over a memory page manager, so that the table
// operations (create, open, insert, update, delete, navigate, BLOBs) run
// unchanged for query results and memory tables and nothing reaches a file.
//
// Records, BLOBs, metadata, counters and the table list are all pages of the
// memory page manager. The table layer also keeps one small direct-access
// file per table for multi-user record locks; a memory database is never
// shared, so those files are never locked, but they must exist. They are
// kept in an anonymous side store, made when the first table is created in
// the shared-memory file system (which lives in memory) and unlinked at
// once, so that no named file is ever left behind.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "storage/file/SDBMemoryPageManager.h"
#include "storage/file/SDBPageManager.h"
#include "storage/table/SDBTableData.h"
#include "storage/table/SDBTableList.h"

namespace sdb {

class TSDBMemoryDatabase : public TSDBTableDatabaseContext {
 public:
  explicit TSDBMemoryDatabase(uint16_t PageSize = kSDBDefaultPageSize, int CacheCapacity = 64);
  ~TSDBMemoryDatabase() override;
  TSDBMemoryDatabase(const TSDBMemoryDatabase&) = delete;
  TSDBMemoryDatabase& operator=(const TSDBMemoryDatabase&) = delete;

  // Same meaning as on the database file.
  void CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs = {},
                   TSDBIndexDefs IndexDefs = {});
  void OpenTable(TSDBCursor& Cursor, const std::string& TableName);
  void CloseTable(TSDBCursor& Cursor);
  void DeleteTable(const std::string& TableName);
  void RenameTable(const std::string& OldName, const std::string& NewName);
  // Replaces the table by one of these definitions, filled from the old
  // records by Fill, in one commit (the table must not be open).
  void RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                    TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill);
  std::vector<std::string> GetTablesList();
  bool TableExists(const std::string& TableName);
  void Commit(int SessionID);
  void Rollback(int SessionID);

  TSDBMemoryPageManager& MemoryPageManager() { return FPages; }
  // Bytes held by the pages of every table.
  int64_t UsedMemory() const { return FPages.UsedMemory(); }

  // TSDBTableDatabaseContext
  TSDBPageManager& PageManager() override { return FPages; }
  TSDBDiskPageManager& DiskPageManager() override;
  TSDBTableListFile& TableListFile() override { return *FTableList; }
  std::recursive_mutex& CriticalSection() override { return FCSect; }
  bool LockTables(int, int) override { return true; }
  void UnlockTables() override {}
  int32_t GetNewObjectId() override { return ++FLastObjectID; }
  int32_t MaxSessionCount() const override { return 1; }
  bool MultiUser() const override { return false; }
  bool PageInUse(int32_t PageNo) override { return FPages.PageInUse(PageNo); }

 private:

  std::recursive_mutex FCSect;
  TSDBMemoryPageManager FPages;
  std::unique_ptr<TSDBDiskPageManager> FSideStore;
  std::unique_ptr<TSDBTableListFile> FTableList;
  TSDBOpenTableList FTableDataList{*this};
  int32_t FLastObjectID = 0;
};

}  // namespace sdb
