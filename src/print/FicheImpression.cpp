#include "FicheImpression.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "ui/Dialogs.h"

namespace tessaly {

TFicheImpression::TFicheImpression(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("FicheImpression"));
  setWindowTitle(QStringLiteral("Gestionnaire d'impression"));
  auto* layout = new QVBoxLayout(this);
  FInputs = new QPlainTextEdit(this);
  FInputs->setReadOnly(true);
  layout->addWidget(FInputs);
  auto* quit = new QPushButton(QStringLiteral("Quitter"), this);
  quit->setObjectName(QStringLiteral("btnQuitter"));
  connect(quit, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(quit);
  resize(640, 400);
}

void TFicheImpression::SetVersion(const QString& version) {
  FVersion = version;
  setWindowTitle(QStringLiteral("Gestionnaire d'impression - ") + version);
}

QString TFicheImpression::InputsText() const {
  auto list = [](const QStringList* l) { return l ? l->join(QStringLiteral("; ")) : QString(); };
  return QStringLiteral(
             "Version: %1\nFichier de paramétrage: %2\nMode d'impression: %3\nAgence: %4\nUtilisateur: %5\n"
             "Droits: %6\nFichier de données: %7\nPièces jointes: %8\n")
      .arg(FVersion, FFichierParametres, FModeImpression, FAgence, FUtilisateur, list(LDroits), FFichierXml,
           list(LPiecesJointes));
}

void TFicheImpression::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FInputs->setPlainText(InputsText());
  if (ui::UnattendedRequested()) {
    // Nobody can close the window: report what it received and close.
    std::fprintf(stderr, "%s", InputsText().toLocal8Bit().constData());
    QTimer::singleShot(0, this, &QDialog::accept);
  }
}

}  // namespace tessaly
