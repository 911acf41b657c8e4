// BLOB values of a table.
//
// A value is kept as its stored stream (compressed blocks, or the raw bytes
// when the field has no compression) with a 22-byte entry header (item
// identifier, number of blocks, stored and uncompressed size; byte layout:
// docs/database-file-format.md, section 14).
//
// Small values (stored size + 24 < PageDataSize) share BLOB pages (type
// 11): Word entry count, then the entries, each its header followed by its
// stored bytes. The record refers to (page, item identifier).
//
// Large values take pages of their own: the first page holds the entry
// header, at data offset 22 a locator (first page of the page list
// Integer, offset of the list in that page Word, number of data pages
// Integer) and stored bytes from offset 32; further pages are filled from
// offset 0. The page numbers of the data pages (first page included) follow
// the data in the last data page when at least one fits there, otherwise
// from offset 0 of a new page, continued in new pages chained through
// NextPageNo. The record refers to (first page, 0xFFFF).
//
// While a record buffer is being edited its BLOB values live in cache
// entries named by a 4-byte handle after the reference in the memory record.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/file/SDBPageCache.h"
#include "storage/table/SDBRecordManager.h"
#include "storage/table/SDBRecordPageIndex.h"

namespace sdb {

inline constexpr int kSDBBlobEntryHeaderSize = 22;
inline constexpr int kSDBLargeBlobDataOffset = 32;
inline constexpr uint16_t kSDBLargeBlobItemID = 0xFFFF;
// Earlier versions marked large values with this item identifier.
inline constexpr uint16_t kSDBAmbiguousBlobItemID = 255;

struct TSDBDiskBLOBCache {
  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  bool Modified = false;
  std::vector<uint8_t> BlobData;  // the stored bytes
};

class TSDBDiskBlobManager {
 public:
  TSDBDiskBlobManager(TSDBPageManager& PageManager, TSDBBaseFieldManager& FieldManager, int32_t TableID);

  void CreateBlobPageIndex(int SessionID);
  void OpenBlobPageIndex(int32_t RootPageNo);
  int32_t BlobPageIndexRoot() const { return FBlobPageIndex ? FBlobPageIndex->RootPageNo() : -1; }

  // The value of a BLOB field of a memory record (uncompressed bytes).
  std::vector<uint8_t> GetBlobValue(int SessionID, uint8_t* Mem, int FieldNo);
  // The same value as 8-bit text. A small value stored as it is (no cache
  // entry, no compression) is copied from its page once, straight into the
  // text.
  std::string GetBlobText(int SessionID, uint8_t* Mem, int FieldNo);
  // Replaces the value in the record buffer's cache entry (stored at the
  // next WriteBlobs). An empty value clears the field.
  void SetBlobValue(uint8_t* Mem, int FieldNo, const uint8_t* Data, size_t Size);
  void ClearBlobValue(uint8_t* Mem, int FieldNo) { SetBlobValue(Mem, FieldNo, nullptr, 0); }
  // The cache entry of the field, loaded from the file on first use.
  TSDBDiskBLOBCache& ReadBlob(int SessionID, uint8_t* Mem, int FieldNo);
  // Stores a modified cached value: the old stored value goes, the new one
  // is stored, the reference updated and the cache entry dropped.
  void WriteBlob(int SessionID, uint8_t* Mem, int FieldNo);
  void WriteBlobs(int SessionID, uint8_t* Mem);
  // Removes the stored value and sets the reference to (-1, 0xFFFF).
  void DeleteBlob(int SessionID, uint8_t* Mem, int FieldNo);
  void DeleteBlobs(int SessionID, uint8_t* Mem);
  // Drops the cache entry (the stored value stays).
  void ClearBlobInRecordBuffer(uint8_t* Mem, int FieldNo);
  void ClearBlobsCacheInRecordBuffer(uint8_t* Mem);
  // Drops every cache entry (rollback, close).
  void ClearAllCaches() { FBlobCacheList.clear(); }
  // The reference stored in a record buffer.
  TSDBPageItemID GetDirectBlobInfoFromRecordBuffer(const uint8_t* Mem, int FieldNo) const;
  void SetDirectBlobInfoFromRecordBuffer(uint8_t* Mem, int FieldNo, const TSDBPageItemID& Ref) const;
  size_t CacheEntryCount() const { return FBlobCacheList.size(); }

  // Stored-value level.
  TSDBPageItemID StoreBlob(int SessionID, const TSDBDiskBLOBCache& Value);
  void LoadStoredBlob(int SessionID, const TSDBPageItemID& Ref, TSDBDiskBLOBCache& Out);
  void RemoveStoredBlob(int SessionID, const TSDBPageItemID& Ref);
  // Pages a large value occupies (data and page-list pages), for tests and checks.
  std::vector<int32_t> LargeBlobPages(int SessionID, int32_t FirstPageNo);

  void Delete(int SessionID);

 private:
  TSDBFieldDef& BlobField(int FieldNo);
  uint32_t Handle(const uint8_t* Mem, int FieldNo) const;
  void SetHandle(uint8_t* Mem, int FieldNo, uint32_t H) const;
  TSDBPageItemID StoreSmall(int SessionID, const TSDBDiskBLOBCache& Value);
  TSDBPageItemID StoreLarge(int SessionID, const TSDBDiskBLOBCache& Value);
  bool LoadSmall(int SessionID, const TSDBPageItemID& Ref, TSDBDiskBLOBCache* Out);
  bool LoadLarge(int SessionID, int32_t FirstPageNo, TSDBDiskBLOBCache* Out, std::vector<int32_t>* Pages);
  bool RemoveSmall(int SessionID, const TSDBPageItemID& Ref);
  // Whether a reference with item 255 names a large value.
  bool AmbiguousIsLarge(int SessionID, int32_t PageNo);
  int32_t LargePageCount(int64_t StoredSize) const;

  TSDBPageManager& LPageManager;
  TSDBBaseFieldManager& LFieldManager;
  int32_t FTableID;
  std::map<uint32_t, TSDBDiskBLOBCache> FBlobCacheList;
  uint32_t FNextHandle = 1;
  std::unique_ptr<TSDBBlobPageIndexBase> FBlobPageIndex;
};

}  // namespace sdb
