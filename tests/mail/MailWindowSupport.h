// Support of the mail window tests: a settings database of their own made
// the way an installation makes one, the process's data module over it, an
// application folder of their own, scripted dialogs, and a way to act in a
// window shown modally by the code under test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include "Installation.h"
#include "sdb/SDBComponents.h"
#include "settings/DataModuleSdb.h"
#include "ui/Dialogs.h"

namespace mailtest {

// Creates a settings database holding the table Parametres, as
// `tessaly-db settings-init` does.
inline void CreationBaseReglages(const QString& fichier) {
  sdb::TSDBDatabase db;
  db.SetDatabaseName("MailTestInit");
  db.SetDatabaseFileName(fichier.toStdString());
  db.Password = tessaly::kSettingsPassword;
  db.SetMaxConnections(1000);
  db.CreateDatabase();
  db.Open();
  for (const char* sql :
       {"CREATE TABLE Parametres ( `Agence` VARCHAR(50), `Utilisateur` VARCHAR(50), `Section` VARCHAR(100), `Cle` "
        "VARCHAR(100), `ValeurType` VARCHAR(10), `ValeurChaine` VARCHAR(1500), `ValeurEntier` INTEGER, "
        "`ValeurMemo` MEMO)",
        "CREATE INDEX ParametresSectionCle ON Parametres (`Section`, `Cle`)"}) {
    sdb::TSDBQuery q;
    q.DatabaseName = "MailTestInit";
    q.SetSQL(sql);
    q.ExecSQL();
  }
  db.Close();
}

// A fixture with a settings database, the process's data module over it,
// an application folder and scripted dialogs.
class MailWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    base = dir.filePath("Tessaly.sdb");
    CreationBaseReglages(base);
    tessaly::SetDataModuleSdb(&module);
    tessaly::SetDossierApplication(dir.path());
  }
  void TearDown() override {
    module.FermetureBDD();
    tessaly::SetDataModuleSdb(nullptr);
    tessaly::SetDossierApplication(QString());
  }

  // The rows of one section and key (any agency and value type).
  int Rows(const QString& section, const QString& cle) {
    module.OuvertureBDD(base.toStdString());
    sdb::TSDBQuery q;
    q.DatabaseName = tessaly::kSettingsDatabaseName;
    q.SetSQL("SELECT * FROM Parametres WHERE `Section` = '" + section.toStdString() + "' AND `Cle` = '" +
             cle.toStdString() + "'");
    q.Open();
    const int n = static_cast<int>(q.RecordCount());
    q.Close();
    module.FermetureBDD();
    return n;
  }
  std::string Chaine(const char* cle, const char* agence = "A1", const char* user = "U1") {
    module.OuvertureBDD(base.toStdString());
    auto v = module.LectureChaine(agence, user, "Mail", cle, "");
    module.FermetureBDD();
    return v;
  }
  int Entier(const char* cle, int defaut = -99) {
    module.OuvertureBDD(base.toStdString());
    auto v = module.LectureEntier("A1", "U1", "Mail", cle, defaut);
    module.FermetureBDD();
    return v;
  }
  std::string Memo(const char* cle) {
    module.OuvertureBDD(base.toStdString());
    auto v = module.LectureMemo("A1", "U1", "MailModele", cle, "<absent>");
    module.FermetureBDD();
    return v;
  }
  // Stores the SMTP account of agency A1, user U1.
  void Compte(const QString& host, int port, int tls, const QString& login = {}, const QString& password = {},
              const QString& mail = QStringLiteral("devis@corvanel.test"),
              const QString& nom = QStringLiteral("Société Corvanel")) {
    module.OuvertureBDD(base.toStdString());
    auto s = [&](const char* k, const QString& v) { module.EcritureChaine("A1", "U1", "Mail", k, v.toStdString()); };
    auto e = [&](const char* k, int v) {
      if (module.ExisteEntier("A1", "U1", "Mail", k))
        module.ModifEntier("A1", "U1", "Mail", k, v);
      else
        module.AjoutEntier("A1", "U1", "Mail", k, v);
    };
    s("Host", host);
    e("Port", port);
    e("UseTLS", tls);
    s("Login", login);
    s("Password", password);
    s("ExpediteurMail", mail);
    s("ExpediteurNom", nom);
    module.FermetureBDD();
  }
  void Modele(int cle, const QString& texte) {
    module.OuvertureBDD(base.toStdString());
    module.AjoutMemo("A1", "U1", "MailModele", std::to_string(cle), texte.toStdString());
    module.FermetureBDD();
  }
  template <class W>
  void Init(W& w) {
    w.SetAgence(QStringLiteral("A1"));
    w.SetUtilisateur(QStringLiteral("U1"));
    w.SetFichierBDD(base);
  }

  QTemporaryDir dir;
  QString base;
  tessaly::TDataModuleSdb module;
  tessaly::ui::TScriptedDialogs dialogs;
  tessaly::ui::TDialogsGuard guard{&dialogs};
};

// Shows the window and lets its first activation run.
inline void Montrer(QWidget& w) {
  w.show();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
}

// Runs `action` on the window of type W once the code under test shows it
// modally (after its first activation). Answers a flag set when it ran.
template <class W>
std::shared_ptr<bool> QuandModal(std::function<void(W*)> action) {
  auto fait = std::make_shared<bool>(false);
  auto* timer = new QTimer;
  timer->setInterval(5);
  auto debut = std::make_shared<QElapsedTimer>();
  debut->start();
  QObject::connect(timer, &QTimer::timeout, [timer, action, fait, debut] {
    W* w = qobject_cast<W*>(QApplication::activeModalWidget());
    if (!w && debut->elapsed() < 20000) return;
    timer->stop();
    timer->deleteLater();
    if (!w) {
      // Never shown: close whatever waits instead, so that the test fails
      // (`fait` stays false) rather than hangs.
      if (QWidget* autre = QApplication::activeModalWidget()) autre->close();
      return;
    }
    QCoreApplication::processEvents();
    *fait = true;
    action(w);
  });
  timer->start();
  return fait;
}

template <class T>
T* Controle(QWidget* w, const char* nom) {
  T* c = w->findChild<T*>(QString::fromLatin1(nom));
  EXPECT_NE(c, nullptr) << nom;
  return c;
}
inline void Cliquer(QWidget* w, const char* nom) {
  if (auto* b = Controle<QPushButton>(w, nom)) b->click();
}

}  // namespace mailtest
