// The template file format: versioned XML (root element <TessalyReport>),
// described in docs/report-template-format.md. Reading and writing are
// lossless for everything the model holds.
#pragma once

#include <QByteArray>
#include <QString>

#include "ReportModel.h"

namespace tessaly::report {

constexpr int kTemplateFormatVersion = 1;

// Raises EReportError naming `sourceName` when the text is not a template.
TfrxTemplate TemplateFromXml(const QByteArray& xml, const QString& sourceName);
QByteArray TemplateToXml(const TfrxTemplate& t);

// Raises EReportError when the file cannot be read or is not a template.
TfrxTemplate LoadTemplateFile(const QString& path);
// Raises EReportError when the file cannot be written; an existing file is
// replaced only once the new content is complete.
void SaveTemplateFile(const TfrxTemplate& t, const QString& path);

}  // namespace tessaly::report
