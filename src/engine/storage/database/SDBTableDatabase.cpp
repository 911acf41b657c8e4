#include "storage/database/SDBTableDatabase.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "platform/SDBFileHandle.h"
#include "storage/table/SDBFieldDef.h"

namespace sdb {

TSDBTableDatabase::TSDBTableDatabase(int CacheCapacity) : FCache(CacheCapacity) {}

TSDBTableDatabase::~TSDBTableDatabase() {
  try {
    CloseDatabase();
  } catch (...) {
  }
}

void TSDBTableDatabase::LoadCatalogue() {
  const int session = kSDBEngineSessionID;
  FSystemDir = std::make_unique<TSDBSystemDirectory>(FCache);
  FSystemDir->LoadDirectory(session);
  const int32_t tables = FSystemDir->GetFileFirstPageNo(dbftTablesList);
  const int32_t sessions = FSystemDir->GetFileFirstPageNo(dbftActiveSessionsList);
  if (tables < 0) throw ESDBException(kSDBErrInvalidDatabaseFormat, "Invalid database format");
  if (sessions >= 0) {
    TSDBInternalDBDirectAccessFile f(FCache.DiskPageManager(), ptActiveSessionList);
    f.OpenFile(sessions);
    FMaxSessionCount = std::max<int32_t>(1, f.GetSize());
  }
  FTableList = std::make_unique<TSDBTableListFile>(FCache);
  FTableList->OpenFile(tables);
  FTableList->Load(session);
}

void TSDBTableDatabase::CreateDatabase(const TSDBCreateDatabaseParams& Params) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  CloseDatabase();
  SDBCreateDatabase(FCache, Params);
  try {
    LoadCatalogue();
  } catch (...) {
    CloseDatabase();
    throw;
  }
}

void TSDBTableDatabase::OpenDatabase(const std::string& FileName, const std::string& Password, bool ReadOnly,
                                     bool Exclusive) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  CloseDatabase();
  bool ro = ReadOnly, multi = false;
  try {
    FCache.OpenDatabase(FileName, TSDBPassword{Password, kSDBDefaultCryptoAlgorithm}, ro, FRepairNeeded, Exclusive,
                        multi);
  } catch (const ESDBException&) {
    if (!Exclusive) throw;
    // Tell a file somebody holds from a file that cannot be opened at all.
    TSDBFileHandle probe;
    const int err = probe.Open(FileName, TSDBFileAccess::Read, TSDBFileShare::Exclusive);
    if (err == EWOULDBLOCK || err == EAGAIN) throw ESDBException(kSDBErrDatabaseFileInUse, "Error - database file %s is in use.", {FileName});
    throw;
  }
  FReadOnly = ro;
  try {
    LoadCatalogue();
  } catch (...) {
    CloseDatabase();
    throw;
  }
}

void TSDBTableDatabase::CloseDatabase() {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FTableDataList.Clear();
  FTableList.reset();
  FSystemDir.reset();
  if (FCache.DiskPageManager().IsOpened()) FCache.CloseDatabase();
}

bool TSDBTableDatabase::LockTables(int TryCount, int DelayMs) {
  for (int i = 0; i < TryCount; ++i) {
    if (FCache.DiskPageManager().LockTables()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs));
  }
  return false;
}

void TSDBTableDatabase::UnlockTables() { FCache.DiskPageManager().UnlockTables(); }

int32_t TSDBTableDatabase::GetNewObjectId() { return FCache.DiskPageManager().GetNextObjectID(); }

bool TSDBTableDatabase::PageInUse(int32_t PageNo) {
  return !FCache.DiskPageManager().IsSystemPage(PageNo) && FCache.FreeSpaceManager().GetPageUsageFromPFS(PageNo);
}

TSDBDiskTableData& TSDBTableDatabase::FindOrCreateTableData(const std::string& TableName) {
  return FTableDataList.FindOrCreate(TableName);
}

void TSDBTableDatabase::FreeIfNoCursorsConnected(TSDBDiskTableData& Data) {
  FTableDataList.FreeIfNoCursorsConnected(Data);
}

void TSDBTableDatabase::CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                    TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  TSDBDiskTableData data(*this, TableName);
  TSDBCursor cursor;
  cursor.SessionID = kSDBEngineSessionID;
  data.CreateTable(cursor, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs));
}

void TSDBTableDatabase::OpenTable(TSDBCursor& Cursor, const std::string& TableName, bool Repair) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  TSDBDiskTableData& data = FindOrCreateTableData(TableName);
  data.SetRepairing(Repair);
  try {
    data.OpenTable(Cursor);
  } catch (...) {
    data.SetRepairing(false);
    FreeIfNoCursorsConnected(data);
    throw;
  }
  data.SetRepairing(false);
}

void TSDBTableDatabase::CloseTable(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  TSDBDiskTableData* data = Cursor.TableData;
  if (!data) return;
  data->CloseTable(Cursor);
  FreeIfNoCursorsConnected(*data);
}

void TSDBTableDatabase::DeleteTable(const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  TSDBDiskTableData& data = FindOrCreateTableData(TableName);
  TSDBCursor cursor;
  try {
    data.DeleteTable(cursor);
  } catch (...) {
    FreeIfNoCursorsConnected(data);
    throw;
  }
  FreeIfNoCursorsConnected(data);
}

void TSDBTableDatabase::RenameTable(const std::string& OldName, const std::string& NewName) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FTableList->Load(kSDBEngineSessionID);
  if (FTableList->Find(OldName) < 0) throw ESDBException(kSDBErrRenameMissingTable, "Table '%s' does not exist.", {OldName});
  TSDBDiskTableData& data = FindOrCreateTableData(OldName);
  TSDBCursor cursor;
  try {
    data.RenameTable(NewName, cursor);
  } catch (...) {
    FreeIfNoCursorsConnected(data);
    throw;
  }
  FreeIfNoCursorsConnected(data);
}

std::vector<std::string> TSDBTableDatabase::GetTablesList() {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FTableList->Load(kSDBEngineSessionID);
  return FTableList->GetTablesList();
}

bool TSDBTableDatabase::TableExists(const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FTableList->Load(kSDBEngineSessionID);
  return FTableList->Find(TableName) >= 0;
}

void TSDBTableDatabase::Commit(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FCache.ApplyChanges(SessionID);
}

void TSDBTableDatabase::Rollback(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FCache.CancelChanges(SessionID);
  for (auto& d : FTableDataList) d->Rollback(SessionID);
}

}  // namespace sdb
