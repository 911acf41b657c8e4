// Aggregate accumulators: the running state of SUM, AVG, MIN, MAX, COUNT
// and COUNT(*) over the rows of one group.
#include <algorithm>
#include <cmath>

#include "sdb/SDBException.h"
#include "sql/SDBEvaluator.h"

namespace sdb {

TSDBAggregator::TSDBAggregator(TSDBDataOperator op, bool distinct, const TSDBCollation* collation)
    : FOp(op), FDistinct(distinct && op != doCOUNTALL), FCollation(collation) {}

void TSDBAggregator::Reset() {
  FCount = 0;
  FIntSum = true;
  FSumInt = 0;
  FSum = 0;
  FBest.Clear();
  FSeen.clear();
}

void TSDBAggregator::Add(const TSDBVariant& value) {
  if (FOp == doCOUNTALL) {
    ++FCount;
    return;
  }
  if (value.IsNull()) return;
  if (FDistinct) {
    // Sorted list of the values met so far; a value met before is skipped.
    auto less = [this](const TSDBVariant& a, const TSDBVariant& b) { return a.Compare(b, false, FCollation) < 0; };
    auto it = std::lower_bound(FSeen.begin(), FSeen.end(), value, less);
    if (it != FSeen.end() && it->Compare(value, false, FCollation) == 0) return;
    FSeen.insert(it, value);
  }
  switch (FOp) {
    case doCOUNT:
      ++FCount;
      break;
    case doSUM:
    case doAVG: {
      const TSDBBaseFieldType t = value.DataType();
      if (!SDBIsNumericType(t) && !SDBIsTextType(t))
        throw ESDBException(kEvalErrConvert, "Cannot convert value '%s' of type %s to %s",
                            {value.AsString(), SDBBaseFieldTypeName(t), SDBBaseFieldTypeName(bftDouble)});
      bool isInt = SDBIsIntegerType(t);
      int64_t iv = 0;
      if (isInt) iv = value.AsInt64();
      if (SDBIsTextType(t)) {
        // A text that holds a whole number adds as an integer.
        try {
          TSDBVariant probe = value.ConvertedTo(bftSignedInt64);
          const double d = value.AsDouble();
          isInt = d == static_cast<double>(probe.AsInt64());
          iv = probe.AsInt64();
        } catch (const ESDBException&) {
          isInt = false;
        }
      }
      const long double dv = isInt ? static_cast<long double>(iv) : static_cast<long double>(value.AsDouble());
      if (FIntSum && isInt) {
        if (__builtin_add_overflow(FSumInt, iv, &FSumInt)) {
          if (FOp == doSUM) throw ESDBException(kEvalErrOverflow, "Arithmetic overflow in %s", {std::string("SUM")});
          FIntSum = false;  // AVG goes on in floating point
        }
      } else {
        FIntSum = false;
      }
      FSum += dv;
      ++FCount;
      break;
    }
    case doMIN:
    case doMAX: {
      if (FBest.IsNull()) {
        FBest = value;
      } else {
        const int c = value.Compare(FBest, false, FCollation);
        if ((FOp == doMIN && c < 0) || (FOp == doMAX && c > 0)) FBest = value;
      }
      ++FCount;
      break;
    }
    default:
      throw ESDBException(kEvalErrAggregate, "Aggregate function '%s' is not allowed here",
                          {std::string(SDBDataOperatorName(FOp))});
  }
}

TSDBVariant TSDBAggregator::Result() const {
  switch (FOp) {
    case doCOUNT:
    case doCOUNTALL:
      return TSDBVariant::FromInt(FCount);
    case doSUM:
      if (FCount == 0) return TSDBVariant(FIntSum ? bftSignedInt64 : bftDouble);
      if (FIntSum) return TSDBVariant::FromInt(FSumInt);
      if (!std::isfinite(static_cast<double>(FSum)))
        throw ESDBException(kEvalErrOverflow, "Arithmetic overflow in %s", {std::string("SUM")});
      return TSDBVariant::FromDouble(static_cast<double>(FSum));
    case doAVG:
      if (FCount == 0) return TSDBVariant(bftDouble);
      return TSDBVariant::FromDouble(static_cast<double>(FSum / static_cast<long double>(FCount)));
    case doMIN:
    case doMAX:
      return FBest;
    default:
      return TSDBVariant();
  }
}

}  // namespace sdb
