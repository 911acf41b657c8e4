#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QEventLoop>
#include <QProcess>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

#include "DataError.h"
#include "FicheExporter.h"
#include "FicheImpression.h"
#include "FicheModule.h"
#include "TestFiles.h"
#include "ui/Dialogs.h"

using namespace tessaly;

namespace {

struct RunResult {
  int exitCode;
  QString err;
};

// Runs the real executable unattended (messages go to standard error).
RunResult RunTessaly(const QStringList& args) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TESSALY_UNATTENDED", "1");
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(TESSALY_EXE, args);
  EXPECT_TRUE(p.waitForFinished(30000)) << "tessaly did not end";
  return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError())};
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

const char* kJob =
    "[Configuration]\nAgence=01\nUtilisateur=U01\n[Droits]\nImpression_Configuration=1\n"
    "[FichierXml]\nPath=/jobs/devis.xml\n[PiecesJointes]\nNombre=1\nFichier1=/jobs/plan.pdf\n"
    "[Export]\nNombre=1\nRapport1=/r.fr3\nXml1=/d.xml\nExport1=/o.pdf\n";

}  // namespace

TEST(Startup, WrongArgumentCountShowsTheMessageAndEndsWithZero) {
  for (const QStringList& args : {QStringList{}, QStringList{"/p.ini"}, QStringList{"/p.ini", "DOCUMENT", "x"}}) {
    RunResult r = RunTessaly(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Verifiez vos paramètres ! / 1. Fichier de paramétrage. / 2. Mode d'impression.")))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("Version:")) << "no window may open";
  }
}

TEST(Startup, ModeIsUpperCasedAndSelectsTheWindow) {
  QTemporaryDir dir;
  QString job = testfiles::Write(dir, "p.ini", kJob);
  struct Case {
    const char* mode;
    const char* shown;  // the mode line the opened window reports
    bool exporter;
  } cases[] = {{"exporter", "EXPORTER", true},
               {"Exporter", "EXPORTER", true},
               {"document", "DOCUMENT", false},
               {"EXPORTER ", "EXPORTER ", false},
               {"rapport", "RAPPORT", false}};
  for (const auto& c : cases) {
    RunResult r = RunTessaly({job, c.mode});
    if (c.exporter) {
      // The exporter works through the job's list; its template does not
      // exist, so the batch stops there and the process says so.
      EXPECT_EQ(r.exitCode, 1) << c.mode;
      EXPECT_TRUE(r.err.contains(QStringLiteral("TFicheExporter::Exportation : Le modèle \"/r.fr3\" n'existe pas")))
          << c.mode << "\n" << r.err.toStdString();
    } else {
      EXPECT_EQ(r.exitCode, 0);
      EXPECT_TRUE(r.err.contains(QStringLiteral("Mode d'impression: %1\n").arg(c.shown))) << c.mode << "\n" << r.err.toStdString();
      EXPECT_TRUE(r.err.contains("Droits: Impression_Configuration")) << r.err.toStdString();
    }
  }
}

namespace {

// Runs the start-up window's dispatch in-process; `inspect` sees the
// working window instead of its modal loop.
struct Dispatch : ::testing::Test {
  ui::TScriptedDialogs dialogs;
  ui::TDialogsGuard guard{&dialogs};
  void TearDown() override { TFicheModule::SetWindowRunner({}); }
};

}  // namespace

TEST_F(Dispatch, PrintManagerReceivesTheInputsAndReferencesToTheLists) {
  QTemporaryDir dir;
  TFicheModule fiche;
  fiche.SetFichierParametres(testfiles::Write(dir, "p.ini", kJob));
  fiche.SetModeImpression("DOCUMENT");
  EXPECT_EQ(fiche.windowTitle(), QStringLiteral("Tessaly - Version 1.20 du 15/02/2023 17:30 (Beta)"));
  bool ran = false;
  TFicheModule::SetWindowRunner([&](QDialog& w) {
    ran = true;
    auto* p = qobject_cast<TFicheImpression*>(&w);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(fiche.ProgressBar()->value(), 5);
    EXPECT_EQ(fiche.ProgressBar()->maximum(), 5);
    EXPECT_FALSE(fiche.isVisible()) << "the start-up window hides while the working window runs";
    EXPECT_EQ(p->windowTitle(), QStringLiteral("Gestionnaire d'impression - Version 1.20 du 15/02/2023 17:30 (Beta)"));
    EXPECT_EQ(p->ModeImpression(), "DOCUMENT");
    EXPECT_EQ(p->Agence(), "01");
    EXPECT_EQ(p->Utilisateur(), "U01");
    EXPECT_EQ(p->FichierXml(), "/jobs/devis.xml");
    EXPECT_EQ(p->Droits(), &fiche.Droits()) << "a reference, not a copy";
    EXPECT_EQ(p->PiecesJointes(), &fiche.PiecesJointes());
    EXPECT_EQ(*p->PiecesJointes(), QStringList({"/jobs/plan.pdf"}));
  });
  fiche.show();
  EXPECT_TRUE(fiche.Activated());
  EXPECT_TRUE(fiche.Timer()->isActive());
  fiche.FormActivate();  // a later activation changes nothing

  EXPECT_TRUE(PumpUntil([&] { return ran; }, 5000)) << "the timer must dispatch";
  EXPECT_FALSE(fiche.isVisible());
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(Dispatch, ExporterGetsFiveInputsAndReadsItsList) {
  QTemporaryDir dir;
  TFicheModule fiche;
  fiche.SetFichierParametres(testfiles::Write(dir, "p.ini", kJob));
  fiche.SetModeImpression(kModeExporter);
  int ran = 0;
  TFicheModule::SetWindowRunner([&](QDialog& w) {
    ++ran;
    auto* e = qobject_cast<TFicheExporter*>(&w);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->windowTitle(), QStringLiteral("Gestionnaire d'impression PDF - Version 1.20 du 15/02/2023 17:30 (Beta)"));
    EXPECT_EQ(e->Agence(), "01");
    e->LectureExport();
    EXPECT_EQ(e->Liste().Exports, QStringList({"/o.pdf"}));
  });
  fiche.Timer1Timer();
  fiche.Timer1Timer();  // the dispatch runs once
  EXPECT_EQ(ran, 1);
}

TEST_F(Dispatch, ExceptionsAreShownAndTheWindowStillCloses) {
  TFicheModule fiche;
  fiche.SetFichierParametres("/nonexistent/p.ini");
  fiche.SetModeImpression("DOCUMENT");
  TFicheModule::SetWindowRunner([&](QDialog& w) {
    auto* p = qobject_cast<TFicheImpression*>(&w);
    EXPECT_TRUE(p->Agence().isEmpty()) << "a missing parameter file gives defaults";
    EXPECT_TRUE(p->Droits()->isEmpty());
    throw EDataError("boom");
  });
  fiche.show();
  fiche.Timer1Timer();
  EXPECT_EQ(dialogs.Messages, QStringList({"boom"}));
  EXPECT_FALSE(fiche.isVisible());
}

TEST_F(Dispatch, FermerBeforeTheTimerEndsWithoutDispatch) {
  TFicheModule fiche;
  bool ran = false;
  TFicheModule::SetWindowRunner([&](QDialog&) { ran = true; });
  fiche.show();
  fiche.btnFermerClick();
  PumpUntil([&] { return ran; }, 300);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(fiche.isVisible());
}

// Qt's own buttons and dialogs speak the application's language; without
// the translations a French user meets "Yes", "No" and "Look in:".
TEST(Startup, QtOwnDialogsSpeakFrench) {
  ASSERT_TRUE(tessaly::InstallFrenchTranslations());
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Oui"));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&Non"));
  EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
}
