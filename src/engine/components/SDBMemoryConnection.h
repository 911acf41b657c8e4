// The connection of queries to the process's memory database: the tables of
// INTO MEMORY and FROM MEMORY t. Every query of the process sees the same
// memory tables; they never reach a file and vanish with the process.
#pragma once

#include <string>
#include <vector>

#include "sql/SDBExecHost.h"
#include "storage/database/SDBMemoryDatabase.h"

namespace sdb {

// The memory database shared by every component of the process, made on
// first use and freed when the process ends.
TSDBMemoryDatabase& SDBSharedMemoryDatabase();

class TSDBMemoryConnection : public TSDBExecConnection {
 public:
  explicit TSDBMemoryConnection(TSDBMemoryDatabase& Database = SDBSharedMemoryDatabase());
  ~TSDBMemoryConnection() override;
  TSDBMemoryConnection(const TSDBMemoryConnection&) = delete;
  TSDBMemoryConnection& operator=(const TSDBMemoryConnection&) = delete;

  TSDBMemoryDatabase& Database() { return FDatabase; }

  // TSDBExecConnection. A memory database has a single session (0).
  int SessionID() const override { return 0; }
  bool ReadOnly() const override { return false; }
  void OpenTable(TSDBCursor& Cursor, const std::string& TableName) override;
  void CloseTable(TSDBCursor& Cursor) override;
  void CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                   TSDBIndexDefs IndexDefs) override;
  void DeleteTable(const std::string& TableName) override;
  void RenameTable(const std::string& OldName, const std::string& NewName) override;
  void RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                    TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill) override;
  void EmptyTable(const std::string& TableName) override;
  bool TableExists(const std::string& TableName) override;
  std::vector<std::string> GetTablesList() override;
  // Changes made while a transaction runs wait for Commit; Rollback drops
  // them. "Transaction is already active" (30481) for a second start.
  void StartTransaction() override;
  void Commit(bool Flush) override;
  void Rollback() override;
  bool InTransaction() const override { return FInTransaction; }

 private:
  void SetCursorsInTransaction(bool Value);

  TSDBMemoryDatabase& FDatabase;
  bool FInTransaction = false;
  std::vector<TSDBCursor*> FCursors;  // open through this connection
};

}  // namespace sdb
