// The name dialog: its values, its keyboard use and the refusal of names
// that are not plain file names.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "FicheSetFileName.h"
#include "ui/Dialogs.h"

using tessaly::TFicheSetFileName;

namespace {

struct ScriptedNameDialog : ::testing::Test {
  ~ScriptedNameDialog() override { TFicheSetFileName::ExecHook = nullptr; }
  tessaly::ui::TScriptedDialogs dialogs;
  tessaly::ui::TDialogsGuard guard{&dialogs};
};

TEST_F(ScriptedNameDialog, ValidatesClosesAndKeepsItsValuesBetweenShowings) {
  TFicheSetFileName d(nullptr, QStringLiteral("Renommer le fichier"), QStringLiteral("Nommer le fichier : "),
                      QStringLiteral("Prix nets.fr3"));
  EXPECT_EQ(d.windowTitle(), QStringLiteral("Renommer le fichier"));
  EXPECT_EQ(d.lblFichier()->text(), QStringLiteral("Nommer le fichier : "));
  EXPECT_EQ(d.edtNomFichier()->text(), QStringLiteral("Prix nets.fr3"));
  EXPECT_EQ(d.lblFichier()->buddy(), d.edtNomFichier());
  EXPECT_EQ(d.edtNomFichier()->accessibleName(), QStringLiteral("Nommer le fichier"));
  EXPECT_EQ(d.btnValider()->accessibleName(), QStringLiteral("Valider"));
  EXPECT_EQ(d.btnFermer()->accessibleName(), QStringLiteral("Fermer"));
  QString name = QStringLiteral("unchanged");
  EXPECT_FALSE(d.GetNomFichier(name));
  EXPECT_EQ(name, QStringLiteral("unchanged"));

  // Enter validates (Valider is the default button).
  int showing = 0;
  TFicheSetFileName::ExecHook = [&](TFicheSetFileName& dlg) {
    ++showing;
    if (showing == 1) {
      dlg.edtNomFichier()->setText(QStringLiteral("Autre.fr3"));
      QTest::keyClick(dlg.edtNomFichier(), Qt::Key_Return);
    } else if (showing == 2) {
      // Shown again: the name typed before is still there.
      EXPECT_EQ(dlg.edtNomFichier()->text(), QStringLiteral("Autre.fr3"));
      dlg.btnFermer()->click();
    } else {
      // Escape closes without validation.
      QTest::keyClick(dlg.edtNomFichier(), Qt::Key_Escape);
    }
  };
  d.Executer();
  ASSERT_TRUE(d.GetNomFichier(name));
  EXPECT_EQ(name, QStringLiteral("Autre.fr3"));
  d.setWindowTitle(QStringLiteral("ERREUR : fichier déjà existant"));
  d.Executer();
  EXPECT_FALSE(d.GetNomFichier(name));
  EXPECT_EQ(name, QStringLiteral("Autre.fr3"));
  // The last result stays with the object; a further close keeps it closed.
  d.Executer();
  EXPECT_FALSE(d.Valide());
  EXPECT_EQ(d.NomFichier(), QStringLiteral("Autre.fr3"));
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(ScriptedNameDialog, RefusesNamesThatAreNotPlainFileNamesAndAsksAgain) {
  const QStringList refused = {QString(),          QStringLiteral("   "), QStringLiteral("."),
                               QStringLiteral(".."), QStringLiteral("../Corvanel/Prix nets.fr3"),
                               QStringLiteral("sous/dossier.fr3"), QStringLiteral("C:\\x.fr3"),
                               QStringLiteral("/tmp/x.fr3")};
  for (const QString& bad : refused) {
    SCOPED_TRACE(bad.toStdString());
    dialogs.Messages.clear();
    TFicheSetFileName d(nullptr, QStringLiteral("Création d'un nouveau template"),
                        QStringLiteral("Nommer le fichier : "), QStringLiteral("new template"));
    QStringList entered = {bad, QStringLiteral("Bon nom.fr3")};
    int showings = 0;
    TFicheSetFileName::ExecHook = [&](TFicheSetFileName& dlg) {
      ++showings;
      dlg.edtNomFichier()->setText(entered.takeFirst());
      dlg.btnValider()->click();
    };
    d.Executer();
    EXPECT_EQ(showings, 2);
    ASSERT_EQ(dialogs.Messages.size(), 1);
    EXPECT_TRUE(dialogs.Messages[0].startsWith(QStringLiteral("Nom de fichier invalide")));
    QString name;
    ASSERT_TRUE(d.GetNomFichier(name));
    EXPECT_EQ(name, QStringLiteral("Bon nom.fr3"));
  }
  // Names with dots, blanks and accents are plain names.
  for (const QString& good : {QStringLiteral("Prix nets.fr3"), QStringLiteral("..fr3"), QStringLiteral("Modèle")})
    EXPECT_TRUE(tessaly::NomFichierSimple(good)) << good.toStdString();
}

TEST(NameDialog, UnattendedRunAnswersItAsClosed) {
  qputenv("TESSALY_UNATTENDED", "1");
  TFicheSetFileName d(nullptr, QStringLiteral("Renommer le fichier"), QStringLiteral("Nommer le fichier : "),
                      QStringLiteral("a.fr3"));
  d.Executer();
  qunsetenv("TESSALY_UNATTENDED");
  QString name;
  EXPECT_FALSE(d.GetNomFichier(name));
  EXPECT_FALSE(d.isVisible());
}

}  // namespace
