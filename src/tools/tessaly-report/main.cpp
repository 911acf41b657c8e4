// tessaly-report: tools for template authors.
//   tessaly-report dump-data FILE.xml   what a data file offers to templates
//   tessaly-report render TEMPLATE DATAFILE [--set FIELD=VALUE ...] [--pdf OUT.pdf] [--csv OUT.csv]
#include <QApplication>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "DataError.h"
#include "DumpData.h"
#include "Render.h"
#include "ReportModel.h"

static int Usage(QTextStream& err) {
  err << "usage: tessaly-report dump-data FILE.xml\n"
         "       tessaly-report render TEMPLATE DATAFILE [--set FIELD=VALUE ...] [--pdf OUT.pdf]\n"
         "                             [--csv OUT.csv] [--utf8]\n"
         "  dump-data  load a document data file as the print manager does and show the\n"
         "             template name and, per table, its fields (name, type, alias) and rows\n"
         "  render     prepare a template with a data file and write PDF and/or CSV; --set\n"
         "             fills the configuration record (Logo, CGV, QCM, PiedDePage1,\n"
         "             PiedDePage2, DebutLigne, FinLigne, Croquis, Dimensions, Fournisseurs;\n"
         "             \"%\" is a line break in CGV, QCM and PiedDePage2); --utf8 writes the\n"
         "             CSV in UTF-8 instead of ISO-8859-1\n";
  return 2;
}

static int RunRender(const QStringList& args, QTextStream& out, QTextStream& err) {
  tessaly::TRenderOptions o;
  QStringList positional;
  for (qsizetype i = 2; i < args.size(); ++i) {
    const QString& a = args[i];
    auto value = [&]() -> QString {
      if (i + 1 >= args.size()) return QString();
      return args[++i];
    };
    if (a == QLatin1String("--set")) {
      QString v = value();
      if (v.isEmpty()) return Usage(err);
      o.Settings << v;
    } else if (a == QLatin1String("--pdf")) {
      o.PdfPath = value();
      if (o.PdfPath.isEmpty()) return Usage(err);
    } else if (a == QLatin1String("--csv")) {
      o.CsvPath = value();
      if (o.CsvPath.isEmpty()) return Usage(err);
    } else if (a == QLatin1String("--utf8")) {
      o.CsvUtf8 = true;
    } else if (a.startsWith(QLatin1String("--"))) {
      return Usage(err);
    } else {
      positional << a;
    }
  }
  if (positional.size() != 2) return Usage(err);
  o.TemplatePath = positional[0];
  o.DataPath = positional[1];
  return tessaly::Render(o, out, err);
}

int main(int argc, char** argv) {
  // Rendering needs fonts, hence a GUI application; without a display it
  // runs offscreen. The data dump needs neither.
  const bool render = argc >= 2 && std::strcmp(argv[1], "render") == 0;
  if (render && qgetenv("QT_QPA_PLATFORM").isEmpty() && qgetenv("DISPLAY").isEmpty() &&
      qgetenv("WAYLAND_DISPLAY").isEmpty())
    qputenv("QT_QPA_PLATFORM", "offscreen");
  std::unique_ptr<QCoreApplication> app;
  if (render) app = std::make_unique<QApplication>(argc, argv);
  else app = std::make_unique<QCoreApplication>(argc, argv);
  QStringList args = QCoreApplication::arguments();
  QTextStream out(stdout), err(stderr);
  if (args.size() >= 2 && (args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h"))) {
    Usage(out);
    return 0;
  }
  if (args.size() >= 3 && args[2] == QLatin1String("--help")) {
    Usage(out);
    return 0;
  }
  try {
    if (args.size() >= 2 && args[1] == QLatin1String("render")) return RunRender(args, out, err);
    if (args.size() != 3 || args[1] != QLatin1String("dump-data")) return Usage(err);
    if (!tessaly::DumpData(args[2], out)) {
      err << "tessaly-report: no such file: " << args[2] << "\n";
      return 1;
    }
  } catch (const tessaly::report::EReportError& e) {
    out.flush();
    err << "tessaly-report: " << e.Message() << "\n";
    return 1;
  } catch (const std::exception& e) {
    out.flush();
    err << "tessaly-report: " << tessaly::ExceptionMessage(e) << "\n";
    return 1;
  }
  return 0;
}
