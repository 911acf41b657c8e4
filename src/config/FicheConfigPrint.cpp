#include "FicheConfigPrint.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <stdexcept>

#include "FicheSetFileName.h"
#include "settings/DataModuleSdb.h"
#include "settings/SettingsText.h"
#include "ui/Accessible.h"
#include "ui/Dialogs.h"

namespace tessaly {

const QStringList TFicheConfigPrint::kGroupes = {QStringLiteral("Favoris"), QStringLiteral("Corvanel"),
                                                 QStringLiteral("Utilisateur")};
const QStringList TFicheConfigPrint::kOrientations = {QStringLiteral("Portrait"), QStringLiteral("Paysage")};

std::function<bool(report::TfrxReport&)> TFicheConfigPrint::DesignerHook;

namespace {

const QString kMessageDossierAbsent = QStringLiteral("Erreur : répertoire des templates non trouvé");
const QString kNommer = QStringLiteral("Nommer le fichier : ");
const QString kCreation = QStringLiteral("Création d'un nouveau template");
const QString kExistant = QStringLiteral("ERREUR : fichier déjà existant");

// The keys of the print configuration of a document type, in the order
// they are written; the multi-line ones keep their line breaks as "%".
const QStringList kCles = {QStringLiteral("Orientation"), QStringLiteral("Logo"),        QStringLiteral("CGV"),
                           QStringLiteral("QCM"),         QStringLiteral("PiedDePage1"), QStringLiteral("PiedDePage2"),
                           QStringLiteral("DebutLigne"),  QStringLiteral("FinLigne")};

// Wheel steps of the configuration panel, in scroll units.
constexpr int kPasMolette = 10;

std::string Std(const QString& s) { return s.toStdString(); }
QString Texte(const std::exception& e) { return QString::fromStdString(e.what()); }

QString Encode(const QString& text) { return QString::fromStdString(EncodeSettingsLineBreaks(Std(text))); }
// Text boxes break lines with a bare line feed.
QString DecodePourMemo(const QString& stored) {
  return QString::fromStdString(DecodeSettingsLineBreaks(Std(stored))).replace(QLatin1String("\r\n"),
                                                                                QLatin1String("\n"));
}

QString Joindre(const QString& folder, const QString& name) {
  if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator()))
    return folder + name;
  return folder + QDir::separator() + name;
}

// Entries of a folder in name order, hidden ones left out.
QStringList Listing(const QString& folder, QDir::Filters filters) {
  return QDir(folder).entryList(filters | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
}

// Copies a file; the target is replaced only once the copy is complete.
void CopierFichier(const QString& source, const QString& target) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly))
    throw std::runtime_error(
        Std(QStringLiteral("Le fichier « %1 » ne peut pas être lu : %2").arg(source, in.errorString())));
  QSaveFile out(target);
  if (!out.open(QIODevice::WriteOnly) || out.write(in.readAll()) < 0 || !out.commit())
    throw std::runtime_error(
        Std(QStringLiteral("Le fichier « %1 » ne peut pas être écrit : %2").arg(target, out.errorString())));
}

void SupprimerFichier(const QString& path) {
  QFile f(path);
  if (!f.exists()) return;
  if (!f.remove())
    throw std::runtime_error(
        Std(QStringLiteral("Le fichier « %1 » ne peut pas être supprimé : %2").arg(path, f.errorString())));
}

// Titles and templates share image 1; a title still shows as a folder.
QStyle::StandardPixmap IconeImage(int image, bool title) {
  switch (image) {
    case 2: return QStyle::SP_DialogApplyButton;  // Favoris
    case 3: return QStyle::SP_DriveHDIcon;        // Corvanel
    case 4: return QStyle::SP_DirHomeIcon;        // Utilisateur
    default: return title ? QStyle::SP_DirIcon : QStyle::SP_FileIcon;
  }
}

}  // namespace

// ------------------------------------------------------------ logo preview

TLogoPreview::TLogoPreview(QWidget* parent) : QWidget(parent) { setMinimumHeight(80); }

void TLogoPreview::SetImage(const QImage& image) {
  FImage = image;
  update();
}

void TLogoPreview::paintEvent(QPaintEvent*) {
  if (FImage.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  QSize s = FImage.size().scaled(contentsRect().size(), Qt::KeepAspectRatio);
  QRect r(QPoint(0, 0), s);
  r.moveCenter(contentsRect().center());
  p.drawImage(r, FImage);
}

// ------------------------------------------------------------ construction

TFicheConfigPrint::TFicheConfigPrint(QWidget* owner, const QString& documentsRoot, const QString&,
                                     const QString& documentType)
    : QDialog(owner), FDocumentsRoot(documentsRoot) {
  setObjectName(QStringLiteral("FicheConfigPrint"));
  setWindowTitle(QStringLiteral("Configuration du Tessaly"));
  FReportCreate.SetDesignerOptions(report::TfrxDesignerOptions{});

  auto* main = new QVBoxLayout(this);

  // Document type and orientation, shared by both halves.
  auto* top = new QHBoxLayout;
  auto* lblTitre = new QLabel(QStringLiteral("Titre"), this);
  lblTitre->setObjectName(QStringLiteral("lblTitre"));
  FTitre = new QComboBox(this);
  FTitre->setObjectName(QStringLiteral("cbbTitre"));
  FTitre->setAccessibleName(QStringLiteral("Titre"));
  FTitre->setMinimumWidth(200);
  lblTitre->setBuddy(FTitre);
  auto* lblOrientation = new QLabel(QStringLiteral("Mise en page :"), this);
  lblOrientation->setObjectName(QStringLiteral("lblOrientation"));
  FOrientation = new QComboBox(this);
  FOrientation->setObjectName(QStringLiteral("cbbOrientation"));
  FOrientation->setAccessibleName(ui::NomAccessible(lblOrientation->text()));
  lblOrientation->setBuddy(FOrientation);
  top->addWidget(lblTitre);
  top->addWidget(FTitre);
  top->addSpacing(16);
  top->addWidget(lblOrientation);
  top->addWidget(FOrientation);
  top->addStretch(1);
  main->addLayout(top);

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  main->addWidget(splitter, 1);

  // Left half: the print configuration of the type, in a scrolling panel.
  auto* left = new QWidget(splitter);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  FScrollBox = new QScrollArea(left);
  FScrollBox->setObjectName(QStringLiteral("scrollBox"));
  FScrollBox->setAccessibleName(QStringLiteral("Paramètres d'impression"));
  FScrollBox->setWidgetResizable(true);
  FScrollBox->setFocusPolicy(Qt::StrongFocus);
  auto* panel = new QWidget;
  auto* panelLayout = new QVBoxLayout(panel);

  auto groupe = [&](const QString& title) {
    auto* g = new QGroupBox(title, panel);
    g->setObjectName(QStringLiteral("gp") + title);
    panelLayout->addWidget(g);
    auto* form = new QFormLayout(g);
    return std::make_pair(g, form);
  };
  auto libelle = [&](QGroupBox* g, const QString& caption, QWidget* field, const QString& name) {
    auto* l = new QLabel(caption, g);
    l->setObjectName(name);
    l->setBuddy(field);
    field->setAccessibleName(g->title() + QStringLiteral(" - ") + ui::NomAccessible(caption));
    return l;
  };
  auto memo = [&](QGroupBox* g, const QString& name) {
    auto* m = new QPlainTextEdit(g);
    m->setObjectName(name);
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m->setTabChangesFocus(true);
    m->setMinimumHeight(90);
    return m;
  };

  {
    auto [g, form] = groupe(QStringLiteral("Logo"));
    auto* row = new QHBoxLayout;
    FLogo = new QLineEdit(g);
    FLogo->setObjectName(QStringLiteral("edtRepertoireLogo"));
    FOuvrirLogo = new QPushButton(QStringLiteral("Ouvrir..."), g);
    FOuvrirLogo->setObjectName(QStringLiteral("btnOuvrirLogo"));
    FOuvrirLogo->setAccessibleName(QStringLiteral("Ouvrir le logo"));
    row->addWidget(FLogo, 1);
    row->addWidget(FOuvrirLogo);
    form->addRow(libelle(g, QStringLiteral("Chemin :"), FLogo, QStringLiteral("lblRepertoireLogo")), row);
    FImgLogo = new TLogoPreview(g);
    FImgLogo->setObjectName(QStringLiteral("imgLogo"));
    FImgLogo->setAccessibleName(QStringLiteral("Aperçu du logo"));
    form->addRow(FImgLogo);
  }
  {
    auto [g, form] = groupe(QStringLiteral("CGV"));
    FCGV = memo(g, QStringLiteral("memoCGV"));
    form->addRow(libelle(g, QStringLiteral("Texte : "), FCGV, QStringLiteral("lblCGV")), FCGV);
  }
  {
    auto [g, form] = groupe(QStringLiteral("QCM"));
    FQCM = memo(g, QStringLiteral("memoQCM"));
    form->addRow(libelle(g, QStringLiteral("Texte : "), FQCM, QStringLiteral("lblQCM")), FQCM);
  }
  {
    auto [g, form] = groupe(QStringLiteral("Pied"));
    FPied1 = new QLineEdit(g);
    FPied1->setObjectName(QStringLiteral("edtPiedDePage1"));
    form->addRow(libelle(g, QStringLiteral("Pied de page 1 : "), FPied1, QStringLiteral("lblPiedDePage1")), FPied1);
    FPied2 = memo(g, QStringLiteral("memoPiedDePage2"));
    form->addRow(libelle(g, QStringLiteral("Pied de page 2 : "), FPied2, QStringLiteral("lblPiedDePage2")), FPied2);
  }
  {
    auto [g, form] = groupe(QStringLiteral("Lignes"));
    FDebut = new QLineEdit(g);
    FDebut->setObjectName(QStringLiteral("edtDebutDeLigne"));
    form->addRow(libelle(g, QStringLiteral("Début :"), FDebut, QStringLiteral("lblDebutDeLigne")), FDebut);
    FFin = new QLineEdit(g);
    FFin->setObjectName(QStringLiteral("edtFinDeLigne"));
    form->addRow(libelle(g, QStringLiteral("Fin :"), FFin, QStringLiteral("lblFinDeLigne")), FFin);
  }
  panelLayout->addStretch(1);
  FScrollBox->setWidget(panel);
  leftLayout->addWidget(FScrollBox, 1);
  FSauvegarder = new QPushButton(QStringLiteral("Sauvegarder les paramètres "), left);
  FSauvegarder->setObjectName(QStringLiteral("btnSauvegarder"));
  FSauvegarder->setAccessibleName(ui::NomAccessible(FSauvegarder->text()));
  leftLayout->addWidget(FSauvegarder);

  // Right half: the template tree and its context menu.
  FTree = new QTreeWidget(splitter);
  FTree->setObjectName(QStringLiteral("tvTemplates"));
  FTree->setAccessibleName(QStringLiteral("Templates"));
  FTree->setHeaderHidden(true);
  FTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FTree->setSelectionMode(QAbstractItemView::SingleSelection);
  FTree->setContextMenuPolicy(Qt::DefaultContextMenu);
  FTree->installEventFilter(this);
  FTree->viewport()->installEventFilter(this);

  FMenu = new QMenu(this);
  FMenu->setObjectName(QStringLiteral("popmOptionsTv"));
  auto action = [&](const QString& name, const QString& caption) {
    QAction* a = FMenu->addAction(caption);
    a->setObjectName(name);
    return a;
  };
  FCreate = action(QStringLiteral("pop_create"), QStringLiteral("Créer"));
  FUpdate = action(QStringLiteral("pop_update"), QStringLiteral("Modifier"));
  FRename = action(QStringLiteral("pop_rename"), QStringLiteral("Renommer"));
  FDelete = action(QStringLiteral("pop_delete"), QStringLiteral("Supprimer"));
  FAddFavoris = action(QStringLiteral("pop_addFavoris"), QStringLiteral("Ajouter aux favoris"));
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  FFermer = new QPushButton(QStringLiteral("Fermer"), this);
  FFermer->setObjectName(QStringLiteral("btnFermer"));
  FFermer->setAccessibleName(FFermer->text());
  bottom->addWidget(FFermer);
  main->addLayout(bottom);

  // Keyboard order: type and orientation, the panel's fields from top to
  // bottom, the save button, the tree, then Fermer.
  QList<QWidget*> order = {FTitre, FOrientation, FScrollBox, FLogo,   FOuvrirLogo,  FCGV,   FQCM,
                           FPied1, FPied2,       FDebut,     FFin,    FSauvegarder, FTree, FFermer};
  for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

  FScrollBox->viewport()->installEventFilter(this);
  resize(1000, 680);

  // Lists of the window.
  if (!FDocumentsRoot.isEmpty()) {
    FOrientation->addItems(kOrientations);
    FOrientation->setCurrentIndex(0);
    if (QFileInfo(FDocumentsRoot).isDir())
      FTitre->addItems(Listing(FDocumentsRoot, QDir::Dirs));
    FTitre->setCurrentIndex(FTitre->findText(documentType, Qt::MatchExactly | Qt::MatchCaseSensitive));
    LectureTemplates();
  }

  connect(FTitre, &QComboBox::currentIndexChanged, this, [this] { cbbTitreChange(); });
  connect(FOrientation, &QComboBox::currentIndexChanged, this, [this] { cbbOrientationChange(); });
  // A type or orientation picked from the list hands the focus to the
  // panel, so that the wheel then scrolls the panel instead of changing the
  // choice; stepping through the list with the arrow keys keeps the focus
  // where the keyboard user is.
  for (QComboBox* combo : {FTitre, FOrientation}) {
    combo->installEventFilter(this);
    connect(combo, &QComboBox::activated, this, [this] {
      if (!FChoixClavier) FScrollBox->setFocus();
    });
  }
  connect(FTree, &QTreeWidget::itemDoubleClicked, this, [this] { pop_updateClick(); });
  connect(FCreate, &QAction::triggered, this, &TFicheConfigPrint::pop_createClick);
  connect(FUpdate, &QAction::triggered, this, &TFicheConfigPrint::pop_updateClick);
  connect(FRename, &QAction::triggered, this, &TFicheConfigPrint::pop_renameClick);
  connect(FDelete, &QAction::triggered, this, &TFicheConfigPrint::pop_deleteClick);
  connect(FAddFavoris, &QAction::triggered, this, &TFicheConfigPrint::pop_addFavorisClick);
  connect(FOuvrirLogo, &QPushButton::clicked, this, &TFicheConfigPrint::btnOuvrirLogoClick);
  connect(FSauvegarder, &QPushButton::clicked, this, &TFicheConfigPrint::btnSauvegarderClick);
  connect(FFermer, &QPushButton::clicked, this, &QDialog::close);
}

// ------------------------------------------------------------ the tree

QString TFicheConfigPrint::Chemin(const QStringList& parts) const {
  QString path = FDocumentsRoot;
  for (const QString& p : parts) path = Joindre(path, p);
  return path;
}

void TFicheConfigPrint::LectureTemplates() {
  FTree->clear();
  if (FDocumentsRoot.isEmpty()) return;
  const QString type = FTitre->currentText();
  const QString folder = Chemin({type});
  if (!QFileInfo(folder).isDir()) {
    ui::ShowMessage(kMessageDossierAbsent, this);
    return;
  }
  if (!type.isEmpty()) {
    auto noeud = [this](const QString& text, int image, bool title = false) {
      auto* item = new QTreeWidgetItem(QStringList{text});
      item->setData(0, kImageRole, image);
      item->setIcon(0, style()->standardIcon(IconeImage(image, title)));
      return item;
    };
    const QString orientation = FOrientation->currentText();
    for (const QString& titre : Listing(folder, QDir::AllEntries)) {
      QTreeWidgetItem* t = noeud(titre, 1, true);
      FTree->addTopLevelItem(t);
      for (qsizetype j = 0; j < kGroupes.size(); ++j) {
        QTreeWidgetItem* g = noeud(kGroupes[j], static_cast<int>(j) + 2);
        t->addChild(g);
        const QString f = Chemin({type, titre, kGroupes[j], orientation});
        if (!QFileInfo(f).isDir()) continue;
        for (const QString& nom : Listing(f, QDir::Files)) g->addChild(noeud(nom, 1));
      }
    }
  }
  FTree->expandAll();
  if (FTree->topLevelItemCount() > 0) FTree->setCurrentItem(FTree->topLevelItem(0));
}

bool TFicheConfigPrint::SelectionTemplate(TSelection& s) const {
  const QList<QTreeWidgetItem*> selected = FTree->selectedItems();
  if (selected.isEmpty()) return false;
  const QTreeWidgetItem* node = selected.first();
  // Only a template node qualifies: a group without templates is childless
  // too, but it names no file.
  const QTreeWidgetItem* group = node->parent();
  const QTreeWidgetItem* title = group ? group->parent() : nullptr;
  if (!title || title->parent() || node->childCount() > 0 || node->text(0).isEmpty()) return false;
  s.Titre = title->text(0);
  s.Groupe = group->text(0);
  s.Nom = node->text(0);
  return true;
}

QString TFicheConfigPrint::DossierSelection(const TSelection& s) const {
  return Chemin({FTitre->currentText(), s.Titre, s.Groupe, FOrientation->currentText()});
}

// ------------------------------------------------------------ context menu

void TFicheConfigPrint::PreparerMenu(QTreeWidgetItem* node) {
  if (node) {
    FTree->setCurrentItem(node);
  } else {
    FTree->setCurrentItem(nullptr);
    FTree->clearSelection();
  }
  for (QAction* a : {FCreate, FUpdate, FRename, FDelete, FAddFavoris}) a->setEnabled(false);
  TSelection s;
  if (!SelectionTemplate(s)) return;
  for (QAction* a : {FCreate, FUpdate, FRename, FDelete, FAddFavoris}) a->setEnabled(true);
  if (s.Groupe == kGroupes[0]) {
    FAddFavoris->setText(QStringLiteral("Retirer des favoris"));
  } else {
    if (s.Groupe == kGroupes[1])
      for (QAction* a : {FDelete, FRename, FUpdate}) a->setEnabled(false);
    FAddFavoris->setText(QStringLiteral("Ajouter aux favoris"));
  }
}

void TFicheConfigPrint::tvTemplatesContextMenu(QTreeWidgetItem* node, const QPoint& globalPos) {
  PreparerMenu(node);
  // Shown also when every item is disabled; popup() returns at once and the
  // chosen item runs its handler.
  FMenu->popup(globalPos);
  if (!FMenu->actions().isEmpty()) FMenu->setActiveAction(FMenu->actions().first());
}

bool TFicheConfigPrint::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FTree || watched == FTree->viewport()) {
    if (event->type() == QEvent::ContextMenu) {
      auto* ce = static_cast<QContextMenuEvent*>(event);
      if (ce->reason() == QContextMenuEvent::Mouse) {
        tvTemplatesContextMenu(FTree->itemAt(FTree->viewport()->mapFromGlobal(ce->globalPos())), ce->globalPos());
        return true;
      }
    }
    const bool keyboard =
        event->type() == QEvent::ContextMenu ||
        (event->type() == QEvent::KeyPress &&
         (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Menu ||
          (static_cast<QKeyEvent*>(event)->key() == Qt::Key_F10 &&
           static_cast<QKeyEvent*>(event)->modifiers().testFlag(Qt::ShiftModifier))));
    if (keyboard) {
      // From the keyboard the menu works on the selected node and opens
      // beside it.
      const QList<QTreeWidgetItem*> selected = FTree->selectedItems();
      QTreeWidgetItem* node = selected.isEmpty() ? nullptr : selected.first();
      QPoint at = node ? FTree->viewport()->mapToGlobal(FTree->visualItemRect(node).bottomLeft())
                       : FTree->viewport()->mapToGlobal(QPoint(0, 0));
      tvTemplatesContextMenu(node, at);
      return true;
    }
  }
  if (watched == FTitre || watched == FOrientation) {
    if (event->type() == QEvent::KeyPress) FChoixClavier = true;
    if (event->type() == QEvent::MouseButtonPress) FChoixClavier = false;
    // A wheel turned while passing over a list it does not belong to must
    // not change the type (which reloads the fields and drops the edits).
    if (event->type() == QEvent::Wheel && !static_cast<QWidget*>(watched)->hasFocus()) return true;
  }
  if (watched == FScrollBox->viewport() && event->type() == QEvent::Wheel) {
    const int dy = static_cast<QWheelEvent*>(event)->angleDelta().y();
    if (dy != 0) {
      QScrollBar* bar = FScrollBox->verticalScrollBar();
      bar->setValue(bar->value() + (dy < 0 ? kPasMolette : -kPasMolette));
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TFicheConfigPrint::keyPressEvent(QKeyEvent* event) {
  // The window has no default button: Enter typed in a field would press
  // the first button of the window ("Ouvrir..." of the logo). A focused
  // button takes Enter itself before it gets here.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

// ------------------------------------------------------------ the actions

bool TFicheConfigPrint::Designer() {
  if (DesignerHook) return DesignerHook(FReportCreate);
  return FReportCreate.DesignReport(true, false, this);
}

void TFicheConfigPrint::ChargerTemplate(const QString& path) {
  try {
    FReportCreate.LoadFromFile(path);
  } catch (const report::EReportError& e) {
    // The designer then opens on an empty report.
    FReportCreate.Clear();
    ui::ShowMessage(e.Message(), this);
  }
}

bool TFicheConfigPrint::DemanderNom(TFicheSetFileName& dialog, QString& name) {
  dialog.Executer();
  return dialog.GetNomFichier(name);
}

namespace {
// Writes the working report into `folder` (created when missing, so a
// design is never lost for want of a folder).
void Enregistrer(report::TfrxReport& report, const QString& folder, const QString& name) {
  if (!QDir().mkpath(folder))
    throw std::runtime_error(Std(QStringLiteral("Le dossier « %1 » ne peut pas être créé.").arg(folder)));
  report.SaveToFile(Joindre(folder, name));
}
}  // namespace

void TFicheConfigPrint::pop_createClick() {
  TSelection s;
  if (!SelectionTemplate(s)) return;
  FReportCreate.Clear();
  try {
    const QString dossier = DossierSelection(s);
    QString nom;
    if (ui::AskYesNo(QStringLiteral("Créer un template basé sur le template sélectionné ?"), this)) {
      const QString source = Joindre(dossier, s.Nom);
      if (QFileInfo(source).isFile()) ChargerTemplate(source);
      TFicheSetFileName dialog(this, kCreation, kNommer, s.Nom + QStringLiteral("-copie"));
      if (!DemanderNom(dialog, nom)) return;
      while (QFileInfo::exists(Joindre(dossier, nom))) {
        dialog.setWindowTitle(kExistant);
        if (!DemanderNom(dialog, nom)) return;
      }
    } else {
      TFicheSetFileName dialog(this, kCreation, kNommer, QStringLiteral("new template"));
      if (!DemanderNom(dialog, nom)) return;
    }
    Designer();
    // New templates always go to the user's group, in the folder of the
    // orientation of their first page.
    const report::TfrxReportPage* page = FReportCreate.GetPages(1);
    const QString orientation =
        page && page->Orientation == report::TfrxOrientation::Landscape ? kOrientations[1] : kOrientations[0];
    const QString cible = Chemin({FTitre->currentText(), s.Titre, kGroupes[2], orientation});
    if (!ui::AskYesNo(QStringLiteral("Sauvegarder le template ?"), this)) return;
    while (QFileInfo::exists(Joindre(cible, nom))) {
      TFicheSetFileName dialog(this, kExistant, kNommer, nom + QStringLiteral("-copie"));
      if (!DemanderNom(dialog, nom)) return;
    }
    Enregistrer(FReportCreate, cible, nom);
    LectureTemplates();
  } catch (const std::exception& e) {
    ui::ShowMessage(Texte(e), this);
  }
}

void TFicheConfigPrint::pop_updateClick() {
  TSelection s;
  if (!SelectionTemplate(s) || s.Groupe == kGroupes[1]) return;
  FReportCreate.Clear();
  try {
    const QString dossier = DossierSelection(s);
    ChargerTemplate(Joindre(dossier, s.Nom));
    Designer();
    if (ui::AskYesNo(QStringLiteral("Sauvegarder les modifications ?"), this))
      Enregistrer(FReportCreate, dossier, s.Nom);
    LectureTemplates();
  } catch (const std::exception& e) {
    ui::ShowMessage(Texte(e), this);
  }
}

void TFicheConfigPrint::pop_renameClick() {
  TSelection s;
  if (!SelectionTemplate(s) || s.Groupe == kGroupes[1]) return;
  FReportCreate.Clear();
  const QString dossier = DossierSelection(s);
  const QString chemin = Joindre(dossier, s.Nom);
  if (!QFileInfo(chemin).isFile()) return;
  TFicheSetFileName dialog(this, QStringLiteral("Renommer le fichier"), kNommer, s.Nom);
  QString nom;
  if (DemanderNom(dialog, nom)) {
    // Keeping the old name collides too: the dialog comes back until the
    // name changes or it is closed.
    while (QFileInfo::exists(Joindre(dossier, nom))) {
      dialog.setWindowTitle(kExistant);
      if (!DemanderNom(dialog, nom)) return;
    }
    if (ui::AskYesNo(QStringLiteral("Renommer le fichier ?"), this)) {
      QFile f(chemin);
      if (!f.rename(Joindre(dossier, nom)))
        ui::ShowMessage(QStringLiteral("Le fichier « %1 » ne peut pas être renommé en « %2 » : %3")
                            .arg(chemin, nom, f.errorString()),
                        this);
    }
  }
  LectureTemplates();
}

void TFicheConfigPrint::pop_deleteClick() {
  TSelection s;
  if (!SelectionTemplate(s) || s.Groupe == kGroupes[1]) return;
  FReportCreate.Clear();
  if (!ui::AskYesNo(QStringLiteral("Supprimer le template ?"), this)) return;
  try {
    SupprimerFichier(Joindre(DossierSelection(s), s.Nom));
  } catch (const std::exception& e) {
    ui::ShowMessage(Texte(e), this);
  }
  LectureTemplates();
}

void TFicheConfigPrint::pop_addFavorisClick() {
  TSelection s;
  if (!SelectionTemplate(s)) return;
  FReportCreate.Clear();
  const QString chemin = Joindre(DossierSelection(s), s.Nom);
  try {
    if (s.Groupe != kGroupes[0])
      CopierFichier(chemin, Chemin({FTitre->currentText(), s.Titre, kGroupes[0], FOrientation->currentText(), s.Nom}));
    else
      SupprimerFichier(chemin);
  } catch (const std::exception& e) {
    ui::ShowMessage(Texte(e), this);
  }
  LectureTemplates();
}

// ------------------------------------------------------------ print configuration

void TFicheConfigPrint::cbbTitreChange() {
  // Edits of the previous type that were not saved are dropped.
  LectureBDD();
  LectureTemplates();
}

void TFicheConfigPrint::cbbOrientationChange() {
  LectureTemplates();
}

void TFicheConfigPrint::ViderChamps() {
  FLogo->clear();
  FImgLogo->SetImage(QImage());
  FCGV->clear();
  FQCM->clear();
  FPied1->clear();
  FPied2->clear();
  FDebut->clear();
  FFin->clear();
}

void TFicheConfigPrint::ChargerLogo(const QString& path) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  QImage image = reader.read();
  if (image.isNull())
    throw std::runtime_error(
        Std(QStringLiteral("L'image « %1 » ne peut pas être lue : %2").arg(path, reader.errorString())));
  FImgLogo->SetImage(image);
}

QString TFicheConfigPrint::ValeurAStocker(const QString& key) const {
  if (key == QLatin1String("Orientation")) return FOrientation->currentText();
  if (key == QLatin1String("Logo")) return FLogo->text();
  if (key == QLatin1String("CGV")) return Encode(FCGV->toPlainText());
  if (key == QLatin1String("QCM")) return Encode(FQCM->toPlainText());
  if (key == QLatin1String("PiedDePage1")) return FPied1->text();
  if (key == QLatin1String("PiedDePage2")) return Encode(FPied2->toPlainText());
  if (key == QLatin1String("DebutLigne")) return FDebut->text();
  if (key == QLatin1String("FinLigne")) return FFin->text();
  return QString();
}

bool TFicheConfigPrint::LectureBDD() {
  ViderChamps();
  FClesNonLues.clear();
  QStringList erreurs;
  const std::string agence = Std(FAgence), utilisateur = Std(FUtilisateur), section = Std(FTitre->currentText());
  TDataModuleSdb* dm = DataModuleSdb();
  bool ouverte = false;
  try {
    if (!dm) throw std::runtime_error("Aucun module de paramètres n'est disponible.");
    ouverte = dm->OuvertureBDD(Std(FFichierBDD));
    if (!ouverte)
      throw std::runtime_error(
          Std(QStringLiteral("La base de paramètres « %1 » n'a pas pu être ouverte.").arg(FFichierBDD)));
  } catch (const std::exception& e) {
    erreurs << Texte(e);
  }
  // Each key is read on its own: one that fails leaves the others loaded.
  auto lire = [&](const QString& key, QString& value) {
    if (ouverte) {
      try {
        value = QString::fromStdString(dm->LectureChaine(agence, utilisateur, section, Std(key), std::string()));
        return true;
      } catch (const std::exception& e) {
        erreurs << Texte(e);
      }
    }
    FClesNonLues << key;
    return false;
  };
  QString v;
  const int index = lire(QStringLiteral("Orientation"), v) ? FOrientation->findText(v) : -1;
  if (index >= 0)
    FOrientation->setCurrentIndex(index);
  else if (FOrientation->count() > 0)
    FOrientation->setCurrentIndex(0);
  if (lire(QStringLiteral("Logo"), v)) {
    FLogo->setText(v);
    if (QFileInfo(v).isFile()) {
      try {
        ChargerLogo(v);
      } catch (const std::exception& e) {
        erreurs << Texte(e);
      }
    }
  }
  if (lire(QStringLiteral("CGV"), v)) FCGV->setPlainText(DecodePourMemo(v));
  if (lire(QStringLiteral("QCM"), v)) FQCM->setPlainText(DecodePourMemo(v));
  if (lire(QStringLiteral("PiedDePage1"), v)) FPied1->setText(v);
  if (lire(QStringLiteral("PiedDePage2"), v)) FPied2->setPlainText(DecodePourMemo(v));
  if (lire(QStringLiteral("DebutLigne"), v)) FDebut->setText(v);
  if (lire(QStringLiteral("FinLigne"), v)) FFin->setText(v);
  if (ouverte) {
    try {
      dm->FermetureBDD();
    } catch (const std::exception& e) {
      erreurs << Texte(e);
    }
  }
  FValeursChargees.clear();
  for (const QString& key : kCles) FValeursChargees[key] = ValeurAStocker(key);
  if (erreurs.isEmpty()) return true;
  erreurs.removeDuplicates();
  ui::ShowMessage(QStringLiteral("TFicheConfigPrint::LectureBDD : ") + erreurs.join(QLatin1Char('\n')), this);
  return false;
}

bool TFicheConfigPrint::EcritureBDD() {
  // A key that could not be read is not overwritten by its cleared field;
  // what the user typed into it since is saved.
  QStringList cles;
  for (const QString& key : kCles)
    if (!FClesNonLues.contains(key) || ValeurAStocker(key) != FValeursChargees.value(key)) cles << key;
  if (cles.isEmpty()) return true;
  const std::string agence = Std(FAgence), utilisateur = Std(FUtilisateur), section = Std(FTitre->currentText());
  TDataModuleSdb* dm = DataModuleSdb();
  try {
    if (!dm) throw std::runtime_error("Aucun module de paramètres n'est disponible.");
    if (!dm->OuvertureBDD(Std(FFichierBDD)))
      throw std::runtime_error(
          Std(QStringLiteral("La base de paramètres « %1 » n'a pas pu être ouverte.").arg(FFichierBDD)));
    for (const QString& key : cles) {
      const QString value = ValeurAStocker(key);
      dm->EcritureChaine(agence, utilisateur, section, Std(key), Std(value));
      FClesNonLues.remove(key);
      FValeursChargees[key] = value;
    }
    dm->FermetureBDD();
  } catch (const std::exception& e) {
    if (dm) {
      try {
        dm->FermetureBDD();
      } catch (...) {
      }
    }
    ui::ShowMessage(QStringLiteral("TFicheConfigPrint::EcritureBDD : ") + Texte(e), this);
    return false;
  }
  return true;
}

void TFicheConfigPrint::btnOuvrirLogoClick() {
  const QString current = FLogo->text();
  const QString file = ui::Dialogs().OpenPicture(this, QStringLiteral("Logo"),
                                                 current.isEmpty() ? QString() : QFileInfo(current).absolutePath());
  if (file.isEmpty()) return;  // cancelled: nothing changes
  try {
    ChargerLogo(file);
    FLogo->setText(file);
  } catch (const std::exception& e) {
    ui::ShowMessage(QStringLiteral("TFicheConfigPrint::btnOuvrirLogoClick : ") + Texte(e), this);
  }
}

// ------------------------------------------------------------ lifecycle

void TFicheConfigPrint::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Loaded once: coming back from a question, the name dialog or the
  // designer keeps what the user typed.
  if (!FChargee) {
    FChargee = true;
    LectureBDD();
  }
}

void TFicheConfigPrint::done(int r) {
  // Every way of closing (Fermer, Escape, the close box) ends here: the
  // fields shown are stored for the type shown.
  if (FChargee && isVisible()) EcritureBDD();
  QDialog::done(r);
}

}  // namespace tessaly
