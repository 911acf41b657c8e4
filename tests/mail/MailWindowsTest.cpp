// The SMTP account window, the mail template picker and editor, and the
// mail window, in-process and offscreen, over a settings database of their
// own; sending goes to a real SMTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QFile>
#include <QGroupBox>
#include <QJsonArray>
#include <QLabel>
#include <QCheckBox>
#include <QKeyEvent>
#include <QTreeWidget>

#include "FicheConfigSmtp.h"
#include "FicheMailModeles.h"
#include "FicheSendMail.h"
#include "MailTestSupport.h"
#include "MailWindowSupport.h"

using namespace tessaly;
using namespace mailtest;

namespace {

// Every field has a label that is its buddy and gives it an accessible name.
void ExpectLabelled(QWidget* w, const std::vector<std::pair<const char*, QString>>& champs) {
  for (const auto& [nom, legende] : champs) {
    QWidget* champ = w->findChild<QWidget*>(QString::fromLatin1(nom));
    ASSERT_NE(champ, nullptr) << nom;
    bool trouve = false;
    for (QLabel* l : w->findChildren<QLabel*>())
      if (l->buddy() == champ) {
        trouve = true;
        EXPECT_EQ(l->text(), legende) << nom;
      }
    EXPECT_TRUE(trouve) << nom << " has no label";
    EXPECT_FALSE(champ->accessibleName().isEmpty()) << nom;
    EXPECT_NE(champ->focusPolicy(), Qt::NoFocus) << nom;
  }
}

void ExpectButtons(QWidget* w, const std::vector<std::pair<const char*, QString>>& boutons) {
  for (const auto& [nom, legende] : boutons) {
    auto* b = w->findChild<QPushButton*>(QString::fromLatin1(nom));
    ASSERT_NE(b, nullptr) << nom;
    EXPECT_EQ(b->text(), legende);
    EXPECT_EQ(b->accessibleName(), legende);
  }
}

// The widgets Tab visits from `debut`, by object name, until it comes back.
QStringList TabOrder(QWidget* debut) {
  QStringList out;
  QWidget* w = debut;
  do {
    if (w->isVisibleTo(debut->window()) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
      out << w->objectName();
    w = w->nextInFocusChain();
  } while (w && w != debut);
  return out;
}

// ---------------------------------------------------------------- SMTP account

using ConfigSmtp = MailWindows;

TEST_F(ConfigSmtp, FirstOpeningShowsAnEmptyAccountAndSavesIt) {
  TFicheConfigSmtp w;
  Init(w);
  EXPECT_EQ(w.windowTitle(), "Configuration du SMTP");
  auto* tls = Controle<QComboBox>(&w, "cmbTls");
  ASSERT_EQ(tls->count(), 4);
  EXPECT_EQ(tls->itemText(0), "0 - No TLS Support");
  EXPECT_EQ(tls->itemText(1), "1 - Use Implicit TLS");
  EXPECT_EQ(tls->itemText(2), "2 - Use Require TLS");
  EXPECT_EQ(tls->itemText(3), "3 - Use Explicit TLS");
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtMotDePasse")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Controle<QGroupBox>(&w, "gpExpediteur")->title(), QStringLiteral("Expéditeur"));
  ExpectLabelled(&w, {{"edtHote", QStringLiteral("Hôte :")},
                      {"edtPort", "Port :"},
                      {"edtLogin", "Login : "},
                      {"edtMotDePasse", "Mot de passe :"},
                      {"edtExpediteurMail", QStringLiteral("Expéditeur mail : ")},
                      {"edtExpediteurNom", QStringLiteral("Expéditeur Nom :")}});
  EXPECT_FALSE(tls->accessibleName().isEmpty());
  ExpectButtons(&w, {{"btnValider", "Valider"}, {"btnFermer", "Fermer"}});
  EXPECT_TRUE(Controle<QPushButton>(&w, "btnValider")->isDefault());

  Montrer(w);
  EXPECT_EQ(TabOrder(Controle<QWidget>(&w, "edtHote")),
            (QStringList{"edtHote", "edtPort", "cmbTls", "edtLogin", "edtMotDePasse", "edtExpediteurMail",
                         "edtExpediteurNom", "btnValider", "btnFermer"}));
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtHote")->text(), "");
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtPort")->text(), "0");
  EXPECT_EQ(tls->currentIndex(), 0);
  EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();

  // Saving twice writes each key once; the second save updates.
  for (const char* host : {"smtp.corvanel.test", "mail.corvanel.test"}) {
    Controle<QLineEdit>(&w, "edtHote")->setText(host);
    Controle<QLineEdit>(&w, "edtPort")->setText(" 587 ");
    tls->setCurrentIndex(2);
    Controle<QLineEdit>(&w, "edtLogin")->setText("agence01");
    Controle<QLineEdit>(&w, "edtMotDePasse")->setText(QStringLiteral("mot de passe é%;'\""));
    Controle<QLineEdit>(&w, "edtExpediteurMail")->setText("devis@corvanel.test");
    Controle<QLineEdit>(&w, "edtExpediteurNom")->setText(QStringLiteral("Société Corvanel"));
    Cliquer(&w, "btnValider");
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_FALSE(w.isVisible());
    Montrer(w);
  }
  EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
  for (const char* k : {"Host", "Login", "Password", "Port", "UseTLS", "ExpediteurMail", "ExpediteurNom"})
    EXPECT_EQ(Rows("Mail", k), 1) << k;
  EXPECT_EQ(Chaine("Host"), "mail.corvanel.test");
  EXPECT_EQ(Chaine("Password"), "mot de passe é%;'\"");  // stored as typed
  EXPECT_EQ(Entier("Port"), 587);
  EXPECT_EQ(Entier("UseTLS"), 2);
  EXPECT_EQ(Chaine("ExpediteurNom"), "Société Corvanel");
  // Another user of the agency has an account of his own.
  EXPECT_EQ(Chaine("Host", "A1", "U2"), "");
}

TEST_F(ConfigSmtp, APortThatIsNotANumberWritesNothingAndKeepsTheWindow) {
  for (const char* port : {"", "abc", "25a", "70000", "-1", "2.5"}) {
    SCOPED_TRACE(port);
    dialogs.Messages.clear();
    TFicheConfigSmtp w;
    Init(w);
    Montrer(w);
    Controle<QLineEdit>(&w, "edtHote")->setText("smtp.corvanel.test");
    Controle<QLineEdit>(&w, "edtPort")->setText(port);
    Cliquer(&w, "btnValider");
    ASSERT_EQ(dialogs.Messages.size(), 1);
    EXPECT_TRUE(dialogs.Messages[0].contains("port")) << dialogs.Messages[0].toStdString();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(Controle<QLineEdit>(&w, "edtHote")->text(), "smtp.corvanel.test");  // nothing typed is lost
    for (const char* k : {"Host", "Login", "Password", "Port", "UseTLS", "ExpediteurMail", "ExpediteurNom"})
      EXPECT_EQ(Rows("Mail", k), 0) << k;
  }
}

// Two "Port" rows under the account's key: the port cannot be stored (no
// read could pick it), so the window says so and stays open.
TEST_F(ConfigSmtp, APortThatDoesNotReadBackIsReported) {
  module.OuvertureBDD(base.toStdString());
  module.AjoutEntier("A1", "U1", "Mail", "Port", 25);
  module.AjoutEntier("A1", "U1", "Mail", "Port", 26);
  module.FermetureBDD();
  TFicheConfigSmtp w;
  Init(w);
  Montrer(w);
  Controle<QLineEdit>(&w, "edtPort")->setText("587");
  Cliquer(&w, "btnValider");
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith("TFicheSaveMail::btnValiderClick : ")) << dialogs.Messages[0].toStdString();
  EXPECT_TRUE(w.isVisible());
}

TEST_F(ConfigSmtp, UnknownTlsModeAndClosingWithoutSaving) {
  Compte("smtp.corvanel.test", 465, 7);
  {
    TFicheConfigSmtp w;
    Init(w);
    Montrer(w);
    EXPECT_EQ(Controle<QLineEdit>(&w, "edtPort")->text(), "465");
    EXPECT_EQ(Controle<QComboBox>(&w, "cmbTls")->currentIndex(), -1);
    // "Fermer" after editing changes nothing.
    Controle<QLineEdit>(&w, "edtHote")->setText("autre.test");
    Cliquer(&w, "btnFermer");
    EXPECT_EQ(w.result(), QDialog::Rejected);
    EXPECT_EQ(Chaine("Host"), "smtp.corvanel.test");
  }
  TFicheConfigSmtp w;
  Init(w);
  Montrer(w);
  Cliquer(&w, "btnValider");
  EXPECT_EQ(Entier("UseTLS"), -1);  // nothing selected
}

TEST_F(ConfigSmtp, SettingsErrorsAreShownOnce) {
  TFicheConfigSmtp w;
  Init(w);
  w.SetFichierBDD(dir.filePath("absent.sdb"));
  Montrer(w);
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith("TFicheSaveMail::FormActivate : ")) << dialogs.Messages[0].toStdString();
  Controle<QLineEdit>(&w, "edtPort")->setText("25");
  Cliquer(&w, "btnValider");
  ASSERT_EQ(dialogs.Messages.size(), 2);
  EXPECT_TRUE(dialogs.Messages[1].startsWith("TFicheSaveMail::btnValiderClick : ")) << dialogs.Messages[1].toStdString();
  EXPECT_TRUE(w.isVisible());  // what was typed can be saved once the database is back
}

// ---------------------------------------------------------------- templates

using MailTemplates = MailWindows;

TEST_F(MailTemplates, EditorSavesSlotsUnderKeysZeroToNine) {
  TFicheMailModelesConfiguration w;
  Init(w);
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Configuration des Modèles de mail"));
  auto* liste = Controle<QComboBox>(&w, "cbbSauvegarde");
  auto* memo = Controle<QPlainTextEdit>(&w, "mmoBody");
  ASSERT_EQ(liste->count(), 10);
  EXPECT_EQ(liste->itemText(0), "1");
  EXPECT_EQ(liste->itemText(9), "10");
  EXPECT_EQ(memo->toPlainText(), "Memo_Body");
  ExpectLabelled(&w, {{"cbbSauvegarde", QStringLiteral("Modèle :")}, {"mmoBody", "Inserer texte"}});
  ExpectButtons(&w, {{"btnSauvegarder", "Sauvegarder"}, {"btnAnnuler", "Fermer"}});

  Montrer(w);
  EXPECT_EQ(memo->toPlainText(), "");  // first use: every slot is empty
  memo->setPlainText(QStringLiteral("Bonjour,\n\nVeuillez trouver notre devis.\nCordialement"));
  Cliquer(&w, "btnSauvegarder");
  ASSERT_EQ(dialogs.Messages, QStringList{QStringLiteral("La sauvegarde du modèle a été effectuée.")});
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(Memo("0"), "Bonjour,\r\n\r\nVeuillez trouver notre devis.\r\nCordialement");

  liste->setCurrentIndex(9);
  EXPECT_EQ(memo->toPlainText(), "");
  memo->setPlainText("Dixième");
  Cliquer(&w, "btnSauvegarder");
  EXPECT_EQ(Memo("9"), "Dixième");
  // Saving a slot again updates its one row; an empty body is stored empty.
  memo->setPlainText("");
  Cliquer(&w, "btnSauvegarder");
  EXPECT_EQ(Rows("MailModele", "9"), 1);
  EXPECT_EQ(Memo("9"), "<absent>");  // empty reads as the default

  // Changing the slot without saving drops the edits.
  liste->setCurrentIndex(0);
  memo->setPlainText("brouillon");
  liste->setCurrentIndex(1);
  liste->setCurrentIndex(0);
  EXPECT_EQ(memo->toPlainText(), QStringLiteral("Bonjour,\n\nVeuillez trouver notre devis.\nCordialement"));
  EXPECT_EQ(Rows("MailModele", "1"), 0);
  Cliquer(&w, "btnAnnuler");
  EXPECT_EQ(w.result(), QDialog::Rejected);
}

TEST_F(MailTemplates, EditorReportsAFailedSave) {
  TFicheMailModelesConfiguration w;
  Init(w);
  Montrer(w);
  w.SetFichierBDD(dir.filePath("absent.sdb"));
  Cliquer(&w, "btnSauvegarder");
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith("TFicheMailModelesConfiguration::btnValiderClick : "))
      << dialogs.Messages[0].toStdString();

  // Two rows under the slot's key (a settings table shared with the parent
  // application): the update does not write exactly one row, so success is
  // not announced.
  dialogs.Messages.clear();
  w.SetFichierBDD(base);
  Modele(0, QStringLiteral("un"));
  Modele(0, QStringLiteral("deux"));
  ASSERT_EQ(Rows("MailModele", "0"), 2);
  Controle<QPlainTextEdit>(&w, "mmoBody")->setPlainText(QStringLiteral("nouveau"));
  Cliquer(&w, "btnSauvegarder");
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith("TFicheMailModelesConfiguration::btnValiderClick : "))
      << dialogs.Messages[0].toStdString();
}

TEST_F(MailTemplates, PickerShowsSlotsAndHandsTheChosenOneBack) {
  Modele(1, QStringLiteral("Madame, Monsieur,\r\nci-joint le devis.\r\nCordialement"));
  TFicheMailModeles w;
  Init(w);
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Sélection d'un modèle de mail"));
  ExpectLabelled(&w, {{"cbbModeles", QStringLiteral("Modèle :")}, {"memoModele", "Texte"}});
  ExpectButtons(&w, {{"btnSelection", QStringLiteral("Sélection")},
                     {"btnFermer", "Fermer"},
                     {"Configuration", "Configuration"}});
  auto* memo = Controle<QPlainTextEdit>(&w, "memoModele");
  EXPECT_TRUE(memo->isReadOnly());
  Montrer(w);
  EXPECT_EQ(memo->toPlainText(), "");
  Controle<QComboBox>(&w, "cbbModeles")->setCurrentIndex(1);
  EXPECT_EQ(memo->toPlainText(), "Madame, Monsieur,\nci-joint le devis.\nCordialement");

  // "Configuration" opens the editor; what it saves shows in the picker.
  auto fait = QuandModal<TFicheMailModelesConfiguration>([](TFicheMailModelesConfiguration* e) {
    Controle<QComboBox>(e, "cbbSauvegarde")->setCurrentIndex(1);
    Controle<QPlainTextEdit>(e, "mmoBody")->setPlainText("Texte revu");
    Cliquer(e, "btnSauvegarder");
    Cliquer(e, "btnAnnuler");
  });
  Cliquer(&w, "Configuration");
  EXPECT_TRUE(*fait);
  EXPECT_EQ(memo->toPlainText(), "Texte revu");
  Cliquer(&w, "btnSelection");
  EXPECT_EQ(w.result(), QDialog::Accepted);
  EXPECT_EQ(w.TexteChoisi(), "Texte revu");

  TFicheMailModeles ferme;
  Init(ferme);
  Montrer(ferme);
  Controle<QComboBox>(&ferme, "cbbModeles")->setCurrentIndex(1);
  Cliquer(&ferme, "btnFermer");
  EXPECT_EQ(ferme.TexteChoisi(), "");
}

// ---------------------------------------------------------------- mail window

class SendMail : public MailWindows {
 protected:
  static void SetUpTestSuite() { certs = new TCertificates(); }
  static void TearDownTestSuite() {
    delete certs;
    certs = nullptr;
  }
  void Prepare(TFicheSendMail& w) {
    Init(w);
    w.SetDestinataire("helene.martin@example.org");
    w.SetObjet("Corvanel - DEVIS");
  }
  static TCertificates* certs;
};
TCertificates* SendMail::certs = nullptr;

TEST_F(SendMail, ControlsAndFirstShowing) {
  Compte("smtp.corvanel.test", 587, 2);
  TFicheSendMail w;
  Prepare(w);
  EXPECT_EQ(w.windowTitle(), "Envoi d'un mail");
  ExpectLabelled(&w, {{"edtExpediteur", "De : "},
                      {"edtAdresse", "A : "},
                      {"edtCC", "Cc : "},
                      {"edtCCI", "Cci :"},
                      {"edtObject", "Objet :"},
                      {"mmoBody", "Corps :"},
                      {"lvPieces", QStringLiteral("Pièce(s) jointe(s) :")}});
  ExpectButtons(&w, {{"btnFichierAjouter", "Ajouter"},
                     {"btnFichierSupprimer", "Supprimer"},
                     {"btnConfiguration", "Configuration SMTP"},
                     {"btnChoixModele", QStringLiteral("Choix du modèle")},
                     {"btnEnvoyer", "Envoyer"}});
  auto* lv = Controle<QTreeWidget>(&w, "lvPieces");
  EXPECT_EQ(lv->headerItem()->text(0), QStringLiteral("Nom de la pièce"));
  EXPECT_EQ(lv->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(lv->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_TRUE(Controle<QLineEdit>(&w, "edtExpediteur")->isReadOnly());
  EXPECT_FALSE(Controle<QCheckBox>(&w, "chkFicheTechnique")->isVisibleTo(&w));
  // Before the first showing the fields are empty.
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtAdresse")->text(), "");

  Montrer(w);
  EXPECT_EQ(TabOrder(Controle<QWidget>(&w, "edtAdresse")),
            (QStringList{"edtAdresse", "edtCC", "edtCCI", "edtObject", "mmoBody", "lvPieces", "btnFichierAjouter",
                         "btnFichierSupprimer", "btnConfiguration", "btnChoixModele", "btnEnvoyer",
                         "edtExpediteur"}));
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtAdresse")->text(), "helene.martin@example.org");
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtObject")->text(), "Corvanel - DEVIS");
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtExpediteur")->text(), QStringLiteral("Société Corvanel <devis@corvanel.test>"));
  EXPECT_EQ(w.Compte().Host, "smtp.corvanel.test");
  EXPECT_EQ(w.Compte().Port, 587);
  EXPECT_EQ(w.Compte().UseTLS, 2);
  EXPECT_TRUE(dialogs.Messages.isEmpty());

  // What the user types survives a visit to the account window, whose
  // changes are loaded on return.
  Controle<QLineEdit>(&w, "edtAdresse")->setText("autre@example.org");
  Controle<QLineEdit>(&w, "edtObject")->setText("Objet revu");
  auto fait = QuandModal<TFicheConfigSmtp>([](TFicheConfigSmtp* c) {
    EXPECT_EQ(Controle<QLineEdit>(c, "edtHote")->text(), "smtp.corvanel.test");
    Controle<QLineEdit>(c, "edtExpediteurNom")->setText("Agence 01");
    Controle<QLineEdit>(c, "edtPort")->setText("465");
    Controle<QComboBox>(c, "cmbTls")->setCurrentIndex(1);
    Cliquer(c, "btnValider");
  });
  Cliquer(&w, "btnConfiguration");
  EXPECT_TRUE(*fait);
  QCoreApplication::processEvents();
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtAdresse")->text(), "autre@example.org");
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtObject")->text(), "Objet revu");
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtExpediteur")->text(), "Agence 01 <devis@corvanel.test>");
  EXPECT_EQ(w.Compte().Port, 465);
  EXPECT_EQ(w.Compte().UseTLS, 1);
  // "Fermer" in the account window: the stored account is loaded again all the same.
  auto ferme = QuandModal<TFicheConfigSmtp>([](TFicheConfigSmtp* c) {
    Controle<QLineEdit>(c, "edtPort")->setText("2525");
    Cliquer(c, "btnFermer");
  });
  Cliquer(&w, "btnConfiguration");
  EXPECT_TRUE(*ferme);
  EXPECT_EQ(w.Compte().Port, 465);
}

TEST_F(SendMail, Attachments) {
  TFicheSendMail w;
  Prepare(w);
  w.AjouterPieceJointe("/tmp/devis.pdf");
  w.AjouterPieceJointe("");
  w.AjouterPieceJointe("/nulle/part/plan.txt");  // a missing file is listed all the same
  EXPECT_EQ(w.PiecesJointes(), (QStringList{"/tmp/devis.pdf", "/nulle/part/plan.txt"}));
  Montrer(w);
  auto* lv = Controle<QTreeWidget>(&w, "lvPieces");

  dialogs.QueuePath("/home/u/Notice été.pdf");
  Cliquer(&w, "btnFichierAjouter");
  Cliquer(&w, "btnFichierAjouter");  // cancelled: nothing added
  EXPECT_EQ(dialogs.FileDialogs.size(), 2);
  EXPECT_EQ(w.PiecesJointes(), (QStringList{"/tmp/devis.pdf", "/nulle/part/plan.txt", "/home/u/Notice été.pdf"}));

  lv->clearSelection();
  Cliquer(&w, "btnFichierSupprimer");  // nothing selected: nothing removed
  EXPECT_EQ(w.PiecesJointes().size(), 3);
  lv->setCurrentItem(lv->topLevelItem(1));
  Cliquer(&w, "btnFichierSupprimer");
  EXPECT_EQ(w.PiecesJointes(), (QStringList{"/tmp/devis.pdf", "/home/u/Notice été.pdf"}));
  // The Delete key does the same from the list.
  lv->setCurrentItem(lv->topLevelItem(0));
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QCoreApplication::sendEvent(lv, &del);
  EXPECT_EQ(w.PiecesJointes(), (QStringList{"/home/u/Notice été.pdf"}));
}

TEST_F(SendMail, TemplateReplacesTheBodyOnlyWhenChosenAndNotEmpty) {
  Modele(0, QStringLiteral("Bonjour,\r\nVoici le devis.\r\nCordialement"));
  TFicheSendMail w;
  Prepare(w);
  Montrer(w);
  auto* corps = Controle<QPlainTextEdit>(&w, "mmoBody");
  corps->setPlainText("mon texte");
  struct Case {
    const char* name;
    int slot;
    const char* button;
    QString expected;
  } cases[] = {
      {"closed with Fermer", 0, "btnFermer", "mon texte"},
      {"empty slot chosen", 4, "btnSelection", "mon texte"},
      {"slot 1 chosen", 0, "btnSelection", "Bonjour,\nVoici le devis.\nCordialement"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fait = QuandModal<TFicheMailModeles>([&c](TFicheMailModeles* p) {
      Controle<QComboBox>(p, "cbbModeles")->setCurrentIndex(c.slot);
      Cliquer(p, c.button);
    });
    Cliquer(&w, "btnChoixModele");
    EXPECT_TRUE(*fait);
    EXPECT_EQ(corps->toPlainText(), c.expected);
  }
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtAdresse")->text(), "helene.martin@example.org");
}

TEST_F(SendMail, AccountErrorsAreShownAndTheSenderFieldStillFilled) {
  TFicheSendMail w;
  Prepare(w);
  w.SetFichierBDD(dir.filePath("absent.sdb"));
  Montrer(w);
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith("TFicheConfigMail::LectureConfiguration : "))
      << dialogs.Messages[0].toStdString();
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtExpediteur")->text(), " <>");
  EXPECT_EQ(Controle<QLineEdit>(&w, "edtAdresse")->text(), "helene.martin@example.org");
}

// "Envoyer" against a real server: one message box for each outcome.
TEST_F(SendMail, SendingShowsOneMessagePerOutcome) {
  ASSERT_TRUE(certs->Error().isEmpty()) << certs->Error().toStdString();
  // The installation trusts the test authority through Tessaly.ini.
  {
    QFile ini(dir.filePath("Tessaly.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Mail]\nCAFile=" + certs->CA().toUtf8() + "\n");
  }
  TServerOptions o;
  o.Tls = "starttls";
  o.Auth = "agence01:Secr3t!";
  TSmtpServer server(*certs, o);
  ASSERT_GT(server.Port(), 0) << server.Log().toStdString();
  const QString piece = dir.filePath("plan.txt");
  {
    QFile f(piece);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Plan\r\n");
  }

  struct Case {
    const char* name;
    QString host;
    int port, tls;
    QString password;
    QString expected;  // start of the one message shown
    int received;      // messages on the server afterwards
  } cases[] = {
      {"accepted", "127.0.0.1", server.Port(), 2, "Secr3t!", QStringLiteral("Le message a été envoyé."), 1},
      {"password refused", "127.0.0.1", server.Port(), 2, "Wr0ng!", "Echec de la connexion : ", 1},
      {"no account", "", 0, 0, "", QStringLiteral("Echec de la connexion : aucun serveur SMTP"), 1},
      {"not listening", "127.0.0.1", PortSansServeur(), 2, "Secr3t!", "Echec de la connexion : ", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Compte(c.host, c.port, c.tls, "agence01", c.password);
    dialogs.Messages.clear();
    TFicheSendMail w;
    Prepare(w);
    w.AjouterPieceJointe(piece);
    Montrer(w);
    Controle<QLineEdit>(&w, "edtCC")->setText("be@corvanel.test");
    Controle<QLineEdit>(&w, "edtCCI")->setText("archive@corvanel.test");
    Controle<QPlainTextEdit>(&w, "mmoBody")->setPlainText(QStringLiteral("Bonjour,\nci-joint le plan."));
    // A try to close the window while the client waits on the server is refused.
    bool fermeAvant = false, visiblePendant = false;
    if (c.port == server.Port())
      QTimer::singleShot(0, &w, [&] {
        fermeAvant = true;
        w.close();
        visiblePendant = w.isVisible();
      });
    Cliquer(&w, "btnEnvoyer");
    if (c.port == server.Port()) {
      EXPECT_TRUE(fermeAvant);  // the timer ran during the sending
      EXPECT_TRUE(visiblePendant);
    }
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isEnabled());
    ASSERT_EQ(dialogs.Messages.size(), 1) << dialogs.Messages.join('\n').toStdString();
    EXPECT_TRUE(dialogs.Messages[0].startsWith(c.expected)) << dialogs.Messages[0].toStdString();
    EXPECT_FALSE(dialogs.Messages[0].contains("Secr3t") || dialogs.Messages[0].contains("Wr0ng"));
    EXPECT_EQ(server.Count(), c.received);
  }
  const TReceived got = server.Received(1);
  EXPECT_EQ(got.From, "devis@corvanel.test");
  EXPECT_EQ(got.Rcpt, (QStringList{"helene.martin@example.org", "be@corvanel.test", "archive@corvanel.test"}));
  EXPECT_EQ(got.AuthLogin, "agence01");
  EXPECT_TRUE(got.Tls);
  EXPECT_EQ(got.Message["from_name"].toString(), QStringLiteral("Société Corvanel"));
  EXPECT_EQ(got.Message["subject"].toString(), "Corvanel - DEVIS");
  EXPECT_FALSE(got.Message["has_bcc"].toBool());
  EXPECT_EQ(got.Message["body"].toString(), "Bonjour,\r\nci-joint le plan.");
  const QJsonArray att = got.Message["attachments"].toArray();
  ASSERT_EQ(att.size(), 1);
  EXPECT_EQ(att[0]["filename"].toString(), "plan.txt");
  EXPECT_EQ(QByteArray::fromBase64(att[0]["data"].toString().toLatin1()), "Plan\r\n");
}

}  // namespace
