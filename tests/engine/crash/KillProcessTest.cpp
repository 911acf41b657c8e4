// A writer process killed with SIGKILL in the middle of its commits, while
// another process keeps writing to the same file: the survivor (or the
// next process to open the file) undoes the interrupted commit, no
// statement is half-applied and nothing committed is lost.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "CrashTestUtil.h"
#include "sdb/SDBException.h"

using namespace sdbcrash;
using sdb::TSDBDurability;

namespace {

constexpr int kAccounts = 2000;

// Runs Body in a child process that reports each finished statement by one
// byte on a pipe; the parent reads them.
class TChild {
 public:
  template <class Body>
  explicit TChild(Body body) {
    int fds[2];
    if (pipe(fds) != 0) return;
    FPid = fork();
    if (FPid == 0) {
      close(fds[0]);
      int code = 0;
      try {
        body([&] {
          char c = 1;
          if (write(fds[1], &c, 1) != 1) _exit(3);
        });
      } catch (...) {
        code = 2;
      }
      _exit(code);
    }
    close(fds[1]);
    FOut = fds[0];
  }
  ~TChild() {
    if (FPid > 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) close(FOut);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  // Statements finished so far (blocks until at least `least`).
  int Done(int least = 0) {
    char buf[256];
    while (FDone < least) {
      ssize_t n = read(FOut, buf, sizeof buf);
      if (n <= 0) break;
      FDone += static_cast<int>(n);
    }
    return FDone;
  }
  void Kill() {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
    // What it reported before dying.
    char buf[256];
    ssize_t n;
    while ((n = read(FOut, buf, sizeof buf)) > 0) FDone += static_cast<int>(n);
  }
  // Waits for a normal end; answers its exit code.
  int Wait() {
    int status = 0;
    waitpid(FPid, &status, 0);
    FPid = -1;
    char buf[256];
    ssize_t n;
    while ((n = read(FOut, buf, sizeof buf)) > 0) FDone += static_cast<int>(n);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t FPid = -1;
  int FOut = -1;
  int FDone = 0;
};

TDb OpenShared(const std::string& path, TSDBDurability d) { return TDb(path, d, false, true); }

TEST(KillProcess, WriterKilledDuringCommitsWhileAnotherKeepsWriting) {
  const std::string path = CrashPath("sigkill");
  {
    TDb db(path, TSDBDurability::Off, true);
    db.Exec("CREATE TABLE acct (id INTEGER, bal INTEGER, label VARCHAR(40))");
    db.Exec("CREATE TABLE entries (n INTEGER)");
    db.Db().StartTransaction();
    for (int i = 0; i < kAccounts; ++i)
      db.Exec("INSERT INTO acct (id, bal, label) VALUES (:i, 0, :l)",
              {{"i", std::to_string(i)}, {"l", "account " + std::to_string(i)}});
    db.Db().Commit();
  }
  int updates = 0, logged = 0;
  // Kills land at different points of the commits.
  for (int round = 0; round < 8; ++round) {
    TChild writer([&](auto reported) {
      TDb db = OpenShared(path, TSDBDurability::Off);
      for (;;) {
        db.Exec("UPDATE acct SET bal = bal + 1");
        reported();
      }
    });
    TChild survivor([&](auto reported) {
      TDb db = OpenShared(path, TSDBDurability::Off);
      for (int i = 0; i < 40; ++i) {
        db.Exec("INSERT INTO entries (n) VALUES (:n)", {{"n", std::to_string(i)}});
        reported();
      }
    });
    writer.Done(1);
    std::this_thread::sleep_for(std::chrono::microseconds(1500 * round + 300));
    writer.Kill();
    ASSERT_EQ(survivor.Wait(), 0) << "round " << round;
    updates += writer.Done();
    logged += survivor.Done();
    TDb db = OpenShared(path, TSDBDurability::Full);
    EXPECT_FALSE(db.Db().Handle().RepairNeeded());
    // Every row moved together: all at the count of reported updates, or
    // one more when the kill came after the commit but before the report.
    const std::string bals = db.Rows("SELECT DISTINCT bal FROM acct");
    const std::string n = std::to_string(updates) + "|\n", n1 = std::to_string(updates + 1) + "|\n";
    ASSERT_TRUE(bals == n || bals == n1) << "round " << round << ": balances " << bals << " after " << updates;
    if (bals == n1) ++updates;
    EXPECT_EQ(db.Rows("SELECT COUNT(*) FROM entries"), std::to_string(logged) + "|\n") << "round " << round;
  }
  sdb::TSDBDatabaseCheckResult check = sdb::SDBCheckDatabase(path);
  EXPECT_TRUE(check.Ok()) << (check.Problems.empty() ? "" : check.Problems.front());
  RemoveDatabase(path);
}

}  // namespace
