// "render": prepares a template with a data file, as the batch exporter
// does, and writes PDF and/or CSV files.
#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace tessaly {

struct TRenderOptions {
  QString TemplatePath;
  QString DataPath;
  QStringList Settings;  // "Field=Value" for the configuration record (AppliquerReglages)
  QString PdfPath;
  QString CsvPath;
  bool CsvUtf8 = false;
};

// Runs the command; returns the process exit code. Messages go to `err`,
// a summary (pages, warnings) to `out`.
int Render(const TRenderOptions& options, QTextStream& out, QTextStream& err);

}  // namespace tessaly
