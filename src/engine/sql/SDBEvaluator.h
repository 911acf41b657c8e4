// Evaluation of SQL expression trees.
//
// An expression is bound once (TSDBEvaluator's constructor) against the
// column sources that supply its column references - the current row of one
// or several tables, a join's two sides, the row of an outer query - and is
// then evaluated for each row with GetValue (a value) or IsTrue (a search
// condition). What only the statement executor can do - run a subquery,
// answer LASTAUTOINC and ROWNUM, supply the database's collation and the
// clock - goes through a TSDBEvalHost.
//
// Null rules of comparisons. A column compared with a constant or parameter
// of a text, wide text or date-time type, or with a null constant, uses
// two-valued logic: null equals null and sorts before every other value (so
// "col <> 'x'" holds for a null col). Every other comparison uses
// three-valued logic: a null side makes the comparison unknown, which a
// search condition treats as false. AND, OR, NOT and IS TRUE / IS FALSE
// follow three-valued logic. An expression whose F3ValueLogic is false
// compares every operand two-valued.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sdb/SDBCollation.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBVariant.h"
#include "sql/SDBExpression.h"
#include "sql/SDBSQLErrors.h"

namespace sdb {

class TSDBSQLUnion;

// ---------------------------------------------------------------- column sources

// FindColumn's answer for a name that more than one column of the source
// matches (for example "ID" over a join of two tables that both have it).
inline constexpr int kSDBColumnAmbiguous = -2;

// What a row supplies to an expression: the executor implements it over a
// cursor's current record, a join's row, a group, a result row.
class TSDBColumnSource {
 public:
  virtual ~TSDBColumnSource() = default;
  // The slot of a column, -1 when the source has none of that name, or
  // kSDBColumnAmbiguous. Names compare without regard to case; `tableName`
  // is empty or a table name or pseudonym the source answers to.
  virtual int FindColumn(std::string_view tableName, std::string_view fieldName) const = 0;
  virtual TSDBBaseFieldType ColumnType(int slot) const = 0;
  // The value of the column in the current row (a typed null when null).
  virtual TSDBVariant ColumnValue(int slot) const = 0;
};

// A ready-made source over a vector of named values (tests, CHECK
// constraints, subquery outer rows, small result rows).
class TSDBRowColumnSource : public TSDBColumnSource {
 public:
  TSDBRowColumnSource() = default;
  explicit TSDBRowColumnSource(std::string tableName) : TableName(std::move(tableName)) {}
  // Adds a column (a typed null value gives the column's type); returns its slot.
  int AddColumn(std::string name, TSDBVariant value);
  int FindColumn(std::string_view tableName, std::string_view fieldName) const override;
  TSDBBaseFieldType ColumnType(int slot) const override;
  TSDBVariant ColumnValue(int slot) const override;

  std::string TableName;  // empty: answers to any qualifier
  std::vector<std::string> Names;
  std::vector<TSDBBaseFieldType> Types;
  std::vector<TSDBVariant> Values;  // the current row, by slot
};

// ---------------------------------------------------------------- host

// Rows of a subquery as the evaluator needs them.
struct TSDBSubqueryResult {
  int ColumnCount = 0;
  std::vector<TSDBBaseFieldType> ColumnTypes;
  std::vector<std::vector<TSDBVariant>> Rows;
  // False when the query does not refer to the outer row: the evaluator
  // then keeps the rows and does not run the query again for the next row.
  // (The evaluator also keeps them when the run never found a column in
  // `outer`.)
  bool Correlated = true;
};

class TSDBEvalHost {
 public:
  virtual ~TSDBEvalHost() = default;
  // Runs `query` with `outer` (the row of the expression being evaluated)
  // as an extra column source for the query's column references, and fills
  // `result`. `maxRows` >= 0 allows the host to stop after that many rows
  // (EXISTS asks for 1, a scalar subquery for 2); -1 means all rows. The
  // default raises kEvalErrNoHost.
  virtual void RunSubquery(const TSDBSQLUnion& query, const TSDBColumnSource& outer, int64_t maxRows,
                           TSDBSubqueryResult& result);
  // LASTAUTOINC(table, field): the last auto-increment value the session
  // gave that column. The default raises kEvalErrNoHost.
  virtual TSDBVariant LastAutoInc(const std::string& tableName, const std::string& fieldName);
  // ROWNUM: the 1-based number of the row being produced. The default
  // raises kEvalErrNoHost.
  virtual int64_t RowNum();
  // The collation of the database (null: the process default).
  virtual const TSDBCollation* Collation() { return nullptr; }
  // The current local date and time as a TDateTime (SYSDATE, CURRENT_DATE,
  // CURRENT_TIME). The default reads the system clock.
  virtual double Now();
};

// ---------------------------------------------------------------- aggregates

// The running state of one aggregate function over the rows of one group.
class TSDBAggregator {
 public:
  // `op` is doSUM, doAVG, doMIN, doMAX, doCOUNT or doCOUNTALL.
  TSDBAggregator(TSDBDataOperator op, bool distinct, const TSDBCollation* collation = nullptr);
  // Adds the value of the aggregate's argument for one row (ignored by
  // COUNT(*), which counts the call; nulls are skipped by the others).
  void Add(const TSDBVariant& value);
  // SUM/AVG/MIN/MAX of no value are null; COUNT of no value is 0. SUM of
  // integers is an integer (overflow raises), AVG is a double.
  TSDBVariant Result() const;
  void Reset();

  TSDBDataOperator Operator() const noexcept { return FOp; }

 private:
  TSDBDataOperator FOp;
  bool FDistinct;
  const TSDBCollation* FCollation;
  int64_t FCount = 0;
  bool FIntSum = true;
  int64_t FSumInt = 0;
  long double FSum = 0;
  TSDBVariant FBest;  // MIN / MAX so far
  std::vector<TSDBVariant> FSeen;  // DISTINCT: values counted so far, sorted
};

// ---------------------------------------------------------------- evaluator

enum TSDBTruth : uint8_t { trFalse, trTrue, trUnknown };

struct TSDBEvalState;  // per-node bound data (implementation)

class TSDBEvaluator {
 public:
  // Binds `root` (kept, not owned: it must outlive the evaluator) against
  // `sources`, searched in order: a reference that a source answers is
  // taken from the first such source. Unknown names raise
  // kEvalErrUnknownColumn, names ambiguous within one source
  // kEvalErrAmbiguousColumn. `host` may be null when the expression uses no
  // subquery, LASTAUTOINC or ROWNUM.
  TSDBEvaluator(const TSDBExprNode* root, std::vector<const TSDBColumnSource*> sources,
                TSDBEvalHost* host = nullptr, bool caseInsensitive = false, bool threeValueLogic = true);
  // The same with the expression's own options (FCaseInsensitive, F3ValueLogic).
  TSDBEvaluator(const TSDBExpression& expr, std::vector<const TSDBColumnSource*> sources,
                TSDBEvalHost* host = nullptr);
  ~TSDBEvaluator();
  TSDBEvaluator(const TSDBEvaluator&) = delete;
  TSDBEvaluator& operator=(const TSDBEvaluator&) = delete;

  // The value for the sources' current rows. A condition gives a logical
  // value (null when unknown).
  TSDBVariant GetValue();
  // A search condition: true only when the condition holds (unknown and
  // null count as false).
  bool IsTrue();
  TSDBTruth Truth();

  // The type of the values GetValue gives, as far as it is known from the
  // tree and the bound column types (bftUnknown when it depends on data).
  TSDBBaseFieldType ResultType() const;
  // For texts, the longest value expected (0 when unknown).
  int ResultSize() const;

  // ---- grouping. Aggregate nodes in tree order (nested subqueries excluded).
  size_t AggregateCount() const;
  const TSDBExprNodeAggregated& AggregateNode(size_t i) const;
  // Fresh accumulators, one per aggregate node.
  std::vector<TSDBAggregator> NewAggregators() const;
  // Feeds the sources' current row to `acc` (each aggregate's argument is
  // evaluated on the row).
  void Accumulate(std::vector<TSDBAggregator>& acc);
  // Makes GetValue use these results for the aggregate nodes (the
  // accumulators must stay alive while GetValue is called); null to clear.
  // Without results, evaluating an aggregate raises kEvalErrAggregate.
  void SetAggregateResults(const std::vector<TSDBAggregator>* acc);

  const TSDBExprNode* Root() const noexcept { return FRoot; }
  // Another host for the next evaluations (a kept plan runs under a new
  // statement context each time).
  void SetHost(TSDBEvalHost* host);

 private:
  friend struct TSDBEvalImpl;
  const TSDBExprNode* FRoot;
  std::vector<const TSDBColumnSource*> FSources;
  TSDBEvalHost* FHost;
  bool FCaseInsensitive;
  bool F3ValueLogic;
  std::unique_ptr<TSDBEvalState> FState;
};

// ---------------------------------------------------------------- tree helpers

// The AND factors of a condition (the condition itself when it is not an
// AND); nested ANDs are flattened.
std::vector<const TSDBExprNode*> SDBSplitAndFactors(const TSDBExprNode* condition);

// A factor of the form column op constant-or-parameter.
struct TSDBColumnComparison {
  const TSDBExprNodeField* Column = nullptr;
  // doEQ, doLT, doGT, doLE or doGE, read with the column on the left (a
  // constant on the left is mirrored: 5 < col gives col > 5).
  TSDBDataOperator Operator = doUNDEFINED;
  const TSDBExprNodeConst* Constant = nullptr;
};
// True when `factor` has that form (op one of = < > <= >=; "<>" never).
bool SDBGetColumnComparison(const TSDBExprNode* factor, TSDBColumnComparison& out);

// The column references of a tree in tree order, subqueries excluded.
void SDBCollectFieldRefs(const TSDBExprNode* node, std::vector<const TSDBExprNodeField*>& out);
bool SDBHasAggregate(const TSDBExprNode* node);   // outside subqueries
bool SDBHasSubquery(const TSDBExprNode* node);
// True when every column reference of the tree (outside subqueries) is
// answered by one of `sources` - the test for moving a factor to an
// operator that provides those sources.
bool SDBCanBind(const TSDBExprNode* node, const std::vector<const TSDBColumnSource*>& sources);

// Registers the engine's SQL-side services with the table layer (the CHECK
// constraint evaluator). Called once at engine start-up; calling it again
// does no harm.
void SDBRegisterSqlEvaluators();

}  // namespace sdb
