// Record page index and BLOB page index.
#include "BTreeTestUtil.h"

using namespace sdb;
using namespace sdbtest;

namespace {

class RecordPageIndex : public ::testing::Test {
 protected:
  void SetUp() override { index.CreateIndex(0); }
  TMemoryPageManager pm{256};
  TSDBBTreeRecordPageIndex index{pm, 10};
};

TEST_F(RecordPageIndex, EmptyIndexHasNoPages) {
  int32_t page = -1;
  EXPECT_FALSE(index.FindPageForNewRecord(0, page));
  EXPECT_FALSE(index.GetFirstRecordPage(0, page));
  EXPECT_FALSE(index.GetLastRecordPage(0, page));
  int32_t on = 0;
  std::string msg;
  EXPECT_EQ(NativeOf([&] { index.GetRecordByRecNo(0, page, on, 0); }, &msg), 20113);
  EXPECT_EQ(msg, "Cannot set RecNo greater than RecordCount");
  index.Validate(0, 0);
}

TEST_F(RecordPageIndex, CountsNavigationAndRecordNumbers) {
  // Pages 100, 102, ... 298 with 1..10 records (page p holds p % 10 + 1).
  int64_t total = 0;
  for (int32_t p = 298; p >= 100; p -= 2) {
    index.AddRecord(0, p, p % 10 + 1);
    total += p % 10 + 1;
  }
  index.CheckIntegrity(0);
  EXPECT_EQ(index.GetRecordCount(0), total);
  int32_t page = 0;
  ASSERT_TRUE(index.GetFirstRecordPage(0, page));
  EXPECT_EQ(page, 100);
  ASSERT_TRUE(index.GetLastRecordPage(0, page));
  EXPECT_EQ(page, 298);
  int visited = 1;
  while (index.GetPriorRecordPage(0, page, page)) ++visited;
  EXPECT_EQ(visited, 100);
  EXPECT_EQ(page, 100);
  ASSERT_TRUE(index.GetNextRecordPage(0, 100, page));
  EXPECT_EQ(page, 102);
  EXPECT_FALSE(index.GetNextRecordPage(0, 298, page));
  std::string msg;
  EXPECT_EQ(NativeOf([&] { index.GetNextRecordPage(0, 101, page); }, &msg), 20110);
  EXPECT_EQ(msg, "Invalid page number");

  // Record numbers: page 100 holds 1 record, 102 holds 3, 104 holds 5.
  int32_t on = -1;
  index.GetRecordByRecNo(0, page, on, 0);
  EXPECT_EQ(page, 100);
  EXPECT_EQ(on, 0);
  index.GetRecordByRecNo(0, page, on, 3);
  EXPECT_EQ(page, 102);
  EXPECT_EQ(on, 2);
  index.GetRecordByRecNo(0, page, on, 4);
  EXPECT_EQ(page, 104);
  EXPECT_EQ(on, 0);
  EXPECT_EQ(NativeOf([&] { index.GetRecordByRecNo(0, page, on, total); }), 20113);
  int64_t recNo = -1;
  index.GetRecNoByRecord(0, 104, recNo, 2);
  EXPECT_EQ(recNo, 6);
  EXPECT_EQ(NativeOf([&] { index.GetRecNoByRecord(0, 105, recNo, 0); }), 20114);

  index.Validate(0, total);
  EXPECT_EQ(NativeOf([&] { index.Validate(0, total + 1); }, &msg), 20292);
  EXPECT_EQ(msg, "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=" +
                     std::to_string(total) + ", MostUpdated.RecordCount=" + std::to_string(total + 1));
}

TEST_F(RecordPageIndex, FullPagesAreRefusedAndEmptiedPagesLeave) {
  index.AddRecord(0, 5, 10);
  std::string msg;
  EXPECT_EQ(NativeOf([&] { index.AddRecord(0, 5, 1); }, &msg), 20106);
  EXPECT_EQ(msg, "Cannot add data item to page. Page is full");
  int32_t page = -1;
  EXPECT_FALSE(index.FindPageForNewRecord(0, page));
  index.DeleteRecord(0, 5);  // one less
  ASSERT_TRUE(index.FindPageForNewRecord(0, page));
  EXPECT_EQ(page, 5);
  index.DeleteRecord(0, 5, 0);  // the page is gone from the index
  uint16_t v;
  EXPECT_FALSE(index.GetPageValue(0, 5, v));
  EXPECT_EQ(NativeOf([&] { index.DeleteRecord(0, 5); }, &msg), 20104);
  EXPECT_EQ(msg, "Invalid page number");
}

TEST_F(RecordPageIndex, RoomIsSoughtInTheLastThenTheFirstLeaf) {
  // Enough pages for several leaves; all full except one in the first leaf
  // and one in a middle leaf (which the search never looks at).
  for (int32_t p = 1; p <= 200; ++p) index.AddRecord(0, p, 10);
  index.DeleteRecord(0, 2, 9);
  index.DeleteRecord(0, 100, 9);
  int32_t page = -1;
  ASSERT_TRUE(index.FindPageForNewRecord(0, page));
  EXPECT_EQ(page, 2);
  index.AddRecord(0, 2);
  EXPECT_FALSE(index.FindPageForNewRecord(0, page));
  index.DeleteRecord(0, 199, 3);
  ASSERT_TRUE(index.FindPageForNewRecord(0, page));
  EXPECT_EQ(page, 199);
}

TEST(BlobPageIndex, UsedBytesAndRoomForANewBlob) {
  TMemoryPageManager pm(256);  // D = 216: a page takes up to 213 bytes
  TSDBBTreeBlobPageIndex index(pm);
  index.CreateIndex(0);
  index.AddBlob(0, 100, 7);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(0, 7), 100);
  int32_t page = -1;
  ASSERT_TRUE(index.FindPageForNewBlob(0, 90, page));  // 100 + 90 + 22 < 214
  EXPECT_EQ(page, 7);
  EXPECT_FALSE(index.FindPageForNewBlob(0, 92, page));
  EXPECT_EQ(NativeOf([&] { index.AddBlob(0, 114, 7); }), 20106);
  index.AddBlob(0, 50, 7);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(0, 7), 150);
  std::string msg;
  EXPECT_EQ(NativeOf([&] { index.DeleteBlob(0, 151, 7); }, &msg), 20112);
  EXPECT_EQ(msg, "Index error: page is empty");
  index.DeleteBlob(0, 150, 7);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(0, 7), 0);
  EXPECT_EQ(NativeOf([&] { index.DeleteBlob(0, 1, 7); }), 20105);
}

TEST(PageIndexLifecycle, EmptyDropAndCommitThroughTheCache) {
  TMemoryPageManager pm(256);
  TSDBBTreeRecordPageIndex index(pm, 50);
  int32_t root = index.CreateIndex(0);
  for (int32_t p = 0; p < 500; ++p) index.AddRecord(0, p, 3);
  pm.ApplyChanges(0);
  size_t pages = pm.Disk.size();
  EXPECT_GT(pages, 10u);
  // Another index object opened on the committed root sees the same data.
  TSDBBTreeRecordPageIndex other(pm, 50);
  other.OpenIndex(root);
  EXPECT_EQ(other.GetRecordCount(1), 1500);
  index.EmptyIndex(0);
  EXPECT_EQ(index.RootPageNo(), root);
  EXPECT_EQ(index.GetRecordCount(0), 0);
  // Rolled back: everything is still there.
  pm.CancelChanges(0);
  EXPECT_EQ(index.GetRecordCount(0), 1500);
  index.DropIndex(0);
  EXPECT_EQ(index.RootPageNo(), -1);
  pm.ApplyChanges(0);
  EXPECT_TRUE(pm.Disk.empty());
  std::string msg;
  EXPECT_EQ(NativeOf([&] { index.AddRecord(0, 1); }, &msg), 20115);
  EXPECT_EQ(msg, "Index error: invalid page number");
}

// The slot FindPageForNewRecord answers lets the AddRecord that follows
// change the found page's entry without a second search. The record is
// counted on the page it is added to and on no other: a slot is used only
// for its own page and only where the leaf still holds that page, else
// the add searches.
TEST(RecordPageIndexSlot, AddCountsOnThePageAddedToWhateverTheSlotSays) {
  struct Case {
    const char* name;
    // Runs between the search and the add; answers the page added to.
    std::function<int32_t(TSDBBTreeRecordPageIndex& index, int32_t found)> between;
  };
  const Case cases[] = {
      {"nothing", [](auto&, int32_t found) { return found; }},
      {"the add is for another page", [](auto&, int32_t) { return int32_t{1000}; }},
      // Against the rule (the index changed between), but seen: the leaf no
      // longer holds the page where the slot says.
      {"entries inserted before it moved it",
       [](TSDBBTreeRecordPageIndex& index, int32_t found) {
         for (int32_t p = 2; p < found; p += 2) index.AddRecord(0, p, 10);
         return found;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryPageManager pm(256);
    TSDBBTreeRecordPageIndex index(pm, 10);
    index.CreateIndex(0);
    for (int32_t p = 1; p < 151; p += 2) index.AddRecord(0, p, 10);
    index.AddRecord(0, 151, 4);
    int32_t found = -1;
    TSDBPageIndexSlot slot;
    ASSERT_TRUE(index.FindPageForNewRecord(0, found, &slot));
    ASSERT_EQ(found, 151);
    const int32_t target = c.between(index, found);
    std::map<int32_t, int> expect;
    for (const auto& [p, v] : index.GetAllEntries(0)) expect[p] = v;
    index.AddRecord(0, target, 1, &slot);
    ++expect[target];
    index.CheckIntegrity(0);
    std::map<int32_t, int> now;
    for (const auto& [p, v] : index.GetAllEntries(0)) now[p] = v;
    EXPECT_EQ(now, expect);
  }
}

}  // namespace
