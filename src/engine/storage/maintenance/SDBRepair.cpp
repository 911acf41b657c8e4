#include "storage/maintenance/SDBRepair.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>
#include <thread>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "platform/SDBFileHandle.h"
#include "storage/maintenance/SDBDatabaseCheck.h"
#include "storage/file/SDBFreeSpace.h"
#include "storage/file/SDBInternalFile.h"
#include "storage/table/SDBMetadata.h"

namespace sdb {

// ---- Maintenance database ---------------------------------------------------------------------

void TSDBMaintenanceDatabase::OpenDatabase(const std::string& FileName, const std::string& Password) {
  TSDBTableDatabase::OpenDatabase(FileName, Password, false, true);
  if (ReadOnly()) {
    CloseDatabase();
    throw ESDBException(kSDBErrMaintenanceReadOnly,
                        "Cannot repair or compact database file '%s': it can only be opened read-only", {FileName});
  }
  FFileName = FileName;
}

// ---- Report --------------------------------------------------------------------------------

std::string TSDBRepairReport::Summary() const {
  std::string s;
  if (OldFormat) s += "Converted from format version " + std::to_string(OldVersion).substr(0, 4) + ".\n";
  if (InterruptedCommit) s += "An interrupted commit was found.\n";
  for (const auto& t : Tables) {
    s += "Table \"" + t.TableName + "\": " + std::to_string(t.Records) + " records, " + std::to_string(t.BlobsRead) +
         " BLOB values read, " + std::to_string(t.IndexesRebuilt) + " indexes rebuilt";
    if (t.RecordPageIndexRebuilt) s += ", record page index rebuilt";
    s += t.Problems.empty() ? ".\n" : ", " + std::to_string(t.Problems.size()) + " problems.\n";
  }
  s += std::to_string(PagesReclaimed) + " unreachable pages freed, " + std::to_string(PagesMarkedUsed) +
       " pages in use marked used; " + std::to_string(PagesBefore) + " pages before, " + std::to_string(PagesAfter) +
       " after.\n";
  return s;
}

// ---- Repair --------------------------------------------------------------------------------

namespace {

constexpr int kSession = kSDBEngineSessionID;

class TRepair {
 public:
  TRepair(const TSDBProgressCallback& progress) : FProgress(progress) {}
  ~TRepair() {
    // A repair that stops part-way drops what it has not committed; the
    // file still says it needs repair.
    try {
      if (FDB.IsOpen()) FDB.Cache().CancelChanges(kSession);
    } catch (...) {
    }
  }

  TSDBRepairReport Run(const std::string& fileName, const std::string& password) {
    Progress(0);
    FDB.OpenDatabase(fileName, password);
    TSDBDiskPageManager& pm = FDB.DiskPageManager();
    FReport.OldVersion = pm.DBHeader().Version;
    FReport.OldFormat = FReport.OldVersion < kSDBMinVersionWithoutRepair;
    FReport.InterruptedCommit = pm.DBHeader().WriteChangesState != kSDBWriteChangesConsistent;
    FReport.PagesBefore = pm.DBHeader().TotalPageCount;
    MarkInProgress();

    // What the file holds as it is; pages it reaches must not be handed out.
    TSDBDatabaseWalk before = SDBWalkDatabase(FDB);
    for (const auto& p : before.Problems) Log(p);
    for (const auto& p : before.TableProblems) Log(p);
    FOrphansFound.insert(before.Orphans.begin(), before.Orphans.end());
    MarkUsed(before.FreeButReached);
    Progress(10);

    std::vector<std::string> tables;
    try {
      tables = FDB.GetTablesList();
    } catch (const ESDBException& e) {
      Log("the table list cannot be read: " + e.RawMessage());
    }
    for (size_t i = 0; i < tables.size(); ++i) {
      RepairTable(tables[i]);
      Progress(10 + static_cast<int>(75 * (i + 1) / tables.size()));
    }

    // Now that every structure is rebuilt, what nothing reaches is free.
    TSDBDatabaseWalk after = SDBWalkDatabase(FDB);
    MarkUsed(after.FreeButReached);
    if (!after.TablesComplete)
      Log("some table structures could not be walked: pages of tables were not reclaimed");
    FreeOrphans(after.Orphans);
    Progress(95);

    // Clean state and current version, written last: up to here the file
    // still says it needs repair.
    if (!pm.WaitLockDBHeader()) throw ESDBException(kSDBErrDatabaseLocked, "Database is locked");
    try {
      pm.ReadDBHeader();
      pm.DBHeader().Version = kSDBCurrentVersion;
      pm.DBHeader().WriteChangesState = kSDBWriteChangesConsistent;
      pm.WriteDBHeader();
    } catch (...) {
      pm.UnlockDBHeader();
      throw;
    }
    pm.UnlockDBHeader();
    pm.DatabaseFile().FlushFileBuffers();
    FReport.PagesAfter = pm.DBHeader().TotalPageCount;
    FDB.CloseDatabase();
    FReport.Log = FLog;
    Progress(100);
    return FReport;
  }

 private:
  void Progress(int percent) {
    if (FProgress) FProgress(percent);
  }
  void Log(const std::string& line) { FLog += line + "\n"; }

  // The header says a commit is under way until the repair ends. Every
  // commit of the repair resets it, so it is set again after each.
  void MarkInProgress() {
    TSDBDiskPageManager& pm = FDB.DiskPageManager();
    if (!pm.WaitLockDBHeader()) throw ESDBException(kSDBErrDatabaseLocked, "Database is locked");
    try {
      pm.ReadDBHeader();
      pm.DBHeader().WriteChangesState = kSDBWriteChangesWriting;
      pm.WriteDBHeader();
    } catch (...) {
      pm.UnlockDBHeader();
      throw;
    }
    pm.UnlockDBHeader();
  }

  void Commit() {
    FDB.Cache().ApplyChanges(kSession);
    MarkInProgress();
  }

  // The free-space manager hands out free pages in a fixed order; taking
  // pages until the wanted ones come up marks them used, and the others
  // taken on the way are given back.
  void MarkUsed(std::vector<int32_t> pages) {
    if (pages.empty()) return;
    TSDBDatabaseFreeSpaceManager& fsm = FDB.Cache().FreeSpaceManager();
    std::set<int32_t> wanted(pages.begin(), pages.end());
    std::vector<int32_t> extra;
    const int32_t total = FDB.DiskPageManager().GetPageCount();
    while (!wanted.empty()) {
      const int32_t p = fsm.GetPage();
      if (p >= total) {  // the file grew: the rest are not free pages after all
        extra.push_back(p);
        break;
      }
      if (wanted.erase(p)) {
        ++FReport.PagesMarkedUsed;
      } else {
        extra.push_back(p);
      }
    }
    std::sort(extra.rbegin(), extra.rend());
    for (int32_t p : extra) fsm.FreePage(p);
    for (int32_t p : wanted) Log("page " + std::to_string(p) + " is in use but could not be marked used");
  }

  // Orphans go through the cache's removal, as any freed page: the commit
  // marks each removed on disk (its state the highest value) before the
  // free-space map gives it back, so a reader that still holds its number
  // sees it is gone.
  void FreeOrphans(std::vector<int32_t> pages) {
    if (pages.empty()) return;
    // From the end, so that the file can shrink as its tail frees.
    std::sort(pages.rbegin(), pages.rend());
    // Besides the orphans the file had, the old trees of the rebuilt
    // indexes go here; only the former are a finding.
    int found = 0;
    for (int32_t p : pages) {
      try {
        FDB.Cache().RemovePage(kSession, p);
        if (FOrphansFound.count(p)) ++found;
      } catch (const ESDBException& e) {
        Log("page " + std::to_string(p) + " cannot be freed: " + e.RawMessage());
      }
    }
    try {
      Commit();
    } catch (const ESDBException& e) {
      Log("pages that belong to nothing cannot be freed: " + e.RawMessage());
      FDB.Cache().CancelChanges(kSession);
      return;
    }
    FReport.PagesReclaimed += found;
    if (FReport.PagesReclaimed)
      Log(std::to_string(FReport.PagesReclaimed) +
          " pages were marked used but belonged to nothing; they are free now");
  }

  void RepairTable(const std::string& name) {
    TSDBRepairTableReport t;
    t.TableName = name;
    auto problem = [&](const std::string& text) {
      t.Problems.push_back(text);
      Log("table '" + name + "': " + text);
    };
    TSDBCursor c;
    c.SessionID = kSession;
    int32_t rootBefore = -1;
    try {
      TSDBInternalDBTransactedAccessFile f(FDB.Cache(), ptTableMetaData);
      FDB.TableListFile().Load(kSession);
      const TSDBTableListItem* item = FDB.TableListFile().FindTable(name);
      if (item) {
        f.OpenFile(item->MetaDataFilePageNo);
        TSDBTableMetadata m;
        m.Load(f.ReadAll(kSession));
        rootBefore = m.RecordPageIndexRoot;
      }
    } catch (const ESDBException&) {
    }
    try {
      FDB.OpenTable(c, name, true);
    } catch (const ESDBException& e) {
      problem("cannot be opened: " + e.RawMessage());
      FDB.Cache().CancelChanges(kSession);
      FReport.Tables.push_back(std::move(t));
      return;
    }
    MarkInProgress();  // a rebuilt record page index was committed
    TSDBDiskTableData& table = *c.TableData;
    t.RecordPageIndexRebuilt = table.RecordManager().RecordPageIndexRoot() != rootBefore;
    try {
      ReadRecords(table, c, t, problem);
      RebuildIndexes(table, t, problem);
      // The new roots and the counters as the records are now.
      std::vector<uint8_t> meta = table.BuildMetadata().Save();
      TSDBInternalDBTransactedAccessFile f(FDB.Cache(), ptTableMetaData);
      f.OpenFile(table.ListItem().MetaDataFilePageNo);
      f.WriteFile(kSession, meta.data(), static_cast<int32_t>(meta.size()), acaZLIB, 1);
      table.SaveMostUpdated(kSession);
      Commit();
    } catch (const ESDBException& e) {
      problem("cannot be repaired: " + e.RawMessage());
      FDB.Cache().CancelChanges(kSession);
    }
    try {
      FDB.CloseTable(c);
    } catch (const ESDBException&) {
    }
    FReport.Tables.push_back(std::move(t));
  }

  template <class TProblem>
  void ReadRecords(TSDBDiskTableData& table, TSDBCursor& c, TSDBRepairTableReport& t, TProblem& problem) {
    TSDBBaseFieldManager& fields = table.FieldManager();
    std::vector<int> blobs;
    for (int f = 0; f < fields.FieldCount(); ++f)
      if (fields.FFieldDefs[f].IsBlob()) blobs.push_back(f);
    TSDBDiskRecordManager& rm = table.RecordManager();
    std::vector<uint8_t> rec(static_cast<size_t>(fields.MemoryRecordBufferSize()));
    // Page by page, slot by slot: one damaged page does not hide the others.
    std::vector<int32_t> pages;
    try {
      pages = rm.RecordPages(kSession);
    } catch (const ESDBException& e) {
      problem("the record pages cannot be listed: " + e.RawMessage());
      return;
    }
    for (int32_t p : pages) {
      for (int slot = 0; slot < rm.MaxRecordsOnPage(); ++slot) {
        const TSDBPageItemID id{p, static_cast<uint16_t>(slot)};
        try {
          if (!rm.ReadRecord(kSession, id, rec.data())) continue;
        } catch (const ESDBException& e) {
          problem("record page " + std::to_string(p) + " cannot be read: " + e.RawMessage());
          break;
        }
        ++t.Records;
        for (int f : blobs) {
          if (table.GetDirectBlobInfo(rec, f).PageNo <= 0) continue;
          try {
            table.ReadBlobField(c, rec, f);
            ++t.BlobsRead;
          } catch (const ESDBException& e) {
            problem("record (page " + std::to_string(p) + ", slot " + std::to_string(slot) + ") field '" +
                    fields.FFieldDefs[f].FName + "': the BLOB value cannot be read: " + e.RawMessage());
          }
        }
        if (!blobs.empty()) table.ClearBlobsCacheInRecordBuffer(rec);
      }
    }
  }

  // Every declared index is built anew from the records; the old tree is
  // left to the page reclaim (walking a damaged tree to free it is what
  // must not be trusted).
  template <class TProblem>
  void RebuildIndexes(TSDBDiskTableData& table, TSDBRepairTableReport& t, TProblem& problem) {
    TSDBBaseIndexManager& im = table.IndexManager();
    TSDBDiskRecordManager& rm = table.RecordManager();
    std::vector<uint8_t> rec(static_cast<size_t>(table.FieldManager().MemoryRecordBufferSize()));
    for (int i = 0; i < im.Count(); ++i) {
      TSDBBTreeRecordIndex& index = im.Index(i);
      if (index.IndexDef().FTemporary) continue;
      index.IndexDef().FRootPageNo = -1;
      index.CreateIndex(kSession, false);
      const bool unique = index.IndexDef().FUnique || index.IndexDef().FPrimary;
      int64_t collisions = 0;
      TSDBNavigationInfo info;
      info.RecordBuffer = rec.data();
      info.FirstPosition = true;
      info.GetRecordMode = grmNext;
      for (;;) {
        rm.GetRecordBuffer(kSession, info);
        if (info.GetRecordResult != grrOK) break;
        info.FirstPosition = false;
        if (unique && !index.CanInsertRecord(kSession, rec.data())) ++collisions;
        // The record is kept and indexed even when its key collides.
        index.InsertRecord(kSession, rec.data(), info.RecordID);
      }
      if (collisions)
        problem("unique index '" + index.IndexDef().FName + "': " + std::to_string(collisions) +
                " records repeat the key of another record; they are kept");
      ++t.IndexesRebuilt;
    }
  }

  TSDBMaintenanceDatabase FDB;
  TSDBProgressCallback FProgress;
  TSDBRepairReport FReport;
  std::string FLog;
  std::set<int32_t> FOrphansFound;
};

}  // namespace

TSDBRepairReport SDBRepairDatabase(const std::string& FileName, const std::string& Password,
                                   const TSDBProgressCallback& Progress) {
  TRepair repair(Progress);
  return repair.Run(FileName, Password);
}

}  // namespace sdb
