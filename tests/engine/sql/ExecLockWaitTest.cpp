// Statements that meet a table another session keeps locked: they wait,
// and give up with "Table is locked" and their own code when the lock
// stays, leaving the table as it was.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "../components/ExecFixture.h"
#include "sql/SDBAccessOperator.h"
#include "storage/database/SDBSession.h"

using namespace sdbtest;

namespace {

// A multi-user database component and, beside it, a session of another
// session name on the same file: to the file layer it is another process.
class ExecLockWaits : public ::testing::Test {
 protected:
  void SetUp() override {
    path = TempPath("exec_lockwait");
    db = std::make_unique<sdb::TSDBDatabase>();
    db->SetDatabaseName("LockWaitDB" + std::to_string(++counter));
    db->SetDatabaseFileName(path);
    db->MultiUser = true;
    db->CreateDatabase();
    db->Open();
    Exec("CREATE TABLE T (K INTEGER, V VARCHAR(10))");
    Exec("CREATE TABLE U (K INTEGER, V VARCHAR(10))");
    Exec("INSERT INTO T VALUES (1, 'a'), (2, 'b')");
    Exec("INSERT INTO U VALUES (3, 'c')");

    sdb::TSDBConnectParams p;
    p.FileName = path;
    p.SessionName = "Holder";
    p.MultiUser = true;
    holder.Connect(p);
    holder.OpenTable(held, "T");
    // The component's side keeps T open, as an application's open table
    // would: statements then meet the holder's lock at their own attempts,
    // not while loading the table.
    db->Handle().OpenTable(open, "T");

    saved = sdb::SDBExecLockWaits();
    sdb::SDBExecLockWaits() = {4, 5, 4, 5};
  }
  void TearDown() override {
    sdb::SDBExecLockWaits() = saved;
    Release();
    db->Handle().CloseTable(open);
    holder.CloseTable(held);
    holder.Disconnect();
    db.reset();
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  // The holder's lock on T: ltRW (a writer) keeps readers out, ltS (a
  // reader) keeps writers out.
  void Hold(sdb::TSDBLockType Type) {
    ASSERT_TRUE(held.TableData->LockTable(held.SessionID, Type, 1, 0));
    heldType = Type;
    locked = true;
  }
  void Release() {
    if (locked.exchange(false)) held.TableData->UnlockTable(held.SessionID, heldType, true);
  }
  sdb::TSDBQuery* NewQuery(const std::string& sql) {
    auto q = std::make_unique<sdb::TSDBQuery>();
    q->DatabaseName = db->DatabaseName();
    q->SetSQL(sql);
    queries.push_back(std::move(q));
    return queries.back().get();
  }
  int Exec(const std::string& sql) {
    sdb::TSDBQuery* q = NewQuery(sql);
    q->ExecSQL();
    return q->RowsAffected();
  }
  Rows All() {
    sdb::TSDBQuery* q = NewQuery("SELECT K, V FROM T ORDER BY K");
    q->Open();
    Rows out;
    for (q->First(); !q->Eof(); q->Next()) out.push_back({Text(q->Fields(0).Value()), Text(q->Fields(1).Value())});
    q->Close();
    return out;
  }

  static inline int counter = 0;
  std::string path;
  std::unique_ptr<sdb::TSDBDatabase> db;
  std::vector<std::unique_ptr<sdb::TSDBQuery>> queries;
  sdb::TSDBLocalSession holder;
  sdb::TSDBCursor held;
  sdb::TSDBCursor open;
  std::atomic<bool> locked{false};
  sdb::TSDBLockType heldType = sdb::ltS;
  sdb::TSDBExecLockWaits saved;
};

}  // namespace

TEST_F(ExecLockWaits, EachStatementGivesUpWithItsCodeAndChangesNothing) {
  const Rows before = All();
  struct Case {
    const char* Sql;
    sdb::TSDBLockType Held;
    int Code;
  };
  const Case cases[] = {
      {"SELECT * FROM T", sdb::ltRW, 20225},
      {"SELECT COUNT(*) FROM U, T", sdb::ltRW, 20225},
      // A writer's statement first reads the rows it changes, so a held
      // write lock stops it there; a reader's lock stops its write lock.
      {"UPDATE T SET V = 'x'", sdb::ltRW, 20225},
      {"UPDATE T SET V = 'x'", sdb::ltS, 20223},
      {"DELETE FROM T WHERE K = 1", sdb::ltS, 20223},
      {"INSERT INTO T SELECT K, V FROM U", sdb::ltS, 20224},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    Hold(c.Held);
    sdb::TSDBQuery* q = NewQuery(c.Sql);
    try {
      q->OpenOrExec();
      ADD_FAILURE() << "no error";
    } catch (const sdb::ESDBException& e) {
      EXPECT_EQ(e.NativeError(), c.Code);
      EXPECT_EQ(std::string(e.what()), "Table is locked - Native error: " + std::to_string(c.Code));
    }
    q->Close();
    Release();
  }
  EXPECT_EQ(All(), before);
  // Nothing of the failed statements is left pending: the same texts run now.
  EXPECT_EQ(Exec("UPDATE T SET V = 'x' WHERE K = 2"), 1);
  EXPECT_EQ(Exec("INSERT INTO T SELECT K, V FROM U"), 1);
  EXPECT_EQ(All(), (Rows{{"1", "a"}, {"2", "x"}, {"3", "c"}}));
}

TEST_F(ExecLockWaits, StatementsWaitForALockThatGoesAway) {
  // Long enough waits that the lock goes well before the last attempt.
  sdb::SDBExecLockWaits() = {400, 5, 400, 5};
  for (const char* sql : {"UPDATE T SET V = 'y' WHERE K = 1", "SELECT * FROM T"}) {
    SCOPED_TRACE(sql);
    Hold(sdb::ltRW);
    std::thread releaser([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      Release();
    });
    sdb::TSDBQuery* q = NewQuery(sql);
    EXPECT_NO_THROW(q->OpenOrExec());
    q->Close();
    releaser.join();
  }
  EXPECT_EQ(All(), (Rows{{"1", "y"}, {"2", "b"}}));
}
