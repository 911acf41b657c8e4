#include "FicheMailModeles.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Dialogs.h"

namespace tessaly {

namespace {

const QString kSection = QStringLiteral("MailModele");

QComboBox* ListeModeles(const QString& nom, QWidget* parent) {
  auto* c = new QComboBox(parent);
  c->setObjectName(nom);
  for (int i = 1; i <= kModelesMail; ++i) c->addItem(QString::number(i));
  c->setCurrentIndex(0);
  return c;
}

// The window's slot, or nothing selected (-1).
int Emplacement(const QComboBox* c) { return c->currentIndex(); }

}  // namespace

QString TexteModeleAffiche(const QString& stocke) {
  QString s = stocke;
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QChar('\r'), QChar('\n'));
  return s;
}

QString TexteModeleStocke(const QString& affiche) {
  QString s = TexteModeleAffiche(affiche);
  s.replace(QChar('\n'), QLatin1String("\r\n"));
  return s;
}

// ---- picker

TFicheMailModeles::TFicheMailModeles(QWidget* owner) : TFicheMail(owner) {
  setObjectName(QStringLiteral("FicheMailModeles"));
  setWindowTitle(QStringLiteral("Sélection d'un modèle de mail"));
  setAccessibleName(windowTitle());
  resize(520, 400);

  cbbModeles = ListeModeles(QStringLiteral("cbbModeles"), this);
  memoModele = new QPlainTextEdit(this);
  memoModele->setObjectName(QStringLiteral("memoModele"));
  // A view of the slot: read-only, yet reachable and readable from the keyboard.
  memoModele->setReadOnly(true);
  memoModele->setTabChangesFocus(true);
  btnSelection = new QPushButton(QStringLiteral("Sélection"), this);
  Bouton(btnSelection, QStringLiteral("btnSelection"));
  btnSelection->setDefault(true);
  btnFermer = new QPushButton(QStringLiteral("Fermer"), this);
  Bouton(btnFermer, QStringLiteral("btnFermer"));
  Configuration = new QPushButton(QStringLiteral("Configuration"), this);
  Bouton(Configuration, QStringLiteral("Configuration"));

  auto* grille = new QGridLayout;
  grille->addWidget(Etiquette(QStringLiteral("Modèle :"), cbbModeles, this), 0, 0);
  grille->addWidget(cbbModeles, 0, 1, Qt::AlignLeft);
  grille->addWidget(Etiquette(QStringLiteral("Texte"), memoModele, this), 1, 0, Qt::AlignTop);
  grille->addWidget(memoModele, 1, 1);
  auto* boutons = new QHBoxLayout;
  boutons->addWidget(Configuration);
  boutons->addStretch();
  boutons->addWidget(btnSelection);
  boutons->addWidget(btnFermer);
  auto* principal = new QVBoxLayout(this);
  principal->addLayout(grille);
  principal->addLayout(boutons);

  QWidget* ordre[] = {cbbModeles, memoModele, btnSelection, btnFermer, Configuration};
  for (size_t i = 0; i + 1 < std::size(ordre); ++i) setTabOrder(ordre[i], ordre[i + 1]);
  cbbModeles->setFocus();

  connect(cbbModeles, &QComboBox::currentIndexChanged, this, &TFicheMailModeles::cbbModelesChange);
  connect(btnSelection, &QPushButton::clicked, this, &TFicheMailModeles::btnSelectionClick);
  connect(btnFermer, &QPushButton::clicked, this, &TFicheMailModeles::btnFermerClick);
  connect(Configuration, &QPushButton::clicked, this, &TFicheMailModeles::ConfigurationClick);
}

void TFicheMailModeles::LectureModele() {
  const int n = Emplacement(cbbModeles);
  if (n < 0) return;
  try {
    TReglagesMail r(FFichierBDD, FAgence, FUtilisateur);
    memoModele->setPlainText(TexteModeleAffiche(r.Memo(kSection, QString::number(n))));
  } catch (const std::exception& e) {
    ui::ShowMessage(QStringLiteral("TFicheMailModeles::LectureModele : ") + TexteErreur(e), this);
  }
}

void TFicheMailModeles::btnSelectionClick() {
  if (Emplacement(cbbModeles) < 0) {
    ui::ShowMessage(QStringLiteral("Veuillez sélectionner un modèle ."), this);
    return;
  }
  FTexteChoisi = memoModele->toPlainText();
  accept();
}

void TFicheMailModeles::btnFermerClick() { reject(); }

void TFicheMailModeles::ConfigurationClick() {
  {
    TFicheMailModelesConfiguration fiche(this);
    fiche.SetAgence(FAgence);
    fiche.SetFichierBDD(FFichierBDD);
    fiche.SetUtilisateur(FUtilisateur);
    fiche.exec();
  }
  LectureModele();
}

// ---- editor

TFicheMailModelesConfiguration::TFicheMailModelesConfiguration(QWidget* owner) : TFicheMail(owner) {
  setObjectName(QStringLiteral("FicheMailModelesConfiguration"));
  setWindowTitle(QStringLiteral("Configuration des Modèles de mail"));
  setAccessibleName(windowTitle());
  resize(520, 400);

  cbbSauvegarde = ListeModeles(QStringLiteral("cbbSauvegarde"), this);
  mmoBody = new QPlainTextEdit(QStringLiteral("Memo_Body"), this);
  mmoBody->setObjectName(QStringLiteral("mmoBody"));
  mmoBody->setTabChangesFocus(true);
  btnSauvegarder = new QPushButton(QStringLiteral("Sauvegarder"), this);
  Bouton(btnSauvegarder, QStringLiteral("btnSauvegarder"));
  btnAnnuler = new QPushButton(QStringLiteral("Fermer"), this);
  Bouton(btnAnnuler, QStringLiteral("btnAnnuler"));

  auto* grille = new QGridLayout;
  grille->addWidget(Etiquette(QStringLiteral("Modèle :"), cbbSauvegarde, this), 0, 0);
  grille->addWidget(cbbSauvegarde, 0, 1, Qt::AlignLeft);
  grille->addWidget(Etiquette(QStringLiteral("Inserer texte"), mmoBody, this), 1, 0, Qt::AlignTop);
  grille->addWidget(mmoBody, 1, 1);
  auto* boutons = new QHBoxLayout;
  boutons->addStretch();
  boutons->addWidget(btnSauvegarder);
  boutons->addWidget(btnAnnuler);
  auto* principal = new QVBoxLayout(this);
  principal->addLayout(grille);
  principal->addLayout(boutons);

  QWidget* ordre[] = {cbbSauvegarde, mmoBody, btnSauvegarder, btnAnnuler};
  for (size_t i = 0; i + 1 < std::size(ordre); ++i) setTabOrder(ordre[i], ordre[i + 1]);
  cbbSauvegarde->setFocus();

  connect(cbbSauvegarde, &QComboBox::currentIndexChanged, this,
          &TFicheMailModelesConfiguration::cbbSauvegardeChange);
  connect(btnSauvegarder, &QPushButton::clicked, this, &TFicheMailModelesConfiguration::btnSauvegarderClick);
  connect(btnAnnuler, &QPushButton::clicked, this, &TFicheMailModelesConfiguration::btnAnnulerClick);
}

void TFicheMailModelesConfiguration::LectureModele() {
  const int n = Emplacement(cbbSauvegarde);
  if (n < 0) return;
  try {
    TReglagesMail r(FFichierBDD, FAgence, FUtilisateur);
    mmoBody->setPlainText(TexteModeleAffiche(r.Memo(kSection, QString::number(n))));
  } catch (const std::exception& e) {
    ui::ShowMessage(QStringLiteral("TFicheMailModelesConfiguration::LectureModele : ") + TexteErreur(e), this);
  }
}

void TFicheMailModelesConfiguration::btnSauvegarderClick() {
  const int n = Emplacement(cbbSauvegarde);
  if (n < 0) {
    ui::ShowMessage(QStringLiteral("Veuillez sélectionner une sauvegarde ."), this);
    return;
  }
  bool ecrit = false;
  try {
    TReglagesMail r(FFichierBDD, FAgence, FUtilisateur);
    ecrit = r.EcrireMemo(kSection, QString::number(n), TexteModeleStocke(mmoBody->toPlainText()));
  } catch (const std::exception& e) {
    ui::ShowMessage(QStringLiteral("TFicheMailModelesConfiguration::btnValiderClick : ") + TexteErreur(e), this);
    return;
  }
  ui::ShowMessage(ecrit ? QStringLiteral("La sauvegarde du modèle a été effectuée.")
                        : QStringLiteral("TFicheMailModelesConfiguration::btnValiderClick : le modèle %1 n'a pas été "
                                         "enregistré (plusieurs lignes portent cette clé).")
                              .arg(n + 1),
                  this);
}

void TFicheMailModelesConfiguration::btnAnnulerClick() { reject(); }

}  // namespace tessaly
