#include "sql/SDBExecContext.h"

#include "sdb/SDBException.h"
#include "sql/SDBAccessOperator.h"
#include "sql/SDBEvaluator.h"
#include "storage/table/SDBTableData.h"

namespace sdb {

void SDBRaiseUnknownColumn(const std::string& table, const std::string& field, int Line, int Column) {
  std::string name = table.empty() ? field : table + "." + field;
  throw ESDBException(kEvalErrUnknownColumn, "Unknown column '%s' at line %d, column %d",
                      {name, int64_t{Line}, int64_t{Column}});
}

// ---- Context ---------------------------------------------------------------------------------

std::vector<const TSDBColumnSource*> TSDBExecContext::Sources(std::vector<const TSDBColumnSource*> local) const {
  local.insert(local.end(), Outer.begin(), Outer.end());
  return local;
}

TSDBExecConnection& TSDBExecContext::ConnectionFor(const std::string& DatabaseName, const std::string& Password,
                                                   bool InMemory) {
  if (InMemory) return Host->MemoryConnection();
  return Host->Connection(DatabaseName, Password);
}

void TSDBExecContext::RunSubquery(const TSDBSQLUnion& query, const TSDBColumnSource& outer, int64_t maxRows,
                                  TSDBSubqueryResult& result) {
  TSDBExecContext sub(Host);
  sub.Outer.push_back(&outer);
  sub.Outer.insert(sub.Outer.end(), Outer.begin(), Outer.end());
  sub.LastConnection = LastConnection;
  sub.RowsCache = RowsCache;
  bool ro = true;
  std::shared_ptr<TSDBResultSet> rs = SDBRunQuery(query, sub, false, ro);
  result.ColumnCount = rs->ColumnCount();
  result.ColumnTypes.clear();
  for (const auto& c : rs->Columns) result.ColumnTypes.push_back(c.DataType);
  result.Rows = std::move(rs->Rows);
  if (maxRows >= 0 && static_cast<int64_t>(result.Rows.size()) > maxRows)
    result.Rows.resize(static_cast<size_t>(maxRows));
  result.Correlated = true;
}

TSDBVariant TSDBExecContext::LastAutoInc(const std::string& tableName, const std::string& fieldName) {
  TSDBExecConnection& conn = LastConnection ? *LastConnection : Host->Connection({}, {});
  TSDBCursor c;
  conn.OpenTable(c, tableName);
  TSDBVariant v;
  try {
    int f = c.TableData->FieldManager().FieldNo(fieldName);
    if (f < 0) SDBRaiseUnknownColumn(tableName, fieldName);
    v = TSDBVariant::FromInt(c.TableData->LastAutoincValue(c.SessionID, f));
  } catch (...) {
    conn.CloseTable(c);
    throw;
  }
  conn.CloseTable(c);
  return v;
}

}  // namespace sdb
