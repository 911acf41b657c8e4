// The print manager's window and set-up: controls, Tessaly.ini, the
// document data, the choices restored from the settings, the initial
// template, the configuration record and the line start and end rows.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <QRegularExpression>

#include "sdb/SDBComponents.h"

#include "PrintTestSupport.h"

using namespace printtest;

namespace {

QStringList Items(const QComboBox* c) {
  QStringList l;
  for (int i = 0; i < c->count(); ++i) l << c->itemText(i);
  return l;
}

using PrintSetUp = Installation;

}  // namespace

TEST_F(PrintSetUp, WindowControlsCaptionsAndInitialState) {
  auto w = Window();
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Gestionnaire d'impression - Version test"));
  struct Button {
    const char* name;
    const char* caption;
  } buttons[] = {{"btnConfig", "Configuration"}, {"btnApercu", "Aperçu"},     {"btnMail", "Mail"},
                 {"btnImprimer", "Imprimer"},    {"btnExporter", "Exporter"}, {"btnQuitter", "Quitter"}};
  for (const auto& b : buttons) {
    auto* p = w->findChild<QPushButton*>(b.name);
    ASSERT_NE(p, nullptr) << b.name;
    EXPECT_EQ(p->text(), QString::fromUtf8(b.caption));
    EXPECT_EQ(p->accessibleName(), QString::fromUtf8(b.caption));
    EXPECT_TRUE(p->isEnabled()) << b.name;
    EXPECT_NE(p->focusPolicy() & Qt::TabFocus, 0) << b.name;
  }
  struct Check {
    const char* name;
    const char* caption;
  } checks[] = {{"chkFournisseurs", "Afficher les fournisseurs"},
                {"chkDimensions", "Afficher les dimensions"},
                {"chkCroquis", " Afficher Croquis"},
                {"chkUw", "Afficher UW"}};
  for (const auto& c : checks) {
    auto* p = w->findChild<QCheckBox*>(c.name);
    ASSERT_NE(p, nullptr) << c.name;
    EXPECT_EQ(p->text(), QString::fromUtf8(c.caption));
    EXPECT_EQ(p->accessibleName(), QString::fromUtf8(c.caption).trimmed());
    EXPECT_TRUE(p->isChecked());
  }
  struct Chooser {
    const char* label;
    const char* combo;
    const char* caption;
  } choosers[] = {{"lblTitre", "cbbTitre", "Titre"},
                  {"lblOrientation", "cbbOrientation", "Mise en page :"},
                  {"lblImprimante", "cbbImprimante", "Imprimante : "}};
  for (const auto& c : choosers) {
    auto* label = w->findChild<QLabel*>(c.label);
    auto* combo = w->findChild<QComboBox*>(c.combo);
    ASSERT_TRUE(label && combo) << c.combo;
    EXPECT_EQ(label->text(), QString::fromUtf8(c.caption));
    EXPECT_EQ(label->buddy(), combo) << "screen readers read the label with its field";
    EXPECT_FALSE(combo->isEditable());
    EXPECT_FALSE(combo->accessibleName().isEmpty());
  }
  EXPECT_EQ(w->cbbTitre->count(), 0);
  EXPECT_EQ(w->cbbOrientation->count(), 0);
  // The printer list is filled at construction, in the system's order, and
  // nothing is chosen yet.
  EXPECT_EQ(Items(w->cbbImprimante), printers);
  EXPECT_EQ(w->cbbImprimante->currentIndex(), -1);
  EXPECT_EQ(w->tvTemplates->topLevelItemCount(), 0);
  EXPECT_EQ(w->lblTitreRapport->text(), QStringLiteral("RAPPORTS"));
  EXPECT_TRUE(w->lblTitreRapport->isHidden());
  EXPECT_EQ(w->frxPreviewTemplate->PageCount(), 0);
  EXPECT_EQ(w->Groupes(), QStringList{"Corvanel"});
  EXPECT_EQ(w->Report().Preview(), w->frxPreviewTemplate);
  EXPECT_FALSE(w->frxPreviewTemplate->OutlineVisible);
  EXPECT_FALSE(w->frxPreviewTemplate->ThumbnailVisible);
  // The designer the configuration window opens: no loading or saving of
  // its own, page options locked, A4 portrait, 10 mm margins.
  const auto& designer = w->Report().DesignerOptions();
  EXPECT_FALSE(designer.AllowLoad);
  EXPECT_FALSE(designer.AllowSave);
  EXPECT_FALSE(designer.ShowRecentFiles);
  EXPECT_TRUE(designer.PageOptionsLocked);
  EXPECT_EQ(designer.PaperSize, 9);
  EXPECT_DOUBLE_EQ(designer.Margin, 10);
  EXPECT_EQ(designer.FontSizePixels, 13);

  // The preview takes the left two thirds.
  w->resize(1200, 800);
  w->show();
  const int previewWidth = w->frxPreviewTemplate->width();
  EXPECT_EQ(w->frxPreviewTemplate->x() < w->tvTemplates->x(), true);
  EXPECT_NEAR(static_cast<double>(previewWidth) / w->width(), 2.0 / 3.0, 0.08);

  // Every control is reached with the Tab key, from the preview to Quitter.
  QStringList reached;
  QWidget* x = w->frxPreviewTemplate;
  for (int i = 0; i < 20 && x; ++i) {
    reached << x->objectName();
    x = x->nextInFocusChain();
    while (x && x != w->frxPreviewTemplate && (x->focusPolicy() & Qt::TabFocus) == 0) x = x->nextInFocusChain();
    if (x == w->frxPreviewTemplate) break;
  }
  for (const char* name : {"cbbTitre", "cbbOrientation", "tvTemplates", "chkFournisseurs", "chkDimensions",
                           "chkCroquis", "chkUw", "cbbImprimante", "btnConfig", "btnApercu", "btnMail", "btnImprimer",
                           "btnExporter", "btnQuitter"})
    EXPECT_TRUE(reached.contains(QLatin1String(name))) << name << " not in " << reached.join(',').toStdString();
  EXPECT_LT(reached.indexOf("cbbTitre"), reached.indexOf("btnQuitter"));
}

TEST_F(PrintSetUp, TessalyIniGivesTheDatabaseAndTheTemplateRoots) {
  const QString base = app + '/';
  struct Case {
    const char* ini;  // nullptr: no file
    QString fichier, documents, rapports;
  } cases[] = {
      {nullptr, "", "", ""},
      {"[Database]\nFichier=\n[Templates]\nDocuments=Modeles/Documents/\nRapports=Modeles/Rapports/\n",
       base + "Tessaly.sdb", base + "Modeles/Documents/", base + "Modeles/Rapports/"},
      // The database is used as written; an empty template entry makes the
      // application folder the root.
      {"[Database]\nFichier=/srv/partage/Parametres.sdb\n[Templates]\n", "/srv/partage/Parametres.sdb", base, base},
      {"[database]\nfichier=rel/P.sdb\n[TEMPLATES]\nDocuments=Docs\n", "rel/P.sdb", base + "Docs", base},
  };
  for (const auto& c : cases) {
    QFile::remove(app + "/Tessaly.ini");
    if (c.ini) WriteIni(c.ini);
    auto w = Window();
    EXPECT_EQ(w->FichierBDD(), c.fichier) << (c.ini ? c.ini : "no file");
    EXPECT_EQ(w->DocumentsRoot(), c.documents) << (c.ini ? c.ini : "no file");
    EXPECT_EQ(w->RapportsRoot(), c.rapports) << (c.ini ? c.ini : "no file");
  }
}

TEST_F(PrintSetUp, DocumentModeOnTheSampleQuote) {
  auto w = SetUpWindow();
  EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
  EXPECT_TRUE(w->Activated());
  EXPECT_EQ(w->DocumentType(), "DEVIS");
  EXPECT_EQ(w->ClientMail(), "helene.martin@example.org");
  // One entry per line row, empty ones included, in table order.
  ASSERT_FALSE(w->DescriptifsTechniques().isEmpty());
  EXPECT_EQ(w->DescriptifsTechniques().first(), "descriptif-fenetre.txt");
  EXPECT_TRUE(w->DescriptifsTechniques().contains(QString()));
  EXPECT_EQ(Items(w->cbbTitre), QStringList{"Devis"});
  EXPECT_EQ(w->cbbTitre->currentText(), "Devis");
  EXPECT_EQ(Items(w->cbbOrientation), QStringList({"Portrait", "Paysage"}));
  EXPECT_EQ(w->cbbOrientation->currentText(), "Portrait");
  // Nothing remembered: the first printer, and the report prints on it.
  EXPECT_EQ(w->cbbImprimante->currentText(), "Laser Bureau");
  EXPECT_EQ(w->Report().PrintOptions.Printer, "Laser Bureau");
  // The type's default template, prepared into the embedded preview.
  EXPECT_EQ(w->Report().FileName(), Template("Portrait", "Prix nets.fr3"));
  EXPECT_GT(w->frxPreviewTemplate->PageCount(), 0);
  EXPECT_TRUE(PreparedText(*w).contains("D2023-0042"));
  // The tree: the group with its two templates, expanded.
  ASSERT_EQ(w->tvTemplates->topLevelItemCount(), 1);
  QTreeWidgetItem* group = w->tvTemplates->topLevelItem(0);
  EXPECT_EQ(group->text(0), "Corvanel");
  EXPECT_EQ(TFicheImpression::ImageIndex(group), 2);
  EXPECT_TRUE(group->isExpanded());
  QStringList files;
  for (int i = 0; i < group->childCount(); ++i) {
    files << group->child(i)->text(0);
    EXPECT_EQ(TFicheImpression::ImageIndex(group->child(i)), 1);
  }
  files.sort();
  EXPECT_EQ(files, QStringList({"Prix TTC.fr3", "Prix nets.fr3"}));
  EXPECT_TRUE(w->btnConfig->isEnabled());
  EXPECT_TRUE(w->isEnabled());
  // The configuration record.
  TMemTable& c = w->Tables().Config;
  ASSERT_EQ(c.RecordCount(), 1);
  EXPECT_TRUE(c.FieldByName("Croquis").AsBoolean());
  EXPECT_TRUE(c.FieldByName("Fournisseurs").AsBoolean());
  EXPECT_TRUE(c.FieldByName("Dimensions").AsBoolean());

  // A later activation runs nothing again.
  w->Report().Clear();
  w->FormActivate();
  EXPECT_TRUE(w->Report().FileName().isEmpty());
}

TEST_F(PrintSetUp, ConfigurationButtonFollowsTheRight) {
  struct Case {
    QStringList droits;
    bool enabled;
  } cases[] = {{{"Impression_Configuration"}, true},
               {{"autre", "IMPRESSION_CONFIGURATION"}, true},
               {{"Impression"}, false},
               {{}, false}};
  for (const auto& c : cases) {
    droits = c.droits;
    auto w = SetUpWindow();
    EXPECT_EQ(w->btnConfig->isEnabled(), c.enabled) << c.droits.join(',').toStdString();
  }
  // No rights list at all.
  auto w = Window();
  w->SetDroits(nullptr);
  w->FormActivate();
  EXPECT_FALSE(w->btnConfig->isEnabled());
}

TEST_F(PrintSetUp, InitialChoicesFromTheSettings) {
  const QString nets = Template("Portrait", "Prix nets.fr3");
  const QString ttcPaysage = Template("Paysage", "Prix TTC.fr3");
  struct Case {
    const char* what;
    QStringList settings;  // DEVIS keys "Key=Value"
    QString printer;       // Impression/DerniereImprimante
    QString title, orientation, printerShown, templateLoaded;
  } cases[] = {
      {"nothing remembered: defaults", {}, "", "Devis", "Portrait", "Laser Bureau", nets},
      {"remembered template, orientation and printer (letter case ignored)",
       {"DernierTemplate=" + ttcPaysage, "Orientation=paysage"},
       "pdf compta",
       "Devis",
       "Paysage",
       "PDF Compta",
       ttcPaysage},
      {"default follows the remembered orientation", {"Orientation=Paysage"}, "", "Devis", "Paysage", "Laser Bureau",
       Template("Paysage", "Prix nets.fr3")},
      {"remembered template that no longer exists: nothing, not the default",
       {"DernierTemplate=" + app + "/disparu.fr3"},
       "",
       "Devis",
       "Portrait",
       "Laser Bureau",
       ""},
      {"remembered title and printer that no longer exist: the first ones",
       {"DernierTitre=Ancien titre"},
       "Imprimante partie",
       "Devis",
       "Portrait",
       "Laser Bureau",
       // The default path uses the selected title.
       nets},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QFile::remove(sdb);
    CreateSettings(sdb);
    for (const QString& s : c.settings) Set("DEVIS", s.section('=', 0, 0), s.section('=', 1));
    if (!c.printer.isEmpty()) Set("Impression", "DerniereImprimante", c.printer);
    auto w = SetUpWindow();
    EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
    EXPECT_EQ(w->cbbTitre->currentText(), c.title);
    EXPECT_EQ(w->cbbOrientation->currentText(), c.orientation);
    EXPECT_EQ(w->cbbImprimante->currentText(), c.printerShown);
    EXPECT_EQ(w->Report().PrintOptions.Printer, c.printerShown) << "the printer shown is the one that prints";
    EXPECT_EQ(w->Report().FileName(), c.templateLoaded);
    // Without a template the built-in blank report is prepared.
    EXPECT_GT(w->Report().PreparedPages().size(), 0u);
  }
}

TEST_F(PrintSetUp, TypesWithoutDefaultsAndDataWithoutType) {
  // A type of its own, with a title folder: no default title or template.
  QFile f(jobs + "/devis.xml");
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray data = f.readAll();
  f.close();
  WriteFile(jobs + "/avoir.xml", QByteArray(data).replace("<typeDocNom type='string'>DEVIS</typeDocNom>",
                                                          "<typeDocNom type='string'>AVOIR</typeDocNom>"));
  QDir().mkpath(app + "/Modeles/Documents/AVOIR/Zeta/Corvanel/Portrait");
  QFile::copy(Template("Portrait", "Prix nets.fr3"), app + "/Modeles/Documents/AVOIR/Zeta/Corvanel/Portrait/Prix nets.fr3");
  {
    auto w = SetUpWindow(kModeDocument, jobs + "/avoir.xml");
    EXPECT_EQ(w->DocumentType(), "AVOIR");
    EXPECT_EQ(Items(w->cbbTitre), QStringList{"Zeta"});
    EXPECT_TRUE(w->Report().FileName().isEmpty()) << "no default template for a type of its own";
    EXPECT_EQ(w->tvTemplates->topLevelItemCount(), 1);
  }
  // A header without typeDocNom: the type is "RAPPORT", also in document
  // mode, and the title list comes from a folder of that name.
  WriteFile(jobs + "/sans-type.xml", QByteArray(data).replace("<typeDocNom type='string'>DEVIS</typeDocNom>", ""));
  {
    auto w = SetUpWindow(kModeDocument, jobs + "/sans-type.xml");
    EXPECT_EQ(w->DocumentType(), "RAPPORT");
    EXPECT_EQ(w->cbbTitre->count(), 0);
    EXPECT_EQ(w->tvTemplates->topLevelItemCount(), 0);
    EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
  }
  // A missing data file: the same, and the technical descriptions are empty.
  {
    auto w = SetUpWindow(kModeDocument, jobs + "/absent.xml");
    EXPECT_EQ(w->DocumentType(), "RAPPORT");
    EXPECT_TRUE(w->DescriptifsTechniques().isEmpty());
    EXPECT_TRUE(w->ClientMail().isEmpty());
  }
}

TEST_F(PrintSetUp, ModeTextIsComparedExactly) {
  for (const char* mode : {"document", "Rapport", "", "EXPORTER"}) {
    auto w = SetUpWindow(QString::fromLatin1(mode));
    EXPECT_TRUE(w->Activated());
    EXPECT_TRUE(w->DocumentType().isEmpty()) << mode << ": nothing is loaded";
    EXPECT_EQ(w->cbbTitre->count(), 0);
    EXPECT_EQ(w->tvTemplates->topLevelItemCount(), 0);
    EXPECT_EQ(w->frxPreviewTemplate->PageCount(), 0);
    EXPECT_EQ(w->cbbImprimante->count(), 2) << "the printer list is there all the same";
    EXPECT_EQ(w->cbbImprimante->currentIndex(), -1);
    EXPECT_TRUE(w->Report().FileName().isEmpty());
  }
  EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
}

TEST_F(PrintSetUp, ReportModeLoadsTheNamedReport) {
  CopyTree(Sample("jobs/export"), dir.path() + "/jobs/export");
  const QString liste = dir.path() + "/jobs/export/liste1.xml";
  // The Reports root without its trailing separator still finds the file.
  for (const char* rapports : {"Modeles/Rapports/", "Modeles/Rapports"}) {
    WriteIni(QByteArray("[Templates]\nDocuments=Modeles/Documents/\nRapports=") + rapports + "\n");
    Set("Impression", "DerniereImprimante", "PDF Compta");
    auto w = SetUpWindow(kModeRapport, liste);
    EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
    EXPECT_EQ(w->DocumentType(), "RAPPORT");
    EXPECT_EQ(w->Report().FileName(), app + "/Modeles/Rapports/Liste.fr3") << rapports;
    EXPECT_GT(w->frxPreviewTemplate->PageCount(), 0);
    EXPECT_TRUE(PreparedText(*w).contains("Devis en cours - Agence de Lyon"));
    EXPECT_EQ(w->cbbImprimante->currentText(), "PDF Compta");
    EXPECT_EQ(w->lblTitreRapport->text(), "Rapport");
    EXPECT_FALSE(w->lblTitreRapport->isHidden());
    for (QWidget* hidden : std::initializer_list<QWidget*>{w->cbbTitre, w->lblTitre, w->cbbOrientation,
                                                           w->lblOrientation, w->chkFournisseurs, w->chkDimensions,
                                                           w->chkCroquis, w->chkUw, w->tvTemplates})
      EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
    EXPECT_FALSE(w->tvTemplates->isEnabled());
    EXPECT_FALSE(w->btnConfig->isEnabled()) << "even with the configuration right";
    EXPECT_EQ(w->Tables().Config.RecordCount(), 0) << "no configuration record for a report";
  }
  // A report the data file names but the folder lacks: nothing loaded.
  WriteFile(dir.path() + "/jobs/export/autre.xml",
            "<?xml version='1.0' encoding='ISO-8859-1'?>\n<donnees template='Absent.fr3'><entete "
            "table='header'><titre type='string'>x</titre></entete></donnees>\n");
  auto w = SetUpWindow(kModeRapport, dir.path() + "/jobs/export/autre.xml");
  EXPECT_TRUE(w->Report().FileName().isEmpty());
  EXPECT_EQ(w->frxPreviewTemplate->PageCount(), 0);
}

TEST_F(PrintSetUp, ConfigurationRecordAndLineRowsAcrossRuns) {
  Set("DEVIS", "CGV", "Article 1%Article 2");
  Set("DEVIS", "QCM", "Question");
  Set("DEVIS", "PiedDePage1", "Société%SARL");
  Set("DEVIS", "PiedDePage2", "Ligne 1%Ligne 2");
  Set("DEVIS", "DebutLigne", "Début des lignes");
  Set("DEVIS", "FinLigne", "Fin des lignes");
  auto w = SetUpWindow();
  ASSERT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
  TMemTable& c = w->Tables().Config;
  TMemTable& lines = w->Tables().Lines;
  auto check = [&](const char* when, bool start, bool end) {
    SCOPED_TRACE(when);
    ASSERT_EQ(c.RecordCount(), 1);
    c.First();
    EXPECT_EQ(c.FieldByName("CGV").AsString(), "Article 1\r\nArticle 2");
    EXPECT_EQ(c.FieldByName("PiedDePage1").AsString(), "Société%SARL") << "taken as stored";
    EXPECT_EQ(c.FieldByName("PiedDePage2").AsString(), "Ligne 1\r\nLigne 2");
    EXPECT_EQ(c.FieldByName("QCM").AsString(), "Question");
    QStringList ids, modeles;
    for (lines.First(); !lines.Eof(); lines.Next()) {
      ids << lines.FieldByName("Id").AsString();
      modeles << lines.FieldByName("Modele").AsString();
    }
    lines.First();
    EXPECT_EQ(ids.count("-1"), int(start) + int(end)) << ids.join(',').toStdString();
    EXPECT_EQ(ids.first() == "-1" && modeles.first() == "Début des lignes", start) << ids.join(',').toStdString();
    EXPECT_EQ(ids.last() == "-1" && modeles.last() == "Fin des lignes", end) << ids.join(',').toStdString();
    // The product lines keep their order between them.
    QStringList products = ids.filter(QRegularExpression("^[0-9]+$"));
    QStringList sorted = products;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    EXPECT_EQ(products, sorted);
  };
  check("first run", true, true);
  // The start and end rows print first and last.
  const QString text = PreparedText(*w);
  EXPECT_LT(text.indexOf("Début des lignes"), text.indexOf("Fenêtre deux vantaux PVC"));
  EXPECT_GT(text.indexOf("Fin des lignes"), text.indexOf("Porte d'entrée aluminium"));
  w->LectureParametres();
  check("second run", true, true);
  Set("DEVIS", "DebutLigne", "");
  w->LectureParametres();
  check("start text cleared", false, true);
  Set("DEVIS", "FinLigne", "");
  w->LectureParametres();
  check("both cleared", false, false);
}

TEST_F(PrintSetUp, LineRowsWithAnEmptyLineTable) {
  WriteFile(jobs + "/vide.xml",
            "<?xml version='1.0' encoding='ISO-8859-1'?>\n"
            "<donnees template='' index_field_names_header='' index_field_names_ligne='Id' "
            "index_field_names_ligneDescription=''><entete table='header'>"
            "<typeDocNom type='string'>DEVIS</typeDocNom></entete>"
            "<lignes><ligne table='ligne'><Id type='int'>1</Id><Modele type='string'>seule</Modele>"
            "<TotalTVACorse type='double'>0</TotalTVACorse></ligne></lignes></donnees>\n");
  Set("DEVIS", "DebutLigne", "Début");
  Set("DEVIS", "FinLigne", "Fin");
  auto w = SetUpWindow(kModeDocument, jobs + "/vide.xml");
  ASSERT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
  TMemTable& lines = w->Tables().Lines;
  // Remove the only product line: the table is empty of products.
  for (lines.First(); !lines.Eof();) {
    if (lines.FieldByName("Id").AsInteger() == 1)
      lines.Delete();
    else
      lines.Next();
  }
  for (int run = 0; run < 2; ++run) {
    w->LectureParametres();
    QStringList modeles;
    for (lines.First(); !lines.Eof(); lines.Next()) modeles << lines.FieldByName("Modele").AsString();
    EXPECT_EQ(modeles, QStringList({"Début", "Fin"})) << "run " << run;
  }
}

TEST_F(PrintSetUp, SettingsStoreErrorsAreShownAndStopTheSetUp) {
  // A missing database: the message, once, and an empty window.
  QFile::remove(sdb);
  auto w = Window();
  w->FormActivate();
  w->FormActivate();
  ASSERT_EQ(dialogs.Messages.size(), 1) << dialogs.Messages.join('\n').toStdString();
  EXPECT_TRUE(dialogs.Messages[0].contains(QString::fromUtf8("La base de paramètres \"") + sdb + "\" n'existe pas"))
      << dialogs.Messages[0].toStdString();
  EXPECT_TRUE(w->isEnabled());
  EXPECT_EQ(w->tvTemplates->topLevelItemCount(), 0);
  EXPECT_FALSE(store->Parametres().Connected()) << "the database is not left open";
}

TEST_F(PrintSetUp, BrokenTemplateIsNamedAndTheSetUpGoesOn) {
  const QString broken = Template("Portrait", "Prix nets.fr3");
  WriteFile(broken, "ceci n'est pas un modèle");
  auto w = SetUpWindow();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains(broken)) << dialogs.Messages[0].toStdString();
  EXPECT_TRUE(w->Report().FileName().isEmpty());
  EXPECT_EQ(w->tvTemplates->topLevelItemCount(), 1) << "the user can pick another template";
  EXPECT_EQ(w->Tables().Config.RecordCount(), 1);
}

TEST_F(PrintSetUp, MalformedDataFileIsShownInEachMode) {
  WriteFile(jobs + "/casse.xml", "<?xml version='1.0'?><donnees><entete table='header'><numero");
  for (const QString& mode : {kModeDocument, kModeRapport}) {
    dialogs.Messages.clear();
    auto w = SetUpWindow(mode, jobs + "/casse.xml");
    ASSERT_EQ(dialogs.Messages.size(), 1) << mode.toStdString();
    EXPECT_TRUE(dialogs.Messages[0].contains("casse.xml")) << dialogs.Messages[0].toStdString();
    EXPECT_TRUE(w->isEnabled());
    EXPECT_FALSE(store->Parametres().Connected());
    // The window still closes normally.
    w->close();
    EXPECT_EQ(dialogs.Messages.size(), 1) << dialogs.Messages.join('\n').toStdString();
  }
}
