// The configuration record and the line start and end rows that every
// rendering window builds from the print configuration of a document type.
#include <QTemporaryDir>

#include "DataError.h"
#include "ReportTestSupport.h"

using namespace reporttest;

namespace {

// Two product lines whose file order (3, 1) differs from their Id order.
const char* kTwoLines =
    "<?xml version='1.0' encoding='ISO-8859-1'?>\n"
    "<donnees template='' index_field_names_header='' index_field_names_ligne='Id' index_field_names_ligneDescription=''>\n"
    " <entete table='header'><typeDocNom type='string'>DEVIS</typeDocNom></entete>\n"
    " <ligne table='ligne'><Id type='int'>3</Id><Modele type='string'>Porte</Modele>"
    "<TotalTVACorse type='double'>0</TotalTVACorse></ligne>\n"
    " <ligne table='ligne'><Id type='int'>1</Id><Modele type='string'>Fenêtre</Modele>"
    "<TotalTVACorse type='double'>0</TotalTVACorse></ligne>\n"
    "</donnees>\n";

// The line table as "Id:Modele" entries in visiting order.
QStringList Rows(TMemTable& lines) {
  QStringList rows;
  if (!lines.Active()) return rows;
  for (lines.First(); !lines.Eof(); lines.Next())
    rows << QStringLiteral("%1:%2").arg(lines.FieldByName("Id").AsString(), lines.FieldByName("Modele").AsString());
  return rows;
}

TConfigurationValues Texts(const QString& debut, const QString& fin) {
  TConfigurationValues v;
  v.DebutLigne = debut;
  v.FinLigne = fin;
  return v;
}

}  // namespace

TEST(ConfigurationRecord, TextsFlagsAndLogo) {
  Documents d;
  TConfigurationValues v;
  v.CGV = "Paiement à 30 jours.%Validité : 3 mois.";
  v.QCM = "Q1%Q2";
  v.PiedDePage1 = "Corvanel %1";
  v.PiedDePage2 = "Capital%TVA";
  v.Logo = Sample("jobs/devis/croquis1.png");
  v.Croquis = true;
  v.Fournisseurs = false;
  v.Dimensions = true;
  ConstructionConfiguration(d, v);
  // Built twice: still one row, holding the values of the last build.
  v.Logo = Sample("jobs/devis/no-such-logo.png");
  v.QCM.clear();
  ConstructionConfiguration(d, v);
  ASSERT_EQ(d.Config.RecordCount(), 1);
  d.Config.First();
  EXPECT_EQ(d.Config.FieldByName("CGV").AsString(), QString::fromUtf8("Paiement à 30 jours.\r\nValidité : 3 mois."));
  EXPECT_TRUE(d.Config.FieldByName("QCM").IsNull());
  EXPECT_EQ(d.Config.FieldByName("PiedDePage1").AsString(), "Corvanel %1");  // one line, taken as stored
  EXPECT_EQ(d.Config.FieldByName("PiedDePage2").AsString(), "Capital\r\nTVA");
  EXPECT_TRUE(d.Config.FieldByName("Logo").IsNull());  // a missing logo file leaves the picture empty
  EXPECT_TRUE(d.Config.FieldByName("Croquis").AsBoolean());
  EXPECT_FALSE(d.Config.FieldByName("Fournisseurs").AsBoolean());
  EXPECT_TRUE(d.Config.FieldByName("Dimensions").AsBoolean());
  EXPECT_TRUE(d.Config.FieldByName("DebutLigne").IsNull());
  // Templates see the fields under their aliases.
  EXPECT_EQ(d.DsConfig.FieldOf(QStringLiteral("Pied de page 2")), "PiedDePage2");
  EXPECT_EQ(d.DsConfig.FieldOf(QString::fromUtf8("Début de ligne")), "DebutLigne");

  v.Logo = Sample("jobs/devis/croquis1.png");
  ConstructionConfiguration(d, v);
  d.Config.First();
  EXPECT_FALSE(d.Config.FieldByName("Logo").AsBytes().isEmpty());
}

// Successive runs on the same line table, as the print manager runs them at
// set-up and again after its configuration window closes.
TEST(ConfigurationRecord, LineStartAndEndRowsAcrossRuns) {
  QTemporaryDir dir;
  const QString data = dir.filePath("deux-lignes.xml");
  {
    QFile f(data);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QString::fromUtf8(kTwoLines).toLatin1());
  }
  struct Run {
    const char* debut;
    const char* fin;
    QStringList expected;
  };
  const QStringList products = {"1:Fenêtre", "3:Porte"};
  const std::vector<Run> runs = {
      {"Début", "Fin", QStringList{"-1:Début"} + products + QStringList{"-1:Fin"}},
      {"Début 2", "Fin 2", QStringList{"-1:Début 2"} + products + QStringList{"-1:Fin 2"}},
      {"", "Fin 3", products + QStringList{"-1:Fin 3"}},
      {"Début 4", "", QStringList{"-1:Début 4"} + products},
      {"", "", products},
      {"Début 6", "Fin 6", QStringList{"-1:Début 6"} + products + QStringList{"-1:Fin 6"}},
  };
  for (bool empty : {false, true}) {
    Documents d;
    if (!empty) d.TDocumentTables::LectureXml(data);
    for (size_t i = 0; i < runs.size(); ++i) {
      const Run& r = runs[i];
      ConstructionConfiguration(d, Texts(QString::fromUtf8(r.debut), QString::fromUtf8(r.fin)));
      QStringList expected;
      for (const QString& e : r.expected)
        if (!empty || e.startsWith("-1:")) expected << e;
      EXPECT_EQ(Rows(d.Lines), expected) << (empty ? "no lines, " : "two lines, ") << "run " << i + 1;
    }
  }
}

TEST(ConfigurationRecord, RenderSettingsAreCheckedBeforeUse) {
  TConfigurationValues v;
  AppliquerReglages(v, {"pied de page 1=Bas", "croquis=0", "Fournisseurs=TRUE", QString::fromUtf8("Début de ligne=D")});
  EXPECT_EQ(v.PiedDePage1, "Bas");
  EXPECT_FALSE(v.Croquis);
  EXPECT_TRUE(v.Fournisseurs);
  EXPECT_EQ(v.DebutLigne, "D");
  for (const char* bad : {"Couleur=rouge", "Croquis=peut-être", "sans-egal", "=x"}) {
    TConfigurationValues w;
    EXPECT_THROW(AppliquerReglages(w, {QString::fromUtf8(bad)}), EDataError) << bad;
  }
}
