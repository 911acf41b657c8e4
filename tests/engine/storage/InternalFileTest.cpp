#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <numeric>
#include <vector>

#include "sdb/SDBException.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBInternalFile.h"

using namespace sdb;

namespace {

int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESDBException& e) {
    return e.NativeError();
  }
  return 0;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return v;
}

class InternalFile : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    path = (std::filesystem::temp_directory_path() /
            ("h2_ifile_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".sdb"))
               .string();
    cache.CreateAndOpenDatabase(path, TSDBPassword{GetParam(), craTwofish_128});
    // Page 2 as the first page, as in a real database.
  }
  void TearDown() override {
    cache.CloseDatabase();
    std::filesystem::remove(path);
  }
  void Reopen() {
    cache.CloseDatabase();
    bool ro = false, repair = false, multi = false;
    cache.OpenDatabase(path, TSDBPassword{GetParam(), craRijndael_128}, ro, repair, false, multi);
    EXPECT_FALSE(repair);
  }
  int32_t D() { return cache.PageDataSize(); }

  static inline int counter = 0;
  std::string path;
  TSDBDiskPageCache cache{50};
};

TEST_P(InternalFile, TransactedFileGrowsAndIsCutWithItsContent) {
  TSDBInternalDBTransactedAccessFile f(cache, ptTableMostUpdated);
  f.CreateFile(0);
  EXPECT_EQ(f.ChainPageNumbers(0).size(), 1u);
  // Sizes around the page boundaries: ceil((S + 10) / D) pages.
  for (int32_t size : {0, D() - 10, D() - 9, 3 * D() - 10, 3 * D() + 1, 5, 2 * D()}) {
    SCOPED_TRACE(size);
    auto data = Pattern(static_cast<size_t>(size), static_cast<uint8_t>(size));
    f.WriteFile(0, data.data(), size);
    EXPECT_EQ(f.ChainPageNumbers(0).size(), static_cast<size_t>(std::max(1, (size + 10 + D() - 1) / D())));
    EXPECT_EQ(f.ReadAll(0), data);
  }
  cache.ApplyChanges(0);
  int32_t start = f.StartPageNo();
  Reopen();
  TSDBInternalDBTransactedAccessFile g(cache, ptTableMostUpdated);
  g.OpenFile(start);
  EXPECT_EQ(g.ReadAll(1), Pattern(static_cast<size_t>(2 * D()), static_cast<uint8_t>(2 * D())));
  // Cutting the chain frees the cut pages at commit and the file shrinks.
  auto before = std::filesystem::file_size(path);
  g.WriteFile(1, nullptr, 0);
  EXPECT_EQ(g.ChainPageNumbers(1).size(), 1u);
  cache.ApplyChanges(1);
  EXPECT_EQ(g.GetSize(1), 0);
  EXPECT_LE(std::filesystem::file_size(path), before);
}

TEST_P(InternalFile, CompressedContentRoundTrips) {
  TSDBInternalDBTransactedAccessFile f(cache, ptTableMetaData);
  f.CreateFile(0);
  std::vector<uint8_t> data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>("metadata "[i % 9]);
  for (uint8_t algorithm : {1, 2}) {
    f.WriteFile(0, data.data(), static_cast<int32_t>(data.size()), algorithm, 1);
    int32_t stored, uncompressed;
    uint8_t alg;
    bool changed;
    f.GetFileSize(0, stored, uncompressed, alg, changed);
    EXPECT_EQ(alg, algorithm);
    EXPECT_EQ(uncompressed, 20000);
    EXPECT_LT(stored, 2000);
    EXPECT_EQ(f.ChainPageNumbers(0).size(), 1u);
    EXPECT_EQ(f.ReadAll(0), data);
  }
  cache.ApplyChanges(0);
  int32_t start = f.StartPageNo();
  Reopen();
  TSDBInternalDBTransactedAccessFile g(cache, ptTableMetaData);
  g.OpenFile(start);
  EXPECT_EQ(g.ReadAll(0), data);
  // Damaged compressed bytes are reported, not trusted.
  {
    TSDBPageGuard p = SDBGetPageGuard(cache, 0, start, ptTableMetaData);
    p->Data()[20] ^= 0x5A;
    p->Data()[21] ^= 0x5A;
    p->MarkDirty();
  }
  EXPECT_EQ(NativeOf([&] { g.ReadAll(0); }), 20189);
  cache.CancelChanges(0);
}

TEST_P(InternalFile, TransactedFileErrors) {
  TSDBInternalDBTransactedAccessFile f(cache, ptTableList);
  std::vector<uint8_t> buf(100);
  EXPECT_EQ(NativeOf([&] { f.ReadFile(0, buf.data(), 1); }), 30389);
  f.CreateFile(0);
  EXPECT_EQ(NativeOf([&] { f.CreateFile(0); }), 30383);
  auto data = Pattern(static_cast<size_t>(2 * D()), 1);
  f.WriteFile(0, data.data(), static_cast<int32_t>(data.size()));
  EXPECT_EQ(NativeOf([&] { f.ReadFile(0, buf.data(), 3 * D()); }), 30387);
  auto chain = f.ChainPageNumbers(0);
  ASSERT_EQ(chain.size(), 3u);
  // A chain that ends too early.
  {
    TSDBPageGuard p = SDBGetPageGuard(cache, 0, chain[1], ptTableList);
    p->SetNextPageNo(-1);
    p->MarkDirty();
  }
  std::vector<uint8_t> all(data.size());
  EXPECT_EQ(NativeOf([&] { f.ReadFile(0, all.data(), static_cast<int32_t>(all.size())); }), 30388);
  // A chain that loops back on itself.
  {
    TSDBPageGuard p = SDBGetPageGuard(cache, 0, chain[1], ptTableList);
    p->SetNextPageNo(chain[0]);
    p->MarkDirty();
  }
  EXPECT_EQ(NativeOf([&] { f.ReadFile(0, all.data(), static_cast<int32_t>(all.size())); }), 30388);
  EXPECT_EQ(NativeOf([&] { f.ChainPageNumbers(0); }), 20300);
  // A chain into a page of another type.
  {
    TSDBPageGuard p = SDBGetPageGuard(cache, 0, chain[1], ptTableList);
    p->SetNextPageNo(chain[2]);
    p->MarkDirty();
    TSDBPageGuard q = SDBGetPageGuard(cache, 0, chain[2], ptTableList);
    q->SetPageType(ptTableIndex);
    q->MarkDirty();
  }
  EXPECT_EQ(NativeOf([&] { f.ReadFile(0, all.data(), static_cast<int32_t>(all.size())); }), 20153);
  cache.CancelChanges(0);
}

TEST_P(InternalFile, DirectFileRegionsAndLocks) {
  TSDBDiskPageManager& pm = cache.DiskPageManager();
  TSDBInternalDBDirectAccessFile f(pm, ptActiveSessionList);
  EXPECT_EQ(NativeOf([&] { f.GetSize(); }), 20156);
  const int32_t size = 2 * D() + 100;
  f.CreateFile(size);
  EXPECT_EQ(NativeOf([&] { f.CreateFile(10); }), 20157);
  EXPECT_EQ(f.PageNumbers().size(), 3u);
  // Content written across page boundaries comes back, also after reopening.
  auto data = Pattern(static_cast<size_t>(size), 9);
  f.WriteBuffer(data.data(), size, 0);
  std::vector<uint8_t> part(300);
  f.ReadBuffer(part.data(), 300, D() - 150);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin() + (D() - 150)));
  EXPECT_EQ(NativeOf([&] { f.WriteBuffer(data.data(), 2, size - 1); }), 20158);
  EXPECT_EQ(NativeOf([&] { f.ReadBuffer(part.data(), 1, size + 1); }), 20159);
  int32_t start = f.StartPageNo();
  Reopen();
  TSDBInternalDBDirectAccessFile g(cache.DiskPageManager(), ptActiveSessionList);
  g.OpenFile(start);
  EXPECT_EQ(g.GetSize(), size);
  std::vector<uint8_t> all(static_cast<size_t>(size));
  g.ReadBuffer(all.data(), size, 0);
  EXPECT_EQ(all, data);
  // Content bytes are lock targets; a byte already locked is refused, and
  // a region is locked when any of its bytes is.
  EXPECT_TRUE(g.LockByte(D() + 5));
  EXPECT_FALSE(g.LockByte(D() + 5));
  EXPECT_TRUE(g.IsByteLocked(D() + 5));
  EXPECT_FALSE(g.IsByteLocked(D() + 6));
  EXPECT_TRUE(g.IsRegionLocked(0, size));
  EXPECT_FALSE(g.IsRegionLocked(0, D()));
  EXPECT_TRUE(g.UnlockByte(D() + 5));
  EXPECT_FALSE(g.IsRegionLocked(0, size));
  EXPECT_TRUE(g.LockFile());
  EXPECT_FALSE(g.LockFile());
  EXPECT_TRUE(g.UnlockFile());
  // Opening with another type is refused.
  TSDBInternalDBDirectAccessFile h(cache.DiskPageManager(), ptTableLocks);
  EXPECT_EQ(NativeOf([&] { h.OpenFile(start); }), 20155);
  // Deleting frees the pages.
  g.DeleteFile(start);
  EXPECT_FALSE(cache.FreeSpaceManager().GetPageUsageFromPFS(start));
}

// A region over many pages is tested as few ranges as possible; a byte held
// anywhere in it, also on either side of a page boundary, still counts, and
// the header bytes between the pages' contents (byte 0 of the first page is
// the file's own lock) never do.
TEST_P(InternalFile, RegionOverManyPagesSeesEveryHeldByte) {
  TSDBInternalDBDirectAccessFile f(cache.DiskPageManager(), ptTableLocks);
  const int32_t size = 6 * D() - 100;
  f.CreateFile(size);
  ASSERT_EQ(f.PageNumbers().size(), 6u);
  // Content position 0 lies kHeader bytes into the first page's data.
  const int32_t firstEnd = D() - 5;  // last content byte of the first page
  struct Case {
    int32_t Held;
  } cases[] = {{0}, {firstEnd}, {firstEnd + 1}, {2 * D() + 17}, {3 * D() - 6}, {size - 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Held);
    ASSERT_TRUE(f.LockByte(c.Held));
    EXPECT_TRUE(f.IsRegionLocked(0, size));
    EXPECT_TRUE(f.IsRegionLocked(c.Held, 1));
    if (c.Held > 0) {
      EXPECT_FALSE(f.IsRegionLocked(0, c.Held));
    }
    if (c.Held < size - 1) {
      EXPECT_FALSE(f.IsRegionLocked(c.Held + 1, size - c.Held - 1));
    }
    ASSERT_TRUE(f.UnlockByte(c.Held));
    EXPECT_FALSE(f.IsRegionLocked(0, size));
  }
  ASSERT_TRUE(f.LockFile());
  EXPECT_FALSE(f.IsRegionLocked(0, size));
  EXPECT_TRUE(f.UnlockFile());
}

INSTANTIATE_TEST_SUITE_P(Plain, InternalFile, ::testing::Values(std::string()));
INSTANTIATE_TEST_SUITE_P(Enciphered, InternalFile, ::testing::Values(std::string("s3cret")));

}  // namespace
