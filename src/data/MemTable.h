// In-memory table: the rows a window prints from. Field definitions of six
// types, rows kept in index order, a cursor with Delphi-style navigation
// (First/Next/Eof), edit buffers, and master-detail views.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <vector>

namespace tessaly {

enum class TFieldType { Unknown, String, Float, Integer, Date, Boolean, Graphic };

// Name of a field type as shown to template authors ("string", "double",
// "int", "date", "bool", "image"; "unknown").
QString FieldTypeName(TFieldType type);

struct TFieldDef {
  QString Name;
  TFieldType DataType = TFieldType::Unknown;
  int Size = 0;
  bool Required = false;
  // The type as the source named it, for the error raised when DataType is
  // Unknown ("strng" in a data file, say).
  QString SourceType;
};

enum class TDataSetState { Inactive, Browse, Edit, Insert };

class TMemTable;

// One column of an open table; reads and writes the current row (or the
// edit buffer while the table is in Edit or Insert state).
class TMemField {
 public:
  const QString& FieldName() const { return FName; }
  TFieldType DataType() const { return FType; }
  int Size() const { return FSize; }
  int Index() const { return FIndex; }

  bool IsNull() const;
  QVariant AsVariant() const;  // invalid QVariant when null
  QString AsString() const;
  double AsFloat() const;
  qint32 AsInteger() const;
  QDateTime AsDateTime() const;
  bool AsBoolean() const;
  QByteArray AsBytes() const;

  void Clear();
  void SetAsVariant(const QVariant& value);
  void SetAsString(const QString& value);
  void SetAsFloat(double value);
  void SetAsInteger(qint32 value);
  void SetAsDateTime(const QDateTime& value);
  void SetAsBoolean(bool value);
  void SetAsBytes(const QByteArray& value);
  // Graphic fields: the file's bytes; raises when the file cannot be read.
  void LoadFromFile(const QString& path);

 private:
  friend class TMemTable;
  TMemField(TMemTable* table, const TFieldDef& def, int index)
      : FTable(table), FName(def.Name), FType(def.DataType), FSize(def.Size), FIndex(index) {}
  [[noreturn]] void ConvertError(const QString& text, const char* kind) const;
  [[noreturn]] void AccessError(const char* kind) const;
  const QVariant& Value() const;
  void Store(QVariant value);

  TMemTable* FTable;
  QString FName;
  TFieldType FType;
  int FSize;
  int FIndex;
};

class TMemTable {
 public:
  explicit TMemTable(QString name = QString());
  ~TMemTable();
  TMemTable(const TMemTable&) = delete;
  TMemTable& operator=(const TMemTable&) = delete;

  const QString& Name() const { return FName; }
  // Conversions of text values follow this locale (the system's by default).
  void SetLocale(const QLocale& locale) { FLocale = locale; }
  const QLocale& Locale() const { return FLocale; }

  // Structure.
  void ClearFieldDefs();
  int FieldDefCount() const { return static_cast<int>(FFieldDefs.size()); }
  const TFieldDef& FieldDef(int i) const { return FFieldDefs.at(static_cast<size_t>(i)); }
  int FindFieldDef(const QString& name) const;  // -1 when absent; letter case ignored
  void AddFieldDef(const QString& name, TFieldType type, int size = 0, bool required = false,
                   const QString& sourceType = QString());
  // Builds the fields from the definitions, discards every row, opens.
  void CreateDataSet();
  void Open();
  void Close();
  bool Active() const { return FState != TDataSetState::Inactive; }
  TDataSetState State() const { return FState; }
  void EmptyDataSet();

  // ";"-separated field names; rows are kept and visited in that order.
  void SetIndexFieldNames(const QString& names);
  const QString& IndexFieldNames() const { return FIndexFieldNames; }
  // Master-detail: only rows whose index fields equal the master fields of
  // the master's current row are visible (matched by position).
  void SetMasterSource(TMemTable* master);
  void SetMasterFields(const QString& names);
  TMemTable* MasterSource() const { return FMaster; }
  const QString& MasterFields() const { return FMasterFields; }

  // Rows.
  void Append();
  void Insert();
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  void First();
  void Last();
  void Next();
  void Prior();
  bool Eof() const;
  bool Bof() const;
  bool IsEmpty() const { return RecordCount() == 0; }
  int RecordCount() const;  // visible rows (a detail counts its master's rows)
  int RecNo() const;        // 1-based position of the current row, 0 when none

  // Fields.
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  TMemField& Field(int i) { return *FFields.at(static_cast<size_t>(i)); }
  TMemField& FieldByName(const QString& name);  // raises when absent
  TMemField* FindField(const QString& name);    // nullptr when absent

  // Bumped whenever rows, structure or position change; views use it to
  // know when to redraw.
  quint64 ChangeStamp() const { return FStamp; }

 private:
  friend class TMemField;
  using Row = std::vector<QVariant>;

  // What a detail's view depends on: no master filter (All), a master
  // without a current row (None), or the master's current key values.
  struct MasterKeyInfo {
    enum Mode { All, None, Key } mode = All;
    std::vector<QVariant> key;
    bool operator==(const MasterKeyInfo& o) const;
  };

  void CheckActive() const;
  void CheckBrowseMode();
  void EnsureView() const;
  MasterKeyInfo CurrentMasterKey() const;
  bool RowLess(const Row& a, const Row& b) const;
  std::vector<int> ResolveFields(const QString& names) const;
  std::vector<QVariant> KeyOf(const Row& r, const std::vector<int>& fields) const;
  int CurrentIndex() const;
  void PlaceRow(const std::shared_ptr<Row>& row);
  void Invalidate() {
    FViewValid = false;
    ++FStamp;
  }
  void DestroyFields();

  QString FName;
  QLocale FLocale;
  std::vector<TFieldDef> FFieldDefs;
  std::vector<std::unique_ptr<TMemField>> FFields;
  TDataSetState FState = TDataSetState::Inactive;

  // All rows in storage order (index order when an index is set).
  std::vector<std::shared_ptr<Row>> FRows;
  QString FIndexFieldNames;
  std::vector<int> FIndexFields;

  TMemTable* FMaster = nullptr;
  QString FMasterFields;
  std::vector<TMemTable*> FDetails;

  // Visible rows (pointers into FRows) and the cursor into them. A
  // detail's view follows the master's current key; it is rebuilt lazily.
  mutable std::vector<std::shared_ptr<Row>> FView;
  mutable bool FViewValid = false;
  mutable MasterKeyInfo FViewMasterKey;
  mutable std::shared_ptr<Row> FCurrent;
  mutable bool FEof = true;
  mutable bool FBof = true;

  // Edit buffer (Edit/Insert) and where an inserted row goes.
  Row FBuffer;
  std::shared_ptr<Row> FEditing;      // row being edited (Edit state)
  std::shared_ptr<Row> FInsertBefore; // Insert: row to insert before (null = end)
  bool FModified = false;
  mutable quint64 FStamp = 0;
};

}  // namespace tessaly
