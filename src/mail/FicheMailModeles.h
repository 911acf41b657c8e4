// The mail templates: ten bodies per agency and user, settings of the
// section "MailModele" under the keys "0" to "9" (shown as "1" to "10").
// The picker ("Sélection d'un modèle de mail") hands one back to the mail
// window; the editor ("Configuration des Modèles de mail") saves them.
#pragma once

#include <QString>

#include "MailReglages.h"

class QComboBox;
class QPlainTextEdit;
class QPushButton;

namespace tessaly {

inline constexpr int kModelesMail = 10;

// A stored body as the memo shows it (line breaks as "\n"), and the text
// of a memo as stored (line breaks as CR LF, as the parent application
// writes them).
QString TexteModeleAffiche(const QString& stocke);
QString TexteModeleStocke(const QString& affiche);

class TFicheMailModeles : public TFicheMail {
  Q_OBJECT
 public:
  explicit TFicheMailModeles(QWidget* owner = nullptr);

  void SetAgence(const QString& v) { FAgence = v; }
  void SetUtilisateur(const QString& v) { FUtilisateur = v; }
  void SetFichierBDD(const QString& v) { FFichierBDD = v; }
  // The chosen body; empty unless "Sélection" closed the window.
  const QString& TexteChoisi() const { return FTexteChoisi; }

  void LectureModele();
  void FormActivate() override { LectureModele(); }
  void cbbModelesChange() { LectureModele(); }
  void btnSelectionClick();
  void btnFermerClick();
  void ConfigurationClick();

 private:
  QString FAgence, FUtilisateur, FFichierBDD, FTexteChoisi;
  QComboBox* cbbModeles;
  QPlainTextEdit* memoModele;
  QPushButton *btnSelection, *btnFermer, *Configuration;
};

class TFicheMailModelesConfiguration : public TFicheMail {
  Q_OBJECT
 public:
  explicit TFicheMailModelesConfiguration(QWidget* owner = nullptr);

  void SetAgence(const QString& v) { FAgence = v; }
  void SetUtilisateur(const QString& v) { FUtilisateur = v; }
  void SetFichierBDD(const QString& v) { FFichierBDD = v; }

  void LectureModele();
  void FormActivate() override { LectureModele(); }
  void cbbSauvegardeChange() { LectureModele(); }
  void btnSauvegarderClick();
  void btnAnnulerClick();

 private:
  QString FAgence, FUtilisateur, FFichierBDD;
  QComboBox* cbbSauvegarde;
  QPlainTextEdit* mmoBody;
  QPushButton *btnSauvegarder, *btnAnnuler;
};

}  // namespace tessaly
