// Free-space manager: which pages of the database file are in use, which
// page a new allocation gets, and when the file grows or shrinks.
//
// The bookkeeping lives in the file, in two kinds of bitmap pages placed at
// fixed positions (D = page data size, E = pages per extent):
//   PFS page: one bit per page for D*8 pages; it is the first page of its
//             group. Bit set = page in use.
//   EAM page: two bits per extent for D*4 extents (D*4*E pages): 3 = every
//             page of the extent used, 1 = some, 0 = the extent has no pages
//             yet. It is the first page of its group, or the next one when
//             that is already a PFS page.
// and in the header counters TotalPageCount and LastUsedPageNo. Several
// processes share the file, so every allocation and release runs under the
// database-header lock and reloads the counters first.
//
// Bitmap pages are read, changed and written back at once; they never enter
// the page cache and never take part in a session's transaction.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "storage/file/SDBPageManager.h"

namespace sdb {

// What the free-space manager needs from the database file. The disk page
// cache implements it over the disk page manager; tests may use memory.
class TSDBFreeSpaceStore {
 public:
  virtual ~TSDBFreeSpaceStore() = default;
  virtual uint16_t FSPageSize() const = 0;
  virtual uint16_t FSPageCountInExtent() const = 0;
  // Takes the database-header lock (bounded retries); raises "Database is
  // locked" with `errorCode` when it cannot be taken.
  virtual void FSLockHeader(int errorCode) = 0;
  virtual void FSUnlockHeader() = 0;
  // Re-reads the counters from the file header.
  virtual void FSReadCounters(int32_t& totalPageCount, int32_t& lastUsedPageNo) = 0;
  // Stores LastUsedPageNo (TotalPageCount is kept by Extend/Truncate).
  virtual void FSWriteLastUsedPageNo(int32_t lastUsedPageNo) = 0;
  // Reads or writes a whole bitmap page (PageSize bytes, never enciphered).
  virtual void FSReadPage(int32_t pageNo, uint8_t* buffer) = 0;
  virtual void FSWritePage(int32_t pageNo, uint8_t* buffer) = 0;
  // Grows or shrinks the file by `pageCount` pages and updates
  // TotalPageCount in the header.
  virtual void FSExtendFile(int32_t pageCount) = 0;
  virtual void FSTruncateFile(int32_t pageCount) = 0;
  // Whether this store is the only writer of the file (a single-user or
  // exclusive open that may write): then the bitmaps and counters it has
  // read or written stay current between calls and need no re-reading.
  virtual bool FSSoleWriter() const { return false; }
};

// The free-space store over a disk page manager: the header lock with its
// bounded retries, the header counters, direct bitmap page I/O, and file
// growth and truncation.
class TSDBDiskFreeSpaceStore : public TSDBFreeSpaceStore {
 public:
  explicit TSDBDiskFreeSpaceStore(TSDBDiskPageManager& pageManager) : LPageManager(pageManager) {}
  uint16_t FSPageSize() const override;
  uint16_t FSPageCountInExtent() const override;
  void FSLockHeader(int errorCode) override;
  void FSUnlockHeader() override;
  void FSReadCounters(int32_t& totalPageCount, int32_t& lastUsedPageNo) override;
  void FSWriteLastUsedPageNo(int32_t lastUsedPageNo) override;
  void FSReadPage(int32_t pageNo, uint8_t* buffer) override;
  void FSWritePage(int32_t pageNo, uint8_t* buffer) override;
  void FSExtendFile(int32_t pageCount) override;
  void FSTruncateFile(int32_t pageCount) override;
  bool FSSoleWriter() const override;

 private:
  TSDBDiskPageManager& LPageManager;
};

class TSDBDatabaseFreeSpaceManager : public TSDBFreeSpaceManagerBase {
 public:
  explicit TSDBDatabaseFreeSpaceManager(TSDBFreeSpaceStore& store);
  // Over a disk page manager (owns its store adapter).
  explicit TSDBDatabaseFreeSpaceManager(TSDBDiskPageManager& pageManager);
  // The factory a disk page manager uses to make its free-space manager.
  static TSDBFreeSpaceManagerFactory Factory();

  // Allocates a page and answers its number (the argument is not used).
  int32_t GetPage(int32_t DesiredStartPageNo = -1) override;
  // Releases a page; the file shrinks in whole steps when enough free pages
  // sit at its end.
  void FreePage(int32_t PageNo) override;
  // Allocates or releases several pages under one header lock, writing
  // each bitmap page and the header once.
  void GetPages(int32_t Count, std::vector<int32_t>& Pages) override;
  void FreePages(const std::vector<int32_t>& Pages) override;
  // Whether the page's PFS bit is set.
  bool GetPageUsageFromPFS(int32_t PageNo);
  // Raises "Cannot delete PFS or EAM page. PageNo=%d" (30434) for a bitmap page.
  void CheckPageNoForSystemPages(int32_t PageNo) const;
  bool IsSystemPage(int32_t PageNo) const;
  // Cuts every page after LastUsedPageNo.
  void TruncateDatabase();

  // Growth step: 6 pages for an empty file, otherwise a tenth of the file
  // but at least one extent. The shrink step is the same value.
  int32_t AddPagesStep() const;
  int32_t DelPagesStep() const { return AddPagesStep(); }

  int32_t TotalPageCount() const { return FTotalPageCount; }
  int32_t LastUsedPageNo() const { return FLastUsedPageNo; }
  // Geometry.
  int32_t PFSPagesAddressed() const { return FPFSPage_PagesAddressed; }
  int32_t EAMPagesAddressed() const { return FEAMPage_PagesAddressed; }
  int32_t PFSPageOf(int32_t PageNo) const;
  int32_t EAMPageOf(int32_t PageNo) const;
  // The EAM entry (0, 1 or 3) of an extent, read from the file.
  int GetExtentUsageFromEAM(int32_t Extent);
  // Re-reads the counters under the header lock.
  void Reload();
  // Drops the bitmap copies a sole writer keeps (the file changed under them).
  void ForgetBitmaps() { FLockedBitmaps.clear(); }

  // When set, a header whose counters disagree with the bitmaps is not
  // reported (used while repairing).
  bool FSuppressDBHeaderErrors = false;

 private:
  void ReadBitmapPage(int32_t pageNo, uint16_t expectedType, int errorCode, std::vector<uint8_t>& buf);
  void WriteBitmapPage(int32_t pageNo, std::vector<uint8_t>& buf);
  void CheckAddressable(int32_t pageNo, int errorCode) const;
  bool SearchExistingSpace(int32_t& pageNo);
  bool SearchEAMGroup(int32_t group, int32_t& pageNo);
  int32_t GrowFile();
  // One allocation under the header lock, counters read.
  int32_t AllocateLocked();
  // Writes the bitmap copies changed while writes were held back.
  void FlushBitmaps();
  // Shrinks the file when enough free pages sit at its end.
  void TruncateTrailing();
  void SetPFSBit(int32_t pageNo, bool used);
  void RecalcExtent(int32_t extent);
  // The highest used non-system page at or below `From`, -1 when none.
  int32_t FindLastUsedPage(int32_t From);
  void ReadCounters();
  void InitGeometry();
  // One allocation or release reads each bitmap page once: while the
  // header lock is held nobody else changes them, so the copy read first
  // (and every write through it) stays current until the lock goes. A
  // sole writer keeps the copies (and its counters) between calls.
  // Several changes in one lock hold their bitmap writes back until the
  // end (FlushBitmaps): a copy is then Dirty until written.
  struct TBitmapCopy {
    int32_t PageNo;
    std::vector<uint8_t> Buffer;
    bool Dirty = false;
  };
  std::vector<TBitmapCopy> FLockedBitmaps;
  bool FKeepBitmaps = false;
  bool FDeferBitmapWrites = false;
  friend class TSDBBitmapScope;

  std::unique_ptr<TSDBFreeSpaceStore> FOwnedStore;
  TSDBFreeSpaceStore& FStore;
  int32_t FPageDataSize = 0;
  int32_t FPageCountInExtent = 1;
  int32_t FPFSPage_PagesAddressed = 0;    // D * 8
  int32_t FEAMPage_ExtentsAddressed = 0;  // D * 4
  int32_t FEAMPage_PagesAddressed = 0;    // D * 4 * E
  int32_t FLastUsedPageNo = -1;
  int32_t FTotalPageCount = 0;
};

}  // namespace sdb
