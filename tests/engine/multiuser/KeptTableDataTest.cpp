// A database keeps a table's data between statements. Whatever another user
// of the file does to the table meanwhile (rows, indexes, columns, the table
// itself) must be what the next statement sees; so must a change of this
// database's own that was rolled back.
#include <string>
#include <vector>

#include "../components/ComponentTestUtil.h"

using namespace sdbtest;

namespace {

// Session 1 is this database, session 2 another user of the file: they
// meet only through the file, as two processes do.
class KeptTableData : public TwoSessionFixture {
 protected:
  void SetUp() override {
    TwoSessionFixture::SetUp();
    Exec(1, "CREATE TABLE T (K INTEGER, V VARCHAR(10))");
    Exec(1, "INSERT INTO T VALUES (1, 'a'), (2, 'b')");
  }
};

struct ChangeCase {
  const char* Name;
  std::vector<std::string> OtherRuns;  // what the other user does between two statements
  std::string Query;                   // the next statement here
  Rows Expected;
};

class KeptTableDataChanges : public KeptTableData, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(KeptTableDataChanges, AreSeenByTheNextStatement) {
  const ChangeCase& c = GetParam();
  // Both statements read the table through its index once it has one, and
  // count it: kept definitions, counters and pages are all put to use.
  ASSERT_EQ(Query(1, "SELECT K, V FROM T ORDER BY K"), (Rows{{"1", "a"}, {"2", "b"}}));
  ASSERT_EQ(Query(1, "SELECT COUNT(*) FROM T"), (Rows{{"2"}}));
  for (const auto& sql : c.OtherRuns) Exec(2, sql);
  EXPECT_EQ(Query(1, c.Query), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    ByAnotherUser, KeptTableDataChanges,
    ::testing::Values(
        ChangeCase{"RowsAdded", {"INSERT INTO T VALUES (3, 'c')"}, "SELECT COUNT(*) FROM T", {{"3"}}},
        ChangeCase{"RowsDeleted", {"DELETE FROM T WHERE K = 1"}, "SELECT K FROM T", {{"2"}}},
        ChangeCase{"RowUpdated", {"UPDATE T SET V = 'z' WHERE K = 2"}, "SELECT V FROM T WHERE K = 2", {{"z"}}},
        ChangeCase{"IndexAdded",
                   {"CREATE INDEX ByV ON T (V)", "INSERT INTO T VALUES (3, 'b')"},
                   "SELECT K FROM T WHERE V = 'b' ORDER BY K",
                   {{"2"}, {"3"}}},
        ChangeCase{"IndexDropped",
                   {"CREATE INDEX ByV ON T (V)", "DROP INDEX T.ByV", "INSERT INTO T VALUES (3, 'b')"},
                   "SELECT K FROM T WHERE V = 'b' ORDER BY K",
                   {{"2"}, {"3"}}},
        ChangeCase{"ColumnAdded",
                   {"ALTER TABLE T ADD W INTEGER", "UPDATE T SET W = K * 10"},
                   "SELECT K, W FROM T ORDER BY K",
                   {{"1", "10"}, {"2", "20"}}},
        ChangeCase{"TableRecreated",
                   {"DROP TABLE T", "CREATE TABLE T (X VARCHAR(5))", "INSERT INTO T VALUES ('new')"},
                   "SELECT * FROM T",
                   {{"new"}}},
        ChangeCase{"OtherTableRenamedToItsName",
                   {"CREATE TABLE U (X INTEGER)", "INSERT INTO U VALUES (7)", "DROP TABLE T", "RENAME TABLE U TO T"},
                   "SELECT * FROM T",
                   {{"7"}}}),
    [](const auto& p) { return std::string(p.param.Name); });

TEST_F(KeptTableData, ADroppedOrRenamedTableIsGoneForTheNextStatement) {
  ASSERT_EQ(Query(1, "SELECT COUNT(*) FROM T"), (Rows{{"2"}}));
  Exec(2, "RENAME TABLE T TO T2");
  EXPECT_NE(CodeOf([&] { Query(1, "SELECT * FROM T"); }), 0);
  EXPECT_EQ(Query(1, "SELECT COUNT(*) FROM T2"), (Rows{{"2"}}));
  Exec(2, "DROP TABLE T2");
  EXPECT_NE(CodeOf([&] { Query(1, "SELECT * FROM T2"); }), 0);
  // The name can be taken again here, and the new table is the one read.
  Exec(1, "CREATE TABLE T2 (Y INTEGER)");
  Exec(1, "INSERT INTO T2 VALUES (5)");
  EXPECT_EQ(Query(1, "SELECT * FROM T2"), (Rows{{"5"}}));
}

TEST_F(KeptTableData, ChangesOfThisDatabaseRolledBackLeaveNothingBehind) {
  ASSERT_EQ(Query(1, "SELECT COUNT(*) FROM T"), (Rows{{"2"}}));
  Exec(1, "START TRANSACTION; INSERT INTO T VALUES (3, 'c'); ROLLBACK");
  EXPECT_EQ(Query(1, "SELECT COUNT(*) FROM T"), (Rows{{"2"}}));
  EXPECT_EQ(Query(2, "SELECT COUNT(*) FROM T"), (Rows{{"2"}}));
  // Another table renamed onto a name this database read before.
  Exec(1, "CREATE TABLE U (X INTEGER)");
  Exec(1, "INSERT INTO U VALUES (9)");
  Exec(2, "DROP TABLE T");
  Exec(1, "RENAME TABLE U TO T");
  EXPECT_EQ(Query(1, "SELECT * FROM T"), (Rows{{"9"}}));
  Exec(1, "INSERT INTO T VALUES (10)");
  EXPECT_EQ(Query(2, "SELECT COUNT(*) FROM T"), (Rows{{"2"}}));
  EXPECT_EQ(Query(1, "SELECT COUNT(*) FROM T"), (Rows{{"2"}}));
}

}  // namespace
