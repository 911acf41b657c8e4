// Memory page manager and memory tables: the page operations and the table
// operations over pages that never reach a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "../OpenFiles.h"
#include "TableTestUtil.h"
#include "sdb/SDBException.h"
#include "storage/table/SDBBlobManager.h"
#include "storage/database/SDBMemoryDatabase.h"
#include "storage/file/SDBMemoryPageManager.h"
#include "storage/table/SDBTableCursor.h"

namespace {

using namespace sdb;
using sdbtest::OpenNamedFiles;
using sdbtest::Bytes;
using sdbtest::Fields;
using sdbtest::IndexDef;
using sdbtest::Indexes;
using sdbtest::NativeOf;

constexpr int S = 0;

TEST(MemoryPageManager, CommitRollbackAndReuseOfPageNumbers) {
  TSDBMemoryPageManager pm(256, 2);
  int32_t a, b, c;
  {
    auto pa = SDBAddPageGuard(pm, S, ptTableRecord);
    auto pb = SDBAddPageGuard(pm, S, ptTableRecord);
    auto pc = SDBAddPageGuard(pm, S, ptTableRecord);
    a = pa->PageNo();
    b = pb->PageNo();
    c = pc->PageNo();
    std::memset(pa->Data(), 0xAA, pa->DataSize());
    std::memset(pb->Data(), 0xBB, pb->DataSize());
  }
  EXPECT_EQ(a, 1);  // page 0 means "no page" to the table layer
  EXPECT_EQ(pm.StoredPage(a), nullptr);
  pm.ApplyChanges(S);
  ASSERT_NE(pm.StoredPage(a), nullptr);
  EXPECT_EQ(pm.StoredPage(b)[kSDBPageHeaderSize], 0xBB);
  EXPECT_EQ(pm.UsedPageCount(), 3);

  // A change rolled back leaves the committed bytes; more pages than the
  // cache holds are read back from the store.
  {
    auto p = SDBGetPageGuard(pm, S, a, ptTableRecord);
    p->Data()[0] = 1;
    p->MarkDirty();
  }
  pm.CancelChanges(S);
  for (int32_t n : {a, b, c, a}) {
    auto p = SDBGetPageGuard(pm, S, n, ptTableRecord);
    EXPECT_EQ(p->Data()[0], n == a ? 0xAA : n == b ? 0xBB : 0);
  }

  // Removed pages are freed at commit; their numbers come back, lowest first.
  pm.RemovePage(S, a);
  EXPECT_TRUE(pm.PageInUse(a));
  pm.ApplyChanges(S);
  EXPECT_FALSE(pm.PageInUse(a));
  EXPECT_EQ(pm.UsedPageCount(), 2);
  { auto p = SDBAddPageGuard(pm, S, ptTableRecord); EXPECT_EQ(p->PageNo(), a); }
  // Pages added and rolled back are freed too.
  pm.CancelChanges(S);
  EXPECT_FALSE(pm.PageInUse(a));
  EXPECT_EQ(pm.UsedPageCount(), 2);

  // A freed page cannot be read, and its type is still checked on the others.
  EXPECT_THROW(pm.GetPage(S, a, ptTableRecord), ESDBException);
  EXPECT_THROW(pm.GetPage(S, b, ptTableIndex), ESDBException);
  EXPECT_THROW(pm.GetPage(S, 0, kSDBAnyPageType), ESDBException);
}

TEST(MemoryPageManager, TrailingFreePagesShrinkTheStoreAndClearDropsAll) {
  TSDBMemoryPageManager pm(128);
  std::vector<int32_t> pages;
  for (int i = 0; i < 5; ++i) {
    auto p = SDBAddPageGuard(pm, S, ptTableRecord);
    pages.push_back(p->PageNo());
  }
  pm.ApplyChanges(S);
  EXPECT_EQ(pm.GetPageCount(), 6);
  for (int i = 1; i < 5; ++i) pm.RemovePage(S, pages[static_cast<size_t>(i)]);
  pm.ApplyChanges(S);
  EXPECT_EQ(pm.GetPageCount(), 2);
  EXPECT_EQ(pm.UsedMemory(), 128);
  {
    auto held = SDBGetPageGuard(pm, S, pages[0], ptTableRecord);
    EXPECT_THROW(pm.Clear(), ESDBException);
  }
  pm.Clear();
  EXPECT_EQ(pm.UsedPageCount(), 0);
  EXPECT_EQ(pm.GetPageCount(), 1);
  EXPECT_THROW(TSDBMemoryPageManager(64), ESDBException);
}

// Names the memory database could have left behind.
// This process's memory-database files (other test processes running at the
// same time have their own, with their journals coming and going).
std::set<std::string> MemoryDatabaseFiles() {
  const std::string prefix = "tessaly-mem-" + std::to_string(::getpid()) + "-";
  std::set<std::string> out;
  std::error_code ec;
  for (const auto& dir : {std::filesystem::current_path(), std::filesystem::temp_directory_path(),
                          std::filesystem::path("/dev/shm")})
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
      if (e.path().filename().string().rfind(prefix, 0) == 0) out.insert(e.path().string());
  return out;
}

std::vector<uint8_t> MemoValue(int i) {
  // Every seventh value is larger than a page (a large BLOB), every fifth
  // is NULL, the others a few hundred bytes (small BLOBs sharing pages).
  if (i % 5 == 0) return {};
  return Bytes(i % 7 == 0 ? 20000 + static_cast<size_t>(i) : 100 + static_cast<size_t>(i % 300), static_cast<uint32_t>(i));
}

TEST(MemoryTable, RowsAndBlobsLiveAndDieInMemoryWithoutAnyFile) {
  const std::set<std::string> before = MemoryDatabaseFiles();
  const std::set<std::string> openBefore = OpenNamedFiles();
  {
    TSDBMemoryDatabase db;
    const int64_t empty = db.UsedMemory();
    db.CreateTable("Lines", Fields({{"ID", aftInteger}, {"NAME", aftString, 50}, {"NOTE", aftMemo}}));
    EXPECT_EQ(NativeOf([&] { db.CreateTable("LINES", Fields({{"X", aftInteger}})); }), 30395);
    EXPECT_EQ(db.GetTablesList(), std::vector<std::string>{"Lines"});

    constexpr int N = 400;
    TSDBCursor c;
    db.OpenTable(c, "lines");
    TSDBDiskTableData& t = *c.TableData;
    for (int i = 0; i < N; ++i) {
      c.EditRecordBuffer = t.NewRecordBuffer();
      t.SetFieldValue(c.EditRecordBuffer, 0, TSDBVariant::FromInt(i));
      t.SetFieldValue(c.EditRecordBuffer, 1, TSDBVariant::FromString("row " + std::to_string(i)));
      const auto memo = MemoValue(i);
      if (!memo.empty()) t.WriteBLOBFieldToRecordBuffer(c.EditRecordBuffer, 2, memo);
      ASSERT_TRUE(t.InsertRecord(c));
      if (i == 7) {
        EXPECT_EQ(t.GetDirectBlobInfo(c.CurrentRecordBuffer, 2).PageItemNo, kSDBLargeBlobItemID);
      }
      if (i == 1) {
        EXPECT_NE(t.GetDirectBlobInfo(c.CurrentRecordBuffer, 2).PageItemNo, kSDBLargeBlobItemID);
      }
    }
    EXPECT_EQ(t.GetRecordCount(c.SessionID), N);
    EXPECT_GT(db.UsedMemory(), empty + 40 * 20000);  // 46 large values

    // Read back in physical order.
    c.FirstPosition = true;
    c.LastPosition = false;
    int seen = 0;
    while (t.GetRecordBuffer(c, grmNext) == grrOK) {
      const int id = static_cast<int>(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64());
      EXPECT_EQ(id, seen);
      EXPECT_EQ(t.GetFieldValue(c.CurrentRecordBuffer, 1).AsString(), "row " + std::to_string(id));
      const auto memo = MemoValue(id);
      if (memo.empty()) {
        EXPECT_TRUE(t.FieldManager().IsNull(c.CurrentRecordBuffer.data(), 2));
      } else {
        EXPECT_EQ(t.ReadBlobField(c, c.CurrentRecordBuffer, 2), memo) << id;
      }
      ++seen;
    }
    // Delete the odd rows (a delete moves the cursor to the next row).
    c.FirstPosition = true;
    c.LastPosition = false;
    TSDBGetRecordMode mode = grmNext;
    while (t.GetRecordBuffer(c, mode) == grrOK) {
      mode = grmNext;
      if (t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64() % 2) {
        ASSERT_TRUE(t.DeleteRecord(c));
        mode = grmCurrent;
      }
    }
    EXPECT_EQ(seen, N);
    EXPECT_EQ(t.GetRecordCount(c.SessionID), N / 2);

    // A change inside a transaction is undone by a rollback.
    c.FInTransaction = true;
    c.FirstPosition = true;
    c.LastPosition = false;
    ASSERT_EQ(t.GetRecordBuffer(c, grmNext), grrOK);
    ASSERT_TRUE(t.DeleteRecord(c));
    db.Rollback(c.SessionID);
    c.FInTransaction = false;
    EXPECT_EQ(t.GetRecordCount(c.SessionID), N / 2);

    // Emptying and dropping the table give every page back.
    db.CloseTable(c);
    db.DeleteTable("Lines");
    EXPECT_FALSE(db.TableExists("Lines"));
    EXPECT_EQ(db.UsedMemory(), empty);
    EXPECT_EQ(NativeOf([&] { db.OpenTable(c, "Lines"); }), 30405);
    EXPECT_EQ(OpenNamedFiles(), openBefore);
  }
  EXPECT_EQ(MemoryDatabaseFiles(), before);
}

TEST(MemoryTable, TablesOfTwoMemoryDatabasesAreSeparate) {
  TSDBMemoryDatabase a, b;
  a.CreateTable("T", Fields({{"ID", aftInteger}}));
  b.CreateTable("T", Fields({{"NAME", aftString, 10}}));
  TSDBCursor ca, cb;
  a.OpenTable(ca, "T");
  b.OpenTable(cb, "T");
  ca.EditRecordBuffer = ca.TableData->NewRecordBuffer();
  ca.TableData->SetFieldValue(ca.EditRecordBuffer, 0, TSDBVariant::FromInt(5));
  ASSERT_TRUE(ca.TableData->InsertRecord(ca));
  EXPECT_EQ(ca.TableData->GetRecordCount(0), 1);
  EXPECT_EQ(cb.TableData->GetRecordCount(0), 0);
  a.CloseTable(ca);
  b.CloseTable(cb);
  a.RenameTable("T", "U");
  EXPECT_EQ(b.GetTablesList(), std::vector<std::string>{"T"});
  EXPECT_EQ(a.GetTablesList(), std::vector<std::string>{"U"});
}

TEST(MemoryTable, IndexesAndTheTableCursorWorkAsOnAFile) {
  TSDBMemoryDatabase db;
  std::vector<std::unique_ptr<TSDBIndexDef>> ix;
  ix.push_back(IndexDef("BYNAME", {{"NAME"}}, true));
  db.CreateTable("T", Fields({{"NUM", aftInteger}, {"NAME", aftString, 30}}), {}, Indexes(std::move(ix)));
  constexpr int N = 500;  // several index leaves
  TSDBTableCursor c(SDBTableOpener(db));
  c.Open("T");
  c.BeginBatchUpdate();
  for (int i = 0; i < N; ++i) {
    const int k = i * 7919 % N;
    c.Insert();
    c.SetFieldValue(0, TSDBVariant::FromInt(k));
    c.SetFieldValue(1, TSDBVariant::FromString("name " + std::to_string(100000 + k)));
    c.Post();
  }
  c.EndBatchUpdate(true);
  // The unique index refuses a second equal name.
  c.Insert();
  c.SetFieldValue(1, TSDBVariant::FromString("name 100007"));
  EXPECT_THROW(c.Post(), ESDBException);
  c.Cancel();

  c.SetIndexName("BYNAME");
  int expected = 0;
  for (c.First(); !c.Eof(); c.Next()) EXPECT_EQ(c.GetFieldValue(0).AsInt64(), expected++);
  EXPECT_EQ(expected, N);
  ASSERT_TRUE(c.FindKey({TSDBVariant::FromString("name 100321")}));
  EXPECT_EQ(c.GetFieldValue(0).AsInt64(), 321);
  c.Table().CheckIndexes(c.SessionID());
  c.Close();
}

}  // namespace
