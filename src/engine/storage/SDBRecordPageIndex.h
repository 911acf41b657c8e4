// The two per-table page indexes as the table layer uses them:
//   record page index: which record pages a table has and how many records
//     each holds (page choice for inserts, physical navigation, record
//     numbers);
//   BLOB page index: which small-BLOB pages a table has and how many bytes
//     each uses (page choice for new small BLOBs).
// Both map a page number (Integer) to a Word value; the root page number is
// kept in the table metadata. The table layer only sees these interfaces,
// so the index structure behind them can change without touching it.
//
// TSDBListPageIndex is a simple implementation: the sorted (page, value)
// entries as one transacted internal file of index pages. It takes part in
// the session's transaction like every other page.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "storage/SDBInternalFile.h"

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

  virtual bool FindPageForNewRecord(int SessionID, int32_t& PageNo) = 0;
  virtual void AddRecord(int SessionID, int32_t PageNo, int AddCount) = 0;
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

  virtual bool FindPageForNewBlob(int SessionID, int32_t BlobSize, int32_t& PageNo) = 0;
  virtual void AddBlob(int SessionID, int32_t BlobSize, int32_t PageNo) = 0;
  virtual void DeleteBlob(int SessionID, int32_t BlobSize, int32_t PageNo) = 0;
  virtual int32_t GetBlobPageAllocatedSpace(int SessionID, int32_t PageNo) = 0;
};

// Sorted (page number, value) entries kept as one internal file.
class TSDBListPageIndex {
 public:
  using TEntries = std::vector<std::pair<int32_t, uint16_t>>;

  explicit TSDBListPageIndex(TSDBPageManager& PageManager);
  void CreateIndex(int SessionID);
  void OpenIndex(int32_t RootPageNo);
  int32_t RootPageNo() const { return FFile.StartPageNo(); }
  void EmptyIndex(int SessionID);
  void DropIndex(int SessionID);

  TEntries Load(int SessionID);
  void Save(int SessionID, const TEntries& Entries);
  // The slot-0 rule: whether a page of value `Value` can take `Amount` more.
  virtual bool CanAdd(uint16_t Value, int32_t Amount) const = 0;
  virtual ~TSDBListPageIndex() = default;

 protected:
  bool FindPageWithRoom(int SessionID, int32_t Amount, int32_t& PageNo);
  void AddAmount(int SessionID, int32_t PageNo, int32_t Amount);
  // NewValue < 0: value - Amount.
  void RemoveAmount(int SessionID, int32_t PageNo, int32_t Amount, int32_t NewValue);
  static int Find(const TEntries& e, int32_t PageNo);

  TSDBPageManager& LPageManager;
  TSDBInternalDBTransactedAccessFile FFile;
};

class TSDBListRecordPageIndex : public TSDBRecordPageIndexBase, private TSDBListPageIndex {
 public:
  TSDBListRecordPageIndex(TSDBPageManager& PageManager, int32_t MaxRecordsOnPage)
      : TSDBListPageIndex(PageManager), FMaxRecordsOnPage(MaxRecordsOnPage) {}
  void CreateIndex(int SessionID) override { TSDBListPageIndex::CreateIndex(SessionID); }
  void OpenIndex(int32_t RootPageNo) override { TSDBListPageIndex::OpenIndex(RootPageNo); }
  int32_t RootPageNo() const override { return TSDBListPageIndex::RootPageNo(); }
  void EmptyIndex(int SessionID) override { TSDBListPageIndex::EmptyIndex(SessionID); }
  void DropIndex(int SessionID) override { TSDBListPageIndex::DropIndex(SessionID); }
  bool FindPageForNewRecord(int SessionID, int32_t& PageNo) override;
  void AddRecord(int SessionID, int32_t PageNo, int AddCount) override;
  void DeleteRecord(int SessionID, int32_t PageNo, int NewItemCount) override;
  bool GetFirstRecordPage(int SessionID, int32_t& PageNo) override;
  bool GetLastRecordPage(int SessionID, int32_t& PageNo) override;
  bool GetNextRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) override;
  bool GetPriorRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) override;
  void GetRecordByRecNo(int SessionID, int32_t& PageNo, int32_t& RecNoOnPage, int64_t RecNo) override;
  void GetRecNoByRecord(int SessionID, int32_t PageNo, int64_t& RecNo, int32_t RecNoOnPage) override;
  void Validate(int SessionID, int64_t StoredRecordCount) override;
  bool CanAdd(uint16_t Value, int32_t Amount) const override { return Value + Amount <= FMaxRecordsOnPage; }

 private:
  int32_t FMaxRecordsOnPage;
};

class TSDBListBlobPageIndex : public TSDBBlobPageIndexBase, private TSDBListPageIndex {
 public:
  explicit TSDBListBlobPageIndex(TSDBPageManager& PageManager)
      : TSDBListPageIndex(PageManager), FPageDataSize(PageManager.PageDataSize()) {}
  void CreateIndex(int SessionID) override { TSDBListPageIndex::CreateIndex(SessionID); }
  void OpenIndex(int32_t RootPageNo) override { TSDBListPageIndex::OpenIndex(RootPageNo); }
  int32_t RootPageNo() const override { return TSDBListPageIndex::RootPageNo(); }
  void EmptyIndex(int SessionID) override { TSDBListPageIndex::EmptyIndex(SessionID); }
  void DropIndex(int SessionID) override { TSDBListPageIndex::DropIndex(SessionID); }
  bool FindPageForNewBlob(int SessionID, int32_t BlobSize, int32_t& PageNo) override {
    return FindPageWithRoom(SessionID, BlobSize, PageNo);
  }
  void AddBlob(int SessionID, int32_t BlobSize, int32_t PageNo) override { AddAmount(SessionID, PageNo, BlobSize); }
  void DeleteBlob(int SessionID, int32_t BlobSize, int32_t PageNo) override {
    RemoveAmount(SessionID, PageNo, BlobSize, -1);
  }
  int32_t GetBlobPageAllocatedSpace(int SessionID, int32_t PageNo) override;
  bool CanAdd(uint16_t Value, int32_t Amount) const override { return Value + Amount < FPageDataSize - 2; }

 private:
  int32_t FPageDataSize;
};

}  // namespace sdb
