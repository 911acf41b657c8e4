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
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include "../ToolRun.h"
#include "CrashTestUtil.h"
#include "platform/SDBFileIO.h"
#include "storage/maintenance/SDBBackup.h"
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

// The acct table with kAccounts rows, every balance 0.
void CreateAccounts(const std::string& path) {
  TDb db(path, TSDBDurability::Off, true);
  db.Exec("CREATE TABLE acct (id INTEGER, bal INTEGER, label VARCHAR(40))");
  db.Db().StartTransaction();
  for (int i = 0; i < kAccounts; ++i)
    db.Exec("INSERT INTO acct (id, bal, label) VALUES (:i, 0, :l)",
            {{"i", std::to_string(i)}, {"l", "account " + std::to_string(i)}});
  db.Db().Commit();
}

// Whether every account holds the same balance (no half-applied UPDATE).
void ExpectWhole(TDb& db, const std::string& where) {
  const std::string bals = db.Rows("SELECT DISTINCT bal FROM acct");
  EXPECT_EQ(bals.find('\n'), bals.size() - 1) << where << ": balances " << bals;
  EXPECT_EQ(db.Rows("SELECT COUNT(*) FROM acct"), std::to_string(kAccounts) + "|\n") << where;
}

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

// Ends the process (as SIGKILL would: its locks go with it) at the At-th
// write to the database file once a journal was written: inside the
// first journaled change.
class TDieAtDatabaseWrite : public sdb::TSDBFileIO {
 public:
  explicit TDieAtDatabaseWrite(int at) : FAt(at) {}
  int Write(const sdb::TSDBFileRef& f, const void* b, uint64_t pos, size_t n, size_t& done) override {
    if (std::string_view(f.Path).ends_with("-journal"))
      FJournaled = true;
    else if (FJournaled && ++FWrites == FAt)
      _exit(9);
    return sdb::TSDBFileIO::Write(f, b, pos, n, done);
  }

 private:
  int FAt;
  int FWrites = 0;
  bool FJournaled = false;
};

// A reader that had the file open while a writer in another process died
// half-way through writing its pages, and reads before anybody else took
// the header lock: it sees the file exactly as before that commit.
TEST(KillProcess, ReaderInAnotherProcessSeesNothingOfAnInterruptedCommit) {
  const std::string path = CrashPath("reader");
  CreateAccounts(path);
  // Database writes of the commit: the header first, then the pages.
  for (int at : {1, 2, 8, 20}) {
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    TChild writer([&](auto) {
      close(go[1]);
      TDb db = OpenShared(path, TSDBDurability::Off);
      char c;
      if (read(go[0], &c, 1) != 1) _exit(4);
      TDieAtDatabaseWrite io(at);
      sdb::SDBSetFileIO(&io);
      db.Exec("UPDATE acct SET bal = bal + 1");
      _exit(0);
    });
    close(go[0]);
    {
      TDb reader = OpenShared(path, TSDBDurability::Full);
      const std::string before = reader.Rows("SELECT DISTINCT bal FROM acct");
      ASSERT_EQ(before.find('\n'), before.size() - 1) << before;
      ASSERT_EQ(write(go[1], "g", 1), 1);
      const int code = writer.Wait();
      ASSERT_TRUE(code == 0 || code == 9) << code;
      if (code == 9) {
        ASSERT_TRUE(sdb::TSDBJournal::IsHot(path)) << at;
      }
      const std::string now = reader.Rows("SELECT DISTINCT bal FROM acct");
      if (code == 9) {
        EXPECT_EQ(now, before) << "killed at database write " << at;
      }
      ExpectWhole(reader, "database write " + std::to_string(at));
    }
    close(go[1]);
  }
  sdb::TSDBDatabaseCheckResult check = sdb::SDBCheckDatabase(path);
  EXPECT_TRUE(check.Ok()) << (check.Problems.empty() ? "" : check.Problems.front());
  RemoveDatabase(path);
}

// Online backups through the tool while a writer in another process keeps
// updating, and after a writer died half-way through a commit: every copy
// opens, passes the check and holds whole commits only.
TEST(KillProcess, BackupWhileAnotherProcessWritesHoldsWholeCommits) {
  const std::string path = CrashPath("backup"), dest = CrashPath("backup_copy");
  CreateAccounts(path);
  auto expectGoodCopy = [&](const std::string& where) {
    EXPECT_FALSE(std::filesystem::exists(dest + sdb::kSDBBackupSuffix)) << where;
    sdb::TSDBDatabaseCheckResult check = sdb::SDBCheckDatabase(dest);
    EXPECT_TRUE(check.Ok()) << where << ": " << (check.Problems.empty() ? "" : check.Problems.front());
    TDb copy(dest, TSDBDurability::Full);
    EXPECT_FALSE(copy.Db().Handle().RepairNeeded()) << where;
    ExpectWhole(copy, where);
  };
  {
    TChild writer([&](auto reported) {
      TDb db = OpenShared(path, TSDBDurability::Off);
      for (;;) {
        db.Exec("UPDATE acct SET bal = bal + 1");
        reported();
      }
    });
    writer.Done(1);
    for (int i = 0; i < 4; ++i) {
      sdbtest::TRun run = sdbtest::Tool("backup " + path + " " + dest);
      ASSERT_EQ(run.Code, 0) << run.Output;
      expectGoodCopy("copy " + std::to_string(i));
    }
    const int before = writer.Done();
    writer.Done(before + 1);  // the writer was not kept out for good
  }
  // A writer that died in the middle of writing its pages: the copy holds
  // the state before its commit.
  {
    TChild writer([&](auto) {
      TDb db = OpenShared(path, TSDBDurability::Off);
      TDieAtDatabaseWrite io(5);
      sdb::SDBSetFileIO(&io);
      db.Exec("UPDATE acct SET bal = bal + 1");
      _exit(0);
    });
    ASSERT_EQ(writer.Wait(), 9);
    ASSERT_TRUE(sdb::TSDBJournal::IsHot(path));
    sdb::SDBBackupDatabase(path, dest, "");
    expectGoodCopy("after a killed commit");
    EXPECT_FALSE(sdb::TSDBJournal::IsHot(path));
  }
  // Nothing to copy: the tool says so, and no DEST appears.
  RemoveDatabase(dest);
  EXPECT_EQ(sdbtest::Tool("backup " + path + "-missing " + dest).Code, 1);
  EXPECT_FALSE(std::filesystem::exists(dest));
  EXPECT_EQ(sdbtest::Tool("backup " + path).Code, 2);
  RemoveDatabase(dest);
  RemoveDatabase(path);
}

}  // namespace
