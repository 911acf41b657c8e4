// The table component's definitions: FieldDefs and IndexDefs read from a
// table and turned into the engine's definitions to create one, and the
// table-level operations (indexes, empty, delete, rename).
#include <memory>

#include "sdb/SDBComponents.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBTableDefs.h"
#include "sdb/SDBText.h"
#include "components/SDBConnection.h"
#include "common/SDBNames.h"
#include "sql/SDBSQLProcessor.h"
#include "storage/table/SDBFieldDef.h"
#include "storage/table/SDBTableCursor.h"

namespace sdb {

static_assert(bcNone == static_cast<int>(acaNone) && bcZLIB == static_cast<int>(acaZLIB) &&
                  bcBZIP == static_cast<int>(acaBZIP) && bcPPM == static_cast<int>(acaPPM),
              "the public compression values name the stored ones");

// ---- Lists --------------------------------------------------------------------------------------

template <class T>
int TSDBTableDefList<T>::IndexOf(const std::string& Name) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (SDBSameName(FItems[i].Name, Name)) return static_cast<int>(i);
  return -1;
}

template class TSDBTableDefList<TSDBTableFieldDef>;
template class TSDBTableDefList<TSDBTableIndexDef>;

TSDBTableFieldDef& TSDBTableFieldDefs::Add(const std::string& Name, TSDBAdvancedFieldType DataType, int32_t Size,
                                           bool Required) {
  TSDBTableFieldDef d;
  d.Name = Name;
  d.DataType = DataType;
  d.Size = Size;
  d.Required = Required;
  return Add(std::move(d));
}

TSDBTableIndexDef& TSDBTableIndexDefs::Add(const std::string& Name, const std::string& Fields, uint8_t Options) {
  TSDBTableIndexDef d;
  d.Name = Name;
  d.Fields = Fields;
  d.Options = Options;
  return Add(std::move(d));
}

namespace {

// ---- Engine definitions -> component definitions ----------------------------------------------------

std::string JoinNames(const std::vector<std::string>& Names) {
  std::string out;
  for (const std::string& n : Names) out += (out.empty() ? "" : ";") + n;
  return out;
}

bool Listed(const std::vector<std::string>& Names, const std::string& Name) {
  for (const std::string& n : Names)
    if (SDBSameName(n, Name)) return true;
  return false;
}

bool IsRequired(const TSDBConstraintDefs& Constraints, const std::string& Field) {
  for (int i = 0; i < Constraints.Count(); ++i)
    if (Constraints[i].ConstraintType() == ctNotNull &&
        SDBSameName(static_cast<const TSDBConstraintDefNotNull&>(Constraints[i]).FColumnName, Field))
      return true;
  return false;
}

TSDBTableFieldDef FieldDefOf(const TSDBFieldDef& f, const TSDBConstraintDefs& Constraints) {
  TSDBTableFieldDef d;
  d.Name = f.FName;
  d.DataType = f.FAdvancedFieldType;
  const bool sized = SDBIsStringFieldType(f.FBaseFieldType) || f.FBaseFieldType == bftBytes ||
                     f.FBaseFieldType == bftVarBytes;
  d.Size = sized ? f.FFieldSize : 0;
  d.Required = IsRequired(Constraints, f.FName);
  // Texts reach the caller as UTF-8, whatever the column stores.
  if (!f.FDefaultValue.IsNull())
    d.DefaultValue = SDBIsTextType(f.FDefaultValue.DataType()) ? SDBTextValue(SDBValueUtf8(f.FDefaultValue))
                                                               : f.FDefaultValue;
  d.DefaultExpression = f.FDefaultValueExpr;
  d.BlobCompression = static_cast<TSDBBlobCompression>(f.FBLOBCompressionAlgorithm);
  d.BlobCompressionMode = f.FBLOBCompressionMode;
  d.BlobBlockSize = f.FBLOBBlockSize;
  d.AutoincIncrement = f.FAutoincIncrement;
  d.AutoincInitialValue = f.FAutoincInitialValue;
  d.AutoincMinValue = f.FAutoincMinValue;
  d.AutoincMaxValue = f.FAutoincMaxValue;
  d.AutoincCycled = f.FAutoincCycled;
  return d;
}

TSDBTableIndexDef IndexDefOf(const TSDBIndexDef& ix) {
  TSDBTableIndexDef d;
  d.Name = ix.FName;
  std::vector<std::string> all, desc, caseIns;
  for (const TSDBIndexColumn& c : ix.FColumns) {
    all.push_back(c.FFieldName);
    if (c.FDescending) desc.push_back(c.FFieldName);
    if (c.FCaseInsensitive) caseIns.push_back(c.FFieldName);
  }
  d.Fields = JoinNames(all);
  if (ix.FPrimary) d.Options |= ixPrimary;
  if (ix.FUnique) d.Options |= ixUnique;
  // "Every field" reads as the option, a part as the field list.
  if (!all.empty() && desc.size() == all.size())
    d.Options |= ixDescending;
  else
    d.DescFields = JoinNames(desc);
  if (!all.empty() && caseIns.size() == all.size())
    d.Options |= ixCaseInsensitive;
  else
    d.CaseInsFields = JoinNames(caseIns);
  return d;
}

void FillDefs(TSDBDiskTableData& Table, TSDBTableFieldDefs& Fields, TSDBTableIndexDefs& Indexes) {
  TSDBTableFieldDefs fields;
  TSDBTableIndexDefs indexes;
  const TSDBFieldDefs& defs = Table.FieldManager().FFieldDefs;
  for (int i = 0; i < defs.Count(); ++i) fields.Add(FieldDefOf(defs[i], Table.ConstraintDefs()));
  for (int i = 0; i < Table.IndexDefs().Count(); ++i)
    if (!Table.IndexDefs()[i].FTemporary) indexes.Add(IndexDefOf(Table.IndexDefs()[i]));
  Fields = std::move(fields);
  Indexes = std::move(indexes);
}

// ---- Component definitions -> engine definitions ----------------------------------------------------

// The engine's index definition of a component one; every field must be
// one of the table's (Has answers whether it is).
template <class HasField>
TSDBIndexDef EngineIndexDef(const TSDBTableIndexDef& d, const HasField& Has) {
  if (d.Name.empty()) throw ESDBException(kSDBErrNewIndexName, "Index name missing");
  const std::vector<std::string> fields = SDBSplitNames(d.Fields);
  if (fields.empty()) throw ESDBException(kSDBErrNewIndexNoFields, "Index '%s' has no fields", {d.Name});
  for (const std::vector<std::string>& part : {SDBSplitNames(d.DescFields), SDBSplitNames(d.CaseInsFields)})
    for (const std::string& n : part)
      if (!Listed(fields, n))
        throw ESDBException(kSDBErrNewIndexField, "Index '%s' names the field '%s', which it does not index",
                            {d.Name, n});
  TSDBIndexDef ix;
  ix.FName = d.Name;
  ix.FPrimary = d.Primary();
  ix.FUnique = d.Unique();
  const std::vector<std::string> desc = SDBSplitNames(d.DescFields), caseIns = SDBSplitNames(d.CaseInsFields);
  for (const std::string& n : fields) {
    if (!Has(n)) throw ESDBException(kSDBErrNewIndexField, "Index '%s' names the unknown field '%s'", {d.Name, n});
    TSDBIndexColumn c;
    c.FFieldName = n;
    c.FDescending = (d.Options & ixDescending) != 0 || Listed(desc, n);
    c.FCaseInsensitive = (d.Options & ixCaseInsensitive) != 0 || Listed(caseIns, n);
    ix.FColumns.push_back(std::move(c));
  }
  return ix;
}

std::unique_ptr<TSDBFieldDef> EngineFieldDef(const TSDBTableFieldDef& d, int Position) {
  if (d.Name.empty())
    throw ESDBException(kSDBErrNewFieldName, "Field name missing (field %d)", {int64_t{Position + 1}});
  if (d.DataType == aftUnknown || static_cast<int>(d.DataType) >= kSDBAdvancedFieldTypeCount)
    throw ESDBException(kSDBErrNewFieldType, "Field '%s' has no known data type (%d)",
                        {d.Name, int64_t{static_cast<int>(d.DataType)}});
  const TSDBBaseFieldType base = d.BaseType();
  const bool sized = SDBIsStringFieldType(base) || base == bftBytes || base == bftVarBytes;
  if (sized && d.DataType != aftGuid && d.Size <= 0)
    throw ESDBException(kSDBErrNewFieldSize, "Field '%s' needs a size", {d.Name});
  auto f = std::make_unique<TSDBFieldDef>(d.Name, d.DataType, sized ? d.Size : 0);
  if (!d.DefaultExpression.empty()) {
    SDBEvaluateDefaultText(d.DefaultExpression);  // an expression that cannot be worked out is refused now
    f->FDefaultValueExpr = d.DefaultExpression;
  } else if (!d.DefaultValue.IsNull()) {
    f->FDefaultValue = SDBColumnValue(d.DefaultValue, base, d.Name);
  }
  f->FBLOBCompressionAlgorithm = static_cast<TSDBCompressionAlgorithm>(d.BlobCompression);
  f->FBLOBCompressionMode = d.BlobCompressionMode;
  f->FBLOBBlockSize = d.BlobBlockSize;
  f->FAutoincIncrement = d.AutoincIncrement;
  f->FAutoincInitialValue = d.AutoincInitialValue;
  f->FAutoincMinValue = d.AutoincMinValue;
  f->FAutoincMaxValue = d.AutoincMaxValue;
  f->FAutoincCycled = d.AutoincCycled;
  return f;
}

void AddNotNull(TSDBConstraintDefs& Constraints, const std::string& Table, const std::string& Field) {
  if (IsRequired(Constraints, Field)) return;
  auto nn = std::make_unique<TSDBConstraintDefNotNull>();
  nn->FName = "NN_" + Table + "_" + Field;
  nn->FColumnName = Field;
  nn->FTableName = Table;
  Constraints.Add(std::move(nn));
}

void AddUniqueConstraint(TSDBConstraintDefs& Constraints, const std::string& Table, const TSDBIndexDef& Index) {
  std::unique_ptr<TSDBConstraintDefUnique> con;
  if (Index.FPrimary)
    con = std::make_unique<TSDBConstraintDefPrimary>();
  else
    con = std::make_unique<TSDBConstraintDefUnique>();
  con->FName = Index.FName;
  con->FIndexName = Index.FName;
  con->FTableName = Table;
  for (const TSDBIndexColumn& c : Index.FColumns) con->FColumns.push_back(TSDBConstraintColumn{-1, c.FFieldName});
  Constraints.Add(std::move(con));
}

}  // namespace

// ---- Table component -------------------------------------------------------------------------------

void TSDBTable::CheckInactive() const {
  if (Active()) throw ESDBException(kSDBErrDataSetOpen, "Cannot perform this operation on an open dataset");
}

void TSDBTable::WithDatabase(const std::function<void(TSDBDatabase&)>& Op) {
  if (TableName.empty()) throw ESDBException(kSDBErrTableNameMissing, "Table name missing");
  SetUseFlag(ufExecuting);
  try {
    Op(*FDatabase);
  } catch (...) {
    ClearUseFlag(ufExecuting);
    throw;
  }
  ClearUseFlag(ufExecuting);
}

void TSDBTable::UpdateDefs() {
  if (Active()) {
    FillDefs(FCursor->Table(), FieldDefs, IndexDefs);
    return;
  }
  WithDatabase([&](TSDBDatabase& db) {
    TSDBConnectionHandle& handle = db.Handle();
    TSDBTableCursor c(SDBTableOpener(handle), handle.SessionID());
    c.Open(TableName);
    FillDefs(c.Table(), FieldDefs, IndexDefs);
    c.Close();
  });
}

void TSDBTable::CreateTable() {
  CheckInactive();
  if (TableName.empty()) throw ESDBException(kSDBErrTableNameMissing, "Table name missing");
  TSDBFieldDefs fields;
  TSDBConstraintDefs constraints;
  TSDBIndexDefs indexes;
  for (int i = 0; i < FieldDefs.Count(); ++i) {
    const TSDBTableFieldDef& d = FieldDefs[i];
    if (!d.Name.empty() && FieldDefs.IndexOf(d.Name) != i)
      throw ESDBException(kSDBErrNewFieldDuplicate, "Duplicate field name '%s'", {d.Name});
    fields.Add(EngineFieldDef(d, i));
    if (d.Required) AddNotNull(constraints, TableName, d.Name);
  }
  for (int i = 0; i < IndexDefs.Count(); ++i) {
    const TSDBTableIndexDef& d = IndexDefs[i];
    if (!d.Name.empty() && IndexDefs.IndexOf(d.Name) != i)
      throw ESDBException(kSDBErrNewIndexDuplicate, "Duplicate index name '%s'", {d.Name});
    TSDBIndexDef ix = EngineIndexDef(d, [&](const std::string& n) { return FieldDefs.IndexOf(n) >= 0; });
    // The key fields keep their declared spelling.
    for (TSDBIndexColumn& c : ix.FColumns) c.FFieldName = FieldDefs[FieldDefs.IndexOf(c.FFieldName)].Name;
    if (ix.FPrimary)
      for (const TSDBIndexColumn& c : ix.FColumns) AddNotNull(constraints, TableName, c.FFieldName);
    if (ix.FUnique) AddUniqueConstraint(constraints, TableName, ix);
    indexes.Add(std::make_unique<TSDBIndexDef>(std::move(ix)));
  }
  WithDatabase([&](TSDBDatabase& db) {
    db.Handle().CreateTable(TableName, std::move(fields), std::move(constraints), std::move(indexes));
  });
}

void TSDBTable::AddIndex(const std::string& Name, const std::string& Fields, uint8_t Options,
                         const std::string& DescFields, const std::string& CaseInsFields) {
  TSDBTableIndexDef d;
  d.Name = Name;
  d.Fields = Fields;
  d.Options = Options;
  d.DescFields = DescFields;
  d.CaseInsFields = CaseInsFields;
  auto add = [&](TSDBTableCursor& c) {
    c.AddIndex(EngineIndexDef(d, [&](const std::string& n) { return c.Table().FieldManager().FieldNo(n) >= 0; }));
    FillDefs(c.Table(), FieldDefs, IndexDefs);
  };
  if (Active()) {
    CheckBrowseMode();
    add(*FCursor);
    return;
  }
  WithDatabase([&](TSDBDatabase& db) {
    TSDBConnectionHandle& handle = db.Handle();
    TSDBTableCursor c(SDBTableOpener(handle), handle.SessionID());
    c.Open(TableName);
    add(c);
    c.Close();
  });
}

void TSDBTable::DeleteIndex(const std::string& Name) {
  auto drop = [&](TSDBTableCursor& c) {
    if (c.Table().IndexIDByName(Name) < 0) throw ESDBException(kSDBErrIndexNotFound, "Index '%s' not found", {Name});
    c.DeleteIndex(Name);
    FillDefs(c.Table(), FieldDefs, IndexDefs);
  };
  if (Active()) {
    CheckBrowseMode();
    // A table read in the order of that index goes back to physical order
    // while it goes, then takes the order its properties still give.
    const int32_t id = FCursor->Table().IndexIDByName(Name);
    const bool ordered = id >= 0 && FCursor->IndexID() == id;
    if (ordered) FCursor->SetIndexID(-1);
    if (SDBSameName(IndexName, Name)) IndexName.clear();
    drop(*FCursor);
    if (ordered) {
      ApplyOrder();
      First();
    }
    return;
  }
  if (SDBSameName(IndexName, Name)) IndexName.clear();
  WithDatabase([&](TSDBDatabase& db) {
    TSDBConnectionHandle& handle = db.Handle();
    TSDBTableCursor c(SDBTableOpener(handle), handle.SessionID());
    c.Open(TableName);
    drop(c);
    c.Close();
  });
}

void TSDBTable::EmptyTable() {
  CheckInactive();
  WithDatabase([&](TSDBDatabase& db) { db.Handle().EmptyTable(TableName); });
}

void TSDBTable::DeleteTable() {
  CheckInactive();
  WithDatabase([&](TSDBDatabase& db) { db.Handle().DeleteTable(TableName); });
}

void TSDBTable::RenameTable(const std::string& NewTableName) {
  CheckInactive();
  if (NewTableName.empty()) throw ESDBException(kSDBErrTableNameMissing, "Table name missing");
  WithDatabase([&](TSDBDatabase& db) { db.Handle().RenameTable(TableName, NewTableName); });
  TableName = NewTableName;
}

}  // namespace sdb
