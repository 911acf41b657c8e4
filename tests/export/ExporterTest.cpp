// The batch exporter on small jobs made by the tests: in-process, then
// through the real executable run unattended.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTimer>

#include "../report/ReportTestSupport.h"
#include "FicheExporter.h"
#include "Installation.h"
#include "settings/DataModuleSdb.h"
#include "ui/Dialogs.h"

using namespace reporttest;

namespace {

QString Tool(const QString& program, const QStringList& args) {
  ToolResult r = RunTool(program, args);
  EXPECT_EQ(r.exitCode, 0) << program.toStdString() << " " << args.join(' ').toStdString() << "\n"
                           << r.err.toStdString();
  return r.out;
}

void WriteText(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

// Prints the header's title, the configuration record and every line row
// (the line start and end rows included); "Image_Croquis" is hidden in the
// template and only the exporter shows it.
const char* kTemplate = R"(<?xml version="1.0" encoding="UTF-8"?>
<TessalyReport version="1" title="Essai">
 <Page name="Page1">
  <Band name="Titre" type="ReportTitle" height="40">
   <Text name="Mem_Titre" left="0" top="0" width="190" height="7">Dossier [Données du dossier."Titre"]</Text>
   <Text name="Mem_CGV" left="0" top="7" width="190" height="12" stretch="true">CGV: [Données de la configuration."CGV"]</Text>
   <Text name="Mem_Pied" left="0" top="20" width="190" height="6">Pied: [Données de la configuration."Pied de page 1"]</Text>
   <Text name="Mem_Options" left="0" top="26" width="190" height="6">Options: [Données de la configuration."Croquis"] [Données de la configuration."Dimensions"] [Données de la configuration."Fournisseurs"]</Text>
   <Text name="Image_Croquis" visible="false" left="0" top="32" width="190" height="6">Croquis visibles</Text>
  </Band>
  <Band name="Lignes" type="MasterData" height="7" dataset="Données des lignes produits">
   <Text name="Mem_Ligne" left="0" top="0" width="190" height="6">Ligne [Données des lignes produits."Modele"]</Text>
  </Band>
 </Page>
</TessalyReport>
)";

// A data file as the parent writes it (ISO-8859-1); `type` empty: the
// header has no typeDocNom.
QByteArray DataFile(const QString& type, const QString& title, const QStringList& lines) {
  QString x = QStringLiteral(
      "<?xml version='1.0' encoding='ISO-8859-1'?>\n"
      "<donnees template='Essai.fr3' index_field_names_header='' index_field_names_ligne='Id' "
      "index_field_names_ligneDescription=''>\n  <entete table='header'>\n");
  if (!type.isEmpty()) x += QStringLiteral("    <typeDocNom type='string' alias='typeDocNom'>%1</typeDocNom>\n").arg(type);
  x += QStringLiteral("    <titre type='string' alias='Titre'>%1</titre>\n  </entete>\n").arg(title);
  for (int i = 0; i < lines.size(); ++i)
    x += QStringLiteral("  <ligne table='ligne'>\n    <Id type='int'>%1</Id>\n"
                        "    <Modele type='string' alias='Modele'>%2</Modele>\n  </ligne>\n")
             .arg(i + 1)
             .arg(lines[i]);
  x += QStringLiteral("</donnees>\n");
  return x.toLatin1();
}

struct Entry {
  QString rapport, xml, sortie;
};

// An installation (Tessaly.ini and its settings database with the print
// configuration of DEVIS and FACTURE), a template, data files and an
// output folder, all in a temporary folder.
struct Installation {
  QTemporaryDir root;
  QString app, out, settings, modele;

  Installation() {
    app = root.filePath("app") + '/';
    out = root.filePath("sorties");
    QDir().mkpath(app);
    QDir().mkpath(out);
    WriteText(app + "Tessaly.ini", "[Database]\nFichier=\n[Templates]\nDocuments=Modeles/Documents/\n");
    settings = app + "Tessaly.sdb";
    Tool(TESSALY_DB_EXE, {"settings-init", settings});
    for (const QStringList& s : {QStringList{"DEVIS", "CGV", "Paiement à 30 jours.%Sans escompte."},
                                 {"DEVIS", "PiedDePage1", "Corvanel SARL Lyon"},
                                 {"DEVIS", "DebutLigne", "Début des lignes du devis"},
                                 {"DEVIS", "FinLigne", "Fin des lignes du devis"},
                                 {"FACTURE", "CGV", "Payable à réception."},
                                 {"FACTURE", "PiedDePage1", "Corvanel SARL Facturation"}})
      Tool(TESSALY_DB_EXE, QStringList{"settings", settings, "set", "01", "U01"} + s);
    modele = root.filePath("Modeles/Essai.fr3");
    WriteText(modele, kTemplate);
    WriteText(root.filePath("devis.xml"), DataFile("DEVIS", "Devis Martin", {"Fenêtre PVC", "Porte-fenêtre"}));
    WriteText(root.filePath("facture.xml"), DataFile("FACTURE", "Facture Durand", {"Volet roulant"}));
    WriteText(root.filePath("sans-type.xml"), DataFile("", "Liste sans type", {"Baie coulissante"}));
  }
  QString Data(const QString& name) const { return root.filePath(name); }
  QString Out(const QString& name) const { return QDir(out).filePath(name); }

  // The parameter file of a batch job.
  QString Job(const std::vector<Entry>& entries) const {
    QString section = QStringLiteral("Nombre=%1\n").arg(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      const int n = static_cast<int>(i) + 1;
      if (!entries[i].rapport.isEmpty()) section += QStringLiteral("Rapport%1=%2\n").arg(n).arg(entries[i].rapport);
      if (!entries[i].xml.isEmpty()) section += QStringLiteral("Xml%1=%2\n").arg(n).arg(entries[i].xml);
      if (!entries[i].sortie.isEmpty()) section += QStringLiteral("Export%1=%2\n").arg(n).arg(entries[i].sortie);
    }
    return JobBrut(section);
  }
  // A parameter file whose [Export] section holds `section` as written.
  QString JobBrut(const QString& section) const {
    const QString path = root.filePath("parametres.ini");
    WriteText(path, ("[Configuration]\nAgence=01\nUtilisateur=U01\n[Export]\n" + section).toUtf8());
    return path;
  }
  QStringList OutFiles() const { return QDir(out).entryList(QDir::Files); }
};

// What the window showed, each state once, in order.
struct Etat {
  QString action, compteur;
  int position, maximum;
  bool operator==(const Etat&) const = default;
};

struct Batch : ::testing::Test {
  tessaly::ui::TScriptedDialogs dialogs;
  tessaly::ui::TDialogsGuard guard{&dialogs};
  Installation inst;
  TDataModuleSdb store;
  std::vector<Etat> etats;

  void SetUp() override {
    SetDataModuleSdb(&store);
    SetDossierApplication(inst.app);
  }
  void TearDown() override {
    SetDataModuleSdb(nullptr);
    SetDossierApplication({});
  }

  // Runs the timer's work on a job, recording every state the window
  // shows while it repaints between the steps.
  void Run(TFicheExporter& e, const QString& job) {
    e.SetVersion("V1");
    e.SetFichierParametres(job);
    e.SetModeImpression("EXPORTER");
    e.SetAgence("01");
    e.SetUtilisateur("U01");
    for (TMemTable* t : {&e.Tables().Header, &e.Tables().Lines, &e.Tables().Descriptions, &e.Tables().Config})
      t->SetLocale(French());
    e.Report().SetLocale(French());
    QTimer sonde;
    QObject::connect(&sonde, &QTimer::timeout, [&] {
      Etat s{e.lblAction->text(), e.lblCompteur->text(), e.pbAvancement->value(), e.pbAvancement->maximum()};
      if (etats.empty() || !(etats.back() == s)) etats.push_back(s);
    });
    sonde.start(0);
    e.Timer1Timer();
  }
};

TEST_F(Batch, WindowTimerAndMayCloseRule) {
  TFicheExporter e;
  e.SetVersion("Version 1.20 du 15/02/2023 17:30 (Beta)");
  EXPECT_EQ(e.windowTitle(), QStringLiteral("Gestionnaire d'impression PDF - Version 1.20 du 15/02/2023 17:30 (Beta)"));
  EXPECT_FALSE(e.windowFlags() & Qt::WindowCloseButtonHint) << "no close box";
  EXPECT_TRUE(e.lblAction->text().isEmpty());
  EXPECT_EQ(e.lblCompteur->text(), "0 / 0");
  EXPECT_EQ(e.lblCompteur->alignment() & Qt::AlignRight, Qt::AlignRight);
  EXPECT_FALSE(e.Timer1->isActive());
  EXPECT_EQ(e.Timer1->interval(), 1000);
  EXPECT_TRUE(e.Timer1->isSingleShot());
  EXPECT_EQ(e.FichierBDD(), inst.settings);

  e.SetFichierParametres(inst.Job({}));
  e.show();
  EXPECT_TRUE(e.Activated());
  EXPECT_TRUE(e.Timer1->isActive());
  // While the batch has not ended, the window refuses to close.
  e.close();
  e.reject();
  EXPECT_TRUE(e.isVisible());
  EXPECT_FALSE(e.FormCloseQuery());
  // The timer runs the (empty) batch, which closes the window.
  QDeadlineTimer deadline(5000);
  while (e.isVisible() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(e.isVisible());
  EXPECT_EQ(e.lblCompteur->text(), "0/0");
  EXPECT_EQ(e.pbAvancement->maximum(), 0);
  EXPECT_EQ(e.result(), QDialog::Accepted);
  EXPECT_FALSE(e.Echec());
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(Batch, SettingsDatabasePathFromTessalyIni) {
  struct Case {
    const char* ini;  // nullptr: no Tessaly.ini
    QString expected;
  } cases[] = {
      {"[Database]\nFichier=\n", inst.app + "Tessaly.sdb"},
      {"[Templates]\nDocuments=x/\n", inst.app + "Tessaly.sdb"},
      {"[database]\nfichier=/srv/partage/Params.sdb\n", "/srv/partage/Params.sdb"},
      {nullptr, QString()},
  };
  for (const Case& c : cases) {
    QFile::remove(inst.app + "Tessaly.ini");
    if (c.ini) WriteText(inst.app + "Tessaly.ini", c.ini);
    TFicheExporter e;
    EXPECT_EQ(e.FichierBDD(), c.expected) << (c.ini ? c.ini : "(none)");
  }
}

TEST_F(Batch, EachEntryGetsItsOwnDataAndConfigurationAndTheProgressShowsEveryStep) {
  const QString job = inst.Job({{inst.modele, inst.Data("devis.xml"), inst.Out("devis.pdf")},
                                {inst.modele, QString(), inst.Out("sans-donnees.pdf")},  // incomplete: skipped
                                {inst.modele, inst.Data("facture.xml"), inst.Out("facture.pdf")}});
  TFicheExporter e;
  Run(e, job);
  EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join("\n").toStdString();
  EXPECT_FALSE(e.Echec());
  EXPECT_TRUE(e.FormCloseQuery());
  EXPECT_EQ(e.result(), QDialog::Accepted);
  EXPECT_EQ(e.Liste().Count(), 2);
  EXPECT_EQ(inst.OutFiles(), QStringList({"devis.pdf", "facture.pdf"}));

  std::vector<Etat> attendus = {{"", "0/2", 0, 6}};
  for (int i = 1; i <= 2; ++i) {
    const QString n = QString::number(i), avant = QString::number(i - 1) + "/2";
    const int base = 3 * (i - 1);
    attendus.push_back({"Chargement du rapport (" + n + ")", avant, base, 6});
    attendus.push_back({"Chargement du rapport (" + n + ")", avant, base + 1, 6});
    attendus.push_back({QStringLiteral("Chargement du fichier de données (") + n + ")", avant, base + 1, 6});
    attendus.push_back({QStringLiteral("Chargement du fichier de données (") + n + ")", avant, base + 2, 6});
    attendus.push_back({QStringLiteral("Génération de l'exportation (") + n + ")", avant, base + 2, 6});
    attendus.push_back({QStringLiteral("Génération de l'exportation (") + n + ")", avant, base + 3, 6});
    attendus.push_back({QStringLiteral("Génération de l'exportation (") + n + ")", n + "/2", base + 3, 6});
  }
  ASSERT_EQ(etats.size(), attendus.size());
  for (size_t i = 0; i < etats.size(); ++i) {
    EXPECT_EQ(etats[i].action, attendus[i].action) << i;
    EXPECT_EQ(etats[i].compteur, attendus[i].compteur) << i;
    EXPECT_EQ(etats[i].position, attendus[i].position) << i;
    EXPECT_EQ(etats[i].maximum, attendus[i].maximum) << i;
  }

  const QString devis = PdfText(inst.Out("devis.pdf")), facture = PdfText(inst.Out("facture.pdf"));
  EXPECT_TRUE(PdfStructureOk(inst.Out("devis.pdf")));
  EXPECT_TRUE(PdfStructureOk(inst.Out("facture.pdf")));
  for (const char* s : {"Dossier Devis Martin", "Ligne Fenêtre PVC", "Ligne Porte-fenêtre", "Paiement à 30 jours.",
                        "Sans escompte.", "Pied: Corvanel SARL Lyon", "Ligne Début des lignes du devis",
                        "Ligne Fin des lignes du devis", "Croquis visibles"})
    EXPECT_TRUE(devis.contains(QString::fromUtf8(s))) << s << "\n" << devis.toStdString();
  for (const char* s : {"Dossier Facture Durand", "Ligne Volet roulant", "Payable à réception.",
                        "Pied: Corvanel SARL Facturation", "Croquis visibles"})
    EXPECT_TRUE(facture.contains(QString::fromUtf8(s))) << s << "\n" << facture.toStdString();
  // Never the previous entry's data or configuration.
  for (const char* s : {"Martin", "Fenêtre PVC", "Paiement", "Lyon", "Début des lignes"})
    EXPECT_FALSE(facture.contains(QString::fromUtf8(s))) << s << "\n" << facture.toStdString();
  // The three display flags are on, whatever the settings say.
  for (const QString& text : {devis, facture}) {
    const qsizetype at = text.indexOf("Options:");
    ASSERT_GE(at, 0);
    const QString options = text.mid(at, text.indexOf('\n', at) - at).simplified();
    EXPECT_EQ(options.count(QRegularExpression("\\b(True|Vrai|true|1|Oui)\\b")), 3) << options.toStdString();
  }
  EXPECT_TRUE(PdfInfo(inst.Out("devis.pdf")).contains("Corvanel"));
}

TEST_F(Batch, NoCompleteEntryAndGarbageInTheExportSection) {
  const QString complete7 = "Rapport7=" + inst.modele + "\nXml7=" + inst.Data("devis.xml") + "\nExport7=" +
                            inst.Out("sept.pdf") + "\n";
  struct Case {
    const char* name;
    QString section;  // the [Export] section as written
    int count;
  } cases[] = {
      {"Nombre=0", "Nombre=0\n" + complete7, 0},
      {"no Nombre", complete7, 0},
      {"every entry incomplete",
       "Nombre=2\nRapport1=" + inst.modele + "\nExport1=" + inst.Out("a.pdf") + "\nXml2=" + inst.Data("devis.xml") +
           "\nExport2=" + inst.Out("b.pdf") + "\n",
       0},
      {"Nombre not a number", "Nombre=beaucoup\n" + complete7, 0},
      {"negative Nombre", "Nombre=-3\n" + complete7, 0},
      {"huge Nombre and stray lines, one complete entry",
       "Nombre=2147483647\n" + complete7 + "=\n[[[\nXml8\nRapport9=\u0001\nExport07=" + inst.Out("zero.pdf") + "\n",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    etats.clear();
    dialogs.Messages.clear();
    TFicheExporter e;
    Run(e, inst.JobBrut(c.section));
    EXPECT_EQ(e.Liste().Count(), c.count);
    EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join("\n").toStdString();
    EXPECT_FALSE(e.Echec());
    EXPECT_EQ(e.result(), QDialog::Accepted);
    EXPECT_EQ(e.lblCompteur->text(), QStringLiteral("%1/%1").arg(c.count));
    EXPECT_EQ(e.pbAvancement->maximum(), 3 * c.count);
    EXPECT_EQ(e.pbAvancement->value(), 3 * c.count);
  }
  EXPECT_EQ(inst.OutFiles(), QStringList{"sept.pdf"});
}

TEST_F(Batch, AnErrorStopsTheBatchAtItsEntryAndKeepsTheEarlierFiles) {
  WriteText(inst.Data("casse.xml"), "<?xml version='1.0'?><donnees><entete table='header'>");
  WriteText(inst.root.filePath("Modeles/Casse.fr3"), "pas un modèle");
  const QString older = "contenu d'un export précédent";
  struct Case {
    const char* name;
    Entry second;     // the entry that fails, after a good one
    QString named;    // what the message must name
    QString why;      // what it says about it, in the users' language
  } cases[] = {
      {"missing data file", {inst.modele, inst.Data("absent.xml"), inst.Out("2.pdf")}, inst.Data("absent.xml"),
       "n'existe pas"},
      {"missing template", {inst.root.filePath("Modeles/Absent.fr3"), inst.Data("facture.xml"), inst.Out("2.pdf")},
       inst.root.filePath("Modeles/Absent.fr3"), "n'existe pas"},
      {"missing output folder", {inst.modele, inst.Data("facture.xml"), inst.Out("absent/2.pdf")},
       inst.Out("absent/2.pdf"), "Le dossier du chemin d'export"},
      {"output path without file name", {inst.modele, inst.Data("facture.xml"), inst.out + "/"}, inst.out + "/",
       "ne nomme aucun fichier"},
      {"malformed data file", {inst.modele, inst.Data("casse.xml"), inst.Out("2.pdf")}, inst.Data("casse.xml"), ""},
      {"malformed template", {inst.root.filePath("Modeles/Casse.fr3"), inst.Data("facture.xml"), inst.Out("2.pdf")},
       inst.root.filePath("Modeles/Casse.fr3"), QString::fromUtf8("n'est pas un modèle de rapport")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const QString& f : inst.OutFiles()) QFile::remove(inst.Out(f));
    WriteText(inst.Out("2.pdf"), older.toUtf8());
    dialogs.Messages.clear();
    TFicheExporter e;
    Run(e, inst.Job({{inst.modele, inst.Data("devis.xml"), inst.Out("1.pdf")},
                     c.second,
                     {inst.modele, inst.Data("facture.xml"), inst.Out("3.pdf")}}));
    ASSERT_EQ(dialogs.Messages.size(), 1);
    EXPECT_TRUE(dialogs.Messages[0].startsWith("TFicheExporter::Exportation : ")) << dialogs.Messages[0].toStdString();
    EXPECT_TRUE(dialogs.Messages[0].contains('"' + c.named + '"')) << dialogs.Messages[0].toStdString();
    EXPECT_TRUE(dialogs.Messages[0].contains(c.why)) << dialogs.Messages[0].toStdString();
    EXPECT_TRUE(e.Echec());
    EXPECT_TRUE(e.FormCloseQuery()) << "the window closes after the error";
    EXPECT_EQ(e.result(), QDialog::Rejected);
    EXPECT_EQ(e.lblCompteur->text(), "1/3");
    EXPECT_EQ(inst.OutFiles(), QStringList({"1.pdf", "2.pdf"})) << "nothing for the failed entry or after it";
    EXPECT_EQ(ReadAll(inst.Out("2.pdf")), older.toUtf8()) << "an older file is not replaced";
    EXPECT_TRUE(PdfText(inst.Out("1.pdf")).contains("Devis Martin"));
  }

  // Without Tessaly.ini there is no settings database: the first entry stops.
  QFile::remove(inst.app + "Tessaly.ini");
  dialogs.Messages.clear();
  for (const QString& f : inst.OutFiles()) QFile::remove(inst.Out(f));
  TFicheExporter e;
  Run(e, inst.Job({{inst.modele, inst.Data("devis.xml"), inst.Out("1.pdf")}}));
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains("le fichier Tessaly.ini est absent")) << dialogs.Messages[0].toStdString();
  EXPECT_TRUE(e.Echec());
  EXPECT_TRUE(inst.OutFiles().isEmpty());
}

TEST_F(Batch, AMissingJobFileIsAnErrorNotAnEmptyBatch) {
  for (const QString& job : {inst.root.filePath("absent.ini"), inst.root.path()}) {
    SCOPED_TRACE(job.toStdString());
    dialogs.Messages.clear();
    TFicheExporter e;
    Run(e, job);
    ASSERT_EQ(dialogs.Messages.size(), 1);
    EXPECT_TRUE(dialogs.Messages[0].contains('"' + job + '"')) << dialogs.Messages[0].toStdString();
    EXPECT_TRUE(e.Echec());
    EXPECT_TRUE(e.FormCloseQuery());
    EXPECT_EQ(e.result(), QDialog::Rejected);
  }
}

TEST_F(Batch, DataFileWithoutDocumentTypeReadsAnEmptySection) {
  TFicheExporter e;
  Run(e, inst.Job({{inst.modele, inst.Data("devis.xml"), inst.Out("1.pdf")},
                   {inst.modele, inst.Data("sans-type.xml"), inst.Out("2.pdf")}}));
  EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join("\n").toStdString();
  EXPECT_TRUE(e.TypeDocument().isEmpty());
  const QString text = PdfText(inst.Out("2.pdf"));
  EXPECT_TRUE(text.contains("Ligne Baie coulissante")) << text.toStdString();
  EXPECT_FALSE(text.contains("Paiement")) << "no DEVIS configuration left over";
  EXPECT_FALSE(text.contains(QString::fromUtf8("Début des lignes")));
}

// ---- the real executable, unattended

struct Processus {
  int exitCode;
  QString err;
};

// `sansEcran`: as a script on a machine without any display runs it, with
// no display and no platform named.
Processus RunExporter(const QString& exe, const QString& job, bool sansEcran = false) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TESSALY_UNATTENDED", "1");
  if (sansEcran) {
    for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(v);
  } else {
    env.insert("QT_QPA_PLATFORM", "offscreen");
  }
  env.insert("LC_ALL", "fr_FR.UTF-8");
  p.setProcessEnvironment(env);
  p.start(exe, {job, "exporter"});
  EXPECT_TRUE(p.waitForFinished(60000)) << "the exporter did not end by itself";
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardError())};
}

TEST(ExporterProcess, UnattendedBatchWritesThePdfsAndTellsFailuresByItsStatus) {
  Installation inst;
  // The executable reads Tessaly.ini beside itself: install a copy.
  const QString exe = inst.app + "tessaly";
  ASSERT_TRUE(QFile::copy(TESSALY_EXE, exe));

  Processus ok = RunExporter(exe, inst.Job({{inst.modele, inst.Data("devis.xml"), inst.Out("devis.pdf")},
                                            {inst.modele, QString(), inst.Out("ignore.pdf")},
                                            {inst.modele, inst.Data("facture.xml"), inst.Out("facture.pdf")}}));
  EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
  EXPECT_FALSE(ok.err.contains("tessaly:")) << ok.err.toStdString();
  EXPECT_EQ(inst.OutFiles(), QStringList({"devis.pdf", "facture.pdf"}));
  for (const QString& f : inst.OutFiles()) EXPECT_TRUE(PdfStructureOk(inst.Out(f))) << f.toStdString();
  const QString devis = PdfText(inst.Out("devis.pdf")), facture = PdfText(inst.Out("facture.pdf"));
  for (const char* s : {"Dossier Devis Martin", "Ligne Fenêtre PVC", "Paiement à 30 jours.", "Pied: Corvanel SARL Lyon",
                        "Ligne Début des lignes du devis", "Ligne Fin des lignes du devis"})
    EXPECT_TRUE(devis.contains(QString::fromUtf8(s))) << s << "\n" << devis.toStdString();
  EXPECT_TRUE(facture.contains("Dossier Facture Durand")) << facture.toStdString();
  EXPECT_FALSE(facture.contains("Martin"));

  struct Case {
    const char* name;
    Entry second;
    QString named;
  } cases[] = {
      {"missing data file", {inst.modele, inst.Data("absent.xml"), inst.Out("2.pdf")}, inst.Data("absent.xml")},
      {"missing template", {inst.root.filePath("absent.fr3"), inst.Data("devis.xml"), inst.Out("2.pdf")},
       inst.root.filePath("absent.fr3")},
      {"missing output folder", {inst.modele, inst.Data("devis.xml"), inst.Out("absent/2.pdf")}, inst.Out("absent/2.pdf")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const QString& f : inst.OutFiles()) QFile::remove(inst.Out(f));
    Processus r = RunExporter(exe, inst.Job({{inst.modele, inst.Data("facture.xml"), inst.Out("1.pdf")}, c.second}));
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("tessaly: TFicheExporter::Exportation : ")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains('"' + c.named + '"')) << r.err.toStdString();
    EXPECT_EQ(inst.OutFiles(), QStringList{"1.pdf"});
  }

  // Without any display the batch still runs and ends by itself.
  for (const QString& f : inst.OutFiles()) QFile::remove(inst.Out(f));
  Processus headless =
      RunExporter(exe, inst.Job({{inst.modele, inst.Data("facture.xml"), inst.Out("1.pdf")}}), /*sansEcran=*/true);
  EXPECT_EQ(headless.exitCode, 0) << headless.err.toStdString();
  EXPECT_EQ(inst.OutFiles(), QStringList{"1.pdf"});

  // A job file that is not there: the caller learns it from the status.
  Processus absent = RunExporter(exe, inst.root.filePath("absent.ini"));
  EXPECT_EQ(absent.exitCode, 1) << absent.err.toStdString();
  EXPECT_TRUE(absent.err.contains(inst.root.filePath("absent.ini"))) << absent.err.toStdString();
}

}  // namespace
