// The template library and print configuration window ("Configuration du
// Tessaly"), opened modally by the print manager's "Configuration" button.
#pragma once

#include <QDialog>
#include <QString>

namespace tessaly {

class TFicheConfigPrint : public QDialog {
  Q_OBJECT
 public:
  // `documentsRoot`: the print manager's Documents root; `documentType`:
  // its document type, selected in the type list when present.
  TFicheConfigPrint(QWidget* owner, const QString& documentsRoot, const QString& unused,
                    const QString& documentType);

  void SetAgence(const QString& agence) { FAgence = agence; }
  void SetUtilisateur(const QString& utilisateur) { FUtilisateur = utilisateur; }
  void SetFichierBDD(const QString& path) { FFichierBDD = path; }

 private:
  QString FAgence, FUtilisateur, FFichierBDD, FDocumentsRoot;
};

}  // namespace tessaly
