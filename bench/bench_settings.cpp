// The settings store's statements on a Parametres table of 1,000 and of
// 100,000 rows: the read, the existence test, the update-or-insert of an
// existing key and the insert of a new key (existence test, then insert),
// each through a fresh query component (prepared each time, as the store
// does), against the same statements in SQLite, also prepared each time.
//
// Both tables have the same columns and one index on (Cle, Section).
//
// Series (arguments rows/shared/flush):
//   shared=1  the way the application opens its settings file: multi-user,
//             enciphered (Rijndael-128), made for 1,000 connections as
//             the settings tool makes the file, with a second PROCESS connected to the same
//             file for the whole run (and holding an SQLite connection to
//             the SQLite file too). Our engine therefore cannot assume it
//             is alone: every statement must notice what another process
//             may have committed.
//   shared=0  single-user, not enciphered, nobody else connected.
//   flush=0   no commit waits for the disk. Ours: durability off (the
//             rollback journal of the commit is written, never flushed).
//             SQLite: synchronous=OFF, rollback journal (journal_mode
//             DELETE: the journal file is created and deleted per commit).
//   flush=1   every commit waits for the disk. Ours: durability full
//             (journal flushed before the first page write, database and
//             emptied journal flushed after). SQLite: synchronous=FULL,
//             rollback journal (journal flushed, database flushed, journal
//             deleted).
// Every change is its own transaction (autocommit) on both sides.
//
// Keys are walked with one counter per file across benchmarks and
// repetitions, so an update always writes a value that was not stored
// (SQLite would skip an unchanged row) and an insert always adds a new key.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

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

const char* kPassword = "bench settings password";
constexpr int32_t kSettingsConnections = 1000;

std::string SectionOf(int i) { return "S" + std::to_string(i % 50); }
std::string KeyOf(int i) { return "K" + std::to_string(i); }
// The i-th key of a walk over n keys in a scattered order (64-bit: long
// runs go far past where an int product would overflow).
int Scatter(int64_t i, int64_t step, int n) { return static_cast<int>(i * step % n); }

std::string TempFile(const std::string& stem, int rows, bool shared, bool flush) {
  return (std::filesystem::temp_directory_path() /
          (stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(rows) + (shared ? "_mu" : "_su") +
           (flush ? "_fl" : "_nf")))
      .string();
}

// ---- The second process ----------------------------------------------------------------------

// Runs in the child: connects to both files like another user of the
// settings and stays connected until its standard input closes.
int HoldConnections(const std::string& sdbPath, const std::string& litePath) {
  sdb::TSDBDatabase db;
  db.SetDatabaseName("BenchSettingsHolder");
  db.SetDatabaseFileName(sdbPath);
  db.Password = kPassword;
  db.MultiUser = true;
  db.Open();
  {
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.ReadOnly = true;
    q.SetSQL("SELECT COUNT(*) FROM Parametres");
    q.Open();
    q.Close();
  }
  sqlite3* lite = nullptr;
  if (sqlite3_open(litePath.c_str(), &lite) != SQLITE_OK) return 2;
  sqlite3_exec(lite, "SELECT COUNT(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (::write(1, "R", 1) != 1) return 3;
  char c;
  while (::read(0, &c, 1) > 0) {
  }
  sqlite3_close(lite);
  db.Close();
  return 0;
}

// The parent's handle on the child: it ends when the pipe closes.
class THolder {
 public:
  THolder(const std::string& sdbPath, const std::string& litePath) {
    int in[2], out[2];
    // Close-on-exec: a later child must not keep this child's input open,
    // or this child never sees the end of it.
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    FPid = ::fork();
    if (FPid < 0) throw std::runtime_error("fork");
    if (FPid == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::close(in[1]);
      ::close(out[0]);
      ::execl("/proc/self/exe", "bench_settings", "--hold", sdbPath.c_str(), litePath.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    FToChild = in[1];
    char c = 0;
    const bool ready = ::read(out[0], &c, 1) == 1 && c == 'R';
    ::close(out[0]);
    if (!ready) {
      Stop();
      throw std::runtime_error("the second process could not connect");
    }
  }
  ~THolder() { Stop(); }
  THolder(const THolder&) = delete;
  THolder& operator=(const THolder&) = delete;

 private:
  void Stop() {
    if (FToChild >= 0) ::close(FToChild);
    FToChild = -1;
    if (FPid > 0) ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }
  pid_t FPid = -1;
  int FToChild = -1;
};

// ---- sdb -----------------------------------------------------------------------------------

struct SdbFixture {
  SdbFixture(int rows, bool shared, bool flush) : path(TempFile("bench_settings", rows, shared, flush) + ".sdb") {
    std::filesystem::remove(path);
    db.SetDatabaseName("BenchSettings" + std::to_string(rows) + (shared ? "mu" : "su") + (flush ? "fl" : "nf"));
    db.SetDatabaseFileName(path);
    db.MultiUser = shared;
    db.Durability = flush ? sdb::TSDBDurability::Full : sdb::TSDBDurability::Off;
    if (shared) {
      db.Password = kPassword;
      db.SetMaxConnections(kSettingsConnections);
    }
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
    std::filesystem::remove(path + "-journal");
  }
  void Exec(const std::string& sql) {
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.SetSQL(sql);
    q.ExecSQL();
  }
  void SetKey(sdb::TSDBQuery& q, const std::string& section, const std::string& key) {
    q.ParamByName("Agence").SetAsString("AG");
    q.ParamByName("Utilisateur").SetAsString("US");
    q.ParamByName("Section").SetAsString(section);
    q.ParamByName("Cle").SetAsString(key);
  }
  int64_t Count(const std::string& sql, const std::string& section, const std::string& key) {
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.ReadOnly = true;
    q.SetSQL(sql);
    SetKey(q, section, key);
    q.ParamByName("ValeurType").SetAsString("STRING");
    q.Open();
    int64_t n = q.RecordCount();
    q.Close();
    return n;
  }
  int64_t Change(const std::string& sql, const std::string& section, const std::string& key,
                 const std::string& value) {
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.SetSQL(sql);
    SetKey(q, section, key);
    q.ParamByName("ValeurType").SetAsString("STRING");
    q.ParamByName("Valeur").SetAsString(value);
    q.ExecSQL();
    return q.RowsAffected();
  }
  std::string path;
  sdb::TSDBDatabase db;
};

// ---- SQLite --------------------------------------------------------------------------------

struct LiteFixture {
  LiteFixture(int rows, bool shared, bool flush) : path(TempFile("bench_settings", rows, shared, flush) + ".sqlite") {
    std::filesystem::remove(path);
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite open");
    Exec("PRAGMA synchronous=OFF");
    Exec(kCreateLite);
    Exec(kIndex);
    Exec("BEGIN");
    for (int i = 0; i < rows; ++i)
      Exec("INSERT INTO Parametres VALUES ('AG', 'US', '" + SectionOf(i) + "', '" + KeyOf(i) + "', 'STRING', 'value " +
           std::to_string(i) + "', NULL, NULL)");
    Exec("COMMIT");
    Exec(flush ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
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
  int64_t Run(const std::string& sql, const std::string& section, const std::string& key, const char* value) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) throw std::runtime_error("prepare");
    auto bind = [&](const char* name, const std::string& v) {
      int idx = sqlite3_bind_parameter_index(st, name);
      if (idx > 0) sqlite3_bind_text(st, idx, v.c_str(), -1, SQLITE_TRANSIENT);
    };
    bind(":Agence", "AG");
    bind(":Utilisateur", "US");
    bind(":Section", section);
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

// ---- One file pair per series ---------------------------------------------------------------

// Both engines' files of one series, the second process connected to both,
// and the counter that walks the keys.
struct Series {
  Series(int rows, bool shared, bool flush) : sdb(rows, shared, flush), lite(rows, shared, flush) {
    if (shared) holder = std::make_unique<THolder>(sdb.path, lite.path);
  }
  SdbFixture sdb;
  LiteFixture lite;
  std::unique_ptr<THolder> holder;
  int64_t next = 0;       // walk over the existing keys
  int64_t fresh = 0;      // new keys
  int64_t changes = 0;    // values written
};

Series& Of(const benchmark::State& state) {
  static std::map<std::tuple<int, bool, bool>, std::unique_ptr<Series>> all;
  const int rows = static_cast<int>(state.range(0));
  const bool shared = state.range(1) != 0, flush = state.range(2) != 0;
  auto& s = all[{rows, shared, flush}];
  if (!s) s = std::make_unique<Series>(rows, shared, flush);
  return *s;
}

// What one side does per statement kind.
struct Ours {
  static int64_t Count(Series& s, const std::string& sql, const std::string& sec, const std::string& key) {
    return s.sdb.Count(sql, sec, key);
  }
  static int64_t Change(Series& s, const std::string& sql, const std::string& sec, const std::string& key,
                        const std::string& v) {
    return s.sdb.Change(sql, sec, key, v);
  }
};
struct Lite {
  static int64_t Count(Series& s, const std::string& sql, const std::string& sec, const std::string& key) {
    return s.lite.Run(sql, sec, key, nullptr);
  }
  static int64_t Change(Series& s, const std::string& sql, const std::string& sec, const std::string& key,
                        const std::string& v) {
    return s.lite.Run(sql, sec, key, v.c_str());
  }
};

// ---- Benchmarks ----------------------------------------------------------------------------

template <class E>
void Read(benchmark::State& state) {
  Series& s = Of(state);
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const int k = Scatter(s.next++, 7919, rows);
    if (E::Count(s, kRead, SectionOf(k), KeyOf(k)) != 1) state.SkipWithError("read found no row");
  }
}

// One key in eleven is absent.
template <class E>
void Exists(benchmark::State& state) {
  Series& s = Of(state);
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const int k = Scatter(s.next++, 104729, rows + rows / 10);
    benchmark::DoNotOptimize(E::Count(s, kExists, SectionOf(k), KeyOf(k)));
  }
}

// The store's write of a key that exists: the existence test, then the
// update (with a value never stored before).
template <class E>
void UpdateOrInsert(benchmark::State& state) {
  Series& s = Of(state);
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const int k = Scatter(s.next++, 7919, rows);
    const std::string sec = SectionOf(k), key = KeyOf(k), v = "new " + std::to_string(s.changes++);
    const bool found = E::Count(s, kExists, sec, key) == 1;
    if (E::Change(s, found ? kUpdate : kInsert, sec, key, v) != 1) state.SkipWithError("nothing written");
  }
}

// The store's write of a key that does not exist yet: the existence test,
// then the insert.
template <class E>
void Insert(benchmark::State& state) {
  Series& s = Of(state);
  for (auto _ : state) {
    const int64_t n = s.fresh++;
    const std::string sec = "N" + std::to_string(n % 50), key = "N" + std::to_string(n), v = "new " + std::to_string(n);
    const bool found = E::Count(s, kExists, sec, key) == 1;
    if (E::Change(s, found ? kUpdate : kInsert, sec, key, v) != 1) state.SkipWithError("nothing written");
  }
}

void ReadArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"rows", "shared", "flush"});
  for (int shared : {1, 0})
    for (int rows : {1000, 100000}) b->Args({rows, shared, 0});
  b->Repetitions(5)->DisplayAggregatesOnly(true);
}

void WriteArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"rows", "shared", "flush"});
  for (int flush : {0, 1})
    for (int rows : {1000, 100000}) b->Args({rows, 1, flush});
  for (int rows : {1000, 100000}) b->Args({rows, 0, 0});
  b->Repetitions(5)->DisplayAggregatesOnly(true);
}

BENCHMARK_TEMPLATE(Read, Ours)->Name("BM_Sdb_Read")->Apply(ReadArgs);
BENCHMARK_TEMPLATE(Read, Lite)->Name("BM_Sqlite_Read")->Apply(ReadArgs);
BENCHMARK_TEMPLATE(Exists, Ours)->Name("BM_Sdb_Exists")->Apply(ReadArgs);
BENCHMARK_TEMPLATE(Exists, Lite)->Name("BM_Sqlite_Exists")->Apply(ReadArgs);
BENCHMARK_TEMPLATE(UpdateOrInsert, Ours)->Name("BM_Sdb_UpdateOrInsert")->Apply(WriteArgs);
BENCHMARK_TEMPLATE(UpdateOrInsert, Lite)->Name("BM_Sqlite_UpdateOrInsert")->Apply(WriteArgs);
BENCHMARK_TEMPLATE(Insert, Ours)->Name("BM_Sdb_Insert")->Apply(WriteArgs);
BENCHMARK_TEMPLATE(Insert, Lite)->Name("BM_Sqlite_Insert")->Apply(WriteArgs);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--hold") == 0) {
    try {
      return HoldConnections(argv[2], argv[3]);
    } catch (const std::exception&) {
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
