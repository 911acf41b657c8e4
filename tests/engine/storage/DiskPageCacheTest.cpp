#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>
#include <vector>

#include "sdb/SDBException.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBSystemDirectory.h"
#include "storage/maintenance/SDBDatabaseCheck.h"

using namespace sdb;

namespace {

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("h2_") + name + "_" + std::to_string(::getpid()) + ".sdb"))
      .string();
}

// A new enciphered database at Path holding one record page whose first
// byte is First; the page's number.
int32_t CreateWithOneRecordPage(const std::string& Path, uint8_t First) {
  TSDBDiskPageCache cache;
  SDBCreateDatabase(cache, {Path, "", craRijndael_128, 4096, 8, 10});
  TSDBPageGuard g = SDBAddPageGuard(cache, kSDBEngineSessionID, ptTableRecord);
  g->Data()[0] = First;
  const int32_t pageNo = g->PageNo();
  g.Release();
  cache.ApplyChanges(kSDBEngineSessionID);
  cache.CloseDatabase();
  return pageNo;
}

// A cache whose page writes fail after a number of them, as a crash in the
// middle of a commit would leave the file.
class TFailingCache : public TSDBDiskPageCache {
 public:
  int WritesLeft = 1 << 30;

 protected:
  void InternalWritePage(TSDBPage& page) override {
    if (WritesLeft-- <= 0) throw std::runtime_error("power cut");
    TSDBDiskPageCache::InternalWritePage(page);
  }
};

struct Opened {
  bool ReadOnly = false, RepairNeeded = false, MultiUser = false;
};

Opened Open(TSDBDiskPageCache& cache, const std::string& path, const std::string& password = {}) {
  Opened o;
  cache.OpenDatabase(path, TSDBPassword{password, craRijndael_128}, o.ReadOnly, o.RepairNeeded, false, o.MultiUser);
  return o;
}

TEST(DiskPageCache, CreatedDatabaseHoldsDirectoryAndItsFiles) {
  const std::string path = TempPath("create");
  {
    TSDBDiskPageCache cache;
    SDBCreateDatabase(cache, {path, "", craRijndael_128, 4096, 8, 37});
    EXPECT_EQ(cache.DiskPageManager().DBHeader().WriteChangesState, 2);
    EXPECT_EQ(cache.DiskPageManager().DBHeader().State, 1);  // one commit
    cache.CloseDatabase();
  }
  TSDBDiskPageCache cache;
  Opened o = Open(cache, path);
  EXPECT_FALSE(o.RepairNeeded);
  TSDBSystemDirectory dir(cache);
  dir.LoadDirectory();
  ASSERT_EQ(dir.FileList().size(), 2u);
  EXPECT_EQ(dir.FileList()[0].FileID, dbftActiveSessionsList);
  EXPECT_EQ(dir.FileList()[1].FileID, dbftTablesList);
  TSDBInternalDBDirectAccessFile sessions(cache.DiskPageManager(), ptActiveSessionList);
  sessions.OpenFile(dir.GetFileFirstPageNo(dbftActiveSessionsList));
  EXPECT_EQ(sessions.GetSize(), 37);
  TSDBInternalDBTransactedAccessFile tables(cache, ptTableList);
  tables.OpenFile(dir.GetFileFirstPageNo(dbftTablesList));
  EXPECT_EQ(tables.GetSize(0), 0);
  EXPECT_EQ(dir.GetFileFirstPageNo(dbftUnknown), -1);
  cache.CloseDatabase();
  std::filesystem::remove(path);
}

TEST(DiskPageCache, CreationRefusesBadParametersBeforeTouchingTheFile) {
  const std::string path = TempPath("badparams");
  std::filesystem::remove(path);
  for (auto params : {TSDBCreateDatabaseParams{path, "", craRijndael_128, 100, 8, 10},
                      TSDBCreateDatabaseParams{path, "", craRijndael_128, 4096, 0, 10},
                      TSDBCreateDatabaseParams{path, "", craRijndael_128, 4096, 8, 0}}) {
    TSDBDiskPageCache cache;
    try {
      SDBCreateDatabase(cache, params);
      ADD_FAILURE();
    } catch (const ESDBException& e) {
      EXPECT_EQ(e.NativeError(), 20239);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

class Commit : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    path = TempPath(GetParam().empty() ? "commit_plain" : "commit_enc");
    TSDBDiskPageCache cache;
    SDBCreateDatabase(cache, {path, GetParam(), craBlowfish, 4096, 8, 10});
    TSDBInternalDBTransactedAccessFile f(cache, ptTableMostUpdated);
    f.CreateFile(kSDBEngineSessionID);
    std::vector<uint8_t> v(100, 1);
    f.WriteFile(kSDBEngineSessionID, v.data(), 100);
    cache.ApplyChanges(kSDBEngineSessionID);
    filePage = f.StartPageNo();
    cache.CloseDatabase();
  }
  void TearDown() override { std::filesystem::remove(path); }

  uint8_t Read(TSDBDiskPageCache& cache, int session) {
    TSDBInternalDBTransactedAccessFile f(cache, ptTableMostUpdated);
    f.OpenFile(filePage);
    return f.ReadAll(session).at(50);
  }
  void Write(TSDBDiskPageCache& cache, int session, uint8_t value) {
    TSDBInternalDBTransactedAccessFile f(cache, ptTableMostUpdated);
    f.OpenFile(filePage);
    std::vector<uint8_t> v(100, value);
    f.WriteFile(session, v.data(), 100);
  }

  std::string path;
  int32_t filePage = -1;
};

TEST_P(Commit, VisibleToOtherSessionsOnlyAfterCommit) {
  TSDBDiskPageCache cache;
  Open(cache, path, GetParam());
  Write(cache, 0, 7);
  EXPECT_EQ(Read(cache, 0), 7);
  EXPECT_EQ(Read(cache, 1), 1);
  cache.ApplyChanges(0);
  EXPECT_EQ(Read(cache, 1), 7);
  // A rolled-back change is gone for everyone.
  Write(cache, 1, 9);
  EXPECT_EQ(Read(cache, 1), 9);
  cache.CancelChanges(1);
  EXPECT_EQ(Read(cache, 1), 7);
  EXPECT_EQ(Read(cache, 0), 7);
  int32_t state = cache.DiskPageManager().DBHeader().State;
  cache.CloseDatabase();
  // Committed data is in the file, read by another connection.
  TSDBDiskPageCache other;
  Opened o = Open(other, path, GetParam());
  EXPECT_FALSE(o.RepairNeeded);
  EXPECT_EQ(Read(other, 0), 7);
  EXPECT_EQ(other.DiskPageManager().DBHeader().State, state);
}

TEST_P(Commit, FailedCommitIsUndoneFromTheJournal) {
  const uint8_t before = [&] {
    TSDBDiskPageCache cache;
    Open(cache, path, GetParam());
    return Read(cache, 0);
  }();
  {
    TFailingCache cache;
    Open(cache, path, GetParam());
    // Two pages change, the second write fails after the first reached the file.
    TSDBInternalDBTransactedAccessFile f(cache, ptTableMostUpdated);
    f.OpenFile(filePage);
    std::vector<uint8_t> v(9000, 3);
    f.WriteFile(0, v.data(), 9000);
    cache.WritesLeft = 1;
    EXPECT_THROW(cache.ApplyChanges(0), std::runtime_error);
    EXPECT_TRUE(cache.LastCommitUndone());
    // The header lock was given back, and the journal is empty again.
    EXPECT_EQ(cache.DiskPageManager().LockDBHeaderCount(), 0);
    EXPECT_FALSE(TSDBJournal::IsHot(path));
    // This very cache sees the file as it was, not its own half-written page.
    cache.CancelChanges(0);
    EXPECT_EQ(Read(cache, 0), before);
    cache.CloseDatabase();
  }
  TSDBDiskPageCache cache;
  Opened o = Open(cache, path, GetParam());
  EXPECT_FALSE(o.RepairNeeded);
  EXPECT_EQ(cache.DiskPageManager().DBHeader().WriteChangesState, 2);
  EXPECT_EQ(Read(cache, 0), before);
}

INSTANTIATE_TEST_SUITE_P(Plain, Commit, ::testing::Values(std::string()));
INSTANTIATE_TEST_SUITE_P(Enciphered, Commit, ::testing::Values(std::string("pw")));

TEST(DiskPageCache, RemovedPagesShrinkTheFileAtCommit) {
  const std::string path = TempPath("shrink");
  TSDBDiskPageCache cache;
  SDBCreateDatabase(cache, {path, "", craRijndael_128, 4096, 8, 10});
  std::vector<int32_t> pages;
  for (int i = 0; i < 60; ++i) {
    TSDBPageGuard g = SDBAddPageGuard(cache, 0, ptTableRecord);
    pages.push_back(g->PageNo());
  }
  cache.ApplyChanges(0);
  auto grown = std::filesystem::file_size(path);
  int32_t total = cache.DiskPageManager().GetPageCount();
  EXPECT_EQ(grown, 380u + static_cast<uint64_t>(total) * 4096u);
  for (int32_t p : pages) cache.RemovePage(0, p);
  cache.ApplyChanges(0);
  int32_t after = cache.DiskPageManager().GetPageCount();
  EXPECT_LT(after, total);
  EXPECT_EQ(std::filesystem::file_size(path), 380u + static_cast<uint64_t>(after) * 4096u);
  // The removed pages are free again and are handed out anew.
  EXPECT_FALSE(cache.FreeSpaceManager().GetPageUsageFromPFS(pages.front()));
  EXPECT_EQ(cache.FreeSpaceManager().GetPage(), pages.front());
  cache.CloseDatabase();
  std::filesystem::remove(path);
}

// Allocations outside a commit take pages in growing groups; whatever the
// transaction did not use goes back when it ends, however it ends, and a
// writer that dies with pages still reserved leaves only reclaimable pages.
TEST(DiskPageCache, PagesReservedInGroupsGoBackWithTheTransaction) {
  enum class TEnd { Commit, Rollback, Close, Killed };
  for (TEnd end : {TEnd::Commit, TEnd::Rollback, TEnd::Close, TEnd::Killed}) {
    SCOPED_TRACE(static_cast<int>(end));
    const std::string path = TempPath("reserve");
    std::vector<int32_t> pages;
    int32_t reserved = 0;
    {
      TSDBDiskPageCache cache;
      SDBCreateDatabase(cache, {path, "", craRijndael_128, 4096, 8, 10});
      TSDBDiskPageManager& pm = cache.DiskPageManager();
      // Groups of 1, 2, 4 and 8 pages: 15 reserved for 11 used.
      for (int i = 0; i < 11; ++i) {
        TSDBPageGuard g = SDBAddPageGuard(cache, 0, ptTableRecord);
        g->Data()[0] = static_cast<uint8_t>(i);
        pages.push_back(g->PageNo());
      }
      reserved = pm.ReservedPageCount();
      EXPECT_EQ(reserved, 4);
      std::vector<int32_t> sorted(pages);
      std::sort(sorted.begin(), sorted.end());
      EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a page handed out twice";
      for (int32_t p : pages) EXPECT_TRUE(cache.FreeSpaceManager().GetPageUsageFromPFS(p)) << p;
      switch (end) {
        case TEnd::Commit:
          cache.ApplyChanges(0);
          break;
        case TEnd::Rollback:
          cache.CancelChanges(0);
          break;
        case TEnd::Close:
        case TEnd::Killed:
          cache.CancelChanges(0);
          EXPECT_EQ(pm.ReservedPageCount(), 0);
          // Groups of 1 and 2 pages for two pages: one left reserved.
          (void)SDBAddPageGuard(cache, 1, ptTableRecord);
          (void)SDBAddPageGuard(cache, 1, ptTableRecord);
          EXPECT_EQ(pm.ReservedPageCount(), 1);
          // The process dies: nothing more reaches the file.
          if (end == TEnd::Killed) pm.DatabaseFile().CloseFile();
          break;
      }
      if (end == TEnd::Commit || end == TEnd::Rollback) {
        EXPECT_EQ(pm.ReservedPageCount(), 0);
        // Free again: the next allocations get the lowest free pages.
        const int32_t next = SDBAddPageGuard(cache, 0, ptTableRecord)->PageNo();
        if (end == TEnd::Rollback)
          EXPECT_EQ(next, *std::min_element(pages.begin(), pages.end()));
        else
          EXPECT_GT(next, *std::max_element(pages.begin(), pages.end()));
        cache.CancelChanges(0);
        // Pages nothing refers to would be damage: the test's pages go.
        if (end == TEnd::Commit) {
          for (int32_t p : pages) cache.RemovePage(0, p);
          cache.ApplyChanges(0);
        }
      }
      if (end != TEnd::Killed) cache.CloseDatabase();
    }
    const TSDBDatabaseCheckResult check = SDBCheckDatabase(path);
    EXPECT_TRUE(check.Ok()) << (check.Problems.empty() ? "" : check.Problems.front());
    // Uncommitted pages of a session still open at close (or of a dead
    // writer) stay allocated and never written; the reserved page goes back
    // at close, not when the writer dies.
    const size_t left = end == TEnd::Close ? 2u : end == TEnd::Killed ? 3u : 0u;
    EXPECT_EQ(check.Reclaimable.size(), left);
    std::filesystem::remove(path);
    std::filesystem::remove(TSDBJournal::FileNameFor(path));
  }
}

}  // namespace

namespace {

// Two connections to one file, as two processes would have.
// A commit keeps its journal open for the next one, and uses that handle
// only while the journal's name still leads to it: a journal removed (as
// another connection closing the file removes an empty one) or replaced
// must not receive the next commit's originals where nobody would look for
// them after a crash.
TEST(DiskPageCacheShared, KeptJournalIsOpenedAgainWhenItsFileWasRemovedOrReplaced) {
  // Notes, at each page write of a commit, whether the journal beside the
  // file holds the commit's originals.
  class TWatchingCache : public TSDBDiskPageCache {
   public:
    std::string Path;
    int Writes = 0, HotWrites = 0;

   protected:
    void InternalWritePage(TSDBPage& page) override {
      ++Writes;
      if (TSDBJournal::IsHot(Path)) ++HotWrites;
      TSDBDiskPageCache::InternalWritePage(page);
    }
  };
  for (const std::string how : {"removed", "replaced", "kept"}) {
    const std::string path = TempPath(("kept_journal_" + how).c_str());
    const std::string journal = TSDBJournal::FileNameFor(path);
    const int32_t pageNo = CreateWithOneRecordPage(path, 0);
    auto open = [&](TSDBDiskPageCache& c) {
      bool ro = false, repair = false, multi = true;
      c.OpenDatabase(path, TSDBPassword{}, ro, repair, false, multi);
    };
    TWatchingCache a;
    a.Path = path;
    open(a);
    auto change = [&](uint8_t v) {
      {
        TSDBPageGuard g = SDBGetPageGuard(a, 0, pageNo, ptTableRecord);
        g->Data()[0] = v;
        g->MarkDirty();
      }
      a.ApplyChanges(0);
    };
    change(1);
    ASSERT_TRUE(std::filesystem::exists(journal)) << how;
    if (how == "removed") {
      TSDBDiskPageCache b;
      open(b);
      b.CloseDatabase();
      ASSERT_FALSE(std::filesystem::exists(journal));
    } else if (how == "replaced") {
      std::filesystem::remove(journal);
      std::ofstream(journal).close();
    }
    a.Writes = a.HotWrites = 0;
    change(2);
    EXPECT_EQ(a.Writes, 1) << how;
    EXPECT_EQ(a.HotWrites, 1) << how;
    EXPECT_FALSE(TSDBJournal::IsHot(path)) << how;
    a.CloseDatabase();
    TSDBDiskPageCache c;
    open(c);
    EXPECT_EQ(SDBGetPageGuard(c, 0, pageNo, ptTableRecord)->Data()[0], 2) << how;
    c.CloseDatabase();
    std::filesystem::remove(path);
    std::filesystem::remove(journal);
  }
}

TEST(DiskPageCacheShared, OtherConnectionSeesCommitsAndWaitsForTheHeaderLock) {
  const std::string path = TempPath("shared");
  const int32_t pageNo = CreateWithOneRecordPage(path, 1);
  auto open = [&](TSDBDiskPageCache& c) {
    bool ro = false, repair = false, multi = true;
    c.OpenDatabase(path, TSDBPassword{}, ro, repair, false, multi);
    ASSERT_TRUE(multi);
  };
  TSDBDiskPageCache a, b;
  open(a);
  open(b);
  auto read = [&](TSDBDiskPageCache& c) {
    TSDBPageGuard g = SDBGetPageGuard(c, 0, pageNo, ptTableRecord);
    return g->Data()[0];
  };
  EXPECT_EQ(read(b), 1);  // now cached by b
  {
    TSDBPageGuard g = SDBGetPageGuard(a, 0, pageNo, ptTableRecord);
    g->Data()[0] = 2;
    g->MarkDirty();
  }
  a.ApplyChanges(0);
  // b's cached copy is checked against the page's State on disk.
  EXPECT_EQ(read(b), 2);

  // While a holds the header lock, b can neither allocate nor commit.
  b.DiskPageManager().LockTryCount = 3;
  b.DiskPageManager().LockPauseMs = 1;
  ASSERT_TRUE(a.DiskPageManager().LockDBHeader());
  for (auto& [what, f, code] : std::vector<std::tuple<const char*, std::function<void()>, int>>{
           {"allocate", [&] { (void)SDBAddPageGuard(b, 1, ptTableRecord); }, 20213},
           {"commit", [&] {
              {
                TSDBPageGuard g = SDBGetPageGuard(b, 1, pageNo, ptTableRecord);
                g->MarkDirty();
              }
              b.ApplyChanges(1);
            }, 20232}}) {
    try {
      f();
      ADD_FAILURE() << what;
    } catch (const ESDBException& e) {
      EXPECT_EQ(e.NativeError(), code) << what;
      EXPECT_EQ(e.RawMessage(), "Database is locked");
    }
  }
  a.DiskPageManager().UnlockDBHeader();
  b.ApplyChanges(1);
  EXPECT_EQ(b.DiskPageManager().DBHeader().WriteChangesState, 2);
  a.CloseDatabase();
  b.CloseDatabase();
  std::filesystem::remove(path);
}

}  // namespace
