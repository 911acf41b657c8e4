#include "storage/table/SDBBlobManager.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/file/SDBCompressedBlobStream.h"
#include "storage/file/SDBStream.h"

namespace sdb {

namespace {

constexpr int kHdr = kSDBBlobEntryHeaderSize;

[[noreturn]] void CannotRead(int code = kSDBErrBlobValueRead) { throw ESDBException(code, "Cannot read BLOB field value"); }

// The offset of entry ItemNo on a small-value page's data D bytes long, or -1
// when the page does not hold it or its entries run past the page (every
// entry walked over is checked against the page's end).
int32_t FindSmallEntry(const uint8_t* d, int32_t D, uint16_t ItemNo) {
  const uint16_t count = GetLE16(d);
  int32_t off = 2;
  for (uint16_t i = 0; i < count; ++i) {
    if (off + kHdr > D) return -1;
    const int64_t sz = GetLEI64(d + off + 6);
    if (sz < 0 || off + kHdr + sz > D) return -1;
    if (GetLE16(d + off) == ItemNo) return off;
    off += kHdr + static_cast<int32_t>(sz);
  }
  return -1;
}

void SaveEntryHeader(uint8_t* p, uint16_t item, const TSDBDiskBLOBCache& v) {
  PutLE16(p, item);
  PutLEI32(p + 2, v.NumBlocks);
  PutLEI64(p + 6, static_cast<int64_t>(v.BlobData.size()));
  PutLEI64(p + 14, v.UncompressedSize);
}

}  // namespace

TSDBDiskBlobManager::TSDBDiskBlobManager(TSDBPageManager& PageManager, TSDBBaseFieldManager& FieldManager,
                                         int32_t TableID)
    : LPageManager(PageManager), LFieldManager(FieldManager), FTableID(TableID) {}

void TSDBDiskBlobManager::CreateBlobPageIndex(int SessionID) {
  FBlobPageIndex = SDBCreateBlobPageIndex(LPageManager);
  FBlobPageIndex->CreateIndex(SessionID);
}

void TSDBDiskBlobManager::OpenBlobPageIndex(int32_t RootPageNo) {
  FBlobPageIndex = SDBCreateBlobPageIndex(LPageManager);
  FBlobPageIndex->OpenIndex(RootPageNo);
}

TSDBFieldDef& TSDBDiskBlobManager::BlobField(int FieldNo) {
  TSDBFieldDef& f = LFieldManager.Field(FieldNo);
  if (!f.IsBlob()) throw ESDBException(kSDBErrBlobFieldNotFound, "Cannot find blob field");
  return f;
}

uint32_t TSDBDiskBlobManager::Handle(const uint8_t* Mem, int FieldNo) const {
  return GetLE32(Mem + LFieldManager.FFieldDefs[FieldNo].FMemoryOffset + TSDBPageItemID::kSize);
}

void TSDBDiskBlobManager::SetHandle(uint8_t* Mem, int FieldNo, uint32_t H) const {
  PutLE32(Mem + LFieldManager.FFieldDefs[FieldNo].FMemoryOffset + TSDBPageItemID::kSize, H);
}

TSDBPageItemID TSDBDiskBlobManager::GetDirectBlobInfoFromRecordBuffer(const uint8_t* Mem, int FieldNo) const {
  LFieldManager.CheckFieldNo(FieldNo);
  TSDBPageItemID id;
  id.Load(Mem + LFieldManager.FFieldDefs[FieldNo].FMemoryOffset);
  return id;
}

void TSDBDiskBlobManager::SetDirectBlobInfoFromRecordBuffer(uint8_t* Mem, int FieldNo, const TSDBPageItemID& Ref) const {
  LFieldManager.CheckFieldNo(FieldNo);
  Ref.Save(Mem + LFieldManager.FFieldDefs[FieldNo].FMemoryOffset);
}

// ---- Cache entries ------------------------------------------------------------------------

TSDBDiskBLOBCache& TSDBDiskBlobManager::ReadBlob(int SessionID, uint8_t* Mem, int FieldNo) {
  BlobField(FieldNo);
  uint32_t h = Handle(Mem, FieldNo);
  auto it = FBlobCacheList.find(h);
  if (h != 0 && it != FBlobCacheList.end()) return it->second;
  TSDBDiskBLOBCache entry;
  TSDBPageItemID ref = GetDirectBlobInfoFromRecordBuffer(Mem, FieldNo);
  if (ref.PageNo > 0) LoadStoredBlob(SessionID, ref, entry);
  h = FNextHandle++;
  if (FNextHandle == 0) FNextHandle = 1;
  SetHandle(Mem, FieldNo, h);
  return FBlobCacheList[h] = std::move(entry);
}

std::vector<uint8_t> TSDBDiskBlobManager::GetBlobValue(int SessionID, uint8_t* Mem, int FieldNo) {
  TSDBFieldDef& f = BlobField(FieldNo);
  // A value the buffer has no cache entry for is read straight from its
  // pages: an entry made here would only be dropped again when the cursor
  // moves on (a scan reads every record's value once).
  const uint32_t h = Handle(Mem, FieldNo);
  const auto cached = h ? FBlobCacheList.find(h) : FBlobCacheList.end();
  TSDBDiskBLOBCache loaded;
  if (cached == FBlobCacheList.end()) {
    const TSDBPageItemID ref = GetDirectBlobInfoFromRecordBuffer(Mem, FieldNo);
    if (ref.PageNo > 0) LoadStoredBlob(SessionID, ref, loaded);
  }
  TSDBDiskBLOBCache& c = cached == FBlobCacheList.end() ? loaded : cached->second;
  if (c.UncompressedSize == 0) return {};
  if (c.UncompressedSize < 0 || c.UncompressedSize > int64_t{1} << 31) CannotRead(kSDBErrBlobValueSize);
  // Stored as it is: the stored bytes are the value.
  if (f.FBLOBCompressionAlgorithm == acaNone && static_cast<int64_t>(c.BlobData.size()) == c.UncompressedSize) {
    if (&c == &loaded) return std::move(loaded.BlobData);
    return c.BlobData;
  }
  TSDBMemoryStream stored(c.BlobData);
  TSDBBLOBDescriptor d;
  d.BlockSize = f.FBLOBBlockSize;
  d.NumBlocks = c.NumBlocks;
  d.UncompressedSize = c.UncompressedSize;
  d.CompressionAlgorithm = f.FBLOBCompressionAlgorithm;
  d.CompressionMode = f.FBLOBCompressionMode;
  TSDBCompressedBLOBStream s(stored, false, false, d);
  std::vector<uint8_t> out(static_cast<size_t>(c.UncompressedSize));
  if (s.Read(out.data(), static_cast<int64_t>(out.size())) != static_cast<int64_t>(out.size())) CannotRead(kSDBErrBlobValueSize);
  return out;
}

std::string TSDBDiskBlobManager::GetBlobText(int SessionID, uint8_t* Mem, int FieldNo) {
  const TSDBFieldDef& f = BlobField(FieldNo);
  const uint32_t h = Handle(Mem, FieldNo);
  const TSDBPageItemID ref = GetDirectBlobInfoFromRecordBuffer(Mem, FieldNo);
  if (f.FBLOBCompressionAlgorithm == acaNone && (h == 0 || !FBlobCacheList.count(h)) && ref.PageNo > 0 &&
      ref.PageItemNo != kSDBLargeBlobItemID && ref.PageItemNo != kSDBAmbiguousBlobItemID) {
    // Read straight from its small-value page when stored as it is.
    TSDBPageGuard g = SDBGetPageGuard(LPageManager, SessionID, ref.PageNo, ptTableBlob);
    const uint8_t* d = g->Data();
    const int32_t off = FindSmallEntry(d, LPageManager.PageDataSize(), ref.PageItemNo);
    if (off >= 0) {
      const int64_t sz = GetLEI64(d + off + 6);
      if (GetLEI64(d + off + 14) == sz)
        return std::string(reinterpret_cast<const char*>(d + off + kHdr), static_cast<size_t>(sz));
    }
    // Stored otherwise, or not found: the general way below decides.
  }
  const std::vector<uint8_t> v = GetBlobValue(SessionID, Mem, FieldNo);
  return std::string(v.begin(), v.end());
}

void TSDBDiskBlobManager::SetBlobValue(uint8_t* Mem, int FieldNo, const uint8_t* Data, size_t Size) {
  TSDBFieldDef& f = BlobField(FieldNo);
  TSDBDiskBLOBCache entry;
  entry.Modified = true;
  if (Size > 0) {
    TSDBMemoryStream stored;
    TSDBBLOBDescriptor d;
    d.BlockSize = f.FBLOBBlockSize;
    d.CompressionAlgorithm = f.FBLOBCompressionAlgorithm;
    d.CompressionMode = f.FBLOBCompressionMode;
    {
      TSDBCompressedBLOBStream s(stored, false, true, d);
      s.Write(Data, static_cast<int64_t>(Size));
    }
    entry.NumBlocks = static_cast<int32_t>(d.NumBlocks);
    entry.UncompressedSize = static_cast<int64_t>(Size);
    entry.BlobData = std::move(stored.Memory());
  }
  uint32_t h = Handle(Mem, FieldNo);
  if (h == 0 || !FBlobCacheList.count(h)) {
    h = FNextHandle++;
    if (FNextHandle == 0) FNextHandle = 1;
    SetHandle(Mem, FieldNo, h);
  }
  FBlobCacheList[h] = std::move(entry);
  LFieldManager.SetNull(Mem, FieldNo, Size == 0);
}

void TSDBDiskBlobManager::ClearBlobInRecordBuffer(uint8_t* Mem, int FieldNo) {
  BlobField(FieldNo);
  uint32_t h = Handle(Mem, FieldNo);
  if (h) FBlobCacheList.erase(h);
  SetHandle(Mem, FieldNo, 0);
}

void TSDBDiskBlobManager::ClearBlobsCacheInRecordBuffer(uint8_t* Mem) {
  // A field without a handle has nothing to drop (every record read while
  // a cursor moves).
  for (int i = 0; i < LFieldManager.FieldCount(); ++i)
    if (LFieldManager.FFieldDefs[i].IsBlob() && Handle(Mem, i) != 0) ClearBlobInRecordBuffer(Mem, i);
}

void TSDBDiskBlobManager::WriteBlob(int SessionID, uint8_t* Mem, int FieldNo) {
  BlobField(FieldNo);
  uint32_t h = Handle(Mem, FieldNo);
  auto it = h ? FBlobCacheList.find(h) : FBlobCacheList.end();
  if (it == FBlobCacheList.end() || !it->second.Modified) return;
  TSDBPageItemID old = GetDirectBlobInfoFromRecordBuffer(Mem, FieldNo);
  if (old.PageNo > 0) RemoveStoredBlob(SessionID, old);
  TSDBPageItemID ref{-1, kSDBLargeBlobItemID};
  if (it->second.UncompressedSize != 0) ref = StoreBlob(SessionID, it->second);
  SetDirectBlobInfoFromRecordBuffer(Mem, FieldNo, ref);
  LFieldManager.SetNull(Mem, FieldNo, ref.PageNo <= 0);
  FBlobCacheList.erase(it);
  SetHandle(Mem, FieldNo, 0);
}

void TSDBDiskBlobManager::WriteBlobs(int SessionID, uint8_t* Mem) {
  for (int i = 0; i < LFieldManager.FieldCount(); ++i)
    if (LFieldManager.FFieldDefs[i].IsBlob()) WriteBlob(SessionID, Mem, i);
}

void TSDBDiskBlobManager::DeleteBlob(int SessionID, uint8_t* Mem, int FieldNo) {
  BlobField(FieldNo);
  TSDBPageItemID ref = GetDirectBlobInfoFromRecordBuffer(Mem, FieldNo);
  if (ref.PageNo > 0) RemoveStoredBlob(SessionID, ref);
  SetDirectBlobInfoFromRecordBuffer(Mem, FieldNo, {-1, kSDBLargeBlobItemID});
  ClearBlobInRecordBuffer(Mem, FieldNo);
}

void TSDBDiskBlobManager::DeleteBlobs(int SessionID, uint8_t* Mem) {
  for (int i = 0; i < LFieldManager.FieldCount(); ++i)
    if (LFieldManager.FFieldDefs[i].IsBlob()) DeleteBlob(SessionID, Mem, i);
}

void TSDBDiskBlobManager::Delete(int SessionID) {
  FBlobCacheList.clear();
  if (FBlobPageIndex) FBlobPageIndex->DropIndex(SessionID);
}

// ---- Stored values ---------------------------------------------------------------------------

int32_t TSDBDiskBlobManager::LargePageCount(int64_t S) const {
  const int64_t D = LPageManager.PageDataSize();
  const int64_t first = D - kSDBLargeBlobDataOffset;
  if (S <= first) return 1;
  return static_cast<int32_t>(1 + (S - first + D - 1) / D);
}

TSDBPageItemID TSDBDiskBlobManager::StoreBlob(int SessionID, const TSDBDiskBLOBCache& V) {
  if (static_cast<int64_t>(V.BlobData.size()) + 24 < LPageManager.PageDataSize()) return StoreSmall(SessionID, V);
  return StoreLarge(SessionID, V);
}

TSDBPageItemID TSDBDiskBlobManager::StoreSmall(int SessionID, const TSDBDiskBLOBCache& V) {
  if (!FBlobPageIndex) throw ESDBException(kSDBErrSmallBlobPageMissing, "Nil pointer occured");
  const int32_t need = static_cast<int32_t>(V.BlobData.size()) + kHdr;
  const int32_t D = LPageManager.PageDataSize();
  int32_t pageNo = -1;
  TSDBPageGuard g;
  TSDBPageIndexSlot found;
  if (FBlobPageIndex->FindPageForNewBlob(SessionID, need, pageNo, &found)) {
    g = SDBGetPageGuard(LPageManager, SessionID, pageNo, ptTableBlob);
  } else {
    g = SDBAddPageGuard(LPageManager, SessionID, ptTableBlob);
    std::memset(g->Data(), 0, g->DataSize());
    PutLEI32(g->Buffer() + TSDBDiskPageHeader::kObjectIDOffset, FTableID);
    pageNo = g->PageNo();
  }
  uint8_t* d = g->Data();
  const uint16_t count = GetLE16(d);
  // Walk the entries: the end of the used area, and whether the identifier
  // a new entry usually gets (the entry count) is taken.
  int32_t off = 2;
  bool countTaken = false;
  for (uint16_t i = 0; i < count; ++i) {
    if (off + kHdr > D) CannotRead();
    if (GetLE16(d + off) == count) countTaken = true;
    const int64_t sz = GetLEI64(d + off + 6);
    if (sz < 0 || off + kHdr + sz > D) CannotRead();
    off += kHdr + static_cast<int32_t>(sz);
  }
  if (off + need > D)
    throw ESDBException(kSDBErrBlobPageFull,
                        "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, PageDataSize=%d, "
                        "SizeInBlobPageIndex=%d",
                        {int64_t{count}, int64_t{off}, int64_t{need}, int64_t{D},
                         int64_t{FBlobPageIndex->GetBlobPageAllocatedSpace(SessionID, pageNo)}});
  uint16_t item = count;
  if (countTaken || item == kSDBLargeBlobItemID) {
    // The next free identifier after it, from those in use (the walk above
    // checked every entry's bounds).
    std::vector<uint16_t> used;
    used.reserve(count);
    for (int32_t at = 2, i = 0; i < count; ++i) {
      used.push_back(GetLE16(d + at));
      at += kHdr + static_cast<int32_t>(GetLEI64(d + at + 6));
    }
    std::sort(used.begin(), used.end());
    auto taken = [&](uint16_t id) { return std::binary_search(used.begin(), used.end(), id); };
    while (taken(item) || item == kSDBLargeBlobItemID) item = item >= 65534 ? 0 : static_cast<uint16_t>(item + 1);
  }
  SaveEntryHeader(d + off, item, V);
  if (!V.BlobData.empty()) std::memcpy(d + off + kHdr, V.BlobData.data(), V.BlobData.size());
  PutLE16(d, static_cast<uint16_t>(count + 1));
  g->MarkDirty();
  g.Release();
  FBlobPageIndex->AddBlob(SessionID, need, pageNo, &found);
  return {pageNo, item};
}

TSDBPageItemID TSDBDiskBlobManager::StoreLarge(int SessionID, const TSDBDiskBLOBCache& V) {
  const int32_t D = LPageManager.PageDataSize();
  const int64_t S = static_cast<int64_t>(V.BlobData.size());
  const int32_t n = LargePageCount(S);
  std::vector<int32_t> pages;
  pages.reserve(static_cast<size_t>(n));
  const uint8_t* src = V.BlobData.data();
  int64_t left = S;
  int32_t lastUsed = 0;  // bytes used in the last data page
  for (int32_t i = 0; i < n; ++i) {
    TSDBPageGuard g = SDBAddPageGuard(LPageManager, SessionID, ptTableBlob);
    std::memset(g->Data(), 0, g->DataSize());
    PutLEI32(g->Buffer() + TSDBDiskPageHeader::kObjectIDOffset, FTableID);
    const int32_t start = i == 0 ? kSDBLargeBlobDataOffset : 0;
    const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(left, D - start));
    if (chunk > 0) std::memcpy(g->Data() + start, src, static_cast<size_t>(chunk));
    src += chunk;
    left -= chunk;
    lastUsed = start + chunk;
    g->MarkDirty();
    pages.push_back(g->PageNo());
  }
  // The page list: after the data of the last data page when an entry
  // fits there, else on new pages; continued on pages chained by NextPageNo.
  int32_t listPage = pages.back();
  int32_t listOffset = lastUsed;
  TSDBPageGuard lg;
  if (D - lastUsed >= 4) {
    lg = SDBGetPageGuard(LPageManager, SessionID, listPage, ptTableBlob);
  } else {
    lg = SDBAddPageGuard(LPageManager, SessionID, ptTableBlob);
    std::memset(lg->Data(), 0, lg->DataSize());
    PutLEI32(lg->Buffer() + TSDBDiskPageHeader::kObjectIDOffset, FTableID);
    listPage = lg->PageNo();
    listOffset = 0;
  }
  int32_t off = listOffset;
  for (int32_t p : pages) {
    if (off + 4 > D) {
      TSDBPageGuard next = SDBAddPageGuard(LPageManager, SessionID, ptTableBlob);
      std::memset(next->Data(), 0, next->DataSize());
      PutLEI32(next->Buffer() + TSDBDiskPageHeader::kObjectIDOffset, FTableID);
      lg->SetNextPageNo(next->PageNo());
      lg->MarkDirty();
      lg = std::move(next);
      off = 0;
    }
    PutLEI32(lg->Data() + off, p);
    off += 4;
  }
  lg->MarkDirty();
  lg.Release();
  TSDBPageGuard first = SDBGetPageGuard(LPageManager, SessionID, pages.front(), ptTableBlob);
  SaveEntryHeader(first->Data(), kSDBLargeBlobItemID, V);
  PutLEI32(first->Data() + 22, listPage);
  PutLE16(first->Data() + 26, static_cast<uint16_t>(listOffset));
  PutLEI32(first->Data() + 28, n);
  first->MarkDirty();
  return {pages.front(), kSDBLargeBlobItemID};
}

bool TSDBDiskBlobManager::LoadSmall(int SessionID, const TSDBPageItemID& Ref, TSDBDiskBLOBCache* Out) {
  TSDBPageGuard g = SDBGetPageGuard(LPageManager, SessionID, Ref.PageNo, ptTableBlob);
  const uint8_t* d = g->Data();
  const int32_t off = FindSmallEntry(d, LPageManager.PageDataSize(), Ref.PageItemNo);
  if (off < 0) return false;
  if (Out) {
    const int64_t sz = GetLEI64(d + off + 6);
    Out->NumBlocks = GetLEI32(d + off + 2);
    Out->UncompressedSize = GetLEI64(d + off + 14);
    Out->BlobData.assign(d + off + kHdr, d + off + kHdr + sz);
    Out->Modified = false;
  }
  return true;
}

bool TSDBDiskBlobManager::LoadLarge(int SessionID, int32_t FirstPageNo, TSDBDiskBLOBCache* Out,
                                    std::vector<int32_t>* Pages) {
  const int32_t D = LPageManager.PageDataSize();
  int64_t S;
  int32_t listPage, n, numBlocks;
  uint16_t listOffset;
  int64_t uncompressed;
  {
    TSDBPageGuard g = SDBGetPageGuard(LPageManager, SessionID, FirstPageNo, ptTableBlob);
    const uint8_t* d = g->Data();
    numBlocks = GetLEI32(d + 2);
    S = GetLEI64(d + 6);
    uncompressed = GetLEI64(d + 14);
    listPage = GetLEI32(d + 22);
    listOffset = GetLE16(d + 26);
    n = GetLEI32(d + 28);
  }
  if (S < 0 || n < 1 || n != LargePageCount(S) || listOffset > D - 4 || listPage < 0) return false;
  std::vector<int32_t> dataPages;
  dataPages.reserve(static_cast<size_t>(n));
  std::vector<int32_t> listPages{listPage};
  {
    TSDBPageGuard lg = SDBGetPageGuard(LPageManager, SessionID, listPage, ptTableBlob);
    int32_t off = listOffset;
    while (static_cast<int32_t>(dataPages.size()) < n) {
      if (off + 4 > D) {
        int32_t next = lg->NextPageNo();
        if (next < 0 || std::find(listPages.begin(), listPages.end(), next) != listPages.end()) return false;
        lg = SDBGetPageGuard(LPageManager, SessionID, next, ptTableBlob);
        listPages.push_back(next);
        off = 0;
      }
      dataPages.push_back(GetLEI32(lg->Data() + off));
      off += 4;
    }
  }
  if (dataPages.front() != FirstPageNo) return false;
  if (Out) {
    Out->NumBlocks = numBlocks;
    Out->UncompressedSize = uncompressed;
    Out->Modified = false;
    Out->BlobData.resize(static_cast<size_t>(S));
    int64_t done = 0;
    for (int32_t i = 0; i < n; ++i) {
      TSDBPageGuard g = SDBGetPageGuard(LPageManager, SessionID, dataPages[static_cast<size_t>(i)], ptTableBlob);
      const int32_t start = i == 0 ? kSDBLargeBlobDataOffset : 0;
      const int64_t chunk = std::min<int64_t>(S - done, D - start);
      if (chunk > 0) std::memcpy(Out->BlobData.data() + done, g->Data() + start, static_cast<size_t>(chunk));
      done += chunk;
    }
  }
  if (Pages) {
    std::set<int32_t> all(dataPages.begin(), dataPages.end());
    all.insert(listPages.begin(), listPages.end());
    Pages->assign(all.begin(), all.end());
  }
  return true;
}

bool TSDBDiskBlobManager::AmbiguousIsLarge(int SessionID, int32_t PageNo) {
  TSDBPageGuard g = SDBGetPageGuard(LPageManager, SessionID, PageNo, ptTableBlob);
  const int64_t S = GetLEI64(g->Data() + 6);
  const int32_t n = GetLEI32(g->Data() + 28);
  return S >= 0 && n >= 1 && n == LargePageCount(S);
}

void TSDBDiskBlobManager::LoadStoredBlob(int SessionID, const TSDBPageItemID& Ref, TSDBDiskBLOBCache& Out) {
  if (Ref.PageNo <= 0) {
    Out = TSDBDiskBLOBCache{};
    return;
  }
  bool ok;
  if (Ref.PageItemNo == kSDBLargeBlobItemID) {
    ok = LoadLarge(SessionID, Ref.PageNo, &Out, nullptr);
  } else if (Ref.PageItemNo == kSDBAmbiguousBlobItemID) {
    const bool large = AmbiguousIsLarge(SessionID, Ref.PageNo);
    ok = large ? LoadLarge(SessionID, Ref.PageNo, &Out, nullptr) : LoadSmall(SessionID, Ref, &Out);
    if (!ok) ok = large ? LoadSmall(SessionID, Ref, &Out) : LoadLarge(SessionID, Ref.PageNo, &Out, nullptr);
  } else {
    ok = LoadSmall(SessionID, Ref, &Out);
  }
  if (!ok) CannotRead();
}

std::vector<int32_t> TSDBDiskBlobManager::LargeBlobPages(int SessionID, int32_t FirstPageNo) {
  std::vector<int32_t> pages;
  if (!LoadLarge(SessionID, FirstPageNo, nullptr, &pages)) CannotRead();
  return pages;
}

bool TSDBDiskBlobManager::RemoveSmall(int SessionID, const TSDBPageItemID& Ref) {
  if (!FBlobPageIndex) throw ESDBException(kSDBErrSmallBlobPageMissing, "Nil pointer occured");
  const int32_t D = LPageManager.PageDataSize();
  int32_t freed = 0;
  bool empty = false;
  {
    TSDBPageGuard g = SDBGetPageGuard(LPageManager, SessionID, Ref.PageNo, ptTableBlob);
    uint8_t* d = g->Data();
    const uint16_t count = GetLE16(d);
    int32_t off = 2, found = -1, end = 2;
    for (uint16_t i = 0; i < count; ++i) {
      if (off + kHdr > D) return false;
      const int64_t sz = GetLEI64(d + off + 6);
      if (sz < 0 || off + kHdr + sz > D) return false;
      if (found < 0 && GetLE16(d + off) == Ref.PageItemNo) {
        found = off;
        freed = kHdr + static_cast<int32_t>(sz);
      }
      off += kHdr + static_cast<int32_t>(sz);
      end = off;
    }
    if (found < 0) return false;
    std::memmove(d + found, d + found + freed, static_cast<size_t>(end - found - freed));
    std::memset(d + end - freed, 0, static_cast<size_t>(freed));
    PutLE16(d, static_cast<uint16_t>(count - 1));
    g->MarkDirty();
    empty = count == 1;
  }
  FBlobPageIndex->DeleteBlob(SessionID, freed, Ref.PageNo);
  if (empty) LPageManager.RemovePage(SessionID, Ref.PageNo);
  return true;
}

void TSDBDiskBlobManager::RemoveStoredBlob(int SessionID, const TSDBPageItemID& Ref) {
  if (Ref.PageNo <= 0) return;
  auto removeLarge = [&]() {
    std::vector<int32_t> pages;
    if (!LoadLarge(SessionID, Ref.PageNo, nullptr, &pages)) return false;
    for (int32_t p : pages) LPageManager.RemovePage(SessionID, p);
    return true;
  };
  bool ok;
  if (Ref.PageItemNo == kSDBLargeBlobItemID) {
    ok = removeLarge();
  } else if (Ref.PageItemNo == kSDBAmbiguousBlobItemID) {
    const bool large = AmbiguousIsLarge(SessionID, Ref.PageNo);
    ok = large ? removeLarge() : RemoveSmall(SessionID, Ref);
    if (!ok) ok = large ? RemoveSmall(SessionID, Ref) : removeLarge();
  } else {
    ok = RemoveSmall(SessionID, Ref);
  }
  if (!ok) CannotRead();
}

}  // namespace sdb
