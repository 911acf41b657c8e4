// Parsed SQL texts kept for reuse. Applications prepare the same few texts
// again and again through fresh query components (the settings store makes
// one per statement); cutting and parsing the text is then a large part of
// a short statement. The parse of a text depends on nothing but the text
// and the types of its parameter values: not on the tables (names are
// resolved when a statement runs), so a kept parse stays right whatever
// this or another process does to the schema.
//
// With a text's statements the cache keeps the operator tree of a simple
// query (see SDBRunQuery): it depends on the tables, so each run checks it
// against the table's data as opened for that run and builds it anew when
// the definitions changed, here or in another process.
//
// A kept text is taken out of the cache while it runs (nobody else sees its
// statements meanwhile) and put back afterwards. A text is kept only when
// all its statements parsed and its parse used no parameter value itself
// (a table name or a row count given by a parameter).
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdb/SDBFieldTypes.h"
#include "sql/SDBAccessOperator.h"
#include "sql/SDBExpression.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLParams.h"
#include "sql/SDBSQLStatements.h"

namespace sdb {

class TSDBParsedText {
 public:
  explicit TSDBParsedText(std::string Key) : FKey(std::move(Key)) {}
  TSDBParsedText(const TSDBParsedText&) = delete;
  TSDBParsedText& operator=(const TSDBParsedText&) = delete;

  const std::string& Key() const { return FKey; }
  // Parsing is over (every statement of the text parsed): notes what the
  // parse assumed of the parameters. False when the parse cannot be reused.
  bool Complete();
  // Gives the parameter nodes the values of `Params`. Raises "Value for
  // parameter '...' not found" as cutting the text would; false (nothing
  // changed) when a value differs in type or nullness from the one the
  // parse saw, since the parse may depend on those.
  bool Bind(const TSDBSQLParams& Params);

  // The kept operator tree of the i-th statement (empty until a run keeps one).
  std::unique_ptr<TSDBAO>& PlanOf(size_t i) {
    if (Plans.size() <= i) Plans.resize(i + 1);
    return Plans[i];
  }

  // Declared in this order so that the kept plans go first, then the
  // statements they were built from, then the list of their parameter
  // nodes, then the lexer they were parsed from.
  std::unique_ptr<TSDBLexer> Lex;
  TSDBParamNodeList ParamNodes;
  std::vector<std::unique_ptr<TSDBSQLCommand>> Commands;
  std::vector<std::unique_ptr<TSDBAO>> Plans;

 private:
  struct TParam {
    std::string Name;      // as the lexer names it ("Param2" for the second "?")
    int Position = 0;      // 1-based position of a "?", 0 for a named parameter
    TSDBBaseFieldType Type = bftUnknown;
    bool Null = true;
  };
  std::string FKey;
  std::vector<TParam> FParams;  // every parameter token, in text order
};

class TSDBStatementCache {
 public:
  explicit TSDBStatementCache(size_t Capacity) : FCapacity(Capacity) {}
  // The cache of the process.
  static TSDBStatementCache& Shared();

  // The key of a text prepared with these options.
  static std::string KeyOf(const std::string& SqlText, bool RequestLive, bool InMemory);
  // Texts longer than this are parsed each time (long INSERT lists are run
  // once; keeping them would only hold memory).
  static constexpr size_t kMaxTextSize = 16 * 1024;

  // The kept parse of the key, taken out of the cache; null when none.
  std::unique_ptr<TSDBParsedText> Take(const std::string& Key);
  // Keeps (or keeps again) a parse as the most recently used; the least
  // recently used one goes when the cache is full.
  void Put(std::unique_ptr<TSDBParsedText> Text);
  void Clear();
  size_t Count();

 private:
  using TList = std::list<std::unique_ptr<TSDBParsedText>>;
  std::mutex FLock;
  size_t FCapacity;
  TList FTexts;  // most recently used first
  std::unordered_map<std::string, TList::iterator> FByKey;
};

}  // namespace sdb
