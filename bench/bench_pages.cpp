// Page reads and writes per second through the disk page manager, plain
// and enciphered (Rijndael-128), from a warm file, with SQLite measured in
// the same run reading and writing same-size blobs by rowid.
//
// SQLite runs with synchronous=OFF and journal_mode=MEMORY, each update in
// its own (autocommit) transaction: like a page write here, nothing waits
// for the disk.
//
// AllocRelease: 100 pages added and committed, then removed and committed,
// through the page cache of a multi-user open (durability off: the commit
// journals, never flushes), against SQLite inserting 100 one-page blobs in
// one transaction and deleting them in the next (synchronous=OFF, rollback
// journal). Both files grow and give the pages back to their free lists.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBPageManager.h"

namespace {

constexpr int32_t kPages = 2048;       // 8 MB of 4 KB pages: stays in the OS cache
constexpr int32_t kFirstPage = 2;      // pages 0 and 1 are the free-space pages
constexpr int kBlobSize = 4096 - 40;   // one page's data area

std::string TempName(const char* tag) {
  return "/tmp/sdb_bench_pages_" + std::to_string(getpid()) + "_" + tag;
}

// A database with kPages written pages, opened shared as the engine runs.
struct TDatabase {
  sdb::TSDBDiskPageManager pm;
  std::string file;
  explicit TDatabase(const std::string& password) : file(TempName(password.empty() ? "plain" : "crypt")) {
    {
      sdb::TSDBDiskPageManager create;
      create.CreateAndOpenDatabase(file, sdb::TSDBPassword{password, sdb::craRijndael_128});
      create.ExtendFile(kPages);
      create.WriteDBHeader();
      std::vector<uint8_t> page(4096);
      for (int32_t p = kFirstPage; p < kPages; ++p) {
        sdb::SDBInitPageHeader(page.data());
        for (int i = 40; i < 4096; ++i) page[i] = static_cast<uint8_t>(p * 7 + i);
        create.InternalWritePage(p, page.data());
      }
    }
    bool ro = false, repair = false, multi = true;
    pm.OpenDatabase(file, sdb::TSDBPassword{password, sdb::craRijndael_128}, ro, repair, false, multi);
  }
  ~TDatabase() {
    pm.CloseDatabase();
    std::remove(file.c_str());
  }
};

TDatabase& Plain() {
  static TDatabase db("");
  return db;
}
TDatabase& Encrypted() {
  static TDatabase db("bench password");
  return db;
}

// Visits pages in a scattered but repeatable order.
int32_t NextPage(int32_t i) { return kFirstPage + static_cast<int32_t>((static_cast<int64_t>(i) * 769) % (kPages - kFirstPage)); }

void ReadPages(benchmark::State& state, TDatabase& db) {
  std::vector<uint8_t> page(4096);
  int32_t i = 0;
  for (auto _ : state) {
    if (!db.pm.InternalReadPage(NextPage(i++), page.data())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(page.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void WritePages(benchmark::State& state, TDatabase& db) {
  std::vector<uint8_t> page(4096);
  sdb::SDBInitPageHeader(page.data());
  int32_t i = 0;
  for (auto _ : state) {
    page[100] = static_cast<uint8_t>(i);
    db.pm.InternalWritePage(NextPage(i++), page.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_SdbReadPlain(benchmark::State& s) { ReadPages(s, Plain()); }
void BM_SdbReadRijndael128(benchmark::State& s) { ReadPages(s, Encrypted()); }
void BM_SdbWritePlain(benchmark::State& s) { WritePages(s, Plain()); }
void BM_SdbWriteRijndael128(benchmark::State& s) { WritePages(s, Encrypted()); }

struct TSqlite {
  sqlite3* db = nullptr;
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* update = nullptr;
  std::string file = TempName("sqlite");
  TSqlite() {
    std::remove(file.c_str());
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY; PRAGMA page_size=4096;"
                     "CREATE TABLE t(id INTEGER PRIMARY KEY, data BLOB);", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t(id, data) VALUES(?, ?)", -1, &ins, nullptr);
    std::vector<uint8_t> blob(kBlobSize, 0x5A);
    for (int32_t p = kFirstPage; p < kPages; ++p) {
      sqlite3_bind_int(ins, 1, p);
      sqlite3_bind_blob(ins, 2, blob.data(), kBlobSize, SQLITE_STATIC);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db, "SELECT data FROM t WHERE id = ?", -1, &select, nullptr);
    sqlite3_prepare_v2(db, "UPDATE t SET data = ? WHERE id = ?", -1, &update, nullptr);
  }
  ~TSqlite() {
    sqlite3_finalize(select);
    sqlite3_finalize(update);
    sqlite3_close(db);
    std::remove(file.c_str());
  }
};

TSqlite& Sqlite() {
  static TSqlite s;
  return s;
}

void BM_SqliteReadBlob(benchmark::State& state) {
  auto& s = Sqlite();
  std::vector<uint8_t> out(kBlobSize);
  int32_t i = 0;
  for (auto _ : state) {
    sqlite3_bind_int(s.select, 1, NextPage(i++));
    if (sqlite3_step(s.select) != SQLITE_ROW) state.SkipWithError("no row");
    std::memcpy(out.data(), sqlite3_column_blob(s.select, 0), kBlobSize);
    sqlite3_reset(s.select);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_SqliteWriteBlob(benchmark::State& state) {
  auto& s = Sqlite();
  std::vector<uint8_t> blob(kBlobSize, 0x33);
  int32_t i = 0;
  for (auto _ : state) {
    blob[60] = static_cast<uint8_t>(i);
    sqlite3_bind_blob(s.update, 1, blob.data(), kBlobSize, SQLITE_STATIC);
    sqlite3_bind_int(s.update, 2, NextPage(i++));
    if (sqlite3_step(s.update) != SQLITE_DONE) state.SkipWithError("update failed");
    sqlite3_reset(s.update);
  }
  state.SetItemsProcessed(state.iterations());
}

constexpr int kAllocPages = 100;

void BM_SdbAllocRelease(benchmark::State& state) {
  const std::string file = TempName("alloc");
  {
    sdb::TSDBDiskPageCache create;
    create.CreateAndOpenDatabase(file, sdb::TSDBPassword{});
    create.CloseDatabase();
  }
  sdb::TSDBDiskPageCache cache;
  bool ro = false, repair = false, multi = true;
  cache.OpenDatabase(file, sdb::TSDBPassword{}, ro, repair, false, multi);
  cache.DiskPageManager().Durability = sdb::TSDBDurability::Off;
  std::vector<int32_t> pages(kAllocPages);
  for (auto _ : state) {
    for (auto& p : pages) {
      sdb::TSDBPageGuard g = sdb::SDBAddPageGuard(cache, 0, sdb::ptTableRecord);
      p = g->PageNo();
    }
    cache.ApplyChanges(0);
    for (int32_t p : pages) cache.RemovePage(0, p);
    cache.ApplyChanges(0);
  }
  state.SetItemsProcessed(state.iterations() * kAllocPages);
  cache.CloseDatabase();
  std::remove(file.c_str());
}

void BM_SqliteAllocRelease(benchmark::State& state) {
  const std::string file = TempName("alloclite");
  std::remove(file.c_str());
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA page_size=4096; CREATE TABLE t(id INTEGER PRIMARY KEY, data BLOB);",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t(id, data) VALUES(?, ?)", -1, &ins, nullptr);
  std::vector<uint8_t> blob(kBlobSize, 0x5A);
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < kAllocPages; ++i) {
      sqlite3_bind_int(ins, 1, i);
      sqlite3_bind_blob(ins, 2, blob.data(), kBlobSize, SQLITE_STATIC);
      if (sqlite3_step(ins) != SQLITE_DONE) state.SkipWithError("insert failed");
      sqlite3_reset(ins);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "DELETE FROM t", nullptr, nullptr, nullptr);
  }
  state.SetItemsProcessed(state.iterations() * kAllocPages);
  sqlite3_finalize(ins);
  sqlite3_close(db);
  std::remove(file.c_str());
}

BENCHMARK(BM_SdbReadPlain);
BENCHMARK(BM_SdbReadRijndael128);
BENCHMARK(BM_SqliteReadBlob);
BENCHMARK(BM_SdbWritePlain);
BENCHMARK(BM_SdbWriteRijndael128);
BENCHMARK(BM_SqliteWriteBlob);
BENCHMARK(BM_SdbAllocRelease)->Repetitions(5);
BENCHMARK(BM_SqliteAllocRelease)->Repetitions(5);

// Keeps the median (or the only) items-per-second figure of each benchmark.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> Rates;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred) continue;
      auto it = run.counters.find("items_per_second");
      if (it == run.counters.end()) continue;
      std::string name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      if (run.run_type == Run::RT_Iteration && Rates.count(name)) continue;  // first repetition only
      Rates[name] = it->second;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* a, const char* b) {
    if (!reporter.Rates.count(a) || !reporter.Rates.count(b) || reporter.Rates[b] == 0) return;
    std::printf("%-24s / %-24s = %.3f\n", a, b, reporter.Rates[a] / reporter.Rates[b]);
  };
  std::printf("\nRatios of pages (or blobs) per second:\n");
  ratio("BM_SdbReadRijndael128", "BM_SdbReadPlain");
  ratio("BM_SdbWriteRijndael128", "BM_SdbWritePlain");
  ratio("BM_SdbReadPlain", "BM_SqliteReadBlob");
  ratio("BM_SdbReadRijndael128", "BM_SqliteReadBlob");
  ratio("BM_SdbWritePlain", "BM_SqliteWriteBlob");
  ratio("BM_SdbWriteRijndael128", "BM_SqliteWriteBlob");
  ratio("BM_SdbAllocRelease", "BM_SqliteAllocRelease");
  benchmark::Shutdown();
  return 0;
}
