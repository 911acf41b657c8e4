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

void TSDBTableDatabase::CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                    TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs) {
  FTableDataList.CreateTable(TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs));
}

void TSDBTableDatabase::OpenTable(TSDBCursor& Cursor, const std::string& TableName, bool Repair) {
  FTableDataList.OpenTable(Cursor, TableName, Repair);
}

void TSDBTableDatabase::CloseTable(TSDBCursor& Cursor) { FTableDataList.CloseTable(Cursor); }

void TSDBTableDatabase::DeleteTable(const std::string& TableName) {
  FTableDataList.WithTableData(TableName, [](TSDBDiskTableData& data) {
    TSDBCursor cursor;
    data.DeleteTable(cursor);
  });
}

void TSDBTableDatabase::RenameTable(const std::string& OldName, const std::string& NewName) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FTableDataList.CheckListed(OldName);
  FTableDataList.DropKept(NewName);
  FTableDataList.WithTableData(OldName, [&](TSDBDiskTableData& data) {
    TSDBCursor cursor;
    data.RenameTable(NewName, cursor);
  });
}

void TSDBTableDatabase::RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                                     TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill) {
  FTableDataList.RebuildTable(0, TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs), Fill);
}

std::vector<std::string> TSDBTableDatabase::GetTablesList() { return FTableDataList.GetTablesList(); }

bool TSDBTableDatabase::TableExists(const std::string& TableName) { return FTableDataList.TableExists(TableName); }

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
