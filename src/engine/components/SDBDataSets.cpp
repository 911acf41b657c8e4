// Datasets of the components: fields, the dataset base with its use of a
// database, query parameters, the query and the table component.
#include "components/SDBComponents.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "common/SDBException.h"
#include "components/SDBComponentErrors.h"
#include "sql/SDBEvaluator.h"
#include "sql/SDBExecTable.h"
#include "sql/SDBSQLProcessor.h"
#include "storage/SDBFieldDef.h"

namespace sdb {

// ---- Fields and datasets ------------------------------------------------------------------------

const std::string& TSDBField::FieldName() const {
  return FDataSet->FResult->Columns.at(static_cast<size_t>(FIndex)).Name;
}

TSDBBaseFieldType TSDBField::DataType() const {
  return FDataSet->FResult->Columns.at(static_cast<size_t>(FIndex)).DataType;
}

TSDBVariant TSDBField::Value() const { return FDataSet->FieldValue(FIndex); }

std::string TSDBField::AsString() const {
  TSDBVariant v = Value();
  return v.IsNull() ? std::string() : v.AsString();
}

int64_t TSDBField::AsInteger() const {
  TSDBVariant v = Value();
  return v.IsNull() ? 0 : v.AsInt64();
}

double TSDBField::AsFloat() const {
  TSDBVariant v = Value();
  return v.IsNull() ? 0.0 : v.AsDouble();
}

bool TSDBField::AsBoolean() const {
  TSDBVariant v = Value();
  return v.IsNull() ? false : v.AsBoolean();
}

void TSDBField::SetValue(const TSDBVariant& v) { FDataSet->SetFieldValue(FIndex, v); }

TSDBDataSet::TSDBDataSet(const void* Owner) : FOwner(Owner) {}

TSDBDataSet::~TSDBDataSet() {
  if (FDatabase) {
    FDatabase->RemoveDataSet(this);
    try {
      FDatabase->Session().CloseDatabase(*FDatabase);
    } catch (...) {
    }
    FDatabase = nullptr;
  }
}

void TSDBDataSet::SetUseFlag(uint8_t Flag) {
  if (FUseFlags == 0) {
    if (DatabaseName.empty()) throw ESDBException(kSDBErrDatabaseNameBlank, "DatabaseName property is blank");
    TSDBSession& s = TSDBSessionList::Instance().FindSession(SessionName);
    TSDBDatabase& db = s.OpenDatabase(DatabaseName, FOwner);
    FDatabase = &db;
    db.AddDataSet(this);
  }
  FUseFlags |= Flag;
}

void TSDBDataSet::ClearUseFlag(uint8_t Flag) {
  if (!(FUseFlags & Flag)) return;
  FUseFlags = static_cast<uint8_t>(FUseFlags & ~Flag);
  if (FUseFlags != 0 || !FDatabase) return;
  TSDBDatabase* db = FDatabase;
  FDatabase = nullptr;
  db->RemoveDataSet(this);
  db->Session().CloseDatabase(*db);
}

void TSDBDataSet::Close() {
  FResult.reset();
  FFields.clear();
  FState = dsInactive;
  FEof = FBof = true;
  FRow = 0;
  ClearUseFlag(ufOpened);
}

void TSDBDataSet::BindResult(std::shared_ptr<TSDBResultSet> Result) {
  FResult = std::move(Result);
  FFields.clear();
  for (int i = 0; i < FResult->ColumnCount(); ++i) FFields.push_back(std::make_unique<TSDBField>(this, i));
  FState = dsBrowse;
  First();
}

int64_t TSDBDataSet::RecordCount() const { return FResult ? FResult->RowCount() : 0; }

void TSDBDataSet::First() {
  FRow = 0;
  FBof = true;
  FEof = RecordCount() == 0;
}

void TSDBDataSet::Next() {
  FBof = false;
  if (FRow + 1 < RecordCount())
    ++FRow;
  else
    FEof = true;
}

void TSDBDataSet::Prior() {
  FEof = false;
  if (FRow > 0)
    --FRow;
  else
    FBof = true;
}

void TSDBDataSet::Last() {
  FRow = std::max<int64_t>(0, RecordCount() - 1);
  FEof = true;
  FBof = RecordCount() == 0;
}

int TSDBDataSet::FieldCount() const { return static_cast<int>(FFields.size()); }

TSDBField& TSDBDataSet::Fields(int Index) {
  if (Index < 0 || Index >= FieldCount())
    throw ESDBException(kSDBErrFieldNotFound, "Field '%s' not found", {std::to_string(Index)});
  return *FFields[static_cast<size_t>(Index)];
}

TSDBField* TSDBDataSet::FindField(const std::string& Name) {
  if (!FResult) return nullptr;
  int i = FResult->FieldIndex(Name);
  if (i < 0) return nullptr;
  return FFields[static_cast<size_t>(i)].get();
}

TSDBField& TSDBDataSet::FieldByName(const std::string& Name) {
  if (!FResult) throw ESDBException(kSDBErrDataSetClosed, "Cannot perform this operation on a closed dataset");
  TSDBField* f = FindField(Name);
  if (!f) throw ESDBException(kSDBErrFieldNotFound, "Field '%s' not found", {Name});
  return *f;
}

TSDBVariant TSDBDataSet::FieldValue(int Index) const {
  if (!FResult || Index < 0 || Index >= FResult->ColumnCount()) return {};
  if (FRow < 0 || FRow >= FResult->RowCount()) return TSDBVariant(FResult->Columns[static_cast<size_t>(Index)].DataType);
  return FResult->Rows[static_cast<size_t>(FRow)][static_cast<size_t>(Index)];
}

void TSDBDataSet::SetFieldValue(int, const TSDBVariant&) {
  throw ESDBException(kSDBErrReadOnlyDataSet, "Cannot modify a read-only dataset");
}

// ---- Parameters --------------------------------------------------------------------------------------

TSDBParam* TSDBParams::FindParam(const std::string& Name) {
  for (auto& p : FItems)
    if (SDBSameComponentName(p.Name, Name)) return &p;
  return nullptr;
}

TSDBParam& TSDBParams::ParamByName(const std::string& Name) {
  TSDBParam* p = FindParam(Name);
  if (!p) throw ESDBException(kSDBErrParamNotFound, "Parameter '%s' not found", {Name});
  return *p;
}

void SDBConvertParams(const TSDBParams& From, TSDBSQLParams& To) {
  To.Clear();
  for (int i = 0; i < From.Count(); ++i) {
    const TSDBParam& p = From[i];
    TSDBBaseFieldType type;
    switch (p.DataType) {
      case ftTime: type = bftTime; break;
      case ftBlob:
      case ftGraphic: type = bftBlob; break;
      case ftMemo:
      case ftFmtMemo: type = bftVarchar; break;
      case ftWideMemo: type = bftWideVarchar; break;
      case ftString: type = bftVarchar; break;
      case ftWideString: type = bftWideVarchar; break;
      case ftSmallint: type = bftSignedInt16; break;
      case ftInteger: type = bftSignedInt32; break;
      case ftWord: type = bftUnsignedInt16; break;
      case ftLargeint: type = bftSignedInt64; break;
      case ftBoolean: type = bftLogical; break;
      case ftFloat:
      case ftBCD: type = bftDouble; break;
      case ftCurrency: type = bftCurrency; break;
      case ftDate: type = bftDate; break;
      case ftDateTime: type = bftDateTime; break;
      case ftBytes: type = bftBytes; break;
      case ftVarBytes: type = bftVarBytes; break;
      default: type = p.Value.DataType() == bftUnknown ? bftVarchar : p.Value.DataType(); break;
    }
    TSDBVariant v = p.Value.IsNull() ? TSDBVariant(type) : p.Value.ConvertedTo(type);
    To.Add(p.Name, std::move(v));
  }
}

std::vector<std::string> SDBParseParamNames(const std::string& Text) {
  // A ":" between double quotes belongs to a quoted name or text; the three
  // characters '":"' are the usual way to write one, and never start a
  // parameter.
  std::vector<std::string> names;
  auto isNameChar = [](unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; };
  bool inDouble = false, inSingle = false;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c == '\'' && !inDouble) {
      inSingle = !inSingle;
      continue;
    }
    if (c == '"' && !inSingle) {
      inDouble = !inDouble;
      continue;
    }
    if (inSingle || inDouble || c != ':') continue;
    if (i + 1 < Text.size() && Text[i + 1] == ':') {  // "::" is no parameter
      ++i;
      continue;
    }
    size_t j = i + 1;
    std::string name;
    if (j < Text.size() && (Text[j] == '"' || Text[j] == '\'' || Text[j] == '[')) {
      const char close = Text[j] == '[' ? ']' : Text[j];
      size_t k = Text.find(close, j + 1);
      if (k == std::string::npos) continue;
      name = Text.substr(j + 1, k - j - 1);
      i = k;
    } else {
      while (j < Text.size() && isNameChar(static_cast<unsigned char>(Text[j]))) ++j;
      if (j == i + 1) continue;
      name = Text.substr(i + 1, j - i - 1);
      i = j - 1;
    }
    if (name.empty()) continue;
    bool seen = false;
    for (const auto& n : names)
      if (SDBSameComponentName(n, name)) seen = true;
    if (!seen) names.push_back(name);
  }
  return names;
}

// ---- Query ----------------------------------------------------------------------------------------------

TSDBQuery::TSDBQuery(const void* Owner) : TSDBDataSet(Owner) {}

TSDBQuery::~TSDBQuery() {
  try {
    Close();
    UnPrepare();
  } catch (...) {
  }
}

std::string TSDBQuery::Text() const {
  std::string t;
  for (size_t i = 0; i < FSQL.size(); ++i) {
    if (i) t += "\n";
    t += FSQL[i];
  }
  return t;
}

void TSDBQuery::SetSQL(const std::vector<std::string>& Lines) {
  FSQL = Lines;
  SQLChanged();
}

void TSDBQuery::SetSQL(const std::string& Text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= Text.size()) {
    size_t nl = Text.find('\n', start);
    std::string line = Text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (Text.empty()) lines.clear();
  SetSQL(lines);
}

void TSDBQuery::AddSQL(const std::string& Line) {
  FSQL.push_back(Line);
  SQLChanged();
}

void TSDBQuery::ClearSQL() {
  FSQL.clear();
  SQLChanged();
}

void TSDBQuery::SQLChanged() {
  Close();
  UnPrepare();
  if (!ParamCheck) return;
  TSDBParams fresh;
  for (const std::string& name : SDBParseParamNames(Text())) {
    TSDBParam& p = fresh.Add(name);
    if (TSDBParam* old = Params.FindParam(name)) {
      p = *old;
      p.Name = name;
    }
  }
  Params = std::move(fresh);
}

void TSDBQuery::Prepare() {
  if (FProcessor) return;
  const std::string text = Text();
  if (text.size() < 2) throw ESDBException(kSDBErrNoSQLStatementPrepare, "No SQL statement available");
  auto proc = std::make_unique<TSDBSQLProcessor>(static_cast<TSDBExecHost*>(this), RequestLive, InMemory);
  proc->PrepareStatement(text);
  FProcessor = std::move(proc);
}

void TSDBQuery::UnPrepare() {
  FProcessor.reset();
  FOtherConnections.clear();
}

int TSDBQuery::RowsAffected() const { return static_cast<int>(FLastRowsAffected); }

std::shared_ptr<TSDBResultSet> TSDBQuery::RunText(bool WantResult) {
  TSDBSQLParams params;
  SDBConvertParams(Params, params);
  std::shared_ptr<TSDBResultSet> result;
  try {
    if (WantResult)
      result = FProcessor->OpenQuery(params);
    else
      FProcessor->ExecuteQuery(params);
  } catch (...) {
    FLastRowsAffected = FProcessor->FRowsAffected;
    throw;
  }
  FLastRowsAffected = FProcessor->FRowsAffected;
  return result;
}

void TSDBQuery::ExecSQL() {
  if (Active())
    throw ESDBException(kSDBErrDataSetOpen, "Cannot perform this operation on an open dataset");
  SetUseFlag(ufExecuting);
  try {
    if (FSQL.empty()) throw ESDBException(kSDBErrNoSQLStatementExec, "No SQL statement available");
    Prepare();
    RunText(false);
  } catch (...) {
    ClearUseFlag(ufExecuting);
    throw;
  }
  ClearUseFlag(ufExecuting);
}

void TSDBQuery::Open() {
  if (Active()) return;
  SetUseFlag(ufOpened);
  TSDBDatabase* db = FDatabase;
  const bool silent = db->SilentMode;
  db->SilentMode = true;
  try {
    Prepare();
    std::shared_ptr<TSDBResultSet> result = RunText(true);
    if (!result) throw ESDBException(kSDBErrCreateTableHandle, "Error creating table handle");
    BindResult(std::move(result));
    ReadOnly = FProcessor->FReadOnly || (FDatabase && FDatabase->ReadOnly());
  } catch (...) {
    if (FDatabase) FDatabase->SilentMode = silent;
    FResult.reset();
    FFields.clear();
    FState = dsInactive;
    ClearUseFlag(ufOpened);
    throw;
  }
  if (FDatabase) FDatabase->SilentMode = silent;
}

void TSDBQuery::Close() { TSDBDataSet::Close(); }

bool TSDBQuery::OpenOrExec() {
  if (Active()) Close();
  SetUseFlag(ufOpened);
  try {
    Prepare();
    std::shared_ptr<TSDBResultSet> result = RunText(true);
    if (!result) {
      ClearUseFlag(ufOpened);
      return false;
    }
    BindResult(std::move(result));
    ReadOnly = FProcessor->FReadOnly || (FDatabase && FDatabase->ReadOnly());
  } catch (...) {
    FResult.reset();
    FFields.clear();
    FState = dsInactive;
    ClearUseFlag(ufOpened);
    throw;
  }
  return true;
}

std::string TSDBQuery::Plan() {
  SetUseFlag(ufExecuting);
  std::string plan;
  try {
    Prepare();
    TSDBSQLParams params;
    SDBConvertParams(Params, params);
    plan = FProcessor->Plan(params);
  } catch (...) {
    ClearUseFlag(ufExecuting);
    throw;
  }
  ClearUseFlag(ufExecuting);
  return plan;
}

TSDBExecConnection& TSDBQuery::Connection(const std::string& DatabaseFileName, const std::string& Password) {
  if (!FDatabase) throw ESDBException(kSDBErrDatabaseNameBlank, "DatabaseName property is blank");
  if (DatabaseFileName.empty() || DatabaseFileName == FDatabase->DatabaseFileName() ||
      SDBSameComponentName(DatabaseFileName, FDatabase->DatabaseName()))
    return FDatabase->Handle();
  for (auto& h : FOtherConnections)
    if (h->Params().FileName == DatabaseFileName) return *h;
  auto h = std::make_unique<TSDBConnectionHandle>();
  TSDBConnectionParams p;
  p.FileName = DatabaseFileName;
  p.Password = Password;
  h->Connect(p);
  FOtherConnections.push_back(std::move(h));
  return *FOtherConnections.back();
}

namespace {

// The database of in-memory tables: one per process, in a private file
// that disappears with the process.
class TSDBMemoryDatabase {
 public:
  TSDBMemoryDatabase() {
    FPath = (std::filesystem::temp_directory_path() /
             ("sdb_memory_" + std::to_string(::getpid()) + "_" + std::to_string(reinterpret_cast<uintptr_t>(this)) +
              ".sdb"))
                .string();
    TSDBConnectionParams p;
    p.FileName = FPath;
    p.MaxConnections = 1;
    FHandle.CreateDatabase(p);
  }
  ~TSDBMemoryDatabase() {
    try {
      FHandle.Disconnect();
    } catch (...) {
    }
    std::error_code ec;
    std::filesystem::remove(FPath, ec);
  }
  TSDBConnectionHandle FHandle;
  std::string FPath;
};

}  // namespace

TSDBExecConnection& TSDBQuery::MemoryConnection() {
  static TSDBMemoryDatabase memory;
  return memory.FHandle;
}

// ---- Table --------------------------------------------------------------------------------------------------

TSDBTable::TSDBTable(const void* Owner) : TSDBDataSet(Owner) {}

TSDBTable::~TSDBTable() {
  try {
    Close();
  } catch (...) {
  }
}

bool TSDBTable::Exists() {
  SetUseFlag(ufExecuting);
  bool exists = false;
  try {
    exists = FDatabase->TableExists(TableName);
  } catch (...) {
    ClearUseFlag(ufExecuting);
    throw;
  }
  ClearUseFlag(ufExecuting);
  return exists;
}

void TSDBTable::Open() {
  if (Active()) return;
  if (TableName.empty()) throw ESDBException(kSDBErrTableNameMissing, "Table name missing");
  SetUseFlag(ufOpened);
  try {
    FCursor = TSDBCursor();
    FCursor.FExclusive = Exclusive;
    FDatabase->Handle().OpenTable(FCursor, TableName);
    FTableOpen = true;
    if (!IndexName.empty() && FCursor.TableData->IndexDefs().IndexOfName(IndexName) < 0)
      throw ESDBException(kSDBErrIndexNotFound, "Index '%s' not found", {IndexName});
    Load();
    FState = dsBrowse;
    First();
  } catch (...) {
    Close();
    throw;
  }
}

void TSDBTable::Close() {
  if (FTableOpen) {
    FTableOpen = false;
    try {
      if (FDatabase) FDatabase->Handle().CloseTable(FCursor);
    } catch (...) {
    }
    FCursor = TSDBCursor();
  }
  FEditRow.clear();
  TSDBDataSet::Close();
}

std::vector<int> TSDBTable::OrderFields() const {
  std::vector<int> order;
  if (!FCursor.TableData) return order;
  TSDBDiskTableData& t = *FCursor.TableData;
  std::vector<std::string> names;
  if (!IndexName.empty()) {
    if (const TSDBIndexDef* d = t.IndexDefs().FindByName(IndexName))
      for (const auto& c : d->FColumns) names.push_back(c.FFieldName);
  } else if (!IndexFieldNames.empty()) {
    size_t start = 0;
    while (start <= IndexFieldNames.size()) {
      size_t semi = IndexFieldNames.find(';', start);
      std::string n = IndexFieldNames.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
      if (!n.empty()) names.push_back(n);
      if (semi == std::string::npos) break;
      start = semi + 1;
    }
  }
  for (const auto& n : names) {
    int f = t.FieldManager().FieldNo(n);
    if (f < 0) throw ESDBException(kSDBErrFieldNotFound, "Field '%s' not found", {n});
    order.push_back(f);
  }
  return order;
}

void TSDBTable::Load() {
  auto result = std::make_shared<TSDBResultSet>();
  SDBExecReadTable(FCursor, TableName, *result);
  std::vector<int> order = OrderFields();
  if (!order.empty()) {
    std::vector<size_t> idx(result->Rows.size());
    for (size_t i = 0; i < idx.size(); ++i) idx[i] = i;
    std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
      for (int f : order) {
        int c = result->Rows[a][static_cast<size_t>(f)].Compare(result->Rows[b][static_cast<size_t>(f)]);
        if (c) return c < 0;
      }
      return false;
    });
    TSDBResultSet sorted;
    sorted.Columns = result->Columns;
    sorted.Live = true;
    sorted.LiveTableName = result->LiveTableName;
    for (size_t i : idx) {
      if (FHasRange) {
        bool inside = true;
        for (size_t k = 0; k < order.size() && inside; ++k) {
          const TSDBVariant& v = result->Rows[i][static_cast<size_t>(order[k])];
          if (k < FRangeStart.size() && v.Compare(FRangeStart[k]) < 0) inside = false;
          if (k < FRangeEnd.size() && v.Compare(FRangeEnd[k]) > 0) inside = false;
        }
        if (!inside) continue;
      }
      sorted.Rows.push_back(std::move(result->Rows[i]));
      sorted.RecordIDs.push_back(result->RecordIDs[i]);
    }
    *result = std::move(sorted);
  }
  FResult = std::move(result);
  if (FFields.size() != static_cast<size_t>(FResult->ColumnCount())) {
    FFields.clear();
    for (int i = 0; i < FResult->ColumnCount(); ++i) FFields.push_back(std::make_unique<TSDBField>(this, i));
  }
}

void TSDBTable::Refresh() {
  if (!Active()) return;
  int64_t row = FRow;
  Load();
  FRow = std::min<int64_t>(row, std::max<int64_t>(0, RecordCount() - 1));
  FEof = RecordCount() == 0;
  FBof = FRow == 0;
}

TSDBVariant TSDBTable::FieldValue(int Index) const {
  if ((FState == dsEdit || FState == dsInsert) && Index >= 0 && static_cast<size_t>(Index) < FEditRow.size())
    return FEditRow[static_cast<size_t>(Index)];
  return TSDBDataSet::FieldValue(Index);
}

void TSDBTable::SetFieldValue(int Index, const TSDBVariant& v) {
  if (FState != dsEdit && FState != dsInsert)
    throw ESDBException(kSDBErrNotEditing, "Dataset not in edit or insert mode");
  if (Index < 0 || static_cast<size_t>(Index) >= FEditRow.size())
    throw ESDBException(kSDBErrFieldNotFound, "Field '%s' not found", {std::to_string(Index)});
  FEditRow[static_cast<size_t>(Index)] = v;
  FEditChanged[static_cast<size_t>(Index)] = true;
}

void TSDBTable::Insert() {
  if (!Active()) throw ESDBException(kSDBErrDataSetClosed, "Cannot perform this operation on a closed dataset");
  if (FState != dsBrowse) Cancel();
  if (ReadOnly) throw ESDBException(kSDBErrReadOnlyDataSet, "Cannot modify a read-only dataset");
  TSDBDiskTableData& t = *FCursor.TableData;
  std::vector<uint8_t> fresh = t.NewRecordBuffer();
  FEditRow.clear();
  for (int i = 0; i < t.FieldManager().FieldCount(); ++i) FEditRow.push_back(SDBExecReadField(FCursor, fresh, i));
  FEditChanged.assign(FEditRow.size(), false);
  FState = dsInsert;
}

void TSDBTable::Edit() {
  if (!Active()) throw ESDBException(kSDBErrDataSetClosed, "Cannot perform this operation on a closed dataset");
  if (FState != dsBrowse) return;
  if (ReadOnly) throw ESDBException(kSDBErrReadOnlyDataSet, "Cannot modify a read-only dataset");
  if (RecordCount() == 0) {
    Insert();
    return;
  }
  FEditRow = FResult->Rows[static_cast<size_t>(FRow)];
  FEditChanged.assign(FEditRow.size(), false);
  FState = dsEdit;
}

void TSDBTable::Post() {
  if (FState != dsEdit && FState != dsInsert) return;
  TSDBDiskTableData& t = *FCursor.TableData;
  TSDBPageItemID posted;
  if (FState == dsInsert) {
    FCursor.EditRecordBuffer = t.NewRecordBuffer();
    for (size_t i = 0; i < FEditRow.size(); ++i)
      if (FEditChanged[i]) SDBExecWriteField(FCursor, FCursor.EditRecordBuffer, static_cast<int>(i), FEditRow[i]);
    if (!t.InsertRecord(FCursor)) throw ESDBEngineError::Make(-1);
  } else {
    if (!SDBExecPositionOn(FCursor, FResult->RecordIDs[static_cast<size_t>(FRow)]))
      throw ESDBEngineError::Make(-6);
    FCursor.EditRecordBuffer = FCursor.CurrentRecordBuffer;
    for (size_t i = 0; i < FEditRow.size(); ++i)
      if (FEditChanged[i]) SDBExecWriteField(FCursor, FCursor.EditRecordBuffer, static_cast<int>(i), FEditRow[i]);
    if (!t.UpdateRecord(FCursor)) throw ESDBEngineError::Make(-2);
  }
  posted = FCursor.CurrentRecordID;
  FEditRow.clear();
  FState = dsBrowse;
  Load();
  FRow = 0;
  for (size_t i = 0; i < FResult->RecordIDs.size(); ++i)
    if (FResult->RecordIDs[i] == posted) FRow = static_cast<int64_t>(i);
  FEof = RecordCount() == 0;
  FBof = false;
}

void TSDBTable::Cancel() {
  if (FState == dsEdit || FState == dsInsert) FState = dsBrowse;
  FEditRow.clear();
}

void TSDBTable::Delete() {
  if (!Active()) throw ESDBException(kSDBErrDataSetClosed, "Cannot perform this operation on a closed dataset");
  if (FState == dsInsert) {
    Cancel();
    return;
  }
  Cancel();
  if (RecordCount() == 0) return;
  if (ReadOnly) throw ESDBException(kSDBErrReadOnlyDataSet, "Cannot modify a read-only dataset");
  if (!SDBExecPositionOn(FCursor, FResult->RecordIDs[static_cast<size_t>(FRow)])) throw ESDBEngineError::Make(-7);
  if (!FCursor.TableData->DeleteRecord(FCursor)) throw ESDBEngineError::Make(-3);
  Refresh();
}

void TSDBTable::SetRange(const std::vector<TSDBVariant>& StartValues, const std::vector<TSDBVariant>& EndValues) {
  FHasRange = true;
  FRangeStart = StartValues;
  FRangeEnd = EndValues;
  if (Active()) {
    Cancel();
    Load();
    First();
  }
}

void TSDBTable::CancelRange() {
  FHasRange = false;
  FRangeStart.clear();
  FRangeEnd.clear();
  if (Active()) {
    Cancel();
    Load();
    First();
  }
}

bool TSDBTable::FindKey(const std::vector<TSDBVariant>& KeyValues) {
  std::vector<int> order = OrderFields();
  if (!FResult) return false;
  for (size_t r = 0; r < FResult->Rows.size(); ++r) {
    bool eq = true;
    for (size_t k = 0; k < KeyValues.size() && k < order.size() && eq; ++k)
      eq = FResult->Rows[r][static_cast<size_t>(order[k])].Compare(KeyValues[k]) == 0;
    if (eq) {
      FRow = static_cast<int64_t>(r);
      FEof = FBof = false;
      return true;
    }
  }
  return false;
}

}  // namespace sdb
