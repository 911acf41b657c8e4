#include <gtest/gtest.h>

#include <functional>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/file/SDBPageCache.h"

using namespace sdb;

namespace {

// A cache over pages kept in memory; counts the I/O it is asked for.
class TMemPageManager : public TSDBPageManager {
 public:
  explicit TMemPageManager(int capacity) : TSDBPageManager(256, capacity) {}
  int32_t GetPageCount() override { return NextPage; }
  // Puts a page of the given type "on disk" with a first data byte.
  void Store(int32_t pageNo, uint16_t type, uint8_t value) {
    std::vector<uint8_t> buf(256, 0);
    SDBInitPageHeader(buf.data());
    SDBSetPageType(buf.data(), type);
    buf[40] = value;
    Disk[pageNo] = buf;
    NextPage = std::max(NextPage, pageNo + 1);
  }
  uint8_t OnDisk(int32_t pageNo) { return Disk.at(pageNo)[40]; }
  // Another process's commit of the page: new content, next State.
  void CommitElsewhere(int32_t pageNo, uint8_t value) {
    auto& buf = Disk.at(pageNo);
    buf[40] = value;
    SDBSetPageState(buf.data(), SDBGetPageState(buf.data()) + 1);
  }

  std::map<int32_t, std::vector<uint8_t>> Disk;
  std::vector<int32_t> Removed;
  int32_t NextPage = 2;
  int Reads = 0, Writes = 0;
  // Multi-user: cached pages are checked against the State on disk.
  bool CheckStates = false;
  // Pages whose read fails its check after the bytes arrived (as a damaged
  // enciphered page does): the buffer is left with bytes that are not the page.
  std::set<int32_t> Damaged;

 protected:
  int32_t InternalAddPage() override { return NextPage++; }
  void InternalRemovePage(int32_t n) override {
    Removed.push_back(n);
    Disk.erase(n);
  }
  bool InternalReadPage(TSDBPage& page) override {
    ++Reads;
    auto it = Disk.find(page.PageNo());
    if (it == Disk.end()) return false;
    std::copy(it->second.begin(), it->second.end(), page.Buffer());
    if (Damaged.count(page.PageNo())) {
      page.Data()[0] ^= 0x5A;
      throw ESDBException(kSDBErrDecryptPageCRC, "Decrypt page error. Check CRC failed. PageNo: %d", {int64_t{page.PageNo()}});
    }
    return true;
  }
  int32_t InternalReadPageState(int32_t n) override {
    auto it = Disk.find(n);
    return CheckStates && it != Disk.end() ? SDBGetPageState(it->second.data()) : kSDBMaxInt;
  }
  void InternalWritePage(TSDBPage& page) override {
    ++Writes;
    Disk[page.PageNo()].assign(page.Buffer(), page.Buffer() + page.Size());
  }
  bool IsSystemPage(int32_t n) const override { return n == 0 || n == 1; }
};

int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESDBException& e) {
    return e.NativeError();
  }
  return 0;
}

class PageCache : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int32_t p = 2; p < 10; ++p) pm.Store(p, ptTableRecord, static_cast<uint8_t>(p));
  }
  uint8_t Read(int session, int32_t pageNo) {
    TSDBPageGuard g = SDBGetPageGuard(pm, session, pageNo, ptTableRecord);
    return g->Data()[0];
  }
  void Write(int session, int32_t pageNo, uint8_t value) {
    TSDBPageGuard g = SDBGetPageGuard(pm, session, pageNo, ptTableRecord);
    g->Data()[0] = value;
    g->MarkDirty();
  }
  TMemPageManager pm{100};
};

TEST_F(PageCache, ChangesStayInTheSessionUntilCommit) {
  Write(0, 3, 42);
  EXPECT_EQ(Read(0, 3), 42);
  EXPECT_EQ(Read(1, 3), 3);  // another session reads the committed page
  EXPECT_EQ(pm.OnDisk(3), 3);
  EXPECT_EQ(pm.DirtyPageCount(0), 1);
  pm.ApplyChanges(0);
  EXPECT_EQ(pm.OnDisk(3), 42);
  EXPECT_EQ(pm.DirtyPageCount(0), 0);
  // Session 1's cached copy was outdated by the commit.
  EXPECT_EQ(Read(1, 3), 42);
  EXPECT_NO_THROW(pm.CheckAllCommitted());
}

TEST_F(PageCache, RollbackDiscardsChangesAndReturnsAddedPages) {
  Write(0, 4, 99);
  int32_t added;
  {
    TSDBPageGuard g = SDBAddPageGuard(pm, 0, ptTableBlob);
    added = g->PageNo();
    EXPECT_TRUE(g->IsDirty());
    EXPECT_EQ(g->PageType(), ptTableBlob);
    EXPECT_LT(g->State(), 0x3FFFFFFF);
  }
  pm.RemovePage(0, 5);
  EXPECT_EQ(NativeOf([&] { pm.CheckAllCommitted(); }), 20097);
  pm.CancelChanges(0);
  EXPECT_EQ(Read(0, 4), 4);
  EXPECT_EQ(pm.Removed, std::vector<int32_t>{added});  // page 5 stays
  EXPECT_EQ(Read(0, 5), 5);
  EXPECT_EQ(pm.Writes, 0);
  EXPECT_FALSE(pm.HasChanges(0));
}

// Work deferred to a commit reaches the file with that commit, once per
// owner (the last one deferred), and is forgotten by a rollback.
TEST_F(PageCache, DeferredWorkRunsWithTheCommitOrIsDropped) {
  int ownerA = 0, ownerB = 0;
  std::vector<std::string> ran;
  pm.DeferUntilCommit(0, &ownerA, [&] { ran.push_back("A1"); });
  pm.DeferUntilCommit(0, &ownerA, [&] {
    ran.push_back("A2");
    Write(0, 6, 60);  // the work's own page change is part of the commit
  });
  pm.DeferUntilCommit(0, &ownerB, [&] { ran.push_back("B"); });
  pm.DeferUntilCommit(1, &ownerA, [&] { ran.push_back("A of session 1"); });
  EXPECT_TRUE(ran.empty());
  pm.ApplyChanges(0);
  EXPECT_EQ(ran, (std::vector<std::string>{"A2", "B"}));
  EXPECT_EQ(pm.OnDisk(6), 60);
  pm.ApplyChanges(0);  // nothing is run twice
  EXPECT_EQ(ran.size(), 2u);

  // Run early for one owner and session; the rest waits.
  ran.clear();
  pm.DeferUntilCommit(0, &ownerB, [&] { ran.push_back("B again"); });
  pm.RunDeferred(1, &ownerA);
  EXPECT_EQ(ran, std::vector<std::string>{"A of session 1"});
  pm.RunDeferred(kSDBInvalidSessionID, &ownerA);  // none left for A
  EXPECT_EQ(ran.size(), 1u);

  // A rollback drops what the session deferred.
  Write(0, 7, 70);
  pm.CancelChanges(0);
  pm.ApplyChanges(0);
  EXPECT_EQ(ran.size(), 1u);
  EXPECT_EQ(pm.OnDisk(7), 7);
}

TEST_F(PageCache, CommitFreesRemovedPagesAndWritesAddedOnes) {
  int32_t added;
  {
    TSDBPageGuard g = SDBAddPageGuard(pm, 0, ptTableBlob);
    added = g->PageNo();
    g->Data()[0] = 7;
  }
  Read(0, 6);
  pm.RemovePage(0, 6);
  pm.ApplyChanges(0);
  EXPECT_EQ(pm.Removed, std::vector<int32_t>{6});
  EXPECT_FALSE(pm.IsPageCached(6));
  EXPECT_EQ(pm.OnDisk(added), 7);
  EXPECT_EQ(NativeOf([&] { Read(0, 6); }), 20299);
  // Nothing to do for a session without changes: no writes.
  int writes = pm.Writes;
  pm.ApplyChanges(0);
  pm.ApplyChanges(5);
  EXPECT_EQ(pm.Writes, writes);
}

TEST_F(PageCache, ErrorsOfTheCache) {
  TSDBPageGuard held = SDBGetPageGuard(pm, 0, 7, ptTableRecord);
  struct {
    const char* what;
    std::function<void()> f;
    int code;
  } cases[] = {
      {"invalid session", [&] { Read(-1, 3); }, 20186},
      {"negative page", [&] { Read(0, -5); }, 20064},
      {"bitmap page, even to read", [&] { Read(0, 1); }, 30434},
      {"remove a bitmap page", [&] { pm.RemovePage(0, 0); }, 30434},
      {"page held by another session", [&] { Read(1, 7); }, 20090},
      {"page that cannot be read", [&] { Read(0, 50); }, 20299},
      {"wrong page type", [&] { (void)SDBGetPageGuard(pm, 0, 8, ptTableIndex); }, 20153},
      {"commit with a page still held", [&] { pm.ApplyChanges(0); }, 20152},
      {"put a page twice", [&] {
         TSDBPage* p = pm.GetPage(0, 9, ptTableRecord);
         pm.PutPage(p);
         pm.PutPage(p);
       }, 20167},
  };
  held->MarkDirty();
  for (auto& c : cases) EXPECT_EQ(NativeOf(c.f), c.code) << c.what;
  // A page read with the wrong type is not kept.
  EXPECT_FALSE(pm.IsPageCached(8));
  EXPECT_EQ(Read(0, 8), 8);
  held.Release();
  {
    TSDBPageGuard added = SDBAddPageGuard(pm, 0, ptTableRecord);
    EXPECT_EQ(NativeOf([&] { pm.ApplyChanges(0); }), 20086);
    EXPECT_EQ(NativeOf([&] { pm.CancelChanges(0); }), 20088);
  }
  // Nothing was written by the refused commit.
  EXPECT_EQ(pm.Writes, 0);
  pm.ApplyChanges(0);
  EXPECT_EQ(pm.OnDisk(7), 7);
}

TEST_F(PageCache, GuardGivesThePageBackOnException) {
  try {
    TSDBPageGuard g = SDBGetPageGuard(pm, 0, 3, ptTableRecord);
    g->Data()[0] = 1;
    g->MarkDirty();
    throw std::runtime_error("boom");
  } catch (const std::runtime_error&) {
  }
  // Released, so another session may take it; the change went to session 0.
  EXPECT_EQ(Read(1, 3), 3);
  EXPECT_EQ(pm.DirtyPageCount(0), 1);
}

TEST(PageCacheCapacity, LeastRecentlyUsedUnusedPageGoes) {
  TMemPageManager pm(3);
  for (int32_t p = 2; p < 10; ++p) pm.Store(p, ptTableRecord, static_cast<uint8_t>(p));
  auto read = [&](int32_t p) { TSDBPageGuard g = SDBGetPageGuard(pm, 0, p, ptTableRecord); };
  read(2);
  read(3);
  read(4);
  read(2);  // 2 is now more recent than 3
  read(5);
  EXPECT_EQ(pm.SharedPageCount(), 3);
  EXPECT_TRUE(pm.IsPageCached(2));
  EXPECT_FALSE(pm.IsPageCached(3));
  EXPECT_TRUE(pm.IsPageCached(5));
  int reads = pm.Reads;
  read(2);
  EXPECT_EQ(pm.Reads, reads);  // served from the cache
  {
    // Pages in use are never dropped, even beyond the capacity.
    TSDBPageGuard a = SDBGetPageGuard(pm, 0, 6, ptTableRecord);
    TSDBPageGuard b = SDBGetPageGuard(pm, 0, 7, ptTableRecord);
    TSDBPageGuard c = SDBGetPageGuard(pm, 0, 8, ptTableRecord);
    TSDBPageGuard d = SDBGetPageGuard(pm, 0, 9, ptTableRecord);
    EXPECT_GE(pm.SharedPageCount(), 4);
  }
  EXPECT_EQ(pm.SharedPageCount(), 3);
  // A commit puts written pages back only while there is room.
  for (int32_t p : {2, 3, 4, 5}) {
    TSDBPageGuard g = SDBGetPageGuard(pm, 1, p, ptTableRecord);
    g->MarkDirty();
  }
  pm.ApplyChanges(1);
  EXPECT_LE(pm.SharedPageCount(), 3);
  EXPECT_EQ(pm.Writes, 4);
}

// A commit or rollback refuses while its session still holds a page of the
// shared list (it would write or drop a page in use); pages other sessions
// hold do not stop it, and once the page is given back it goes through.
TEST(PageCacheCapacity, CommitRefusesWhileItsSessionHoldsASharedPage) {
  TMemPageManager pm(8);
  for (int32_t p = 2; p < 6; ++p) pm.Store(p, ptTableRecord, static_cast<uint8_t>(p));
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    {
      TSDBPageGuard other = SDBGetPageGuard(pm, 1, 5, ptTableRecord);
      TSDBPageGuard held = SDBGetPageGuard(pm, 0, 2, ptTableRecord);
      held->MarkDirty();  // a change not yet given back
      TSDBPageGuard mine = SDBGetPageGuard(pm, 0, 3, ptTableRecord);
      mine->MarkDirty();
      mine.Release();
      try {
        commit ? pm.ApplyChanges(0) : pm.CancelChanges(0);
        ADD_FAILURE() << "no error";
      } catch (const ESDBException& e) {
        EXPECT_EQ(e.NativeError(), kSDBErrSessionPagesNotReleased);
      }
    }
    // Both pages given back: the session's change goes through.
    commit ? pm.ApplyChanges(0) : pm.CancelChanges(0);
    EXPECT_EQ(pm.DirtyPageCount(0), 0);
    TSDBPageGuard other = SDBGetPageGuard(pm, 1, 5, ptTableRecord);
    commit ? pm.ApplyChanges(0) : pm.CancelChanges(0);
  }
}

// A full cache reuses the objects of the pages it drops: whatever page an
// object held before, it serves only the page it holds now, and a new page
// made from one starts empty.
TEST(PageCacheCapacity, ReusedPageObjectsHoldOnlyTheirNewPage) {
  TMemPageManager pm(2);
  for (int32_t p = 2; p < 10; ++p) pm.Store(p, ptTableRecord, static_cast<uint8_t>(10 * p));
  auto read = [&](int32_t p, uint16_t type = ptTableRecord) {
    TSDBPageGuard g = SDBGetPageGuard(pm, 0, p, type);
    return g->Data()[0];
  };
  for (int32_t p : {2, 3, 4, 5, 2, 6, 3, 9, 2, 2, 8})
    ASSERT_EQ(read(p), 10 * p) << p;
  EXPECT_EQ(pm.SharedPageCount(), 2);
  {
    // A page changed and dropped: its bytes must not reach the next page.
    TSDBPageGuard g = SDBGetPageGuard(pm, 0, 7, ptTableRecord);
    std::fill(g->Data(), g->Data() + g->DataSize(), uint8_t{0xEE});
  }
  for (int32_t p : {4, 5}) ASSERT_EQ(read(p), 10 * p) << p;
  int32_t added;
  {
    TSDBPageGuard g = SDBAddPageGuard(pm, 0, ptTableBlob);
    added = g->PageNo();
    EXPECT_TRUE(std::all_of(g->Data(), g->Data() + g->DataSize(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(g->PageType(), ptTableBlob);
    g->Data()[0] = 77;
  }
  pm.ApplyChanges(0);
  EXPECT_EQ(pm.OnDisk(added), 77);
  EXPECT_EQ(read(added, ptTableBlob), 77);
  EXPECT_EQ(read(7), 70);
}

// Another process changed a cached page, and reading the new bytes failed
// their check: the copy left behind is neither the old page nor the new one,
// so it is dropped and the next request reads the page again.
TEST(PageCacheShared, PageWhoseReReadFailedIsNotServedLater) {
  TMemPageManager pm(10);
  pm.CheckStates = true;
  for (int32_t p = 2; p < 5; ++p) pm.Store(p, ptTableRecord, static_cast<uint8_t>(p));
  auto read = [&](int32_t p) {
    TSDBPageGuard g = SDBGetPageGuard(pm, 0, p, ptTableRecord);
    return g->Data()[0];
  };
  EXPECT_EQ(read(3), 3);
  const int reads = pm.Reads;
  EXPECT_EQ(read(3), 3);  // unchanged on disk: served from the cache
  EXPECT_EQ(pm.Reads, reads);
  pm.CommitElsewhere(3, 33);
  pm.Damaged.insert(3);
  EXPECT_EQ(NativeOf([&] { read(3); }), 30446);
  EXPECT_FALSE(pm.IsPageCached(3));
  pm.Damaged.clear();
  EXPECT_EQ(read(3), 33);
  // A page read for the first time that fails its check is not kept either.
  pm.Damaged.insert(4);
  EXPECT_EQ(NativeOf([&] { read(4); }), 30446);
  EXPECT_FALSE(pm.IsPageCached(4));
  pm.Damaged.clear();
  EXPECT_EQ(read(4), 4);
}

TEST(PageList, DeleteErrorsAndPageOrder) {
  TSDBPageList list;
  try {
    list.Delete(3);
    ADD_FAILURE();
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), 20165);
  }
  list.Insert(std::make_unique<TSDBPage>(nullptr, 5, 64));
  list.Insert(std::make_unique<TSDBPage>(nullptr, 2, 64));
  ASSERT_EQ(list.Pages().size(), 2u);
  EXPECT_EQ(list.Pages()[0]->PageNo(), 2);
  try {
    list.Delete(3);
    ADD_FAILURE();
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), 20166);
    EXPECT_EQ(e.RawMessage(), "TSortedPageList.Delete - element not found, key = 3, itemCount = 2");
  }
}

}  // namespace
