// The start-up window: a splash picture, a progress bar and "Fermer". At
// its first activation it starts a one-shot 100 ms timer whose handler
// reads the parameter file and opens the batch exporter (mode "EXPORTER")
// or the print manager, modally; when that closes, so does this window.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tessaly {

inline const QString kVersionText = QStringLiteral("Version 1.20 du 15/02/2023 17:30 (Beta)");
inline const QString kModeExporter = QStringLiteral("EXPORTER");

class TFicheModule : public QWidget {
  Q_OBJECT
 public:
  explicit TFicheModule(QWidget* parent = nullptr);
  ~TFicheModule() override;

  void SetFichierParametres(const QString& path) { FFichierParametres = path; }
  void SetModeImpression(const QString& mode) { FModeImpression = mode; }

  const QString& Version() const { return FVersion; }
  const QString& FichierParametres() const { return FFichierParametres; }
  const QString& ModeImpression() const { return FModeImpression; }
  const QString& Agence() const { return FAgence; }
  const QString& Utilisateur() const { return FUtilisateur; }
  const QStringList& Droits() const { return FDroits; }
  const QString& FichierXml() const { return FFichierXml; }
  const QStringList& PiecesJointes() const { return FPiecesJointes; }
  bool Activated() const { return FActivated; }
  // The process's exit status: non-zero when the batch exporter stopped on
  // an error, so that an unattended caller can tell.
  int CodeSortie() const { return FCodeSortie; }
  QProgressBar* ProgressBar() const { return pbAvance; }
  QTimer* Timer() const { return Timer1; }

  // How a working window is shown: modally by default. Tests replace it to
  // inspect the window instead of running its loop.
  using TWindowRunner = std::function<void(QDialog&)>;
  static void SetWindowRunner(TWindowRunner runner);

  void FormActivate();
  void Timer1Timer();  // the dispatch; runs once
  void btnFermerClick();

 signals:
  // The window has closed: the process ends.
  void Closed();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void LectureParametres();

  QString FVersion, FFichierParametres, FModeImpression, FAgence, FUtilisateur, FFichierXml;
  QStringList FDroits;
  QStringList FPiecesJointes;
  bool FActivated = false;
  bool FDispatched = false;
  int FCodeSortie = 0;

  QLabel* Image1;
  QProgressBar* pbAvance;
  QPushButton* btnFermer;
  QTimer* Timer1;
};

// The process entry after the GUI application exists: checks the
// arguments (program name first), applies the visual style, runs the
// start-up window. Returns 0, or 1 when a batch export stopped on an error.
int TessalyMain(const QStringList& arguments);

// Before the application object exists: an unattended run on a machine
// without any display (a script, a service) gets the off-screen platform,
// instead of failing to start when no platform is named.
void PlateformeSansEcran();

// Qt's own dialogs and buttons (file dialogs, Yes/No) speak French like the
// rest of the application; false when the translations are not installed.
bool InstallFrenchTranslations();

// Applies the "Smokey Quartz Kamri" look; false (and the default look
// kept) when it cannot be applied.
bool ApplyVisualStyle();

inline const QString kMessageArguments =
    QStringLiteral("Verifiez vos paramètres !\n1. Fichier de paramétrage.\n2. Mode d'impression.");

}  // namespace tessaly
