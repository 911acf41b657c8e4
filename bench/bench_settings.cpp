// The settings store's statements on a Parametres table of 1,000 and of
// 100,000 rows: the read, the existence test and the update-or-insert,
// each through a fresh query component (prepared each time, as the store
// does), against the same statements in SQLite prepared each time.
//
// Both tables have the same columns and one index on (Cle, Section); the
// files are not enciphered.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "sdb/SDBComponents.h"

namespace {

const char* kCreate =
    "CREATE TABLE Parametres (Agence VARCHAR(20), Utilisateur VARCHAR(20), `Section` VARCHAR(40), Cle VARCHAR(40), "
    "ValeurType VARCHAR(10), ValeurChaine VARCHAR(250), ValeurEntier INTEGER, ValeurMemo MEMO)";
const char* kCreateLite =
    "CREATE TABLE Parametres (Agence VARCHAR(20), Utilisateur VARCHAR(20), `Section` VARCHAR(40), Cle VARCHAR(40), "
    "ValeurType VARCHAR(10), ValeurChaine VARCHAR(250), ValeurEntier INTEGER, ValeurMemo TEXT)";
const char* kIndex = "CREATE INDEX ByKey ON Parametres (Cle, `Section`)";

const std::string kWhere =
    "\n WHERE `Agence` = :Agence \n AND `Utilisateur` = :Utilisateur \n AND `Section` = :Section \n AND `Cle` = :Cle ";
const std::string kRead = "SELECT ValeurChaine\n FROM Parametres" + kWhere + "\n AND `ValeurType` = :ValeurType ";
const std::string kExists = "SELECT * FROM Parametres" + kWhere + "\n AND `ValeurType` = :ValeurType ";
const std::string kUpdate =
    "UPDATE Parametres set \n `ValeurType` = :ValeurType, \n `ValeurChaine` = :Valeur " + kWhere;
const std::string kInsert =
    "INSERT INTO Parametres\n ( `Agence`, `Utilisateur`, `Section`, `Cle`, `ValeurType`, `ValeurChaine`)  \n VALUES "
    "\n ( :Agence, :Utilisateur, :Section, :Cle, :ValeurType, :Valeur )";

std::string SectionOf(int i) { return "S" + std::to_string(i % 50); }
std::string KeyOf(int i) { return "K" + std::to_string(i); }
// The i-th key of a walk over n keys in a scattered order (64-bit: long
// runs go far past where an int product would overflow).
int Scatter(int i, int64_t step, int n) { return static_cast<int>(int64_t{i} * step % n); }

std::string TempFile(const std::string& stem, int rows) {
  return (std::filesystem::temp_directory_path() /
          (stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(rows)))
      .string();
}

// ---- sdb -----------------------------------------------------------------------------------

struct SdbFixture {
  explicit SdbFixture(int rows) : path(TempFile("bench_settings", rows) + ".sdb") {
    std::filesystem::remove(path);
    db.SetDatabaseName("BenchSettings" + std::to_string(rows));
    db.SetDatabaseFileName(path);
    db.CreateDatabase();
    db.Open();
    Exec(kCreate);
    Exec(kIndex);
    for (int start = 0; start < rows; start += 5000) {
      std::string sql = "START TRANSACTION; INSERT INTO Parametres VALUES ";
      for (int i = start; i < std::min(rows, start + 5000); ++i) {
        if (i > start) sql += ", ";
        sql += "('AG', 'US', '" + SectionOf(i) + "', '" + KeyOf(i) + "', 'STRING', 'value " + std::to_string(i) +
               "', NULL, NULL)";
      }
      sql += "; COMMIT";
      Exec(sql);
    }
  }
  ~SdbFixture() {
    db.Close();
    std::filesystem::remove(path);
  }
  void Exec(const std::string& sql) {
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.SetSQL(sql);
    q.ExecSQL();
  }
  void SetKey(sdb::TSDBQuery& q, int i) {
    q.ParamByName("Agence").SetAsString("AG");
    q.ParamByName("Utilisateur").SetAsString("US");
    q.ParamByName("Section").SetAsString(SectionOf(i));
    q.ParamByName("Cle").SetAsString(KeyOf(i));
  }
  int64_t Count(const std::string& sql, int i) {
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.ReadOnly = true;
    q.SetSQL(sql);
    SetKey(q, i);
    q.ParamByName("ValeurType").SetAsString("STRING");
    q.Open();
    int64_t n = q.RecordCount();
    q.Close();
    return n;
  }
  int Change(const std::string& sql, int i, const std::string& value) {
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.SetSQL(sql);
    SetKey(q, i);
    q.ParamByName("ValeurType").SetAsString("STRING");
    q.ParamByName("Valeur").SetAsString(value);
    q.ExecSQL();
    return q.RowsAffected();
  }
  std::string path;
  sdb::TSDBDatabase db;
};

SdbFixture& Sdb(int rows) {
  static std::map<int, std::unique_ptr<SdbFixture>> fixtures;
  auto& f = fixtures[rows];
  if (!f) f = std::make_unique<SdbFixture>(rows);
  return *f;
}

// ---- SQLite --------------------------------------------------------------------------------

struct LiteFixture {
  explicit LiteFixture(int rows) : path(TempFile("bench_settings", rows) + ".sqlite") {
    std::filesystem::remove(path);
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite open");
    // Our commit writes without flushing the file: compare like with like.
    Exec("PRAGMA synchronous=OFF");
    Exec(kCreateLite);
    Exec(kIndex);
    Exec("BEGIN");
    for (int i = 0; i < rows; ++i)
      Exec("INSERT INTO Parametres VALUES ('AG', 'US', '" + SectionOf(i) + "', '" + KeyOf(i) + "', 'STRING', 'value " +
           std::to_string(i) + "', NULL, NULL)");
    Exec("COMMIT");
  }
  ~LiteFixture() {
    sqlite3_close(db);
    std::filesystem::remove(path);
  }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string m = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error(m);
    }
  }
  // Prepares, binds the key (and the value), runs, finalizes; answers the
  // rows returned (queries) or changed (updates and inserts).
  int64_t Run(const std::string& sql, int i, const char* value) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) throw std::runtime_error("prepare");
    const std::string sec = SectionOf(i), key = KeyOf(i);
    auto bind = [&](const char* name, const std::string& v) {
      int idx = sqlite3_bind_parameter_index(st, name);
      if (idx > 0) sqlite3_bind_text(st, idx, v.c_str(), -1, SQLITE_TRANSIENT);
    };
    bind(":Agence", "AG");
    bind(":Utilisateur", "US");
    bind(":Section", sec);
    bind(":Cle", key);
    bind(":ValeurType", "STRING");
    if (value) bind(":Valeur", value);
    int64_t rows = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) ++rows;
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) throw std::runtime_error("step");
    return value ? sqlite3_changes(db) : rows;
  }
  std::string path;
  sqlite3* db = nullptr;
};

LiteFixture& Lite(int rows) {
  static std::map<int, std::unique_ptr<LiteFixture>> fixtures;
  auto& f = fixtures[rows];
  if (!f) f = std::make_unique<LiteFixture>(rows);
  return *f;
}

// ---- Benchmarks ----------------------------------------------------------------------------

void BM_Sdb_Read(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  SdbFixture& f = Sdb(rows);
  int i = 0;
  for (auto _ : state) {
    if (f.Count(kRead, Scatter(i, 7919, rows)) != 1) state.SkipWithError("read found no row");
    ++i;
  }
}

void BM_Sqlite_Read(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  LiteFixture& f = Lite(rows);
  int i = 0;
  for (auto _ : state) {
    if (f.Run(kRead, Scatter(i, 7919, rows), nullptr) != 1) state.SkipWithError("read found no row");
    ++i;
  }
}

void BM_Sdb_Exists(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  SdbFixture& f = Sdb(rows);
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.Count(kExists, Scatter(i, 104729, rows + rows / 10)));
    ++i;
  }
}

void BM_Sqlite_Exists(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  LiteFixture& f = Lite(rows);
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.Run(kExists, Scatter(i, 104729, rows + rows / 10), nullptr));
    ++i;
  }
}

// The store's write: the existence test, then the update or the insert.
void BM_Sdb_UpdateOrInsert(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  SdbFixture& f = Sdb(rows);
  int i = 0;
  for (auto _ : state) {
    const int key = Scatter(i, 7919, rows);
    const std::string v = "new " + std::to_string(i);
    if (f.Count(kExists, key) == 1)
      f.Change(kUpdate, key, v);
    else
      f.Change(kInsert, key, v);
    ++i;
  }
}

void BM_Sqlite_UpdateOrInsert(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  LiteFixture& f = Lite(rows);
  int i = 0;
  for (auto _ : state) {
    const int key = Scatter(i, 7919, rows);
    const std::string v = "new " + std::to_string(i);
    if (f.Run(kExists, key, nullptr) == 1)
      f.Run(kUpdate, key, v.c_str());
    else
      f.Run(kInsert, key, v.c_str());
    ++i;
  }
}

BENCHMARK(BM_Sdb_Read)->Arg(1000)->Arg(100000);
BENCHMARK(BM_Sqlite_Read)->Arg(1000)->Arg(100000);
BENCHMARK(BM_Sdb_Exists)->Arg(1000)->Arg(100000);
BENCHMARK(BM_Sqlite_Exists)->Arg(1000)->Arg(100000);
BENCHMARK(BM_Sdb_UpdateOrInsert)->Arg(1000)->Arg(100000);
BENCHMARK(BM_Sqlite_UpdateOrInsert)->Arg(1000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
