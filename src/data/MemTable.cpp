#include "MemTable.h"

#include <QFile>
#include <algorithm>

#include "DataError.h"
#include "LocaleConvert.h"

namespace tessaly {

QString FieldTypeName(TFieldType type) {
  switch (type) {
    case TFieldType::String: return QStringLiteral("string");
    case TFieldType::Float: return QStringLiteral("double");
    case TFieldType::Integer: return QStringLiteral("int");
    case TFieldType::Date: return QStringLiteral("date");
    case TFieldType::Boolean: return QStringLiteral("bool");
    case TFieldType::Graphic: return QStringLiteral("image");
    case TFieldType::Unknown: break;
  }
  return QStringLiteral("unknown");
}

namespace {

bool IsNumber(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::Double:
    case QMetaType::LongLong:
    case QMetaType::Bool:
      return true;
    default:
      return false;
  }
}

// Order of two field values: null first, numbers by value, dates by date,
// texts without letter case first and then with it.
int CompareValues(const QVariant& a, const QVariant& b) {
  bool an = !a.isValid(), bn = !b.isValid();
  if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
  if (IsNumber(a) && IsNumber(b)) {
    double x = a.toDouble(), y = b.toDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.typeId() == QMetaType::QDate && b.typeId() == QMetaType::QDate) {
    QDate x = a.toDate(), y = b.toDate();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.typeId() == QMetaType::QByteArray || b.typeId() == QMetaType::QByteArray) {
    QByteArray x = a.toByteArray(), y = b.toByteArray();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  QString x = a.toString(), y = b.toString();
  int c = QString::compare(x, y, Qt::CaseInsensitive);
  if (c == 0) c = QString::compare(x, y, Qt::CaseSensitive);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

// ---------------------------------------------------------------- TMemField

const QVariant& TMemField::Value() const {
  static const QVariant kNull;
  const TMemTable& t = *FTable;
  t.CheckActive();
  if (t.FState == TDataSetState::Edit || t.FState == TDataSetState::Insert)
    return t.FBuffer[static_cast<size_t>(FIndex)];
  t.EnsureView();
  if (!t.FCurrent) return kNull;
  return (*t.FCurrent)[static_cast<size_t>(FIndex)];
}

void TMemField::Store(QVariant value) {
  TMemTable& t = *FTable;
  t.CheckActive();
  if (t.FState != TDataSetState::Edit && t.FState != TDataSetState::Insert)
    throw EDataError(QStringLiteral("%1: Dataset not in edit or insert mode (field '%2')").arg(t.FName, FName));
  t.FBuffer[static_cast<size_t>(FIndex)] = std::move(value);
  t.FModified = true;
  ++t.FStamp;
}

void TMemField::ConvertError(const QString& text, const char* kind) const {
  throw EDataError(QStringLiteral("'%1' is not a valid %2 value for field '%3'")
                       .arg(text, QLatin1String(kind), FName));
}

void TMemField::AccessError(const char* kind) const {
  throw EDataError(QStringLiteral("Cannot access field '%1' (%2) as type %3")
                       .arg(FName, FieldTypeName(FType), QLatin1String(kind)));
}

bool TMemField::IsNull() const { return !Value().isValid(); }

QVariant TMemField::AsVariant() const { return Value(); }

QString TMemField::AsString() const {
  const QVariant& v = Value();
  if (!v.isValid()) return QString();
  const QLocale& loc = FTable->FLocale;
  switch (FType) {
    case TFieldType::Float: return FloatToText(v.toDouble(), loc);
    case TFieldType::Date: return DateToText(v.toDate(), loc);
    case TFieldType::Boolean: return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case TFieldType::Graphic: return QString::fromLatin1(v.toByteArray());
    default: return v.toString();
  }
}

double TMemField::AsFloat() const {
  const QVariant& v = Value();
  if (!v.isValid()) return 0.0;
  switch (FType) {
    case TFieldType::Float:
    case TFieldType::Integer: return v.toDouble();
    case TFieldType::String: {
      auto f = TextToFloat(v.toString(), FTable->FLocale);
      if (!f) ConvertError(v.toString(), "floating point");
      return *f;
    }
    default: AccessError("Float");
  }
}

qint32 TMemField::AsInteger() const {
  const QVariant& v = Value();
  if (!v.isValid()) return 0;
  switch (FType) {
    case TFieldType::Integer: return v.toInt();
    case TFieldType::Float: return static_cast<qint32>(qRound64(v.toDouble()));
    case TFieldType::Boolean: return v.toBool() ? 1 : 0;
    case TFieldType::String: {
      auto i = TextToInteger(v.toString());
      if (!i) ConvertError(v.toString(), "integer");
      return *i;
    }
    default: AccessError("Integer");
  }
}

QDateTime TMemField::AsDateTime() const {
  const QVariant& v = Value();
  if (!v.isValid()) return QDateTime();
  switch (FType) {
    case TFieldType::Date: return QDateTime(v.toDate(), QTime(0, 0));
    case TFieldType::String: {
      auto d = TextToDate(v.toString(), FTable->FLocale);
      if (!d) ConvertError(v.toString(), "date");
      return QDateTime(*d, QTime(0, 0));
    }
    default: AccessError("DateTime");
  }
}

bool TMemField::AsBoolean() const {
  const QVariant& v = Value();
  if (!v.isValid()) return false;
  switch (FType) {
    case TFieldType::Boolean: return v.toBool();
    case TFieldType::Integer:
    case TFieldType::Float: return v.toDouble() != 0.0;
    case TFieldType::String: {
      auto b = TextToBool(v.toString(), FTable->FLocale);
      if (!b) ConvertError(v.toString(), "boolean");
      return *b;
    }
    default: AccessError("Boolean");
  }
}

QByteArray TMemField::AsBytes() const {
  const QVariant& v = Value();
  if (!v.isValid()) return QByteArray();
  if (FType == TFieldType::Graphic) return v.toByteArray();
  return AsString().toUtf8();
}

void TMemField::Clear() { Store(QVariant()); }

void TMemField::SetAsVariant(const QVariant& value) {
  if (!value.isValid() || value.isNull()) return Clear();
  switch (value.typeId()) {
    case QMetaType::QString: return SetAsString(value.toString());
    case QMetaType::Double:
    case QMetaType::Float: return SetAsFloat(value.toDouble());
    case QMetaType::Int:
    case QMetaType::LongLong: return SetAsInteger(value.toInt());
    case QMetaType::Bool: return SetAsBoolean(value.toBool());
    case QMetaType::QDate: return SetAsDateTime(QDateTime(value.toDate(), QTime(0, 0)));
    case QMetaType::QDateTime: return SetAsDateTime(value.toDateTime());
    case QMetaType::QByteArray: return SetAsBytes(value.toByteArray());
    default: return SetAsString(value.toString());
  }
}

void TMemField::SetAsString(const QString& value) {
  // An empty text clears a field that does not hold texts.
  if (value.isEmpty() && FType != TFieldType::String) return Clear();
  const QLocale& loc = FTable->FLocale;
  switch (FType) {
    case TFieldType::String: return Store(value);
    case TFieldType::Float: {
      auto f = TextToFloat(value, loc);
      if (!f) ConvertError(value, "floating point");
      return Store(*f);
    }
    case TFieldType::Integer: {
      auto i = TextToInteger(value);
      if (!i) ConvertError(value, "integer");
      return Store(*i);
    }
    case TFieldType::Date: {
      auto d = TextToDate(value, loc);
      if (!d) ConvertError(value, "date");
      return Store(*d);
    }
    case TFieldType::Boolean: {
      auto b = TextToBool(value, loc);
      if (!b) ConvertError(value, "boolean");
      return Store(*b);
    }
    case TFieldType::Graphic: return Store(value.toUtf8());
    case TFieldType::Unknown: break;
  }
  AccessError("String");
}

void TMemField::SetAsFloat(double value) {
  switch (FType) {
    case TFieldType::Float: return Store(value);
    case TFieldType::Integer:
      if (value < INT32_MIN - 0.5 || value > INT32_MAX + 0.5)
        ConvertError(FloatToText(value, FTable->FLocale), "integer");
      return Store(static_cast<qint32>(qRound64(value)));
    case TFieldType::String: return Store(FloatToText(value, FTable->FLocale));
    case TFieldType::Boolean: return Store(value != 0.0);
    default: AccessError("Float");
  }
}

void TMemField::SetAsInteger(qint32 value) {
  switch (FType) {
    case TFieldType::Integer: return Store(value);
    case TFieldType::Float: return Store(static_cast<double>(value));
    case TFieldType::String: return Store(QString::number(value));
    case TFieldType::Boolean: return Store(value != 0);
    default: AccessError("Integer");
  }
}

void TMemField::SetAsDateTime(const QDateTime& value) {
  if (!value.isValid()) return Clear();
  switch (FType) {
    case TFieldType::Date: return Store(value.date());
    case TFieldType::String: return Store(DateTimeToText(value, FTable->FLocale));
    default: AccessError("DateTime");
  }
}

void TMemField::SetAsBoolean(bool value) {
  switch (FType) {
    case TFieldType::Boolean: return Store(value);
    case TFieldType::Integer: return Store(value ? 1 : 0);
    case TFieldType::Float: return Store(value ? 1.0 : 0.0);
    case TFieldType::String: return Store(value ? QStringLiteral("True") : QStringLiteral("False"));
    default: AccessError("Boolean");
  }
}

void TMemField::SetAsBytes(const QByteArray& value) {
  if (FType == TFieldType::Graphic) return Store(value);
  if (FType == TFieldType::String) return Store(QString::fromUtf8(value));
  AccessError("Bytes");
}

void TMemField::LoadFromFile(const QString& path) {
  if (FType != TFieldType::Graphic) AccessError("Graphic");
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    throw EDataError(QStringLiteral("Cannot open file \"%1\" for field '%2': %3").arg(path, FName, f.errorString()));
  Store(f.readAll());
}

// ---------------------------------------------------------------- TMemTable

TMemTable::TMemTable(QString name) : FName(std::move(name)), FLocale(QLocale::system()) {}

TMemTable::~TMemTable() {
  if (FMaster) {
    auto& d = FMaster->FDetails;
    d.erase(std::remove(d.begin(), d.end(), this), d.end());
  }
  for (TMemTable* detail : FDetails) detail->FMaster = nullptr;
}

bool TMemTable::MasterKeyInfo::operator==(const MasterKeyInfo& o) const {
  if (mode != o.mode || key.size() != o.key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (CompareValues(key[i], o.key[i]) != 0 || key[i].isValid() != o.key[i].isValid()) return false;
  return true;
}

void TMemTable::CheckActive() const {
  if (FState == TDataSetState::Inactive)
    throw EDataError(QStringLiteral("%1: Cannot perform this operation on a closed dataset").arg(FName));
}

void TMemTable::CheckBrowseMode() {
  CheckActive();
  if (FState == TDataSetState::Edit || FState == TDataSetState::Insert) {
    if (FModified)
      Post();
    else
      Cancel();
  }
}

void TMemTable::ClearFieldDefs() {
  if (Active()) throw EDataError(QStringLiteral("%1: Cannot change the structure of an open dataset").arg(FName));
  FFieldDefs.clear();
  DestroyFields();
}

int TMemTable::FindFieldDef(const QString& name) const {
  for (size_t i = 0; i < FFieldDefs.size(); ++i)
    if (FFieldDefs[i].Name.compare(name, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
  return -1;
}

void TMemTable::AddFieldDef(const QString& name, TFieldType type, int size, bool required,
                            const QString& sourceType) {
  if (Active()) throw EDataError(QStringLiteral("%1: Cannot change the structure of an open dataset").arg(FName));
  if (name.isEmpty()) throw EDataError(QStringLiteral("%1: A field needs a name").arg(FName));
  if (FindFieldDef(name) >= 0) throw EDataError(QStringLiteral("%1: Duplicate field name '%2'").arg(FName, name));
  FFieldDefs.push_back(TFieldDef{name, type, size, required, sourceType});
}

void TMemTable::DestroyFields() {
  FFields.clear();
  FRows.clear();
  FView.clear();
  FCurrent.reset();
  FEditing.reset();
  FInsertBefore.reset();
  FBuffer.clear();
  FIndexFields.clear();
  Invalidate();
}

void TMemTable::CreateDataSet() {
  if (Active()) Close();
  if (FFieldDefs.empty()) throw EDataError(QStringLiteral("%1: No fields defined").arg(FName));
  for (const auto& d : FFieldDefs) {
    if (d.DataType == TFieldType::Unknown) {
      QString word = d.SourceType.isEmpty() ? QString() : QStringLiteral(" '%1'").arg(d.SourceType);
      throw EDataError(QStringLiteral("%1: Field '%2' has an unknown field type%3 "
                                      "(expected string, double, int, date, bool or image)")
                           .arg(FName, d.Name, word));
    }
  }
  DestroyFields();
  for (size_t i = 0; i < FFieldDefs.size(); ++i)
    FFields.push_back(std::unique_ptr<TMemField>(new TMemField(this, FFieldDefs[i], static_cast<int>(i))));
  FState = TDataSetState::Browse;
  FIndexFields = ResolveFields(FIndexFieldNames);
  FEof = FBof = true;
  Invalidate();
}

void TMemTable::Open() {
  if (Active()) return;
  CreateDataSet();
}

void TMemTable::Close() {
  if (!Active()) return;
  FState = TDataSetState::Inactive;
  DestroyFields();
}

void TMemTable::EmptyDataSet() {
  CheckActive();
  FState = TDataSetState::Browse;
  FRows.clear();
  FCurrent.reset();
  FEditing.reset();
  FInsertBefore.reset();
  FEof = FBof = true;
  Invalidate();
}

std::vector<int> TMemTable::ResolveFields(const QString& names) const {
  std::vector<int> out;
  if (!Active()) return out;
  for (const QString& raw : names.split(';', Qt::SkipEmptyParts)) {
    QString n = raw.trimmed();
    if (n.isEmpty()) continue;
    int i = FindFieldDef(n);
    if (i < 0) throw EDataError(QStringLiteral("%1: Field '%2' not found").arg(FName, n));
    out.push_back(i);
  }
  return out;
}

bool TMemTable::RowLess(const Row& a, const Row& b) const {
  for (int f : FIndexFields) {
    int c = CompareValues(a[static_cast<size_t>(f)], b[static_cast<size_t>(f)]);
    if (c != 0) return c < 0;
  }
  return false;
}

void TMemTable::SetIndexFieldNames(const QString& names) {
  if (Active()) CheckBrowseMode();
  std::vector<int> fields = ResolveFields(names);
  FIndexFieldNames = names;
  FIndexFields = std::move(fields);
  if (!FIndexFields.empty())
    std::stable_sort(FRows.begin(), FRows.end(),
                     [this](const std::shared_ptr<Row>& a, const std::shared_ptr<Row>& b) { return RowLess(*a, *b); });
  Invalidate();
  if (Active()) First();
}

void TMemTable::SetMasterSource(TMemTable* master) {
  if (master == this) throw EDataError(QStringLiteral("%1: A table cannot be its own master").arg(FName));
  for (TMemTable* m = master; m; m = m->FMaster)
    if (m == this) throw EDataError(QStringLiteral("%1: Circular master-detail link").arg(FName));
  if (FMaster) {
    auto& d = FMaster->FDetails;
    d.erase(std::remove(d.begin(), d.end(), this), d.end());
  }
  FMaster = master;
  if (master) master->FDetails.push_back(this);
  Invalidate();
}

void TMemTable::SetMasterFields(const QString& names) {
  FMasterFields = names;
  Invalidate();
}

std::vector<QVariant> TMemTable::KeyOf(const Row& r, const std::vector<int>& fields) const {
  std::vector<QVariant> key;
  for (int f : fields) key.push_back(r[static_cast<size_t>(f)]);
  return key;
}

TMemTable::MasterKeyInfo TMemTable::CurrentMasterKey() const {
  MasterKeyInfo info;
  if (!FMaster || !FMaster->Active() || FMasterFields.trimmed().isEmpty() || FIndexFields.empty()) return info;
  std::vector<int> mf = FMaster->ResolveFields(FMasterFields);
  if (mf.empty()) return info;
  const Row* row = nullptr;
  if (FMaster->FState == TDataSetState::Edit || FMaster->FState == TDataSetState::Insert) {
    row = &FMaster->FBuffer;
  } else {
    FMaster->EnsureView();
    if (FMaster->FCurrent) row = FMaster->FCurrent.get();
  }
  if (!row) {
    info.mode = MasterKeyInfo::None;
    return info;
  }
  info.mode = MasterKeyInfo::Key;
  info.key = KeyOf(*row, mf);
  return info;
}

void TMemTable::EnsureView() const {
  if (!Active()) return;
  MasterKeyInfo key = CurrentMasterKey();
  bool masterMoved = !(key == FViewMasterKey);
  if (FViewValid && !masterMoved) return;
  FView.clear();
  if (key.mode == MasterKeyInfo::All) {
    FView = FRows;
  } else if (key.mode == MasterKeyInfo::Key) {
    size_t n = std::min(key.key.size(), FIndexFields.size());
    for (const auto& r : FRows) {
      bool match = true;
      for (size_t i = 0; i < n && match; ++i) {
        const QVariant& v = (*r)[static_cast<size_t>(FIndexFields[i])];
        match = v.isValid() == key.key[i].isValid() && CompareValues(v, key.key[i]) == 0;
      }
      if (match) FView.push_back(r);
    }
  }
  FViewMasterKey = std::move(key);
  FViewValid = true;
  bool found = FCurrent && std::find(FView.begin(), FView.end(), FCurrent) != FView.end();
  if (masterMoved || !found) {
    // A detail starts again at its first row when its master moves.
    FCurrent = FView.empty() ? nullptr : FView.front();
    FBof = true;
    FEof = FView.empty();
  }
}

int TMemTable::CurrentIndex() const {
  EnsureView();
  if (!FCurrent) return -1;
  auto it = std::find(FView.begin(), FView.end(), FCurrent);
  return it == FView.end() ? -1 : static_cast<int>(it - FView.begin());
}

void TMemTable::Append() {
  CheckBrowseMode();
  FBuffer.assign(FFields.size(), QVariant());
  FEditing.reset();
  FInsertBefore.reset();
  FModified = false;
  FState = TDataSetState::Insert;
  ++FStamp;
}

void TMemTable::Insert() {
  CheckBrowseMode();
  EnsureView();
  FBuffer.assign(FFields.size(), QVariant());
  FEditing.reset();
  FInsertBefore = FCurrent;
  FModified = false;
  FState = TDataSetState::Insert;
  ++FStamp;
}

void TMemTable::Edit() {
  CheckActive();
  if (FState == TDataSetState::Edit || FState == TDataSetState::Insert) return;
  EnsureView();
  if (!FCurrent) throw EDataError(QStringLiteral("%1: Cannot perform this operation on an empty dataset").arg(FName));
  FBuffer = *FCurrent;
  FEditing = FCurrent;
  FModified = false;
  FState = TDataSetState::Edit;
  ++FStamp;
}

void TMemTable::PlaceRow(const std::shared_ptr<Row>& row) {
  if (!FIndexFields.empty()) {
    auto pos = std::upper_bound(FRows.begin(), FRows.end(), row,
                                [this](const std::shared_ptr<Row>& a, const std::shared_ptr<Row>& b) {
                                  return RowLess(*a, *b);
                                });
    FRows.insert(pos, row);
    return;
  }
  auto pos = FInsertBefore ? std::find(FRows.begin(), FRows.end(), FInsertBefore) : FRows.end();
  FRows.insert(pos, row);
}

void TMemTable::Post() {
  CheckActive();
  if (FState == TDataSetState::Browse) return;
  for (size_t i = 0; i < FFieldDefs.size(); ++i) {
    if (FFieldDefs[i].Required && !FBuffer[i].isValid())
      throw EDataError(QStringLiteral("%1: Field '%2' must have a value").arg(FName, FFieldDefs[i].Name));
  }
  std::shared_ptr<Row> row;
  if (FState == TDataSetState::Insert) {
    row = std::make_shared<Row>(std::move(FBuffer));
    PlaceRow(row);
  } else {
    row = FEditing;
    *row = std::move(FBuffer);
    if (!FIndexFields.empty()) {
      FRows.erase(std::find(FRows.begin(), FRows.end(), row));
      PlaceRow(row);
    }
  }
  FBuffer.clear();
  FEditing.reset();
  FInsertBefore.reset();
  FState = TDataSetState::Browse;
  FModified = false;
  Invalidate();
  EnsureView();
  if (std::find(FView.begin(), FView.end(), row) != FView.end()) FCurrent = row;
  FEof = FBof = false;
}

void TMemTable::Cancel() {
  CheckActive();
  FBuffer.clear();
  FEditing.reset();
  FInsertBefore.reset();
  FModified = false;
  FState = TDataSetState::Browse;
  ++FStamp;
}

void TMemTable::Delete() {
  CheckActive();
  if (FState == TDataSetState::Insert) return Cancel();
  if (FState == TDataSetState::Edit) Cancel();
  int idx = CurrentIndex();
  if (idx < 0) throw EDataError(QStringLiteral("%1: Cannot perform this operation on an empty dataset").arg(FName));
  std::shared_ptr<Row> victim = FCurrent;
  std::shared_ptr<Row> next;
  if (idx + 1 < static_cast<int>(FView.size()))
    next = FView[static_cast<size_t>(idx) + 1];
  else if (idx > 0)
    next = FView[static_cast<size_t>(idx) - 1];
  FRows.erase(std::find(FRows.begin(), FRows.end(), victim));
  Invalidate();
  FCurrent = next;
  EnsureView();
  FEof = FBof = FView.empty();
}

void TMemTable::First() {
  CheckBrowseMode();
  EnsureView();
  FCurrent = FView.empty() ? nullptr : FView.front();
  FBof = true;
  FEof = FView.empty();
  ++FStamp;
}

void TMemTable::Last() {
  CheckBrowseMode();
  EnsureView();
  FCurrent = FView.empty() ? nullptr : FView.back();
  FEof = true;
  FBof = FView.empty();
  ++FStamp;
}

void TMemTable::Next() {
  CheckBrowseMode();
  int idx = CurrentIndex();
  if (idx >= 0 && idx + 1 < static_cast<int>(FView.size())) {
    FCurrent = FView[static_cast<size_t>(idx) + 1];
    FEof = FBof = false;
  } else {
    FEof = true;
  }
  ++FStamp;
}

void TMemTable::Prior() {
  CheckBrowseMode();
  int idx = CurrentIndex();
  if (idx > 0) {
    FCurrent = FView[static_cast<size_t>(idx) - 1];
    FEof = FBof = false;
  } else {
    FBof = true;
  }
  ++FStamp;
}

bool TMemTable::Eof() const {
  if (!Active()) return true;
  EnsureView();
  return FEof || FView.empty();
}

bool TMemTable::Bof() const {
  if (!Active()) return true;
  EnsureView();
  return FBof || FView.empty();
}

int TMemTable::RecordCount() const {
  if (!Active()) return 0;
  EnsureView();
  return static_cast<int>(FView.size());
}

int TMemTable::RecNo() const { return Active() ? CurrentIndex() + 1 : 0; }

TMemField* TMemTable::FindField(const QString& name) {
  for (auto& f : FFields)
    if (f->FieldName().compare(name, Qt::CaseInsensitive) == 0) return f.get();
  return nullptr;
}

TMemField& TMemTable::FieldByName(const QString& name) {
  if (TMemField* f = FindField(name)) return *f;
  throw EDataError(QStringLiteral("%1: Field '%2' not found").arg(FName, name));
}

}  // namespace tessaly
