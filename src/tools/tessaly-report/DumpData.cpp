#include "DumpData.h"

#include <QFileInfo>

#include "MemTable.h"
#include "ReadXml.h"
#include "ReportDataset.h"

namespace tessaly {

namespace {

QString Quote(const QString& s) {
  QString q = s;
  q.replace('\\', QLatin1String("\\\\"));
  q.replace('"', QLatin1String("\\\""));
  q.replace('\r', QLatin1String("\\r"));
  q.replace('\n', QLatin1String("\\n"));
  return '"' + q + '"';
}

QString ValueText(TMemField& f) {
  if (f.IsNull()) return QStringLiteral("null");
  switch (f.DataType()) {
    case TFieldType::String: return Quote(f.AsString());
    case TFieldType::Graphic: return QStringLiteral("<image, %1 bytes>").arg(f.AsBytes().size());
    case TFieldType::Boolean: return f.AsBoolean() ? QStringLiteral("true") : QStringLiteral("false");
    case TFieldType::Date: return f.AsDateTime().date().toString(Qt::ISODate);
    case TFieldType::Float: return QString::number(f.AsFloat(), 'g', 15);
    default: return f.AsString();
  }
}

void DumpTable(const char* key, TMemTable& t, TReportDataset& ds, QTextStream& out) {
  out << "\nTable " << key << " (dataset " << Quote(ds.UserName()) << ")";
  if (!t.Active()) {
    out << ": no fields (closed)\n";
    return;
  }
  out << ": " << t.FieldCount() << (t.FieldCount() == 1 ? " field, " : " fields, ") << t.RecordCount()
      << (t.RecordCount() == 1 ? " row" : " rows");
  if (!t.IndexFieldNames().isEmpty()) out << ", ordered by " << Quote(t.IndexFieldNames());
  if (t.MasterSource()) out << ", detail of the lines through " << Quote(t.MasterFields());
  out << "\n  fields:\n";
  for (int i = 0; i < t.FieldCount(); ++i) {
    TMemField& f = t.Field(i);
    out << "    " << f.FieldName() << "  " << FieldTypeName(f.DataType()) << "  alias "
        << Quote(ds.AliasOf(f.FieldName())) << "\n";
  }
  out << "  rows:\n";
  int n = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    out << "    " << ++n << ":";
    for (int i = 0; i < t.FieldCount(); ++i) out << " " << t.Field(i).FieldName() << "=" << ValueText(t.Field(i));
    out << "\n";
  }
}

}  // namespace

bool DumpData(const QString& path, QTextStream& out) {
  if (!QFileInfo(path).isFile()) return false;
  TMemTable header(QStringLiteral("header")), lines(QStringLiteral("ligne")),
      descriptions(QStringLiteral("ligne_description"));
  TReportDataset dsHeader(QStringLiteral("Données du dossier"), &header);
  TReportDataset dsLines(QStringLiteral("Données des lignes produits"), &lines);
  TReportDataset dsDescriptions(QStringLiteral("Description des lignes produits"), &descriptions);
  descriptions.SetMasterSource(&lines);
  TLectureXmlContext ctx{path, &header, &lines, &descriptions, &dsHeader, &dsLines, &dsDescriptions};
  QString templateName = LectureXml(ctx);
  out << "File: " << path << "\n";
  out << "Template: " << Quote(templateName) << "\n";
  DumpTable("header", header, dsHeader, out);
  DumpTable("ligne", lines, dsLines, out);
  // All line descriptions, not only those of the current line.
  descriptions.SetMasterSource(nullptr);
  DumpTable("ligne_description", descriptions, dsDescriptions, out);
  return true;
}

}  // namespace tessaly
