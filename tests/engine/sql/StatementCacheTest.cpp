// Texts prepared again by fresh query components reuse their parse: every
// run must still see its own parameter values, the schema as it is now
// (changed by this connection or by another process), and run every
// statement of a multi-statement text, failing where a fresh parse fails.
#include <filesystem>
#include <string>

#include "../ToolRun.h"
#include "../components/ExecFixture.h"
#include "sql/SDBSQLErrors.h"
#include "sql/SDBStatementCache.h"

using namespace sdb;
using namespace sdbtest;

namespace {

class StatementCache : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE T (K VARCHAR(10), V INTEGER)");
    Exec("CREATE TABLE U (K VARCHAR(10))");
    Exec("INSERT INTO T VALUES ('a', 1), ('b', 2), (NULL, 3), ('c', NULL)");
    Exec("INSERT INTO U VALUES ('u')");
  }
  // The rows of a query run by a fresh component, with parameters set by
  // `set`; "error <code>" when it fails.
  template <class F>
  std::string Run(const std::string& sql, F&& set, bool paramCheck = true) {
    TSDBQuery q;
    q.DatabaseName = name;
    q.ParamCheck = paramCheck;
    q.SetSQL(sql);
    set(q);
    return OutcomeOf(q);
  }
};

// One text, run again and again with values that change in value, in
// type and between null and not null: each run answers for its own values.
TEST_F(StatementCache, EachRunSeesItsOwnParameterValues) {
  const std::string sql = "SELECT V FROM T WHERE K = :K ORDER BY V";
  const std::string byV = "SELECT K FROM T WHERE V = :V";
  struct Case {
    const std::string* Sql;
    const char* Param;
    enum { Text, Integer, Null } Kind;
    const char* Value;
    const char* Expected;
  } cases[] = {
      {&sql, "K", Case::Text, "a", "1,|"},
      {&sql, "K", Case::Text, "b", "2,|"},
      {&sql, "K", Case::Text, "zz", ""},
      // An empty text is null: "K = :K" then matches the rows whose K is null.
      {&sql, "K", Case::Text, "", "3,|"},
      {&sql, "K", Case::Null, "", "3,|"},
      {&sql, "K", Case::Text, "c", "NULL,|"},
      // A null parameter of unknown type is a null text: "V = :V" is then
      // "V IS NULL". Parsed that way first, the text must not keep it so.
      {&byV, "V", Case::Null, "", "c,|"},
      {&byV, "V", Case::Integer, "2", "b,|"},
      {&byV, "V", Case::Text, "1", "a,|"},
      {&byV, "V", Case::Integer, "3", "NULL,|"},
      {&byV, "V", Case::Null, "", "c,|"},
      {&byV, "V", Case::Integer, "1", "a,|"},
  };
  for (const Case& c : cases) {
    const std::string got = Run(*c.Sql, [&](TSDBQuery& q) {
      TSDBParam& p = q.ParamByName(c.Param);
      if (c.Kind == Case::Text) p.SetAsString(c.Value);
      if (c.Kind == Case::Integer) p.SetAsInteger(std::stoi(c.Value));
      if (c.Kind == Case::Null) p.Clear();
    });
    EXPECT_EQ(got, c.Expected) << *c.Sql << " with " << c.Param << "=" << c.Value;
  }
}

// A parse that took a parameter's value itself (a table name, a row count)
// holds for that value only.
TEST_F(StatementCache, ValuesThatShapeTheStatementAreNotReusedForOthers) {
  struct Case {
    const char* Sql;
    const char* Param;
    const char* Value;
    const char* Expected;
  } cases[] = {
      {"SELECT COUNT(*) FROM :Tab", "Tab", "T", "4,|"},
      {"SELECT COUNT(*) FROM :Tab", "Tab", "U", "1,|"},
      {"SELECT COUNT(*) FROM :Tab", "Tab", "T", "4,|"},
      {"SELECT TOP :N K FROM T WHERE K IS NOT NULL ORDER BY K", "N", "1", "a,|"},
      {"SELECT TOP :N K FROM T WHERE K IS NOT NULL ORDER BY K", "N", "2", "a,|b,|"},
      {"SELECT TOP :N K FROM T WHERE K IS NOT NULL ORDER BY K", "N", "1", "a,|"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Run(c.Sql, [&](TSDBQuery& q) { q.ParamByName(c.Param).SetAsString(c.Value); }), c.Expected)
        << c.Sql << " with " << c.Value;
}

TEST_F(StatementCache, AMissingParameterFailsEvenWhenTheTextWasParsedBefore) {
  const std::string sql = "SELECT V FROM T WHERE K = :Missing0";
  const auto none = [](TSDBQuery&) {};
  const std::string missing = "error " + std::to_string(kSqlErrParamNotFound);
  EXPECT_EQ(Run(sql, none, false), missing);
  EXPECT_EQ(Run(sql, [](TSDBQuery& q) { q.ParamByName("Missing0").SetAsString("a"); }), "1,|");
  EXPECT_EQ(Run(sql, none, false), missing);
  EXPECT_EQ(Run(sql, [](TSDBQuery& q) { q.ParamByName("Missing0").SetAsString("b"); }), "2,|");
}

// Every statement of the text runs each time, with the values of that run;
// a statement that does not parse fails each time, after the ones before
// it have run.
TEST_F(StatementCache, MultiStatementTextsRunEveryStatementEachTime) {
  const std::string twoStatements = "INSERT INTO U VALUES (:K); SELECT COUNT(*) FROM U WHERE K = :K";
  const std::pair<const char*, const char*> runs[] = {{"x", "1"}, {"y", "1"}, {"x", "2"}};
  for (const auto& [k, count] : runs) {
    TSDBQuery q;
    Prepare(q, twoStatements, {{"K", k}});
    q.Open();
    EXPECT_EQ(RowsOf(q), (Rows{{count}})) << k;
    EXPECT_EQ(q.RowsAffected(), 1) << k;
    q.Close();
  }
  EXPECT_EQ(Query("SELECT K, COUNT(*) FROM U GROUP BY K ORDER BY K"), (Rows{{"u", "1"}, {"x", "2"}, {"y", "1"}}));

  const std::string secondBroken = "INSERT INTO U VALUES (:K); SELEKT K FROM U";
  for (int run = 0; run < 3; ++run) {
    TSDBQuery q;
    Prepare(q, secondBroken, {{"K", "z"}});
    EXPECT_EQ(CodeOf([&] { q.ExecSQL(); }), kSqlErrNotSqlToken) << run;
  }
  EXPECT_EQ(Query("SELECT COUNT(*) FROM U WHERE K = 'z'"), (Rows{{"3"}}));
}

// A simple query keeps its operator tree with its parse. The tree belongs
// to the tables it was built on: the same text run by components of other
// databases, inside a transaction, or with values that give its computed
// columns other sizes answers as a text never run before.
TEST_F(StatementCache, KeptPlansAnswerForTheDatabaseAndValuesOfEachRun) {
  // A second database with a table of the same name and other rows.
  const std::string otherPath = TempPath("statement_cache_other");
  TSDBDatabase other;
  other.SetDatabaseName(name + "Other");
  other.SetDatabaseFileName(otherPath);
  other.CreateDatabase();
  other.Open();
  auto runOn = [&](const std::string& database, const std::string& sql, const char* k) {
    TSDBQuery q;
    q.DatabaseName = database;
    q.SetSQL(sql);
    if (q.Params.FindParam("K")) q.ParamByName("K").SetAsString(k);
    return OutcomeOf(q);
  };
  auto execOn = [&](const std::string& database, const std::string& sql) {
    TSDBQuery q;
    q.DatabaseName = database;
    q.SetSQL(sql);
    return OutcomeOf(q, false);
  };
  ASSERT_EQ(execOn(other.DatabaseName(), "CREATE TABLE T (V INTEGER, K VARCHAR(10)); CREATE INDEX ByK ON T (K)"), "");
  ASSERT_EQ(execOn(other.DatabaseName(), "INSERT INTO T VALUES (10, 'a'), (20, 'b')"), "");
  Exec("CREATE INDEX ByK ON T (K)");

  const std::string byKey = "SELECT V FROM T WHERE K = :K";
  const std::string all = "SELECT * FROM T WHERE K = :K";
  struct Case {
    bool Other;
    const std::string* Sql;
    const char* K;
    const char* Expected;
  } cases[] = {
      {false, &byKey, "a", "1,|"},  {false, &byKey, "b", "2,|"},     {true, &byKey, "a", "10,|"},
      {false, &byKey, "a", "1,|"},  {true, &byKey, "b", "20,|"},     {true, &byKey, "zz", ""},
      {false, &all, "b", "b,2,|"},  {true, &all, "b", "20,b,|"},     {false, &all, "a", "a,1,|"},
      {true, &all, "a", "10,a,|"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(runOn(c.Other ? other.DatabaseName() : name, *c.Sql, c.K), c.Expected)
        << *c.Sql << " on " << (c.Other ? "the other database" : "the first") << " with " << c.K;

  // A change inside a transaction is seen by the kept plan, and gone again
  // after the rollback.
  db->StartTransaction();
  Exec("INSERT INTO T VALUES ('d', 4)");
  EXPECT_EQ(runOn(name, byKey, "d"), "4,|");
  db->Rollback();
  EXPECT_EQ(runOn(name, byKey, "d"), "");

  // A computed column sized by a parameter's value: each run's value whole.
  const std::string computed = "SELECT K, V + 1 AS W, :P AS X FROM T WHERE K = 'a'";
  for (const char* p : {"x", "a longer value", "yz"}) {
    TSDBQuery q;
    q.DatabaseName = name;
    q.SetSQL(computed);
    q.ParamByName("P").SetAsString(p);
    EXPECT_EQ(OutcomeOf(q), std::string("a,2,") + p + ",|");
  }

  other.Close();
  std::filesystem::remove(otherPath);
}

// The cache itself: bounded, least recently used out first, one parse per
// text.
TEST(StatementCacheLru, KeepsTheMostRecentlyUsedTextsUpToItsCapacity) {
  TSDBStatementCache cache(2);
  auto put = [&](const char* key) { cache.Put(std::make_unique<TSDBParsedText>(key)); };
  put("a");
  put("b");
  put("a");  // a second parse of a text replaces the first
  EXPECT_EQ(cache.Count(), 2u);
  auto a = cache.Take("a");  // taken out while it runs ...
  ASSERT_TRUE(a);
  EXPECT_FALSE(cache.Take("a"));
  cache.Put(std::move(a));  // ... and back as the most recently used
  put("c");                 // b, the least recently used, goes
  EXPECT_FALSE(cache.Take("b"));
  EXPECT_TRUE(cache.Take("a"));
  EXPECT_TRUE(cache.Take("c"));
  EXPECT_EQ(cache.Count(), 0u);
}

// Texts read (their parse and their operator tree kept) before and again
// after each kind of schema change, made by
// this connection or by another process: the reused parse answers as a
// text never parsed before does, and as worked out by hand.
TEST(StatementCacheSchema, ReusedTextsSeeEverySchemaChange) {
  const std::string all = "SELECT * FROM S WHERE K = :K";
  const std::string byName = "SELECT V FROM S WHERE K = :K";
  struct Case {
    const char* Change;
    const char* All;     // rows of `all` after the change; "error" when it must fail
    const char* ByName;  // rows of `byName`
  } cases[] = {
      {"ALTER TABLE S ADD W VARCHAR(5)", "a,1,NULL,|", "1,|"},
      {"CREATE INDEX ByK ON S (K)", "a,1,|", "1,|"},
      {"CREATE INDEX ByK ON S (K); DROP INDEX S.ByK", "a,1,|", "1,|"},
      {"ALTER TABLE S DROP V", "a,|", "error"},
      {"ALTER TABLE S RENAME V TO X", "a,1,|", "error"},
      {"ALTER TABLE S MODIFY V VARCHAR(20)", "a,1,|", "1,|"},
      {"UPDATE S SET V = 5 WHERE K = 'a'", "a,5,|", "5,|"},
      {"RENAME TABLE S TO S2", "error", "error"},
      {"DROP TABLE S", "error", "error"},
      {"DROP TABLE S; CREATE TABLE S (V VARCHAR(5), K VARCHAR(10)); INSERT INTO S VALUES ('x', 'a')", "x,a,|",
       "x,|"},
  };
  for (const bool otherProcess : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Change) + (otherProcess ? ", by another process" : ", by this connection"));
      const std::string path = TempPath("statement_cache_schema");
      ASSERT_EQ(Tool("create " + path).Code, 0);
      TSDBDatabase db;
      db.SetDatabaseName("StatementCacheSchema");
      db.SetDatabaseFileName(path);
      db.MultiUser = true;
      db.Open();
      auto run = [&](const std::string& sql, bool open) {
        TSDBQuery q;
        q.DatabaseName = db.DatabaseName();
        q.SetSQL(sql);
        if (q.Params.FindParam("K")) q.ParamByName("K").SetAsString("a");
        return OutcomeOf(q, open);
      };
      ASSERT_EQ(run("CREATE TABLE S (K VARCHAR(10), V INTEGER); INSERT INTO S VALUES ('a', 1), ('b', 2)", false), "");
      // Both texts are parsed, and the table's data kept, before the change.
      ASSERT_EQ(run(all, true), "a,1,|");
      ASSERT_EQ(run(byName, true), "1,|");
      if (otherProcess)
        ASSERT_EQ(Tool("sql " + path + " \"" + c.Change + "\"").Code, 0);
      else
        ASSERT_EQ(run(c.Change, false), "");
      const std::pair<const std::string*, const char*> reads[] = {{&all, c.All}, {&byName, c.ByName}};
      for (const auto& [sql, expected] : reads) {
        const std::string reused = run(*sql, true);
        // The same statement in a text of its own, never seen before.
        static int fresh = 0;
        const std::string unseen = run(*sql + std::string(static_cast<size_t>(++fresh), ' '), true);
        EXPECT_EQ(reused, unseen) << *sql;
        if (std::string(expected) == "error")
          EXPECT_EQ(reused.rfind("error", 0), 0u) << *sql << ": " << reused;
        else
          EXPECT_EQ(reused, expected) << *sql;
      }
      db.Close();
      std::filesystem::remove(path);
    }
  }
}

}  // namespace
