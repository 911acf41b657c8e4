#include "storage/file/SDBPageManager.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "common/SDBBytes.h"
#include "common/SDBCRC.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "platform/SDBPlatform.h"
#include "storage/file/SDBFreeSpace.h"

namespace sdb {

namespace {

// Smallest page the engine accepts; the free-space bitmaps and the record
// layouts need a useful data area.
constexpr uint16_t kMinPageSize = 128;

[[noreturn]] void InvalidFormat() { throw ESDBException(kSDBErrInvalidDatabaseFormat, "Invalid database format"); }

int32_t RandomBelow(int32_t bound) {
  static thread_local std::mt19937 gen{std::random_device{}()};
  return std::uniform_int_distribution<int32_t>(0, bound - 1)(gen);
}

// Releases a lock at scope exit.
template <class Unlock>
struct TUnlockGuard {
  Unlock unlock;
  ~TUnlockGuard() { unlock(); }
};
template <class Unlock>
TUnlockGuard(Unlock) -> TUnlockGuard<Unlock>;

}  // namespace

TSDBDiskPageManager::TSDBDiskPageManager() : FJournal(std::make_unique<TSDBJournal>(FDatabaseFile)) {}

TSDBDiskPageManager::~TSDBDiskPageManager() {
  try {
    CloseDatabase();
  } catch (...) {
  }
}

void TSDBDiskPageManager::ResetState() {
  // The journal kept open belongs to the file that was open.
  if (FJournal) FJournal->Abandon();
  FDatabaseFreeSpaceManager.reset();
  FDirectChains.clear();
  FDBHeader = TSDBDBHeader();
  FCryptoHeader = TSDBCryptoHeader();
  FLockedBytes = TSDBLockedBytes();
  FPassword = TSDBPassword();
  FLockDBHeaderCount = 0;
  FExclusive = false;
  FReadOnly = false;
  FMultiUser = false;
  FPageSize = kSDBDefaultPageSize;
  FPageDataSize = kSDBDefaultPageSize - kSDBPageHeaderSize;
  ComputeOffsets(0, kSDBLockedBytesSize);
}

void TSDBDiskPageManager::ComputeOffsets(int64_t HeaderOffset, int16_t LockedByteSize) {
  FOffsetToDBHeader = HeaderOffset;
  FOffsetToCryptoHeader = HeaderOffset + kSDBDBHeaderSize;
  FOffsetToLockedBytes = FOffsetToCryptoHeader + kSDBCryptoHeaderSize;
  FOffsetToLastObjectID = FOffsetToLockedBytes + LockedByteSize;
  FOffsetToFirstPage = FOffsetToLastObjectID + 4;
}

void TSDBDiskPageManager::CheckOpened(int ErrorCode) const {
  if (!FDatabaseFile.IsOpened()) throw ESDBException(ErrorCode, "Error - database file is not opened.");
}

void TSDBDiskPageManager::CheckPageNo(int32_t PageNo) const {
  if (PageNo < 0) throw ESDBException(kSDBErrInvalidPageNo, "Invalid PageNo = %d", {static_cast<int64_t>(PageNo)});
}

void TSDBDiskPageManager::CreateFreeSpaceManager() {
  FDatabaseFreeSpaceManager.reset();
  if (FFreeSpaceManagerFactory) FDatabaseFreeSpaceManager = FFreeSpaceManagerFactory(*this);
}

// ---- Files -------------------------------------------------------------------

void TSDBDiskPageManager::CreateAndOpenDatabase(const std::string& DatabaseFileName, const TSDBPassword& Password,
                                                uint16_t PageSize, uint16_t ExtentPageCount) {
  if (IsOpened())
    throw ESDBException(kSDBErrDatabaseFileInUse, "Error - database file %s is in use.", {FDatabaseFile.FileName()});
  if (PageSize < kMinPageSize || ExtentPageCount == 0) InvalidFormat();
  ResetState();
  // A journal left beside a file of that name belongs to the file being
  // replaced; applied to the new one it would write foreign pages into it.
  SDBDeleteFile(TSDBJournal::FileNameFor(DatabaseFileName));
  FDatabaseFile.CreateAndOpenFile(DatabaseFileName);
  try {
    FPageSize = PageSize;
    FPageDataSize = static_cast<uint16_t>(PageSize - kSDBPageHeaderSize);
    FDBHeader = TSDBDBHeader::Make(PageSize, ExtentPageCount, !Password.Password.empty());
    FPassword = Password;
    if (FDBHeader.Encrypted && !SDBBuildControlBlock(FCryptoHeader, FPassword))
      throw ESDBException(kSDBErrWrongPassword, "Cannot open database - incorrect password");
    ComputeOffsets(0, kSDBLockedBytesSize);
    FExclusive = true;
    FMultiUser = false;
    FReadOnly = false;
    WriteDBHeader();
    WriteCryptoHeader();
    WriteLockedBytes();
    InitObjectID();
    CreateFreeSpaceManager();
  } catch (...) {
    try {
      FDatabaseFile.CloseFile();
    } catch (...) {
    }
    ResetState();
    throw;
  }
}

void TSDBDiskPageManager::OpenDatabase(const std::string& DatabaseFileName, const TSDBPassword& Password,
                                       bool& ReadOnly, bool& RepairNeeded, bool Exclusive, bool& aMultiUser) {
  if (IsOpened())
    throw ESDBException(kSDBErrDatabaseFileInUse, "Error - database file %s is in use.", {FDatabaseFile.FileName()});
  ResetState();
  RepairNeeded = false;

  // A file we cannot write opens read-only. (Writability is probed by
  // opening for reading and writing and reading the first byte; nothing is
  // written to a file that may not even be a database.)
  if (!ReadOnly && SDBFileExists(DatabaseFileName)) {
    if (SDBIsFileReadOnly(DatabaseFileName)) {
      ReadOnly = true;
    } else {
      TSDBFileHandle probe;
      uint8_t first = 0;
      size_t done = 0;
      if (probe.Open(DatabaseFileName, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone) != 0 ||
          probe.Read(&first, 0, 1, done) != 0 || done != 1)
        ReadOnly = true;
    }
  }

  if (ReadOnly) {
    FDatabaseFile.OpenFile(DatabaseFileName, amReadOnly, smShareDenyNone);
  } else {
    FDatabaseFile.OpenFile(DatabaseFileName, amReadWrite, Exclusive ? smExclusive : smShareDenyNone);
    if (Exclusive) aMultiUser = false;
  }
  FReadOnly = ReadOnly;
  FExclusive = Exclusive && !ReadOnly;
  FMultiUser = aMultiUser;

  try {
    // The header offset is not known yet: the lock byte of a database that
    // starts at offset 0 is the usual one; the lock is retaken below when
    // the database starts further in.
    int64_t headerOffset = 0;
    bool headerRead = false;
    {
      if (!WaitLockDBHeader()) throw ESDBException(kSDBErrDatabaseLockedOnOpen, "Database is locked");
      TUnlockGuard unlock{[this] { UnlockDBHeader(); }};
      FDatabaseFile.FindSignature(headerOffset);
      if (headerOffset != 0) {
        // Move the header lock to the real database.
        UnlockDBHeader();
        ComputeOffsets(headerOffset, kSDBLockedBytesSize);
        if (!WaitLockDBHeader()) throw ESDBException(kSDBErrDatabaseLockedOnOpen, "Database is locked");
      }
      uint8_t raw[kSDBDBHeaderSize] = {};
      headerRead = FDatabaseFile.ReadBuffer(raw, headerOffset, kSDBDBHeaderSize);
      if (!headerRead) {
        // Too short to hold a header: keep what is there for the message.
        int64_t size = FDatabaseFile.GetSize();
        int64_t avail = std::min<int64_t>(kSDBSignatureSize, std::max<int64_t>(0, size - headerOffset));
        std::memset(raw, 0, sizeof raw);
        if (avail > 0) FDatabaseFile.ReadBuffer(raw, headerOffset, avail);
      }
      FDBHeader.Load(raw);
      if (headerRead)
        RepairNeeded = FDBHeader.WriteChangesState != kSDBWriteChangesConsistent ||
                       FDBHeader.Version < kSDBMinVersionWithoutRepair;
    }

    if (!FDBHeader.HasValidSignature())
      throw ESDBException(kSDBErrInvalidFileSignature, "Invalid file format. Found signature: '%s', expected: '%s'",
                          {FDBHeader.SignatureText(), std::string(kSDBSignature)});
    if (!headerRead || FDBHeader.HeaderSize != kSDBDBHeaderSize || FDBHeader.PageSize < kMinPageSize ||
        FDBHeader.PageCountInExtent == 0 || FDBHeader.TotalPageCount < 0 || FDBHeader.LastUsedPageNo < -1)
      InvalidFormat();

    FPageSize = FDBHeader.PageSize;
    FPageDataSize = static_cast<uint16_t>(FPageSize - kSDBPageHeaderSize);
    ComputeOffsets(headerOffset, kSDBLockedBytesSize);
    uint8_t crypto[kSDBCryptoHeaderSize];
    FDatabaseFile.ReadBuffer(crypto, kSDBErrReadCryptoHeader, FOffsetToCryptoHeader, kSDBCryptoHeaderSize);
    FCryptoHeader.Load(crypto);

    FPassword.Password = Password.Password;
    FPassword.CryptoAlgorithm = Password.CryptoAlgorithm;
    if (FDBHeader.Encrypted) {
      FPassword.CryptoAlgorithm = static_cast<TSDBCryptoAlgorithm>(FCryptoHeader.CryptoAlgorithm);
      if (FCryptoHeader.CryptoAlgorithm >= kSDBCryptoAlgorithmCount ||
          !SDBCheckControlBlock(FCryptoHeader, FPassword.Password))
        throw ESDBException(kSDBErrWrongPassword, "Cannot open database - incorrect password");
    }

    if (FOffsetToCryptoHeader + FCryptoHeader.CryptoHeaderSize != FOffsetToLockedBytes) InvalidFormat();
    uint8_t lockedSize[2];
    FDatabaseFile.ReadBuffer(lockedSize, kSDBErrReadLockedByteSize, FOffsetToLockedBytes, 2);
    int16_t lockedByteSize = GetLEI16(lockedSize);
    // A smaller block would put the object identifier over the lock bytes.
    if (lockedByteSize < kSDBLockedBytesSize) InvalidFormat();
    uint8_t locked[kSDBLockedBytesSize];
    FDatabaseFile.ReadBuffer(locked, kSDBErrReadLockedBytes, FOffsetToLockedBytes, kSDBLockedBytesSize);
    FLockedBytes.Load(locked);
    ComputeOffsets(headerOffset, lockedByteSize);
    CreateFreeSpaceManager();
  } catch (...) {
    try {
      FDatabaseFile.CloseFile();
    } catch (...) {
    }
    ResetState();
    throw;
  }
}

void TSDBDiskPageManager::CloseDatabase() {
  // Pages reserved and not used go back; when that fails they stay
  // allocated and unwritten, which the check reports as reclaimable.
  try {
    ReturnReservedPages();
  } catch (...) {
  }
  FReservedPages.clear();
  FReserveGroup = 1;
  FPageCipher.Forget();
  FDatabaseFreeSpaceManager.reset();
  FJournal->Abandon();
  // An empty journal goes with the last writer; only under the header lock,
  // where no commit can be using it.
  if (FDatabaseFile.IsOpened() && !FReadOnly && FLockDBHeaderCount == 0 && LockDBHeader()) {
    TSDBJournal::RemoveIfEmpty(FDatabaseFile.FileName());
    UnlockDBHeader();
  }
  if (FDatabaseFile.IsOpened()) {
    try {
      FDatabaseFile.CloseFile();
    } catch (...) {
      ResetState();
      throw;
    }
  }
  ResetState();
}

// ---- Header areas --------------------------------------------------------------

void TSDBDiskPageManager::ReadDBHeader() {
  CheckOpened(kSDBErrReadHeaderNotOpen);
  uint8_t raw[kSDBDBHeaderSize];
  FDatabaseFile.ReadBuffer(raw, kSDBErrReadDBHeader, FOffsetToDBHeader, kSDBDBHeaderSize);
  FDBHeader.Load(raw);
}

void TSDBDiskPageManager::WriteDBHeader() {
  CheckOpened(kSDBErrWriteHeaderNotOpen);
  uint8_t raw[kSDBDBHeaderSize];
  FDBHeader.Save(raw);
  FJournal->BeforeWrite(FOffsetToDBHeader, kSDBDBHeaderSize);
  FDatabaseFile.WriteBuffer(raw, kSDBErrWriteDBHeader, FOffsetToDBHeader, kSDBDBHeaderSize);
}

void TSDBDiskPageManager::WriteCryptoHeader() {
  uint8_t raw[kSDBCryptoHeaderSize];
  FCryptoHeader.Save(raw);
  FDatabaseFile.WriteBuffer(raw, kSDBErrWriteCryptoHeader, FOffsetToCryptoHeader, kSDBCryptoHeaderSize);
}

void TSDBDiskPageManager::WriteLockedBytes() {
  uint8_t raw[kSDBLockedBytesSize];
  FLockedBytes.Save(raw);
  FDatabaseFile.WriteBuffer(raw, kSDBErrWriteLockedBytes, FOffsetToLockedBytes, kSDBLockedBytesSize);
}

int32_t TSDBDiskPageManager::GetPageCount() {
  CheckOpened(kSDBErrReadHeaderNotOpen);
  // A writer that is alone on the file (single-user or exclusive) keeps the
  // header counters itself; only shared or read-only opens can miss growth
  // made by another process and read them again.
  if (!FMultiUser && !FReadOnly) return FDBHeader.TotalPageCount;
  if (!WaitLockDBHeader()) throw ESDBException(kSDBErrDatabaseLocked, "Database is locked");
  TUnlockGuard unlock{[this] { UnlockDBHeader(); }};
  ReadDBHeader();
  return FDBHeader.TotalPageCount;
}

void TSDBDiskPageManager::ExtendFile(int32_t PageCount) {
  CheckOpened(kSDBErrWriteHeaderNotOpen);
  if (PageCount <= 0) return;
  int32_t total = FDBHeader.TotalPageCount + PageCount;
  FDatabaseFile.SetSize(FOffsetToFirstPage + static_cast<int64_t>(total) * FPageSize);
  FDBHeader.TotalPageCount = total;
}

void TSDBDiskPageManager::TruncateFile(int32_t PageCount) {
  CheckOpened(kSDBErrWriteHeaderNotOpen);
  if (PageCount <= 0) return;
  int32_t total = FDBHeader.TotalPageCount - PageCount;
  if (total < 0) total = 0;
  // Bitmap pages cut off by a commit come back with its rollback; the
  // other pages cut are free and their bytes do not matter.
  if (FJournal->Active())
    for (int32_t p = total; p < FDBHeader.TotalPageCount; ++p)
      if (IsSystemPage(p)) FJournal->BeforeWrite(PageOffset(p), FPageSize);
  FDatabaseFile.SetSize(FOffsetToFirstPage + static_cast<int64_t>(total) * FPageSize);
  FDBHeader.TotalPageCount = total;
  WriteDBHeader();
}

void TSDBDiskPageManager::TruncateDatabase() {
  int32_t count = FDBHeader.TotalPageCount - 1 - FDBHeader.LastUsedPageNo;
  if (count > 0) TruncateFile(count);
}

int32_t TSDBDiskPageManager::GetNextObjectID() {
  CheckOpened(kSDBErrDatabaseNotOpen);
  if (!SDBRetry(LockTryCount, LockPauseMs, [this] { return LockLastObjectID(); }))
    throw ESDBException(kSDBErrNextObjectIDLocked, "Cannot get NextObjectID. File area is Locked.");
  TUnlockGuard unlock{[this] { UnlockLastObjectID(); }};
  uint8_t raw[4];
  FDatabaseFile.ReadBuffer(raw, kSDBErrReadLastObjectID, FOffsetToLastObjectID, 4);
  // Identifiers are Integers; the counter wraps rather than overflowing.
  int32_t id = static_cast<int32_t>(GetLE32(raw) + 1u);
  if (FReadOnly) return static_cast<int32_t>(static_cast<uint32_t>(id) + static_cast<uint32_t>(RandomBelow(10000)));
  PutLEI32(raw, id);
  FDatabaseFile.WriteBuffer(raw, kSDBErrWriteLastObjectID, FOffsetToLastObjectID, 4);
  return id;
}

void TSDBDiskPageManager::InitObjectID() {
  CheckOpened(kSDBErrDatabaseNotOpen);
  if (!SDBRetry(LockTryCount, LockPauseMs, [this] { return LockLastObjectID(); }))
    throw ESDBException(kSDBErrNextObjectIDLocked, "Cannot get NextObjectID. File area is Locked.");
  TUnlockGuard unlock{[this] { UnlockLastObjectID(); }};
  uint8_t raw[4] = {0, 0, 0, 0};
  FDatabaseFile.WriteBuffer(raw, kSDBErrInitLastObjectID, FOffsetToLastObjectID, 4);
}

// ---- Pages -----------------------------------------------------------------------

int32_t TSDBDiskPageManager::InternalAddPage() {
  CheckOpened(kSDBErrWritePageNotOpen);
  if (!FDatabaseFreeSpaceManager) throw ESDBException(kSDBErrNoFreeSpaceManager, "Free space manager is not created");
  // Inside a commit the page joins the commit's own change.
  if (FJournal->Active() || FReadOnly) {
    int32_t pageNo = -1;
    WithFreeSpaceJournal(-1, [&] { pageNo = FDatabaseFreeSpaceManager->GetPage(-1); });
    return pageNo;
  }
  if (FReservedPages.empty()) {
    const int32_t count = FReserveGroup;
    std::vector<int32_t> pages;
    WithFreeSpaceJournal(-1, [&] {
      pages.clear();
      FDatabaseFreeSpaceManager->GetPages(count, pages);
    });
    // Only a change that stood reserves anything.
    std::sort(pages.begin(), pages.end(), std::greater<>());
    FReservedPages = std::move(pages);
    FReserveGroup = std::min(count * 2, kSDBMaxReservedPages);
  }
  const int32_t pageNo = FReservedPages.back();
  FReservedPages.pop_back();
  return pageNo;
}

void TSDBDiskPageManager::TakeBackUnwrittenPage(int32_t PageNo) {
  CheckPageNo(PageNo);
  auto at = std::lower_bound(FReservedPages.begin(), FReservedPages.end(), PageNo, std::greater<>());
  if (at != FReservedPages.end() && *at == PageNo) return;
  FReservedPages.insert(at, PageNo);
}

void TSDBDiskPageManager::ReturnReservedPages() {
  FReserveGroup = 1;
  if (FReservedPages.empty() || !IsOpened() || !FDatabaseFreeSpaceManager) return;
  std::vector<int32_t> pages;
  pages.swap(FReservedPages);
  // Never written: their on-disk State is still what it was while they
  // were free, so no cached copy elsewhere needs to be made stale.
  if (FJournal->Active() || FReadOnly) {
    try {
      FDatabaseFreeSpaceManager->FreePages(pages);
    } catch (...) {
      // The commit fails and its journal restores the bitmaps.
      FReservedPages = std::move(pages);
      throw;
    }
    return;
  }
  if (!WaitLockDBHeader()) throw ESDBException(kSDBErrFreeSpaceLockedFree, "Database is locked");
  TUnlockGuard unlock{[this] { UnlockDBHeader(); }};
  std::vector<std::pair<int64_t, int32_t>> ranges{{FOffsetToDBHeader, kSDBDBHeaderSize}};
  AddBitmapRanges(pages, ranges);
  try {
    RunFreeSpaceChange(ranges, [&] { FDatabaseFreeSpaceManager->FreePages(pages); });
  } catch (...) {
    // Still allocated in the restored file: keep them for the next try.
    FReservedPages = std::move(pages);
    throw;
  }
}

void TSDBDiskPageManager::AddReservedPageRanges(std::vector<std::pair<int64_t, int32_t>>& Ranges) const {
  AddBitmapRanges(FReservedPages, Ranges);
}

void TSDBDiskPageManager::AddBitmapRanges(const std::vector<int32_t>& Pages,
                                          std::vector<std::pair<int64_t, int32_t>>& Ranges) const {
  auto* fs = dynamic_cast<TSDBDatabaseFreeSpaceManager*>(FDatabaseFreeSpaceManager.get());
  if (!fs) return;
  int32_t lastPFS = -1, lastEAM = -1;
  for (int32_t p : Pages) {
    const int32_t pfs = fs->PFSPageOf(p), eam = fs->EAMPageOf(p);
    if (pfs != lastPFS) Ranges.emplace_back(PageOffset(pfs), FPageSize);
    if (eam != lastEAM) Ranges.emplace_back(PageOffset(eam), FPageSize);
    lastPFS = pfs;
    lastEAM = eam;
  }
}

void TSDBDiskPageManager::InternalRemovePage(int32_t PageNo) {
  CheckOpened(kSDBErrWritePageNotOpen);
  CheckPageNo(PageNo);
  if (!FDatabaseFreeSpaceManager) throw ESDBException(kSDBErrNoFreeSpaceManager, "Free space manager is not created");
  FDirectChains.clear();
  WithFreeSpaceJournal(PageNo, [&] {
    // The signature goes with the State: a page allocated and released
    // without ever being written (a rolled-back transaction's) is all
    // zeros, and must read as "never written" again when it is handed out
    // next, not as a page without signature.
    uint8_t head[8];
    std::memcpy(head, "SDBP", 4);
    PutLEI32(head + TSDBDiskPageHeader::kStateOffset, kSDBMaxInt);
    WritePageRegion(head, PageNo, 0, sizeof head);
    FDatabaseFreeSpaceManager->FreePage(PageNo);
  });
}

void TSDBDiskPageManager::WithFreeSpaceJournal(int32_t PageNo, const std::function<void()>& Change) {
  // Inside a commit the commit's journal covers the change; a file nobody
  // else writes and that no commit is writing needs none either when it is
  // being created (no journal protects a file that does not exist yet).
  if (FJournal->Active() || FReadOnly) {
    Change();
    return;
  }
  if (!WaitLockDBHeader()) throw ESDBException(kSDBErrFreeSpaceLockedGet, "Database is locked");
  TUnlockGuard unlock{[this] { UnlockDBHeader(); }};
  // The bitmap pages an allocation or release usually touches; others
  // are added when they are written.
  std::vector<std::pair<int64_t, int32_t>> ranges{{FOffsetToDBHeader, kSDBDBHeaderSize}};
  auto* fs = dynamic_cast<TSDBDatabaseFreeSpaceManager*>(FDatabaseFreeSpaceManager.get());
  const int32_t total = FDBHeader.TotalPageCount;
  auto bitmaps = [&](int32_t n) {
    if (!fs || n < 0 || n >= total) return;
    ranges.emplace_back(PageOffset(fs->PFSPageOf(n)), FPageSize);
    ranges.emplace_back(PageOffset(fs->EAMPageOf(n)), FPageSize);
  };
  if (PageNo >= 0) {
    ranges.emplace_back(PageOffset(PageNo), FPageSize);
    bitmaps(PageNo);
  } else {
    bitmaps(std::max(FDBHeader.LastUsedPageNo, 0));
    bitmaps(0);
  }
  RunFreeSpaceChange(ranges, Change);
}

void TSDBDiskPageManager::RunFreeSpaceChange(const std::vector<std::pair<int64_t, int32_t>>& Ranges,
                                             const std::function<void()>& Change) {
  // Nobody waits on an allocation being durable, only on it being whole:
  // its emptied journal need not be flushed (a power loss may undo it,
  // leaving the page free, and the next commit's journal replaces it).
  FJournal->Begin(Ranges, Durability == TSDBDurability::Full ? TSDBDurability::Normal : Durability);
  try {
    Change();
    FJournal->Commit();
  } catch (...) {
    try {
      FJournal->Rollback();
    } catch (...) {
      FJournal->Abandon();
    }
    // What is kept in memory of the restored pages is outdated.
    FDirectChains.clear();
    try {
      ReadDBHeader();
    } catch (...) {
    }
    if (auto* fs = dynamic_cast<TSDBDatabaseFreeSpaceManager*>(FDatabaseFreeSpaceManager.get())) fs->ForgetBitmaps();
    throw;
  }
}

const TSDBDiskPageManager::TDirectChain* TSDBDiskPageManager::FindDirectChain(int32_t StartPageNo, uint16_t PageType,
                                                                             int64_t Owner) const {
  if (!SoleWriter() && Owner < 0) return nullptr;
  auto it = FDirectChains.find(StartPageNo);
  if (it == FDirectChains.end() || it->second.PageType != PageType) return nullptr;
  if (!SoleWriter() && it->second.Owner != Owner) return nullptr;
  return &it->second;
}

void TSDBDiskPageManager::KeepDirectChain(int32_t StartPageNo, uint16_t PageType, const std::vector<int32_t>& Pages,
                                          int32_t Size, int64_t Owner) {
  if (SoleWriter() || Owner >= 0) FDirectChains[StartPageNo] = TDirectChain{PageType, Pages, Size, Owner};
}

bool TSDBDiskPageManager::IsSystemPage(int32_t PageNo) const {
  if (PageNo < 0) return false;
  const int64_t pfsPages = static_cast<int64_t>(FPageDataSize) * 8;
  const int64_t eamPages = static_cast<int64_t>(FPageDataSize) * 4 * FDBHeader.PageCountInExtent;
  if (pfsPages <= 0 || eamPages <= 0) return false;
  const int64_t n = PageNo;
  // Every page fetch asks: below the first repeat of either bitmap only
  // pages 0 and 1 are bitmaps, found without a division.
  if (n < pfsPages && n < eamPages) return n <= 1;
  if (n % pfsPages == 0 || n % eamPages == 0) return true;
  return (n - 1) % pfsPages == 0 && (n - 1) % eamPages == 0;
}

void TSDBDiskPageManager::CheckPageNoForSystemPages(int32_t PageNo) const {
  if (IsSystemPage(PageNo))
    throw ESDBException(kSDBErrDeleteSystemPage, "Cannot delete PFS or EAM page. PageNo=%d", {static_cast<int64_t>(PageNo)});
}

bool TSDBDiskPageManager::InternalReadPage(int32_t PageNo, uint8_t* PageBuffer, bool EncryptionEnabled) {
  CheckOpened(kSDBErrReadPageNotOpen);
  if (!PageBuffer) throw ESDBException(kSDBErrNilPageBuffer, "Invalid page buffer. Buffer is Nil");
  CheckPageNo(PageNo);
  if (!FDatabaseFile.ReadBuffer(PageBuffer, PageOffset(PageNo), FPageSize)) {
    SDBSetPageState(PageBuffer, kSDBMaxInt);
    return false;
  }
  if (FDBHeader.Encrypted && EncryptionEnabled && !IsSystemPage(PageNo)) {
    uint8_t* data = PageBuffer + kSDBPageHeaderSize;
    auto algorithm = static_cast<TSDBCryptoAlgorithm>(PageBuffer[TSDBDiskPageHeader::kCipheryeOffset]);
    bool ok = FPageCipher.Decode(algorithm, data, FPageDataSize, FPassword.Password);
    if (!FIgnoreCRCErrors &&
        (!ok || CRC(0, data, FPageDataSize) != GetLE32(PageBuffer + TSDBDiskPageHeader::kCRC32Offset)))
      throw ESDBException(kSDBErrDecryptPageCRC, "Decrypt page error. Check CRC failed. PageNo: %d", {static_cast<int64_t>(PageNo)});
  }
  return true;
}

void TSDBDiskPageManager::InternalWritePage(int32_t PageNo, uint8_t* PageBuffer, bool EncryptionEnabled) {
  CheckOpened(kSDBErrWritePageNotOpen);
  if (!PageBuffer) throw ESDBException(kSDBErrNilPageBuffer, "Invalid page buffer. Buffer is Nil");
  CheckPageNo(PageNo);
  SDBSetPageState(PageBuffer, SDBNextPageState(SDBGetPageState(PageBuffer)));
  const bool encipher = FDBHeader.Encrypted && EncryptionEnabled && !IsSystemPage(PageNo);
  const uint8_t* stored = PageBuffer;
  if (encipher) {
    uint8_t* data = PageBuffer + kSDBPageHeaderSize;
    PageBuffer[TSDBDiskPageHeader::kCipheryeOffset] = FPassword.CryptoAlgorithm;
    PutLE32(PageBuffer + TSDBDiskPageHeader::kCRC32Offset, CRC(0, data, FPageDataSize));
    // The page is enciphered into a copy: the caller's buffer stays plain
    // without deciphering it again after the write.
    thread_local std::vector<uint8_t> enciphered;
    enciphered.resize(FPageSize);
    std::memcpy(enciphered.data(), PageBuffer, kSDBPageHeaderSize);
    if (!FPageCipher.Encode(FPassword.CryptoAlgorithm, data, enciphered.data() + kSDBPageHeaderSize, FPageDataSize,
                            FPassword.Password))
      throw ESDBException(kSDBErrWritePage, "Encrypt page error. PageNo: %d", {static_cast<int64_t>(PageNo)});
    stored = enciphered.data();
  }
  FJournal->BeforeWrite(PageOffset(PageNo), FPageSize);
  FDatabaseFile.WriteBuffer(stored, kSDBErrWritePage, PageOffset(PageNo), FPageSize);
}

int32_t TSDBDiskPageManager::InternalReadPageState(int32_t PageNo) {
  if (!FMultiUser || !IsOpened() || PageNo < 0) return kSDBMaxInt;
  uint8_t raw[4];
  if (!FDatabaseFile.ReadBuffer(raw, PageOffset(PageNo) + TSDBDiskPageHeader::kStateOffset, 4)) return kSDBMaxInt;
  return GetLEI32(raw);
}

void TSDBDiskPageManager::InternalWritePageState(int32_t PageNo, int32_t PageState) {
  CheckOpened(kSDBErrWritePageNotOpen);
  CheckPageNo(PageNo);
  uint8_t raw[4];
  PutLEI32(raw, PageState);
  FJournal->BeforeWrite(PageOffset(PageNo) + TSDBDiskPageHeader::kStateOffset, 4);
  FDatabaseFile.WriteBuffer(raw, kSDBErrWritePageState, PageOffset(PageNo) + TSDBDiskPageHeader::kStateOffset, 4);
}

void TSDBDiskPageManager::ReadPageRegion(void* Buffer, int32_t PageNo, int32_t Offset, int32_t Count) {
  CheckOpened(kSDBErrReadRegionNotOpen);
  CheckPageNo(PageNo);
  if (Offset < 0 || Count < 0 || static_cast<int64_t>(Offset) + Count > FPageSize)
    throw ESDBException(kSDBErrReadPageRegionOffset, "Error - invalid page offset = %d, page size = %d",
                        {static_cast<int64_t>(Offset), static_cast<int64_t>(FPageSize)});
  FDatabaseFile.ReadBuffer(Buffer, kSDBErrReadPageRegionData, PageOffset(PageNo) + Offset, Count);
}

void TSDBDiskPageManager::WritePageRegion(const void* Buffer, int32_t PageNo, int32_t Offset, int32_t Count) {
  CheckOpened(kSDBErrWriteRegionNotOpen);
  CheckPageNo(PageNo);
  if (Offset < 0 || Count < 0 || static_cast<int64_t>(Offset) + Count > FPageSize)
    throw ESDBException(kSDBErrWritePageRegionOffset, "Error - invalid page offset = %d, page size = %d",
                        {static_cast<int64_t>(Offset), static_cast<int64_t>(FPageSize)});
  FJournal->BeforeWrite(PageOffset(PageNo) + Offset, Count);
  FDatabaseFile.WriteBuffer(Buffer, kSDBErrWritePageRegionData, PageOffset(PageNo) + Offset, Count);
}

// ---- Locks ---------------------------------------------------------------------------

bool TSDBDiskPageManager::LockFreeSpaceManager() {
  return IsOpened() && FDatabaseFile.LockByte(1, FOffsetToLockedBytes + TSDBLockedBytes::kFSMByteOffset);
}
bool TSDBDiskPageManager::UnlockFreeSpaceManager() {
  return IsOpened() && FDatabaseFile.UnlockByte(1, FOffsetToLockedBytes + TSDBLockedBytes::kFSMByteOffset);
}
bool TSDBDiskPageManager::LockTables() {
  return IsOpened() && FDatabaseFile.LockByte(1, FOffsetToLockedBytes + TSDBLockedBytes::kTablesByteOffset);
}
bool TSDBDiskPageManager::UnlockTables() {
  return IsOpened() && FDatabaseFile.UnlockByte(1, FOffsetToLockedBytes + TSDBLockedBytes::kTablesByteOffset);
}

bool TSDBDiskPageManager::LockDBHeader() {
  if (!IsOpened()) return false;
  if (FLockDBHeaderCount > 0) {
    ++FLockDBHeaderCount;
    return true;
  }
  if (!FDatabaseFile.LockByte(1, FOffsetToLockedBytes + TSDBLockedBytes::kDBHeaderByteOffset)) return false;
  FLockDBHeaderCount = 1;
  // Committers keep this lock until their journal is empty again: a journal
  // with content found now was left by one that did not finish.
  if (!FJournal->Active() && FJournal->CheckHot(true)) RecoverHotJournal();
  return true;
}

void TSDBDiskPageManager::RecoverHotJournal() {
  TSDBJournalRecovery r = FDatabaseFile.AccessMode() == amReadWrite ? TSDBJournal::Recover(FDatabaseFile)
                                                                    : TSDBJournal::RecoverFile(FDatabaseFile.FileName());
  // What this process read before may describe the unfinished commit.
  if (r == TSDBJournalRecovery::Restored) FDirectChains.clear();
}

void TSDBDiskPageManager::RecoverInterruptedCommit() {
  // Holding the header lock already means it was checked when taken.
  if (!IsOpened() || FJournal->Active() || FLockDBHeaderCount > 0 || !TSDBJournal::IsHot(FDatabaseFile.FileName()))
    return;
  if (!WaitLockDBHeader()) throw ESDBException(kSDBErrDatabaseLocked, "Database is locked");
  UnlockDBHeader();
}

void TSDBDiskPageManager::AfterJournalRollback() {
  FDirectChains.clear();
  ReadDBHeader();
}

bool TSDBDiskPageManager::UnlockDBHeader() {
  if (!IsOpened() || FLockDBHeaderCount <= 0) return false;
  if (--FLockDBHeaderCount > 0) return true;
  FJournal->HeaderUnlocked();
  return FDatabaseFile.UnlockByte(1, FOffsetToLockedBytes + TSDBLockedBytes::kDBHeaderByteOffset);
}

bool TSDBDiskPageManager::WaitLockDBHeader() {
  return SDBRetry(LockTryCount, LockPauseMs, [this] { return LockDBHeader(); });
}

bool TSDBDiskPageManager::LockLastObjectID() {
  return IsOpened() && FDatabaseFile.LockByte(1, FOffsetToLastObjectID);
}
bool TSDBDiskPageManager::UnlockLastObjectID() {
  return IsOpened() && FDatabaseFile.UnlockByte(1, FOffsetToLastObjectID);
}

bool TSDBDiskPageManager::LockPageByte(int32_t PageNo, int32_t Offset) {
  return IsOpened() && PageNo >= 0 && FDatabaseFile.LockByte(1, PageOffset(PageNo) + Offset);
}
bool TSDBDiskPageManager::UnlockPageByte(int32_t PageNo, int32_t Offset) {
  return IsOpened() && PageNo >= 0 && FDatabaseFile.UnlockByte(1, PageOffset(PageNo) + Offset);
}
bool TSDBDiskPageManager::IsPageByteLocked(int32_t PageNo, int32_t Offset) {
  return IsOpened() && PageNo >= 0 && FDatabaseFile.IsByteLocked(PageOffset(PageNo) + Offset);
}
bool TSDBDiskPageManager::IsPageRegionLocked(int32_t PageNo, int32_t Offset, int32_t Count) {
  return IsOpened() && PageNo >= 0 && FDatabaseFile.IsRegionLocked(Count, PageOffset(PageNo) + Offset);
}

}  // namespace sdb
