#include <gtest/gtest.h>

#include <QProcess>

#include "TestFiles.h"

namespace {

struct ToolRun {
  int exitCode;
  QString out, err;
};

ToolRun DumpData(const QString& path) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LC_ALL", "fr_FR.UTF-8");
  p.setProcessEnvironment(env);
  p.start(TESSALY_REPORT_EXE, {"dump-data", path});
  EXPECT_TRUE(p.waitForFinished(30000));
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace

TEST(DumpDataTool, ShowsTablesTypesAliasesAndRowsOfTheSampleJob) {
  ToolRun r = DumpData(TESSALY_SAMPLES "/jobs/devis/devis.xml");
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  for (const char* part : {"Template: \"Devis.fr3\"", "Table header (dataset \"Données du dossier\"): 9 fields, 1 row",
                           "totalHT  double  alias \"Total HT\"", "croquis  image  alias \"Croquis\"",
                           "Table ligne_description (dataset \"Description des lignes produits\"): 3 fields, 4 rows",
                           "Modele=\"Fenêtre deux vantaux PVC\"", "PrixUnitaire=842.5", "croquis=<image, "})
    EXPECT_TRUE(r.out.contains(QString::fromUtf8(part))) << part << "\n" << r.out.toStdString();
}

TEST(DumpDataTool, ReportsErrorsAndMissingFiles) {
  QTemporaryDir dir;
  ToolRun bad = DumpData(testfiles::Write(dir, "bad.xml", "<?xml version='1.0'?>\n<a>\n<b></a>\n"));
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_TRUE(bad.err.contains("not well-formed XML") && bad.err.contains("line 3")) << bad.err.toStdString();
  ToolRun missing = DumpData(dir.filePath("absent.xml"));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(missing.err.contains("no such file")) << missing.err.toStdString();
}
