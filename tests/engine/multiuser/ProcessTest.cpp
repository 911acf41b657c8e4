// Sessions in other processes: each peer is the helper executable, started
// with fork and exec and driven line by line through pipes. Locks of a peer
// are real byte-range locks of another process, and a killed peer leaves
// none behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../ToolRun.h"
#include "MultiUserTestUtil.h"
#include "storage/database/SDBDatabaseData.h"

namespace {

using namespace sdb;
using sdbmu::NativeOf;

class TPeer {
 public:
  TPeer() {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
    FPid = fork();
    if (FPid == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      close(toChild[0]);
      close(toChild[1]);
      close(fromChild[0]);
      close(fromChild[1]);
      execl(TESSDB_MU_HELPER, TESSDB_MU_HELPER, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    FIn = toChild[1];
    FOut = fromChild[0];
  }
  ~TPeer() { Kill(); }
  TPeer(const TPeer&) = delete;
  TPeer& operator=(const TPeer&) = delete;

  // Sends one command and answers the reply line ("timeout" when none comes).
  std::string Ask(const std::string& command, int timeoutMs = 60000) {
    const std::string line = command + "\n";
    if (write(FIn, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "dead";
    std::string reply;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto pos = FBuffer.find('\n');
      if (pos != std::string::npos) {
        reply = FBuffer.substr(0, pos);
        FBuffer.erase(0, pos + 1);
        return reply;
      }
      const int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
      if (left <= 0) return "timeout";
      pollfd p{FOut, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char buf[512];
      const ssize_t n = read(FOut, buf, sizeof buf);
      if (n <= 0) return "dead";
      FBuffer.append(buf, static_cast<size_t>(n));
    }
  }
  // The process dies at once: no disconnect, no unlock, no commit.
  void Kill() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    int status = 0;
    waitpid(FPid, &status, 0);
    FPid = -1;
    close(FIn);
    close(FOut);
  }
  // Ends the helper normally (it disconnects).
  int Quit() {
    Ask("quit", 100);
    int status = 0;
    waitpid(FPid, &status, 0);
    FPid = -1;
    close(FIn);
    close(FOut);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t FPid = -1;
  int FIn = -1, FOut = -1;
  std::string FBuffer;
};

class ProcessFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    path = (std::filesystem::temp_directory_path() /
            ("mu_proc_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".sdb"))
               .string();
    TSDBCreateDatabaseParams p;
    p.FileName = path;
    p.MaxConnections = 16;
    TSDBLocalSession creator;
    creator.CreateDatabase(p);
    TSDBLocalSession s;
    Connect(s);
    s.CreateTable("T", sdbmu::KVFields());
  }
  void TearDown() override { std::filesystem::remove(path); }
  void Connect(TSDBLocalSession& s, bool multi = true) {
    TSDBConnectParams p;
    p.FileName = path;
    p.MultiUser = multi;
    s.Connect(p);
  }
  std::string PeerConnect(TPeer& peer, const std::string& mode = "multi") {
    return peer.Ask("connect " + path + " " + mode + " -");
  }
  static inline int counter = 0;
  std::string path;
};

TEST_F(ProcessFixture, IdentifiersAndModesAcrossProcesses) {
  TPeer p1, p2;
  EXPECT_EQ(PeerConnect(p1), "ok 0 0");
  TSDBLocalSession s;
  Connect(s);
  EXPECT_EQ(s.SessionID(), 1);
  EXPECT_EQ(PeerConnect(p2), "ok 2 0");
  EXPECT_EQ(s.DatabaseData().GetDBFileConnectionsCount(), 3);
  // A single-user open while others are connected reads only.
  TPeer single;
  EXPECT_EQ(PeerConnect(single, "single"), "ok 0 1");
  EXPECT_EQ(single.Quit(), 0);
  // A killed peer's identifier is free again, and the lowest is handed out.
  p1.Kill();
  TPeer p3;
  EXPECT_EQ(PeerConnect(p3), "ok 0 0");
  EXPECT_EQ(p3.Quit(), 0);
  EXPECT_EQ(p2.Quit(), 0);
  s.Disconnect();
  // A single-user holder keeps multi-user sessions out.
  TPeer holder;
  EXPECT_EQ(PeerConnect(holder, "single"), "ok 0 0");
  EXPECT_EQ(NativeOf([&] { Connect(s); }), 20094);
  const sdbtest::TRun r = sdbtest::Tool("sessions " + path);
  EXPECT_EQ(r.Code, 0) << r.Output;
  EXPECT_NE(r.Output.find("single-user"), std::string::npos) << r.Output;
}

TEST_F(ProcessFixture, ReadAndWriteLocksOfAnotherProcess) {
  TPeer peer;
  ASSERT_EQ(PeerConnect(peer), "ok 0 0");
  ASSERT_EQ(peer.Ask("open T"), "ok");
  TSDBCursor c;
  TSDBLocalSession s;
  Connect(s);
  s.OpenTable(c, "T");
  TSDBDiskTableData& t = *c.TableData;
  // ltS of the peer blocks our ltRW, and the reverse.
  ASSERT_EQ(peer.Ask("lock 1 1 10"), "ok");
  EXPECT_FALSE(t.LockTable(s.SessionID(), ltRW, 2, 10));
  EXPECT_TRUE(t.LockTable(s.SessionID(), ltS, 1, 10));
  ASSERT_EQ(peer.Ask("unlock 1"), "ok");
  ASSERT_TRUE(t.LockTable(s.SessionID(), ltRW, 1, 10));
  EXPECT_EQ(peer.Ask("lock 1 2 10"), "fail");
  EXPECT_EQ(peer.Ask("lock 4 2 10"), "fail");
  ASSERT_TRUE(t.UnlockTable(s.SessionID(), ltRW));
  ASSERT_TRUE(t.UnlockTable(s.SessionID(), ltS));
  // The peer's transaction (ltXIRW) blocks our edits but not our reads.
  ASSERT_EQ(peer.Ask("begin"), "ok");
  ASSERT_EQ(peer.Ask("put 1 10"), "ok 10");
  EXPECT_FALSE(t.LockTable(s.SessionID(), ltSIRW, 2, 10));
  EXPECT_FALSE(sdbmu::Get(c, 1, 1).has_value());
  ASSERT_EQ(peer.Ask("commit"), "ok");
  EXPECT_TRUE(t.LockTable(s.SessionID(), ltSIRW, 1, 10));
  // A change by the other process is seen by the next read.
  EXPECT_EQ(sdbmu::Get(c, 1), 10);
  EXPECT_EQ(peer.Ask("add 1 5"), "ok 15");
  EXPECT_EQ(sdbmu::Get(c, 1), 15);
  ASSERT_TRUE(sdbmu::Put(c, 1, 100, false));
  EXPECT_EQ(peer.Ask("get 1"), "ok 100");
  // Record locks across processes.
  ASSERT_EQ(peer.Ask("lockrec 9 1 1 10"), "ok");
  EXPECT_TRUE(t.IsRecordLocked(s.SessionID(), {9, 1}));
  EXPECT_FALSE(t.LockRecord(s.SessionID(), {9, 1}, 2, 10));
  EXPECT_TRUE(t.LockRecord(s.SessionID(), {9, 2}, 1, 10));
  const sdbtest::TRun r = sdbtest::Tool("locks " + path + " T");
  EXPECT_EQ(r.Code, 0) << r.Output;
  EXPECT_NE(r.Output.find("record 9:1"), std::string::npos) << r.Output;
}

TEST_F(ProcessFixture, KilledProcessLeavesNoLockAndNoHalfChange) {
  {
    TSDBCursor c;
    TSDBLocalSession s;
    Connect(s);
    s.OpenTable(c, "T");
    ASSERT_TRUE(sdbmu::Put(c, 1, 1, false));
  }
  TPeer peer;
  ASSERT_EQ(PeerConnect(peer), "ok 0 0");
  ASSERT_EQ(peer.Ask("open T"), "ok");
  ASSERT_EQ(peer.Ask("begin"), "ok");
  ASSERT_EQ(peer.Ask("put 1 2"), "ok 2");
  ASSERT_EQ(peer.Ask("put 2 2"), "ok 2");
  ASSERT_EQ(peer.Ask("lock 4 1 10"), "ok");
  ASSERT_EQ(peer.Ask("lockrec 3 3 1 10"), "ok");
  peer.Kill();
  TSDBCursor c;
  TSDBLocalSession s;
  Connect(s);
  EXPECT_EQ(s.SessionID(), 0);
  s.OpenTable(c, "T", true);  // nobody holds anything on the table any more
  s.CloseTable(c);
  s.OpenTable(c, "T");
  EXPECT_EQ(sdbmu::Get(c, 1), 1);
  EXPECT_FALSE(sdbmu::Get(c, 2).has_value());
  EXPECT_TRUE(c.TableData->LockRecord(s.SessionID(), {3, 3}, 1, 10));
  s.Disconnect();
  const sdbtest::TRun r = sdbtest::Tool("check " + path);
  EXPECT_EQ(r.Code, 0) << r.Output;
}

TEST_F(ProcessFixture, ExclusiveOpenKeepsOthersOutAndTakesNoLocks) {
  TPeer peer;
  ASSERT_EQ(PeerConnect(peer, "exclusive"), "ok 0 0");
  TSDBLocalSession s;
  EXPECT_NE(NativeOf([&] { Connect(s); }), 0);
  EXPECT_FALSE(s.Connected());
  EXPECT_EQ(peer.Quit(), 0);
  TSDBCursor c1, c2;
  TSDBLocalSession ex;
  TSDBConnectParams p;
  p.FileName = path;
  p.Exclusive = true;
  p.MultiUser = true;
  ex.Connect(p);
  EXPECT_TRUE(ex.Exclusive());
  EXPECT_FALSE(ex.MultiUser());
  ex.OpenTable(c1, "T");
  // Every table lock succeeds at once.
  EXPECT_TRUE(c1.TableData->LockTable(ex.SessionID(), ltRW, 1, 10));
  EXPECT_TRUE(c1.TableData->LockTable(ex.SessionID(), ltSIRW, 1, 10));
  EXPECT_TRUE(c1.TableData->LockTable(ex.SessionID(), ltSIRW, 1, 10));
  EXPECT_TRUE(sdbmu::Put(c1, 1, 5, false));
  EXPECT_EQ(sdbmu::Get(c1, 1), 5);
}

TEST_F(ProcessFixture, InterruptedCommitIsReportedAsRepairNeeded) {
  {
    TSDBDiskPageManager pm;
    bool ro = false, repair = false, multi = false;
    pm.OpenDatabase(path, {}, ro, repair, false, multi);
    ASSERT_TRUE(pm.WaitLockDBHeader());
    pm.ReadDBHeader();
    pm.DBHeader().WriteChangesState = kSDBWriteChangesWriting;
    pm.WriteDBHeader();
    pm.UnlockDBHeader();
    pm.CloseDatabase();
  }
  TSDBLocalSession s;
  Connect(s);
  EXPECT_TRUE(s.RepairNeeded());
}

// Four processes with two threads each increment their own counters and
// insert records of their own for a while; afterwards every counter and
// every insert count equals what its thread reported, and the file checks.
TEST_F(ProcessFixture, StressCountersOfSeveralProcesses) {
  const char* env = std::getenv("TESSALY_MU_STRESS_SECONDS");
  const double seconds = env ? std::atof(env) : 3.0;
  constexpr int kProcesses = 4, kThreads = 2;
  std::vector<std::unique_ptr<TPeer>> peers;
  for (int i = 0; i < kProcesses; ++i) peers.push_back(std::make_unique<TPeer>());
  // All start together: the command goes out to each before any reply is read.
  std::vector<std::string> replies;
  {
    std::vector<std::thread> starters;
    replies.resize(kProcesses);
    for (int i = 0; i < kProcesses; ++i)
      starters.emplace_back([&, i] {
        replies[static_cast<size_t>(i)] = peers[static_cast<size_t>(i)]->Ask(
            "stress " + path + " T " + std::to_string(seconds) + " " + std::to_string(kThreads) + " " +
                std::to_string(i + 1),
            static_cast<int>(seconds * 1000) + 180000);
      });
    for (auto& t : starters) t.join();
  }
  TSDBCursor c;
  TSDBLocalSession s;
  Connect(s);
  s.OpenTable(c, "T");
  int64_t total = 0;
  for (int i = 0; i < kProcesses; ++i) {
    SCOPED_TRACE(replies[static_cast<size_t>(i)]);
    std::istringstream in(replies[static_cast<size_t>(i)]);
    std::string ok;
    in >> ok;
    ASSERT_EQ(ok, "ok");
    for (int t = 0; t < kThreads; ++t) {
      int64_t increments = -1, inserts = -1;
      in >> increments >> inserts;
      const int64_t key = int64_t{i + 1} * 100 + t;
      EXPECT_EQ(sdbmu::Get(c, key).value_or(0), increments) << "counter " << key;
      EXPECT_EQ(sdbmu::CountKey(c, key + 1000000), inserts) << "inserts of " << key;
      total += increments + inserts;
    }
  }
  EXPECT_GT(total, 0);
  s.Disconnect();
  for (auto& p : peers) EXPECT_EQ(p->Quit(), 0);
  const sdbtest::TRun r = sdbtest::Tool("check " + path);
  EXPECT_EQ(r.Code, 0) << r.Output;
}

}  // namespace
