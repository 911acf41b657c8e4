// The batch exporter window: renders the parameter file's export list to
// PDF files without user input, then closes. It receives its inputs from
// the start-up window through the setters below and reads the list itself.
// Rendering arrives with the report engine; until then the window lists
// the entries it would produce and can be closed.
#pragma once

#include <QDialog>
#include <QString>

#include "ParameterFile.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;

namespace tessaly {

class TFicheExporter : public QDialog {
  Q_OBJECT
 public:
  explicit TFicheExporter(QWidget* owner = nullptr);

  void SetVersion(const QString& version);  // also sets the caption
  void SetFichierParametres(const QString& path) { FFichierParametres = path; }
  void SetModeImpression(const QString& mode) { FModeImpression = mode; }
  void SetAgence(const QString& agence) { FAgence = agence; }
  void SetUtilisateur(const QString& utilisateur) { FUtilisateur = utilisateur; }

  const QString& Version() const { return FVersion; }
  const QString& FichierParametres() const { return FFichierParametres; }
  const QString& ModeImpression() const { return FModeImpression; }
  const QString& Agence() const { return FAgence; }
  const QString& Utilisateur() const { return FUtilisateur; }

  // Reads the parameter file's export list.
  void LectureExport();
  const TListeExport& Liste() const { return FListe; }
  QString InputsText() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString FVersion, FFichierParametres, FModeImpression, FAgence, FUtilisateur;
  TListeExport FListe;
  QLabel* lblAction;
  QLabel* lblCompteur;
  QProgressBar* pbAvancement;
  QPlainTextEdit* FInputs;
};

}  // namespace tessaly
