#include "FicheSendMail.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "FicheConfigSmtp.h"
#include "FicheMailModeles.h"
#include "Installation.h"
#include "ui/Dialogs.h"

namespace tessaly {

TFicheSendMail::TFicheSendMail(QWidget* owner) : TFicheMail(owner) {
  setObjectName(QStringLiteral("FicheSendMail"));
  setWindowTitle(QStringLiteral("Envoi d'un mail"));
  setAccessibleName(windowTitle());
  resize(640, 560);

  edtExpediteur = new QLineEdit(this);
  edtExpediteur->setObjectName(QStringLiteral("edtExpediteur"));
  // Read-only rather than disabled: a screen reader can still reach and read it.
  edtExpediteur->setReadOnly(true);
  edtAdresse = new QLineEdit(this);
  edtAdresse->setObjectName(QStringLiteral("edtAdresse"));
  edtCC = new QLineEdit(this);
  edtCC->setObjectName(QStringLiteral("edtCC"));
  edtCCI = new QLineEdit(this);
  edtCCI->setObjectName(QStringLiteral("edtCCI"));
  edtObject = new QLineEdit(this);
  edtObject->setObjectName(QStringLiteral("edtObject"));
  mmoBody = new QPlainTextEdit(this);
  mmoBody->setObjectName(QStringLiteral("mmoBody"));
  mmoBody->setTabChangesFocus(true);
  lvPieces = new QTreeWidget(this);
  lvPieces->setObjectName(QStringLiteral("lvPieces"));
  lvPieces->setColumnCount(1);
  lvPieces->setHeaderLabels({QStringLiteral("Nom de la pièce")});
  lvPieces->setRootIsDecorated(false);
  lvPieces->setSelectionMode(QAbstractItemView::SingleSelection);
  lvPieces->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvPieces->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvPieces->installEventFilter(this);
  chkFicheTechnique = new QCheckBox(QStringLiteral("Afficher les fiches techniques"), this);
  chkFicheTechnique->setObjectName(QStringLiteral("chkFicheTechnique"));
  chkFicheTechnique->setVisible(false);

  btnFichierAjouter = new QPushButton(QStringLiteral("Ajouter"), this);
  Bouton(btnFichierAjouter, QStringLiteral("btnFichierAjouter"));
  btnFichierSupprimer = new QPushButton(QStringLiteral("Supprimer"), this);
  Bouton(btnFichierSupprimer, QStringLiteral("btnFichierSupprimer"));
  btnConfiguration = new QPushButton(QStringLiteral("Configuration SMTP"), this);
  Bouton(btnConfiguration, QStringLiteral("btnConfiguration"));
  btnChoixModele = new QPushButton(QStringLiteral("Choix du modèle"), this);
  Bouton(btnChoixModele, QStringLiteral("btnChoixModele"));
  btnEnvoyer = new QPushButton(QStringLiteral("Envoyer"), this);
  Bouton(btnEnvoyer, QStringLiteral("btnEnvoyer"));

  auto* grille = new QGridLayout;
  int ligne = 0;
  for (auto [texte, champ] : {std::pair<QString, QWidget*>{QStringLiteral("De : "), edtExpediteur},
                              {QStringLiteral("A : "), edtAdresse},
                              {QStringLiteral("Cc : "), edtCC},
                              {QStringLiteral("Cci :"), edtCCI},
                              {QStringLiteral("Objet :"), edtObject}}) {
    grille->addWidget(Etiquette(texte, champ, this), ligne, 0);
    grille->addWidget(champ, ligne++, 1);
  }
  grille->addWidget(Etiquette(QStringLiteral("Corps :"), mmoBody, this), ligne, 0, Qt::AlignTop);
  grille->addWidget(mmoBody, ligne++, 1);
  grille->addWidget(Etiquette(QStringLiteral("Pièce(s) jointe(s) :"), lvPieces, this), ligne, 0, Qt::AlignTop);
  auto* pieces = new QHBoxLayout;
  pieces->addWidget(lvPieces, 1);
  auto* boutonsPieces = new QVBoxLayout;
  boutonsPieces->addWidget(btnFichierAjouter);
  boutonsPieces->addWidget(btnFichierSupprimer);
  boutonsPieces->addStretch();
  pieces->addLayout(boutonsPieces);
  grille->addLayout(pieces, ligne++, 1);
  grille->setRowStretch(5, 3);
  grille->setRowStretch(6, 1);

  auto* boutons = new QHBoxLayout;
  boutons->addWidget(chkFicheTechnique);
  boutons->addWidget(btnConfiguration);
  boutons->addWidget(btnChoixModele);
  boutons->addStretch();
  boutons->addWidget(btnEnvoyer);
  auto* principal = new QVBoxLayout(this);
  principal->addLayout(grille);
  principal->addLayout(boutons);

  // Keyboard order: the message from top to bottom, then the actions.
  QWidget* ordre[] = {edtAdresse, edtCC, edtCCI, edtObject, mmoBody, lvPieces, btnFichierAjouter,
                      btnFichierSupprimer, btnConfiguration, btnChoixModele, btnEnvoyer, edtExpediteur};
  for (size_t i = 0; i + 1 < std::size(ordre); ++i) setTabOrder(ordre[i], ordre[i + 1]);
  edtAdresse->setFocus();

  connect(btnEnvoyer, &QPushButton::clicked, this, &TFicheSendMail::btnEnvoyerClick);
  connect(btnFichierAjouter, &QPushButton::clicked, this, &TFicheSendMail::btnFichierAjouterClick);
  connect(btnFichierSupprimer, &QPushButton::clicked, this, &TFicheSendMail::btnFichierSupprimerClick);
  connect(btnConfiguration, &QPushButton::clicked, this, &TFicheSendMail::btnConfigurationClick);
  connect(btnChoixModele, &QPushButton::clicked, this, &TFicheSendMail::btnChoixModeleClick);
}

void TFicheSendMail::AjouterPieceJointe(const QString& chemin) {
  if (chemin.isEmpty()) return;
  auto* item = new QTreeWidgetItem(lvPieces, {chemin});
  item->setToolTip(0, chemin);
}

QStringList TFicheSendMail::PiecesJointes() const {
  QStringList out;
  for (int i = 0; i < lvPieces->topLevelItemCount(); ++i) out << lvPieces->topLevelItem(i)->text(0);
  return out;
}

void TFicheSendMail::LectureConfiguration() {
  try {
    TReglagesMail r(FFichierBDD, FAgence, FUtilisateur);
    const QString section = QStringLiteral("Mail");
    FCompte.Host = r.Chaine(section, QStringLiteral("Host"));
    FCompte.Login = r.Chaine(section, QStringLiteral("Login"));
    FCompte.Password = r.Chaine(section, QStringLiteral("Password"));
    FCompte.Port = r.Entier(section, QStringLiteral("Port"));
    FCompte.UseTLS = r.Entier(section, QStringLiteral("UseTLS"));
    FExpediteurMail = r.Chaine(section, QStringLiteral("ExpediteurMail"));
    FExpediteurNom = r.Chaine(section, QStringLiteral("ExpediteurNom"));
  } catch (const std::exception& e) {
    ui::ShowMessage(QStringLiteral("TFicheConfigMail::LectureConfiguration : ") + TexteErreur(e), this);
  }
  edtExpediteur->setText(FExpediteurNom + QStringLiteral(" <") + FExpediteurMail + QStringLiteral(">"));
}

void TFicheSendMail::FormActivate() {
  if (!FChampsRemplis) {
    FChampsRemplis = true;
    edtAdresse->setText(FDestinataire);
    edtObject->setText(FObjet);
  }
  LectureConfiguration();
}

void TFicheSendMail::btnEnvoyerClick() {
  TMessageMail m;
  m.Expediteur = {FExpediteurNom, FExpediteurMail};
  m.A = edtAdresse->text();
  m.Cc = edtCC->text();
  m.Cci = edtCCI->text();
  m.Objet = edtObject->text();
  m.Corps = mmoBody->toPlainText();
  for (const QString& p : PiecesJointes())
    if (!p.isEmpty()) m.PiecesJointes << p;
  TSmtpCompte compte = FCompte;
  compte.CAFile = LectureTessalyIni().FichierAutoritesMail;

  // The window waits for the server without taking input, but keeps
  // repainting; every wait of the client is bounded.
  setEnabled(false);
  FEnvoiEnCours = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TResultatEnvoi r =
      EnvoyerMessage(compte, m, [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  QApplication::restoreOverrideCursor();
  FEnvoiEnCours = false;
  setEnabled(true);

  switch (r.Etape) {
    case TEtapeEnvoi::Envoye:
      ui::ShowMessage(QStringLiteral("Le message a été envoyé."), this);
      break;
    case TEtapeEnvoi::Connexion:
      ui::ShowMessage(r.Texte.isEmpty() ? QStringLiteral("Echec de la connexion")
                                        : QStringLiteral("Echec de la connexion : ") + r.Texte,
                      this);
      break;
    case TEtapeEnvoi::Envoi:
      ui::ShowMessage(r.Texte.isEmpty() ? QStringLiteral("Erreur lors de l'envoi.")
                                        : QStringLiteral("Erreur lors de l'envoi : ") + r.Texte,
                      this);
      break;
  }
}

void TFicheSendMail::btnFichierAjouterClick() {
  const QString chemin = ui::Dialogs().OpenFile(this, QStringLiteral("Ajouter une pièce jointe"), QString(), QString());
  if (chemin.isEmpty()) return;
  AjouterPieceJointe(chemin);
  lvPieces->setCurrentItem(lvPieces->topLevelItem(lvPieces->topLevelItemCount() - 1));
}

void TFicheSendMail::btnFichierSupprimerClick() {
  QTreeWidgetItem* item = lvPieces->currentItem();
  if (!item || !item->isSelected()) return;
  delete item;
}

void TFicheSendMail::btnConfigurationClick() {
  {
    TFicheConfigSmtp fiche(this);
    fiche.SetAgence(FAgence);
    fiche.SetFichierBDD(FFichierBDD);
    fiche.SetUtilisateur(FUtilisateur);
    fiche.exec();
  }
  LectureConfiguration();
}

void TFicheSendMail::btnChoixModeleClick() {
  QString texte;
  {
    TFicheMailModeles fiche(this);
    fiche.SetAgence(FAgence);
    fiche.SetFichierBDD(FFichierBDD);
    fiche.SetUtilisateur(FUtilisateur);
    fiche.exec();
    texte = fiche.TexteChoisi();
  }
  if (!texte.isEmpty()) mmoBody->setPlainText(texte);
}

void TFicheSendMail::closeEvent(QCloseEvent* event) {
  if (FEnvoiEnCours) {
    event->ignore();
    return;
  }
  TFicheMail::closeEvent(event);
}

void TFicheSendMail::reject() {
  if (!FEnvoiEnCours) TFicheMail::reject();
}

bool TFicheSendMail::eventFilter(QObject* watched, QEvent* event) {
  // Delete removes the selected attachment, as the "Supprimer" button does.
  if (watched == lvPieces && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    btnFichierSupprimerClick();
    return true;
  }
  return TFicheMail::eventFilter(watched, event);
}

}  // namespace tessaly
