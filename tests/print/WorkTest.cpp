// The print manager at work: the template tree and its clicks, the title
// and orientation choosers, the previews, the display options, printing
// (without a real printer: the real queue is tested end to end elsewhere)
// and the settings written at closing.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>

#include "PrintTestSupport.h"
#include "ReportPreview.h"

using namespace printtest;

namespace {

using Work = Installation;

QTreeWidgetItem* Node(TFicheImpression& w, const QString& text) {
  const auto found = w.tvTemplates->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.first();
}

void Click(TFicheImpression& w, const QString& text) {
  w.tvTemplates->setCurrentItem(Node(w, text));
  w.tvTemplatesClick();
}

QStringList Children(QTreeWidgetItem* group) {
  QStringList l;
  for (int i = 0; group && i < group->childCount(); ++i) l << group->child(i)->text(0);
  l.sort();
  return l;
}

// Closes the modal window that opens next (the engine's own preview).
void CloseNextModal(bool* seen) {
  QTimer::singleShot(50, [seen] {
    if (QWidget* m = QApplication::activeModalWidget()) {
      *seen = true;
      m->close();
    }
  });
}

}  // namespace

TEST_F(Work, TreeListsOnlyTheFilesOfTheOrientationFolder) {
  const QString portrait = app + "/Modeles/Documents/DEVIS/Devis/Corvanel/Portrait";
  QDir().mkpath(portrait + "/sous-dossier");
  WriteFile(portrait + "/notes.txt", "x");
  WriteFile(portrait + "/sous-dossier/cache.fr3", "x");
  auto w = SetUpWindow();
  ASSERT_EQ(w->tvTemplates->topLevelItemCount(), 1);
  EXPECT_EQ(Children(w->tvTemplates->topLevelItem(0)), QStringList({"Prix TTC.fr3", "Prix nets.fr3", "notes.txt"}));

  // An orientation folder that does not exist: no group at all.
  QDir(app + "/Modeles/Documents/DEVIS/Devis/Corvanel/Paysage").removeRecursively();
  w->cbbOrientation->setCurrentText("Paysage");
  w->cbbOrientationChange();
  EXPECT_EQ(w->tvTemplates->topLevelItemCount(), 0);
  // An empty orientation folder: the group without templates.
  QDir().mkpath(app + "/Modeles/Documents/DEVIS/Devis/Corvanel/Paysage");
  w->cbbOrientationChange();
  ASSERT_EQ(w->tvTemplates->topLevelItemCount(), 1);
  EXPECT_EQ(w->tvTemplates->topLevelItem(0)->childCount(), 0);
}

TEST_F(Work, WithoutATitleTheGroupsSitUnderTheTypeFolder) {
  const QString type = app + "/Modeles/Documents/DEVIS";
  QDir().mkpath(type + "/Corvanel/Portrait");
  QFile::copy(Sample("Modeles/Rapports/Liste.fr3"), type + "/Corvanel/Portrait/Direct.fr3");
  auto w = SetUpWindow();
  w->cbbTitre->clear();
  w->LectureTemplates();
  ASSERT_EQ(w->tvTemplates->topLevelItemCount(), 1);
  EXPECT_EQ(Children(w->tvTemplates->topLevelItem(0)), QStringList{"Direct.fr3"});
  Click(*w, "Direct.fr3");
  EXPECT_EQ(w->Report().FileName(), type + "/Corvanel/Portrait/Direct.fr3");
}

TEST_F(Work, ClickingTheTree) {
  auto w = SetUpWindow();
  ASSERT_GT(w->frxPreviewTemplate->PageCount(), 0);
  // The group node: the preview empties and nothing is loaded.
  const QString before = w->Report().FileName();
  Click(*w, "Corvanel");
  EXPECT_EQ(w->frxPreviewTemplate->PageCount(), 0);
  EXPECT_EQ(w->Report().FileName(), before);
  EXPECT_TRUE(w->tvTemplates->isEnabled());
  // A template: loaded and prepared into the preview.
  Click(*w, "Prix TTC.fr3");
  EXPECT_EQ(w->Report().FileName(), Template("Portrait", "Prix TTC.fr3"));
  EXPECT_GT(w->frxPreviewTemplate->PageCount(), 0);
  EXPECT_TRUE(w->tvTemplates->isEnabled());
  // No node selected: nothing loaded, the preview empty.
  w->tvTemplates->setCurrentItem(nullptr);
  w->tvTemplatesClick();
  EXPECT_EQ(w->frxPreviewTemplate->PageCount(), 0);
  EXPECT_EQ(w->Report().FileName(), Template("Portrait", "Prix TTC.fr3"));
  // A template whose file vanished after the refill: the report keeps its
  // template and prepares it again.
  QFile::remove(Template("Portrait", "Prix nets.fr3"));
  Click(*w, "Prix nets.fr3");
  EXPECT_EQ(w->Report().FileName(), Template("Portrait", "Prix TTC.fr3"));
  EXPECT_GT(w->frxPreviewTemplate->PageCount(), 0);
  // A file that is not a template: a message naming it, the tree enabled.
  WriteFile(Template("Portrait", "Abime.fr3"), "pas un modèle");
  w->LectureTemplates();
  Click(*w, "Abime.fr3");
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains("Abime.fr3")) << dialogs.Messages[0].toStdString();
  EXPECT_TRUE(w->tvTemplates->isEnabled());
  // Enter on a template node loads it too (keyboard use).
  w->show();
  w->tvTemplates->setFocus();
  w->tvTemplates->setCurrentItem(Node(*w, "Prix TTC.fr3"));
  w->Report().Clear();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(w->tvTemplates, &enter);
  EXPECT_EQ(w->Report().FileName(), Template("Portrait", "Prix TTC.fr3"));
}

TEST_F(Work, TitleAndOrientationChangesRefillTheTreeOnly) {
  auto w = SetUpWindow();
  w->show();
  const QString loaded = w->Report().FileName();
  const int pages = w->frxPreviewTemplate->PageCount();
  Click(*w, "Corvanel");  // empties the preview
  ASSERT_EQ(w->frxPreviewTemplate->PageCount(), 0);
  w->Report().PreviewOptions.Zoom = 0.5;
  w->cbbOrientation->setCurrentText("Paysage");
  w->cbbOrientationChange();
  // The previously prepared pages again, at zoom 1, the same template.
  EXPECT_EQ(w->frxPreviewTemplate->PageCount(), pages);
  EXPECT_DOUBLE_EQ(w->Report().PreviewOptions.Zoom, 1.0);
  EXPECT_DOUBLE_EQ(w->frxPreviewTemplate->Zoom(), 1.0);
  EXPECT_EQ(w->Report().FileName(), loaded);
  ASSERT_EQ(w->tvTemplates->topLevelItemCount(), 1);
  EXPECT_EQ(Children(w->tvTemplates->topLevelItem(0)), QStringList({"Prix TTC.fr3", "Prix nets.fr3"}));
  EXPECT_EQ(w->focusWidget(), w->btnApercu);
  // A click now loads from the new orientation.
  Click(*w, "Prix nets.fr3");
  EXPECT_EQ(w->Report().FileName(), Template("Paysage", "Prix nets.fr3"));
  // Only the user's choices react (not the set-up's selections).
  int before = w->tvTemplates->topLevelItemCount();
  QDir(app + "/Modeles/Documents/DEVIS/Devis/Corvanel/Portrait").removeRecursively();
  w->cbbOrientation->setCurrentIndex(0);
  EXPECT_EQ(w->tvTemplates->topLevelItemCount(), before);
  emit w->cbbOrientation->activated(0);
  EXPECT_EQ(w->tvTemplates->topLevelItemCount(), 0);
}

TEST_F(Work, UncheckedSketchesAreHiddenInANewlyClickedTemplate) {
  auto w = SetUpWindow();
  ASSERT_GT(PreparedItems(*w, "Image_Croquis"), 0);
  w->chkCroquis->setChecked(false);
  w->chkUw->setChecked(false);
  Click(*w, "Prix TTC.fr3");
  EXPECT_EQ(PreparedItems(*w, "Image_Croquis"), 0);
  EXPECT_EQ(PreparedItems(*w, "Mem_UW"), 0);
  // The record is not touched by a click.
  w->Tables().Config.First();
  EXPECT_TRUE(w->Tables().Config.FieldByName("Croquis").AsBoolean());
}

TEST_F(Work, DisplayOptions) {
  auto w = SetUpWindow();
  TMemTable& c = w->Tables().Config;
  auto flag = [&](const char* name) {
    c.First();
    return c.FieldByName(name).AsBoolean();
  };
  ASSERT_GT(PreparedItems(*w, "Image_Croquis"), 0);
  ASSERT_GT(PreparedItems(*w, "Mem_UW"), 0);
  ASSERT_GT(PreparedItems(*w, "Mem_Fournisseur"), 0);
  ASSERT_GT(PreparedItems(*w, "Mem_Dimensions"), 0);

  w->chkCroquis->click();  // the user's click unchecks and runs the handler
  EXPECT_FALSE(w->chkCroquis->isChecked());
  EXPECT_FALSE(flag("Croquis"));
  EXPECT_EQ(PreparedItems(*w, "Image_Croquis"), 0);
  w->chkCroquis->click();
  EXPECT_TRUE(flag("Croquis"));
  EXPECT_GT(PreparedItems(*w, "Image_Croquis"), 0);

  w->chkUw->click();
  EXPECT_EQ(PreparedItems(*w, "Mem_UW"), 0);
  w->chkUw->click();
  EXPECT_GT(PreparedItems(*w, "Mem_UW"), 0);

  w->chkFournisseurs->click();
  EXPECT_FALSE(flag("Fournisseurs"));
  EXPECT_EQ(PreparedItems(*w, "Mem_Fournisseur"), 0);
  w->chkDimensions->click();
  EXPECT_FALSE(flag("Dimensions"));
  EXPECT_EQ(PreparedItems(*w, "Mem_Dimensions"), 0);
  EXPECT_EQ(c.State(), TDataSetState::Browse) << "the record is posted";
  EXPECT_TRUE(w->isEnabled());

  // The record's flags are kept by a second run of the settings.
  w->LectureParametres();
  EXPECT_FALSE(flag("Fournisseurs"));
  EXPECT_FALSE(flag("Dimensions"));
  EXPECT_TRUE(flag("Croquis"));
}

TEST_F(Work, DisplayOptionsWithoutTheNamedObjects) {
  auto w = SetUpWindow();
  // A template without sketch or Uw objects.
  w->Report().LoadFromFile(app + "/Modeles/Rapports/Liste.fr3");
  w->chkCroquis->click();
  TMemTable& c = w->Tables().Config;
  c.First();
  EXPECT_TRUE(c.FieldByName("Croquis").AsBoolean()) << "unchanged without the object";
  w->chkUw->click();
  // Fournisseurs and Dimensions change the record even when the template
  // never reads it.
  w->chkFournisseurs->click();
  w->chkDimensions->click();
  c.First();
  EXPECT_FALSE(c.FieldByName("Fournisseurs").AsBoolean());
  EXPECT_FALSE(c.FieldByName("Dimensions").AsBoolean());
  EXPECT_TRUE(w->isEnabled());
  EXPECT_TRUE(dialogs.Messages.isEmpty());

  // Outside document mode there is no record: the options change nothing
  // and raise nothing.
  auto other = SetUpWindow("autre");
  other->Report().LoadFromFile(Template("Portrait", "Prix nets.fr3"));
  other->chkFournisseurs->click();
  other->chkCroquis->click();
  EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
  EXPECT_TRUE(other->isEnabled());
}

TEST_F(Work, AppliquerAffichageHidesWhatIsUnchecked) {
  auto w = SetUpWindow();
  w->chkCroquis->setChecked(false);
  w->Report().LoadFromFile(Template("Portrait", "Prix nets.fr3"));  // a fresh copy shows everything
  w->AppliquerAffichage();
  EXPECT_EQ(PreparedItems(*w, "Image_Croquis"), 0);
  EXPECT_GT(PreparedItems(*w, "Mem_UW"), 0);
  EXPECT_GT(w->frxPreviewTemplate->PageCount(), 0);
}

TEST_F(Work, ApercuShowsTheEngineWindowAndComesBack) {
  auto w = SetUpWindow();
  w->show();
  bool seen = false;
  CloseNextModal(&seen);
  w->btnApercuClick();
  EXPECT_TRUE(seen) << "the engine's own preview window opened";
  EXPECT_TRUE(w->isEnabled());
  EXPECT_EQ(w->Report().Preview(), w->frxPreviewTemplate);
  EXPECT_FALSE(w->Report().PreviewOptions.ShowPrintButton);
  EXPECT_FALSE(w->Report().PreviewOptions.AllowEdit);
  EXPECT_DOUBLE_EQ(w->Report().PreviewOptions.WindowZoom, 0.8);
}

TEST_F(Work, WheelAnywhereScrollsThePreview) {
  auto w = SetUpWindow();
  w->resize(1200, 500);
  w->show();
  // Several pages so that there is something to scroll.
  std::vector<report::TfrxPreparedPage> pages(4, w->Report().PreparedPages().front());
  w->frxPreviewTemplate->ShowPages(pages);
  QScrollBar* bar = w->frxPreviewTemplate->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  const int title = w->cbbTitre->currentIndex();
  auto wheel = [&](QWidget* target, int dy) {
    const QPointF local(5, 5);
    QWheelEvent e(local, target->mapToGlobal(local), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
  };
  bar->setValue(0);
  wheel(w->cbbTitre, -120);  // down, over the title chooser
  const int down = bar->value();
  EXPECT_GT(down, 0);
  EXPECT_EQ(w->cbbTitre->currentIndex(), title) << "the chooser does not take the wheel";
  wheel(w->btnQuitter, -120);
  EXPECT_GT(bar->value(), down);
  wheel(w->frxPreviewTemplate->viewport(), 120);  // up, over the preview itself: once
  EXPECT_EQ(bar->value(), down);
}

TEST_F(Work, PrintingWithoutAPrinter) {
  printers.clear();
  auto w = SetUpWindow();
  w->btnImprimerClick();
  EXPECT_EQ(dialogs.Messages, QStringList{"Veuillez choisir une imprimante."});
  EXPECT_TRUE(dialogs.Questions.isEmpty()) << "stops before the technical descriptions";
  EXPECT_TRUE(w->isEnabled());
}

TEST_F(Work, TechnicalDescriptionsAndAVanishedPrinter) {
  // The three lines: an absolute path, an empty entry, a path relative to
  // the data file's folder.
  QFile f(jobs + "/devis.xml");
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QByteArray data = f.readAll();
  f.close();
  int n = 0;
  QByteArray replaced;
  for (const QByteArray& part : data.split('\n')) {
    QByteArray line = part;
    if (line.contains("<descriptifTechnique")) {
      ++n;
      if (n == 1) line = "<descriptifTechnique type='string'>/srv/fiches/porte.pdf</descriptifTechnique>";
      if (n == 2) line = "<descriptifTechnique type='string'></descriptifTechnique>";
      if (n == 3) line = "<descriptifTechnique type='string'>descriptif-fenetre.txt</descriptifTechnique>";
    }
    replaced += line + '\n';
  }
  ASSERT_EQ(n, 3);
  WriteFile(jobs + "/devis.xml", replaced);

  struct Case {
    bool yes;
    QStringList opened;
  } cases[] = {{false, {}},
               {true, {"/srv/fiches/porte.pdf", jobs + "/descriptif-fenetre.txt"}}};
  for (const auto& c : cases) {
    dialogs.Messages.clear();
    dialogs.Questions.clear();
    opened.clear();
    auto w = SetUpWindow();
    // The list shows printers this machine does not have (as when one
    // vanished after the set-up): a clear message, no other printer.
    dialogs.QueueAnswer(c.yes);
    w->btnImprimerClick();
    EXPECT_EQ(dialogs.Questions, QStringList{"Voulez-vous imprimer les descriptifs techniques ?"});
    EXPECT_EQ(w->DescriptifsTechniques(), QStringList({"/srv/fiches/porte.pdf", "", "descriptif-fenetre.txt"}));
    EXPECT_EQ(opened, c.opened);
    ASSERT_EQ(dialogs.Messages.size(), 1);
    EXPECT_TRUE(dialogs.Messages[0].contains("Laser Bureau")) << dialogs.Messages[0].toStdString();
    EXPECT_TRUE(dialogs.Messages[0].contains("n'a pas été imprimé")) << dialogs.Messages[0].toStdString();
    EXPECT_TRUE(w->isEnabled());
  }
}

TEST_F(Work, NoQuestionWhenEveryDescriptionIsEmpty) {
  QFile f(jobs + "/devis.xml");
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QByteArray data = f.readAll();
  f.close();
  data.replace("descriptif-fenetre.txt", "");
  data.replace("descriptif-porte.pdf", "");
  WriteFile(jobs + "/devis.xml", data);
  auto w = SetUpWindow();
  ASSERT_FALSE(w->DescriptifsTechniques().isEmpty());
  for (const QString& d : w->DescriptifsTechniques()) ASSERT_TRUE(d.trimmed().isEmpty()) << d.toStdString();
  w->btnImprimerClick();
  EXPECT_TRUE(dialogs.Questions.isEmpty());
  EXPECT_TRUE(opened.isEmpty());
}

TEST_F(Work, ConfigurationReadsTheSettingsAgain) {
  auto w = SetUpWindow();
  w->show();
  w->chkUw->setChecked(false);
  Click(*w, "Prix TTC.fr3");
  // What the configuration window would have changed.
  Set("DEVIS", "DebutLigne", "Nouveau début");
  bool seen = false;
  CloseNextModal(&seen);
  w->btnConfigClick();
  EXPECT_TRUE(seen) << "the configuration window opened modally";
  EXPECT_TRUE(w->isEnabled());
  // The remembered or default template again, the new line start row, the
  // display options applied, the tree rebuilt.
  EXPECT_EQ(w->Report().FileName(), Template("Portrait", "Prix nets.fr3"));
  w->Tables().Lines.First();
  EXPECT_EQ(w->Tables().Lines.FieldByName("Modele").AsString(), "Nouveau début");
  EXPECT_EQ(PreparedItems(*w, "Mem_UW"), 0);
  EXPECT_TRUE(PreparedText(*w).contains("Nouveau début"));
  EXPECT_EQ(w->tvTemplates->topLevelItemCount(), 1);
}

TEST_F(Work, ChoosingAPrinterHandsItToTheReport) {
  auto w = SetUpWindow();
  w->cbbImprimante->setCurrentIndex(1);
  emit w->cbbImprimante->activated(1);
  EXPECT_EQ(w->Report().PrintOptions.Printer, "PDF Compta");
}

TEST_F(Work, SettingsWrittenAtClosing) {
  struct Case {
    QString mode;
    bool printer, title, templ;
  } cases[] = {{kModeDocument, true, true, true}, {kModeRapport, true, false, false}, {"document", false, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode.toStdString());
    QFile::remove(sdb);
    CreateSettings(sdb);
    CopyTree(Sample("jobs/export"), dir.path() + "/jobs/export");
    auto w = SetUpWindow(c.mode, c.mode == kModeRapport ? dir.path() + "/jobs/export/liste1.xml" : QString());
    w->show();
    w->cbbImprimante->setCurrentIndex(1);
    if (c.mode == kModeDocument) Click(*w, "Prix TTC.fr3");
    w->btnQuitterClick();
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
    EXPECT_EQ(Get("Impression", "DerniereImprimante"), c.printer ? "PDF Compta" : "<none>");
    EXPECT_EQ(Get("DEVIS", "DernierTitre"), c.title ? "Devis" : "<none>");
    EXPECT_EQ(Get("DEVIS", "DernierTemplate"), c.templ ? Template("Portrait", "Prix TTC.fr3") : "<none>");
    if (c.mode == kModeRapport) {
      EXPECT_EQ(Get("RAPPORT", "DernierTemplate"), "<none>");
    }
  }
  // The next run starts from what was written.
  QFile::remove(sdb);
  CreateSettings(sdb);
  {
    auto w = SetUpWindow();
    w->cbbImprimante->setCurrentIndex(1);
    w->cbbOrientation->setCurrentText("Paysage");
    w->cbbOrientationChange();
    Click(*w, "Prix TTC.fr3");
    w->close();
  }
  auto next = SetUpWindow();
  EXPECT_EQ(next->cbbImprimante->currentText(), "PDF Compta");
  EXPECT_EQ(next->Report().FileName(), Template("Paysage", "Prix TTC.fr3"));
  EXPECT_EQ(next->Report().PrintOptions.Printer, "PDF Compta");
}

TEST_F(Work, ClosingWithoutATemplateWritesAnEmptyOne) {
  Set("DEVIS", "DernierTemplate", app + "/disparu.fr3");
  auto w = SetUpWindow();
  ASSERT_TRUE(w->Report().FileName().isEmpty());
  w->close();
  // Stored empty: the next run falls back to the type's default.
  EXPECT_EQ(Get("DEVIS", "DernierTemplate"), "");
  auto next = SetUpWindow();
  EXPECT_EQ(next->Report().FileName(), Template("Portrait", "Prix nets.fr3"));
}

TEST_F(Work, StoreErrorAtClosingIsShownAndTheWindowCloses) {
  auto w = SetUpWindow();
  w->show();
  QFile::remove(sdb);
  store->FermetureBDD();
  // Escape does not end the job's window; its close box does.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(w.get(), &escape);
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(dialogs.Messages.isEmpty());
  w->close();
  EXPECT_FALSE(w->isVisible());
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith("TFicheImpression::FormCloseQuery : ")) << dialogs.Messages[0].toStdString();
  EXPECT_TRUE(dialogs.Messages[0].contains(QString::fromUtf8("La base de paramètres \"") + sdb + "\" n'existe pas"))
      << dialogs.Messages[0].toStdString();
}
