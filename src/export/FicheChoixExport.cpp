#include "FicheChoixExport.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tessaly {

TFicheChoixExport::TFicheChoixExport(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("FicheChoixExport"));
  setWindowTitle(QStringLiteral("Configuration de l'export"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  lblExport = new QLabel(QStringLiteral("Choisir le mode de l'export"), this);
  lblExport->setObjectName(QStringLiteral("lblExport"));
  rbtnCSV = new QRadioButton(QStringLiteral("CSV"), this);
  rbtnCSV->setObjectName(QStringLiteral("rbtnCSV"));
  rbtnCSV->setAccessibleName(QStringLiteral("CSV"));
  rbtnPDF = new QRadioButton(QStringLiteral("PDF"), this);
  rbtnPDF->setObjectName(QStringLiteral("rbtnPDF"));
  rbtnPDF->setAccessibleName(QStringLiteral("PDF"));
  rbtnPDF->setChecked(true);
  chkOpenExport = new QCheckBox(QStringLiteral("Ouverture du fichier après l'export"), this);
  chkOpenExport->setObjectName(QStringLiteral("chkOpenExport"));
  chkOpenExport->setAccessibleName(chkOpenExport->text());
  chkOpenExport->setChecked(true);
  btnValider = new QPushButton(QStringLiteral("OK"), this);
  btnValider->setObjectName(QStringLiteral("btnValider"));
  btnValider->setAccessibleName(QStringLiteral("OK"));
  btnValider->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  btnValider->setDefault(true);
  // The label names the choice that follows it.
  lblExport->setBuddy(rbtnCSV);

  connect(rbtnPDF, &QRadioButton::clicked, this, &TFicheChoixExport::rbtnPDFClick);
  connect(rbtnCSV, &QRadioButton::clicked, this, &TFicheChoixExport::rbtnCSVClick);
  connect(btnValider, &QPushButton::clicked, this, &TFicheChoixExport::btnValiderClick);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblExport);
  auto* kinds = new QHBoxLayout;
  kinds->addWidget(rbtnCSV);
  kinds->addWidget(rbtnPDF);
  kinds->addStretch(1);
  layout->addLayout(kinds);
  layout->addWidget(chkOpenExport);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnValider);
  layout->addLayout(buttons);
  setTabOrder(rbtnCSV, rbtnPDF);
  setTabOrder(rbtnPDF, chkOpenExport);
  setTabOrder(chkOpenExport, btnValider);
  // The keyboard starts on the chosen kind: a screen reader reads the
  // current choice, and the arrow keys move it to the other kind.
  rbtnPDF->setFocus();
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

// The two buttons are one choice: clicking either leaves exactly one checked.
void TFicheChoixExport::rbtnPDFClick() {
  rbtnPDF->setChecked(true);
  rbtnCSV->setChecked(false);
}

void TFicheChoixExport::rbtnCSVClick() {
  rbtnCSV->setChecked(true);
  rbtnPDF->setChecked(false);
}

void TFicheChoixExport::btnValiderClick() {
  FExportKind = rbtnCSV->isChecked() ? kExportCsv : kExportPdf;
  FOpenExport = chkOpenExport->isChecked();
  accept();
}

}  // namespace tessaly
