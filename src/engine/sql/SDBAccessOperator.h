// The access-operator tree of a query: each operator produces a result
// dataset from its children (or from a base table). Conditions of the WHERE
// clause are pushed down to the lowest operator that provides every column
// they use; a base table chooses an index range from its conditions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/SDBEvaluator.h"
#include "sql/SDBExecContext.h"
#include "sql/SDBExecHost.h"
#include "sql/SDBSQLErrors.h"
#include "sql/SDBExecResult.h"
#include "sql/SDBSQLStatements.h"
#include "storage/table/SDBTableCursor.h"

namespace sdb {

// Lock waits of statements (attempts x pause in ms): about 90 s before
// "Table is locked". Process-wide and adjustable, so that a tool or a test
// can give up sooner; change them only while no statement runs.
struct TSDBExecLockWaits {
  int QueryTries = 900, QueryDelayMs = 100;
  int WriteTries = 1125, WriteDelayMs = 80;
};
TSDBExecLockWaits& SDBExecLockWaits();
inline constexpr int kExecBatchRetries = 15;

// A column source over one row of a result (the row is set per row).
class TSDBResultRowSource : public TSDBColumnSource {
 public:
  explicit TSDBResultRowSource(const std::vector<TSDBResultColumn>* Columns = nullptr) : Cols(Columns) {}
  int FindColumn(std::string_view tableName, std::string_view fieldName) const override;
  TSDBBaseFieldType ColumnType(int slot) const override;
  TSDBVariant ColumnValue(int slot) const override;

  const std::vector<TSDBResultColumn>* Cols;
  const TSDBResultRow* Row = nullptr;
  // Another name the columns answer to (the table name behind a pseudonym).
  std::string OtherTableName;
};

// An index range offered by the conditions of a table.
struct TSDBIndexCandidate {
  int IndexNo = -1;
  std::string IndexName;
  bool Unique = false;
  std::vector<TSDBVariant> EqualValues;  // "=" on the leading index columns
  bool HasLow = false, LowInclusive = true, HasHigh = false, HighInclusive = true;
  TSDBVariant Low, High;  // bounds on the column after the equal ones
  bool Contradictory = false;
  std::vector<const TSDBExprNode*> Factors;
  int64_t EstimatedEntries = 0;
  double Cost = 0;
  // Above 0: chosen without measuring the range first; a read that finds
  // more entries than this gives up for a scan of the table.
  int64_t ReadLimit = 0;
  std::string Describe() const;
};

class TSDBAO {
 public:
  virtual ~TSDBAO();
  virtual const char* ClassName() const = 0;
  // Opens tables and fixes the result columns (FResult.Columns); the
  // first call only.
  void OpenOnce(TSDBExecContext& Ctx);
  // Produces FResult.Rows.
  virtual void Execute(TSDBExecContext& Ctx) = 0;
  virtual void Close() noexcept;
  // Opens a kept tree again for another run of its statement, under the
  // run's context: its tables reopened and its evaluators handed the
  // context. False when a table is no longer the one the tree was built
  // for (another connection, definitions changed since): the tree must then
  // be closed and built anew.
  virtual bool Reopen(TSDBExecContext& Ctx);
  // Moves a condition factor to the lowest operator that can evaluate it;
  // false when neither this operator nor a child can.
  virtual bool ApplyFilterPart(const TSDBExprNode* Factor);
  void Dump(std::string& out, int indent) const;
  virtual std::string Describe() const { return {}; }
  // Evaluates FFilterExpr on every row of FResult and keeps the matching ones.
  void ApplyFilter(TSDBExecContext& Ctx);
  bool CanBind(const TSDBExprNode* Node) const;

  std::vector<std::unique_ptr<TSDBAO>> Children;
  std::vector<const TSDBExprNode*> FFilterExpr;
  TSDBResultSet FResult;

 protected:
  // The evaluators of FFilterExpr over the rows of FResult, bound at the
  // first filtering and kept with the tree.
  TSDBResultRowSource FFilterSource;
  std::vector<std::unique_ptr<TSDBEvaluator>> FFilterEvals;

  virtual void Open(TSDBExecContext& Ctx);

 private:
  bool FOpened = false;
};

class TSDBAOTable : public TSDBAO {
 public:
  TSDBAOTable(TSDBExecConnection& Conn, std::string TableName, std::string Pseudonym);
  // A tree given up half-built (an error while building) still closes its tables.
  ~TSDBAOTable() override { Close(); }
  const char* ClassName() const override { return "TSDBAOTable"; }
  void Open(TSDBExecContext& Ctx) override;
  void Execute(TSDBExecContext& Ctx) override;
  void Close() noexcept override;
  bool Reopen(TSDBExecContext& Ctx) override;
  std::string Describe() const override;
  // Builds the index candidates of the filter and picks one (or none).
  void ChooseIndex();
  // Reads the records of the candidate's index range; false (nothing
  // read) when the range holds more than its ReadLimit.
  bool ReadRange(const TSDBIndexCandidate& Candidate);
  // In a correlated subquery of a SELECT: the rows from the statement's
  // cache (false when there is none to use).
  bool ExecuteFromCache(TSDBExecContext& Ctx);
  // A second cursor on the table for index ranges (opened on first use,
  // shared by the estimates and the read).
  TSDBTableCursor& IndexCursor();

  TSDBExecConnection& Conn;
  std::string TableName;
  std::string Pseudonym;
  // The FROM item the table was named by (null when built otherwise): a
  // kept tree asks the run's context for its connection again.
  const TSDBTableReference* Ref = nullptr;
  TSDBCursor Cursor;
  bool Opened = false;
  std::vector<TSDBIndexCandidate> Candidates;
  int Chosen = -1;  // in Candidates
  bool Chose = false;
  std::unique_ptr<TSDBTableCursor> FIndexCursor;
  double FullScanCost = 0;
  int64_t RecordCount = 0;

 private:
  // What the tree was built for: the table's data and the generation of
  // its definitions, and its indexes (identifiers in order).
  // The factors of FFilterExpr that compare a column with a value (BETWEEN:
  // Constant and High), and the field of each column of each index.
  struct TFactorColumn {
    int FieldNo;
    TSDBDataOperator Op;
    const TSDBExprNodeConst* Constant;
    const TSDBExprNodeConst* High;
    const TSDBExprNode* Factor;
  };
  std::vector<TFactorColumn> FFactorColumns;
  std::vector<std::vector<int>> FIndexFields;
  size_t FFactorColumnsFor = 0;
  bool FFactorColumnsKnown = false;
  const TSDBDiskTableData* FPlannedData = nullptr;
  uint64_t FPlannedGeneration = 0;
  std::vector<int32_t> FPlannedIndexes;
  void NotePlanned();
  bool StillPlanned() const;
};

// A query in the FROM list: its result read as a table.
class TSDBAOSubquery : public TSDBAO {
 public:
  TSDBAOSubquery(const TSDBSQLUnion& Query, std::string Pseudonym) : Query(Query), Pseudonym(std::move(Pseudonym)) {}
  const char* ClassName() const override { return "TSDBAOSubquery"; }
  void Open(TSDBExecContext& Ctx) override;
  void Execute(TSDBExecContext& Ctx) override;
  std::string Describe() const override { return Pseudonym; }
  const TSDBSQLUnion& Query;
  std::string Pseudonym;
  std::unique_ptr<TSDBAO> Inner;
};

class TSDBAOJoin : public TSDBAO {
 public:
  TSDBAOJoin(std::unique_ptr<TSDBAO> Left, std::unique_ptr<TSDBAO> Right, TSDBJoinType JoinType,
             const TSDBExprNode* OnCondition, std::vector<std::string> UsingFields, bool Natural);
  const char* ClassName() const override { return "TSDBAOJoin"; }
  void Open(TSDBExecContext& Ctx) override;
  void Execute(TSDBExecContext& Ctx) override;
  bool ApplyFilterPart(const TSDBExprNode* Factor) override;
  std::string Describe() const override;
  TSDBJoinType JoinType;
  const TSDBExprNode* OnCondition;
  std::vector<std::string> UsingFields;
  bool Natural;
  std::vector<std::pair<int, int>> EqualColumns;  // USING / NATURAL pairs (left, right)
};

enum TSDBSetOperation : uint8_t { soUnion, soExcept, soIntersect };

class TSDBAOUnion : public TSDBAO {
 public:
  TSDBAOUnion(std::unique_ptr<TSDBAO> Left, std::unique_ptr<TSDBAO> Right, TSDBSetOperation Op, bool All,
              bool Corresponding, std::vector<std::string> CorrespondingFields);
  const char* ClassName() const override { return "TSDBAOUnion"; }
  void Open(TSDBExecContext& Ctx) override;
  void Execute(TSDBExecContext& Ctx) override;
  bool ApplyFilterPart(const TSDBExprNode*) override { return false; }
  std::string Describe() const override;
  TSDBSetOperation Op;
  bool All;
  bool Corresponding;
  std::vector<std::string> CorrespondingFields;
  std::vector<int> LeftMap, RightMap;  // columns taken from each side
};

// Projection and computed columns of a select list.
class TSDBAOTableExpr : public TSDBAO {
 public:
  TSDBAOTableExpr(std::unique_ptr<TSDBAO> Child, const TSDBSQLSelect& Select);
  const char* ClassName() const override { return "TSDBAOTableExpr"; }
  void Open(TSDBExecContext& Ctx) override;
  void Execute(TSDBExecContext& Ctx) override;
  bool Reopen(TSDBExecContext& Ctx) override;
  bool ApplyFilterPart(const TSDBExprNode* Factor) override;
  std::string Describe() const override;
  const TSDBSQLSelect& Select;
  // Sort of the child's rows before the projection (ORDER BY on columns
  // that are not in the select list): child column and descending flag.
  std::vector<std::pair<int, bool>> PreSort;
  // Per select-list column, the child column it copies (-1 when computed).
  const std::vector<int>& CopiedColumns() const { return FCopy; }

 private:
  TSDBResultRowSource FSource;
  std::vector<std::unique_ptr<TSDBEvaluator>> FEvals;  // null for copied columns
  std::vector<int> FCopy;                              // child column copied, -1 for computed
  // The columns as opened when a type was left to the first value: a kept
  // tree starts each run from them.
  std::vector<TSDBResultColumn> FOpenedColumns;
};

class TSDBAOGroupBy : public TSDBAO {
 public:
  TSDBAOGroupBy(std::unique_ptr<TSDBAO> Child, const TSDBSQLSelect& Select);
  const char* ClassName() const override { return "TSDBAOGroupBy"; }
  void Open(TSDBExecContext& Ctx) override;
  void Execute(TSDBExecContext& Ctx) override;
  bool ApplyFilterPart(const TSDBExprNode*) override { return false; }
  std::string Describe() const override;
  const TSDBSQLSelect& Select;
  std::vector<int> GroupColumns;

 private:
  TSDBResultRowSource FSource;
  std::vector<std::unique_ptr<TSDBEvaluator>> FEvals;
  std::vector<int> FCopy;
  std::unique_ptr<TSDBEvaluator> FHaving;
};

// ORDER BY over the result columns.
class TSDBAOSort : public TSDBAO {
 public:
  TSDBAOSort(std::unique_ptr<TSDBAO> Child, std::vector<std::pair<int, bool>> Keys);
  const char* ClassName() const override { return "TSDBAOSort"; }
  void Open(TSDBExecContext& Ctx) override;
  void Execute(TSDBExecContext& Ctx) override;
  bool ApplyFilterPart(const TSDBExprNode*) override { return false; }
  std::string Describe() const override;
  std::vector<std::pair<int, bool>> Keys;
};

class TSDBAODistinct : public TSDBAO {
 public:
  explicit TSDBAODistinct(std::unique_ptr<TSDBAO> Child);
  const char* ClassName() const override { return "TSDBAODistinct"; }
  void Open(TSDBExecContext& Ctx) override;
  void Execute(TSDBExecContext& Ctx) override;
  bool ApplyFilterPart(const TSDBExprNode*) override { return false; }
};

class TSDBAOSQLTopRowCount : public TSDBAO {
 public:
  TSDBAOSQLTopRowCount(std::unique_ptr<TSDBAO> Child, int64_t FirstRowNo, int64_t RowCount);
  const char* ClassName() const override { return "TSDBAOSQLTopRowCount"; }
  void Open(TSDBExecContext& Ctx) override;
  void Execute(TSDBExecContext& Ctx) override;
  bool ApplyFilterPart(const TSDBExprNode*) override { return false; }
  std::string Describe() const override;
  int64_t FirstRowNo;
  int64_t RowCount;
};

// Builds the operator tree of a query (tables opened, conditions placed).
std::unique_ptr<TSDBAO> SDBBuildAOTree(const TSDBSQLUnion& Query, TSDBExecContext& Ctx);
// Runs a query: the result, and whether it is the live result of one
// table (only when `RequestLive`).
// With `Kept`, the operator tree is taken from there when it still fits
// its tables and put back after the run when it may serve the next one
// (a SELECT from one table, without subqueries).
std::shared_ptr<TSDBResultSet> SDBRunQuery(const TSDBSQLUnion& Query, TSDBExecContext& Ctx, bool RequestLive,
                                           bool& ReadOnly, std::unique_ptr<TSDBAO>* Kept = nullptr);

// Takes a table lock of the cursor's session, `Tries` attempts `DelayMs`
// apart; false when every attempt failed.
bool SDBExecLockTable(TSDBCursor& Cursor, TSDBLockType Type, int Tries, int DelayMs);

}  // namespace sdb
