#include "storage/file/SDBDiskPageCache.h"

#include <algorithm>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/file/SDBJournal.h"

namespace sdb {

namespace {


class THeaderLockHold {
 public:
  explicit THeaderLockHold(TSDBDiskPageManager& pm) : FPM(pm) {
    if (!FPM.WaitLockDBHeader()) throw ESDBException(kSDBErrDatabaseHeaderLocked, "Database is locked");
  }
  ~THeaderLockHold() { FPM.UnlockDBHeader(); }
  THeaderLockHold(const THeaderLockHold&) = delete;
  THeaderLockHold& operator=(const THeaderLockHold&) = delete;

 private:
  TSDBDiskPageManager& FPM;
};

}  // namespace

TSDBDiskPageCache::TSDBDiskPageCache(int cacheCapacity)
    : TSDBPageManager(kSDBDefaultPageSize, cacheCapacity), FDiskPageManager(std::make_unique<TSDBDiskPageManager>()) {
  FDiskPageManager->SetFreeSpaceManagerFactory(TSDBDatabaseFreeSpaceManager::Factory());
}

TSDBDiskPageCache::~TSDBDiskPageCache() {
  ResetCache();
  try {
    FDiskPageManager->CloseDatabase();
  } catch (...) {
    // Closing only marks the file closed on failure.
  }
}

void TSDBDiskPageCache::ResetCache() {
  ClearSessionsAndPages();
  FWorkState = {};
}

void TSDBDiskPageCache::CreateAndOpenDatabase(const std::string& FileName, const TSDBPassword& Password,
                                              uint16_t PageSize, uint16_t ExtentPageCount) {
  ResetCache();
  FDiskPageManager->CreateAndOpenDatabase(FileName, Password, PageSize, ExtentPageCount);
  FPageSize = FDiskPageManager->PageSize();
  FMultiUser = FDiskPageManager->MultiUser();
}

void TSDBDiskPageCache::OpenDatabase(const std::string& FileName, const TSDBPassword& Password, bool& ReadOnly,
                                     bool& RepairNeeded, bool Exclusive, bool& aMultiUser) {
  ResetCache();
  FDiskPageManager->OpenDatabase(FileName, Password, ReadOnly, RepairNeeded, Exclusive, aMultiUser);
  FPageSize = FDiskPageManager->PageSize();
  FMultiUser = aMultiUser;
}

void TSDBDiskPageCache::CloseDatabase() {
  ResetCache();
  FDiskPageManager->CloseDatabase();
}

TSDBDatabaseFreeSpaceManager& TSDBDiskPageCache::FreeSpaceManager() {
  auto* fs = dynamic_cast<TSDBDatabaseFreeSpaceManager*>(FDiskPageManager->DatabaseFreeSpaceManager());
  if (!fs) throw ESDBException(kSDBErrDatabaseNotOpen, "Error - database file is not opened.");
  return *fs;
}

void TSDBDiskPageCache::SetIgnoreCRCErrors(bool v) {
  TSDBPageManager::SetIgnoreCRCErrors(v);
  FDiskPageManager->SetIgnoreCRCErrors(v);
}

int32_t TSDBDiskPageCache::GetPageCount() { return FDiskPageManager->GetPageCount(); }

bool TSDBDiskPageCache::HasFewerPagesThan(int64_t Count) {
  if (FDiskPageManager->DBHeader().TotalPageCount >= Count) return false;
  return FDiskPageManager->GetPageCount() < Count;
}

void TSDBDiskPageCache::ApplyChanges(int SessionID) {
  if (SessionID == kSDBInvalidSessionID) throw ESDBException(kSDBErrInvalidSessionID, "Invalid Session ID");
  FLastCommitUndone = false;
  RunAllDeferred(SessionID);
  if (!HasChanges(SessionID)) return;
  TSDBDiskPageManager& pm = *FDiskPageManager;
  THeaderLockHold lock(pm);
  pm.ReadDBHeader();
  TSDBSessionPageInfo& s = Session(SessionID);
  const std::vector<int32_t> added = s.AddedPageNumbers;
  try {
    // Journal and first header write come in BeforeCommitWrites, once the
    // pages passed their checks.
    TSDBPageManager::ApplyChanges(SessionID);
    pm.ReturnReservedPages();
    // Releases may have changed the counters, but always through the header
    // in memory (the free-space manager writes it from there, and reads the
    // file's only under this same lock, where nobody else writes it): the
    // header in memory is the file's.
    TSDBDBHeader& h = pm.DBHeader();
    h.State = h.State == kSDBMaxInt ? 0 : h.State + 1;
    h.WriteChangesState = kSDBWriteChangesConsistent;
    pm.WriteDBHeader();
    pm.Journal().Commit();
  } catch (...) {
    // Nothing was written when the journal was not begun.
    if (pm.Journal().Active()) UndoFailedCommit(s, added);
    throw;
  }
}

void TSDBDiskPageCache::BeforeCommitWrites(TSDBSessionPageInfo& s) {
  TSDBDiskPageManager& pm = *FDiskPageManager;
  // Everything the commit writes is journaled first (see SDBJournal.h); a
  // failure before the journal is complete leaves the file untouched.
  std::vector<std::pair<int64_t, int32_t>> unreferenced;
  const std::vector<std::pair<int64_t, int32_t>> ranges = CommitRanges(s, unreferenced);
  pm.Journal().Begin(ranges, pm.Durability, unreferenced, kSDBPageHeaderSize);
  pm.DBHeader().WriteChangesState = kSDBWriteChangesWriting;
  pm.WriteDBHeader();
}

std::vector<std::pair<int64_t, int32_t>> TSDBDiskPageCache::CommitRanges(
    const TSDBSessionPageInfo& s, std::vector<std::pair<int64_t, int32_t>>& Unreferenced) {
  TSDBDiskPageManager& pm = *FDiskPageManager;
  TSDBDatabaseFreeSpaceManager& fs = FreeSpaceManager();
  const int32_t size = pm.PageSize();
  std::vector<std::pair<int64_t, int32_t>> ranges;
  ranges.reserve(static_cast<size_t>(s.DirtyPages.Count()) + 3 * s.RemovedPageNumbers.size() + 1);
  ranges.emplace_back(pm.OffsetToDBHeader(), kSDBDBHeaderSize);
  // A page allocated by this transaction was free before it: whatever it
  // held, nothing refers to it. Restoring its header makes it a page
  // "never written" again, which the check accepts as reclaimable and the
  // session's rollback frees. (A page also freed again is recorded whole
  // below.)
  std::vector<int32_t> added(s.AddedPageNumbers);
  std::sort(added.begin(), added.end());
  Unreferenced.reserve(added.size());
  for (const TSDBPage* p : s.DirtyPages.Pages()) {
    if (std::binary_search(added.begin(), added.end(), p->PageNo()))
      Unreferenced.emplace_back(pm.PageOffset(p->PageNo()), size);
    else
      ranges.emplace_back(pm.PageOffset(p->PageNo()), size);
  }
  pm.AddReservedPageRanges(ranges);
  // A freed page gets State MaxInt and its bits cleared in its bitmaps.
  for (int32_t p : s.RemovedPageNumbers) {
    ranges.emplace_back(pm.PageOffset(p), size);
    ranges.emplace_back(pm.PageOffset(fs.PFSPageOf(p)), size);
    ranges.emplace_back(pm.PageOffset(fs.EAMPageOf(p)), size);
  }
  return ranges;
}

void TSDBDiskPageCache::UndoFailedCommit(TSDBSessionPageInfo& s, const std::vector<int32_t>& added) {
  TSDBDiskPageManager& pm = *FDiskPageManager;
  FLastCommitUndone = true;
  // The file goes back to what it was before the commit; if even that
  // fails the journal stays and the next header lock applies it.
  try {
    pm.Journal().Rollback();
  } catch (...) {
    pm.Journal().Abandon();
  }
  try {
    pm.AfterJournalRollback();
  } catch (...) {
  }
  if (auto* fs = dynamic_cast<TSDBDatabaseFreeSpaceManager*>(pm.DatabaseFreeSpaceManager())) fs->ForgetBitmaps();
  // Pages written before the failure sit in the shared list with contents
  // the file no longer has: drop every copy nobody uses, mark the others.
  for (TSDBPage* p : FSharedPages.Pages()) {
    if (p->UseCount() == 0)
      DropSharedPage(p);
    else
      MarkStale(*p);
  }
  // The session's change is gone; its new pages are still allocated in the
  // restored file and go back when the caller rolls back.
  s.DirtyPages.Clear();
  s.RemovedPageNumbers.clear();
  s.AddedPageNumbers = added;
}

void TSDBDiskPageCache::CancelChanges(int SessionID) {
  // The session's new pages were never written (a failed commit's journal
  // gave them back their old headers): they go back to the free space with
  // the reserved ones, in one change instead of one per page.
  FCancelling = true;
  try {
    TSDBPageManager::CancelChanges(SessionID);
  } catch (...) {
    FCancelling = false;
    throw;
  }
  FCancelling = false;
  // When this fails the pages stay reserved and go back with the next
  // commit, rollback or close.
  try {
    FDiskPageManager->ReturnReservedPages();
  } catch (...) {
  }
}

bool TSDBDiskPageCache::LockPageByte(int32_t PageNo, int32_t Offset) {
  return FDiskPageManager->LockPageByte(PageNo, Offset);
}

bool TSDBDiskPageCache::UnlockPageByte(int32_t PageNo, int32_t Offset) {
  return FDiskPageManager->UnlockPageByte(PageNo, Offset);
}

int32_t TSDBDiskPageCache::InternalAddPage() { return FDiskPageManager->InternalAddPage(); }

void TSDBDiskPageCache::InternalRemovePage(int32_t PageNo) {
  if (FCancelling)
    FDiskPageManager->TakeBackUnwrittenPage(PageNo);
  else
    FDiskPageManager->InternalRemovePage(PageNo);
}

bool TSDBDiskPageCache::InternalReadPage(TSDBPage& Page) {
  bool ok = FDiskPageManager->InternalReadPage(Page.PageNo(), Page.Buffer(), Page.EncryptionEnabled());
  if (ok) Page.SetReloaded(true);
  return ok;
}

void TSDBDiskPageCache::InternalWritePage(TSDBPage& Page) {
  FDiskPageManager->InternalWritePage(Page.PageNo(), Page.Buffer(), Page.EncryptionEnabled());
}

int32_t TSDBDiskPageCache::InternalReadPageState(int32_t PageNo) {
  return FDiskPageManager->InternalReadPageState(PageNo);
}

// A page is trusted without a disk read only when the session is working
// with a table it holds locked from modification, whose state it read in
// this lock period, and the page was last read or checked by this session
// for that same table and state.
bool TSDBDiskPageCache::WorkTableState(int SessionID, int32_t& Table, int64_t& State) {
  TWorkState& w = FWorkState;
  if (!w.Known || w.SessionID != SessionID || w.Generation != FTablePagesCacheManager->Generation()) {
    w.Trusted = FTablePagesCacheManager->GetWorkTableState(SessionID, w.Table, w.State, &w.Generation);
    w.SessionID = SessionID;
    w.Known = true;
  }
  Table = w.Table;
  State = w.State;
  return w.Trusted;
}

bool TSDBDiskPageCache::IsPageTableStateCurrent(int SessionID, TSDBPage& Page) {
  if (!FMultiUser) return true;
  if (!FTablePagesCacheManager) return false;
  int32_t table = -1;
  int64_t state = -1;
  if (!WorkTableState(SessionID, table, state)) return false;
  const TSDBPageTableStateInfo* known = Page.FindTableState(SessionID);
  return known && known->IsTableStateValueAssigned && known->TableID == table && known->TableState == state;
}

void TSDBDiskPageCache::StampPageTableState(int SessionID, TSDBPage& Page) {
  if (!FMultiUser || !FTablePagesCacheManager) return;
  int32_t table = -1;
  int64_t state = -1;
  if (WorkTableState(SessionID, table, state))
    Page.SetTableState(SessionID, TSDBPageTableStateInfo{table, state, true});
  else
    Page.ForgetTableState(SessionID);
}

bool TSDBDiskPageCache::IsSystemPage(int32_t PageNo) const { return FDiskPageManager->IsSystemPage(PageNo); }

}  // namespace sdb
