// The window's construction, the template tree and the context menu.
#include <QAccessible>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "ConfigTestSupport.h"

namespace configtest {
namespace {

using TemplateTree = ConfigFixture;

TEST_F(TemplateTree, ListsTitlesGroupsAndTemplatesOfTheTypeAndOrientation) {
  UsualLibrary();
  // A file among the titles is listed as a title; files without the ".fr3"
  // extension are templates like any other; folders among the templates
  // and hidden files are not.
  File(QStringLiteral("DEVIS/Lisez-moi.txt"));
  File(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Ancien.txt"));
  Folder(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Archives"));
  File(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/.cache"));
  TFicheConfigPrint& w = Open(QStringLiteral("DEVIS"), false);

  EXPECT_EQ(w.windowTitle(), QStringLiteral("Configuration du Tessaly"));
  EXPECT_EQ(w.cbbTitre()->count(), 2);
  EXPECT_EQ(w.cbbTitre()->itemText(0), QStringLiteral("DEVIS"));
  EXPECT_EQ(w.cbbTitre()->itemText(1), QStringLiteral("FACTURE"));
  EXPECT_EQ(w.cbbTitre()->currentText(), QStringLiteral("DEVIS"));
  ASSERT_EQ(w.cbbOrientation()->count(), 2);
  EXPECT_EQ(w.cbbOrientation()->currentText(), QStringLiteral("Portrait"));
  EXPECT_EQ(w.cbbOrientation()->itemText(1), QStringLiteral("Paysage"));

  const QStringList portrait = {
      QStringLiteral("Acompte [1]"),
      QStringLiteral("Acompte/Favoris [2]"),
      QStringLiteral("Acompte/Corvanel [3]"),
      QStringLiteral("Acompte/Utilisateur [4]"),
      QStringLiteral("Devis [1]"),
      QStringLiteral("Devis/Favoris [2]"),
      QStringLiteral("Devis/Favoris/Prix nets.fr3 [1]"),
      QStringLiteral("Devis/Corvanel [3]"),
      QStringLiteral("Devis/Corvanel/Ancien.txt [1]"),
      QStringLiteral("Devis/Corvanel/Prix nets.fr3 [1]"),
      QStringLiteral("Devis/Corvanel/Prix TTC.fr3 [1]"),
      QStringLiteral("Devis/Utilisateur [4]"),
      QStringLiteral("Devis/Utilisateur/Mien.fr3 [1]"),
      QStringLiteral("Lisez-moi.txt [1]"),
      QStringLiteral("Lisez-moi.txt/Favoris [2]"),
      QStringLiteral("Lisez-moi.txt/Corvanel [3]"),
      QStringLiteral("Lisez-moi.txt/Utilisateur [4]"),
  };
  EXPECT_EQ(Tree(), portrait);
  // Every node has its icon, every node is expanded, the first is selected.
  EXPECT_FALSE(Node(QStringLiteral("Devis/Corvanel/Prix nets.fr3"))->icon(0).isNull());
  EXPECT_TRUE(Node(QStringLiteral("Devis"))->isExpanded());
  EXPECT_TRUE(Node(QStringLiteral("Devis/Corvanel"))->isExpanded());
  EXPECT_EQ(w.tvTemplates()->currentItem(), w.tvTemplates()->topLevelItem(0));
  EXPECT_TRUE(w.tvTemplates()->topLevelItem(0)->isSelected());

  // The orientation chooses the folders shown.
  w.cbbOrientation()->setCurrentIndex(1);
  EXPECT_EQ(Tree().filter(QStringLiteral("Devis/")),
            QStringList({QStringLiteral("Devis/Favoris [2]"), QStringLiteral("Devis/Corvanel [3]"),
                         QStringLiteral("Devis/Corvanel/Large.fr3 [1]"), QStringLiteral("Devis/Utilisateur [4]")}));
  // And the type the titles.
  w.cbbTitre()->setCurrentIndex(1);
  EXPECT_EQ(Tree(), QStringList({QStringLiteral("Facture [1]"), QStringLiteral("Facture/Favoris [2]"),
                                 QStringLiteral("Facture/Corvanel [3]"), QStringLiteral("Facture/Utilisateur [4]")}));
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(TemplateTree, MissingFoldersAndEmptyTexts) {
  // No Documents root given: both lists stay empty, nothing is said.
  window = std::make_unique<TFicheConfigPrint>(nullptr, QString(), QString(), QStringLiteral("DEVIS"));
  EXPECT_EQ(window->cbbTitre()->count(), 0);
  EXPECT_EQ(window->cbbOrientation()->count(), 0);
  EXPECT_EQ(window->tvTemplates()->topLevelItemCount(), 0);
  EXPECT_TRUE(dialogs.Messages.isEmpty());

  // A root that does not exist: the message, an empty tree.
  Open(QStringLiteral("DEVIS"), false);
  EXPECT_EQ(window->cbbTitre()->count(), 0);
  EXPECT_EQ(window->cbbOrientation()->count(), 2);
  EXPECT_EQ(dialogs.Messages, QStringList({QStringLiteral("Erreur : répertoire des templates non trouvé")}));
  EXPECT_EQ(window->tvTemplates()->topLevelItemCount(), 0);

  // A type the root does not hold: no type selected, an empty tree and no
  // message.
  dialogs.Messages.clear();
  UsualLibrary();
  Open(QStringLiteral("COMMANDE CLIENT"), false);
  EXPECT_EQ(window->cbbTitre()->currentText(), QString());
  EXPECT_EQ(window->tvTemplates()->topLevelItemCount(), 0);
  EXPECT_TRUE(dialogs.Messages.isEmpty());

  // A type folder that disappears: the message when the tree is rebuilt.
  Open(QStringLiteral("FACTURE"), false);
  ASSERT_TRUE(QDir(root + QStringLiteral("FACTURE")).removeRecursively());
  window->LectureTemplates();
  EXPECT_EQ(dialogs.Messages, QStringList({QStringLiteral("Erreur : répertoire des templates non trouvé")}));
  EXPECT_EQ(window->tvTemplates()->topLevelItemCount(), 0);
}

// The menu as it stands: enabled items and the fifth item's caption.
QString MenuState(TFicheConfigPrint& w) {
  QString s;
  for (QAction* a : {w.pop_create(), w.pop_update(), w.pop_rename(), w.pop_delete(), w.pop_addFavoris()})
    if (a->isEnabled()) s += a->objectName() + QLatin1Char(' ');
  return s + QLatin1Char('|') + w.pop_addFavoris()->text();
}

TEST_F(TemplateTree, MenuEnablingForEachKindOfNodeFromMouseAndKeyboard) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  ASSERT_EQ(w.popmOptionsTv()->objectName(), QStringLiteral("popmOptionsTv"));
  QStringList captions;
  for (QAction* a : w.popmOptionsTv()->actions()) captions << a->text();
  EXPECT_EQ(captions, QStringList({QStringLiteral("Créer"), QStringLiteral("Modifier"), QStringLiteral("Renommer"),
                                   QStringLiteral("Supprimer"), QStringLiteral("Ajouter aux favoris")}));

  const QString all = QStringLiteral("pop_create pop_update pop_rename pop_delete pop_addFavoris |");
  struct Case {
    const char* node;
    QString state;
  } cases[] = {
      {"Devis/Utilisateur/Mien.fr3", all + QStringLiteral("Ajouter aux favoris")},
      {"Devis/Favoris/Prix nets.fr3", all + QStringLiteral("Retirer des favoris")},
      // Delivered templates can only be copied and favoured.
      {"Devis/Corvanel/Prix TTC.fr3", QStringLiteral("pop_create pop_addFavoris |Ajouter aux favoris")},
      // Titles and groups name no template: nothing to do (the caption stays).
      {"Devis", QStringLiteral("|Ajouter aux favoris")},
      {"Devis/Corvanel", QStringLiteral("|Ajouter aux favoris")},
      {"Acompte/Utilisateur", QStringLiteral("|Ajouter aux favoris")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node);
    QTreeWidgetItem* n = Node(QString::fromUtf8(c.node));
    ASSERT_NE(n, nullptr);
    // A right click selects the node under the pointer and shows the menu.
    w.tvTemplates()->setCurrentItem(w.tvTemplates()->topLevelItem(0));
    const QPoint at = w.tvTemplates()->visualItemRect(n).center();
    QContextMenuEvent right(QContextMenuEvent::Mouse, at, w.tvTemplates()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(w.tvTemplates()->viewport(), &right);
    EXPECT_EQ(w.tvTemplates()->currentItem(), n);
    EXPECT_TRUE(w.popmOptionsTv()->isVisible());
    EXPECT_EQ(MenuState(w), c.state);
    w.popmOptionsTv()->hide();

    // From the keyboard (Shift+F10 or the menu key) on the selected node.
    w.pop_addFavoris()->setText(QStringLiteral("Ajouter aux favoris"));
    QTest::keyClick(w.tvTemplates(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(w.popmOptionsTv()->isVisible());
    EXPECT_EQ(MenuState(w), c.state);
    w.popmOptionsTv()->hide();
    QTest::keyClick(w.tvTemplates(), Qt::Key_Menu);
    EXPECT_TRUE(w.popmOptionsTv()->isVisible());
    EXPECT_EQ(MenuState(w), c.state);
    w.popmOptionsTv()->hide();
  }

  // A right click on empty space selects nothing and shows the menu with
  // every item disabled; the caption of the last node stays.
  Select(QStringLiteral("Devis/Favoris/Prix nets.fr3"));
  w.PreparerMenu(w.tvTemplates()->currentItem());
  const QPoint empty(5, w.tvTemplates()->viewport()->height() - 2);
  ASSERT_EQ(w.tvTemplates()->itemAt(empty), nullptr);
  QContextMenuEvent right(QContextMenuEvent::Mouse, empty, w.tvTemplates()->viewport()->mapToGlobal(empty));
  QApplication::sendEvent(w.tvTemplates()->viewport(), &right);
  EXPECT_TRUE(w.popmOptionsTv()->isVisible());
  EXPECT_TRUE(w.tvTemplates()->selectedItems().isEmpty());
  EXPECT_EQ(MenuState(w), QStringLiteral("|Retirer des favoris"));
  w.popmOptionsTv()->hide();
}

TEST_F(TemplateTree, ControlsCarryTheirCaptionsForKeyboardAndScreenReader) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  struct Labelled {
    const char* label;
    const char* field;
    const char* accessible;
  } labelled[] = {
      {"lblTitre", "cbbTitre", "Titre"},
      {"lblOrientation", "cbbOrientation", "Mise en page"},
      {"lblRepertoireLogo", "edtRepertoireLogo", "Logo - Chemin"},
      {"lblCGV", "memoCGV", "CGV - Texte"},
      {"lblQCM", "memoQCM", "QCM - Texte"},
      {"lblPiedDePage1", "edtPiedDePage1", "Pied - Pied de page 1"},
      {"lblPiedDePage2", "memoPiedDePage2", "Pied - Pied de page 2"},
      {"lblDebutDeLigne", "edtDebutDeLigne", "Lignes - Début"},
      {"lblFinDeLigne", "edtFinDeLigne", "Lignes - Fin"},
  };
  for (const auto& l : labelled) {
    SCOPED_TRACE(l.field);
    auto* label = w.findChild<QLabel*>(QString::fromUtf8(l.label));
    auto* field = w.findChild<QWidget*>(QString::fromUtf8(l.field));
    ASSERT_NE(label, nullptr);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(label->buddy(), field);
    EXPECT_EQ(field->accessibleName(), QString::fromUtf8(l.accessible));
  }
  struct Button {
    const char* name;
    const char* caption;
  } buttons[] = {{"btnSauvegarder", "Sauvegarder les paramètres "}, {"btnFermer", "Fermer"}};
  for (const auto& b : buttons) {
    auto* button = w.findChild<QPushButton*>(QString::fromUtf8(b.name));
    ASSERT_NE(button, nullptr) << b.name;
    EXPECT_EQ(button->text(), QString::fromUtf8(b.caption));
    EXPECT_EQ(button->accessibleName(), QString::fromUtf8(b.caption).trimmed());
  }
  // Tab walks the top lists, the panel's fields in order, the save button,
  // the tree and Fermer.
  QStringList order;
  QWidget* start = w.cbbTitre();
  QWidget* x = start;
  do {
    if (x->focusPolicy() & Qt::TabFocus) order << x->objectName();
    x = x->nextInFocusChain();
  } while (x != start && order.size() < 40);
  const QStringList expected = {QStringLiteral("cbbTitre"),        QStringLiteral("cbbOrientation"),
                                QStringLiteral("scrollBox"),       QStringLiteral("edtRepertoireLogo"),
                                QStringLiteral("btnOuvrirLogo"),   QStringLiteral("memoCGV"),
                                QStringLiteral("memoQCM"),         QStringLiteral("edtPiedDePage1"),
                                QStringLiteral("memoPiedDePage2"), QStringLiteral("edtDebutDeLigne"),
                                QStringLiteral("edtFinDeLigne"),   QStringLiteral("btnSauvegarder"),
                                QStringLiteral("tvTemplates"),     QStringLiteral("btnFermer")};
  EXPECT_EQ(order.mid(0, expected.size()), expected);
}

}  // namespace
}  // namespace configtest

namespace configtest {
namespace {

TEST_F(TemplateTree, PickingFromTheListHandsFocusToThePanelArrowKeysKeepIt) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  w.activateWindow();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  w.cbbTitre()->setFocus();
  // Arrow keys on the closed list: the type changes (and is loaded), the
  // focus stays.
  QTest::keyClick(w.cbbTitre(), Qt::Key_Down);
  EXPECT_EQ(w.cbbTitre()->currentText(), QStringLiteral("FACTURE"));
  EXPECT_EQ(Tree().first(), QStringLiteral("Facture [1]"));
  EXPECT_TRUE(w.cbbTitre()->hasFocus());
  // Picked with the mouse: the panel takes the focus.
  QTest::mousePress(w.cbbOrientation(), Qt::LeftButton);
  w.cbbOrientation()->hidePopup();
  w.cbbOrientation()->setCurrentIndex(1);
  emit w.cbbOrientation()->activated(1);
  EXPECT_TRUE(w.scrollBox()->hasFocus());
}

}  // namespace
}  // namespace configtest

namespace configtest {
namespace {

// Enter typed in a field of the panel must not press a button the user
// never reached (the first button of the window is "Ouvrir..." of the
// logo); on a focused button it presses that button.
TEST_F(TemplateTree, EnterInAFieldPressesNothingAndOnAButtonPressesIt) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  for (QWidget* field : std::initializer_list<QWidget*>{w.edtPiedDePage1(), w.edtRepertoireLogo(), w.edtFinDeLigne(),
                                                        w.cbbOrientation()}) {
    SCOPED_TRACE(field->objectName().toStdString());
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Enter);
    EXPECT_TRUE(dialogs.FileDialogs.isEmpty());
    EXPECT_TRUE(w.isVisible());
  }
  auto* ouvrir = w.findChild<QPushButton*>(QStringLiteral("btnOuvrirLogo"));
  ouvrir->setFocus();
  QTest::keyClick(ouvrir, Qt::Key_Return);
  EXPECT_EQ(dialogs.FileDialogs.size(), 1);
  w.edtPiedDePage1()->setFocus();
  QTest::keyClick(w.edtPiedDePage1(), Qt::Key_Return);
  EXPECT_EQ(dialogs.FileDialogs.size(), 1);
  EXPECT_TRUE(w.isVisible());
}

}  // namespace
}  // namespace configtest
