#include <gtest/gtest.h>

#include "IniFile.h"
#include "ParameterFile.h"
#include "TestFiles.h"

using namespace tessaly;

TEST(IniFile, ProfileSemantics) {
  QTemporaryDir dir;
  QString path = testfiles::Write(dir, "p.ini",
                                  "garbage line without equals\n"
                                  "orphan=before any section\n"
                                  "[Configuration]\r\n"
                                  "  AGENCE =  01  \r\n"
                                  "Agence=second occurrence ignored\n"
                                  "Quoted=\"  spaced  \"\n"
                                  "; Utilisateur=commented\n"
                                  "[configuration]\n"
                                  "Utilisateur=U01\n"
                                  "[Broken\n"
                                  "Key=v\n"
                                  "=no key\n"
                                  "[Nums]\n"
                                  "Dec=42\nHex=$1F\nHex2=0x10\nNeg=-3\nText=abc\nBig=99999999999\nSpaced= 7 \n");
  TIniFile ini(path);
  EXPECT_TRUE(ini.Exists());
  EXPECT_EQ(ini.ReadString("configuration", "agence", "d"), "01");
  EXPECT_EQ(ini.ReadString("Configuration", "Quoted", "d"), "  spaced  ");
  EXPECT_EQ(ini.ReadString("Configuration", "Utilisateur", "d"), "U01") << "a repeated section header continues it";
  EXPECT_EQ(ini.ReadString("Broken", "Key", "d"), "v");
  EXPECT_EQ(ini.ReadString("Configuration", "missing", "d"), "d");
  EXPECT_EQ(ini.ReadString("Missing", "Agence", "d"), "d");

  struct Case {
    const char* key;
    int expected;
  } cases[] = {{"Dec", 42}, {"Hex", 31}, {"Hex2", 16}, {"Neg", -3}, {"Text", -1}, {"Big", -1}, {"Spaced", 7}, {"None", -1}};
  for (const auto& c : cases) EXPECT_EQ(ini.ReadInteger("Nums", c.key, -1), c.expected) << c.key;

  TIniFile missing(dir.filePath("nope.ini"));
  EXPECT_FALSE(missing.Exists());
  EXPECT_EQ(missing.ReadInteger("A", "B", 5), 5);
}

TEST(IniFile, Latin1FileKeepsAccents) {
  QTemporaryDir dir;
  QString path = testfiles::Write(dir, "p.ini", QStringLiteral("[FichierXml]\nPath=/tmp/Modèles/données.xml\n").toLatin1());
  EXPECT_EQ(TIniFile(path).ReadString("FichierXml", "Path", ""), QStringLiteral("/tmp/Modèles/données.xml"));
}

TEST(ParameterFile, RightsValues) {
  struct Case {
    const char* line;
    bool granted;
  } cases[] = {{"Impression_Configuration=1\n", true},  {"Impression_Configuration=2\n", true},
               {"impression_configuration=-1\n", true}, {"Impression_Configuration=0\n", false},
               {"Impression_Configuration=oui\n", false}, {"Impression_Configuration=\n", false},
               {"", false}};
  for (const auto& c : cases) {
    QTemporaryDir dir;
    QString path = testfiles::Write(dir, "p.ini", QByteArray("[Droits]\n") + c.line);
    TParametresJob job = LectureFichierParametres(path);
    EXPECT_EQ(job.Droits.contains(kDroitConfiguration), c.granted) << c.line;
    EXPECT_LE(job.Droits.size(), 1);
  }
}

TEST(ParameterFile, ReadsTheJobInFiveSteps) {
  QTemporaryDir dir;
  QString path = testfiles::Write(dir, "p.ini",
                                  "[Configuration]\nAgence=01\nUtilisateur=U01\n"
                                  "[FichierXml]\nPath=/jobs/devis.xml\n"
                                  "[PiecesJointes]\nNombre=3\nFichier1=/a.pdf\nFichier2=\nFichier3=/c.pdf\nFichier4=/beyond.pdf\n"
                                  "Fichier01=/leading-zero.pdf\n");
  int steps = 0;
  TParametresJob job = LectureFichierParametres(path, [&] { ++steps; });
  EXPECT_EQ(steps, 5);
  EXPECT_EQ(job.Agence, "01");
  EXPECT_EQ(job.Utilisateur, "U01");
  EXPECT_EQ(job.FichierXml, "/jobs/devis.xml");
  EXPECT_EQ(job.PiecesJointes, QStringList({"/a.pdf", "/c.pdf"})) << "empty entries skipped, no renumbering";
}

TEST(ParameterFile, AttachmentCounts) {
  struct Case {
    const char* nombre;
    int expected;
  } cases[] = {{"2", 2}, {"abc", 0}, {"-1", 0}, {"0", 0}, {"2147483647", 3}, {"$2", 2}};
  for (const auto& c : cases) {
    QTemporaryDir dir;
    QString path = testfiles::Write(dir, "p.ini",
                                    QByteArray("[PiecesJointes]\nNombre=") + c.nombre +
                                        "\nFichier1=/1\nFichier2=/2\nFichier3=/3\n");
    EXPECT_EQ(LectureFichierParametres(path).PiecesJointes.size(), c.expected) << c.nombre;
  }
}

TEST(ParameterFile, MissingFileGivesDefaults) {
  int steps = 0;
  TParametresJob job = LectureFichierParametres("/nonexistent/parametres.ini", [&] { ++steps; });
  EXPECT_EQ(steps, 5);
  EXPECT_TRUE(job.Agence.isEmpty());
  EXPECT_TRUE(job.Utilisateur.isEmpty());
  EXPECT_TRUE(job.FichierXml.isEmpty());
  EXPECT_TRUE(job.Droits.isEmpty());
  EXPECT_TRUE(job.PiecesJointes.isEmpty());
  EXPECT_EQ(LectureListeExport("/nonexistent/parametres.ini").Count(), 0);
}

TEST(ParameterFile, ExportListSkipsIncompleteEntries) {
  QTemporaryDir dir;
  QString path = testfiles::Write(dir, "p.ini",
                                  "[Export]\nNombre=4\n"
                                  "Rapport1=/r1.fr3\nExport1=/o1.pdf\n"  // Xml1 missing
                                  "Rapport2=/r2.fr3\nXml2=/d2.xml\nExport2=/o2.pdf\n"
                                  "Rapport3=/r3.fr3\nXml3=/d3.xml\nExport3=\n"
                                  "Rapport4=/r4.fr3\nXml4=/d4.xml\nExport4=/o4.pdf\n"
                                  "Rapport5=/r5.fr3\nXml5=/d5.xml\nExport5=/o5.pdf\n");
  TListeExport list = LectureListeExport(path);
  EXPECT_EQ(list.Rapports, QStringList({"/r2.fr3", "/r4.fr3"}));
  EXPECT_EQ(list.Xml, QStringList({"/d2.xml", "/d4.xml"}));
  EXPECT_EQ(list.Exports, QStringList({"/o2.pdf", "/o4.pdf"}));
}

TEST(ParameterFile, GarbageNeverCrashes) {
  QTemporaryDir dir;
  QByteArray junk;
  for (int i = 0; i < 4096; ++i) junk.append(static_cast<char>((i * 7919) % 256));
  junk.append("\n[PiecesJointes]\nNombre=2000000000\nFichier7=/x\n[\n]\n=\n[[[]]]=\n");
  TParametresJob job = LectureFichierParametres(testfiles::Write(dir, "p.ini", junk));
  EXPECT_EQ(job.PiecesJointes, QStringList({"/x"}));
}
