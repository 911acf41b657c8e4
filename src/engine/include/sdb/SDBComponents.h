// The engine's components: sessions that group databases, databases that
// connect to one database file, and datasets (queries and tables) that name
// a database and read or change its data. Applications reach the engine
// only through these classes; dialogs (password, repair questions) are
// supplied by the application through the hooks of TSDBDatabase.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdb/SDBText.h"
#include "sdb/SDBCryptoAlgorithm.h"
#include "sdb/SDBDurability.h"
#include "sdb/SDBFieldTypes.h"
#include "sdb/SDBTableDefs.h"
#include "sdb/SDBVariant.h"

namespace sdb {

class TSDBSession;
class TSDBDatabase;
class TSDBDataSet;
class TSDBSQLProcessor;
class TSDBTableCursor;
class TSDBDataSource;
class TSDBMemoryConnection;
// Engine internals the components hold only by pointer or reference.
class TSDBConnectionHandle;
class TSDBExecConnection;
class TSDBResultSet;
struct TSDBResultColumn;
class TSDBSQLParams;
class TSDBRecordFilter;

// The engine version the components report ("7.92 ").
inline constexpr const char* kSDBCurrentVersionText = "7.92 ";

// ---- Sessions ------------------------------------------------------------------------------

// The thread-safe list of the process's sessions; created at engine
// start-up with the default session "Default".
class TSDBSessionList {
 public:
  static TSDBSessionList& Instance();
  // The session of that name (empty: the default session); "Invalid
  // session name '%s'" (20002) when there is none.
  TSDBSession& FindSession(const std::string& Name);
  TSDBSession* FindSessionOrNull(const std::string& Name);
  TSDBSession& DefaultSession() { return *FDefault; }
  std::vector<std::string> GetSessionNames();

 private:
  friend class TSDBSession;
  TSDBSessionList();
  void Add(TSDBSession* s);
  void Remove(TSDBSession* s);
  std::recursive_mutex FLock;
  std::vector<TSDBSession*> FSessions;
  std::unique_ptr<TSDBSession> FDefault;
};

// The default session ("Default").
TSDBSession& SDBDefaultSession();

class TSDBSession {
 public:
  explicit TSDBSession(const std::string& SessionName = {});
  ~TSDBSession();
  TSDBSession(const TSDBSession&) = delete;
  TSDBSession& operator=(const TSDBSession&) = delete;

  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(const std::string& Name);
  bool Active() const { return FActive; }
  // Activates the session (OnStartup runs on the first activation).
  void Open();
  void Close();
  bool KeepConnections = true;
  bool AutoSessionName = false;
  std::function<void(TSDBSession&)> OnStartup;

  // Opens the database of that name (a temporary one when no component has
  // that name) and takes a reference; CloseDatabase releases it.
  TSDBDatabase& OpenDatabase(const std::string& DatabaseName, const void* Owner = nullptr);
  void CloseDatabase(TSDBDatabase& Database);
  // The database of that name (case-insensitive), or null.
  TSDBDatabase* FindDatabase(const std::string& DatabaseName, const void* Owner = nullptr);
  std::vector<std::string> GetDatabaseNames();
  std::vector<std::string> GetTableNames(const std::string& DatabaseName);
  // Closes every database that no dataset uses.
  void DropConnections();
  int DatabaseCount();

  std::recursive_mutex& Lock() { return FLock; }

 private:
  friend class TSDBDatabase;
  friend class TSDBSessionList;
  TSDBSession(const std::string& SessionName, TSDBSessionList& List);
  void AddDatabase(TSDBDatabase* db);
  void RemoveDatabase(TSDBDatabase* db);
  std::string FSessionName;
  bool FActive = false;
  std::recursive_mutex FLock;
  std::vector<TSDBDatabase*> FDatabases;
  std::vector<std::unique_ptr<TSDBDatabase>> FTemporary;  // databases the session created
};

// ---- Database ---------------------------------------------------------------------------------

class TSDBDatabase {
 public:
  // A database of the session (the default session when null). `Owner`
  // marks the component that owns it (HandleShared lookups compare it).
  explicit TSDBDatabase(TSDBSession* Session = nullptr, const void* Owner = nullptr);
  ~TSDBDatabase();
  TSDBDatabase(const TSDBDatabase&) = delete;
  TSDBDatabase& operator=(const TSDBDatabase&) = delete;

  // Published properties.
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(const std::string& Name);
  const std::string& DatabaseFileName() const { return FDatabaseFileName; }
  void SetDatabaseFileName(const std::string& FileName);
  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(const std::string& Name);
  bool KeepConnection() const { return FKeepConnection; }
  void SetKeepConnection(bool v);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool v) { FReadOnly = v; }
  int32_t MaxConnections() const { return FMaxConnections; }
  void SetMaxConnections(int32_t v) { FMaxConnections = v; }
  bool Connected() const { return FHandle != nullptr || FSharedHandle != nullptr; }
  void SetConnected(bool v) { v ? Open() : Close(); }
  const char* CurrentVersion() const { return kSDBCurrentVersionText; }

  std::string Password;
  bool Exclusive = false;
  bool MultiUser = false;
  bool HandleShared = false;
  bool SilentMode = false;
  bool DisableTempFiles = false;
  // How much commits flush: off, normal or full (see SDBJournal.h).
  TSDBDurability Durability = SDBDefaultDurability();
  // Used when a file is created.
  uint16_t PageSize = 4096;
  uint16_t PagesPerExtent = 8;
  TSDBCryptoAlgorithm CryptoAlgorithm = craRijndael_128;

  // Events. OnPassword answers whether a new Password was set (and the
  // connect should be tried again); OnNeedRepair answers the repair
  // question; the information and warning hooks show texts.
  std::function<bool(TSDBDatabase&)> OnPassword;
  std::function<bool(TSDBDatabase&)> OnNeedRepair;
  std::function<void(TSDBDatabase&, int Percent)> OnRepairProgress;
  std::function<void(TSDBDatabase&, int Percent)> OnCompactProgress;
  std::function<void(TSDBDatabase&, int Percent)> OnChangePasswordProgress;
  std::function<void(TSDBDatabase&, int Percent)> OnChangeDatabaseSettingsProgress;
  // The dialogs the engine would show without the events above: the
  // password dialog (answers whether OK was pressed after setting Password),
  // the Yes/No repair question, information and warning boxes. Null: the
  // dialog is not available and the answer is Cancel / No.
  std::function<bool(TSDBDatabase&)> PasswordDialog;
  std::function<bool(const std::string& Question)> ConfirmDialog;
  std::function<void(const std::string& Text)> InformationBox;
  std::function<void(const std::string& Text)> WarningBox;

  void Open();
  void Close();
  // Creates the file at DatabaseFileName with the creation settings.
  void CreateDatabase();
  // Rebuilds what the file layer can rebuild; returns the repair log (the
  // problems found, one per line). Summary, when given, receives a readable
  // account of what was done.
  std::string RepairDatabase(std::string* Summary = nullptr);
  // Copies the tables into a fresh file put in place of the original;
  // returns a readable account of the sizes before and after.
  std::string CompactDatabase();
  // Copies the file to DestFileName while other processes may be using it
  // (open or closed here): the copy holds the last finished commit and is
  // written under a temporary name, then renamed. Returns its size in bytes.
  int64_t BackupDatabase(const std::string& DestFileName);
  // The file operations below need the database closed ("Cannot perform
  // this operation on an open database") and its file closed by everyone.
  // A new password (empty: no cipher) is written by rewriting the file
  // under it; the file is left as it was when that fails.
  void ChangePassword(const std::string& NewPassword);
  // Rewrites the file with the cipher, page size and pages per extent of
  // the properties above (the password stays).
  void ChangeDatabaseSettings();
  // Removes the file ("Database file '%s' does not exist" when absent).
  void DeleteDatabase();
  // Moves the file to NewFileName, which must not exist, and points
  // DatabaseFileName at it.
  void RenameDatabase(const std::string& NewFileName);
  // Cuts the free pages after the last page in use off the end of the
  // file. Like the file operations above it needs the database closed and
  // the file closed by everyone, and refuses a file that needs repair.
  void TruncateDatabase();
  // Flushes the operating system's buffers of the open file to the disk.
  void FlushBuffers();
  std::vector<std::string> GetTablesList();
  bool TableExists(const std::string& TableName);
  void StartTransaction();
  void Commit(bool Flush = false);
  void Rollback();
  bool InTransaction() const;
  void CloseDataSets();

  // Runtime state.
  // Whether the open file still needs repair (its repair was declined or
  // not offered); false when not connected.
  bool RepairNeeded() const;
  bool Temporary() const { return FTemporary; }
  int RefCount() const { return FRefCount; }
  const void* Owner() const { return FOwner; }
  TSDBSession& Session();
  // The connection handle (raises when not connected).
  TSDBConnectionHandle& Handle();

 private:
  friend class TSDBSession;
  friend class TSDBDataSet;
  void ConnectHandle();
  void CheckClosedWithFile() const;
  void AddDataSet(TSDBDataSet* ds);
  void RemoveDataSet(TSDBDataSet* ds);

  std::string FDatabaseName;
  std::string FDatabaseFileName;
  std::string FSessionName;
  bool FKeepConnection = true;
  bool FReadOnly = false;
  int32_t FMaxConnections = 500;
  bool FTemporary = false;
  bool FRepairing = false;
  int FRefCount = 0;
  const void* FOwner;
  TSDBSession* FSession = nullptr;
  std::unique_ptr<TSDBConnectionHandle> FHandle;
  TSDBConnectionHandle* FSharedHandle = nullptr;  // taken over from another database
  std::vector<TSDBDataSet*> FDataSets;
};

// ---- Datasets --------------------------------------------------------------------------------

// A column of an open dataset; reads the current row.
class TSDBField {
 public:
  TSDBField(TSDBDataSet* DataSet, int Index) : FDataSet(DataSet), FIndex(Index) {}
  const std::string& FieldName() const;
  TSDBBaseFieldType DataType() const;
  int Index() const { return FIndex; }
  TSDBVariant Value() const;
  bool IsNull() const { return Value().IsNull(); }
  std::string AsString() const;  // UTF-8; empty for null
  int64_t AsInteger() const;     // 0 for null
  double AsFloat() const;        // 0 for null
  bool AsBoolean() const;        // false for null
  // Changes the value in the record being edited or inserted.
  void SetValue(const TSDBVariant& v);
  // UTF-8 text, converted for the column when it is stored.
  void SetAsString(const std::string& v) { SetValue(SDBTextValue(v)); }
  void SetAsInteger(int64_t v) { SetValue(TSDBVariant::FromInt(v)); }
  void Clear() { SetValue(TSDBVariant()); }

 private:
  TSDBDataSet* FDataSet;
  int FIndex;
};

enum TSDBDataSetState : uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert };

// How a filter compares texts: without regard to case; and whether a text
// constant ending in "*" stands for itself (foNoPartialCompare) rather than
// for every text that starts with what precedes the "*".
enum TSDBFilterOption : uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TSDBFilterOptions = uint8_t;
// How Locate compares texts: without regard to case; a value as a prefix.
enum TSDBLocateOption : uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TSDBLocateOptions = uint8_t;

// The base of queries and tables. Rows are reached through the virtual
// reading and changing methods below: the base reads them from an
// in-memory result (a query's), a table overrides them to read through its
// table cursor, so that a table is never loaded as a whole.
class TSDBDataSet {
 public:
  explicit TSDBDataSet(const void* Owner = nullptr);
  virtual ~TSDBDataSet();
  TSDBDataSet(const TSDBDataSet&) = delete;
  TSDBDataSet& operator=(const TSDBDataSet&) = delete;

  std::string DatabaseName;
  std::string SessionName;
  bool InMemory = false;
  bool ReadOnly = false;
  bool AutoCalcFields = true;

  // The filter: a search condition over the dataset's fields, written as
  // in a WHERE clause (UTF-8), e.g. "NAME = 'Été' AND QTY > 3". While
  // Filtered is on and the text is not blank, navigation, RecordCount,
  // RecNo and Locate see only the records that satisfy it; a record
  // changed so that it no longer does is hidden after Post. Changing any of
  // the three on an open dataset applies the filter again from the first
  // record; a text that is not a valid condition over the fields raises
  // "Invalid filter expression ..." and changes nothing.
  const std::string& Filter() const { return FFilterText; }
  void SetFilter(const std::string& Text);
  bool Filtered() const { return FFiltered; }
  void SetFiltered(bool On);
  TSDBFilterOptions FilterOptions() const { return FFilterOptions; }
  void SetFilterOptions(TSDBFilterOptions Options);

  bool Active() const { return FState != dsInactive; }
  void SetActive(bool v) { v ? Open() : Close(); }
  TSDBDataSetState State() const { return FState; }
  virtual void Open() = 0;
  virtual void Close();

  // Reading. Moving while a record is edited or inserted posts it first.
  virtual int64_t RecordCount() const;
  // 1-based; 0 when there is no current record.
  virtual int64_t RecNo() const;
  virtual void First();
  virtual void Next();
  virtual void Prior();
  virtual void Last();
  virtual bool Eof() const { return FEof; }
  virtual bool Bof() const { return FBof; }
  // Whether there is a current record (none in an empty view).
  virtual bool HasCurrentRecord() const {
    return FState == dsEdit || FState == dsInsert || (FState == dsBrowse && RowVisible(FRow));
  }
  // Moves to the first record (in the current order, among those the
  // filter shows) whose fields (";" separated names) equal the values; a
  // null value matches a null field. The position is kept when none does.
  virtual bool Locate(const std::string& KeyFields, const std::vector<TSDBVariant>& KeyValues,
                      TSDBLocateOptions Options = 0);
  int FieldCount() const;
  TSDBField& Fields(int Index);
  TSDBField& FieldByName(const std::string& Name);
  TSDBField* FindField(const std::string& Name);
  virtual TSDBVariant FieldValue(int Index) const;
  // The in-memory rows of a query (null for a table).
  const TSDBResultSet* Result() const { return FResult.get(); }
  const std::vector<TSDBResultColumn>& Columns() const { return FColumns; }

  // Changing. A dataset that cannot be changed raises "Cannot modify a
  // read-only dataset". Edit on an empty dataset inserts.
  virtual void Insert();
  void Append() { Insert(); }
  virtual void Edit();
  virtual void Post();
  virtual void Cancel();
  virtual void Delete();

  // The database the dataset uses (valid while it uses one).
  TSDBDatabase* Database() const { return FDatabase; }

 protected:
  friend class TSDBField;
  // Database use flags: the first one set finds and opens the database,
  // the last one cleared releases it.
  enum TSDBUseFlag : uint8_t { ufOpened = 1, ufExecuting = 2 };
  void SetUseFlag(uint8_t Flag);
  void ClearUseFlag(uint8_t Flag);
  void BindResult(std::shared_ptr<TSDBResultSet> Result);
  // Makes one field per column.
  void BindColumns(std::vector<TSDBResultColumn> Columns);
  virtual void SetFieldValue(int Index, const TSDBVariant& v);
  // Posts a pending insert or edit (before moving or changing the order).
  void CheckBrowseMode();
  [[noreturn]] static void RaiseReadOnly();
  void CheckActive() const;
  // The filter for the current properties and columns (null when it shows
  // every record); raises for an invalid text.
  std::unique_ptr<TSDBRecordFilter> MakeFilter() const;
  // The condition of Locate over the named fields.
  std::unique_ptr<TSDBRecordFilter> MakeKeyFilter(const std::string& KeyFields, const std::vector<TSDBVariant>& KeyValues,
                                                  TSDBLocateOptions Options);
  // Applies a new filter to an open dataset (the view starts again from
  // its first record).
  virtual void FilterChanged();
  // The source this dataset follows (a query's DataSource, a table's
  // MasterSource); "Circular data links are not allowed" when the source's
  // dataset follows this one, directly or through others.
  void SetLinkSource(TSDBDataSource* Source);
  TSDBDataSource* LinkSource() const { return FLinkSource; }
  // The dataset behind the link when it is open, else null.
  TSDBDataSet* LinkedMaster() const;
  // Tells the datasets that follow this one that its current record may
  // have changed (after moving, posting, deleting, opening and closing).
  void RecordMoved();
  // A dataset following a source: the source's current record may have
  // changed.
  virtual void MasterChanged() {}
  // Rows of an in-memory result: whether the filter shows the row.
  bool RowVisible(int64_t Row) const;
  bool RowMatches(int64_t Row) const;
  int64_t RowTotal() const;
  // The visible row after (Forward) or before Row; -1 when none.
  int64_t NextVisibleRow(int64_t Row, bool Forward) const;

  const void* FOwner;
  TSDBDataSetState FState = dsInactive;
  uint8_t FUseFlags = 0;
  TSDBDatabase* FDatabase = nullptr;
  std::shared_ptr<TSDBResultSet> FResult;
  std::vector<TSDBResultColumn> FColumns;
  std::vector<std::unique_ptr<TSDBField>> FFields;
  int64_t FRow = 0;
  bool FEof = true;
  bool FBof = true;
  std::unique_ptr<TSDBRecordFilter> FFilter;  // the applied filter (open datasets)
  std::vector<bool> FRowVisible;               // per row of an in-memory result, while filtered

 private:
  friend class TSDBDatabase;
  friend class TSDBDataSource;
  void ChangeFilter(const std::string& Text, bool On, TSDBFilterOptions Options);
  TSDBDataSource* FLinkSource = nullptr;
  std::vector<TSDBDataSource*> FSourcesOfThis;  // sources whose dataset is this one
  bool FNotifying = false;
  std::string FFilterText;
  bool FFiltered = false;
  TSDBFilterOptions FFilterOptions = 0;
};

// Links a dataset to the datasets that follow its current record: a
// query's parameters (TSDBQuery::SetDataSource), a detail table
// (TSDBTable::SetMasterSource). Either side may be destroyed first.
class TSDBDataSource {
 public:
  explicit TSDBDataSource(TSDBDataSet* DataSet = nullptr);
  ~TSDBDataSource();
  TSDBDataSource(const TSDBDataSource&) = delete;
  TSDBDataSource& operator=(const TSDBDataSource&) = delete;
  TSDBDataSet* DataSet() const { return FDataSet; }
  void SetDataSet(TSDBDataSet* DataSet);

 private:
  friend class TSDBDataSet;
  TSDBDataSet* FDataSet = nullptr;
  std::vector<TSDBDataSet*> FLinked;  // datasets following this source
};

// Parameter data types of a query (the field types the conversion to
// engine values distinguishes).
enum TSDBParamType : uint8_t {
  ftUnknown, ftString, ftWideString, ftSmallint, ftInteger, ftWord, ftLargeint, ftBoolean, ftFloat,
  ftCurrency, ftBCD, ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftBlob, ftGraphic, ftMemo,
  ftFmtMemo, ftWideMemo,
};

class TSDBParam {
 public:
  explicit TSDBParam(std::string Name = {}) : Name(std::move(Name)) {}
  std::string Name;
  TSDBParamType DataType = ftUnknown;
  TSDBVariant Value;
  bool IsNull() const { return Value.IsNull(); }
  void Clear() { Value.SetNull(); }
  // Texts are UTF-8, converted for the column they reach.
  void SetAsString(const std::string& v) { DataType = ftString; Value = SDBTextValue(v); }
  void SetAsWideString(const std::u16string& v) { DataType = ftWideString; Value = TSDBVariant::FromWideString(v); }
  void SetAsInteger(int32_t v) { DataType = ftInteger; Value = TSDBVariant::FromInt(v, bftSignedInt32); }
  void SetAsLargeInt(int64_t v) { DataType = ftLargeint; Value = TSDBVariant::FromInt(v); }
  void SetAsFloat(double v) { DataType = ftFloat; Value = TSDBVariant::FromDouble(v); }
  void SetAsBoolean(bool v) { DataType = ftBoolean; Value = TSDBVariant::FromBool(v); }
  void SetAsDateTime(double v) { DataType = ftDateTime; Value = TSDBVariant::FromDateTime(v); }
  void SetAsDate(double v) { DataType = ftDate; Value = TSDBVariant::FromDateTime(v, bftDate); }
  void SetAsTime(double v) { DataType = ftTime; Value = TSDBVariant::FromDateTime(v, bftTime); }
  void SetAsMemo(const std::string& v) { DataType = ftMemo; Value = SDBTextValue(v, bftClob); }
  void SetAsBlob(const std::string& v) { DataType = ftBlob; Value = TSDBVariant::FromBytes(v, bftBlob); }
  std::string AsString() const { return SDBValueUtf8(Value); }
  int64_t AsInteger() const { return Value.IsNull() ? 0 : Value.AsInt64(); }
};

class TSDBParams {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TSDBParam& operator[](int i) { return FItems.at(static_cast<size_t>(i)); }
  const TSDBParam& operator[](int i) const { return FItems.at(static_cast<size_t>(i)); }
  TSDBParam* FindParam(const std::string& Name);
  // "Parameter '%s' not found" when absent.
  TSDBParam& ParamByName(const std::string& Name);
  TSDBParam& Add(const std::string& Name) { return FItems.emplace_back(Name); }
  void Clear() { FItems.clear(); }

 private:
  std::vector<TSDBParam> FItems;
};

// The engine parameter list built from a query's parameters.
void SDBConvertParams(const TSDBParams& From, TSDBSQLParams& To);
// The parameter names of a text, in order of appearance, one per distinct
// name; a ":" inside double quotes is no parameter.
std::vector<std::string> SDBParseParamNames(const std::string& Text);

class TSDBQuery : public TSDBDataSet {
 public:
  explicit TSDBQuery(const void* Owner = nullptr);
  ~TSDBQuery() override;

  // SQL lines. Changing them closes and unprepares the query and, with
  // ParamCheck, rebuilds Params (values of same-named parameters kept).
  const std::vector<std::string>& SQL() const;
  void SetSQL(const std::vector<std::string>& Lines);
  void SetSQL(const std::string& Text);
  void AddSQL(const std::string& Line);
  void ClearSQL();
  std::string Text() const;

  TSDBParams Params;
  TSDBParam& ParamByName(const std::string& Name) { return Params.ParamByName(Name); }
  bool ParamCheck = true;
  bool RequestLive = false;
  // Parameters never set take the values of the same-named fields of the
  // source's current record; an open query runs again when those values
  // change.
  TSDBDataSource* DataSource() const { return LinkSource(); }
  void SetDataSource(TSDBDataSource* Source);

  bool Prepared() const { return FProcessor != nullptr; }
  void Prepare();
  void UnPrepare();
  void ExecSQL();
  void Open() override;
  // Runs the text once: true and the dataset open on the last command's
  // result when it has one, false (dataset closed, RowsAffected set) when
  // it has none.
  bool OpenOrExec();
  void Close() override;
  // -1 before any run.
  int RowsAffected() const;
  // The operator tree and index choice of the text's first query.
  std::string Plan();

  // A live result (RequestLive, one base table) is changed through a table
  // cursor on that table, positioned on the row's record: the record locks
  // and engine errors are the table's, and a record another session
  // changed or deleted since the query ran is left alone (-4 .. -7). After
  // Post the row shows the stored values; an inserted row is added at the
  // end. Any other result is read-only.
  bool CanModify() const;
  void First() override;
  void Next() override;
  void Prior() override;
  void Last() override;
  TSDBVariant FieldValue(int Index) const override;
  void Insert() override;
  void Edit() override;
  void Post() override;
  void Cancel() override;
  void Delete() override;

 protected:
  void SetFieldValue(int Index, const TSDBVariant& v) override;
  void MasterChanged() override;

 private:
  // The statement executor reaches the query's connections through this
  // host (defined with the query's code).
  class TExecHost;
  TSDBExecConnection& Connection(const std::string& DatabaseFileName, const std::string& Password);
  TSDBExecConnection& MemoryConnection();
  void SQLChanged();
  std::shared_ptr<TSDBResultSet> RunText(bool WantResult);
  // Params with the source's values in the parameters never set; the
  // values taken are kept in Taken.
  TSDBParams LinkedParams(std::vector<TSDBVariant>& Taken) const;
  std::vector<TSDBVariant> FTakenValues;  // source values of the last run
  void BindQueryResult(std::shared_ptr<TSDBResultSet> Result);
  void CloseLiveCursor() noexcept;
  // Raises unless the current row can be changed: "Cannot modify a
  // read-only dataset" for a read-only database or dataset, and for a
  // result that is not live (a temporary table of copied rows, which no
  // change could reach) engine error -10 on delete, -9 otherwise.
  void CheckModify(bool ForDelete = false) const;
  // The cursor on the live table (opened on first use).
  TSDBTableCursor& LiveCursor();
  // Puts the live cursor on the current row's record and checks that the
  // record still holds the row's values (errors of an update or a delete).
  void PositionLive(bool ForDelete);
  std::vector<TSDBVariant> LiveRow();
  // The row From when visible, else the next visible row, else the one
  // before it (Eof and Bof when there is none).
  void MoveToVisibleRow(int64_t From);
  // The text as one string, and its lines, split from it only when asked
  // for (a text set in one piece is run far more often than read back).
  std::string FText;
  mutable std::vector<std::string> FSQL;
  mutable bool FLinesPending = false;
  std::vector<std::unique_ptr<TSDBConnectionHandle>> FOtherConnections;
  std::unique_ptr<TSDBMemoryConnection> FMemory;
  std::unique_ptr<TExecHost> FExecHost;
  std::unique_ptr<TSDBSQLProcessor> FProcessor;
  int64_t FLastRowsAffected = -1;
  // Connections handed to the processor during the last run, in order.
  std::vector<TSDBExecConnection*> FConnectionsUsed;
  TSDBExecConnection* FLiveConnection = nullptr;
  std::unique_ptr<TSDBTableCursor> FLiveCursor;
  std::vector<int> FLiveFields;  // table field of each column
};

class TSDBTable : public TSDBDataSet {
 public:
  explicit TSDBTable(const void* Owner = nullptr);
  ~TSDBTable() override;

  std::string TableName;
  // Order of the records: an index by name or by its column list (";"
  // separated); empty: physical order. Taken at Open; the setters below
  // also reorder an open table.
  std::string IndexName;
  std::string IndexFieldNames;
  bool Exclusive = false;
  void SetIndexName(const std::string& Name);
  void SetIndexFieldNames(const std::string& Names);
  // Master/detail: the table shows only the records whose leading order
  // fields equal the MasterFields (";" separated) of the source's current
  // record, and follows it as it moves; a record inserted takes those
  // values. No record shows while the source is empty or a value is null.
  // "MasterFields ... do not fit the index fields ..." when there are more
  // master fields than order fields.
  TSDBDataSource* MasterSource() const { return LinkSource(); }
  void SetMasterSource(TSDBDataSource* Source);
  const std::string& MasterFields() const { return FMasterFields; }
  void SetMasterFields(const std::string& Fields);

  void Open() override;
  void Close() override;
  bool Exists();
  // Re-reads the current record (the first one when it is gone).
  void Refresh();

  // The table's definitions: filled when the table opens and by
  // UpdateDefs; set by the caller before CreateTable.
  TSDBTableFieldDefs FieldDefs;
  TSDBTableIndexDefs IndexDefs;
  // Whether the definitions belong to the component's saved form; the
  // engine never reads it.
  bool StoreDefs = false;
  // Fills FieldDefs and IndexDefs from the table (open or not).
  void UpdateDefs();
  // Creates TableName from FieldDefs and IndexDefs: a required field and
  // the fields of a primary index are NOT NULL, a primary or unique index
  // also a constraint. The definitions are checked before anything is
  // written (a field without a name or a known type, a text without a
  // size, a name given twice, an index on a field the table does not
  // have); an existing table is refused ("Cannot create table. Table '%s'
  // already exists").
  void CreateTable();
  // Adds an index (filled from the records) / removes one, open or closed.
  void AddIndex(const std::string& Name, const std::string& Fields, uint8_t Options = 0,
                const std::string& DescFields = {}, const std::string& CaseInsFields = {});
  void DeleteIndex(const std::string& Name);
  // These need the table closed ("Cannot perform this operation on an open
  // dataset") and open by nobody else. RenameTable also sets TableName.
  void EmptyTable();
  void DeleteTable();
  void RenameTable(const std::string& NewTableName);

  int64_t RecordCount() const override;
  int64_t RecNo() const override;
  void First() override;
  void Next() override;
  void Prior() override;
  void Last() override;
  bool Eof() const override;
  bool Bof() const override;
  bool HasCurrentRecord() const override;
  bool Locate(const std::string& KeyFields, const std::vector<TSDBVariant>& KeyValues,
              TSDBLocateOptions Options = 0) override;
  TSDBVariant FieldValue(int Index) const override;

  void Insert() override;
  void Edit() override;
  void Post() override;
  void Cancel() override;
  void Delete() override;
  // Restricts the records to those whose leading index columns lie between
  // the two key lists (inclusive, in index order; an empty list leaves that
  // side open); CancelRange lifts it. Needs an index order.
  void SetRange(const std::vector<TSDBVariant>& StartValues, const std::vector<TSDBVariant>& EndValues);
  void CancelRange();
  // The first record whose leading index columns equal the values (the
  // position is kept when there is none) ...
  bool FindKey(const std::vector<TSDBVariant>& KeyValues);
  // ... or the first at or after them (Eof when none is).
  bool FindNearest(const std::vector<TSDBVariant>& KeyValues);

  // Records fetched from the table by navigation since Open (the table is
  // read record by record; a component that loaded it would show it here).
  int64_t RowsFetched() const { return FRowsFetched; }
  // The cursor of an open table (null when closed).
  TSDBTableCursor* Cursor() const { return FCursor.get(); }

 protected:
  void SetFieldValue(int Index, const TSDBVariant& v) override;
  void MasterChanged() override;

 private:
  void ApplyOrder();
  // Runs Op with the database in use (the table's own when open).
  void WithDatabase(const std::function<void(TSDBDatabase&)>& Op);
  void CheckInactive() const;
  // Restricts the cursor to the master's key (or lifts the restriction);
  // answers whether the view changed.
  bool ApplyMasterLink();
  std::string FMasterFields;
  bool FMasterLinked = false;  // the view follows an open master
  bool FMasterEmpty = false;   // ... which has no key: nothing shows
  std::vector<TSDBVariant> FMasterValues;
  std::vector<std::string> FMasterKeyFields;
  std::unique_ptr<TSDBRecordFilter> FMasterKey;
  void FilterChanged() override;
  // Whether some records are hidden from the view (navigation then walks
  // the cursor and keeps its own Bof, Eof and current-record state).
  bool Restricted() const { return FFilter != nullptr || FMasterLinked; }
  bool Accept();
  // From the cursor's record on, in one direction, to the first record the
  // view shows; false when none is left (the cursor is then off the view).
  bool SeekVisible(bool Forward);
  // The current record left the view: the next visible one, else the one
  // before, else none.
  void LeaveHidden();
  void MoveFirst();
  void MoveLast();
  void Step(bool Forward);
  // Counts visible records from the first up to the current one (Upto) or
  // all of them, keeping the position.
  int64_t CountVisible(bool UptoCurrent);
  // The fields of the current index order; CaseInsensitive, when given,
  // tells for each whether the index compares it without regard to case.
  std::vector<std::string> OrderFieldNames(std::vector<bool>* CaseInsensitive = nullptr);
  // Sets both order properties and reorders an open table (restoring them
  // when the new order cannot be applied).
  void ChangeOrder(const std::string& Name, const std::string& FieldNames);
  TSDBTableCursor& Need() const;
  void Fetched() const { ++FRowsFetched; }
  std::unique_ptr<TSDBTableCursor> FCursor;
  bool FHasRange = false;
  std::vector<TSDBVariant> FRangeStart, FRangeEnd;
  mutable int64_t FRowsFetched = 0;
  bool FHasVisible = false;  // a current record in the view (restricted views)
  // The count of a restricted view, taken when editing or inserting
  // begins: while a record is edited or inserted the view cannot be walked.
  int64_t FVisibleCount = 0;
};

}  // namespace sdb
