// What statement execution needs from the components above it: a
// connection to a database file (tables, transactions) and the query
// component's settings. The components implement these interfaces, so the
// executor never depends on them.
#pragma once

#include <string>
#include <vector>

#include "storage/table/SDBFieldDef.h"
#include "storage/table/SDBTableData.h"

namespace sdb {

// One connection to one database file (a session of the file layer).
class TSDBExecConnection {
 public:
  virtual ~TSDBExecConnection() = default;
  virtual int SessionID() const = 0;
  virtual bool ReadOnly() const = 0;
  virtual void OpenTable(TSDBCursor& Cursor, const std::string& TableName) = 0;
  virtual void CloseTable(TSDBCursor& Cursor) = 0;
  virtual void CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                           TSDBIndexDefs IndexDefs) = 0;
  virtual void DeleteTable(const std::string& TableName) = 0;
  virtual void RenameTable(const std::string& OldName, const std::string& NewName) = 0;
  // Replaces a table by one of new definitions filled from its records, in
  // one commit; fails while anybody else has the table open.
  virtual void RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                            TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill) = 0;
  virtual void EmptyTable(const std::string& TableName) = 0;
  virtual bool TableExists(const std::string& TableName) = 0;
  virtual std::vector<std::string> GetTablesList() = 0;
  virtual void StartTransaction() = 0;
  virtual void Commit(bool Flush) = 0;
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;
};

// The query component that runs statements.
class TSDBExecHost {
 public:
  virtual ~TSDBExecHost() = default;
  // The connection of the component's database, or of the database file
  // named by a statement (empty name: the component's own).
  virtual TSDBExecConnection& Connection(const std::string& DatabaseFileName, const std::string& Password) = 0;
  // The connection that holds in-memory tables (INTO MEMORY, MEMORY t).
  virtual TSDBExecConnection& MemoryConnection() = 0;
};

}  // namespace sdb
