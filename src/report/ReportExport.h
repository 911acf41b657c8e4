// Export filters: they write a report's prepared pages to a file. With
// ShowDialog on, the file name is asked for (through the application's
// dialogs interface, so tests can answer); a cancelled dialog writes
// nothing. Without the dialog, a path that names no file or whose folder
// does not exist is an error naming the path, never a silent no-op.
// Every file is written under a temporary name in its target folder and
// renamed when complete: a failed export leaves no truncated file, and an
// existing file of that name is replaced only by a complete new one.
#pragma once

#include <QString>
#include <functional>

#include "Report.h"

namespace tessaly::report {

class TfrxCustomExportFilter {
 public:
  virtual ~TfrxCustomExportFilter() = default;

  QString FileName;
  QString DefaultPath;  // folder used when FileName has no folder part
  bool ShowDialog = true;
  // Opens the written file with the desktop's associated application.
  bool OpenAfterExport = false;
  bool OverwritePrompt = false;
  bool ShowProgress = true;
  bool UseFileCache = true;
  bool DataOnly = false;
  QWidget* DialogParent = nullptr;

  // The path written by the last successful export.
  const QString& LastPath() const { return FLastPath; }

  // Called by TfrxReport::Export. Raises EReportError for a path that
  // names no file, a missing target folder or a file that cannot be
  // written.
  bool Run(TfrxReport& report);

 protected:
  virtual QString DialogCaption() const = 0;
  virtual QString DialogFilter() const = 0;
  virtual QString DefaultExtension() const = 0;
  // Raises EReportError when the file cannot be written.
  virtual void Write(TfrxReport& report, const QString& path) = 0;

 private:
  QString FLastPath;
};

class TfrxPDFExport : public TfrxCustomExportFilter {
 public:
  TfrxPDFExport();
  QString Author = QStringLiteral("Corvanel");
  QString Subject = QStringLiteral("PDF export");
  QString Title;  // empty: the report's title
  QString Creator = QStringLiteral("Tessaly");
  bool EmbeddedFonts = true;
  bool PrintOptimized = true;
  bool Outline = false;
  bool Background = false;
  int Quality = 95;
  // "1.4" writes PDF 1.4; anything later is written as 1.6, the newest
  // version the PDF writer produces.
  QString PDFVersion = QStringLiteral("1.7");
  int Resolution = 600;  // dots per inch for coordinates; text stays vector

 protected:
  QString DialogCaption() const override { return QStringLiteral("Exporter en PDF"); }
  QString DialogFilter() const override { return QStringLiteral("Fichier PDF (*.pdf)"); }
  QString DefaultExtension() const override { return QStringLiteral("pdf"); }
  void Write(TfrxReport& report, const QString& path) override;
};

class TfrxCSVExport : public TfrxCustomExportFilter {
 public:
  QString Separator = QStringLiteral(";");
  bool OEMCodepage = false;
  bool UTF8 = false;  // false: Windows-1252 (characters outside it become '?')
  bool NoSysSymbols = true;  // control characters are left out
  bool ForcedQuotes = false;

  // The file's content for a report (what Write stores).
  QByteArray Content(const TfrxReport& report) const;

 protected:
  QString DialogCaption() const override { return QStringLiteral("Exporter en CSV"); }
  QString DialogFilter() const override { return QStringLiteral("Fichier CSV (*.csv)"); }
  QString DefaultExtension() const override { return QStringLiteral("csv"); }
  void Write(TfrxReport& report, const QString& path) override;
};

QByteArray ToWindows1252(const QString& text);

// How "open after export" opens a written file: the desktop's associated
// application by default; tests install a recorder (an empty function
// restores the default).
using TFileOpener = std::function<void(const QString& path)>;
void SetFileOpener(TFileOpener opener);

// Writes the prepared pages as PDF to a device-independent byte buffer.
QByteArray PdfBytes(const TfrxReport& report, const TfrxPDFExport& settings);

}  // namespace tessaly::report
