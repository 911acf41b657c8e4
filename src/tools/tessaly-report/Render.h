// "render": prepares a template with a data file, as the batch exporter
// does, and writes PDF and/or CSV files.
#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace tessaly {

class TMemTable;
class TReportDataset;

struct TRenderOptions {
  QString TemplatePath;
  QString DataPath;
  QStringList Settings;  // "Field=Value" for the configuration record
  QString PdfPath;
  QString CsvPath;
  bool CsvUtf8 = false;
};

// Builds the configuration table (one row) with the fields and aliases
// templates use; Croquis, Dimensions and Fournisseurs start true. `settings`
// are "Field=Value" entries (field names or aliases): Logo names a picture
// file, CGV, QCM and PiedDePage2 take "%" as a line break, the booleans
// take true/false/1/0. DebutLigne and FinLigne add the line start and end
// rows (Id -1) to `lines`. Raises EDataError on an unknown field or value.
void BuildConfiguration(TMemTable& config, TReportDataset& dataset, TMemTable* lines, const QStringList& settings);

// Runs the command; returns the process exit code. Messages go to `err`,
// a summary (pages, warnings) to `out`.
int Render(const TRenderOptions& options, QTextStream& out, QTextStream& err);

}  // namespace tessaly
