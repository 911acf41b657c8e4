// The print manager window. It receives the job's inputs from the start-up
// window through the setters below; its document set-up, template tree,
// preview, printing, export and mail arrive with the print manager work.
// Until then it lists the inputs it received and can be closed.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QPlainTextEdit;

namespace tessaly {

class TFicheImpression : public QDialog {
  Q_OBJECT
 public:
  explicit TFicheImpression(QWidget* owner = nullptr);

  void SetVersion(const QString& version);  // also sets the caption
  void SetFichierParametres(const QString& path) { FFichierParametres = path; }
  void SetModeImpression(const QString& mode) { FModeImpression = mode; }
  void SetAgence(const QString& agence) { FAgence = agence; }
  void SetUtilisateur(const QString& utilisateur) { FUtilisateur = utilisateur; }
  // References to lists owned by the start-up window, which outlives this one.
  void SetDroits(const QStringList* droits) { LDroits = droits; }
  void SetFichierXml(const QString& path) { FFichierXml = path; }
  void SetPiecesJointes(const QStringList* pieces) { LPiecesJointes = pieces; }

  const QString& Version() const { return FVersion; }
  const QString& FichierParametres() const { return FFichierParametres; }
  const QString& ModeImpression() const { return FModeImpression; }
  const QString& Agence() const { return FAgence; }
  const QString& Utilisateur() const { return FUtilisateur; }
  const QStringList* Droits() const { return LDroits; }
  const QString& FichierXml() const { return FFichierXml; }
  const QStringList* PiecesJointes() const { return LPiecesJointes; }

  // What the window received, one "name: value" line each.
  QString InputsText() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString FVersion, FFichierParametres, FModeImpression, FAgence, FUtilisateur, FFichierXml;
  const QStringList* LDroits = nullptr;
  const QStringList* LPiecesJointes = nullptr;
  QPlainTextEdit* FInputs;
};

}  // namespace tessaly
