// The statement processor of one prepared query: runs every command of the
// query's text in turn and keeps the sum of their affected rows and the
// result of the last one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sql/SDBExecHost.h"
#include "sql/SDBExecResult.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLParams.h"
#include "sql/SDBSQLStatements.h"

namespace sdb {

class TSDBParsedText;
class TSDBAO;

// The value of a default expression's text (a column's DEFAULT), worked
// out now; raises the parser's and the evaluator's errors.
TSDBVariant SDBEvaluateDefaultText(const std::string& text);

class TSDBSQLProcessor {
 public:
  TSDBSQLProcessor(TSDBExecHost* Host, bool RequestLive, bool InMemory);
  ~TSDBSQLProcessor();
  TSDBSQLProcessor(const TSDBSQLProcessor&) = delete;
  TSDBSQLProcessor& operator=(const TSDBSQLProcessor&) = delete;

  // Keeps the text only.
  void PrepareStatement(const std::string& SqlText) { FSqlText = SqlText; }
  // Runs every command; the last command's result (null when it has none),
  // positioned on its first row.
  std::shared_ptr<TSDBResultSet> OpenQuery(TSDBSQLParams Params);
  // The same run, result dropped.
  void ExecuteQuery(TSDBSQLParams Params);
  // The operator tree of every query of the text, with the index chosen per
  // table (nothing is read).
  std::string Plan(const TSDBSQLParams& Params);

  bool FReadOnly = true;
  bool FRequestLive;
  bool FInMemory;
  int64_t FRowsAffected = 0;
  std::string FSqlText;
  TSDBSQLParams FSQLParams;
  // The statement running (or that ran last when the text was parsed
  // afresh and could not be kept); null otherwise.
  TSDBSQLCommand* Queries = nullptr;

 private:
  void RunCommand(TSDBSQLCommand& Cmd, std::shared_ptr<TSDBResultSet>& Result, std::unique_ptr<TSDBAO>* Plan);

  TSDBExecHost* FHost;
  // The text parsed by the last run when it is not kept in the cache.
  std::unique_ptr<TSDBParsedText> FParsed;
};

}  // namespace sdb
