// Shared machinery of the statement parsers: token access on the lexer's
// current command, error reporting with positions, names, and the
// recursive-descent parser of search conditions and value expressions.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBException.h"
#include "sql/SDBExpression.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLErrors.h"

namespace sdb {

class TSDBQuery;
class TSDBSQLUnion;
struct TSDBTableReference;
struct TSDBColumnDef;
struct TSDBDDLTableName;

class TSDBSQLParser {
 public:
  TSDBSQLParser(TSDBLexer& lex, TSDBQuery* query) : Lex(lex), Query(query) {}

  // ---- tokens
  const TToken* Cur() const;           // null at the end of the command
  const TToken* Peek(int ahead) const;  // null past the end
  void Next();
  bool AtEnd() const { return Cur() == nullptr; }
  int Pos() const { return Lex.GetCurrentTokenNo(); }
  void Restore(int pos) { Lex.SetCurrentTokenNo(pos); }

  bool IsWord(TReservedWord rw) const;
  bool IsSymbol(const char* symbol) const;
  bool IsKind(TTokenType kind) const;
  bool Accept(TReservedWord rw);
  bool AcceptSymbol(const char* symbol);
  bool AcceptKind(TTokenType kind);
  // Requires the keyword; "Token '%s' expected, but '%s' found ..." otherwise.
  void Expect(TReservedWord rw, int code);
  void ExpectSymbol(const char* symbol, int code);
  void ExpectKind(TTokenType kind, const char* text, int code);
  // Raises "End of SQL command expected ..." when a token is left.
  void ExpectEnd();

  // ---- errors (all raise ESDBException)
  // "<what> expected, but '<token>' found at line %d, column %d", or
  // "Unexpected end of SQL command found ..." (30161) at the end.
  [[noreturn]] void Expected(int code, const std::string& what) const;
  [[noreturn]] void ExpectedToken(int code, const std::string& token) const;
  [[noreturn]] void UnexpectedEnd(int code = kSqlErrUnexpectedEnd) const;
  // `fmt` ends with "at line %d, column %d"; the position of `t` (the end of
  // the command when null) is appended to `args`.
  [[noreturn]] void ErrorAt(int code, const std::string& fmt, TSDBFormatArgs args, const TToken* t) const;

  // ---- names
  // A token usable as an identifier: a word that is not an operator
  // (backquoted words always), a bracketed name.
  static bool IsIdentifier(const TToken* t);
  // A table name: identifier, quoted string or parameter (its value).
  bool IsTableNameToken(const TToken* t) const;
  std::string TokenName(const TToken* t) const;
  std::string ParseTableName(int code);
  // [MEMORY] [database "."] table [PASSWORD 'password'].
  void ParseTableTarget(TSDBDDLTableName& target, int code, bool allowPassword);
  // A column name: identifier, quoted string, or a reserved word when
  // `allowReserved`.
  std::string ParseFieldName(int code, bool allowReserved);
  // "(" name {"," name} ")".
  std::vector<std::string> ParseNameList(int code);
  // An integer literal or an integer parameter, with an optional sign.
  int64_t ParseInteger(int code, bool allowSign);

  // ---- expressions
  std::unique_ptr<TSDBExpression> ParseCondition(int booleanCode);
  std::unique_ptr<TSDBExpression> ParseValue();
  TSDBExprNodePtr ParseOr();
  TSDBExprNodePtr ParseAdditive();
  // The tokens [from, to) of the current command as SQL text that parses
  // back to the same expression.
  std::string TokensText(int from, int to) const;

  // ---- queries
  // True when the current "(" (and any further "(") opens a query.
  bool QueryFollows() const;
  std::unique_ptr<TSDBSQLUnion> ParseSubquery();  // "(" query ")"
  std::unique_ptr<TSDBTableReference> ParseJoinedTable();
  void ParseColumnDef(TSDBColumnDef& col, bool inCreateTable);

  TSDBLexer& Lex;
  TSDBQuery* Query;

 private:
  TSDBExprNodePtr ParseAnd();
  TSDBExprNodePtr ParseNot();
  TSDBExprNodePtr ParseIsTest();
  TSDBExprNodePtr ParsePredicate();
  TSDBExprNodePtr ParseMultiplicative();
  TSDBExprNodePtr ParseUnary();
  TSDBExprNodePtr ParsePrimary();
  TSDBExprNodePtr ParseFunction(const TToken* t);
  TSDBExprNodePtr ParseCase(const TToken* t);
  TSDBExprNodePtr ParseCast(const TToken* t);
  TSDBExprNodePtr MakeSubqueryNode();
  std::vector<TSDBExprNodePtr> ParseArguments(size_t minCount, size_t maxCount, const TToken* fn);
  std::unique_ptr<TSDBTableReference> ParseTablePrimary();
};

// Counts one level of nesting for the parsers of one lexer; refuses input
// nested deeper than kSqlMaxParseDepth.
class TSDBParseDepthGuard {
 public:
  explicit TSDBParseDepthGuard(const TSDBSQLParser& p);
  ~TSDBParseDepthGuard() { --FLex.ParseDepth; }
  TSDBParseDepthGuard(const TSDBParseDepthGuard&) = delete;
  TSDBParseDepthGuard& operator=(const TSDBParseDepthGuard&) = delete;

 private:
  TSDBLexer& FLex;
};

// Counts the levels a loop adds to a left-deep tree (a + b + c ..., joins,
// set operations): each chained node is one level deeper for whoever walks
// the tree later, so it counts against the same limit as recursion.
class TSDBParseChainGuard {
 public:
  explicit TSDBParseChainGuard(const TSDBSQLParser& p) : FParser(p) {}
  ~TSDBParseChainGuard() { FParser.Lex.ParseDepth -= FCount; }
  TSDBParseChainGuard(const TSDBParseChainGuard&) = delete;
  TSDBParseChainGuard& operator=(const TSDBParseChainGuard&) = delete;
  void Add();

 private:
  const TSDBSQLParser& FParser;
  int FCount = 0;
};

// Upper-cases ASCII letters.

}  // namespace sdb
