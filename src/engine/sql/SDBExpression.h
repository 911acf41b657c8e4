// Expression trees of SQL statements: search conditions and value
// expressions as parsed. Each node keeps its operator and its operands
// (children, in source order); evaluation is added by the executor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBFieldTypes.h"
#include "sdb/SDBVariant.h"
#include "sql/SDBLexer.h"

namespace sdb {

enum TSDBDataOperator : uint8_t {
  doUNDEFINED, doEQ, doNE, doGT, doLT, doGE, doLE, doNOT, doAND, doOR, doIN, doNOTIN, doEXISTS,
  doBETWEEN, doNOTBETWEEN, doLIKE, doNOTLIKE, doISNULL, doISNOTNULL, doTRUE, doFALSE, doADD, doSUB,
  doMUL, doDIV, doCONCAT, doUPPER, doLOWER, doTRIM, doLTRIM, doRTRIM, doLENGTH, doPOS, doSUBSTRING,
  doSUM, doAVG, doMIN, doMAX, doCOUNT, doCOUNTALL, doSYSDATE, doCURRENT_DATE, doCURRENT_TIME,
  doTODATE, doTOSTRING, doEXTRACT, doCAST, doLASTAUTOINC, doMIMETOBIN, doROWNUM, doABS, doACOS,
  doASIN, doATAN, doCEIL, doCOS, doEXP, doFLOOR, doLOG, doPOWER, doRAND, doROUND, doSIGN, doSIN,
  doSQR, doSQRT,
};

// "doEQ" etc.
const char* SDBDataOperatorName(TSDBDataOperator op);
// A short, readable rendering of a value: NULL(bftVarchar), 'text', 12, 1.5.
std::string SDBValueText(const TSDBVariant& v);

class TSDBSQLUnion;

// The class of a node, for the hot paths that tell nodes apart (binding,
// condition placement) without a dynamic_cast each time.
enum TSDBExprKind : uint8_t {
  ekField, ekConst, ekBoolean, ekComparison, ekArithmetic, ekStringFunction, ekDateFunction, ekAggregated,
  ekCast, ekCase, ekSubquery, ekSystem, ekBlob,
};

class TSDBExprNode {
 public:
  explicit TSDBExprNode(TSDBDataOperator op = doUNDEFINED) : Operator(op) {}
  virtual ~TSDBExprNode();
  TSDBExprNode(const TSDBExprNode&) = delete;
  TSDBExprNode& operator=(const TSDBExprNode&) = delete;

  virtual TSDBExprKind Kind() const = 0;
  virtual const char* ClassName() const = 0;
  // The node's own attributes for the tree dump (operator excluded).
  virtual std::string Describe() const { return {}; }
  // Appends the node and its subtree, one node a line, indented by depth.
  virtual void Dump(std::string& out, int indent) const;

  TSDBExprNode* Add(std::unique_ptr<TSDBExprNode> child) {
    Children.push_back(std::move(child));
    return Children.back().get();
  }

  TSDBDataOperator Operator;
  std::vector<std::unique_ptr<TSDBExprNode>> Children;
  int LineNum = 0;
  int ColumnNum = 0;
};

using TSDBExprNodePtr = std::unique_ptr<TSDBExprNode>;

// A column reference: [table or pseudonym "."] column.
class TSDBExprNodeField : public TSDBExprNode {
 public:
  static constexpr TSDBExprKind kKind = ekField;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeField"; }
  std::string Describe() const override;
  std::string TableName;
  std::string FieldName;
};

class TSDBExprNodeConst;

// The parameter nodes the parsers made for one text. A node the parser
// drops again (an alternative it gave up, a comparison with null turned
// into IS NULL) takes itself off the list while the list is attached.
struct TSDBParamNodeList {
  TSDBParamNodeList() = default;
  TSDBParamNodeList(const TSDBParamNodeList&) = delete;
  TSDBParamNodeList& operator=(const TSDBParamNodeList&) = delete;
  ~TSDBParamNodeList() { Detach(); }
  // Parsing is over: the nodes left are the statements' own, and they no
  // longer report their end (the list must not outlive their statements).
  void Detach();
  std::vector<TSDBExprNodeConst*> Nodes;
  bool Attached = true;
};

// A literal or a bound parameter.
class TSDBExprNodeConst : public TSDBExprNode {
 public:
  ~TSDBExprNodeConst() override;
  static constexpr TSDBExprKind kKind = ekConst;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeConst"; }
  std::string Describe() const override;
  TSDBVariant Value;
  bool IsParameter = false;
  std::string ParamName;
  // A parameter's number in its text (TToken::ParamNo), -1 for a literal.
  int ParamNo = -1;
  // The list that knows this node while its text is being parsed.
  TSDBParamNodeList* ParamList = nullptr;
};

// AND / OR over all children, NOT, and the truth tests IS TRUE / IS FALSE
// (doTRUE / doFALSE with one child).
class TSDBExprNodeBoolean : public TSDBExprNode {
 public:
  using TSDBExprNode::TSDBExprNode;
  static constexpr TSDBExprKind kKind = ekBoolean;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeBoolean"; }
};

// How a comparison meets the rows of a subquery.
enum TSDBComparisonQuantifier : uint8_t { cqNone, cqAll, cqAny };

// Comparisons and predicates. Children: the compared value first, then the
// other operands (BETWEEN: low, high; IN: the list items or one subquery;
// LIKE: the pattern; EXISTS: the subquery only).
class TSDBExprNodeComparison : public TSDBExprNode {
 public:
  using TSDBExprNode::TSDBExprNode;
  static constexpr TSDBExprKind kKind = ekComparison;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeComparison"; }
  std::string Describe() const override;
  TSDBComparisonQuantifier Quantifier = cqNone;
  bool HasEscape = false;
  char EscapeChar = 0;
};

// + - * / || (a "-" with one child negates it) and the numeric functions.
class TSDBExprNodeArithmetic : public TSDBExprNode {
 public:
  using TSDBExprNode::TSDBExprNode;
  static constexpr TSDBExprKind kKind = ekArithmetic;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeArithmetic"; }
  std::string Describe() const override;
  // ROUND's rounding mode (rwHALFEVEN ... rwRNDUP), rwNone for the default.
  TReservedWord RoundMode = rwNone;
};

// UPPER, LOWER, TRIM/LTRIM/RTRIM, LENGTH, POS, SUBSTRING.
class TSDBExprNodeStringFunction : public TSDBExprNode {
 public:
  using TSDBExprNode::TSDBExprNode;
  static constexpr TSDBExprKind kKind = ekStringFunction;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeStringFunction"; }
  std::string Describe() const override;
  // TRIM: rwBOTH, rwLEADING or rwTRAILING (rwBOTH by default); a second
  // child, when present, is the character to remove.
  TReservedWord TrimSide = rwNone;
};

// SYSDATE, CURRENT_DATE, CURRENT_TIME, TODATE, TOSTRING, EXTRACT.
class TSDBExprNodeDateFunction : public TSDBExprNode {
 public:
  using TSDBExprNode::TSDBExprNode;
  static constexpr TSDBExprKind kKind = ekDateFunction;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeDateFunction"; }
  std::string Describe() const override;
  TReservedWord ExtractPart = rwNone;  // EXTRACT: rwYEAR ... rwSECOND
};

// SUM, AVG, MIN, MAX, COUNT (one child) and COUNT(*) (doCOUNTALL, none).
class TSDBExprNodeAggregated : public TSDBExprNode {
 public:
  using TSDBExprNode::TSDBExprNode;
  static constexpr TSDBExprKind kKind = ekAggregated;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeAggregated"; }
  std::string Describe() const override;
  bool Distinct = false;
};

// CAST(value AS type[(size)]).
class TSDBExprNodeCast : public TSDBExprNode {
 public:
  TSDBExprNodeCast() : TSDBExprNode(doCAST) {}
  static constexpr TSDBExprKind kKind = ekCast;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeCast"; }
  std::string Describe() const override;
  std::string TypeName;
  TSDBAdvancedFieldType AdvancedType = aftUnknown;
  TSDBBaseFieldType BaseType = bftUnknown;
  int Size = 0;
};

enum TSDBCaseKind : uint8_t {
  ckSearched,  // CASE WHEN c THEN v ... [ELSE v] END: children c1, v1, c2, v2, ... [else]
  ckSimple,    // CASE x WHEN a THEN v ... [ELSE v] END: children x, a1, v1, ... [else]
  ckCoalesce,  // COALESCE(a, b, ...): the first value that is not null
  ckNullIf,    // NULLIF(a, b): null when a = b, else a
};

class TSDBExprNodeCase : public TSDBExprNode {
 public:
  static constexpr TSDBExprKind kKind = ekCase;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeCase"; }
  std::string Describe() const override;
  TSDBCaseKind CaseKind = ckSearched;
  bool HasElse = false;
};

// A parenthesised query used as a value, an IN list or an EXISTS operand.
class TSDBExprNodeSubquery : public TSDBExprNode {
 public:
  TSDBExprNodeSubquery();
  ~TSDBExprNodeSubquery() override;
  static constexpr TSDBExprKind kKind = ekSubquery;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeSubquery"; }
  void Dump(std::string& out, int indent) const override;
  std::unique_ptr<TSDBSQLUnion> Query;
};

// Values the engine supplies: LASTAUTOINC(table, field), ROWNUM.
class TSDBExprNodeSystem : public TSDBExprNode {
 public:
  using TSDBExprNode::TSDBExprNode;
  static constexpr TSDBExprKind kKind = ekSystem;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeSystem"; }
  std::string Describe() const override;
  std::string TableName;
  std::string FieldName;
};

// MIMETOBIN(text): the bytes of a MIME (base64) encoded text.
class TSDBExprNodeBlob : public TSDBExprNode {
 public:
  using TSDBExprNode::TSDBExprNode;
  static constexpr TSDBExprKind kKind = ekBlob;
  TSDBExprKind Kind() const override { return kKind; }
  const char* ClassName() const override { return "TSDBExprNodeBlob"; }
};

// The node as a T when it is one (null otherwise): the dynamic_cast of
// the expression classes, by their kind.
template <class T>
const T* SDBExprAs(const TSDBExprNode* n) noexcept {
  return n && n->Kind() == T::kKind ? static_cast<const T*>(n) : nullptr;
}
template <class T>
T* SDBExprAs(TSDBExprNode* n) noexcept {
  return n && n->Kind() == T::kKind ? static_cast<T*>(n) : nullptr;
}

// One parsed expression with its evaluation options.
class TSDBExpression {
 public:
  explicit TSDBExpression(TSDBExprNodePtr root = nullptr) : FRootExprNode(std::move(root)) {}
  TSDBExprNode* Root() const { return FRootExprNode.get(); }
  void Dump(std::string& out, int indent) const;

  TSDBExprNodePtr FRootExprNode;
  bool FCaseInsensitive = false;
  bool FPartialKey = false;
  bool F3ValueLogic = true;
};

}  // namespace sdb
