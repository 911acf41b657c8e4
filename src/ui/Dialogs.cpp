#include "Dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <cstdio>

namespace tessaly::ui {

namespace {
TDialogs* gInstalled = nullptr;

void ToStderr(const QString& kind, const QString& text) {
  QString line = text;
  line.replace(QLatin1String("\r\n"), QLatin1String(" / "));
  line.replace('\n', QLatin1String(" / "));
  std::fprintf(stderr, "tessaly: %s%s\n", qPrintable(kind), line.toLocal8Bit().constData());
  std::fflush(stderr);
}
}  // namespace

bool UnattendedRequested() {
  QByteArray v = qgetenv("TESSALY_UNATTENDED");
  return !v.isEmpty() && v != "0";
}

TDialogs& Dialogs() {
  if (gInstalled) return *gInstalled;
  static TQtDialogs qtDialogs;
  static TUnattendedDialogs unattended;
  if (UnattendedRequested()) return unattended;
  return qtDialogs;
}

void SetDialogs(TDialogs* dialogs) { gInstalled = dialogs; }

// ------------------------------------------------------------------ Qt

void TQtDialogs::Message(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tessaly"), text, QMessageBox::Ok, parent);
  box.exec();
}

bool TQtDialogs::Question(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Tessaly"), text, QMessageBox::Yes | QMessageBox::No,
                  parent);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

QString TQtDialogs::OpenFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

QString TQtDialogs::SaveFile(QWidget* parent, const QString& caption, const QString& suggestedPath,
                             const QString& filter) {
  return QFileDialog::getSaveFileName(parent, caption, suggestedPath, filter);
}

QString TQtDialogs::OpenPicture(QWidget* parent, const QString& caption, const QString& folder) {
  return QFileDialog::getOpenFileName(
      parent, caption, folder,
      QStringLiteral("Images (*.png *.jpg *.jpeg *.bmp *.gif *.tif *.tiff *.svg);;Tous les fichiers (*)"));
}

bool TQtDialogs::Password(QWidget* parent, const QString& text, QString& password) {
  // The input dialog's label names its edit for screen readers.
  bool ok = false;
  const QString entered =
      QInputDialog::getText(parent, QStringLiteral("Tessaly"), text, QLineEdit::Password, QString(), &ok);
  if (ok) password = entered;
  return ok;
}

// ------------------------------------------------------------ unattended

void TUnattendedDialogs::Message(QWidget*, const QString& text) { ToStderr(QString(), text); }

bool TUnattendedDialogs::Question(QWidget*, const QString& text) {
  ToStderr(QStringLiteral("question answered No: "), text);
  return false;
}

QString TUnattendedDialogs::OpenFile(QWidget*, const QString& caption, const QString&, const QString&) {
  ToStderr(QStringLiteral("file dialog cancelled: "), caption);
  return QString();
}

QString TUnattendedDialogs::SaveFile(QWidget*, const QString& caption, const QString&, const QString&) {
  ToStderr(QStringLiteral("file dialog cancelled: "), caption);
  return QString();
}

QString TUnattendedDialogs::OpenPicture(QWidget*, const QString& caption, const QString&) {
  ToStderr(QStringLiteral("file dialog cancelled: "), caption);
  return QString();
}

bool TUnattendedDialogs::Password(QWidget*, const QString& text, QString&) {
  ToStderr(QStringLiteral("password entry cancelled: "), text);
  return false;
}

// -------------------------------------------------------------- scripted

void TScriptedDialogs::Message(QWidget*, const QString& text) { Messages << text; }

bool TScriptedDialogs::Question(QWidget*, const QString& text) {
  Questions << text;
  if (FAnswers.empty()) return false;
  bool a = FAnswers.front();
  FAnswers.pop_front();
  return a;
}

static QString NextPath(std::deque<QString>& paths) {
  if (paths.empty()) return QString();
  QString p = paths.front();
  paths.pop_front();
  return p;
}

QString TScriptedDialogs::OpenFile(QWidget*, const QString& caption, const QString&, const QString&) {
  FileDialogs << caption;
  return NextPath(FPaths);
}

QString TScriptedDialogs::SaveFile(QWidget*, const QString& caption, const QString&, const QString&) {
  FileDialogs << caption;
  return NextPath(FPaths);
}

QString TScriptedDialogs::OpenPicture(QWidget*, const QString& caption, const QString&) {
  FileDialogs << caption;
  return NextPath(FPaths);
}

bool TScriptedDialogs::Password(QWidget*, const QString& text, QString& password) {
  PasswordPrompts << text;
  if (FPasswords.empty()) return false;
  password = FPasswords.front();
  FPasswords.pop_front();
  return true;
}

}  // namespace tessaly::ui
