#include "storage/database/SDBMemoryDatabase.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/table/SDBFieldDef.h"
#include "storage/file/SDBFreeSpace.h"
#include "storage/file/SDBInternalFile.h"

namespace sdb {

namespace {

// A fresh unused name in the in-memory file system (the temporary folder
// when there is none). The process identifier in the name tells whose store
// (and whose journal beside it) a file is.
std::string SideStoreName() {
  std::error_code ec;
  std::filesystem::path dir = "/dev/shm";
  if (!std::filesystem::is_directory(dir, ec) || ::access(dir.c_str(), W_OK) != 0)
    dir = std::filesystem::temp_directory_path(ec);
  std::string pattern = (dir / ("tessaly-mem-" + std::to_string(::getpid()) + "-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) throw ESDBException(kSDBErrBlankFileName, "Cannot create file with blank FileName");
  ::close(fd);
  return std::string(name.data());
}

}  // namespace

TSDBMemoryDatabase::TSDBMemoryDatabase(uint16_t PageSize, int CacheCapacity) : FPages(PageSize, CacheCapacity) {
  const int session = kSDBEngineSessionID;
  FTableList = std::make_unique<TSDBTableListFile>(FPages);
  TSDBInternalDBTransactedAccessFile tables(FPages, ptTableList);
  tables.CreateFile(session);
  tables.WriteFile(session, nullptr, 0);
  FPages.ApplyChanges(session);
  FTableList->OpenFile(tables.StartPageNo());
  FTableList->Load(session);
}

TSDBMemoryDatabase::~TSDBMemoryDatabase() {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FTableDataList.Clear();
  FTableList.reset();
  if (FSideStore) {
    try {
      FSideStore->CloseDatabase();
    } catch (...) {
    }
  }
}

TSDBDiskPageManager& TSDBMemoryDatabase::DiskPageManager() {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  if (!FSideStore) {
    auto store = std::make_unique<TSDBDiskPageManager>();
    store->SetFreeSpaceManagerFactory(TSDBDatabaseFreeSpaceManager::Factory());
    const std::string name = SideStoreName();
    try {
      store->CreateAndOpenDatabase(name, TSDBPassword{}, 512, 8);
    } catch (...) {
      std::error_code ec;
      std::filesystem::remove(name, ec);
      throw;
    }
    // The open handle keeps the content; the name goes at once.
    std::error_code ec;
    std::filesystem::remove(name, ec);
    FSideStore = std::move(store);
  }
  return *FSideStore;
}

void TSDBMemoryDatabase::CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                     TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs) {
  FTableDataList.CreateTable(TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs));
}

void TSDBMemoryDatabase::OpenTable(TSDBCursor& Cursor, const std::string& TableName) {
  FTableDataList.OpenTable(Cursor, TableName);
}

void TSDBMemoryDatabase::CloseTable(TSDBCursor& Cursor) { FTableDataList.CloseTable(Cursor); }

void TSDBMemoryDatabase::DeleteTable(const std::string& TableName) {
  FTableDataList.WithTableData(TableName, [](TSDBDiskTableData& data) {
    TSDBCursor cursor;
    data.DeleteTable(cursor);
  });
}

void TSDBMemoryDatabase::RenameTable(const std::string& OldName, const std::string& NewName) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FTableDataList.CheckListed(OldName);
  FTableDataList.WithTableData(OldName, [&](TSDBDiskTableData& data) {
    TSDBCursor cursor;
    data.RenameTable(NewName, cursor);
  });
}

void TSDBMemoryDatabase::RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                                     TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill) {
  FTableDataList.RebuildTable(0, TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs), Fill);
}

std::vector<std::string> TSDBMemoryDatabase::GetTablesList() { return FTableDataList.GetTablesList(); }

bool TSDBMemoryDatabase::TableExists(const std::string& TableName) { return FTableDataList.TableExists(TableName); }

void TSDBMemoryDatabase::Commit(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FPages.ApplyChanges(SessionID);
}

void TSDBMemoryDatabase::Rollback(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FCSect);
  FPages.CancelChanges(SessionID);
  for (auto& d : FTableDataList) d->Rollback(SessionID);
}

}  // namespace sdb
