// The two per-table page indexes as the table layer uses them:
//   record page index: which record pages a table has and how many records
//     each holds (page choice for inserts, physical navigation, record
//     numbers);
//   BLOB page index: which small-BLOB pages a table has and how many bytes
//     each uses (page choice for new small BLOBs).
// Both map a page number (Integer) to a Word value; the root page number is
// kept in the table metadata. The table layer only sees these interfaces,
// so the index structure behind them can change without touching it.
// Both are B-trees over index pages; their pages take part in the
// session's transaction like every other page.
#pragma once

#include <cstdint>
#include <memory>

#include "storage/file/SDBPageCache.h"
#include "storage/table/SDBBTree.h"

namespace sdb {

class TSDBRecordPageIndexBase {
 public:
  virtual ~TSDBRecordPageIndexBase() = default;
  // A new, empty index; RootPageNo() is then its root.
  virtual void CreateIndex(int SessionID) = 0;
  virtual void OpenIndex(int32_t RootPageNo) = 0;
  virtual int32_t RootPageNo() const = 0;
  // Removes every entry (the root stays).
  virtual void EmptyIndex(int SessionID) = 0;
  // Frees every page of the index.
  virtual void DropIndex(int SessionID) = 0;

  // Found (optional) answers where the page's entry is, for the AddRecord
  // of that page that follows with nothing else changing the index between.
  virtual bool FindPageForNewRecord(int SessionID, int32_t& PageNo, TSDBPageIndexSlot* Found = nullptr) = 0;
  virtual void AddRecord(int SessionID, int32_t PageNo, int AddCount, const TSDBPageIndexSlot* Found = nullptr) = 0;
  // NewItemCount < 0: one less.
  virtual void DeleteRecord(int SessionID, int32_t PageNo, int NewItemCount) = 0;
  virtual bool GetFirstRecordPage(int SessionID, int32_t& PageNo) = 0;
  virtual bool GetLastRecordPage(int SessionID, int32_t& PageNo) = 0;
  virtual bool GetNextRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) = 0;
  virtual bool GetPriorRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) = 0;
  // RecNo zero-based.
  virtual void GetRecordByRecNo(int SessionID, int32_t& PageNo, int32_t& RecNoOnPage, int64_t RecNo) = 0;
  virtual void GetRecNoByRecord(int SessionID, int32_t PageNo, int64_t& RecNo, int32_t RecNoOnPage) = 0;
  virtual void Validate(int SessionID, int64_t StoredRecordCount) = 0;
};

class TSDBBlobPageIndexBase {
 public:
  virtual ~TSDBBlobPageIndexBase() = default;
  virtual void CreateIndex(int SessionID) = 0;
  virtual void OpenIndex(int32_t RootPageNo) = 0;
  virtual int32_t RootPageNo() const = 0;
  virtual void EmptyIndex(int SessionID) = 0;
  virtual void DropIndex(int SessionID) = 0;

  // Found as for record pages.
  virtual bool FindPageForNewBlob(int SessionID, int32_t BlobSize, int32_t& PageNo,
                                  TSDBPageIndexSlot* Found = nullptr) = 0;
  virtual void AddBlob(int SessionID, int32_t BlobSize, int32_t PageNo, const TSDBPageIndexSlot* Found = nullptr) = 0;
  virtual void DeleteBlob(int SessionID, int32_t BlobSize, int32_t PageNo) = 0;
  virtual int32_t GetBlobPageAllocatedSpace(int SessionID, int32_t PageNo) = 0;
};

// The B-tree page indexes (page-number keys, Word values) of the table.
std::unique_ptr<TSDBRecordPageIndexBase> SDBCreateRecordPageIndex(TSDBPageManager& PageManager,
                                                                  int32_t MaxRecordsOnPage);
std::unique_ptr<TSDBBlobPageIndexBase> SDBCreateBlobPageIndex(TSDBPageManager& PageManager);

}  // namespace sdb
