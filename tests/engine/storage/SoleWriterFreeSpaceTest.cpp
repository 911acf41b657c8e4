// A writer alone on its file (single-user) keeps its free-space bitmaps and
// header counters in memory between allocations instead of re-reading them.
// Growing, shrinking and a rolled-back batch must leave the file as if every
// allocation had read them again: every page's usage bit right, the header
// page count equal to the file's size, and the rows there after a reopen.
#include <gtest/gtest.h>

#include <filesystem>

#include "../table/TableTestUtil.h"
#include "storage/maintenance/SDBDatabaseCheck.h"
#include "storage/table/SDBTableCursor.h"

using namespace sdb;
using namespace sdbtest;

namespace {

class SoleWriterFreeSpaceTest : public TableFixture {
 protected:
  void SetUp() override {
    TableFixture::SetUp();
    std::vector<std::unique_ptr<TSDBIndexDef>> ix;
    ix.push_back(IndexDef("BYID", {{"ID"}}));
    db.CreateTable("T", Fields({{"ID", aftInteger}, {"NOTE", aftMemo}}), {}, Indexes(std::move(ix)));
  }
  static void InsertRows(TSDBTableCursor& c, int from, int count, size_t blobSize) {
    for (int i = from; i < from + count; ++i) {
      c.Insert();
      c.SetFieldValue(0, TSDBVariant::FromInt(i));
      c.WriteBlob(1, Bytes(blobSize, static_cast<uint32_t>(i)));
      c.Post();
    }
  }
  void ExpectFileSound(const char* step) {
    SCOPED_TRACE(step);
    TSDBDiskPageManager& pm = db.Cache().DiskPageManager();
    const int32_t pages = pm.GetPageCount();
    db.CloseDatabase();
    const TSDBDatabaseCheckResult r = SDBCheckDatabase(path);
    for (const auto& p : r.Problems) ADD_FAILURE() << p;
    db.OpenDatabase(path);
    EXPECT_EQ(pm.DBHeader().TotalPageCount, pages);
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(path)),
              pm.OffsetToFirstPage() + int64_t{pages} * pm.PageSize());
  }
};

TEST_F(SoleWriterFreeSpaceTest, GrowShrinkAndRollbackKeepBitmapsRight) {
  {
    TSDBTableCursor c(SDBTableOpener(db));
    c.Open("T");
    c.BeginBatchUpdate();
    InsertRows(c, 0, 300, 9000);
    c.EndBatchUpdate(true);
    c.Close();
  }
  ExpectFileSound("grown");
  {
    // Two thirds go, and with them most BLOB pages: the file shrinks.
    TSDBTableCursor c(SDBTableOpener(db));
    c.Open("T");
    for (c.First(); !c.Eof();) {
      if (c.GetFieldValue(0).AsInt64() % 3 != 0)
        c.Delete();
      else
        c.Next();
    }
    // Pages taken by a batch that is then dropped go back to free space.
    c.BeginBatchUpdate();
    InsertRows(c, 1000, 100, 5000);
    c.EndBatchUpdate(false);
    InsertRows(c, 2000, 50, 3000);
    c.Close();
  }
  ExpectFileSound("shrunk, rolled back and grown again");
  TSDBTableCursor c(SDBTableOpener(db));
  c.Open("T");
  EXPECT_EQ(c.RecordCount(), 100 + 50);
  c.SetIndexName("BYID");
  ASSERT_TRUE(c.FindKey({TSDBVariant::FromInt(2049)}));
  EXPECT_EQ(c.ReadBlob(1), Bytes(3000, 2049));
  EXPECT_FALSE(c.FindKey({TSDBVariant::FromInt(1000)}));
  c.Close();
}

}  // namespace

// A header whose last-used page lies far beyond the file (damage, or a
// writer that died between header writes) must not make the next page
// allocation grow the file out to that page.
TEST_F(SoleWriterFreeSpaceTest, LastUsedPageBeyondTheFileDoesNotGrowIt) {
  TSDBDiskPageManager& pm = db.Cache().DiskPageManager();
  const int64_t before = static_cast<int64_t>(std::filesystem::file_size(path));
  pm.DBHeader().LastUsedPageNo = 1000000;
  pm.WriteDBHeader();
  Reopen();
  {
    TSDBTableCursor c(SDBTableOpener(db));
    c.Open("T");
    InsertRows(c, 0, 20, 3000);
    c.Close();
  }
  EXPECT_LT(static_cast<int64_t>(std::filesystem::file_size(path)), before + 512 * 1024);
}
