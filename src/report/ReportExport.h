// Export filters: they write a report's prepared pages to a file. With
// ShowDialog on, the file name is asked for (through the application's
// dialogs interface, so tests can answer); a cancelled dialog writes
// nothing.
#pragma once

#include <QString>

#include "Report.h"

namespace tessaly::report {

class TfrxCustomExportFilter {
 public:
  virtual ~TfrxCustomExportFilter() = default;

  QString FileName;
  QString DefaultPath;  // folder used when FileName has no folder part
  bool ShowDialog = true;
  bool OpenAfterExport = false;
  bool OverwritePrompt = false;
  bool ShowProgress = true;
  bool UseFileCache = true;
  bool DataOnly = false;
  QWidget* DialogParent = nullptr;

  // The path written by the last successful export.
  const QString& LastPath() const { return FLastPath; }

  // Called by TfrxReport::Export.
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

// Writes the prepared pages as PDF to a device-independent byte buffer.
QByteArray PdfBytes(const TfrxReport& report, const TfrxPDFExport& settings);

}  // namespace tessaly::report
