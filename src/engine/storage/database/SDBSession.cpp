#include "storage/database/SDBSession.h"

#include <algorithm>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/database/SDBDatabaseData.h"

namespace sdb {

TSDBLocalSession::~TSDBLocalSession() {
  try {
    Disconnect();
  } catch (...) {
  }
}

void TSDBLocalSession::CheckConnected() const {
  if (!FData) throw ESDBException(kSDBErrDatabaseNotOpen, "Error - database file is not opened.");
}

void TSDBLocalSession::Connect(const TSDBConnectParams& Params) {
  if (FData) Disconnect();
  FDatabaseName = Params.DatabaseName;
  FDatabaseFileName = Params.FileName;
  FPassword = Params.Password;
  FSessionName = Params.SessionName;
  FReadOnly = Params.ReadOnly;
  FExclusive = Params.Exclusive;
  FMultiUser = Params.MultiUser && !Params.Exclusive;
  FDisableTempFiles = Params.DisableTempFiles;
  FInTransaction = false;
  auto& list = TSDBDatabaseDataList::Instance();
  std::shared_ptr<TSDBDiskDatabaseData> data = list.FindOrCreate(Params.FileName, Params.SessionName);
  try {
    data->ConnectSession(*this);
  } catch (...) {
    list.FreeIfNoSessionsConnected(data);
    throw;
  }
  FData = data;
  FPageSize = data->PageSize();
  FPageCountInExtent = data->PageCountInExtent();
  FCipher = data->Cipher();
}

void TSDBLocalSession::Disconnect() {
  if (!FData) return;
  std::shared_ptr<TSDBDiskDatabaseData> data = FData;
  {
    std::lock_guard<std::recursive_mutex> g(data->CriticalSection());
    for (TSDBCursor* c : std::vector<TSDBCursor*>(FCursors)) {
      try {
        data->CloseTable(*c);
      } catch (...) {
      }
    }
    FCursors.clear();
  }
  FData.reset();
  std::exception_ptr failure;
  try {
    data->DisconnectSession(*this);
  } catch (...) {
    failure = std::current_exception();
  }
  FInTransaction = false;
  TSDBDatabaseDataList::Instance().FreeIfNoSessionsConnected(data);
  if (failure) std::rethrow_exception(failure);
}

TSDBTableDatabaseContext& TSDBLocalSession::Database() { return DatabaseData(); }

TSDBDiskDatabaseData& TSDBLocalSession::DatabaseData() {
  CheckConnected();
  return *FData;
}

void TSDBLocalSession::CreateDatabase(const TSDBCreateDatabaseParams& Params) {
  TSDBDiskPageCache cache;
  SDBCreateDatabase(cache, Params);
  cache.CloseDatabase();
}

void TSDBLocalSession::OpenTable(TSDBCursor& Cursor, const std::string& TableName, bool Exclusive) {
  CheckConnected();
  std::lock_guard<std::recursive_mutex> g(FData->CriticalSection());
  Cursor.SessionID = FSessionID;
  Cursor.FExclusive = Exclusive;
  Cursor.FInTransaction = FInTransaction;
  Cursor.FDisableTempFiles = FDisableTempFiles;
  FData->OpenTable(Cursor, TableName);
  if (std::find(FCursors.begin(), FCursors.end(), &Cursor) == FCursors.end()) FCursors.push_back(&Cursor);
}

void TSDBLocalSession::CloseTable(TSDBCursor& Cursor) {
  CheckConnected();
  std::lock_guard<std::recursive_mutex> g(FData->CriticalSection());
  FCursors.erase(std::remove(FCursors.begin(), FCursors.end(), &Cursor), FCursors.end());
  FData->CloseTable(Cursor);
}

void TSDBLocalSession::CreateTable(const std::string& Name, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                                   TSDBIndexDefs IndexDefs) {
  CheckConnected();
  FData->CreateTable(Name, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs));
}

void TSDBLocalSession::DeleteTable(const std::string& TableName) {
  CheckConnected();
  FData->DeleteTable(FSessionID, TableName);
}

void TSDBLocalSession::RenameTable(const std::string& OldName, const std::string& NewName) {
  CheckConnected();
  FData->RenameTable(FSessionID, OldName, NewName);
}

void TSDBLocalSession::RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                    TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs,
                                    const TSDBTableFill& Fill) {
  CheckConnected();
  FData->RebuildTable(FSessionID, TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs),
                      Fill);
}

void TSDBLocalSession::EmptyTable(const std::string& TableName) {
  CheckConnected();
  FData->EmptyTable(FSessionID, TableName);
}

std::vector<std::string> TSDBLocalSession::GetTablesList() {
  CheckConnected();
  return FData->GetTablesList();
}

bool TSDBLocalSession::TableExists(const std::string& TableName) {
  CheckConnected();
  return FData->TableExists(TableName);
}

void TSDBLocalSession::SetCursorsInTransaction(bool Value) {
  for (TSDBCursor* c : FCursors) c->FInTransaction = Value;
}

void TSDBLocalSession::StartTransaction() {
  CheckConnected();
  std::lock_guard<std::recursive_mutex> g(FData->CriticalSection());
  if (FInTransaction) throw ESDBException(kSDBErrTransactionActive, "Transaction is already active");
  FInTransaction = true;
  SetCursorsInTransaction(true);
}

void TSDBLocalSession::Commit() {
  CheckConnected();
  std::lock_guard<std::recursive_mutex> g(FData->CriticalSection());
  FData->Commit(FSessionID, false);
  FInTransaction = false;
  SetCursorsInTransaction(false);
}

void TSDBLocalSession::Rollback() {
  CheckConnected();
  std::lock_guard<std::recursive_mutex> g(FData->CriticalSection());
  FInTransaction = false;
  SetCursorsInTransaction(false);
  FData->Rollback(FSessionID);
}

void TSDBLocalSession::FlushBuffers() {
  CheckConnected();
  FData->FlushBuffers();
}

}  // namespace sdb
