#include "components/SDBMemoryConnection.h"

#include <algorithm>
#include <mutex>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

TSDBMemoryDatabase& SDBSharedMemoryDatabase() {
  static TSDBMemoryDatabase database;
  return database;
}

TSDBMemoryConnection::TSDBMemoryConnection(TSDBMemoryDatabase& Database) : FDatabase(Database) {}

TSDBMemoryConnection::~TSDBMemoryConnection() {
  // Changes of a transaction left open are not kept.
  if (FInTransaction) {
    try {
      Rollback();
    } catch (...) {
    }
  }
}

void TSDBMemoryConnection::OpenTable(TSDBCursor& Cursor, const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> g(FDatabase.CriticalSection());
  Cursor.SessionID = SessionID();
  Cursor.FInTransaction = FInTransaction;
  FDatabase.OpenTable(Cursor, TableName);
  if (std::find(FCursors.begin(), FCursors.end(), &Cursor) == FCursors.end()) FCursors.push_back(&Cursor);
}

void TSDBMemoryConnection::CloseTable(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> g(FDatabase.CriticalSection());
  FCursors.erase(std::remove(FCursors.begin(), FCursors.end(), &Cursor), FCursors.end());
  FDatabase.CloseTable(Cursor);
}

void TSDBMemoryConnection::CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                       TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs) {
  FDatabase.CreateTable(TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs));
}

void TSDBMemoryConnection::DeleteTable(const std::string& TableName) { FDatabase.DeleteTable(TableName); }

void TSDBMemoryConnection::RenameTable(const std::string& OldName, const std::string& NewName) {
  FDatabase.RenameTable(OldName, NewName);
}

void TSDBMemoryConnection::RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                  TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs,
                                  const TSDBTableFill& Fill) {
  FDatabase.RebuildTable(TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs), Fill);
}

void TSDBMemoryConnection::EmptyTable(const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> g(FDatabase.CriticalSection());
  TSDBCursor cursor;
  cursor.SessionID = SessionID();
  cursor.FExclusive = true;
  FDatabase.OpenTable(cursor, TableName);
  try {
    cursor.TableData->EmptyTable(cursor);
  } catch (...) {
    FDatabase.CloseTable(cursor);
    throw;
  }
  FDatabase.CloseTable(cursor);
}

bool TSDBMemoryConnection::TableExists(const std::string& TableName) { return FDatabase.TableExists(TableName); }

std::vector<std::string> TSDBMemoryConnection::GetTablesList() { return FDatabase.GetTablesList(); }

void TSDBMemoryConnection::SetCursorsInTransaction(bool Value) {
  for (TSDBCursor* c : FCursors) c->FInTransaction = Value;
}

void TSDBMemoryConnection::StartTransaction() {
  std::lock_guard<std::recursive_mutex> g(FDatabase.CriticalSection());
  if (FInTransaction) throw ESDBException(kSDBErrTransactionActive, "Transaction is already active");
  FInTransaction = true;
  SetCursorsInTransaction(true);
}

void TSDBMemoryConnection::Commit(bool) {
  std::lock_guard<std::recursive_mutex> g(FDatabase.CriticalSection());
  FDatabase.Commit(SessionID());
  FInTransaction = false;
  SetCursorsInTransaction(false);
}

void TSDBMemoryConnection::Rollback() {
  std::lock_guard<std::recursive_mutex> g(FDatabase.CriticalSection());
  FInTransaction = false;
  SetCursorsInTransaction(false);
  FDatabase.Rollback(SessionID());
}

}  // namespace sdb
