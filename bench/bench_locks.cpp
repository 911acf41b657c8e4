// Single-row updates per second with 1, 2 and 4 processes writing one file
// at the same time, each process updating its own row, each update
// committed on its own. Ours: a multi-user session per process taking the
// table's write lock for each update (byte-range locks, no server). SQLite:
// an autocommit UPDATE per row, with the rollback journal and with WAL
// (synchronous=OFF in both, since our commit does not flush either).
//
// Each measurement forks the processes, lets them run for a fixed time
// (BENCH_LOCKS_SECONDS, 2 by default) and sums the updates they report.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/SDBPlatform.h"
#include "storage/database/SDBSession.h"

using namespace sdb;

namespace {

double Seconds() {
  const char* env = std::getenv("BENCH_LOCKS_SECONDS");
  return env ? std::atof(env) : 2.0;
}

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("bench_locks_") + name)).string();
}

TSDBFieldDefs KV() {
  TSDBFieldDefs defs;
  defs.Emplace("K", aftInteger, 0);
  defs.Emplace("V", aftInteger, 0);
  return defs;
}

// One process's loop: update row `row` until the time is up; answers the count.
int64_t OursWorker(const std::string& path, int row, double seconds) {
  TSDBCursor c;
  TSDBLocalSession s;
  TSDBConnectParams p;
  p.FileName = path;
  p.MultiUser = true;
  s.Connect(p);
  s.OpenTable(c, "T");
  TSDBDiskTableData& t = *c.TableData;
  int64_t n = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    // The cursor's post protocol: one attempt at a time, short sleeps between.
    if (!t.LockTable(c.SessionID, ltRW, 1, 40)) {
      SDBSleep(1);
      continue;
    }
    t.LoadMostUpdated(c.SessionID);
    c.FirstPosition = true;
    c.LastPosition = false;
    while (t.GetRecordBuffer(c, grmNext) == grrOK) {
      if (t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64() != row) continue;
      c.EditRecordBuffer = c.CurrentRecordBuffer;
      t.SetFieldValue(c.EditRecordBuffer, 1,
                      TSDBVariant::FromInt(t.GetFieldValue(c.CurrentRecordBuffer, 1).AsInt64() + 1));
      t.UpdateRecord(c);
      ++n;
      break;
    }
    t.UnlockTable(c.SessionID, ltRW);
  }
  s.CloseTable(c);
  s.Disconnect();
  return n;
}

int64_t SqliteWorker(const std::string& path, int row, double seconds) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_busy_timeout(db, 10000);
  sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "UPDATE t SET v = v + 1 WHERE k = ?", -1, &st, nullptr);
  int64_t n = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    sqlite3_bind_int(st, 1, row);
    if (sqlite3_step(st) == SQLITE_DONE) ++n;
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

// Forks `procs` workers and sums what they report through pipes.
template <typename F>
int64_t RunProcesses(int procs, F worker) {
  std::vector<std::pair<pid_t, int>> kids;
  for (int i = 0; i < procs; ++i) {
    int fd[2];
    if (pipe(fd) != 0) break;
    const pid_t pid = fork();
    if (pid == 0) {
      close(fd[0]);
      int64_t n = -1;
      try {
        n = worker(i);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "worker %d: %s\n", i, e.what());
      }
      if (write(fd[1], &n, sizeof n) != sizeof n) _exit(2);
      _exit(0);
    }
    close(fd[1]);
    kids.emplace_back(pid, fd[0]);
  }
  int64_t total = 0;
  for (auto& [pid, fd] : kids) {
    int64_t n = 0;
    if (read(fd, &n, sizeof n) == sizeof n && n > 0) total += n;
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
  }
  return total;
}

void Ours(benchmark::State& state) {
  const int procs = static_cast<int>(state.range(0));
  const std::string path = TempFile("sdb.sdb");
  std::filesystem::remove(path);
  {
    TSDBLocalSession creator;
    TSDBCreateDatabaseParams p;
    p.FileName = path;
    p.MaxConnections = 16;
    creator.CreateDatabase(p);
    TSDBCursor c;
    TSDBLocalSession s;
    TSDBConnectParams cp;
    cp.FileName = path;
    cp.MultiUser = true;
    s.Connect(cp);
    s.CreateTable("T", KV());
    s.OpenTable(c, "T");
    TSDBDiskTableData& t = *c.TableData;
    for (int i = 0; i < procs; ++i) {
      c.EditRecordBuffer = t.NewRecordBuffer();
      t.SetFieldValue(c.EditRecordBuffer, 0, TSDBVariant::FromInt(i));
      t.SetFieldValue(c.EditRecordBuffer, 1, TSDBVariant::FromInt(0));
      t.InsertRecord(c);
    }
    s.CloseTable(c);
  }
  const double seconds = Seconds();
  for (auto _ : state) {
    const int64_t n = RunProcesses(procs, [&](int i) { return OursWorker(path, i, seconds); });
    state.counters["updates_per_s"] = static_cast<double>(n) / seconds;
  }
  std::filesystem::remove(path);
}

void Sqlite(benchmark::State& state, bool wal) {
  const int procs = static_cast<int>(state.range(0));
  const std::string path = TempFile(wal ? "wal.db" : "journal.db");
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    if (wal) sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "CREATE TABLE t(k INTEGER PRIMARY KEY, v INTEGER)", nullptr, nullptr, nullptr);
    for (int i = 0; i < procs; ++i)
      sqlite3_exec(db, ("INSERT INTO t VALUES(" + std::to_string(i) + ", 0)").c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  const double seconds = Seconds();
  for (auto _ : state) {
    const int64_t n = RunProcesses(procs, [&](int i) { return SqliteWorker(path, i, seconds); });
    state.counters["updates_per_s"] = static_cast<double>(n) / seconds;
  }
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
}

BENCHMARK(Ours)->Arg(1)->Arg(2)->Arg(4)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Sqlite, journal, false)->Arg(1)->Arg(2)->Arg(4)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Sqlite, wal, true)->Arg(1)->Arg(2)->Arg(4)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);

// Console output plus the median rate of each benchmark, for the ratios.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "median") continue;
      auto it = r.counters.find("updates_per_s");
      if (it != r.counters.end()) Rates[r.run_name.str()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> Rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nsingle-row updates per second (medians), ours / SQLite (above 1: more updates than SQLite)\n");
  for (const char* procs : {"1", "2", "4"}) {
    const std::string ours = std::string("Ours/") + procs + "/iterations:1/repeats:3";
    const std::string journal = std::string("Sqlite/journal/") + procs + "/iterations:1/repeats:3";
    const std::string wal = std::string("Sqlite/wal/") + procs + "/iterations:1/repeats:3";
    auto get = [&](const std::string& k) {
      auto it = reporter.Rates.find(k);
      return it == reporter.Rates.end() ? 0.0 : it->second;
    };
    const double o = get(ours), j = get(journal), w = get(wal);
    std::printf("%s process(es): ours %.0f/s, SQLite journal %.0f/s, SQLite WAL %.0f/s; ratio vs journal %.2f, vs WAL %.2f\n",
                procs, o, j, w, j > 0 ? o / j : 0.0, w > 0 ? o / w : 0.0);
  }
  benchmark::Shutdown();
  return 0;
}
