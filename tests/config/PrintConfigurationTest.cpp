// The print configuration half of the window: the eight keys of a document
// type in the settings database, loading, saving, switching types, closing,
// the logo and the scrolling panel.
#include <QImage>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include "ConfigTestSupport.h"

namespace configtest {
namespace {

using PrintConfiguration = ConfigFixture;

const QStringList kKeys = {QStringLiteral("Orientation"), QStringLiteral("Logo"),        QStringLiteral("CGV"),
                           QStringLiteral("QCM"),         QStringLiteral("PiedDePage1"), QStringLiteral("PiedDePage2"),
                           QStringLiteral("DebutLigne"),  QStringLiteral("FinLigne")};

QString Picture(const QString& path, int w = 40, int h = 20) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::red);
  image.save(path, "PNG");
  return path;
}

TEST_F(PrintConfiguration, WritesAndReadsTheEightKeysOfEachTypeWithLineBreaksAsPercent) {
  UsualLibrary();
  const QString logo = Picture(dir.filePath(QStringLiteral("logo.png")));
  TFicheConfigPrint& w = Open();
  EXPECT_TRUE(dialogs.Messages.isEmpty());
  w.cbbOrientation()->setCurrentIndex(1);
  w.edtRepertoireLogo()->setText(logo);
  w.memoCGV()->setPlainText(QStringLiteral("Paiement à 30 jours\nPénalités de retard"));
  w.memoQCM()->setPlainText(QStringLiteral("Q1\n\nQ3"));
  w.edtPiedDePage1()->setText(QStringLiteral("Remise 5% % incluse"));
  w.memoPiedDePage2()->setPlainText(QStringLiteral("SARL au capital de 10 000 €\nSIRET 123"));
  w.edtDebutDeLigne()->setText(QStringLiteral("Début"));
  w.edtFinDeLigne()->setText(QStringLiteral("Fin de ligne"));
  w.findChild<QPushButton*>(QStringLiteral("btnSauvegarder"))->click();
  EXPECT_TRUE(dialogs.Messages.isEmpty());

  const std::vector<std::pair<QString, std::string>> stored = {
      {QStringLiteral("Orientation"), "Paysage"},
      {QStringLiteral("Logo"), logo.toStdString()},
      {QStringLiteral("CGV"), "Paiement à 30 jours%Pénalités de retard"},
      {QStringLiteral("QCM"), "Q1%%Q3"},
      // One-line fields are stored as typed, "%" included.
      {QStringLiteral("PiedDePage1"), "Remise 5% % incluse"},
      {QStringLiteral("PiedDePage2"), "SARL au capital de 10 000 €%SIRET 123"},
      {QStringLiteral("DebutLigne"), "Début"},
      {QStringLiteral("FinLigne"), "Fin de ligne"},
  };
  for (const auto& [key, value] : stored) {
    SCOPED_TRACE(key.toStdString());
    EXPECT_EQ(Stored(QStringLiteral("DEVIS"), key), value);
    EXPECT_EQ(Stored(QStringLiteral("FACTURE"), key), "<absent>");
  }

  // Read back by a new window; a "%" in a memo's stored text is a line break.
  Store(QStringLiteral("DEVIS"), QStringLiteral("QCM"), QStringLiteral("Remise 50% comprise"));
  TFicheConfigPrint& again = Open();
  EXPECT_EQ(again.cbbOrientation()->currentText(), QStringLiteral("Paysage"));
  EXPECT_NE(Node(QStringLiteral("Devis/Corvanel/Large.fr3")), nullptr);  // the tree follows
  EXPECT_EQ(again.edtRepertoireLogo()->text(), logo);
  EXPECT_EQ(again.imgLogo()->Image().size(), QSize(40, 20));
  EXPECT_EQ(again.memoCGV()->toPlainText(), QStringLiteral("Paiement à 30 jours\nPénalités de retard"));
  EXPECT_EQ(again.memoQCM()->toPlainText(), QStringLiteral("Remise 50\n comprise"));
  EXPECT_EQ(again.edtPiedDePage1()->text(), QStringLiteral("Remise 5% % incluse"));
  EXPECT_EQ(again.memoPiedDePage2()->toPlainText().section(QLatin1Char('\n'), 1), QStringLiteral("SIRET 123"));
  EXPECT_EQ(again.edtDebutDeLigne()->text(), QStringLiteral("Début"));
  EXPECT_EQ(again.edtFinDeLigne()->text(), QStringLiteral("Fin de ligne"));
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(PrintConfiguration, OrientationOutsideTheListShowsPortrait) {
  UsualLibrary();
  for (const QString& value : {QStringLiteral("Paysage"), QStringLiteral("paysage"), QStringLiteral("Carré")}) {
    SCOPED_TRACE(value.toStdString());
    Store(QStringLiteral("DEVIS"), QStringLiteral("Orientation"), value);
    TFicheConfigPrint& w = Open();
    EXPECT_EQ(w.cbbOrientation()->currentText(), value == QStringLiteral("Paysage") ? value : QStringLiteral("Portrait"));
  }
}

TEST_F(PrintConfiguration, SwitchingTypesDropsUnsavedEditsAndKeepsSavedOnes) {
  UsualLibrary();
  Store(QStringLiteral("FACTURE"), QStringLiteral("CGV"), QStringLiteral("CGV facture"));
  Store(QStringLiteral("FACTURE"), QStringLiteral("Orientation"), QStringLiteral("Paysage"));
  TFicheConfigPrint& w = Open();
  w.memoCGV()->setPlainText(QStringLiteral("non sauvé"));
  w.cbbTitre()->setCurrentIndex(w.cbbTitre()->findText(QStringLiteral("FACTURE")));
  EXPECT_EQ(w.memoCGV()->toPlainText(), QStringLiteral("CGV facture"));
  EXPECT_EQ(w.cbbOrientation()->currentText(), QStringLiteral("Paysage"));
  EXPECT_EQ(Tree().first(), QStringLiteral("Facture [1]"));
  w.cbbTitre()->setCurrentIndex(w.cbbTitre()->findText(QStringLiteral("DEVIS")));
  EXPECT_EQ(w.memoCGV()->toPlainText(), QString());
  EXPECT_EQ(w.cbbOrientation()->currentText(), QStringLiteral("Portrait"));
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("CGV")), "<absent>");

  w.memoCGV()->setPlainText(QStringLiteral("sauvé"));
  w.btnSauvegarderClick();
  w.cbbTitre()->setCurrentIndex(w.cbbTitre()->findText(QStringLiteral("FACTURE")));
  w.cbbTitre()->setCurrentIndex(w.cbbTitre()->findText(QStringLiteral("DEVIS")));
  EXPECT_EQ(w.memoCGV()->toPlainText(), QStringLiteral("sauvé"));
  EXPECT_EQ(Stored(QStringLiteral("FACTURE"), QStringLiteral("CGV")), "CGV facture");
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(PrintConfiguration, EveryWayOfClosingSavesTheTypeShown) {
  UsualLibrary();
  const std::vector<std::pair<const char*, std::function<void(TFicheConfigPrint&)>>> ways = {
      {"Fermer", [](TFicheConfigPrint& w) { w.findChild<QPushButton*>(QStringLiteral("btnFermer"))->click(); }},
      {"close box", [](TFicheConfigPrint& w) { w.close(); }},
      {"Escape", [](TFicheConfigPrint& w) { w.reject(); }},
  };
  for (const auto& [name, closeIt] : ways) {
    SCOPED_TRACE(name);
    TFicheConfigPrint& w = Open();
    w.cbbTitre()->setCurrentIndex(w.cbbTitre()->findText(QStringLiteral("FACTURE")));
    w.edtFinDeLigne()->setText(QString::fromUtf8(name));
    closeIt(w);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(Stored(QStringLiteral("FACTURE"), QStringLiteral("FinLigne")), name);
    EXPECT_EQ(Stored(QStringLiteral("FACTURE"), QStringLiteral("Orientation")), "Portrait");
    EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("FinLigne")), "<absent>");
  }
  // A window never shown has loaded nothing, so it writes nothing.
  Open(QStringLiteral("DEVIS"), false).done(QDialog::Rejected);
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("Orientation")), "<absent>");
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(PrintConfiguration, EditsSurviveReturningFromQuestionsDialogsAndTheDesigner) {
  UsualLibrary();
  Store(QStringLiteral("DEVIS"), QStringLiteral("CGV"), QStringLiteral("stockées"));
  TFicheConfigPrint& w = Open();
  EXPECT_EQ(w.memoCGV()->toPlainText(), QStringLiteral("stockées"));
  w.memoCGV()->setPlainText(QStringLiteral("tapées"));
  // Modify a template: a designer and a question come and go.
  Select(QStringLiteral("Devis/Utilisateur/Mien.fr3"));
  dialogs.QueueAnswer(false);
  w.pop_updateClick();
  // The window is activated and shown again.
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(&w, &activate);
  w.hide();
  w.show();
  EXPECT_EQ(w.memoCGV()->toPlainText(), QStringLiteral("tapées"));
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("CGV")), "stockées");
}

TEST_F(PrintConfiguration, AFailedLoadReadsTheOtherKeysReportsOnceAndClosingKeepsStoredValues) {
  UsualLibrary();
  File(QStringLiteral("../logo.png"), "pas une image");
  const QString logo = dir.filePath(QStringLiteral("logo.png"));
  Store(QStringLiteral("DEVIS"), QStringLiteral("Logo"), logo);
  Store(QStringLiteral("DEVIS"), QStringLiteral("CGV"), QStringLiteral("a%b"));
  Store(QStringLiteral("DEVIS"), QStringLiteral("FinLigne"), QStringLiteral("fin"));
  Store(QStringLiteral("DEVIS"), QStringLiteral("Orientation"), QStringLiteral("Paysage"));

  // An image that cannot be decoded: reported once, every key read.
  TFicheConfigPrint& w = Open();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith(QStringLiteral("TFicheConfigPrint::LectureBDD : ")));
  EXPECT_TRUE(dialogs.Messages[0].contains(logo));
  EXPECT_EQ(w.edtRepertoireLogo()->text(), logo);
  EXPECT_TRUE(w.imgLogo()->Image().isNull());
  EXPECT_EQ(w.memoCGV()->toPlainText(), QStringLiteral("a\nb"));
  EXPECT_EQ(w.edtFinDeLigne()->text(), QStringLiteral("fin"));
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(&w, &activate);
  w.close();
  EXPECT_EQ(dialogs.Messages.size(), 1);
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("Logo")), logo.toStdString());
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("CGV")), "a%b");

  // The settings database cannot be opened while the window loads: one
  // message; once it is back, closing writes only what the user typed.
  dialogs.Messages.clear();
  const QString away = db + QStringLiteral(".away");
  ASSERT_TRUE(QFile::rename(db, away));
  TFicheConfigPrint& w2 = Open();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith(QStringLiteral("TFicheConfigPrint::LectureBDD : ")));
  EXPECT_EQ(w2.memoCGV()->toPlainText(), QString());
  ASSERT_TRUE(QFile::rename(away, db));
  w2.edtDebutDeLigne()->setText(QStringLiteral("nouveau"));
  w2.close();
  EXPECT_EQ(dialogs.Messages.size(), 1);
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("DebutLigne")), "nouveau");
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("CGV")), "a%b");
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("FinLigne")), "fin");
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("Logo")), logo.toStdString());
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("Orientation")), "Paysage");

  // Nothing typed and the database still away: closing writes nothing and
  // says nothing more.
  dialogs.Messages.clear();
  ASSERT_TRUE(QFile::rename(db, away));
  Open().close();
  EXPECT_EQ(dialogs.Messages.size(), 1);
  ASSERT_TRUE(QFile::rename(away, db));
}

TEST_F(PrintConfiguration, SavingFailureIsReportedWithItsPrefix) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  w.SetFichierBDD(dir.filePath(QStringLiteral("absente.sdb")));
  w.btnSauvegarderClick();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith(QStringLiteral("TFicheConfigPrint::EcritureBDD : ")));
  EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("absente.sdb"))));
}

TEST_F(PrintConfiguration, LogoDialogSetsPathAndPreviewAndCancelChangesNothing) {
  UsualLibrary();
  const QString logo = Picture(dir.filePath(QStringLiteral("logo.png")), 300, 100);
  TFicheConfigPrint& w = Open();
  dialogs.QueuePath(logo);
  w.findChild<QPushButton*>(QStringLiteral("btnOuvrirLogo"))->click();
  EXPECT_EQ(dialogs.FileDialogs.size(), 1);
  EXPECT_EQ(w.edtRepertoireLogo()->text(), logo);
  EXPECT_EQ(w.imgLogo()->Image().size(), QSize(300, 100));
  // Not stored until saved.
  EXPECT_EQ(Stored(QStringLiteral("DEVIS"), QStringLiteral("Logo")), "<absent>");

  // Another type shows its own (empty) logo; cancelling the dialog there
  // does not bring back the file chosen before.
  w.cbbTitre()->setCurrentIndex(w.cbbTitre()->findText(QStringLiteral("FACTURE")));
  w.btnOuvrirLogoClick();
  EXPECT_EQ(w.edtRepertoireLogo()->text(), QString());
  EXPECT_TRUE(w.imgLogo()->Image().isNull());

  // A file that is not a picture is reported and changes nothing.
  const QString bad = dir.filePath(QStringLiteral("faux.png"));
  File(QStringLiteral("../faux.png"), "texte");
  w.edtRepertoireLogo()->setText(QStringLiteral("avant"));
  dialogs.QueuePath(bad);
  w.btnOuvrirLogoClick();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains(bad));
  EXPECT_EQ(w.edtRepertoireLogo()->text(), QStringLiteral("avant"));
}

TEST_F(PrintConfiguration, WheelOverThePanelScrollsTenUnitsPerStep) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  w.resize(700, 300);
  QApplication::processEvents();
  QScrollBar* bar = w.scrollBox()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 40);
  ASSERT_EQ(bar->value(), 0);
  auto wheel = [&](QWidget* target, int dy) {
    const QPointF at(5, 5);
    QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
  };
  wheel(w.scrollBox()->viewport(), -120);
  EXPECT_EQ(bar->value(), 10);
  wheel(w.scrollBox()->viewport(), -120);
  EXPECT_EQ(bar->value(), 20);
  wheel(w.scrollBox()->viewport(), 120);
  EXPECT_EQ(bar->value(), 10);
  // A sideways wheel is left to the panel's own handling.
  wheel(w.scrollBox()->viewport(), 0);
  EXPECT_EQ(bar->value(), 10);

  // Passing over the type list without focus, the wheel changes nothing.
  w.memoCGV()->setPlainText(QStringLiteral("en cours"));
  w.scrollBox()->setFocus();
  wheel(w.cbbTitre(), -120);
  EXPECT_EQ(w.cbbTitre()->currentText(), QStringLiteral("DEVIS"));
  EXPECT_EQ(w.memoCGV()->toPlainText(), QStringLiteral("en cours"));
}

TEST_F(PrintConfiguration, NoDocumentTypeUsesAnEmptySection) {
  TFicheConfigPrint& w = Open(QStringLiteral("DEVIS"));
  ASSERT_EQ(dialogs.Messages.size(), 1);  // no template folder
  EXPECT_EQ(w.cbbTitre()->currentText(), QString());
  w.edtPiedDePage1()->setText(QStringLiteral("sans type"));
  w.close();
  EXPECT_EQ(Stored(QString(), QStringLiteral("PiedDePage1")), "sans type");
  EXPECT_EQ(Stored(QString(), QStringLiteral("Orientation")), "Portrait");
  EXPECT_EQ(dialogs.Messages.size(), 1);
}

}  // namespace
}  // namespace configtest
