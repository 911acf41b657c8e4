// Filtered and linked datasets against SQLite in the same run.
//
//   FilteredScan   a 50,000-row table read through a filter that keeps one
//                  row in ten ("Qty >= 900"), two fields of each kept row;
//                  SQLite: the same condition in a WHERE clause (no index
//                  on the column on either side)
//   MasterDetail   1,000 master rows walked in order, and for each the 50
//                  detail rows of its key read through a detail table
//                  (index on the key); SQLite: one prepared query per
//                  master row over the same index
//
// Our side goes through the components (TSDBTable with Filter, MasterSource);
// SQLite through prepared statements. Every benchmark is run several times
// and the medians are compared.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>

#include "sdb/SDBComponents.h"

using namespace sdb;

namespace {

constexpr int kRows = 50000;
constexpr int kOrders = 1000;
constexpr int kLinesPerOrder = 50;

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("bench_filter_") + name)).string();
}

int Qty(int i) { return (i * 7919) % 1000; }
std::string Name(int i) { return "article " + std::to_string(i); }

// ---- Ours -------------------------------------------------------------------------------------

struct TOurs {
  std::string Path = TempFile("sdb.sdb");
  TSDBDatabase DB;

  TOurs() {
    std::filesystem::remove(Path);
    DB.SetDatabaseName("BenchFilter");
    DB.SetDatabaseFileName(Path);
    DB.CreateDatabase();
    DB.Open();
    Exec("CREATE TABLE T (Id INTEGER, Name VARCHAR(50), Qty INTEGER)");
    Exec("CREATE TABLE Orders (Id INTEGER)");
    Exec("CREATE INDEX OrdersById ON Orders (Id)");
    Exec("CREATE TABLE Lines (OrderId INTEGER, Seq INTEGER, Item VARCHAR(50))");
    Exec("CREATE INDEX ByOrder ON Lines (OrderId, Seq)");
    DB.StartTransaction();
    Insert("INSERT INTO T VALUES (:a, :b, :c)", kRows, [](TSDBQuery& q, int i) {
      q.ParamByName("a").SetAsInteger(i);
      q.ParamByName("b").SetAsString(Name(i));
      q.ParamByName("c").SetAsInteger(Qty(i));
    });
    Insert("INSERT INTO Orders VALUES (:a)", kOrders, [](TSDBQuery& q, int i) { q.ParamByName("a").SetAsInteger(i); });
    Insert("INSERT INTO Lines VALUES (:a, :b, :c)", kOrders * kLinesPerOrder, [](TSDBQuery& q, int i) {
      q.ParamByName("a").SetAsInteger(i % kOrders);
      q.ParamByName("b").SetAsInteger(i / kOrders);
      q.ParamByName("c").SetAsString(Name(i));
    });
    DB.Commit();
  }
  void Exec(const std::string& sql) {
    TSDBQuery q;
    q.DatabaseName = DB.DatabaseName();
    q.SetSQL(sql);
    q.ExecSQL();
  }
  template <class F>
  void Insert(const std::string& sql, int count, F&& bind) {
    TSDBQuery q;
    q.DatabaseName = DB.DatabaseName();
    q.SetSQL(sql);
    q.Prepare();
    for (int i = 0; i < count; ++i) {
      bind(q, i);
      q.ExecSQL();
    }
  }
  ~TOurs() {
    DB.Close();
    std::filesystem::remove(Path);
  }
};

TOurs& Ours() {
  static TOurs o;
  return o;
}

void BM_FilteredScan_Sdb(benchmark::State& state) {
  TOurs& o = Ours();
  TSDBTable t;
  t.DatabaseName = o.DB.DatabaseName();
  t.TableName = "T";
  t.SetFilter("Qty >= 900");
  t.SetFiltered(true);
  t.Open();
  int64_t rows = 0;
  for (auto _ : state) {
    for (t.First(); !t.Eof(); t.Next()) {
      ++rows;
      benchmark::DoNotOptimize(t.Fields(0).AsInteger());
      benchmark::DoNotOptimize(t.Fields(1).AsString());
    }
  }
  if (rows != state.iterations() * kRows / 10) state.SkipWithError("the filter kept the wrong rows");
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_MasterDetail_Sdb(benchmark::State& state) {
  TOurs& o = Ours();
  TSDBTable orders, lines;
  for (TSDBTable* t : {&orders, &lines}) t->DatabaseName = o.DB.DatabaseName();
  orders.TableName = "Orders";
  orders.IndexName = "OrdersById";
  lines.TableName = "Lines";
  lines.IndexName = "ByOrder";
  TSDBDataSource src(&orders);
  lines.SetMasterSource(&src);
  lines.SetMasterFields("Id");
  orders.Open();
  lines.Open();
  int64_t rows = 0;
  for (auto _ : state) {
    for (orders.First(); !orders.Eof(); orders.Next())
      for (lines.First(); !lines.Eof(); lines.Next()) {
        ++rows;
        benchmark::DoNotOptimize(lines.Fields(2).AsString());
      }
  }
  if (rows != state.iterations() * kOrders * kLinesPerOrder) state.SkipWithError("the detail missed rows");
  state.SetItemsProcessed(state.iterations() * kOrders * kLinesPerOrder);
}

// ---- SQLite -----------------------------------------------------------------------------------

struct TSqlite {
  std::string Path = TempFile("sqlite.db");
  sqlite3* DB = nullptr;

  TSqlite() {
    std::filesystem::remove(Path);
    sqlite3_open(Path.c_str(), &DB);
    sqlite3_exec(DB, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    sqlite3_exec(DB,
                 "CREATE TABLE t(id INTEGER, name VARCHAR(50), qty INTEGER);"
                 "CREATE TABLE orders(id INTEGER); CREATE INDEX ordersbyid ON orders(id);"
                 "CREATE TABLE lines(orderid INTEGER, seq INTEGER, item VARCHAR(50));"
                 "CREATE INDEX byorder ON lines(orderid, seq);",
                 nullptr, nullptr, nullptr);
    sqlite3_exec(DB, "BEGIN", nullptr, nullptr, nullptr);
    Run("INSERT INTO t VALUES(?, ?, ?)", kRows, [](sqlite3_stmt* st, int i, std::string& text) {
      text = Name(i);
      sqlite3_bind_int(st, 1, i);
      sqlite3_bind_text(st, 2, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
      sqlite3_bind_int(st, 3, Qty(i));
    });
    Run("INSERT INTO orders VALUES(?)", kOrders,
        [](sqlite3_stmt* st, int i, std::string&) { sqlite3_bind_int(st, 1, i); });
    Run("INSERT INTO lines VALUES(?, ?, ?)", kOrders * kLinesPerOrder, [](sqlite3_stmt* st, int i, std::string& text) {
      text = Name(i);
      sqlite3_bind_int(st, 1, i % kOrders);
      sqlite3_bind_int(st, 2, i / kOrders);
      sqlite3_bind_text(st, 3, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    });
    sqlite3_exec(DB, "COMMIT", nullptr, nullptr, nullptr);
  }
  template <class F>
  void Run(const char* sql, int count, F&& bind) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(DB, sql, -1, &st, nullptr);
    std::string text;
    for (int i = 0; i < count; ++i) {
      bind(st, i, text);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
  }
  ~TSqlite() {
    sqlite3_close(DB);
    std::filesystem::remove(Path);
  }
};

TSqlite& Sqlite() {
  static TSqlite s;
  return s;
}

void BM_FilteredScan_Sqlite(benchmark::State& state) {
  TSqlite& s = Sqlite();
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(s.DB, "SELECT id, name FROM t WHERE qty >= 900", -1, &st, nullptr);
  int64_t rows = 0;
  for (auto _ : state) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      ++rows;
      benchmark::DoNotOptimize(sqlite3_column_int64(st, 0));
      benchmark::DoNotOptimize(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))));
    }
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  if (rows != state.iterations() * kRows / 10) state.SkipWithError("the condition kept the wrong rows");
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_MasterDetail_Sqlite(benchmark::State& state) {
  TSqlite& s = Sqlite();
  sqlite3_stmt *master = nullptr, *detail = nullptr;
  sqlite3_prepare_v2(s.DB, "SELECT id FROM orders ORDER BY id", -1, &master, nullptr);
  sqlite3_prepare_v2(s.DB, "SELECT item FROM lines WHERE orderid = ? ORDER BY seq", -1, &detail, nullptr);
  int64_t rows = 0;
  for (auto _ : state) {
    while (sqlite3_step(master) == SQLITE_ROW) {
      sqlite3_bind_int64(detail, 1, sqlite3_column_int64(master, 0));
      while (sqlite3_step(detail) == SQLITE_ROW) {
        ++rows;
        benchmark::DoNotOptimize(std::string(reinterpret_cast<const char*>(sqlite3_column_text(detail, 0))));
      }
      sqlite3_reset(detail);
    }
    sqlite3_reset(master);
  }
  sqlite3_finalize(master);
  sqlite3_finalize(detail);
  if (rows != state.iterations() * kOrders * kLinesPerOrder) state.SkipWithError("the detail missed rows");
  state.SetItemsProcessed(state.iterations() * kOrders * kLinesPerOrder);
}

BENCHMARK(BM_FilteredScan_Sdb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilteredScan_Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MasterDetail_Sdb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MasterDetail_Sqlite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
