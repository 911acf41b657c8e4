// ALTER TABLE rebuilds a table: what the statement does not change must
// survive the rebuild, a NOT NULL the existing rows break refuses the
// statement, and a failed write anywhere leaves the table as it was.
#include <gtest/gtest.h>

#include "../components/ExecFixture.h"
#include "../crash/FaultFileIO.h"
#include "components/SDBConnection.h"
#include "sdb/SDBErrors.h"
#include "sql/SDBSQLErrors.h"
#include "storage/database/SDBSession.h"
#include "storage/maintenance/SDBDatabaseCheck.h"
#include "storage/table/SDBTableData.h"

using namespace sdb;
using namespace sdbtest;

namespace {

class AlterExec : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE T (Id AUTOINC (INCREMENT 5, INITIALVALUE 100), Code INTEGER NOT NULL, "
         "Name VARCHAR(20) DEFAULT 'none', Note INTEGER, "
         "Data BLOB BLOBBLOCKSIZE 4096 BLOBCOMPRESSIONALGORITHM ZLIB BLOBCOMPRESSIONMODE 7, "
         "PRIMARY KEY (Id), UNIQUE (Code))");
    Exec("INSERT INTO T (Code, Name) VALUES (1, 'one')");
    Exec("INSERT INTO T (Code, Note) VALUES (2, 20)");
  }
  // Runs f with the table open through the file layer.
  void WithTable(const std::string& table, const std::function<void(TSDBDiskTableData&)>& f) {
    TSDBCursor c;
    db->Handle().OpenTable(c, table);
    try {
      f(*c.TableData);
    } catch (...) {
      db->Handle().CloseTable(c);
      throw;
    }
    db->Handle().CloseTable(c);
  }
  std::vector<std::string> Tables() { return db->Handle().GetTablesList(); }
  // As the next process finds the file.
  void Reopen(bool multiUser = false) {
    db.reset();
    db = std::make_unique<TSDBDatabase>();
    db->SetDatabaseName(name);
    db->SetDatabaseFileName(path);
    db->MultiUser = multiUser;
    db->Open();
  }
  int PrimaryIndexes(const std::string& table) {
    int n = 0;
    WithTable(table, [&](TSDBDiskTableData& t) {
      for (int i = 0; i < t.IndexDefs().Count(); ++i) n += t.IndexDefs()[i].FPrimary;
    });
    return n;
  }
};

TEST_F(AlterExec, ColumnsItDoesNotChangeKeepEveryDefinition) {
  // The number 115 is used, then its record goes: it stays used.
  Exec("INSERT INTO T (Code) VALUES (7)");
  Exec("DELETE FROM T WHERE Code = 7");
  Exec("ALTER TABLE T ADD Extra INTEGER, MODIFY Note VARCHAR(5), RENAME Name TO Label");
  WithTable("T", [](TSDBDiskTableData& t) {
    TSDBBaseFieldManager& fm = t.FieldManager();
    const TSDBFieldDef& id = fm.Field(fm.FieldNo("Id"));
    EXPECT_EQ(id.FAutoincIncrement, 5);
    EXPECT_EQ(id.FAutoincInitialValue, 100);
    const TSDBFieldDef& data = fm.Field(fm.FieldNo("Data"));
    EXPECT_EQ(data.FBLOBBlockSize, 4096);
    EXPECT_EQ(data.FBLOBCompressionAlgorithm, acaZLIB);
    EXPECT_EQ(data.FBLOBCompressionMode, 7);
    int notNull = 0, primary = 0, unique = 0;
    for (int i = 0; i < t.ConstraintDefs().Count(); ++i) {
      const TSDBConstraintDef& c = t.ConstraintDefs()[i];
      notNull += c.ConstraintType() == ctNotNull;
      primary += c.ConstraintType() == ctPK;
      unique += c.ConstraintType() == ctUnique;
    }
    EXPECT_EQ(primary, 1);
    EXPECT_EQ(unique, 1);
    EXPECT_GE(notNull, 1);
  });
  EXPECT_EQ(Query("SELECT Id, Code, Label, Note, Extra FROM T ORDER BY Id"),
            (Rows{{"105", "1", "one", "NULL", "NULL"}, {"110", "2", "none", "20", "NULL"}}));
  // The constraints still act, and the default and the increment too.
  EXPECT_EQ(CodeOf([&] { Exec("INSERT INTO T (Label) VALUES ('x')"); }), kSDBErrNotNullViolated);
  EXPECT_EQ(CodeOf([&] { Exec("INSERT INTO T (Code) VALUES (1)"); }), kSDBErrUniqueViolated);
  Exec("INSERT INTO T (Code) VALUES (3)");
  EXPECT_EQ(Query("SELECT Id, Label FROM T WHERE Code = 3"), (Rows{{"120", "none"}}));
  // Dropping a column drops the constraints on it.
  Exec("ALTER TABLE T DROP Code");
  Exec("INSERT INTO T (Label) VALUES ('free')");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T"), (Rows{{"4"}}));
}

TEST_F(AlterExec, NotNullIsHonouredAndARefusalChangesNothing) {
  const Rows before = Query("SELECT * FROM T ORDER BY Id");
  struct Case {
    const char* sql;
    int code;
  };
  const Case refused[] = {
      {"ALTER TABLE T MODIFY Note INTEGER NOT NULL", kSDBErrNotNullViolated},
      {"ALTER TABLE T ADD Extra INTEGER NOT NULL", kSDBErrNotNullViolated},
      {"ALTER TABLE T ADD Extra INTEGER, MODIFY Note INTEGER NOT NULL, DROP Code", kSDBErrNotNullViolated},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(CodeOf([&] { Exec(c.sql); }), c.code);
    EXPECT_EQ(Query("SELECT * FROM T ORDER BY Id"), before);
    EXPECT_EQ(Tables().size(), 1u);
  }
  // Rows that satisfy it (a default fills the added column) are accepted.
  Exec("ALTER TABLE T ADD Extra INTEGER NOT NULL DEFAULT 7, MODIFY Name VARCHAR(20) NOT NULL");
  EXPECT_EQ(Query("SELECT Extra FROM T ORDER BY Id"), (Rows{{"7"}, {"7"}}));
  EXPECT_EQ(CodeOf([&] { Exec("INSERT INTO T (Code, Name) VALUES (9, NULL)"); }), kSDBErrNotNullViolated);
  // A modified column no longer declared NOT NULL accepts nulls again.
  Exec("ALTER TABLE T MODIFY Name VARCHAR(20)");
  Exec("INSERT INTO T (Code, Name) VALUES (9, NULL)");
}

// A failed write at any point of the statement leaves the table, its
// indexes and its data as they were, under its own name.
TEST_F(AlterExec, AFailureAnywhereLeavesTheTableAsItWas) {
  const std::string sql = "ALTER TABLE T ADD Extra INTEGER DEFAULT 1, DROP Note";
  const Rows before = Query("SELECT * FROM T ORDER BY Id");
  int writes = 0;
  {
    sdbcrash::TFaultFileIO io;
    sdbcrash::TFileIOScope scope(&io);
    Exec(sql);
    writes = io.Calls[static_cast<int>(sdbcrash::TOp::Write)];
  }
  ASSERT_GT(writes, 4);
  int failures = 0;
  for (int at = 1; at <= writes; ++at) {
    SCOPED_TRACE("write " + std::to_string(at));
    TearDown();
    SetUp();
    bool failed = false;
    {
      sdbcrash::TFaultFileIO io;
      io.ArmOp = sdbcrash::TOp::Write;
      io.ArmAt = at;
      io.ArmAction = sdbcrash::TAction::Fail;
      sdbcrash::TFileIOScope scope(&io);
      failed = CodeOf([&] { Exec(sql); }) != 0;
    }
    Reopen();
    EXPECT_EQ(Tables(), std::vector<std::string>{"T"});
    if (!failed) continue;
    ++failures;
    EXPECT_EQ(Query("SELECT * FROM T ORDER BY Id"), before);
    EXPECT_EQ(CodeOf([&] { Exec("INSERT INTO T (Code) VALUES (1)"); }), kSDBErrUniqueViolated);
    EXPECT_EQ(Query("SELECT Id FROM T WHERE Code = 2"), (Rows{{"110"}}));
  }
  EXPECT_GT(failures, 0);
}

// The stored constraints name the table they belong to, as read back from
// the file after each statement.
TEST_F(AlterExec, ConstraintsNameTheirTableAfterAlterAndRename) {
  struct Step {
    const char* sql;
    const char* table;
  };
  const Step steps[] = {
      {"ALTER TABLE T ADD Extra INTEGER NOT NULL DEFAULT 1", "T"},
      {"RENAME TABLE T TO U", "U"},
      {"ALTER TABLE U DROP Note", "U"},
      {"ALTER TABLE U RENAME Extra TO More", "U"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.sql);
    Exec(step.sql);
    Reopen();
    EXPECT_EQ(Tables(), std::vector<std::string>{step.table});
    WithTable(step.table, [&](TSDBDiskTableData& t) {
      ASSERT_GE(t.ConstraintDefs().Count(), 3);
      for (int i = 0; i < t.ConstraintDefs().Count(); ++i)
        EXPECT_EQ(t.ConstraintDefs()[i].FTableName, step.table) << t.ConstraintDefs()[i].FName;
    });
  }
  // They still act under the new name.
  EXPECT_EQ(CodeOf([&] { Exec("INSERT INTO U (Code) VALUES (1)"); }), kSDBErrUniqueViolated);
  EXPECT_EQ(CodeOf([&] { Exec("INSERT INTO U (Name) VALUES ('x')"); }), kSDBErrNotNullViolated);
}

// A table has one primary key: declaring another one is refused and
// changes nothing; declaring the key column again, or a new key in place
// of a dropped one, leaves exactly one.
TEST_F(AlterExec, ASecondPrimaryKeyIsRefused) {
  const Rows before = Query("SELECT * FROM T ORDER BY Id");
  for (const char* sql : {"ALTER TABLE T MODIFY Code INTEGER PRIMARY KEY", "ALTER TABLE T ADD K INTEGER PRIMARY KEY",
                          "ALTER TABLE T ADD K INTEGER, MODIFY K INTEGER PRIMARY KEY"}) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(CodeOf([&] { Exec(sql); }), kExecErrSecondPrimaryKey);
    EXPECT_NE(MessageOf([&] { Exec(sql); }).find("already has a primary key (Id)"), std::string::npos);
    EXPECT_EQ(Query("SELECT * FROM T ORDER BY Id"), before);
    EXPECT_EQ(PrimaryIndexes("T"), 1);
  }
  Exec("ALTER TABLE T MODIFY Id AUTOINC PRIMARY KEY");
  EXPECT_EQ(PrimaryIndexes("T"), 1);
  Exec("ALTER TABLE T DROP Id, MODIFY Code INTEGER PRIMARY KEY");
  EXPECT_EQ(PrimaryIndexes("T"), 1);
  EXPECT_EQ(CodeOf([&] { Exec("INSERT INTO T (Code) VALUES (2)"); }), kSDBErrUniqueViolated);
}

// The rebuild needs the table to itself: a cursor that has it open keeps
// it from happening and sees it unchanged.
TEST_F(AlterExec, ATableOpenElsewhereIsLeftAlone) {
  const Rows before = Query("SELECT * FROM T ORDER BY Id");
  TSDBCursor open;
  db->Handle().OpenTable(open, "T");
  EXPECT_EQ(CodeOf([&] { Exec("ALTER TABLE T ADD Extra INTEGER"); }), kSDBErrTableOpenByOtherCursors);
  EXPECT_EQ(open.TableData->FieldManager().FieldCount(), 5);
  db->Handle().CloseTable(open);
  EXPECT_EQ(Query("SELECT * FROM T ORDER BY Id"), before);
  EXPECT_EQ(Tables(), std::vector<std::string>{"T"});
}

// In a multi-user database another session (to the file layer another
// process) that had the table open before finds the new table afterwards.
TEST_F(AlterExec, AnotherSessionFindsTheRebuiltTable) {
  Reopen(true);
  TSDBLocalSession other;
  TSDBConnectParams p;
  p.FileName = path;
  p.SessionName = "Other";
  p.MultiUser = true;
  other.Connect(p);
  auto fieldsSeen = [&] {
    TSDBCursor c;
    other.OpenTable(c, "T");
    const int n = c.TableData->FieldManager().FieldCount();
    const int64_t count = c.TableData->GetRecordCount(c.SessionID);
    other.CloseTable(c);
    return std::make_pair(n, count);
  };
  EXPECT_EQ(fieldsSeen(), std::make_pair(5, int64_t{2}));
  Exec("ALTER TABLE T ADD Extra INTEGER DEFAULT 3, DROP Note, DROP Name");
  EXPECT_EQ(fieldsSeen(), std::make_pair(4, int64_t{2}));
  EXPECT_EQ(Query("SELECT Code, Extra FROM T ORDER BY Code"), (Rows{{"1", "3"}, {"2", "3"}}));
  other.Disconnect();
}

// A transaction's uncommitted changes would be copied into the new table
// and committed with it, whatever the transaction does next: the statement
// is refused while the session has changes pending, and the transaction
// goes on unharmed (here it is rolled back, and its insert goes).
TEST_F(AlterExec, UncommittedChangesOfTheSessionStopTheRebuild) {
  db->StartTransaction();
  Exec("INSERT INTO T (Code) VALUES (5)");
  EXPECT_EQ(CodeOf([&] { Exec("ALTER TABLE T ADD Extra INTEGER DEFAULT 4"); }), kSDBErrRebuildUncommitted);
  db->Rollback();
  EXPECT_EQ(Query("SELECT Code FROM T ORDER BY Code"), (Rows{{"1"}, {"2"}}));
  // A transaction with nothing pending does not stand in the way.
  db->StartTransaction();
  Exec("ALTER TABLE T ADD Extra INTEGER DEFAULT 4");
  db->Commit();
  EXPECT_EQ(Query("SELECT Code, Extra FROM T ORDER BY Code"), (Rows{{"1", "4"}, {"2", "4"}}));
  db.reset();
  const TSDBDatabaseCheckResult check = SDBCheckDatabase(path);
  EXPECT_TRUE(check.Ok()) << (check.Problems.empty() ? "" : check.Problems.front());
}

}  // namespace
