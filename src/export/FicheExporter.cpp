#include "FicheExporter.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "ui/Dialogs.h"

namespace tessaly {

TFicheExporter::TFicheExporter(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("FicheExporter"));
  setWindowTitle(QStringLiteral("Gestionnaire d'impression PDF"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* layout = new QVBoxLayout(this);
  lblAction = new QLabel(this);
  lblAction->setObjectName(QStringLiteral("lblAction"));
  lblCompteur = new QLabel(QStringLiteral("0 / 0"), this);
  lblCompteur->setObjectName(QStringLiteral("lblCompteur"));
  lblCompteur->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  pbAvancement = new QProgressBar(this);
  pbAvancement->setObjectName(QStringLiteral("pbAvancement"));
  FInputs = new QPlainTextEdit(this);
  FInputs->setReadOnly(true);
  auto* close = new QPushButton(QStringLiteral("Fermer"), this);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(lblAction);
  layout->addWidget(lblCompteur);
  layout->addWidget(pbAvancement);
  layout->addWidget(FInputs);
  layout->addWidget(close);
  resize(640, 360);
}

void TFicheExporter::SetVersion(const QString& version) {
  FVersion = version;
  setWindowTitle(QStringLiteral("Gestionnaire d'impression PDF - ") + version);
}

void TFicheExporter::LectureExport() { FListe = LectureListeExport(FFichierParametres); }

QString TFicheExporter::InputsText() const {
  QString text = QStringLiteral("Version: %1\nFichier de paramétrage: %2\nMode d'impression: %3\nAgence: %4\n"
                                "Utilisateur: %5\nExports: %6\n")
                     .arg(FVersion, FFichierParametres, FModeImpression, FAgence, FUtilisateur)
                     .arg(FListe.Count());
  for (int i = 0; i < FListe.Count(); ++i)
    text += QStringLiteral("  %1. %2 + %3 -> %4\n").arg(i + 1).arg(FListe.Rapports[i], FListe.Xml[i], FListe.Exports[i]);
  return text;
}

void TFicheExporter::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  LectureExport();
  lblCompteur->setText(QStringLiteral("0 / %1").arg(FListe.Count()));
  pbAvancement->setMaximum(FListe.Count());
  lblAction->setText(QStringLiteral("Rendu PDF non disponible dans cette version"));
  FInputs->setPlainText(InputsText());
  if (ui::UnattendedRequested()) {
    std::fprintf(stderr, "%s", InputsText().toLocal8Bit().constData());
    QTimer::singleShot(0, this, &QDialog::accept);
  }
}

}  // namespace tessaly
