// Commit latency with one changed page, and page allocation throughput,
// with SQLite measured in the same run.
//
// Commit: our commit of one dirty page (header lock, two header writes, the
// page write) against SQLite's one-row UPDATE transaction (rollback journal).
// Two pairs are measured: without a flush to disk (our default commit vs
// SQLite synchronous=OFF) and with one (our commit followed by a flush of
// the file vs SQLite synchronous=FULL).
// Allocation: pages handed out and released again by the free-space manager
// against SQLite inserting and deleting rows of one page's worth of bytes.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBSystemDirectory.h"

using namespace sdb;

namespace {

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("bench_commit_") + name)).string();
}

void Ours(benchmark::State& state, bool flush) {
  const std::string path = TempFile("sdb.sdb");
  TSDBDiskPageCache cache;
  SDBCreateDatabase(cache, {path, "", craRijndael_128, 4096, 8, 10});
  int32_t pageNo;
  {
    TSDBPageGuard g = SDBAddPageGuard(cache, 0, ptTableRecord);
    pageNo = g->PageNo();
  }
  cache.ApplyChanges(0);
  uint8_t v = 0;
  for (auto _ : state) {
    {
      TSDBPageGuard g = SDBGetPageGuard(cache, 0, pageNo, ptTableRecord);
      g->Data()[0] = ++v;
      g->MarkDirty();
    }
    cache.ApplyChanges(0);
    if (flush) cache.DiskPageManager().DatabaseFile().FlushFileBuffers();
  }
  cache.CloseDatabase();
  std::filesystem::remove(path);
}

void Sqlite(benchmark::State& state, const char* synchronous) {
  const std::string path = TempFile("sqlite.db");
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, (std::string("PRAGMA synchronous=") + synchronous).c_str(), nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "CREATE TABLE t(id INTEGER PRIMARY KEY, v INTEGER)", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "INSERT INTO t VALUES(1, 0)", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "UPDATE t SET v = v + 1 WHERE id = 1", -1, &st, nullptr);
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_step(st);
    sqlite3_reset(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::filesystem::remove(path);
}

void BM_CommitOnePage_Sdb(benchmark::State& s) { Ours(s, false); }
void BM_CommitOnePage_SQLite_SyncOff(benchmark::State& s) { Sqlite(s, "OFF"); }
void BM_CommitOnePageFlushed_Sdb(benchmark::State& s) { Ours(s, true); }
void BM_CommitOnePageFlushed_SQLite_SyncFull(benchmark::State& s) { Sqlite(s, "FULL"); }

constexpr int kBatch = 100;

void BM_AllocateRelease_Sdb(benchmark::State& state) {
  const std::string path = TempFile("alloc.sdb");
  TSDBDiskPageCache cache;
  SDBCreateDatabase(cache, {path, "", craRijndael_128, 4096, 8, 10});
  TSDBDatabaseFreeSpaceManager& fsm = cache.FreeSpaceManager();
  std::vector<int32_t> pages(kBatch);
  for (auto _ : state) {
    for (auto& p : pages) p = fsm.GetPage();
    for (auto it = pages.rbegin(); it != pages.rend(); ++it) fsm.FreePage(*it);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  cache.CloseDatabase();
  std::filesystem::remove(path);
}

void BM_AllocateRelease_SQLite(benchmark::State& state) {
  const std::string path = TempFile("alloc.db");
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB)", nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t(id, b) VALUES(?, zeroblob(4000))", -1, &ins, nullptr);
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < kBatch; ++i) {
      sqlite3_bind_int(ins, 1, i);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_exec(db, "DELETE FROM t", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  sqlite3_finalize(ins);
  sqlite3_close(db);
  std::filesystem::remove(path);
}

}  // namespace

BENCHMARK(BM_CommitOnePage_Sdb);
BENCHMARK(BM_CommitOnePage_SQLite_SyncOff);
BENCHMARK(BM_CommitOnePageFlushed_Sdb);
BENCHMARK(BM_CommitOnePageFlushed_SQLite_SyncFull);
BENCHMARK(BM_AllocateRelease_Sdb);
BENCHMARK(BM_AllocateRelease_SQLite);

namespace {

// Console output plus the time per iteration of each benchmark, for ratios.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
        Times[r.run_name.function_name] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> Times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const std::pair<const char*, const char*> pairs[] = {
      {"BM_CommitOnePage_Sdb", "BM_CommitOnePage_SQLite_SyncOff"},
      {"BM_CommitOnePageFlushed_Sdb", "BM_CommitOnePageFlushed_SQLite_SyncFull"},
      {"BM_AllocateRelease_Sdb", "BM_AllocateRelease_SQLite"}};
  for (const auto& [ours, peer] : pairs) {
    auto a = reporter.Times.find(ours), b = reporter.Times.find(peer);
    if (a != reporter.Times.end() && b != reporter.Times.end() && b->second > 0)
      std::printf("ratio %s / %s = %.2f (below 1: faster than SQLite)\n", ours, peer, a->second / b->second);
  }
  benchmark::Shutdown();
  return 0;
}
