// ==== Storage level 1 of 4: the file and its pages (storage/file) ====
//
// This level owns everything that turns a file on disk into numbered pages
// that can be read, changed and committed safely: the file's header areas
// and page layout (SDBPageFormat, SDBDatabaseFile), the ciphers and the
// password control block (SDBCrypto), the compression codecs and the byte
// streams they run over (SDBCompression, ppm/, SDBStream,
// SDBCompressedBlobStream), the free-space maps (SDBFreeSpace), the page
// managers and the page caches with their commit protocol (SDBPageManager,
// SDBPageCache, SDBMemoryPageManager, this header), and the internal files
// built from page chains together with the system directory that names them
// (SDBInternalFile, SDBSystemDirectory).
//
// It knows nothing of tables, records, sessions or SQL. It may use only
// common/, platform/ and the value and error headers of include/sdb. The
// table level above asks it for pages and internal files; nothing here
// calls upwards.
//
// The page cache over a database file: pages come from and go to the disk
// page manager, new page numbers from the free-space manager, and a commit
// writes a session's changes under the protocol that lets the next open see
// an interrupted commit:
//   take the header lock, re-read the header, WriteChangesState := 1, write
//   the header; write the session's pages and free its removed pages;
//   State += 1, WriteChangesState := 2, write the header; release the lock.
// Before the first write the original bytes of everything the commit writes
// go to the rollback journal (SDBJournal.h). A commit that fails is undone
// from it at once; one that a killed process or a power loss interrupted is
// undone by whoever takes the header lock next. Only a file left by a
// program that knows no journal still shows WriteChangesState = 1, which
// the next open reports as RepairNeeded.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "storage/file/SDBFreeSpace.h"
#include "storage/file/SDBPageCache.h"
#include "storage/file/SDBPageManager.h"
#include "storage/file/SDBTablePagesCache.h"

namespace sdb {

class TSDBDiskPageCache : public TSDBPageManager {
 public:
  // The disk page manager is created here, with this engine's free-space
  // manager plugged in. `cacheCapacity` as for TSDBPageManager.
  explicit TSDBDiskPageCache(int cacheCapacity = 0);
  ~TSDBDiskPageCache() override;

  void CreateAndOpenDatabase(const std::string& FileName, const TSDBPassword& Password,
                             uint16_t PageSize = kSDBDefaultPageSize,
                             uint16_t ExtentPageCount = kSDBDefaultPageCountInExtent);
  void OpenDatabase(const std::string& FileName, const TSDBPassword& Password, bool& ReadOnly,
                    bool& RepairNeeded, bool Exclusive, bool& aMultiUser);
  // Drops every cached page (uncommitted changes are discarded) and closes.
  void CloseDatabase();

  TSDBDiskPageManager& DiskPageManager() noexcept { return *FDiskPageManager; }
  const TSDBDiskPageManager& DiskPageManager() const noexcept { return *FDiskPageManager; }
  TSDBDatabaseFreeSpaceManager& FreeSpaceManager();

  int32_t GetPageCount() override;
  // The header is read again (under its lock) only when the count in
  // memory is too small: another process may have grown the file since.
  // A count in memory that is too large (the file shrank since) lets a
  // damaged size or chain through to the page read, which then fails.
  bool HasFewerPagesThan(int64_t Count) override;
  void SetIgnoreCRCErrors(bool v) override;
  void ApplyChanges(int SessionID) override;
  // Also gives back the pages reserved for allocations and not used.
  void CancelChanges(int SessionID) override;
  // Whether the last commit failed after it had begun writing and was
  // undone from the journal: the session's changes are gone then (they
  // stay pending when the commit failed before).
  bool LastCommitUndone() const noexcept { return FLastCommitUndone; }

  // Change detection of the sessions using this cache (multi-user); none:
  // every cached page is checked against its on-disk State.
  void SetTablePagesCacheManager(TSDBDiskTablePagesCacheManager* Manager) {
    FTablePagesCacheManager = Manager;
    FWorkState = {};
  }

  bool LockPageByte(int32_t PageNo, int32_t Offset) override;
  bool UnlockPageByte(int32_t PageNo, int32_t Offset) override;

 protected:
  int32_t InternalAddPage() override;
  void InternalRemovePage(int32_t PageNo) override;
  bool InternalReadPage(TSDBPage& Page) override;
  void InternalWritePage(TSDBPage& Page) override;
  int32_t InternalReadPageState(int32_t PageNo) override;
  bool IsSystemPage(int32_t PageNo) const override;
  void BeforeCommitWrites(TSDBSessionPageInfo& s) override;
  bool IsPageTableStateCurrent(int SessionID, TSDBPage& Page) override;
  void StampPageTableState(int SessionID, TSDBPage& Page) override;

 private:
  void ResetCache();
  // Set while CancelChanges gives the session's new pages back.
  bool FCancelling = false;
  // The file ranges a commit of the session writes: header, dirty pages,
  // freed pages and their bitmap pages, the bitmap pages of reserved pages
  // given back. Pages the session allocated go to Unreferenced: nothing
  // refers to their old bytes, only their header needs restoring.
  std::vector<std::pair<int64_t, int32_t>> CommitRanges(const TSDBSessionPageInfo& s,
                                                        std::vector<std::pair<int64_t, int32_t>>& Unreferenced);
  // After a failed commit: the file back from the journal, the cache
  // without the session's change.
  void UndoFailedCommit(TSDBSessionPageInfo& s, const std::vector<int32_t>& added);
  // The session's work table and its state, as the change detection
  // answers (GetWorkTableState), from the answer kept while the manager's
  // generation stays the same: every page fetch asks.
  bool WorkTableState(int SessionID, int32_t& Table, int64_t& State);
  std::unique_ptr<TSDBDiskPageManager> FDiskPageManager;
  TSDBDiskTablePagesCacheManager* FTablePagesCacheManager = nullptr;
  struct TWorkState {
    bool Known = false;
    int SessionID = kSDBInvalidSessionID;
    uint64_t Generation = 0;
    bool Trusted = false;
    int32_t Table = -1;
    int64_t State = -1;
  } FWorkState;
  bool FLastCommitUndone = false;
};

}  // namespace sdb
