#include "Render.h"

#include <QFileInfo>

#include "DataError.h"
#include "DocumentTables.h"
#include "Report.h"
#include "ReportExport.h"
#include "ReportModel.h"

namespace tessaly {

int Render(const TRenderOptions& o, QTextStream& out, QTextStream& err) {
  using namespace tessaly::report;
  TDocumentTables tables;
  TfrxReport report;
  tables.BindTo(report);
  if (!QFileInfo(o.TemplatePath).isFile()) {
    err << "tessaly-report: no such template: " << o.TemplatePath << "\n";
    return 1;
  }
  report.LoadFromFile(o.TemplatePath);
  if (!QFileInfo(o.DataPath).isFile()) {
    err << "tessaly-report: no such file: " << o.DataPath << "\n";
    return 1;
  }
  tables.LectureXml(o.DataPath);
  TConfigurationValues values;
  AppliquerReglages(values, o.Settings);
  ConstructionConfiguration(tables, values);

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
