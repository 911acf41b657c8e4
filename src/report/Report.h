// The report: a template (loaded from a file, built in the designer or the
// built-in blank one), the named datasets it reads, and the pages it
// prepares from them. Preview, printing and export work on the prepared
// pages.
#pragma once

#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QString>
#include <vector>

#include "ReportDataset.h"
#include "ReportModel.h"
#include "ReportPrepared.h"
#include "ReportPreview.h"

class QPrinter;
class QWidget;

namespace tessaly::report {

// A dataset as templates see it: a table under a user name with field
// aliases.
using TfrxDBDataset = tessaly::TReportDataset;

class TfrxCustomExportFilter;

struct TfrxPreviewOptions {
  double Zoom = 1.0;
  // The engine's own preview window opens in page-width mode at this zoom.
  double WindowZoom = 0.8;
  bool AllowEdit = false;
  bool ShowPrintButton = false;
};

struct TfrxPrintOptions {
  // Printer the report prints on; empty: the template's, else the default.
  QString Printer;
};

class TfrxReport : public QObject {
  Q_OBJECT
 public:
  explicit TfrxReport(QObject* parent = nullptr);
  ~TfrxReport() override;

  // ---- datasets (not owned)
  void AddDataset(TfrxDBDataset* dataset);
  void RemoveDataset(TfrxDBDataset* dataset);
  void ClearDatasets() { FDatasets.clear(); }
  const std::vector<TfrxDBDataset*>& Datasets() const { return FDatasets; }
  TfrxDBDataset* FindDataset(const QString& userName) const;

  // ---- template
  // Replaces the template and remembers the path. A missing file raises
  // nothing, keeps the current template and answers false; a file that is
  // not a template raises EReportError naming the file.
  bool LoadFromFile(const QString& path);
  // Writes the template; remembers the path.
  void SaveToFile(const QString& path);
  // Back to the built-in blank report; forgets the file name.
  void Clear();
  const QString& FileName() const { return FFileName; }
  void SetFileName(const QString& name) { FFileName = name; }
  TfrxTemplate& Template() { return FTemplate; }
  const TfrxTemplate& Template() const { return FTemplate; }
  void SetTemplate(TfrxTemplate t);

  // Number of pages, bands and objects of the template.
  int ObjectCount() const { return FTemplate.ObjectCount(); }
  // The template object so named (letter case ignored), or nullptr.
  TfrxComponent* FindObject(const QString& name) { return FTemplate.FindComponent(name); }
  // Pages as the designer numbers them: 0 is the data page (it holds no
  // layout here and answers nullptr), report pages start at 1.
  TfrxReportPage* GetPages(int index);
  TfrxReportPage* FindPage(const QString& name);
  int PagesCount() const { return static_cast<int>(FTemplate.Pages.size()) + 1; }

  // ---- preparation
  // Lays out the pages from the template and the current rows of the
  // datasets. Answers true when at least one page was built.
  bool PrepareReport(bool clearLastReport = true);
  const std::vector<TfrxPreparedPage>& PreparedPages() const { return FPrepared; }
  // Problems met while preparing (unknown fields, bad conditions).
  const QStringList& Warnings() const { return FWarnings; }

  // Number and date formatting of the expressions (system locale by default).
  void SetLocale(const QLocale& l) { FLocale = l; }
  const QLocale& Locale() const { return FLocale; }

  // ---- preview, print, export, design
  void SetPreview(TfrxPreview* preview);
  TfrxPreview* Preview() const { return FPreview; }
  // Shows the prepared pages in the attached preview, or else in the
  // engine's own preview window (modal).
  void ShowPreparedReport();
  // Prints the prepared pages on PrintOptions.Printer (or the template's
  // printer, or the default one), with the template's copies and range.
  // Raises EReportError when no printer can be used.
  bool Print();
  // Prints on a printer set up by the caller (copies and range applied).
  bool PrintTo(QPrinter& printer);
  // Writes the prepared pages through the filter; false when its dialog was
  // cancelled. Raises EReportError when the file cannot be written.
  bool Export(TfrxCustomExportFilter& filter);
  // Opens the designer on this report; answers true when it was closed
  // with its OK button (the template then holds the design).
  bool DesignReport(bool modal = true, bool mdiChild = false, QWidget* parent = nullptr);
  void SetDesignerOptions(const TfrxDesignerOptions& o) { FDesignerOptions = o; }
  const TfrxDesignerOptions& DesignerOptions() const { return FDesignerOptions; }

  TfrxPreviewOptions PreviewOptions;
  TfrxPrintOptions PrintOptions;

 private:
  std::vector<TfrxDBDataset*> FDatasets;
  TfrxTemplate FTemplate;
  QString FFileName;
  std::vector<TfrxPreparedPage> FPrepared;
  QStringList FWarnings;
  QLocale FLocale;
  QPointer<TfrxPreview> FPreview;
  TfrxDesignerOptions FDesignerOptions;
};

// The 1-based page numbers a range text selects ("1-3,5", blanks allowed;
// empty: all pages), within 1..pageCount, in order, without repeats.
std::vector<int> ParsePageRange(const QString& range, int pageCount);

}  // namespace tessaly::report
