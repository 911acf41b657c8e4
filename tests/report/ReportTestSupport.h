// Shared set-up of the report tests: the four tables and datasets a
// rendering window owns, French conversions, and the PDF oracles.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

#include "DocumentTables.h"
#include "MemTable.h"
#include "ReadXml.h"
#include "Render.h"
#include "Report.h"
#include "ReportDataset.h"
#include "ReportExport.h"
#include "ReportFile.h"

namespace reporttest {

using namespace tessaly;
using namespace tessaly::report;

inline QLocale French() { return QLocale(QLocale::French, QLocale::France); }

inline QString Sample(const QString& rel) { return QStringLiteral(TESSALY_SAMPLES "/") + rel; }

struct Documents : TDocumentTables {
  TfrxReport Report;

  Documents() {
    for (TMemTable* t : {&Header, &Lines, &Descriptions, &Config}) t->SetLocale(French());
    BindTo(Report);
    Report.SetLocale(French());
  }
  void BuildConfiguration(const QStringList& settings) {
    TConfigurationValues values;
    AppliquerReglages(values, settings);
    ConstructionConfiguration(*this, values);
  }
  void Load(const QString& dataFile, const QStringList& settings = {}) {
    TDocumentTables::LectureXml(dataFile);
    BuildConfiguration(settings);
  }
  QString CsvText(bool dataOnly) {
    TfrxCSVExport csv;
    csv.UTF8 = true;
    csv.DataOnly = dataOnly;
    return QString::fromUtf8(csv.Content(Report));
  }
  // All text of the prepared pages.
  QString PreparedText() const {
    QString s;
    for (const auto& p : Report.PreparedPages()) s += p.Text();
    return s;
  }
};

struct ToolResult {
  int exitCode = -1;
  QString out, err;
};

inline ToolResult RunTool(const QString& program, const QStringList& args) {
  QProcess p;
  // Data files hold French numbers and dates.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LC_ALL", "fr_FR.UTF-8");
  p.setProcessEnvironment(env);
  p.start(program, args);
  p.waitForFinished(60000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
}

inline QString PdfText(const QString& path) { return RunTool("pdftotext", {"-layout", path, "-"}).out; }
inline bool PdfStructureOk(const QString& path) { return RunTool("qpdf", {"--check", path}).exitCode == 0; }
inline QString PdfInfo(const QString& path) { return RunTool("pdfinfo", {path}).out; }

// A French number as the locale writes it, with any kind of blank as the
// group separator replaced by a plain blank (pdftotext varies).
inline QString Blanks(QString s) {
  for (QChar c : {QChar(0x202F), QChar(0x00A0), QChar(0x2009)}) s.replace(c, ' ');
  return s;
}

}  // namespace reporttest
