#include "FicheExporter.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "DataError.h"
#include "ExportImpression.h"
#include "Installation.h"
#include "settings/DataModuleSdb.h"
#include "ui/Dialogs.h"

namespace tessaly {

namespace {

// Opens the settings database for one group of reads and closes it again,
// also when a read fails. Uses the process's data module, or one of its own
// when the window runs without one.
class TSessionParametres {
 public:
  explicit TSessionParametres(const QString& path) {
    FStore = DataModuleSdb();
    if (!FStore) {
      FOwn = std::make_unique<TDataModuleSdb>();
      FStore = FOwn.get();
    }
    OuvertureParametres(*FStore, path);
  }
  ~TSessionParametres() {
    try {
      FStore->FermetureBDD();
    } catch (...) {
      // Closing after a failed read must not hide that read's error.
    }
  }
  TSessionParametres(const TSessionParametres&) = delete;
  TSessionParametres& operator=(const TSessionParametres&) = delete;
  TDataModuleSdb& Store() { return *FStore; }

 private:
  std::unique_ptr<TDataModuleSdb> FOwn;
  TDataModuleSdb* FStore;
};

}  // namespace

TFicheExporter::TFicheExporter(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("FicheExporter"));
  setWindowTitle(QStringLiteral("Gestionnaire d'impression PDF"));
  // No system buttons: the window closes itself when the batch ends.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  lblAction = new QLabel(this);
  lblAction->setObjectName(QStringLiteral("lblAction"));
  lblAction->setAccessibleName(QStringLiteral("Action"));
  lblCompteur = new QLabel(QStringLiteral("0 / 0"), this);
  lblCompteur->setObjectName(QStringLiteral("lblCompteur"));
  lblCompteur->setAccessibleName(QStringLiteral("Compteur"));
  lblCompteur->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  pbAvancement = new QProgressBar(this);
  pbAvancement->setObjectName(QStringLiteral("pbAvancement"));
  pbAvancement->setAccessibleName(QStringLiteral("Avancement"));
  pbAvancement->setRange(0, 0);
  pbAvancement->setValue(0);
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  Timer1->setSingleShot(true);
  connect(Timer1, &QTimer::timeout, this, &TFicheExporter::Timer1Timer);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblAction);
  layout->addWidget(lblCompteur);
  layout->addWidget(pbAvancement);
  // A size of its own: the layout then leaves the window's size limits
  // alone when the texts change, instead of renegotiating them with the
  // window system at every step.
  setMinimumSize(480, 120);
  resize(480, 120);

  FTables.BindTo(FReport);
  ConfigurationExportPdf(FPdf);
  FPdf.ShowDialog = false;
  FPdf.ShowProgress = false;
  LectureIni();
}

TFicheExporter::~TFicheExporter() {
  FListe.Rapports.clear();
  FListe.Xml.clear();
  FListe.Exports.clear();
}

void TFicheExporter::SetVersion(const QString& version) {
  FVersion = version;
  setWindowTitle(QStringLiteral("Gestionnaire d'impression PDF - ") + version);
}

void TFicheExporter::LectureIni() { FFichierBDD = LectureTessalyIni().FichierBDD; }

bool TFicheExporter::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QDialog::event(e);
}

void TFicheExporter::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // Without a window manager a window is never activated; being shown
  // counts as the first activation.
  FormActivate();
}

void TFicheExporter::FormActivate() {
  if (FActivated) return;
  Timer1->start();
  FActivated = true;
}

void TFicheExporter::Timer1Timer() {
  Timer1->stop();
  try {
    LectureExport();
  } catch (const std::exception& e) {
    FEchec = true;
    ui::ShowMessage(QStringLiteral("TFicheExporter::LectureExport : ") + ExceptionMessage(e), this);
    Fermer();
    return;
  }
  Exportation();
}

void TFicheExporter::LectureExport() {
  // A job file that is not there is the caller's mistake, not an empty
  // batch: ending "successfully" with no file written would hide it.
  if (!QFileInfo(FFichierParametres).isFile())
    throw EDataError(QStringLiteral("Le fichier de paramètres \"%1\" n'existe pas").arg(FFichierParametres));
  const TListeExport liste = LectureListeExport(FFichierParametres);
  FListe.Rapports.append(liste.Rapports);
  FListe.Xml.append(liste.Xml);
  FListe.Exports.append(liste.Exports);
}

void TFicheExporter::closeEvent(QCloseEvent* e) {
  if (!FormCloseQuery()) {
    e->ignore();
    return;
  }
  QDialog::closeEvent(e);
}

void TFicheExporter::reject() {
  // Escape and the window manager's close request end here too.
  if (FormCloseQuery()) QDialog::reject();
}

// Lets the window repaint and handle pending events: the work runs on the
// GUI thread and the progress must be seen while it runs.
static void Repeindre() { QCoreApplication::processEvents(); }

void TFicheExporter::Action(const QString& text) {
  lblAction->setText(text);
  Repeindre();
}

void TFicheExporter::Avancer() {
  pbAvancement->setValue(pbAvancement->value() + 1);
  Repeindre();
}

void TFicheExporter::LectureDonnees(const QString& fichierXml) {
  if (!QFileInfo(fichierXml).isFile())
    throw EDataError(QStringLiteral("Le fichier de données \"%1\" n'existe pas").arg(fichierXml));
  FTables.LectureXml(fichierXml);
  FTypeDocument = FTables.HeaderText(QStringLiteral("typeDocNom"));
}

void TFicheExporter::LectureParametres() {
  TConfigurationValues values;
  {
    TSessionParametres session(FFichierBDD);
    values = LectureValeursConfiguration(session.Store(), FAgence, FUtilisateur, FTypeDocument);
  }
  values.Croquis = values.Dimensions = values.Fournisseurs = true;
  ConstructionConfiguration(FTables, values);
}

void TFicheExporter::Exporter(int i) {
  const int n = FListe.Count();
  const QString rapport = FListe.Rapports[i], xml = FListe.Xml[i], sortie = FListe.Exports[i];
  const QString numero = QString::number(i + 1);

  Action(QStringLiteral("Chargement du rapport (") + numero + ')');
  // A missing template would leave the previous entry's (or the blank)
  // template in the report and export it under this entry's name.
  if (!QFileInfo(rapport).isFile())
    throw EDataError(QStringLiteral("Le modèle \"%1\" n'existe pas").arg(rapport));
  FReport.LoadFromFile(rapport);
  if (FReport.ObjectCount() > 0)
    if (report::TfrxComponent* croquis = FReport.FindObject(QStringLiteral("Image_Croquis"))) croquis->Visible = true;
  Avancer();

  Action(QStringLiteral("Chargement du fichier de données (") + numero + ')');
  LectureDonnees(xml);
  LectureParametres();
  FReport.PrepareReport(true);
  Avancer();

  Action(QStringLiteral("Génération de l'exportation (") + numero + ')');
  const QFileInfo cible(sortie);
  FPdf.ShowDialog = false;
  FPdf.DefaultPath = cible.path();
  FPdf.FileName = cible.fileName();
  FReport.Export(FPdf);
  Avancer();

  lblCompteur->setText(numero + '/' + QString::number(n));
  Repeindre();
}

void TFicheExporter::Exportation() {
  const int n = FListe.Count();
  pbAvancement->setRange(0, 3 * n);
  pbAvancement->setValue(0);
  lblCompteur->setText(QStringLiteral("0/") + QString::number(n));
  Repeindre();
  try {
    for (int i = 0; i < n; ++i) Exporter(i);
  } catch (const std::exception& e) {
    FEchec = true;
    ui::ShowMessage(QStringLiteral("TFicheExporter::Exportation : ") + ExceptionMessage(e), this);
  } catch (...) {
    FEchec = true;
    ui::ShowMessage(QStringLiteral("TFicheExporter::Exportation : erreur inconnue"), this);
  }
  Fermer();
}

void TFicheExporter::Fermer() {
  FPeutFermer = true;
  done(FEchec ? QDialog::Rejected : QDialog::Accepted);
}

}  // namespace tessaly
