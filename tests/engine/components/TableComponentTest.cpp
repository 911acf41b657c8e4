// The table component: orders, ranges and searches through the table
// cursor, changes seen by queries, the record lock protocol between two
// sessions, and a large table read without being loaded.
#include "ComponentTestUtil.h"
#include "sdb/SDBErrors.h"
#include "storage/table/SDBTableCursor.h"

using namespace sdb;
using namespace sdbtest;

namespace {

using Ids = std::vector<int64_t>;

Ids ReadIds(TSDBTable& t) {
  Ids out;
  for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("Id").AsInteger());
  return out;
}

TSDBVariant I(int64_t v) { return TSDBVariant::FromInt(v); }
TSDBVariant S(const char* v) { return TSDBVariant::FromString(v); }

class TableComp : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE People (Id INTEGER, Name VARCHAR(20), Grp INTEGER)");
    Exec("CREATE INDEX ById ON People (Id)");
    Exec("CREATE INDEX ByIdDesc ON People (Id DESC)");
    Exec("CREATE INDEX ByNameNC ON People (Name NOCASE)");
    // Physical order 3 1 2 5 4; names in collation order: a B c d E.
    Exec("INSERT INTO People VALUES (3, 'a', 1), (1, 'd', 2), (2, 'B', 1), (5, 'c', 2), (4, 'E', 1)");
  }
  void Use(TSDBTable& t, const std::string& indexName, const std::string& fieldNames = {}) {
    t.DatabaseName = name;
    t.TableName = "People";
    t.IndexName = indexName;
    t.IndexFieldNames = fieldNames;
  }
};

TEST_F(TableComp, OrdersPhysicalByIndexNameAndByFieldList) {
  struct Case {
    const char* IndexName;
    const char* FieldNames;
    Ids Expected;
  };
  const Case cases[] = {
      {"", "", {3, 1, 2, 5, 4}},
      {"ById", "", {1, 2, 3, 4, 5}},
      {"byiddesc", "", {5, 4, 3, 2, 1}},
      {"", "Id", {1, 2, 3, 4, 5}},
      {"", "Grp;Id", {2, 3, 4, 1, 5}},
      {"", "Name", {3, 2, 5, 1, 4}},
      {"", "Grp DESC;Name", {5, 1, 3, 2, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.IndexName) + "/" + c.FieldNames);
    TSDBTable t;
    Use(t, c.IndexName, c.FieldNames);
    t.Open();
    EXPECT_EQ(t.RecordCount(), 5);
    EXPECT_EQ(ReadIds(t), c.Expected);
    // Backwards from the end, with record numbers in the same order.
    t.Last();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.RecNo(), 5);
    Ids back;
    for (; !t.Bof(); t.Prior()) back.push_back(t.FieldByName("Id").AsInteger());
    EXPECT_EQ(back, Ids(c.Expected.rbegin(), c.Expected.rend()));
    EXPECT_EQ(t.RecNo(), 1);
  }
  // Changing the order of an open table keeps it open in the new order.
  TSDBTable t;
  Use(t, "ById");
  t.Open();
  t.SetIndexFieldNames("Name");
  EXPECT_EQ(ReadIds(t), (Ids{3, 2, 5, 1, 4}));
  t.SetIndexName("ByIdDesc");
  EXPECT_EQ(ReadIds(t), (Ids{5, 4, 3, 2, 1}));
  EXPECT_EQ(CodeOf([&] { t.SetIndexName("Nope"); }), kSDBErrIndexNotFound);
  EXPECT_EQ(ReadIds(t), (Ids{5, 4, 3, 2, 1}));
}

TEST_F(TableComp, UnknownIndexOrFieldLeavesTheTableClosed) {
  TSDBTable t;
  Use(t, "Nope");
  EXPECT_NE(MessageOf([&] { t.Open(); }).find("Index 'Nope' not found"), std::string::npos);
  EXPECT_EQ(CodeOf([&] { t.Open(); }), kSDBErrIndexNotFound);
  EXPECT_FALSE(t.Active());
  Use(t, "", "Id;Missing");
  EXPECT_NE(CodeOf([&] { t.Open(); }), 0);
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(db->RefCount(), 0);
}

TEST_F(TableComp, RangesAreInclusiveAndFollowTheIndexOrder) {
  struct Case {
    const char* IndexName;
    std::vector<TSDBVariant> Start, End;
    Ids Expected;
  };
  const Case cases[] = {
      {"ById", {I(2)}, {I(4)}, {2, 3, 4}},
      {"ById", {I(3)}, {I(3)}, {3}},
      {"ById", {I(4)}, {I(2)}, {}},
      {"ById", {I(6)}, {I(9)}, {}},
      {"ById", {}, {I(2)}, {1, 2}},
      {"ById", {I(4)}, {}, {4, 5}},
      {"ByIdDesc", {I(4)}, {I(2)}, {4, 3, 2}},
      {"ByNameNC", {S("B")}, {S("D")}, {2, 5, 1}},
      {"ByNameNC", {S("b")}, {S("d")}, {2, 5, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.IndexName) + " " + std::to_string(c.Expected.size()));
    TSDBTable t;
    Use(t, c.IndexName);
    t.Open();
    t.SetRange(c.Start, c.End);
    EXPECT_EQ(ReadIds(t), c.Expected);
    EXPECT_EQ(t.RecordCount(), static_cast<int64_t>(c.Expected.size()));
    t.First();
    EXPECT_EQ(t.Eof(), c.Expected.empty());
    if (!c.Expected.empty()) {
      t.Last();
      EXPECT_EQ(t.FieldByName("Id").AsInteger(), c.Expected.back());
    }
    t.CancelRange();
    EXPECT_EQ(t.RecordCount(), 5);
  }
  // A range set before Open applies at Open; physical order has none.
  TSDBTable t;
  Use(t, "ById");
  t.SetRange({I(2)}, {I(3)});
  t.Open();
  EXPECT_EQ(ReadIds(t), (Ids{2, 3}));
  TSDBTable p;
  Use(p, "");
  p.Open();
  EXPECT_NE(CodeOf([&] { p.SetRange({I(1)}, {I(2)}); }), 0);
}

TEST_F(TableComp, FindKeyAndFindNearest) {
  struct Case {
    const char* IndexName;
    TSDBVariant Key;
    bool Found;        // FindKey
    int64_t NearestId;  // FindNearest's record, 0: none (Eof)
  };
  const Case cases[] = {
      {"ById", I(3), true, 3},
      {"ById", I(0), false, 1},
      {"ById", I(6), false, 0},
      {"ByIdDesc", I(3), true, 3},
      {"ByNameNC", S("C"), true, 5},
      {"ByNameNC", S("bb"), false, 5},
      {"ByNameNC", S("z"), false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.IndexName) + " " + c.Key.AsString());
    TSDBTable t;
    Use(t, c.IndexName);
    t.Open();
    t.Next();
    const int64_t before = t.FieldByName("Id").AsInteger();
    EXPECT_EQ(t.FindKey({c.Key}), c.Found);
    if (c.Found) {
      EXPECT_EQ(t.FieldByName("Id").AsInteger(), c.NearestId);
    } else {
      EXPECT_EQ(t.FieldByName("Id").AsInteger(), before);  // the position is kept
    }
    EXPECT_EQ(t.FindNearest({c.Key}), c.NearestId != 0);
    if (c.NearestId) {
      EXPECT_EQ(t.FieldByName("Id").AsInteger(), c.NearestId);
    } else {
      EXPECT_TRUE(t.Eof());
    }
  }
  TSDBTable p;
  Use(p, "");
  p.Open();
  EXPECT_NE(CodeOf([&] { p.FindKey({I(1)}); }), 0);
}

TEST_F(TableComp, ChangesAreSeenByQueriesAndReadOnlyTablesRefuse) {
  TSDBTable t;
  Use(t, "ById");
  t.Open();
  t.Insert();
  t.FieldByName("Id").SetAsInteger(6);
  t.FieldByName("Name").SetAsString("f");
  t.Post();
  EXPECT_EQ(t.FieldByName("Id").AsInteger(), 6);  // on the stored record
  EXPECT_EQ(t.RecNo(), 6);
  ASSERT_TRUE(t.FindKey({I(2)}));
  t.Edit();
  t.FieldByName("Name").SetAsString("bee");
  t.FieldByName("Grp").SetAsString("");  // an empty text is stored as null
  t.Next();                               // moving posts the edit
  EXPECT_EQ(t.FieldByName("Id").AsInteger(), 3);
  ASSERT_TRUE(t.FindKey({I(4)}));
  t.Delete();
  EXPECT_EQ(t.FieldByName("Id").AsInteger(), 5);  // the next record
  // A cancelled insert and a cancelled edit leave nothing behind.
  t.Insert();
  t.FieldByName("Id").SetAsInteger(7);
  t.Cancel();
  t.Edit();
  t.FieldByName("Name").SetAsString("changed");
  EXPECT_EQ(t.FieldByName("Name").AsString(), "changed");
  t.Cancel();
  EXPECT_EQ(t.FieldByName("Name").AsString(), "c");
  EXPECT_EQ(CodeOf([&] { t.FieldByName("Name").SetAsString("x"); }), kSDBErrNotEditing);
  EXPECT_EQ(Query("SELECT Id, Name, Grp FROM People ORDER BY Id"),
            (Rows{{"1", "d", "2"}, {"2", "bee", "NULL"}, {"3", "a", "1"}, {"5", "c", "2"}, {"6", "f", "NULL"}}));
  // Rows another statement added are seen by the open table.
  Exec("INSERT INTO People VALUES (0, 'zero', 0)");
  t.First();
  EXPECT_EQ(t.FieldByName("Id").AsInteger(), 0);
  EXPECT_EQ(t.RecordCount(), 6);
  t.Close();

  TSDBTable ro;
  Use(ro, "");
  ro.ReadOnly = true;
  ro.Open();
  for (auto op : {+[](TSDBTable& x) { x.Edit(); }, +[](TSDBTable& x) { x.Insert(); },
                  +[](TSDBTable& x) { x.Delete(); }})
    EXPECT_EQ(CodeOf([&] { op(ro); }), kSDBErrReadOnlyDataSet);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM People"), (Rows{{"6"}}));
}

TEST_F(TableComp, EditOnAnEmptyTableInserts) {
  Exec("DELETE FROM People");
  TSDBTable t;
  Use(t, "ById");
  t.Open();
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecNo(), 0);
  t.Edit();
  EXPECT_EQ(t.State(), dsInsert);
  t.FieldByName("Id").SetAsInteger(1);
  t.Post();
  EXPECT_EQ(Query("SELECT Id FROM People"), (Rows{{"1"}}));
}

// A large table is opened and read at both ends without reading it whole:
// the component fetches one record per move, and the cursor stands on the
// last record that was stored.
TEST_F(TableComp, LargeTableIsReadAtBothEndsWithoutBeingLoaded) {
  constexpr int N = 100000;
  Exec("CREATE TABLE Big (Id INTEGER, Name VARCHAR(20))");
  Exec("CREATE INDEX BigById ON Big (Id)");
  TSDBPageItemID firstId, lastId;
  {
    TSDBTableCursor c(SDBTableOpener(db->Handle()), db->Handle().SessionID());
    c.Open("Big");
    c.BeginBatchUpdate();
    for (int i = 0; i < N; ++i) {
      c.Insert();
      c.SetFieldValue(0, TSDBVariant::FromInt(N - 1 - i));  // index order is the reverse of physical order
      c.SetFieldValue(1, TSDBVariant::FromString("row " + std::to_string(i)));
      c.Post();
      if (i == 0) firstId = c.RecordID();
      lastId = c.RecordID();
    }
    c.EndBatchUpdate(true);
  }
  struct Case {
    const char* IndexName;
    int64_t FirstValue, LastValue;
    TSDBPageItemID FirstRecord, LastRecord;
  };
  const Case cases[] = {{"", N - 1, 0, firstId, lastId}, {"BigById", 0, N - 1, lastId, firstId}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.IndexName);
    TSDBTable t;
    t.DatabaseName = name;
    t.TableName = "Big";
    t.IndexName = c.IndexName;
    t.Open();
    EXPECT_EQ(t.RecordCount(), N);
    EXPECT_EQ(t.FieldByName("Id").AsInteger(), c.FirstValue);
    EXPECT_TRUE(t.Cursor()->RecordID() == c.FirstRecord);
    t.Last();
    EXPECT_EQ(t.FieldByName("Id").AsInteger(), c.LastValue);
    EXPECT_TRUE(t.Cursor()->RecordID() == c.LastRecord);
    t.Prior();
    EXPECT_EQ(t.FieldByName("Id").AsInteger(), c.LastValue + (c.LastValue == 0 ? 1 : -1));
    EXPECT_LE(t.RowsFetched(), 3);
  }
}

class TableLocks : public TwoSessionFixture {
 protected:
  void SetUp() override {
    TwoSessionFixture::SetUp();
    Exec(1, "CREATE TABLE Items (Id INTEGER, Name VARCHAR(20))");
    Exec(1, "CREATE INDEX ItemsById ON Items (Id)");
    Exec(1, "INSERT INTO Items VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd')");
  }
  void Use(TSDBTable& t, int session) {
    Bind(t, session);
    t.TableName = "Items";
    t.IndexName = "ItemsById";
    t.Open();
  }
};

TEST_F(TableLocks, ARecordLockedByAnotherSessionCannotBeEditedOrDeleted) {
  TSDBTable a, b;
  Use(a, 1);
  Use(b, 2);
  a.Edit();
  EXPECT_EQ(EngineCodeOf([&] { b.Edit(); }), -12);
  EXPECT_EQ(EngineCodeOf([&] { b.Delete(); }), -12);
  EXPECT_EQ(b.State(), dsBrowse);
  // The lock goes with the edit; then the other session may change it.
  a.Cancel();
  b.Edit();
  b.FieldByName("Name").SetAsString("by b");
  b.Post();
  EXPECT_EQ(Query(1, "SELECT Name FROM Items WHERE Id = 1"), (Rows{{"by b"}}));
}

TEST_F(TableLocks, ARecordChangedOrDeletedSinceItWasReadIsLeftAlone) {
  struct Case {
    bool OtherDeletes;
    bool WeDelete;
    int Code;
  };
  const Case cases[] = {{false, false, -4}, {false, true, -5}, {true, false, -6}, {true, true, -7}};
  int64_t id = 0;
  for (const auto& c : cases) {
    ++id;
    SCOPED_TRACE(id);
    TSDBTable a, b;
    Use(a, 1);
    Use(b, 2);
    ASSERT_TRUE(b.FindKey({I(id)}));  // b reads the record
    ASSERT_TRUE(a.FindKey({I(id)}));
    if (c.OtherDeletes) {
      a.Delete();
    } else {
      a.Edit();
      a.FieldByName("Name").SetAsString("by a");
      a.Post();
    }
    EXPECT_EQ(EngineCodeOf([&] {
                if (c.WeDelete) {
                  b.Delete();
                } else {
                  b.Edit();
                  b.FieldByName("Name").SetAsString("by b");
                  b.Post();
                }
              }),
              c.Code);
    EXPECT_EQ(b.State(), dsBrowse);
    const Rows expected = c.OtherDeletes ? Rows{} : Rows{{"by a"}};
    EXPECT_EQ(Query(2, "SELECT Name FROM Items WHERE Id = " + std::to_string(id)), expected);
  }
}

}  // namespace
