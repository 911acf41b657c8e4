// Conditions on the rows of a dataset: a filter text over the dataset's
// fields, or the equality of some fields with values (Locate). Both are
// evaluated by the statement layer's expression engine, so a filter means
// what the same condition means in a WHERE clause.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBVariant.h"
#include "sql/SDBExecResult.h"

namespace sdb {

class TSDBExpression;
class TSDBEvaluator;

class TSDBRecordFilter {
 public:
  // The value of a column of the row being tested.
  using TValueOf = std::function<TSDBVariant(int Column)>;

  // A search condition (UTF-8) over the columns. Texts compare without
  // regard to case when CaseInsensitive; with PartialCompare a text
  // constant ending in "*" compared by "=" or "<>" matches the texts that
  // start (or do not start) with what precedes the "*". A text that does not
  // parse, names an unknown field or is no condition raises
  // kSDBErrInvalidFilter naming the text and the problem.
  TSDBRecordFilter(const std::string& Text, const std::vector<TSDBResultColumn>& Columns, bool CaseInsensitive,
                   bool PartialCompare);
  // Each of the columns equal to its value (a null value: the column is
  // null); with PartialKey a text value matches as a prefix.
  TSDBRecordFilter(const std::vector<int>& KeyColumns, const std::vector<TSDBVariant>& Values,
                   const std::vector<TSDBResultColumn>& Columns, bool CaseInsensitive, bool PartialKey);
  ~TSDBRecordFilter();
  TSDBRecordFilter(const TSDBRecordFilter&) = delete;
  TSDBRecordFilter& operator=(const TSDBRecordFilter&) = delete;

  // Whether the row satisfies the condition (unknown counts as no).
  bool Matches(const TValueOf& ValueOf);

 private:
  class TSource;
  void Bind(const std::vector<TSDBResultColumn>& Columns);
  std::string FText;
  std::unique_ptr<TSource> FSource;
  std::unique_ptr<TSDBExpression> FExpr;
  std::unique_ptr<TSDBEvaluator> FEval;
};

}  // namespace sdb
