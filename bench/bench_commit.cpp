// Commit cost with the rollback journal at each durability level, with
// SQLite (rollback journal, journal_mode=DELETE) measured in the same run at
// the matching synchronous setting: off = OFF, normal = NORMAL, full = FULL.
//
// Both sides hold the same table, acct(id, bal, label) with 2,000 rows and
// an index on id, and run the same SQL text through their SQL layer with
// a statement prepared once:
//   single-row commit:  UPDATE acct SET bal = bal + 1 WHERE id = 1000
//                       (autocommit: one transaction per statement)
//   2,000-row UPDATE:   UPDATE acct SET bal = bal + 1 (one transaction)
// Per commit, ours: header lock, journal of the header and every page the
// commit writes (read from the file, written in one call; of a page the
// transaction allocated only its header), two header
// writes, the pages, the journal emptied; off flushes nothing, normal
// flushes the journal and then the database, full also the emptied
// journal. SQLite: its journal of the changed pages, header, pages, the
// journal deleted; OFF flushes nothing, NORMAL the journal and the
// database, FULL the journal twice (contents, then header) and the
// database.
// Page level: the page cache's commit of one dirty page at each level.
// Check: the per-table-lock test for an interrupted commit of another
// process (no journal present).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "BenchMedians.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBSystemDirectory.h"
#include "sdb/SDBComponents.h"

using namespace sdb;

namespace {

constexpr int kRows = 2000;
constexpr TSDBDurability kLevels[] = {TSDBDurability::Off, TSDBDurability::Normal, TSDBDurability::Full};
const char* const kSynchronous[] = {"OFF", "NORMAL", "FULL"};
const char* const kSingleRow = "UPDATE acct SET bal = bal + 1 WHERE id = 1000";
const char* const kAllRows = "UPDATE acct SET bal = bal + 1";

std::string TempFile(const std::string& name) {
  // The process in the name: runs of other checkouts on the machine at the
  // same time must not share (and remove) each other's files.
  return (std::filesystem::temp_directory_path() / ("bench_commit_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

void RemoveFiles(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  std::filesystem::remove(path + "-journal", ec);
}

// Our database with the acct table, open through the components.
class TOurs {
 public:
  explicit TOurs(TSDBDurability level) : FPath(TempFile("sdb.sdb")) {
    RemoveFiles(FPath);
    FDb.SetDatabaseName("BenchCommit");
    FDb.SetDatabaseFileName(FPath);
    FDb.Durability = TSDBDurability::Off;
    FDb.CreateDatabase();
    FDb.Open();
    Run("CREATE TABLE acct (id INTEGER, bal INTEGER, label VARCHAR(40))");
    Run("CREATE INDEX ById ON acct (id)");
    FDb.StartTransaction();
    TSDBQuery ins;
    ins.DatabaseName = "BenchCommit";
    ins.SetSQL("INSERT INTO acct (id, bal, label) VALUES (:i, 0, :l)");
    for (int i = 0; i < kRows; ++i) {
      ins.ParamByName("i").SetAsString(std::to_string(i));
      ins.ParamByName("l").SetAsString("account " + std::to_string(i));
      ins.ExecSQL();
    }
    FDb.Commit();
    FDb.Close();
    FDb.Durability = level;
    FDb.Open();
  }
  ~TOurs() {
    FDb.Close();
    RemoveFiles(FPath);
  }
  void Run(const char* sql) {
    TSDBQuery q;
    q.DatabaseName = "BenchCommit";
    q.SetSQL(sql);
    q.ExecSQL();
  }

 private:
  std::string FPath;
  TSDBDatabase FDb;
};

class TSqlite {
 public:
  explicit TSqlite(const char* synchronous) : FPath(TempFile("sqlite.db")) {
    RemoveFiles(FPath);
    sqlite3_open(FPath.c_str(), &FDb);
    Exec("PRAGMA journal_mode=DELETE");
    Exec("PRAGMA synchronous=OFF");
    Exec("CREATE TABLE acct (id INTEGER, bal INTEGER, label VARCHAR(40))");
    Exec("CREATE INDEX ById ON acct (id)");
    Exec("BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(FDb, "INSERT INTO acct (id, bal, label) VALUES (?, 0, ?)", -1, &ins, nullptr);
    for (int i = 0; i < kRows; ++i) {
      const std::string label = "account " + std::to_string(i);
      sqlite3_bind_int(ins, 1, i);
      sqlite3_bind_text(ins, 2, label.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    Exec("COMMIT");
    Exec((std::string("PRAGMA synchronous=") + synchronous).c_str());
  }
  ~TSqlite() {
    sqlite3_close(FDb);
    RemoveFiles(FPath);
  }
  void Exec(const char* sql) { sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(FDb, sql, -1, &st, nullptr);
    return st;
  }

 private:
  std::string FPath;
  sqlite3* FDb = nullptr;
};

void OursSql(benchmark::State& state, const char* sql) {
  TOurs db(kLevels[state.range(0)]);
  TSDBQuery q;
  q.DatabaseName = "BenchCommit";
  q.SetSQL(sql);
  for (auto _ : state) q.ExecSQL();
}

void SqliteSql(benchmark::State& state, const char* sql) {
  TSqlite db(kSynchronous[state.range(0)]);
  sqlite3_stmt* st = db.Prepare(sql);
  for (auto _ : state) {
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
}

void BM_SingleRowCommit_Sdb(benchmark::State& s) { OursSql(s, kSingleRow); }
void BM_SingleRowCommit_SQLite(benchmark::State& s) { SqliteSql(s, kSingleRow); }
void BM_Update2000Rows_Sdb(benchmark::State& s) { OursSql(s, kAllRows); }
void BM_Update2000Rows_SQLite(benchmark::State& s) { SqliteSql(s, kAllRows); }

// The page cache's commit of one changed page.
void BM_CommitOnePage_Sdb(benchmark::State& state) {
  const std::string path = TempFile("page.sdb");
  RemoveFiles(path);
  TSDBDiskPageCache cache;
  SDBCreateDatabase(cache, {path, "", craRijndael_128, 4096, 8, 10});
  cache.DiskPageManager().Durability = kLevels[state.range(0)];
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
  }
  cache.CloseDatabase();
  RemoveFiles(path);
}

// What a shared session pays per table lock to make sure no committer of
// another process died half-way: the check when no journal is there.
void BM_InterruptedCommitCheck_Sdb(benchmark::State& state) {
  const std::string path = TempFile("check.sdb");
  RemoveFiles(path);
  TSDBDiskPageCache cache;
  SDBCreateDatabase(cache, {path, "", craRijndael_128, 4096, 8, 10});
  for (auto _ : state) cache.DiskPageManager().RecoverInterruptedCommit();
  cache.CloseDatabase();
  RemoveFiles(path);
}

}  // namespace

BENCHMARK(BM_InterruptedCommitCheck_Sdb)->Repetitions(3)->ReportAggregatesOnly(true);
#define LEVELS ->Arg(0)->Arg(1)->Arg(2)->Repetitions(3)->ReportAggregatesOnly(true)->MinTime(0.3)
BENCHMARK(BM_SingleRowCommit_Sdb) LEVELS;
BENCHMARK(BM_SingleRowCommit_SQLite) LEVELS;
BENCHMARK(BM_Update2000Rows_Sdb) LEVELS;
BENCHMARK(BM_Update2000Rows_SQLite) LEVELS;
BENCHMARK(BM_CommitOnePage_Sdb) LEVELS;

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TMedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* what : {"SingleRowCommit", "Update2000Rows"}) {
    for (int level = 0; level < 3; ++level) {
      const std::string ours = std::string("BM_") + what + "_Sdb/" + std::to_string(level);
      const std::string peer = std::string("BM_") + what + "_SQLite/" + std::to_string(level);
      auto a = reporter.Times.find(ours), b = reporter.Times.find(peer);
      if (a != reporter.Times.end() && b != reporter.Times.end() && b->second > 0)
        std::printf("ratio %s %s / SQLite synchronous=%s: median %.1f us / %.1f us = %.2f (at most 1: not slower)\n",
                    what, SDBDurabilityName(kLevels[level]), kSynchronous[level], a->second / 1000, b->second / 1000,
                    a->second / b->second);
    }
  }
  benchmark::Shutdown();
  return 0;
}
