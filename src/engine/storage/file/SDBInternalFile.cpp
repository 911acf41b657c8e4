#include "storage/file/SDBInternalFile.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/file/SDBCompression.h"

namespace sdb {

namespace {

constexpr int32_t kHeader = kSDBInternalFileHeaderSize;

int32_t PagesFor(int64_t size, int32_t dataSize) {
  return static_cast<int32_t>(std::max<int64_t>(1, (size + kHeader + dataSize - 1) / dataSize));
}

[[noreturn]] void ChainError(int32_t index) {
  throw ESDBException(kSDBErrInternalFilePageMissing, "Error getting %d-th table file page. Probably database is corrupted and needs repair.",
                      {int64_t{index}});
}

}  // namespace

// ---------------------------------------------------------------------------
// Transacted files

TSDBInternalDBTransactedAccessFile::TSDBInternalDBTransactedAccessFile(TSDBPageManager& PageManager,
                                                                       uint16_t PageTypeID)
    : LPageManager(PageManager), FPageTypeID(PageTypeID) {}

void TSDBInternalDBTransactedAccessFile::CheckOpen(const char* operation) const {
  if (FStartPageNo == -1)
    throw ESDBException(kSDBErrTransactedFileClosed, "Cannot perform this operation (%s) on closed internal file", {std::string(operation)});
}

TSDBPageGuard TSDBInternalDBTransactedAccessFile::GetChainPage(int SessionID, int32_t pageNo, int32_t index,
                                                               bool sync) {
  if (pageNo < 0) ChainError(index);
  return SDBGetPageGuard(LPageManager, SessionID, pageNo, FPageTypeID, sync);
}

void TSDBInternalDBTransactedAccessFile::CreateFile(int SessionID) {
  if (FStartPageNo != -1)
    throw ESDBException(kSDBErrTransactedFileExists, "Cannot create internal file. File already exists. StartPageNo=%d",
                        {int64_t{FStartPageNo}});
  TSDBPageGuard page = SDBAddPageGuard(LPageManager, SessionID, FPageTypeID);
  uint8_t* d = page->Data();
  d[0] = kHeader;
  PutLEI32(d + 1, 0);
  PutLEI32(d + 5, 0);
  d[9] = 0;
  page->SetNextPageNo(-1);
  page->MarkDirty();
  FStartPageNo = page->PageNo();
}

void TSDBInternalDBTransactedAccessFile::OpenFile(int32_t StartPageNo) {
  if (StartPageNo < 0) throw ESDBException(kSDBErrInternalFileStartPage, "Invalid page number");
  FStartPageNo = StartPageNo;
}

std::vector<int32_t> TSDBInternalDBTransactedAccessFile::ChainPageNumbers(int SessionID) {
  CheckOpen("GetChain");
  std::vector<int32_t> pages;
  std::set<int32_t> seen;
  int32_t pageNo = FStartPageNo;
  while (pageNo != -1) {
    auto index = static_cast<int32_t>(pages.size());
    if (!seen.insert(pageNo).second) ChainError(index);
    TSDBPageGuard page = GetChainPage(SessionID, pageNo, index);
    pages.push_back(pageNo);
    pageNo = page->NextPageNo();
  }
  return pages;
}

void TSDBInternalDBTransactedAccessFile::DeleteFile(int SessionID, int32_t StartPageNo) {
  OpenFile(StartPageNo);
  for (int32_t pageNo : ChainPageNumbers(SessionID)) LPageManager.RemovePage(SessionID, pageNo);
  FStartPageNo = -1;
}

void TSDBInternalDBTransactedAccessFile::InitFileHeader(int SessionID) {
  CheckOpen("InitFileHeader");
  bool ignore = LPageManager.IgnoreCRCErrors();
  LPageManager.SetIgnoreCRCErrors(true);
  try {
    TSDBPageGuard page = SDBGetPageGuard(LPageManager, SessionID, FStartPageNo, kSDBAnyPageType);
    int32_t next = page->NextPageNo();
    int32_t state = page->State();
    SDBInitPageHeader(page->Buffer());
    page->SetPageType(FPageTypeID);
    page->SetNextPageNo(next);
    page->SetState(state);
    page->Data()[0] = kHeader;
    page->MarkDirty();
  } catch (...) {
    LPageManager.SetIgnoreCRCErrors(ignore);
    throw;
  }
  LPageManager.SetIgnoreCRCErrors(ignore);
}

void TSDBInternalDBTransactedAccessFile::SetFileSize(int SessionID, int32_t NewSize, int32_t DecompressedSize,
                                                     uint8_t CompressionAlgorithm) {
  CheckOpen("SetFileSize");
  const int32_t dataSize = LPageManager.PageDataSize();
  const int32_t needed = PagesFor(std::max(NewSize, 0), dataSize);
  std::set<int32_t> seen{FStartPageNo};
  {
    TSDBPageGuard current = GetChainPage(SessionID, FStartPageNo, 0);
    uint8_t* d = current->Data();
    d[0] = kHeader;
    PutLEI32(d + 1, NewSize);
    PutLEI32(d + 5, DecompressedSize);
    d[9] = CompressionAlgorithm;
    current->MarkDirty();
    for (int32_t index = 1; index < needed; ++index) {
      int32_t next = current->NextPageNo();
      TSDBPageGuard nextPage;
      if (next == -1) {
        nextPage = SDBAddPageGuard(LPageManager, SessionID, FPageTypeID);
        nextPage->SetNextPageNo(-1);
        current->SetNextPageNo(nextPage->PageNo());
        current->MarkDirty();
      } else {
        if (!seen.insert(next).second) ChainError(index);
        nextPage = GetChainPage(SessionID, next, index);
      }
      current = std::move(nextPage);
    }
    // Cut what follows the last page needed.
    int32_t rest = current->NextPageNo();
    if (rest == -1) return;
    current->SetNextPageNo(-1);
    current->MarkDirty();
    std::vector<int32_t> toRemove;
    int32_t index = needed;
    while (rest != -1) {
      if (!seen.insert(rest).second) break;  // a loop back into the kept part ends the old chain
      TSDBPageGuard page = GetChainPage(SessionID, rest, index++);
      toRemove.push_back(rest);
      rest = page->NextPageNo();
    }
    current.Release();
    for (int32_t pageNo : toRemove) LPageManager.RemovePage(SessionID, pageNo);
  }
}

void TSDBInternalDBTransactedAccessFile::GetFileSize(int SessionID, int32_t& Size, int32_t& DecompressedSize,
                                                     uint8_t& CompressionAlgorithm, bool& FileWasChanged,
                                                     bool SyncronizeAllowed) {
  CheckOpen("GetFileSize");
  TSDBPageGuard page = GetChainPage(SessionID, FStartPageNo, 0, SyncronizeAllowed);
  const uint8_t* d = page->Data();
  Size = GetLEI32(d + 1);
  DecompressedSize = GetLEI32(d + 5);
  CompressionAlgorithm = d[9];
  FileWasChanged = page->Reloaded();
}

int32_t TSDBInternalDBTransactedAccessFile::GetSize(int SessionID) {
  int32_t size, decompressed;
  uint8_t algorithm;
  bool changed;
  GetFileSize(SessionID, size, decompressed, algorithm, changed);
  return algorithm ? decompressed : size;
}

void TSDBInternalDBTransactedAccessFile::ReadStoredBytes(int SessionID, TSDBPageGuard First, int32_t Count, bool All,
                                                         bool SynchronizeAllowed, std::vector<uint8_t>& stored,
                                                         int32_t& uncompressed, uint8_t& algorithm) {
  const int32_t dataSize = LPageManager.PageDataSize();
  int32_t storedSize = 0;
  stored.clear();
  TSDBPageGuard page = std::move(First);
  const uint8_t* d = page->Data();
  storedSize = GetLEI32(d + 1);
  uncompressed = GetLEI32(d + 5);
  algorithm = d[9];
  if (algorithm == 0) uncompressed = storedSize;
  if (All) Count = algorithm == 0 ? std::max(storedSize, 0) : 0;
  if (uncompressed < Count || Count < 0)
    throw ESDBException(kSDBErrInternalFileRead, "Cannot read internal file. FileSize=%d. ReadSize=%d",
                        {int64_t{uncompressed}, int64_t{Count}});
  // Without compression only the bytes asked for are needed.
  const int32_t wanted = algorithm == 0 ? Count : std::max(storedSize, 0);
  std::set<int32_t> seen{FStartPageNo};
  int32_t offset = kHeader, index = 0;
  while (static_cast<int32_t>(stored.size()) < wanted) {
    int32_t n = std::min(dataSize - offset, wanted - static_cast<int32_t>(stored.size()));
    stored.insert(stored.end(), page->Data() + offset, page->Data() + offset + n);
    if (static_cast<int32_t>(stored.size()) >= wanted) break;
    int32_t next = page->NextPageNo();
    ++index;
    if (next == -1 || !seen.insert(next).second) break;
    page = GetChainPage(SessionID, next, index, SynchronizeAllowed);
    offset = 0;
  }
  if (static_cast<int32_t>(stored.size()) < wanted)
    throw ESDBException(kSDBErrInternalFileReadCount, "Cannot read % bytes from internal file. FileSize=%d. ReadSize=%d, Count=%d",
                        {int64_t{storedSize}, int64_t{static_cast<int32_t>(stored.size())}, int64_t{Count}});
}

void TSDBInternalDBTransactedAccessFile::CheckContentSize(int64_t Size) {
  // A damaged header cannot make us allocate more than the file could hold.
  const int32_t dataSize = LPageManager.PageDataSize();
  if (LPageManager.HasFewerPagesThan((Size + dataSize - 1) / dataSize)) {
    const int64_t limit = int64_t{LPageManager.GetPageCount()} * dataSize;
    throw ESDBException(kSDBErrInternalFileRead, "Cannot read internal file. FileSize=%d. ReadSize=%d",
                        {int64_t{static_cast<int32_t>(limit)}, Size});
  }
}

std::vector<uint8_t> TSDBInternalDBTransactedAccessFile::ReadStored(int SessionID) {
  CheckOpen("ReadFile");
  std::vector<uint8_t> stored;
  int32_t uncompressed = 0;
  uint8_t algorithm = 0;
  ReadStoredBytes(SessionID, GetChainPage(SessionID, FStartPageNo, 0, true), 0, true, true, stored, uncompressed,
                  algorithm);
  // A later decompression allocates the uncompressed size.
  CheckContentSize(uncompressed);
  std::vector<uint8_t> out(5 + stored.size());
  out[0] = algorithm;
  PutLEI32(out.data() + 1, uncompressed);
  if (!stored.empty()) std::memcpy(out.data() + 5, stored.data(), stored.size());
  return out;
}

void TSDBInternalDBTransactedAccessFile::ReadFile(int SessionID, uint8_t* Buffer, int32_t Count,
                                                  bool SynchronizeAllowed) {
  CheckOpen("ReadFile");
  ReadContent(SessionID, GetChainPage(SessionID, FStartPageNo, 0, SynchronizeAllowed), Buffer, Count,
              SynchronizeAllowed);
}

void TSDBInternalDBTransactedAccessFile::ReadContent(int SessionID, TSDBPageGuard First, uint8_t* Buffer,
                                                     int32_t Count, bool SynchronizeAllowed) {
  std::vector<uint8_t> stored;
  int32_t uncompressed = 0;
  uint8_t algorithm = 0;
  ReadStoredBytes(SessionID, std::move(First), Count, false, SynchronizeAllowed, stored, uncompressed, algorithm);
  if (algorithm == 0) {
    if (Count) std::memcpy(Buffer, stored.data(), static_cast<size_t>(Count));
    return;
  }
  std::vector<uint8_t> plain = Decompressed(algorithm, stored.data(), stored.size(), uncompressed);
  if (Count) std::memcpy(Buffer, plain.data(), static_cast<size_t>(Count));
}

std::vector<uint8_t> TSDBInternalDBTransactedAccessFile::Decompressed(uint8_t algorithm, const uint8_t* stored,
                                                                       size_t size, int32_t uncompressed) {
  if (algorithm == 0) return std::vector<uint8_t>(stored, stored + size);
  std::vector<uint8_t> plain;
  int64_t produced = uncompressed;
  if (algorithm > acaPPM || uncompressed < 0 ||
      !DecompressBuffer(static_cast<TSDBCompressionAlgorithm>(algorithm), stored, static_cast<int64_t>(size),
                        produced, plain))
    throw ESDBException(kSDBErrInternalFileDecompression, "Table file decompression error. Possible table corruption (%s)",
                        {std::string("the stored content does not decompress")});
  if (produced != uncompressed)
    throw ESDBException(kSDBErrInternalFileDecompression, "Table file decompression error. Possible table corruption (%s)",
                        {std::string("size mismatch")});
  plain.resize(static_cast<size_t>(uncompressed));
  return plain;
}

std::vector<uint8_t> TSDBInternalDBTransactedAccessFile::ContentOfStored(const std::vector<uint8_t>& Stored) {
  if (Stored.size() < 5)
    throw ESDBException(kSDBErrInternalFileDecompression, "Table file decompression error. Possible table corruption (%s)",
                        {std::string("size mismatch")});
  return Decompressed(Stored[0], Stored.data() + 5, Stored.size() - 5, GetLEI32(Stored.data() + 1));
}

std::vector<uint8_t> TSDBInternalDBTransactedAccessFile::ReadAll(int SessionID, bool SynchronizeAllowed) {
  CheckOpen("ReadAll");
  // The first page is taken once: its header gives the size, and the
  // content starts on it.
  TSDBPageGuard first = GetChainPage(SessionID, FStartPageNo, 0, SynchronizeAllowed);
  const uint8_t* d = first->Data();
  int32_t size = d[9] ? GetLEI32(d + 5) : GetLEI32(d + 1);
  if (size < 0) size = 0;
  CheckContentSize(size);
  std::vector<uint8_t> out(static_cast<size_t>(size));
  ReadContent(SessionID, std::move(first), out.data(), size, SynchronizeAllowed);
  return out;
}

void TSDBInternalDBTransactedAccessFile::WriteFile(int SessionID, const uint8_t* Buffer, int32_t Count,
                                                   uint8_t Algorithm, uint8_t CompressionMode) {
  CheckOpen("WriteFile");
  std::vector<uint8_t> compressed;
  const uint8_t* stored = Buffer;
  int32_t storedSize = Count;
  if (Algorithm != 0 && Count > 0) {
    TSDBCompressedStreamBlockHeader header;
    if (Algorithm > acaPPM ||
        !CompressBuffer(static_cast<TSDBCompressionAlgorithm>(Algorithm), CompressionMode, Buffer, header,
                        compressed, Count))
      throw ESDBException(kSDBErrInternalFileCompression, "Table file compression error");
    stored = compressed.data();
    storedSize = static_cast<int32_t>(compressed.size());
  } else if (Count == 0) {
    Algorithm = 0;
  }
  SetFileSize(SessionID, storedSize, Count, Algorithm);
  const int32_t dataSize = LPageManager.PageDataSize();
  TSDBPageGuard page = GetChainPage(SessionID, FStartPageNo, 0);
  int32_t offset = kHeader, done = 0, index = 0;
  while (true) {
    int32_t n = std::min(dataSize - offset, storedSize - done);
    if (n > 0) std::memcpy(page->Data() + offset, stored + done, static_cast<size_t>(n));
    page->MarkDirty();
    done += n;
    if (done >= storedSize) break;
    ++index;
    page = GetChainPage(SessionID, page->NextPageNo(), index);
    offset = 0;
  }
}

bool TSDBInternalDBTransactedAccessFile::LockFile() {
  CheckOpen("LockFile");
  return LPageManager.LockPageByte(FStartPageNo, 0);
}

bool TSDBInternalDBTransactedAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return LPageManager.UnlockPageByte(FStartPageNo, 0);
}

// ---------------------------------------------------------------------------
// Direct files

TSDBInternalDBDirectAccessFile::TSDBInternalDBDirectAccessFile(TSDBDiskPageManager& PageManager,
                                                               uint16_t PageTypeID)
    : LPageManager(PageManager), FPageTypeID(PageTypeID) {}

void TSDBInternalDBDirectAccessFile::CheckOpen(const char* operation) const {
  if (FStartPageNo == -1)
    throw ESDBException(kSDBErrDirectFileClosed, "Cannot perform this operation (%s) on closed internal file", {std::string(operation)});
}

void TSDBInternalDBDirectAccessFile::CreateFile(int32_t Size) {
  if (FStartPageNo != -1)
    throw ESDBException(kSDBErrDirectFileExists, "Cannot create internal file. File already exists. StartPageNo=%d",
                        {int64_t{FStartPageNo}});
  if (Size < 0) Size = 0;
  const int32_t dataSize = LPageManager.PageDataSize();
  const int32_t count = PagesFor(Size, dataSize);
  std::vector<int32_t> pages;
  pages.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) pages.push_back(LPageManager.InternalAddPage());
  std::vector<uint8_t> buf(LPageManager.PageSize());
  for (int32_t i = 0; i < count; ++i) {
    std::fill(buf.begin(), buf.end(), 0);
    SDBInitPageHeader(buf.data());
    SDBSetPageType(buf.data(), FPageTypeID);
    SDBSetNextPageNo(buf.data(), i + 1 < count ? pages[static_cast<size_t>(i) + 1] : -1);
    if (i == 0) {
      buf[kSDBPageHeaderSize] = kHeader;
      PutLEI32(buf.data() + kSDBPageHeaderSize + 1, Size);
    }
    LPageManager.InternalWritePage(pages[static_cast<size_t>(i)], buf.data(), false);
  }
  FStartPageNo = pages.front();
  FPageNumbers = std::move(pages);
  FSize = Size;
}

void TSDBInternalDBDirectAccessFile::OpenFile(int32_t StartPageNo, int64_t Owner) {
  CloseFile();
  if (StartPageNo < 0) throw ESDBException(kSDBErrInternalFileStartPage, "Invalid page number");
  if (const auto* chain = LPageManager.FindDirectChain(StartPageNo, FPageTypeID, Owner)) {
    FPageNumbers = chain->Pages;
    FSize = chain->Size;
    FStartPageNo = StartPageNo;
    return;
  }
  const int32_t dataSize = LPageManager.PageDataSize();
  int32_t total = LPageManager.DBHeader().TotalPageCount;
  std::vector<int32_t> pages;
  std::set<int32_t> seen;
  uint8_t header[kSDBPageHeaderSize];
  uint8_t fileHeader[kHeader];
  int32_t pageNo = StartPageNo;
  while (pageNo != -1) {
    auto index = static_cast<int32_t>(pages.size());
    // The count in memory may be older than the file: another process may
    // have grown it for this very chain. Read again only when it matters.
    if (pageNo >= total) total = std::max(total, LPageManager.GetPageCount());
    if (pageNo < 0 || pageNo >= total || LPageManager.IsSystemPage(pageNo) || !seen.insert(pageNo).second)
      ChainError(index);
    LPageManager.ReadPageRegion(header, pageNo, 0, kSDBPageHeaderSize);
    uint16_t type = SDBGetPageType(header);
    if (type != FPageTypeID)
      throw ESDBException(kSDBErrInternalFilePageType, "Invalid PageType found: %d but expecting: %d",
                          {int64_t{type}, int64_t{FPageTypeID}});
    if (pages.empty()) LPageManager.ReadPageRegion(fileHeader, pageNo, kSDBPageHeaderSize, kHeader);
    pages.push_back(pageNo);
    pageNo = SDBGetNextPageNo(header);
  }
  // The size recorded at creation; a damaged value cannot reach beyond the
  // pages of the chain.
  int64_t capacity = int64_t{static_cast<int32_t>(pages.size())} * dataSize - kHeader;
  int32_t size = GetLEI32(fileHeader + 1);
  FSize = static_cast<int32_t>(std::clamp<int64_t>(size, 0, capacity));
  FPageNumbers = std::move(pages);
  FStartPageNo = StartPageNo;
  LPageManager.KeepDirectChain(StartPageNo, FPageTypeID, FPageNumbers, FSize, Owner);
}

void TSDBInternalDBDirectAccessFile::CloseFile() noexcept {
  FStartPageNo = -1;
  FSize = 0;
  FPageNumbers.clear();
}

void TSDBInternalDBDirectAccessFile::DeleteFile(int32_t StartPageNo) {
  OpenFile(StartPageNo);
  std::vector<int32_t> pages = FPageNumbers;
  CloseFile();
  for (int32_t pageNo : pages) LPageManager.InternalRemovePage(pageNo);
}

int32_t TSDBInternalDBDirectAccessFile::GetSize() const {
  CheckOpen("GetSize");
  return FSize;
}

void TSDBInternalDBDirectAccessFile::Locate(int32_t position, int32_t& pageNo, int32_t& offset) const {
  const int32_t dataSize = LPageManager.PageDataSize();
  int64_t p = int64_t{position} + kHeader;
  auto index = static_cast<size_t>(p / dataSize);
  if (position < 0 || index >= FPageNumbers.size())
    throw ESDBException(kSDBErrInternalFileSeekBeyondEnd, "Seek position bigger than file size. FileSize=%d. Position=%d",
                        {int64_t{FSize}, int64_t{position}});
  pageNo = FPageNumbers[index];
  offset = kSDBPageHeaderSize + static_cast<int32_t>(p % dataSize);
}

void TSDBInternalDBDirectAccessFile::ReadBuffer(void* Buffer, int32_t Count, int32_t Position) {
  CheckOpen("DirectReadBuffer");
  if (Position < 0 || Position > FSize || Count < 0 || int64_t{Position} + Count > FSize)
    throw ESDBException(kSDBErrInternalFileSeekBeyondEnd, "Seek position bigger than file size. FileSize=%d. Position=%d",
                        {int64_t{FSize}, int64_t{Position} + std::max(Count, 0)});
  auto* out = static_cast<uint8_t*>(Buffer);
  const int32_t pageEnd = LPageManager.PageSize();
  while (Count > 0) {
    int32_t pageNo, offset;
    Locate(Position, pageNo, offset);
    int32_t n = std::min(Count, pageEnd - offset);
    LPageManager.ReadPageRegion(out, pageNo, offset, n);
    out += n;
    Position += n;
    Count -= n;
  }
}

void TSDBInternalDBDirectAccessFile::WriteBuffer(const void* Buffer, int32_t Count, int32_t Position) {
  CheckOpen("DirectWriteBuffer");
  if (Position < 0 || Count < 0 || int64_t{Position} + Count > FSize)
    throw ESDBException(kSDBErrInternalFileWriteBeyondEnd, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {int64_t{FSize}, int64_t{Position}, int64_t{Count}});
  const auto* in = static_cast<const uint8_t*>(Buffer);
  const int32_t pageEnd = LPageManager.PageSize();
  while (Count > 0) {
    int32_t pageNo, offset;
    Locate(Position, pageNo, offset);
    int32_t n = std::min(Count, pageEnd - offset);
    LPageManager.WritePageRegion(in, pageNo, offset, n);
    in += n;
    Position += n;
    Count -= n;
  }
}

bool TSDBInternalDBDirectAccessFile::LockFile() {
  CheckOpen("LockFile");
  return LPageManager.LockPageByte(FStartPageNo, 0);
}

bool TSDBInternalDBDirectAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return LPageManager.UnlockPageByte(FStartPageNo, 0);
}

bool TSDBInternalDBDirectAccessFile::LockByte(int32_t ByteNo) {
  CheckOpen("LockByte");
  int32_t pageNo, offset;
  Locate(ByteNo, pageNo, offset);
  return LPageManager.LockPageByte(pageNo, offset);
}

bool TSDBInternalDBDirectAccessFile::UnlockByte(int32_t ByteNo) {
  CheckOpen("UnlockByte");
  int32_t pageNo, offset;
  Locate(ByteNo, pageNo, offset);
  return LPageManager.UnlockPageByte(pageNo, offset);
}

bool TSDBInternalDBDirectAccessFile::IsByteLocked(int32_t ByteNo) {
  CheckOpen("IsByteLocked");
  int32_t pageNo, offset;
  Locate(ByteNo, pageNo, offset);
  return LPageManager.IsPageByteLocked(pageNo, offset);
}

bool TSDBInternalDBDirectAccessFile::IsRegionLocked(int32_t ByteNo, int32_t ByteCount) {
  CheckOpen("IsRegionLocked");
  const int32_t pageEnd = LPageManager.PageSize();
  // Pages that follow each other in the file are tested as one range (one
  // lock-and-release instead of one per page): a locks file for many
  // sessions spans hundreds of pages. The page headers inside such a range
  // are never lock targets (only content bytes are, and byte 0 of the first
  // page, which no range from content reaches).
  int32_t runPage = -1, runOffset = 0, lastPage = -1;
  int64_t runCount = 0;
  bool lastReachedEnd = false;
  while (ByteCount > 0) {
    int32_t pageNo, offset;
    Locate(ByteNo, pageNo, offset);
    int32_t n = std::min(ByteCount, pageEnd - offset);
    if (runPage >= 0 && lastReachedEnd && pageNo == lastPage + 1 && runCount + offset + n <= INT32_MAX) {
      runCount += offset + n;  // the next page's header, then its content
    } else {
      if (runPage >= 0 && LPageManager.IsPageRegionLocked(runPage, runOffset, static_cast<int32_t>(runCount)))
        return true;
      runPage = pageNo;
      runOffset = offset;
      runCount = n;
    }
    lastPage = pageNo;
    lastReachedEnd = offset + n == pageEnd;
    ByteNo += n;
    ByteCount -= n;
  }
  return runPage >= 0 && LPageManager.IsPageRegionLocked(runPage, runOffset, static_cast<int32_t>(runCount));
}

}  // namespace sdb
