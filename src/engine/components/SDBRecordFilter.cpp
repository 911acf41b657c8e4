#include "components/SDBRecordFilter.h"

#include <utility>

#include "common/SDBNames.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBText.h"
#include "sql/SDBEvaluator.h"
#include "sql/SDBExpression.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLParser.h"

namespace sdb {

// The row under test, column by column, read only when the condition asks
// for it (a memo the condition does not name is never read).
class TSDBRecordFilter::TSource final : public TSDBColumnSource {
 public:
  int FindColumn(std::string_view, std::string_view fieldName) const override {
    int found = -1;
    for (size_t i = 0; i < Names.size(); ++i) {
      if (!SDBSameName(Names[i], fieldName)) continue;
      if (found >= 0) return kSDBColumnAmbiguous;
      found = static_cast<int>(i);
    }
    return found;
  }
  TSDBBaseFieldType ColumnType(int slot) const override { return Types.at(static_cast<size_t>(slot)); }
  TSDBVariant ColumnValue(int slot) const override { return (*ValueOf)(slot); }

  std::vector<std::string> Names;
  std::vector<TSDBBaseFieldType> Types;
  const TValueOf* ValueOf = nullptr;
};

namespace {

constexpr char kLikeEscape = '\\';

// A LIKE pattern matching the texts that start with Prefix.
std::string PrefixPattern(const std::string& Prefix) {
  std::string p;
  for (char c : Prefix) {
    if (c == '%' || c == '_' || c == kLikeEscape) p += kLikeEscape;
    p += c;
  }
  return p + "%";
}

// "Col = 'Ab*'" becomes "Col LIKE 'Ab%'" ("<>": NOT LIKE), so that the
// partial match folds case and compares characters as LIKE does.
void RewritePartialCompares(TSDBExprNode* n) {
  for (auto& child : n->Children) RewritePartialCompares(child.get());
  auto* cmp = SDBExprAs<TSDBExprNodeComparison>(n);
  if (!cmp || (n->Operator != doEQ && n->Operator != doNE) || n->Children.size() != 2 || cmp->Quantifier != cqNone)
    return;
  for (size_t side = 0; side < 2; ++side) {
    auto* k = SDBExprAs<TSDBExprNodeConst>(n->Children[side].get());
    if (!k || k->IsParameter || k->Value.IsNull() || !SDBIsTextType(k->Value.DataType())) continue;
    std::string text = SDBValueUtf8(k->Value);
    if (text.empty() || text.back() != '*') continue;
    text.pop_back();
    k->Value = SDBTextValue(PrefixPattern(text));
    n->Operator = n->Operator == doEQ ? doLIKE : doNOTLIKE;
    cmp->HasEscape = true;
    cmp->EscapeChar = kLikeEscape;
    if (side == 0) std::swap(n->Children[0], n->Children[1]);
    return;
  }
}

[[noreturn]] void RaiseInvalid(const std::string& Text, const std::string& Problem) {
  throw ESDBException(kSDBErrInvalidFilter, "Invalid filter expression '%s': %s", {Text, Problem});
}

}  // namespace

TSDBRecordFilter::TSDBRecordFilter(const std::string& Text, const std::vector<TSDBResultColumn>& Columns,
                                   bool CaseInsensitive, bool PartialCompare)
    : FText(Text) {
  try {
    TSDBLexer lex(Text, true, nullptr);
    if (!lex.GetNextCommand() || lex.CurrentCommand()->NumTokens() == 0) RaiseInvalid(Text, "no condition given");
    TSDBSQLParser p(lex, nullptr);
    FExpr = p.ParseCondition(kSqlErrBooleanWhere);
    p.ExpectEnd();
    if (lex.GetNextCommand()) RaiseInvalid(Text, "a filter is one condition, without ';'");
    if (SDBHasSubquery(FExpr->Root())) RaiseInvalid(Text, "a filter cannot hold a subquery");
    if (SDBHasAggregate(FExpr->Root())) RaiseInvalid(Text, "a filter cannot hold an aggregate function");
    if (PartialCompare) RewritePartialCompares(FExpr->Root());
    FExpr->FCaseInsensitive = CaseInsensitive;
    Bind(Columns);
  } catch (const ESDBException& e) {
    if (e.NativeError() == kSDBErrInvalidFilter) throw;
    RaiseInvalid(Text, e.RawMessage());
  }
}

TSDBRecordFilter::TSDBRecordFilter(const std::vector<int>& KeyColumns, const std::vector<TSDBVariant>& Values,
                                   const std::vector<TSDBResultColumn>& Columns, bool CaseInsensitive,
                                   bool PartialKey) {
  auto root = std::make_unique<TSDBExprNodeBoolean>(doAND);
  for (size_t i = 0; i < KeyColumns.size() && i < Values.size(); ++i) {
    auto field = std::make_unique<TSDBExprNodeField>();
    field->FieldName = Columns.at(static_cast<size_t>(KeyColumns[i])).Name;
    const TSDBVariant& v = Values[i];
    std::unique_ptr<TSDBExprNodeComparison> cmp;
    if (v.IsNull()) {
      cmp = std::make_unique<TSDBExprNodeComparison>(doISNULL);
      cmp->Add(std::move(field));
    } else {
      auto k = std::make_unique<TSDBExprNodeConst>();
      k->Value = v;
      if (PartialKey && SDBIsTextType(v.DataType())) {
        k->Value = SDBTextValue(PrefixPattern(SDBValueUtf8(v)));
        cmp = std::make_unique<TSDBExprNodeComparison>(doLIKE);
        cmp->HasEscape = true;
        cmp->EscapeChar = kLikeEscape;
      } else {
        cmp = std::make_unique<TSDBExprNodeComparison>(doEQ);
      }
      cmp->Add(std::move(field));
      cmp->Add(std::move(k));
    }
    root->Add(std::move(cmp));
  }
  FExpr = std::make_unique<TSDBExpression>(std::move(root));
  FExpr->FCaseInsensitive = CaseInsensitive;
  Bind(Columns);
}

TSDBRecordFilter::~TSDBRecordFilter() = default;

void TSDBRecordFilter::Bind(const std::vector<TSDBResultColumn>& Columns) {
  FSource = std::make_unique<TSource>();
  for (const TSDBResultColumn& c : Columns) {
    FSource->Names.push_back(c.Name);
    FSource->Types.push_back(c.DataType);
  }
  FEval = std::make_unique<TSDBEvaluator>(*FExpr, std::vector<const TSDBColumnSource*>{FSource.get()});
}

bool TSDBRecordFilter::Matches(const TValueOf& ValueOf) {
  FSource->ValueOf = &ValueOf;
  if (FText.empty()) return FEval->IsTrue();
  try {
    return FEval->IsTrue();
  } catch (const ESDBException& e) {
    if (e.NativeError() == kSDBErrInvalidFilter) throw;
    RaiseInvalid(FText, e.RawMessage());
  }
}

}  // namespace sdb
