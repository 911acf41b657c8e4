// The SMTP account window ("Configuration du SMTP"): host, port, TLS mode,
// login, password and sender of the agency and user, in the section "Mail"
// of the settings.
#pragma once

#include <QString>

#include "MailReglages.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace tessaly {

class TFicheConfigSmtp : public TFicheMail {
  Q_OBJECT
 public:
  explicit TFicheConfigSmtp(QWidget* owner = nullptr);

  void SetAgence(const QString& v) { FAgence = v; }
  void SetUtilisateur(const QString& v) { FUtilisateur = v; }
  void SetFichierBDD(const QString& v) { FFichierBDD = v; }

  // Loads the stored account into the fields.
  void FormActivate() override;
  // Checks the port, writes every key and closes; a port that is not a
  // number from 0 to 65535 keeps the window open and writes nothing.
  void btnValiderClick();
  void btnFermerClick();

 private:
  QString FAgence, FUtilisateur, FFichierBDD;
  QGroupBox* gpExpediteur;
  QLineEdit *edtHote, *edtPort, *edtLogin, *edtMotDePasse, *edtExpediteurMail, *edtExpediteurNom;
  QComboBox* cmbTls;
  QPushButton *btnValider, *btnFermer;
};

}  // namespace tessaly
