#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "sdb/SDBException.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBFreeSpace.h"

using namespace sdb;

namespace {

// The file as the free-space manager sees it, kept in memory.
class TMemStore : public TSDBFreeSpaceStore {
 public:
  TMemStore(uint16_t pageSize, uint16_t extent) : FPageSize(pageSize), FExtent(extent) {}
  uint16_t FSPageSize() const override { return FPageSize; }
  uint16_t FSPageCountInExtent() const override { return FExtent; }
  void FSLockHeader(int code) override {
    if (!LockAvailable) throw ESDBException(code, "Database is locked");
    ++Locks;
  }
  void FSUnlockHeader() override { --Locks; }
  void FSReadCounters(int32_t& total, int32_t& last) override {
    total = static_cast<int32_t>(Pages.size());
    last = LastUsed;
  }
  void FSWriteLastUsedPageNo(int32_t last) override { LastUsed = last; }
  void FSReadPage(int32_t n, uint8_t* buf) override {
    std::copy(Pages.at(static_cast<size_t>(n)).begin(), Pages.at(static_cast<size_t>(n)).end(), buf);
  }
  void FSWritePage(int32_t n, uint8_t* buf) override {
    Pages.at(static_cast<size_t>(n)).assign(buf, buf + FPageSize);
  }
  void FSExtendFile(int32_t count) override {
    EXPECT_GT(Locks, 0);
    for (int32_t i = 0; i < count; ++i) Pages.emplace_back(FPageSize, 0);
  }
  void FSTruncateFile(int32_t count) override {
    EXPECT_GT(Locks, 0);
    Pages.resize(Pages.size() - static_cast<size_t>(count));
  }
  int32_t Total() const { return static_cast<int32_t>(Pages.size()); }
  bool Bit(int32_t n, int32_t pfsAddressed) {
    auto& pfs = Pages[static_cast<size_t>(n / pfsAddressed * pfsAddressed)];
    int32_t r = n % pfsAddressed;
    return (pfs[40 + r / 8] >> (r % 8)) & 1;
  }

  std::vector<std::vector<uint8_t>> Pages;
  int32_t LastUsed = -1;
  int Locks = 0;
  bool LockAvailable = true;

 private:
  uint16_t FPageSize, FExtent;
};

int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESDBException& e) {
    return e.NativeError();
  }
  return 0;
}

TEST(FreeSpace, FirstAllocationGrowsEmptyFileToSixPagesAndYieldsPage2) {
  TMemStore store(4096, 8);
  TSDBDatabaseFreeSpaceManager fsm(store);
  EXPECT_EQ(fsm.GetPage(), 2);
  EXPECT_EQ(store.Total(), 6);
  EXPECT_EQ(store.LastUsed, 2);
  EXPECT_EQ(SDBGetPageType(store.Pages[0].data()), ptPFS);
  EXPECT_EQ(SDBGetPageType(store.Pages[1].data()), ptEAM);
  EXPECT_EQ(store.Pages[0][40], 0x07);  // pages 0, 1, 2 in use
  EXPECT_EQ(store.Pages[1][40] & 3, 1);  // extent 0: some pages used
  EXPECT_EQ(store.Locks, 0);
  // The next pages follow, then the file grows by one extent (a tenth of 6
  // is less than the 8 pages of an extent).
  EXPECT_EQ(fsm.GetPage(), 3);
  EXPECT_EQ(fsm.GetPage(), 4);
  EXPECT_EQ(fsm.GetPage(), 5);
  EXPECT_EQ(store.Total(), 6);
  EXPECT_EQ(fsm.GetPage(), 6);
  EXPECT_EQ(store.Total(), 14);
  for (int32_t p = 7; p < 8; ++p) EXPECT_EQ(fsm.GetPage(), p);
  // Extent 0 is now full.
  EXPECT_EQ(fsm.GetExtentUsageFromEAM(0), 3);
  EXPECT_EQ(fsm.GetPage(), 8);
  EXPECT_EQ(fsm.GetExtentUsageFromEAM(1), 1);
}

TEST(FreeSpace, FileOnDiskGrowsToSixPages) {
  auto path = std::filesystem::temp_directory_path() / "h2_fs_first.sdb";
  {
    TSDBDiskPageCache cache;
    cache.CreateAndOpenDatabase(path.string(), TSDBPassword{});
    EXPECT_EQ(cache.FreeSpaceManager().GetPage(), 2);
    EXPECT_EQ(cache.DiskPageManager().GetPageCount(), 6);
    cache.CloseDatabase();
  }
  EXPECT_EQ(std::filesystem::file_size(path), 380u + 6u * 4096u);
  std::filesystem::remove(path);
}

TEST(FreeSpace, ReleasedPagesAreReusedLowestFirst) {
  TMemStore store(4096, 8);
  TSDBDatabaseFreeSpaceManager fsm(store);
  for (int i = 0; i < 20; ++i) fsm.GetPage();
  fsm.FreePage(9);
  fsm.FreePage(4);
  EXPECT_FALSE(fsm.GetPageUsageFromPFS(4));
  EXPECT_EQ(fsm.GetExtentUsageFromEAM(0), 1);
  EXPECT_EQ(fsm.GetPage(), 4);
  EXPECT_EQ(fsm.GetExtentUsageFromEAM(0), 3);
  EXPECT_EQ(fsm.GetPage(), 9);
  EXPECT_TRUE(fsm.GetPageUsageFromPFS(9));
}

TEST(FreeSpace, ShrinksOnlyByWholeStepsOfTrailingFreePages) {
  TMemStore store(4096, 8);
  TSDBDatabaseFreeSpaceManager fsm(store);
  std::vector<int32_t> pages;
  while (store.Total() < 100) pages.push_back(fsm.GetPage());
  // Use every page the file has.
  while (store.LastUsed < store.Total() - 1) pages.push_back(fsm.GetPage());
  const int32_t total = store.Total();
  const int32_t step = std::max(total / 10, 8);
  ASSERT_GE(total, 100);
  for (int32_t freed = 1; freed <= step; ++freed) {
    int32_t before = store.Total();
    fsm.FreePage(pages.back());
    pages.pop_back();
    int32_t trailing = before - store.LastUsed - 1;
    if (freed < step) {
      EXPECT_EQ(store.Total(), before) << "freed " << freed;
    } else {
      EXPECT_EQ(store.Total(), before - trailing / step * step);
      EXPECT_EQ((before - store.Total()) % step, 0);
    }
  }
  EXPECT_LT(store.Total(), total);
  // Freeing a page in the middle does not shrink anything.
  int32_t before = store.Total();
  fsm.FreePage(pages[pages.size() / 2]);
  EXPECT_EQ(store.Total(), before);
}

// Small pages make many bitmap groups: 8 data bytes = 64 pages per PFS page.
class FreeSpaceGroups : public ::testing::TestWithParam<int> {};

TEST_P(FreeSpaceGroups, AllocationsAvoidBitmapPagesAndMatchThePFS) {
  const auto extent = static_cast<uint16_t>(GetParam());
  TMemStore store(48, extent);
  TSDBDatabaseFreeSpaceManager fsm(store);
  std::set<int32_t> used;
  for (int i = 0; i < 300; ++i) {
    int32_t p = fsm.GetPage();
    EXPECT_FALSE(fsm.IsSystemPage(p)) << p;
    EXPECT_TRUE(used.insert(p).second) << p;
  }
  for (int32_t p : {5, 77, 140, 141, 250}) {
    if (!used.count(p)) continue;
    fsm.FreePage(p);
    used.erase(p);
  }
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(used.insert(fsm.GetPage()).second);
  for (int32_t n = 0; n < store.Total(); ++n) {
    bool sys = fsm.IsSystemPage(n);
    EXPECT_EQ(store.Bit(n, 64), sys || used.count(n) > 0) << "page " << n;
    if (n % 64 == 0) {
      EXPECT_EQ(SDBGetPageType(store.Pages[static_cast<size_t>(n)].data()), ptPFS);
    } else if (sys) {
      EXPECT_EQ(SDBGetPageType(store.Pages[static_cast<size_t>(n)].data()), ptEAM);
    }
  }
  EXPECT_FALSE(fsm.IsSystemPage(store.Total() - 1));
  // Extents whose pages are all in use are marked full, others not.
  for (int32_t x = 0; x * extent < store.Total(); ++x) {
    bool full = true;
    for (int32_t n = x * extent; n < std::min<int32_t>((x + 1) * extent, store.Total()); ++n)
      full = full && store.Bit(n, 64);
    EXPECT_EQ(fsm.GetExtentUsageFromEAM(x) == 3, full) << "extent " << x;
  }
}

INSTANTIATE_TEST_SUITE_P(Extents, FreeSpaceGroups, ::testing::Values(1, 2, 3, 8));

TEST(FreeSpace, Errors) {
  TMemStore store(4096, 8);
  TSDBDatabaseFreeSpaceManager fsm(store);
  fsm.GetPage();
  struct {
    std::function<void()> f;
    int code;
  } cases[] = {
      {[&] { fsm.FreePage(3); }, 30427},  // never allocated
      {[&] { fsm.FreePage(0); }, 30434},
      {[&] { fsm.FreePage(1); }, 30434},
      {[&] { fsm.FreePage(6); }, 30431},
      {[&] { fsm.FreePage(-1); }, 30431},
  };
  for (auto& c : cases) EXPECT_EQ(NativeOf(c.f), c.code);
  EXPECT_EQ(store.Locks, 0);
  // A bitmap page of another type is reported by name, and the lock is
  // given back.
  store.Pages[0][8] = 9;
  try {
    fsm.GetPage();
    ADD_FAILURE();
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), 30423);
    EXPECT_EQ(e.RawMessage(), "Wrong page type. Found 'TableMostUpdated Page', but expecting: 'PFS Page'");
  }
  EXPECT_EQ(store.Locks, 0);
  store.Pages[0][8] = ptPFS;
  store.LockAvailable = false;
  try {
    fsm.GetPage();
    ADD_FAILURE();
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), 20213);
    EXPECT_EQ(e.RawMessage(), "Database is locked");
  }
}

TEST(FreeSpace, TruncateDatabaseCutsAfterLastUsedPage) {
  TMemStore store(4096, 8);
  TSDBDatabaseFreeSpaceManager fsm(store);
  for (int i = 0; i < 6; ++i) fsm.GetPage();  // pages 2..7, file of 14
  ASSERT_EQ(store.Total(), 14);
  fsm.TruncateDatabase();
  EXPECT_EQ(store.Total(), 8);
  EXPECT_EQ(fsm.GetPage(), 8);
}

}  // namespace
