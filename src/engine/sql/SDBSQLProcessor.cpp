#include "sql/SDBSQLProcessor.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBText.h"
#include "sql/SDBAccessOperator.h"
#include "sql/SDBEvaluator.h"
#include "sql/SDBExecTable.h"
#include "sql/SDBSQLErrors.h"
#include "sql/SDBSQLParser.h"
#include "sql/SDBStatementCache.h"
#include "sql/SDBTableRowsCache.h"
#include "storage/table/SDBTableCursor.h"
#include "storage/table/SDBFieldDef.h"
#include "storage/table/SDBRecordManager.h"

namespace sdb {

TSDBVariant SDBEvaluateDefaultText(const std::string& text) {
  TSDBLexer lex(text, true, nullptr);
  if (!lex.GetNextCommand()) return {};
  TSDBSQLParser p(lex, nullptr);
  TSDBExpression expr(p.ParseAdditive());
  if (!p.AtEnd()) p.Expected(kSqlErrTokenExpected, "end of the default expression");
  TSDBEvaluator ev(expr, {});
  return ev.GetValue();
}

namespace {

// Every insert, whatever its path, works out the defaults that are
// expressions through the statement layer.
[[maybe_unused]] const bool kDefaultExpressionsInstalled = [] {
  SDBSetDefaultExpressionEvaluator(&SDBEvaluateDefaultText);
  return true;
}();

// A table opened for a statement, closed when the statement ends.
class TTableGuard {
 public:
  TTableGuard(TSDBExecConnection& Conn, const std::string& Name) : FConn(Conn) {
    FConn.OpenTable(Cursor, Name);
    FOpen = true;
  }
  ~TTableGuard() {
    if (!FOpen) return;
    try {
      FConn.CloseTable(Cursor);
    } catch (...) {
    }
  }
  TTableGuard(const TTableGuard&) = delete;
  TTableGuard& operator=(const TTableGuard&) = delete;
  TSDBDiskTableData& Data() { return *Cursor.TableData; }
  TSDBCursor Cursor;

 private:
  TSDBExecConnection& FConn;
  bool FOpen = false;
};

int FieldNoOrRaise(TSDBDiskTableData& t, const std::string& table, const std::string& name) {
  int f = t.FieldManager().FieldNo(name);
  if (f < 0)
    throw ESDBException(kEvalErrUnknownColumn, "Unknown column '%s' at line %d, column %d",
                        {table + "." + name, int64_t{0}, int64_t{0}});
  return f;
}

// Write locks of UPDATE, DELETE and INSERT ... SELECT outside a
// transaction: the read-write lock with its attempts, then one try of the
// exclusive intent lock; released by the destructor.
class TWriteLock {
 public:
  TWriteLock(TSDBCursor& Cursor, int ErrorCode) : FCursor(Cursor) {
    if (!SDBExecLockTable(Cursor, ltRW, SDBExecLockWaits().WriteTries, SDBExecLockWaits().WriteDelayMs))
      throw ESDBException(ErrorCode, "Table is locked");
    FRW = true;
    FXIRW = Cursor.TableData->LockTable(Cursor.SessionID, ltXIRW, 1, 0);
    // Other processes may have changed the table before the lock was
    // granted: the batch must start from the counters they left, or its
    // commit would write back stale ones.
    if (Cursor.TableData->MultiUser()) Cursor.TableData->LoadMostUpdated(Cursor.SessionID);
  }
  ~TWriteLock() {
    if (FXIRW) FCursor.TableData->UnlockTable(FCursor.SessionID, ltXIRW, true);
    if (FRW) FCursor.TableData->UnlockTable(FCursor.SessionID, ltRW, true);
  }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;

 private:
  TSDBCursor& FCursor;
  bool FRW = false;
  bool FXIRW = false;
};

// Runs `body` over the cursor's table as one batch: outside a transaction
// under the write lock, with the changes committed at the end and the whole
// batch tried again when committing them fails; inside a transaction directly.
template <class F>
void RunBatch(TSDBExecConnection& Conn, TSDBTableCursor& Tc, int LockError, F&& body) {
  if (Conn.InTransaction()) {
    Tc.SetInTransaction(true);
    body();
    return;
  }
  for (int attempt = 1;; ++attempt) {
    TWriteLock lock(Tc.Cursor(), LockError);
    Tc.BeginBatchUpdate();
    try {
      body();
    } catch (...) {
      try {
        Tc.Cancel();
        Tc.EndBatchUpdate(false);
      } catch (...) {
      }
      throw;
    }
    try {
      Tc.EndBatchUpdate(true);
      return;
    } catch (const ESDBException&) {
      if (attempt >= kExecBatchRetries) throw;
    }
  }
}

TSDBTableOpenFunctions OpenerOf(TSDBExecConnection& Conn) {
  return {[&Conn](TSDBCursor& c, const std::string& n) { Conn.OpenTable(c, n); },
          [&Conn](TSDBCursor& c) { Conn.CloseTable(c); }};
}

// A table cursor for a statement, closed when the statement ends.
class TCursorGuard {
 public:
  TCursorGuard(TSDBExecConnection& Conn, const std::string& Name) : Tc(OpenerOf(Conn), Conn.SessionID()) {
    Tc.Open(Name);
    Tc.SetInTransaction(Conn.InTransaction());
  }
  ~TCursorGuard() {
    try {
      if (Tc.Active()) Tc.Close();
    } catch (...) {
    }
  }
  TCursorGuard(const TCursorGuard&) = delete;
  TCursorGuard& operator=(const TCursorGuard&) = delete;
  TSDBTableCursor Tc;
};

// Stores a value into a field of the record being edited (the cursor
// converts it to the field's type).
void SetField(TSDBTableCursor& tc, int f, const TSDBVariant& v) { tc.SetFieldValue(f, v); }

// Inserts one record; a failure cancels it.
template <class F>
void InsertOne(TSDBTableCursor& tc, F&& fill) {
  tc.Insert();
  try {
    fill();
    tc.Post();
  } catch (...) {
    tc.Cancel();
    throw;
  }
}

// The records an UPDATE or DELETE selects: its table filtered by its WHERE clause.
std::unique_ptr<TSDBAOTable> SelectTargetRows(TSDBSQLTableModifier& stmt, TSDBExecConnection& conn,
                                              TSDBExecContext& ctx) {
  auto op = std::make_unique<TSDBAOTable>(conn, stmt.TableName, stmt.FTablePseudonym);
  op->OpenOnce(ctx);
  if (stmt.SearchCondition && stmt.SearchCondition->Root()) {
    for (const TSDBExprNode* f : SDBSplitAndFactors(stmt.SearchCondition->Root())) {
      TSDBResultRowSource src(&op->FResult.Columns);
      if (!SDBCanBind(f, ctx.Sources({&src})))
        throw ESDBException(kExecErrSearchNotApplicable, "Search condition is not applicable");
      op->FFilterExpr.push_back(f);
    }
  }
  return op;
}

// The records an UPDATE or DELETE changes. Without a WHERE clause that is
// every record: their identifiers are taken from the table, under the
// statement's shared lock, without reading their values.
std::vector<TSDBPageItemID> TargetRecordIDs(TSDBAOTable& Op, TSDBExecContext& Ctx) {
  if (!Op.FFilterExpr.empty()) {
    Op.Execute(Ctx);
    return Op.FResult.RecordIDs;
  }
  TSDBCursor& c = Op.Cursor;
  if (!SDBExecLockTable(c, ltS, SDBExecLockWaits().QueryTries, SDBExecLockWaits().QueryDelayMs))
    throw ESDBException(kExecErrQueryLocked, "Table is locked");
  std::vector<TSDBPageItemID> ids;
  try {
    ids = c.TableData->GetRecordIDs(c.SessionID);
  } catch (...) {
    c.TableData->UnlockTable(c.SessionID, ltS, true);
    throw;
  }
  if (!c.TableData->UnlockTable(c.SessionID, ltS, true))
    throw ESDBException(kExecErrCannotUnlockAfter, "Cannot unlock table");
  return ids;
}

struct TAOCloser {
  TSDBAO* op;
  ~TAOCloser() {
    if (op) op->Close();
  }
};

void ExecInsert(TSDBSQLInsert& stmt, TSDBExecContext& ctx) {
  TSDBExecConnection& conn = ctx.ConnectionFor(stmt.DatabaseFileName, stmt.Password, stmt.IntoMemory);
  ctx.LastConnection = &conn;
  std::shared_ptr<TSDBResultSet> rs;
  if (stmt.InternalSelecter) {
    bool ro = true;
    rs = SDBRunQuery(*stmt.InternalSelecter, ctx, false, ro);
  }
  TCursorGuard target(conn, stmt.TableName);
  TSDBTableCursor& tc = target.Tc;
  TSDBDiskTableData& t = tc.Table();
  if (rs) {
    std::vector<int> fields;
    if (!stmt.FieldNames.empty()) {
      for (const auto& n : stmt.FieldNames) fields.push_back(FieldNoOrRaise(t, stmt.TableName, n));
    } else {
      for (int i = 0; i < t.FieldManager().FieldCount(); ++i) fields.push_back(i);
    }
    int64_t count = 0;
    RunBatch(conn, tc, kExecErrInsertLocked, [&] {
      count = 0;
      for (const auto& row : rs->Rows) {
        InsertOne(tc, [&] {
          for (size_t j = 0; j < row.size() && j < fields.size(); ++j) SetField(tc, fields[j], row[j]);
        });
        ++count;
      }
    });
    stmt.RowsAffected = count;
    return;
  }
  const int fieldCount = t.FieldManager().FieldCount();
  for (const auto& row : stmt.FieldValues) {
    InsertOne(tc, [&] {
      for (size_t j = 0; j < row.size(); ++j) {
        int f;
        if (!stmt.FieldNames.empty() && stmt.FieldNames.size() == row.size()) {
          f = FieldNoOrRaise(t, stmt.TableName, stmt.FieldNames[j]);
        } else {
          if (static_cast<int>(j) >= fieldCount)
            throw ESDBException(kSqlErrValueCount, "Number of field names does not equal the number of values");
          f = static_cast<int>(j);
        }
        TSDBEvaluator ev(*row[j], {}, &ctx);
        TSDBVariant v = ev.GetValue();
        if (v.DataType() == bftUnknown && !v.IsNull()) {
          const TSDBFieldDef& d = t.FieldManager().Field(f);
          throw ESDBException(kExecErrParamUndefined, "Parameter Value undefined (FieldName='%s', Type='%s')",
                              {d.FName, SDBBaseFieldTypeName(d.FBaseFieldType)});
        }
        SetField(tc, f, v);
      }
    });
    ++stmt.RowsAffected;
  }
}

// The record an UPDATE is changing, as its expressions see it: a column is
// read from the record's buffer when an expression asks for it, since most
// updates use few of a record's columns. The columns are the table's, in
// field order.
class TEditedRecordSource : public TSDBResultRowSource {
 public:
  TEditedRecordSource(const std::vector<TSDBResultColumn>* Columns, TSDBCursor& Cursor)
      : TSDBResultRowSource(Columns), FCursor(Cursor) {}
  TSDBVariant ColumnValue(int slot) const override {
    return SDBExecReadField(FCursor, FCursor.CurrentRecordBuffer, slot);
  }

 private:
  TSDBCursor& FCursor;
};

void ExecUpdate(TSDBSQLUpdate& stmt, TSDBExecContext& ctx) {
  TSDBExecConnection& conn = ctx.ConnectionFor(stmt.DatabaseFileName, stmt.Password, stmt.IntoMemory);
  ctx.LastConnection = &conn;
  std::unique_ptr<TSDBAOTable> inner = SelectTargetRows(stmt, conn, ctx);
  TAOCloser closeInner{inner.get()};
  const std::vector<TSDBPageItemID> ids = TargetRecordIDs(*inner, ctx);

  TCursorGuard second(conn, stmt.TableName);
  TSDBTableCursor& tc = second.Tc;
  TSDBDiskTableData& t = tc.Table();
  // Every value is computed from the record as it was before the update:
  // the edit changes another buffer than the one the source reads.
  TEditedRecordSource src(&inner->FResult.Columns, tc.Cursor());
  std::vector<int> fields;
  for (const auto& f : stmt.FieldNames) fields.push_back(FieldNoOrRaise(t, stmt.TableName, f.FieldName));
  std::vector<std::unique_ptr<TSDBEvaluator>> values;
  for (const auto& v : stmt.FieldValues) values.push_back(std::make_unique<TSDBEvaluator>(*v, ctx.Sources({&src}), &ctx));
  const TSDBExprNodeSubquery* rowSubquery = nullptr;
  if (stmt.IsFieldValuesSubquery && stmt.FieldValuesSubqueryExpr)
    rowSubquery = SDBExprAs<TSDBExprNodeSubquery>(stmt.FieldValuesSubqueryExpr->Root());

  int64_t count = 0;
  std::vector<TSDBVariant> newValues;
  RunBatch(conn, tc, kExecErrUpdateLocked, [&] {
    count = 0;
    for (const TSDBPageItemID& id : ids) {
      if (!tc.EditRecordID(id)) continue;  // removed meanwhile
      try {
        newValues.clear();
        if (rowSubquery) {
          TSDBSubqueryResult res;
          ctx.RunSubquery(*rowSubquery->Query, src, 2, res);
          if (res.Rows.size() > 1) throw ESDBException(kEvalErrSubqueryRows, "Subquery returns more than one row");
          for (size_t k = 0; k < fields.size(); ++k)
            newValues.push_back(res.Rows.empty() || k >= res.Rows[0].size() ? TSDBVariant() : res.Rows[0][k]);
        } else {
          for (auto& e : values) newValues.push_back(e->GetValue());
        }
        for (size_t k = 0; k < fields.size() && k < newValues.size(); ++k) SetField(tc, fields[k], newValues[k]);
        tc.Post();
      } catch (...) {
        tc.Cancel();
        throw;
      }
      ++count;
    }
  });
  stmt.RowsAffected = count;
}

void ExecDelete(TSDBSQLDelete& stmt, TSDBExecContext& ctx) {
  TSDBExecConnection& conn = ctx.ConnectionFor(stmt.DatabaseFileName, stmt.Password, stmt.IntoMemory);
  std::unique_ptr<TSDBAOTable> inner = SelectTargetRows(stmt, conn, ctx);
  TAOCloser closeInner{inner.get()};
  const std::vector<TSDBPageItemID> ids = TargetRecordIDs(*inner, ctx);
  TCursorGuard second(conn, stmt.TableName);
  TSDBTableCursor& tc = second.Tc;
  int64_t count = 0;
  RunBatch(conn, tc, kExecErrUpdateLocked, [&] {
    count = 0;
    for (const TSDBPageItemID& id : ids) {
      if (!tc.GotoRecordID(id)) continue;
      tc.Delete();
      ++count;
    }
  });
  stmt.RowsAffected = count;
}

// ---- Data definition ---------------------------------------------------------------------------

TSDBExecConnection& DDLConnection(TSDBExecContext& ctx, const TSDBDDLTableName& t) {
  return ctx.ConnectionFor(t.DatabaseFileName, t.Password, t.InMemory);
}

// Whether the expression is a value known now: literals and arithmetic on
// them. Anything else (CURRENT_TIMESTAMP, NOW, RAND...) is worked out at
// each insert.
bool IsConstantExpression(const TSDBExprNode& n) {
  if (SDBExprAs<TSDBExprNodeConst>(&n)) return true;
  if (!SDBExprAs<TSDBExprNodeArithmetic>(&n) || n.Children.empty()) return false;
  return std::all_of(n.Children.begin(), n.Children.end(), [](const auto& c) { return IsConstantExpression(*c); });
}

std::unique_ptr<TSDBFieldDef> FieldDefFrom(const TSDBColumnDef& col, TSDBExecContext& ctx) {
  auto d = std::make_unique<TSDBFieldDef>(col.Name, col.AdvancedType, col.Size);
  // Only a field that holds no text can keep an expression: the stored
  // default of a text field reads back as a constant.
  if (col.DefaultValue && col.DefaultValue->Root() && !col.DefaultText.empty() &&
      !IsConstantExpression(*col.DefaultValue->Root()) && !SDBIsStringFieldType(d->FBaseFieldType) &&
      !d->IsBlob()) {
    SDBEvaluateDefaultText(col.DefaultText);  // an expression that cannot be evaluated is refused now
    d->FDefaultValueExpr = col.DefaultText;
  } else if (col.DefaultValue && col.DefaultValue->Root()) {
    TSDBEvaluator ev(*col.DefaultValue, {}, &ctx);
    TSDBVariant v = ev.GetValue();
    if (!v.IsNull()) d->FDefaultValue = SDBColumnValue(v, d->FBaseFieldType, col.Name);
  }
  if (col.BlobBlockSize >= 0) d->FBLOBBlockSize = col.BlobBlockSize;
  if (!col.BlobCompressionAlgorithm.empty()) {
    const std::string a = SDBUpperName(col.BlobCompressionAlgorithm);
    d->FBLOBCompressionAlgorithm = a == "ZLIB" ? acaZLIB : a == "BZIP" ? acaBZIP : a == "PPM" ? acaPPM : acaNone;
    if (d->FBLOBCompressionAlgorithm != acaNone && col.BlobCompressionMode < 0) d->FBLOBCompressionMode = 5;
  }
  if (col.BlobCompressionMode >= 0) d->FBLOBCompressionMode = static_cast<uint8_t>(col.BlobCompressionMode);
  if (col.HasIncrement) d->FAutoincIncrement = col.AutoincIncrement;
  if (col.HasInitialValue) d->FAutoincInitialValue = col.AutoincInitialValue;
  if (col.HasMinValue) d->FAutoincMinValue = col.AutoincMinValue;
  if (col.HasMaxValue) d->FAutoincMaxValue = col.AutoincMaxValue;
  d->FAutoincCycled = col.AutoincCycled;
  return d;
}

void AddUniqueIndex(TSDBIndexDefs& idx, TSDBConstraintDefs& cons, const std::string& table,
                    const std::vector<std::string>& cols, bool primary) {
  if (cols.empty()) return;
  for (int i = 0; i < idx.Count(); ++i) {
    if (idx[i].FColumns.size() != cols.size()) continue;
    bool same = true;
    for (size_t k = 0; k < cols.size(); ++k) same = same && SDBUpperName(idx[i].FColumns[k].FFieldName) == SDBUpperName(cols[k]);
    if (same) {
      idx[i].FPrimary = idx[i].FPrimary || primary;
      return;
    }
  }
  auto& d = idx.Emplace();
  d.FName = (primary ? "PK_" : "UNIQUE_") + table + (primary ? "" : "_" + std::to_string(idx.Count()));
  d.FUnique = true;
  d.FPrimary = primary;
  for (const auto& c : cols) d.FColumns.push_back(TSDBIndexColumn{c, false, false, 20});
  std::unique_ptr<TSDBConstraintDefUnique> con;
  if (primary)
    con = std::make_unique<TSDBConstraintDefPrimary>();
  else
    con = std::make_unique<TSDBConstraintDefUnique>();
  con->FName = d.FName;
  con->FIndexName = d.FName;
  con->FTableName = table;
  for (const auto& c : cols) con->FColumns.push_back(TSDBConstraintColumn{-1, c});
  cons.Add(std::move(con));
}

void ExecCreateTable(TSDBDDLCreateTable& stmt, TSDBExecContext& ctx) {
  TSDBExecConnection& conn = DDLConnection(ctx, stmt.Table);
  if (stmt.IfNotExists && conn.TableExists(stmt.Table.TableName)) return;
  TSDBFieldDefs fields;
  TSDBConstraintDefs cons;
  TSDBIndexDefs idx;
  std::vector<std::string> pk = stmt.PrimaryKeyFields;
  for (const auto& col : stmt.Columns) {
    fields.Add(FieldDefFrom(col, ctx));
    if (col.PrimaryKey && std::none_of(pk.begin(), pk.end(), [&](const std::string& n) {
          return SDBUpperName(n) == SDBUpperName(col.Name);
        }))
      pk.push_back(col.Name);
  }
  for (const auto& col : stmt.Columns) {
    if (col.NotNull || col.PrimaryKey) {
      auto nn = std::make_unique<TSDBConstraintDefNotNull>();
      nn->FName = "NN_" + stmt.Table.TableName + "_" + col.Name;
      nn->FColumnName = col.Name;
      nn->FTableName = stmt.Table.TableName;
      cons.Add(std::move(nn));
    }
  }
  AddUniqueIndex(idx, cons, stmt.Table.TableName, pk, true);
  for (const auto& col : stmt.Columns)
    if (col.Unique) AddUniqueIndex(idx, cons, stmt.Table.TableName, {col.Name}, false);
  for (const auto& u : stmt.UniqueFields) AddUniqueIndex(idx, cons, stmt.Table.TableName, u, false);
  conn.CreateTable(stmt.Table.TableName, std::move(fields), std::move(cons), std::move(idx));
}

void ExecDropTable(TSDBDDLDropTable& stmt, TSDBExecContext& ctx) {
  TSDBExecConnection& conn = DDLConnection(ctx, stmt.Table);
  if (stmt.IfExists && !conn.TableExists(stmt.Table.TableName)) return;
  conn.DeleteTable(stmt.Table.TableName);
}

// A copy of a constraint of another table: the identifiers of that table's
// objects are cleared, so the new table finds its columns and index by name.
std::unique_ptr<TSDBConstraintDef> CopyConstraint(const TSDBConstraintDef& c) {
  TSDBMetaWriter w;
  c.SaveToStream(w);
  std::unique_ptr<TSDBConstraintDef> copy = TSDBConstraintDef::Create(c.ConstraintType());
  TSDBMetaReader r(w.Data());
  copy->LoadFromStream(r);
  copy->FObjectID = -1;
  copy->FTableObjectID = -1;
  if (auto* n = dynamic_cast<TSDBConstraintDefNotNull*>(copy.get())) n->FColumnObjectID = -1;
  if (auto* u = dynamic_cast<TSDBConstraintDefUnique*>(copy.get())) {
    u->FIndexObjectID = -1;
    for (auto& col : u->FColumns) col.ColumnObjectID = -1;
  }
  return copy;
}

bool SameName(const std::string& a, const std::string& b) { return SDBUpperName(a) == SDBUpperName(b); }

// Whether the constraint concerns the column.
bool ConstraintNames(const TSDBConstraintDef& c, const std::string& column) {
  if (const auto* n = dynamic_cast<const TSDBConstraintDefNotNull*>(&c)) return SameName(n->FColumnName, column);
  if (const auto* u = dynamic_cast<const TSDBConstraintDefUnique*>(&c))
    return std::any_of(u->FColumns.begin(), u->FColumns.end(),
                       [&](const TSDBConstraintColumn& k) { return SameName(k.ColumnName, column); });
  return false;
}

void RaiseUnknownColumn(const std::string& name) {
  throw ESDBException(kEvalErrUnknownColumn, "Unknown column '%s' at line %d, column %d",
                      {name, int64_t{0}, int64_t{0}});
}

// The constraints and indexes a declared column brings (ADD, MODIFY).
void AddColumnConstraints(const TSDBColumnDef& col, const std::string& table, TSDBConstraintDefs& cons,
                          TSDBIndexDefs& idx) {
  if (col.NotNull || col.PrimaryKey) {
    auto nn = std::make_unique<TSDBConstraintDefNotNull>();
    nn->FName = "NN_" + table + "_" + col.Name;
    nn->FColumnName = col.Name;
    nn->FTableName = table;
    cons.Add(std::move(nn));
  }
  if (col.PrimaryKey) {
    // A table has one primary key: declaring it on another column while
    // one exists would leave two.
    for (int i = 0; i < idx.Count(); ++i) {
      const TSDBIndexDef& d = idx[i];
      if (!d.FPrimary || (d.FColumns.size() == 1 && SameName(d.FColumns[0].FFieldName, col.Name))) continue;
      std::string columns;
      for (const auto& c : d.FColumns) columns += (columns.empty() ? "" : ", ") + c.FFieldName;
      throw ESDBException(kExecErrSecondPrimaryKey,
                          "Table '%s' already has a primary key (%s): column '%s' cannot become another one",
                          {table, columns, col.Name});
    }
    AddUniqueIndex(idx, cons, table, {col.Name}, true);
  }
  if (col.Unique) AddUniqueIndex(idx, cons, table, {col.Name}, false);
}

// ALTER TABLE rebuilds the table: a new table with the changed columns and
// every definition the statement leaves alone (constraints, defaults, BLOB
// and auto-increment settings, indexes) receives the records (columns
// matched by name) and takes the old table's place, all in one commit, so
// a failure or a killed process at any point leaves the table as it was.
void ExecAlterTable(TSDBDDLAlterTable& stmt, TSDBExecContext& ctx) {
  TSDBExecConnection& conn = DDLConnection(ctx, stmt.Table);
  const std::string name = stmt.Table.TableName;
  TSDBFieldDefs fields;
  TSDBConstraintDefs cons;
  TSDBIndexDefs idx;
  std::vector<std::string> sourceNames;  // per new field: the old column it takes its values from
  {
    TTableGuard old(conn, name);
    TSDBBaseFieldManager& fm = old.Data().FieldManager();
    for (int i = 0; i < fm.FieldCount(); ++i) {
      auto copy = std::make_unique<TSDBFieldDef>(fm.Field(i));
      copy->FObjectID = -1;
      fields.Add(std::move(copy));
      sourceNames.push_back(fm.Field(i).FName);
    }
    for (int i = 0; i < old.Data().IndexDefs().Count(); ++i) {
      const TSDBIndexDef& d = old.Data().IndexDefs()[i];
      if (d.FTemporary) continue;
      auto& n = idx.Emplace();
      n.FName = d.FName;
      n.FUnique = d.FUnique;
      n.FPrimary = d.FPrimary;
      n.FColumns = d.FColumns;
    }
    for (int i = 0; i < old.Data().ConstraintDefs().Count(); ++i)
      cons.Add(CopyConstraint(old.Data().ConstraintDefs()[i]));
  }
  auto dropConstraints = [&](const std::string& column, bool onlyNotNull) {
    for (int i = cons.Count() - 1; i >= 0; --i)
      if (ConstraintNames(cons[i], column) && (!onlyNotNull || cons[i].ConstraintType() == ctNotNull)) cons.Delete(i);
  };
  for (const auto& a : stmt.Actions) {
    switch (a.ActionType) {
      case aatAdd:
        fields.Add(FieldDefFrom(a.Column, ctx));
        sourceNames.emplace_back();
        AddColumnConstraints(a.Column, name, cons, idx);
        break;
      case aatDrop: {
        int f = fields.IndexOfName(a.FieldName);
        if (f < 0) RaiseUnknownColumn(a.FieldName);
        fields.Delete(f);
        sourceNames.erase(sourceNames.begin() + f);
        for (int i = idx.Count() - 1; i >= 0; --i)
          for (const auto& c : idx[i].FColumns)
            if (SameName(c.FFieldName, a.FieldName)) {
              idx.Delete(i);
              break;
            }
        dropConstraints(a.FieldName, false);
        break;
      }
      case aatModify: {
        int f = fields.IndexOfName(a.Column.Name);
        if (f < 0) RaiseUnknownColumn(a.Column.Name);
        // The column keeps its place; its declaration says afresh whether
        // it may be null (its other constraints stay).
        TSDBFieldDefs rebuilt;
        for (int i = 0; i < fields.Count(); ++i) {
          if (i == f) {
            rebuilt.Add(FieldDefFrom(a.Column, ctx));
            continue;
          }
          rebuilt.Add(std::make_unique<TSDBFieldDef>(fields[i]));
        }
        fields = std::move(rebuilt);
        dropConstraints(a.Column.Name, true);
        AddColumnConstraints(a.Column, name, cons, idx);
        break;
      }
      case aatRename: {
        int f = fields.IndexOfName(a.FieldName);
        if (f < 0) RaiseUnknownColumn(a.FieldName);
        fields[f].FName = a.NewName;
        for (int i = 0; i < idx.Count(); ++i)
          for (auto& c : idx[i].FColumns)
            if (SameName(c.FFieldName, a.FieldName)) c.FFieldName = a.NewName;
        for (int i = 0; i < cons.Count(); ++i) {
          if (auto* n = dynamic_cast<TSDBConstraintDefNotNull*>(&cons[i])) {
            if (SameName(n->FColumnName, a.FieldName)) n->FColumnName = a.NewName;
          } else if (auto* u = dynamic_cast<TSDBConstraintDefUnique*>(&cons[i])) {
            for (auto& c : u->FColumns)
              if (SameName(c.ColumnName, a.FieldName)) c.ColumnName = a.NewName;
          }
        }
        break;
      }
    }
  }
  // Records are copied with the columns matched by name; the constraints
  // of the new definition (NOT NULL of an added or modified column) refuse
  // a record that breaks them, and with it the whole statement.
  const TSDBTableFill fill = [&](TSDBCursor& oc, TSDBCursor& tc) {
    TSDBDiskTableData& from = *oc.TableData;
    TSDBDiskTableData& to = *tc.TableData;
    std::vector<int> source;
    for (const auto& s : sourceNames) source.push_back(s.empty() ? -1 : from.FieldManager().FieldNo(s));
    oc.FirstPosition = true;
    oc.LastPosition = false;
    oc.CurrentRecordID = {};
    for (;;) {
      TSDBGetRecordResult r = from.GetRecordBuffer(oc, grmNext);
      if (r == grrError) throw ESDBEngineError::Make(kSDBRecErrTableLocked);
      if (r != grrOK) break;
      tc.EditRecordBuffer = to.NewRecordBuffer();
      for (size_t i = 0; i < source.size(); ++i)
        if (source[i] >= 0)
          SDBExecWriteField(tc, tc.EditRecordBuffer, static_cast<int>(i),
                            SDBExecReadField(oc, oc.CurrentRecordBuffer, source[i]));
      if (!to.InsertRecord(tc)) throw ESDBEngineError::Make(kSDBRecErrAdd);
    }
    // An auto-increment column goes on from where the old table was, not
    // from its highest remaining value: numbers of deleted records stay used.
    TSDBBaseFieldManager& nf = to.FieldManager();
    TSDBBaseFieldManager& of = from.FieldManager();
    for (size_t i = 0; i < source.size(); ++i) {
      const int n = static_cast<int>(i);
      if (source[i] < 0 || !nf.Field(n).IsAutoInc() || !of.Field(source[i]).IsAutoInc()) continue;
      if (of.GetLastAutoinc(source[i]) > nf.GetLastAutoinc(n)) nf.UpdateLastAutoinc(n, of.GetLastAutoinc(source[i]));
    }
  };
  conn.RebuildTable(name, std::move(fields), std::move(cons), std::move(idx), fill);
}

void ExecCommand(TSDBSQLCommand& cmd, TSDBExecContext& ctx, bool requestLive, bool& readOnly,
                 std::shared_ptr<TSDBResultSet>& result, std::unique_ptr<TSDBAO>* plan) {
  result.reset();
  if (auto* q = dynamic_cast<TSDBSQLUnion*>(&cmd)) {
    // A SELECT changes no table while it runs (SELECT INTO writes its new
    // table at the end): its subqueries may keep the rows they read.
    ctx.RowsCache = std::make_shared<TSDBTableRowsCache>();
    try {
      result = SDBRunQuery(*q, ctx, requestLive, readOnly, plan);
    } catch (...) {
      ctx.RowsCache.reset();
      throw;
    }
    ctx.RowsCache.reset();
    cmd.RowsAffected = 0;
    return;
  }
  readOnly = true;
  if (auto* s = dynamic_cast<TSDBSQLInsert*>(&cmd)) return ExecInsert(*s, ctx);
  if (auto* s = dynamic_cast<TSDBSQLUpdate*>(&cmd)) return ExecUpdate(*s, ctx);
  if (auto* s = dynamic_cast<TSDBSQLDelete*>(&cmd)) return ExecDelete(*s, ctx);
  if (auto* s = dynamic_cast<TSDBDDLCreateTable*>(&cmd)) return ExecCreateTable(*s, ctx);
  if (auto* s = dynamic_cast<TSDBDDLDropTable*>(&cmd)) return ExecDropTable(*s, ctx);
  if (auto* s = dynamic_cast<TSDBDDLAlterTable*>(&cmd)) return ExecAlterTable(*s, ctx);
  if (auto* s = dynamic_cast<TSDBDDLRenameTable*>(&cmd)) {
    DDLConnection(ctx, s->Table).RenameTable(s->Table.TableName, s->NewTableName);
    return;
  }
  if (auto* s = dynamic_cast<TSDBDDLTruncateTable*>(&cmd)) {
    DDLConnection(ctx, s->Table).EmptyTable(s->Table.TableName);
    return;
  }
  if (auto* s = dynamic_cast<TSDBDDLCreateIndex*>(&cmd)) {
    TTableGuard t(DDLConnection(ctx, s->Table), s->Table.TableName);
    if (t.Data().IndexDefs().IndexOfName(s->IndexName) >= 0 && s->IfNotExists) return;
    TSDBIndexDef def;
    def.FName = s->IndexName;
    def.FUnique = s->Unique;
    for (const auto& c : s->Columns) {
      FieldNoOrRaise(t.Data(), s->Table.TableName, c.FieldName);
      def.FColumns.push_back(TSDBIndexColumn{c.FieldName, c.Descending, c.CaseInsensitive, 20});
    }
    t.Data().AddIndex(t.Cursor, def);
    return;
  }
  if (auto* s = dynamic_cast<TSDBDDLDropIndex*>(&cmd)) {
    TTableGuard t(DDLConnection(ctx, s->Table), s->Table.TableName);
    if (t.Data().IndexDefs().IndexOfName(s->IndexName) < 0 && s->IfExists) return;
    t.Data().DeleteIndex(t.Cursor, s->IndexName);
    return;
  }
  if (dynamic_cast<TSDBSQLStartTransaction*>(&cmd)) {
    ctx.Host->Connection({}, {}).StartTransaction();
    return;
  }
  if (auto* s = dynamic_cast<TSDBSQLCommit*>(&cmd)) {
    ctx.Host->Connection({}, {}).Commit(s->Flush);
    return;
  }
  if (dynamic_cast<TSDBSQLRollback*>(&cmd)) {
    ctx.Host->Connection({}, {}).Rollback();
    return;
  }
  throw ESDBException(kSqlErrUnknownStatement, "Statement '%s' cannot be executed", {cmd.ClassName()});
}

}  // namespace

TSDBSQLProcessor::TSDBSQLProcessor(TSDBExecHost* Host, bool RequestLive, bool InMemory)
    : FRequestLive(RequestLive), FInMemory(InMemory), FHost(Host) {}

TSDBSQLProcessor::~TSDBSQLProcessor() = default;

std::shared_ptr<TSDBResultSet> TSDBSQLProcessor::OpenQuery(TSDBSQLParams Params) {
  FRowsAffected = 0;
  Queries = nullptr;
  FParsed.reset();
  FSQLParams = std::move(Params);
  TSDBStatementCache& cache = TSDBStatementCache::Shared();
  const bool keep = FSqlText.size() <= TSDBStatementCache::kMaxTextSize;
  std::string key = keep ? TSDBStatementCache::KeyOf(FSqlText, FRequestLive, FInMemory) : std::string();
  if (keep) {
    if (std::unique_ptr<TSDBParsedText> kept = cache.Take(key)) {
      bool bound = false;
      try {
        bound = kept->Bind(FSQLParams);
      } catch (...) {
        cache.Put(std::move(kept));
        throw;
      }
      if (bound) {
        // The kept statements go back to the cache whatever their run gives.
        struct TGiveBack {
          TSDBStatementCache& Cache;
          std::unique_ptr<TSDBParsedText>& Text;
          TSDBSQLCommand*& Running;
          ~TGiveBack() {
            Running = nullptr;
            try {
              Cache.Put(std::move(Text));
            } catch (...) {  // out of memory: the parse is simply not kept
            }
          }
        } giveBack{cache, kept, Queries};
        std::shared_ptr<TSDBResultSet> last;
        for (size_t i = 0; i < kept->Commands.size(); ++i) {
          TSDBSQLCommand& cmd = *kept->Commands[i];
          last.reset();
          cmd.RowsAffected = 0;
          Queries = &cmd;
          RunCommand(cmd, last, &kept->PlanOf(i));
        }
        return last;
      }
    }
  }
  // Cut and parse the text, each statement just before it runs (a later
  // statement's syntax error comes after the earlier ones have run).
  FParsed = std::make_unique<TSDBParsedText>(std::move(key));
  FParsed->Lex = std::make_unique<TSDBLexer>(FSqlText, false, &FSQLParams);
  FParsed->Lex->ParamNodes = &FParsed->ParamNodes;
  std::shared_ptr<TSDBResultSet> last;
  while (FParsed->Lex->GetNextCommand()) {
    last.reset();
    FParsed->Commands.push_back(SDBCreateSQLCommand(*FParsed->Lex, nullptr));
    Queries = FParsed->Commands.back().get();
    RunCommand(*Queries, last, keep ? &FParsed->PlanOf(FParsed->Commands.size() - 1) : nullptr);
  }
  if (FParsed->Complete() && keep) {
    Queries = nullptr;
    cache.Put(std::move(FParsed));
  }
  return last;
}

void TSDBSQLProcessor::RunCommand(TSDBSQLCommand& Cmd, std::shared_ptr<TSDBResultSet>& Result,
                                  std::unique_ptr<TSDBAO>* Plan) {
  TSDBExecContext ctx(FHost);
  bool readOnly = true;
  try {
    ExecCommand(Cmd, ctx, FRequestLive, readOnly, Result, Plan);
  } catch (...) {
    FRowsAffected += Cmd.RowsAffected;
    throw;
  }
  FReadOnly = readOnly;
  FRowsAffected += Cmd.RowsAffected;
}

void TSDBSQLProcessor::ExecuteQuery(TSDBSQLParams Params) { OpenQuery(std::move(Params)); }

std::string TSDBSQLProcessor::Plan(const TSDBSQLParams& Params) {
  FSQLParams = Params;
  TSDBLexer lex(FSqlText, false, &FSQLParams);
  std::string out;
  while (lex.GetNextCommand()) {
    std::unique_ptr<TSDBSQLCommand> cmd = SDBCreateSQLCommand(lex, nullptr);
    TSDBExecContext ctx(FHost);
    std::unique_ptr<TSDBAO> root;
    struct Closer {
      std::unique_ptr<TSDBAO>& r;
      ~Closer() {
        if (r) r->Close();
      }
    } closer{root};
    if (auto* q = dynamic_cast<TSDBSQLUnion*>(cmd.get())) {
      root = SDBBuildAOTree(*q, ctx);
    } else if (auto* m = dynamic_cast<TSDBSQLTableModifier*>(cmd.get())) {
      out += std::string(cmd->ClassName()) + " " + m->TableName + "\n";
      root = SelectTargetRows(*m, ctx.ConnectionFor(m->DatabaseFileName, m->Password, m->IntoMemory), ctx);
    } else {
      out += std::string(cmd->ClassName()) + "\n";
      continue;
    }
    // Index choice of every table of the tree.
    std::vector<TSDBAO*> stack{root.get()};
    while (!stack.empty()) {
      TSDBAO* op = stack.back();
      stack.pop_back();
      if (auto* t = dynamic_cast<TSDBAOTable*>(op)) t->ChooseIndex();
      for (auto& c : op->Children) stack.push_back(c.get());
    }
    root->Dump(out, 0);
  }
  return out;
}

}  // namespace sdb
