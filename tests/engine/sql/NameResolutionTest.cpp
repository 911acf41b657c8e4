// Which column a name means when one table appears twice in FROM, and where
// the messages about names point.
#include "../components/ExecFixture.h"
#include "sql/SDBEvaluator.h"

using namespace sdb;
using namespace sdbtest;

namespace {

class NameResolution : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE t (id INTEGER, v VARCHAR(10))");
    Exec("INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c')");
  }
};

// A pseudonym hides its table's name: in "t c, t" the name t means the
// unaliased item, and does so in every clause.
TEST_F(NameResolution, APseudonymHidesItsTableNameInEveryClause) {
  const struct {
    const char* Sql;
    Rows Expected;
  } cases[] = {
      {"SELECT COUNT(*) FROM t c, t WHERE t.id > c.id", {{"3"}}},
      {"SELECT c.id, t.id FROM t c, t WHERE t.id > c.id ORDER BY c.id, t.id",
       {{"1", "2"}, {"1", "3"}, {"2", "3"}}},
      {"SELECT c.id, t.id FROM t c JOIN t ON t.id = c.id + 1 ORDER BY t.id", {{"1", "2"}, {"2", "3"}}},
      {"SELECT id, (SELECT MAX(c.id) FROM t c WHERE c.id < t.id) FROM t ORDER BY id",
       {{"1", "NULL"}, {"2", "1"}, {"3", "2"}}},
      // ORDER BY mixing a qualified name and a position over two columns
      // of one name.
      {"SELECT x.id, y.id FROM t x JOIN t y ON x.id = y.id ORDER BY y.id, 1", {{"1", "1"}, {"2", "2"}, {"3", "3"}}},
      {"SELECT x.id, y.id FROM t x JOIN t y ON x.id = y.id ORDER BY y.id DESC, 2", {{"3", "3"}, {"2", "2"}, {"1", "1"}}},
  };
  for (const auto& c : cases) {
    Rows got;
    ASSERT_NO_THROW(got = Query(c.Sql)) << c.Sql << "\n" << MessageOf([&] { Query(c.Sql); });
    EXPECT_EQ(got, c.Expected) << c.Sql;
  }
}

TEST_F(NameResolution, ANameOfTwoItemsIsAmbiguousInEveryClause) {
  for (const char* sql : {"SELECT id FROM t c, t", "SELECT COUNT(*) FROM t c, t WHERE id > 1",
                          "SELECT c.v FROM t c JOIN t ON id = 1", "SELECT c.v FROM t c, t ORDER BY id"}) {
    EXPECT_EQ(CodeOf([&] { Query(sql); }), kEvalErrAmbiguousColumn) << sql << "\n" << MessageOf([&] { Query(sql); });
  }
  // The table's own name no longer reaches an aliased item.
  EXPECT_EQ(CodeOf([&] { Query("SELECT t.id FROM t c"); }), kEvalErrUnknownColumn);
}

TEST_F(NameResolution, MessagesGiveTheNamesPosition) {
  const struct {
    const char* Sql;
    const char* Part;
  } cases[] = {
      {"SELECT c.id,\n  id FROM t c, t", "'id' at line 2, column 3"},
      {"SELECT c.id FROM t c, t\nORDER BY  nope", "'nope' at line 2, column 11"},
      {"SELECT c.id FROM t c, t ORDER BY 1, 7", "at line 1, column 37"},
      {"SELECT c.id,  id FROM t c, t", "'id' at line 1, column 15"},
      {"SELECT id FROM t c, t\nWHERE c.id = 1 AND  id > 1", "'id' at line 2, column 21"},
      {"SELECT v FROM t GROUP BY   nope", "'nope' at line 1, column 28"},
  };
  for (const auto& c : cases) {
    const std::string msg = MessageOf([&] { Query(c.Sql); });
    EXPECT_NE(msg.find(c.Part), std::string::npos) << c.Sql << "\n" << msg;
    EXPECT_EQ(msg.find("line 0"), std::string::npos) << c.Sql << "\n" << msg;
  }
}

TEST_F(NameResolution, AReservedWordAsANameSaysHowToQuoteIt) {
  const std::string msg = MessageOf([&] { Exec("CREATE TABLE r (id INTEGER, pad INTEGER)"); });
  EXPECT_NE(msg.find("'pad' is a reserved word"), std::string::npos) << msg;
  EXPECT_NE(msg.find("`pad`"), std::string::npos) << msg;
  EXPECT_NE(msg.find("at line 1, column 29"), std::string::npos) << msg;
  EXPECT_NO_THROW(Exec("CREATE TABLE r (id INTEGER, `pad` INTEGER)"));
  EXPECT_EQ(Query("SELECT `pad` FROM r"), Rows{});
  // An ordinary unexpected token gets no such hint.
  const std::string other = MessageOf([&] { Exec("CREATE TABLE q (id INTEGER, 5 INTEGER)"); });
  EXPECT_EQ(other.find("reserved"), std::string::npos) << other;
}

}  // namespace

namespace {

// Correlated subqueries of a SELECT read their tables once and pick rows by
// an integer equality with the outer row: the answers must stay those of a
// plain evaluation, whatever the types, nulls and shapes.
class CorrelatedSubquery : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE t (i INTEGER, j INTEGER, k INTEGER, f FLOAT, s VARCHAR(5))");
    Exec("INSERT INTO t VALUES (1, 2, 3, 1.5, 'a'), (2, 3, 1, 2.0, 'b'), (3, 1, NULL, 3.0, 'c'), "
         "(4, NULL, 2, NULL, NULL), (5, 5, 5, 5.0, 'A')");
  }
};

TEST_F(CorrelatedSubquery, AnswersAreThoseWorkedOutByHand) {
  const struct {
    const char* Sql;
    Rows Expected;
  } cases[] = {
      {"SELECT COUNT(*) FROM t a WHERE a.i IN (SELECT b.j FROM t b WHERE EXISTS "
       "(SELECT * FROM t c WHERE c.i = b.k AND c.k >= a.i))",
       {{"2"}}},
      // Equality on an integer column with a null outer value: no row.
      {"SELECT a.i, (SELECT COUNT(*) FROM t c WHERE c.i = a.k) FROM t a ORDER BY a.i",
       {{"1", "1"}, {"2", "1"}, {"3", "0"}, {"4", "1"}, {"5", "1"}}},
      // Integer column against a float outer column: 2.0 = 2, 1.5 matches nothing.
      {"SELECT a.i, (SELECT MAX(c.i) FROM t c WHERE c.i = a.f) FROM t a ORDER BY a.i",
       {{"1", "NULL"}, {"2", "2"}, {"3", "3"}, {"4", "NULL"}, {"5", "5"}}},
      // Text equality compares as the evaluator does (case-sensitive).
      {"SELECT a.i, (SELECT COUNT(*) FROM t c WHERE c.s = a.s) FROM t a ORDER BY a.i",
       {{"1", "1"}, {"2", "1"}, {"3", "1"}, {"4", "0"}, {"5", "1"}}},
      // An unqualified name is the subquery's own column before the outer row's.
      {"SELECT a.i, (SELECT COUNT(*) FROM t c WHERE c.i = k) FROM t a ORDER BY a.i",
       {{"1", "1"}, {"2", "1"}, {"3", "1"}, {"4", "1"}, {"5", "1"}}},
      // A join inside the correlated subquery, and the same table twice.
      {"SELECT a.i FROM t a WHERE EXISTS (SELECT * FROM t b JOIN t c ON b.k = c.i WHERE b.i = a.j AND c.j = a.i) "
       "ORDER BY a.i",
       {{"5"}}},
      {"SELECT a.i, (SELECT SUM(c.i) FROM t c WHERE c.j = a.i OR c.k = a.i) FROM t a ORDER BY a.i",
       {{"1", "5"}, {"2", "5"}, {"3", "3"}, {"4", "NULL"}, {"5", "5"}}},
  };
  for (const auto& c : cases) {
    Rows got;
    ASSERT_NO_THROW(got = Query(c.Sql)) << c.Sql << "\n" << MessageOf([&] { Query(c.Sql); });
    EXPECT_EQ(got, c.Expected) << c.Sql;
  }
}

// Changes made between two statements are seen by the next one.
TEST_F(CorrelatedSubquery, EachStatementReadsTheTablesAfresh) {
  const char* sql = "SELECT a.i, (SELECT COUNT(*) FROM t c WHERE c.j = a.i) FROM t a WHERE a.i = 5";
  EXPECT_EQ(Query(sql), (Rows{{"5", "1"}}));
  Exec("INSERT INTO t VALUES (6, 5, 0, 0, 'x')");
  EXPECT_EQ(Query(sql), (Rows{{"5", "2"}}));
  // A data change whose condition holds a correlated subquery reads the
  // rows as they are.
  EXPECT_EQ(Exec("DELETE FROM t WHERE EXISTS (SELECT * FROM t c WHERE c.i = t.j AND c.i > 4)"), 2);
  EXPECT_EQ(Query(sql), (Rows{}));
}

}  // namespace
