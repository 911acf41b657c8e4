#include <gtest/gtest.h>

#include "../ToolRun.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBException.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLErrors.h"
#include "sql/SDBSQLStatements.h"

using namespace sdb;

namespace {

// A parsed command together with the lexer it reads from.
struct Parsed {
  std::unique_ptr<TSDBLexer> Lex;
  std::unique_ptr<TSDBSQLCommand> Stmt;
  template <class T>
  T& As() {
    auto* p = dynamic_cast<T*>(Stmt.get());
    if (!p) throw std::runtime_error(std::string("statement is a ") + Stmt->ClassName());
    return *p;
  }
};

Parsed Parse(const std::string& sql, const TSDBSQLParams* params = nullptr) {
  Parsed p;
  p.Lex = std::make_unique<TSDBLexer>(sql, false, params);
  if (!p.Lex->GetNextCommand()) throw ESDBException(kSqlErrNoCommand, "Blank SQL command");
  p.Stmt = SDBCreateSQLCommand(*p.Lex, nullptr);
  return p;
}

TSDBSQLSelect& OnlySelect(Parsed& p) {
  TSDBSQLSelect* s = p.As<TSDBSQLUnion>().SingleSelect();
  if (!s) throw std::runtime_error("not a single SELECT");
  return *s;
}

std::string Joined(std::initializer_list<const char*> lines) {
  std::string s;
  for (const char* l : lines) s += std::string(l) + "\r\n";
  return s;
}

TSDBSQLParams SettingsParams(TSDBVariant valeur, const char* agence = "A1") {
  TSDBSQLParams p;
  p.Add("Agence", TSDBVariant::FromString(agence));
  p.Add("Utilisateur", TSDBVariant::FromString("U1"));
  p.Add("Section", TSDBVariant::FromString("Mail"));
  p.Add("Cle", TSDBVariant::FromString("Port"));
  p.Add("ValeurType", TSDBVariant::FromString("ENTIER"));
  p.Add("Valeur", std::move(valeur));
  return p;
}

const char* const kConditionTree =
    "    SearchCondition:\n"
    "      TSDBExprNodeBoolean doAND\n"
    "        TSDBExprNodeComparison doEQ\n"
    "          TSDBExprNodeField Agence\n"
    "          TSDBExprNodeConst 'A1' :Agence\n"
    "        TSDBExprNodeComparison doEQ\n"
    "          TSDBExprNodeField Utilisateur\n"
    "          TSDBExprNodeConst 'U1' :Utilisateur\n"
    "        TSDBExprNodeComparison doEQ\n"
    "          TSDBExprNodeField Section\n"
    "          TSDBExprNodeConst 'Mail' :Section\n"
    "        TSDBExprNodeComparison doEQ\n"
    "          TSDBExprNodeField Cle\n"
    "          TSDBExprNodeConst 'Port' :Cle\n";

}  // namespace

// ---------------------------------------------------------------- settings statements

TEST(SqlParserSettings, ExistenceTestAndRead) {
  TSDBSQLParams params = SettingsParams(TSDBVariant::FromString("x"));
  const std::string where = Joined({" WHERE `Agence` = :Agence ", " AND `Utilisateur` = :Utilisateur ",
                                    " AND `Section` = :Section ", " AND `Cle` = :Cle ",
                                    " AND `ValeurType` = :ValeurType "});
  Parsed exist = Parse("SELECT * FROM Parametres\r\n" + where, &params);
  EXPECT_EQ(exist.Stmt->DumpText(),
            std::string("TSDBSQLUnion\n"
                        "  TSDBSQLSelect\n"
                        "    SelectList: *\n"
                        "    FromTables:\n"
                        "      TSDBTableReference attTable TableName=Parametres\n") +
                kConditionTree +
                "        TSDBExprNodeComparison doEQ\n"
                "          TSDBExprNodeField ValeurType\n"
                "          TSDBExprNodeConst 'ENTIER' :ValeurType\n");

  for (const char* column : {"ValeurChaine", "ValeurEntier", "ValeurMemo"}) {
    Parsed read = Parse(Joined({(std::string("SELECT ") + column).c_str(), " FROM Parametres"}) + where, &params);
    TSDBSQLSelect& s = OnlySelect(read);
    EXPECT_FALSE(s.AllFields);
    ASSERT_EQ(s.SelectList.size(), 1u);
    EXPECT_FALSE(s.SelectList[0].IsExpression);
    EXPECT_EQ(s.SelectList[0].FieldName, column);
    ASSERT_TRUE(s.SearchCondition);
    EXPECT_EQ(s.SearchCondition->Root()->Children.size(), 5u);
  }
}

TEST(SqlParserSettings, InsertTextAndInteger) {
  for (bool integer : {false, true}) {
    const char* column = integer ? "ValeurEntier" : "ValeurChaine";
    TSDBSQLParams params =
        SettingsParams(integer ? TSDBVariant::FromInt(25, bftSignedInt32) : TSDBVariant::FromString("smtp.example"));
    const std::string sql =
        Joined({"INSERT INTO Parametres",
                (std::string(" ( `Agence`, `Utilisateur`, `Section`, `Cle`, `ValeurType`, `") + column + "`)  ").c_str(),
                " VALUES ", " ( :Agence, :Utilisateur, :Section, :Cle, :ValeurType, :Valeur )"});
    Parsed p = Parse(sql, &params);
    auto& ins = p.As<TSDBSQLInsert>();
    EXPECT_EQ(ins.TableName, "Parametres");
    EXPECT_EQ(ins.FieldNames,
              (std::vector<std::string>{"Agence", "Utilisateur", "Section", "Cle", "ValeurType", column}));
    ASSERT_EQ(ins.FieldValues.size(), 1u);
    ASSERT_EQ(ins.FieldValues[0].size(), 6u);
    auto* last = dynamic_cast<TSDBExprNodeConst*>(ins.FieldValues[0][5]->Root());
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->IsParameter);
    EXPECT_EQ(last->ParamName, "Valeur");
    if (integer) {
      EXPECT_EQ(last->Value.DataType(), bftSignedInt32);
      EXPECT_EQ(last->Value.AsInt64(), 25);
    } else {
      EXPECT_EQ(last->Value.AsString(), "smtp.example");
    }
  }
}

TEST(SqlParserSettings, UpdateTextAndInteger) {
  TSDBSQLParams params = SettingsParams(TSDBVariant::FromInt(587, bftSignedInt32));
  const std::string sql =
      Joined({"UPDATE Parametres set ", " `ValeurType` = :ValeurType, ", " `ValeurEntier` = :Valeur ",
              " WHERE `Agence` = :Agence ", " AND `Utilisateur` = :Utilisateur ", " AND `Section` = :Section ",
              " AND `Cle` = :Cle "});
  Parsed p = Parse(sql, &params);
  EXPECT_EQ(p.Stmt->DumpText(),
            std::string("TSDBSQLUpdate TableName=Parametres\n"
                        "  Set ValeurType =\n"
                        "    TSDBExprNodeConst 'ENTIER' :ValeurType\n"
                        "  Set ValeurEntier =\n"
                        "    TSDBExprNodeConst 587 :Valeur\n"
                        "  SearchCondition:\n") +
                "    TSDBExprNodeBoolean doAND\n"
                "      TSDBExprNodeComparison doEQ\n"
                "        TSDBExprNodeField Agence\n"
                "        TSDBExprNodeConst 'A1' :Agence\n"
                "      TSDBExprNodeComparison doEQ\n"
                "        TSDBExprNodeField Utilisateur\n"
                "        TSDBExprNodeConst 'U1' :Utilisateur\n"
                "      TSDBExprNodeComparison doEQ\n"
                "        TSDBExprNodeField Section\n"
                "        TSDBExprNodeConst 'Mail' :Section\n"
                "      TSDBExprNodeComparison doEQ\n"
                "        TSDBExprNodeField Cle\n"
                "        TSDBExprNodeConst 'Port' :Cle\n");
  auto& upd = p.As<TSDBSQLUpdate>();
  // The WHERE tokens are kept for the executor's inner query.
  ASSERT_FALSE(upd.WhereTokens.empty());
  EXPECT_TRUE(upd.WhereTokens.front().Is(rwWHERE));
  EXPECT_EQ(upd.WhereTokens.back().Text, "Cle");
  ASSERT_EQ(upd.TableReferenceTokens.size(), 1u);

  TSDBSQLParams text = SettingsParams(TSDBVariant::FromString("Line1%Line2"));
  Parsed t = Parse(Joined({"UPDATE Parametres set ", " `ValeurType` = :ValeurType, ", " `ValeurMemo` = :Valeur ",
                           " WHERE `Agence` = :Agence "}),
                   &text);
  auto& u2 = t.As<TSDBSQLUpdate>();
  ASSERT_EQ(u2.FieldNames.size(), 2u);
  EXPECT_EQ(u2.FieldNames[1].FieldName, "ValeurMemo");
  EXPECT_EQ(dynamic_cast<TSDBExprNodeConst*>(u2.FieldValues[1]->Root())->Value.AsString(), "Line1%Line2");
}

TEST(SqlParserSettings, EmptyAgencyBecomesIsNull) {
  // An empty text parameter is a null text: "= :p" means IS NULL, "<>" IS NOT NULL.
  TSDBSQLParams params;
  params.Add("p", TSDBVariant::FromString(""));
  params.Add("d", TSDBVariant(bftDate));
  params.Add("n", TSDBVariant(bftSignedInt32));
  struct Case {
    const char* Where;
    TSDBDataOperator Op;
  };
  const Case cases[] = {
      {"`Agence` = :p", doISNULL},  {":p = Agence", doISNULL}, {"Agence <> :p", doISNOTNULL},
      {"t.Agence = :d", doISNULL},  {"Agence = NULL", doEQ},   {"Agence = :n", doEQ},
      {"Agence < :p", doLT},        {"Agence IS NULL", doISNULL}, {"Agence IS NOT NULL", doISNOTNULL},
  };
  for (const Case& c : cases) {
    Parsed p = Parse(std::string("SELECT * FROM t WHERE ") + c.Where, &params);
    const TSDBExprNode* root = OnlySelect(p).SearchCondition->Root();
    EXPECT_EQ(root->Operator, c.Op) << c.Where;
    if (c.Op == doISNULL || c.Op == doISNOTNULL) {
      ASSERT_EQ(root->Children.size(), 1u) << c.Where;
      EXPECT_NE(dynamic_cast<const TSDBExprNodeField*>(root->Children[0].get()), nullptr);
    }
  }
  // The literal NULL is an integer-typed null.
  Parsed p = Parse("SELECT * FROM t WHERE a = NULL");
  auto* c = dynamic_cast<const TSDBExprNodeConst*>(OnlySelect(p).SearchCondition->Root()->Children[1].get());
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->Value.IsNull());
  EXPECT_EQ(c->Value.DataType(), bftSignedInt32);
}

// ---------------------------------------------------------------- SELECT

TEST(SqlParserSelect, EveryClause) {
  Parsed p = Parse(
      "SELECT DISTINCT TOP 10, 5 a, t.b AS x, a, COUNT(*), UPPER(c) \"up\", a + 1\n"
      "INTO MEMORY res FROM 'c:\\data\\db.sdb'.Tab PASSWORD 'pw' AS t\n"
      "  LEFT OUTER JOIN u USING (id, k) NATURAL JOIN v CROSS JOIN w\n"
      "WHERE a BETWEEN 1 AND 2 AND b NOT IN (1, 2) OR c LIKE 'x%' ESCAPE '\\'\n"
      "GROUP BY a, t.b HAVING COUNT(*) > 1 ORDER BY 2 DESC, t.a, a ASC");
  TSDBSQLSelect& s = OnlySelect(p);
  EXPECT_TRUE(s.Distinct);
  EXPECT_EQ(s.TopRowCount, 10);
  EXPECT_EQ(s.FirstRowNo, 5);
  ASSERT_EQ(s.SelectList.size(), 6u);
  std::vector<std::string> names;
  for (const auto& i : s.SelectList) names.push_back(i.Pseudonym);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "x", "a_1", "COUNT", "up", "EXPR"}));
  EXPECT_EQ(s.SelectList[1].TableName, "t");
  EXPECT_EQ(s.SelectList[1].FieldName, "b");
  EXPECT_TRUE(s.SelectList[3].IsExpression);
  EXPECT_TRUE(s.IntoMemory);
  EXPECT_EQ(s.IntoTable, "res");

  ASSERT_EQ(s.FromTables.size(), 1u);
  const TSDBTableReference* j = s.FromTables[0].get();
  EXPECT_EQ(j->TableType, attJoinedTable);
  EXPECT_EQ(j->JoinType, ajtCross);
  const TSDBTableReference* natural = j->LeftTable.get();
  EXPECT_TRUE(natural->NaturalJoin);
  EXPECT_EQ(natural->JoinType, ajtInner);
  const TSDBTableReference* left = natural->LeftTable.get();
  EXPECT_EQ(left->JoinType, ajtLeftOuter);
  EXPECT_EQ(left->UsingFields, (std::vector<std::string>{"id", "k"}));
  const TSDBTableReference* base = left->LeftTable.get();
  EXPECT_EQ(base->DatabaseName, "c:\\data\\db.sdb");
  EXPECT_EQ(base->TableName, "Tab");
  EXPECT_EQ(base->Password, "pw");
  EXPECT_EQ(base->Pseudonym, "t");

  const TSDBExprNode* w = s.SearchCondition->Root();
  EXPECT_EQ(w->Operator, doOR);
  ASSERT_EQ(w->Children.size(), 2u);
  EXPECT_EQ(w->Children[0]->Operator, doAND);
  EXPECT_EQ(w->Children[0]->Children[0]->Operator, doBETWEEN);
  EXPECT_EQ(w->Children[0]->Children[1]->Operator, doNOTIN);
  EXPECT_EQ(w->Children[0]->Children[1]->Children.size(), 3u);
  auto* like = dynamic_cast<const TSDBExprNodeComparison*>(w->Children[1].get());
  ASSERT_TRUE(like);
  EXPECT_EQ(like->Operator, doLIKE);
  EXPECT_EQ(like->EscapeChar, '\\');

  ASSERT_EQ(s.GroupByFields.size(), 2u);
  EXPECT_EQ(s.GroupByFields[1].TableName, "t");
  EXPECT_EQ(s.HavingCondition->Root()->Operator, doGT);
  ASSERT_EQ(s.OrderBySpecs.size(), 3u);
  EXPECT_EQ(s.OrderBySpecs[0].FieldNo, 2);
  EXPECT_TRUE(s.OrderBySpecs[0].Descending);
  EXPECT_EQ(s.OrderBySpecs[1].TableName, "t");
  EXPECT_FALSE(s.OrderBySpecs[2].Descending);
}

TEST(SqlParserSelect, JoinsSubqueriesAndExpressions) {
  Parsed p = Parse(
      "SELECT x.*, (SELECT MAX(v) FROM w) AS m, CASE WHEN a > 0 THEN 'p' ELSE 'n' END k,\n"
      " CAST(a AS VARCHAR(10)) s, COALESCE(a, b, 0) c, SUBSTRING(n FROM 2 FOR 3) sub, TRIM(LEADING 'x' FROM n) tr,\n"
      " EXTRACT(YEAR FROM d) y, ROUND(a, 2, HALFUP) r, LASTAUTOINC(t, id) li, a || '-' || b cat\n"
      "FROM (SELECT * FROM t) x INNER JOIN (u RIGHT JOIN v ON u.id = v.id) ON x.id = u.id\n"
      "WHERE EXISTS (SELECT 1 FROM z) AND a = ANY (SELECT a FROM z) AND NOT (a > 1 OR b < 2) AND a IS NOT TRUE");
  TSDBSQLSelect& s = OnlySelect(p);
  EXPECT_TRUE(s.SelectList[0].AllTableFields);
  EXPECT_NE(dynamic_cast<TSDBExprNodeSubquery*>(s.SelectList[1].ValueExpr->Root()), nullptr);
  auto* cs = dynamic_cast<TSDBExprNodeCase*>(s.SelectList[2].ValueExpr->Root());
  ASSERT_TRUE(cs);
  EXPECT_TRUE(cs->HasElse);
  EXPECT_EQ(cs->Children.size(), 3u);
  auto* cast = dynamic_cast<TSDBExprNodeCast*>(s.SelectList[3].ValueExpr->Root());
  ASSERT_TRUE(cast);
  EXPECT_EQ(cast->BaseType, bftVarchar);
  EXPECT_EQ(cast->Size, 10);
  EXPECT_EQ(s.SelectList[5].ValueExpr->Root()->Operator, doSUBSTRING);
  EXPECT_EQ(s.SelectList[5].ValueExpr->Root()->Children.size(), 3u);
  auto* trim = dynamic_cast<TSDBExprNodeStringFunction*>(s.SelectList[6].ValueExpr->Root());
  ASSERT_TRUE(trim);
  EXPECT_EQ(trim->TrimSide, rwLEADING);
  EXPECT_EQ(dynamic_cast<TSDBExprNodeDateFunction*>(s.SelectList[7].ValueExpr->Root())->ExtractPart, rwYEAR);
  EXPECT_EQ(dynamic_cast<TSDBExprNodeArithmetic*>(s.SelectList[8].ValueExpr->Root())->RoundMode, rwHALFUP);
  EXPECT_EQ(s.SelectList[9].ValueExpr->Root()->Operator, doLASTAUTOINC);
  EXPECT_EQ(s.SelectList[10].ValueExpr->Root()->Operator, doCONCAT);

  const TSDBTableReference* j = s.FromTables[0].get();
  EXPECT_EQ(j->LeftTable->TableType, attSubQuery);
  EXPECT_EQ(j->LeftTable->Pseudonym, "x");
  EXPECT_EQ(j->RightTable->JoinType, ajtRightOuter);
  ASSERT_TRUE(j->SearchCondition);

  const TSDBExprNode* w = s.SearchCondition->Root();
  ASSERT_EQ(w->Children.size(), 4u);
  EXPECT_EQ(w->Children[0]->Operator, doEXISTS);
  EXPECT_EQ(dynamic_cast<TSDBExprNodeComparison*>(w->Children[1].get())->Quantifier, cqAny);
  EXPECT_EQ(w->Children[2]->Operator, doNOT);
  EXPECT_EQ(w->Children[2]->Children[0]->Operator, doOR);
  EXPECT_EQ(w->Children[3]->Operator, doNOT);
  EXPECT_EQ(w->Children[3]->Children[0]->Operator, doTRUE);
}

TEST(SqlParserSelect, ArithmeticPrecedenceAndSigns) {
  Parsed p = Parse("SELECT 1 + 2 * 3, a - -1, -a, (1 + 2) * 3, 1.5E-3, ((SELECT 1 FROM t)) + 1 FROM t");
  TSDBSQLSelect& s = OnlySelect(p);
  const TSDBExprNode* e0 = s.SelectList[0].ValueExpr->Root();
  EXPECT_EQ(e0->Operator, doADD);
  EXPECT_EQ(e0->Children[1]->Operator, doMUL);
  const TSDBExprNode* e1 = s.SelectList[1].ValueExpr->Root();
  EXPECT_EQ(e1->Operator, doSUB);
  auto* minusOne = dynamic_cast<const TSDBExprNodeConst*>(e1->Children[1].get());
  ASSERT_TRUE(minusOne);
  EXPECT_EQ(minusOne->Value.AsInt64(), -1);
  const TSDBExprNode* e2 = s.SelectList[2].ValueExpr->Root();
  EXPECT_EQ(e2->Operator, doSUB);
  EXPECT_EQ(e2->Children.size(), 1u);
  EXPECT_EQ(s.SelectList[3].ValueExpr->Root()->Operator, doMUL);
  auto* f = dynamic_cast<const TSDBExprNodeConst*>(s.SelectList[4].ValueExpr->Root());
  ASSERT_TRUE(f);
  EXPECT_DOUBLE_EQ(f->Value.AsDouble(), 1.5e-3);
  const TSDBExprNode* e5 = s.SelectList[5].ValueExpr->Root();
  EXPECT_EQ(e5->Operator, doADD);
  EXPECT_NE(dynamic_cast<const TSDBExprNodeSubquery*>(e5->Children[0].get()), nullptr);
}

TEST(SqlParserSelect, DateAndTimeLiterals) {
  Parsed p = Parse("SELECT * FROM t WHERE d = DATE '2024-02-29' AND t = TIME '13:45:10' AND s < TIMESTAMP '2024-03-01 08:00'");
  const TSDBExprNode* w = OnlySelect(p).SearchCondition->Root();
  auto value = [&](int i) { return dynamic_cast<const TSDBExprNodeConst*>(w->Children[static_cast<size_t>(i)]->Children[1].get())->Value; };
  EXPECT_EQ(value(0).DataType(), bftDate);
  EXPECT_DOUBLE_EQ(value(0).AsDouble(), SDBEncodeDate(2024, 2, 29));
  EXPECT_EQ(value(1).DataType(), bftTime);
  EXPECT_DOUBLE_EQ(value(1).AsDouble(), SDBEncodeTime(13, 45, 10, 0));
  EXPECT_DOUBLE_EQ(value(2).AsDouble(), SDBEncodeDate(2024, 3, 1) + SDBEncodeTime(8, 0, 0, 0));
  for (const char* bad : {"SELECT DATE '2023-02-29' FROM t", "SELECT TIME '25:00' FROM t", "SELECT DATE 'x' FROM t"}) {
    try {
      Parse(bad);
      ADD_FAILURE() << bad;
    } catch (const ESDBException& e) {
      EXPECT_EQ(e.NativeError(), kSqlErrExpression) << bad;
    }
  }
}

TEST(SqlParserSelect, SetOperationsBuildATree) {
  Parsed p = Parse(
      "SELECT a FROM t UNION ALL SELECT a FROM u EXCEPT CORRESPONDING BY (a) "
      "SELECT a FROM v INTERSECT SELECT a FROM w ORDER BY 1 DESC");
  auto& u = p.As<TSDBSQLUnion>();
  ASSERT_EQ(u.Root->NodeType, qntExcept);
  EXPECT_TRUE(u.Root->Corresponding);
  EXPECT_EQ(u.Root->CorrespondingFields, (std::vector<std::string>{"a"}));
  EXPECT_EQ(u.Root->Left->NodeType, qntUnion);
  EXPECT_TRUE(u.Root->Left->All);
  EXPECT_EQ(u.Root->Right->NodeType, qntIntersect);
  // The trailing ORDER BY orders the whole result.
  ASSERT_EQ(u.OrderBySpecsCount(), 1);
  EXPECT_TRUE(u.OrderBySpecs[0].Descending);
  EXPECT_TRUE(u.Root->Right->Right->Select->OrderBySpecs.empty());

  Parsed q = Parse("(SELECT a FROM t) UNION (SELECT b FROM u) ORDER BY a");
  EXPECT_EQ(q.As<TSDBSQLUnion>().Root->NodeType, qntUnion);
  EXPECT_EQ(q.As<TSDBSQLUnion>().OrderBySpecsCount(), 1);
}

// ---------------------------------------------------------------- other statements

TEST(SqlParserStatements, InsertForms) {
  Parsed rows = Parse("INSERT INTO MEMORY db.t PASSWORD 'x' (a, `Section`, [b c], DATE) VALUES (1, 'a', NULL, -2), (2, 'b', :p, 3)",
                      [] {
                        static TSDBSQLParams ps;
                        ps.Clear();
                        ps.Add("p", TSDBVariant::FromInt(7));
                        return &ps;
                      }());
  auto& i = rows.As<TSDBSQLInsert>();
  EXPECT_TRUE(i.IntoMemory);
  EXPECT_EQ(i.DatabaseFileName, "db");
  EXPECT_EQ(i.Password, "x");
  EXPECT_EQ(i.FieldNames, (std::vector<std::string>{"a", "Section", "b c", "DATE"}));
  ASSERT_EQ(i.FieldValues.size(), 2u);

  Parsed sel = Parse("INSERT INTO t (a) SELECT x FROM u WHERE x > 1");
  ASSERT_TRUE(sel.As<TSDBSQLInsert>().InternalSelecter);
  Parsed par = Parse("INSERT INTO t ((SELECT x FROM u))");
  ASSERT_TRUE(par.As<TSDBSQLInsert>().InternalSelecter);
  EXPECT_TRUE(par.As<TSDBSQLInsert>().FieldNames.empty());
}

TEST(SqlParserStatements, UpdateAndDelete) {
  Parsed a = Parse("UPDATE t p SET p.a = p.a + 1, b = 'x' WHERE p.id = 3");
  auto& u = a.As<TSDBSQLUpdate>();
  EXPECT_EQ(u.FTablePseudonym, "p");
  EXPECT_EQ(u.FieldNames[0].TableName, "p");
  EXPECT_EQ(u.FieldValues[0]->Root()->Operator, doADD);
  ASSERT_TRUE(u.SearchCondition);

  Parsed b = Parse("UPDATE t SET (a, b) = (SELECT x, y FROM u WHERE u.id = t.id)");
  auto& r = b.As<TSDBSQLUpdate>();
  EXPECT_TRUE(r.IsFieldValuesSubquery);
  EXPECT_EQ(r.FieldNames.size(), 2u);
  ASSERT_TRUE(r.FieldValuesSubqueryExpr);

  Parsed d = Parse("DELETE FROM t WHERE a IN (SELECT a FROM u)");
  auto& del = d.As<TSDBSQLDelete>();
  EXPECT_EQ(del.TableName, "t");
  EXPECT_EQ(del.SearchCondition->Root()->Operator, doIN);
  EXPECT_EQ(Parse("DELETE FROM t").As<TSDBSQLDelete>().SearchCondition, nullptr);
}

TEST(SqlParserStatements, CreateTableAcceptsEveryTypeName) {
  for (const TSDBSQLTypeName& tn : SDBSQLTypeNames()) {
    Parsed p = Parse(std::string("CREATE TABLE t (c ") + tn.Name + ")");
    const auto& col = p.As<TSDBDDLCreateTable>().Columns.at(0);
    EXPECT_EQ(col.AdvancedType, tn.AdvancedType) << tn.Name;
    EXPECT_EQ(col.BaseType, tn.BaseType) << tn.Name;
  }
  Parsed p = Parse(
      "CREATE TABLE IF NOT EXISTS MEMORY t (\n"
      " id AUTOINC(INCREMENT 2, INITIALVALUE 10, MINVALUE -5, MAXVALUE 1000, CYCLED) PRIMARY KEY,\n"
      " name VARCHAR(40) NOT NULL DEFAULT 'x',\n"
      " price DOUBLE PRECISION DEFAULT -1.5,\n"
      " doc BLOB BLOBBLOCKSIZE 2048 BLOBCOMPRESSIONALGORITHM ZLIB BLOBCOMPRESSIONMODE 6,\n"
      " CONSTRAINT u1 UNIQUE (name, price))");
  auto& c = p.As<TSDBDDLCreateTable>();
  EXPECT_TRUE(c.IfNotExists);
  EXPECT_TRUE(c.Table.InMemory);
  ASSERT_EQ(c.Columns.size(), 4u);
  const auto& id = c.Columns[0];
  EXPECT_EQ(id.AdvancedType, aftAutoInc);
  EXPECT_EQ(id.AutoincIncrement, 2);
  EXPECT_EQ(id.AutoincInitialValue, 10);
  EXPECT_EQ(id.AutoincMinValue, -5);
  EXPECT_EQ(id.AutoincMaxValue, 1000);
  EXPECT_TRUE(id.AutoincCycled);
  EXPECT_EQ(c.PrimaryKeyFields, (std::vector<std::string>{"id"}));
  EXPECT_EQ(c.Columns[1].Size, 40);
  EXPECT_TRUE(c.Columns[1].NotNull);
  ASSERT_TRUE(c.Columns[1].DefaultValue);
  EXPECT_EQ(c.Columns[2].BaseType, bftDouble);
  EXPECT_EQ(c.Columns[3].BlobBlockSize, 2048);
  EXPECT_EQ(c.Columns[3].BlobCompressionAlgorithm, "ZLIB");
  EXPECT_EQ(c.Columns[3].BlobCompressionMode, 6);
  ASSERT_EQ(c.UniqueFields.size(), 1u);
  EXPECT_EQ(c.UniqueFields[0].size(), 2u);
}

TEST(SqlParserStatements, IndexesAlterRenameTruncateTransactions) {
  Parsed ci = Parse("CREATE UNIQUE INDEX ix ON t (a DESC NOCASE, b, c ASC)");
  auto& idx = ci.As<TSDBDDLCreateIndex>();
  EXPECT_TRUE(idx.Unique);
  EXPECT_EQ(idx.IndexName, "ix");
  EXPECT_EQ(idx.Table.TableName, "t");
  ASSERT_EQ(idx.Columns.size(), 3u);
  EXPECT_TRUE(idx.Columns[0].Descending);
  EXPECT_TRUE(idx.Columns[0].CaseInsensitive);
  EXPECT_FALSE(idx.Columns[1].Descending);
  EXPECT_FALSE(Parse("CREATE INDEX ix ON t (a)").As<TSDBDDLCreateIndex>().Unique);

  EXPECT_EQ(Parse("DROP INDEX t.ix").As<TSDBDDLDropIndex>().Table.TableName, "t");
  EXPECT_EQ(Parse("DROP INDEX ix ON t").As<TSDBDDLDropIndex>().IndexName, "ix");
  EXPECT_TRUE(Parse("DROP TABLE IF EXISTS t").As<TSDBDDLDropTable>().IfExists);

  Parsed al = Parse("ALTER TABLE t ADD c INTEGER, DROP COLUMN d, MODIFY e VARCHAR(5), RENAME f TO g");
  auto& alter = al.As<TSDBDDLAlterTable>();
  ASSERT_EQ(alter.Actions.size(), 4u);
  EXPECT_EQ(alter.Actions[0].ActionType, aatAdd);
  EXPECT_EQ(alter.Actions[0].Column.Name, "c");
  EXPECT_EQ(alter.Actions[1].FieldName, "d");
  EXPECT_EQ(alter.Actions[2].Column.Size, 5);
  EXPECT_EQ(alter.Actions[3].NewName, "g");

  EXPECT_EQ(Parse("RENAME TABLE a TO b").As<TSDBDDLRenameTable>().NewTableName, "b");
  EXPECT_EQ(Parse("RENAME a TO b").As<TSDBDDLRenameTable>().Table.TableName, "a");
  EXPECT_EQ(Parse("TRUNCATE TABLE a").As<TSDBDDLTruncateTable>().Table.TableName, "a");
  Parse("START TRANSACTION").As<TSDBSQLStartTransaction>();
  EXPECT_TRUE(Parse("COMMIT WORK FLUSH").As<TSDBSQLCommit>().Flush);
  Parse("ROLLBACK").As<TSDBSQLRollback>();
}

// ---------------------------------------------------------------- errors

TEST(SqlParserErrors, MalformedStatements) {
  struct Case {
    const char* Sql;
    int Code;
    const char* Message;
  };
  const Case cases[] = {
      {"FOO", kSqlErrNotSqlToken, "SQL token expected, but 'FOO' found at line 1, column 1"},
      {"'x'", kSqlErrNotSqlToken, "SQL token expected, but 'x' found at line 1, column 1"},
      {"WHERE a = 1", kSqlErrUnknownStatement, "SQL token expected, but 'WHERE' found at line 1, column 1"},
      {"CREATE", kSqlErrCreateEnd, "Unexpected end of SQL command found at line 1, column 7"},
      {"CREATE VIEW v", kSqlErrCreateObject, "Object type keyword expected, but 'VIEW' found at line 1, column 8"},
      {"DROP", kSqlErrDropEnd, "Unexpected end of SQL command found at line 1, column 5"},
      {"DROP VIEW v", kSqlErrDropObject, "Object type keyword expected, but 'VIEW' found at line 1, column 6"},
      {"ALTER ", kSqlErrAlterEnd, "Unexpected end of SQL command found at line 1, column 7"},
      {"ALTER INDEX i", kSqlErrAlterObject, "Object type keyword expected, but 'INDEX' found at line 1, column 7"},
      {"RENAME", kSqlErrRenameEnd, "Unexpected end of SQL command found at line 1, column 7"},
      {"SELECT * FROM t x y", kSqlErrEndExpected, "End of SQL command expected, but 'y' found at line 1, column 19"},
      {"SELECT * FROM", kSqlErrUnexpectedEnd, "Unexpected end of SQL command found at line 1, column 14"},
      {"SELECT a;", kSqlErrUnexpectedEnd, "Unexpected end of SQL command found at line 1, column 9"},
      {"SELECT a b c FROM t", kSqlErrFromExpected, "Token 'FROM' expected, but 'c' found at line 1, column 12"},
      {"SELECT TOP x * FROM t", kSqlErrTopInteger, "Integer expected, but 'x' found at line 1, column 12"},
      {"SELECT TOP 1, y * FROM t", kSqlErrTopFirstRow, "Integer expected, but 'y' found at line 1, column 15"},
      {"SELECT * FROM t WHERE 1", kSqlErrBooleanWhere, "Boolean expression expected, but '1' found at line 1, column 23"},
      {"SELECT a FROM t GROUP BY a HAVING 'x' || a", kSqlErrBooleanHaving,
       "Boolean expression expected, but 'x' found at line 1, column 35"},
      {"SELECT * FROM a JOIN b ON 1 + 1", kSqlErrBooleanOn, "Boolean expression expected, but '1' found at line 1, column 27"},
      {"SELECT * FROM a JOIN b", kSqlErrUnexpectedEnd, "Unexpected end of SQL command found at line 1, column 23"},
      {"SELECT * FROM t WHERE a =\n", kSqlErrUnexpectedEnd, "Unexpected end of SQL command found at line 2, column 1"},
      {"SELECT * FROM t WHERE a IS 5", kSqlErrTokenExpected,
       "NULL, TRUE, FALSE or UNKNOWN expected, but '5' found at line 1, column 28"},
      {"SELECT foo(1) FROM t", kSqlErrExpression, "Unknown function 'foo' at line 1, column 8"},
      {"SELECT , FROM t", kSqlErrExpression, "Expression expected, but ',' found at line 1, column 8"},
      {"SELECT (SELECT 1 FROM t FROM u", kSqlErrMissingParen, "Missing symbol ')' at line 1, column 8"},
      {"INSERT Parametres VALUES (1)", kSqlErrInsertInto,
       "Token 'INTO' expected, but 'Parametres' found at line 1, column 8"},
      {"INSERT INTO (a) VALUES (1)", kSqlErrInsertTable, "Table name expected, but '(' found at line 1, column 13"},
      {"INSERT INTO t (a, 1) VALUES (1, 2)", kSqlErrFieldName, "Field name expected, but '1' found at line 1, column 19"},
      {"INSERT INTO t (a b) VALUES (1)", kSqlErrParenOrComma,
       "')' or ',' symbol expected, but 'b' found at line 1, column 18"},
      {"INSERT INTO t (a) VALUES 1", kSqlErrLeftParen, "'(' symbol expected, but '1' found at line 1, column 26"},
      {"INSERT INTO t (a, b)\n VALUES (1)", kSqlErrValueCount,
       "Number of field names does not equal the number of field values: 2 <> 1. Found at line 2, column 9"},
      {"INSERT INTO t VALUES (1, , 2)", kSqlErrEmptyValue, "Error parsing parameter ',' at line 1, column 26"},
      {"INSERT INTO t VALUES (1 2)", kSqlErrParenOrComma,
       "')' or ',' symbol expected, but '2' found at line 1, column 25"},
      {"INSERT INTO t (a)", kSqlErrUnexpectedEnd, "Unexpected end of SQL command found at line 1, column 18"},
      {"UPDATE SET a = 1", kSqlErrUpdateTable, "Table name expected, but 'SET' found at line 1, column 8"},
      {"UPDATE t a = 1", kSqlErrUpdateSet, "Token 'SET' expected, but '=' found at line 1, column 12"},
      {"UPDATE t SET a 1", kSqlErrUpdateEquals, "Token '=' expected, but '1' found at line 1, column 16"},
      {"UPDATE t SET a = 1 b = 2", kSqlErrUpdateComma, "Token ',' expected, but 'b' found at line 1, column 20"},
      {"UPDATE t SET a = WHERE b = 1", kSqlErrEmptyValue, "Error parsing parameter 'WHERE' at line 1, column 18"},
      {"UPDATE t SET Section = 1", kSqlErrFieldName,
       "Field name expected, but 'Section' found ('Section' is a reserved word: write it in backquotes, `Section`, "
       "to use it as a name) at line 1, column 14"},
      {"DELETE t", kSqlErrTokenExpected, "Token 'FROM' expected, but 't' found at line 1, column 8"},
      {"CREATE TABLE t (a NOTATYPE)", kSqlErrDataType, "Unknown data type 'NOTATYPE' at line 1, column 19"},
      {"CREATE TABLE t (a INTEGER, a CHAR(2))", kSqlErrFieldName, "Duplicate field name 'a' at line 1, column 28"},
      {"CREATE UNIQUE TABLE t (a INTEGER)", kSqlErrTokenExpected,
       "Token 'INDEX' expected, but 'TABLE' found at line 1, column 15"},
      {"START", kSqlErrUnexpectedEnd, "Unexpected end of SQL command found at line 1, column 6"},
      {"COMMIT NOW", kSqlErrEndExpected, "End of SQL command expected, but 'NOW' found at line 1, column 8"},
  };
  for (const Case& c : cases) {
    try {
      Parse(c.Sql);
      ADD_FAILURE() << "no error for: " << c.Sql;
    } catch (const ESDBException& e) {
      EXPECT_EQ(e.NativeError(), c.Code) << c.Sql << " -> " << e.what();
      EXPECT_EQ(e.RawMessage(), c.Message) << c.Sql;
    }
  }
}

TEST(SqlParserErrors, BlankCommands) {
  TSDBLexer empty("  -- only a comment", false, nullptr);
  try {
    SDBCreateSQLCommand(empty, nullptr);
    ADD_FAILURE();
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), kSqlErrNoCommand);
    EXPECT_EQ(e.RawMessage(), "Blank SQL command");
  }
  empty.AddCommand();
  try {
    SDBCreateSQLCommand(empty, nullptr);
    ADD_FAILURE();
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), kSqlErrNoToken);
  }
}

TEST(SqlParserErrors, DeepNestingIsRefusedNotOverflowed) {
  auto repeat = [](const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
  };
  const int n = 20000;
  const std::string inputs[] = {
      "SELECT " + repeat("(", n) + "1" + repeat(")", n) + " FROM t",
      "SELECT * FROM t WHERE " + repeat("NOT ", n) + "a = 1",
      "SELECT " + repeat("- ", n) + "1 FROM t",
      "SELECT * FROM t WHERE " + repeat("(", n) + "a = 1" + repeat(")", n),
      repeat("(", n) + "SELECT 1 FROM t" + repeat(")", n),
      "SELECT * FROM " + repeat("(", n) + "t" + repeat(")", n),
      "SELECT " + repeat("(SELECT ", n / 4) + "1" + repeat(" FROM t)", n / 4) + " FROM t",
      "SELECT " + repeat("CASE WHEN ", n / 4) + "1",
      // Left-deep chains are as deep as nesting for whoever walks the tree.
      "SELECT 1" + repeat(" + 1", n) + " FROM t",
      "SELECT 1" + repeat(" || 'x' * 2", n) + " FROM t",
      "SELECT * FROM t" + repeat(" CROSS JOIN t", n),
      "SELECT 1 FROM t" + repeat(" UNION SELECT 1 FROM t", n / 4),
      "SELECT * FROM t WHERE a" + repeat(" IS NULL", n),
  };
  for (const std::string& sql : inputs) {
    try {
      Parse(sql);
      ADD_FAILURE() << sql.substr(0, 40);
    } catch (const ESDBException& e) {
      EXPECT_EQ(e.NativeError(), kSqlErrTooDeep) << sql.substr(0, 40) << ": " << e.what();
    }
  }
  // Nesting within the limit parses; flat lists have no limit.
  Parse("SELECT " + repeat("(", 50) + "1" + repeat(")", 50) + " FROM t");
  Parse("SELECT 1" + repeat(" + 1", 150) + " FROM t");
  Parse("SELECT * FROM t WHERE a = 1" + repeat(" AND a = 1", n));
  Parse("INSERT INTO t VALUES (1" + repeat(", 1", n) + ")");
}

// ---------------------------------------------------------------- tessaly-db

namespace {

int RunTool(const std::string& args, std::string& out) {
  sdbtest::TRun r = sdbtest::Tool(args);
  out = r.Output;
  return r.Code;
}

}  // namespace

TEST(SqlTool, LexAndParse) {
  std::string out;
  EXPECT_EQ(RunTool("lex \"SELECT a FROM t WHERE b = :p\" --param p=x", out), 0) << out;
  EXPECT_NE(out.find("ReservedWord = SELECT"), std::string::npos) << out;
  EXPECT_NE(out.find("tktParameter Text = \"p\" Value = 'x'"), std::string::npos) << out;

  EXPECT_EQ(RunTool("parse \"UPDATE t SET \\`Section\\` = :v WHERE k = :k\" --param v:int=3 --param k=", out), 0)
      << out;
  EXPECT_NE(out.find("TSDBSQLUpdate TableName=t"), std::string::npos) << out;
  EXPECT_NE(out.find("TSDBExprNodeConst 3 :v"), std::string::npos) << out;
  EXPECT_NE(out.find("TSDBExprNodeComparison doISNULL"), std::string::npos) << out;

  EXPECT_NE(RunTool("parse \"SELECT 12abc FROM t\"", out), 0);
  EXPECT_NE(out.find("Invalid numeric symbol 'a' at line 1, column 10 - Native error: 30062"), std::string::npos)
      << out;
  EXPECT_NE(RunTool("parse \"SELECT a FROM t WHERE b = :missing\"", out), 0);
  EXPECT_NE(out.find("Value for parameter 'missing' not found"), std::string::npos) << out;
}
