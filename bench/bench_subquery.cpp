// Correlated subqueries against SQLite in the same run, over one table
// t (i, j, k) of 200 rows (i = 1 .. 200, j and k drawn from 1 .. 200 with a
// fixed seed, no index on either side):
//
//   Nested       SELECT COUNT(*) FROM t a WHERE a.i IN (SELECT b.j FROM t b
//                WHERE EXISTS (SELECT * FROM t c WHERE c.i = b.k AND c.k > a.i))
//                (the inner query runs once per pair of outer rows)
//   Scalar       SELECT i, (SELECT MAX(c.i) FROM t c WHERE c.i < t.i) FROM t
//
// Our side runs the SQL through the query component, SQLite through a
// prepared statement; both answers are checked to be equal once.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "sdb/SDBComponents.h"

using namespace sdb;

namespace {

constexpr int kRows = 200;

const char* const kNested =
    "SELECT COUNT(*) FROM t a WHERE a.i IN (SELECT b.j FROM t b WHERE EXISTS "
    "(SELECT * FROM t c WHERE c.i = b.k AND c.k > a.i))";
const char* const kScalar = "SELECT i, (SELECT MAX(c.i) FROM t c WHERE c.i < t.i) FROM t";

std::string InsertText() {
  std::mt19937 gen(1);
  std::uniform_int_distribution<int> d(1, kRows);
  std::string sql = "INSERT INTO t VALUES ";
  for (int i = 1; i <= kRows; ++i) {
    const int j = d(gen);
    const int k = d(gen);
    sql += (i > 1 ? ", (" : "(") + std::to_string(i) + ", " + std::to_string(j) + ", " + std::to_string(k) + ")";
  }
  return sql;
}

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("bench_subquery_") + name)).string();
}

struct TOurs {
  std::string Path = TempFile("sdb.sdb");
  TSDBDatabase DB;
  TOurs() {
    std::filesystem::remove(Path);
    DB.SetDatabaseName("BenchSubquery");
    DB.SetDatabaseFileName(Path);
    DB.CreateDatabase();
    DB.Open();
    Exec("CREATE TABLE t (i INTEGER, j INTEGER, k INTEGER)");
    Exec(InsertText());
  }
  ~TOurs() {
    DB.Close();
    std::filesystem::remove(Path);
  }
  void Exec(const std::string& sql) {
    TSDBQuery q;
    q.DatabaseName = "BenchSubquery";
    q.SetSQL(sql);
    q.ExecSQL();
  }
  // Rows of the result and the sum of its integer cells.
  std::pair<int64_t, int64_t> Run(const char* sql) {
    TSDBQuery q;
    q.DatabaseName = "BenchSubquery";
    q.SetSQL(sql);
    q.Open();
    int64_t rows = 0, sum = 0;
    for (q.First(); !q.Eof(); q.Next()) {
      ++rows;
      for (int c = 0; c < q.FieldCount(); ++c)
        if (!q.Fields(c).Value().IsNull()) sum += q.Fields(c).Value().AsInt64();
    }
    q.Close();
    return {rows, sum};
  }
};

struct TSQLite {
  std::string Path = TempFile("sqlite.db");
  sqlite3* DB = nullptr;
  TSQLite() {
    std::filesystem::remove(Path);
    sqlite3_open(Path.c_str(), &DB);
    sqlite3_exec(DB, "CREATE TABLE t (i INTEGER, j INTEGER, k INTEGER)", nullptr, nullptr, nullptr);
    sqlite3_exec(DB, InsertText().c_str(), nullptr, nullptr, nullptr);
  }
  ~TSQLite() {
    sqlite3_close(DB);
    std::filesystem::remove(Path);
  }
  std::pair<int64_t, int64_t> Run(const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(DB, sql, -1, &st, nullptr);
    int64_t rows = 0, sum = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      ++rows;
      for (int c = 0; c < sqlite3_column_count(st); ++c) sum += sqlite3_column_int64(st, c);
    }
    sqlite3_finalize(st);
    return {rows, sum};
  }
};

TOurs& Ours() {
  static TOurs o;
  return o;
}
TSQLite& Lite() {
  static TSQLite l;
  return l;
}

template <class Side>
void Bench(benchmark::State& state, Side& side, const char* sql) {
  if (Ours().Run(sql) != Lite().Run(sql)) {
    state.SkipWithError("the two engines answer differently");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(side.Run(sql));
}

void BM_Ours_Nested(benchmark::State& s) { Bench(s, Ours(), kNested); }
void BM_SQLite_Nested(benchmark::State& s) { Bench(s, Lite(), kNested); }
void BM_Ours_Scalar(benchmark::State& s) { Bench(s, Ours(), kScalar); }
void BM_SQLite_Scalar(benchmark::State& s) { Bench(s, Lite(), kScalar); }

BENCHMARK(BM_Ours_Nested)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_SQLite_Nested)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Ours_Scalar)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_SQLite_Scalar)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
