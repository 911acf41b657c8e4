#include "sql/SDBExpression.h"

#include <algorithm>
#include <cstdio>

#include "sql/SDBSQLStatements.h"

namespace sdb {

const char* SDBDataOperatorName(TSDBDataOperator op) {
  static const char* const names[] = {
      "doUNDEFINED", "doEQ", "doNE", "doGT", "doLT", "doGE", "doLE", "doNOT", "doAND", "doOR",
      "doIN", "doNOTIN", "doEXISTS", "doBETWEEN", "doNOTBETWEEN", "doLIKE", "doNOTLIKE", "doISNULL",
      "doISNOTNULL", "doTRUE", "doFALSE", "doADD", "doSUB", "doMUL", "doDIV", "doCONCAT", "doUPPER",
      "doLOWER", "doTRIM", "doLTRIM", "doRTRIM", "doLENGTH", "doPOS", "doSUBSTRING", "doSUM", "doAVG",
      "doMIN", "doMAX", "doCOUNT", "doCOUNTALL", "doSYSDATE", "doCURRENT_DATE", "doCURRENT_TIME",
      "doTODATE", "doTOSTRING", "doEXTRACT", "doCAST", "doLASTAUTOINC", "doMIMETOBIN", "doROWNUM",
      "doABS", "doACOS", "doASIN", "doATAN", "doCEIL", "doCOS", "doEXP", "doFLOOR", "doLOG",
      "doPOWER", "doRAND", "doROUND", "doSIGN", "doSIN", "doSQR", "doSQRT"};
  static_assert(sizeof(names) / sizeof(names[0]) == doSQRT + 1);
  return op <= doSQRT ? names[op] : "?";
}

std::string SDBValueText(const TSDBVariant& v) {
  const TSDBBaseFieldType t = v.DataType();
  if (v.IsNull()) return "NULL(" + SDBBaseFieldTypeName(t) + ")";
  try {
    if (SDBIsTextType(t)) return "'" + v.AsString() + "'";
    if (SDBIsIntegerType(t)) return std::to_string(v.AsInt64());
    if (t == bftLogical) return v.AsBoolean() ? "TRUE" : "FALSE";
    if (SDBIsFloatType(t) || SDBIsDateTimeType(t)) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", v.AsDouble());
      return std::string(buf) + (SDBIsDateTimeType(t) ? "(" + SDBBaseFieldTypeName(t) + ")" : "");
    }
    return "<" + std::to_string(v.AsBytes().size()) + " bytes>";
  } catch (const std::exception&) {
    return "<" + SDBBaseFieldTypeName(t) + ">";
  }
}

TSDBExprNode::~TSDBExprNode() = default;

void TSDBExprNode::Dump(std::string& out, int indent) const {
  out.append(static_cast<size_t>(indent) * 2, ' ');
  out += ClassName();
  if (Operator != doUNDEFINED) {
    out += ' ';
    out += SDBDataOperatorName(Operator);
  }
  std::string d = Describe();
  if (!d.empty()) out += " " + d;
  out += '\n';
  for (const auto& c : Children) c->Dump(out, indent + 1);
}

std::string TSDBExprNodeField::Describe() const {
  return TableName.empty() ? FieldName : TableName + "." + FieldName;
}

TSDBExprNodeConst::~TSDBExprNodeConst() {
  if (!ParamList) return;
  auto& nodes = ParamList->Nodes;
  nodes.erase(std::remove(nodes.begin(), nodes.end(), this), nodes.end());
}

void TSDBParamNodeList::Detach() {
  if (!Attached) return;
  Attached = false;
  for (TSDBExprNodeConst* n : Nodes) n->ParamList = nullptr;
}

std::string TSDBExprNodeConst::Describe() const {
  std::string s = SDBValueText(Value);
  if (IsParameter) s += " :" + ParamName;
  return s;
}

std::string TSDBExprNodeComparison::Describe() const {
  std::string s;
  if (Quantifier == cqAll) s = "ALL";
  if (Quantifier == cqAny) s = "ANY";
  if (HasEscape) s += std::string(s.empty() ? "" : " ") + "ESCAPE '" + std::string(1, EscapeChar) + "'";
  return s;
}

std::string TSDBExprNodeArithmetic::Describe() const {
  if (RoundMode != rwNone) return SDBReservedWordText(RoundMode);
  if (Operator == doSUB && Children.size() == 1) return "(negate)";
  return {};
}

std::string TSDBExprNodeStringFunction::Describe() const {
  return TrimSide != rwNone ? SDBReservedWordText(TrimSide) : "";
}

std::string TSDBExprNodeDateFunction::Describe() const {
  return ExtractPart != rwNone ? SDBReservedWordText(ExtractPart) : "";
}

std::string TSDBExprNodeAggregated::Describe() const { return Distinct ? "DISTINCT" : ""; }

std::string TSDBExprNodeCast::Describe() const {
  std::string s = "AS " + TypeName;
  if (Size > 0) s += "(" + std::to_string(Size) + ")";
  return s + " " + SDBBaseFieldTypeName(BaseType);
}

std::string TSDBExprNodeCase::Describe() const {
  static const char* const kinds[] = {"searched", "simple", "COALESCE", "NULLIF"};
  return std::string(kinds[CaseKind]) + (HasElse ? " ELSE" : "");
}

TSDBExprNodeSubquery::TSDBExprNodeSubquery() = default;
TSDBExprNodeSubquery::~TSDBExprNodeSubquery() = default;

void TSDBExprNodeSubquery::Dump(std::string& out, int indent) const {
  TSDBExprNode::Dump(out, indent);
  if (Query) Query->Dump(out, indent + 1);
}

std::string TSDBExprNodeSystem::Describe() const {
  if (TableName.empty() && FieldName.empty()) return {};
  return TableName + "." + FieldName;
}

void TSDBExpression::Dump(std::string& out, int indent) const {
  if (FRootExprNode) FRootExprNode->Dump(out, indent);
}

}  // namespace sdb
