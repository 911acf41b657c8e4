// TSDBDiskPageManager: a database file seen as its header areas and its
// numbered pages.
//
// It creates and opens database files (header, crypto header, lock-byte
// block, last object identifier; see SDBPageFormat.h for the layout), moves
// whole pages between memory and the file (enciphering the data area of
// ordinary pages when the database has a password), moves byte regions of
// pages directly, hands out object identifiers, and offers the byte-range
// locks of the multi-user scheme.
//
// The page cache (TSDBPageManager: shared and per-session page lists,
// commit) sits on top of it and calls InternalReadPage / InternalWritePage /
// InternalAddPage / InternalRemovePage; the free-space manager (PFS and EAM
// pages) plugs in through TSDBFreeSpaceManagerBase and reads and writes its
// system pages here directly. Neither this class nor the file has a lock of
// its own: within a process, all work on one open database runs under the
// database's critical section.
//
// Page buffers are PageSize bytes: the 40-byte page header, then the data.
// Every failure raises ESDBException with its native code.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/file/SDBCrypto.h"
#include "storage/file/SDBDatabaseFile.h"
#include "storage/file/SDBPageFormat.h"
#include "storage/file/SDBJournal.h"

namespace sdb {

// Default waits of the header and object-identifier locks (about 90 s) and
// of the tables lock; lock operations themselves try once.
inline constexpr int kSDBLockTryCount = 4500;
inline constexpr int kSDBTablesLockTryCount = 200;
inline constexpr uint32_t kSDBLockPauseMs = 20;
// Largest group of pages reserved at once for one process's allocations.
inline constexpr int32_t kSDBMaxReservedPages = 512;

class TSDBDiskPageManager;

// The free-space manager as the page manager sees it. The page manager owns
// it: it is made (through the factory) when a file is created or opened and
// destroyed when the file is closed.
class TSDBFreeSpaceManagerBase {
 public:
  virtual ~TSDBFreeSpaceManagerBase() = default;
  // A free page number, now marked as used (the argument is a hint).
  virtual int32_t GetPage(int32_t DesiredStartPageNo) = 0;
  // Marks a page free again.
  virtual void FreePage(int32_t PageNo) = 0;
  // Several pages at once, as one change of the bookkeeping (an
  // implementation may take its lock and write its pages once for all).
  virtual void GetPages(int32_t Count, std::vector<int32_t>& Pages) {
    for (int32_t i = 0; i < Count; ++i) Pages.push_back(GetPage(-1));
  }
  virtual void FreePages(const std::vector<int32_t>& Pages) {
    for (int32_t p : Pages) FreePage(p);
  }
};
using TSDBFreeSpaceManagerFactory =
    std::function<std::unique_ptr<TSDBFreeSpaceManagerBase>(TSDBDiskPageManager&)>;

class TSDBDiskPageManager {
 public:
  TSDBDiskPageManager();
  virtual ~TSDBDiskPageManager();
  TSDBDiskPageManager(const TSDBDiskPageManager&) = delete;
  TSDBDiskPageManager& operator=(const TSDBDiskPageManager&) = delete;

  // ---- Files ---------------------------------------------------------------

  // Creates a new database file (the page-manager level: header, crypto
  // header with the password's control block when the password is not
  // empty, lock-byte block, last object identifier 0, no pages) and keeps it
  // open read/write and exclusive. Then makes the free-space manager.
  void CreateAndOpenDatabase(const std::string& DatabaseFileName, const TSDBPassword& Password,
                             uint16_t PageSize = kSDBDefaultPageSize,
                             uint16_t ExtentPageCount = kSDBDefaultPageCountInExtent);
  // Opens an existing file. ReadOnly: in = the caller wants read-only, out =
  // how it was opened (a file that cannot be written opens read-only).
  // RepairNeeded: a commit was interrupted or the format is old. Exclusive
  // opens the file unshared and switches aMultiUser off. The password's
  // algorithm is ignored: the file's crypto header names it.
  void OpenDatabase(const std::string& DatabaseFileName, const TSDBPassword& Password, bool& ReadOnly,
                    bool& RepairNeeded, bool Exclusive, bool& aMultiUser);
  // Closes the file and frees the free-space manager; nothing when closed.
  void CloseDatabase();
  bool IsOpened() const { return FDatabaseFile.IsOpened(); }

  void SetFreeSpaceManagerFactory(TSDBFreeSpaceManagerFactory Factory) { FFreeSpaceManagerFactory = std::move(Factory); }
  TSDBFreeSpaceManagerBase* DatabaseFreeSpaceManager() const { return FDatabaseFreeSpaceManager.get(); }

  // ---- Header areas --------------------------------------------------------

  // Replace the in-memory header with the file's 76 bytes / write it back.
  void ReadDBHeader();
  void WriteDBHeader();
  // The in-memory header. Code that changes header fields takes the header
  // lock and calls ReadDBHeader first, so counters of other processes are kept.
  TSDBDBHeader& DBHeader() { return FDBHeader; }
  const TSDBCryptoHeader& CryptoHeader() const { return FCryptoHeader; }
  const TSDBLockedBytes& LockedBytes() const { return FLockedBytes; }
  // TotalPageCount, re-read from the file under the header lock.
  int32_t GetPageCount();
  // Grows the file by PageCount pages and TotalPageCount with it (the
  // caller writes the header). Called under the header lock.
  void ExtendFile(int32_t PageCount);
  // Cuts PageCount pages off the end, lowers TotalPageCount and writes the
  // header. Called under the header lock.
  void TruncateFile(int32_t PageCount);
  // Cuts every page after LastUsedPageNo.
  void TruncateDatabase();

  // Next object identifier (tables and other metadata objects), under the
  // object-identifier lock. Read-only files answer the stored value + 1 + a
  // random number in 0 .. 9999 and store nothing.
  int32_t GetNextObjectID();
  // Stores 0 as the last object identifier.
  void InitObjectID();

  // ---- Pages ---------------------------------------------------------------

  // A new page number from the free-space manager. Outside a commit, pages
  // are taken from the free-space bookkeeping in groups (one header lock
  // and one journaled change per group, the group doubling up to
  // kSDBMaxReservedPages while a transaction keeps asking) and handed out
  // one by one; the ones not handed out go back with the next commit or
  // rollback (ReturnReservedPages). A reserved page is never written: a
  // killed process leaves it allocated and unwritten, which the check
  // reports as reclaimable, as any page allocated by an unfinished
  // transaction.
  int32_t InternalAddPage();
  // Reserved pages not handed out yet.
  int32_t ReservedPageCount() const { return static_cast<int32_t>(FReservedPages.size()); }
  // A page InternalAddPage handed out whose transaction rolled back before
  // anything was written to it (or whose failed commit was undone from the
  // journal, which gives it back its header) joins the reserved pages
  // again: its old bytes are what they were while it was free.
  void TakeBackUnwrittenPage(int32_t PageNo);
  // Frees the reserved pages not handed out. Inside a running commit its
  // journal covers the change (list ReservedPageRanges among the commit's
  // ranges so that no extra journal flush is needed); otherwise it is a
  // journaled change of its own.
  void ReturnReservedPages();
  // The byte ranges ReturnReservedPages writes: the bitmap pages of the
  // reserved pages (the header is always among a commit's ranges).
  void AddReservedPageRanges(std::vector<std::pair<int64_t, int32_t>>& Ranges) const;
  // Marks the page's on-disk State MaxInt (other processes' cached copies go
  // stale) and gives it back to the free-space manager.
  void InternalRemovePage(int32_t PageNo);
  // Reads page PageNo into PageBuffer (PageSize bytes). False when the page
  // cannot be read (the buffer's State is then MaxInt). When the database is
  // encrypted, the page is not a system page and EncryptionEnabled is set,
  // the data area is deciphered with the algorithm recorded in the page and
  // its CRC checked: "Decrypt page error. Check CRC failed. PageNo: %d"
  // (unless IgnoreCRCErrors). Pages of direct internal files are plaintext:
  // read them with EncryptionEnabled false (or by region).
  bool InternalReadPage(int32_t PageNo, uint8_t* PageBuffer, bool EncryptionEnabled = true);
  // Advances the buffer's State (wrapping to 0 past 0x7FFFFFFC), enciphers
  // the data area when applicable (algorithm and CRC go into the header),
  // writes PageSize bytes, and leaves the buffer in plaintext again.
  void InternalWritePage(int32_t PageNo, uint8_t* PageBuffer, bool EncryptionEnabled = true);
  // The on-disk State of a page; MaxInt when it cannot be read or when not
  // in multi-user mode (meaning: keep the cached copy).
  int32_t InternalReadPageState(int32_t PageNo);
  void InternalWritePageState(int32_t PageNo, int32_t PageState);
  // Byte regions inside one page (header included), moved directly and
  // never enciphered. Offset + Count must not exceed PageSize.
  void ReadPageRegion(void* Buffer, int32_t PageNo, int32_t Offset, int32_t Count);
  void WritePageRegion(const void* Buffer, int32_t PageNo, int32_t Offset, int32_t Count);

  // PFS and EAM pages (never enciphered, never handed out by the cache).
  bool IsSystemPage(int32_t PageNo) const;
  // Raises "Cannot delete PFS or EAM page. PageNo=%d" (30434) for a system page.
  void CheckPageNoForSystemPages(int32_t PageNo) const;
  // File offset of a page.
  int64_t PageOffset(int32_t PageNo) const { return FOffsetToFirstPage + static_cast<int64_t>(PageNo) * FPageSize; }

  // ---- Locks (one try each; true = taken) ------------------------------------

  bool LockFreeSpaceManager();
  bool UnlockFreeSpaceManager();
  bool LockTables();
  bool UnlockTables();
  // Counted: only the first lock and the last unlock touch the file.
  bool LockDBHeader();
  bool UnlockDBHeader();
  bool LockLastObjectID();
  bool UnlockLastObjectID();
  // Offsets inside the page, header included.
  bool LockPageByte(int32_t PageNo, int32_t Offset);
  bool UnlockPageByte(int32_t PageNo, int32_t Offset);
  bool IsPageByteLocked(int32_t PageNo, int32_t Offset);
  bool IsPageRegionLocked(int32_t PageNo, int32_t Offset, int32_t Count);
  // LockDBHeader retried LockTryCount times, LockPauseMs apart.
  bool WaitLockDBHeader();
  int LockDBHeaderCount() const { return FLockDBHeaderCount; }

  // ---- State -----------------------------------------------------------------

  uint16_t PageSize() const { return FPageSize; }
  uint16_t PageHeaderSize() const { return kSDBPageHeaderSize; }
  uint16_t PageDataSize() const { return FPageDataSize; }
  uint16_t PageCountInExtent() const { return FDBHeader.PageCountInExtent; }
  bool Encrypted() const { return FDBHeader.Encrypted; }
  bool ReadOnly() const { return FReadOnly; }
  bool Exclusive() const { return FExclusive; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool Value) { FMultiUser = Value; }
  // Whether this manager is the only writer of the file: a single-user or
  // exclusive open that may write. What it read or wrote then stays as it
  // left it.
  bool SoleWriter() const { return !FMultiUser && !FReadOnly; }
  // The pages of direct internal files opened before. A chain never
  // changes while its file lives (its pages are all written when it is
  // made), and any page freed here forgets them all (a freed page may
  // start another chain later). A sole writer keeps every chain. With
  // other processes on the file, a page can be freed and reused behind
  // our back, so only chains of an owner that names its file for good are
  // kept, and found again only for that same owner: a table's locks file
  // under the table's object identifier, which is never given twice. A
  // table dropped by another process and a new one made over its pages
  // then has another identifier, and its chain is read afresh.
  struct TDirectChain {
    uint16_t PageType = 0;
    std::vector<int32_t> Pages;
    int32_t Size = 0;
    int64_t Owner = -1;
  };
  // A chain kept for that start page, page type and owner (-1: none; null:
  // read it).
  const TDirectChain* FindDirectChain(int32_t StartPageNo, uint16_t PageType, int64_t Owner = -1) const;
  void KeepDirectChain(int32_t StartPageNo, uint16_t PageType, const std::vector<int32_t>& Pages, int32_t Size,
                       int64_t Owner = -1);
  bool IgnoreCRCErrors() const { return FIgnoreCRCErrors; }
  void SetIgnoreCRCErrors(bool Value) { FIgnoreCRCErrors = Value; }
  const TSDBPassword& Password() const { return FPassword; }
  const std::string& FileName() const { return FDatabaseFile.FileName(); }
  TSDBDatabaseFile& DatabaseFile() { return FDatabaseFile; }

  int64_t OffsetToDBHeader() const { return FOffsetToDBHeader; }
  int64_t OffsetToCryptoHeader() const { return FOffsetToCryptoHeader; }
  int64_t OffsetToLockedBytes() const { return FOffsetToLockedBytes; }
  int64_t OffsetToLastObjectID() const { return FOffsetToLastObjectID; }
  int64_t OffsetToFirstPage() const { return FOffsetToFirstPage; }

  // The rollback journal of this file's commits.
  TSDBJournal& Journal() { return *FJournal; }
  // How much commits flush.
  TSDBDurability Durability = SDBDefaultDurability();
  // After a commit was undone from the journal: forget what was read from
  // the file before (header, direct chains).
  void AfterJournalRollback();
  // Called before a session trusts pages it is about to read (each table
  // lock): a journal left by a committer of another process that died
  // half-way is applied first, so nobody reads half a commit. Committers
  // keep the header lock until their journal is empty, so taking it
  // (waiting for a live committer) and finding the journal still full
  // proves the commit interrupted. Costs one stat of the journal when
  // there is none.
  void RecoverInterruptedCommit();

  // Waits of the header and object-identifier locks (tests shorten them).
  int LockTryCount = kSDBLockTryCount;
  uint32_t LockPauseMs = kSDBLockPauseMs;

 protected:
  // Makes the free-space manager through the factory (nothing without one).
  virtual void CreateFreeSpaceManager();

 private:
  void CheckOpened(int ErrorCode) const;
  void CheckPageNo(int32_t PageNo) const;
  void ResetState();
  void ComputeOffsets(int64_t HeaderOffset, int16_t LockedByteSize);
  void WriteCryptoHeader();
  void WriteLockedBytes();
  // Applies a journal left by a commit that did not finish; called with the
  // header lock just taken.
  void RecoverHotJournal();
  // Runs an allocation or release of PageNo (-1: an allocation) as its own
  // journaled change when no commit is running: the bitmap pages and the
  // header counters change together or not at all.
  void WithFreeSpaceJournal(int32_t PageNo, const std::function<void()>& Change);
  // Runs one change of the header and bitmaps under a journal of Ranges
  // (the header lock held); on failure restores them and forgets what is
  // kept in memory of them.
  void RunFreeSpaceChange(const std::vector<std::pair<int64_t, int32_t>>& Ranges, const std::function<void()>& Change);
  // The bitmap pages (PFS and EAM) that describe Pages.
  void AddBitmapRanges(const std::vector<int32_t>& Pages, std::vector<std::pair<int64_t, int32_t>>& Ranges) const;

  TSDBDatabaseFile FDatabaseFile;
  std::unique_ptr<TSDBJournal> FJournal;
  std::unique_ptr<TSDBFreeSpaceManagerBase> FDatabaseFreeSpaceManager;
  TSDBFreeSpaceManagerFactory FFreeSpaceManagerFactory;
  TSDBDBHeader FDBHeader;
  TSDBCryptoHeader FCryptoHeader;
  TSDBLockedBytes FLockedBytes;
  TSDBPassword FPassword;
  // Keyed once for the pages' reads and writes.
  TSDBPageCipher FPageCipher;
  std::map<int32_t, TDirectChain> FDirectChains;
  // Reserved pages, highest first (the lowest is handed out next), and the
  // size of the next group.
  std::vector<int32_t> FReservedPages;
  int32_t FReserveGroup = 1;
  int FLockDBHeaderCount = 0;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FMultiUser = false;
  bool FIgnoreCRCErrors = false;
  uint16_t FPageSize = kSDBDefaultPageSize;
  uint16_t FPageDataSize = kSDBDefaultPageSize - kSDBPageHeaderSize;
  int64_t FOffsetToDBHeader = 0;
  int64_t FOffsetToCryptoHeader = 0;
  int64_t FOffsetToLockedBytes = 0;
  int64_t FOffsetToLastObjectID = 0;
  int64_t FOffsetToFirstPage = 0;
};

}  // namespace sdb
