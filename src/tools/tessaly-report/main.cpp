// tessaly-report: tools for template authors.
//   tessaly-report dump-data FILE.xml   what a data file offers to templates
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

#include "DataError.h"
#include "DumpData.h"

static int Usage(QTextStream& err) {
  err << "usage: tessaly-report dump-data FILE.xml\n"
         "  dump-data  load a document data file as the print manager does and show the\n"
         "             template name and, per table, its fields (name, type, alias) and rows\n";
  return 2;
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = QCoreApplication::arguments();
  QTextStream out(stdout), err(stderr);
  if (args.size() >= 2 && (args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h"))) {
    Usage(out);
    return 0;
  }
  if (args.size() != 3 || args[1] != QLatin1String("dump-data")) return Usage(err);
  if (args[2] == QLatin1String("--help")) {
    Usage(out);
    return 0;
  }
  try {
    if (!tessaly::DumpData(args[2], out)) {
      err << "tessaly-report: no such file: " << args[2] << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    out.flush();
    err << "tessaly-report: " << tessaly::ExceptionMessage(e) << "\n";
    return 1;
  }
  return 0;
}
