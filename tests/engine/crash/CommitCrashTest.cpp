// Crash safety of commits: a writer killed at every write of a statement
// (or with that write torn in half), a power loss at every flush with the
// unflushed writes lost, kept or kept in part, and a disk that fills up or
// fails at every write. After each, the file must hold exactly the state
// before or after the statement, pass the check, and have lost nothing
// committed earlier.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "CrashTestUtil.h"
#include "FaultFileIO.h"
#include "sdb/SDBException.h"

using namespace sdbcrash;
using sdb::TSDBDurability;

namespace {

// Enough rows for the table to span several pages (and its index several
// levels of pages), few enough to replay every crash point quickly.
constexpr int kAccounts = 600;

struct TCase {
  const char* Name;
  std::function<void(TDb&)> Run;
};

void PrintTo(const TCase& c, std::ostream* os) { *os << c.Name; }

std::string Blob(char c, size_t n) { return std::string(n, c); }

// Bytes that do not compress, so that the value takes as many pages as bytes.
std::string Varied(size_t n) {
  std::string s(n, ' ');
  uint32_t x = 12345;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>('!' + (x >> 16) % 90);
  }
  return s;
}

const TCase kCases[] = {
    {"UpdateOfManyRows", [](TDb& db) { db.Exec("UPDATE acct SET bal = bal + 1"); }},
    {"TransactionWithBlobs",
     [](TDb& db) {
       db.Db().StartTransaction();
       db.Exec("UPDATE acct SET bal = bal + 7 WHERE id < 200");
       db.Exec("INSERT INTO docs (id, body) VALUES (100, :b)", {{"b", Blob('n', 14000)}});
       db.Exec("UPDATE docs SET body = :b WHERE id = 1", {{"b", Blob('u', 12000)}});
       db.Db().Commit();
     }},
    // Allocations in growing groups (1, 2, 4, 8 pages): the commit gives
    // back the pages reserved and not used.
    {"InsertOfAValueOverManyPages",
     [](TDb& db) { db.Exec("INSERT INTO docs (id, body) VALUES (200, :b)", {{"b", Varied(40000)}}); }},
    {"InsertThatGrowsTheFile",
     [](TDb& db) { db.Exec("INSERT INTO acct (id, bal, label) SELECT id + 10000, bal, label FROM acct WHERE id < 250"); }},
    {"CreateIndex", [](TDb& db) { db.Exec("CREATE INDEX ByBal ON acct (bal)"); }},
    // A table rebuilt: its records, its BLOBs and its place in the catalogue.
    {"AlterTable", [](TDb& db) { db.Exec("ALTER TABLE acct ADD extra INTEGER DEFAULT 5, MODIFY label VARCHAR(60)"); }},
    {"AlterTableWithBlobs", [](TDb& db) { db.Exec("ALTER TABLE docs ADD n INTEGER DEFAULT 1, RENAME body TO text"); }},
};

std::string Fingerprint(TDb& db) {
  std::string tables;
  for (const std::string& t : db.Db().Handle().GetTablesList()) tables += t + ',';
  return tables + '\n' + db.Rows("SELECT * FROM acct ORDER BY id") + db.Rows("SELECT * FROM docs ORDER BY id") +
         db.Plan("SELECT id FROM acct WHERE bal = 3");
}

class CommitCrash : public ::testing::TestWithParam<TCase> {
 protected:
  void SetUp() override {
    templ = CrashPath("crash_template");
    work = CrashPath("crash_work");
    {
      TDb db(templ, TSDBDurability::Off, true);
      db.Exec("CREATE TABLE acct (id INTEGER, bal INTEGER, label VARCHAR(40))");
      db.Exec("CREATE TABLE docs (id INTEGER, body BLOB)");
      db.Db().StartTransaction();
      for (int i = 0; i < kAccounts; ++i)
        db.Exec("INSERT INTO acct (id, bal, label) VALUES (:i, 0, :p)",
                {{"i", std::to_string(i)}, {"p", "account " + std::to_string(i)}});
      for (int i = 1; i <= 3; ++i)
        db.Exec("INSERT INTO docs (id, body) VALUES (:i, :b)", {{"i", std::to_string(i)}, {"b", Blob('a' + i, 9000)}});
      db.Db().Commit();
      before = Fingerprint(db);
    }
    CopyDatabase(templ, work);
    {
      TDb db(work, TSDBDurability::Off);
      GetParam().Run(db);
      after = Fingerprint(db);
    }
    ASSERT_NE(before, after);
  }
  void TearDown() override {
    RemoveDatabase(templ);
    RemoveDatabase(work);
  }

  // Calls of each primitive in an undisturbed run of the statement.
  TFaultFileIO Count(TSDBDurability d) {
    CopyDatabase(templ, work);
    TFaultFileIO io;
    {
      TFileIOScope scope(&io);
      TDb db(work, d);
      GetParam().Run(db);
    }
    return io;
  }

  // Runs the statement with io installed; answers whether it failed (and
  // its message).
  bool RunWith(TFaultFileIO& io, TSDBDurability d, std::string* message = nullptr,
               std::string* stateInProcess = nullptr) {
    CopyDatabase(templ, work);
    bool failed = false;
    TFileIOScope scope(&io);
    try {
      TDb db(work, d);
      try {
        GetParam().Run(db);
      } catch (const std::exception& e) {
        failed = true;
        if (message) *message = e.what();
        try {
          if (db.Db().InTransaction()) db.Db().Rollback();
        } catch (...) {
        }
      }
      if (stateInProcess && !io.Dead) *stateInProcess = Fingerprint(db);
    } catch (const std::exception& e) {
      failed = true;
      if (message && message->empty()) *message = e.what();
    }
    return failed;
  }

  // Reopens the file as the next process would; the state must be the one
  // before or the one after, and the check must find nothing.
  std::string Reopened(const std::string& what) {
    // The same files (database and journal) reopen the same way: judged once.
    const std::string key = FileBytes(work) + '\0' + FileBytes(sdb::TSDBJournal::FileNameFor(work));
    auto seen = judged.find(key);
    if (seen != judged.end()) return seen->second;
    std::string state;
    {
      TDb db(work, TSDBDurability::Full);
      EXPECT_FALSE(db.Db().Handle().RepairNeeded()) << what;
      state = Fingerprint(db);
    }
    EXPECT_TRUE(state == before || state == after) << what << ": the file holds a half-applied statement";
    sdb::TSDBDatabaseCheckResult check = sdb::SDBCheckDatabase(work);
    EXPECT_TRUE(check.Ok()) << what << ": " << (check.Problems.empty() ? "" : check.Problems.front());
    judged.emplace(key, state);
    return state;
  }

  static std::string FileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }

  std::string templ, work, before, after;
  std::map<std::string, std::string> judged;
};

// The process dies at each write (nothing after it reaches the file), or
// that write reaches the file only in part.
TEST_P(CommitCrash, KilledOrTornAtEveryWrite) {
  const int writes = Count(TSDBDurability::Off).Calls[static_cast<int>(TOp::Write)];
  ASSERT_GT(writes, 3);
  for (TAction action : {TAction::Kill, TAction::Tear}) {
    for (int at = 1; at <= writes; ++at) {
      TFaultFileIO io;
      io.ArmOp = TOp::Write;
      io.ArmAt = at;
      io.ArmAction = action;
      RunWith(io, TSDBDurability::Off);
      ASSERT_TRUE(io.Fired);
      Reopened(std::string(action == TAction::Kill ? "killed" : "torn") + " at write " + std::to_string(at));
      if (HasFailure()) return;
    }
  }
}

// The power fails at each flush: whatever was written since the previous
// flush of a file is lost, kept, or kept only in part and out of order.
// With durability full a statement that returned stays.
TEST_P(CommitCrash, PowerLossAtEveryFlush) {
  for (TSDBDurability d : {TSDBDurability::Normal, TSDBDurability::Full}) {
    const int flushes = Count(d).Calls[static_cast<int>(TOp::Flush)];
    ASSERT_GE(flushes, 2);
    for (int at = 1; at <= flushes + 1; ++at) {
      for (TFaultFileIO::TKeep keep : TFaultFileIO::kKeeps) {
        TFaultFileIO io;
        io.Record = true;
        io.ArmOp = TOp::Flush;
        io.ArmAt = at;  // flushes + 1: the power fails after the statement
        io.ArmAction = TAction::Kill;
        RunWith(io, d);
        io.WriteAfterPowerLoss(keep);
        const std::string what = std::string(sdb::SDBDurabilityName(d)) + ": power lost at flush " +
                                 std::to_string(at) + ", unflushed writes kept: " +
                                 std::to_string(static_cast<int>(keep));
        std::string state = Reopened(what);
        if (d == TSDBDurability::Full && at > flushes) {
          EXPECT_EQ(state, after) << what;
        }
        if (HasFailure()) return;
      }
    }
  }
}

// A disk that is full (or fails) at one write or size change: the statement
// fails with the system's message and leaves the file as it was; a
// statement that did not fail is complete.
TEST_P(CommitCrash, DiskFullAtEveryWrite) {
  TFaultFileIO counted = Count(TSDBDurability::Full);
  for (TOp op : {TOp::Write, TOp::SetSize}) {
    const int calls = counted.Calls[static_cast<int>(op)];
    for (int at = 1; at <= calls; ++at) {
      TFaultFileIO io;
      io.ArmOp = op;
      io.ArmAt = at;
      io.ArmAction = TAction::Fail;
      io.FailErrno = op == TOp::Write ? ENOSPC : EIO;
      std::string message, state;
      const bool failed = RunWith(io, TSDBDurability::Full, &message, &state);
      const std::string what = std::string(op == TOp::Write ? "write " : "size change ") + std::to_string(at);
      if (failed) {
        EXPECT_NE(message.find(std::strerror(io.FailErrno)), std::string::npos) << what << ": " << message;
        if (!state.empty()) {
          EXPECT_EQ(state, before) << what << ": a failed statement left changes visible";
        }
      } else if (!state.empty()) {
        EXPECT_EQ(state, after) << what;
      }
      std::string reopened = Reopened(what);
      EXPECT_EQ(reopened, failed ? before : after) << what;
      if (HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Statements, CommitCrash, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TCase>& i) { return std::string(i.param.Name); });

}  // namespace
