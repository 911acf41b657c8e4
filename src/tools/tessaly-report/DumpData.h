// "dump-data": what a document data file offers to templates.
#pragma once

#include <QString>
#include <QTextStream>

namespace tessaly {

// Loads `path` as the print manager does and writes the template name and,
// per table, its fields (name, type, alias) and rows. Raises on a file the
// loader refuses; returns false when the file does not exist.
bool DumpData(const QString& path, QTextStream& out);

}  // namespace tessaly
