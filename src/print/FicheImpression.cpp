#include "FicheImpression.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cstdio>

#include "DataError.h"
#include "ExportImpression.h"
#include "FicheConfigPrint.h"
#include "EnvoiMail.h"
#include "Installation.h"
#include "settings/DataModuleSdb.h"
#include "ui/Accessible.h"
#include "ui/Dialogs.h"

namespace tessaly {

namespace {

TFicheImpression::TPrinterSource gPrinterSource;
TFicheImpression::TFileOpener gFileOpener;

const QString kImageCroquis = QStringLiteral("Image_Croquis");
const QString kMemUw = QStringLiteral("Mem_UW");
const QString kDroitConfiguration = QStringLiteral("Impression_Configuration");
const QString kSectionImpression = QStringLiteral("Impression");

// Title and template used for a document type when nothing is remembered.
struct TDefautsType {
  const char* type;
  const char* titre;
  const char* fichier;
};
const TDefautsType kDefauts[] = {
    {"DEVIS", "Devis", "Prix nets.fr3"},
    {"VARIANTE", "Variante", "Prix nets.fr3"},
    {"COMMANDE CLIENT", "Commande Client", "Prix TTC.fr3"},
    {"COMMANDE FOURNISSEUR", "Commande Fournisseur", "Prix TTC.fr3"},
    {"FACTURE", "Facture", "Prix TTC.fr3"},
};

const TDefautsType* DefautsDe(const QString& type) {
  for (const auto& d : kDefauts)
    if (type == QLatin1String(d.type)) return &d;
  return nullptr;
}

// `a` and `b` with one separator between them; an empty part is left out
// and a folder that already ends with a separator gets none added.
QString JoinPath(const QString& a, const QString& b) {
  if (b.isEmpty()) return a;
  if (a.isEmpty()) return b;
  if (a.endsWith('/') || a.endsWith('\\')) return a + b;
  return a + '/' + b;
}

QString JoinPath(std::initializer_list<QString> parts) {
  QString path;
  for (const QString& p : parts) path = JoinPath(path, p);
  return path;
}

// Every entry of `folder` other than "." and ".." in the order the platform
// lists them, with whether it is a folder.
template <typename F>
void ListFolder(const QString& folder, F&& each) {
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
  while (it.hasNext()) {
    it.next();
    each(it.fileName(), it.fileInfo());
  }
}

// Selects the first item equal to `text` (letter case ignored), else the
// first item when there is one.
void SelectItem(QComboBox* combo, const QString& text) {
  for (int i = 0; i < combo->count(); ++i)
    if (combo->itemText(i).compare(text, Qt::CaseInsensitive) == 0) {
      combo->setCurrentIndex(i);
      return;
    }
  combo->setCurrentIndex(combo->count() > 0 ? 0 : -1);
}

std::string Std(const QString& s) { return s.toStdString(); }

// Gives the keyboard focus back to the widget that had it before an action
// disabled the window (disabling moves the focus away).
class TFocusKeeper {
 public:
  TFocusKeeper() : FWidget(QApplication::focusWidget()) {}
  void Restore() {
    if (FWidget && FWidget->isEnabled() && FWidget->isVisible() && !FWidget->hasFocus()) FWidget->setFocus();
  }

 private:
  QPointer<QWidget> FWidget;
};

}  // namespace

// ---------------------------------------------------------------- seams

void TFicheImpression::SetPrinterSource(TPrinterSource source) { gPrinterSource = std::move(source); }

void TFicheImpression::SetFileOpener(TFileOpener opener) { gFileOpener = std::move(opener); }

int TFicheImpression::ImageIndex(const QTreeWidgetItem* node) {
  return node ? node->data(0, Qt::UserRole).toInt() : -1;
}

// ---------------------------------------------------------------- construction

TFicheImpression::TFicheImpression(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("FicheImpression"));
  setWindowTitle(QStringLiteral("Gestionnaire d'impression"));
  // A window of its own, with the usual window buttons (it is the job's
  // main window while it runs).
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  FGroupes.append(kGroupeCorvanel);

  CreateControls();

  // The report and what it reads and writes through.
  FTables.BindTo(frxReport);
  frxReport.SetPreview(frxPreviewTemplate);
  frxReport.PreviewOptions.AllowEdit = false;
  frxReport.PreviewOptions.ShowPrintButton = false;
  frxReport.PreviewOptions.WindowZoom = 0.8;
  frxDesigner.ScriptLanguage = QStringLiteral("PascalScript");
  frxDesigner.FontName = QStringLiteral("Arial");
  frxDesigner.FontSizePixels = 13;
  frxDesigner.Margin = 10;
  frxDesigner.PaperSize = 9;
  frxDesigner.Orientation = report::TfrxOrientation::Portrait;
  frxDesigner.Extension = QStringLiteral("fr3");
  frxDesigner.PageOptionsLocked = true;
  frxDesigner.AllowLoad = false;
  frxDesigner.AllowSave = false;
  frxDesigner.ShowRecentFiles = false;
  frxReport.SetDesignerOptions(frxDesigner);
  frxPDFExport.DialogParent = this;
  frxCSVExport.DialogParent = this;
  ConfigurationExportPdf(frxPDFExport);
  ConfigurationExportCsv(frxCSVExport);

  // The mouse wheel scrolls the preview wherever the pointer is over the
  // window: wheel events reach the widget under the pointer first.
  qApp->installEventFilter(this);

  LectureIni();
  FormCreate();
}

TFicheImpression::~TFicheImpression() {
  qApp->removeEventFilter(this);
  frxReport.SetPreview(nullptr);
}

void TFicheImpression::CreateControls() {
  auto named = [](QWidget* w, const char* name) {
    w->setObjectName(QLatin1String(name));
    return w;
  };
  auto button = [&](const QString& caption, const char* name) {
    auto* b = new QPushButton(caption, this);
    named(b, name);
    b->setAccessibleName(caption);
    b->setAutoDefault(false);
    return b;
  };
  auto check = [&](const QString& caption, const char* name) {
    auto* c = new QCheckBox(caption, this);
    named(c, name);
    c->setAccessibleName(caption.trimmed());
    c->setChecked(true);
    return c;
  };
  auto combo = [&](QLabel*& label, const QString& caption, const char* labelName, const char* name) {
    label = new QLabel(caption, this);
    named(label, labelName);
    auto* c = new QComboBox(this);
    named(c, name);
    c->setEditable(false);
    ui::Etiqueter(label, c);
    return c;
  };

  FIcons[1] = style()->standardIcon(QStyle::SP_FileIcon);
  FIcons[2] = style()->standardIcon(QStyle::SP_DirIcon);

  frxPreviewTemplate = new report::TfrxPreview(this);
  named(frxPreviewTemplate, "frxPreviewTemplate");
  frxPreviewTemplate->setAccessibleName(QStringLiteral("Aperçu du document"));
  frxPreviewTemplate->setFocusPolicy(Qt::StrongFocus);  // arrows and page keys scroll it
  frxPreviewTemplate->OutlineVisible = false;
  frxPreviewTemplate->OutlineWidth = 120;
  frxPreviewTemplate->ThumbnailVisible = false;
  frxPreviewTemplate->FindPanelVisible = false;
  frxPreviewTemplate->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  frxPreviewTemplate->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  lblTitreRapport = new QLabel(QStringLiteral("RAPPORTS"), this);
  named(lblTitreRapport, "lblTitreRapport");
  lblTitreRapport->setAlignment(Qt::AlignCenter);
  QFont big = lblTitreRapport->font();
  big.setPointSizeF(big.pointSizeF() * 2);
  big.setBold(true);
  lblTitreRapport->setFont(big);
  lblTitreRapport->setVisible(false);

  cbbTitre = combo(lblTitre, QStringLiteral("Titre"), "lblTitre", "cbbTitre");
  cbbOrientation = combo(lblOrientation, QStringLiteral("Mise en page :"), "lblOrientation", "cbbOrientation");

  tvTemplates = new QTreeWidget(this);
  named(tvTemplates, "tvTemplates");
  tvTemplates->setHeaderHidden(true);
  tvTemplates->setColumnCount(1);
  tvTemplates->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvTemplates->setSelectionMode(QAbstractItemView::SingleSelection);
  tvTemplates->setAccessibleName(QStringLiteral("Modèles"));
  tvTemplates->installEventFilter(this);  // Enter or Space loads the current template

  chkFournisseurs = check(QStringLiteral("Afficher les fournisseurs"), "chkFournisseurs");
  chkDimensions = check(QStringLiteral("Afficher les dimensions"), "chkDimensions");
  chkCroquis = check(QStringLiteral(" Afficher Croquis"), "chkCroquis");
  chkUw = check(QStringLiteral("Afficher UW"), "chkUw");

  cbbImprimante = combo(lblImprimante, QStringLiteral("Imprimante : "), "lblImprimante", "cbbImprimante");

  btnConfig = button(QStringLiteral("Configuration"), "btnConfig");
  btnApercu = button(QStringLiteral("Aperçu"), "btnApercu");
  btnMail = button(QStringLiteral("Mail"), "btnMail");
  btnImprimer = button(QStringLiteral("Imprimer"), "btnImprimer");
  btnExporter = button(QStringLiteral("Exporter"), "btnExporter");
  btnQuitter = button(QStringLiteral("Quitter"), "btnQuitter");

  // Layout: the preview on the left two thirds, everything else on the right.
  auto* right = new QVBoxLayout;
  right->addWidget(lblTitreRapport);
  auto* choosers = new QGridLayout;
  choosers->addWidget(lblTitre, 0, 0);
  choosers->addWidget(cbbTitre, 0, 1);
  choosers->addWidget(lblOrientation, 1, 0);
  choosers->addWidget(cbbOrientation, 1, 1);
  choosers->setColumnStretch(1, 1);
  right->addLayout(choosers);
  right->addWidget(tvTemplates, 1);
  right->addStretch();  // keeps the rest at the bottom when the tree is hidden
  auto* options = new QGridLayout;
  options->addWidget(chkFournisseurs, 0, 0);
  options->addWidget(chkDimensions, 0, 1);
  options->addWidget(chkCroquis, 1, 0);
  options->addWidget(chkUw, 1, 1);
  right->addLayout(options);
  auto* printer = new QHBoxLayout;
  printer->addWidget(lblImprimante);
  printer->addWidget(cbbImprimante, 1);
  right->addLayout(printer);
  auto* buttons = new QGridLayout;
  buttons->addWidget(btnConfig, 0, 0);
  buttons->addWidget(btnApercu, 0, 1);
  buttons->addWidget(btnMail, 1, 0);
  buttons->addWidget(btnImprimer, 1, 1);
  buttons->addWidget(btnExporter, 2, 0);
  buttons->addWidget(btnQuitter, 2, 1);
  right->addLayout(buttons);

  auto* main = new QHBoxLayout(this);
  main->addWidget(frxPreviewTemplate, 2);
  main->addLayout(right, 1);
  resize(1200, 800);

  // Keyboard order: the document, then the right side from top to bottom.
  QWidget* order[] = {frxPreviewTemplate, cbbTitre,      cbbOrientation, tvTemplates, chkFournisseurs,
                      chkDimensions,      chkCroquis,    chkUw,          cbbImprimante, btnConfig,
                      btnApercu,          btnMail,       btnImprimer,    btnExporter, btnQuitter};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  // Choosers react to the user's choices only (activated), not to the
  // selections the set-up makes.
  connect(cbbTitre, &QComboBox::activated, this, [this] { cbbTitreChange(); });
  connect(cbbOrientation, &QComboBox::activated, this, [this] { cbbOrientationChange(); });
  connect(cbbImprimante, &QComboBox::activated, this, [this] { cbbImprimanteChange(); });
  connect(tvTemplates, &QTreeWidget::itemClicked, this, [this] { tvTemplatesClick(); });
  connect(chkCroquis, &QCheckBox::clicked, this, [this] { chkCroquisClick(); });
  connect(chkUw, &QCheckBox::clicked, this, [this] { chkUwClick(); });
  connect(chkFournisseurs, &QCheckBox::clicked, this, [this] { chkFournisseursClick(); });
  connect(chkDimensions, &QCheckBox::clicked, this, [this] { chkDimensionsClick(); });
  connect(btnConfig, &QPushButton::clicked, this, [this] { btnConfigClick(); });
  connect(btnApercu, &QPushButton::clicked, this, [this] { btnApercuClick(); });
  connect(btnMail, &QPushButton::clicked, this, [this] { btnMailClick(); });
  connect(btnImprimer, &QPushButton::clicked, this, [this] { btnImprimerClick(); });
  connect(btnExporter, &QPushButton::clicked, this, [this] { btnExporterClick(); });
  connect(btnQuitter, &QPushButton::clicked, this, [this] { btnQuitterClick(); });
}

void TFicheImpression::SetVersion(const QString& version) {
  FVersion = version;
  setWindowTitle(QStringLiteral("Gestionnaire d'impression - ") + version);
}

QString TFicheImpression::InputsText() const {
  auto list = [](const QStringList* l) { return l ? l->join(QStringLiteral("; ")) : QString(); };
  return QStringLiteral(
             "Version: %1\nFichier de paramétrage: %2\nMode d'impression: %3\nAgence: %4\nUtilisateur: %5\n"
             "Droits: %6\nFichier de données: %7\nPièces jointes: %8\n")
      .arg(FVersion, FFichierParametres, FModeImpression, FAgence, FUtilisateur, list(LDroits), FFichierXml,
           list(LPiecesJointes));
}

TDataModuleSdb& TFicheImpression::Store() const {
  TDataModuleSdb* store = DataModuleSdb();
  if (!store) throw EDataError(QStringLiteral("Le module des paramètres n'est pas disponible."));
  return *store;
}

void TFicheImpression::Action(const std::function<void()>& action) {
  TFocusKeeper focus;
  QString error;
  try {
    action();
  } catch (const std::exception& e) {
    error = ExceptionMessage(e);
  } catch (...) {
    error = QStringLiteral("Erreur inattendue.");
  }
  setEnabled(true);
  if (!error.isNull()) ui::ShowMessage(error, this);
  focus.Restore();
}

// ---------------------------------------------------------------- set-up

void TFicheImpression::FormCreate() {
  cbbImprimante->clear();
  cbbImprimante->addItems(gPrinterSource ? gPrinterSource() : QPrinterInfo::availablePrinterNames());
  // No printer is chosen until the set-up or the user picks one.
  cbbImprimante->setCurrentIndex(-1);
}

void TFicheImpression::LectureIni() {
  const TTessalyIni ini = LectureTessalyIni();
  FFichierBDD = ini.FichierBDD;
  FDocumentsRoot = ini.DocumentsRoot;
  FRapportsRoot = ini.RapportsRoot;
}

void TFicheImpression::FormActivate() {
  if (!FActivated) {
    // Set first: a message shown by the set-up activates the window again
    // when it closes, and the set-up must not start over.
    FActivated = true;
    Action([this] {
      btnConfig->setEnabled(LDroits && LDroits->contains(kDroitConfiguration, Qt::CaseInsensitive));
      if (FModeImpression == kModeDocument)
        InitDocument();
      else if (FModeImpression == kModeRapport)
        InitRapport();
    });
    if (ui::UnattendedRequested()) {
      // Nobody can close the window: report what was set up and close.
      const QString summary = InputsText() + QStringLiteral("Type de document: %1\nModèle: %2\nPages: %3\n")
                                                 .arg(FDocumentType, frxReport.FileName())
                                                 .arg(frxReport.PreparedPages().size());
      std::fprintf(stderr, "%s", summary.toLocal8Bit().constData());
      QTimer::singleShot(0, this, &QWidget::close);
    }
  }
  if (btnApercu->isEnabled() && btnApercu->isVisible()) btnApercu->setFocus();
}

QString TFicheImpression::LectureDonnees() {
  const QString name = FTables.LectureXml(FFichierXml);
  bool found = false;
  const QString type = FTables.HeaderText(QStringLiteral("typeDocNom"), &found);
  FDocumentType = found ? type : kModeRapport;
  const QString mail = FTables.HeaderText(QStringLiteral("clientMail"), &found);
  if (found) FClientMail = mail;
  const QString descriptif = QStringLiteral("descriptifTechnique");
  if (FTables.LinesHaveField(descriptif)) FDescriptifsTechniques = FTables.LineTexts(descriptif);
  return name;
}

void TFicheImpression::InitDocument() {
  LectureDonnees();
  cbbTitre->clear();
  if (FDocumentType.isEmpty()) return;
  if (QFileInfo(FDocumentsRoot).isDir())
    ListFolder(JoinPath(FDocumentsRoot, FDocumentType), [this](const QString& name, const QFileInfo& info) {
      if (info.isDir()) cbbTitre->addItem(name);
    });
  cbbTitre->setCurrentIndex(cbbTitre->count() > 0 ? 0 : -1);
  cbbOrientation->clear();
  cbbOrientation->addItems({QStringLiteral("Portrait"), QStringLiteral("Paysage")});
  LectureParametres();
  LectureTemplates();
  frxReport.PrepareReport(true);
}

void TFicheImpression::InitRapport() {
  LectureParametres();
  const QString name = LectureDonnees();
  lblTitreRapport->setText(QStringLiteral("Rapport"));
  lblTitreRapport->setVisible(true);
  for (QWidget* w : std::initializer_list<QWidget*>{cbbTitre, lblTitre, cbbOrientation, lblOrientation, chkFournisseurs,
                                                    chkDimensions, chkCroquis, chkUw, tvTemplates})
    w->setVisible(false);
  tvTemplates->setEnabled(false);
  btnConfig->setEnabled(false);
  // One separator between the root and the name the data file gives.
  const QString path = JoinPath(FRapportsRoot, name);
  if (!name.isEmpty() && QFileInfo(path).isFile() && ChargementTemplate(path)) frxReport.PrepareReport(true);
}

bool TFicheImpression::ChargementTemplate(const QString& path) {
  try {
    return frxReport.LoadFromFile(path);
  } catch (const std::exception& e) {
    // The report keeps the template it had; the user can pick another one.
    ui::ShowMessage(ExceptionMessage(e), this);
    return false;
  }
}

void TFicheImpression::LectureParametres() {
  TDataModuleSdb& store = Store();
  const std::string agence = Std(FAgence), utilisateur = Std(FUtilisateur), section = Std(FDocumentType);
  auto read = [&](const std::string& s, const char* key, const char* defaut) {
    return QString::fromStdString(store.LectureChaine(agence, utilisateur, s, key, defaut));
  };
  const bool document = FModeImpression == kModeDocument;
  const TDefautsType* defauts = DefautsDe(FDocumentType);
  TConfigurationValues values;

  OuvertureParametres(store, FFichierBDD);
  try {
    SelectItem(cbbImprimante, read(Std(kSectionImpression), "DerniereImprimante", ""));
    // The printer the list shows is the one the report prints on.
    cbbImprimanteChange();

    QString titre = read(section, "DernierTitre", "");
    if (titre.isEmpty() && defauts) titre = QString::fromUtf8(defauts->titre);
    SelectItem(cbbTitre, titre);
    SelectItem(cbbOrientation, read(section, "Orientation", "Portrait"));

    QString modele = read(section, "DernierTemplate", "");
    if (modele.isEmpty() && defauts)
      modele = JoinPath({FDocumentsRoot, FDocumentType, cbbTitre->currentText(), kGroupeCorvanel,
                         cbbOrientation->currentText(), QString::fromUtf8(defauts->fichier)});
    if (!modele.isEmpty() && QFileInfo(modele).isFile()) ChargementTemplate(modele);

    // The print configuration is read in the same opening of the store.
    if (document) values = LectureValeursConfiguration(store, FAgence, FUtilisateur, FDocumentType);
  } catch (...) {
    try {
      store.FermetureBDD();
    } catch (...) {
    }
    throw;
  }
  store.FermetureBDD();
  if (!document) return;

  values.Croquis = true;
  values.Fournisseurs = chkFournisseurs->isChecked();
  values.Dimensions = chkDimensions->isChecked();
  ConstructionConfiguration(FTables, values);
}

// ---------------------------------------------------------------- template tree and preview

QString TFicheImpression::DossierTitre() const {
  return JoinPath({FDocumentsRoot, FDocumentType, cbbTitre->currentText()});
}

QString TFicheImpression::DossierOrientation(const QString& groupe) const {
  return JoinPath({DossierTitre(), groupe, cbbOrientation->currentText()});
}

void TFicheImpression::LectureTemplates() {
  tvTemplates->clear();
  if (FDocumentType.isEmpty() && cbbTitre->currentText().isEmpty()) return;
  if (!QFileInfo(DossierTitre()).isDir()) return;
  const QString orientation = cbbOrientation->currentText();
  for (int i = 0; i < FGroupes.size(); ++i) {
    const QString folder = DossierOrientation(FGroupes[i]);
    if (orientation.isEmpty() || !QFileInfo(folder).isDir() || !QDir(folder).isReadable()) continue;
    auto* group = new QTreeWidgetItem(tvTemplates, {FGroupes[i]});
    group->setData(0, Qt::UserRole, 2 + i);
    group->setIcon(0, FIcons[2]);
    ListFolder(folder, [&](const QString& name, const QFileInfo& info) {
      if (!info.isFile()) return;
      auto* node = new QTreeWidgetItem(group, {name});
      node->setData(0, Qt::UserRole, 1);
      node->setIcon(0, FIcons[1]);
    });
  }
  if (QTreeWidgetItem* first = tvTemplates->topLevelItem(0)) first->setExpanded(true);
}

void TFicheImpression::MasquerObjet(const QString& name) {
  if (frxReport.ObjectCount() == 0) return;
  if (report::TfrxComponent* o = frxReport.FindObject(name)) o->Visible = false;
}

void TFicheImpression::tvTemplatesClick() {
  const bool hadFocus = tvTemplates->hasFocus();
  frxPreviewTemplate->Clear();
  QTreeWidgetItem* node = tvTemplates->currentItem();
  const QString fichier = node ? node->text(0) : QString();
  if (!fichier.isEmpty() && node->parent()) {
    const QString folder = DossierOrientation(node->parent()->text(0));
    if (QFileInfo(folder).isDir()) {
      tvTemplates->setEnabled(false);
      try {
        ChargementTemplate(JoinPath(folder, fichier));
        if (!chkCroquis->isChecked()) MasquerObjet(kImageCroquis);
        if (!chkUw->isChecked()) MasquerObjet(kMemUw);
        frxReport.PrepareReport(true);
      } catch (const std::exception& e) {
        tvTemplates->setEnabled(true);
        ui::ShowMessage(ExceptionMessage(e), this);
      }
    }
  }
  tvTemplates->setEnabled(true);
  if (hadFocus) tvTemplates->setFocus();
}

void TFicheImpression::cbbTitreChange() {
  Action([this] {
    LectureTemplates();
    if (!chkCroquis->isChecked()) MasquerObjet(kImageCroquis);
    if (!chkUw->isChecked()) MasquerObjet(kMemUw);
    frxReport.SetPreview(nullptr);
    frxReport.PreviewOptions.Zoom = 1.0;
    frxReport.SetPreview(frxPreviewTemplate);
    frxReport.ShowPreparedReport();
  });
  btnApercu->setFocus();
}

void TFicheImpression::cbbOrientationChange() { cbbTitreChange(); }

void TFicheImpression::btnApercuClick() {
  Action([this] {
    setEnabled(false);
    frxReport.SetPreview(nullptr);
    try {
      frxReport.PrepareReport(true);
      frxReport.ShowPreparedReport();
    } catch (...) {
      frxReport.SetPreview(frxPreviewTemplate);
      throw;
    }
    frxReport.SetPreview(frxPreviewTemplate);
  });
}

void TFicheImpression::FormMouseWheelDown(Qt::KeyboardModifiers shift, const QPoint& position) {
  frxPreviewTemplate->MouseWheelScroll(-20, shift, position);
}

void TFicheImpression::FormMouseWheelUp(Qt::KeyboardModifiers shift, const QPoint& position) {
  frxPreviewTemplate->MouseWheelScroll(20, shift, position);
}

bool TFicheImpression::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::Wheel && watched->isWidgetType()) {
    auto* w = static_cast<QWidget*>(watched);
    auto* wheel = static_cast<QWheelEvent*>(e);
    const int dy = wheel->angleDelta().y();
    if (dy != 0 && isEnabled() && (w == this || isAncestorOf(w))) {
      if (dy < 0)
        FormMouseWheelDown(wheel->modifiers(), wheel->globalPosition().toPoint());
      else
        FormMouseWheelUp(wheel->modifiers(), wheel->globalPosition().toPoint());
      return true;
    }
  } else if (watched == tvTemplates && e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
      tvTemplatesClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, e);
}

// ---------------------------------------------------------------- display options

void TFicheImpression::PositionConfiguration(const QString& field, bool value) {
  TMemTable& c = FTables.Config;
  if (!c.Active() || c.IsEmpty()) return;  // no record outside document mode
  c.First();
  c.Edit();
  c.FieldByName(field).SetAsBoolean(value);
  c.Post();
}

void TFicheImpression::chkCroquisClick() {
  Action([this] {
    if (frxReport.ObjectCount() == 0) return;
    report::TfrxComponent* o = frxReport.FindObject(kImageCroquis);
    if (!o) return;
    o->Visible = chkCroquis->isChecked();
    PositionConfiguration(QStringLiteral("Croquis"), chkCroquis->isChecked());
    setEnabled(false);
    frxReport.PrepareReport(true);
  });
}

void TFicheImpression::chkUwClick() {
  Action([this] {
    if (frxReport.ObjectCount() == 0) return;
    report::TfrxComponent* o = frxReport.FindObject(kMemUw);
    if (!o) return;
    o->Visible = chkUw->isChecked();
    setEnabled(false);
    frxReport.PrepareReport(true);
  });
}

void TFicheImpression::chkFournisseursClick() { OptionConfiguration(QStringLiteral("Fournisseurs"), chkFournisseurs); }

void TFicheImpression::chkDimensionsClick() { OptionConfiguration(QStringLiteral("Dimensions"), chkDimensions); }

void TFicheImpression::OptionConfiguration(const QString& field, const QCheckBox* box) {
  Action([this, field, box] {
    if (frxReport.ObjectCount() == 0) return;
    PositionConfiguration(field, box->isChecked());
    setEnabled(false);
    frxReport.PrepareReport(true);
  });
}

void TFicheImpression::AppliquerAffichage() {
  if (chkCroquis->isChecked())
    frxReport.ShowPreparedReport();
  else
    MasquerObjet(kImageCroquis);
  if (chkUw->isChecked())
    frxReport.ShowPreparedReport();
  else
    MasquerObjet(kMemUw);
  frxReport.PrepareReport(true);
}

// ---------------------------------------------------------------- printing

void TFicheImpression::cbbImprimanteChange() {
  const QString name = cbbImprimante->currentText();
  if (!name.isEmpty()) frxReport.PrintOptions.Printer = name;
}

QString TFicheImpression::CheminDescriptif(const QString& entry) const {
  if (QFileInfo(entry).isAbsolute()) return entry;
  return QDir(QFileInfo(FFichierXml).absolutePath()).filePath(entry);
}

void TFicheImpression::btnImprimerClick() {
  const QString imprimante = cbbImprimante->currentText();
  if (imprimante.isEmpty()) {
    ui::ShowMessage(QStringLiteral("Veuillez choisir une imprimante."), this);
    return;
  }
  Action([this, &imprimante] {
    setEnabled(false);
    QStringList fichiers;
    for (const QString& d : FDescriptifsTechniques)
      if (!d.trimmed().isEmpty()) fichiers.append(CheminDescriptif(d));
    if (!fichiers.isEmpty() && ui::AskYesNo(QStringLiteral("Voulez-vous imprimer les descriptifs techniques ?"), this)) {
      for (const QString& f : fichiers) {
        if (gFileOpener)
          gFileOpener(f);
        else
          QDesktopServices::openUrl(QUrl::fromLocalFile(f));
      }
    }
    // The queue named in the list, or nowhere: a queue that vanished since
    // the set-up must not send the document to the default printer.
    const QPrinterInfo queue = QPrinterInfo::printerInfo(imprimante);
    if (queue.isNull())
      throw EDataError(
          QStringLiteral("L'imprimante « %1 » n'est plus disponible. Le document n'a pas été imprimé.").arg(imprimante));
    frxReport.PrintOptions.Printer = imprimante;
    QPrinter printer(queue, QPrinter::HighResolution);
    if (!frxReport.PrintTo(printer)) throw EDataError(QStringLiteral("Le document n'a aucune page à imprimer."));
  });
}

// ---------------------------------------------------------------- the other buttons

void TFicheImpression::btnConfigClick() {
  {
    TFicheConfigPrint config(this, FDocumentsRoot, QString(), FDocumentType);
    config.SetAgence(FAgence);
    config.SetFichierBDD(FFichierBDD);
    config.SetUtilisateur(FUtilisateur);
    config.exec();
  }
  Action([this] {
    setEnabled(false);
    LectureParametres();
    AppliquerAffichage();
    LectureTemplates();
  });
}

void TFicheImpression::btnExporterClick() {
  Action([this] { ExportationInteractive(this, frxReport, frxPDFExport, frxCSVExport); });
}

void TFicheImpression::btnMailClick() {
  Action([this] {
    TEnvoiMailContexte c;
    c.Fenetre = this;
    c.Report = &frxReport;
    c.PdfExport = &frxPDFExport;
    c.Titre = cbbTitre->currentText();
    c.ClientMail = FClientMail;
    c.Agence = FAgence;
    c.Utilisateur = FUtilisateur;
    c.FichierBDD = FFichierBDD;
    c.PiecesJointes = LPiecesJointes;
    c.Rafraichir = [this] {
      AppliquerAffichage();
      LectureTemplates();
    };
    EnvoiMailDocument(c);
  });
}

void TFicheImpression::btnQuitterClick() { close(); }

// ---------------------------------------------------------------- closing

void TFicheImpression::FormCloseQuery() {
  if (FModeImpression != kModeDocument && FModeImpression != kModeRapport) return;
  try {
    TDataModuleSdb& store = Store();
    const std::string agence = Std(FAgence), utilisateur = Std(FUtilisateur), section = Std(FDocumentType);
    OuvertureParametres(store, FFichierBDD);
    try {
      if (cbbImprimante->currentIndex() >= 0 && !cbbImprimante->currentText().isEmpty())
        store.EcritureChaine(agence, utilisateur, Std(kSectionImpression), "DerniereImprimante",
                             Std(cbbImprimante->currentText()));
      if (FModeImpression == kModeDocument) {
        if (cbbTitre->currentIndex() >= 0)
          store.EcritureChaine(agence, utilisateur, section, "DernierTitre", Std(cbbTitre->currentText()));
        store.EcritureChaine(agence, utilisateur, section, "DernierTemplate", Std(frxReport.FileName()));
      }
    } catch (...) {
      try {
        store.FermetureBDD();
      } catch (...) {
      }
      throw;
    }
    store.FermetureBDD();
  } catch (const std::exception& e) {
    ui::ShowMessage(QStringLiteral("TFicheImpression::FormCloseQuery : ") + ExceptionMessage(e), this);
  }
}

bool TFicheImpression::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QDialog::event(e);
}

void TFicheImpression::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // Some platforms (and no window manager at all) never activate a window;
  // being shown counts as the first activation, once the window is drawn.
  QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TFicheImpression::closeEvent(QCloseEvent* e) {
  const bool nested = FClosingQueried;
  if (!nested) {
    FClosingQueried = true;
    FormCloseQuery();
  }
  QDialog::closeEvent(e);  // runs reject(), which must not ask again
  if (!nested) FClosingQueried = false;
}

void TFicheImpression::keyPressEvent(QKeyEvent* e) {
  // The job's main window: Escape does not end it (Quitter or the window's
  // close box do), as a stray Escape meant for a list would.
  if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

void TFicheImpression::reject() {
  // Any other way of closing remembers the choices as closing does.
  if (!FClosingQueried) {
    FClosingQueried = true;
    FormCloseQuery();
    QDialog::reject();
    FClosingQueried = false;
    return;
  }
  QDialog::reject();
}

}  // namespace tessaly
