// Every message box, Yes/No question and file dialog of the windows goes
// through this interface, so that the logic behind a window runs without a
// screen: tests install a scripted implementation, and the unattended
// switch makes the real executable usable from scripts.
//
// Unattended switch: when the environment variable TESSALY_UNATTENDED is
// set to a non-empty value other than "0", every message is written to
// standard error (one line "tessaly: <text>", line breaks as " / ") and
// answered OK, every Yes/No question is written the same way and answered
// No (so that nothing is overwritten or deleted without a user), and every
// file dialog is answered "cancelled" (an empty path).
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <memory>

class QWidget;

namespace tessaly::ui {

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // A plain message box with one OK button.
  virtual void Message(QWidget* parent, const QString& text) = 0;
  // A Yes/No question; true only for Yes.
  virtual bool Question(QWidget* parent, const QString& text) = 0;
  // File dialogs; an empty path when the user cancels. `filter` uses the
  // Qt form "PDF (*.pdf);;All files (*)".
  virtual QString OpenFile(QWidget* parent, const QString& caption, const QString& folder,
                           const QString& filter) = 0;
  virtual QString SaveFile(QWidget* parent, const QString& caption, const QString& suggestedPath,
                           const QString& filter) = 0;
  // A picture-open dialog (with a preview where the platform offers one).
  virtual QString OpenPicture(QWidget* parent, const QString& caption, const QString& folder) = 0;
  // A masked password entry under `text`; true and `password` set only
  // when the user confirms.
  virtual bool Password(QWidget* parent, const QString& text, QString& password) = 0;
};

// The dialogs the application uses: the installed ones, or else the Qt
// dialogs (or the unattended ones when TESSALY_UNATTENDED is set).
TDialogs& Dialogs();
// Installs `dialogs` (not owned; nullptr restores the default).
void SetDialogs(TDialogs* dialogs);
bool UnattendedRequested();

// Convenience forms used by the windows.
inline void ShowMessage(const QString& text, QWidget* parent = nullptr) { Dialogs().Message(parent, text); }
inline bool AskYesNo(const QString& text, QWidget* parent = nullptr) { return Dialogs().Question(parent, text); }

class TQtDialogs : public TDialogs {
 public:
  void Message(QWidget* parent, const QString& text) override;
  bool Question(QWidget* parent, const QString& text) override;
  QString OpenFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) override;
  QString SaveFile(QWidget* parent, const QString& caption, const QString& suggestedPath,
                   const QString& filter) override;
  QString OpenPicture(QWidget* parent, const QString& caption, const QString& folder) override;
  bool Password(QWidget* parent, const QString& text, QString& password) override;
};

class TUnattendedDialogs : public TDialogs {
 public:
  void Message(QWidget* parent, const QString& text) override;
  bool Question(QWidget* parent, const QString& text) override;
  QString OpenFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) override;
  QString SaveFile(QWidget* parent, const QString& caption, const QString& suggestedPath,
                   const QString& filter) override;
  QString OpenPicture(QWidget* parent, const QString& caption, const QString& folder) override;
  bool Password(QWidget* parent, const QString& text, QString& password) override;
};

// Scripted answers for tests: questions and file dialogs take the next
// queued answer (a question with no answer left is answered No, a dialog
// with none left is cancelled); everything asked is recorded in order.
class TScriptedDialogs : public TDialogs {
 public:
  void Message(QWidget* parent, const QString& text) override;
  bool Question(QWidget* parent, const QString& text) override;
  QString OpenFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) override;
  QString SaveFile(QWidget* parent, const QString& caption, const QString& suggestedPath,
                   const QString& filter) override;
  QString OpenPicture(QWidget* parent, const QString& caption, const QString& folder) override;
  bool Password(QWidget* parent, const QString& text, QString& password) override;

  void QueueAnswer(bool yes) { FAnswers.push_back(yes); }
  void QueuePath(const QString& path) { FPaths.push_back(path); }
  // A password entry takes the next queued password (none left: cancelled).
  void QueuePassword(const QString& password) { FPasswords.push_back(password); }

  QStringList Messages;   // texts of the message boxes, in order
  QStringList Questions;  // texts of the questions, in order
  QStringList FileDialogs;  // captions of the file dialogs, in order
  QStringList PasswordPrompts;  // texts of the password entries, in order

 private:
  std::deque<bool> FAnswers;
  std::deque<QString> FPaths;
  std::deque<QString> FPasswords;
};

// Installs a dialogs object for the lifetime of the guard (tests).
class TDialogsGuard {
 public:
  explicit TDialogsGuard(TDialogs* dialogs) { SetDialogs(dialogs); }
  ~TDialogsGuard() { SetDialogs(nullptr); }
  TDialogsGuard(const TDialogsGuard&) = delete;
  TDialogsGuard& operator=(const TDialogsGuard&) = delete;
};

}  // namespace tessaly::ui
