#include "storage/database/SDBDatabaseData.h"

#include <algorithm>
#include <initializer_list>
#include <filesystem>
#include <set>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "platform/SDBPlatform.h"
#include "storage/table/SDBFieldDef.h"
#include "storage/database/SDBSession.h"

namespace sdb {

namespace {

// The database data objects alive, so that a statement ending on one
// thread never reaches one another thread has destroyed meanwhile.
std::mutex gLiveLock;
std::set<const TSDBDiskDatabaseData*>& Live() {
  static std::set<const TSDBDiskDatabaseData*> live;
  return live;
}

// The statement of this thread: its nesting, and the databases in which it
// kept shared locks.
thread_local int tStatementDepth = 0;
thread_local std::vector<TSDBDiskDatabaseData*> tKeptIn;

}  // namespace

TSDBStatementScope::TSDBStatementScope() { ++tStatementDepth; }

TSDBStatementScope::~TSDBStatementScope() {
  if (--tStatementDepth > 0) return;
  std::vector<TSDBDiskDatabaseData*> kept;
  kept.swap(tKeptIn);
  for (TSDBDiskDatabaseData* d : kept) {
    // Held while ending it: a destructor elsewhere waits to unregister.
    std::lock_guard<std::mutex> g(gLiveLock);
    if (Live().count(d)) d->EndStatement();
  }
}

bool TSDBStatementScope::Active() { return tStatementDepth > 0; }

int TSDBDatabaseData::SessionCount() {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  return static_cast<int>(FSessionList.size());
}

TSDBDiskDatabaseData::TSDBDiskDatabaseData(const std::string& FileName, const std::string& SessionName,
                                           int CacheCapacity)
    : FCache(CacheCapacity) {
  FDatabaseName = FileName;
  FSessionName = SessionName;
  FCache.SetTablePagesCacheManager(&FPagesCacheManager);
  std::lock_guard<std::mutex> g(gLiveLock);
  Live().insert(this);
}

TSDBDiskDatabaseData::~TSDBDiskDatabaseData() {
  {
    // First, before the critical section: a statement ending holds the
    // registry while it takes that section.
    std::lock_guard<std::mutex> live(gLiveLock);
    Live().erase(this);
  }
  std::lock_guard<std::recursive_mutex> g(FCSect);
  CloseDatabase();
}

TSDBCryptoAlgorithm TSDBDiskDatabaseData::Cipher() {
  return static_cast<TSDBCryptoAlgorithm>(FCache.DiskPageManager().CryptoHeader().CryptoAlgorithm);
}

TSDBTableListFile& TSDBDiskDatabaseData::TableListFile() {
  if (!FTableList) throw ESDBException(kSDBErrDatabaseNotOpen, "Error - database file is not opened.");
  return *FTableList;
}

// ---- Open and close ---------------------------------------------------------------------

void TSDBDiskDatabaseData::LoadCatalogue() {
  const int session = kSDBEngineSessionID;
  FSystemDir = std::make_unique<TSDBSystemDirectory>(FCache);
  FSystemDir->LoadDirectory(session);
  const int32_t tables = FSystemDir->GetFileFirstPageNo(dbftTablesList);
  const int32_t sessions = FSystemDir->GetFileFirstPageNo(dbftActiveSessionsList);
  if (tables < 0 || sessions < 0) throw ESDBException(kSDBErrInvalidDatabaseFormat, "Invalid database format");
  FActiveSessionsFile = std::make_unique<TSDBActiveSessionsFile>(FCache.DiskPageManager());
  FActiveSessionsFile->OpenFile(sessions);
  FMaxSessionCount = FActiveSessionsFile->MaxSessionCount();
  FTableList = std::make_unique<TSDBTableListFile>(FCache);
  FTableList->OpenFile(tables);
  FTableList->Load(session);
  FTableLockManager = std::make_unique<TSDBDatabaseTableLockManager>(FCache.DiskPageManager(), FMaxSessionCount);
}

void TSDBDiskDatabaseData::OpenDatabase(TSDBBaseSession& Session) {
  bool readOnly = Session.FReadOnly, repair = false, multi = Session.FMultiUser;
  FCache.OpenDatabase(Session.FDatabaseFileName, TSDBPassword{Session.FPassword, kSDBDefaultCryptoAlgorithm}, readOnly,
                      repair, Session.FExclusive, multi);
  try {
    LoadCatalogue();
  } catch (...) {
    CloseDatabase();
    throw;
  }
  FReadOnly = readOnly;
  FMultiUser = multi;
  FRepairNeeded = repair;
  FPassword = Session.FPassword;
}

void TSDBDiskDatabaseData::CloseDatabase() noexcept {
  FTableDataList.Clear();
  FLooseLocksFiles.clear();
  FTableList.reset();
  FSystemDir.reset();
  FActiveSessionsFile.reset();
  FTableLockManager.reset();
  FPagesCacheManager.Clear();
  FReportedCounts.clear();
  FKeptLocks.clear();
  FSingleUserConnected = false;
  try {
    if (FCache.DiskPageManager().IsOpened()) FCache.CloseDatabase();
  } catch (...) {
  }
}

void TSDBDiskDatabaseData::ConnectSession(TSDBBaseSession& Session) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  const bool first = !IsOpen();
  if (first) {
    OpenDatabase(Session);
  } else {
    if (Session.FMultiUser != FMultiUser)
      throw ESDBException(kSDBErrMixedUserModes, "Cannot open database in multi-user and signle-user mode at the same time");
    if (FCache.DiskPageManager().Encrypted() && Session.FPassword != FPassword)
      throw ESDBException(kSDBErrInvalidDatabasePassword, "Database password is invalid.");
  }
  try {
    if (FMultiUser) {
      Session.FSessionID = FActiveSessionsFile->MultiUserConnect();
    } else {
      Session.FSessionID = 0;
      if (FSessionList.empty() && !FSingleUserConnected && !FReadOnly) {
        FSingleUserConnected = FActiveSessionsFile->SingleUserConnect();
        if (!FSingleUserConnected) {
          // Somebody else is connected: this process may only read. The
          // file is reopened read-only so that nothing can be written.
          Session.FReadOnly = true;
          CloseDatabase();
          OpenDatabase(Session);
          FReadOnly = true;
        }
      }
    }
  } catch (...) {
    if (FSessionList.empty()) CloseDatabase();
    throw;
  }
  Session.FMultiUser = FMultiUser;
  Session.FReadOnly = FReadOnly;
  Session.FRepairNeeded = FRepairNeeded;
  Session.FMaxSessionCount = FMaxSessionCount;
  Session.FExclusive = Exclusive();
  FSessionList.push_back(&Session);
}

void TSDBDiskDatabaseData::DisconnectSession(TSDBBaseSession& Session) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  auto it = std::find(FSessionList.begin(), FSessionList.end(), &Session);
  if (it == FSessionList.end()) return;
  const int id = Session.FSessionID;
  const bool last = FSessionList.size() == 1;
  std::exception_ptr failure;
  if (FMultiUser || last) {
    // A session's table and record locks end with it; in single-user mode
    // the sessions share identifier 0, so only the last one drops them.
    try {
      if (Session.FInTransaction || FCache.HasChanges(id)) Rollback(id);
    } catch (...) {
    }
    Session.FInTransaction = false;
    // The kept shared locks go with the others just below.
    FKeptLocks.erase(std::remove_if(FKeptLocks.begin(), FKeptLocks.end(),
                                    [id](const TKeptSharedLock& k) { return k.SessionID == id; }),
                     FKeptLocks.end());
    if (FTableLockManager && id >= 0)
      FTableLockManager->ReleaseSessionLocks(id, [this](int32_t p) { return ResolveLocksFile(p); });
    FPagesCacheManager.ClearSession(id);
    FReportedCounts.erase(id);
    for (auto& d : FTableDataList) d->ForgetSession(id);
  }
  try {
    if (FMultiUser)
      FActiveSessionsFile->MultiUserDisconnect(id);
    else if (last && FSingleUserConnected)
      FActiveSessionsFile->SingleUserDisconnect();
  } catch (...) {
    failure = std::current_exception();
  }
  FSessionList.erase(it);
  Session.FSessionID = kSDBInvalidSessionID;
  if (FSessionList.empty()) CloseDatabase();
  if (failure) std::rethrow_exception(failure);
}

int TSDBDiskDatabaseData::GetDBFileConnectionsCount() {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (!FActiveSessionsFile) return 0;
  return FActiveSessionsFile->GetDBFileConnectionsCount();
}

// ---- Commit --------------------------------------------------------------------------------

void TSDBDiskDatabaseData::Commit(int SessionID, bool DoFlushBuffers) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  auto resolve = [this](int32_t p) { return ResolveLocksFile(p); };
  const bool locks = UsesLocks(SessionID);
  // The commit waits for write locks: nothing is kept meanwhile.
  ReleaseKeptLocks(SessionID, false);
  if (locks) {
    try {
      FTableLockManager->AddRWLocksBeforeCommit(SessionID, resolve);
    } catch (...) {
      SyncChangeDetection(SessionID);
      throw;
    }
    SyncChangeDetection(SessionID);
  }
  try {
    FCache.ApplyChanges(SessionID);
  } catch (...) {
    // The commit was undone in the file and its pages dropped from the
    // cache: the tables forget the transaction too.
    if (FCache.LastCommitUndone()) {
      try {
        Rollback(SessionID);
      } catch (...) {
      }
    }
    throw;
  }
  if (DoFlushBuffers) FlushBuffers();
  if (locks) {
    FTableLockManager->ClearTransactionLocks(SessionID, resolve);
    SyncChangeDetection(SessionID);
  }
}

void TSDBDiskDatabaseData::Rollback(int SessionID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  ReleaseKeptLocks(SessionID, false);
  if (UsesLocks(SessionID)) {
    FTableLockManager->ClearTransactionLocks(SessionID, [this](int32_t p) { return ResolveLocksFile(p); });
    SyncChangeDetection(SessionID);
  }
  FCache.CancelChanges(SessionID);
  for (auto& d : FTableDataList) d->Rollback(SessionID);
}

void TSDBDiskDatabaseData::FlushBuffers() {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (IsOpen()) FCache.DiskPageManager().DatabaseFile().FlushFileBuffers();
}

// ---- Tables --------------------------------------------------------------------------------

TSDBDiskTableData* TSDBDiskDatabaseData::FindTableData(const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  return FTableDataList.Find(TableName);
}

void TSDBDiskDatabaseData::CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                       TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs) {
  FTableDataList.CreateTable(TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs));
}

void TSDBDiskDatabaseData::OpenTable(TSDBCursor& Cursor, const std::string& TableName) {
  FTableDataList.OpenTable(Cursor, TableName);
}

void TSDBDiskDatabaseData::CloseTable(TSDBCursor& Cursor) { FTableDataList.CloseTable(Cursor); }

// Deleting, renaming and emptying hold the table exclusively for the
// operation: they fail while any other session, here or elsewhere, has it
// open.
void TSDBDiskDatabaseData::RunExclusive(int SessionID, const std::string& TableName,
                                        const std::function<void(TSDBDiskTableData&, TSDBCursor&)>& Op) {
  FTableDataList.WithTableData(TableName, [&](TSDBDiskTableData& data) {
    TSDBCursor cursor;
    cursor.SessionID = SessionID;
    cursor.FExclusive = true;
    try {
      data.OpenTable(cursor);
      Op(data, cursor);
    } catch (...) {
      if (cursor.TableData) data.CloseTable(cursor);
      throw;
    }
  });
}

void TSDBDiskDatabaseData::DeleteTable(int SessionID, const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  RunExclusive(SessionID, TableName, [&](TSDBDiskTableData& data, TSDBCursor& cursor) {
    const int32_t locks = data.ListItem().LocksFilePageNo;
    data.DeleteTable(cursor);
    // The exclusive lock was the lock of a locks file that is gone now:
    // forget its grants and give the byte back.
    if (UsesLocks(SessionID) && !Exclusive()) {
      FTableLockManager->ForgetTable(SessionID, locks);
      FCache.DiskPageManager().UnlockPageByte(locks, 0);
    }
    FLooseLocksFiles.erase(locks);
  });
}

void TSDBDiskDatabaseData::RenameTable(int SessionID, const std::string& OldName, const std::string& NewName) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  FTableDataList.CheckListed(OldName);
  FTableDataList.DropKept(NewName);
  RunExclusive(SessionID, OldName, [&](TSDBDiskTableData& data, TSDBCursor& cursor) {
    data.RenameTable(NewName, cursor);
    data.CloseTable(cursor);
  });
}

void TSDBDiskDatabaseData::RebuildTable(int SessionID, const std::string& TableName, TSDBFieldDefs FieldDefs,
                                        TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs,
                                        const TSDBTableFill& Fill) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  FTableDataList.RebuildTable(SessionID, TableName, std::move(FieldDefs), std::move(ConstraintDefs),
                              std::move(IndexDefs), Fill);
}

void TSDBDiskDatabaseData::EmptyTable(int SessionID, const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  RunExclusive(SessionID, TableName, [&](TSDBDiskTableData& data, TSDBCursor& cursor) {
    data.EmptyTable(cursor);
    data.CloseTable(cursor);
  });
}

std::vector<std::string> TSDBDiskDatabaseData::GetTablesList() { return FTableDataList.GetTablesList(); }

bool TSDBDiskDatabaseData::TableExists(const std::string& TableName) { return FTableDataList.TableExists(TableName); }

// ---- Context -------------------------------------------------------------------------------

bool TSDBDiskDatabaseData::LockTables(int TryCount, int DelayMs) {
  return SDBRetry(TryCount, static_cast<uint32_t>(std::max(DelayMs, 0)),
                  [this] { return FCache.DiskPageManager().LockTables(); });
}

void TSDBDiskDatabaseData::UnlockTables() { FCache.DiskPageManager().UnlockTables(); }

int32_t TSDBDiskDatabaseData::GetNewObjectId() { return FCache.DiskPageManager().GetNextObjectID(); }

bool TSDBDiskDatabaseData::PageInUse(int32_t PageNo) {
  return !FCache.DiskPageManager().IsSystemPage(PageNo) && FCache.FreeSpaceManager().GetPageUsageFromPFS(PageNo);
}

// Single-user mode has no table or record locks: the lock calls answer
// without the critical section (the mode is set when the file is opened,
// before any table is, and stays until it is closed).
bool TSDBDiskDatabaseData::UsesLocks(int SessionID) const {
  return FMultiUser && FTableLockManager && SessionID >= 0;
}

TSDBTableLocksFile* TSDBDiskDatabaseData::ResolveLocksFile(int32_t LocksFilePageNo) {
  // Only tables in use: data kept without cursors may describe a table
  // another process has dropped since.
  for (auto& d : FTableDataList) {
    if (d->CursorCount() > 0 && d->Active() && d->TableLocksFile().IsOpen() && d->TableLocksFile().StartPageNo() == LocksFilePageNo) {
      auto& slot = FLooseLocksFiles[LocksFilePageNo];
      slot = std::make_unique<TSDBTableLocksFile>(d->TableLocksFile());
      return slot.get();
    }
  }
  // The table was closed since (an edit inside a transaction whose cursor
  // went): open the locks file on its own.
  auto& slot = FLooseLocksFiles[LocksFilePageNo];
  try {
    slot = std::make_unique<TSDBTableLocksFile>(FCache.DiskPageManager());
    slot->OpenFile(LocksFilePageNo);
  } catch (...) {
    slot.reset();
    return nullptr;
  }
  return slot.get();
}

void TSDBDiskDatabaseData::SyncChangeDetection(int SessionID) {
  if (!FTableLockManager || SessionID < 0) return;
  std::vector<TSDBGrantCounts>& now = FGrantCounts;
  FTableLockManager->CountGrants(SessionID, now);
  std::vector<TSDBGrantCounts>& before = FReportedCounts[SessionID];
  auto find = [](const std::vector<TSDBGrantCounts>& v, int32_t t) {
    for (const TSDBGrantCounts& c : v)
      if (c.LocksFilePageNo == t) return c;
    return TSDBGrantCounts{t, 0, 0};
  };
  auto report = [&](const TSDBGrantCounts& b, const TSDBGrantCounts& n) {
    const int32_t t = b.LocksFilePageNo;
    for (int i = b.S; i < n.S; ++i) {
      FPagesCacheManager.TableIsSLocked(SessionID, t);
      FPagesCacheManager.BeginWorkWithTable(SessionID, t);
    }
    for (int i = n.S; i < b.S; ++i) {
      FPagesCacheManager.TableIsSUnlocked(SessionID, t);
      FPagesCacheManager.EndWorkWithTable(SessionID, t);
    }
    for (int i = b.RW; i < n.RW; ++i) {
      FPagesCacheManager.TableIsRWLocked(SessionID, t);
      FPagesCacheManager.BeginWorkWithTable(SessionID, t);
    }
    for (int i = n.RW; i < b.RW; ++i) {
      FPagesCacheManager.TableIsRWUnlocked(SessionID, t);
      FPagesCacheManager.EndWorkWithTable(SessionID, t);
    }
  };
  // In table order (the last table whose work begins is the one change
  // detection works with); each table's shared grants before its write grants.
  std::vector<int32_t>& tables = FGrantTables;
  tables.clear();
  for (const TSDBGrantCounts& c : before) tables.push_back(c.LocksFilePageNo);
  for (const TSDBGrantCounts& c : now) tables.push_back(c.LocksFilePageNo);
  std::sort(tables.begin(), tables.end());
  tables.erase(std::unique(tables.begin(), tables.end()), tables.end());
  for (int32_t t : tables) report(find(before, t), find(now, t));
  before.swap(now);
}

bool TSDBDiskDatabaseData::LockTable(TSDBDiskTableData& Table, int SessionID, TSDBLockType LockType, int TryCount,
                                     int DelayMs, bool AllowXIRWAfterSIRW) {
  if (!FMultiUser) return true;
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (!UsesLocks(SessionID)) return true;
  TSDBTableLocksFile file(Table.TableLocksFile());
  if (!FKeptLocks.empty()) {
    auto kept = std::find_if(FKeptLocks.begin(), FKeptLocks.end(), [&](const TKeptSharedLock& k) {
      return k.SessionID == SessionID && k.LocksFilePageNo == file.StartPageNo();
    });
    // The statement reads the table again: the kept grant is this one.
    if (kept != FKeptLocks.end() && LockType == ltS) {
      FKeptLocks.erase(kept);
      return true;
    }
    // An intent lock rides on the kept one and never waits; any other
    // request may wait, and must not while a lock is kept.
    if (kept == FKeptLocks.end() || LockType != ltIS) ReleaseKeptLocks(SessionID, false);
  }
  // A lock the session holds that keeps every writer of the table out (one
  // a commit's ltRW cannot coexist with: shared, exclusive, or a write lock
  // of its own) has done so since it was granted and checked: a nested
  // grant (each record fetch of a statement, each edit under the write
  // lock) needs no new look.
  const int32_t table = file.StartPageNo();
  const bool held = std::ranges::any_of(std::initializer_list<TSDBLockType>{ltS, ltRW, ltXIRW, ltX},
                                        [&](TSDBLockType t) { return FTableLockManager->HoldsLock(SessionID, t, table); });
  // Change detection cares when a lock period begins and ends: a grant of
  // a type the session holds already begins none.
  const bool period = (LockType == ltS || LockType == ltRW) && !FTableLockManager->HoldsLock(SessionID, LockType, table);
  const bool ok =
      FTableLockManager->LockTable(SessionID, LockType, file, TryCount, DelayMs, false, AllowXIRWAfterSIRW);
  // Under the table lock no live writer changes the table's pages: what is
  // on disk is whole unless a writer died committing; that is undone first.
  if (ok && !held) FCache.DiskPageManager().RecoverInterruptedCommit();
  if (ok && period) SyncChangeDetection(SessionID);
  return ok;
}

bool TSDBDiskDatabaseData::UnlockTable(TSDBDiskTableData& Table, int SessionID, TSDBLockType LockType,
                                       bool IgnoreIfNoLock) {
  if (!FMultiUser) return true;
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (!UsesLocks(SessionID)) return true;
  TSDBTableLocksFile file(Table.TableLocksFile());
  if (LockType == ltS && TSDBStatementScope::Active() &&
      FTableLockManager->HoldsSinglePhysicalGrant(SessionID, ltS, file.StartPageNo())) {
    FKeptLocks.push_back({SessionID, &Table, file.StartPageNo(), std::this_thread::get_id()});
    if (std::find(tKeptIn.begin(), tKeptIn.end(), this) == tKeptIn.end()) tKeptIn.push_back(this);
    return true;
  }
  const bool ok = FTableLockManager->UnlockTable(SessionID, LockType, file, IgnoreIfNoLock, false);
  // Only the release that ends the lock period matters to change detection
  // (nested grants were not reported either).
  if ((LockType == ltS || LockType == ltRW) && !FTableLockManager->HoldsLock(SessionID, LockType, file.StartPageNo()))
    SyncChangeDetection(SessionID);
  return ok;
}

bool TSDBDiskDatabaseData::LockRecord(TSDBDiskTableData& Table, int SessionID, const TSDBPageItemID& RecordID,
                                      int TryCount, int DelayMs) {
  if (!FMultiUser) return true;
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (!UsesLocks(SessionID)) return true;
  ReleaseKeptLocks(SessionID, false);
  TSDBTableLocksFile file(Table.TableLocksFile());
  return FTableLockManager->LockRecord(SessionID, file, RecordID, TryCount, DelayMs);
}

bool TSDBDiskDatabaseData::UnlockRecord(TSDBDiskTableData& Table, int SessionID, const TSDBPageItemID& RecordID) {
  if (!FMultiUser) return true;
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (!UsesLocks(SessionID)) return true;
  TSDBTableLocksFile file(Table.TableLocksFile());
  return FTableLockManager->UnlockRecord(SessionID, file, RecordID);
}

bool TSDBDiskDatabaseData::IsRecordLocked(TSDBDiskTableData& Table, int SessionID, const TSDBPageItemID& RecordID) {
  if (!FMultiUser) return false;
  std::lock_guard<std::recursive_mutex> g(FCSect);
  if (!UsesLocks(SessionID)) return false;
  TSDBTableLocksFile file(Table.TableLocksFile());
  return FTableLockManager->IsRecordLocked(SessionID, file, RecordID);
}

void TSDBDiskDatabaseData::EndStatement() noexcept {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  ReleaseKeptLocks(-1, true);
}

bool TSDBDiskDatabaseData::KeepsSharedLock(int SessionID) {
  std::lock_guard<std::recursive_mutex> g(FCSect);
  return std::any_of(FKeptLocks.begin(), FKeptLocks.end(),
                     [SessionID](const TKeptSharedLock& k) { return k.SessionID == SessionID; });
}

void TSDBDiskDatabaseData::ReleaseKeptLocks(int SessionID, bool ThisThreadOnly) {
  if (FKeptLocks.empty()) return;
  const std::thread::id me = std::this_thread::get_id();
  std::vector<TKeptSharedLock> release;
  for (auto it = FKeptLocks.begin(); it != FKeptLocks.end();) {
    if ((SessionID < 0 || it->SessionID == SessionID) && (!ThisThreadOnly || it->Thread == me)) {
      release.push_back(*it);
      it = FKeptLocks.erase(it);
    } else {
      ++it;
    }
  }
  for (const TKeptSharedLock& k : release) {
    // The table data may have gone since (a failed open frees it): the
    // locks file is then found by its first page.
    TSDBDiskTableData* table = nullptr;
    for (auto& d : FTableDataList)
      if (d.get() == k.Table && d->Active() && d->TableLocksFile().IsOpen() &&
          d->TableLocksFile().StartPageNo() == k.LocksFilePageNo)
        table = d.get();
    try {
      if (table) {
        TSDBTableLocksFile file(table->TableLocksFile());
        FTableLockManager->UnlockTable(k.SessionID, ltS, file, true, false);
      } else if (TSDBTableLocksFile* file = ResolveLocksFile(k.LocksFilePageNo)) {
        FTableLockManager->UnlockTable(k.SessionID, ltS, *file, true, false);
      } else {
        FTableLockManager->ForgetTable(k.SessionID, k.LocksFilePageNo);
      }
    } catch (...) {
      // As when the statement itself failed to give the lock back: the
      // session keeps it until it disconnects.
    }
    SyncChangeDetection(k.SessionID);
  }
}

void TSDBDiskDatabaseData::MostUpdatedLoaded(TSDBDiskTableData& Table, int SessionID, int32_t TableState) {
  if (!UsesLocks(SessionID)) return;
  // Change detection knows a table by its locks file, and a table's state
  // counts its commits from its creation: a table dropped and made again
  // (as ALTER does) can reuse the same locks-file page and reach the same
  // count, with other pages behind both. The table's identifier, never
  // given out twice, tells the two apart.
  const int64_t state = (int64_t{Table.ListItem().TableID} << 32) | static_cast<uint32_t>(TableState);
  FPagesCacheManager.SetIsMostUpdatedLoaded(SessionID, Table.ListItem().LocksFilePageNo, state);
}

bool TSDBDiskDatabaseData::MostUpdatedKnown(TSDBDiskTableData& Table, int SessionID) {
  if (!UsesLocks(SessionID)) return false;
  return FPagesCacheManager.GetIsMostUpdatedLoaded(SessionID, Table.ListItem().LocksFilePageNo);
}

// ---- Process-wide list ---------------------------------------------------------------------

namespace {
std::string CanonicalKey(const std::string& FileName) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(FileName, ec);
  return SDBUpperName(ec ? FileName : p.string());
}
}  // namespace

TSDBDatabaseDataList& TSDBDatabaseDataList::Instance() {
  static TSDBDatabaseDataList list;
  return list;
}

std::shared_ptr<TSDBDiskDatabaseData> TSDBDatabaseDataList::FindOrCreate(const std::string& FileName,
                                                                         const std::string& SessionName) {
  std::lock_guard<std::mutex> g(FLock);
  const std::string file = CanonicalKey(FileName), session = SDBUpperName(SessionName);
  for (auto& d : FList)
    if (CanonicalKey(d->DatabaseName()) == file && SDBUpperName(d->SessionName()) == session) return d;
  FList.push_back(std::make_shared<TSDBDiskDatabaseData>(FileName, SessionName));
  return FList.back();
}

void TSDBDatabaseDataList::FreeIfNoSessionsConnected(const std::shared_ptr<TSDBDiskDatabaseData>& Data) {
  std::lock_guard<std::mutex> g(FLock);
  if (Data->SessionCount() > 0) return;
  FList.erase(std::remove(FList.begin(), FList.end(), Data), FList.end());
}

int TSDBDatabaseDataList::Count() {
  std::lock_guard<std::mutex> g(FLock);
  return static_cast<int>(FList.size());
}

}  // namespace sdb
