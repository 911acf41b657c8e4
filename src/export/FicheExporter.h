// The batch exporter window: renders the parameter file's export list
// (template, data file, PDF file) to PDF files without user input, showing
// its progress, then closes by itself. Each entry is produced like a
// document in the print manager: the data file fills the four tables, the
// configuration record and the line start and end rows come from the
// settings, the report is prepared and exported.
//
// An entry whose template or data file is missing, or any error of the
// settings store, the loader or the engine, stops the batch at that entry:
// the error is shown, the window closes and Echec() tells the caller
// (the process then ends with a non-zero status). Files written for the
// entries before stay.
#pragma once

#include <QDialog>
#include <QString>

#include "DocumentTables.h"
#include "ParameterFile.h"
#include "Report.h"
#include "ReportExport.h"

class QLabel;
class QProgressBar;
class QTimer;

namespace tessaly {

class TFicheExporter : public QDialog {
  Q_OBJECT
 public:
  explicit TFicheExporter(QWidget* owner = nullptr);
  ~TFicheExporter() override;

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

  void FormActivate();  // the first activation starts Timer1
  void Timer1Timer();   // LectureExport, then Exportation
  // Reads the parameter file's export list (complete entries only).
  void LectureExport();
  // The batch loop; ends by closing the window.
  void Exportation();
  // Loads one data file into the tables and takes its document type.
  // Raises an error naming the file when it does not exist.
  void LectureDonnees(const QString& fichierXml);
  // Builds the configuration record and the line start and end rows from
  // the settings of the document type, all three display flags on.
  void LectureParametres();
  // The may-close rule: only once the batch has ended.
  bool FormCloseQuery() const { return FPeutFermer; }

  const TListeExport& Liste() const { return FListe; }
  const QString& FichierBDD() const { return FFichierBDD; }
  const QString& TypeDocument() const { return FTypeDocument; }
  bool Activated() const { return FActivated; }
  // The batch stopped on an error.
  bool Echec() const { return FEchec; }
  report::TfrxReport& Report() { return FReport; }
  TDocumentTables& Tables() { return FTables; }
  report::TfrxPDFExport& PdfExport() { return FPdf; }

  QLabel* lblAction;
  QLabel* lblCompteur;
  QProgressBar* pbAvancement;
  QTimer* Timer1;

 public slots:
  void reject() override;

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void LectureIni();
  void Exporter(int index);
  void Avancer();
  void Action(const QString& text);
  void Fermer();

  QString FVersion, FFichierParametres, FModeImpression, FAgence, FUtilisateur;
  QString FFichierBDD;
  QString FTypeDocument;
  TListeExport FListe;
  bool FActivated = false;
  bool FPeutFermer = false;
  bool FEchec = false;

  TDocumentTables FTables;
  report::TfrxReport FReport;
  report::TfrxPDFExport FPdf;
};

}  // namespace tessaly
