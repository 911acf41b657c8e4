// Live query results changed through the table, the read-only results, and
// the memory tables that queries of the process share.
#include <set>

#include "../OpenFiles.h"
#include "ComponentTestUtil.h"
#include "sdb/SDBErrors.h"
#include "components/SDBMemoryConnection.h"
#include "storage/table/SDBTableCursor.h"

using namespace sdb;
using namespace sdbtest;

namespace {

class LiveQuery : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE Items (Id INTEGER, Name VARCHAR(20))");
    Exec("INSERT INTO Items VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd')");
  }
  void OpenLive(TSDBQuery& q, const std::string& sql, bool live = true) {
    q.DatabaseName = name;
    q.RequestLive = live;
    q.SetSQL(sql);
    q.Open();
  }
};

TEST_F(LiveQuery, EditInsertAndDeleteReachTheTable) {
  TSDBQuery q;
  OpenLive(q, "SELECT * FROM Items WHERE Id >= 2");
  ASSERT_TRUE(q.CanModify());
  ASSERT_EQ(q.RecordCount(), 3);
  q.Edit();
  q.FieldByName("Name").SetAsString("two");
  EXPECT_EQ(q.FieldByName("Name").AsString(), "two");
  q.Post();
  EXPECT_EQ(q.FieldByName("Name").AsString(), "two");
  // A cancelled edit changes nothing.
  q.Next();
  q.Edit();
  q.FieldByName("Name").SetAsString("never");
  q.Cancel();
  EXPECT_EQ(q.FieldByName("Name").AsString(), "c");
  q.Delete();
  EXPECT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.FieldByName("Id").AsInteger(), 4);
  q.Insert();
  q.FieldByName("Id").SetAsInteger(9);
  q.FieldByName("Name").SetAsString("nine");
  q.Post();
  EXPECT_EQ(q.RecordCount(), 3);
  EXPECT_EQ(q.FieldByName("Id").AsInteger(), 9);
  // The edited row can be edited again (its values are the stored ones).
  q.First();
  q.Edit();
  q.FieldByName("Name").SetAsString("TWO");
  q.Next();  // moving posts
  EXPECT_EQ(Query("SELECT Id, Name FROM Items ORDER BY Id"),
            (Rows{{"1", "a"}, {"2", "TWO"}, {"4", "d"}, {"9", "nine"}}));
}

// After Post the row holds what the table stored, values the table assigns
// included.
TEST_F(LiveQuery, PostedRowsShowTheStoredValues) {
  Exec("CREATE TABLE Auto (Id AUTOINC, Name VARCHAR(5))");
  Exec("INSERT INTO Auto (Name) VALUES ('x')");
  TSDBQuery q;
  OpenLive(q, "SELECT * FROM Auto");
  q.Insert();
  q.FieldByName("Name").SetAsString("y");
  EXPECT_TRUE(q.FieldByName("Id").IsNull());
  q.Post();
  EXPECT_EQ(q.FieldByName("Id").AsInteger(), 2);
  q.First();
  q.Edit();
  q.FieldByName("Name").SetAsString("");  // stored as null
  q.Post();
  EXPECT_TRUE(q.FieldByName("Name").IsNull());
  EXPECT_EQ(Query("SELECT Id, Name FROM Auto ORDER BY Id"), (Rows{{"1", "NULL"}, {"2", "y"}}));
}

TEST_F(LiveQuery, ResultsThatAreNotLiveRefuseChanges) {
  const std::pair<const char*, bool> cases[] = {
      {"SELECT * FROM Items", false},
      {"SELECT Id FROM Items", true},
      {"SELECT * FROM Items ORDER BY Id", true},
      {"SELECT * FROM Items a, Items b WHERE a.Id = b.Id", true},
  };
  for (const auto& [sql, live] : cases) {
    SCOPED_TRACE(sql);
    TSDBQuery q;
    OpenLive(q, sql, live);
    EXPECT_FALSE(q.CanModify());
    // The rows are a temporary table's copies: the temporary-mode errors.
    EXPECT_EQ(EngineCodeOf([&] { q.Edit(); }), kSDBRecErrUpdateTemporary);
    EXPECT_EQ(EngineCodeOf([&] { q.Insert(); }), kSDBRecErrUpdateTemporary);
    EXPECT_EQ(EngineCodeOf([&] { q.Delete(); }), kSDBRecErrDeleteTemporary);
    EXPECT_EQ(EngineCodeOf([&] { q.Fields(0).SetAsString("9"); }), kSDBRecErrUpdateTemporary);
    EXPECT_EQ(q.State(), dsBrowse);
  }
  // A live result the dataset is told not to change is read-only.
  TSDBQuery q;
  OpenLive(q, "SELECT * FROM Items", true);
  ASSERT_TRUE(q.CanModify());
  q.ReadOnly = true;
  EXPECT_EQ(CodeOf([&] { q.Edit(); }), kSDBErrReadOnlyDataSet);
  EXPECT_EQ(CodeOf([&] { q.Delete(); }), kSDBErrReadOnlyDataSet);
  q.Close();
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (Rows{{"4"}}));
}

class LiveQueryTwoSessions : public TwoSessionFixture {
 protected:
  void SetUp() override {
    TwoSessionFixture::SetUp();
    Exec(1, "CREATE TABLE Items (Id INTEGER, Name VARCHAR(20))");
  }
};

// A row whose record another session changed or deleted after the query
// ran gives the table's error and overwrites nothing.
TEST_F(LiveQueryTwoSessions, RowsChangedOrDeletedByAnotherSessionAreLeftAlone) {
  struct Case {
    const char* Other;
    bool WeDelete;
    int Code;
    Rows After;
  };
  const Case cases[] = {
      {"UPDATE Items SET Name = 'other' WHERE Id = 2", false, -4, {{"1", "a"}, {"2", "other"}}},
      {"UPDATE Items SET Name = 'other' WHERE Id = 2", true, -5, {{"1", "a"}, {"2", "other"}}},
      {"DELETE FROM Items WHERE Id = 2", false, -6, {{"1", "a"}}},
      {"DELETE FROM Items WHERE Id = 2", true, -7, {{"1", "a"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Other) + (c.WeDelete ? " / delete" : " / edit"));
    Exec(1, "DELETE FROM Items");
    Exec(1, "INSERT INTO Items VALUES (1, 'a'), (2, 'b')");
    TSDBQuery q;
    Bind(q, 1);
    q.RequestLive = true;
    q.SetSQL("SELECT * FROM Items WHERE Id = 2");
    q.Open();
    ASSERT_TRUE(q.CanModify());
    Exec(2, c.Other);
    EXPECT_EQ(EngineCodeOf([&] {
                if (c.WeDelete) {
                  q.Delete();
                } else {
                  q.Edit();
                  q.FieldByName("Name").SetAsString("ours");
                  q.Post();
                }
              }),
              c.Code);
    EXPECT_EQ(q.State(), dsBrowse);
    EXPECT_EQ(q.FieldByName("Name").AsString(), "b");  // the row as the query read it
    EXPECT_EQ(Query(2, "SELECT Id, Name FROM Items ORDER BY Id"), c.After);
  }
}

TEST_F(LiveQueryTwoSessions, ARowLockedByAnotherSessionCannotBeEdited) {
  Exec(1, "INSERT INTO Items VALUES (1, 'a')");
  TSDBTable t;
  Bind(t, 2);
  t.TableName = "Items";
  t.Open();
  t.Edit();
  TSDBQuery q;
  Bind(q, 1);
  q.RequestLive = true;
  q.SetSQL("SELECT * FROM Items");
  q.Open();
  EXPECT_EQ(EngineCodeOf([&] { q.Edit(); }), -12);
  t.Cancel();
  q.Edit();
  q.FieldByName("Name").SetAsString("mine");
  q.Post();
  EXPECT_EQ(Query(2, "SELECT Name FROM Items"), (Rows{{"mine"}}));
}

// ---- Memory tables ------------------------------------------------------------------------------------

class MemoryTables : public LiveQuery {};

TEST_F(MemoryTables, SharedByQueriesOfTheProcessWithoutAnyFile) {
  const std::set<std::string> before = OpenNamedFiles();
  Query("SELECT Id, Name INTO MEMORY H2MemShared FROM Items WHERE Id <= 2");
  // Another query on another database file sees it.
  const std::string otherPath = TempPath("h2_mem_other");
  {
    TSDBDatabase other;
    other.SetDatabaseName(name + "Other");
    other.SetDatabaseFileName(otherPath);
    other.CreateDatabase();
    TSDBQuery q;
    q.DatabaseName = other.DatabaseName();
    q.SetSQL("SELECT Name FROM MEMORY H2MemShared ORDER BY Id");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldByName("Name").AsString(), "a");
  }
  std::filesystem::remove(otherPath);
  EXPECT_FALSE(db->TableExists("H2MemShared"));
  EXPECT_TRUE(SDBSharedMemoryDatabase().TableExists("H2MemShared"));

  // A live result on a memory table changes the memory table.
  {
    TSDBQuery q;
    OpenLive(q, "SELECT * FROM MEMORY H2MemShared WHERE Id = 2");
    ASSERT_TRUE(q.CanModify());
    q.Edit();
    q.FieldByName("Name").SetAsString("changed in memory");
    q.Post();
  }
  EXPECT_EQ(Query("SELECT Id, Name FROM MEMORY H2MemShared ORDER BY Id"),
            (Rows{{"1", "a"}, {"2", "changed in memory"}}));
  EXPECT_EQ(Query("SELECT Name FROM Items WHERE Id = 2"), (Rows{{"b"}}));
  EXPECT_EQ(OpenNamedFiles(), before);

  Exec("DROP TABLE MEMORY H2MemShared");
  EXPECT_FALSE(SDBSharedMemoryDatabase().TableExists("H2MemShared"));
  EXPECT_NE(CodeOf([&] { Query("SELECT * FROM MEMORY H2MemShared"); }), 0);
}

TEST(MemoryConnection, TransactionsKeepOrDropChanges) {
  TSDBMemoryDatabase db;  // a private one: the shared one is used by other tests
  TSDBMemoryConnection conn(db);
  TSDBFieldDefs defs;
  defs.Emplace("ID", aftInteger, 0);
  conn.CreateTable("T", std::move(defs), {}, {});
  auto count = [&] {
    TSDBTableCursor c(SDBTableOpener(conn), conn.SessionID());
    c.Open("T");
    return c.RecordCount();
  };
  auto insert = [&](int v) {
    TSDBTableCursor c(SDBTableOpener(conn), conn.SessionID());
    c.Open("T");
    c.Insert();
    c.SetFieldValue(0, TSDBVariant::FromInt(v));
    c.Post();
  };
  insert(1);
  conn.StartTransaction();
  EXPECT_EQ(CodeOf([&] { conn.StartTransaction(); }), 30481);
  insert(2);
  conn.Rollback();
  EXPECT_FALSE(conn.InTransaction());
  EXPECT_EQ(count(), 1);
  conn.StartTransaction();
  insert(3);
  conn.Commit(false);
  EXPECT_EQ(count(), 2);
  conn.EmptyTable("T");
  EXPECT_EQ(count(), 0);
  conn.RenameTable("T", "U");
  EXPECT_EQ(conn.GetTablesList(), std::vector<std::string>{"U"});
  conn.DeleteTable("U");
  EXPECT_FALSE(conn.TableExists("U"));
}

}  // namespace
