// Datasets of the components: fields, the dataset base with its use of a
// database, query parameters, the query and the table component.
#include "sdb/SDBComponents.h"

#include <algorithm>
#include <unordered_map>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "components/SDBConnection.h"
#include "sql/SDBExecResult.h"
#include "sql/SDBSQLParams.h"
#include "sql/SDBEvaluator.h"
#include "sql/SDBExecTable.h"
#include "sql/SDBSQLProcessor.h"
#include "components/SDBMemoryConnection.h"
#include "components/SDBRecordFilter.h"
#include "storage/database/SDBDatabaseData.h"
#include "storage/table/SDBFieldDef.h"
#include "storage/table/SDBTableCursor.h"
#include "common/SDBNames.h"

namespace sdb {

namespace {

bool IsBlank(const std::string& Text) {
  return Text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

// ---- Fields and datasets ------------------------------------------------------------------------

const std::string& TSDBField::FieldName() const {
  return FDataSet->FColumns.at(static_cast<size_t>(FIndex)).Name;
}

TSDBBaseFieldType TSDBField::DataType() const {
  return FDataSet->FColumns.at(static_cast<size_t>(FIndex)).DataType;
}

TSDBVariant TSDBField::Value() const { return FDataSet->FieldValue(FIndex); }

std::string TSDBField::AsString() const {
  return SDBValueUtf8(Value());
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
  SetLinkSource(nullptr);
  for (TSDBDataSource* s : FSourcesOfThis) s->FDataSet = nullptr;
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
  const bool wasActive = Active();
  FFilter.reset();
  FRowVisible.clear();
  FResult.reset();
  FFields.clear();
  FColumns.clear();
  FState = dsInactive;
  FEof = FBof = true;
  FRow = 0;
  ClearUseFlag(ufOpened);
  if (wasActive) RecordMoved();
}

// ---- Links between datasets ---------------------------------------------------------------------

TSDBDataSource::TSDBDataSource(TSDBDataSet* DataSet) { SetDataSet(DataSet); }

TSDBDataSource::~TSDBDataSource() {
  if (FDataSet) std::erase(FDataSet->FSourcesOfThis, this);
  for (TSDBDataSet* d : FLinked) d->FLinkSource = nullptr;
}

void TSDBDataSource::SetDataSet(TSDBDataSet* DataSet) {
  if (DataSet == FDataSet) return;
  for (TSDBDataSet* d = DataSet; d; d = d->FLinkSource ? d->FLinkSource->FDataSet : nullptr)
    if (std::find(FLinked.begin(), FLinked.end(), d) != FLinked.end())
      throw ESDBException(kSDBErrCircularDataLink, "Circular data links are not allowed");
  if (FDataSet) std::erase(FDataSet->FSourcesOfThis, this);
  FDataSet = DataSet;
  if (FDataSet) FDataSet->FSourcesOfThis.push_back(this);
  const std::vector<TSDBDataSet*> linked = FLinked;
  for (TSDBDataSet* d : linked) d->MasterChanged();
}

void TSDBDataSet::SetLinkSource(TSDBDataSource* Source) {
  if (Source == FLinkSource) return;
  for (TSDBDataSet* d = Source ? Source->FDataSet : nullptr; d; d = d->FLinkSource ? d->FLinkSource->FDataSet : nullptr)
    if (d == this) throw ESDBException(kSDBErrCircularDataLink, "Circular data links are not allowed");
  if (FLinkSource) std::erase(FLinkSource->FLinked, this);
  FLinkSource = Source;
  if (FLinkSource) FLinkSource->FLinked.push_back(this);
}

TSDBDataSet* TSDBDataSet::LinkedMaster() const {
  TSDBDataSet* m = FLinkSource ? FLinkSource->FDataSet : nullptr;
  return m && m->Active() ? m : nullptr;
}

void TSDBDataSet::RecordMoved() {
  if (FNotifying) return;
  FNotifying = true;
  try {
    const std::vector<TSDBDataSource*> sources = FSourcesOfThis;
    for (TSDBDataSource* s : sources) {
      const std::vector<TSDBDataSet*> linked = s->FLinked;
      for (TSDBDataSet* d : linked) d->MasterChanged();
    }
  } catch (...) {
    FNotifying = false;
    throw;
  }
  FNotifying = false;
}

void TSDBDataSet::BindColumns(std::vector<TSDBResultColumn> Columns) {
  FColumns = std::move(Columns);
  FFields.clear();
  for (size_t i = 0; i < FColumns.size(); ++i) FFields.push_back(std::make_unique<TSDBField>(this, static_cast<int>(i)));
}

void TSDBDataSet::BindResult(std::shared_ptr<TSDBResultSet> Result) {
  FResult = std::move(Result);
  BindColumns(FResult->Columns);
  FState = dsBrowse;
  FFilter = MakeFilter();
  FilterChanged();
}

// ---- Filters ---------------------------------------------------------------------------------------

std::unique_ptr<TSDBRecordFilter> TSDBDataSet::MakeFilter() const {
  if (!FFiltered || IsBlank(FFilterText)) return nullptr;
  return std::make_unique<TSDBRecordFilter>(FFilterText, FColumns, (FFilterOptions & foCaseInsensitive) != 0,
                                            (FFilterOptions & foNoPartialCompare) == 0);
}

void TSDBDataSet::SetFilter(const std::string& Text) { ChangeFilter(Text, FFiltered, FFilterOptions); }

void TSDBDataSet::SetFiltered(bool On) { ChangeFilter(FFilterText, On, FFilterOptions); }

void TSDBDataSet::SetFilterOptions(TSDBFilterOptions Options) { ChangeFilter(FFilterText, FFiltered, Options); }

void TSDBDataSet::ChangeFilter(const std::string& Text, bool On, TSDBFilterOptions Options) {
  const std::string oldText = FFilterText;
  const bool oldOn = FFiltered;
  const TSDBFilterOptions oldOptions = FFilterOptions;
  auto restore = [&] {
    FFilterText = oldText;
    FFiltered = oldOn;
    FFilterOptions = oldOptions;
  };
  if (Active()) CheckBrowseMode();
  FFilterText = Text;
  FFiltered = On;
  FFilterOptions = Options;
  if (!Active()) return;
  std::unique_ptr<TSDBRecordFilter> fresh;
  try {
    fresh = MakeFilter();
  } catch (...) {
    restore();
    throw;
  }
  std::swap(FFilter, fresh);
  try {
    FilterChanged();
    RecordMoved();
  } catch (...) {
    // The new filter failed on a record: the old one comes back as it was.
    restore();
    std::swap(FFilter, fresh);
    try {
      FilterChanged();
    } catch (...) {
    }
    throw;
  }
}

void TSDBDataSet::FilterChanged() {
  std::vector<bool> visible;
  if (FFilter && FResult) {
    visible.resize(FResult->Rows.size());
    for (size_t r = 0; r < visible.size(); ++r) visible[r] = RowMatches(static_cast<int64_t>(r));
  }
  FRowVisible = std::move(visible);
  TSDBDataSet::First();
}

bool TSDBDataSet::RowMatches(int64_t Row) const {
  if (!FFilter) return true;
  const TSDBResultRow& row = FResult->Rows.at(static_cast<size_t>(Row));
  return FFilter->Matches([&row](int c) { return row.at(static_cast<size_t>(c)); });
}

int64_t TSDBDataSet::RowTotal() const { return FResult ? FResult->RowCount() : 0; }

bool TSDBDataSet::RowVisible(int64_t Row) const {
  if (Row < 0 || Row >= RowTotal()) return false;
  return !FFilter || (static_cast<size_t>(Row) < FRowVisible.size() && FRowVisible[static_cast<size_t>(Row)]);
}

int64_t TSDBDataSet::NextVisibleRow(int64_t Row, bool Forward) const {
  for (int64_t r = Forward ? Row + 1 : Row - 1; r >= 0 && r < RowTotal(); r += Forward ? 1 : -1)
    if (RowVisible(r)) return r;
  return -1;
}

std::unique_ptr<TSDBRecordFilter> TSDBDataSet::MakeKeyFilter(const std::string& KeyFields,
                                                             const std::vector<TSDBVariant>& KeyValues,
                                                             TSDBLocateOptions Options) {
  std::vector<int> columns;
  for (const std::string& n : SDBSplitNames(KeyFields)) columns.push_back(FieldByName(n).Index());
  if (columns.size() != KeyValues.size() || columns.empty())
    throw ESDBException(kSDBErrKeyListLengths, "Error - different list lengths. L1 = %d, L2 = %d",
                        {static_cast<int64_t>(columns.size()), static_cast<int64_t>(KeyValues.size())});
  return std::make_unique<TSDBRecordFilter>(columns, KeyValues, FColumns, (Options & loCaseInsensitive) != 0,
                                            (Options & loPartialKey) != 0);
}

bool TSDBDataSet::Locate(const std::string& KeyFields, const std::vector<TSDBVariant>& KeyValues,
                         TSDBLocateOptions Options) {
  CheckActive();
  CheckBrowseMode();
  std::unique_ptr<TSDBRecordFilter> key = MakeKeyFilter(KeyFields, KeyValues, Options);
  for (int64_t r = 0; r < RowTotal(); ++r) {
    if (!RowVisible(r)) continue;
    const TSDBResultRow& row = FResult->Rows[static_cast<size_t>(r)];
    if (key->Matches([&row](int c) { return row.at(static_cast<size_t>(c)); })) {
      FRow = r;
      FEof = FBof = false;
      RecordMoved();
      return true;
    }
  }
  return false;
}

void TSDBDataSet::CheckActive() const {
  if (FState == dsInactive)
    throw ESDBException(kSDBErrDataSetClosed, "Cannot perform this operation on a closed dataset");
}

void TSDBDataSet::RaiseReadOnly() {
  throw ESDBException(kSDBErrReadOnlyDataSet, "Cannot modify a read-only dataset");
}

void TSDBDataSet::CheckBrowseMode() {
  if (FState == dsEdit || FState == dsInsert) Post();
}

int64_t TSDBDataSet::RecordCount() const {
  if (!FFilter) return RowTotal();
  return std::count(FRowVisible.begin(), FRowVisible.end(), true);
}

int64_t TSDBDataSet::RecNo() const {
  if (!RowVisible(FRow)) return 0;
  if (!FFilter) return FRow + 1;
  return std::count(FRowVisible.begin(), FRowVisible.begin() + FRow + 1, true);
}

void TSDBDataSet::First() {
  const int64_t r = RowVisible(0) ? 0 : NextVisibleRow(0, true);
  FRow = std::max<int64_t>(0, r);
  FBof = true;
  FEof = r < 0;
}

void TSDBDataSet::Next() {
  FBof = false;
  const int64_t r = RowVisible(FRow) ? NextVisibleRow(FRow, true) : -1;
  if (r >= 0)
    FRow = r;
  else
    FEof = true;
}

void TSDBDataSet::Prior() {
  FEof = false;
  const int64_t r = RowVisible(FRow) ? NextVisibleRow(FRow, false) : -1;
  if (r >= 0)
    FRow = r;
  else
    FBof = true;
}

void TSDBDataSet::Last() {
  const int64_t last = RowTotal() - 1;
  const int64_t r = RowVisible(last) ? last : NextVisibleRow(RowTotal(), false);
  FRow = std::max<int64_t>(0, r);
  FEof = true;
  FBof = r < 0;
}

int TSDBDataSet::FieldCount() const { return static_cast<int>(FFields.size()); }

TSDBField& TSDBDataSet::Fields(int Index) {
  if (Index < 0 || Index >= FieldCount())
    throw ESDBException(kSDBErrFieldNotFound, "Field '%s' not found", {std::to_string(Index)});
  return *FFields[static_cast<size_t>(Index)];
}

TSDBField* TSDBDataSet::FindField(const std::string& Name) {
  int i = -1;
  if (FResult) {
    i = FResult->FieldIndex(Name);
  } else {
    for (size_t k = 0; k < FColumns.size() && i < 0; ++k)
      if (SDBSameName(FColumns[k].Name, Name)) i = static_cast<int>(k);
  }
  if (i < 0 || static_cast<size_t>(i) >= FFields.size()) return nullptr;
  return FFields[static_cast<size_t>(i)].get();
}

TSDBField& TSDBDataSet::FieldByName(const std::string& Name) {
  CheckActive();
  TSDBField* f = FindField(Name);
  if (!f) throw ESDBException(kSDBErrFieldNotFound, "Field '%s' not found", {Name});
  return *f;
}

TSDBVariant TSDBDataSet::FieldValue(int Index) const {
  if (!FResult || Index < 0 || Index >= FResult->ColumnCount()) return {};
  if (!RowVisible(FRow)) return TSDBVariant(FResult->Columns[static_cast<size_t>(Index)].DataType);
  return FResult->Rows[static_cast<size_t>(FRow)][static_cast<size_t>(Index)];
}

void TSDBDataSet::SetFieldValue(int, const TSDBVariant&) { RaiseReadOnly(); }

void TSDBDataSet::Insert() {
  CheckActive();
  RaiseReadOnly();
}

void TSDBDataSet::Edit() {
  CheckActive();
  RaiseReadOnly();
}

void TSDBDataSet::Post() {}

void TSDBDataSet::Cancel() {}

void TSDBDataSet::Delete() {
  CheckActive();
  RaiseReadOnly();
}

// ---- Parameters --------------------------------------------------------------------------------------

TSDBParam* TSDBParams::FindParam(const std::string& Name) {
  for (auto& p : FItems)
    if (SDBSameName(p.Name, Name)) return &p;
  return nullptr;
}

TSDBParam& TSDBParams::ParamByName(const std::string& Name) {
  TSDBParam* p = FindParam(Name);
  if (!p) throw ESDBException(kSDBErrParamNotFound, "Parameter '%s' not found", {Name});
  return *p;
}

void SDBConvertParams(const TSDBParams& From, TSDBSQLParams& To) {
  To.Clear();
  To.Reserve(static_cast<size_t>(From.Count()));
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
    // A text stays as the boundary made it (8-bit, or wide when Windows-1252
    // cannot hold it): the column it reaches converts it or refuses it.
    const bool text = SDBIsAnsiTextType(type) && SDBIsWideTextType(p.Value.DataType());
    TSDBVariant v = p.Value.IsNull() ? TSDBVariant(type) : text ? p.Value : p.Value.ConvertedTo(type);
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
      if (SDBSameName(n, name)) seen = true;
    if (!seen) names.push_back(name);
  }
  return names;
}

// ---- Query ----------------------------------------------------------------------------------------------

class TSDBQuery::TExecHost final : public TSDBExecHost {
 public:
  explicit TExecHost(TSDBQuery& Query) : FQuery(Query) {}
  TSDBExecConnection& Connection(const std::string& DatabaseFileName, const std::string& Password) override {
    return FQuery.Connection(DatabaseFileName, Password);
  }
  TSDBExecConnection& MemoryConnection() override { return FQuery.MemoryConnection(); }

 private:
  TSDBQuery& FQuery;
};

TSDBQuery::TSDBQuery(const void* Owner) : TSDBDataSet(Owner), FExecHost(std::make_unique<TExecHost>(*this)) {}

TSDBQuery::~TSDBQuery() {
  try {
    Close();
    UnPrepare();
  } catch (...) {
  }
}

std::string TSDBQuery::Text() const { return FText; }

namespace {

std::string JoinLines(const std::vector<std::string>& Lines) {
  std::string t;
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (i) t += "\n";
    t += Lines[i];
  }
  return t;
}

// The lines of a text: split at each line feed, a carriage return before
// it dropped; no line at all for an empty text.
std::vector<std::string> SplitLines(const std::string& Text) {
  std::vector<std::string> lines;
  if (Text.empty()) return lines;
  size_t start = 0;
  while (start <= Text.size()) {
    size_t nl = Text.find('\n', start);
    std::string line = Text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return lines;
}

}  // namespace

const std::vector<std::string>& TSDBQuery::SQL() const {
  if (FLinesPending) {
    FSQL = SplitLines(FText);
    FLinesPending = false;
  }
  return FSQL;
}

void TSDBQuery::SetSQL(const std::vector<std::string>& Lines) {
  FSQL = Lines;
  FLinesPending = false;
  FText = JoinLines(FSQL);
  SQLChanged();
}

void TSDBQuery::SetSQL(const std::string& Text) {
  // A carriage return is dropped with its line feed: such a text is kept
  // as its lines joined again.
  if (Text.find('\r') != std::string::npos) {
    SetSQL(SplitLines(Text));
    return;
  }
  FText = Text;
  FSQL.clear();
  FLinesPending = !Text.empty();
  SQLChanged();
}

void TSDBQuery::AddSQL(const std::string& Line) {
  std::vector<std::string> lines = SQL();
  lines.push_back(Line);
  SetSQL(lines);
}

void TSDBQuery::ClearSQL() {
  FSQL.clear();
  FLinesPending = false;
  FText.clear();
  SQLChanged();
}

namespace {

// The parameter names of a text, remembered for the texts met last: an
// application sets the same few texts on fresh queries again and again.
// Per thread, so that no lock is needed; long texts are not kept.
const std::vector<std::string>& ParamNamesOf(const std::string& Text) {
  constexpr size_t kTexts = 64, kMaxTextSize = 16 * 1024;
  thread_local std::unordered_map<std::string, std::vector<std::string>> known;
  thread_local std::vector<std::string> once;
  if (Text.size() > kMaxTextSize) return once = SDBParseParamNames(Text);
  auto it = known.find(Text);
  if (it != known.end()) return it->second;
  if (known.size() >= kTexts) known.clear();
  return known.emplace(Text, SDBParseParamNames(Text)).first->second;
}

}  // namespace

void TSDBQuery::SQLChanged() {
  Close();
  UnPrepare();
  if (!ParamCheck) return;
  TSDBParams fresh;
  for (const std::string& name : ParamNamesOf(FText)) {
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
  if (FText.size() < 2) throw ESDBException(kSDBErrNoSQLStatementPrepare, "No SQL statement available");
  auto proc = std::make_unique<TSDBSQLProcessor>(FExecHost.get(), RequestLive, InMemory);
  proc->PrepareStatement(FText);
  FProcessor = std::move(proc);
}

void TSDBQuery::UnPrepare() {
  CloseLiveCursor();
  FLiveConnection = nullptr;
  FConnectionsUsed.clear();
  FProcessor.reset();
  FOtherConnections.clear();
}

int TSDBQuery::RowsAffected() const { return static_cast<int>(FLastRowsAffected); }

TSDBParams TSDBQuery::LinkedParams(std::vector<TSDBVariant>& Taken) const {
  TSDBParams out = Params;
  Taken.clear();
  TSDBDataSet* m = LinkedMaster();
  if (!m) return out;
  for (int i = 0; i < out.Count(); ++i) {
    TSDBParam& p = out[i];
    if (p.DataType != ftUnknown || !p.IsNull()) continue;  // set by the caller
    TSDBField* f = m->FindField(p.Name);
    if (!f) continue;
    p.Value = f->Value();
    Taken.push_back(p.Value);
  }
  return out;
}

void TSDBQuery::SetDataSource(TSDBDataSource* Source) {
  SetLinkSource(Source);
  MasterChanged();
}

void TSDBQuery::MasterChanged() {
  if (!Active() || !FProcessor || !LinkedMaster()) return;
  std::vector<TSDBVariant> taken;
  LinkedParams(taken);
  if (taken == FTakenValues) return;
  CheckBrowseMode();
  std::shared_ptr<TSDBResultSet> result = RunText(true);
  if (!result) throw ESDBException(kSDBErrCreateTableHandle, "Error creating table handle");
  BindQueryResult(std::move(result));
  RecordMoved();
}

std::shared_ptr<TSDBResultSet> TSDBQuery::RunText(bool WantResult) {
  // One statement: a table's open and its reads share one shared lock.
  TSDBStatementScope statement;
  TSDBSQLParams params;
  // Without a source to take values from, the parameters are converted as
  // they are, without a copy of the list first.
  if (LinkedMaster()) {
    SDBConvertParams(LinkedParams(FTakenValues), params);
  } else {
    FTakenValues.clear();
    SDBConvertParams(Params, params);
  }
  std::shared_ptr<TSDBResultSet> result;
  CloseLiveCursor();
  FLiveConnection = nullptr;
  FConnectionsUsed.clear();
  try {
    if (WantResult)
      result = FProcessor->OpenQuery(std::move(params));
    else
      FProcessor->ExecuteQuery(std::move(params));
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
    if (SQL().empty()) throw ESDBException(kSDBErrNoSQLStatementExec, "No SQL statement available");
    TSDBStatementScope statement;
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
    TSDBStatementScope statement;
    Prepare();
    std::shared_ptr<TSDBResultSet> result = RunText(true);
    if (!result) throw ESDBException(kSDBErrCreateTableHandle, "Error creating table handle");
    BindQueryResult(std::move(result));
  } catch (...) {
    if (FDatabase) FDatabase->SilentMode = silent;
    FResult.reset();
    FFields.clear();
    FState = dsInactive;
    ClearUseFlag(ufOpened);
    throw;
  }
  if (FDatabase) FDatabase->SilentMode = silent;
  RecordMoved();
}

void TSDBQuery::Close() {
  CloseLiveCursor();
  TSDBDataSet::Close();
}

void TSDBQuery::BindQueryResult(std::shared_ptr<TSDBResultSet> Result) {
  BindResult(std::move(Result));
  ReadOnly = FProcessor->FReadOnly || (FDatabase && FDatabase->ReadOnly());
  // The connection of the live table: the last one handed out during the
  // run that has a table of that name (a statement may name another file
  // or the memory database).
  FLiveConnection = nullptr;
  if (!ReadOnly && FResult->Live && FResult->RecordIDs.size() == FResult->Rows.size() &&
      !FResult->LiveTableName.empty()) {
    for (auto it = FConnectionsUsed.rbegin(); it != FConnectionsUsed.rend() && !FLiveConnection; ++it)
      if ((*it)->TableExists(FResult->LiveTableName)) FLiveConnection = *it;
  }
}

bool TSDBQuery::OpenOrExec() {
  if (Active()) Close();
  SetUseFlag(ufOpened);
  try {
    TSDBStatementScope statement;
    Prepare();
    std::shared_ptr<TSDBResultSet> result = RunText(true);
    if (!result) {
      ClearUseFlag(ufOpened);
      return false;
    }
    BindQueryResult(std::move(result));
  } catch (...) {
    FResult.reset();
    FFields.clear();
    FState = dsInactive;
    ClearUseFlag(ufOpened);
    throw;
  }
  RecordMoved();
  return true;
}

std::string TSDBQuery::Plan() {
  SetUseFlag(ufExecuting);
  std::string plan;
  try {
    Prepare();
    TSDBSQLParams params;
    std::vector<TSDBVariant> taken;
    SDBConvertParams(LinkedParams(taken), params);
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
      SDBSameName(DatabaseFileName, FDatabase->DatabaseName())) {
    FConnectionsUsed.push_back(&FDatabase->Handle());
    return FDatabase->Handle();
  }
  for (auto& h : FOtherConnections)
    if (h->Params().FileName == DatabaseFileName) {
      FConnectionsUsed.push_back(h.get());
      return *h;
    }
  auto h = std::make_unique<TSDBConnectionHandle>();
  TSDBConnectionParams p;
  p.FileName = DatabaseFileName;
  p.Password = Password;
  h->Connect(p);
  FOtherConnections.push_back(std::move(h));
  FConnectionsUsed.push_back(FOtherConnections.back().get());
  return *FOtherConnections.back();
}

TSDBExecConnection& TSDBQuery::MemoryConnection() {
  if (!FMemory) FMemory = std::make_unique<TSDBMemoryConnection>();
  FConnectionsUsed.push_back(FMemory.get());
  return *FMemory;
}

// ---- Live results ----------------------------------------------------------------------------------------

namespace {

// The value of a field of the cursor's record being edited or inserted, or
// of its current record, read as query results read it.
TSDBVariant CursorValue(TSDBTableCursor& c, int FieldNo) {
  TSDBCursor& raw = c.Cursor();
  const bool editing = c.State() == csEdit || c.State() == csInsert;
  if (!editing && !c.HasCurrentRecord()) return TSDBVariant(c.FieldDef(FieldNo).FBaseFieldType);
  return SDBExecReadField(raw, editing ? raw.EditRecordBuffer : raw.CurrentRecordBuffer, FieldNo);
}

void WriteCursorValue(TSDBTableCursor& c, int FieldNo, const TSDBVariant& v) {
  if (c.State() != csEdit && c.State() != csInsert)
    throw ESDBException(kSDBErrNotEditing, "Dataset not in edit or insert mode");
  TSDBCursor& raw = c.Cursor();
  SDBExecWriteField(raw, raw.EditRecordBuffer, FieldNo, v);
}

}  // namespace

bool TSDBQuery::CanModify() const {
  return Active() && RequestLive && !ReadOnly && FLiveConnection != nullptr && FResult && FResult->Live;
}

void TSDBQuery::CheckModify(bool ForDelete) const {
  CheckActive();
  if (CanModify()) return;
  const bool liveTable = RequestLive && FLiveConnection != nullptr && FResult && FResult->Live;
  if (!liveTable && !(FDatabase && FDatabase->ReadOnly()))
    throw ESDBEngineError::Make(ForDelete ? kSDBRecErrDeleteTemporary : kSDBRecErrUpdateTemporary);
  RaiseReadOnly();
}

void TSDBQuery::CloseLiveCursor() noexcept {
  if (!FLiveCursor) return;
  try {
    FLiveCursor->Close();
  } catch (...) {
  }
  FLiveCursor.reset();
  FLiveFields.clear();
  if (FState == dsEdit || FState == dsInsert) FState = dsBrowse;
}

TSDBTableCursor& TSDBQuery::LiveCursor() {
  if (FLiveCursor) return *FLiveCursor;
  auto c = std::make_unique<TSDBTableCursor>(SDBTableOpener(*FLiveConnection), FLiveConnection->SessionID());
  c->Open(FResult->LiveTableName);
  std::vector<int> fields;
  for (const TSDBResultColumn& col : FResult->Columns) fields.push_back(c->FieldNo(col.Name));
  FLiveFields = std::move(fields);
  FLiveCursor = std::move(c);
  return *FLiveCursor;
}

TSDBResultRow TSDBQuery::LiveRow() {
  TSDBResultRow row;
  for (int f : FLiveFields) row.push_back(CursorValue(*FLiveCursor, f));
  return row;
}

void TSDBQuery::PositionLive(bool ForDelete) {
  TSDBTableCursor& c = LiveCursor();
  const TSDBPageItemID id = FResult->RecordIDs[static_cast<size_t>(FRow)];
  if (!c.GotoRecordID(id) || !(c.RecordID() == id)) throw ESDBEngineError::Make(ForDelete ? kSDBRecErrDeleteDeleted : kSDBRecErrUpdateDeleted);
  // The row shows the record as the query read it; a record changed since
  // then is not overwritten.
  if (LiveRow() != FResult->Rows[static_cast<size_t>(FRow)]) throw ESDBEngineError::Make(ForDelete ? kSDBRecErrDeleteModified : kSDBRecErrUpdateModified);
}

void TSDBQuery::First() {
  CheckBrowseMode();
  TSDBDataSet::First();
  RecordMoved();
}

void TSDBQuery::Next() {
  CheckBrowseMode();
  TSDBDataSet::Next();
  RecordMoved();
}

void TSDBQuery::Prior() {
  CheckBrowseMode();
  TSDBDataSet::Prior();
  RecordMoved();
}

void TSDBQuery::Last() {
  CheckBrowseMode();
  TSDBDataSet::Last();
  RecordMoved();
}

TSDBVariant TSDBQuery::FieldValue(int Index) const {
  if ((FState == dsEdit || FState == dsInsert) && FLiveCursor && Index >= 0 &&
      static_cast<size_t>(Index) < FLiveFields.size())
    return CursorValue(*FLiveCursor, FLiveFields[static_cast<size_t>(Index)]);
  return TSDBDataSet::FieldValue(Index);
}

void TSDBQuery::SetFieldValue(int Index, const TSDBVariant& v) {
  CheckModify();
  if (FState != dsEdit && FState != dsInsert)
    throw ESDBException(kSDBErrNotEditing, "Dataset not in edit or insert mode");
  if (Index < 0 || static_cast<size_t>(Index) >= FLiveFields.size())
    throw ESDBException(kSDBErrFieldNotFound, "Field '%s' not found", {std::to_string(Index)});
  // An empty text is stored as null, as statements store it.
  TSDBVariant value = v;
  if (!value.IsNull() && SDBIsTextType(value.DataType()) && value.AsString().empty()) value.SetNull();
  WriteCursorValue(*FLiveCursor, FLiveFields[static_cast<size_t>(Index)], value);
}

void TSDBQuery::Insert() {
  CheckModify();
  CheckBrowseMode();
  LiveCursor().Insert();
  FState = dsInsert;
}

void TSDBQuery::Edit() {
  CheckModify();
  if (FState != dsBrowse) return;
  if (RecordCount() == 0) {
    Insert();
    return;
  }
  PositionLive(false);
  FLiveCursor->Edit();
  FState = dsEdit;
}

void TSDBQuery::Post() {
  if (FState != dsEdit && FState != dsInsert) return;
  TSDBTableCursor& c = LiveCursor();
  c.Post();
  TSDBResultRow row = LiveRow();
  if (FState == dsInsert) {
    FResult->Rows.push_back(std::move(row));
    FResult->RecordIDs.push_back(c.RecordID());
    FRow = FResult->RowCount() - 1;
    if (FFilter) FRowVisible.push_back(false);
  } else {
    FResult->Rows[static_cast<size_t>(FRow)] = std::move(row);
    FResult->RecordIDs[static_cast<size_t>(FRow)] = c.RecordID();
  }
  FState = dsBrowse;
  FEof = FBof = false;
  if (FFilter) {
    FRowVisible[static_cast<size_t>(FRow)] = RowMatches(FRow);
    // A row that no longer satisfies the filter leaves the view.
    if (!RowVisible(FRow)) MoveToVisibleRow(FRow);
  }
  RecordMoved();
}

void TSDBQuery::MoveToVisibleRow(int64_t From) {
  int64_t r = RowVisible(From) ? From : NextVisibleRow(From, true);
  if (r < 0) r = NextVisibleRow(From, false);
  FRow = std::max<int64_t>(0, r);
  FEof = r < 0;
  FBof = r < 0 || NextVisibleRow(r, false) < 0;
}

void TSDBQuery::Cancel() {
  if (FState != dsEdit && FState != dsInsert) return;
  if (FLiveCursor) FLiveCursor->Cancel();
  FState = dsBrowse;
  RecordMoved();
}

void TSDBQuery::Delete() {
  CheckModify(true);
  if (FState == dsInsert) {
    Cancel();
    return;
  }
  Cancel();
  if (!RowVisible(FRow)) return;
  PositionLive(true);
  FLiveCursor->Delete();
  FResult->Rows.erase(FResult->Rows.begin() + FRow);
  FResult->RecordIDs.erase(FResult->RecordIDs.begin() + FRow);
  if (FFilter) FRowVisible.erase(FRowVisible.begin() + FRow);
  MoveToVisibleRow(std::min(FRow, RowTotal() - 1));
  RecordMoved();
}

// ---- Table --------------------------------------------------------------------------------------------------

TSDBTable::TSDBTable(const void* Owner) : TSDBDataSet(Owner) {}

TSDBTable::~TSDBTable() {
  try {
    Close();
  } catch (...) {
  }
}

TSDBTableCursor& TSDBTable::Need() const {
  if (!FCursor || FState == dsInactive)
    throw ESDBException(kSDBErrDataSetClosed, "Cannot perform this operation on a closed dataset");
  return *FCursor;
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
    TSDBConnectionHandle& handle = FDatabase->Handle();
    FCursor = std::make_unique<TSDBTableCursor>(SDBTableOpener(handle), handle.SessionID());
    FCursor->Open(TableName, Exclusive);
    FRowsFetched = 0;
    ApplyOrder();
    BindColumns(SDBExecTableColumns(FCursor->Cursor(), TableName));
    FState = dsBrowse;
    UpdateDefs();
    FFilter = MakeFilter();
    if (FHasRange) FCursor->SetRange(FRangeStart, FRangeEnd);
    FMasterLinked = false;
    ApplyMasterLink();
    First();
  } catch (...) {
    Close();
    throw;
  }
}

void TSDBTable::ApplyOrder() {
  TSDBTableCursor& c = *FCursor;
  if (!IndexName.empty()) {
    if (c.Table().IndexIDByName(IndexName) < 0)
      throw ESDBException(kSDBErrIndexNotFound, "Index '%s' not found", {IndexName});
    c.SetIndexName(IndexName);
  } else {
    // Field names may carry their order and case: "Name DESC", "Name NO_CASE".
    std::vector<std::string> names, ascDesc, caseSens;
    bool qualified = false;
    for (const std::string& item : SDBSplitNames(IndexFieldNames)) {
      std::string name = item, dir = "ASC", cs = "CASE";
      for (;;) {
        const size_t sp = name.find_last_of(' ');
        if (sp == std::string::npos) break;
        const std::string word = SDBUpperName(name.substr(sp + 1));
        if (word == "ASC" || word == "DESC") {
          dir = word;
        } else if (word == "CASE" || word == "NO_CASE") {
          cs = word;
        } else {
          break;
        }
        qualified = true;
        name.erase(sp);
        while (!name.empty() && name.back() == ' ') name.pop_back();
      }
      c.FieldNo(name);  // "Field '%s' not found" for an unknown name
      names.push_back(name);
      ascDesc.push_back(dir);
      caseSens.push_back(cs);
    }
    if (qualified)
      c.SetIndexFieldNames(names, ascDesc, caseSens);
    else
      c.SetIndexFieldNames(names);
  }
}

void TSDBTable::ChangeOrder(const std::string& Name, const std::string& FieldNames) {
  const std::string oldName = IndexName, oldFields = IndexFieldNames;
  IndexName = Name;
  IndexFieldNames = FieldNames;
  if (!Active()) return;
  CheckBrowseMode();
  FHasRange = false;
  try {
    ApplyOrder();
    FMasterLinked = false;
    FCursor->CancelRange();
    ApplyMasterLink();
  } catch (...) {
    IndexName = oldName;
    IndexFieldNames = oldFields;
    ApplyOrder();
    FMasterLinked = false;
    ApplyMasterLink();
    throw;
  }
  First();
}

void TSDBTable::SetIndexName(const std::string& Name) { ChangeOrder(Name, {}); }

void TSDBTable::SetIndexFieldNames(const std::string& Names) { ChangeOrder({}, Names); }

void TSDBTable::Close() {
  if (FCursor) {
    try {
      FCursor->Close();
    } catch (...) {
    }
    FCursor.reset();
  }
  FMasterLinked = FMasterEmpty = false;
  FMasterKey.reset();
  FMasterValues.clear();
  FMasterKeyFields.clear();
  TSDBDataSet::Close();
}

void TSDBTable::Refresh() {
  if (!Active()) return;
  CheckBrowseMode();
  if (!FCursor->Refresh()) {
    First();
  } else if (Restricted() && FHasVisible && !Accept()) {
    LeaveHidden();
  }
  Fetched();
  RecordMoved();
}

// ---- The view of a filtered table ----
//
// The cursor walks the table in its order (and range); records the filter
// does not show are stepped over. The dataset keeps its own Bof and Eof and
// whether it has a current record, since the cursor may rest on a hidden
// record while looking.

bool TSDBTable::Accept() {
  TSDBTableCursor& c = *FCursor;
  auto valueOf = [&c](int f) { return CursorValue(c, f); };
  // A record whose key was changed away from the master's leaves the view.
  if (FMasterLinked && (FMasterEmpty || (FMasterKey && !FMasterKey->Matches(valueOf)))) return false;
  return !FFilter || FFilter->Matches(valueOf);
}

bool TSDBTable::SeekVisible(bool Forward) {
  TSDBTableCursor& c = *FCursor;
  if (!c.HasCurrentRecord()) return false;
  for (;;) {
    if (Accept()) return true;
    if (Forward) {
      c.Next();
      if (c.Eof()) return false;
    } else {
      c.Prior();
      if (c.Bof()) return false;
    }
  }
}

void TSDBTable::MoveFirst() {
  TSDBTableCursor& c = Need();
  c.First();
  if (!Restricted()) return;
  FHasVisible = SeekVisible(true);
  FBof = true;
  FEof = !FHasVisible;
}

void TSDBTable::MoveLast() {
  TSDBTableCursor& c = Need();
  c.Last();
  if (!Restricted()) return;
  FHasVisible = SeekVisible(false);
  FEof = true;
  FBof = !FHasVisible;
}

void TSDBTable::LeaveHidden() {
  TSDBTableCursor& c = *FCursor;
  const TSDBPageItemID here = c.RecordID();
  c.Next();
  if (!c.Eof() && SeekVisible(true)) {
    FHasVisible = true;
    FEof = FBof = false;
    return;
  }
  if (c.GotoRecordID(here)) {
    c.Prior();
    if (!c.Bof() && SeekVisible(false)) {
      FHasVisible = true;
      FEof = false;
      FBof = false;
      return;
    }
  }
  FHasVisible = false;
  FEof = FBof = true;
}

int64_t TSDBTable::CountVisible(bool UptoCurrent) {
  TSDBTableCursor& c = *FCursor;
  if (FState != dsBrowse) return UptoCurrent ? 0 : FVisibleCount;
  if (UptoCurrent && !FHasVisible) return 0;
  const TSDBPageItemID here = c.RecordID();
  const bool had = FHasVisible, eof = FEof, bof = FBof;
  int64_t n = 0;
  for (MoveFirst(); FHasVisible;) {
    ++n;
    if (UptoCurrent && c.RecordID() == here) break;
    c.Next();
    if (c.Eof() || !SeekVisible(true)) break;
  }
  if (had) c.GotoRecordID(here);
  FHasVisible = had;
  FEof = eof;
  FBof = bof;
  if (!UptoCurrent) FVisibleCount = n;
  return n;
}

int64_t TSDBTable::RecordCount() const {
  if (!FCursor || FState == dsInactive) return 0;
  // Counting walks the view and comes back: the position is unchanged.
  if (Restricted()) return const_cast<TSDBTable*>(this)->CountVisible(false);
  return FCursor->RecordCount();
}

int64_t TSDBTable::RecNo() const {
  if (!FCursor || FState == dsInactive) return 0;
  if (Restricted()) return const_cast<TSDBTable*>(this)->CountVisible(true);
  return FCursor->RecNo();
}

void TSDBTable::First() {
  CheckBrowseMode();
  MoveFirst();
  Fetched();
  RecordMoved();
}

void TSDBTable::Step(bool Forward) {
  TSDBTableCursor& c = Need();
  Fetched();
  if (!Restricted()) {
    Forward ? c.Next() : c.Prior();
    return;
  }
  bool& edge = Forward ? FEof : FBof;
  if (!FHasVisible) {
    edge = true;
    return;
  }
  const TSDBPageItemID here = c.RecordID();
  Forward ? c.Next() : c.Prior();
  if ((Forward ? c.Eof() : c.Bof()) || !SeekVisible(Forward)) {
    FHasVisible = c.GotoRecordID(here);
    edge = true;
    return;
  }
  FBof = FEof = false;
}

void TSDBTable::Next() {
  CheckBrowseMode();
  Step(true);
  RecordMoved();
}

void TSDBTable::Prior() {
  CheckBrowseMode();
  Step(false);
  RecordMoved();
}

void TSDBTable::Last() {
  CheckBrowseMode();
  MoveLast();
  Fetched();
  RecordMoved();
}

bool TSDBTable::HasCurrentRecord() const {
  if (!FCursor || FState == dsInactive) return false;
  if (FState != dsBrowse) return true;
  return Restricted() ? FHasVisible : FCursor->HasCurrentRecord();
}

// ---- Master and detail ----

void TSDBTable::SetMasterSource(TSDBDataSource* Source) {
  if (Active()) CheckBrowseMode();
  SetLinkSource(Source);
  MasterChanged();
}

void TSDBTable::SetMasterFields(const std::string& Fields) {
  const std::string old = FMasterFields;
  if (Active()) CheckBrowseMode();
  FMasterFields = Fields;
  if (!Active()) return;
  FMasterLinked = false;
  try {
    ApplyMasterLink();
  } catch (...) {
    FMasterFields = old;
    FMasterLinked = false;
    ApplyMasterLink();
    throw;
  }
  First();
}

void TSDBTable::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  if (ApplyMasterLink()) First();
}

bool TSDBTable::ApplyMasterLink() {
  TSDBTableCursor& c = *FCursor;
  TSDBDataSet* m = LinkedMaster();
  const std::vector<std::string> fields = SDBSplitNames(FMasterFields);
  if (!m || fields.empty()) {
    if (!FMasterLinked) return false;
    FMasterLinked = FMasterEmpty = false;
    FMasterKey.reset();
    FMasterValues.clear();
    FMasterKeyFields.clear();
    if (FHasRange)
      c.SetRange(FRangeStart, FRangeEnd);
    else
      c.CancelRange();
    return true;
  }
  std::vector<bool> noCase;
  const std::vector<std::string> order = OrderFieldNames(&noCase);
  if (fields.size() > order.size()) {
    std::string names;
    for (size_t i = 0; i < order.size(); ++i) names += (i ? ";" : "") + order[i];
    throw ESDBException(kSDBErrMasterFields, "MasterFields '%s' do not fit the index fields '%s' of table '%s'",
                        {FMasterFields, names, TableName});
  }
  std::vector<TSDBVariant> values;
  bool empty = !m->HasCurrentRecord();
  for (const std::string& f : fields) {
    values.push_back(m->FieldByName(f).Value());
    if (values.back().IsNull()) empty = true;
  }
  if (FMasterLinked && values == FMasterValues && empty == FMasterEmpty) return false;
  std::vector<std::string> keyFields(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(fields.size()));
  std::unique_ptr<TSDBRecordFilter> key;
  if (!empty) {
    std::vector<int> columns;
    for (const std::string& k : keyFields) columns.push_back(c.FieldNo(k));
    // The key compares texts as the index does (the range it sets is the index's).
    const bool caseInsensitive =
        std::find(noCase.begin(), noCase.begin() + static_cast<std::ptrdiff_t>(fields.size()), true) !=
        noCase.begin() + static_cast<std::ptrdiff_t>(fields.size());
    key = std::make_unique<TSDBRecordFilter>(columns, values, FColumns, caseInsensitive, false);
    c.SetRange(values, values);
  }
  FMasterLinked = true;
  FMasterEmpty = empty;
  FMasterValues = std::move(values);
  FMasterKeyFields = std::move(keyFields);
  FMasterKey = std::move(key);
  return true;
}

void TSDBTable::FilterChanged() {
  FHasVisible = false;
  MoveFirst();
}

bool TSDBTable::Locate(const std::string& KeyFields, const std::vector<TSDBVariant>& KeyValues,
                       TSDBLocateOptions Options) {
  TSDBTableCursor& c = Need();
  CheckBrowseMode();
  std::unique_ptr<TSDBRecordFilter> key = MakeKeyFilter(KeyFields, KeyValues, Options);
  auto matches = [&] { return key->Matches([&c](int f) { return CursorValue(c, f); }); };
  const TSDBPageItemID here = c.RecordID();
  const bool had = Restricted() ? FHasVisible : c.HasCurrentRecord(), eof = Eof(), bof = Bof();
  Fetched();
  for (MoveFirst(); Restricted() ? FHasVisible : c.HasCurrentRecord();) {
    if (matches()) {
      FEof = FBof = false;
      RecordMoved();
      return true;
    }
    c.Next();
    if (c.Eof() || (Restricted() && !SeekVisible(true))) break;
  }
  // Not found: back where it was.
  if (had) {
    c.GotoRecordID(here);
  } else {
    c.First();
  }
  if (Restricted()) {
    FHasVisible = had;
    FEof = eof;
    FBof = bof;
  }
  return false;
}

bool TSDBTable::Eof() const {
  if (!FCursor || FState == dsInactive) return true;
  return Restricted() ? FEof : FCursor->Eof();
}

bool TSDBTable::Bof() const {
  if (!FCursor || FState == dsInactive) return true;
  return Restricted() ? FBof : FCursor->Bof();
}

TSDBVariant TSDBTable::FieldValue(int Index) const {
  if (!FCursor || FState == dsInactive || Index < 0 || Index >= FieldCount()) return {};
  if (Restricted() && !FHasVisible && FState == dsBrowse) return TSDBVariant(FColumns[static_cast<size_t>(Index)].DataType);
  return CursorValue(*FCursor, Index);
}

void TSDBTable::SetFieldValue(int Index, const TSDBVariant& v) {
  TSDBTableCursor& c = Need();
  if (FState != dsEdit && FState != dsInsert)
    throw ESDBException(kSDBErrNotEditing, "Dataset not in edit or insert mode");
  if (Index < 0 || Index >= FieldCount())
    throw ESDBException(kSDBErrFieldNotFound, "Field '%s' not found", {std::to_string(Index)});
  TSDBVariant value = v;
  if (!value.IsNull() && SDBIsTextType(value.DataType()) && value.AsString().empty()) value.SetNull();
  WriteCursorValue(c, Index, value);
}

void TSDBTable::Insert() {
  TSDBTableCursor& c = Need();
  if (ReadOnly) RaiseReadOnly();
  CheckBrowseMode();
  if (Restricted()) CountVisible(false);  // the count while inserting
  c.Insert();
  FState = dsInsert;
  // A detail record belongs to the master's current record.
  if (FMasterLinked && !FMasterEmpty)
    for (size_t i = 0; i < FMasterKeyFields.size(); ++i)
      WriteCursorValue(c, c.FieldNo(FMasterKeyFields[i]), FMasterValues[i]);
}

void TSDBTable::Edit() {
  TSDBTableCursor& c = Need();
  if (FState != dsBrowse) return;
  if (ReadOnly) RaiseReadOnly();
  if (Restricted() ? !FHasVisible : !c.HasCurrentRecord()) {
    if (Restricted() || c.IsEmpty()) {
      Insert();
      return;
    }
    throw ESDBException(kSDBErrUpdateRecordNotFound, "Record not found");
  }
  if (Restricted()) CountVisible(false);  // the count while editing
  c.Edit();
  FState = dsEdit;
}

void TSDBTable::Post() {
  if (FState != dsEdit && FState != dsInsert) return;
  Need().Post();
  FState = dsBrowse;
  if (!Restricted()) return;
  // The stored record is current; one the filter does not show leaves the view.
  FHasVisible = true;
  FEof = FBof = false;
  if (!Accept()) LeaveHidden();
  RecordMoved();
}

void TSDBTable::Cancel() {
  if (FState != dsEdit && FState != dsInsert) return;
  Need().Cancel();
  FState = dsBrowse;
  RecordMoved();
}

void TSDBTable::Delete() {
  TSDBTableCursor& c = Need();
  if (FState == dsInsert) {
    Cancel();
    return;
  }
  Cancel();
  if (Restricted() ? !FHasVisible : !c.HasCurrentRecord()) return;
  if (ReadOnly) RaiseReadOnly();
  c.Delete();
  if (!Restricted()) return;
  // The cursor is on the neighbour, which the filter may hide.
  FHasVisible = c.HasCurrentRecord();
  FEof = FBof = !FHasVisible;
  if (FHasVisible && !Accept()) LeaveHidden();
  RecordMoved();
}

void TSDBTable::SetRange(const std::vector<TSDBVariant>& StartValues, const std::vector<TSDBVariant>& EndValues) {
  if (Active()) {
    CheckBrowseMode();
    FCursor->SetRange(StartValues, EndValues);
    if (Restricted()) FilterChanged();
    Fetched();
    RecordMoved();
  }
  FHasRange = true;
  FRangeStart = StartValues;
  FRangeEnd = EndValues;
}

void TSDBTable::CancelRange() {
  FHasRange = false;
  FRangeStart.clear();
  FRangeEnd.clear();
  if (Active()) {
    CheckBrowseMode();
    FCursor->CancelRange();
    // A detail goes back to its master's records.
    FMasterLinked = false;
    ApplyMasterLink();
    First();
  }
}

bool TSDBTable::FindKey(const std::vector<TSDBVariant>& KeyValues) {
  TSDBTableCursor& c = Need();
  CheckBrowseMode();
  Fetched();
  if (!Restricted()) {
    const bool found = c.FindKey(KeyValues);
    if (found) RecordMoved();
    return found;
  }
  // The first record with the key that the view shows: Locate over the
  // leading fields of the order.
  const std::vector<std::string> fields = OrderFieldNames();
  if (KeyValues.size() > fields.size()) return c.FindKey(KeyValues);  // raises as the cursor does
  std::string names;
  for (size_t i = 0; i < KeyValues.size(); ++i) names += (i ? ";" : "") + fields[i];
  return Locate(names, KeyValues);
}

bool TSDBTable::FindNearest(const std::vector<TSDBVariant>& KeyValues) {
  TSDBTableCursor& c = Need();
  CheckBrowseMode();
  Fetched();
  const bool found = c.FindNearest(KeyValues);
  if (Restricted()) {
    FHasVisible = found && SeekVisible(true);
    FEof = !FHasVisible;
    FBof = false;
  }
  RecordMoved();
  return Restricted() ? FHasVisible : found;
}

std::vector<std::string> TSDBTable::OrderFieldNames(std::vector<bool>* CaseInsensitive) {
  std::vector<std::string> out;
  if (CaseInsensitive) CaseInsensitive->clear();
  TSDBCursor& raw = Need().Cursor();
  if (raw.CurrentIndexID < 0 || !raw.TableData) return out;
  if (const TSDBIndexDef* d = raw.TableData->IndexDefs().FindByID(raw.CurrentIndexID))
    for (const auto& col : d->FColumns) {
      out.push_back(col.FFieldName);
      if (CaseInsensitive) CaseInsensitive->push_back(col.FCaseInsensitive);
    }
  return out;
}

}  // namespace sdb
