#include "ExportImpression.h"

#include <QWidget>

#include "DataError.h"
#include "FicheChoixExport.h"
#include "Report.h"
#include "ReportExport.h"
#include "ui/Dialogs.h"

namespace tessaly {

namespace {

TChoixExportRunner& ChoixRunner() {
  static TChoixExportRunner runner;
  return runner;
}

void ShowChoix(TFicheChoixExport& choix) {
  if (ChoixRunner()) ChoixRunner()(choix);
  else if (!ui::UnattendedRequested()) choix.exec();
}

// Switches the CSV option of the page "Page1" on for one export and puts
// it back as it was, also when the export fails.
class TPageDataOnly {
 public:
  explicit TPageDataOnly(report::TfrxReport& report) : FPage(report.FindPage(QStringLiteral("Page1"))) {
    if (!FPage) return;
    FBefore = FPage->DataOnly;
    FPage->DataOnly = true;
  }
  ~TPageDataOnly() {
    if (FPage) FPage->DataOnly = FBefore;
  }
  TPageDataOnly(const TPageDataOnly&) = delete;
  TPageDataOnly& operator=(const TPageDataOnly&) = delete;

 private:
  report::TfrxReportPage* FPage;
  bool FBefore = false;
};

}  // namespace

void SetChoixExportRunner(TChoixExportRunner runner) { ChoixRunner() = std::move(runner); }

void ConfigurationExportPdf(report::TfrxPDFExport& pdf) {
  pdf.FileName = QStringLiteral("test.pdf");
  pdf.UseFileCache = true;
  pdf.ShowProgress = true;
  pdf.OverwritePrompt = false;
  pdf.DataOnly = false;
  pdf.OpenAfterExport = false;
  pdf.PrintOptimized = true;
  pdf.Outline = false;
  pdf.Background = false;
  pdf.Quality = 95;
  pdf.Author = QStringLiteral("Corvanel");
  pdf.Subject = QStringLiteral("PDF export");
  pdf.PDFVersion = QStringLiteral("1.7");
  pdf.EmbeddedFonts = true;
}

void ConfigurationExportCsv(report::TfrxCSVExport& csv) {
  csv.FileName.clear();
  csv.UseFileCache = true;
  csv.ShowProgress = true;
  csv.OverwritePrompt = false;
  csv.DataOnly = false;
  csv.Separator = QStringLiteral(";");
  csv.OEMCodepage = false;
  csv.UTF8 = false;
  csv.OpenAfterExport = false;
  csv.NoSysSymbols = true;
  csv.ForcedQuotes = false;
}

void ExportationInteractive(QWidget* window, report::TfrxReport& report, report::TfrxPDFExport& pdf,
                            report::TfrxCSVExport& csv) {
  TFicheChoixExport choix(window);
  ShowChoix(choix);
  if (window) window->setEnabled(false);
  const int kind = choix.ExportKind();
  const bool open = choix.OpenExport();
  try {
    if (kind == kExportCsv) {
      TPageDataOnly dataOnly(report);
      csv.FileName.clear();
      csv.DialogParent = window;
      report.Export(csv);
    } else if (kind == kExportPdf) {
      pdf.ShowDialog = true;
      pdf.FileName.clear();
      pdf.OpenAfterExport = open;
      pdf.DialogParent = window;
      report.Export(pdf);
    }
  } catch (const std::exception& e) {
    ui::ShowMessage(ExceptionMessage(e), window);
  } catch (...) {
    ui::ShowMessage(QStringLiteral("Erreur inconnue pendant l'export"), window);
  }
  // The mail action writes through the same filter without its dialog: it
  // must neither ask for a file nor open its attachment.
  pdf.ShowDialog = false;
  pdf.OpenAfterExport = false;
  if (window) window->setEnabled(true);
}

}  // namespace tessaly
