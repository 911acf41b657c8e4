#include "sql/SDBSQLParser.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "sdb/SDBText.h"
#include "sql/SDBSQLStatements.h"
#include "common/SDBNames.h"

namespace sdb {


TSDBParseDepthGuard::TSDBParseDepthGuard(const TSDBSQLParser& p) : FLex(p.Lex) {
  if (++FLex.ParseDepth > kSqlMaxParseDepth) {
    --FLex.ParseDepth;
    p.ErrorAt(kSqlErrTooDeep, "SQL command is nested too deeply (more than %d levels) at line %d, column %d",
              {int64_t{kSqlMaxParseDepth}}, p.Cur());
  }
}

void TSDBParseChainGuard::Add() {
  ++FCount;
  if (++FParser.Lex.ParseDepth > kSqlMaxParseDepth)
    FParser.ErrorAt(kSqlErrTooDeep, "SQL command is nested too deeply (more than %d levels) at line %d, column %d",
                    {int64_t{kSqlMaxParseDepth}}, FParser.Cur());
}

// ---------------------------------------------------------------- tokens

std::string TSDBSQLParser::TokensText(int from, int to) const {
  const TSQLCommand* cmd = Lex.CurrentCommand();
  std::string out;
  if (!cmd) return out;
  for (int i = from; i < to && i < cmd->NumTokens(); ++i) {
    const TToken& t = cmd->Tokens[static_cast<size_t>(i)];
    if (!out.empty()) out += ' ';
    if (t.TokenType == tktQuotedString) {
      out += '\'';
      for (char c : t.Text) out += c == '\'' ? std::string("''") : std::string(1, c);
      out += '\'';
    } else if (t.TokenType == tktParameter && t.ParamValue) {
      Lex.ParamValuesRead = true;
      out += SDBValueText(*t.ParamValue);
    } else if (t.Backquoted) {
      out += "`" + t.Text + "`";
    } else {
      out += t.Text;
    }
  }
  return out;
}

const TToken* TSDBSQLParser::Cur() const {
  const TToken* t = nullptr;
  Lex.GetCurrentToken(t);
  return t;
}

const TToken* TSDBSQLParser::Peek(int ahead) const {
  const TSQLCommand* cmd = Lex.CurrentCommand();
  if (!cmd) return nullptr;
  const int i = cmd->CurrentTokenNo + ahead;
  if (i < 0 || i >= cmd->NumTokens()) return nullptr;
  return &cmd->Tokens[static_cast<size_t>(i)];
}

void TSDBSQLParser::Next() {
  const TSQLCommand* cmd = Lex.CurrentCommand();
  const int64_t limit = 1000000 + int64_t{1000} * (cmd ? cmd->NumTokens() : 0);
  if (++Lex.ParseSteps > limit)
    ErrorAt(kSqlErrTooDeep, "SQL command is too complex to parse at line %d, column %d", {}, Cur());
  const TToken* t = nullptr;
  Lex.GetNextToken(t);
}

bool TSDBSQLParser::IsWord(TReservedWord rw) const {
  const TToken* t = Cur();
  return t && t->Is(rw);
}

bool TSDBSQLParser::IsSymbol(const char* symbol) const {
  const TToken* t = Cur();
  return t && t->IsSymbol(symbol);
}

bool TSDBSQLParser::IsKind(TTokenType kind) const {
  const TToken* t = Cur();
  return t && t->TokenType == kind;
}

bool TSDBSQLParser::Accept(TReservedWord rw) {
  if (!IsWord(rw)) return false;
  Next();
  return true;
}

bool TSDBSQLParser::AcceptSymbol(const char* symbol) {
  if (!IsSymbol(symbol)) return false;
  Next();
  return true;
}

bool TSDBSQLParser::AcceptKind(TTokenType kind) {
  if (!IsKind(kind)) return false;
  Next();
  return true;
}

void TSDBSQLParser::Expect(TReservedWord rw, int code) {
  if (!Accept(rw)) ExpectedToken(code, SDBReservedWordText(rw));
}

void TSDBSQLParser::ExpectSymbol(const char* symbol, int code) {
  if (!AcceptSymbol(symbol)) ExpectedToken(code, symbol);
}

void TSDBSQLParser::ExpectKind(TTokenType kind, const char* text, int code) {
  if (!AcceptKind(kind)) ExpectedToken(code, text);
}

void TSDBSQLParser::ExpectEnd() {
  if (const TToken* t = Cur())
    ErrorAt(kSqlErrEndExpected, "End of SQL command expected, but '%s' found at line %d, column %d",
            {t->Text}, t);
}

// ---------------------------------------------------------------- errors

void TSDBSQLParser::ErrorAt(int code, const std::string& fmt, TSDBFormatArgs args, const TToken* t) const {
  int line = 1, col = 1;
  if (t) {
    line = t->LineNum;
    col = t->ColumnNum;
  } else if (const TSQLCommand* cmd = Lex.CurrentCommand()) {
    line = cmd->EndLineNum;
    col = cmd->EndColumnNum;
  }
  args.emplace_back(int64_t{line});
  args.emplace_back(int64_t{col});
  throw ESDBException(code, fmt, args);
}

void TSDBSQLParser::UnexpectedEnd(int code) const {
  ErrorAt(code, "Unexpected end of SQL command found at line %d, column %d", {}, nullptr);
}

void TSDBSQLParser::Expected(int code, const std::string& what) const {
  const TToken* t = Cur();
  if (!t) UnexpectedEnd();
  // A column named with a reserved word is a common slip: say so, and how
  // to use it as a name anyway. (Where a table name is missing, the word
  // found is usually the statement's next keyword: no hint there.)
  if (t->TokenType == tktReservedWord && what == "Field name")
    ErrorAt(code,
            what + " expected, but '%s' found ('%s' is a reserved word: write it in backquotes, `%s`, "
                   "to use it as a name) at line %d, column %d",
            {t->Text, t->Text, t->Text}, t);
  ErrorAt(code, what + " expected, but '%s' found at line %d, column %d", {t->Text}, t);
}

void TSDBSQLParser::ExpectedToken(int code, const std::string& token) const {
  const TToken* t = Cur();
  if (!t) UnexpectedEnd();
  ErrorAt(code, "Token '%s' expected, but '%s' found at line %d, column %d", {token, t->Text}, t);
}

// ---------------------------------------------------------------- names

bool TSDBSQLParser::IsIdentifier(const TToken* t) {
  if (!t) return false;
  if (t->TokenType == tktBracketedString) return true;
  if (t->TokenType != tktString) return false;
  if (t->Backquoted) return true;
  if (t->Text.empty()) return false;
  const unsigned char c = static_cast<unsigned char>(t->Text[0]);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$' || c == '#' ||
         c == '@' || c >= 0x80;
}

bool TSDBSQLParser::IsTableNameToken(const TToken* t) const {
  return IsIdentifier(t) || (t && (t->TokenType == tktQuotedString || t->TokenType == tktParameter));
}

std::string TSDBSQLParser::TokenName(const TToken* t) const {
  if (t->TokenType == tktParameter) {
    Lex.ParamValuesRead = true;
    if (!t->ParamValue || t->ParamValue->IsNull()) return {};
    try {
      return t->ParamValue->AsString();
    } catch (const ESDBException&) {
      return {};
    }
  }
  return t->Text;
}

std::string TSDBSQLParser::ParseTableName(int code) {
  const TToken* t = Cur();
  if (!IsTableNameToken(t)) Expected(code, "Table name");
  std::string name = TokenName(t);
  if (name.empty()) Expected(code, "Table name");
  Next();
  return name;
}

void TSDBSQLParser::ParseTableTarget(TSDBDDLTableName& target, int code, bool allowPassword) {
  if (Accept(rwMEMORY)) target.InMemory = true;
  target.TableName = ParseTableName(code);
  if (IsKind(tktDot)) {
    Next();
    target.DatabaseFileName = target.TableName;
    target.TableName = ParseTableName(code);
  }
  if (allowPassword && Accept(rwPASSWORD)) {
    const TToken* t = Cur();
    if (!t || (t->TokenType != tktQuotedString && t->TokenType != tktParameter))
      Expected(kSqlErrQuoted, "Quoted string");
    target.Password = TokenName(t);
    Next();
  }
}

std::string TSDBSQLParser::ParseFieldName(int code, bool allowReserved) {
  const TToken* t = Cur();
  if (!t) UnexpectedEnd();
  const bool ok = IsIdentifier(t) || t->TokenType == tktQuotedString ||
                  (allowReserved && t->TokenType == tktReservedWord);
  if (!ok || t->Text.empty()) Expected(code, "Field name");
  std::string name = t->Text;
  Next();
  return name;
}

std::vector<std::string> TSDBSQLParser::ParseNameList(int code) {
  std::vector<std::string> names;
  if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
  Next();
  while (true) {
    names.push_back(ParseFieldName(code, true));
    if (AcceptKind(tktComma)) continue;
    if (AcceptKind(tktRightParenthesis)) break;
    Expected(kSqlErrParenOrComma, "')' or ',' symbol");
  }
  return names;
}

int64_t TSDBSQLParser::ParseInteger(int code, bool allowSign) {
  bool negative = false;
  if (allowSign && (IsSymbol("-") || IsSymbol("+"))) {
    negative = IsSymbol("-");
    Next();
  }
  const TToken* t = Cur();
  if (!t) UnexpectedEnd();
  int64_t v = 0;
  if (t->TokenType == tktInt) {
    const char* b = t->Text.data();
    const char* e = b + t->Text.size();
    auto [ptr, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || ptr != e) Expected(code, "Integer");
  } else if (t->TokenType == tktParameter && t->ParamValue && !t->ParamValue->IsNull()) {
    Lex.ParamValuesRead = true;
    try {
      v = t->ParamValue->AsInt64();
    } catch (const ESDBException&) {
      Expected(code, "Integer");
    }
  } else {
    Expected(code, "Integer");
  }
  if (negative && v == std::numeric_limits<int64_t>::min()) Expected(code, "Integer");
  Next();
  return negative ? -v : v;
}

// ---------------------------------------------------------------- expressions

namespace {

template <class T, class... A>
std::unique_ptr<T> MakeNode(const TToken* at, A&&... a) {
  auto n = std::make_unique<T>(std::forward<A>(a)...);
  if (at) {
    n->LineNum = at->LineNum;
    n->ColumnNum = at->ColumnNum;
  }
  return n;
}

bool IsNullTextOrDateConst(const TSDBExprNode* n) {
  const auto* c = SDBExprAs<TSDBExprNodeConst>(n);
  if (!c || !c->Value.IsNull()) return false;
  const TSDBBaseFieldType t = c->Value.DataType();
  return SDBIsTextType(t) || SDBIsDateTimeType(t);
}

// Node kinds that can never give a truth value.
bool CannotBeBoolean(const TSDBExprNode* n) {
  if (const auto* c = SDBExprAs<TSDBExprNodeConst>(n))
    return !c->IsParameter && !c->Value.IsNull() && c->Value.DataType() != bftLogical;
  return SDBExprAs<TSDBExprNodeArithmetic>(n) || SDBExprAs<TSDBExprNodeStringFunction>(n) ||
         SDBExprAs<TSDBExprNodeDateFunction>(n) || SDBExprAs<TSDBExprNodeAggregated>(n) ||
         SDBExprAs<TSDBExprNodeBlob>(n);
}

}  // namespace

std::unique_ptr<TSDBExpression> TSDBSQLParser::ParseCondition(int booleanCode) {
  const TToken* first = Cur();
  if (!first) UnexpectedEnd();
  auto root = ParseOr();
  if (CannotBeBoolean(root.get()))
    ErrorAt(booleanCode, "Boolean expression expected, but '%s' found at line %d, column %d", {first->Text}, first);
  return std::make_unique<TSDBExpression>(std::move(root));
}

std::unique_ptr<TSDBExpression> TSDBSQLParser::ParseValue() {
  return std::make_unique<TSDBExpression>(ParseOr());
}

TSDBExprNodePtr TSDBSQLParser::ParseOr() {
  TSDBParseDepthGuard guard(*this);
  const TToken* at = Cur();
  TSDBExprNodePtr first = ParseAnd();
  if (!IsWord(rwOR)) return first;
  auto node = MakeNode<TSDBExprNodeBoolean>(at, doOR);
  node->Add(std::move(first));
  while (Accept(rwOR)) node->Add(ParseAnd());
  return node;
}

TSDBExprNodePtr TSDBSQLParser::ParseAnd() {
  const TToken* at = Cur();
  TSDBExprNodePtr first = ParseNot();
  if (!IsWord(rwAND)) return first;
  auto node = MakeNode<TSDBExprNodeBoolean>(at, doAND);
  node->Add(std::move(first));
  while (Accept(rwAND)) node->Add(ParseNot());
  return node;
}

TSDBExprNodePtr TSDBSQLParser::ParseNot() {
  const TToken* at = Cur();
  if (Accept(rwNOT)) {
    TSDBParseDepthGuard guard(*this);
    auto node = MakeNode<TSDBExprNodeBoolean>(at, doNOT);
    node->Add(ParseNot());
    return node;
  }
  return ParseIsTest();
}

TSDBExprNodePtr TSDBSQLParser::ParseIsTest() {
  const TToken* at = Cur();
  TSDBExprNodePtr node = ParsePredicate();
  TSDBParseChainGuard chain(*this);
  // test := primary [IS [NOT] TRUE | FALSE | UNKNOWN]; IS [NOT] NULL is a
  // predicate and handled here as well, as both start with IS.
  while (IsWord(rwIS)) {
    chain.Add();
    Next();
    const bool negated = Accept(rwNOT);
    const TToken* what = Cur();
    if (!what) UnexpectedEnd();
    TSDBExprNodePtr test;
    if (what->Is(rwNULL) || what->Is(rwUNKNOWN)) {
      test = MakeNode<TSDBExprNodeComparison>(at, negated ? doISNOTNULL : doISNULL);
      test->Add(std::move(node));
    } else if (what->Is(rwTRUE) || what->Is(rwFALSE)) {
      test = MakeNode<TSDBExprNodeBoolean>(at, what->Is(rwTRUE) ? doTRUE : doFALSE);
      test->Add(std::move(node));
      if (negated) {
        auto n = MakeNode<TSDBExprNodeBoolean>(at, doNOT);
        n->Add(std::move(test));
        test = std::move(n);
      }
    } else {
      Expected(kSqlErrTokenExpected, "NULL, TRUE, FALSE or UNKNOWN");
    }
    Next();
    node = std::move(test);
  }
  return node;
}

TSDBExprNodePtr TSDBSQLParser::ParsePredicate() {
  const TToken* at = Cur();
  if (!at) UnexpectedEnd();
  if (Accept(rwEXISTS)) {
    if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
    auto node = MakeNode<TSDBExprNodeComparison>(at, doEXISTS);
    node->Add(MakeSubqueryNode());
    return node;
  }
  TSDBExprNodePtr left = ParseAdditive();
  const TToken* t = Cur();
  if (!t) return left;

  static const struct {
    const char* Symbol;
    TSDBDataOperator Op;
  } kComparisons[] = {{"=", doEQ}, {"<>", doNE}, {"<", doLT}, {">", doGT}, {"<=", doLE}, {">=", doGE}};
  for (const auto& cmp : kComparisons) {
    if (!t->IsSymbol(cmp.Symbol)) continue;
    Next();
    auto node = MakeNode<TSDBExprNodeComparison>(t, cmp.Op);
    const TToken* q = Cur();
    if (q && (q->Is(rwALL) || q->Is(rwANY) || q->Is(rwSOME))) {
      Next();
      node->Quantifier = q->Is(rwALL) ? cqAll : cqAny;
      if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
      node->Add(std::move(left));
      node->Add(MakeSubqueryNode());
      return node;
    }
    TSDBExprNodePtr right = ParseAdditive();
    // "column = <null text or date-time value>" means "column IS NULL": an
    // empty text parameter matches the rows whose column is null.
    if (cmp.Op == doEQ || cmp.Op == doNE) {
      TSDBExprNodePtr* field = nullptr;
      if (SDBExprAs<TSDBExprNodeField>(left.get()) && IsNullTextOrDateConst(right.get())) field = &left;
      if (SDBExprAs<TSDBExprNodeField>(right.get()) && IsNullTextOrDateConst(left.get())) field = &right;
      if (field) {
        auto isNull = MakeNode<TSDBExprNodeComparison>(t, cmp.Op == doEQ ? doISNULL : doISNOTNULL);
        isNull->Add(std::move(*field));
        return isNull;
      }
    }
    node->Add(std::move(left));
    node->Add(std::move(right));
    return node;
  }

  bool negated = false;
  if (t->Is(rwNOT)) {
    const TToken* n = Peek(1);
    if (!n || !(n->Is(rwBETWEEN) || n->Is(rwIN) || n->Is(rwLIKE))) return left;
    negated = true;
    Next();
    t = Cur();
  }
  if (t->Is(rwBETWEEN)) {
    Next();
    auto node = MakeNode<TSDBExprNodeComparison>(t, negated ? doNOTBETWEEN : doBETWEEN);
    node->Add(std::move(left));
    node->Add(ParseAdditive());
    Expect(rwAND, kSqlErrTokenExpected);
    node->Add(ParseAdditive());
    return node;
  }
  if (t->Is(rwIN)) {
    Next();
    auto node = MakeNode<TSDBExprNodeComparison>(t, negated ? doNOTIN : doIN);
    node->Add(std::move(left));
    if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
    if (QueryFollows()) {
      node->Add(MakeSubqueryNode());
      return node;
    }
    Next();
    while (true) {
      node->Add(ParseAdditive());
      if (AcceptKind(tktComma)) continue;
      if (AcceptKind(tktRightParenthesis)) break;
      Expected(kSqlErrParenOrComma, "')' or ',' symbol");
    }
    return node;
  }
  if (t->Is(rwLIKE)) {
    Next();
    auto node = MakeNode<TSDBExprNodeComparison>(t, negated ? doNOTLIKE : doLIKE);
    node->Add(std::move(left));
    node->Add(ParseAdditive());
    if (Accept(rwESCAPE)) {
      const TToken* e = Cur();
      if (!e || e->TokenType != tktQuotedString || e->Text.size() != 1)
        Expected(kSqlErrQuoted, "Single escape character");
      node->HasEscape = true;
      node->EscapeChar = e->Text[0];
      Next();
    }
    return node;
  }
  return left;
}

TSDBExprNodePtr TSDBSQLParser::ParseAdditive() {
  TSDBExprNodePtr left = ParseMultiplicative();
  TSDBParseChainGuard chain(*this);
  while (const TToken* t = Cur()) {
    TSDBDataOperator op;
    if (t->IsSymbol("+")) op = doADD;
    else if (t->IsSymbol("-")) op = doSUB;
    else if (t->IsSymbol("||")) op = doCONCAT;
    else break;
    chain.Add();
    Next();
    auto node = MakeNode<TSDBExprNodeArithmetic>(t, op);
    node->Add(std::move(left));
    node->Add(ParseMultiplicative());
    left = std::move(node);
  }
  return left;
}

TSDBExprNodePtr TSDBSQLParser::ParseMultiplicative() {
  TSDBExprNodePtr left = ParseUnary();
  TSDBParseChainGuard chain(*this);
  while (const TToken* t = Cur()) {
    TSDBDataOperator op;
    if (t->IsSymbol("*")) op = doMUL;
    else if (t->IsSymbol("/")) op = doDIV;
    else break;
    chain.Add();
    Next();
    auto node = MakeNode<TSDBExprNodeArithmetic>(t, op);
    node->Add(std::move(left));
    node->Add(ParseUnary());
    left = std::move(node);
  }
  return left;
}

TSDBExprNodePtr TSDBSQLParser::ParseUnary() {
  const TToken* t = Cur();
  if (t && (t->IsSymbol("-") || t->IsSymbol("+"))) {
    TSDBParseDepthGuard guard(*this);
    Next();
    TSDBExprNodePtr operand = ParseUnary();
    if (t->IsSymbol("+")) return operand;
    // A minus sign in front of a number literal is part of the literal.
    if (auto* c = SDBExprAs<TSDBExprNodeConst>(operand.get()); c && !c->IsParameter && !c->Value.IsNull()) {
      const TSDBBaseFieldType type = c->Value.DataType();
      if (SDBIsSignedIntType(type)) {
        c->Value = TSDBVariant::FromInt(-c->Value.AsInt64(), type);
        c->LineNum = t->LineNum;
        c->ColumnNum = t->ColumnNum;
        return operand;
      }
      if (type == bftDouble) {
        c->Value = TSDBVariant::FromDouble(-c->Value.AsDouble());
        c->LineNum = t->LineNum;
        c->ColumnNum = t->ColumnNum;
        return operand;
      }
    }
    auto node = MakeNode<TSDBExprNodeArithmetic>(t, doSUB);
    node->Add(std::move(operand));
    return node;
  }
  return ParsePrimary();
}

bool TSDBSQLParser::QueryFollows() const {
  int i = 0;
  const TToken* t = Peek(0);
  // (Deeper runs of "(" are refused by the depth limit anyway.)
  while (t && t->TokenType == tktLeftParenthesis && i <= kSqlMaxParseDepth) t = Peek(++i);
  return t && t->Is(rwSELECT) && i > 0;
}

std::unique_ptr<TSDBSQLUnion> TSDBSQLParser::ParseSubquery() {
  TSDBParseDepthGuard guard(*this);
  if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
  Next();
  auto q = std::make_unique<TSDBSQLUnion>(&Lex, Query, true);
  ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
  return q;
}

TSDBExprNodePtr TSDBSQLParser::MakeSubqueryNode() {
  const TToken* at = Cur();
  auto node = MakeNode<TSDBExprNodeSubquery>(at);
  node->Query = ParseSubquery();
  return node;
}

TSDBExprNodePtr TSDBSQLParser::ParsePrimary() {
  TSDBParseDepthGuard guard(*this);
  const TToken* t = Cur();
  if (!t) UnexpectedEnd();
  switch (t->TokenType) {
    case tktInt: {
      auto c = MakeNode<TSDBExprNodeConst>(t);
      int64_t v = 0;
      const char* b = t->Text.data();
      const char* e = b + t->Text.size();
      auto [ptr, ec] = std::from_chars(b, e, v);
      if (ec == std::errc() && ptr == e) {
        const bool small = v <= std::numeric_limits<int32_t>::max();
        c->Value = TSDBVariant::FromInt(v, small ? bftSignedInt32 : bftSignedInt64);
      } else {
        double d = 0;
        std::from_chars(b, e, d);
        c->Value = TSDBVariant::FromDouble(d);
      }
      Next();
      return c;
    }
    case tktFloat: {
      auto c = MakeNode<TSDBExprNodeConst>(t);
      double d = 0;
      const char* b = t->Text.data();
      const char* e = b + t->Text.size();
      auto [ptr, ec] = std::from_chars(b, e, d);
      if (ptr != e || (ec != std::errc() && ec != std::errc::result_out_of_range))
        ErrorAt(kSqlErrInvalidNumeric, "Invalid numeric symbol '%s' at line %d, column %d", {t->Text}, t);
      c->Value = TSDBVariant::FromDouble(d);
      Next();
      return c;
    }
    case tktQuotedString: {
      auto c = MakeNode<TSDBExprNodeConst>(t);
      c->Value = SDBTextValue(t->Text);
      Next();
      return c;
    }
    case tktParameter: {
      auto c = MakeNode<TSDBExprNodeConst>(t);
      if (t->ParamValue) c->Value = *t->ParamValue;
      c->IsParameter = true;
      c->ParamName = t->Text;
      c->ParamNo = t->ParamNo;
      if (Lex.ParamNodes) {
        Lex.ParamNodes->Nodes.push_back(c.get());
        c->ParamList = Lex.ParamNodes;
      }
      Next();
      return c;
    }
    case tktLeftParenthesis: {
      if (QueryFollows()) {
        // A scalar subquery, unless the parentheses hold an expression that
        // merely starts with one: "((SELECT ...) + 1)".
        const int save = Pos();
        try {
          return MakeSubqueryNode();
        } catch (const ESDBException& e) {
          if (e.NativeError() == kSqlErrTooDeep) throw;
          Restore(save);
        }
      }
      Next();
      TSDBExprNodePtr inner = ParseOr();
      ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
      return inner;
    }
    case tktReservedWord:
      switch (t->ReservedWord) {
        case rwNULL: {
          // The literal NULL is an integer-typed null.
          auto c = MakeNode<TSDBExprNodeConst>(t);
          c->Value = TSDBVariant(bftSignedInt32);
          Next();
          return c;
        }
        case rwTRUE:
        case rwFALSE: {
          auto c = MakeNode<TSDBExprNodeConst>(t);
          c->Value = TSDBVariant::FromBool(t->Is(rwTRUE));
          Next();
          return c;
        }
        case rwDATE:
        case rwTIME:
        case rwTIMESTAMP: {
          // DATE 'yyyy-mm-dd', TIME 'hh:mm[:ss[.zzz]]', TIMESTAMP 'yyyy-mm-dd hh:mm[:ss[.zzz]]'
          const TToken* lit = Peek(1);
          if (!lit || lit->TokenType != tktQuotedString) return ParseFunction(t);
          Next();
          Next();
          auto c = MakeNode<TSDBExprNodeConst>(t);
          int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0, used = 0;
          bool ok = false;
          double value = 0;
          const char* text = lit->Text.c_str();
          try {
            if (t->Is(rwDATE)) {
              ok = std::sscanf(text, "%4d-%2d-%2d%n", &y, &mo, &d, &used) == 3 && text[used] == 0;
              if (ok) value = SDBEncodeDate(y, mo, d);
            } else {
              const bool withDate = t->Is(rwTIMESTAMP);
              int n = 0;
              if (withDate) {
                ok = std::sscanf(text, "%4d-%2d-%2d%n", &y, &mo, &d, &n) == 3;
                text += n;
              } else {
                ok = true;
              }
              int got = ok ? std::sscanf(text, " %2d:%2d%n:%2d%n.%3d%n", &h, &mi, &used, &sec, &used, &ms, &used) : 0;
              ok = ok && got >= 2 && text[used] == 0 && h < 24 && mi < 60 && sec < 60 && h >= 0 && mi >= 0 &&
                   sec >= 0 && ms >= 0;
              if (ok) value = (withDate ? SDBEncodeDate(y, mo, d) : 0.0) + SDBEncodeTime(h, mi, sec, ms);
            }
          } catch (const ESDBException&) {
            ok = false;
          }
          if (!ok)
            ErrorAt(kSqlErrExpression, "Invalid date or time literal '%s' at line %d, column %d", {lit->Text}, lit);
          c->Value = TSDBVariant::FromDateTime(value, t->Is(rwDATE) ? bftDate : t->Is(rwTIME) ? bftTime : bftDateTime);
          return c;
        }
        case rwCASE:
          return ParseCase(t);
        case rwCAST:
          return ParseCast(t);
        default:
          return ParseFunction(t);
      }
    case tktString:
    case tktBracketedString: {
      if (!IsIdentifier(t)) Expected(kSqlErrExpression, "Expression");
      const TToken* n = Peek(1);
      if (n && n->TokenType == tktLeftParenthesis && !t->Backquoted && t->TokenType == tktString)
        ErrorAt(kSqlErrExpression, "Unknown function '%s' at line %d, column %d", {t->Text}, t);
      auto f = MakeNode<TSDBExprNodeField>(t);
      f->FieldName = t->Text;
      Next();
      if (IsKind(tktDot)) {
        Next();
        const TToken* c = Cur();
        if (!IsIdentifier(c)) Expected(kSqlErrFieldName, "Field name");
        f->TableName = f->FieldName;
        f->FieldName = c->Text;
        Next();
      }
      return f;
    }
    default:
      Expected(kSqlErrExpression, "Expression");
  }
}

std::vector<TSDBExprNodePtr> TSDBSQLParser::ParseArguments(size_t minCount, size_t maxCount, const TToken* fn) {
  std::vector<TSDBExprNodePtr> args;
  if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
  Next();
  if (maxCount == 0) {
    ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
    return args;
  }
  while (true) {
    args.push_back(ParseOr());
    if (args.size() < maxCount && AcceptKind(tktComma)) continue;
    if (AcceptKind(tktRightParenthesis)) break;
    Expected(kSqlErrParenOrComma, args.size() < maxCount ? "')' or ',' symbol" : "')' symbol");
  }
  if (args.size() < minCount)
    ErrorAt(kSqlErrExpression, "Wrong number of arguments for function '%s' at line %d, column %d", {fn->Text}, fn);
  return args;
}

TSDBExprNodePtr TSDBSQLParser::ParseFunction(const TToken* t) {
  struct TFunc {
    TReservedWord Word;
    TSDBDataOperator Op;
    int Kind;  // 0 arithmetic, 1 string, 2 date, 3 aggregate, 4 system, 5 blob
    size_t Min, Max;
  };
  static const TFunc kFuncs[] = {
      {rwUPPER, doUPPER, 1, 1, 1}, {rwLOWER, doLOWER, 1, 1, 1}, {rwLTRIM, doLTRIM, 1, 1, 2},
      {rwRTRIM, doRTRIM, 1, 1, 2}, {rwLENGTH, doLENGTH, 1, 1, 1}, {rwCHAR_LENGTH, doLENGTH, 1, 1, 1},
      {rwCHARACTER_LENGTH, doLENGTH, 1, 1, 1}, {rwPOS, doPOS, 1, 2, 2},
      {rwTODATE, doTODATE, 2, 1, 2}, {rwTOSTRING, doTOSTRING, 2, 1, 2},
      {rwMIMETOBIN, doMIMETOBIN, 5, 1, 1},
      {rwABS, doABS, 0, 1, 1}, {rwACOS, doACOS, 0, 1, 1}, {rwASIN, doASIN, 0, 1, 1},
      {rwATAN, doATAN, 0, 1, 1}, {rwCEIL, doCEIL, 0, 1, 1}, {rwCOS, doCOS, 0, 1, 1},
      {rwEXP, doEXP, 0, 1, 1}, {rwFLOOR, doFLOOR, 0, 1, 1}, {rwLOG, doLOG, 0, 1, 2},
      {rwPOWER, doPOWER, 0, 2, 2}, {rwSIGN, doSIGN, 0, 1, 1}, {rwSIN, doSIN, 0, 1, 1},
      {rwSQR, doSQR, 0, 1, 1}, {rwSQRT, doSQRT, 0, 1, 1},
  };
  const TReservedWord rw = t->ReservedWord;
  for (const TFunc& f : kFuncs) {
    if (f.Word != rw) continue;
    Next();
    TSDBExprNodePtr node;
    switch (f.Kind) {
      case 0: node = MakeNode<TSDBExprNodeArithmetic>(t, f.Op); break;
      case 1: node = MakeNode<TSDBExprNodeStringFunction>(t, f.Op); break;
      case 2: node = MakeNode<TSDBExprNodeDateFunction>(t, f.Op); break;
      default: node = MakeNode<TSDBExprNodeBlob>(t, f.Op); break;
    }
    for (auto& a : ParseArguments(f.Min, f.Max, t)) node->Add(std::move(a));
    return node;
  }

  switch (rw) {
    case rwSYSDATE:
    case rwNOW:
    case rwCURRENT_TIMESTAMP:
    case rwCURRENT_DATE:
    case rwCURRENT_TIME: {
      Next();
      const TSDBDataOperator op = rw == rwCURRENT_DATE ? doCURRENT_DATE
                                  : rw == rwCURRENT_TIME ? doCURRENT_TIME
                                                         : doSYSDATE;
      // The parentheses are optional: SYSDATE or SYSDATE().
      if (IsKind(tktLeftParenthesis) && Peek(1) && Peek(1)->TokenType == tktRightParenthesis) {
        Next();
        Next();
      }
      return MakeNode<TSDBExprNodeDateFunction>(t, op);
    }
    case rwROWNUM: {
      Next();
      if (IsKind(tktLeftParenthesis) && Peek(1) && Peek(1)->TokenType == tktRightParenthesis) {
        Next();
        Next();
      }
      return MakeNode<TSDBExprNodeSystem>(t, doROWNUM);
    }
    case rwRAND: {
      Next();
      auto node = MakeNode<TSDBExprNodeArithmetic>(t, doRAND);
      if (IsKind(tktLeftParenthesis)) {
        if (Peek(1) && Peek(1)->TokenType == tktRightParenthesis) {
          Next();
          Next();
        } else {
          for (auto& a : ParseArguments(1, 1, t)) node->Add(std::move(a));
        }
      }
      return node;
    }
    case rwROUND: {
      // ROUND(value [, digits [, mode]]), mode one of HALFEVEN ... RNDUP.
      Next();
      auto node = MakeNode<TSDBExprNodeArithmetic>(t, doROUND);
      if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
      Next();
      node->Add(ParseOr());
      if (AcceptKind(tktComma)) {
        node->Add(ParseOr());
        if (AcceptKind(tktComma)) {
          const TToken* m = Cur();
          if (!m || m->TokenType != tktReservedWord || m->ReservedWord < rwHALFEVEN || m->ReservedWord > rwRNDUP)
            Expected(kSqlErrTokenExpected, "Rounding mode");
          node->RoundMode = m->ReservedWord;
          Next();
        }
      }
      ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
      return node;
    }
    case rwLAST_AUTOINC: {
      // LASTAUTOINC(table, field)
      Next();
      auto node = MakeNode<TSDBExprNodeSystem>(t, doLASTAUTOINC);
      if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
      Next();
      node->TableName = ParseTableName(kSqlErrTableName);
      ExpectKind(tktComma, ",", kSqlErrTokenExpected);
      node->FieldName = ParseFieldName(kSqlErrFieldName, false);
      ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
      return node;
    }
    case rwSUM:
    case rwAVG:
    case rwMIN:
    case rwMAX:
    case rwCOUNT: {
      Next();
      const TSDBDataOperator op = rw == rwSUM ? doSUM : rw == rwAVG ? doAVG : rw == rwMIN ? doMIN
                                  : rw == rwMAX ? doMAX : doCOUNT;
      auto node = MakeNode<TSDBExprNodeAggregated>(t, op);
      if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
      Next();
      if (rw == rwCOUNT && IsSymbol("*")) {
        Next();
        node->Operator = doCOUNTALL;
      } else {
        if (Accept(rwDISTINCT)) node->Distinct = true;
        else Accept(rwALL);
        node->Add(ParseOr());
      }
      ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
      return node;
    }
    case rwTRIM: {
      // TRIM(s) | TRIM([BOTH | LEADING | TRAILING] [c] FROM s)
      Next();
      auto node = MakeNode<TSDBExprNodeStringFunction>(t, doTRIM);
      if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
      Next();
      node->TrimSide = rwBOTH;
      bool sideGiven = false;
      if (IsWord(rwBOTH) || IsWord(rwLEADING) || IsWord(rwTRAILING)) {
        node->TrimSide = Cur()->ReservedWord;
        sideGiven = true;
        Next();
      }
      if (sideGiven && Accept(rwFROM)) {
        node->Add(ParseOr());
      } else {
        TSDBExprNodePtr first = ParseOr();
        if (Accept(rwFROM)) {
          node->Add(ParseOr());
          node->Add(std::move(first));
        } else if (sideGiven) {
          Expected(kSqlErrTokenExpected, "Token 'FROM'");
        } else {
          node->Add(std::move(first));
          if (AcceptKind(tktComma)) node->Add(ParseOr());
        }
      }
      ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
      return node;
    }
    case rwSUBSTRING: {
      // SUBSTRING(s FROM start [FOR length]) | SUBSTRING(s, start [, length])
      Next();
      auto node = MakeNode<TSDBExprNodeStringFunction>(t, doSUBSTRING);
      if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
      Next();
      node->Add(ParseOr());
      if (Accept(rwFROM)) {
        node->Add(ParseOr());
        if (Accept(rwFOR)) node->Add(ParseOr());
      } else {
        ExpectKind(tktComma, ",", kSqlErrTokenExpected);
        node->Add(ParseOr());
        if (AcceptKind(tktComma)) node->Add(ParseOr());
      }
      ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
      return node;
    }
    case rwPOSITION: {
      // POSITION(sub IN s) or POSITION(sub, s)
      Next();
      auto node = MakeNode<TSDBExprNodeStringFunction>(t, doPOS);
      if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
      Next();
      node->Add(ParseAdditive());
      if (!Accept(rwIN)) ExpectKind(tktComma, ",", kSqlErrTokenExpected);
      node->Add(ParseAdditive());
      ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
      return node;
    }
    case rwEXTRACT: {
      // EXTRACT(YEAR | MONTH | DAY | HOUR | MINUTE | SECOND FROM value)
      Next();
      auto node = MakeNode<TSDBExprNodeDateFunction>(t, doEXTRACT);
      if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
      Next();
      const TToken* part = Cur();
      if (!part || !(part->Is(rwYEAR) || part->Is(rwMONTH) || part->Is(rwDAY) || part->Is(rwHOUR) ||
                     part->Is(rwMINUTE) || part->Is(rwSECOND)))
        Expected(kSqlErrTokenExpected, "Date part");
      node->ExtractPart = part->ReservedWord;
      Next();
      Expect(rwFROM, kSqlErrTokenExpected);
      node->Add(ParseOr());
      ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
      return node;
    }
    case rwCOALESCE:
    case rwNULLIF: {
      Next();
      auto node = MakeNode<TSDBExprNodeCase>(t);
      node->CaseKind = rw == rwCOALESCE ? ckCoalesce : ckNullIf;
      auto args = rw == rwCOALESCE ? ParseArguments(1, 1000000, t) : ParseArguments(2, 2, t);
      for (auto& a : args) node->Add(std::move(a));
      return node;
    }
    default:
      Expected(kSqlErrExpression, "Expression");
  }
}

TSDBExprNodePtr TSDBSQLParser::ParseCase(const TToken* t) {
  Next();
  auto node = MakeNode<TSDBExprNodeCase>(t);
  if (!IsWord(rwWHEN)) {
    node->CaseKind = ckSimple;
    node->Add(ParseAdditive());
  }
  if (!IsWord(rwWHEN)) ExpectedToken(kSqlErrTokenExpected, "WHEN");
  while (Accept(rwWHEN)) {
    node->Add(node->CaseKind == ckSimple ? ParseAdditive() : ParseOr());
    Expect(rwTHEN, kSqlErrTokenExpected);
    node->Add(ParseOr());
  }
  if (Accept(rwELSE)) {
    node->HasElse = true;
    node->Add(ParseOr());
  }
  Expect(rwEND, kSqlErrTokenExpected);
  return node;
}

TSDBExprNodePtr TSDBSQLParser::ParseCast(const TToken* t) {
  Next();
  auto node = MakeNode<TSDBExprNodeCast>(t);
  if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
  Next();
  node->Add(ParseOr());
  Expect(rwAS, kSqlErrTokenExpected);
  const TToken* type = Cur();
  if (!type) UnexpectedEnd();
  const auto found = (type->TokenType == tktString || type->TokenType == tktReservedWord)
                         ? SDBFindSQLTypeName(type->Text)
                         : std::nullopt;
  if (!found) ErrorAt(kSqlErrDataType, "Unknown data type '%s' at line %d, column %d", {type->Text}, type);
  node->TypeName = found->Name;
  node->AdvancedType = found->AdvancedType;
  node->BaseType = found->BaseType;
  Next();
  if (AcceptKind(tktLeftParenthesis)) {
    node->Size = static_cast<int>(ParseInteger(kSqlErrInteger, false));
    ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
  }
  ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
  return node;
}

// ---------------------------------------------------------------- table references

std::unique_ptr<TSDBTableReference> TSDBSQLParser::ParseTablePrimary() {
  TSDBParseDepthGuard guard(*this);
  auto ref = std::make_unique<TSDBTableReference>();
  auto pseudonym = [&](bool required) {
    const bool as = Accept(rwAS);
    const TToken* p = Cur();
    if (IsIdentifier(p) || (p && p->TokenType == tktQuotedString)) {
      ref->Pseudonym = p->Text;
      Next();
    } else if (as || required) {
      Expected(kSqlErrPseudonym, "Pseudonym");
    }
  };
  if (IsKind(tktLeftParenthesis)) {
    if (QueryFollows()) {
      const int save = Pos();
      try {
        ref->TableType = attSubQuery;
        ref->SubQuery = ParseSubquery();
        pseudonym(false);
        return ref;
      } catch (const ESDBException& e) {
        if (e.NativeError() == kSqlErrTooDeep) throw;
        // "((SELECT ...) AS a JOIN b ON ...)": parenthesised joined tables.
        Restore(save);
        ref->SubQuery.reset();
        ref->TableType = attTable;
      }
    }
    Next();
    auto inner = ParseJoinedTable();
    ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
    return inner;
  }
  TSDBDDLTableName target;
  ParseTableTarget(target, kSqlErrTableName, true);
  ref->InMemory = target.InMemory;
  ref->DatabaseName = target.DatabaseFileName;
  ref->TableName = target.TableName;
  ref->Password = target.Password;
  pseudonym(false);
  if (ref->Password.empty() && Accept(rwPASSWORD)) {
    const TToken* p = Cur();
    if (!p || (p->TokenType != tktQuotedString && p->TokenType != tktParameter))
      Expected(kSqlErrQuoted, "Quoted string");
    ref->Password = TokenName(p);
    Next();
  }
  return ref;
}

std::unique_ptr<TSDBTableReference> TSDBSQLParser::ParseJoinedTable() {
  auto left = ParseTablePrimary();
  TSDBParseChainGuard chain(*this);
  while (true) {
    const int save = Pos();
    bool natural = Accept(rwNATURAL);
    TSDBJoinType type = ajtInner;
    bool typed = natural;
    if (Accept(rwINNER)) {
      typed = true;
    } else if (Accept(rwLEFT)) {
      type = ajtLeftOuter;
      typed = true;
      Accept(rwOUTER);
    } else if (Accept(rwRIGHT)) {
      type = ajtRightOuter;
      typed = true;
      Accept(rwOUTER);
    } else if (Accept(rwFULL)) {
      type = ajtFullOuter;
      typed = true;
      Accept(rwOUTER);
    } else if (Accept(rwCROSS)) {
      type = ajtCross;
      typed = true;
    }
    if (!IsWord(rwJOIN)) {
      if (typed) ExpectedToken(kSqlErrTokenExpected, "JOIN");
      Restore(save);
      return left;
    }
    Next();
    chain.Add();
    auto join = std::make_unique<TSDBTableReference>();
    join->TableType = attJoinedTable;
    join->JoinType = type;
    join->NaturalJoin = natural;
    join->LeftTable = std::move(left);
    join->RightTable = ParseTablePrimary();
    if (type != ajtCross && !natural) {
      if (Accept(rwON)) {
        join->SearchCondition = ParseCondition(kSqlErrBooleanOn);
      } else if (Accept(rwUSING)) {
        join->UsingFields = ParseNameList(kSqlErrFieldName);
      } else {
        ExpectedToken(kSqlErrTokenExpected, "ON");
      }
    }
    left = std::move(join);
  }
}

// ---------------------------------------------------------------- column definitions

void TSDBSQLParser::ParseColumnDef(TSDBColumnDef& col, bool inCreateTable) {
  (void)inCreateTable;
  col.Name = ParseFieldName(kSqlErrFieldName, false);
  const TToken* type = Cur();
  if (!type) UnexpectedEnd();
  const auto found = (type->TokenType == tktString || type->TokenType == tktReservedWord)
                         ? SDBFindSQLTypeName(type->Text)
                         : std::nullopt;
  if (!found) ErrorAt(kSqlErrDataType, "Unknown data type '%s' at line %d, column %d", {type->Text}, type);
  col.TypeName = found->Name;
  col.AdvancedType = found->AdvancedType;
  col.BaseType = found->BaseType;
  Next();
  if (col.TypeName == "DOUBLE") Accept(rwPRECISION);
  const TToken* afterParen = Peek(1);
  if (IsKind(tktLeftParenthesis) && afterParen &&
      (afterParen->TokenType == tktInt || afterParen->TokenType == tktParameter)) {
    Next();
    const int64_t size = ParseInteger(kSqlErrInteger, false);
    if (size < 0 || size > 0x7FFFFFFF) Expected(kSqlErrInteger, "Integer");
    col.Size = static_cast<int>(size);
    if (AcceptKind(tktComma)) {
      const int64_t prec = ParseInteger(kSqlErrInteger, false);
      if (prec < 0 || prec > 0x7FFFFFFF) Expected(kSqlErrInteger, "Integer");
      col.Precision = static_cast<int>(prec);
    }
    ExpectKind(tktRightParenthesis, ")", kSqlErrTokenExpected);
  }
  auto autoincOption = [&]() -> bool {
    const TToken* t = Cur();
    if (!t || t->TokenType != tktReservedWord) return false;
    switch (t->ReservedWord) {
      case rwINCREMENT:
        Next();
        Accept(rwBY);
        col.AutoincIncrement = ParseInteger(kSqlErrInteger, true);
        col.HasIncrement = true;
        return true;
      case rwINITIALVALUE:
      case rwSTARTVALUE:
        Next();
        col.AutoincInitialValue = ParseInteger(kSqlErrInteger, true);
        col.HasInitialValue = true;
        return true;
      case rwMINVALUE:
        Next();
        col.AutoincMinValue = ParseInteger(kSqlErrInteger, true);
        col.HasMinValue = true;
        return true;
      case rwMAXVALUE:
        Next();
        col.AutoincMaxValue = ParseInteger(kSqlErrInteger, true);
        col.HasMaxValue = true;
        return true;
      case rwNOMINVALUE:
        Next();
        col.HasMinValue = false;
        return true;
      case rwNOMAXVALUE:
        Next();
        col.HasMaxValue = false;
        return true;
      case rwCYCLED:
        Next();
        col.AutoincCycled = true;
        return true;
      case rwNOCYCLED:
        Next();
        col.AutoincCycled = false;
        return true;
      default:
        return false;
    }
  };
  while (const TToken* t = Cur()) {
    if (Accept(rwNOT)) {
      Expect(rwNULL, kSqlErrTokenExpected);
      col.NotNull = true;
    } else if (Accept(rwNULL)) {
      col.NotNull = false;
    } else if (Accept(rwDEFAULT)) {
      const int from = Pos();
      col.DefaultValue = std::make_unique<TSDBExpression>(ParseAdditive());
      col.DefaultText = TokensText(from, Pos());
    } else if (Accept(rwPRIMARY)) {
      Expect(rwKEY, kSqlErrTokenExpected);
      col.PrimaryKey = true;
    } else if (Accept(rwUNIQUE)) {
      col.Unique = true;
    } else if (Accept(rwBLOBBLOCKSIZE)) {
      const int64_t v = ParseInteger(kSqlErrInteger, false);
      if (v > 0x7FFFFFFF) Expected(kSqlErrInteger, "Integer");
      col.BlobBlockSize = static_cast<int>(v);
    } else if (Accept(rwBLOBCOMPRESSIONMODE)) {
      const int64_t v = ParseInteger(kSqlErrInteger, false);
      if (v > 255) Expected(kSqlErrInteger, "Integer");
      col.BlobCompressionMode = static_cast<int>(v);
    } else if (Accept(rwBLOBCOMPRESSIONALGORITHM)) {
      const TToken* a = Cur();
      if (!a || !(IsIdentifier(a) || a->TokenType == tktQuotedString)) Expected(kSqlErrTokenExpected, "Compression algorithm");
      const std::string name = SDBUpperName(a->Text);
      if (name != "NONE" && name != "ZLIB" && name != "BZIP" && name != "PPM")
        ErrorAt(kSqlErrTokenExpected, "Compression algorithm expected, but '%s' found at line %d, column %d", {a->Text}, a);
      col.BlobCompressionAlgorithm = name;
      Next();
    } else if (IsWord(rwAUTOINC) || (IsKind(tktLeftParenthesis) && SDBIsAutoIncFieldType(col.AdvancedType))) {
      // [AUTOINC] (option, option ...), the list directly after an
      // auto-increment type or introduced by AUTOINC.
      Accept(rwAUTOINC);
      if (!IsKind(tktLeftParenthesis)) Expected(kSqlErrLeftParen, "'(' symbol");
      Next();
      while (true) {
        if (!autoincOption()) Expected(kSqlErrTokenExpected, "Auto-increment option");
        if (AcceptKind(tktComma)) continue;
        if (AcceptKind(tktRightParenthesis)) break;
        Expected(kSqlErrParenOrComma, "')' or ',' symbol");
      }
    } else if (!autoincOption()) {
      (void)t;
      break;
    }
  }
}

}  // namespace sdb
