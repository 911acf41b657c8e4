#include "storage/file/SDBFreeSpace.h"

#include <algorithm>
#include <exception>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/file/SDBPageFormat.h"

namespace sdb {

namespace {

std::string TypeName(uint16_t type) {
  try {
    return SDBPageTypeName(type);
  } catch (const ESDBException&) {
    return "Unknown Page Type: (" + std::to_string(type) + ")";
  }
}

class THeaderLock {
 public:
  THeaderLock(TSDBFreeSpaceStore& store, int errorCode) : FStore(store) { FStore.FSLockHeader(errorCode); }
  ~THeaderLock() { FStore.FSUnlockHeader(); }
  THeaderLock(const THeaderLock&) = delete;
  THeaderLock& operator=(const THeaderLock&) = delete;

 private:
  TSDBFreeSpaceStore& FStore;
};

}  // namespace

// Keeps the bitmap pages read under one header lock for the rest of it.
class TSDBBitmapScope {
 public:
  explicit TSDBBitmapScope(TSDBDatabaseFreeSpaceManager& m, bool deferWrites = false)
      : FManager(m), FSole(m.FStore.FSSoleWriter()), FExceptions(std::uncaught_exceptions()) {
    if (!FSole) FManager.FLockedBitmaps.clear();
    FManager.FKeepBitmaps = true;
    FManager.FDeferBitmapWrites = deferWrites;
  }
  ~TSDBBitmapScope() {
    FManager.FKeepBitmaps = false;
    FManager.FDeferBitmapWrites = false;
    // After a failure the file may differ from the copies: read it again.
    if (!FSole || std::uncaught_exceptions() > FExceptions) FManager.FLockedBitmaps.clear();
  }
  TSDBBitmapScope(const TSDBBitmapScope&) = delete;
  TSDBBitmapScope& operator=(const TSDBBitmapScope&) = delete;

 private:
  TSDBDatabaseFreeSpaceManager& FManager;
  const bool FSole;
  const int FExceptions;
};

uint16_t TSDBDiskFreeSpaceStore::FSPageSize() const { return LPageManager.PageSize(); }
uint16_t TSDBDiskFreeSpaceStore::FSPageCountInExtent() const { return LPageManager.PageCountInExtent(); }

void TSDBDiskFreeSpaceStore::FSLockHeader(int errorCode) {
  if (!LPageManager.WaitLockDBHeader()) throw ESDBException(errorCode, "Database is locked");
}

void TSDBDiskFreeSpaceStore::FSUnlockHeader() { LPageManager.UnlockDBHeader(); }

bool TSDBDiskFreeSpaceStore::FSSoleWriter() const { return !LPageManager.MultiUser() && !LPageManager.ReadOnly(); }

void TSDBDiskFreeSpaceStore::FSReadCounters(int32_t& totalPageCount, int32_t& lastUsedPageNo) {
  // A sole writer's header in memory is the one on disk.
  if (!FSSoleWriter()) LPageManager.ReadDBHeader();
  totalPageCount = LPageManager.DBHeader().TotalPageCount;
  lastUsedPageNo = LPageManager.DBHeader().LastUsedPageNo;
}

void TSDBDiskFreeSpaceStore::FSWriteLastUsedPageNo(int32_t lastUsedPageNo) {
  LPageManager.DBHeader().LastUsedPageNo = lastUsedPageNo;
  LPageManager.WriteDBHeader();
}

void TSDBDiskFreeSpaceStore::FSReadPage(int32_t pageNo, uint8_t* buffer) {
  if (!LPageManager.InternalReadPage(pageNo, buffer, false))
    throw ESDBException(kSDBErrReadDatabasePage, "Error reading database file page. Page No: %d, type %d",
                        {int64_t{pageNo}, int64_t{SDBGetPageType(buffer)}});
}

void TSDBDiskFreeSpaceStore::FSWritePage(int32_t pageNo, uint8_t* buffer) {
  LPageManager.InternalWritePage(pageNo, buffer, false);
}

void TSDBDiskFreeSpaceStore::FSExtendFile(int32_t pageCount) {
  LPageManager.ExtendFile(pageCount);
  LPageManager.WriteDBHeader();
}

void TSDBDiskFreeSpaceStore::FSTruncateFile(int32_t pageCount) { LPageManager.TruncateFile(pageCount); }

TSDBDatabaseFreeSpaceManager::TSDBDatabaseFreeSpaceManager(TSDBDiskPageManager& pageManager)
    : FOwnedStore(std::make_unique<TSDBDiskFreeSpaceStore>(pageManager)), FStore(*FOwnedStore) {
  InitGeometry();
}

TSDBDatabaseFreeSpaceManager::TSDBDatabaseFreeSpaceManager(TSDBFreeSpaceStore& store) : FStore(store) {
  InitGeometry();
}

void TSDBDatabaseFreeSpaceManager::InitGeometry() {
  FPageDataSize = static_cast<int32_t>(FStore.FSPageSize()) - kSDBPageHeaderSize;
  FPageCountInExtent = std::max<int32_t>(1, FStore.FSPageCountInExtent());
  if (FPageDataSize <= 0) throw ESDBException(kSDBErrInvalidDatabaseFormat, "Invalid database format");
  FPFSPage_PagesAddressed = FPageDataSize * 8;
  FEAMPage_ExtentsAddressed = FPageDataSize * 4;
  FEAMPage_PagesAddressed = FPageDataSize * 4 * FPageCountInExtent;
}

TSDBFreeSpaceManagerFactory TSDBDatabaseFreeSpaceManager::Factory() {
  return [](TSDBDiskPageManager& pm) -> std::unique_ptr<TSDBFreeSpaceManagerBase> {
    return std::make_unique<TSDBDatabaseFreeSpaceManager>(pm);
  };
}

int32_t TSDBDatabaseFreeSpaceManager::AddPagesStep() const {
  if (FTotalPageCount == 0) return 6;
  return std::max(FTotalPageCount / 10, FPageCountInExtent);
}

bool TSDBDatabaseFreeSpaceManager::IsSystemPage(int32_t n) const {
  if (n < 0) return false;
  if (n % FPFSPage_PagesAddressed == 0 || n % FEAMPage_PagesAddressed == 0) return true;
  return n >= 1 && (n - 1) % FPFSPage_PagesAddressed == 0 && (n - 1) % FEAMPage_PagesAddressed == 0;
}

void TSDBDatabaseFreeSpaceManager::CheckPageNoForSystemPages(int32_t PageNo) const {
  if (IsSystemPage(PageNo)) throw ESDBException(kSDBErrDeleteSystemPage, "Cannot delete PFS or EAM page. PageNo=%d", {int64_t{PageNo}});
}

int32_t TSDBDatabaseFreeSpaceManager::PFSPageOf(int32_t n) const {
  return n / FPFSPage_PagesAddressed * FPFSPage_PagesAddressed;
}

int32_t TSDBDatabaseFreeSpaceManager::EAMPageOf(int32_t n) const {
  int32_t p = n / FEAMPage_PagesAddressed * FEAMPage_PagesAddressed;
  return p % FPFSPage_PagesAddressed == 0 ? p + 1 : p;
}

void TSDBDatabaseFreeSpaceManager::ReadCounters() { FStore.FSReadCounters(FTotalPageCount, FLastUsedPageNo); }

void TSDBDatabaseFreeSpaceManager::Reload() {
  THeaderLock lock(FStore, kSDBErrDatabaseHeaderLocked);
  if (!FStore.FSSoleWriter()) FLockedBitmaps.clear();
  ReadCounters();
}

void TSDBDatabaseFreeSpaceManager::CheckAddressable(int32_t pageNo, int errorCode) const {
  if (pageNo < 0 || pageNo >= FTotalPageCount)
    throw ESDBException(errorCode, "Page: %d cannot be addressed. TotalPageCount=%d",
                        {int64_t{pageNo}, int64_t{FTotalPageCount}});
}

void TSDBDatabaseFreeSpaceManager::ReadBitmapPage(int32_t pageNo, uint16_t expectedType, int errorCode,
                                                  std::vector<uint8_t>& buf) {
  CheckAddressable(pageNo, kSDBErrPageNotAddressable);
  TBitmapCopy* copy = nullptr;
  for (auto& c : FLockedBitmaps)
    if (c.PageNo == pageNo) copy = &c;
  if (copy) {
    buf = copy->Buffer;
  } else {
    buf.assign(static_cast<size_t>(FStore.FSPageSize()), 0);
    FStore.FSReadPage(pageNo, buf.data());
    if (FKeepBitmaps) FLockedBitmaps.push_back({pageNo, buf});
  }
  uint16_t type = SDBGetPageType(buf.data());
  if (type != expectedType)
    throw ESDBException(errorCode, "Wrong page type. Found '%s', but expecting: '%s'",
                        {TypeName(type), TypeName(expectedType)});
}

void TSDBDatabaseFreeSpaceManager::WriteBitmapPage(int32_t pageNo, std::vector<uint8_t>& buf) {
  if (FDeferBitmapWrites)
    for (auto& c : FLockedBitmaps)
      if (c.PageNo == pageNo) {
        c.Buffer = buf;
        c.Dirty = true;
        return;
      }
  FStore.FSWritePage(pageNo, buf.data());
  for (auto& c : FLockedBitmaps)
    if (c.PageNo == pageNo) c.Buffer = buf;
}

void TSDBDatabaseFreeSpaceManager::FlushBitmaps() {
  for (auto& c : FLockedBitmaps)
    if (c.Dirty) {
      FStore.FSWritePage(c.PageNo, c.Buffer.data());
      c.Dirty = false;
    }
}

bool TSDBDatabaseFreeSpaceManager::GetPageUsageFromPFS(int32_t PageNo) {
  Reload();
  CheckAddressable(PageNo, kSDBErrPageNotAddressable);
  std::vector<uint8_t> pfs;
  ReadBitmapPage(PFSPageOf(PageNo), ptPFS, kSDBErrNotAPFSPage, pfs);
  int32_t r = PageNo % FPFSPage_PagesAddressed;
  return (pfs[kSDBPageHeaderSize + r / 8] >> (r % 8)) & 1;
}

int TSDBDatabaseFreeSpaceManager::GetExtentUsageFromEAM(int32_t extent) {
  Reload();
  std::vector<uint8_t> eam;
  ReadBitmapPage(EAMPageOf(extent * FPageCountInExtent), ptEAM, kSDBErrNotAnEAMPage, eam);
  int32_t x = extent % FEAMPage_ExtentsAddressed;
  return (eam[kSDBPageHeaderSize + x / 4] >> (2 * (x % 4))) & 3;
}

void TSDBDatabaseFreeSpaceManager::SetPFSBit(int32_t pageNo, bool used) {
  std::vector<uint8_t> pfs;
  int32_t pfsPage = PFSPageOf(pageNo);
  ReadBitmapPage(pfsPage, ptPFS, kSDBErrNotAPFSPage, pfs);
  int32_t r = pageNo % FPFSPage_PagesAddressed;
  uint8_t& byte = pfs[kSDBPageHeaderSize + r / 8];
  uint8_t mask = static_cast<uint8_t>(1u << (r % 8));
  if (used && (byte & mask)) throw ESDBException(kSDBErrPageAlreadyUsed, "Page: %d already used", {int64_t{pageNo}});
  if (!used && !(byte & mask)) throw ESDBException(kSDBErrPageAlreadyFree, "Page: %d already free", {int64_t{pageNo}});
  byte = static_cast<uint8_t>(used ? byte | mask : byte & ~mask);
  WriteBitmapPage(pfsPage, pfs);
}

void TSDBDatabaseFreeSpaceManager::RecalcExtent(int32_t extent) {
  int32_t first = extent * FPageCountInExtent;
  int32_t last = std::min(first + FPageCountInExtent, FTotalPageCount) - 1;
  int used = 0, free = 0;
  std::vector<uint8_t> pfs;
  int32_t loadedPFS = -1;
  for (int32_t n = first; n <= last && !(used && free); ++n) {
    int32_t pfsPage = PFSPageOf(n);
    if (pfsPage != loadedPFS) {
      ReadBitmapPage(pfsPage, ptPFS, kSDBErrNotAPFSPage, pfs);
      loadedPFS = pfsPage;
    }
    int32_t r = n % FPFSPage_PagesAddressed;
    if ((pfs[kSDBPageHeaderSize + r / 8] >> (r % 8)) & 1)
      ++used;
    else
      ++free;
  }
  uint8_t value = (used && !free) ? 3 : ((used || free) ? 1 : 0);
  std::vector<uint8_t> eam;
  int32_t eamPage = EAMPageOf(first);
  ReadBitmapPage(eamPage, ptEAM, kSDBErrNotAnEAMPage, eam);
  int32_t x = extent % FEAMPage_ExtentsAddressed;
  uint8_t& byte = eam[kSDBPageHeaderSize + x / 4];
  int shift = 2 * (x % 4);
  auto updated = static_cast<uint8_t>((byte & ~(3u << shift)) | (value << shift));
  if (updated != byte) {
    byte = updated;
    WriteBitmapPage(eamPage, eam);
  }
}

bool TSDBDatabaseFreeSpaceManager::SearchEAMGroup(int32_t group, int32_t& pageNo) {
  int32_t eamPage = EAMPageOf(group * FEAMPage_PagesAddressed);
  if (eamPage >= FTotalPageCount) return false;
  std::vector<uint8_t> eam;
  ReadBitmapPage(eamPage, ptEAM, kSDBErrNotAnEAMPage, eam);
  int32_t extent = -1;
  for (int32_t b = 0; b < FPageDataSize && extent < 0; ++b) {
    uint8_t byte = eam[kSDBPageHeaderSize + b];
    if (byte == 0xFF) continue;
    for (int i = 0; i < 4; ++i)
      if (!((byte >> (2 * i + 1)) & 1)) {
        extent = group * FEAMPage_ExtentsAddressed + b * 4 + i;
        break;
      }
    break;  // only the first byte that is not full is looked at
  }
  if (extent < 0) return false;
  int64_t firstPFS = int64_t{extent} * FPageCountInExtent / FPFSPage_PagesAddressed;
  int64_t lastPFS = (int64_t{extent + 1} * FPageCountInExtent - 1) / FPFSPage_PagesAddressed;
  // PFS pages at or beyond the end of the file do not exist yet.
  while (lastPFS >= firstPFS && lastPFS * FPFSPage_PagesAddressed >= FTotalPageCount) --lastPFS;
  std::vector<uint8_t> pfs;
  for (int64_t idx = firstPFS; idx <= lastPFS; ++idx) {
    auto pfsPage = static_cast<int32_t>(idx * FPFSPage_PagesAddressed);
    ReadBitmapPage(pfsPage, ptPFS, kSDBErrNotAPFSPage, pfs);
    for (int32_t b = 0; b < FPageDataSize; ++b) {
      uint8_t byte = pfs[kSDBPageHeaderSize + b];
      if (byte == 0xFF) continue;
      int bit = 0;
      while ((byte >> bit) & 1) ++bit;
      int64_t candidate = int64_t{pfsPage} + int64_t{b} * 8 + bit;
      if (candidate < FTotalPageCount && !IsSystemPage(static_cast<int32_t>(candidate))) {
        pageNo = static_cast<int32_t>(candidate);
        return true;
      }
      return false;
    }
  }
  return false;
}

bool TSDBDatabaseFreeSpaceManager::SearchExistingSpace(int32_t& pageNo) {
  if (FLastUsedPageNo == -1) return false;
  int32_t lastGroup = std::max(FTotalPageCount - 1, 0) / FEAMPage_PagesAddressed;
  if (SearchEAMGroup(lastGroup, pageNo)) return true;
  for (int32_t g = 0; g < lastGroup; ++g)
    if (SearchEAMGroup(g, pageNo)) return true;
  return false;
}

int32_t TSDBDatabaseFreeSpaceManager::GrowFile() {
  const int32_t oldTotal = FTotalPageCount;
  int32_t lastPFSGroup = -1, lastEAMGroup = -1;
  if (FLastUsedPageNo != -1 && oldTotal > 0) {
    lastPFSGroup = (oldTotal - 1) / FPFSPage_PagesAddressed;
    lastEAMGroup = (oldTotal - 1) / FEAMPage_PagesAddressed;
  }
  // A last-used page beyond the file can only come from a damaged header:
  // the file grows from its real end, never out to that page.
  int32_t newPage = std::min(FLastUsedPageNo, oldTotal - 1) + 1;
  while (IsSystemPage(newPage)) ++newPage;
  if (newPage < 0) throw ESDBException(kSDBErrPageNotAddressable, "Page: %d cannot be addressed. TotalPageCount=%d",
                                       {int64_t{newPage}, int64_t{oldTotal}});
  int32_t step = AddPagesStep();
  if (int64_t{newPage} >= int64_t{oldTotal} + step) step = newPage - oldTotal + 1;
  while (IsSystemPage(oldTotal + step - 1)) ++step;  // the file never ends with a bitmap page
  FStore.FSExtendFile(step);
  FTotalPageCount = oldTotal + step;

  std::vector<uint8_t> fresh(static_cast<size_t>(FStore.FSPageSize()), 0);
  auto writeFresh = [&](int32_t pageNo, uint16_t type) {
    std::fill(fresh.begin(), fresh.end(), 0);
    SDBInitPageHeader(fresh.data());
    SDBSetPageType(fresh.data(), type);
    fresh[kSDBPageHeaderSize] = 1;
    FStore.FSWritePage(pageNo, fresh.data());
    for (auto& c : FLockedBitmaps)
      if (c.PageNo == pageNo) c.Buffer = fresh;
  };
  const int32_t newLastPFSGroup = (FTotalPageCount - 1) / FPFSPage_PagesAddressed;
  const int32_t newLastEAMGroup = (FTotalPageCount - 1) / FEAMPage_PagesAddressed;
  std::vector<int32_t> newPFS, newEAM;
  for (int32_t g = lastPFSGroup + 1; g <= newLastPFSGroup; ++g) {
    writeFresh(g * FPFSPage_PagesAddressed, ptPFS);
    newPFS.push_back(g * FPFSPage_PagesAddressed);
  }
  for (int32_t g = lastEAMGroup + 1; g <= newLastEAMGroup; ++g) {
    int32_t p = EAMPageOf(g * FEAMPage_PagesAddressed);
    writeFresh(p, ptEAM);
    newEAM.push_back(p);
  }
  for (int32_t p : newEAM) SetPFSBit(p, true);
  for (int32_t p : newPFS) RecalcExtent(p / FPageCountInExtent);
  for (int32_t p : newEAM) RecalcExtent(p / FPageCountInExtent);
  return newPage;
}

int32_t TSDBDatabaseFreeSpaceManager::AllocateLocked() {
  int32_t pageNo = -1;
  if (!SearchExistingSpace(pageNo)) pageNo = GrowFile();
  SetPFSBit(pageNo, true);
  RecalcExtent(pageNo / FPageCountInExtent);
  FLastUsedPageNo = std::max(FLastUsedPageNo, pageNo);
  return pageNo;
}

int32_t TSDBDatabaseFreeSpaceManager::GetPage(int32_t /*DesiredStartPageNo*/) {
  THeaderLock lock(FStore, kSDBErrFreeSpaceLockedGet);
  TSDBBitmapScope bitmaps(*this);
  ReadCounters();
  const int32_t oldTotal = FTotalPageCount, oldLast = FLastUsedPageNo;
  const int32_t pageNo = AllocateLocked();
  if (FLastUsedPageNo != oldLast || FTotalPageCount != oldTotal) FStore.FSWriteLastUsedPageNo(FLastUsedPageNo);
  return pageNo;
}

void TSDBDatabaseFreeSpaceManager::GetPages(int32_t Count, std::vector<int32_t>& Pages) {
  if (Count <= 0) return;
  THeaderLock lock(FStore, kSDBErrFreeSpaceLockedGet);
  TSDBBitmapScope bitmaps(*this, true);
  ReadCounters();
  const int32_t oldTotal = FTotalPageCount, oldLast = FLastUsedPageNo;
  for (int32_t i = 0; i < Count; ++i) Pages.push_back(AllocateLocked());
  FlushBitmaps();
  if (FLastUsedPageNo != oldLast || FTotalPageCount != oldTotal) FStore.FSWriteLastUsedPageNo(FLastUsedPageNo);
}

int32_t TSDBDatabaseFreeSpaceManager::FindLastUsedPage(int32_t From) {
  From = std::min(From, FTotalPageCount - 1);
  if (From < 0) return -1;
  std::vector<uint8_t> pfs;
  for (int32_t pfsPage = PFSPageOf(From); pfsPage >= 0; pfsPage -= FPFSPage_PagesAddressed) {
    ReadBitmapPage(pfsPage, ptPFS, kSDBErrNotAPFSPage, pfs);
    const int32_t top = pfsPage == PFSPageOf(From) ? (From - pfsPage) / 8 : FPageDataSize - 1;
    for (int32_t b = top; b >= 0; --b) {
      uint8_t byte = pfs[kSDBPageHeaderSize + b];
      if (!byte) continue;
      for (int bit = 7; bit >= 0; --bit) {
        if (!((byte >> bit) & 1)) continue;
        int64_t n = int64_t{pfsPage} + int64_t{b} * 8 + bit;
        if (n <= From && !IsSystemPage(static_cast<int32_t>(n))) return static_cast<int32_t>(n);
      }
    }
  }
  return -1;
}

void TSDBDatabaseFreeSpaceManager::FreePage(int32_t PageNo) {
  THeaderLock lock(FStore, kSDBErrFreeSpaceLockedFree);
  TSDBBitmapScope bitmaps(*this);
  ReadCounters();
  const int32_t oldTotal = FTotalPageCount, oldLast = FLastUsedPageNo;
  CheckAddressable(PageNo, kSDBErrFreePageNotAddressable);
  CheckPageNoForSystemPages(PageNo);
  SetPFSBit(PageNo, false);
  RecalcExtent(PageNo / FPageCountInExtent);
  // Only releasing the last used page moves the last used page: look down
  // from there instead of over the whole file. A header that points below
  // a used page (only damage leaves one) is corrected from the file's end.
  if (PageNo == FLastUsedPageNo)
    FLastUsedPageNo = FindLastUsedPage(PageNo);
  else if (PageNo > FLastUsedPageNo)
    FLastUsedPageNo = FindLastUsedPage(FTotalPageCount - 1);
  TruncateTrailing();
  if (FLastUsedPageNo != oldLast || FTotalPageCount != oldTotal) FStore.FSWriteLastUsedPageNo(FLastUsedPageNo);
}

void TSDBDatabaseFreeSpaceManager::FreePages(const std::vector<int32_t>& Pages) {
  if (Pages.empty()) return;
  THeaderLock lock(FStore, kSDBErrFreeSpaceLockedFree);
  TSDBBitmapScope bitmaps(*this, true);
  ReadCounters();
  const int32_t oldTotal = FTotalPageCount, oldLast = FLastUsedPageNo;
  int32_t highest = -1;
  for (int32_t p : Pages) {
    CheckAddressable(p, kSDBErrFreePageNotAddressable);
    CheckPageNoForSystemPages(p);
    SetPFSBit(p, false);
    RecalcExtent(p / FPageCountInExtent);
    highest = std::max(highest, p);
  }
  // As in FreePage, with every bit already cleared.
  if (highest == FLastUsedPageNo)
    FLastUsedPageNo = FindLastUsedPage(highest);
  else if (highest > FLastUsedPageNo)
    FLastUsedPageNo = FindLastUsedPage(FTotalPageCount - 1);
  // Written before the file may shrink under them.
  FlushBitmaps();
  TruncateTrailing();
  if (FLastUsedPageNo != oldLast || FTotalPageCount != oldTotal) FStore.FSWriteLastUsedPageNo(FLastUsedPageNo);
}

void TSDBDatabaseFreeSpaceManager::TruncateTrailing() {
  int32_t step = DelPagesStep();
  int32_t trailing = FTotalPageCount - FLastUsedPageNo - 1;
  if (trailing >= step) {
    int32_t cut = trailing / step * step;
    FStore.FSTruncateFile(cut);
    FTotalPageCount -= cut;
  }
}

void TSDBDatabaseFreeSpaceManager::TruncateDatabase() {
  THeaderLock lock(FStore, kSDBErrDatabaseHeaderLocked);
  ReadCounters();
  int32_t cut = FTotalPageCount - 1 - FLastUsedPageNo;
  if (cut > 0) {
    FStore.FSTruncateFile(cut);
    FTotalPageCount -= cut;
  }
}

}  // namespace sdb
