#include "sql/SDBEvaluator.h"

#include <chrono>
#include <ctime>

#include "common/SDBNames.h"
#include "sdb/SDBException.h"
#include "sql/SDBSQLParser.h"

namespace sdb {

// ---------------------------------------------------------------- TSDBRowColumnSource

int TSDBRowColumnSource::AddColumn(std::string name, TSDBVariant value) {
  Names.push_back(std::move(name));
  Types.push_back(value.DataType());
  Values.push_back(std::move(value));
  return static_cast<int>(Names.size()) - 1;
}

int TSDBRowColumnSource::FindColumn(std::string_view tableName, std::string_view fieldName) const {
  if (!tableName.empty() && !TableName.empty() && !SDBSameName(tableName, TableName)) return -1;
  int found = -1;
  const std::string f(fieldName);
  for (size_t i = 0; i < Names.size(); ++i) {
    if (!SDBSameName(Names[i], f)) continue;
    if (found >= 0) return kSDBColumnAmbiguous;
    found = static_cast<int>(i);
  }
  return found;
}

TSDBBaseFieldType TSDBRowColumnSource::ColumnType(int slot) const { return Types.at(static_cast<size_t>(slot)); }

TSDBVariant TSDBRowColumnSource::ColumnValue(int slot) const { return Values.at(static_cast<size_t>(slot)); }

// ---------------------------------------------------------------- TSDBEvalHost defaults

void TSDBEvalHost::RunSubquery(const TSDBSQLUnion&, const TSDBColumnSource&, int64_t, TSDBSubqueryResult&) {
  throw ESDBException(kEvalErrNoHost, "'%s' cannot be evaluated here", {std::string("Subquery")});
}

TSDBVariant TSDBEvalHost::LastAutoInc(const std::string&, const std::string&) {
  throw ESDBException(kEvalErrNoHost, "'%s' cannot be evaluated here", {std::string("LASTAUTOINC")});
}

int64_t TSDBEvalHost::RowNum() {
  throw ESDBException(kEvalErrNoHost, "'%s' cannot be evaluated here", {std::string("ROWNUM")});
}

double TSDBEvalHost::Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return SDBEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
         SDBEncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
}

}  // namespace sdb

// ============================================================================
// Binding and evaluation
// ============================================================================

#include <cmath>
#include <limits>
#include <random>

#include "sql/SDBFunctions.h"
#include "sql/SDBSQLStatements.h"

namespace sdb {

namespace {

enum TNodeKind : uint8_t {
  nkField, nkConst, nkBoolean, nkComparison, nkArithmetic, nkString, nkDate, nkAggregate, nkCast, nkCase,
  nkSubquery, nkSystem, nkBlob,
};

struct BNode {
  const TSDBExprNode* N = nullptr;
  TNodeKind Kind = nkConst;
  std::vector<std::unique_ptr<BNode>> Kids;
  const TSDBColumnSource* Src = nullptr;  // field
  int Slot = -1;
  TSDBBaseFieldType Type = bftUnknown;  // static result type, bftUnknown when data decide
  int Size = 0;                         // texts: longest value expected, 0 when unknown
  bool TwoValued = false;               // comparisons: null rules
  int AggIndex = -1;
  bool HasCache = false;  // uncorrelated subquery rows kept
  TSDBSubqueryResult Cache;
  std::unique_ptr<std::mt19937_64> Rng;  // RAND
};

TSDBEvalHost& DefaultHost() {
  static TSDBEvalHost host;
  return host;
}

std::string NodeName(const TSDBExprNode* n) {
  std::string s = SDBDataOperatorName(n->Operator);
  return s.size() > 2 ? s.substr(2) : s;  // "doSUM" -> "SUM"
}

[[noreturn]] void RaiseAt(int code, const std::string& fmt, TSDBFormatArgs args, const TSDBExprNode* at) {
  if (at && at->LineNum > 0) {
    args.emplace_back(static_cast<int64_t>(at->LineNum));
    args.emplace_back(static_cast<int64_t>(at->ColumnNum));
    throw ESDBException(code, fmt + " at line %d, column %d", args);
  }
  if (args.empty()) throw ESDBException(code, fmt);
  throw ESDBException(code, fmt, args);
}

TSDBVariant FromTruth(TSDBTruth t) {
  if (t == trUnknown) return TSDBVariant(bftLogical);
  return TSDBVariant::FromBool(t == trTrue);
}

TSDBTruth Not(TSDBTruth t) { return t == trUnknown ? trUnknown : (t == trTrue ? trFalse : trTrue); }

bool IsTextOrDateConst(const TSDBExprNode* n) {
  const auto* c = SDBExprAs<TSDBExprNodeConst>(n);
  if (!c) return false;
  const TSDBBaseFieldType t = c->Value.DataType();
  return c->Value.IsNull() || SDBIsTextType(t) || SDBIsDateTimeType(t);
}

// A column compared with a text or date-time constant (or parameter), or
// with a null constant: null is an ordinary value that sorts first.
bool ComparesTwoValued(const TSDBExprNode* a, const TSDBExprNode* b) {
  const bool fa = SDBExprAs<TSDBExprNodeField>(a) != nullptr;
  const bool fb = SDBExprAs<TSDBExprNodeField>(b) != nullptr;
  return (fa && IsTextOrDateConst(b)) || (fb && IsTextOrDateConst(a));
}

// A number read from a value: integers stay exact.
struct TNum {
  bool IsInt = true;
  int64_t I = 0;
  double D = 0;
  TSDBBaseFieldType Type = bftSignedInt64;
  double AsDouble() const { return IsInt ? static_cast<double>(I) : D; }
};

TNum ToNum(const TSDBVariant& v) {
  TNum n;
  const TSDBBaseFieldType t = v.DataType();
  n.Type = t;
  if (SDBIsIntegerType(t)) {
    n.I = v.AsInt64();
    return n;
  }
  if (SDBIsFloatType(t) || SDBIsDateTimeType(t)) {
    n.IsInt = false;
    n.D = v.AsDouble();
    return n;
  }
  if (SDBIsTextType(t)) {
    try {
      n.I = v.ConvertedTo(bftSignedInt64).AsInt64();
      const std::string s = v.AsString();
      if (s.find_first_of(".eE") == std::string::npos) {
        n.Type = bftSignedInt64;
        return n;
      }
    } catch (const ESDBException&) {
    }
    n.IsInt = false;
    n.D = v.AsDouble();  // raises the conversion error for a non-number
    n.Type = bftDouble;
    return n;
  }
  std::string shown;
  try {
    shown = v.AsString();
  } catch (const ESDBException&) {
    shown = "?";
  }
  throw ESDBException(kEvalErrConvert, "Cannot convert value '%s' of type %s to %s",
                      {shown, SDBBaseFieldTypeName(t), SDBBaseFieldTypeName(bftDouble)});
}

bool IsWholeNumber(const TSDBVariant& v) {
  if (SDBIsIntegerType(v.DataType())) return true;
  const double d = v.AsDouble();
  return d == std::trunc(d);
}

// Values as text of the same width as the operand (wide stays wide).
bool IsWide(const TSDBVariant& v) { return SDBIsWideTextType(v.DataType()); }

TSDBVariant TextResult(std::u16string_view s, bool wide, TSDBBaseFieldType like) {
  if (wide) return TSDBVariant::FromWideString(s, SDBIsWideTextType(like) ? like : bftWideVarchar);
  return TSDBVariant::FromString(SDBWideToAnsi(s), SDBIsAnsiTextType(like) ? like : bftVarchar);
}

// The outer row of a subquery: the evaluator's sources as one source.
class TCompositeSource : public TSDBColumnSource {
 public:
  explicit TCompositeSource(const std::vector<const TSDBColumnSource*>& sources) : FSources(sources) {}
  int FindColumn(std::string_view tableName, std::string_view fieldName) const override {
    for (const TSDBColumnSource* s : FSources) {
      const int slot = s->FindColumn(tableName, fieldName);
      if (slot == kSDBColumnAmbiguous) {
        Used = true;
        return slot;
      }
      if (slot >= 0) {
        Used = true;
        const std::pair<const TSDBColumnSource*, int> key(s, slot);
        for (size_t i = 0; i < FMap.size(); ++i)
          if (FMap[i] == key) return static_cast<int>(i);
        FMap.push_back(key);
        return static_cast<int>(FMap.size()) - 1;
      }
    }
    return -1;
  }
  // Set when a column was looked up (and found): a subquery run that never
  // sets it does not depend on the outer row.
  mutable bool Used = false;
  TSDBBaseFieldType ColumnType(int slot) const override {
    const auto& m = FMap.at(static_cast<size_t>(slot));
    return m.first->ColumnType(m.second);
  }
  TSDBVariant ColumnValue(int slot) const override {
    const auto& m = FMap.at(static_cast<size_t>(slot));
    return m.first->ColumnValue(m.second);
  }

 private:
  const std::vector<const TSDBColumnSource*>& FSources;
  mutable std::vector<std::pair<const TSDBColumnSource*, int>> FMap;
};

}  // namespace

struct TSDBEvalState {
  explicit TSDBEvalState(const std::vector<const TSDBColumnSource*>& sources) : Outer(sources) {}
  std::unique_ptr<BNode> Root;
  std::vector<BNode*> Aggs;
  const std::vector<TSDBAggregator>* AggResults = nullptr;
  TCompositeSource Outer;
  const TSDBCollation* Collation = nullptr;
};

// All binding and evaluation code; a friend of TSDBEvaluator.
struct TSDBEvalImpl {
  TSDBEvaluator& E;
  TSDBEvalState& S;

  TSDBEvalHost& Host() const { return E.FHost ? *E.FHost : DefaultHost(); }

  // ---------------------------------------------------------------- binding

  std::unique_ptr<BNode> Bind(const TSDBExprNode* n, bool inAggregate) {
    auto b = std::make_unique<BNode>();
    b->N = n;
    if (auto* f = SDBExprAs<TSDBExprNodeField>(n)) {
      b->Kind = nkField;
      for (const TSDBColumnSource* src : E.FSources) {
        const int slot = src->FindColumn(f->TableName, f->FieldName);
        if (slot == kSDBColumnAmbiguous)
          RaiseAt(kEvalErrAmbiguousColumn, "Ambiguous column name '%s'", {f->Describe()}, n);
        if (slot >= 0) {
          b->Src = src;
          b->Slot = slot;
          b->Type = src->ColumnType(slot);
          break;
        }
      }
      if (!b->Src) RaiseAt(kEvalErrUnknownColumn, "Unknown column '%s'", {f->Describe()}, n);
      return b;
    }
    if (auto* c = SDBExprAs<TSDBExprNodeConst>(n)) {
      b->Kind = nkConst;
      b->Type = c->Value.DataType();
      if (SDBIsTextType(b->Type) && !c->Value.IsNull())
        b->Size = static_cast<int>(IsWide(c->Value) ? c->Value.AsWideString().size() : c->Value.AsString().size());
      return b;
    }
    if (auto* a = SDBExprAs<TSDBExprNodeAggregated>(n)) {
      if (inAggregate)
        RaiseAt(kEvalErrAggregate, "Aggregate function '%s' is not allowed here", {NodeName(n)}, n);
      b->Kind = nkAggregate;
      for (const auto& k : n->Children) b->Kids.push_back(Bind(k.get(), true));
      b->AggIndex = static_cast<int>(S.Aggs.size());
      S.Aggs.push_back(b.get());
      switch (a->Operator) {
        case doCOUNT:
        case doCOUNTALL: b->Type = bftSignedInt64; break;
        case doAVG: b->Type = bftDouble; break;
        case doSUM:
          b->Type = !b->Kids.empty() && SDBIsIntegerType(b->Kids[0]->Type) ? bftSignedInt64 : bftDouble;
          break;
        default:
          if (!b->Kids.empty()) {
            b->Type = b->Kids[0]->Type;
            b->Size = b->Kids[0]->Size;
          }
      }
      return b;
    }
    b->Kids.reserve(n->Children.size());
    for (const auto& k : n->Children) b->Kids.push_back(Bind(k.get(), inAggregate));
    if (SDBExprAs<TSDBExprNodeBoolean>(n)) {
      b->Kind = nkBoolean;
      b->Type = bftLogical;
    } else if (auto* cmp = SDBExprAs<TSDBExprNodeComparison>(n)) {
      b->Kind = nkComparison;
      b->Type = bftLogical;
      b->TwoValued = !E.F3ValueLogic ||
                     (n->Children.size() == 2 && cmp->Quantifier == cqNone &&
                      ComparesTwoValued(n->Children[0].get(), n->Children[1].get()));
    } else if (SDBExprAs<TSDBExprNodeArithmetic>(n)) {
      b->Kind = nkArithmetic;
      b->Type = ArithmeticType(*b);
    } else if (SDBExprAs<TSDBExprNodeStringFunction>(n)) {
      b->Kind = nkString;
      if (n->Operator == doLENGTH || n->Operator == doPOS) {
        b->Type = bftSignedInt32;
      } else if (!b->Kids.empty()) {
        b->Type = SDBIsTextType(b->Kids[0]->Type) ? b->Kids[0]->Type : bftVarchar;
        b->Size = b->Kids[0]->Size;
      }
    } else if (SDBExprAs<TSDBExprNodeDateFunction>(n)) {
      b->Kind = nkDate;
      switch (n->Operator) {
        case doCURRENT_DATE: b->Type = bftDate; break;
        case doCURRENT_TIME: b->Type = bftTime; break;
        case doTOSTRING: b->Type = bftVarchar; break;
        case doEXTRACT: b->Type = bftSignedInt32; break;
        default: b->Type = bftDateTime; break;
      }
    } else if (auto* cast = SDBExprAs<TSDBExprNodeCast>(n)) {
      b->Kind = nkCast;
      b->Type = cast->BaseType;
      b->Size = cast->Size;
    } else if (auto* cs = SDBExprAs<TSDBExprNodeCase>(n)) {
      b->Kind = nkCase;
      // The type of the first result whose type is known.
      std::vector<const BNode*> results;
      const size_t k = b->Kids.size();
      switch (cs->CaseKind) {
        case ckCoalesce:
          for (const auto& kid : b->Kids) results.push_back(kid.get());
          break;
        case ckNullIf:
          if (k) results.push_back(b->Kids[0].get());
          break;
        case ckSearched:
        case ckSimple: {
          const size_t first = cs->CaseKind == ckSimple ? 1 : 0;
          const size_t pairsEnd = cs->HasElse ? k - 1 : k;
          for (size_t i = first + 1; i < pairsEnd; i += 2) results.push_back(b->Kids[i].get());
          if (cs->HasElse && k) results.push_back(b->Kids[k - 1].get());
          break;
        }
      }
      for (const BNode* r : results) {
        if (r->Type != bftUnknown && !(r->Kind == nkConst && SDBExprAs<TSDBExprNodeConst>(r->N)->Value.IsNull() &&
                                        !SDBIsTextType(r->Type))) {
          b->Type = r->Type;
          break;
        }
      }
      for (const BNode* r : results) b->Size = std::max(b->Size, r->Size);
    } else if (SDBExprAs<TSDBExprNodeSubquery>(n)) {
      b->Kind = nkSubquery;
    } else if (SDBExprAs<TSDBExprNodeSystem>(n)) {
      b->Kind = nkSystem;
      b->Type = bftSignedInt64;
    } else if (SDBExprAs<TSDBExprNodeBlob>(n)) {
      b->Kind = nkBlob;
      b->Type = bftBlob;
    } else {
      RaiseAt(kEvalErrArgument, "Cannot evaluate '%s'", {std::string(n->ClassName())}, n);
    }
    return b;
  }

  static TSDBBaseFieldType ArithmeticType(const BNode& b) {
    auto kt = [&](size_t i) { return i < b.Kids.size() ? b.Kids[i]->Type : bftUnknown; };
    const TSDBBaseFieldType a = kt(0), c = kt(1);
    switch (b.N->Operator) {
      case doCONCAT:
        return SDBIsWideTextType(a) || SDBIsWideTextType(c) ? bftWideVarchar : bftVarchar;
      case doADD:
      case doSUB:
      case doMUL:
        if (b.Kids.size() == 1) return SDBIsIntegerType(a) ? bftSignedInt64 : (a == bftUnknown ? a : bftDouble);
        if (SDBIsDateTimeType(a) && SDBIsDateTimeType(c)) return bftDouble;
        if (SDBIsDateTimeType(a)) return a == bftDate && SDBIsIntegerType(c) ? bftDate : bftDateTime;
        if (SDBIsDateTimeType(c)) return c == bftDate && SDBIsIntegerType(a) ? bftDate : bftDateTime;
        if (SDBIsIntegerType(a) && SDBIsIntegerType(c)) return bftSignedInt64;
        if (a == bftUnknown || c == bftUnknown || SDBIsTextType(a) || SDBIsTextType(c)) return bftUnknown;
        return bftDouble;
      case doABS:
      case doCEIL:
      case doFLOOR:
      case doROUND:
        return SDBIsIntegerType(a) ? bftSignedInt64 : (a == bftUnknown || SDBIsTextType(a) ? bftUnknown : bftDouble);
      case doSIGN:
        return bftSignedInt32;
      default:
        return bftDouble;
    }
  }

  // ---------------------------------------------------------------- evaluation

  TSDBVariant Eval(BNode& b) {
    switch (b.Kind) {
      case nkField:
        return b.Src->ColumnValue(b.Slot);
      case nkConst:
        return static_cast<const TSDBExprNodeConst*>(b.N)->Value;
      case nkBoolean:
      case nkComparison:
        return FromTruth(Truth(b));
      case nkArithmetic:
        return Arithmetic(b);
      case nkString:
        return StringFunction(b);
      case nkDate:
        return DateFunction(b);
      case nkAggregate:
        if (!S.AggResults || static_cast<size_t>(b.AggIndex) >= S.AggResults->size())
          RaiseAt(kEvalErrAggregate, "Aggregate function '%s' is not allowed here", {NodeName(b.N)}, b.N);
        return (*S.AggResults)[static_cast<size_t>(b.AggIndex)].Result();
      case nkCast:
        return Cast(b);
      case nkCase:
        return Case(b);
      case nkSubquery:
        return ScalarSubquery(b);
      case nkSystem:
        if (b.N->Operator == doROWNUM) return TSDBVariant::FromInt(Host().RowNum());
        {
          const auto* s = static_cast<const TSDBExprNodeSystem*>(b.N);
          return Host().LastAutoInc(s->TableName, s->FieldName);
        }
      case nkBlob: {
        TSDBVariant v = Eval(*b.Kids.at(0));
        if (v.IsNull()) return TSDBVariant(bftBlob);
        std::string bytes;
        if (!SDBDecodeMime(v.AsString(), bytes))
          RaiseAt(kEvalErrMime, "Invalid MIME encoded text", {}, b.N);
        return TSDBVariant::FromBytes(bytes, bftBlob);
      }
    }
    return TSDBVariant();
  }

  TSDBTruth Truth(BNode& b) {
    const TSDBDataOperator op = b.N->Operator;
    if (b.Kind == nkBoolean) {
      switch (op) {
        case doAND: {
          TSDBTruth r = trTrue;
          for (auto& k : b.Kids) {
            const TSDBTruth t = Truth(*k);
            if (t == trFalse) return trFalse;
            if (t == trUnknown) r = trUnknown;
          }
          return r;
        }
        case doOR: {
          TSDBTruth r = trFalse;
          for (auto& k : b.Kids) {
            const TSDBTruth t = Truth(*k);
            if (t == trTrue) return trTrue;
            if (t == trUnknown) r = trUnknown;
          }
          return r;
        }
        case doNOT: return Not(Truth(*b.Kids.at(0)));
        case doTRUE: return Truth(*b.Kids.at(0)) == trTrue ? trTrue : trFalse;
        case doFALSE: return Truth(*b.Kids.at(0)) == trFalse ? trTrue : trFalse;
        default: break;
      }
      RaiseAt(kEvalErrArgument, "Cannot evaluate '%s'", {NodeName(b.N)}, b.N);
    }
    if (b.Kind == nkComparison) return Comparison(b);
    const TSDBVariant v = Eval(b);
    if (v.IsNull()) return trUnknown;
    try {
      return v.AsBoolean() ? trTrue : trFalse;
    } catch (const ESDBException&) {
      RaiseAt(kEvalErrNotBoolean, "Boolean value expected, but %s found", {SDBValueText(v)}, b.N);
    }
  }

  int CompareValues(const TSDBVariant& a, const TSDBVariant& c) {
    return a.Compare(c, E.FCaseInsensitive, S.Collation);
  }

  static TSDBTruth Apply(TSDBDataOperator op, int c) {
    bool r = false;
    switch (op) {
      case doEQ: r = c == 0; break;
      case doNE: r = c != 0; break;
      case doLT: r = c < 0; break;
      case doGT: r = c > 0; break;
      case doLE: r = c <= 0; break;
      case doGE: r = c >= 0; break;
      default: break;
    }
    return r ? trTrue : trFalse;
  }

  TSDBTruth CompareOp(TSDBDataOperator op, const TSDBVariant& a, const TSDBVariant& c, bool twoValued) {
    if (!twoValued && (a.IsNull() || c.IsNull())) return trUnknown;
    // The case-sensitive order breaks collation ties by code point, so two
    // texts of one type are equal exactly when they are the same text:
    // equality needs no collation.
    if ((op == doEQ || op == doNE) && !E.FCaseInsensitive && a.DataType() == c.DataType() &&
        SDBIsTextType(a.DataType()))
      return ((a == c) == (op == doEQ)) ? trTrue : trFalse;
    return Apply(op, CompareValues(a, c));
  }

  TSDBSubqueryResult& Subquery(BNode& b, int64_t maxRows) {
    if (b.HasCache) return b.Cache;
    const auto* sq = static_cast<const TSDBExprNodeSubquery*>(b.N);
    if (!sq->Query) RaiseAt(kEvalErrArgument, "Cannot evaluate '%s'", {std::string("Subquery")}, b.N);
    b.Cache = TSDBSubqueryResult();
    S.Outer.Used = false;
    Host().RunSubquery(*sq->Query, S.Outer, maxRows, b.Cache);
    // A query that never read the outer row gives the same rows for every
    // row: keep them (a node always asks for the same number of rows).
    b.HasCache = !b.Cache.Correlated || !S.Outer.Used;
    return b.Cache;
  }

  static int SubqueryColumns(const TSDBSubqueryResult& r) {
    if (r.ColumnCount > 0) return r.ColumnCount;
    return r.Rows.empty() ? 1 : static_cast<int>(r.Rows[0].size());
  }

  TSDBSubqueryResult& SingleColumnSubquery(BNode& b, int64_t maxRows) {
    TSDBSubqueryResult& r = Subquery(b, maxRows);
    if (SubqueryColumns(r) != 1)
      RaiseAt(kEvalErrSubqueryColumns, "Subquery must return exactly one column", {}, b.N);
    for (const auto& row : r.Rows)
      if (row.size() != 1) RaiseAt(kEvalErrSubqueryColumns, "Subquery must return exactly one column", {}, b.N);
    return r;
  }

  TSDBTruth Comparison(BNode& b) {
    const TSDBDataOperator op = b.N->Operator;
    const auto* cn = static_cast<const TSDBExprNodeComparison*>(b.N);
    switch (op) {
      case doEQ:
      case doNE:
      case doLT:
      case doGT:
      case doLE:
      case doGE: {
        TSDBVariant a = Eval(*b.Kids.at(0));
        if (cn->Quantifier == cqNone) return CompareOp(op, a, Eval(*b.Kids.at(1)), b.TwoValued);
        // ALL / ANY over the rows of a subquery.
        TSDBSubqueryResult& r = SingleColumnSubquery(*b.Kids.at(1), -1);
        const bool all = cn->Quantifier == cqAll;
        TSDBTruth result = all ? trTrue : trFalse;
        for (const auto& row : r.Rows) {
          const TSDBTruth t = CompareOp(op, a, row[0], false);
          if (all && t == trFalse) return trFalse;
          if (!all && t == trTrue) return trTrue;
          if (t == trUnknown) result = trUnknown;
        }
        return result;
      }
      case doISNULL: return Eval(*b.Kids.at(0)).IsNull() ? trTrue : trFalse;
      case doISNOTNULL: return Eval(*b.Kids.at(0)).IsNull() ? trFalse : trTrue;
      case doBETWEEN:
      case doNOTBETWEEN: {
        const TSDBVariant x = Eval(*b.Kids.at(0));
        const TSDBVariant lo = Eval(*b.Kids.at(1));
        const TSDBVariant hi = Eval(*b.Kids.at(2));
        const bool tv1 = !E.F3ValueLogic || ComparesTwoValued(b.N->Children[0].get(), b.N->Children[1].get());
        const bool tv2 = !E.F3ValueLogic || ComparesTwoValued(b.N->Children[0].get(), b.N->Children[2].get());
        const TSDBTruth t1 = CompareOp(doGE, x, lo, tv1);
        TSDBTruth r = t1 == trFalse ? trFalse : CompareOp(doLE, x, hi, tv2);
        if (r == trTrue && t1 == trUnknown) r = trUnknown;
        return op == doBETWEEN ? r : Not(r);
      }
      case doIN:
      case doNOTIN: {
        const TSDBVariant x = Eval(*b.Kids.at(0));
        TSDBTruth r = trFalse;
        if (b.Kids.size() == 2 && b.Kids[1]->Kind == nkSubquery) {
          TSDBSubqueryResult& rows = SingleColumnSubquery(*b.Kids[1], -1);
          for (const auto& row : rows.Rows) {
            const TSDBTruth t = CompareOp(doEQ, x, row[0], false);
            if (t == trTrue) {
              r = trTrue;
              break;
            }
            if (t == trUnknown) r = trUnknown;
          }
        } else {
          for (size_t i = 1; i < b.Kids.size(); ++i) {
            const bool tv = !E.F3ValueLogic || ComparesTwoValued(b.N->Children[0].get(), b.N->Children[i].get());
            const TSDBTruth t = CompareOp(doEQ, x, Eval(*b.Kids[i]), tv);
            if (t == trTrue) {
              r = trTrue;
              break;
            }
            if (t == trUnknown) r = trUnknown;
          }
        }
        return op == doIN ? r : Not(r);
      }
      case doLIKE:
      case doNOTLIKE: {
        const TSDBVariant x = Eval(*b.Kids.at(0));
        const TSDBVariant p = Eval(*b.Kids.at(1));
        if (x.IsNull() || p.IsNull()) return trUnknown;
        std::u16string text = x.AsWideString(), pattern = p.AsWideString();
        std::optional<char16_t> esc;
        if (cn->HasEscape) esc = SDBAnsiToWide(std::string(1, cn->EscapeChar)).at(0);
        if (E.FCaseInsensitive) {
          text = SDBMapCase(text, cmFold);
          pattern = SDBMapCase(pattern, cmFold);
          if (esc) esc = SDBMapCase(std::u16string(1, *esc), cmFold).at(0);
        }
        const std::optional<bool> m = SDBLikeMatch(text, pattern, esc);
        if (!m) RaiseAt(kEvalErrLikeEscape, "Invalid escape sequence in LIKE pattern '%s'", {p.AsString()}, b.N);
        return (*m == (op == doLIKE)) ? trTrue : trFalse;
      }
      case doEXISTS: {
        TSDBSubqueryResult& r = Subquery(*b.Kids.at(0), 1);
        return r.Rows.empty() ? trFalse : trTrue;
      }
      default:
        RaiseAt(kEvalErrArgument, "Cannot evaluate '%s'", {NodeName(b.N)}, b.N);
    }
  }

  TSDBVariant ScalarSubquery(BNode& b) {
    TSDBSubqueryResult& r = SingleColumnSubquery(b, 2);
    if (r.Rows.size() > 1) RaiseAt(kEvalErrSubqueryRows, "Subquery returns more than one row", {}, b.N);
    if (r.Rows.empty()) return TSDBVariant(r.ColumnTypes.empty() ? bftUnknown : r.ColumnTypes[0]);
    return r.Rows[0][0];
  }

  [[noreturn]] void Overflow(const BNode& b) { RaiseAt(kEvalErrOverflow, "Arithmetic overflow", {}, b.N); }

  TSDBVariant FloatResult(double d, const BNode& b, TSDBBaseFieldType t = bftDouble) {
    if (!std::isfinite(d)) {
      if (std::isnan(d)) RaiseAt(kEvalErrArgument, "Invalid argument for function '%s'", {NodeName(b.N)}, b.N);
      Overflow(b);
    }
    return TSDBVariant::FromDouble(d, t);
  }

  TSDBVariant NullOf(const BNode& b, TSDBBaseFieldType fallback) {
    return TSDBVariant(b.Type != bftUnknown ? b.Type : fallback);
  }

  TSDBVariant Arithmetic(BNode& b) {
    const TSDBDataOperator op = b.N->Operator;
    if (op == doCONCAT) {
      // Null is the empty text here: 'a' || NULL is 'a'.
      const TSDBVariant a = Eval(*b.Kids.at(0)), c = Eval(*b.Kids.at(1));
      if (a.IsNull() && c.IsNull()) return TSDBVariant(b.Type);
      if (IsWide(a) || IsWide(c)) {
        std::u16string s = a.IsNull() ? u"" : a.AsWideString();
        if (!c.IsNull()) s += c.AsWideString();
        return TSDBVariant::FromWideString(s);
      }
      std::string s = a.IsNull() ? "" : a.AsString();
      if (!c.IsNull()) s += c.AsString();
      return TSDBVariant::FromString(s);
    }
    if ((op == doADD || op == doSUB || op == doMUL || op == doDIV) && b.Kids.size() == 2) {
      const TSDBVariant a = Eval(*b.Kids[0]), c = Eval(*b.Kids[1]);
      if (a.IsNull() || c.IsNull()) return NullOf(b, bftDouble);
      const TSDBBaseFieldType ta = a.DataType(), tc = c.DataType();
      // Dates: date - date is a number of days; date +/- days is a date.
      if (SDBIsDateTimeType(ta) && SDBIsDateTimeType(tc) && op == doSUB)
        return FloatResult(a.AsDouble() - c.AsDouble(), b);
      if ((SDBIsDateTimeType(ta) && (op == doADD || op == doSUB) && !SDBIsDateTimeType(tc)) ||
          (SDBIsDateTimeType(tc) && op == doADD && !SDBIsDateTimeType(ta))) {
        const TSDBVariant& date = SDBIsDateTimeType(ta) ? a : c;
        const TSDBVariant& days = SDBIsDateTimeType(ta) ? c : a;
        const double d = ToNum(days).AsDouble();
        const double r = op == doADD ? date.AsDouble() + d : date.AsDouble() - d;
        if (!std::isfinite(r) || r < -693593.0 || r > 2958466.0) Overflow(b);
        const TSDBBaseFieldType type = date.DataType() == bftDate && IsWholeNumber(days) ? bftDate : bftDateTime;
        return TSDBVariant::FromDateTime(r, type);
      }
      if (SDBIsDateTimeType(ta) || SDBIsDateTimeType(tc))
        throw ESDBException(kEvalErrIncompatible, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                            {SDBBaseFieldTypeName(ta), SDBBaseFieldTypeName(tc)});
      const TNum x = ToNum(a), y = ToNum(c);
      if (op == doDIV) {
        // "/" always divides exactly: 1 / 2 is 0.5, not 0.
        if (y.AsDouble() == 0) RaiseAt(kEvalErrDivByZero, "Division by zero", {}, b.N);
        return FloatResult(x.AsDouble() / y.AsDouble(), b);
      }
      if (x.IsInt && y.IsInt) {
        int64_t r = 0;
        bool ovf = op == doADD   ? __builtin_add_overflow(x.I, y.I, &r)
                   : op == doSUB ? __builtin_sub_overflow(x.I, y.I, &r)
                                 : __builtin_mul_overflow(x.I, y.I, &r);
        if (ovf) Overflow(b);
        return TSDBVariant::FromInt(r);
      }
      const double dx = x.AsDouble(), dy = y.AsDouble();
      const double r = op == doADD ? dx + dy : op == doSUB ? dx - dy : dx * dy;
      const bool currency = x.Type == bftCurrency || y.Type == bftCurrency;
      return FloatResult(r, b, currency ? bftCurrency : bftDouble);
    }
    if (op == doSUB && b.Kids.size() == 1) {
      const TSDBVariant a = Eval(*b.Kids[0]);
      if (a.IsNull()) return NullOf(b, bftDouble);
      const TNum x = ToNum(a);
      if (x.IsInt) {
        if (x.I == std::numeric_limits<int64_t>::min()) Overflow(b);
        return TSDBVariant::FromInt(-x.I);
      }
      return TSDBVariant::FromDouble(-x.D, x.Type == bftCurrency ? bftCurrency : bftDouble);
    }
    return MathFunction(b);
  }

  TSDBVariant MathFunction(BNode& b) {
    const TSDBDataOperator op = b.N->Operator;
    if (op == doRAND) {
      if (!b.Rng) {
        if (!b.Kids.empty()) {
          const TSDBVariant seed = Eval(*b.Kids[0]);
          b.Rng = std::make_unique<std::mt19937_64>(seed.IsNull() ? 0 : static_cast<uint64_t>(ToNum(seed).AsDouble()));
        } else {
          b.Rng = std::make_unique<std::mt19937_64>(std::random_device{}());
        }
      }
      return TSDBVariant::FromDouble(std::uniform_real_distribution<double>(0.0, 1.0)(*b.Rng));
    }
    std::vector<TSDBVariant> args;
    args.reserve(b.Kids.size());
    for (auto& k : b.Kids) {
      args.push_back(Eval(*k));
      if (args.back().IsNull()) return NullOf(b, bftDouble);
    }
    if (args.empty()) RaiseAt(kEvalErrArgument, "Invalid argument for function '%s'", {NodeName(b.N)}, b.N);
    const TNum x = ToNum(args[0]);
    const double d = x.AsDouble();
    auto domain = [&](bool ok) {
      if (!ok) RaiseAt(kEvalErrArgument, "Invalid argument for function '%s'", {NodeName(b.N)}, b.N);
    };
    switch (op) {
      case doABS:
        if (x.IsInt) {
          if (x.I == std::numeric_limits<int64_t>::min()) Overflow(b);
          return TSDBVariant::FromInt(x.I < 0 ? -x.I : x.I);
        }
        return FloatResult(std::fabs(d), b);
      case doSIGN: return TSDBVariant::FromInt(d > 0 ? 1 : (d < 0 ? -1 : 0), bftSignedInt32);
      case doCEIL:
      case doFLOOR:
        if (x.IsInt) return TSDBVariant::FromInt(x.I);
        return FloatResult(op == doCEIL ? std::ceil(d) : std::floor(d), b);
      case doACOS: domain(d >= -1 && d <= 1); return FloatResult(std::acos(d), b);
      case doASIN: domain(d >= -1 && d <= 1); return FloatResult(std::asin(d), b);
      case doATAN: return FloatResult(std::atan(d), b);
      case doCOS: return FloatResult(std::cos(d), b);
      case doSIN: return FloatResult(std::sin(d), b);
      case doEXP: return FloatResult(std::exp(d), b);
      case doSQR: return FloatResult(d * d, b);
      case doSQRT: domain(d >= 0); return FloatResult(std::sqrt(d), b);
      case doLOG: {
        if (args.size() == 1) {
          domain(d > 0);
          return FloatResult(std::log(d), b);
        }
        // LOG(base, value)
        const double v = ToNum(args[1]).AsDouble();
        domain(d > 0 && d != 1 && v > 0);
        return FloatResult(std::log(v) / std::log(d), b);
      }
      case doPOWER: {
        const double y = ToNum(args.at(1)).AsDouble();
        domain(!(d == 0 && y < 0) && !(d < 0 && y != std::trunc(y)));
        return FloatResult(std::pow(d, y), b);
      }
      case doROUND: {
        int digits = 0;
        if (args.size() > 1) {
          const TNum n = ToNum(args[1]);
          domain(n.IsInt ? (n.I >= -400 && n.I <= 400) : (n.D >= -400 && n.D <= 400));
          digits = static_cast<int>(n.IsInt ? n.I : std::trunc(n.D));
        }
        const TReservedWord mode = static_cast<const TSDBExprNodeArithmetic*>(b.N)->RoundMode;
        if (x.IsInt) {
          int64_t r;
          if (!SDBRoundInt(x.I, digits, mode, r)) Overflow(b);
          return TSDBVariant::FromInt(r);
        }
        return FloatResult(SDBRoundTo(d, digits, mode), b, x.Type == bftCurrency ? bftCurrency : bftDouble);
      }
      default:
        RaiseAt(kEvalErrArgument, "Cannot evaluate '%s'", {NodeName(b.N)}, b.N);
    }
  }

  TSDBVariant StringFunction(BNode& b) {
    const TSDBDataOperator op = b.N->Operator;
    std::vector<TSDBVariant> args;
    for (auto& k : b.Kids) {
      args.push_back(Eval(*k));
      if (args.back().IsNull()) return NullOf(b, bftVarchar);
    }
    if (args.empty()) RaiseAt(kEvalErrArgument, "Invalid argument for function '%s'", {NodeName(b.N)}, b.N);
    const TSDBVariant& s = args[0];
    const bool wide = IsWide(s);
    switch (op) {
      case doUPPER:
      case doLOWER:
        return TextResult(SDBMapCase(s.AsWideString(), op == doUPPER ? cmUpper : cmLower), wide, s.DataType());
      case doTRIM:
      case doLTRIM:
      case doRTRIM: {
        const std::u16string chars = args.size() > 1 ? args[1].AsWideString() : u" ";
        const TReservedWord side = static_cast<const TSDBExprNodeStringFunction*>(b.N)->TrimSide;
        const bool leading = op == doLTRIM || (op == doTRIM && side != rwTRAILING);
        const bool trailing = op == doRTRIM || (op == doTRIM && side != rwLEADING);
        return TextResult(SDBTrimChars(s.AsWideString(), chars, leading, trailing), wide, s.DataType());
      }
      case doLENGTH:
        return TSDBVariant::FromInt(
            static_cast<int64_t>(wide ? s.AsWideString().size() : SDBAnsiToWide(s.AsString()).size()), bftSignedInt32);
      case doPOS: {
        // POS(sub, text): 1-based place of sub in text, 0 when absent.
        std::u16string sub = args.at(0).AsWideString(), text = args.at(1).AsWideString();
        if (E.FCaseInsensitive) {
          sub = SDBMapCase(sub, cmFold);
          text = SDBMapCase(text, cmFold);
        }
        const size_t p = text.find(sub);
        return TSDBVariant::FromInt(p == std::u16string::npos ? 0 : static_cast<int64_t>(p) + 1, bftSignedInt32);
      }
      case doSUBSTRING: {
        const std::u16string text = s.AsWideString();
        const TNum start = ToNum(args.at(1));
        int64_t from = start.IsInt ? start.I : static_cast<int64_t>(std::llround(start.D));
        int64_t to = std::numeric_limits<int64_t>::max();  // exclusive, 1-based
        if (args.size() > 2) {
          const TNum len = ToNum(args[2]);
          const int64_t n = len.IsInt ? len.I : static_cast<int64_t>(std::llround(len.D));
          if (n < 0) RaiseAt(kEvalErrArgument, "Invalid argument for function '%s'", {NodeName(b.N)}, b.N);
          if (__builtin_add_overflow(from, n, &to)) to = std::numeric_limits<int64_t>::max();
        }
        from = std::max<int64_t>(from, 1);
        to = std::min<int64_t>(to, static_cast<int64_t>(text.size()) + 1);
        if (to <= from) return TSDBVariant(wide ? s.DataType() : bftVarchar);
        return TextResult(std::u16string_view(text).substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from)),
                          wide, s.DataType());
      }
      default:
        RaiseAt(kEvalErrArgument, "Cannot evaluate '%s'", {NodeName(b.N)}, b.N);
    }
  }

  static double DateOf(const TSDBVariant& v) {
    if (SDBIsTextType(v.DataType())) return v.ConvertedTo(bftDateTime).AsDouble();
    if (SDBIsDateTimeType(v.DataType())) return v.AsDouble();
    if (SDBIsNumericType(v.DataType())) return v.AsDateTime();
    return v.ConvertedTo(bftDateTime).AsDouble();  // raises the conversion error
  }

  TSDBVariant DateFunction(BNode& b) {
    const TSDBDataOperator op = b.N->Operator;
    switch (op) {
      case doSYSDATE: return TSDBVariant::FromDateTime(Host().Now(), bftDateTime);
      case doCURRENT_DATE: return TSDBVariant::FromDateTime(Host().Now(), bftDate);
      case doCURRENT_TIME: return TSDBVariant::FromDateTime(Host().Now(), bftTime);
      default: break;
    }
    std::vector<TSDBVariant> args;
    for (auto& k : b.Kids) {
      args.push_back(Eval(*k));
      if (args.back().IsNull()) return TSDBVariant(b.Type);
    }
    if (args.empty()) RaiseAt(kEvalErrArgument, "Invalid argument for function '%s'", {NodeName(b.N)}, b.N);
    const TSDBVariant& v = args[0];
    switch (op) {
      case doTODATE: {
        if (args.size() < 2) return TSDBVariant::FromDateTime(DateOf(v), bftDateTime);
        double d;
        const std::string text = v.AsString();
        if (!SDBParseDateTime(text, args[1].AsString(), d))
          throw ESDBException(kEvalErrConvert, "Cannot convert value '%s' of type %s to %s",
                              {text, SDBBaseFieldTypeName(v.DataType()), SDBBaseFieldTypeName(bftDateTime)});
        return TSDBVariant::FromDateTime(d, bftDateTime);
      }
      case doTOSTRING: {
        if (args.size() < 2) return TSDBVariant::FromString(v.AsString());
        const std::string fmt = args[1].AsString();
        const TSDBBaseFieldType t = v.DataType();
        if (SDBIsDateTimeType(t)) return TSDBVariant::FromString(SDBFormatDateTime(v.AsDouble(), fmt));
        if (SDBIsNumericType(t)) {
          std::string out;
          if (!SDBFormatNumber(v.AsDouble(), fmt, out))
            RaiseAt(kEvalErrArgument, "Invalid argument for function '%s'", {NodeName(b.N)}, b.N);
          return TSDBVariant::FromString(out);
        }
        return TSDBVariant::FromString(v.AsString());
      }
      case doEXTRACT: {
        int y, mo, d, h, mi, s, ms;
        SDBDecodeDateTime(DateOf(v), y, mo, d, h, mi, s, ms);
        int r = 0;
        switch (static_cast<const TSDBExprNodeDateFunction*>(b.N)->ExtractPart) {
          case rwYEAR: r = y; break;
          case rwMONTH: r = mo; break;
          case rwDAY: r = d; break;
          case rwHOUR: r = h; break;
          case rwMINUTE: r = mi; break;
          case rwSECOND: r = s; break;
          default: RaiseAt(kEvalErrArgument, "Invalid argument for function '%s'", {NodeName(b.N)}, b.N);
        }
        return TSDBVariant::FromInt(r, bftSignedInt32);
      }
      default:
        RaiseAt(kEvalErrArgument, "Cannot evaluate '%s'", {NodeName(b.N)}, b.N);
    }
  }

  TSDBVariant Cast(BNode& b) {
    const auto* c = static_cast<const TSDBExprNodeCast*>(b.N);
    TSDBVariant v = Eval(*b.Kids.at(0));
    const TSDBBaseFieldType target = c->BaseType;
    if (v.IsNull()) return TSDBVariant(target);
    if (SDBIsTextType(v.DataType()) && SDBIsIntegerType(target)) {
      // A decimal text converts to an integer by dropping its fraction.
      const TNum n = ToNum(v);
      if (!n.IsInt) v = TSDBVariant::FromDouble(n.D);
    }
    if (SDBIsFloatType(v.DataType()) && SDBIsIntegerType(target)) {
      const double t = std::trunc(v.AsDouble());
      if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0))
        throw ESDBException(kEvalErrRange, "Value %s is out of range for %s",
                            {v.AsString(), SDBBaseFieldTypeName(target)});
    }
    v.ConvertTo(target);
    if (c->Size > 0 && SDBIsTextType(target)) {
      if (SDBIsWideTextType(target)) {
        std::u16string s = v.AsWideString();
        if (s.size() > static_cast<size_t>(c->Size)) v = TSDBVariant::FromWideString(s.substr(0, static_cast<size_t>(c->Size)), target);
      } else {
        std::string s = v.AsString();
        if (s.size() > static_cast<size_t>(c->Size)) v = TSDBVariant::FromString(s.substr(0, static_cast<size_t>(c->Size)), target);
      }
    }
    return v;
  }

  TSDBVariant Case(BNode& b) {
    const auto* c = static_cast<const TSDBExprNodeCase*>(b.N);
    const size_t k = b.Kids.size();
    switch (c->CaseKind) {
      case ckCoalesce:
        for (auto& kid : b.Kids) {
          TSDBVariant v = Eval(*kid);
          if (!v.IsNull()) return v;
        }
        return NullOf(b, bftUnknown);
      case ckNullIf: {
        TSDBVariant a = Eval(*b.Kids.at(0));
        const TSDBVariant x = Eval(*b.Kids.at(1));
        if (!a.IsNull() && !x.IsNull() && CompareValues(a, x) == 0) return TSDBVariant(a.DataType());
        return a;
      }
      case ckSearched: {
        // c1, v1, c2, v2, ... [else]
        const size_t pairs = (c->HasElse ? k - 1 : k) / 2;
        for (size_t p = 0; p < pairs; ++p)
          if (Truth(*b.Kids[2 * p]) == trTrue) return Eval(*b.Kids[2 * p + 1]);
        return c->HasElse ? Eval(*b.Kids[k - 1]) : NullOf(b, bftUnknown);
      }
      case ckSimple: {
        // x, a1, v1, a2, v2, ... [else]
        const TSDBVariant x = Eval(*b.Kids.at(0));
        const size_t pairs = ((c->HasElse ? k - 1 : k) - 1) / 2;
        for (size_t p = 0; p < pairs; ++p) {
          const TSDBVariant w = Eval(*b.Kids[1 + 2 * p]);
          if (!x.IsNull() && !w.IsNull() && CompareValues(x, w) == 0) return Eval(*b.Kids[2 + 2 * p]);
        }
        return c->HasElse ? Eval(*b.Kids[k - 1]) : NullOf(b, bftUnknown);
      }
    }
    return TSDBVariant();
  }
};

// ---------------------------------------------------------------- TSDBEvaluator

TSDBEvaluator::TSDBEvaluator(const TSDBExprNode* root, std::vector<const TSDBColumnSource*> sources,
                             TSDBEvalHost* host, bool caseInsensitive, bool threeValueLogic)
    : FRoot(root),
      FSources(std::move(sources)),
      FHost(host),
      FCaseInsensitive(caseInsensitive),
      F3ValueLogic(threeValueLogic) {
  FState = std::make_unique<TSDBEvalState>(FSources);
  if (!FRoot) throw ESDBException(kEvalErrArgument, "Invalid argument for function '%s'", {std::string("(empty expression)")});
  FState->Collation = FHost ? FHost->Collation() : nullptr;
  TSDBEvalImpl impl{*this, *FState};
  FState->Root = impl.Bind(FRoot, false);
}

TSDBEvaluator::TSDBEvaluator(const TSDBExpression& expr, std::vector<const TSDBColumnSource*> sources,
                             TSDBEvalHost* host)
    : TSDBEvaluator(expr.Root(), std::move(sources), host, expr.FCaseInsensitive, expr.F3ValueLogic) {}

TSDBEvaluator::~TSDBEvaluator() = default;

void TSDBEvaluator::SetHost(TSDBEvalHost* host) {
  FHost = host;
  FState->Collation = FHost ? FHost->Collation() : nullptr;
}

TSDBVariant TSDBEvaluator::GetValue() {
  TSDBEvalImpl impl{*this, *FState};
  return impl.Eval(*FState->Root);
}

TSDBTruth TSDBEvaluator::Truth() {
  TSDBEvalImpl impl{*this, *FState};
  return impl.Truth(*FState->Root);
}

bool TSDBEvaluator::IsTrue() { return Truth() == trTrue; }

TSDBBaseFieldType TSDBEvaluator::ResultType() const { return FState->Root->Type; }

int TSDBEvaluator::ResultSize() const { return FState->Root->Size; }

size_t TSDBEvaluator::AggregateCount() const { return FState->Aggs.size(); }

const TSDBExprNodeAggregated& TSDBEvaluator::AggregateNode(size_t i) const {
  return *static_cast<const TSDBExprNodeAggregated*>(FState->Aggs.at(i)->N);
}

std::vector<TSDBAggregator> TSDBEvaluator::NewAggregators() const {
  std::vector<TSDBAggregator> acc;
  acc.reserve(FState->Aggs.size());
  for (const BNode* a : FState->Aggs) {
    const auto* n = static_cast<const TSDBExprNodeAggregated*>(a->N);
    acc.emplace_back(n->Operator, n->Distinct, FState->Collation);
  }
  return acc;
}

void TSDBEvaluator::Accumulate(std::vector<TSDBAggregator>& acc) {
  if (acc.size() != FState->Aggs.size())
    throw ESDBException(kEvalErrAggregate, "Aggregate function '%s' is not allowed here",
                        {std::string("(accumulator count)")});
  TSDBEvalImpl impl{*this, *FState};
  for (size_t i = 0; i < acc.size(); ++i) {
    BNode& a = *FState->Aggs[i];
    if (a.Kids.empty()) acc[i].Add(TSDBVariant());
    else acc[i].Add(impl.Eval(*a.Kids[0]));
  }
}

void TSDBEvaluator::SetAggregateResults(const std::vector<TSDBAggregator>* acc) { FState->AggResults = acc; }

// ---------------------------------------------------------------- tree helpers

namespace {

void SplitAnd(const TSDBExprNode* n, std::vector<const TSDBExprNode*>& out) {
  if (n && n->Operator == doAND && SDBExprAs<TSDBExprNodeBoolean>(n)) {
    for (const auto& c : n->Children) SplitAnd(c.get(), out);
    return;
  }
  if (n) out.push_back(n);
}

template <class F>
void Walk(const TSDBExprNode* n, const F& f) {
  if (!n) return;
  f(n);
  for (const auto& c : n->Children) Walk(c.get(), f);
}

}  // namespace

std::vector<const TSDBExprNode*> SDBSplitAndFactors(const TSDBExprNode* condition) {
  std::vector<const TSDBExprNode*> out;
  SplitAnd(condition, out);
  return out;
}

bool SDBGetColumnComparison(const TSDBExprNode* factor, TSDBColumnComparison& out) {
  const auto* c = SDBExprAs<TSDBExprNodeComparison>(factor);
  if (!c || c->Quantifier != cqNone || c->Children.size() != 2) return false;
  TSDBDataOperator op = c->Operator;
  if (op != doEQ && op != doLT && op != doGT && op != doLE && op != doGE) return false;
  const TSDBExprNode* l = c->Children[0].get();
  const TSDBExprNode* r = c->Children[1].get();
  const auto* lf = SDBExprAs<TSDBExprNodeField>(l);
  const auto* rf = SDBExprAs<TSDBExprNodeField>(r);
  const auto* lc = SDBExprAs<TSDBExprNodeConst>(l);
  const auto* rc = SDBExprAs<TSDBExprNodeConst>(r);
  if (lf && rc) {
    out = {lf, op, rc};
    return true;
  }
  if (rf && lc) {
    if (op == doLT) op = doGT;
    else if (op == doGT) op = doLT;
    else if (op == doLE) op = doGE;
    else if (op == doGE) op = doLE;
    out = {rf, op, lc};
    return true;
  }
  return false;
}

void SDBCollectFieldRefs(const TSDBExprNode* node, std::vector<const TSDBExprNodeField*>& out) {
  Walk(node, [&](const TSDBExprNode* n) {
    if (auto* f = SDBExprAs<TSDBExprNodeField>(n)) out.push_back(f);
  });
}

bool SDBHasAggregate(const TSDBExprNode* node) {
  bool found = false;
  Walk(node, [&](const TSDBExprNode* n) { found = found || SDBExprAs<TSDBExprNodeAggregated>(n); });
  return found;
}

bool SDBHasSubquery(const TSDBExprNode* node) {
  bool found = false;
  Walk(node, [&](const TSDBExprNode* n) { found = found || SDBExprAs<TSDBExprNodeSubquery>(n); });
  return found;
}

bool SDBCanBind(const TSDBExprNode* node, const std::vector<const TSDBColumnSource*>& sources) {
  std::vector<const TSDBExprNodeField*> refs;
  SDBCollectFieldRefs(node, refs);
  for (const TSDBExprNodeField* f : refs) {
    bool ok = false;
    for (const TSDBColumnSource* s : sources) {
      const int slot = s->FindColumn(f->TableName, f->FieldName);
      if (slot == kSDBColumnAmbiguous) return false;
      if (slot >= 0) {
        ok = true;
        break;
      }
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace sdb

namespace sdb {

void SDBRegisterSqlEvaluators() {
  // A stored CHECK constraint holds a column and its lower and upper bounds,
  // which the table layer checks itself; there is no condition text to
  // evaluate, so no CHECK evaluator is installed.
}

}  // namespace sdb
