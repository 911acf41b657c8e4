// What the mail windows share: the settings of one agency and user, opened
// for a group of reads or writes and closed afterwards (also after an
// error), and the base of the windows that load their values when shown.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QLabel;
class QAbstractButton;

namespace tessaly {

class TDataModuleSdb;

class TReglagesMail {
 public:
  // Opens `fichier` with the process's data module; raises
  // std::runtime_error when there is none or when the file cannot be opened
  // (and passes the engine's errors on).
  TReglagesMail(const QString& fichier, const QString& agence, const QString& utilisateur);
  ~TReglagesMail();  // closes the database
  TReglagesMail(const TReglagesMail&) = delete;
  TReglagesMail& operator=(const TReglagesMail&) = delete;

  QString Chaine(const QString& section, const QString& cle);  // default: empty
  int32_t Entier(const QString& section, const QString& cle);  // default: 0
  QString Memo(const QString& section, const QString& cle);    // default: empty
  void EcrireChaine(const QString& section, const QString& cle, const QString& valeur);
  // Update when the row exists, insert otherwise; true when the value now
  // reads back (several rows under the key read as none).
  bool EcrireEntier(const QString& section, const QString& cle, int32_t valeur);
  bool EcrireMemo(const QString& section, const QString& cle, const QString& valeur);

 private:
  TDataModuleSdb& FModule;
  std::string FAgence, FUtilisateur;
};

// A mail window: runs FormActivate once each time it is shown, when its
// event loop takes over (its values are loaded then). Returning to it from
// its own message boxes and dialogs does not load again, so nothing the
// user typed is replaced and an error is not reported over and over.
class TFicheMail : public QDialog {
  Q_OBJECT
 public:
  explicit TFicheMail(QWidget* owner);
  virtual void FormActivate() = 0;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  bool FActivationPrevue = false;
};

// A label for `champ`: its buddy, and the field's accessible name taken from
// the caption (without the colon).
QLabel* Etiquette(const QString& texte, QWidget* champ, QWidget* parent);
// The button's accessible name from its caption; no default-button role
// unless asked, so that Enter in a field does not press it.
void Bouton(QAbstractButton* bouton, const QString& nom);

// The text of an exception for a message box.
QString TexteErreur(const std::exception& e);

}  // namespace tessaly
