#include "Render.h"

#include <QFileInfo>

#include "DataError.h"
#include "MemTable.h"
#include "ReadXml.h"
#include "Report.h"
#include "ReportDataset.h"
#include "ReportExport.h"
#include "ReportModel.h"

namespace tessaly {

namespace {

struct ConfigField {
  const char* name;
  TFieldType type;
  int size;
  const char* alias;
};
const ConfigField kConfigFields[] = {
    {"Logo", TFieldType::Graphic, 0, "Logo"},
    {"CGV", TFieldType::String, 255, "CGV"},
    {"QCM", TFieldType::String, 255, "QCM"},
    {"PiedDePage1", TFieldType::String, 500, "Pied de page 1"},
    {"PiedDePage2", TFieldType::String, 500, "Pied de page 2"},
    {"DebutLigne", TFieldType::String, 1000, "Début de ligne"},
    {"FinLigne", TFieldType::String, 1000, "Fin de ligne"},
    {"Croquis", TFieldType::Boolean, 0, "Croquis"},
    {"Dimensions", TFieldType::Boolean, 0, "Dimensions"},
    {"Fournisseurs", TFieldType::Boolean, 0, "Fournisseurs"},
};

QString Decoded(const QString& v) { return QString(v).replace('%', QLatin1String("\r\n")); }

// Line start (first) or end (last) row of the line table, as the print
// manager builds it: reuse a row with Id -1 at that place, else add one.
void LineRow(TMemTable& lines, const QString& text, bool start) {
  if (!lines.Active() || !lines.FindField(QStringLiteral("Id")) || !lines.FindField(QStringLiteral("Modele")))
    throw EDataError(QStringLiteral("The line table has no fields Id and Modele for the line start and end rows"));
  if (start) lines.First();
  else lines.Last();
  TMemField& id = lines.FieldByName(QStringLiteral("Id"));
  const bool reuse = !lines.IsEmpty() && !id.IsNull() && id.AsInteger() == -1;
  if (reuse) lines.Edit();
  else if (start) lines.Insert();
  else lines.Append();
  id.SetAsInteger(-1);
  lines.FieldByName(QStringLiteral("Modele")).SetAsString(text);
  if (TMemField* t = lines.FindField(QStringLiteral("TotalTVACorse"))) t->SetAsFloat(-1);
  lines.Post();
}

}  // namespace

void BuildConfiguration(TMemTable& config, TReportDataset& dataset, TMemTable* lines, const QStringList& settings) {
  config.Close();
  config.ClearFieldDefs();
  dataset.ClearFieldAliases();
  for (const auto& f : kConfigFields) {
    config.AddFieldDef(QLatin1String(f.name), f.type, f.size);
    dataset.AddFieldAlias(QLatin1String(f.name), QString::fromUtf8(f.alias));
  }
  config.CreateDataSet();
  config.Append();
  for (const char* b : {"Croquis", "Dimensions", "Fournisseurs"}) config.FieldByName(QLatin1String(b)).SetAsBoolean(true);
  QString debut, fin;
  for (const QString& s : settings) {
    const qsizetype eq = s.indexOf('=');
    if (eq <= 0) throw EDataError(QStringLiteral("--set expects FIELD=VALUE, not \"%1\"").arg(s));
    const QString name = dataset.FieldOf(s.left(eq).trimmed());
    const QString value = s.mid(eq + 1);
    TMemField* f = name.isEmpty() ? nullptr : config.FindField(name);
    if (!f) throw EDataError(QStringLiteral("Unknown configuration field \"%1\"").arg(s.left(eq)));
    const QString n = f->FieldName();
    if (n == QLatin1String("Logo")) {
      if (!value.isEmpty() && QFileInfo(value).isFile()) f->LoadFromFile(value);
    } else if (n == QLatin1String("CGV") || n == QLatin1String("QCM") || n == QLatin1String("PiedDePage2")) {
      f->SetAsString(Decoded(value));
    } else if (n == QLatin1String("DebutLigne")) {
      debut = value;
    } else if (n == QLatin1String("FinLigne")) {
      fin = value;
    } else if (f->DataType() == TFieldType::Boolean) {
      const QString v = value.trimmed().toLower();
      if (v == QLatin1String("true") || v == QLatin1String("1")) f->SetAsBoolean(true);
      else if (v == QLatin1String("false") || v == QLatin1String("0")) f->SetAsBoolean(false);
      else throw EDataError(QStringLiteral("%1 expects true or false, not \"%2\"").arg(n, value));
    } else {
      f->SetAsString(value);
    }
  }
  config.Post();
  // In index order (by Id) both rows would come first; the document reads
  // them before and after the product lines.
  if (lines && lines->Active() && (!debut.isEmpty() || !fin.isEmpty())) lines->SetIndexFieldNames(QString());
  if (lines && !debut.isEmpty()) LineRow(*lines, debut, true);
  if (lines && !fin.isEmpty()) LineRow(*lines, fin, false);
}

int Render(const TRenderOptions& o, QTextStream& out, QTextStream& err) {
  using namespace tessaly::report;
  TMemTable header(QStringLiteral("header")), lines(QStringLiteral("ligne")),
      descriptions(QStringLiteral("ligne_description")), config(QStringLiteral("configuration"));
  TReportDataset dsHeader(QStringLiteral("Données du dossier"), &header);
  TReportDataset dsLines(QStringLiteral("Données des lignes produits"), &lines);
  TReportDataset dsDescriptions(QStringLiteral("Description des lignes produits"), &descriptions);
  TReportDataset dsConfig(QStringLiteral("Données de la configuration"), &config);
  descriptions.SetMasterSource(&lines);

  TfrxReport report;
  for (TReportDataset* d : {&dsHeader, &dsLines, &dsDescriptions, &dsConfig}) report.AddDataset(d);
  if (!QFileInfo(o.TemplatePath).isFile()) {
    err << "tessaly-report: no such template: " << o.TemplatePath << "\n";
    return 1;
  }
  report.LoadFromFile(o.TemplatePath);
  if (!QFileInfo(o.DataPath).isFile()) {
    err << "tessaly-report: no such file: " << o.DataPath << "\n";
    return 1;
  }
  TLectureXmlContext ctx{o.DataPath, &header, &lines, &descriptions, &dsHeader, &dsLines, &dsDescriptions};
  LectureXml(ctx);
  for (TReportDataset* d : {&dsHeader, &dsLines, &dsDescriptions}) d->Refresh();
  BuildConfiguration(config, dsConfig, &lines, o.Settings);

  report.PrepareReport(true);
  for (const QString& w : report.Warnings()) err << "tessaly-report: warning: " << w << "\n";
  if (!o.PdfPath.isEmpty()) {
    TfrxPDFExport pdf;
    pdf.ShowDialog = false;
    pdf.FileName = o.PdfPath;
    report.Export(pdf);
  }
  if (!o.CsvPath.isEmpty()) {
    TfrxCSVExport csv;
    csv.ShowDialog = false;
    csv.FileName = o.CsvPath;
    csv.UTF8 = o.CsvUtf8;
    report.Export(csv);
  }
  out << "Pages: " << report.PreparedPages().size() << "\n";
  return 0;
}

}  // namespace tessaly
