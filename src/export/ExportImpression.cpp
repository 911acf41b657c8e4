#include "ExportImpression.h"

#include <QWidget>

#include "Report.h"
#include "ReportExport.h"

namespace tessaly {

void ConfigurationExportPdf(report::TfrxPDFExport& pdf) {
  pdf.FileName = QStringLiteral("test.pdf");
  pdf.OpenAfterExport = false;
}

void ConfigurationExportCsv(report::TfrxCSVExport& csv) { csv.Separator = QStringLiteral(";"); }

void ExportationInteractive(QWidget* window, report::TfrxReport&, report::TfrxPDFExport&, report::TfrxCSVExport&) {
  if (window) window->setEnabled(true);
}

}  // namespace tessaly
