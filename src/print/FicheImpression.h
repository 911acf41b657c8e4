// The print manager window ("Gestionnaire d'impression"): the document of
// the job in an embedded preview on the left; on the right the title and
// page-orientation choosers, the template tree, the four display options,
// the printer list and the buttons that print, preview, export, mail and
// open the template library.
//
// The start-up window hands it the job's inputs through the setters, shows
// it modally and ends the process when it closes. The set-up runs at the
// first activation: Tessaly.ini (read at construction), the document data
// file, the user's last choices from the settings store, the initial
// template and the configuration record templates read.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <functional>

#include "DocumentTables.h"
#include "Report.h"
#include "ReportExport.h"
#include "ReportPreview.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tessaly {

class TDataModuleSdb;

inline const QString kModeDocument = QStringLiteral("DOCUMENT");
inline const QString kModeRapport = QStringLiteral("RAPPORT");
// The only template group the print manager shows.
inline const QString kGroupeCorvanel = QStringLiteral("Corvanel");

class TFicheImpression : public QDialog {
  Q_OBJECT
 public:
  explicit TFicheImpression(QWidget* owner = nullptr);
  ~TFicheImpression() override;

  // ---- inputs, set by the start-up window before the window is shown
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

  // What the window received, one "name: value" line each (written to
  // standard error by unattended runs).
  QString InputsText() const;

  // ---- state built by the window
  const QString& FichierBDD() const { return FFichierBDD; }
  const QString& DocumentsRoot() const { return FDocumentsRoot; }
  const QString& RapportsRoot() const { return FRapportsRoot; }
  const QString& DocumentType() const { return FDocumentType; }
  const QString& ClientMail() const { return FClientMail; }
  const QStringList& DescriptifsTechniques() const { return FDescriptifsTechniques; }
  const QStringList& Groupes() const { return FGroupes; }
  bool Activated() const { return FActivated; }
  report::TfrxReport& Report() { return frxReport; }
  TDocumentTables& Tables() { return FTables; }
  report::TfrxPDFExport& PdfExport() { return frxPDFExport; }
  report::TfrxCSVExport& CsvExport() { return frxCSVExport; }

  // ---- set-up
  void FormCreate();
  void FormActivate();
  void LectureIni();
  QString LectureDonnees();
  void InitDocument();
  void InitRapport();
  void LectureParametres();
  // ---- template tree and preview
  void LectureTemplates();
  void tvTemplatesClick();
  void cbbTitreChange();
  void cbbOrientationChange();
  void btnApercuClick();
  // The mouse wheel anywhere over the window scrolls the preview.
  void FormMouseWheelDown(Qt::KeyboardModifiers shift, const QPoint& position);
  void FormMouseWheelUp(Qt::KeyboardModifiers shift, const QPoint& position);
  // ---- display options, printing, closing
  void chkCroquisClick();
  void chkUwClick();
  void chkFournisseursClick();
  void chkDimensionsClick();
  void AppliquerAffichage();
  void cbbImprimanteChange();
  void btnImprimerClick();
  void btnConfigClick();
  void btnExporterClick();
  void btnMailClick();
  void btnQuitterClick();
  void FormCloseQuery();

  // ---- what the window depends on outside itself (tests replace them)
  // The printer queue names, in the system's order. Empty: the system's
  // (QPrinterInfo).
  using TPrinterSource = std::function<QStringList()>;
  static void SetPrinterSource(TPrinterSource source);
  // Opens a file in the application the desktop associates with it. Empty:
  // QDesktopServices.
  using TFileOpener = std::function<void(const QString& path)>;
  static void SetFileOpener(TFileOpener opener);

  // The tree icon index of a node (1: template, 2 + i: group i).
  static int ImageIndex(const QTreeWidgetItem* node);

  // ---- controls (object names as below)
  report::TfrxPreview* frxPreviewTemplate;
  QLabel* lblTitre;
  QComboBox* cbbTitre;
  QLabel* lblOrientation;
  QComboBox* cbbOrientation;
  QTreeWidget* tvTemplates;
  QLabel* lblTitreRapport;
  QCheckBox* chkFournisseurs;
  QCheckBox* chkDimensions;
  QCheckBox* chkCroquis;
  QCheckBox* chkUw;
  QLabel* lblImprimante;
  QComboBox* cbbImprimante;
  QPushButton* btnConfig;
  QPushButton* btnApercu;
  QPushButton* btnMail;
  QPushButton* btnImprimer;
  QPushButton* btnExporter;
  QPushButton* btnQuitter;

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void CreateControls();
  TDataModuleSdb& Store() const;
  // Hides the template object `name` when the report owns objects and has it.
  void MasquerObjet(const QString& name);
  void PositionConfiguration(const QString& field, bool value);
  // A display option that only sets a field of the configuration record.
  void OptionConfiguration(const QString& field, const QCheckBox* box);
  // Loads a template; a file that is not a template is reported (the
  // report keeps the template it had) and answers false.
  bool ChargementTemplate(const QString& path);
  // Runs `action`; an exception is shown as a message and the window (and
  // the tree) are enabled again in every case.
  void Action(const std::function<void()>& action);
  QString DossierTitre() const;
  QString DossierOrientation(const QString& groupe) const;
  QString CheminDescriptif(const QString& entry) const;

  QString FVersion, FFichierParametres, FModeImpression, FAgence, FUtilisateur, FFichierXml;
  const QStringList* LDroits = nullptr;
  const QStringList* LPiecesJointes = nullptr;

  QString FFichierBDD, FDocumentsRoot, FRapportsRoot, FDocumentType, FClientMail;
  QStringList FDescriptifsTechniques;
  QStringList FGroupes;
  bool FActivated = false;
  bool FClosingQueried = false;

  TDocumentTables FTables;
  report::TfrxReport frxReport;
  report::TfrxPDFExport frxPDFExport;
  report::TfrxCSVExport frxCSVExport;
  report::TfrxDesignerOptions frxDesigner;
  QIcon FIcons[3];  // index 1: template, 2: group
};

}  // namespace tessaly
