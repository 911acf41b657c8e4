// Table workload against SQLite in the same run: a table of INTEGER,
// VARCHAR(50) and a 200-byte MEMO with one index on the INTEGER.
//
//   BatchInsert      100,000 rows inserted, one commit at the end
//   SingleInsert     10,000 rows, each committed on its own (100,000 take
//                    minutes on both sides without telling more)
//   PointLookup      100,000 lookups by the indexed INTEGER in random
//                    order, reading the three fields of each row
//   FullScan         every row in storage order, reading the three fields
//
// Our side goes through the table cursor the components use; SQLite through
// prepared statements. Neither side flushes to disk at commit (SQLite runs
// with synchronous=OFF and its rollback journal; ours with durability off:
// its rollback journal, written but never flushed), both use their default
// page cache. Every benchmark is run several times and the medians
// are compared.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "BenchMedians.h"
#include "sdb/SDBDurability.h"
#include "storage/table/SDBTableCursor.h"
#include "storage/database/SDBTableDatabase.h"

using namespace sdb;

namespace {

constexpr int kRows = 100000;
constexpr int kSingleRows = 10000;

std::string TempFile(const char* name) {
  // The process in the name: runs of other checkouts on the machine at the
  // same time must not share (and remove) each other's files.
  return (std::filesystem::temp_directory_path() /
          (std::string("bench_tables_") + std::to_string(::getpid()) + "_" + name))
      .string();
}

std::string Name(int i) { return "customer name number " + std::to_string(i); }
std::string Memo(int i) {
  std::string m(200, ' ');
  for (size_t k = 0; k < m.size(); ++k) m[k] = static_cast<char>('a' + (i + k * 7) % 26);
  return m;
}

std::vector<int> Shuffled(int n) {
  std::vector<int> v(static_cast<size_t>(n));
  std::iota(v.begin(), v.end(), 0);
  std::shuffle(v.begin(), v.end(), std::mt19937(42));
  return v;
}

// ---- Ours -------------------------------------------------------------------------------------

struct TOurs {
  std::string Path = TempFile("sdb.sdb");
  std::unique_ptr<TSDBTableDatabase> DB;

  void Create() {
    DB.reset();
    std::filesystem::remove(Path);
    DB = std::make_unique<TSDBTableDatabase>();
    TSDBCreateDatabaseParams p;
    p.FileName = Path;
    p.MaxConnections = 10;
    DB->CreateDatabase(p);
    TSDBFieldDefs f;
    f.Emplace("ID", aftInteger, 0);
    f.Emplace("NAME", aftString, 50);
    f.Emplace("NOTE", aftMemo, 0);
    TSDBIndexDefs ix;
    auto d = std::make_unique<TSDBIndexDef>();
    d->FName = "BYID";
    d->FColumns.push_back({"ID", false, false, 20});
    ix.Add(std::move(d));
    DB->CreateTable("T", std::move(f), {}, std::move(ix));
  }
  void Insert(int from, int count, bool batch) {
    TSDBTableCursor c(SDBTableOpener(*DB));
    c.Open("T");
    if (batch) c.BeginBatchUpdate();
    for (int i = from; i < from + count; ++i) {
      c.Insert();
      c.SetFieldValue(0, TSDBVariant::FromInt(i));
      c.SetFieldValue(1, TSDBVariant::FromString(Name(i)));
      c.WriteBlobText(2, Memo(i));
      c.Post();
    }
    if (batch) c.EndBatchUpdate(true);
    c.Close();
  }
  ~TOurs() {
    DB.reset();
    std::filesystem::remove(Path);
  }
};

void BM_BatchInsert_Sdb(benchmark::State& state) {
  TOurs o;
  for (auto _ : state) {
    state.PauseTiming();
    o.Create();
    state.ResumeTiming();
    o.Insert(0, kRows, true);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SingleInsert_Sdb(benchmark::State& state) {
  TOurs o;
  for (auto _ : state) {
    state.PauseTiming();
    o.Create();
    state.ResumeTiming();
    o.Insert(0, kSingleRows, false);
  }
  state.SetItemsProcessed(state.iterations() * kSingleRows);
}

TOurs& Filled() {
  static TOurs o;
  static bool done = false;
  if (!done) {
    o.Create();
    o.Insert(0, kRows, true);
    done = true;
  }
  return o;
}

void BM_PointLookup_Sdb(benchmark::State& state) {
  TOurs& o = Filled();
  const std::vector<int> keys = Shuffled(kRows);
  TSDBTableCursor c(SDBTableOpener(*o.DB));
  c.Open("T");
  c.SetIndexName("BYID");
  int64_t found = 0;
  for (auto _ : state) {
    for (int k : keys) {
      if (!c.FindKey({TSDBVariant::FromInt(k)})) continue;
      ++found;
      benchmark::DoNotOptimize(c.GetFieldValue(0).AsInt64());
      benchmark::DoNotOptimize(c.GetFieldValue(1).AsString());
      benchmark::DoNotOptimize(c.ReadBlobText(2));
    }
  }
  if (found != state.iterations() * kRows) state.SkipWithError("lookups missed rows");
  state.SetItemsProcessed(state.iterations() * kRows);
  c.Close();
}

void BM_FullScan_Sdb(benchmark::State& state) {
  TOurs& o = Filled();
  TSDBTableCursor c(SDBTableOpener(*o.DB));
  c.Open("T");
  int64_t rows = 0;
  for (auto _ : state) {
    for (c.First(); !c.Eof(); c.Next()) {
      ++rows;
      benchmark::DoNotOptimize(c.GetFieldValue(0).AsInt64());
      benchmark::DoNotOptimize(c.GetFieldValue(1).AsString());
      benchmark::DoNotOptimize(c.ReadBlobText(2));
    }
  }
  if (rows != state.iterations() * kRows) state.SkipWithError("scan missed rows");
  state.SetItemsProcessed(state.iterations() * kRows);
  c.Close();
}

// ---- SQLite -----------------------------------------------------------------------------------

struct TSqlite {
  std::string Path = TempFile("sqlite.db");
  sqlite3* DB = nullptr;

  void Create() {
    Close();
    std::filesystem::remove(Path);
    sqlite3_open(Path.c_str(), &DB);
    sqlite3_exec(DB, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    sqlite3_exec(DB, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_exec(DB, "CREATE TABLE t(id INTEGER, name VARCHAR(50), note TEXT)", nullptr, nullptr, nullptr);
    sqlite3_exec(DB, "CREATE INDEX byid ON t(id)", nullptr, nullptr, nullptr);
  }
  void Insert(int from, int count, bool batch) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(DB, "INSERT INTO t(id, name, note) VALUES(?, ?, ?)", -1, &st, nullptr);
    if (batch) sqlite3_exec(DB, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = from; i < from + count; ++i) {
      const std::string name = Name(i), memo = Memo(i);
      sqlite3_bind_int(st, 1, i);
      sqlite3_bind_text(st, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 3, memo.data(), static_cast<int>(memo.size()), SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    if (batch) sqlite3_exec(DB, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(st);
  }
  void Close() {
    if (DB) sqlite3_close(DB);
    DB = nullptr;
  }
  ~TSqlite() {
    Close();
    std::filesystem::remove(Path);
  }
};

void BM_BatchInsert_SQLite(benchmark::State& state) {
  TSqlite s;
  for (auto _ : state) {
    state.PauseTiming();
    s.Create();
    state.ResumeTiming();
    s.Insert(0, kRows, true);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SingleInsert_SQLite(benchmark::State& state) {
  TSqlite s;
  for (auto _ : state) {
    state.PauseTiming();
    s.Create();
    state.ResumeTiming();
    s.Insert(0, kSingleRows, false);
  }
  state.SetItemsProcessed(state.iterations() * kSingleRows);
}

TSqlite& SqliteFilled() {
  static TSqlite s;
  static bool done = false;
  if (!done) {
    s.Create();
    s.Insert(0, kRows, true);
    done = true;
  }
  return s;
}

void ReadRow(sqlite3_stmt* st) {
  benchmark::DoNotOptimize(sqlite3_column_int(st, 0));
  const auto* name = sqlite3_column_text(st, 1);
  benchmark::DoNotOptimize(std::string(reinterpret_cast<const char*>(name), static_cast<size_t>(sqlite3_column_bytes(st, 1))));
  const auto* note = sqlite3_column_text(st, 2);
  benchmark::DoNotOptimize(std::string(reinterpret_cast<const char*>(note), static_cast<size_t>(sqlite3_column_bytes(st, 2))));
}

void BM_PointLookup_SQLite(benchmark::State& state) {
  TSqlite& s = SqliteFilled();
  const std::vector<int> keys = Shuffled(kRows);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(s.DB, "SELECT id, name, note FROM t WHERE id = ?", -1, &st, nullptr);
  int64_t found = 0;
  for (auto _ : state) {
    for (int k : keys) {
      sqlite3_bind_int(st, 1, k);
      if (sqlite3_step(st) == SQLITE_ROW) {
        ++found;
        ReadRow(st);
      }
      sqlite3_reset(st);
    }
  }
  if (found != state.iterations() * kRows) state.SkipWithError("lookups missed rows");
  state.SetItemsProcessed(state.iterations() * kRows);
  sqlite3_finalize(st);
}

void BM_FullScan_SQLite(benchmark::State& state) {
  TSqlite& s = SqliteFilled();
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(s.DB, "SELECT id, name, note FROM t", -1, &st, nullptr);
  int64_t rows = 0;
  for (auto _ : state) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      ++rows;
      ReadRow(st);
    }
    sqlite3_reset(st);
  }
  if (rows != state.iterations() * kRows) state.SkipWithError("scan missed rows");
  state.SetItemsProcessed(state.iterations() * kRows);
  sqlite3_finalize(st);
}

}  // namespace

#define TABLE_BENCH(name) BENCHMARK(name)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true)
TABLE_BENCH(BM_BatchInsert_Sdb);
TABLE_BENCH(BM_BatchInsert_SQLite);
TABLE_BENCH(BM_SingleInsert_Sdb);
TABLE_BENCH(BM_SingleInsert_SQLite);
TABLE_BENCH(BM_PointLookup_Sdb);
TABLE_BENCH(BM_PointLookup_SQLite);
TABLE_BENCH(BM_FullScan_Sdb);
TABLE_BENCH(BM_FullScan_SQLite);


int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Before any database is made: the level SQLite's synchronous=OFF matches.
  SDBSetDefaultDurability(TSDBDurability::Off);
  TMedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* op : {"BatchInsert", "SingleInsert", "PointLookup", "FullScan"}) {
    const std::string ours = std::string("BM_") + op + "_Sdb", peer = std::string("BM_") + op + "_SQLite";
    if (!reporter.Times.count(ours) || !reporter.Times.count(peer) || reporter.Times[peer] <= 0 ||
        reporter.CpuTimes[peer] <= 0)
      continue;
    std::printf(
        "%-12s median real %9.1f ms (SQLite %9.1f ms) ratio %.2f; cpu %9.1f ms (SQLite %9.1f ms) ratio %.2f"
        " (below 1: faster than SQLite)\n",
        op, reporter.Times[ours], reporter.Times[peer], reporter.Times[ours] / reporter.Times[peer],
        reporter.CpuTimes[ours], reporter.CpuTimes[peer], reporter.CpuTimes[ours] / reporter.CpuTimes[peer]);
  }
  benchmark::Shutdown();
  return 0;
}
