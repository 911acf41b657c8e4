#include "storage/table/SDBRecordPageIndex.h"

#include "storage/table/SDBBTree.h"

namespace sdb {

namespace {

class TRecordPageIndex : public TSDBRecordPageIndexBase {
 public:
  TRecordPageIndex(TSDBPageManager& PageManager, int32_t MaxRecordsOnPage) : FTree(PageManager, MaxRecordsOnPage) {}
  void CreateIndex(int SessionID) override { FTree.CreateIndex(SessionID); }
  void OpenIndex(int32_t RootPageNo) override { FTree.OpenIndex(RootPageNo); }
  int32_t RootPageNo() const override { return FTree.RootPageNo(); }
  void EmptyIndex(int SessionID) override { FTree.EmptyIndex(SessionID); }
  void DropIndex(int SessionID) override {
    if (FTree.RootPageNo() >= 0) FTree.DropIndex(SessionID);
  }
  bool FindPageForNewRecord(int SessionID, int32_t& PageNo, TSDBPageIndexSlot* Found) override {
    return FTree.FindPageForNewRecord(SessionID, PageNo, Found);
  }
  void AddRecord(int SessionID, int32_t PageNo, int AddCount, const TSDBPageIndexSlot* Found) override {
    FTree.AddRecord(SessionID, PageNo, AddCount, Found);
  }
  void DeleteRecord(int SessionID, int32_t PageNo, int NewItemCount) override {
    FTree.DeleteRecord(SessionID, PageNo, NewItemCount);
  }
  bool GetFirstRecordPage(int SessionID, int32_t& PageNo) override { return FTree.GetFirstRecordPage(SessionID, PageNo); }
  bool GetLastRecordPage(int SessionID, int32_t& PageNo) override { return FTree.GetLastRecordPage(SessionID, PageNo); }
  bool GetNextRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) override {
    return FTree.GetNextRecordPage(SessionID, CurrentPageNo, PageNo);
  }
  bool GetPriorRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) override {
    return FTree.GetPriorRecordPage(SessionID, CurrentPageNo, PageNo);
  }
  void GetRecordByRecNo(int SessionID, int32_t& PageNo, int32_t& RecNoOnPage, int64_t RecNo) override {
    FTree.GetRecordByRecNo(SessionID, PageNo, RecNoOnPage, RecNo);
  }
  void GetRecNoByRecord(int SessionID, int32_t PageNo, int64_t& RecNo, int32_t RecNoOnPage) override {
    FTree.GetRecNoByRecord(SessionID, PageNo, RecNo, RecNoOnPage);
  }
  void Validate(int SessionID, int64_t StoredRecordCount) override { FTree.Validate(SessionID, StoredRecordCount); }

 private:
  TSDBBTreeRecordPageIndex FTree;
};

class TBlobPageIndex : public TSDBBlobPageIndexBase {
 public:
  explicit TBlobPageIndex(TSDBPageManager& PageManager) : FTree(PageManager) {}
  void CreateIndex(int SessionID) override { FTree.CreateIndex(SessionID); }
  void OpenIndex(int32_t RootPageNo) override { FTree.OpenIndex(RootPageNo); }
  int32_t RootPageNo() const override { return FTree.RootPageNo(); }
  void EmptyIndex(int SessionID) override { FTree.EmptyIndex(SessionID); }
  void DropIndex(int SessionID) override {
    if (FTree.RootPageNo() >= 0) FTree.DropIndex(SessionID);
  }
  // BlobSize here is the whole entry (stored bytes + entry header); the
  // tree adds the header to the size it is asked to find room for.
  bool FindPageForNewBlob(int SessionID, int32_t BlobSize, int32_t& PageNo, TSDBPageIndexSlot* Found) override {
    return FTree.FindPageForNewBlob(SessionID, BlobSize - TSDBBTreeBlobPageIndex::kBlobItemOverhead, PageNo, Found);
  }
  void AddBlob(int SessionID, int32_t BlobSize, int32_t PageNo, const TSDBPageIndexSlot* Found) override {
    FTree.AddBlob(SessionID, BlobSize, PageNo, Found);
  }
  void DeleteBlob(int SessionID, int32_t BlobSize, int32_t PageNo) override {
    FTree.DeleteBlob(SessionID, BlobSize, PageNo);
  }
  int32_t GetBlobPageAllocatedSpace(int SessionID, int32_t PageNo) override {
    return FTree.GetBlobPageAllocatedSpace(SessionID, PageNo);
  }

 private:
  TSDBBTreeBlobPageIndex FTree;
};

}  // namespace

std::unique_ptr<TSDBRecordPageIndexBase> SDBCreateRecordPageIndex(TSDBPageManager& PageManager,
                                                                  int32_t MaxRecordsOnPage) {
  return std::make_unique<TRecordPageIndex>(PageManager, MaxRecordsOnPage);
}

std::unique_ptr<TSDBBlobPageIndexBase> SDBCreateBlobPageIndex(TSDBPageManager& PageManager) {
  return std::make_unique<TBlobPageIndex>(PageManager);
}

}  // namespace sdb
