// The mail window ("Envoi d'un mail"): recipients, subject, body and
// attachments of the message that sends the document, through the SMTP
// account of the agency and user.
#pragma once

#include <QString>
#include <QStringList>

#include "MailReglages.h"
#include "SmtpClient.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace tessaly {

class TFicheSendMail : public TFicheMail {
  Q_OBJECT
 public:
  explicit TFicheSendMail(QWidget* owner = nullptr);

  void SetAgence(const QString& v) { FAgence = v; }
  void SetUtilisateur(const QString& v) { FUtilisateur = v; }
  void SetFichierBDD(const QString& v) { FFichierBDD = v; }
  void SetDestinataire(const QString& v) { FDestinataire = v; }
  void SetObjet(const QString& v) { FObjet = v; }
  const QString& Agence() const { return FAgence; }
  const QString& Utilisateur() const { return FUtilisateur; }
  const QString& FichierBDD() const { return FFichierBDD; }
  const QString& Destinataire() const { return FDestinataire; }
  const QString& Objet() const { return FObjet; }
  const QString& ExpediteurMail() const { return FExpediteurMail; }
  const QString& ExpediteurNom() const { return FExpediteurNom; }
  // The account as last loaded (the password included: never show it).
  const TSmtpCompte& Compte() const { return FCompte; }

  // Adds one line to the attachment list; an empty path adds nothing.
  void AjouterPieceJointe(const QString& chemin);
  QStringList PiecesJointes() const;

  // Loads the SMTP account and the sender.
  void LectureConfiguration();

  // First showing: the recipient and subject given by the caller go into
  // their fields (once: what the user types afterwards stays), then the
  // account is loaded.
  void FormActivate() override;
  void btnEnvoyerClick();
  void btnFichierAjouterClick();
  void btnFichierSupprimerClick();
  void btnConfigurationClick();
  void btnChoixModeleClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The window is not closed while a message is being sent.
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  QString FAgence, FUtilisateur, FFichierBDD, FDestinataire, FObjet, FExpediteurMail, FExpediteurNom;
  TSmtpCompte FCompte;
  bool FChampsRemplis = false;
  bool FEnvoiEnCours = false;

  QLineEdit *edtExpediteur, *edtAdresse, *edtCC, *edtCCI, *edtObject;
  QPlainTextEdit* mmoBody;
  QTreeWidget* lvPieces;
  QPushButton *btnFichierAjouter, *btnFichierSupprimer, *btnConfiguration, *btnChoixModele, *btnEnvoyer;
  QCheckBox* chkFicheTechnique;
};

}  // namespace tessaly
