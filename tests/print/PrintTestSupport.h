// A small installation made by each test: an application folder with
// Tessaly.ini, the sample template tree and a settings database, the sample
// quote's job folder, scripted dialogs, a fixed printer list and a recorder
// of the files handed to the desktop.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "FicheImpression.h"
#include "Installation.h"
#include "settings/DataModuleSdb.h"
#include "ui/Dialogs.h"

namespace printtest {

using namespace tessaly;

inline QString Sample(const QString& rel) { return QStringLiteral(TESSALY_SAMPLES "/") + rel; }

inline void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  f.write(bytes);
}

inline void CopyTree(const QString& from, const QString& to) {
  QDirIterator it(from, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    const QString target = to + '/' + QDir(from).relativeFilePath(it.filePath());
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::copy(it.filePath(), target);
  }
}

// Runs the event loop until `done` holds or `ms` milliseconds pass.
template <typename Pred>
bool PumpUntil(Pred done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return done();
}

// The number of prepared items that come from the template object `name`.
inline int PreparedItems(TFicheImpression& w, const QString& name) {
  int n = 0;
  for (const auto& p : w.Report().PreparedPages())
    for (const auto& item : p.Items)
      if (item.Name == name) ++n;
  return n;
}

inline QString PreparedText(TFicheImpression& w) {
  QString s;
  for (const auto& p : w.Report().PreparedPages()) s += p.Text();
  return s;
}

class Installation : public ::testing::Test {
 protected:
  static constexpr const char* kAgence = "01";
  static constexpr const char* kUtilisateur = "U01";

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    app = dir.path() + QStringLiteral("/app");
    jobs = dir.path() + QStringLiteral("/jobs/devis");
    sdb = app + QStringLiteral("/Tessaly.sdb");
    WriteIni("[Database]\nFichier=\n[Templates]\nDocuments=Modeles/Documents/\nRapports=Modeles/Rapports/\n");
    CopyTree(Sample("Modeles"), app + QStringLiteral("/Modeles"));
    CopyTree(Sample("jobs/devis"), jobs);
    CreateSettings(sdb);
    SetDossierApplication(app);
    TFicheImpression::SetPrinterSource([this] { return printers; });
    TFicheImpression::SetFileOpener([this](const QString& path) { opened.append(path); });
    store = std::make_unique<TDataModuleSdb>();
    SetDataModuleSdb(store.get());
  }

  void TearDown() override {
    SetDossierApplication(QString());
    TFicheImpression::SetPrinterSource({});
    TFicheImpression::SetFileOpener({});
    SetDataModuleSdb(nullptr);
    store.reset();
  }

  void WriteIni(const QByteArray& text) { WriteFile(app + QStringLiteral("/Tessaly.ini"), text); }

  static void CreateSettings(const QString& file) {
    QProcess p;
    p.start(QStringLiteral(TESSDB_TOOL), {QStringLiteral("settings-init"), file});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  }

  void Set(const QString& section, const QString& key, const QString& value) {
    store->OuvertureBDD(sdb.toStdString());
    store->EcritureChaine(kAgence, kUtilisateur, section.toStdString(), key.toStdString(), value.toStdString());
    store->FermetureBDD();
  }
  // The stored text, or "<none>" when the row does not exist.
  QString Get(const QString& section, const QString& key) {
    store->OuvertureBDD(sdb.toStdString());
    const bool exists = store->ExisteChaine(kAgence, kUtilisateur, section.toStdString(), key.toStdString());
    const std::string v = store->LectureChaine(kAgence, kUtilisateur, section.toStdString(), key.toStdString(), "");
    store->FermetureBDD();
    return exists ? QString::fromStdString(v) : QStringLiteral("<none>");
  }

  QString Template(const QString& orientation, const QString& file, const QString& group = kGroupeCorvanel) {
    return app + QStringLiteral("/Modeles/Documents/DEVIS/Devis/") + group + '/' + orientation + '/' + file;
  }

  // A window with the job's inputs, not yet set up.
  std::unique_ptr<TFicheImpression> Window(const QString& mode = kModeDocument,
                                           const QString& xml = QString()) {
    auto w = std::make_unique<TFicheImpression>();
    w->SetVersion(QStringLiteral("Version test"));
    w->SetFichierParametres(dir.path() + QStringLiteral("/parametres.ini"));
    w->SetModeImpression(mode);
    w->SetAgence(kAgence);
    w->SetUtilisateur(kUtilisateur);
    w->SetDroits(&droits);
    w->SetFichierXml(xml.isNull() ? jobs + QStringLiteral("/devis.xml") : xml);
    w->SetPiecesJointes(&pieces);
    return w;
  }
  // The same, set up as at its first activation.
  std::unique_ptr<TFicheImpression> SetUpWindow(const QString& mode = kModeDocument,
                                                const QString& xml = QString()) {
    auto w = Window(mode, xml);
    w->FormActivate();
    return w;
  }

  QTemporaryDir dir;
  QString app, jobs, sdb;
  ui::TScriptedDialogs dialogs;
  ui::TDialogsGuard guard{&dialogs};
  std::unique_ptr<TDataModuleSdb> store;
  QStringList printers{QStringLiteral("Laser Bureau"), QStringLiteral("PDF Compta")};
  QStringList opened;
  QStringList droits{QStringLiteral("Impression_Configuration")};
  QStringList pieces{QStringLiteral("/jobs/plan.txt")};
};

}  // namespace printtest
