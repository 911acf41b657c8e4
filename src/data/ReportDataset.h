// A table exposed to report templates under a user name, with the list of
// field aliases ("FieldName=Alias" entries) that templates use to refer to
// its fields. The report engine reads tables only through these bindings.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

class TMemTable;

class TReportDataset {
 public:
  TReportDataset(QString userName, TMemTable* table) : FUserName(std::move(userName)), FTable(table) {}

  const QString& UserName() const { return FUserName; }
  TMemTable* Table() const { return FTable; }
  void SetTable(TMemTable* table) { FTable = table; }

  // Alias entries in the order they were added; entries are never removed
  // by a data load, later entries for the same field take precedence.
  const QStringList& FieldAliases() const { return FFieldAliases; }
  void AddFieldAlias(const QString& fieldName, const QString& alias) {
    FFieldAliases.append(fieldName + '=' + alias);
  }
  void ClearFieldAliases() { FFieldAliases.clear(); }

  // The name templates see for a field: its latest alias, else the field
  // name itself.
  QString AliasOf(const QString& fieldName) const;
  // The field a template name refers to: the latest entry whose alias
  // matches (letter case ignored), else the name itself. Empty when neither
  // an alias nor a field of the table matches.
  QString FieldOf(const QString& alias) const;

  // Called after each data load so that views see the new fields; counts
  // the refreshes for observers.
  void Refresh() { ++FRefreshCount; }
  int RefreshCount() const { return FRefreshCount; }

 private:
  QString FUserName;
  TMemTable* FTable;
  QStringList FFieldAliases;
  int FRefreshCount = 0;
};

}  // namespace tessaly
