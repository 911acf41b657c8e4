// Memory page manager and memory tables: the page operations and the table
// operations over pages that never reach a file.
#include <gtest/gtest.h>

#include <cstring>

#include "common/SDBException.h"
#include "storage/SDBMemoryPageManager.h"

namespace {

using namespace sdb;

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

}  // namespace
