// The template library and print configuration window ("Configuration du
// Tessaly"), opened modally by the print manager's "Configuration" button.
//
// Right half: the tree of the document templates of one document type and
// orientation (title, group, template file) with its context menu: create a
// template from a copy or from scratch in the report designer, modify,
// rename, delete, add to or remove from the favourites. Left half: the
// print configuration of the document type (orientation, logo, terms of
// sale, questionnaire, footers, line start and end texts), stored in the
// settings database.
#pragma once

#include <QDialog>
#include <QImage>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

#include "FicheSetFileName.h"
#include "Report.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTreeWidget;
class QTreeWidgetItem;

namespace tessaly {

class TDataModuleSdb;

// The logo preview: the picture centred and scaled proportionally to fit.
class TLogoPreview : public QWidget {
  Q_OBJECT
 public:
  explicit TLogoPreview(QWidget* parent = nullptr);
  void SetImage(const QImage& image);
  const QImage& Image() const { return FImage; }
  QSize sizeHint() const override { return QSize(200, 120); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage FImage;
};

class TFicheConfigPrint : public QDialog {
  Q_OBJECT
 public:
  // The fixed group list, in its order, and the orientation list.
  static const QStringList kGroupes;       // "Favoris", "Corvanel", "Utilisateur"
  static const QStringList kOrientations;  // "Portrait", "Paysage"
  // Image index of a tree node, kept as the item's data under this role.
  static constexpr int kImageRole = Qt::UserRole + 1;

  // `documentsRoot`: the print manager's Documents root; `documentType`:
  // its document type, selected in the type list when present.
  TFicheConfigPrint(QWidget* owner, const QString& documentsRoot, const QString& unused,
                    const QString& documentType);

  void SetAgence(const QString& agence) { FAgence = agence; }
  void SetUtilisateur(const QString& utilisateur) { FUtilisateur = utilisateur; }
  void SetFichierBDD(const QString& path) { FFichierBDD = path; }
  const QString& Agence() const { return FAgence; }
  const QString& Utilisateur() const { return FUtilisateur; }
  const QString& FichierBDD() const { return FFichierBDD; }
  const QString& DocumentsRoot() const { return FDocumentsRoot; }

  // Rebuilds the tree from the folders for the current type and orientation.
  void LectureTemplates();
  // Loads the fields of the current document type from the settings store;
  // false when some value could not be read (reported once).
  bool LectureBDD();
  // Saves the fields of the current document type; false when it failed
  // (reported).
  bool EcritureBDD();

  // Menu and actions on the selected node.
  void tvTemplatesContextMenu(QTreeWidgetItem* node, const QPoint& globalPos);
  void PreparerMenu(QTreeWidgetItem* node);
  void pop_createClick();
  void pop_updateClick();
  void pop_renameClick();
  void pop_deleteClick();
  void pop_addFavorisClick();
  void btnOuvrirLogoClick();
  void btnSauvegarderClick() { EcritureBDD(); }

  report::TfrxReport& frxReportCreate() { return FReportCreate; }
  QComboBox* cbbTitre() const { return FTitre; }
  QComboBox* cbbOrientation() const { return FOrientation; }
  QTreeWidget* tvTemplates() const { return FTree; }
  QMenu* popmOptionsTv() const { return FMenu; }
  QAction* pop_create() const { return FCreate; }
  QAction* pop_update() const { return FUpdate; }
  QAction* pop_rename() const { return FRename; }
  QAction* pop_delete() const { return FDelete; }
  QAction* pop_addFavoris() const { return FAddFavoris; }
  QScrollArea* scrollBox() const { return FScrollBox; }
  QLineEdit* edtRepertoireLogo() const { return FLogo; }
  TLogoPreview* imgLogo() const { return FImgLogo; }
  QPlainTextEdit* memoCGV() const { return FCGV; }
  QPlainTextEdit* memoQCM() const { return FQCM; }
  QLineEdit* edtPiedDePage1() const { return FPied1; }
  QPlainTextEdit* memoPiedDePage2() const { return FPied2; }
  QLineEdit* edtDebutDeLigne() const { return FDebut; }
  QLineEdit* edtFinDeLigne() const { return FFin; }

  void done(int r) override;

  // Replaces the modal report designer when set (tests): called with the
  // working report, it answers as the designer's OK or Cancel would.
  static std::function<bool(report::TfrxReport&)> DesignerHook;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The five texts that identify a template node.
  struct TSelection {
    QString Titre, Groupe, Nom;
  };
  bool SelectionTemplate(TSelection& s) const;
  QString DossierSelection(const TSelection& s) const;
  QString Chemin(const QStringList& parts) const;
  bool Designer();
  // Loads a template into the working report; a file that is not a
  // template is reported and leaves the report empty.
  void ChargerTemplate(const QString& path);
  // Asks for a name; false when the dialog was closed without validation.
  bool DemanderNom(TFicheSetFileName& dialog, QString& name);
  void cbbTitreChange();
  void cbbOrientationChange();
  void ViderChamps();
  void ChargerLogo(const QString& path);
  // The text a key stores for the current contents of its control.
  QString ValeurAStocker(const QString& key) const;
  void AfficherErreur(const QString& prefix, const std::exception& e);

  QString FAgence, FUtilisateur, FFichierBDD, FDocumentsRoot;
  report::TfrxReport FReportCreate;
  bool FChargee = false;
  // The last input on a combo box was a key (not a mouse click).
  bool FChoixClavier = false;
  // Keys whose reading failed, and the stored form of what each key's
  // control showed after the last load: a key that could not be read is
  // written back only once the user has changed its field.
  QSet<QString> FClesNonLues;
  QMap<QString, QString> FValeursChargees;

  QComboBox* FTitre;
  QComboBox* FOrientation;
  QTreeWidget* FTree;
  QMenu* FMenu;
  QAction *FCreate, *FUpdate, *FRename, *FDelete, *FAddFavoris;
  QScrollArea* FScrollBox;
  QLineEdit* FLogo;
  QPushButton* FOuvrirLogo;
  TLogoPreview* FImgLogo;
  QPlainTextEdit *FCGV, *FQCM, *FPied2;
  QLineEdit *FPied1, *FDebut, *FFin;
  QPushButton* FSauvegarder;
  QPushButton* FFermer;
};

}  // namespace tessaly
