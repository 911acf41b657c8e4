#include "sql/SDBSQLStatements.h"

#include <set>

#include "sql/SDBSQLParser.h"
#include "common/SDBNames.h"

namespace sdb {

namespace {

void Line(std::string& out, int indent, const std::string& text) {
  out.append(static_cast<size_t>(indent) * 2, ' ');
  out += text;
  out += '\n';
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string JoinNames(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : ", ") + n;
  return s;
}

void DumpExpr(std::string& out, int indent, const char* label, const TSDBExpression* e) {
  if (!e) return;
  Line(out, indent, label);
  e->Dump(out, indent + 1);
}

// The result name of a select-list item that has no pseudonym.
std::string DerivedName(const TSDBSelectListItem& item) {
  if (!item.IsExpression) return item.FieldName;
  const TSDBExprNode* root = item.ValueExpr ? item.ValueExpr->Root() : nullptr;
  if (root && root->Operator != doUNDEFINED && !SDBExprAs<TSDBExprNodeArithmetic>(root) &&
      !SDBExprAs<TSDBExprNodeComparison>(root) && !SDBExprAs<TSDBExprNodeBoolean>(root)) {
    if (root->Operator == doCOUNTALL) return "COUNT";
    return std::string(SDBDataOperatorName(root->Operator) + 2);
  }
  if (SDBExprAs<TSDBExprNodeArithmetic>(root) && root->Operator >= doABS)
    return std::string(SDBDataOperatorName(root->Operator) + 2);
  return "EXPR";
}

const char* JoinTypeName(TSDBJoinType t) {
  static const char* const names[] = {"ajtCross", "ajtInner", "ajtLeftOuter", "ajtRightOuter", "ajtFullOuter"};
  return names[t];
}

}  // namespace

// ---------------------------------------------------------------- base classes

TSDBSQLCommand::TSDBSQLCommand(TSDBLexer* lex, TSDBQuery* query) : LLex(lex), LQuery(query) {
  LLex->GetCurrentToken(Token);
}

TSDBSQLCommand::~TSDBSQLCommand() = default;

void TSDBSQLCursorCommand::DumpInto(std::string& out, int indent) const {
  if (IntoTable.empty()) return;
  std::string s = "Into: " + (IntoDatabase.empty() ? "" : IntoDatabase + ".") + IntoTable;
  if (IntoMemory) s += " MEMORY";
  Line(out, indent, s);
}

void TSDBSQLCursorCommand::DumpOrderBy(std::string& out, int indent) const {
  if (OrderBySpecs.empty()) return;
  Line(out, indent, "OrderBySpecs:");
  for (const auto& o : OrderBySpecs) {
    std::string s = o.FieldNo > 0 ? "#" + std::to_string(o.FieldNo)
                                  : (o.TableName.empty() ? "" : o.TableName + ".") + o.FieldName;
    Line(out, indent + 1, s + (o.Descending ? " DESC" : " ASC"));
  }
}

TSDBTableReference::TSDBTableReference() = default;
TSDBTableReference::~TSDBTableReference() = default;

void TSDBTableReference::Dump(std::string& out, int indent) const {
  switch (TableType) {
    case attTable: {
      std::string s = "TSDBTableReference attTable TableName=" + TableName;
      if (!DatabaseName.empty()) s += " DatabaseName=" + DatabaseName;
      if (!Pseudonym.empty()) s += " Pseudonym=" + Pseudonym;
      if (!Password.empty()) s += " Password=" + Quoted(Password);
      if (InMemory) s += " InMemory";
      Line(out, indent, s);
      break;
    }
    case attSubQuery:
      Line(out, indent, "TSDBTableReference attSubQuery" + (Pseudonym.empty() ? "" : " Pseudonym=" + Pseudonym));
      if (SubQuery) SubQuery->Dump(out, indent + 1);
      break;
    case attJoinedTable: {
      std::string s = std::string("TSDBTableReference attJoinedTable ") + JoinTypeName(JoinType);
      if (NaturalJoin) s += " NATURAL";
      if (!UsingFields.empty()) s += " USING(" + JoinNames(UsingFields) + ")";
      Line(out, indent, s);
      if (LeftTable) LeftTable->Dump(out, indent + 1);
      if (RightTable) RightTable->Dump(out, indent + 1);
      DumpExpr(out, indent + 1, "On:", SearchCondition.get());
      break;
    }
  }
}

// ---------------------------------------------------------------- SELECT

TSDBSQLSelect::TSDBSQLSelect(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCursorCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwSELECT, kSqlErrTokenExpected);
  if (p.Accept(rwALL)) All = true;
  else if (p.Accept(rwDISTINCT)) Distinct = true;
  if (p.Accept(rwTOP)) {
    TopRowCount = p.ParseInteger(kSqlErrTopInteger, false);
    if (p.AcceptKind(tktComma)) FirstRowNo = p.ParseInteger(kSqlErrTopFirstRow, false);
  }

  // Select list.
  if (p.AcceptSymbol("*")) {
    AllFields = true;
  } else {
    while (true) {
      TSDBSelectListItem item;
      const TToken* t = p.Cur();
      if (!t) p.UnexpectedEnd();
      item.LineNum = t->LineNum;
      item.ColumnNum = t->ColumnNum;
      const TToken* d = p.Peek(1);
      const TToken* s = p.Peek(2);
      if (TSDBSQLParser::IsIdentifier(t) && d && d->TokenType == tktDot && s && s->IsSymbol("*")) {
        item.AllTableFields = true;
        item.TableName = t->Text;
        item.FieldName = "*";
        p.Next();
        p.Next();
        p.Next();
      } else {
        item.ValueExpr = p.ParseValue();
        if (const auto* f = SDBExprAs<TSDBExprNodeField>(item.ValueExpr->Root())) {
          item.TableName = f->TableName;
          item.FieldName = f->FieldName;
        } else {
          item.IsExpression = true;
        }
        const bool as = p.Accept(rwAS);
        const TToken* ps = p.Cur();
        if (TSDBSQLParser::IsIdentifier(ps) || (ps && ps->TokenType == tktQuotedString)) {
          item.Pseudonym = ps->Text;
          p.Next();
        } else if (as) {
          p.Expected(kSqlErrPseudonym, "Pseudonym");
        }
      }
      SelectList.push_back(std::move(item));
      if (!p.AcceptKind(tktComma)) break;
    }
    // Result names: the pseudonym, else the column name, else a name for
    // the expression; duplicates become name_1, name_2, ...
    std::set<std::string> used;
    for (auto& item : SelectList) {
      if (item.AllTableFields) continue;
      std::string name = item.Pseudonym.empty() ? DerivedName(item) : item.Pseudonym;
      if (used.count(SDBUpperName(name))) {
        for (int n = 1;; ++n) {
          std::string candidate = SDBFormat("%s_%d", {name, int64_t{n}});
          if (!used.count(SDBUpperName(candidate))) {
            name = candidate;
            break;
          }
        }
      }
      used.insert(SDBUpperName(name));
      item.Pseudonym = name;
    }
  }

  if (p.Accept(rwINTO)) {
    if (p.Accept(rwMEMORY)) IntoMemory = true;
    IntoTable = p.ParseTableName(kSqlErrTableName);
    if (p.AcceptKind(tktDot)) {
      IntoDatabase = IntoTable;
      IntoTable = p.ParseTableName(kSqlErrTableName);
    }
  }

  if (!p.IsWord(rwFROM)) {
    if (p.AtEnd()) p.UnexpectedEnd();
    p.ExpectedToken(kSqlErrFromExpected, "FROM");
  }
  p.Next();
  do {
    FromTables.push_back(p.ParseJoinedTable());
  } while (p.AcceptKind(tktComma));

  if (p.Accept(rwWHERE)) SearchCondition = p.ParseCondition(kSqlErrBooleanWhere);
  if (p.Accept(rwGROUP)) {
    p.Expect(rwBY, kSqlErrTokenExpected);
    do {
      TSDBFieldRef f;
      if (const TToken* at = p.Cur()) {
        f.LineNum = at->LineNum;
        f.ColumnNum = at->ColumnNum;
      }
      f.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
      if (p.AcceptKind(tktDot)) {
        f.TableName = f.FieldName;
        f.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
      }
      GroupByFields.push_back(std::move(f));
    } while (p.AcceptKind(tktComma));
  }
  if (p.Accept(rwHAVING)) HavingCondition = p.ParseCondition(kSqlErrBooleanHaving);
  if (p.Accept(rwORDER)) {
    p.Expect(rwBY, kSqlErrTokenExpected);
    do {
      TSDBOrderBySpec o;
      if (const TToken* at = p.Cur()) {
        o.LineNum = at->LineNum;
        o.ColumnNum = at->ColumnNum;
      }
      if (p.IsKind(tktInt)) {
        const TToken* n = p.Cur();
        const int64_t no = p.ParseInteger(kSqlErrInteger, false);
        if (no < 1 || (!AllFields && no > static_cast<int64_t>(SelectList.size())))
          p.ErrorAt(kSqlErrInteger, "Invalid column position %s at line %d, column %d", {n->Text}, n);
        o.FieldNo = static_cast<int>(no);
      } else {
        o.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
        if (p.AcceptKind(tktDot)) {
          o.TableName = o.FieldName;
          o.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
        }
      }
      if (p.Accept(rwDESC)) o.Descending = true;
      else p.Accept(rwASC);
      OrderBySpecs.push_back(std::move(o));
    } while (p.AcceptKind(tktComma));
  }
}

void TSDBSQLSelect::Dump(std::string& out, int indent) const {
  std::string head = "TSDBSQLSelect";
  if (Distinct) head += " DISTINCT";
  if (All) head += " ALL";
  if (TopRowCount >= 0) head += " TopRowCount=" + std::to_string(TopRowCount);
  if (FirstRowNo >= 0) head += " FirstRowNo=" + std::to_string(FirstRowNo);
  Line(out, indent, head);
  if (AllFields) {
    Line(out, indent + 1, "SelectList: *");
  } else {
    Line(out, indent + 1, "SelectList:");
    for (const auto& item : SelectList) {
      if (item.AllTableFields) {
        Line(out, indent + 2, "Item " + item.TableName + ".*");
        continue;
      }
      std::string s = "Item";
      if (item.IsExpression) s += " IsExpression";
      else s += " Field=" + (item.TableName.empty() ? "" : item.TableName + ".") + item.FieldName;
      s += " Pseudonym=" + item.Pseudonym;
      Line(out, indent + 2, s);
      if (item.IsExpression && item.ValueExpr) item.ValueExpr->Dump(out, indent + 3);
    }
  }
  DumpInto(out, indent + 1);
  Line(out, indent + 1, "FromTables:");
  for (const auto& t : FromTables) t->Dump(out, indent + 2);
  DumpExpr(out, indent + 1, "SearchCondition:", SearchCondition.get());
  if (!GroupByFields.empty()) {
    std::vector<std::string> names;
    for (const auto& f : GroupByFields) names.push_back((f.TableName.empty() ? "" : f.TableName + ".") + f.FieldName);
    Line(out, indent + 1, "GroupByFields: " + JoinNames(names));
  }
  DumpExpr(out, indent + 1, "HavingCondition:", HavingCondition.get());
  DumpOrderBy(out, indent + 1);
}

// ---------------------------------------------------------------- queries

namespace {

std::unique_ptr<TSDBQueryExprNode> ParseQueryExpr(TSDBSQLParser& p);

std::unique_ptr<TSDBQueryExprNode> ParseQueryPrimary(TSDBSQLParser& p) {
  TSDBParseDepthGuard guard(p);
  if (p.IsWord(rwSELECT)) {
    auto node = std::make_unique<TSDBQueryExprNode>();
    node->NodeType = qntSelect;
    node->Select = std::make_unique<TSDBSQLSelect>(&p.Lex, p.Query);
    return node;
  }
  if (p.IsKind(tktLeftParenthesis)) {
    p.Next();
    auto node = ParseQueryExpr(p);
    p.ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
    return node;
  }
  p.ExpectedToken(kSqlErrTokenExpected, "SELECT");
}

void ParseSetOptions(TSDBSQLParser& p, TSDBQueryExprNode& node) {
  if (p.Accept(rwALL)) node.All = true;
  else p.Accept(rwDISTINCT);
  if (p.Accept(rwCORRESPONDING)) {
    node.Corresponding = true;
    if (p.Accept(rwBY)) node.CorrespondingFields = p.ParseNameList(kSqlErrFieldName);
  }
}

std::unique_ptr<TSDBQueryExprNode> ParseQueryTerm(TSDBSQLParser& p) {
  auto left = ParseQueryPrimary(p);
  TSDBParseChainGuard chain(p);
  while (p.Accept(rwINTERSECT)) {
    chain.Add();
    auto node = std::make_unique<TSDBQueryExprNode>();
    node->NodeType = qntIntersect;
    ParseSetOptions(p, *node);
    node->Left = std::move(left);
    node->Right = ParseQueryPrimary(p);
    left = std::move(node);
  }
  return left;
}

std::unique_ptr<TSDBQueryExprNode> ParseQueryExpr(TSDBSQLParser& p) {
  auto left = ParseQueryTerm(p);
  TSDBParseChainGuard chain(p);
  while (p.IsWord(rwUNION) || p.IsWord(rwEXCEPT) || p.IsWord(rwMINUS)) {
    chain.Add();
    auto node = std::make_unique<TSDBQueryExprNode>();
    node->NodeType = p.IsWord(rwUNION) ? qntUnion : qntExcept;
    p.Next();
    ParseSetOptions(p, *node);
    node->Left = std::move(left);
    node->Right = ParseQueryTerm(p);
    left = std::move(node);
  }
  return left;
}

TSDBSQLSelect* RightmostSelect(TSDBQueryExprNode* n) {
  while (n && n->NodeType != qntSelect) n = n->Right.get();
  return n ? n->Select.get() : nullptr;
}

}  // namespace

void TSDBQueryExprNode::Dump(std::string& out, int indent) const {
  static const char* const types[] = {"select", "union", "except", "intersect"};
  if (NodeType == qntSelect) {
    if (Select) Select->Dump(out, indent);
    return;
  }
  std::string s = std::string("TSDBQueryExprNode ") + types[NodeType];
  if (All) s += " ALL";
  if (Corresponding) s += " CORRESPONDING";
  if (!CorrespondingFields.empty()) s += " BY (" + JoinNames(CorrespondingFields) + ")";
  Line(out, indent, s);
  if (Left) Left->Dump(out, indent + 1);
  if (Right) Right->Dump(out, indent + 1);
}

TSDBSQLUnion::TSDBSQLUnion(TSDBLexer* lex, TSDBQuery* query, bool subquery) : TSDBSQLCursorCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  TSDBParseDepthGuard guard(p);
  Root = ParseQueryExpr(p);
  if (Root->NodeType != qntSelect) {
    // A trailing ORDER BY orders the whole combined result.
    if (TSDBSQLSelect* last = RightmostSelect(Root.get())) OrderBySpecs = std::move(last->OrderBySpecs);
    if (p.Accept(rwORDER)) {
      p.Expect(rwBY, kSqlErrTokenExpected);
      OrderBySpecs.clear();
      do {
        TSDBOrderBySpec o;
        if (const TToken* at = p.Cur()) {
          o.LineNum = at->LineNum;
          o.ColumnNum = at->ColumnNum;
        }
        if (p.IsKind(tktInt)) {
          o.FieldNo = static_cast<int>(p.ParseInteger(kSqlErrInteger, false));
          if (o.FieldNo < 1) p.Expected(kSqlErrInteger, "Column position");
        } else {
          o.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
        }
        if (p.Accept(rwDESC)) o.Descending = true;
        else p.Accept(rwASC);
        OrderBySpecs.push_back(std::move(o));
      } while (p.AcceptKind(tktComma));
    }
  } else if (TSDBSQLSelect* s = Root->Select.get()) {
    OrderBySpecs = s->OrderBySpecs;
    IntoDatabase = s->IntoDatabase;
    IntoTable = s->IntoTable;
    IntoMemory = s->IntoMemory;
  }
  if (!subquery) p.ExpectEnd();
}

void TSDBSQLUnion::Dump(std::string& out, int indent) const {
  Line(out, indent, "TSDBSQLUnion");
  if (Root) Root->Dump(out, indent + 1);
  if (Root && Root->NodeType != qntSelect) DumpOrderBy(out, indent + 1);
}

// ---------------------------------------------------------------- INSERT

TSDBSQLInsert::TSDBSQLInsert(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwINSERT, kSqlErrTokenExpected);
  p.Expect(rwINTO, kSqlErrInsertInto);
  TSDBDDLTableName target;
  p.ParseTableTarget(target, kSqlErrInsertTable, true);
  IntoMemory = target.InMemory;
  TableName = target.TableName;
  DatabaseFileName = target.DatabaseFileName;
  Password = target.Password;

  if (p.IsKind(tktLeftParenthesis) && !p.QueryFollows()) {
    p.Next();
    while (true) {
      FieldNames.push_back(p.ParseFieldName(kSqlErrFieldName, true));
      if (p.AcceptKind(tktComma)) continue;
      if (p.AcceptKind(tktRightParenthesis)) break;
      p.Expected(kSqlErrParenOrComma, "')' or ',' symbol");
    }
  }

  if (p.Accept(rwVALUES)) {
    do {
      const TToken* open = p.Cur();
      if (!p.IsKind(tktLeftParenthesis)) p.Expected(kSqlErrLeftParen, "'(' symbol");
      p.Next();
      std::vector<std::unique_ptr<TSDBExpression>> row;
      while (true) {
        const TToken* v = p.Cur();
        if (!v) p.UnexpectedEnd();
        if (v->TokenType == tktComma || v->TokenType == tktRightParenthesis)
          p.ErrorAt(kSqlErrEmptyValue, "Error parsing parameter '%s' at line %d, column %d", {v->Text}, v);
        row.push_back(p.ParseValue());
        if (p.AcceptKind(tktComma)) continue;
        if (p.AcceptKind(tktRightParenthesis)) break;
        p.Expected(kSqlErrParenOrComma, "')' or ',' symbol");
      }
      if (FieldValues.empty() && !FieldNames.empty() && row.size() != FieldNames.size())
        p.ErrorAt(kSqlErrValueCount,
                  "Number of field names does not equal the number of field values: %d <> %d. Found at line %d, column %d",
                  {static_cast<int64_t>(FieldNames.size()), static_cast<int64_t>(row.size())}, open);
      FieldValues.push_back(std::move(row));
    } while (p.AcceptKind(tktComma));
  } else if (p.IsWord(rwSELECT) || p.IsKind(tktLeftParenthesis)) {
    InternalSelecter = std::make_unique<TSDBSQLUnion>(lex, query, true);
  } else {
    p.ExpectedToken(kSqlErrTokenExpected, "VALUES");
  }
  p.ExpectEnd();
}

void TSDBSQLInsert::Dump(std::string& out, int indent) const {
  std::string s = "TSDBSQLInsert TableName=" + TableName;
  if (!DatabaseFileName.empty()) s += " DatabaseFileName=" + DatabaseFileName;
  if (!Password.empty()) s += " Password=" + Quoted(Password);
  if (IntoMemory) s += " InMemory";
  Line(out, indent, s);
  if (!FieldNames.empty()) Line(out, indent + 1, "FieldNames: " + JoinNames(FieldNames));
  for (size_t r = 0; r < FieldValues.size(); ++r) {
    Line(out, indent + 1, "FieldValues row " + std::to_string(r + 1) + ":");
    for (const auto& v : FieldValues[r]) v->Dump(out, indent + 2);
  }
  if (InternalSelecter) {
    Line(out, indent + 1, "InternalSelecter:");
    InternalSelecter->Dump(out, indent + 2);
  }
}

// ---------------------------------------------------------------- UPDATE, DELETE

namespace {

// [MEMORY] [database "."] table [pseudonym] [PASSWORD 'password'], the
// tokens it spans kept for the executor's inner query.
void ParseModifierTarget(TSDBSQLParser& p, TSDBSQLTableModifier& m, int code, bool allowAs) {
  const int start = p.Pos();
  TSDBDDLTableName target;
  p.ParseTableTarget(target, code, true);
  m.IntoMemory = target.InMemory;
  m.TableName = target.TableName;
  m.DatabaseFileName = target.DatabaseFileName;
  m.Password = target.Password;
  const bool as = allowAs && p.Accept(rwAS);
  const TToken* t = p.Cur();
  if (TSDBSQLParser::IsIdentifier(t)) {
    m.FTablePseudonym = t->Text;
    p.Next();
  } else if (as) {
    p.Expected(kSqlErrPseudonym, "Pseudonym");
  }
  if (m.Password.empty() && p.Accept(rwPASSWORD)) {
    const TToken* pw = p.Cur();
    if (!pw || (pw->TokenType != tktQuotedString && pw->TokenType != tktParameter))
      p.Expected(kSqlErrQuoted, "Quoted string");
    m.Password = p.TokenName(pw);
    p.Next();
  }
  const TSQLCommand* cmd = p.Lex.CurrentCommand();
  for (int i = start; i < p.Pos(); ++i) m.TableReferenceTokens.push_back(cmd->Tokens[static_cast<size_t>(i)]);
}

void ParseModifierWhere(TSDBSQLParser& p, TSDBSQLTableModifier& m) {
  if (!p.IsWord(rwWHERE)) return;
  const int start = p.Pos();
  p.Next();
  m.SearchCondition = p.ParseCondition(kSqlErrBooleanWhere);
  const TSQLCommand* cmd = p.Lex.CurrentCommand();
  for (int i = start; i < p.Pos(); ++i) m.WhereTokens.push_back(cmd->Tokens[static_cast<size_t>(i)]);
}

}  // namespace

void TSDBSQLTableModifier::DumpTarget(std::string& out, int indent) const {
  std::string s = std::string(ClassName()) + " TableName=" + TableName;
  if (!DatabaseFileName.empty()) s += " DatabaseFileName=" + DatabaseFileName;
  if (!FTablePseudonym.empty()) s += " Pseudonym=" + FTablePseudonym;
  if (!Password.empty()) s += " Password=" + Quoted(Password);
  if (IntoMemory) s += " InMemory";
  Line(out, indent, s);
}

TSDBSQLUpdate::TSDBSQLUpdate(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLTableModifier(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwUPDATE, kSqlErrTokenExpected);
  ParseModifierTarget(p, *this, kSqlErrUpdateTable, false);
  p.Expect(rwSET, kSqlErrUpdateSet);

  auto fieldRef = [&]() {
    TSDBFieldRef f;
    f.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
    if (p.AcceptKind(tktDot)) {
      f.TableName = f.FieldName;
      f.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
    }
    return f;
  };

  if (p.IsKind(tktLeftParenthesis)) {
    // (a, b) = (SELECT x, y FROM ...)
    p.Next();
    while (true) {
      FieldNames.push_back(fieldRef());
      if (p.AcceptKind(tktComma)) continue;
      if (p.AcceptKind(tktRightParenthesis)) break;
      p.Expected(kSqlErrParenOrComma, "')' or ',' symbol");
    }
    p.ExpectSymbol("=", kSqlErrUpdateEquals);
    if (!p.QueryFollows()) p.Expected(kSqlErrLeftParen, "'(' symbol");
    const TToken* at = p.Cur();
    auto node = std::make_unique<TSDBExprNodeSubquery>();
    node->LineNum = at->LineNum;
    node->ColumnNum = at->ColumnNum;
    node->Query = p.ParseSubquery();
    IsFieldValuesSubquery = true;
    FieldValuesSubqueryExpr = std::make_unique<TSDBExpression>(std::move(node));
  } else {
    while (true) {
      FieldNames.push_back(fieldRef());
      p.ExpectSymbol("=", kSqlErrUpdateEquals);
      const TToken* v = p.Cur();
      if (!v) p.UnexpectedEnd();
      if (v->TokenType == tktComma || v->Is(rwWHERE))
        p.ErrorAt(kSqlErrEmptyValue, "Error parsing parameter '%s' at line %d, column %d", {v->Text}, v);
      FieldValues.push_back(p.ParseValue());
      if (p.AtEnd() || p.IsWord(rwWHERE)) break;
      if (!p.AcceptKind(tktComma)) p.ExpectedToken(kSqlErrUpdateComma, ",");
    }
  }
  ParseModifierWhere(p, *this);
  p.ExpectEnd();
}

TSDBSQLUpdate::~TSDBSQLUpdate() = default;

void TSDBSQLUpdate::Dump(std::string& out, int indent) const {
  DumpTarget(out, indent);
  if (IsFieldValuesSubquery) {
    std::vector<std::string> names;
    for (const auto& f : FieldNames) names.push_back((f.TableName.empty() ? "" : f.TableName + ".") + f.FieldName);
    Line(out, indent + 1, "FieldNames: " + JoinNames(names));
    DumpExpr(out, indent + 1, "FieldValuesSubqueryExpr:", FieldValuesSubqueryExpr.get());
  } else {
    for (size_t i = 0; i < FieldNames.size(); ++i) {
      const auto& f = FieldNames[i];
      Line(out, indent + 1, "Set " + (f.TableName.empty() ? "" : f.TableName + ".") + f.FieldName + " =");
      FieldValues[i]->Dump(out, indent + 2);
    }
  }
  DumpExpr(out, indent + 1, "SearchCondition:", SearchCondition.get());
}

TSDBSQLDelete::TSDBSQLDelete(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLTableModifier(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwDELETE, kSqlErrTokenExpected);
  p.Expect(rwFROM, kSqlErrTokenExpected);
  ParseModifierTarget(p, *this, kSqlErrTableName, true);
  ParseModifierWhere(p, *this);
  p.ExpectEnd();
}

void TSDBSQLDelete::Dump(std::string& out, int indent) const {
  DumpTarget(out, indent);
  DumpExpr(out, indent + 1, "SearchCondition:", SearchCondition.get());
}

// ---------------------------------------------------------------- DDL

TSDBColumnDef::TSDBColumnDef() = default;
TSDBColumnDef::~TSDBColumnDef() = default;
TSDBColumnDef::TSDBColumnDef(TSDBColumnDef&&) noexcept = default;
TSDBColumnDef& TSDBColumnDef::operator=(TSDBColumnDef&&) noexcept = default;

void TSDBColumnDef::Dump(std::string& out, int indent) const {
  std::string s = "Column " + Name + " " + TypeName;
  if (Size > 0 || Precision > 0) s += "(" + std::to_string(Size) + (Precision > 0 ? "," + std::to_string(Precision) : "") + ")";
  s += std::string(" ") + SDBAdvancedFieldTypeName(AdvancedType) + "/" + SDBBaseFieldTypeName(BaseType);
  if (NotNull) s += " NOT NULL";
  if (PrimaryKey) s += " PRIMARY KEY";
  if (Unique) s += " UNIQUE";
  if (BlobBlockSize >= 0) s += " BLOBBLOCKSIZE " + std::to_string(BlobBlockSize);
  if (!BlobCompressionAlgorithm.empty()) s += " BLOBCOMPRESSIONALGORITHM " + BlobCompressionAlgorithm;
  if (BlobCompressionMode >= 0) s += " BLOBCOMPRESSIONMODE " + std::to_string(BlobCompressionMode);
  if (HasIncrement) s += " INCREMENT " + std::to_string(AutoincIncrement);
  if (HasInitialValue) s += " INITIALVALUE " + std::to_string(AutoincInitialValue);
  if (HasMinValue) s += " MINVALUE " + std::to_string(AutoincMinValue);
  if (HasMaxValue) s += " MAXVALUE " + std::to_string(AutoincMaxValue);
  if (AutoincCycled) s += " CYCLED";
  Line(out, indent, s);
  DumpExpr(out, indent + 1, "Default:", DefaultValue.get());
}

void TSDBDDLTableName::Dump(std::string& out, int indent) const {
  std::string s = "Table " + TableName;
  if (!DatabaseFileName.empty()) s += " DatabaseFileName=" + DatabaseFileName;
  if (!Password.empty()) s += " Password=" + Quoted(Password);
  if (InMemory) s += " InMemory";
  Line(out, indent, s);
}

namespace {

bool AcceptIfExists(TSDBSQLParser& p, bool withNot) {
  if (!p.IsWord(rwIF)) return false;
  p.Next();
  if (withNot) p.Expect(rwNOT, kSqlErrTokenExpected);
  p.Expect(rwEXISTS, kSqlErrTokenExpected);
  return true;
}

}  // namespace

TSDBDDLCreateTable::TSDBDDLCreateTable(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwCREATE, kSqlErrTokenExpected);
  p.Expect(rwTABLE, kSqlErrTokenExpected);
  IfNotExists = AcceptIfExists(p, true);
  p.ParseTableTarget(Table, kSqlErrTableName, true);
  IntoMemory = Table.InMemory;
  if (!p.IsKind(tktLeftParenthesis)) p.Expected(kSqlErrLeftParen, "'(' symbol");
  p.Next();
  while (true) {
    if (p.Accept(rwCONSTRAINT)) p.ParseFieldName(kSqlErrTokenExpected, false);  // name not kept
    if (p.Accept(rwPRIMARY)) {
      p.Expect(rwKEY, kSqlErrTokenExpected);
      if (!PrimaryKeyFields.empty()) p.ErrorAt(kSqlErrTokenExpected, "Duplicate primary key at line %d, column %d", {}, p.Cur());
      PrimaryKeyFields = p.ParseNameList(kSqlErrFieldName);
    } else if (p.Accept(rwUNIQUE)) {
      UniqueFields.push_back(p.ParseNameList(kSqlErrFieldName));
    } else {
      TSDBColumnDef col;
      const TToken* nameTok = p.Cur();
      p.ParseColumnDef(col, true);
      for (const auto& c : Columns)
        if (SDBSameName(c.Name, col.Name))
          p.ErrorAt(kSqlErrFieldName, "Duplicate field name '%s' at line %d, column %d", {col.Name}, nameTok);
      if (col.PrimaryKey) {
        if (!PrimaryKeyFields.empty()) p.ErrorAt(kSqlErrTokenExpected, "Duplicate primary key at line %d, column %d", {}, p.Cur());
        PrimaryKeyFields.push_back(col.Name);
      }
      if (col.Unique) UniqueFields.push_back({col.Name});
      Columns.push_back(std::move(col));
    }
    if (p.AcceptKind(tktComma)) continue;
    if (p.AcceptKind(tktRightParenthesis)) break;
    p.Expected(kSqlErrParenOrComma, "')' or ',' symbol");
  }
  if (Columns.empty()) p.Expected(kSqlErrFieldName, "Field name");
  p.ExpectEnd();
}

void TSDBDDLCreateTable::Dump(std::string& out, int indent) const {
  Line(out, indent, std::string("TSDBDDLCreateTable") + (IfNotExists ? " IF NOT EXISTS" : ""));
  Table.Dump(out, indent + 1);
  for (const auto& c : Columns) c.Dump(out, indent + 1);
  if (!PrimaryKeyFields.empty()) Line(out, indent + 1, "PrimaryKey: " + JoinNames(PrimaryKeyFields));
  for (const auto& u : UniqueFields) Line(out, indent + 1, "Unique: " + JoinNames(u));
}

TSDBDDLDropTable::TSDBDDLDropTable(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwDROP, kSqlErrTokenExpected);
  p.Expect(rwTABLE, kSqlErrTokenExpected);
  IfExists = AcceptIfExists(p, false);
  p.ParseTableTarget(Table, kSqlErrTableName, true);
  IntoMemory = Table.InMemory;
  p.ExpectEnd();
}

void TSDBDDLDropTable::Dump(std::string& out, int indent) const {
  Line(out, indent, std::string("TSDBDDLDropTable") + (IfExists ? " IF EXISTS" : ""));
  Table.Dump(out, indent + 1);
}

TSDBDDLAlterTable::TSDBDDLAlterTable(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwALTER, kSqlErrTokenExpected);
  p.Expect(rwTABLE, kSqlErrTokenExpected);
  p.ParseTableTarget(Table, kSqlErrTableName, true);
  IntoMemory = Table.InMemory;
  do {
    TSDBAlterAction a;
    if (p.Accept(rwADD)) {
      a.ActionType = aatAdd;
      p.Accept(rwCOLUMN);
      p.ParseColumnDef(a.Column, false);
    } else if (p.Accept(rwDROP)) {
      a.ActionType = aatDrop;
      p.Accept(rwCOLUMN);
      a.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
    } else if (p.Accept(rwMODIFY)) {
      a.ActionType = aatModify;
      p.Accept(rwCOLUMN);
      p.ParseColumnDef(a.Column, false);
    } else if (p.Accept(rwRENAME)) {
      a.ActionType = aatRename;
      p.Accept(rwCOLUMN);
      a.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
      p.Expect(rwTO, kSqlErrTokenExpected);
      a.NewName = p.ParseFieldName(kSqlErrFieldName, false);
    } else {
      p.Expected(kSqlErrTokenExpected, "ADD, DROP, MODIFY or RENAME");
    }
    Actions.push_back(std::move(a));
  } while (p.AcceptKind(tktComma));
  p.ExpectEnd();
}

void TSDBDDLAlterTable::Dump(std::string& out, int indent) const {
  Line(out, indent, "TSDBDDLAlterTable");
  Table.Dump(out, indent + 1);
  for (const auto& a : Actions) {
    switch (a.ActionType) {
      case aatAdd:
        Line(out, indent + 1, "Add");
        a.Column.Dump(out, indent + 2);
        break;
      case aatModify:
        Line(out, indent + 1, "Modify");
        a.Column.Dump(out, indent + 2);
        break;
      case aatDrop:
        Line(out, indent + 1, "Drop " + a.FieldName);
        break;
      case aatRename:
        Line(out, indent + 1, "Rename " + a.FieldName + " To " + a.NewName);
        break;
    }
  }
}

TSDBDDLRenameTable::TSDBDDLRenameTable(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwRENAME, kSqlErrTokenExpected);
  p.Accept(rwTABLE);
  p.ParseTableTarget(Table, kSqlErrTableName, true);
  IntoMemory = Table.InMemory;
  p.Expect(rwTO, kSqlErrTokenExpected);
  NewTableName = p.ParseTableName(kSqlErrTableName);
  p.ExpectEnd();
}

void TSDBDDLRenameTable::Dump(std::string& out, int indent) const {
  Line(out, indent, "TSDBDDLRenameTable NewTableName=" + NewTableName);
  Table.Dump(out, indent + 1);
}

TSDBDDLTruncateTable::TSDBDDLTruncateTable(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwTRUNCATE, kSqlErrTokenExpected);
  p.Accept(rwTABLE);
  p.ParseTableTarget(Table, kSqlErrTableName, true);
  IntoMemory = Table.InMemory;
  p.ExpectEnd();
}

void TSDBDDLTruncateTable::Dump(std::string& out, int indent) const {
  Line(out, indent, "TSDBDDLTruncateTable");
  Table.Dump(out, indent + 1);
}

TSDBDDLCreateIndex::TSDBDDLCreateIndex(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwCREATE, kSqlErrTokenExpected);
  if (p.Accept(rwUNIQUE)) Unique = true;
  p.Expect(rwINDEX, kSqlErrTokenExpected);
  IfNotExists = AcceptIfExists(p, true);
  {
    const TToken* t = p.Cur();
    if (!p.IsTableNameToken(t)) p.Expected(kSqlErrIndexName, "Index name");
    IndexName = p.TokenName(t);
    p.Next();
  }
  p.Expect(rwON, kSqlErrTokenExpected);
  p.ParseTableTarget(Table, kSqlErrTableName, true);
  IntoMemory = Table.InMemory;
  if (!p.IsKind(tktLeftParenthesis)) p.Expected(kSqlErrLeftParen, "'(' symbol");
  p.Next();
  while (true) {
    TSDBIndexColumnDef c;
    c.FieldName = p.ParseFieldName(kSqlErrFieldName, false);
    // ASC / DESC and NOCASE in either order.
    for (int i = 0; i < 2; ++i) {
      if (p.Accept(rwDESC)) c.Descending = true;
      else if (p.Accept(rwASC)) c.Descending = false;
      if (p.Accept(rwNOCASE)) c.CaseInsensitive = true;
    }
    Columns.push_back(std::move(c));
    if (p.AcceptKind(tktComma)) continue;
    if (p.AcceptKind(tktRightParenthesis)) break;
    p.Expected(kSqlErrParenOrComma, "')' or ',' symbol");
  }
  p.ExpectEnd();
}

void TSDBDDLCreateIndex::Dump(std::string& out, int indent) const {
  Line(out, indent, std::string("TSDBDDLCreateIndex") + (Unique ? " UNIQUE" : "") + (IfNotExists ? " IF NOT EXISTS" : "") +
                        " IndexName=" + IndexName);
  Table.Dump(out, indent + 1);
  for (const auto& c : Columns)
    Line(out, indent + 1, "Column " + c.FieldName + (c.Descending ? " DESC" : " ASC") + (c.CaseInsensitive ? " NOCASE" : ""));
}

TSDBDDLDropIndex::TSDBDDLDropIndex(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwDROP, kSqlErrTokenExpected);
  p.Expect(rwINDEX, kSqlErrTokenExpected);
  IfExists = AcceptIfExists(p, false);
  // DROP INDEX table.index | DROP INDEX index ON table
  const TToken* t = p.Cur();
  if (!p.IsTableNameToken(t)) p.Expected(kSqlErrIndexName, "Index name");
  std::string first = p.TokenName(t);
  p.Next();
  if (p.AcceptKind(tktDot)) {
    Table.TableName = first;
    const TToken* i = p.Cur();
    if (!p.IsTableNameToken(i)) p.Expected(kSqlErrIndexName, "Index name");
    IndexName = p.TokenName(i);
    p.Next();
  } else {
    IndexName = first;
    p.Expect(rwON, kSqlErrTokenExpected);
    p.ParseTableTarget(Table, kSqlErrTableName, true);
  }
  IntoMemory = Table.InMemory;
  p.ExpectEnd();
}

void TSDBDDLDropIndex::Dump(std::string& out, int indent) const {
  Line(out, indent, std::string("TSDBDDLDropIndex") + (IfExists ? " IF EXISTS" : "") + " IndexName=" + IndexName);
  Table.Dump(out, indent + 1);
}

// ---------------------------------------------------------------- transactions

TSDBSQLStartTransaction::TSDBSQLStartTransaction(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwSTART, kSqlErrTokenExpected);
  p.Expect(rwTRANSACTION, kSqlErrTokenExpected);
  p.ExpectEnd();
}

void TSDBSQLStartTransaction::Dump(std::string& out, int indent) const { Line(out, indent, "TSDBSQLStartTransaction"); }

TSDBSQLCommit::TSDBSQLCommit(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwCOMMIT, kSqlErrTokenExpected);
  p.Accept(rwWORK);
  if (p.Accept(rwFLUSH)) Flush = true;
  p.ExpectEnd();
}

void TSDBSQLCommit::Dump(std::string& out, int indent) const {
  Line(out, indent, std::string("TSDBSQLCommit") + (Flush ? " FLUSH" : ""));
}

TSDBSQLRollback::TSDBSQLRollback(TSDBLexer* lex, TSDBQuery* query) : TSDBSQLCommand(lex, query) {
  TSDBSQLParser p(*lex, query);
  p.Expect(rwROLLBACK, kSqlErrTokenExpected);
  p.Accept(rwWORK);
  p.ExpectEnd();
}

void TSDBSQLRollback::Dump(std::string& out, int indent) const { Line(out, indent, "TSDBSQLRollback"); }

// ---------------------------------------------------------------- dispatch

std::unique_ptr<TSDBSQLCommand> SDBCreateSQLCommand(TSDBLexer& lex, TSDBQuery* query) {
  TSQLCommand* cmd = lex.CurrentCommand();
  if (!cmd) throw ESDBException(kSqlErrNoCommand, "Blank SQL command");
  if (cmd->NumTokens() == 0) throw ESDBException(kSqlErrNoToken, "Blank SQL command");
  cmd->CurrentTokenNo = 0;
  lex.ParseDepth = 0;
  lex.ParseSteps = 0;
  TSDBSQLParser p(lex, query);
  const TToken* first = p.Cur();
  if (first->TokenType == tktLeftParenthesis) return std::make_unique<TSDBSQLUnion>(&lex, query);
  if (first->TokenType != tktReservedWord)
    p.ErrorAt(kSqlErrNotSqlToken, "SQL token expected, but '%s' found at line %d, column %d", {first->Text}, first);
  const TToken* second = p.Peek(1);
  auto objectExpected = [&](int code) {
    p.ErrorAt(code, "Object type keyword expected, but '%s' found at line %d, column %d", {second->Text}, second);
  };
  switch (first->ReservedWord) {
    case rwSELECT:
      return std::make_unique<TSDBSQLUnion>(&lex, query);
    case rwINSERT:
      return std::make_unique<TSDBSQLInsert>(&lex, query);
    case rwUPDATE:
      return std::make_unique<TSDBSQLUpdate>(&lex, query);
    case rwDELETE:
      return std::make_unique<TSDBSQLDelete>(&lex, query);
    case rwCREATE:
      if (!second) p.ErrorAt(kSqlErrCreateEnd, "Unexpected end of SQL command found at line %d, column %d", {}, nullptr);
      if (second->Is(rwTABLE)) return std::make_unique<TSDBDDLCreateTable>(&lex, query);
      if (second->Is(rwUNIQUE) || second->Is(rwINDEX)) return std::make_unique<TSDBDDLCreateIndex>(&lex, query);
      objectExpected(kSqlErrCreateObject);
      break;
    case rwDROP:
      if (!second) p.ErrorAt(kSqlErrDropEnd, "Unexpected end of SQL command found at line %d, column %d", {}, nullptr);
      if (second->Is(rwTABLE)) return std::make_unique<TSDBDDLDropTable>(&lex, query);
      if (second->Is(rwINDEX)) return std::make_unique<TSDBDDLDropIndex>(&lex, query);
      objectExpected(kSqlErrDropObject);
      break;
    case rwALTER:
      if (!second) p.ErrorAt(kSqlErrAlterEnd, "Unexpected end of SQL command found at line %d, column %d", {}, nullptr);
      if (second->Is(rwTABLE)) return std::make_unique<TSDBDDLAlterTable>(&lex, query);
      objectExpected(kSqlErrAlterObject);
      break;
    case rwRENAME:
      if (!second) p.ErrorAt(kSqlErrRenameEnd, "Unexpected end of SQL command found at line %d, column %d", {}, nullptr);
      return std::make_unique<TSDBDDLRenameTable>(&lex, query);
    case rwTRUNCATE:
      return std::make_unique<TSDBDDLTruncateTable>(&lex, query);
    case rwSTART:
      return std::make_unique<TSDBSQLStartTransaction>(&lex, query);
    case rwCOMMIT:
      return std::make_unique<TSDBSQLCommit>(&lex, query);
    case rwROLLBACK:
      return std::make_unique<TSDBSQLRollback>(&lex, query);
    default:
      break;
  }
  p.ErrorAt(kSqlErrUnknownStatement, "SQL token expected, but '%s' found at line %d, column %d", {first->Text}, first);
}

}  // namespace sdb
