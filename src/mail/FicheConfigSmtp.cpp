#include "FicheConfigSmtp.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Dialogs.h"

namespace tessaly {

namespace {
const QString kSection = QStringLiteral("Mail");
}

TFicheConfigSmtp::TFicheConfigSmtp(QWidget* owner) : TFicheMail(owner) {
  setObjectName(QStringLiteral("FicheConfigSmtp"));
  setWindowTitle(QStringLiteral("Configuration du SMTP"));
  setAccessibleName(windowTitle());

  gpExpediteur = new QGroupBox(QStringLiteral("Expéditeur"), this);
  gpExpediteur->setObjectName(QStringLiteral("gpExpediteur"));
  auto champ = [this](const char* nom) {
    auto* e = new QLineEdit(gpExpediteur);
    e->setObjectName(QString::fromLatin1(nom));
    return e;
  };
  edtHote = champ("edtHote");
  edtPort = champ("edtPort");
  edtLogin = champ("edtLogin");
  edtMotDePasse = champ("edtMotDePasse");
  edtMotDePasse->setEchoMode(QLineEdit::Password);
  edtExpediteurMail = champ("edtExpediteurMail");
  edtExpediteurNom = champ("edtExpediteurNom");
  cmbTls = new QComboBox(gpExpediteur);
  cmbTls->setObjectName(QStringLiteral("cmbTls"));
  cmbTls->clear();
  cmbTls->addItems({QStringLiteral("0 - No TLS Support"), QStringLiteral("1 - Use Implicit TLS"),
                    QStringLiteral("2 - Use Require TLS"), QStringLiteral("3 - Use Explicit TLS")});
  cmbTls->setAccessibleName(QStringLiteral("TLS"));

  auto* grille = new QGridLayout(gpExpediteur);
  grille->addWidget(Etiquette(QStringLiteral("Hôte :"), edtHote, gpExpediteur), 0, 0);
  grille->addWidget(edtHote, 0, 1);
  grille->addWidget(Etiquette(QStringLiteral("Port :"), edtPort, gpExpediteur), 1, 0);
  auto* port = new QHBoxLayout;
  port->addWidget(edtPort);
  port->addWidget(cmbTls, 1);
  grille->addLayout(port, 1, 1);
  grille->addWidget(Etiquette(QStringLiteral("Login : "), edtLogin, gpExpediteur), 2, 0);
  grille->addWidget(edtLogin, 2, 1);
  grille->addWidget(Etiquette(QStringLiteral("Mot de passe :"), edtMotDePasse, gpExpediteur), 3, 0);
  grille->addWidget(edtMotDePasse, 3, 1);
  grille->addWidget(Etiquette(QStringLiteral("Expéditeur mail : "), edtExpediteurMail, gpExpediteur), 4, 0);
  grille->addWidget(edtExpediteurMail, 4, 1);
  grille->addWidget(Etiquette(QStringLiteral("Expéditeur Nom :"), edtExpediteurNom, gpExpediteur), 5, 0);
  grille->addWidget(edtExpediteurNom, 5, 1);

  btnValider = new QPushButton(QStringLiteral("Valider"), this);
  Bouton(btnValider, QStringLiteral("btnValider"));
  btnValider->setDefault(true);  // Enter saves
  btnFermer = new QPushButton(QStringLiteral("Fermer"), this);
  Bouton(btnFermer, QStringLiteral("btnFermer"));
  auto* boutons = new QHBoxLayout;
  boutons->addStretch();
  boutons->addWidget(btnValider);
  boutons->addWidget(btnFermer);
  auto* principal = new QVBoxLayout(this);
  principal->addWidget(gpExpediteur);
  principal->addLayout(boutons);

  QWidget* ordre[] = {edtHote, edtPort, cmbTls, edtLogin, edtMotDePasse, edtExpediteurMail, edtExpediteurNom,
                      btnValider, btnFermer};
  for (size_t i = 0; i + 1 < std::size(ordre); ++i) setTabOrder(ordre[i], ordre[i + 1]);
  edtHote->setFocus();

  connect(btnValider, &QPushButton::clicked, this, &TFicheConfigSmtp::btnValiderClick);
  connect(btnFermer, &QPushButton::clicked, this, &TFicheConfigSmtp::btnFermerClick);
}

void TFicheConfigSmtp::FormActivate() {
  try {
    TReglagesMail r(FFichierBDD, FAgence, FUtilisateur);
    edtHote->setText(r.Chaine(kSection, QStringLiteral("Host")));
    edtLogin->setText(r.Chaine(kSection, QStringLiteral("Login")));
    edtMotDePasse->setText(r.Chaine(kSection, QStringLiteral("Password")));
    edtPort->setText(QString::number(r.Entier(kSection, QStringLiteral("Port"))));
    const int tls = r.Entier(kSection, QStringLiteral("UseTLS"));
    cmbTls->setCurrentIndex(tls >= 0 && tls < cmbTls->count() ? tls : -1);
    edtExpediteurMail->setText(r.Chaine(kSection, QStringLiteral("ExpediteurMail")));
    edtExpediteurNom->setText(r.Chaine(kSection, QStringLiteral("ExpediteurNom")));
  } catch (const std::exception& e) {
    ui::ShowMessage(QStringLiteral("TFicheSaveMail::FormActivate : ") + TexteErreur(e), this);
  }
}

void TFicheConfigSmtp::btnValiderClick() {
  // The port first: a bad one writes nothing and keeps what was typed.
  bool ok = false;
  const int port = edtPort->text().trimmed().toInt(&ok, 10);
  if (!ok || port < 0 || port > 65535) {
    ui::ShowMessage(QStringLiteral("Le port doit être un nombre entier de 0 à 65535 (« %1 »).").arg(edtPort->text()),
                    this);
    edtPort->setFocus();
    edtPort->selectAll();
    return;
  }
  try {
    TReglagesMail r(FFichierBDD, FAgence, FUtilisateur);
    r.EcrireChaine(kSection, QStringLiteral("Host"), edtHote->text());
    r.EcrireChaine(kSection, QStringLiteral("Login"), edtLogin->text());
    r.EcrireChaine(kSection, QStringLiteral("Password"), edtMotDePasse->text());
    bool ecrit = r.EcrireEntier(kSection, QStringLiteral("Port"), port);
    ecrit = r.EcrireEntier(kSection, QStringLiteral("UseTLS"), cmbTls->currentIndex()) && ecrit;
    r.EcrireChaine(kSection, QStringLiteral("ExpediteurMail"), edtExpediteurMail->text());
    r.EcrireChaine(kSection, QStringLiteral("ExpediteurNom"), edtExpediteurNom->text());
    if (!ecrit) throw std::runtime_error("le port ou le mode TLS n'a pas été enregistré (lignes en double ?).");
  } catch (const std::exception& e) {
    // The window stays open: what was typed is not lost and can be saved again.
    ui::ShowMessage(QStringLiteral("TFicheSaveMail::btnValiderClick : ") + TexteErreur(e), this);
    return;
  }
  accept();
}

void TFicheConfigSmtp::btnFermerClick() { reject(); }

}  // namespace tessaly
