// The small dialog that asks for the file name of a template. The same
// dialog object keeps its values between showings, so a caller can change
// its caption (to report a collision) and show it again with the name the
// user typed.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tessaly {

// True for a name that designates a file inside its folder: not empty,
// not "." or "..", and without a path separator.
bool NomFichierSimple(const QString& name);

class TFicheSetFileName : public QDialog {
  Q_OBJECT
 public:
  TFicheSetFileName(QWidget* owner, const QString& caption, const QString& label, const QString& proposedName);

  // Shows the dialog modally (or hands it to ExecHook when one is set) until
  // it is validated with an acceptable name or closed.
  void Executer();
  // False when the last showing ended without validation; otherwise the
  // name entered.
  bool GetNomFichier(QString& name) const;

  bool Valide() const { return FValide; }
  const QString& NomFichier() const { return FNomFichier; }

  QLabel* lblFichier() const { return FLabel; }
  QLineEdit* edtNomFichier() const { return FEdit; }
  QPushButton* btnValider() const { return FValider; }
  QPushButton* btnFermer() const { return FFermer; }

  void reject() override;
  void done(int r) override;

  // Replaces the modal showing (tests): the dialog is shown without a modal
  // loop and the hook is called once per showing; it acts as
  // the user would, by typing into edtNomFichier and clicking btnValider or
  // btnFermer. A showing the hook leaves open counts as closed.
  static std::function<void(TFicheSetFileName&)> ExecHook;

 private:
  void btnValiderClick();

  QLabel* FLabel;
  QLineEdit* FEdit;
  QPushButton* FValider;
  QPushButton* FFermer;
  QString FNomFichier;
  bool FValide = false;
  bool FOuvert = false;
  bool FRefuse = false;
};

}  // namespace tessaly
