#include "FicheSetFileName.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Accessible.h"
#include "ui/Dialogs.h"

namespace tessaly {

std::function<void(TFicheSetFileName&)> TFicheSetFileName::ExecHook;

bool NomFichierSimple(const QString& name) {
  if (name.trimmed().isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
  // Both separators are refused whatever the platform: a template library
  // is shared with installations of the other kind.
  return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QDir::separator()) &&
         !name.contains(QChar(0));
}

TFicheSetFileName::TFicheSetFileName(QWidget* owner, const QString& caption, const QString& label,
                                     const QString& proposedName)
    : QDialog(owner) {
  setObjectName(QStringLiteral("FicheSetFileName"));
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  FLabel = new QLabel(label, this);
  FLabel->setObjectName(QStringLiteral("lblFichier"));
  FEdit = new QLineEdit(proposedName, this);
  FEdit->setObjectName(QStringLiteral("edtNomFichier"));
  FEdit->setMinimumWidth(260);
  ui::Etiqueter(FLabel, FEdit);
  row->addWidget(FLabel);
  row->addWidget(FEdit, 1);
  layout->addLayout(row);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  FValider = new QPushButton(QStringLiteral("Valider"), this);
  FValider->setObjectName(QStringLiteral("btnValider"));
  FValider->setAccessibleName(FValider->text());
  FValider->setDefault(true);
  FFermer = new QPushButton(QStringLiteral("Fermer"), this);
  FFermer->setObjectName(QStringLiteral("btnFermer"));
  FFermer->setAccessibleName(FFermer->text());
  buttons->addWidget(FValider);
  buttons->addWidget(FFermer);
  layout->addLayout(buttons);
  connect(FValider, &QPushButton::clicked, this, &TFicheSetFileName::btnValiderClick);
  connect(FFermer, &QPushButton::clicked, this, &TFicheSetFileName::reject);
}

void TFicheSetFileName::btnValiderClick() {
  const QString name = FEdit->text();
  if (!NomFichierSimple(name)) {
    // The name becomes part of a path inside the template library: a
    // separator, "." or ".." would write outside it or over a folder.
    FRefuse = true;
    ui::ShowMessage(QStringLiteral("Nom de fichier invalide : saisissez un nom de fichier simple, sans \"/\" ni "
                                   "\"\\\", autre que \".\" ou \"..\"."),
                    this);
    FEdit->setFocus();
    return;
  }
  FValide = true;
  FNomFichier = name;
  accept();
}

void TFicheSetFileName::reject() {
  FValide = false;
  QDialog::reject();
}

void TFicheSetFileName::done(int r) {
  FOuvert = false;
  QDialog::done(r);
}

void TFicheSetFileName::Executer() {
  FEdit->selectAll();
  FEdit->setFocus();
  if (!ExecHook) {
    // Without a user (TESSALY_UNATTENDED) the dialog is answered as closed,
    // like the file dialogs.
    if (ui::UnattendedRequested())
      reject();
    else
      exec();
    return;
  }
  FOuvert = true;
  while (FOuvert) {
    FRefuse = false;
    show();
    ExecHook(*this);
    // A refused name keeps the dialog open for another try; a showing left
    // open otherwise is taken as closed, so a script cannot loop forever.
    if (FOuvert && !FRefuse) reject();
  }
}

bool TFicheSetFileName::GetNomFichier(QString& name) const {
  if (!FValide) return false;
  name = FNomFichier;
  return true;
}

}  // namespace tessaly
