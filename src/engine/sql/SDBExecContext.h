// The execution context of one statement run: what the operators of a
// query share while it runs (the query component that owns the
// connections, the rows of outer queries for correlated subqueries, ROWNUM
// and LASTAUTOINC). The evaluator reaches it through TSDBEvalHost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/SDBEvaluator.h"
#include "sql/SDBExecHost.h"
#include "sql/SDBSQLStatements.h"

namespace sdb {

class TSDBTableRowsCache;

// What one statement run shares: the query component, the rows of outer
// queries (correlated subqueries), ROWNUM and LASTAUTOINC.
class TSDBExecContext : public TSDBEvalHost {
 public:
  explicit TSDBExecContext(TSDBExecHost* Host) : Host(Host) {}
  void RunSubquery(const TSDBSQLUnion& query, const TSDBColumnSource& outer, int64_t maxRows,
                   TSDBSubqueryResult& result) override;
  TSDBVariant LastAutoInc(const std::string& tableName, const std::string& fieldName) override;
  int64_t RowNum() override { return RowNumber; }
  // `local` followed by the outer rows.
  std::vector<const TSDBColumnSource*> Sources(std::vector<const TSDBColumnSource*> local) const;
  TSDBExecConnection& ConnectionFor(const std::string& DatabaseName, const std::string& Password, bool InMemory);

  TSDBExecHost* Host;
  std::vector<const TSDBColumnSource*> Outer;
  int64_t RowNumber = 0;
  TSDBExecConnection* LastConnection = nullptr;
  // Set for the run of a SELECT: the tables its correlated subqueries read,
  // read once (shared with the subqueries' contexts).
  std::shared_ptr<TSDBTableRowsCache> RowsCache;
};

// "Unknown column '%s' ..." for a column a statement names but its table
// does not have.
// Line and Column: where the name stands in the command (0 when unknown).
[[noreturn]] void SDBRaiseUnknownColumn(const std::string& table, const std::string& field, int Line = 0,
                                        int Column = 0);

}  // namespace sdb
