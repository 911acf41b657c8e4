// "Configuration de l'export": asks whether the report goes to CSV or PDF
// and whether the PDF is opened once written.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace tessaly {

// Values of ExportKind().
enum : int { kExportAucun = 0, kExportCsv = 1, kExportPdf = 2 };

class TFicheChoixExport : public QDialog {
  Q_OBJECT
 public:
  explicit TFicheChoixExport(QWidget* owner = nullptr);

  // 0 until the dialog is closed with its OK button; then 1 (CSV) or 2 (PDF).
  int ExportKind() const { return FExportKind; }
  // State of "Ouverture du fichier après l'export" when OK was pressed.
  bool OpenExport() const { return FOpenExport; }

  void rbtnPDFClick();
  void rbtnCSVClick();
  void btnValiderClick();

  QLabel* lblExport;
  QRadioButton* rbtnCSV;
  QRadioButton* rbtnPDF;
  QCheckBox* chkOpenExport;
  QPushButton* btnValider;

 private:
  int FExportKind = kExportAucun;
  bool FOpenExport = false;
};

}  // namespace tessaly
