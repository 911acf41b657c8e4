// ALTER TABLE on a 10,000-row table against SQLite in the same run.
//
//   AlterRebuild   ALTER TABLE acct ADD extra INTEGER DEFAULT 5, MODIFY
//                  label VARCHAR(60): the table is rebuilt (new table,
//                  every row copied, the old one dropped). SQLite does the
//                  same work by hand in one transaction: CREATE TABLE,
//                  INSERT ... SELECT, DROP TABLE, ALTER TABLE ... RENAME,
//                  CREATE INDEX (its own ALTER TABLE ... ADD COLUMN only
//                  edits the schema and copies nothing).
//
// The table holds INTEGER, INTEGER and VARCHAR(40) columns and an index on
// the first. Durability off on both sides (no flush at commit; SQLite runs
// with synchronous=OFF). The table is created afresh, untimed, before each
// run; every benchmark runs five times and the medians are compared.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "BenchMedians.h"
#include "sdb/SDBComponents.h"

using namespace sdb;

namespace {

constexpr int kRows = 10000;

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("bench_alter_") + name)).string();
}

void RemoveFiles(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  std::filesystem::remove(path + "-journal", ec);
}

class TOurs {
 public:
  TOurs() : FPath(TempFile("sdb.sdb")) {}
  ~TOurs() {
    FDb.Close();
    RemoveFiles(FPath);
  }
  void Create() {
    FDb.Close();
    RemoveFiles(FPath);
    FDb.SetDatabaseName("BenchAlter");
    FDb.SetDatabaseFileName(FPath);
    FDb.Durability = TSDBDurability::Off;
    FDb.CreateDatabase();
    FDb.Open();
    Run("CREATE TABLE acct (id INTEGER, bal INTEGER, label VARCHAR(40))");
    Run("CREATE INDEX ById ON acct (id)");
    FDb.StartTransaction();
    TSDBQuery ins;
    ins.DatabaseName = "BenchAlter";
    ins.SetSQL("INSERT INTO acct (id, bal, label) VALUES (:i, :i, :l)");
    for (int i = 0; i < kRows; ++i) {
      ins.ParamByName("i").SetAsString(std::to_string(i));
      ins.ParamByName("l").SetAsString("account " + std::to_string(i));
      ins.ExecSQL();
    }
    FDb.Commit();
  }
  void Run(const char* sql) {
    TSDBQuery q;
    q.DatabaseName = "BenchAlter";
    q.SetSQL(sql);
    q.ExecSQL();
  }
  int64_t Count(const char* sql) {
    TSDBQuery q;
    q.DatabaseName = "BenchAlter";
    q.SetSQL(sql);
    q.Open();
    const int64_t n = q.Fields(0).Value().AsInt64();
    q.Close();
    return n;
  }

 private:
  std::string FPath;
  TSDBDatabase FDb;
};

class TSqlite {
 public:
  TSqlite() : FPath(TempFile("sqlite.db")) {}
  ~TSqlite() {
    Close();
    RemoveFiles(FPath);
  }
  void Create() {
    Close();
    RemoveFiles(FPath);
    sqlite3_open(FPath.c_str(), &FDb);
    Run("PRAGMA synchronous=OFF");
    Run("PRAGMA journal_mode=DELETE");
    Run("CREATE TABLE acct (id INTEGER, bal INTEGER, label VARCHAR(40))");
    Run("CREATE INDEX ById ON acct (id)");
    Run("BEGIN");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(FDb, "INSERT INTO acct (id, bal, label) VALUES (?, ?, ?)", -1, &st, nullptr);
    for (int i = 0; i < kRows; ++i) {
      const std::string label = "account " + std::to_string(i);
      sqlite3_bind_int(st, 1, i);
      sqlite3_bind_int(st, 2, i);
      sqlite3_bind_text(st, 3, label.data(), static_cast<int>(label.size()), SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    Run("COMMIT");
  }
  void Run(const char* sql) { sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr); }
  int64_t Count(const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(FDb, sql, -1, &st, nullptr);
    int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return n;
  }

 private:
  void Close() {
    if (FDb) sqlite3_close(FDb);
    FDb = nullptr;
  }
  std::string FPath;
  sqlite3* FDb = nullptr;
};

void BM_AlterRebuild_Sdb(benchmark::State& state) {
  TOurs o;
  for (auto _ : state) {
    state.PauseTiming();
    o.Create();
    state.ResumeTiming();
    o.Run("ALTER TABLE acct ADD extra INTEGER DEFAULT 5, MODIFY label VARCHAR(60)");
  }
  if (o.Count("SELECT COUNT(*) FROM acct WHERE extra = 5") != kRows) state.SkipWithError("rows lost");
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_AlterRebuild_SQLite(benchmark::State& state) {
  TSqlite s;
  for (auto _ : state) {
    state.PauseTiming();
    s.Create();
    state.ResumeTiming();
    s.Run("BEGIN");
    s.Run("CREATE TABLE acct_new (id INTEGER, bal INTEGER, label VARCHAR(60), extra INTEGER DEFAULT 5)");
    s.Run("INSERT INTO acct_new (id, bal, label) SELECT id, bal, label FROM acct");
    s.Run("DROP TABLE acct");
    s.Run("ALTER TABLE acct_new RENAME TO acct");
    s.Run("CREATE INDEX ById ON acct (id)");
    s.Run("COMMIT");
  }
  if (s.Count("SELECT COUNT(*) FROM acct WHERE extra = 5") != kRows) state.SkipWithError("rows lost");
  state.SetItemsProcessed(state.iterations() * kRows);
}

}  // namespace

#define ALTER_BENCH(name) \
  BENCHMARK(name)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true)
ALTER_BENCH(BM_AlterRebuild_Sdb);
ALTER_BENCH(BM_AlterRebuild_SQLite);


int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TMedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const std::string ours = "BM_AlterRebuild_Sdb", peer = "BM_AlterRebuild_SQLite";
  if (reporter.Times.count(ours) && reporter.Times.count(peer) && reporter.Times[peer] > 0 &&
      reporter.CpuTimes[peer] > 0)
    std::printf(
        "AlterRebuild median real %9.1f ms (SQLite %9.1f ms) ratio %.2f; cpu %9.1f ms (SQLite %9.1f ms) ratio %.2f"
        " (below 1: faster than SQLite)\n",
        reporter.Times[ours], reporter.Times[peer], reporter.Times[ours] / reporter.Times[peer],
        reporter.CpuTimes[ours], reporter.CpuTimes[peer], reporter.CpuTimes[ours] / reporter.CpuTimes[peer]);
  benchmark::Shutdown();
  return 0;
}
