// Shared set-up of the configuration window tests: a template tree and a
// settings database in a temporary folder, scripted message boxes and
// questions, a scripted name dialog and a scripted designer.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QMenu>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <deque>
#include <functional>
#include <memory>

#include "FicheConfigPrint.h"
#include "FicheSetFileName.h"
#include "ReportFile.h"
#include "ToolRun.h"
#include "settings/DataModuleSdb.h"
#include "ui/Dialogs.h"

namespace configtest {

using namespace tessaly;
using tessaly::report::TfrxOrientation;

// What the scripted name dialog saw at one showing.
struct TNameShown {
  QString Caption, Label, Proposed;
};

class ConfigFixture : public ::testing::Test {
 protected:
  // One empty settings database for the whole run; each test works on a copy.
  static void SetUpTestSuite() {
    gDbDir = new QTemporaryDir;
    const QString file = gDbDir->filePath(QStringLiteral("Parametres.sdb"));
    auto r = sdbtest::Tool("settings-init '" + file.toStdString() + "'");
    ASSERT_EQ(r.Code, 0) << r.Output;
  }
  static void TearDownTestSuite() {
    delete gDbDir;
    gDbDir = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    root = dir.filePath(QStringLiteral("Documents")) + QLatin1Char('/');
    db = dir.filePath(QStringLiteral("Tessaly.sdb"));
    ASSERT_TRUE(QFile::copy(gDbDir->filePath(QStringLiteral("Parametres.sdb")), db));
    SetDataModuleSdb(&dm);
    TFicheSetFileName::ExecHook = [this](TFicheSetFileName& d) {
      shown.push_back({d.windowTitle(), d.lblFichier()->text(), d.edtNomFichier()->text()});
      if (names.empty()) {
        d.btnFermer()->click();
        return;
      }
      auto answer = names.front();
      names.pop_front();
      if (answer.isNull()) {
        d.btnFermer()->click();
      } else {
        d.edtNomFichier()->setText(answer);
        d.btnValider()->click();
      }
    };
    TFicheConfigPrint::DesignerHook = [this](report::TfrxReport& r) {
      designed.push_back(r.Template());
      if (design) design(r.Template());
      return true;
    };
  }
  void TearDown() override {
    window.reset();
    TFicheSetFileName::ExecHook = nullptr;
    TFicheConfigPrint::DesignerHook = nullptr;
    dm.FermetureBDD();
    SetDataModuleSdb(nullptr);
  }

  // A template file whose first page has the given orientation and name.
  void Template(const QString& rel, TfrxOrientation o = TfrxOrientation::Portrait,
                const QString& pageName = QStringLiteral("Page1")) {
    report::TfrxTemplate t = report::BlankTemplate();
    t.Pages.front().Orientation = o;
    t.Pages.front().Name = pageName;
    const QString path = root + rel;
    QDir().mkpath(QFileInfo(path).absolutePath());
    report::SaveTemplateFile(t, path);
  }
  void File(const QString& rel, const QByteArray& content = "x") {
    const QString path = root + rel;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
  }
  void Folder(const QString& rel) { QDir().mkpath(root + rel); }
  bool Exists(const QString& rel) const { return QFileInfo::exists(root + rel); }
  QString FirstPageName(const QString& rel) const {
    return report::LoadTemplateFile(root + rel).Pages.front().Name;
  }
  TfrxOrientation FirstPageOrientation(const QString& rel) const {
    return report::LoadTemplateFile(root + rel).Pages.front().Orientation;
  }

  // The usual library: two titles of quotes, templates in each group.
  void UsualLibrary() {
    Template(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3"), TfrxOrientation::Portrait,
             QStringLiteral("PrixNets"));
    Template(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Prix TTC.fr3"));
    Template(QStringLiteral("DEVIS/Devis/Corvanel/Paysage/Large.fr3"), TfrxOrientation::Landscape);
    Template(QStringLiteral("DEVIS/Devis/Favoris/Portrait/Prix nets.fr3"), TfrxOrientation::Portrait,
             QStringLiteral("Favori"));
    Template(QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Mien.fr3"), TfrxOrientation::Portrait,
             QStringLiteral("Mien"));
    Folder(QStringLiteral("DEVIS/Devis/Utilisateur/Paysage"));
    Folder(QStringLiteral("DEVIS/Acompte/Corvanel/Portrait"));
    Folder(QStringLiteral("FACTURE/Facture/Corvanel/Portrait"));
  }

  TFicheConfigPrint& Open(const QString& type = QStringLiteral("DEVIS"), bool show = true) {
    window = std::make_unique<TFicheConfigPrint>(nullptr, root, QString(), type);
    window->SetAgence(QStringLiteral("AG1"));
    window->SetFichierBDD(db);
    window->SetUtilisateur(QStringLiteral("U1"));
    if (show) window->show();
    return *window;
  }

  // The tree as "title/group/template [image]" lines, depth first.
  QStringList Tree() const {
    QStringList out;
    std::function<void(QTreeWidgetItem*, const QString&)> walk = [&](QTreeWidgetItem* item, const QString& prefix) {
      const QString path = prefix.isEmpty() ? item->text(0) : prefix + QLatin1Char('/') + item->text(0);
      out << QStringLiteral("%1 [%2]").arg(path).arg(item->data(0, TFicheConfigPrint::kImageRole).toInt());
      for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), path);
    };
    for (int i = 0; i < window->tvTemplates()->topLevelItemCount(); ++i)
      walk(window->tvTemplates()->topLevelItem(i), QString());
    return out;
  }
  // The node at "title/group/template" (or a shorter path).
  QTreeWidgetItem* Node(const QString& path) const {
    const QStringList parts = path.split(QLatin1Char('/'));
    QTreeWidgetItem* item = nullptr;
    for (const QString& p : parts) {
      QTreeWidgetItem* next = nullptr;
      const int n = item ? item->childCount() : window->tvTemplates()->topLevelItemCount();
      for (int i = 0; i < n && !next; ++i) {
        QTreeWidgetItem* c = item ? item->child(i) : window->tvTemplates()->topLevelItem(i);
        if (c->text(0) == p) next = c;
      }
      if (!next) return nullptr;
      item = next;
    }
    return item;
  }
  void Select(const QString& path) {
    QTreeWidgetItem* n = Node(path);
    ASSERT_NE(n, nullptr) << path.toStdString();
    window->tvTemplates()->setCurrentItem(n);
  }

  std::string Stored(const QString& section, const QString& key) {
    std::string v = dm.LectureChaine("AG1", "U1", section.toStdString(), key.toStdString(), "<absent>");
    dm.FermetureBDD();
    return v;
  }
  void Store(const QString& section, const QString& key, const QString& value) {
    dm.OuvertureBDD(db.toStdString());
    dm.EcritureChaine("AG1", "U1", section.toStdString(), key.toStdString(), value.toStdString());
    dm.FermetureBDD();
  }

  static inline QTemporaryDir* gDbDir = nullptr;
  QTemporaryDir dir;
  QString root, db;
  TDataModuleSdb dm;
  ui::TScriptedDialogs dialogs;
  ui::TDialogsGuard guard{&dialogs};
  // Answers of the name dialog, one per showing: a name to validate, or a
  // null text to close it.
  std::deque<QString> names;
  std::vector<TNameShown> shown;
  // Templates the designer was opened on, and what it does to the design.
  std::vector<report::TfrxTemplate> designed;
  std::function<void(report::TfrxTemplate&)> design;
  std::unique_ptr<TFicheConfigPrint> window;
};

}  // namespace configtest
