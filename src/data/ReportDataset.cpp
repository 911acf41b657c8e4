#include "ReportDataset.h"

#include "MemTable.h"

namespace tessaly {

QString TReportDataset::AliasOf(const QString& fieldName) const {
  for (qsizetype i = FFieldAliases.size() - 1; i >= 0; --i) {
    const QString& e = FFieldAliases[i];
    qsizetype eq = e.indexOf('=');
    if (eq >= 0 && e.left(eq).compare(fieldName, Qt::CaseInsensitive) == 0) return e.mid(eq + 1);
  }
  return fieldName;
}

QString TReportDataset::FieldOf(const QString& alias) const {
  for (qsizetype i = FFieldAliases.size() - 1; i >= 0; --i) {
    const QString& e = FFieldAliases[i];
    qsizetype eq = e.indexOf('=');
    if (eq >= 0 && e.mid(eq + 1).compare(alias, Qt::CaseInsensitive) == 0) return e.left(eq);
  }
  if (FTable && FTable->FindFieldDef(alias) >= 0) return FTable->FieldDef(FTable->FindFieldDef(alias)).Name;
  return QString();
}

}  // namespace tessaly
