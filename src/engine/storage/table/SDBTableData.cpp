#include "storage/table/SDBTableData.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBText.h"

namespace sdb {

namespace {

// Bytes per session in a table's locks file: five table-lock bytes, a
// record-lock byte and the 6-byte identifier of the locked record.
constexpr int32_t kLocksBytesPerSession = 12;
constexpr int kTablesLockTryCount = 200;
constexpr int kTablesLockDelayMs = 20;

}  // namespace

TSDBDiskTableData::TSDBDiskTableData(TSDBTableDatabaseContext& Database, const std::string& TableName)
    : FDatabase(Database),
      FTableName(TableName),
      FTableMetadataFile(Database.PageManager(), ptTableMetaData),
      FTableMostUpdatedFile(Database.PageManager(), ptTableMostUpdated),
      FTableLocksFile(Database.DiskPageManager(), ptTableLocks) {}

TSDBDiskTableData::~TSDBDiskTableData() { SettleDeferredCounters(); }

void TSDBDiskTableData::SettleDeferredCounters() noexcept {
  if (!FCountersDeferred) return;
  FCountersDeferred = false;
  try {
    FDatabase.PageManager().RunDeferred(kSDBInvalidSessionID, this);
  } catch (...) {
  }
}

void TSDBDiskTableData::CheckActive() const {
  if (!FActive || !FFieldManager || !FRecordManager) throw ESDBException(kSDBErrTableNotActive, "Nil pointer occured");
}

TSDBDiskBlobManager& TSDBDiskTableData::Blobs() {
  if (!FBlobManager) throw ESDBException(kSDBErrBlobFieldNotFound, "Cannot find blob field");
  return *FBlobManager;
}

void TSDBDiskTableData::CreateManagers(TSDBFieldDefs FieldDefs) {
  static std::atomic<uint64_t> generations{0};
  FDefinitionsGeneration = ++generations;
  FFieldManager = std::make_unique<TSDBBaseFieldManager>(std::move(FieldDefs));
  FRecordManager = std::make_unique<TSDBDiskRecordManager>(FDatabase.PageManager(), *FFieldManager, FTableID);
  FRecordManager->Init(FFieldManager->MemoryRecordBufferSize(), FFieldManager->DiskRecordBufferSize(),
                       FFieldManager->FieldCount());
  FBlobManager.reset();
  if (FFieldManager->BlobFieldsPresent())
    FBlobManager = std::make_unique<TSDBDiskBlobManager>(FDatabase.PageManager(), *FFieldManager, FTableID);
  FIndexManager = std::make_unique<TSDBBaseIndexManager>(*this, FIndexDefs, FDatabase.PageManager());
}

TSDBTableMetadata TSDBDiskTableData::BuildMetadata() const {
  TSDBTableMetadata m;
  // The definitions are copied through their stream form.
  TSDBMetaWriter w;
  for (int i = 0; i < FFieldManager->FieldCount(); ++i) FFieldManager->FFieldDefs[i].SaveToStream(w);
  TSDBMetaReader r(w.Data());
  for (int i = 0; i < FFieldManager->FieldCount(); ++i) m.FieldDefs.Emplace().LoadFromStream(r);
  TSDBMetaWriter wi;
  for (int i = 0; i < FIndexDefs.Count(); ++i) FIndexDefs[i].SaveToStream(wi);
  TSDBMetaReader ri(wi.Data());
  for (int i = 0; i < FIndexDefs.Count(); ++i) {
    auto& d = m.IndexDefs.Emplace();
    d.LoadFromStream(ri);
    d.FTemporary = FIndexDefs[i].FTemporary;
  }
  for (int i = 0; i < FConstraintDefs.Count(); ++i) {
    TSDBMetaWriter wc;
    FConstraintDefs[i].SaveToStream(wc);
    TSDBMetaReader rc(wc.Data());
    auto c = TSDBConstraintDef::Create(FConstraintDefs[i].ConstraintType());
    c->LoadFromStream(rc);
    m.ConstraintDefs.Add(std::move(c));
  }
  m.RecordPageIndexRoot = FRecordManager->RecordPageIndexRoot();
  m.BlobPageIndexRoot = FBlobManager ? FBlobManager->BlobPageIndexRoot() : -1;
  return m;
}

void TSDBDiskTableData::SaveMetadata(int SessionID) {
  // The definitions in memory no longer match what was loaded (and the
  // write may yet be rolled back): the next open reloads them.
  FStoredMetadataAsStored.clear();
  std::vector<uint8_t> data = BuildMetadata().Save();
  FTableMetadataFile.WriteFile(SessionID, data.data(), static_cast<int32_t>(data.size()), acaZLIB, 1);
}

void TSDBDiskTableData::TakeCounters(TSDBMostUpdatedData& Counters) const {
  Counters.LastAutoIncValues.assign(static_cast<size_t>(FFieldManager->FieldCount()), 0);
  for (int i = 0; i < FFieldManager->FieldCount(); ++i)
    if (FFieldManager->FFieldDefs[i].IsAutoInc())
      Counters.LastAutoIncValues[static_cast<size_t>(i)] = FFieldManager->GetLastAutoinc(i);
  Counters.TableState = FRecordManager->FTableState;
  Counters.RecordCount = static_cast<int32_t>(FRecordManager->FRecordCount);
}

void TSDBDiskTableData::WriteCounters(int SessionID, const TSDBMostUpdatedData& Counters) {
  std::vector<uint8_t> data = Counters.Save();
  FTableMostUpdatedFile.WriteFile(SessionID, data.data(), static_cast<int32_t>(data.size()));
}

void TSDBDiskTableData::SaveMostUpdated(int SessionID) {
  // These counters replace any the session's commit was to write.
  FDeferredCounters.erase(SessionID);
  TSDBMostUpdatedData mu;
  TakeCounters(mu);
  WriteCounters(SessionID, mu);
}

void TSDBDiskTableData::DeferCounters(int SessionID) {
  // The counters in memory are shared by the sessions (another one may
  // reload them from what it sees before this session commits): the values
  // of this change are kept for the commit.
  auto kept = FDeferredCounters.find(SessionID);
  if (kept != FDeferredCounters.end() && FDatabase.PageManager().HasDeferred(SessionID, this)) {
    // The write is registered with the commit already (a cancel forgets
    // it, hence the question): only the values change.
    TakeCounters(kept->second);
    return;
  }
  TakeCounters(FDeferredCounters[SessionID]);
  FCountersDeferred = true;
  FDatabase.PageManager().DeferUntilCommit(SessionID, this, [this, SessionID] {
    auto it = FDeferredCounters.find(SessionID);
    if (it == FDeferredCounters.end()) return;
    const TSDBMostUpdatedData counters = std::move(it->second);
    FDeferredCounters.erase(it);
    WriteCounters(SessionID, counters);
  });
}

void TSDBDiskTableData::SettleCounters(int SessionID) {
  // Only a session with counters still waiting has anything to write; the
  // statement path reads the counters every time and should not look further.
  if (FDeferredCounters.count(SessionID)) FDatabase.PageManager().RunDeferred(SessionID, this);
}

void TSDBDiskTableData::LoadMostUpdated(int SessionID) {
  SettleCounters(SessionID);
  std::vector<uint8_t> data = FTableMostUpdatedFile.ReadAll(SessionID, !FDatabase.MostUpdatedKnown(*this, SessionID));
  TSDBMostUpdatedData mu;
  mu.Load(data, FFieldManager->FieldCount());
  for (int i = 0; i < FFieldManager->FieldCount(); ++i)
    if (FFieldManager->FFieldDefs[i].IsAutoInc())
      FFieldManager->UpdateLastAutoinc(i, mu.LastAutoIncValues[static_cast<size_t>(i)]);
  FRecordManager->FTableState = mu.TableState;
  FRecordManager->FRecordCount = mu.RecordCount;
  FLastUsedTableState = mu.TableState;
  FDatabase.MostUpdatedLoaded(*this, SessionID, mu.TableState);
}

void TSDBDiskTableData::LoadStoredTableState(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  if (!FActive || !FDatabase.PageManager().MultiUser()) return;
  // Change detection keeps the first state of a lock period.
  if (FDatabase.MostUpdatedKnown(*this, SessionID)) return;
  SettleCounters(SessionID);
  std::vector<uint8_t> data = FTableMostUpdatedFile.ReadAll(SessionID);
  TSDBMostUpdatedData mu;
  mu.Load(data, FFieldManager->FieldCount());
  FDatabase.MostUpdatedLoaded(*this, SessionID, mu.TableState);
}

// ---- Create ----------------------------------------------------------------------------------

void TSDBDiskTableData::CreateTable(TSDBCursor& Cursor, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                                    TSDBIndexDefs IndexDefs) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  if (!FDatabase.LockTables(kTablesLockTryCount, kTablesLockDelayMs))
    throw ESDBException(kSDBErrDatabaseTablesLocked, "Database tables are locked");
  const int session = kSDBEngineSessionID;
  TSDBPageManager& pm = FDatabase.PageManager();
  try {
    WriteNewTable(session, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs), -1);
    pm.ApplyChanges(session);
  } catch (...) {
    DiscardNewTable(session, true);
    FDatabase.UnlockTables();
    throw;
  }
  FDatabase.UnlockTables();
  CloseFiles();
  (void)Cursor;
}

void TSDBDiskTableData::DiscardNewTable(int SessionID, bool OwnLocksFile) noexcept {
  // The failure being reported matters more than one of the clean-up.
  try {
    FDatabase.PageManager().CancelChanges(SessionID);
  } catch (...) {
  }
  try {
    FDatabase.TableListFile().Load(SessionID);
  } catch (...) {
  }
  if (OwnLocksFile && FTableLocksFile.IsOpen()) {
    int32_t start = FTableLocksFile.StartPageNo();
    try {
      FTableLocksFile.DeleteFile(start);
    } catch (...) {
    }
  }
  CloseFiles();
}

void TSDBDiskTableData::WriteNewTable(int SessionID, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                                      TSDBIndexDefs IndexDefs, int32_t LocksFilePageNo) {
  if (FieldDefs.Count() == 0) throw ESDBException(kSDBErrTableWithoutFields, "Error creating table - no fields were specified");
  // The name as the catalogue stores it (refused when Windows-1252 cannot hold it).
  const std::string stored = SDBNameToAnsi(FTableName);
  if (stored.empty() || stored.size() > 255)
    throw ESDBException(kSDBErrTableExists, "Cannot create table. Table '%s' already exists", {FTableName});
  for (int i = 0; i < FieldDefs.Count(); ++i) {
    TSDBFieldDef& f = FieldDefs[i];
    if (f.FBaseFieldType == bftUnknown) f.FBaseFieldType = SDBAdvancedToBaseFieldType(f.FAdvancedFieldType);
    // Sizes are checked before anything is written.
    f.RecalcDataSizes();
    if (f.IsBlob() && f.FBLOBCompressionAlgorithm != acaNone &&
        (f.FBLOBCompressionMode < 1 || f.FBLOBCompressionMode > 9))
      throw ESDBException(kSDBErrInvalidBlobCompressionMode,
                          "Invalid BlobCompressionMode (must be in 1..9 range) for blob field '%s'. Cannot create "
                          "table '%s'",
                          {f.FName, FTableName});
  }
  const bool replacing = LocksFilePageNo >= 0;
  TSDBTableListFile& list = FDatabase.TableListFile();
  list.Load(SessionID);
  if (!replacing && list.Find(FTableName) >= 0)
    throw ESDBException(kSDBErrTableExists, "Cannot create table. Table '%s' already exists", {FTableName});
  if (replacing && list.Find(FTableName) < 0)
    throw ESDBException(kSDBErrLoadMissingTable, "Table '%s' does not exist.", {FTableName});

  FTableID = FDatabase.GetNewObjectId();
  if (replacing)
    FTableLocksFile.OpenFile(LocksFilePageNo);
  else
    FTableLocksFile.CreateFile(FDatabase.MaxSessionCount() * kLocksBytesPerSession);
  FTableMetadataFile.CreateFile(SessionID);
  FTableMostUpdatedFile.CreateFile(SessionID);
  for (int i = 0; i < FieldDefs.Count(); ++i)
    if (FieldDefs[i].FObjectID < 0) FieldDefs[i].FObjectID = FDatabase.GetNewObjectId();
  for (int i = 0; i < IndexDefs.Count(); ++i)
    if (IndexDefs[i].FObjectID < 0) IndexDefs[i].FObjectID = FDatabase.GetNewObjectId();
  for (int i = 0; i < ConstraintDefs.Count(); ++i) {
    auto& c = ConstraintDefs[i];
    if (c.FObjectID < 0) c.FObjectID = FDatabase.GetNewObjectId();
    c.FTableObjectID = FTableID;
    c.FTableName = FTableName;
  }
  for (int i = 0; i < IndexDefs.Count(); ++i)
    for (int j = 0; j < i; ++j)
      if (SDBUpperName(IndexDefs[i].FName) == SDBUpperName(IndexDefs[j].FName))
        throw ESDBException(kSDBErrIndexExists, "Index '%s' already exists", {IndexDefs[i].FName});
  FIndexDefs = std::move(IndexDefs);
  FConstraintDefs = std::move(ConstraintDefs);
  // Unique and primary key constraints name their index.
  for (int i = 0; i < FConstraintDefs.Count(); ++i) {
    auto* u = dynamic_cast<TSDBConstraintDefUnique*>(&FConstraintDefs[i]);
    if (!u) continue;
    const TSDBIndexDef* d = FIndexDefs.FindByName(u->FIndexName);
    if (d && u->FIndexObjectID < 0) u->FIndexObjectID = d->FObjectID;
  }
  CreateManagers(std::move(FieldDefs));
  FRecordManager->FRecordCount = 0;
  FRecordManager->FTableState = 0;
  SaveMostUpdated(SessionID);
  FRecordManager->CreateRecordPageIndex(SessionID);
  if (FBlobManager) FBlobManager->CreateBlobPageIndex(SessionID);
  FIndexManager->CreateIndexesByIndexDefs(SessionID);
  SaveMetadata(SessionID);
  FListItem.TableName = FTableName;
  FListItem.TableID = FTableID;
  FListItem.MetaDataFilePageNo = FTableMetadataFile.StartPageNo();
  FListItem.MostUpdatedFilePageNo = FTableMostUpdatedFile.StartPageNo();
  FListItem.LocksFilePageNo = FTableLocksFile.StartPageNo();
  if (replacing)
    list.ReplaceTable(FListItem);
  else
    list.AddTable(FListItem);
  list.Save(SessionID);
}

void TSDBDiskTableData::CloseFiles() noexcept {
  SettleDeferredCounters();
  FTableMetadataFile.CloseFile();
  FTableMostUpdatedFile.CloseFile();
  FTableLocksFile.CloseFile();
  FIndexManager.reset();
  FFieldManager.reset();
  FRecordManager.reset();
  FBlobManager.reset();
  FIndexDefs.Clear();
  FConstraintDefs.Clear();
  FStoredMetadataAsStored.clear();
  FActive = false;
}

// ---- Open and close -----------------------------------------------------------------------

void TSDBDiskTableData::LoadTable(int SessionID) {
  TSDBTableListFile& list = FDatabase.TableListFile();
  list.Load(SessionID);
  const TSDBTableListItem* item = list.FindTable(FTableName);
  if (!item) {
    CloseFiles();
    throw ESDBException(kSDBErrLoadMissingTable, "Table '%s' does not exist.", {FTableName});
  }
  // Data kept from an earlier open is reused when the catalogue still names
  // the same files and the stored definitions are the ones it was built
  // from: whoever dropped, renamed, altered or re-indexed the table, here or
  // in another process, changed one or the other. Only the counters are
  // read again.
  if (FActive && !FIsRepairing && item->TableID == FListItem.TableID &&
      item->MetaDataFilePageNo == FListItem.MetaDataFilePageNo &&
      item->MostUpdatedFilePageNo == FListItem.MostUpdatedFilePageNo &&
      item->LocksFilePageNo == FListItem.LocksFilePageNo && !FStoredMetadataAsStored.empty()) {
    try {
      // The stored (compressed) bytes decide without decompressing them;
      // where they differ (the same definitions written again), the
      // contents of the bytes just read and of the kept ones.
      const std::vector<uint8_t> asStored = FTableMetadataFile.ReadStored(SessionID);
      if (asStored == FStoredMetadataAsStored ||
          TSDBInternalDBTransactedAccessFile::ContentOfStored(asStored) ==
              TSDBInternalDBTransactedAccessFile::ContentOfStored(FStoredMetadataAsStored)) {
        FListItem = *item;
        FTableName = item->TableName;
        LoadCounters(SessionID, false);
        return;
      }
    } catch (...) {
      CloseFiles();
      throw;
    }
  }
  CloseFiles();
  FListItem = *item;
  FTableName = item->TableName;
  FTableID = item->TableID;
  try {
    FTableMetadataFile.OpenFile(item->MetaDataFilePageNo);
    FTableMostUpdatedFile.OpenFile(item->MostUpdatedFilePageNo);
    // A locks file for 500,000 sessions spans some 1,500 pages: its chain
    // is kept under the table's identifier instead of walked per open.
    FTableLocksFile.OpenFile(item->LocksFilePageNo, item->TableID);
    // One read: the definitions and the bytes kept to recognise them
    // come from the same state of the file.
    std::vector<uint8_t> asStored = FTableMetadataFile.ReadStored(SessionID);
    std::vector<uint8_t> stored = TSDBInternalDBTransactedAccessFile::ContentOfStored(asStored);
    TSDBTableMetadata m;
    m.Load(stored);
    FIndexDefs = std::move(m.IndexDefs);
    FConstraintDefs = std::move(m.ConstraintDefs);
    CreateManagers(std::move(m.FieldDefs));
    FIndexManager->OpenIndexes();
    if (m.RecordPageIndexRoot < 0) throw ESDBException(kSDBErrNoRecordPageIndexRoot, "Nil pointer occured");
    FRecordManager->OpenRecordPageIndex(m.RecordPageIndexRoot);
    if (FBlobManager) {
      if (m.BlobPageIndexRoot < 0) throw ESDBException(kSDBErrNoBlobPageIndexRoot, "Nil pointer occured");
      FBlobManager->OpenBlobPageIndex(m.BlobPageIndexRoot);
    }
    FActive = true;
    LoadCounters(SessionID, true);
    FStoredMetadataAsStored = std::move(asStored);
  } catch (...) {
    CloseFiles();
    throw;
  }
}

void TSDBDiskTableData::LoadCounters(int SessionID, bool ValidatePageIndex) {
  // The counters and the record page index must come from the same
  // commit: another process may write both between the two reads. A
  // shared table lock keeps writers out meanwhile. When the wait runs out
  // (a writer kept the table busy) the counters are read as they are, but
  // the index is not compared with them: half of someone else's commit
  // would look like damage. The wait is the open's
  // own: a table another session holds exclusively must fail to open as
  // soon as the open's lock would, not after a read's long wait.
  const bool shared = LockTable(SessionID, ltS, kSDBTableOpenLockTryCount, kSDBTableOpenLockDelayMs);
  bool damaged = false;
  try {
    LoadMostUpdated(SessionID);
    // The walk over every leaf of the record page index grows with the
    // table: it runs when the table is first loaded, not each time kept
    // data is reused (commits keep the index and the count in step).
    if (ValidatePageIndex && shared) FRecordManager->ValidateRecordPageIndex(SessionID);
  } catch (const ESDBException&) {
    if (!FIsRepairing) {
      if (shared) UnlockTable(SessionID, ltS, true);
      throw;
    }
    damaged = true;
  }
  if (shared) UnlockTable(SessionID, ltS, true);
  if (damaged) RepairRecordPageIndex(SessionID);
}

void TSDBDiskTableData::RepairRecordPageIndex(int SessionID) {
  TSDBDiskPageManager& disk = FDatabase.DiskPageManager();
  TSDBPageManager& pm = FDatabase.PageManager();
  try {
    FRecordManager->RebuildRecordPageIndex(
        SessionID, pm.GetPageCount(), [this](int32_t p) { return FDatabase.PageInUse(p); },
        [&disk](int32_t p, uint8_t* header) {
          if (disk.IsSystemPage(p)) return false;
          disk.ReadPageRegion(header, p, 0, kSDBPageHeaderSize);
          return true;
        },
        FTableName);
    // Counters that could not be read start afresh from what the pages hold:
    // an auto-increment field must not hand out a value already stored.
    if (FRecordManager->FTableState < 0) FRecordManager->FTableState = 0;
    std::vector<int> autoincs;
    for (int i = 0; i < FFieldManager->FieldCount(); ++i)
      if (FFieldManager->FFieldDefs[i].IsAutoInc()) autoincs.push_back(i);
    if (!autoincs.empty()) {
      std::vector<uint8_t> rec(static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()));
      TSDBNavigationInfo info;
      info.RecordBuffer = rec.data();
      info.FirstPosition = true;
      info.GetRecordMode = grmNext;
      for (;;) {
        FRecordManager->GetRecordBuffer(SessionID, info);
        if (info.GetRecordResult != grrOK) break;
        info.FirstPosition = false;
        for (int f : autoincs) {
          if (FFieldManager->IsNull(rec.data(), f)) continue;
          const int64_t v = FFieldManager->GetFieldValue(rec.data(), f).AsInt64();
          if (v > FFieldManager->GetLastAutoinc(f)) FFieldManager->UpdateLastAutoinc(f, v);
        }
      }
    }
    SaveMetadata(SessionID);
    SaveMostUpdated(SessionID);
    pm.ApplyChanges(SessionID);
  } catch (...) {
    pm.CancelChanges(SessionID);
    throw;
  }
}

void TSDBDiskTableData::InitCursorLayout(TSDBCursor& Cursor) const {
  Cursor.RecordBufferSize = FFieldManager->MemoryRecordBufferSize();
  Cursor.FirstFieldOffset = FFieldManager->NullBitmapSize();
  Cursor.CurrentRecordBuffer.assign(static_cast<size_t>(Cursor.RecordBufferSize), 0);
  Cursor.EditRecordBuffer = FFieldManager->NewMemRecordBuffer();
}

void TSDBDiskTableData::OpenTable(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  if (std::find(FCursorList.begin(), FCursorList.end(), &Cursor) != FCursorList.end()) return;
  if (!FCursorList.empty() && Cursor.FExclusive)
    throw ESDBException(kSDBErrTableOpenByOtherCursors, "Cannot access table '%s' in exclusive mode. Table is open by other cursors",
                        {FTableName});
  if (!FCursorList.empty() && FExclusive) throw ESDBException(kSDBErrTableLocked, "Cannot open table '%s'. Table is locked", {FTableName});
  // The first cursor loads the table, or checks data kept from an earlier
  // open against what is stored now.
  const bool first = FCursorList.empty();
  if (first) LoadTable(Cursor.SessionID);
  const bool locked = Cursor.FExclusive
                          ? LockTable(Cursor.SessionID, ltX, kSDBTableOpenLockTryCount, kSDBTableOpenLockDelayMs)
                          : LockTable(Cursor.SessionID, ltIS, kSDBTableOpenLockTryCount, kSDBTableOpenLockDelayMs);
  if (!locked) {
    if (first) CloseFiles();
    if (Cursor.FExclusive)
      throw ESDBException(kSDBErrTableOpenByOtherUser, "Cannot access table '%s' in exclusive mode. Table is open by another user",
                          {FTableName});
    throw ESDBException(kSDBErrTableLocked, "Cannot open table '%s'. Table is locked", {FTableName});
  }
  FExclusive = Cursor.FExclusive;
  FCursorList.push_back(&Cursor);
  Cursor.TableData = this;
  Cursor.TableName = FTableName;
  Cursor.FirstPosition = true;
  Cursor.LastPosition = false;
  Cursor.CurrentRecordID = {};
  InitCursorLayout(Cursor);
}

void TSDBDiskTableData::CloseTable(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  auto it = std::find(FCursorList.begin(), FCursorList.end(), &Cursor);
  if (it == FCursorList.end()) return;
  if (FBlobManager) {
    if (!Cursor.CurrentRecordBuffer.empty()) FBlobManager->ClearBlobsCacheInRecordBuffer(Cursor.CurrentRecordBuffer.data());
    if (!Cursor.EditRecordBuffer.empty()) FBlobManager->ClearBlobsCacheInRecordBuffer(Cursor.EditRecordBuffer.data());
  }
  UnlockTable(Cursor.SessionID, Cursor.FExclusive ? ltX : ltIS, true);
  FCursorList.erase(it);
  Cursor.TableData = nullptr;
  if (FCursorList.empty()) {
    FExclusive = false;
    // The table data stays for the next statement (checked when it opens
    // the table again); what queries built for their own order goes with
    // the last cursor, as it did when the table was closed.
    try {
      if (FIndexManager) FIndexManager->DropTemporaryIndexes(-1);
    } catch (...) {
      CloseFiles();
    }
  }
}

// ---- Table-level changes -------------------------------------------------------------------

void TSDBDiskTableData::EmptyTable(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  const int s = Cursor.SessionID;
  try {
    if (FBlobManager) {
      std::vector<uint8_t> rec(static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()));
      for (int32_t p : FRecordManager->RecordPages(s)) {
        for (int slot = 0; slot < FRecordManager->MaxRecordsOnPage(); ++slot)
          if (FRecordManager->ReadRecord(s, {p, static_cast<uint16_t>(slot)}, rec.data()))
            FBlobManager->DeleteBlobs(s, rec.data());
      }
    }
    FRecordManager->Empty(s);
    FIndexManager->EmptyAllIndexes(s);
    SaveMostUpdated(s);
    ApplyChanges(s, Cursor.FInTransaction);
  } catch (...) {
    FailedChange(Cursor);
    throw;
  }
  Cursor.FirstPosition = true;
  Cursor.LastPosition = false;
}

void TSDBDiskTableData::DeleteTable(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  if (FCursorList.size() > 1 ||
      (FCursorList.size() == 1 && FCursorList.front() != &Cursor))
    throw ESDBException(kSDBErrDeleteOpenTable, "Cannot delete table '%s'. Table is open by another dataset", {FTableName});
  const bool wasOpen = !FCursorList.empty();
  if (!wasOpen) LoadTable(Cursor.SessionID);
  if (!FDatabase.LockTables(kTablesLockTryCount, kTablesLockDelayMs))
    throw ESDBException(kSDBErrDatabaseTablesLocked, "Database tables are locked");
  const int session = kSDBEngineSessionID;
  TSDBPageManager& pm = FDatabase.PageManager();
  SettleDeferredCounters();
  std::vector<int32_t> roots;
  for (int i = 0; i < FIndexDefs.Count(); ++i) roots.push_back(FIndexDefs[i].FRootPageNo);
  try {
    FreeTablePages(session);
    TSDBTableListFile& list = FDatabase.TableListFile();
    list.Load(session);
    list.DeleteTable(FTableName);
    list.Save(session);
    pm.ApplyChanges(session);
  } catch (...) {
    pm.CancelChanges(session);
    for (int i = 0; i < FIndexDefs.Count() && i < static_cast<int>(roots.size()); ++i)
      FIndexDefs[i].FRootPageNo = roots[static_cast<size_t>(i)];
    FDatabase.UnlockTables();
    if (!wasOpen) CloseFiles();
    throw;
  }
  // The locks file is direct: it goes once the catalogue no longer names it.
  const int32_t locks = FListItem.LocksFilePageNo;
  try {
    FTableLocksFile.DeleteFile(locks);
  } catch (...) {
  }
  FDatabase.UnlockTables();
  FCursorList.clear();
  Cursor.TableData = nullptr;
  CloseFiles();
}

void TSDBDiskTableData::FreeTablePages(int SessionID) {
  for (int i = 0; i < FIndexManager->Count(); ++i) {
    TSDBBTreeRecordIndex& idx = FIndexManager->Index(i);
    if (!idx.IndexDef().FTemporary && idx.IndexDef().FRootPageNo >= 0) idx.DropIndex(SessionID);
  }
  if (FBlobManager) {
    std::vector<uint8_t> rec(static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()));
    for (int32_t p : FRecordManager->RecordPages(SessionID))
      for (int slot = 0; slot < FRecordManager->MaxRecordsOnPage(); ++slot)
        if (FRecordManager->ReadRecord(SessionID, {p, static_cast<uint16_t>(slot)}, rec.data()))
          FBlobManager->DeleteBlobs(SessionID, rec.data());
    FBlobManager->Delete(SessionID);
  }
  FRecordManager->Delete(SessionID);
  FTableMetadataFile.DeleteFile(SessionID, FTableMetadataFile.StartPageNo());
  FTableMostUpdatedFile.DeleteFile(SessionID, FTableMostUpdatedFile.StartPageNo());
}

// The replacement is written by the engine's own session and nobody sees
// it before the one commit at the end, which also frees the old table's
// pages and points the catalogue entry at the new files: the journal makes
// that commit all or nothing, so a process killed anywhere leaves either
// the old table or the new one, never both or neither. The replacement
// keeps the old table's locks file, so a lock held on the table (the
// caller's exclusive one) goes on covering it.
void TSDBDiskTableData::RebuildTable(TSDBCursor& Cursor, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                                     TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  if (FCursorList.size() != 1 || FCursorList.front() != &Cursor)
    throw ESDBException(kSDBErrTableOpenByOtherCursors,
                        "Cannot access table '%s' in exclusive mode. Table is open by other cursors", {FTableName});
  TSDBPageManager& pm = FDatabase.PageManager();
  // The copy reads what the session sees, its uncommitted changes too, and
  // commits it at once: a transaction rolled back afterwards would leave
  // its changes in the new table.
  if (pm.HasChanges(Cursor.SessionID))
    throw ESDBException(kSDBErrRebuildUncommitted,
                        "Cannot rebuild table '%s' while the session has uncommitted changes. Commit or roll back "
                        "the transaction first",
                        {FTableName});
  if (!FDatabase.LockTables(kTablesLockTryCount, kTablesLockDelayMs))
    throw ESDBException(kSDBErrDatabaseTablesLocked, "Database tables are locked");
  const int session = kSDBEngineSessionID;
  std::vector<int32_t> roots;
  for (int i = 0; i < FIndexDefs.Count(); ++i) roots.push_back(FIndexDefs[i].FRootPageNo);
  TSDBDiskTableData fresh(FDatabase, FTableName);
  TSDBCursor target;
  target.SessionID = session;
  // One commit at the end instead of one per record.
  target.FBatchUpdate = true;
  try {
    fresh.WriteNewTable(session, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs),
                        FListItem.LocksFilePageNo);
    fresh.CloseFiles();
    fresh.OpenTable(target);
    Fill(Cursor, target);
    fresh.SaveMostUpdated(session);
    fresh.CloseTable(target);
    FreeTablePages(session);
    pm.ApplyChanges(session);
  } catch (...) {
    if (target.TableData) fresh.CloseTable(target);
    fresh.DiscardNewTable(session, false);
    for (int i = 0; i < FIndexDefs.Count() && i < static_cast<int>(roots.size()); ++i)
      FIndexDefs[i].FRootPageNo = roots[static_cast<size_t>(i)];
    FDatabase.UnlockTables();
    throw;
  }
  FDatabase.UnlockTables();
  // The old definitions go with the cursor; the next open reads the new ones.
  CloseTable(Cursor);
}

void TSDBDiskTableData::RenameTable(const std::string& NewTableName, TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  if (FCursorList.size() > 1 || (FCursorList.size() == 1 && FCursorList.front() != &Cursor))
    throw ESDBException(kSDBErrRenameOpenTable, "Cannot rename table '%s'. Table is open by another dataset", {FTableName});
  const bool wasOpen = FActive;
  if (!FActive) LoadTable(Cursor.SessionID);
  if (!FDatabase.LockTables(kTablesLockTryCount, kTablesLockDelayMs)) {
    if (!wasOpen) CloseFiles();
    throw ESDBException(kSDBErrDatabaseTablesLocked, "Database tables are locked");
  }
  const int session = kSDBEngineSessionID;
  TSDBPageManager& pm = FDatabase.PageManager();
  // The constraints name their table: they follow it, in the same commit.
  std::vector<std::string> named;
  for (int i = 0; i < FConstraintDefs.Count(); ++i) named.push_back(FConstraintDefs[i].FTableName);
  try {
    TSDBTableListFile& list = FDatabase.TableListFile();
    list.Load(session);
    list.RenameTable(FTableName, NewTableName);
    for (int i = 0; i < FConstraintDefs.Count(); ++i) FConstraintDefs[i].FTableName = NewTableName;
    SaveMetadata(session);
    list.Save(session);
    pm.ApplyChanges(session);
  } catch (...) {
    pm.CancelChanges(session);
    for (int i = 0; i < FConstraintDefs.Count(); ++i) FConstraintDefs[i].FTableName = named[static_cast<size_t>(i)];
    FDatabase.UnlockTables();
    if (!wasOpen) CloseFiles();
    throw;
  }
  FDatabase.UnlockTables();
  if (!wasOpen) CloseFiles();
  FTableName = NewTableName;
  FListItem.TableName = NewTableName;
  Cursor.TableName = NewTableName;
}

// ---- Records -------------------------------------------------------------------------------

std::vector<uint8_t> TSDBDiskTableData::NewRecordBuffer() const {
  CheckActive();
  std::vector<uint8_t> b = FFieldManager->NewMemRecordBuffer();
  FFieldManager->ApplyDefaultValuesToRecordBuffer(b.data());
  return b;
}

void TSDBDiskTableData::ApplyChanges(int SessionID, bool InTransaction) {
  if (FIndexManager) FIndexManager->ApplyTemporaryChanges(SessionID);
  if (!InTransaction) FDatabase.PageManager().ApplyChanges(SessionID);
}

void TSDBDiskTableData::CancelChanges(int SessionID, bool InTransaction) {
  if (FIndexManager) FIndexManager->CancelTemporaryChanges(SessionID);
  if (!InTransaction) FDatabase.PageManager().CancelChanges(SessionID);
}

void TSDBDiskTableData::Rollback(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  if (!FActive) return;
  FSessionLastAutoinc.erase(SessionID);
  if (FIndexManager) FIndexManager->CancelTemporaryChanges(SessionID);
  // Kept data without cursors reads its counters when it is next opened
  // (the table may be gone by then).
  if (!FCursorList.empty()) LoadMostUpdated(SessionID);
}

void TSDBDiskTableData::ForgetSession(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  FSessionLastAutoinc.erase(SessionID);
}

void TSDBDiskTableData::AfterChange(TSDBCursor& Cursor) {
  if (Cursor.FBatchUpdate || Cursor.FInTransaction) {
    // Nothing is committed before the batch or the transaction ends: the
    // counters are written once, with the session's commit, instead of at
    // every change.
    DeferCounters(Cursor.SessionID);
  } else {
    SaveMostUpdated(Cursor.SessionID);
  }
  // Temporary indexes were kept in step with this change; their pages are
  // never part of a transaction.
  FIndexManager->SetTemporaryTableState(FRecordManager->FTableState);
  FIndexManager->ApplyTemporaryChanges(Cursor.SessionID);
  if (!Cursor.FBatchUpdate) ApplyChanges(Cursor.SessionID, Cursor.FInTransaction);
}

void TSDBDiskTableData::SyncTemporaryIndexes(int SessionID) {
  if (FIndexManager) FIndexManager->SynchronizeTemporaryIndexes(SessionID);
}

void TSDBDiskTableData::FailedChange(TSDBCursor& Cursor) {
  // Outside a transaction a half-done change must not reach the file with
  // the next commit: drop the session's pages and reread the counters.
  if (FIndexManager) FIndexManager->CancelTemporaryChanges(Cursor.SessionID);
  if (Cursor.FInTransaction || Cursor.FBatchUpdate) return;
  try {
    FDatabase.PageManager().CancelChanges(Cursor.SessionID);
    LoadMostUpdated(Cursor.SessionID);
  } catch (...) {
  }
}

bool TSDBDiskTableData::InsertRecord(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  auto& buf = Cursor.EditRecordBuffer;
  if (buf.size() != static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()))
    throw ESDBException(kSDBErrInsertRecordNoBuffer, "Nil pointer occured");
  const int s = Cursor.SessionID;
  TSDBPageItemID id;
  try {
    SyncTemporaryIndexes(s);
    std::vector<std::pair<int, int64_t>> generated;
    FFieldManager->ApplyAutoincsToRecordBuffer(buf.data(), &generated);
    CheckConstraints(s, buf.data(), nullptr, true, true, true);
    if (FBlobManager) {
      // A buffer copied from another record still names that record's
      // stored values: the new record gets copies of its own, never a
      // shared reference that a later delete would pull from under the other.
      for (int i = 0; i < FFieldManager->FieldCount(); ++i) {
        if (!FFieldManager->FFieldDefs[i].IsBlob()) continue;
        if (FBlobManager->GetDirectBlobInfoFromRecordBuffer(buf.data(), i).PageNo <= 0) continue;
        TSDBDiskBLOBCache& entry = FBlobManager->ReadBlob(s, buf.data(), i);
        entry.Modified = true;
        FBlobManager->SetDirectBlobInfoFromRecordBuffer(buf.data(), i, {-1, kSDBLargeBlobItemID});
      }
      FBlobManager->WriteBlobs(s, buf.data());
    }
    if (!FRecordManager->AddRecord(s, buf.data(), id)) {
      FailedChange(Cursor);
      return false;
    }
    FIndexManager->InsertRecord(s, buf.data(), id);
    if (Cursor.RecordBitmap) Cursor.RecordBitmap->SetVisible(FRecordManager->RecordIDToPhysicalRecordNo(id), true);
    for (const auto& g : generated) FSessionLastAutoinc[s][g.first] = g.second;
    AfterChange(Cursor);
  } catch (...) {
    FailedChange(Cursor);
    throw;
  }
  Cursor.CurrentRecordID = id;
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  if (FBlobManager) {
    // The record as a read of it gives it becomes current: made from the
    // bytes just stored, with no BLOB cache entry of the edit, whose
    // entries go (the edit buffer is made anew before its next use).
    FBlobManager->ClearBlobsCacheInRecordBuffer(Cursor.CurrentRecordBuffer.data());
    FBlobManager->ClearBlobsCacheInRecordBuffer(buf.data());
    Cursor.CurrentRecordBuffer.resize(buf.size());
    FFieldManager->DiskRecordBufferToMemRecordBuffer(FRecordManager->LastAddedDiskRecord(),
                                                     Cursor.CurrentRecordBuffer.data());
  } else {
    Cursor.CurrentRecordBuffer = buf;
  }
  return true;
}

bool TSDBDiskTableData::UpdateRecord(TSDBCursor& Cursor) {
  TSDBStoredRecord found;
  return UpdateRecord(Cursor, nullptr, 0, found);
}

bool TSDBDiskTableData::UpdateRecord(TSDBCursor& Cursor, const uint8_t* Expected, int32_t ExpectedTableState,
                                     TSDBStoredRecord& Found) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  auto& buf = Cursor.EditRecordBuffer;
  if (buf.size() != static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()))
    throw ESDBException(kSDBErrUpdateRecordNoBuffer, "Nil pointer occured");
  const int s = Cursor.SessionID;
  const TSDBPageItemID id = Cursor.CurrentRecordID;
  try {
    // The stored record: Expected while nothing in the table changed since
    // it was read (a session of another process changes it only under the
    // record lock the edit holds, and its commit raises the stored state),
    // otherwise read into a buffer kept from one update to the next.
    const uint8_t* old = Expected;
    if (!Expected || ExpectedTableState != FRecordManager->FTableState) {
      FStoredRecord.resize(buf.size());
      old = FStoredRecord.data();
      if (Expected) {
        // The record as stored is read once, for the check and for the change.
        if (!FRecordManager->ReadRecord(s, id, FStoredRecord.data())) {
          Found = TSDBStoredRecord::Gone;
          return false;
        }
        if (!FFieldManager->CompareRecordBuffers(old, Expected)) {
          Found = TSDBStoredRecord::Changed;
          return false;
        }
      }
    }
    if (Cursor.FirstPosition || Cursor.LastPosition || (!Expected && !FRecordManager->ReadRecord(s, id, FStoredRecord.data())))
      throw ESDBException(kSDBErrUpdateRecordNotFound, "Record not found");
    SyncTemporaryIndexes(s);
    CheckConstraints(s, buf.data(), old, false, true, true);
    FIndexManager->UpdateRecord(s, old, buf.data(), id, true);
    // The stored references are those of the record on disk: a BLOB that
    // was not modified keeps its value, a modified one replaces it.
    if (FBlobManager) {
      for (int i = 0; i < FFieldManager->FieldCount(); ++i)
        if (FFieldManager->FFieldDefs[i].IsBlob())
          FBlobManager->SetDirectBlobInfoFromRecordBuffer(buf.data(), i,
                                                          FBlobManager->GetDirectBlobInfoFromRecordBuffer(old, i));
      FBlobManager->WriteBlobs(s, buf.data());
    }
    FRecordManager->UpdateRecord(s, buf.data(), id);
    FIndexManager->UpdateRecord(s, old, buf.data(), id, false);
    for (int i = 0; i < FFieldManager->FieldCount(); ++i) {
      if (!FFieldManager->FFieldDefs[i].IsAutoInc() || FFieldManager->IsNull(buf.data(), i)) continue;
      int64_t v = FFieldManager->GetFieldValue(buf.data(), i).AsInt64();
      if (v > FFieldManager->GetLastAutoinc(i)) FFieldManager->UpdateLastAutoinc(i, v);
    }
    AfterChange(Cursor);
  } catch (...) {
    FailedChange(Cursor);
    throw;
  }
  if (FBlobManager) FBlobManager->ClearBlobsCacheInRecordBuffer(Cursor.CurrentRecordBuffer.data());
  Cursor.CurrentRecordBuffer = buf;
  return true;
}

bool TSDBDiskTableData::DeleteRecord(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  const int s = Cursor.SessionID;
  const TSDBPageItemID id = Cursor.CurrentRecordID;
  TSDBNavigationInfo neighbour;
  bool hasNeighbour = false;
  try {
    std::vector<uint8_t> old(static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()));
    if (Cursor.FirstPosition || Cursor.LastPosition || !FRecordManager->ReadRecord(s, id, old.data()))
      throw ESDBException(kSDBErrDeleteRecordNotFound, "Record not found");
    SyncTemporaryIndexes(s);
    // The neighbour in the cursor's order takes the cursor afterwards.
    std::vector<uint8_t> scratch(old);
    TSDBBTreeRecordIndex* order = Cursor.CurrentIndexID >= 0 ? &FIndexManager->OpenIndex(Cursor.CurrentIndexID) : nullptr;
    TSDBIndexPositionCache cache;
    for (TSDBGetRecordMode m : {grmNext, grmPrior}) {
      neighbour = TSDBNavigationInfo{};
      neighbour.RecordID = id;
      neighbour.GetRecordMode = m;
      std::copy(old.begin(), old.end(), scratch.begin());
      neighbour.RecordBuffer = scratch.data();
      if (order)
        order->GetRecordBuffer(s, neighbour, cache, FRecordManager->FTableState);
      else
        FRecordManager->GetRecordBuffer(s, neighbour);
      if (neighbour.GetRecordResult == grrOK) break;
    }
    if (FBlobManager) FBlobManager->ClearBlobsCacheInRecordBuffer(scratch.data());
    hasNeighbour = neighbour.GetRecordResult == grrOK;
    if (FBlobManager) FBlobManager->DeleteBlobs(s, old.data());
    FIndexManager->DeleteRecord(s, old.data(), id);
    FRecordManager->DeleteRecord(s, id);
    if (Cursor.RecordBitmap) Cursor.RecordBitmap->SetVisible(FRecordManager->RecordIDToPhysicalRecordNo(id), false);
    AfterChange(Cursor);
  } catch (...) {
    FailedChange(Cursor);
    throw;
  }
  if (FBlobManager) FBlobManager->ClearBlobsCacheInRecordBuffer(Cursor.CurrentRecordBuffer.data());
  if (hasNeighbour) {
    Cursor.CurrentRecordID = neighbour.RecordID;
    Cursor.FirstPosition = Cursor.LastPosition = false;
    GetRecordBuffer(Cursor, grmCurrent);
  } else {
    Cursor.CurrentRecordID = {};
    Cursor.FirstPosition = true;
    Cursor.LastPosition = false;
  }
  return true;
}

TSDBGetRecordResult TSDBDiskTableData::GetRecordBuffer(TSDBCursor& Cursor, TSDBGetRecordMode Mode) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  if (!LockTable(Cursor.SessionID, ltS, 2250, 40)) return grrError;
  if (FBlobManager && !Cursor.CurrentRecordBuffer.empty())
    FBlobManager->ClearBlobsCacheInRecordBuffer(Cursor.CurrentRecordBuffer.data());
  Cursor.CurrentRecordBuffer.resize(static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()));
  TSDBNavigationInfo info;
  info.GetRecordMode = Mode;
  info.IndexID = Cursor.CurrentIndexID;
  info.RecordID = Cursor.CurrentRecordID;
  info.RecordBuffer = Cursor.CurrentRecordBuffer.data();
  info.FirstPosition = Cursor.FirstPosition;
  info.LastPosition = Cursor.LastPosition;
  try {
    if (Cursor.CurrentIndexID >= 0 && Mode != grmCurrent) {
      SyncTemporaryIndexes(Cursor.SessionID);
      FIndexManager->OpenIndex(Cursor.CurrentIndexID)
          .GetRecordBuffer(Cursor.SessionID, info, Cursor.PositionCache, FRecordManager->FTableState);
    } else {
      FRecordManager->GetRecordBuffer(Cursor.SessionID, info);
    }
  } catch (...) {
    UnlockTable(Cursor.SessionID, ltS, true);
    throw;
  }
  UnlockTable(Cursor.SessionID, ltS, true);
  switch (info.GetRecordResult) {
    case grrOK:
      Cursor.CurrentRecordID = info.RecordID;
      Cursor.FirstPosition = Cursor.LastPosition = false;
      break;
    case grrBOF:
      Cursor.FirstPosition = true;
      Cursor.LastPosition = false;
      break;
    case grrEOF:
      Cursor.LastPosition = true;
      Cursor.FirstPosition = false;
      break;
    case grrError:
      break;
  }
  return info.GetRecordResult;
}

void TSDBDiskTableData::SetRecNo(TSDBCursor& Cursor, int64_t RecNo) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  if (Cursor.CurrentIndexID >= 0) {
    SyncTemporaryIndexes(Cursor.SessionID);
    Cursor.CurrentRecordID = FIndexManager->OpenIndex(Cursor.CurrentIndexID).GetRecordIDByRecNo(Cursor.SessionID, RecNo);
  } else {
    Cursor.CurrentRecordID = FRecordManager->SetRecNo(Cursor.SessionID, RecNo);
  }
  Cursor.FirstPosition = Cursor.LastPosition = false;
  if (GetRecordBuffer(Cursor, grmCurrent) != grrOK) throw ESDBException(kSDBErrSetRecNoNotFound, "Record not found");
}

int64_t TSDBDiskTableData::GetRecNo(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  if (Cursor.FirstPosition || Cursor.LastPosition) return 0;
  if (Cursor.CurrentIndexID >= 0) {
    SyncTemporaryIndexes(Cursor.SessionID);
    return FIndexManager->OpenIndex(Cursor.CurrentIndexID)
        .GetRecNoByRecordID(Cursor.SessionID, Cursor.CurrentRecordID, Cursor.CurrentRecordBuffer.data());
  }
  return FRecordManager->GetRecNo(Cursor.SessionID, Cursor.CurrentRecordID);
}

int64_t TSDBDiskTableData::GetRecordCount(int /*SessionID*/) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  return FRecordManager->FRecordCount;
}

int64_t TSDBDiskTableData::GetMaxPhysicalRecordNo(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  return FRecordManager->GetMaxPhysicalRecordNo(SessionID);
}

std::vector<TSDBPageItemID> TSDBDiskTableData::GetRecordIDs(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  return FRecordManager->RecordIDs(SessionID);
}

int64_t TSDBDiskTableData::RecordIDToPhysicalRecordNo(const TSDBPageItemID& RecordID) const {
  CheckActive();
  return FRecordManager->RecordIDToPhysicalRecordNo(RecordID);
}

TSDBPageItemID TSDBDiskTableData::PhysicalRecordNoToRecordID(int64_t No) const {
  CheckActive();
  return FRecordManager->PhysicalRecordNoToRecordID(No);
}

int64_t TSDBDiskTableData::LastAutoincValue(int SessionID, int FieldNo) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  FFieldManager->CheckFieldNo(FieldNo);
  auto s = FSessionLastAutoinc.find(SessionID);
  if (s != FSessionLastAutoinc.end()) {
    auto f = s->second.find(FieldNo);
    if (f != s->second.end()) return f->second;
  }
  if (FDatabase.MultiUser())
    throw ESDBException(kSDBErrNoSequenceValue, "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first",
                        {FFieldManager->FFieldDefs[FieldNo].FName});
  return FFieldManager->GetLastAutoinc(FieldNo);
}

// ---- Indexes and constraints ------------------------------------------------------------------

TSDBBaseIndexManager& TSDBDiskTableData::IndexManager() {
  CheckActive();
  return *FIndexManager;
}

bool TSDBDiskTableData::ReadRecordForIndex(int SessionID, const TSDBPageItemID& RecordID,
                                           std::vector<uint8_t>& RecordBuffer) {
  if (!FRecordManager) return false;
  RecordBuffer.assign(static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()), 0);
  return FRecordManager->ReadRecord(SessionID, RecordID, RecordBuffer.data());
}

int32_t TSDBDiskTableData::IndexIDByName(const std::string& IndexName) const {
  const TSDBIndexDef* d = FIndexDefs.FindByName(IndexName);
  return d ? d->FObjectID : -1;
}

int32_t TSDBDiskTableData::AddIndex(TSDBCursor& Cursor, const TSDBIndexDef& IndexDef) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  if (IndexDef.FName.empty() || FIndexDefs.IndexOfName(IndexDef.FName) >= 0)
    throw ESDBException(kSDBErrIndexExists, "Index '%s' already exists", {IndexDef.FName});
  const int s = Cursor.SessionID;
  auto def = std::make_unique<TSDBIndexDef>(IndexDef);
  def->FObjectID = FDatabase.GetNewObjectId();
  def->FTemporary = false;
  def->FRootPageNo = -1;
  const int32_t id = def->FObjectID;
  try {
    SyncTemporaryIndexes(s);
    FIndexManager->CreateIndex(s, std::move(def), true);
    SaveMetadata(s);
    ApplyChanges(s, Cursor.FInTransaction);
  } catch (...) {
    // Nothing of the index may stay: neither its pages nor its definition.
    try {
      if (FIndexDefs.IndexOfID(id) >= 0) {
        const int i = FIndexDefs.IndexOfID(id);
        FIndexDefs.Delete(i);
        FIndexManager->OpenIndexes();
      }
      FDatabase.PageManager().CancelChanges(s);
    } catch (...) {
    }
    throw;
  }
  return id;
}

void TSDBDiskTableData::DeleteIndex(TSDBCursor& Cursor, const std::string& IndexName) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  const int32_t id = IndexIDByName(IndexName);
  if (id < 0) throw ESDBException(kSDBErrNoSuchIndex, "Index not found");
  for (int i = 0; i < FConstraintDefs.Count(); ++i) {
    auto* u = dynamic_cast<TSDBConstraintDefUnique*>(&FConstraintDefs[i]);
    if (u && (u->FIndexObjectID == id || SDBUpperName(u->FIndexName) == SDBUpperName(IndexName)))
      throw ESDBException(kSDBErrIndexUsedByConstraint, "Cannot drop index '%s'. It is used by constraint '%s'",
                          {IndexName, FConstraintDefs[i].FName});
  }
  const int s = Cursor.SessionID;
  try {
    FIndexManager->DropIndex(s, id);
    SaveMetadata(s);
    ApplyChanges(s, Cursor.FInTransaction);
  } catch (...) {
    FDatabase.PageManager().CancelChanges(s);
    // The definition may be gone from memory while the file keeps it:
    // read the definitions again.
    try {
      TSDBTableMetadata m;
      m.Load(FTableMetadataFile.ReadAll(s));
      FIndexManager.reset();
      FIndexDefs = std::move(m.IndexDefs);
      FIndexManager = std::make_unique<TSDBBaseIndexManager>(*this, FIndexDefs, FDatabase.PageManager());
      FIndexManager->OpenIndexes();
    } catch (...) {
    }
    throw;
  }
  for (TSDBCursor* c : FCursorList)
    if (c->CurrentIndexID == id) {
      c->CurrentIndexID = -1;
      c->PositionCache.Clear();
    }
}

void TSDBDiskTableData::EmptyIndex(TSDBCursor& Cursor, const std::string& IndexName) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  const int32_t id = IndexIDByName(IndexName);
  if (id < 0) throw ESDBException(kSDBErrNoSuchIndex, "Index not found");
  const int s = Cursor.SessionID;
  try {
    FIndexManager->EmptyIndex(s, id);
    ApplyChanges(s, Cursor.FInTransaction);
  } catch (...) {
    FailedChange(Cursor);
    throw;
  }
}

int32_t TSDBDiskTableData::FindOrCreateIndex(TSDBCursor& Cursor, const std::vector<std::string>& FieldNames,
                                             bool& IsCreated, const std::vector<std::string>& CaseSensitivity,
                                             const std::vector<std::string>& AscDesc) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  SyncTemporaryIndexes(Cursor.SessionID);
  return FIndexManager->FindOrCreateIndex(Cursor.SessionID, FieldNames, IsCreated, CaseSensitivity, AscDesc).IndexID();
}

bool TSDBDiskTableData::RebuildTemporaryIndexes(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  return FIndexManager->SynchronizeTemporaryIndexes(SessionID);
}

void TSDBDiskTableData::DropTemporaryIndexes(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  if (!FIndexManager) return;
  FIndexManager->DropTemporaryIndexes(SessionID);
  for (TSDBCursor* c : FCursorList)
    if (c->CurrentIndexID >= 0 && FIndexDefs.IndexOfID(c->CurrentIndexID) < 0) {
      c->CurrentIndexID = -1;
      c->PositionCache.Clear();
    }
}

void TSDBDiskTableData::CheckIndexes(int SessionID) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  for (int i = 0; i < FIndexDefs.Count(); ++i) FIndexManager->OpenIndex(FIndexDefs[i].FObjectID).CheckIntegrity(SessionID);
}

bool TSDBDiskTableData::IsUniqueConstraintFailed(int SessionID, TSDBBTreeRecordIndex& Index,
                                                 const uint8_t* NewRecordBuffer, const uint8_t* OldRecordBuffer,
                                                 bool ToInsert) {
  if (FRecordManager->FRecordCount == 0) return false;
  if (ToInsert || !OldRecordBuffer) return !Index.CanInsertRecord(SessionID, NewRecordBuffer);
  return !Index.CanUpdateRecord(SessionID, OldRecordBuffer, NewRecordBuffer);
}

bool TSDBDiskTableData::CheckConstraints(int SessionID, const uint8_t* NewRecordBuffer,
                                         const uint8_t* OldRecordBuffer, bool ToInsert, bool RaiseException,
                                         bool CheckUniqueIndexes) {
  CheckActive();
  auto fail = [&](const ESDBException& e) {
    if (RaiseException) throw e;
    return false;
  };
  auto fieldOf = [&](int32_t objectID, const std::string& name) {
    for (int i = 0; i < FFieldManager->FieldCount(); ++i)
      if (objectID >= 0 && FFieldManager->FFieldDefs[i].FObjectID == objectID) return i;
    return name.empty() ? -1 : FFieldManager->FieldNo(name);
  };
  auto indexOf = [&](const TSDBConstraintDefUnique& u) -> TSDBBTreeRecordIndex* {
    if (u.FIndexObjectID >= 0 && FIndexDefs.IndexOfID(u.FIndexObjectID) >= 0)
      return &FIndexManager->OpenIndex(u.FIndexObjectID);
    return FIndexManager->FindIndexByName(u.FIndexName);
  };
  std::vector<int32_t> checkedIndexes;
  for (int ci = 0; ci < FConstraintDefs.Count(); ++ci) {
    const TSDBConstraintDef& c = FConstraintDefs[ci];
    switch (c.ConstraintType()) {
      case ctNotNull: {
        const auto& n = static_cast<const TSDBConstraintDefNotNull&>(c);
        const int f = fieldOf(n.FColumnObjectID, n.FColumnName);
        if (f < 0) return fail(ESDBException(kSDBErrConstraintFieldNotFound, "Field #%d not found", {int64_t{n.FColumnObjectID}}));
        if (FFieldManager->IsNull(NewRecordBuffer, f))
          return fail(ESDBException(kSDBErrNotNullViolated, "Constraint '%s' violated. Value in field '%s' cannot be null",
                                    {c.FName, FFieldManager->FFieldDefs[f].FName}));
        break;
      }
      case ctCheck: {
        const auto& k = static_cast<const TSDBConstraintDefCheck&>(c);
        const int f = fieldOf(k.FColumnObjectID, k.FColumnName);
        if (f < 0) return fail(ESDBException(kSDBErrConstraintFieldNotFound, "Field #%d not found", {int64_t{k.FColumnObjectID}}));
        if (!FFieldManager->IsNull(NewRecordBuffer, f) && !FFieldManager->FFieldDefs[f].IsBlob()) {
          const TSDBVariant v = FFieldManager->GetFieldValue(NewRecordBuffer, f);
          const std::string& field = FFieldManager->FFieldDefs[f].FName;
          if (!k.FMinValue.IsNull() && v.Compare(k.FMinValue) < 0)
            return fail(ESDBException(kSDBErrMinValueViolated, "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
                                      {c.FName, field, k.FMinValue.AsString()}));
          if (!k.FMaxValue.IsNull() && v.Compare(k.FMaxValue) > 0)
            return fail(ESDBException(kSDBErrMaxValueViolated,
                                      "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
                                      {c.FName, field, k.FMaxValue.AsString()}));
        }
        if (const auto& eval = SDBGetCheckConstraintEvaluator(); eval && !eval(*this, NewRecordBuffer, k))
          return fail(ESDBException(kSDBErrCheckViolated, "Check constraint '%s' violated", {c.FName}));
        break;
      }
      case ctUnique:
      case ctPK: {
        if (!CheckUniqueIndexes) break;
        const auto& u = static_cast<const TSDBConstraintDefUnique&>(c);
        TSDBBTreeRecordIndex* idx = indexOf(u);
        if (!idx) return fail(ESDBException(kSDBErrNoSuchIndex, "Index not found"));
        checkedIndexes.push_back(idx->IndexID());
        if (c.ConstraintType() == ctPK) {
          bool allNull = true;
          std::string names;
          for (const auto& col : u.FColumns) {
            const int f = fieldOf(col.ColumnObjectID, col.ColumnName);
            if (f < 0) return fail(ESDBException(kSDBErrConstraintFieldNotFound, "Field #%d not found", {int64_t{col.ColumnObjectID}}));
            if (!FFieldManager->IsNull(NewRecordBuffer, f)) allNull = false;
            if (!names.empty()) names += ",";
            names += FFieldManager->FFieldDefs[f].FName;
          }
          if (allNull && !u.FColumns.empty())
            return fail(ESDBException(kSDBErrUniqueAllNull, "Constraint '%s' violated. Value in field '%s' cannot be null",
                                      {c.FName, names}));
          if (IsUniqueConstraintFailed(SessionID, *idx, NewRecordBuffer, OldRecordBuffer, ToInsert))
            return fail(ESDBException(kSDBErrPrimaryKeyViolated, "Primary Key constraint '%s' violated. Duplicate found.", {c.FName}));
        } else if (IsUniqueConstraintFailed(SessionID, *idx, NewRecordBuffer, OldRecordBuffer, ToInsert)) {
          return fail(ESDBException(kSDBErrUniqueViolated, "Constraint unique '%s' violated. Duplicate found.", {c.FName}));
        }
        break;
      }
      default:
        return fail(ESDBException(kSDBErrConstraintNotImplemented, "Not implemented yet"));
    }
  }
  if (!CheckUniqueIndexes) return true;
  // Unique indexes without a constraint of their own are enforced too: the
  // tree itself admits equal keys.
  for (int i = 0; i < FIndexDefs.Count(); ++i) {
    const TSDBIndexDef& d = FIndexDefs[i];
    if (!(d.FUnique || d.FPrimary)) continue;
    if (std::find(checkedIndexes.begin(), checkedIndexes.end(), d.FObjectID) != checkedIndexes.end()) continue;
    TSDBBTreeRecordIndex& idx = FIndexManager->OpenIndex(d.FObjectID);
    if (!IsUniqueConstraintFailed(SessionID, idx, NewRecordBuffer, OldRecordBuffer, ToInsert)) continue;
    if (d.FPrimary)
      return fail(ESDBException(kSDBErrPrimaryKeyViolated, "Primary Key constraint '%s' violated. Duplicate found.", {d.FName}));
    return fail(ESDBException(kSDBErrUniqueViolated, "Constraint unique '%s' violated. Duplicate found.", {d.FName}));
  }
  return true;
}

// ---- Field values ---------------------------------------------------------------------------

TSDBVariant TSDBDiskTableData::GetFieldValue(const std::vector<uint8_t>& Buffer, int FieldNo) const {
  CheckActive();
  if (Buffer.size() != static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()))
    throw ESDBException(kSDBErrFieldDataOutOfRecord, "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
                        {int64_t{FieldNo}, int64_t{0}, static_cast<int64_t>(Buffer.size())});
  return FFieldManager->GetFieldValue(Buffer.data(), FieldNo);
}

void TSDBDiskTableData::SetFieldValue(std::vector<uint8_t>& Buffer, int FieldNo, const TSDBVariant& Value) const {
  CheckActive();
  if (Buffer.size() != static_cast<size_t>(FFieldManager->MemoryRecordBufferSize()))
    throw ESDBException(kSDBErrFieldDataOutOfRecord, "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
                        {int64_t{FieldNo}, int64_t{0}, static_cast<int64_t>(Buffer.size())});
  FFieldManager->SetFieldValue(Buffer.data(), FieldNo, Value);
}

std::vector<uint8_t> TSDBDiskTableData::ReadBlobField(TSDBCursor& Cursor, std::vector<uint8_t>& Buffer, int FieldNo) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  return Blobs().GetBlobValue(Cursor.SessionID, Buffer.data(), FieldNo);
}

std::string TSDBDiskTableData::ReadBlobFieldText(TSDBCursor& Cursor, std::vector<uint8_t>& Buffer, int FieldNo) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  return Blobs().GetBlobText(Cursor.SessionID, Buffer.data(), FieldNo);
}

void TSDBDiskTableData::WriteBLOBFieldToRecordBuffer(std::vector<uint8_t>& Buffer, int FieldNo,
                                                     const std::vector<uint8_t>& Value) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  Blobs().SetBlobValue(Buffer.data(), FieldNo, Value.data(), Value.size());
}

void TSDBDiskTableData::ClearBLOBFieldInRecordBuffer(std::vector<uint8_t>& Buffer, int FieldNo) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  CheckActive();
  Blobs().ClearBlobValue(Buffer.data(), FieldNo);
}

void TSDBDiskTableData::ClearBlobsCacheInRecordBuffer(std::vector<uint8_t>& Buffer) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  if (FBlobManager && !Buffer.empty()) FBlobManager->ClearBlobsCacheInRecordBuffer(Buffer.data());
}

TSDBPageItemID TSDBDiskTableData::GetDirectBlobInfo(const std::vector<uint8_t>& Buffer, int FieldNo) const {
  CheckActive();
  if (!FBlobManager) throw ESDBException(kSDBErrBlobFieldNotFound, "Cannot find blob field");
  return FBlobManager->GetDirectBlobInfoFromRecordBuffer(Buffer.data(), FieldNo);
}

// ---- Lock hooks ----------------------------------------------------------------------------------

bool TSDBTableDatabaseContext::LockTable(TSDBDiskTableData&, int, TSDBLockType, int, int, bool) { return true; }
bool TSDBTableDatabaseContext::UnlockTable(TSDBDiskTableData&, int, TSDBLockType, bool) { return true; }
bool TSDBTableDatabaseContext::LockRecord(TSDBDiskTableData&, int, const TSDBPageItemID&, int, int) { return true; }
bool TSDBTableDatabaseContext::UnlockRecord(TSDBDiskTableData&, int, const TSDBPageItemID&) { return true; }
bool TSDBTableDatabaseContext::IsRecordLocked(TSDBDiskTableData&, int, const TSDBPageItemID&) { return false; }
void TSDBTableDatabaseContext::MostUpdatedLoaded(TSDBDiskTableData&, int, int32_t) {}
bool TSDBTableDatabaseContext::MostUpdatedKnown(TSDBDiskTableData&, int) { return false; }

bool TSDBDiskTableData::LockTable(int SessionID, TSDBLockType LockType, int TryCount, int Delay,
                                  bool AllowXIRWAfterSIRW) {
  return FDatabase.LockTable(*this, SessionID, LockType, TryCount, Delay, AllowXIRWAfterSIRW);
}
bool TSDBDiskTableData::UnlockTable(int SessionID, TSDBLockType LockType, bool IgnoreIfNoLock) {
  return FDatabase.UnlockTable(*this, SessionID, LockType, IgnoreIfNoLock);
}
bool TSDBDiskTableData::LockRecord(int SessionID, const TSDBPageItemID& RecordID, int TryCount, int Delay) {
  return FDatabase.LockRecord(*this, SessionID, RecordID, TryCount, Delay);
}
bool TSDBDiskTableData::UnlockRecord(int SessionID, const TSDBPageItemID& RecordID) {
  return FDatabase.UnlockRecord(*this, SessionID, RecordID);
}
bool TSDBDiskTableData::IsRecordLocked(int SessionID, const TSDBPageItemID& RecordID) {
  return FDatabase.IsRecordLocked(*this, SessionID, RecordID);
}

// ---- Open table list ---------------------------------------------------------------------

TSDBDiskTableData* TSDBOpenTableList::Find(const std::string& TableName) {
  const std::string key = SDBUpperName(TableName);
  for (auto& d : FList)
    if (SDBUpperName(d->TableName()) == key) return d.get();
  return nullptr;
}

TSDBDiskTableData& TSDBOpenTableList::FindOrCreate(const std::string& TableName) {
  if (TSDBDiskTableData* d = Find(TableName)) return *d;
  FList.push_back(std::make_unique<TSDBDiskTableData>(FDatabase, TableName));
  return *FList.back();
}

void TSDBOpenTableList::FreeIfNoCursorsConnected(TSDBDiskTableData& Data, bool Failed) {
  if (Data.CursorCount() > 0 || (Data.Active() && !Failed)) return;
  FList.erase(std::remove_if(FList.begin(), FList.end(),
                             [&](const std::unique_ptr<TSDBDiskTableData>& p) { return p.get() == &Data; }),
              FList.end());
}

void TSDBOpenTableList::DropKept(const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  const std::string key = SDBUpperName(TableName);
  FList.erase(std::remove_if(FList.begin(), FList.end(),
                             [&](const std::unique_ptr<TSDBDiskTableData>& p) {
                               return p->CursorCount() == 0 && SDBUpperName(p->TableName()) == key;
                             }),
              FList.end());
}

void TSDBOpenTableList::CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                    TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  DropKept(TableName);
  TSDBDiskTableData data(FDatabase, TableName);
  TSDBCursor cursor;
  cursor.SessionID = kSDBEngineSessionID;
  data.CreateTable(cursor, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs));
}

void TSDBOpenTableList::OpenTable(TSDBCursor& Cursor, const std::string& TableName, bool Repairing) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  TSDBDiskTableData& data = FindOrCreate(TableName);
  if (Repairing) data.SetRepairing(true);
  try {
    data.OpenTable(Cursor);
  } catch (...) {
    if (Repairing) data.SetRepairing(false);
    FreeIfNoCursorsConnected(data, true);
    throw;
  }
  if (Repairing) data.SetRepairing(false);
}

void TSDBOpenTableList::CloseTable(TSDBCursor& Cursor) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  TSDBDiskTableData* data = Cursor.TableData;
  if (!data) return;
  data->CloseTable(Cursor);
  FreeIfNoCursorsConnected(*data);
}

void TSDBOpenTableList::WithTableData(const std::string& TableName,
                                      const std::function<void(TSDBDiskTableData&)>& Op) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  TSDBDiskTableData& data = FindOrCreate(TableName);
  try {
    Op(data);
  } catch (...) {
    FreeIfNoCursorsConnected(data, true);
    throw;
  }
  FreeIfNoCursorsConnected(data);
}

void TSDBOpenTableList::RebuildTable(int SessionID, const std::string& TableName, TSDBFieldDefs FieldDefs,
                                     TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs,
                                     const TSDBTableFill& Fill) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  WithTableData(TableName, [&](TSDBDiskTableData& data) {
    TSDBCursor cursor;
    cursor.SessionID = SessionID;
    cursor.FExclusive = true;
    try {
      data.OpenTable(cursor);
      data.RebuildTable(cursor, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs), Fill);
    } catch (...) {
      if (cursor.TableData) data.CloseTable(cursor);
      throw;
    }
  });
}

void TSDBOpenTableList::CheckListed(const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  TSDBTableListFile& list = FDatabase.TableListFile();
  list.Load(kSDBEngineSessionID);
  if (list.Find(TableName) < 0) throw ESDBException(kSDBErrRenameMissingTable, "Table '%s' does not exist.", {TableName});
}

std::vector<std::string> TSDBOpenTableList::GetTablesList() {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  TSDBTableListFile& list = FDatabase.TableListFile();
  list.Load(kSDBEngineSessionID);
  return list.GetTablesList();
}

bool TSDBOpenTableList::TableExists(const std::string& TableName) {
  std::lock_guard<std::recursive_mutex> guard(FDatabase.CriticalSection());
  TSDBTableListFile& list = FDatabase.TableListFile();
  list.Load(kSDBEngineSessionID);
  return list.Find(TableName) >= 0;
}

}  // namespace sdb
