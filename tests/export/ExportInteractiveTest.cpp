// The export choice dialog and the print manager's "Exporter" action.
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include "../report/ReportTestSupport.h"
#include "ExportImpression.h"
#include "FicheChoixExport.h"
#include "ui/Dialogs.h"

using namespace reporttest;

namespace {

TEST(ChoixExport, CaptionControlsAndInitialState) {
  TFicheChoixExport d;
  EXPECT_EQ(d.windowTitle(), QStringLiteral("Configuration de l'export"));
  EXPECT_EQ(d.lblExport->text(), QStringLiteral("Choisir le mode de l'export"));
  EXPECT_EQ(d.lblExport->buddy(), d.rbtnCSV);
  EXPECT_EQ(d.rbtnCSV->text(), "CSV");
  EXPECT_EQ(d.rbtnPDF->text(), "PDF");
  EXPECT_EQ(d.chkOpenExport->text(), QStringLiteral("Ouverture du fichier après l'export"));
  EXPECT_FALSE(d.rbtnCSV->isChecked());
  EXPECT_TRUE(d.rbtnPDF->isChecked());
  EXPECT_TRUE(d.chkOpenExport->isChecked());
  EXPECT_EQ(d.ExportKind(), 0);
  for (QWidget* w : std::initializer_list<QWidget*>{d.rbtnCSV, d.rbtnPDF, d.chkOpenExport, d.btnValider}) {
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    EXPECT_NE(w->focusPolicy() & Qt::TabFocus, 0) << w->objectName().toStdString();
  }
  EXPECT_EQ(d.rbtnCSV->nextInFocusChain(), d.rbtnPDF);
  EXPECT_EQ(d.findChild<QPushButton*>("btnValider"), d.btnValider);
}

// Keyboard users start on the kind that is chosen, so a screen reader reads
// the current choice and the arrow keys change it.
TEST(ChoixExport, KeyboardStartsOnTheChosenKindAndArrowsChangeIt) {
  TFicheChoixExport d;
  d.show();
  QApplication::setActiveWindow(&d);
  QApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), d.rbtnPDF);
  QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
  QApplication::sendEvent(d.rbtnPDF, &left);
  EXPECT_EQ(QApplication::focusWidget(), d.rbtnCSV);
  EXPECT_TRUE(d.rbtnCSV->isChecked());
  EXPECT_FALSE(d.rbtnPDF->isChecked());
  d.btnValider->click();
  EXPECT_EQ(d.ExportKind(), 1);
}

TEST(ChoixExport, ClicksKeepOneKindAndOkHandsBackTheChoice) {
  struct Case {
    std::vector<const char*> clicks;  // radio buttons clicked, in order
    bool open;                        // state of the check box
    bool ok;                          // closed with OK
    int kind;
  } cases[] = {
      {{}, true, true, 2},
      {{"rbtnCSV"}, true, true, 1},
      {{"rbtnCSV", "rbtnCSV"}, false, true, 1},
      {{"rbtnCSV", "rbtnPDF"}, false, true, 2},
      {{"rbtnPDF", "rbtnCSV", "rbtnPDF", "rbtnCSV"}, true, true, 1},
      {{"rbtnCSV"}, true, false, 0},  // closed without OK
  };
  for (const Case& c : cases) {
    TFicheChoixExport d;
    d.show();
    for (const char* name : c.clicks) {
      d.findChild<QRadioButton*>(name)->click();
      EXPECT_NE(d.rbtnCSV->isChecked(), d.rbtnPDF->isChecked()) << "exactly one kind after a click";
      EXPECT_TRUE(d.findChild<QRadioButton*>(name)->isChecked());
    }
    d.chkOpenExport->setChecked(c.open);
    if (c.ok) d.btnValider->click();
    else d.close();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.ExportKind(), c.kind);
    EXPECT_EQ(d.OpenExport(), c.ok && c.open);
    EXPECT_EQ(d.result(), c.ok ? QDialog::Accepted : QDialog::Rejected);
  }
}

// Records what a file dialog saw: whether the window was disabled while
// the export ran.
class TDialogsEspions : public tessaly::ui::TScriptedDialogs {
 public:
  QWidget* Window = nullptr;
  QList<bool> WindowEnabled;
  QString SaveFile(QWidget* parent, const QString& caption, const QString& suggestedPath,
                   const QString& filter) override {
    WindowEnabled << (Window && Window->isEnabled());
    return TScriptedDialogs::SaveFile(parent, caption, suggestedPath, filter);
  }
};

// The print manager's part of an export: the window, the prepared report
// of the sample quote, its two filters; the choice dialog is answered
// through its controls and the opened files are recorded.
struct Interactif : ::testing::Test {
  TDialogsEspions dialogs;
  tessaly::ui::TDialogsGuard guard{&dialogs};
  QTemporaryDir dir;
  QWidget window;
  Documents d;
  TfrxPDFExport pdf;
  TfrxCSVExport csv;
  QStringList opened;
  // How the next choice dialog is answered: a radio button to click (or
  // nullptr to close it without OK) and the check box state.
  const char* choice = "rbtnPDF";
  bool openAfter = true;

  void SetUp() override {
    dialogs.Window = &window;
    d.Load(Sample("jobs/devis/devis.xml"));
    d.Report.LoadFromFile(Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3"));
    d.Report.PrepareReport(true);
    ConfigurationExportPdf(pdf);
    ConfigurationExportCsv(csv);
    SetFileOpener([this](const QString& path) { opened << path; });
    SetChoixExportRunner([this](TFicheChoixExport& c) {
      EXPECT_EQ(c.parentWidget(), &window);
      if (!choice) {
        c.close();
        return;
      }
      c.findChild<QRadioButton*>(choice)->click();
      c.chkOpenExport->setChecked(openAfter);
      c.btnValider->click();
    });
  }
  void TearDown() override {
    SetFileOpener({});
    SetChoixExportRunner({});
  }
  QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files); }
  void Export() { ExportationInteractive(&window, d.Report, pdf, csv); }
};

TEST(ExportFilters, FixedSettingsOfThePrintManager) {
  TfrxPDFExport pdf;
  pdf.FileName.clear();
  pdf.OpenAfterExport = true;
  ConfigurationExportPdf(pdf);
  EXPECT_EQ(pdf.FileName, "test.pdf");
  EXPECT_FALSE(pdf.OpenAfterExport);
  EXPECT_FALSE(pdf.OverwritePrompt);
  EXPECT_FALSE(pdf.DataOnly);
  EXPECT_EQ(pdf.Author, "Corvanel");
  EXPECT_EQ(pdf.Subject, "PDF export");
  EXPECT_EQ(pdf.PDFVersion, "1.7");
  EXPECT_TRUE(pdf.EmbeddedFonts);
  EXPECT_EQ(pdf.Quality, 95);
  TfrxCSVExport csv;
  csv.Separator = ",";
  csv.UTF8 = true;
  csv.OpenAfterExport = true;
  ConfigurationExportCsv(csv);
  EXPECT_EQ(csv.Separator, ";");
  EXPECT_FALSE(csv.UTF8) << "Windows-1252";
  EXPECT_FALSE(csv.OEMCodepage);
  EXPECT_FALSE(csv.OverwritePrompt);
  EXPECT_FALSE(csv.OpenAfterExport);
  EXPECT_TRUE(csv.NoSysSymbols);
  EXPECT_FALSE(csv.ForcedQuotes);
  EXPECT_TRUE(csv.ShowDialog) << "the CSV filter's dialog stays shown";
}

TEST_F(Interactif, EachKindWritesItsFileAndOnlyThePdfIsOpened) {
  struct Case {
    const char* choice;
    bool openAfter;
    const char* file;  // answer of the save dialog
    const char* dialog;  // its caption; nullptr: no dialog
    bool opened;
  } cases[] = {
      {nullptr, true, nullptr, nullptr, false},  // choice dialog closed: nothing
      {"rbtnCSV", true, "devis.csv", "Exporter en CSV", false},
      {"rbtnPDF", false, "devis-ferme.pdf", "Exporter en PDF", false},
      {"rbtnPDF", true, "devis.pdf", "Exporter en PDF", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "(none)");
    choice = c.choice;
    openAfter = c.openAfter;
    dialogs.FileDialogs.clear();
    dialogs.WindowEnabled.clear();
    opened.clear();
    if (c.file) dialogs.QueuePath(dir.filePath(c.file));
    pdf.ShowDialog = false;
    Export();
    EXPECT_TRUE(window.isEnabled());
    EXPECT_FALSE(pdf.ShowDialog) << "the dialog is switched off again after the export";
    EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join("\n").toStdString();
    if (!c.dialog) {
      EXPECT_TRUE(dialogs.FileDialogs.isEmpty());
      EXPECT_TRUE(Files().isEmpty());
      continue;
    }
    EXPECT_EQ(dialogs.FileDialogs, QStringList{c.dialog});
    EXPECT_EQ(dialogs.WindowEnabled, QList<bool>{false}) << "the window is disabled while it exports";
    ASSERT_TRUE(QFile::exists(dir.filePath(c.file)));
    EXPECT_EQ(opened, c.opened ? QStringList{dir.filePath(c.file)} : QStringList());
  }
  const QString pdfPath = dir.filePath("devis.pdf");
  EXPECT_TRUE(PdfStructureOk(pdfPath));
  EXPECT_TRUE(Blanks(PdfText(pdfPath)).contains("Total net HT : 4 287,60 €"));
  EXPECT_TRUE(PdfInfo(pdfPath).contains("Corvanel"));
  QFile f(dir.filePath("devis.csv"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll().contains("Fen\xEAtre deux vantaux PVC;")) << "Windows-1252 with ';'";
}

TEST_F(Interactif, EveryPdfExportAsksForItsFileAlsoAfterAnExportWithoutDialog) {
  dialogs.QueuePath(dir.filePath("premier.pdf"));
  Export();
  // The mail action uses the same filter without its dialog in between.
  pdf.ShowDialog = false;
  pdf.FileName = dir.filePath("mail.pdf");
  ASSERT_TRUE(d.Report.Export(pdf));
  dialogs.QueuePath(dir.filePath("second.pdf"));
  Export();
  // Cancelled: nothing more is written and the window comes back.
  Export();
  EXPECT_EQ(dialogs.FileDialogs, QStringList({"Exporter en PDF", "Exporter en PDF", "Exporter en PDF"}));
  EXPECT_EQ(Files(), QStringList({"mail.pdf", "premier.pdf", "second.pdf"}));
  EXPECT_EQ(opened, QStringList({dir.filePath("premier.pdf"), dir.filePath("second.pdf")}))
      << "an export without the dialog (the mail's) opens nothing";
  EXPECT_TRUE(window.isEnabled());
}

TEST_F(Interactif, CsvSwitchesTheDataOnlyOptionOfPage1ForTheExportOnly) {
  choice = "rbtnCSV";
  const QString rows = d.CsvText(true), all = d.CsvText(false);
  ASSERT_NE(rows, all);
  auto exported = [&](const QString& name) {
    dialogs.QueuePath(dir.filePath(name));
    Export();
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return QString::fromLatin1(f.readAll());
  };
  auto latin = [](const QString& s) { return QString::fromLatin1(ToWindows1252(s)); };

  EXPECT_EQ(exported("page1.csv"), latin(rows)) << "only the data rows";
  EXPECT_FALSE(d.Report.FindPage("Page1")->DataOnly) << "switched off again";

  // A page that already has the option keeps it.
  d.Report.FindPage("Page1")->DataOnly = true;
  EXPECT_EQ(exported("deja.csv"), latin(rows));
  EXPECT_TRUE(d.Report.FindPage("Page1")->DataOnly);
  d.Report.FindPage("Page1")->DataOnly = false;

  // Without a page "Page1" the export still runs, with every printed band.
  d.Report.Template().Pages.front().Name = "Couverture";
  EXPECT_EQ(exported("autre.csv"), latin(all));
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(Interactif, AnExportErrorIsShownAndTheWindowComesBack) {
  const QString target = dir.filePath("absent/devis.pdf");
  dialogs.QueuePath(target);
  Export();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains(target)) << dialogs.Messages[0].toStdString();
  EXPECT_TRUE(window.isEnabled());
  EXPECT_FALSE(pdf.ShowDialog);
  EXPECT_TRUE(opened.isEmpty());
  EXPECT_FALSE(QDir(dir.filePath("absent")).exists());
}

}  // namespace
