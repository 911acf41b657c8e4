#include "MailReglages.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <stdexcept>

#include "settings/DataModuleSdb.h"
#include "ui/Accessible.h"

namespace tessaly {

namespace {
TDataModuleSdb& ModuleDuProcessus() {
  TDataModuleSdb* m = DataModuleSdb();
  if (!m) throw std::runtime_error("le module des réglages n'est pas disponible.");
  return *m;
}
std::string U(const QString& s) { return s.toStdString(); }
}  // namespace

TReglagesMail::TReglagesMail(const QString& fichier, const QString& agence, const QString& utilisateur)
    : FModule(ModuleDuProcessus()), FAgence(U(agence)), FUtilisateur(U(utilisateur)) {
  if (!FModule.OuvertureBDD(U(fichier)))
    throw std::runtime_error(
        QStringLiteral("la base des réglages « %1 » ne peut pas être ouverte.").arg(fichier).toStdString());
}

TReglagesMail::~TReglagesMail() {
  try {
    FModule.FermetureBDD();
  } catch (...) {
    // Closing after an error: the error already reported is the one that matters.
  }
}

QString TReglagesMail::Chaine(const QString& section, const QString& cle) {
  return QString::fromStdString(FModule.LectureChaine(FAgence, FUtilisateur, U(section), U(cle), ""));
}

int32_t TReglagesMail::Entier(const QString& section, const QString& cle) {
  return FModule.LectureEntier(FAgence, FUtilisateur, U(section), U(cle), 0);
}

QString TReglagesMail::Memo(const QString& section, const QString& cle) {
  return QString::fromStdString(FModule.LectureMemo(FAgence, FUtilisateur, U(section), U(cle), ""));
}

void TReglagesMail::EcrireChaine(const QString& section, const QString& cle, const QString& valeur) {
  FModule.EcritureChaine(FAgence, FUtilisateur, U(section), U(cle), U(valeur));
}

bool TReglagesMail::EcrireEntier(const QString& section, const QString& cle, int32_t valeur) {
  const std::string s = U(section), k = U(cle);
  const bool ecrit = FModule.ExisteEntier(FAgence, FUtilisateur, s, k)
                         ? FModule.ModifEntier(FAgence, FUtilisateur, s, k, valeur)
                         : FModule.AjoutEntier(FAgence, FUtilisateur, s, k, valeur);
  // Several rows under one key (the table is shared with the parent
  // application) make the existence test fail and the insert add one more
  // row, which no read can then pick: only a value read back is written.
  return ecrit && FModule.LectureEntier(FAgence, FUtilisateur, s, k, ~valeur) == valeur;
}

bool TReglagesMail::EcrireMemo(const QString& section, const QString& cle, const QString& valeur) {
  const std::string s = U(section), k = U(cle), v = U(valeur);
  const bool ecrit = FModule.ExisteMemo(FAgence, FUtilisateur, s, k) ? FModule.ModifMemo(FAgence, FUtilisateur, s, k, v)
                                                                     : FModule.AjoutMemo(FAgence, FUtilisateur, s, k, v);
  // As for the integers: a text that does not read back was not written.
  return ecrit && FModule.LectureMemo(FAgence, FUtilisateur, s, k, std::string()) == v;
}

TFicheMail::TFicheMail(QWidget* owner) : QDialog(owner) {}

void TFicheMail::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (FActivationPrevue) return;
  FActivationPrevue = true;
  QMetaObject::invokeMethod(this, [this] { FormActivate(); }, Qt::QueuedConnection);
}

void TFicheMail::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (!event->spontaneous()) FActivationPrevue = false;
}

QLabel* Etiquette(const QString& texte, QWidget* champ, QWidget* parent) {
  auto* l = new QLabel(texte, parent);
  ui::Etiqueter(l, champ);
  return l;
}

void Bouton(QAbstractButton* bouton, const QString& nom) {
  bouton->setObjectName(nom);
  bouton->setAccessibleName(bouton->text());
  if (auto* p = qobject_cast<QPushButton*>(bouton)) p->setAutoDefault(false);
}

QString TexteErreur(const std::exception& e) { return QString::fromUtf8(e.what()); }

}  // namespace tessaly
