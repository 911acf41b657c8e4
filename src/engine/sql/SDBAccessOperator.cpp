#include "sql/SDBAccessOperator.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <numeric>
#include <thread>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sql/SDBExecTable.h"
#include "sql/SDBTableRowsCache.h"
#include "storage/table/SDBRecordManager.h"
#include "storage/table/SDBTableCursor.h"
#include "common/SDBNames.h"

namespace sdb {

namespace {

int CompareRows(const TSDBResultRow& a, const TSDBResultRow& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    int c = a[i].Compare(b[i]);
    if (c) return c;
  }
  return 0;
}

// Drops repeated rows, keeping the first of each in order.
void DedupRows(std::vector<TSDBResultRow>& rows) {
  std::vector<size_t> idx(rows.size());
  std::iota(idx.begin(), idx.end(), size_t{0});
  std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) { return CompareRows(rows[a], rows[b]) < 0; });
  std::vector<bool> keep(rows.size(), false);
  for (size_t i = 0; i < idx.size(); ++i)
    if (i == 0 || CompareRows(rows[idx[i - 1]], rows[idx[i]]) != 0) keep[idx[i]] = true;
  std::vector<TSDBResultRow> out;
  for (size_t i = 0; i < rows.size(); ++i)
    if (keep[i]) out.push_back(std::move(rows[i]));
  rows = std::move(out);
}

// Gives computed columns whose type was not known before the run the type
// of their first non-null value.
void FixUnknownTypes(TSDBResultSet& rs) {
  for (size_t c = 0; c < rs.Columns.size(); ++c) {
    if (rs.Columns[c].DataType != bftUnknown) continue;
    for (const auto& row : rs.Rows)
      if (!row[c].IsNull() || row[c].DataType() != bftUnknown) {
        rs.Columns[c].DataType = row[c].DataType();
        if (!row[c].IsNull()) break;
      }
    if (rs.Columns[c].DataType == bftUnknown) rs.Columns[c].DataType = bftVarchar;
  }
}

int ResolveColumn(const TSDBResultRowSource& src, const std::string& table, const std::string& field, int Line = 0,
                  int Column = 0) {
  int slot = src.FindColumn(table, field);
  if (slot == kSDBColumnAmbiguous) {
    std::string name = table.empty() ? field : table + "." + field;
    throw ESDBException(kEvalErrAmbiguousColumn, "Ambiguous column name '%s' at line %d, column %d",
                        {name, int64_t{Line}, int64_t{Column}});
  }
  return slot;
}

}  // namespace

// ---- Column source -------------------------------------------------------------------------

int TSDBResultRowSource::FindColumn(std::string_view tableName, std::string_view fieldName) const {
  if (!Cols) return -1;
  int found = -1, count = 0;
  for (size_t i = 0; i < Cols->size(); ++i) {
    const TSDBResultColumn& c = (*Cols)[i];
    if (!SDBSameName(c.Name, fieldName)) continue;
    // A pseudonym hides its table's name: a qualified reference matches
    // the name the item goes by in FROM, so in "t c, t" the name t means
    // the second item only, in every clause.
    if (!tableName.empty() && !SDBSameName(c.TableName, tableName)) continue;
    if (found < 0) found = static_cast<int>(i);
    ++count;
  }
  return count > 1 ? kSDBColumnAmbiguous : found;
}

TSDBBaseFieldType TSDBResultRowSource::ColumnType(int slot) const {
  return (*Cols)[static_cast<size_t>(slot)].DataType;
}

TSDBVariant TSDBResultRowSource::ColumnValue(int slot) const {
  if (!Row || static_cast<size_t>(slot) >= Row->size()) return TSDBVariant(ColumnType(slot));
  return (*Row)[static_cast<size_t>(slot)];
}

TSDBExecLockWaits& SDBExecLockWaits() {
  static TSDBExecLockWaits waits;
  return waits;
}

bool SDBExecLockTable(TSDBCursor& Cursor, TSDBLockType Type, int Tries, int DelayMs) {
  for (int i = 0; i < Tries; ++i) {
    if (Cursor.TableData->LockTable(Cursor.SessionID, Type, 1, 0)) {
      // While the lock is held nobody changes the table: one look at its
      // stored state lets the statement's reads trust the pages cached for
      // that state instead of checking each one on disk.
      if (Type == ltS || Type == ltRW) {
        try {
          Cursor.TableData->LoadStoredTableState(Cursor.SessionID);
        } catch (...) {
          Cursor.TableData->UnlockTable(Cursor.SessionID, Type, true);
          throw;
        }
      }
      return true;
    }
    if (i + 1 < Tries) std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs));
  }
  return false;
}

// ---- Base operator -------------------------------------------------------------------------------

TSDBAO::~TSDBAO() = default;

void TSDBAO::Open(TSDBExecContext& Ctx) {
  for (auto& c : Children) c->OpenOnce(Ctx);
}

void TSDBAO::Close() noexcept {
  for (auto& c : Children) c->Close();
}

bool TSDBAO::CanBind(const TSDBExprNode* Node) const {
  TSDBResultRowSource src(&FResult.Columns);
  return SDBCanBind(Node, {&src});
}

bool TSDBAO::ApplyFilterPart(const TSDBExprNode* Factor) {
  if (!CanBind(Factor)) return false;
  FFilterExpr.push_back(Factor);
  return true;
}

bool TSDBAO::Reopen(TSDBExecContext& Ctx) {
  for (auto& c : Children)
    if (!c->Reopen(Ctx)) return false;
  for (auto& e : FFilterEvals) e->SetHost(&Ctx);
  return true;
}

void TSDBAO::ApplyFilter(TSDBExecContext& Ctx) {
  if (FFilterExpr.empty()) return;
  if (FFilterEvals.size() != FFilterExpr.size()) {
    FFilterEvals.clear();
    FFilterSource.Cols = &FResult.Columns;
    for (const TSDBExprNode* f : FFilterExpr)
      FFilterEvals.push_back(std::make_unique<TSDBEvaluator>(f, Ctx.Sources({&FFilterSource}), &Ctx));
  }
  TSDBResultRowSource& src = FFilterSource;
  const bool withIds = FResult.RecordIDs.size() == FResult.Rows.size();
  // The matching rows move to the front, in order.
  size_t kept = 0;
  for (size_t i = 0; i < FResult.Rows.size(); ++i) {
    src.Row = &FResult.Rows[i];
    Ctx.RowNumber = static_cast<int64_t>(kept) + 1;
    bool ok = true;
    for (auto& e : FFilterEvals)
      if (!e->IsTrue()) {
        ok = false;
        break;
      }
    if (!ok) continue;
    if (kept != i) {
      FResult.Rows[kept] = std::move(FResult.Rows[i]);
      if (withIds) FResult.RecordIDs[kept] = FResult.RecordIDs[i];
    }
    ++kept;
  }
  src.Row = nullptr;
  FResult.Rows.resize(kept);
  if (withIds)
    FResult.RecordIDs.resize(kept);
  else
    FResult.RecordIDs.clear();
}

void TSDBAO::Dump(std::string& out, int indent) const {
  out.append(static_cast<size_t>(indent) * 2, ' ');
  out += ClassName();
  std::string d = Describe();
  if (!d.empty()) out += " " + d;
  if (!FFilterExpr.empty()) out += " filter=" + std::to_string(FFilterExpr.size());
  out += "\n";
  for (const auto& c : Children) c->Dump(out, indent + 1);
}

// ---- Table ------------------------------------------------------------------------------------------

TSDBAOTable::TSDBAOTable(TSDBExecConnection& Conn, std::string TableName, std::string Pseudonym)
    : Conn(Conn), TableName(std::move(TableName)), Pseudonym(std::move(Pseudonym)) {}

void TSDBAOTable::Open(TSDBExecContext&) {
  Conn.OpenTable(Cursor, TableName);
  Opened = true;
  NotePlanned();
  FResult.Columns = SDBExecTableColumns(Cursor, Pseudonym.empty() ? TableName : Pseudonym);
  for (auto& c : FResult.Columns) c.BaseTableName = TableName;
}

void TSDBAOTable::NotePlanned() {
  const TSDBDiskTableData& t = *Cursor.TableData;
  FPlannedData = &t;
  FPlannedGeneration = t.DefinitionsGeneration();
  FPlannedIndexes.clear();
  for (int i = 0; i < t.IndexDefs().Count(); ++i) FPlannedIndexes.push_back(t.IndexDefs()[i].FObjectID);
}

bool TSDBAOTable::StillPlanned() const {
  const TSDBDiskTableData* t = Cursor.TableData;
  if (!t || t != FPlannedData || t->DefinitionsGeneration() != FPlannedGeneration) return false;
  const TSDBIndexDefs& defs = t->IndexDefs();
  if (static_cast<size_t>(defs.Count()) != FPlannedIndexes.size()) return false;
  for (int i = 0; i < defs.Count(); ++i)
    if (defs[i].FObjectID != FPlannedIndexes[static_cast<size_t>(i)]) return false;
  return true;
}

bool TSDBAOTable::Reopen(TSDBExecContext& Ctx) {
  if (!Ref || Opened || !Children.empty()) return false;
  // The same connection object: a statement of another component (another
  // database, another file) never takes this tree.
  if (&Ctx.ConnectionFor(Ref->DatabaseName, Ref->Password, Ref->InMemory) != &Conn) return false;
  Conn.OpenTable(Cursor, TableName);
  Opened = true;
  // The same table data with the same definitions (a reload after a change
  // made here or by another process gives new ones) and the same indexes.
  if (!StillPlanned()) return false;
  return TSDBAO::Reopen(Ctx);
}

TSDBTableCursor& TSDBAOTable::IndexCursor() {
  if (!FIndexCursor)
    FIndexCursor = std::make_unique<TSDBTableCursor>(
        TSDBTableOpenFunctions{[this](TSDBCursor& c, const std::string& n) { Conn.OpenTable(c, n); },
                               [this](TSDBCursor& c) { Conn.CloseTable(c); }},
        Cursor.SessionID);
  if (!FIndexCursor->Active()) {
    // Positioned by the query on its range, not on the table's first record.
    FIndexCursor->Open(TableName, false, false);
    FIndexCursor->SetInTransaction(Cursor.FInTransaction);
  }
  return *FIndexCursor;
}

void TSDBAOTable::Close() noexcept {
  // The index cursor object stays with a kept tree; its table is closed.
  if (FIndexCursor) {
    try {
      FIndexCursor->Close();
    } catch (...) {
      FIndexCursor.reset();
    }
  }
  if (!Opened) return;
  Opened = false;
  try {
    Conn.CloseTable(Cursor);
  } catch (...) {
  }
}

std::string TSDBIndexCandidate::Describe() const {
  std::string s = IndexName;
  if (Contradictory) return s + " (contradictory bounds: empty)";
  for (size_t i = 0; i < EqualValues.size(); ++i) s += (i ? ", = " : " = ") + SDBValueText(EqualValues[i]);
  if (HasLow) s += std::string(LowInclusive ? " >= " : " > ") + SDBValueText(Low);
  if (HasHigh) s += std::string(HighInclusive ? " <= " : " < ") + SDBValueText(High);
  return s;
}

namespace {

struct TColumnCondition {
  int FieldNo;
  TSDBDataOperator Op;
  const TSDBVariant* Value;  // the constant's, read in place
  const TSDBExprNode* Factor;
};

// Whether a condition on a column may be answered by an index column.
bool UsableFor(const TSDBFieldDef& field, const TSDBIndexColumn& col, const TSDBVariant& value) {
  if (field.IsBlob()) return false;
  if (SDBIsTextType(field.FBaseFieldType)) {
    // SQL conditions compare case-sensitively: only a case-sensitive index
    // orders the values as the condition does.
    if (col.FCaseInsensitive) return false;
    if (value.IsNull()) return false;
    size_t len = SDBIsWideTextType(value.DataType()) ? value.AsWideString().size() : value.AsString().size();
    if (static_cast<int64_t>(len) >= field.FFieldSize) return false;
  }
  return true;
}

}  // namespace

namespace {

// The candidate's range as bounds of a cursor ordered by its index. Bounds
// are kept in value order; a descending first column reads them the other
// way.
struct TCandidateBounds {
  std::vector<TSDBVariant> Start, End;
  bool StartExclusive = false, EndExclusive = false;
};

TCandidateBounds CandidateBounds(const TSDBIndexCandidate& c, bool descending) {
  TCandidateBounds b;
  b.Start = b.End = c.EqualValues;
  if (c.EqualValues.empty()) {
    const bool hasLow = descending ? c.HasHigh : c.HasLow;
    const bool hasHigh = descending ? c.HasLow : c.HasHigh;
    if (hasLow) {
      b.Start.push_back(descending ? c.High : c.Low);
      b.StartExclusive = !(descending ? c.HighInclusive : c.LowInclusive);
    }
    if (hasHigh) {
      b.End.push_back(descending ? c.Low : c.High);
      b.EndExclusive = !(descending ? c.LowInclusive : c.HighInclusive);
    }
  }
  return b;
}

}  // namespace

void TSDBAOTable::ChooseIndex() {
  Candidates.clear();
  Chosen = -1;
  Chose = true;
  TSDBDiskTableData& t = *Cursor.TableData;
  TSDBBaseFieldManager& fm = t.FieldManager();
  const TSDBIndexDefs& defs = t.IndexDefs();
  RecordCount = t.GetRecordCount(Cursor.SessionID);
  const int perPage = std::max(1, t.RecordManager().MaxRecordsOnPage());
  FullScanCost = std::ceil(static_cast<double>(RecordCount) / perPage) + 1;
  if (defs.Count() == 0 || FFilterExpr.empty()) return;

  // Which factors compare a column of the table with a value, and the
  // fields of each index: names looked up once per tree (the definitions
  // stay those of the tree's table), values read at each choice.
  if (!FFactorColumnsKnown || FFactorColumnsFor != FFilterExpr.size() ||
      FIndexFields.size() != static_cast<size_t>(defs.Count())) {
    const std::string alias = Pseudonym.empty() ? TableName : Pseudonym;
    FFactorColumns.clear();
    for (const TSDBExprNode* f : FFilterExpr) {
      // col BETWEEN a AND b offers both bounds.
      if (f->Operator == doBETWEEN && f->Children.size() == 3) {
        auto* col = SDBExprAs<TSDBExprNodeField>(f->Children[0].get());
        auto* lo = SDBExprAs<TSDBExprNodeConst>(f->Children[1].get());
        auto* hi = SDBExprAs<TSDBExprNodeConst>(f->Children[2].get());
        if (!col || !lo || !hi) continue;
        if (!col->TableName.empty() && !SDBSameName(col->TableName, alias)) continue;
        const int fieldNo = fm.FieldNo(col->FieldName);
        if (fieldNo < 0) continue;
        FFactorColumns.push_back({fieldNo, doBETWEEN, lo, hi, f});
        continue;
      }
      TSDBColumnComparison cc;
      if (!SDBGetColumnComparison(f, cc)) continue;
      if (!cc.Column->TableName.empty() && !SDBSameName(cc.Column->TableName, alias)) continue;
      const int fieldNo = fm.FieldNo(cc.Column->FieldName);
      if (fieldNo < 0) continue;
      FFactorColumns.push_back({fieldNo, cc.Operator, cc.Constant, nullptr, f});
    }
    FIndexFields.assign(static_cast<size_t>(defs.Count()), {});
    for (int i = 0; i < defs.Count(); ++i)
      for (const auto& col : defs[i].FColumns) FIndexFields[static_cast<size_t>(i)].push_back(fm.FieldNo(col.FFieldName));
    FFactorColumnsFor = FFilterExpr.size();
    FFactorColumnsKnown = true;
  }
  std::vector<TColumnCondition> conds;
  conds.reserve(FFactorColumns.size() + 2);
  for (const TFactorColumn& fc : FFactorColumns) {
    if (fc.Op == doBETWEEN) {
      if (fc.Constant->Value.IsNull() || fc.High->Value.IsNull()) continue;
      conds.push_back({fc.FieldNo, doGE, &fc.Constant->Value, fc.Factor});
      conds.push_back({fc.FieldNo, doLE, &fc.High->Value, fc.Factor});
      continue;
    }
    conds.push_back({fc.FieldNo, fc.Op, &fc.Constant->Value, fc.Factor});
  }
  if (conds.empty()) return;

  for (int i = 0; i < defs.Count(); ++i) {
    const TSDBIndexDef& d = defs[i];
    if (d.FTemporary || d.FColumns.empty()) continue;
    const std::vector<int>& indexFields = FIndexFields[static_cast<size_t>(i)];
    TSDBIndexCandidate cand;
    cand.IndexNo = i;
    cand.IndexName = d.FName;
    cand.Unique = d.FUnique || d.FPrimary;
    try {
      // "=" on the leading columns, one column after the other.
      for (size_t k = 0; k < d.FColumns.size(); ++k) {
        const int fieldNo = indexFields[k];
        if (fieldNo < 0) break;
        const TSDBFieldDef& field = fm.Field(fieldNo);
        bool found = false;
        for (const auto& c : conds) {
          if (c.FieldNo != fieldNo || c.Op != doEQ || !UsableFor(field, d.FColumns[k], *c.Value)) continue;
          if (!found) {
            cand.EqualValues.push_back(*c.Value);
            found = true;
          } else if (cand.EqualValues.back().Compare(*c.Value) != 0) {
            cand.Contradictory = true;
          }
          if (std::find(cand.Factors.begin(), cand.Factors.end(), c.Factor) == cand.Factors.end()) cand.Factors.push_back(c.Factor);
        }
        if (!found) break;
      }
      // Bounds on the first column.
      const int firstField = indexFields[0];
      if (firstField >= 0) {
        const TSDBFieldDef& field = fm.Field(firstField);
        for (const auto& c : conds) {
          if (c.FieldNo != firstField || c.Op == doEQ || !UsableFor(field, d.FColumns[0], *c.Value)) continue;
          if (std::find(cand.Factors.begin(), cand.Factors.end(), c.Factor) == cand.Factors.end()) cand.Factors.push_back(c.Factor);
          const bool lower = c.Op == doGT || c.Op == doGE;
          const bool inclusive = c.Op == doGE || c.Op == doLE;
          if (lower) {
            int cmp = cand.HasLow ? c.Value->Compare(cand.Low) : 1;
            if (!cand.HasLow || cmp > 0 || (cmp == 0 && !inclusive)) {
              cand.Low = *c.Value;
              cand.LowInclusive = inclusive;
              cand.HasLow = true;
            }
          } else {
            int cmp = cand.HasHigh ? c.Value->Compare(cand.High) : -1;
            if (!cand.HasHigh || cmp < 0 || (cmp == 0 && !inclusive)) {
              cand.High = *c.Value;
              cand.HighInclusive = inclusive;
              cand.HasHigh = true;
            }
          }
        }
        if (cand.HasLow && cand.HasHigh) {
          int cmp = cand.Low.Compare(cand.High);
          if (cmp > 0 || (cmp == 0 && !(cand.LowInclusive && cand.HighInclusive))) cand.Contradictory = true;
        }
        if (!cand.EqualValues.empty()) {
          const TSDBVariant& eq = cand.EqualValues[0];
          if (cand.HasLow) {
            int cmp = eq.Compare(cand.Low);
            if (cmp < 0 || (cmp == 0 && !cand.LowInclusive)) cand.Contradictory = true;
          }
          if (cand.HasHigh) {
            int cmp = eq.Compare(cand.High);
            if (cmp > 0 || (cmp == 0 && !cand.HighInclusive)) cand.Contradictory = true;
          }
          // The equality is the tighter range: the bounds only served the check.
          cand.HasLow = cand.HasHigh = false;
        }
      }
    } catch (const ESDBException&) {
      continue;  // a constant that cannot be compared with the column
    }
    if (cand.Factors.empty()) continue;
    Candidates.push_back(std::move(cand));
  }
  if (Candidates.empty()) return;

  // Contradictory bounds: nothing to read at all.
  for (size_t i = 0; i < Candidates.size(); ++i)
    if (Candidates[i].Contradictory) {
      Chosen = static_cast<int>(i);
      return;
    }
  // An equality on a single-column unique index or an auto-increment column
  // names at most one record.
  for (size_t i = 0; i < Candidates.size(); ++i) {
    const TSDBIndexCandidate& c = Candidates[i];
    const TSDBIndexDef& d = defs[c.IndexNo];
    if (c.EqualValues.empty()) continue;
    const int f = FIndexFields[static_cast<size_t>(c.IndexNo)][0];
    if ((c.Unique && d.FColumns.size() == 1) || (f >= 0 && fm.Field(f).IsAutoInc())) {
      Candidates[i].EstimatedEntries = 1;
      Candidates[i].Cost = 1;
      Chosen = static_cast<int>(i);
      return;
    }
  }
  // Cost of each candidate in pages read (see docs/sql-execution.md).
  const double pageData = static_cast<double>(perPage) * fm.DiskRecordBufferSize();
  // With `measure`, the index's own estimate of each range's size replaces
  // the rule of thumb.
  auto choose = [&](bool measure) {
    Chosen = -1;
    double best = 0;
    for (size_t i = 0; i < Candidates.size(); ++i) {
      TSDBIndexCandidate& c = Candidates[i];
      const TSDBIndexDef& d = defs[c.IndexNo];
      double entrySize = 8;  // record identifier and entry header
      for (size_t k = 0; k < d.FColumns.size(); ++k) {
        const TSDBIndexColumn& col = d.FColumns[k];
        const int f = FIndexFields[static_cast<size_t>(c.IndexNo)][k];
        if (f < 0) continue;
        const TSDBFieldDef& fd = fm.Field(f);
        entrySize += SDBIsStringFieldType(fd.FBaseFieldType)
                         ? std::min<int32_t>(fd.FFieldSize, col.FMaxIndexedSize) + 1
                         : fd.FDiskDataSize;
      }
      double est = static_cast<double>(RecordCount);
      for (size_t k = 0; k < c.EqualValues.size(); ++k) est /= 10;
      if (c.HasLow && c.HasHigh)
        est /= 9;
      else if (c.HasLow || c.HasHigh)
        est /= 3;
      if (c.Unique && c.EqualValues.size() == d.FColumns.size()) est = 1;
      // The index's own estimate of the entries in the range, when it has one.
      if (measure) try {
          const TCandidateBounds b = CandidateBounds(c, d.FColumns[0].FDescending);
          est = static_cast<double>(IndexCursor().ApproxIndexRangeRecordCount(c.IndexName, b.Start, b.End,
                                                                              b.StartExclusive, b.EndExclusive));
        } catch (const ESDBException&) {
        }
      est = std::max(1.0, std::ceil(est));
      c.EstimatedEntries = static_cast<int64_t>(est);
      const double perIndexPage = std::max(2.0, pageData / entrySize);
      const double depth =
          std::max(1.0, std::ceil(std::log(static_cast<double>(RecordCount) + 1) / std::log(perIndexPage)));
      const double indexPages = std::ceil(est / perIndexPage) + depth;
      // Records are fetched one by one through the index unless the index
      // alone answers every condition and is the cursor's current order.
      const bool otherFactors = c.Factors.size() < FFilterExpr.size();
      const bool currentOrder = Cursor.CurrentIndexID == c.IndexNo;
      const double recordPages = (otherFactors || !currentOrder) ? std::min(est, FullScanCost) : 0;
      c.Cost = indexPages + recordPages;
      if (Chosen < 0 || c.Cost < best) {
        best = c.Cost;
        Chosen = static_cast<int>(i);
      }
    }
    if (Chosen >= 0 && FullScanCost <= best) Chosen = -1;
  };
  // A single candidate that names a whole key of its index by equalities
  // (the settings lookups), cheaper than a scan by the rule of thumb:
  // measuring its range would descend the index as often as reading it
  // does, doubling the work for a few entries. It is read at once instead;
  // a range holding more entries than a scan of the table costs pages stops
  // the read there and the table is scanned, so a poor key costs at most
  // one scan more.
  if (Candidates.size() == 1 && Candidates[0].EqualValues.size() == defs[Candidates[0].IndexNo].FColumns.size()) {
    choose(false);
    if (Chosen == 0) {
      Candidates[0].ReadLimit = std::max<int64_t>(1, static_cast<int64_t>(FullScanCost));
      return;
    }
  }
  choose(true);
}

bool TSDBAOTable::ExecuteFromCache(TSDBExecContext& Ctx) {
  if (!Ctx.RowsCache || Ctx.Outer.empty()) return false;
  TSDBTableRowsCache::TEntry* entry = Ctx.RowsCache->Find(&Conn, TableName);
  if (!entry) {
    if (!SDBExecLockTable(Cursor, ltS, SDBExecLockWaits().QueryTries, SDBExecLockWaits().QueryDelayMs))
      throw ESDBException(kExecErrQueryLocked, "Table is locked");
    TSDBResultSet rows;
    try {
      SDBExecReadTable(Cursor, TableName, rows);
    } catch (...) {
      Cursor.TableData->UnlockTable(Cursor.SessionID, ltS, true);
      throw;
    }
    if (!Cursor.TableData->UnlockTable(Cursor.SessionID, ltS, true))
      throw ESDBException(kExecErrCannotUnlockAfter, "Cannot unlock table");
    entry = &Ctx.RowsCache->Add(&Conn, TableName, std::move(rows));
  }
  // An equality between an integer column of this table and a plain column
  // of an outer row picks the rows through the hash; the filter still
  // checks every factor afterwards.
  TSDBResultRowSource local(&FResult.Columns);
  const std::vector<size_t>* pick = nullptr;
  bool none = false;
  for (const TSDBExprNode* f : FFilterExpr) {
    if (f->Operator != doEQ || f->Children.size() != 2) continue;
    const auto* l = SDBExprAs<TSDBExprNodeField>(f->Children[0].get());
    const auto* r = SDBExprAs<TSDBExprNodeField>(f->Children[1].get());
    if (!l || !r) continue;
    for (int side = 0; side < 2 && !pick && !none; ++side) {
      const TSDBExprNodeField* mine = side ? r : l;
      const TSDBExprNodeField* other = side ? l : r;
      const int slot = local.FindColumn(mine->TableName, mine->FieldName);
      if (slot < 0 || !SDBIsHashableIntegerType(FResult.Columns[static_cast<size_t>(slot)].DataType)) continue;
      if (local.FindColumn(other->TableName, other->FieldName) != -1) continue;
      // The outer sources in the order the evaluator searches them.
      const TSDBColumnSource* source = nullptr;
      int outerSlot = -1;
      for (const TSDBColumnSource* o : Ctx.Outer) {
        outerSlot = o->FindColumn(other->TableName, other->FieldName);
        if (outerSlot != -1) {
          source = o;
          break;
        }
      }
      if (!source || outerSlot < 0) continue;
      const TSDBVariant v = source->ColumnValue(outerSlot);
      if (v.IsNull()) {
        none = true;
      } else if (SDBIsHashableIntegerType(v.DataType())) {
        pick = &Ctx.RowsCache->Lookup(*entry, slot, v.AsInt64());
      }
    }
    if (pick || none) break;
  }
  FResult.Rows.clear();
  FResult.RecordIDs.clear();
  FResult.Live = false;
  if (pick) {
    FResult.Rows.reserve(pick->size());
    for (size_t i : *pick) FResult.Rows.push_back(entry->Rows.Rows[i]);
  } else if (!none) {
    FResult.Rows = entry->Rows.Rows;
  }
  ApplyFilter(Ctx);
  return true;
}

void TSDBAOTable::Execute(TSDBExecContext& Ctx) {
  if (ExecuteFromCache(Ctx)) return;
  // The index choice reads the table too (its record count, the sizes of
  // the candidate ranges): under the statement's one shared lock, so that
  // its reads neither lock on their own nor re-check cached pages.
  if (!SDBExecLockTable(Cursor, ltS, SDBExecLockWaits().QueryTries, SDBExecLockWaits().QueryDelayMs))
    throw ESDBException(kExecErrQueryLocked, "Table is locked");
  try {
    ChooseIndex();
    if (Chosen >= 0 && Candidates[static_cast<size_t>(Chosen)].Contradictory) {
      FResult.Rows.clear();
      FResult.RecordIDs.clear();
      FResult.Live = true;
      FResult.LiveTableName = TableName;
    } else if (Chosen >= 0 && ReadRange(Candidates[static_cast<size_t>(Chosen)])) {
    } else {
      Chosen = -1;
      // The read describes the columns by the table's names: this
      // operator's (its pseudonym's) are kept.
      std::vector<TSDBResultColumn> cols = std::move(FResult.Columns);
      SDBExecReadTable(Cursor, TableName, FResult);
      FResult.Columns = std::move(cols);
    }
    ApplyFilter(Ctx);
  } catch (...) {
    Cursor.TableData->UnlockTable(Cursor.SessionID, ltS, true);
    throw;
  }
  if (!Cursor.TableData->UnlockTable(Cursor.SessionID, ltS, true))
    throw ESDBException(kExecErrCannotUnlockAfter, "Cannot unlock table");
}

bool TSDBAOTable::ReadRange(const TSDBIndexCandidate& c) {
  FResult.Rows.clear();
  FResult.RecordIDs.clear();
  FResult.Live = true;
  FResult.LiveTableName = TableName;
  const TSDBIndexDef& d = Cursor.TableData->IndexDefs()[c.IndexNo];
  TSDBTableCursor& tc = IndexCursor();
  // Positioned once: on the first record of the range.
  const TCandidateBounds b = CandidateBounds(c, d.FColumns[0].FDescending);
  tc.SetIndexRange(c.IndexName, b.Start, b.End, b.StartExclusive, b.EndExclusive);
  for (; !tc.Eof(); tc.Next()) {
    if (c.ReadLimit > 0 && static_cast<int64_t>(FResult.Rows.size()) >= c.ReadLimit) {
      FResult.Rows.clear();
      FResult.RecordIDs.clear();
      return false;
    }
    FResult.Rows.push_back(SDBExecCurrentRow(tc.Cursor()));
    FResult.RecordIDs.push_back(tc.RecordID());
  }
  return true;
}

std::string TSDBAOTable::Describe() const {
  std::string s = TableName;
  if (!Pseudonym.empty() && !SDBSameName(Pseudonym, TableName)) s += " AS " + Pseudonym;
  if (!Chose) return s;
  s += " rows=" + std::to_string(RecordCount);
  if (Chosen >= 0) {
    const TSDBIndexCandidate& c = Candidates[static_cast<size_t>(Chosen)];
    s += " index=" + c.Describe();
  } else {
    s += " index=none";
  }
  return s;
}

// ---- Subquery in FROM ----------------------------------------------------------------------------------

void TSDBAOSubquery::Open(TSDBExecContext& Ctx) {
  Children.push_back(SDBBuildAOTree(Query, Ctx));
  FResult.Columns = Children[0]->FResult.Columns;
  for (auto& c : FResult.Columns) {
    c.TableName = Pseudonym;
    c.BaseTableName.clear();
  }
}

void TSDBAOSubquery::Execute(TSDBExecContext& Ctx) {
  Children[0]->Execute(Ctx);
  FResult.Rows = std::move(Children[0]->FResult.Rows);
  FResult.RecordIDs.clear();
  FResult.Live = false;
  ApplyFilter(Ctx);
}

// ---- Join --------------------------------------------------------------------------------------------------

TSDBAOJoin::TSDBAOJoin(std::unique_ptr<TSDBAO> Left, std::unique_ptr<TSDBAO> Right, TSDBJoinType JoinType,
                       const TSDBExprNode* OnCondition, std::vector<std::string> UsingFields, bool Natural)
    : JoinType(JoinType), OnCondition(OnCondition), UsingFields(std::move(UsingFields)), Natural(Natural) {
  Children.push_back(std::move(Left));
  Children.push_back(std::move(Right));
}

void TSDBAOJoin::Open(TSDBExecContext& Ctx) {
  TSDBAO::Open(Ctx);
  const auto& l = Children[0]->FResult.Columns;
  const auto& r = Children[1]->FResult.Columns;
  FResult.Columns = l;
  FResult.Columns.insert(FResult.Columns.end(), r.begin(), r.end());
  TSDBResultRowSource ls(&l), rs(&r);
  std::vector<std::string> names = UsingFields;
  if (Natural && names.empty())
    for (const auto& c : l)
      if (rs.FindColumn({}, c.Name) >= 0) names.push_back(c.Name);
  for (const auto& n : names) {
    int li = ResolveColumn(ls, {}, n), ri = ResolveColumn(rs, {}, n);
    if (li < 0 || ri < 0) SDBRaiseUnknownColumn({}, n);
    EqualColumns.emplace_back(li, ri);
  }
}

bool TSDBAOJoin::ApplyFilterPart(const TSDBExprNode* Factor) {
  const bool left = JoinType == ajtCross || JoinType == ajtInner || JoinType == ajtLeftOuter;
  const bool right = JoinType == ajtCross || JoinType == ajtInner || JoinType == ajtRightOuter;
  if (left && Children[0]->ApplyFilterPart(Factor)) return true;
  if (right && Children[1]->ApplyFilterPart(Factor)) return true;
  return TSDBAO::ApplyFilterPart(Factor);
}

void TSDBAOJoin::Execute(TSDBExecContext& Ctx) {
  Children[0]->Execute(Ctx);
  Children[1]->Execute(Ctx);
  const auto& L = Children[0]->FResult;
  const auto& R = Children[1]->FResult;
  TSDBResultRowSource src(&FResult.Columns);
  std::unique_ptr<TSDBEvaluator> on;
  if (OnCondition) on = std::make_unique<TSDBEvaluator>(OnCondition, Ctx.Sources({&src}), &Ctx);
  TSDBResultRow leftNulls, rightNulls;
  for (const auto& c : L.Columns) leftNulls.emplace_back(c.DataType);
  for (const auto& c : R.Columns) rightNulls.emplace_back(c.DataType);
  FResult.Rows.clear();
  FResult.RecordIDs.clear();
  std::vector<bool> rightMatched(R.Rows.size(), false);
  TSDBResultRow row;
  for (const auto& l : L.Rows) {
    bool matched = false;
    for (size_t j = 0; j < R.Rows.size(); ++j) {
      const auto& r = R.Rows[j];
      bool ok = true;
      for (const auto& [li, ri] : EqualColumns) {
        const TSDBVariant& a = l[static_cast<size_t>(li)];
        const TSDBVariant& b = r[static_cast<size_t>(ri)];
        if (a.IsNull() || b.IsNull() || a.Compare(b) != 0) {
          ok = false;
          break;
        }
      }
      if (!ok) continue;
      row = l;
      row.insert(row.end(), r.begin(), r.end());
      if (on) {
        src.Row = &row;
        if (!on->IsTrue()) continue;
      }
      matched = true;
      rightMatched[j] = true;
      FResult.Rows.push_back(row);
    }
    if (!matched && (JoinType == ajtLeftOuter || JoinType == ajtFullOuter)) {
      row = l;
      row.insert(row.end(), rightNulls.begin(), rightNulls.end());
      FResult.Rows.push_back(row);
    }
  }
  if (JoinType == ajtRightOuter || JoinType == ajtFullOuter) {
    for (size_t j = 0; j < R.Rows.size(); ++j) {
      if (rightMatched[j]) continue;
      row = leftNulls;
      row.insert(row.end(), R.Rows[j].begin(), R.Rows[j].end());
      FResult.Rows.push_back(row);
    }
  }
  FResult.Live = false;
  ApplyFilter(Ctx);
}

std::string TSDBAOJoin::Describe() const {
  static const char* kinds[] = {"CROSS", "INNER", "LEFT OUTER", "RIGHT OUTER", "FULL OUTER"};
  std::string s = kinds[JoinType];
  if (Natural) s = "NATURAL " + s;
  if (OnCondition) s += " ON";
  if (!UsingFields.empty()) s += " USING";
  return s;
}

// ---- Set operations ------------------------------------------------------------------------------------------

TSDBAOUnion::TSDBAOUnion(std::unique_ptr<TSDBAO> Left, std::unique_ptr<TSDBAO> Right, TSDBSetOperation Op, bool All,
                         bool Corresponding, std::vector<std::string> CorrespondingFields)
    : Op(Op), All(All), Corresponding(Corresponding), CorrespondingFields(std::move(CorrespondingFields)) {
  Children.push_back(std::move(Left));
  Children.push_back(std::move(Right));
}

void TSDBAOUnion::Open(TSDBExecContext& Ctx) {
  TSDBAO::Open(Ctx);
  const auto& l = Children[0]->FResult.Columns;
  const auto& r = Children[1]->FResult.Columns;
  LeftMap.clear();
  RightMap.clear();
  if (Corresponding) {
    TSDBResultRowSource ls(&l), rs(&r);
    std::vector<std::string> names = CorrespondingFields;
    if (names.empty())
      for (const auto& c : l)
        if (rs.FindColumn({}, c.Name) >= 0) names.push_back(c.Name);
    for (const auto& n : names) {
      int li = ResolveColumn(ls, {}, n), ri = ResolveColumn(rs, {}, n);
      if (li < 0 || ri < 0) SDBRaiseUnknownColumn({}, n);
      LeftMap.push_back(li);
      RightMap.push_back(ri);
    }
  } else {
    if (l.size() != r.size())
      throw ESDBException(kSDBErrSetOperationColumns, "Number of columns of the queries of a set operation differs: %d and %d",
                          {static_cast<int64_t>(l.size()), static_cast<int64_t>(r.size())});
    for (size_t i = 0; i < l.size(); ++i) {
      LeftMap.push_back(static_cast<int>(i));
      RightMap.push_back(static_cast<int>(i));
    }
  }
  FResult.Columns.clear();
  for (int i : LeftMap) {
    TSDBResultColumn c = l[static_cast<size_t>(i)];
    c.TableName.clear();
    c.BaseTableName.clear();
    FResult.Columns.push_back(std::move(c));
  }
}

void TSDBAOUnion::Execute(TSDBExecContext& Ctx) {
  Children[0]->Execute(Ctx);
  Children[1]->Execute(Ctx);
  auto take = [](const std::vector<TSDBResultRow>& rows, const std::vector<int>& map) {
    std::vector<TSDBResultRow> out;
    out.reserve(rows.size());
    for (const auto& r : rows) {
      TSDBResultRow o;
      for (int i : map) o.push_back(r[static_cast<size_t>(i)]);
      out.push_back(std::move(o));
    }
    return out;
  };
  std::vector<TSDBResultRow> L = take(Children[0]->FResult.Rows, LeftMap);
  std::vector<TSDBResultRow> R = take(Children[1]->FResult.Rows, RightMap);
  FResult.Rows.clear();
  FResult.RecordIDs.clear();
  FResult.Live = false;
  if (Op == soUnion) {
    FResult.Rows = std::move(L);
    for (auto& r : R) FResult.Rows.push_back(std::move(r));
    if (!All) DedupRows(FResult.Rows);
    return;
  }
  if (!All) {
    DedupRows(L);
    DedupRows(R);
  }
  // Multiset difference / intersection: each row of the right side is used once.
  std::vector<size_t> ri(R.size());
  std::iota(ri.begin(), ri.end(), size_t{0});
  std::sort(ri.begin(), ri.end(), [&](size_t a, size_t b) { return CompareRows(R[a], R[b]) < 0; });
  std::vector<bool> used(R.size(), false);
  for (auto& l : L) {
    auto it = std::lower_bound(ri.begin(), ri.end(), l,
                               [&](size_t a, const TSDBResultRow& v) { return CompareRows(R[a], v) < 0; });
    bool found = false;
    for (; it != ri.end() && CompareRows(R[*it], l) == 0; ++it)
      if (!used[*it]) {
        used[*it] = true;
        found = true;
        break;
      }
    if ((Op == soIntersect) == found) FResult.Rows.push_back(std::move(l));
  }
}

std::string TSDBAOUnion::Describe() const {
  std::string s = Op == soUnion ? "UNION" : Op == soExcept ? "EXCEPT" : "INTERSECT";
  if (All) s += " ALL";
  if (Corresponding) s += " CORRESPONDING";
  return s;
}

// ---- Select list ----------------------------------------------------------------------------------------------

namespace {

// Output columns of a select list over `child`; `copy[i]` is the child
// column a result column copies, or -1 when `evalNode[i]` computes it.
void BuildSelectColumns(const TSDBSQLSelect& select, const TSDBResultRowSource& src, bool grouped,
                        std::vector<TSDBResultColumn>& out, std::vector<int>& copy,
                        std::vector<const TSDBExpression*>& evalExpr) {
  const auto& cols = *src.Cols;
  auto addCopy = [&](size_t i, const std::string& name) {
    TSDBResultColumn c = cols[i];
    if (!name.empty()) c.Name = name;
    out.push_back(std::move(c));
    copy.push_back(static_cast<int>(i));
    evalExpr.push_back(nullptr);
  };
  if (select.AllFields) {
    for (size_t i = 0; i < cols.size(); ++i) addCopy(i, {});
    return;
  }
  for (const auto& item : select.SelectList) {
    if (item.AllTableFields) {
      bool any = false;
      for (size_t i = 0; i < cols.size(); ++i)
        if (SDBSameName(cols[i].TableName, item.TableName)) {
          addCopy(i, {});
          any = true;
        }
      if (!any) SDBRaiseUnknownColumn(item.TableName, "*", item.LineNum, item.ColumnNum);
      continue;
    }
    if (!item.IsExpression && !grouped) {
      int slot = ResolveColumn(src, item.TableName, item.FieldName, item.LineNum, item.ColumnNum);
      if (slot >= 0) {
        addCopy(static_cast<size_t>(slot), item.Pseudonym);
        continue;
      }
    }
    TSDBResultColumn c;
    c.Name = item.Pseudonym;
    if (!item.IsExpression) {
      int slot = ResolveColumn(src, item.TableName, item.FieldName, item.LineNum, item.ColumnNum);
      if (slot >= 0) {
        c = cols[static_cast<size_t>(slot)];
        c.Name = item.Pseudonym;
      }
    }
    out.push_back(std::move(c));
    copy.push_back(-1);
    evalExpr.push_back(item.ValueExpr.get());
  }
}

}  // namespace

TSDBAOTableExpr::TSDBAOTableExpr(std::unique_ptr<TSDBAO> Child, const TSDBSQLSelect& Select) : Select(Select) {
  Children.push_back(std::move(Child));
}

void TSDBAOTableExpr::Open(TSDBExecContext& Ctx) {
  TSDBAO::Open(Ctx);
  FSource.Cols = &Children[0]->FResult.Columns;
  std::vector<const TSDBExpression*> exprs;
  FResult.Columns.clear();
  FCopy.clear();
  BuildSelectColumns(Select, FSource, false, FResult.Columns, FCopy, exprs);
  FEvals.clear();
  for (size_t i = 0; i < exprs.size(); ++i) {
    if (!exprs[i]) {
      FEvals.push_back(nullptr);
      continue;
    }
    auto e = std::make_unique<TSDBEvaluator>(*exprs[i], Ctx.Sources({&FSource}), &Ctx);
    if (FResult.Columns[i].DataType == bftUnknown) {
      FResult.Columns[i].DataType = e->ResultType();
      FResult.Columns[i].Size = e->ResultSize();
    }
    FEvals.push_back(std::move(e));
  }
  FOpenedColumns.clear();
  for (const auto& c : FResult.Columns)
    if (c.DataType == bftUnknown) {
      FOpenedColumns = FResult.Columns;
      break;
    }
}

bool TSDBAOTableExpr::Reopen(TSDBExecContext& Ctx) {
  if (!TSDBAO::Reopen(Ctx)) return false;
  for (auto& e : FEvals)
    if (e) e->SetHost(&Ctx);
  if (!FOpenedColumns.empty()) FResult.Columns = FOpenedColumns;
  return true;
}

bool TSDBAOTableExpr::ApplyFilterPart(const TSDBExprNode* Factor) { return Children[0]->ApplyFilterPart(Factor); }

void TSDBAOTableExpr::Execute(TSDBExecContext& Ctx) {
  TSDBAO& child = *Children[0];
  child.Execute(Ctx);
  std::vector<TSDBResultRow>& in = child.FResult.Rows;
  if (!PreSort.empty())
    std::stable_sort(in.begin(), in.end(), [&](const TSDBResultRow& a, const TSDBResultRow& b) {
      for (const auto& [col, desc] : PreSort) {
        int c = a[static_cast<size_t>(col)].Compare(b[static_cast<size_t>(col)]);
        if (c) return desc ? c > 0 : c < 0;
      }
      return false;
    });
  FResult.Rows.clear();
  FResult.RecordIDs.clear();
  FResult.Live = false;
  FResult.Rows.reserve(in.size());
  for (size_t r = 0; r < in.size(); ++r) {
    FSource.Row = &in[r];
    Ctx.RowNumber = static_cast<int64_t>(r) + 1;
    TSDBResultRow out;
    out.reserve(FCopy.size());
    for (size_t i = 0; i < FCopy.size(); ++i)
      out.push_back(FCopy[i] >= 0 ? in[r][static_cast<size_t>(FCopy[i])] : FEvals[i]->GetValue());
    FResult.Rows.push_back(std::move(out));
  }
  FSource.Row = nullptr;
  FixUnknownTypes(FResult);
  ApplyFilter(Ctx);
}

std::string TSDBAOTableExpr::Describe() const {
  std::string s;
  for (const auto& c : FResult.Columns) s += (s.empty() ? "" : ", ") + c.Name;
  if (!PreSort.empty()) s += " (ordered before projection)";
  return s;
}

// ---- Group by ---------------------------------------------------------------------------------------------------

TSDBAOGroupBy::TSDBAOGroupBy(std::unique_ptr<TSDBAO> Child, const TSDBSQLSelect& Select) : Select(Select) {
  Children.push_back(std::move(Child));
}

void TSDBAOGroupBy::Open(TSDBExecContext& Ctx) {
  TSDBAO::Open(Ctx);
  FSource.Cols = &Children[0]->FResult.Columns;
  GroupColumns.clear();
  for (const auto& g : Select.GroupByFields) {
    int slot = ResolveColumn(FSource, g.TableName, g.FieldName, g.LineNum, g.ColumnNum);
    if (slot < 0) SDBRaiseUnknownColumn(g.TableName, g.FieldName, g.LineNum, g.ColumnNum);
    GroupColumns.push_back(slot);
  }
  std::vector<const TSDBExpression*> exprs;
  FResult.Columns.clear();
  FCopy.clear();
  BuildSelectColumns(Select, FSource, true, FResult.Columns, FCopy, exprs);
  FEvals.clear();
  for (size_t i = 0; i < exprs.size(); ++i) {
    if (!exprs[i]) {
      FEvals.push_back(nullptr);
      continue;
    }
    auto e = std::make_unique<TSDBEvaluator>(*exprs[i], Ctx.Sources({&FSource}), &Ctx);
    if (FResult.Columns[i].DataType == bftUnknown) {
      FResult.Columns[i].DataType = e->ResultType();
      FResult.Columns[i].Size = e->ResultSize();
    }
    FEvals.push_back(std::move(e));
  }
  if (Select.HavingCondition && Select.HavingCondition->Root()) {
    if (!SDBCanBind(Select.HavingCondition->Root(), Ctx.Sources({&FSource})))
      throw ESDBException(kExecErrHavingNotApplicable, "'Having' condition is not applicable");
    FHaving = std::make_unique<TSDBEvaluator>(*Select.HavingCondition, Ctx.Sources({&FSource}), &Ctx);
  }
}

void TSDBAOGroupBy::Execute(TSDBExecContext& Ctx) {
  TSDBAO& child = *Children[0];
  child.Execute(Ctx);
  const std::vector<TSDBResultRow>& in = child.FResult.Rows;
  std::vector<size_t> idx(in.size());
  std::iota(idx.begin(), idx.end(), size_t{0});
  auto keyCompare = [&](size_t a, size_t b) {
    for (int g : GroupColumns) {
      int c = in[a][static_cast<size_t>(g)].Compare(in[b][static_cast<size_t>(g)]);
      if (c) return c;
    }
    return 0;
  };
  if (!GroupColumns.empty())
    std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) { return keyCompare(a, b) < 0; });
  // Groups as ranges of idx; without GROUP BY one group of every row.
  std::vector<std::pair<size_t, size_t>> groups;
  if (GroupColumns.empty()) {
    groups.emplace_back(0, idx.size());
  } else {
    for (size_t i = 0; i < idx.size();) {
      size_t j = i + 1;
      while (j < idx.size() && keyCompare(idx[i], idx[j]) == 0) ++j;
      groups.emplace_back(i, j);
      i = j;
    }
  }
  FResult.Rows.clear();
  FResult.RecordIDs.clear();
  FResult.Live = false;
  for (const auto& [b, e] : groups) {
    std::vector<std::vector<TSDBAggregator>> acc(FEvals.size());
    for (size_t k = 0; k < FEvals.size(); ++k)
      if (FEvals[k]) acc[k] = FEvals[k]->NewAggregators();
    std::vector<TSDBAggregator> havingAcc;
    if (FHaving) havingAcc = FHaving->NewAggregators();
    for (size_t i = b; i < e; ++i) {
      FSource.Row = &in[idx[i]];
      for (size_t k = 0; k < FEvals.size(); ++k)
        if (FEvals[k] && !acc[k].empty()) FEvals[k]->Accumulate(acc[k]);
      if (FHaving && !havingAcc.empty()) FHaving->Accumulate(havingAcc);
    }
    FSource.Row = b < e ? &in[idx[b]] : nullptr;
    Ctx.RowNumber = static_cast<int64_t>(FResult.Rows.size()) + 1;
    if (FHaving) {
      FHaving->SetAggregateResults(&havingAcc);
      bool keep = FHaving->IsTrue();
      FHaving->SetAggregateResults(nullptr);
      if (!keep) continue;
    }
    TSDBResultRow out;
    for (size_t k = 0; k < FCopy.size(); ++k) {
      if (FCopy[k] >= 0) {
        out.push_back(FSource.Row ? (*FSource.Row)[static_cast<size_t>(FCopy[k])]
                                  : TSDBVariant(FResult.Columns[k].DataType));
        continue;
      }
      FEvals[k]->SetAggregateResults(&acc[k]);
      out.push_back(FEvals[k]->GetValue());
      FEvals[k]->SetAggregateResults(nullptr);
    }
    FResult.Rows.push_back(std::move(out));
  }
  FSource.Row = nullptr;
  FixUnknownTypes(FResult);
}

std::string TSDBAOGroupBy::Describe() const {
  std::string s = "by";
  for (int g : GroupColumns) s += " " + (*FSource.Cols)[static_cast<size_t>(g)].Name;
  if (GroupColumns.empty()) s += " (all rows)";
  if (FHaving) s += " having";
  return s;
}

// ---- Order, distinct, top --------------------------------------------------------------------------------------

TSDBAOSort::TSDBAOSort(std::unique_ptr<TSDBAO> Child, std::vector<std::pair<int, bool>> Keys) : Keys(std::move(Keys)) {
  Children.push_back(std::move(Child));
}

void TSDBAOSort::Open(TSDBExecContext& Ctx) {
  TSDBAO::Open(Ctx);
  FResult.Columns = Children[0]->FResult.Columns;
}

void TSDBAOSort::Execute(TSDBExecContext& Ctx) {
  Children[0]->Execute(Ctx);
  FResult.Rows = std::move(Children[0]->FResult.Rows);
  FResult.Columns = Children[0]->FResult.Columns;
  FResult.RecordIDs.clear();
  FResult.Live = false;
  std::stable_sort(FResult.Rows.begin(), FResult.Rows.end(), [&](const TSDBResultRow& a, const TSDBResultRow& b) {
    for (const auto& [col, desc] : Keys) {
      int c = a[static_cast<size_t>(col)].Compare(b[static_cast<size_t>(col)]);
      if (c) return desc ? c > 0 : c < 0;
    }
    return false;
  });
}

std::string TSDBAOSort::Describe() const {
  std::string s;
  for (const auto& [col, desc] : Keys)
    s += (s.empty() ? "" : ", ") + FResult.Columns[static_cast<size_t>(col)].Name + (desc ? " DESC" : "");
  return s;
}

TSDBAODistinct::TSDBAODistinct(std::unique_ptr<TSDBAO> Child) { Children.push_back(std::move(Child)); }

void TSDBAODistinct::Open(TSDBExecContext& Ctx) {
  TSDBAO::Open(Ctx);
  FResult.Columns = Children[0]->FResult.Columns;
}

void TSDBAODistinct::Execute(TSDBExecContext& Ctx) {
  Children[0]->Execute(Ctx);
  FResult.Rows = std::move(Children[0]->FResult.Rows);
  FResult.Columns = Children[0]->FResult.Columns;
  FResult.RecordIDs.clear();
  FResult.Live = false;
  DedupRows(FResult.Rows);
}

TSDBAOSQLTopRowCount::TSDBAOSQLTopRowCount(std::unique_ptr<TSDBAO> Child, int64_t FirstRowNo, int64_t RowCount)
    : FirstRowNo(FirstRowNo), RowCount(RowCount) {
  Children.push_back(std::move(Child));
}

void TSDBAOSQLTopRowCount::Open(TSDBExecContext& Ctx) {
  TSDBAO::Open(Ctx);
  FResult.Columns = Children[0]->FResult.Columns;
}

void TSDBAOSQLTopRowCount::Execute(TSDBExecContext& Ctx) {
  Children[0]->Execute(Ctx);
  std::vector<TSDBResultRow>& in = Children[0]->FResult.Rows;
  FResult.Columns = Children[0]->FResult.Columns;
  FResult.Rows.clear();
  FResult.RecordIDs.clear();
  FResult.Live = false;
  const size_t start = FirstRowNo > 1 ? static_cast<size_t>(FirstRowNo - 1) : 0;
  for (size_t i = start; i < in.size(); ++i) {
    if (RowCount >= 0 && static_cast<int64_t>(FResult.Rows.size()) >= RowCount) break;
    FResult.Rows.push_back(std::move(in[i]));
  }
}

std::string TSDBAOSQLTopRowCount::Describe() const {
  std::string s = "count=" + std::to_string(RowCount);
  if (FirstRowNo > 0) s += " first=" + std::to_string(FirstRowNo);
  return s;
}

// ---- Tree building -----------------------------------------------------------------------------------------------

namespace {

std::unique_ptr<TSDBAO> BuildTableRef(const TSDBTableReference& ref, TSDBExecContext& Ctx) {
  switch (ref.TableType) {
    case attTable: {
      auto t = std::make_unique<TSDBAOTable>(Ctx.ConnectionFor(ref.DatabaseName, ref.Password, ref.InMemory),
                                             ref.TableName, ref.Pseudonym);
      t->Ref = &ref;
      return t;
    }
    case attSubQuery:
      return std::make_unique<TSDBAOSubquery>(*ref.SubQuery, ref.Pseudonym);
    case attJoinedTable:
    default:
      return std::make_unique<TSDBAOJoin>(BuildTableRef(*ref.LeftTable, Ctx), BuildTableRef(*ref.RightTable, Ctx),
                                          ref.JoinType, ref.SearchCondition ? ref.SearchCondition->Root() : nullptr,
                                          ref.UsingFields, ref.NaturalJoin);
  }
}

bool HasAggregateItem(const TSDBSQLSelect& s) {
  for (const auto& item : s.SelectList)
    if (item.ValueExpr && SDBHasAggregate(item.ValueExpr->Root())) return true;
  return false;
}

// Resolves ORDER BY specifications against result columns: pairs of
// (column, descending); false when one cannot be found. Positions count in
// the select list; positionMap, when given, turns a select-list position
// into a column of cols (-1: not among them).
bool ResolveOrder(const std::vector<TSDBOrderBySpec>& specs, const std::vector<TSDBResultColumn>& cols,
                  std::vector<std::pair<int, bool>>& keys, bool allowPositions,
                  const std::vector<int>* positionMap = nullptr) {
  TSDBResultRowSource src(&cols);
  keys.clear();
  for (const auto& s : specs) {
    if (s.FieldName.empty()) {
      if (!allowPositions) return false;
      const int count = positionMap ? static_cast<int>(positionMap->size()) : static_cast<int>(cols.size());
      if (s.FieldNo < 1 || s.FieldNo > count)
        SDBRaiseUnknownColumn({}, std::to_string(s.FieldNo), s.LineNum, s.ColumnNum);
      const int col = positionMap ? (*positionMap)[static_cast<size_t>(s.FieldNo - 1)] : s.FieldNo - 1;
      if (col < 0) return false;
      keys.emplace_back(col, s.Descending);
      continue;
    }
    int slot = ResolveColumn(src, s.TableName, s.FieldName, s.LineNum, s.ColumnNum);
    if (slot < 0) return false;
    keys.emplace_back(slot, s.Descending);
  }
  return true;
}

std::unique_ptr<TSDBAO> BuildSelect(const TSDBSQLSelect& select, TSDBExecContext& Ctx) {
  std::unique_ptr<TSDBAO> root;
  for (const auto& ref : select.FromTables) {
    std::unique_ptr<TSDBAO> op = BuildTableRef(*ref, Ctx);
    if (!root)
      root = std::move(op);
    else
      root = std::make_unique<TSDBAOJoin>(std::move(root), std::move(op), ajtCross, nullptr,
                                          std::vector<std::string>{}, false);
  }
  root->OpenOnce(Ctx);

  // The search condition: each AND factor goes to the lowest operator that
  // provides its columns; the rest (subqueries, outer references) is
  // checked at the top of the FROM tree.
  if (select.SearchCondition && select.SearchCondition->Root()) {
    TSDBResultRowSource all(&root->FResult.Columns);
    // A single table's columns are the whole FROM clause's: a factor that
    // binds over them is the table's own, without binding it a second time.
    const bool singleTable = dynamic_cast<TSDBAOTable*>(root.get()) != nullptr;
    for (const TSDBExprNode* f : SDBSplitAndFactors(select.SearchCondition->Root())) {
      // Pushed down only when it binds over the whole FROM clause, so that
      // a name ambiguous there is not quietly taken by the first item that
      // has it.
      if (!SDBHasSubquery(f) && SDBCanBind(f, {&all})) {
        if (singleTable) {
          root->FFilterExpr.push_back(f);
          continue;
        }
        if (root->ApplyFilterPart(f)) continue;
      }
      if (!SDBCanBind(f, Ctx.Sources({&all}))) {
        // An ambiguous name is reported as such, with its position; any
        // other condition that cannot be placed gets the general error.
        try {
          TSDBEvaluator probe(f, Ctx.Sources({&all}), &Ctx);
        } catch (const ESDBException& e) {
          if (e.NativeError() == kEvalErrAmbiguousColumn) throw;
        }
        throw ESDBException(kExecErrSearchNotApplicable, "Search condition is not applicable");
      }
      root->FFilterExpr.push_back(f);
    }
  }

  const bool grouped = !select.GroupByFields.empty() || (select.HavingCondition && select.HavingCondition->Root()) ||
                       HasAggregateItem(select);
  std::vector<std::pair<int, bool>> preKeys;
  if (grouped) {
    root = std::make_unique<TSDBAOGroupBy>(std::move(root), select);
    root->OpenOnce(Ctx);
  } else if (!select.AllFields) {
    auto expr = std::make_unique<TSDBAOTableExpr>(std::move(root), select);
    expr->OpenOnce(Ctx);
    root = std::move(expr);
  }
  if (!select.OrderBySpecs.empty()) {
    std::vector<std::pair<int, bool>> keys;
    if (ResolveOrder(select.OrderBySpecs, root->FResult.Columns, keys, true)) {
      root = std::make_unique<TSDBAOSort>(std::move(root), std::move(keys));
      root->OpenOnce(Ctx);
    } else if (auto* expr = dynamic_cast<TSDBAOTableExpr*>(root.get());
               expr && ResolveOrder(select.OrderBySpecs, expr->Children[0]->FResult.Columns, keys, true,
                                    &expr->CopiedColumns())) {
      expr->PreSort = std::move(keys);
    } else {
      for (const auto& s : select.OrderBySpecs) {
        TSDBResultRowSource src(&root->FResult.Columns);
        if (!s.FieldName.empty() && ResolveColumn(src, s.TableName, s.FieldName, s.LineNum, s.ColumnNum) < 0)
          SDBRaiseUnknownColumn(s.TableName, s.FieldName, s.LineNum, s.ColumnNum);
      }
      SDBRaiseUnknownColumn({}, select.OrderBySpecs[0].FieldName, select.OrderBySpecs[0].LineNum,
                            select.OrderBySpecs[0].ColumnNum);
    }
  }
  if (select.Distinct) {
    root = std::make_unique<TSDBAODistinct>(std::move(root));
    root->OpenOnce(Ctx);
  }
  if (select.TopRowCount >= 0) {
    root = std::make_unique<TSDBAOSQLTopRowCount>(std::move(root), select.FirstRowNo, select.TopRowCount);
    root->OpenOnce(Ctx);
  }
  return root;
}

std::unique_ptr<TSDBAO> BuildQueryNode(const TSDBQueryExprNode& node, TSDBExecContext& Ctx) {
  if (node.NodeType == qntSelect) return BuildSelect(*node.Select, Ctx);
  auto op = node.NodeType == qntUnion ? soUnion : node.NodeType == qntExcept ? soExcept : soIntersect;
  auto u = std::make_unique<TSDBAOUnion>(BuildQueryNode(*node.Left, Ctx), BuildQueryNode(*node.Right, Ctx), op,
                                         node.All, node.Corresponding, node.CorrespondingFields);
  u->OpenOnce(Ctx);
  return u;
}

TSDBAdvancedFieldType AdvancedTypeFor(const TSDBResultColumn& c) {
  if (c.AdvancedType != aftUnknown && !SDBIsAutoIncFieldType(c.AdvancedType)) return c.AdvancedType;
  switch (c.DataType) {
    case bftChar:
    case bftVarchar: return aftString;
    case bftWideChar:
    case bftWideVarchar: return aftWideString;
    case bftSignedInt8: return aftShortint;
    case bftSignedInt16: return aftSmallint;
    case bftSignedInt32: return aftInteger;
    case bftSignedInt64: return aftLargeint;
    case bftUnsignedInt8: return aftByte;
    case bftUnsignedInt16: return aftWord;
    case bftUnsignedInt32: return aftCardinal;
    case bftSingle: return aftSingle;
    case bftDouble:
    case bftExtended: return aftDouble;
    case bftCurrency: return aftCurrency;
    case bftDate: return aftDate;
    case bftTime: return aftTime;
    case bftDateTime: return aftDateTime;
    case bftLogical: return aftBoolean;
    case bftBlob: return aftBlob;
    case bftClob: return aftMemo;
    case bftWideClob: return aftWideMemo;
    case bftBytes: return aftBytes;
    case bftVarBytes: return aftVarBytes;
    default: return aftString;
  }
}

// Copies a result into a new table (SELECT ... INTO).
void CopyIntoTable(const TSDBResultSet& rs, TSDBExecConnection& conn, const std::string& table) {
  TSDBFieldDefs defs;
  std::vector<std::string> used;
  for (size_t i = 0; i < rs.Columns.size(); ++i) {
    const TSDBResultColumn& c = rs.Columns[i];
    std::string name = c.Name.empty() ? "EXPR" : c.Name;
    for (int n = 1; std::any_of(used.begin(), used.end(), [&](const std::string& u) { return SDBSameName(u, name); });
         ++n)
      name = (c.Name.empty() ? "EXPR" : c.Name) + "_" + std::to_string(n);
    used.push_back(name);
    TSDBAdvancedFieldType t = AdvancedTypeFor(c);
    int32_t size = 0;
    if (t == aftString || t == aftWideString || t == aftChar || t == aftWideChar || t == aftBytes ||
        t == aftVarBytes) {
      size = c.Size;
      for (const auto& row : rs.Rows)
        if (!row[i].IsNull() && SDBIsTextType(row[i].DataType()))
          size = std::max<int32_t>(size, static_cast<int32_t>(row[i].AsString().size()));
      if (size <= 0) size = 1;
    }
    defs.Emplace(name, t, size);
  }
  conn.CreateTable(table, std::move(defs), {}, {});
  TSDBCursor c;
  conn.OpenTable(c, table);
  try {
    for (const auto& row : rs.Rows) {
      c.EditRecordBuffer = c.TableData->NewRecordBuffer();
      for (size_t i = 0; i < row.size(); ++i) SDBExecWriteField(c, c.EditRecordBuffer, static_cast<int>(i), row[i]);
      if (!c.TableData->InsertRecord(c)) throw ESDBEngineError::Make(kSDBRecErrAdd);
    }
  } catch (...) {
    conn.CloseTable(c);
    throw;
  }
  conn.CloseTable(c);
}

}  // namespace

void TSDBAO::OpenOnce(TSDBExecContext& Ctx) {
  if (FOpened) return;
  FOpened = true;
  Open(Ctx);
}

std::unique_ptr<TSDBAO> SDBBuildAOTree(const TSDBSQLUnion& Query, TSDBExecContext& Ctx) {
  std::unique_ptr<TSDBAO> root = BuildQueryNode(*Query.Root, Ctx);
  if (Query.Root->NodeType != qntSelect && !Query.OrderBySpecs.empty()) {
    std::vector<std::pair<int, bool>> keys;
    if (!ResolveOrder(Query.OrderBySpecs, root->FResult.Columns, keys, true))
      SDBRaiseUnknownColumn(Query.OrderBySpecs[0].TableName, Query.OrderBySpecs[0].FieldName,
                            Query.OrderBySpecs[0].LineNum, Query.OrderBySpecs[0].ColumnNum);
    root = std::make_unique<TSDBAOSort>(std::move(root), std::move(keys));
    root->OpenOnce(Ctx);
  }
  return root;
}

namespace {

bool HasParameter(const TSDBExprNode* n) {
  if (!n) return false;
  if (const auto* c = SDBExprAs<TSDBExprNodeConst>(n); c && c->IsParameter) return true;
  for (const auto& k : n->Children)
    if (HasParameter(k.get())) return true;
  return false;
}

// Whether a query's tree may serve its next runs. The tree holds what was
// worked out from the table's definitions and from the text: its columns,
// where each condition is evaluated, the bound evaluators. Not what a run's
// values shape: a subquery's evaluator keeps the rows it read, and a
// computed column takes its size from the parameter values it was opened with.
bool KeepablePlan(const TSDBSQLUnion& Query, const TSDBAO& Root) {
  const TSDBSQLSelect* sel = Query.SingleSelect();
  if (!sel || !sel->IntoTable.empty()) return false;
  if (sel->SearchCondition && SDBHasSubquery(sel->SearchCondition->Root())) return false;
  for (const auto& item : sel->SelectList)
    if (item.ValueExpr && (SDBHasSubquery(item.ValueExpr->Root()) || HasParameter(item.ValueExpr->Root())))
      return false;
  const TSDBAO* op = &Root;
  while ((dynamic_cast<const TSDBAOTableExpr*>(op) || dynamic_cast<const TSDBAOSort*>(op) ||
          dynamic_cast<const TSDBAODistinct*>(op) || dynamic_cast<const TSDBAOSQLTopRowCount*>(op)) &&
         op->Children.size() == 1)
    op = op->Children[0].get();
  const auto* t = dynamic_cast<const TSDBAOTable*>(op);
  return t && t->Ref && t->Children.empty();
}

}  // namespace

std::shared_ptr<TSDBResultSet> SDBRunQuery(const TSDBSQLUnion& Query, TSDBExecContext& Ctx, bool RequestLive,
                                           bool& ReadOnly, std::unique_ptr<TSDBAO>* Kept) {
  std::unique_ptr<TSDBAO> root;
  struct Closer {
    std::unique_ptr<TSDBAO>& r;
    ~Closer() {
      if (r) r->Close();
    }
  } closer{root};
  if (Kept && *Kept) {
    root = std::move(*Kept);
    bool reopened = false;
    try {
      reopened = root->Reopen(Ctx);
    } catch (...) {
      // Built anew below, which reports what is wrong as a first run would.
    }
    if (!reopened) {
      root->Close();
      root.reset();
    }
  }
  // A tree kept once stays fit to keep: the query it was built from is the same.
  const bool reused = root != nullptr;
  if (!root) root = SDBBuildAOTree(Query, Ctx);
  root->Execute(Ctx);
  const bool keep = Kept && (reused || KeepablePlan(Query, *root));
  std::shared_ptr<TSDBResultSet> rs;
  if (keep) {
    // The tree keeps its columns for the next run.
    rs = std::make_shared<TSDBResultSet>();
    rs->Columns = root->FResult.Columns;
    rs->Rows = std::move(root->FResult.Rows);
    rs->RecordIDs = std::move(root->FResult.RecordIDs);
    rs->LiveTableName = root->FResult.LiveTableName;
    rs->Live = root->FResult.Live;
    root->FResult.Rows.clear();
    root->FResult.RecordIDs.clear();
  } else {
    rs = std::make_shared<TSDBResultSet>(std::move(root->FResult));
  }
  const bool single = dynamic_cast<TSDBAOTable*>(root.get()) != nullptr;
  if (!single) {
    rs->Live = false;
    rs->RecordIDs.clear();
  }
  bool into = false;
  if (const TSDBSQLSelect* sel = Query.SingleSelect(); sel && !sel->IntoTable.empty()) {
    CopyIntoTable(*rs, Ctx.ConnectionFor(sel->IntoDatabase, {}, sel->IntoMemory), sel->IntoTable);
    into = true;
  }
  ReadOnly = !((RequestLive && single) || into);
  if (ReadOnly) rs->Live = false;
  if (keep) {
    root->Close();
    *Kept = std::move(root);
  }
  return rs;
}

}  // namespace sdb
