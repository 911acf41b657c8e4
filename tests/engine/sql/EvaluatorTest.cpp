#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBException.h"
#include "sdb/SDBFieldTypes.h"
#include "sql/SDBEvaluator.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLStatements.h"

using namespace sdb;

namespace {

// A host with a fixed clock and canned subqueries chosen by the table name
// of the subquery's FROM: "one" -> 5; "two" -> 1, 2; "empty" -> no row;
// "withnull" -> 1, NULL; "pair" -> a row of two columns; "corr" -> the
// outer row's i (correlated).
class TestHost : public TSDBEvalHost {
 public:
  void RunSubquery(const TSDBSQLUnion& query, const TSDBColumnSource& outer, int64_t, TSDBSubqueryResult& r) override {
    ++Runs;
    const std::string table = query.SingleSelect()->FromTables.at(0)->TableName;
    r.ColumnCount = 1;
    r.ColumnTypes = {bftSignedInt32};
    r.Correlated = true;  // as a host that cannot tell; the evaluator notices outer look-ups
    auto add = [&](TSDBVariant v) { r.Rows.push_back({std::move(v)}); };
    if (table == "one") add(TSDBVariant::FromInt(5, bftSignedInt32));
    if (table == "two") {
      add(TSDBVariant::FromInt(1, bftSignedInt32));
      add(TSDBVariant::FromInt(2, bftSignedInt32));
    }
    if (table == "withnull") {
      add(TSDBVariant::FromInt(1, bftSignedInt32));
      add(TSDBVariant(bftSignedInt32));
    }
    if (table == "pair") {
      r.ColumnCount = 2;
      r.Rows.push_back({TSDBVariant::FromInt(1), TSDBVariant::FromInt(2)});
    }
    if (table == "corr") {
      add(outer.ColumnValue(outer.FindColumn("", "i")));
    }
  }
  TSDBVariant LastAutoInc(const std::string& table, const std::string& field) override {
    return TSDBVariant::FromInt(table == "t" && field == "id" ? 42 : -1);
  }
  int64_t RowNum() override { return 7; }
  double Now() override { return SDBEncodeDate(2024, 3, 15) + SDBEncodeTime(13, 45, 30, 0); }
  int Runs = 0;
};

// The row every case is evaluated on.
TSDBRowColumnSource Row() {
  TSDBRowColumnSource r("t");
  r.AddColumn("i", TSDBVariant::FromInt(7, bftSignedInt32));
  r.AddColumn("n", TSDBVariant(bftSignedInt32));  // null integer
  r.AddColumn("s", TSDBVariant::FromString("abc"));
  r.AddColumn("sn", TSDBVariant(bftVarchar));  // null text
  r.AddColumn("f", TSDBVariant::FromDouble(2.5));
  r.AddColumn("d", TSDBVariant::FromDateTime(SDBEncodeDate(2024, 2, 29), bftDate));
  r.AddColumn("dn", TSDBVariant(bftDateTime));  // null date-time
  r.AddColumn("w", TSDBVariant::FromWideString(u"\u00e9t\u00e9", bftWideVarchar));
  r.AddColumn("big", TSDBVariant::FromInt(INT64_MAX));
  r.AddColumn("pct", TSDBVariant::FromString("50%_x"));
  return r;
}

struct Parsed {
  std::unique_ptr<TSDBLexer> Lex;
  std::unique_ptr<TSDBSQLCommand> Stmt;
  TSDBSQLSelect& Select() { return *dynamic_cast<TSDBSQLUnion&>(*Stmt).SingleSelect(); }
};

Parsed Parse(const std::string& sql, const TSDBSQLParams* params) {
  Parsed p;
  p.Lex = std::make_unique<TSDBLexer>(sql, false, params);
  p.Lex->GetNextCommand();
  p.Stmt = SDBCreateSQLCommand(*p.Lex, nullptr);
  return p;
}

// "ERR <code>" for an engine error, else the value's text.
std::string EvalValue(const std::string& expr, TestHost* host = nullptr) {
  TestHost local;
  try {
    Parsed p = Parse("SELECT " + expr + " FROM t", nullptr);
    TSDBRowColumnSource row = Row();
    TSDBEvaluator ev(*p.Select().SelectList.at(0).ValueExpr, {&row}, host ? host : &local);
    return SDBValueText(ev.GetValue());
  } catch (const ESDBException& e) {
    return "ERR " + std::to_string(e.NativeError());
  }
}

TSDBSQLParams Params() {
  TSDBSQLParams p;
  p.Add("empty", TSDBVariant::FromString(""));
  p.Add("x", TSDBVariant::FromString("x"));
  p.Add("nullint", TSDBVariant(bftSignedInt32));
  p.Add("five", TSDBVariant::FromInt(5, bftSignedInt32));
  p.Add("day", TSDBVariant::FromDateTime(SDBEncodeDate(2024, 2, 29), bftDateTime));
  return p;
}

// "true", "false", "unknown" or "ERR <code>" for a WHERE condition.
std::string EvalCondition(const std::string& cond, const TSDBColumnSource& row) {
  TestHost host;
  try {
    TSDBSQLParams params = Params();
    Parsed p = Parse("SELECT * FROM t WHERE " + cond, &params);
    TSDBEvaluator ev(*p.Select().SearchCondition, {&row}, &host);
    const TSDBTruth t = ev.Truth();
    EXPECT_EQ(ev.IsTrue(), t == trTrue);
    return t == trTrue ? "true" : t == trFalse ? "false" : "unknown";
  } catch (const ESDBException& e) {
    return "ERR " + std::to_string(e.NativeError());
  }
}

struct Case {
  const char* Expr;
  const char* Expected;
};

TEST(EvaluatorTest, Values) {
  const Case cases[] = {
      // arithmetic: integers stay exact, "/" divides exactly, errors are clear
      {"i + 3 * 2", "13"},
      {"i - 10", "-3"},
      {"-i", "-7"},
      {"i / 2", "3.5"},
      {"f * 2", "5"},
      {"i + '3'", "10"},
      {"i + '1.5'", "8.5"},
      {"i / 0", "ERR 30182"},
      {"f / 0.0", "ERR 30182"},
      {"big + 1", "ERR 30183"},
      {"big * 2", "ERR 30183"},
      {"-(big) - 2", "ERR 30183"},
      {"i + 'abc'", "ERR 30048"},
      {"n + 1", "NULL(bftSignedInt64)"},
      {"1e308 * 10", "ERR 30183"},
      // concatenation: null is the empty text
      {"s || 'def'", "'abcdef'"},
      {"s || sn", "'abc'"},
      {"sn || sn", "NULL(bftVarchar)"},
      {"s || i", "'abc7'"},
      // dates
      {"d + 1", "45352(bftDate)"},
      {"d - DATE '2024-01-01'", "59"},
      {"TOSTRING(d + 1)", "'2024-03-01'"},
      {"d * 2", "ERR 30044"},
      // CASE, COALESCE, NULLIF
      {"CASE WHEN i > 5 THEN 'big' WHEN i > 0 THEN 'small' ELSE 'neg' END", "'big'"},
      {"CASE WHEN n > 5 THEN 'big' END", "NULL(bftVarchar)"},
      {"CASE i WHEN 1 THEN 'one' WHEN 7 THEN 'seven' ELSE 'other' END", "'seven'"},
      {"CASE n WHEN NULL THEN 'null matched' ELSE 'no match' END", "'no match'"},
      {"COALESCE(n, sn, 3)", "3"},
      {"COALESCE(sn, n)", "NULL(bftVarchar)"},
      {"NULLIF(i, 7)", "NULL(bftSignedInt32)"},
      {"NULLIF(i, 8)", "7"},
      // CAST
      {"CAST('42' AS INTEGER)", "42"},
      {"CAST('12.9' AS INTEGER)", "12"},
      {"CAST(' 12x' AS INTEGER)", "ERR 30048"},
      {"CAST(300 AS BYTE)", "ERR 30049"},
      {"CAST(2.75 AS VARCHAR(3))", "'2.7'"},
      {"CAST('2024-02-30' AS DATE)", "ERR 30048"},
      {"CAST('2024-02-28' AS DATE) + 1", "45351(bftDate)"},
      {"CAST(d AS VARCHAR(20))", "'2024-02-29'"},
      {"CAST(sn AS INTEGER)", "NULL(bftSignedInt32)"},
      {"CAST('yes' AS BOOLEAN)", "TRUE"},
      {"CAST(1e30 AS INTEGER)", "ERR 30049"},
      // strings
      {"UPPER(s) || LOWER('ÀB')", "'ABC\xe0" "b'"},  // SQL text is UTF-8; values hold Windows-1252
      {"UPPER(w)", "'\xc9T\xc9'"},
      {"TRIM('  a b  ')", "'a b'"},
      {"TRIM(LEADING 'x' FROM 'xxaxx')", "'axx'"},
      {"TRIM(TRAILING FROM '  a  ')", "'  a'"},
      {"RTRIM('a..', '.')", "'a'"},
      {"TRIM('   ')", "NULL(bftVarchar)"},
      {"LENGTH(s)", "3"},
      {"LENGTH(w)", "3"},
      {"LENGTH(sn)", "NULL(bftSignedInt32)"},
      {"POS('c', s)", "3"},
      {"POSITION('z' IN s)", "0"},
      {"SUBSTRING(s FROM 2)", "'bc'"},
      {"SUBSTRING(s, 2, 1)", "'b'"},
      {"SUBSTRING(s FROM 0 FOR 2)", "'a'"},
      {"SUBSTRING(s FROM 5)", "NULL(bftVarchar)"},
      {"SUBSTRING(s, 1, -1)", "ERR 30187"},
      // date functions against the host's clock (2024-03-15 13:45:30)
      {"TOSTRING(SYSDATE, 'YYYY-MM-DD HH:MI:SS')", "'2024-03-15 13:45:30'"},
      {"TOSTRING(CURRENT_DATE)", "'2024-03-15'"},
      {"TOSTRING(CURRENT_TIME)", "'13:45:30'"},
      {"EXTRACT(YEAR FROM d)", "2024"},
      {"EXTRACT(DAY FROM '2023-12-31 10:11:12')", "31"},
      {"EXTRACT(MINUTE FROM TODATE('31/12/2023 10:11', 'DD/MM/YYYY HH:MI'))", "11"},
      {"TODATE('2023-02-29', 'YYYY-MM-DD')", "ERR 30048"},
      {"TODATE('20230228', 'YYYYMMDD') + 1", "44986(bftDateTime)"},
      {"TODATE('garbage')", "ERR 30048"},
      {"TOSTRING(1234.5, '#,##0.00')", "'1,234.50'"},
      {"TOSTRING(-0.5, '0.#')", "'-0.5'"},
      // math
      {"ABS(-3)", "3"},
      {"ABS(-2.5)", "2.5"},
      {"SIGN(-0.1)", "-1"},
      {"CEIL(2.1)", "3"},
      {"FLOOR(-2.1)", "-3"},
      {"SQRT(16)", "4"},
      {"SQRT(-1)", "ERR 30187"},
      {"LOG(0)", "ERR 30187"},
      {"LOG(10, 1000)", "3"},
      {"POWER(2, 10)", "1024"},
      {"POWER(0, -1)", "ERR 30187"},
      {"ACOS(2)", "ERR 30187"},
      {"EXP(1000)", "ERR 30183"},
      {"SQR(3)", "9"},
      {"ROUND(2.5)", "3"},
      {"ROUND(-2.5)", "-3"},
      {"ROUND(2.675, 2)", "2.68"},
      {"ROUND(2.5, 0, HALFEVEN)", "2"},
      {"ROUND(3.5, 0, HALFEVEN)", "4"},
      {"ROUND(-2.5, 0, HALFPOS)", "-2"},
      {"ROUND(2.5, 0, HALFNEG)", "2"},
      {"ROUND(-2.5, 0, HALFDOWN)", "-2"},
      {"ROUND(2.11, 1, RNDUP)", "2.2"},
      {"ROUND(-2.19, 1, RNDDOWN)", "-2.1"},
      {"ROUND(-2.11, 1, RNDNEG)", "-2.2"},
      {"ROUND(2.11, 1, RNDPOS)", "2.2"},
      {"ROUND(1250, -2)", "1300"},
      {"ROUND(1250, -2, HALFEVEN)", "1200"},
      {"ROUND(-1251, -2, RNDDOWN)", "-1200"},
      {"ROUND(big, -1)", "ERR 30183"},
      {"RAND(1) < 1", "TRUE"},
      // host values
      {"ROWNUM", "7"},
      {"LASTAUTOINC(t, id)", "42"},
      {"CAST(MIMETOBIN('aGVsbG8=') AS VARCHAR(10))", "'hello'"},
      {"MIMETOBIN('aGVsbG8*')", "ERR 30189"},
      // subqueries
      {"(SELECT x FROM one) + 1", "6"},
      {"(SELECT x FROM empty)", "NULL(bftSignedInt32)"},
      {"(SELECT x FROM two)", "ERR 30184"},
      {"(SELECT x, y FROM pair)", "ERR 30185"},
      {"(SELECT x FROM corr)", "7"},
      // binding
      {"nosuch + 1", "ERR 30180"},
      {"t.i + u.i", "ERR 30180"},
      {"T.I", "7"},
      {"SUM(i)", "ERR 30186"},
  };
  for (const Case& c : cases) EXPECT_EQ(EvalValue(c.Expr), c.Expected) << c.Expr;
}

// The null rules of comparisons depend on the operands: a column against a
// text or date-time constant or parameter (or a null constant) is
// two-valued, everything else three-valued.
TEST(EvaluatorTest, NullRulesOfComparisons) {
  const TSDBRowColumnSource row = Row();
  const Case cases[] = {
      // "=" / "<>" with an empty (null) text parameter became IS [NOT] NULL
      {"sn = :empty", "true"},
      {"s = :empty", "false"},
      {"sn <> :empty", "false"},
      {"dn = :empty", "true"},
      // two-valued: a null text column against a text constant
      {"sn <> 'x'", "true"},
      {"sn <> :x", "true"},
      {"sn = 'x'", "false"},
      {"sn < 'x'", "true"},
      {"sn > 'x'", "false"},
      {"'x' > sn", "true"},
      {"NOT (sn = 'x')", "true"},
      {"dn < :day", "true"},
      // two-valued: a null constant (the literal NULL, a null parameter)
      {"n = NULL", "true"},
      {"n = :nullint", "true"},
      {"i = :nullint", "false"},
      {"i <> NULL", "true"},
      // three-valued: null integer column against an integer, for every operator
      {"n = 5", "unknown"},
      {"n <> 5", "unknown"},
      {"n < 5", "unknown"},
      {"n > 5", "unknown"},
      {"n <= 5", "unknown"},
      {"n >= :five", "unknown"},
      {"NOT (n = 5)", "unknown"},
      {"n = i", "unknown"},
      {"sn = s", "unknown"},
      {"UPPER(sn) <> 'X'", "unknown"},
      // three-valued logic of AND, OR, NOT, IS TRUE / IS FALSE
      {"n = 5 OR i = 7", "true"},
      {"n = 5 OR i = 8", "unknown"},
      {"n = 5 AND i = 8", "false"},
      {"n = 5 AND i = 7", "unknown"},
      {"(n = 5) IS TRUE", "false"},
      {"(n = 5) IS NOT TRUE", "true"},
      {"(n = 5) IS FALSE", "false"},
      {"(i = 8) IS FALSE", "true"},
      {"n IS NULL AND sn IS NULL AND s IS NOT NULL", "true"},
      // text order is case-sensitive and locale aware
      {"s = 'ABC'", "false"},
      {"s < 'abd'", "true"},
      {"'a' < 'B'", "true"},
      {"w > 'et'", "true"},
      // conversions to a common type
      {"i = '7'", "true"},
      {"d = '2024-02-29'", "true"},
      {"d > '28/02/2023'", "true"},
      {"i = d", "false"},
      {"s = d", "ERR 30048"},
      {"TRUE = i", "ERR 30044"},
      // BETWEEN, IN
      {"i BETWEEN 1 AND 7", "true"},
      {"i NOT BETWEEN 1 AND 7", "false"},
      {"n BETWEEN 1 AND 7", "unknown"},
      {"i BETWEEN n AND 5", "false"},
      {"i IN (1, 7)", "true"},
      {"i IN (1, n)", "unknown"},
      {"i NOT IN (1, n)", "unknown"},
      {"i NOT IN (1, 2)", "true"},
      {"sn IN ('a', 'b')", "false"},
      // LIKE
      {"s LIKE 'a%'", "true"},
      {"s LIKE 'A%'", "false"},
      {"s LIKE '_b_'", "true"},
      {"s LIKE '%c%c'", "false"},
      {"s LIKE '%'", "true"},
      {"s NOT LIKE 'ab'", "true"},
      {"sn LIKE '%'", "unknown"},
      {"pct LIKE '50!%!_x' ESCAPE '!'", "true"},
      {"pct LIKE '5_!%%' ESCAPE '!'", "true"},
      {"s LIKE 'a!%' ESCAPE '!'", "false"},
      {"pct LIKE '50!x' ESCAPE '!'", "ERR 30190"},
      {"pct LIKE '50!' ESCAPE '!'", "ERR 30190"},
      {"w LIKE 'ét_'", "true"},
      // subqueries
      {"EXISTS (SELECT x FROM one)", "true"},
      {"EXISTS (SELECT x FROM empty)", "false"},
      {"i IN (SELECT x FROM two)", "false"},
      {"2 IN (SELECT x FROM two)", "true"},
      {"3 NOT IN (SELECT x FROM withnull)", "unknown"},
      {"i > ALL (SELECT x FROM two)", "true"},
      {"i > ALL (SELECT x FROM empty)", "true"},
      {"i > ALL (SELECT x FROM withnull)", "unknown"},
      {"2 = ANY (SELECT x FROM two)", "true"},
      {"0 = SOME (SELECT x FROM withnull)", "unknown"},
      {"i IN (SELECT x, y FROM pair)", "ERR 30185"},
      // a value that is not a truth value
      {"CASE WHEN i = 7 THEN s END", "ERR 30191"},
      {"CASE WHEN i = 7 THEN TRUE END", "true"},
  };
  for (const Case& c : cases) EXPECT_EQ(EvalCondition(c.Expr, row), c.Expected) << c.Expr;
}

TEST(EvaluatorTest, CaseInsensitiveModeOnlyWhenAsked) {
  TSDBSQLParams params;
  Parsed p = Parse("SELECT * FROM t WHERE s = 'ABC' AND s LIKE 'A%' AND POS('B', s) = 2", &params);
  TSDBRowColumnSource row = Row();
  TSDBExpression& cond = *p.Select().SearchCondition;
  EXPECT_FALSE(TSDBEvaluator(cond, {&row}).IsTrue());
  cond.FCaseInsensitive = true;
  EXPECT_TRUE(TSDBEvaluator(cond, {&row}).IsTrue());
}

TEST(EvaluatorTest, TwoValuedLogicWhenExpressionAsksForIt) {
  Parsed p = Parse("SELECT * FROM t WHERE n < 5", nullptr);
  TSDBRowColumnSource row = Row();
  TSDBExpression& cond = *p.Select().SearchCondition;
  EXPECT_EQ(TSDBEvaluator(cond, {&row}).Truth(), trUnknown);
  cond.F3ValueLogic = false;
  EXPECT_TRUE(TSDBEvaluator(cond, {&row}).IsTrue());
}

TEST(EvaluatorTest, ColumnsResolveAcrossSourcesAndFollowTheCurrentRow) {
  Parsed p = Parse("SELECT a.x + b.x * 10 + y FROM a, b", nullptr);
  TSDBRowColumnSource a("a"), b("b");
  a.AddColumn("x", TSDBVariant::FromInt(1));
  b.AddColumn("x", TSDBVariant::FromInt(2));
  b.AddColumn("y", TSDBVariant::FromInt(100));
  TSDBEvaluator ev(*p.Select().SelectList.at(0).ValueExpr, {&a, &b});
  EXPECT_EQ(ev.GetValue().AsInt64(), 121);
  a.Values[0] = TSDBVariant::FromInt(5);
  EXPECT_EQ(ev.GetValue().AsInt64(), 125);
  EXPECT_EQ(ev.ResultType(), bftSignedInt64);

  // An unqualified name two columns of one source answer is ambiguous.
  TSDBRowColumnSource dup;
  dup.AddColumn("x", TSDBVariant::FromInt(1));
  dup.AddColumn("X", TSDBVariant::FromInt(2));
  Parsed q = Parse("SELECT x FROM t", nullptr);
  try {
    TSDBEvaluator bad(*q.Select().SelectList.at(0).ValueExpr, {&dup});
    FAIL() << "ambiguous name accepted";
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), kEvalErrAmbiguousColumn);
    EXPECT_NE(std::string(e.what()).find("'x' at line 1, column 8"), std::string::npos) << e.what();
  }
}

TEST(EvaluatorTest, UncorrelatedSubqueryRunsOnceCorrelatedOncePerRow) {
  Parsed p = Parse("SELECT * FROM t WHERE i IN (SELECT x FROM two) OR i IN (SELECT x FROM corr)", nullptr);
  TSDBRowColumnSource row = Row();
  TestHost host;
  TSDBEvaluator ev(*p.Select().SearchCondition, {&row}, &host);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(ev.IsTrue());
  EXPECT_EQ(host.Runs, 1 + 3);
}

TEST(EvaluatorTest, AggregatesOverGroups) {
  Parsed p = Parse(
      "SELECT SUM(v) * 1 + COUNT(*) * 1000 + COUNT(v) * 100000, AVG(v), MIN(s), MAX(s), COUNT(DISTINCT v), "
      "SUM(DISTINCT v), SUM(f) FROM t",
      nullptr);
  auto& list = p.Select().SelectList;
  TSDBRowColumnSource row;
  row.AddColumn("v", TSDBVariant(bftSignedInt32));
  row.AddColumn("s", TSDBVariant(bftVarchar));
  row.AddColumn("f", TSDBVariant(bftDouble));
  std::vector<std::unique_ptr<TSDBEvaluator>> evs;
  std::vector<std::vector<TSDBAggregator>> accs;
  for (auto& item : list) {
    evs.push_back(std::make_unique<TSDBEvaluator>(*item.ValueExpr, std::vector<const TSDBColumnSource*>{&row}));
    accs.push_back(evs.back()->NewAggregators());
  }
  ASSERT_EQ(evs[0]->AggregateCount(), 3u);
  EXPECT_EQ(evs[0]->AggregateNode(1).Operator, doCOUNTALL);
  const struct {
    TSDBVariant V, S, F;
  } rows[] = {
      {TSDBVariant::FromInt(3), TSDBVariant::FromString("b"), TSDBVariant::FromDouble(0.5)},
      {TSDBVariant(bftSignedInt32), TSDBVariant::FromString(""), TSDBVariant(bftDouble)},
      {TSDBVariant::FromInt(3), TSDBVariant::FromString("B"), TSDBVariant::FromDouble(0.25)},
      {TSDBVariant::FromInt(4), TSDBVariant::FromString("a"), TSDBVariant(bftDouble)},
  };
  for (const auto& r : rows) {
    row.Values = {r.V, r.S, r.F};
    for (size_t i = 0; i < evs.size(); ++i) evs[i]->Accumulate(accs[i]);
  }
  std::vector<std::string> got;
  for (size_t i = 0; i < evs.size(); ++i) {
    evs[i]->SetAggregateResults(&accs[i]);
    got.push_back(SDBValueText(evs[i]->GetValue()));
  }
  // Nulls and empty texts are skipped; "a" < "b" < "B" in the locale order.
  EXPECT_EQ(got, (std::vector<std::string>{"304010", "3.33333333333333", "'a'", "'B'", "2", "7", "0.75"}));

  // An empty group: COUNT is 0, the others are null.
  auto empty = evs[0]->NewAggregators();
  evs[0]->SetAggregateResults(&empty);
  EXPECT_EQ(SDBValueText(evs[0]->GetValue()), "NULL(bftSignedInt64)");
  TSDBAggregator count(doCOUNT, false);
  EXPECT_EQ(count.Result().AsInt64(), 0);

  TSDBAggregator sum(doSUM, false);
  sum.Add(TSDBVariant::FromInt(INT64_MAX));
  try {
    sum.Add(TSDBVariant::FromInt(1));
    FAIL() << "SUM overflow not detected";
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), kEvalErrOverflow);
  }
}

TEST(EvaluatorTest, NestedAggregateIsRefused) {
  Parsed p = Parse("SELECT SUM(COUNT(*)) FROM t", nullptr);
  TSDBRowColumnSource row = Row();
  try {
    TSDBEvaluator ev(*p.Select().SelectList.at(0).ValueExpr, {&row});
    FAIL();
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), kEvalErrAggregate);
  }
}

TEST(EvaluatorTest, ConditionFactorsAndColumnComparisons) {
  TSDBSQLParams params = Params();
  Parsed p = Parse(
      "SELECT * FROM t WHERE a = 1 AND 5 < b AND (c >= :five AND d <> 2) AND e = f AND g <= 'x' AND (h = 1 OR h = 2) "
      "AND i > ALL (SELECT x FROM two)",
      &params);
  const auto factors = SDBSplitAndFactors(p.Select().SearchCondition->Root());
  ASSERT_EQ(factors.size(), 8u);
  const struct {
    const char* Column;
    TSDBDataOperator Op;
  } expected[] = {{"a", doEQ}, {"b", doGT}, {"c", doGE}, {nullptr, doUNDEFINED}, {nullptr, doUNDEFINED},
                  {"g", doLE}, {nullptr, doUNDEFINED}, {nullptr, doUNDEFINED}};
  for (size_t i = 0; i < factors.size(); ++i) {
    TSDBColumnComparison cc;
    const bool is = SDBGetColumnComparison(factors[i], cc);
    EXPECT_EQ(is, expected[i].Column != nullptr) << i;
    if (!is) continue;
    EXPECT_EQ(cc.Column->FieldName, expected[i].Column);
    EXPECT_EQ(cc.Operator, expected[i].Op) << i;
  }
  TSDBColumnComparison cc;
  ASSERT_TRUE(SDBGetColumnComparison(factors[2], cc));
  EXPECT_TRUE(cc.Constant->IsParameter);
  EXPECT_EQ(cc.Constant->Value.AsInt64(), 5);

  TSDBRowColumnSource ab("t");
  ab.AddColumn("a", TSDBVariant::FromInt(1));
  ab.AddColumn("e", TSDBVariant::FromInt(1));
  EXPECT_TRUE(SDBCanBind(factors[0], {&ab}));
  EXPECT_FALSE(SDBCanBind(factors[4], {&ab}));  // e = f: f is elsewhere
  EXPECT_TRUE(SDBHasSubquery(factors[7]));
  EXPECT_FALSE(SDBHasAggregate(factors[7]));
}

}  // namespace

namespace {

// Every type name a CAST accepts converts a text, an integer, a date and a
// null either to a value of the type's base type or to a clean engine error.
TEST(EvaluatorTest, CastToEveryTypeName) {
  const char* const operands[] = {"'1'", "1", "2.5", "DATE '2024-02-29'", "'abc'", "TRUE", "sn"};
  for (const TSDBSQLTypeName& type : SDBSQLTypeNames()) {
    for (const char* operand : operands) {
      const std::string expr = std::string("CAST(") + operand + " AS " + type.Name + ")";
      TSDBSQLParams none;
      Parsed p = Parse("SELECT " + expr + " FROM t", &none);
      TSDBRowColumnSource row = Row();
      try {
        TSDBEvaluator ev(*p.Select().SelectList.at(0).ValueExpr, {&row});
        EXPECT_EQ(ev.ResultType(), type.BaseType) << expr;
        const TSDBVariant v = ev.GetValue();
        EXPECT_EQ(v.DataType(), type.BaseType) << expr;
      } catch (const ESDBException& e) {
        EXPECT_TRUE(e.NativeError() == kEvalErrConvert || e.NativeError() == kEvalErrRange) << expr << ": " << e.what();
      }
    }
  }
  EXPECT_EQ(EvalValue("CAST('1' AS WORD) + CAST(2.9 AS SMALLINT)"), "3");
  EXPECT_EQ(EvalValue("CAST(-1 AS CARDINAL)"), "ERR 30049");
  EXPECT_EQ(EvalValue("CAST(1 AS DATE)"), "1(bftDate)");
  EXPECT_EQ(EvalValue("CAST('13:05' AS TIME)"), "0.545138888888889(bftTime)");
}

}  // namespace
