// The five actions of the template menu: their questions, the name
// dialogs with their collision loops, and the files they leave on disk.
#include "ConfigTestSupport.h"

namespace configtest {
namespace {

using TemplateActions = ConfigFixture;

const QString kCreer = QStringLiteral("Créer un template basé sur le template sélectionné ?");
const QString kSauverTemplate = QStringLiteral("Sauvegarder le template ?");
const QString kCreation = QStringLiteral("Création d'un nouveau template");
const QString kNommer = QStringLiteral("Nommer le fichier : ");
const QString kExistant = QStringLiteral("ERREUR : fichier déjà existant");

QStringList Captions(const std::vector<TNameShown>& shown) {
  QStringList out;
  for (const auto& s : shown) out << s.Caption + QStringLiteral(" / ") + s.Proposed;
  return out;
}

TEST_F(TemplateActions, CreateFromACopyGoesToTheUserGroupOfThePagesOrientation) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  Select(QStringLiteral("Devis/Corvanel/Prix nets.fr3"));
  dialogs.QueueAnswer(true);  // from the selected template
  dialogs.QueueAnswer(true);  // save it
  // The first name exists beside the source: the dialog comes back.
  names = {QStringLiteral("Prix TTC.fr3"), QStringLiteral("Mon devis.fr3")};
  design = [](report::TfrxTemplate& t) { t.Pages.front().Orientation = TfrxOrientation::Landscape; };
  w.pop_createClick();

  EXPECT_EQ(dialogs.Questions, QStringList({kCreer, kSauverTemplate}));
  EXPECT_EQ(Captions(shown), QStringList({kCreation + QStringLiteral(" / Prix nets.fr3-copie"),
                                          kExistant + QStringLiteral(" / Prix TTC.fr3")}));
  EXPECT_EQ(shown[0].Label, kNommer);
  // The designer had the source's design; the copy is landscape, so it is
  // written to the landscape folder of the user group.
  ASSERT_EQ(designed.size(), 1u);
  EXPECT_EQ(designed[0].Pages.front().Name, QStringLiteral("PrixNets"));
  ASSERT_TRUE(Exists(QStringLiteral("DEVIS/Devis/Utilisateur/Paysage/Mon devis.fr3")));
  EXPECT_EQ(FirstPageOrientation(QStringLiteral("DEVIS/Devis/Utilisateur/Paysage/Mon devis.fr3")),
            TfrxOrientation::Landscape);
  EXPECT_EQ(FirstPageName(QStringLiteral("DEVIS/Devis/Utilisateur/Paysage/Mon devis.fr3")), QStringLiteral("PrixNets"));
  EXPECT_FALSE(Exists(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Mon devis.fr3")));
  // No temporary file is left beside it.
  EXPECT_EQ(QDir(root + QStringLiteral("DEVIS/Devis/Utilisateur/Paysage")).entryList(QDir::Files | QDir::Hidden),
            QStringList({QStringLiteral("Mon devis.fr3")}));
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(TemplateActions, CreateFromScratchAndTheTargetCollisionLoop) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  // A portrait template from a favourite goes to the user's portrait
  // folder, where the name is taken twice over.
  Template(QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Neuf.fr3"));
  Template(QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Neuf.fr3-copie"));
  w.cbbOrientation()->setCurrentIndex(0);
  Select(QStringLiteral("Devis/Favoris/Prix nets.fr3"));
  dialogs.QueueAnswer(false);  // a new template
  dialogs.QueueAnswer(true);   // save it
  names = {QStringLiteral("Neuf.fr3"), QStringLiteral("Neuf.fr3-copie"), QStringLiteral("Neuf.fr3-copie-copie")};
  design = [](report::TfrxTemplate& t) { t.Title = QStringLiteral("Fait main"); };
  w.pop_createClick();

  EXPECT_EQ(dialogs.Questions, QStringList({kCreer, kSauverTemplate}));
  // No existence test before designing; then one dialog per collision,
  // each proposing the current name followed by "-copie".
  EXPECT_EQ(Captions(shown), QStringList({kCreation + QStringLiteral(" / new template"),
                                          kExistant + QStringLiteral(" / Neuf.fr3-copie"),
                                          kExistant + QStringLiteral(" / Neuf.fr3-copie-copie")}));
  // The designer opened on an empty (blank) report.
  ASSERT_EQ(designed.size(), 1u);
  EXPECT_EQ(designed[0].Pages.front().Name, report::BlankTemplate().Pages.front().Name);
  const QString saved = QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Neuf.fr3-copie-copie");
  ASSERT_TRUE(Exists(saved));
  EXPECT_EQ(report::LoadTemplateFile(root + saved).Title, QStringLiteral("Fait main"));
  // The tree shows it.
  EXPECT_NE(Node(QStringLiteral("Devis/Utilisateur/Neuf.fr3-copie-copie")), nullptr);
}

TEST_F(TemplateActions, CreateStopsWithoutWritingWhenAnswerOrDialogSaysSo) {
  UsualLibrary();
  const QStringList before = QDir(root).entryList();
  struct Case {
    const char* what;
    std::vector<bool> answers;
    std::deque<QString> names;
    int designs;
  } cases[] = {
      {"first name dialog closed", {true}, {QString()}, 0},
      {"collision dialog closed", {true}, {QStringLiteral("Prix TTC.fr3"), QString()}, 0},
      {"new template, dialog closed", {false}, {QString()}, 0},
      {"not saved", {false, false}, {QStringLiteral("Jamais.fr3")}, 1},
      {"target collision closed", {false, true}, {QStringLiteral("Mien.fr3"), QString()}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TFicheConfigPrint& w = Open();
    Select(QStringLiteral("Devis/Corvanel/Prix nets.fr3"));
    for (bool a : c.answers) dialogs.QueueAnswer(a);
    names = c.names;
    designed.clear();
    w.pop_createClick();
    EXPECT_EQ(static_cast<int>(designed.size()), c.designs);
    EXPECT_FALSE(Exists(QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Jamais.fr3")));
    EXPECT_EQ(QDir(root + QStringLiteral("DEVIS/Devis/Utilisateur/Portrait")).entryList(QDir::Files),
              QStringList({QStringLiteral("Mien.fr3")}));
    EXPECT_EQ(FirstPageName(QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Mien.fr3")), QStringLiteral("Mien"));
    EXPECT_TRUE(dialogs.Messages.isEmpty());
  }
}

TEST_F(TemplateActions, CreateFromAFileThatIsNotATemplateOpensTheDesignerOnAnEmptyReport) {
  UsualLibrary();
  File(QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Notes.txt"), "pas un modèle");
  TFicheConfigPrint& w = Open();
  Select(QStringLiteral("Devis/Utilisateur/Notes.txt"));
  dialogs.QueueAnswer(true);
  dialogs.QueueAnswer(false);
  names = {QStringLiteral("Copie.fr3")};
  w.pop_createClick();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains(QStringLiteral("Notes.txt"))) << dialogs.Messages[0].toStdString();
  ASSERT_EQ(designed.size(), 1u);
  EXPECT_EQ(designed[0].Pages.front().Name, report::BlankTemplate().Pages.front().Name);
}

TEST_F(TemplateActions, SavingMakesMissingFoldersAndReportsWhatCannotBeWritten) {
  // A title with no user group at all: the folders are made.
  Template(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3"));
  TFicheConfigPrint& w = Open();
  Select(QStringLiteral("Devis/Corvanel/Prix nets.fr3"));
  dialogs.QueueAnswer(true);
  dialogs.QueueAnswer(true);
  names = {QStringLiteral("A.fr3")};
  w.pop_createClick();
  EXPECT_TRUE(Exists(QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/A.fr3")));
  EXPECT_TRUE(dialogs.Messages.isEmpty());

  // "Utilisateur" is a file where a folder is expected: the save is
  // reported and leaves nothing behind.
  Template(QStringLiteral("DEVIS/Autre/Corvanel/Portrait/B.fr3"));
  File(QStringLiteral("DEVIS/Autre/Utilisateur"), "fichier");
  w.LectureTemplates();
  Select(QStringLiteral("Autre/Corvanel/B.fr3"));
  dialogs.QueueAnswer(true);
  dialogs.QueueAnswer(true);
  names = {QStringLiteral("B2.fr3")};
  w.pop_createClick();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains(QStringLiteral("Utilisateur"))) << dialogs.Messages[0].toStdString();
  EXPECT_EQ(QDir(root + QStringLiteral("DEVIS/Autre")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList({QStringLiteral("Corvanel"), QStringLiteral("Utilisateur")}));
}

TEST_F(TemplateActions, ModifySavesBackOnYesOnlyAndAlsoRunsOnDoubleClick) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  design = [](report::TfrxTemplate& t) { t.Pages.front().Name = QStringLiteral("Modifie"); };
  const QString mine = QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Mien.fr3");

  Select(QStringLiteral("Devis/Utilisateur/Mien.fr3"));
  dialogs.QueueAnswer(false);
  w.pop_updateClick();
  EXPECT_EQ(dialogs.Questions, QStringList({QStringLiteral("Sauvegarder les modifications ?")}));
  ASSERT_EQ(designed.size(), 1u);
  EXPECT_EQ(designed[0].Pages.front().Name, QStringLiteral("Mien"));
  EXPECT_EQ(FirstPageName(mine), QStringLiteral("Mien"));

  // Double-click on the template.
  Select(QStringLiteral("Devis/Utilisateur/Mien.fr3"));
  dialogs.QueueAnswer(true);
  emit w.tvTemplates()->itemDoubleClicked(Node(QStringLiteral("Devis/Utilisateur/Mien.fr3")), 0);
  EXPECT_EQ(designed.size(), 2u);
  EXPECT_EQ(FirstPageName(mine), QStringLiteral("Modifie"));

  // A favourite can be modified; a delivered template cannot.
  Select(QStringLiteral("Devis/Favoris/Prix nets.fr3"));
  dialogs.QueueAnswer(true);
  w.pop_updateClick();
  EXPECT_EQ(FirstPageName(QStringLiteral("DEVIS/Devis/Favoris/Portrait/Prix nets.fr3")), QStringLiteral("Modifie"));
  dialogs.Questions.clear();
  Select(QStringLiteral("Devis/Corvanel/Prix nets.fr3"));
  w.pop_updateClick();
  EXPECT_TRUE(dialogs.Questions.isEmpty());
  EXPECT_EQ(designed.size(), 3u);
  EXPECT_EQ(FirstPageName(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3")), QStringLiteral("PrixNets"));

  // A template gone since the tree was built: the designer opens on an
  // empty report, without a message.
  Select(QStringLiteral("Devis/Utilisateur/Mien.fr3"));
  QFile::remove(root + mine);
  dialogs.QueueAnswer(false);
  w.pop_updateClick();
  ASSERT_EQ(designed.size(), 4u);
  EXPECT_EQ(designed[3].Pages.front().Name, report::BlankTemplate().Pages.front().Name);
  EXPECT_TRUE(dialogs.Messages.isEmpty());
}

TEST_F(TemplateActions, RenameLoopsOnTakenNamesUntilChangedOrClosed) {
  UsualLibrary();
  Template(QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Autre.fr3"));
  TFicheConfigPrint& w = Open();
  const QString folder = QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/");

  // The unchanged name and another taken name collide; then a new name.
  Select(QStringLiteral("Devis/Utilisateur/Mien.fr3"));
  names = {QStringLiteral("Mien.fr3"), QStringLiteral("Autre.fr3"), QStringLiteral("Renomme.fr3")};
  dialogs.QueueAnswer(true);
  w.pop_renameClick();
  EXPECT_EQ(Captions(shown), QStringList({QStringLiteral("Renommer le fichier / Mien.fr3"),
                                          kExistant + QStringLiteral(" / Mien.fr3"),
                                          kExistant + QStringLiteral(" / Autre.fr3")}));
  EXPECT_EQ(dialogs.Questions, QStringList({QStringLiteral("Renommer le fichier ?")}));
  EXPECT_FALSE(Exists(folder + QStringLiteral("Mien.fr3")));
  EXPECT_EQ(FirstPageName(folder + QStringLiteral("Renomme.fr3")), QStringLiteral("Mien"));
  EXPECT_NE(Node(QStringLiteral("Devis/Utilisateur/Renomme.fr3")), nullptr);

  // No to the question, or the collision dialog closed: nothing changes.
  shown.clear();
  Select(QStringLiteral("Devis/Utilisateur/Renomme.fr3"));
  names = {QStringLiteral("Non.fr3")};
  dialogs.QueueAnswer(false);
  w.pop_renameClick();
  Select(QStringLiteral("Devis/Utilisateur/Renomme.fr3"));
  names = {QStringLiteral("Autre.fr3"), QString()};
  w.pop_renameClick();
  Select(QStringLiteral("Devis/Utilisateur/Renomme.fr3"));
  names = {QString()};
  w.pop_renameClick();
  EXPECT_EQ(QDir(root + folder).entryList(QDir::Files),
            QStringList({QStringLiteral("Autre.fr3"), QStringLiteral("Renomme.fr3")}));

  // A name with a path is refused before anything else.
  dialogs.Questions.clear();
  Select(QStringLiteral("Devis/Utilisateur/Renomme.fr3"));
  names = {QStringLiteral("../../Corvanel/Portrait/Pirate.fr3"), QStringLiteral("Propre.fr3")};
  dialogs.QueueAnswer(true);
  w.pop_renameClick();
  EXPECT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(Exists(folder + QStringLiteral("Propre.fr3")));
  EXPECT_FALSE(Exists(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Pirate.fr3")));

  // Delivered templates are not renamed.
  shown.clear();
  Select(QStringLiteral("Devis/Corvanel/Prix nets.fr3"));
  w.pop_renameClick();
  EXPECT_TRUE(shown.empty());
}

TEST_F(TemplateActions, DeleteAsksAndReportsAFailure) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  const QString mine = QStringLiteral("DEVIS/Devis/Utilisateur/Portrait/Mien.fr3");
  Select(QStringLiteral("Devis/Utilisateur/Mien.fr3"));
  dialogs.QueueAnswer(false);
  w.pop_deleteClick();
  EXPECT_EQ(dialogs.Questions, QStringList({QStringLiteral("Supprimer le template ?")}));
  EXPECT_TRUE(Exists(mine));
  dialogs.QueueAnswer(true);
  w.pop_deleteClick();
  EXPECT_FALSE(Exists(mine));
  EXPECT_EQ(Node(QStringLiteral("Devis/Utilisateur/Mien.fr3")), nullptr);

  // Delivered templates are not deleted.
  dialogs.Questions.clear();
  Select(QStringLiteral("Devis/Corvanel/Prix nets.fr3"));
  w.pop_deleteClick();
  EXPECT_TRUE(dialogs.Questions.isEmpty());

  // A delete that fails is reported: here a folder now stands where the
  // listed file was.
  Select(QStringLiteral("Devis/Favoris/Prix nets.fr3"));
  const QString fav = root + QStringLiteral("DEVIS/Devis/Favoris/Portrait/Prix nets.fr3");
  QFile::remove(fav);
  QDir().mkpath(fav + QStringLiteral("/plein"));
  dialogs.QueueAnswer(true);
  w.pop_deleteClick();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains(QStringLiteral("Prix nets.fr3")));
}

TEST_F(TemplateActions, FavouritesAreCopiesAddedTwiceAndRemoved) {
  UsualLibrary();
  QFile::remove(root + QStringLiteral("DEVIS/Devis/Favoris/Portrait/Prix nets.fr3"));
  TFicheConfigPrint& w = Open();
  const QString fav = QStringLiteral("DEVIS/Devis/Favoris/Portrait/Prix TTC.fr3");
  Select(QStringLiteral("Devis/Corvanel/Prix TTC.fr3"));
  w.pop_addFavorisClick();
  EXPECT_EQ(FirstPageName(fav), QStringLiteral("Page1"));
  ASSERT_NE(Node(QStringLiteral("Devis/Favoris/Prix TTC.fr3")), nullptr);

  // Added again after the source changed: the copy is replaced.
  Template(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Prix TTC.fr3"), TfrxOrientation::Portrait,
           QStringLiteral("Nouveau"));
  Select(QStringLiteral("Devis/Corvanel/Prix TTC.fr3"));
  w.pop_addFavorisClick();
  EXPECT_EQ(FirstPageName(fav), QStringLiteral("Nouveau"));
  EXPECT_EQ(QDir(root + QStringLiteral("DEVIS/Devis/Favoris/Portrait")).entryList(QDir::Files | QDir::Hidden),
            QStringList({QStringLiteral("Prix TTC.fr3")}));

  // A user template is favoured too; removing a favourite deletes only the
  // copy.
  Select(QStringLiteral("Devis/Utilisateur/Mien.fr3"));
  w.pop_addFavorisClick();
  Select(QStringLiteral("Devis/Favoris/Prix TTC.fr3"));
  w.pop_addFavorisClick();
  EXPECT_FALSE(Exists(fav));
  EXPECT_TRUE(Exists(QStringLiteral("DEVIS/Devis/Corvanel/Portrait/Prix TTC.fr3")));
  EXPECT_TRUE(Exists(QStringLiteral("DEVIS/Devis/Favoris/Portrait/Mien.fr3")));
  EXPECT_TRUE(dialogs.Questions.isEmpty());
  EXPECT_TRUE(dialogs.Messages.isEmpty());

  // No "Favoris" folder for the orientation: the failed copy is reported.
  w.cbbOrientation()->setCurrentIndex(1);
  Select(QStringLiteral("Devis/Corvanel/Large.fr3"));
  w.pop_addFavorisClick();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains(QStringLiteral("Large.fr3")));
  EXPECT_FALSE(Exists(QStringLiteral("DEVIS/Devis/Favoris/Paysage/Large.fr3")));
}

TEST_F(TemplateActions, NothingHappensOnNodesThatNameNoTemplate) {
  UsualLibrary();
  TFicheConfigPrint& w = Open();
  for (const char* node : {"Acompte/Utilisateur", "Acompte", "Devis/Favoris"}) {
    SCOPED_TRACE(node);
    for (auto action : {&TFicheConfigPrint::pop_createClick, &TFicheConfigPrint::pop_updateClick,
                        &TFicheConfigPrint::pop_renameClick, &TFicheConfigPrint::pop_deleteClick,
                        &TFicheConfigPrint::pop_addFavorisClick}) {
      Select(QString::fromUtf8(node));
      (w.*action)();
    }
  }
  // Nothing selected at all.
  w.tvTemplates()->clearSelection();
  w.pop_createClick();
  w.pop_deleteClick();
  EXPECT_TRUE(dialogs.Questions.isEmpty());
  EXPECT_TRUE(dialogs.Messages.isEmpty());
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(designed.empty());
  EXPECT_FALSE(Exists(QStringLiteral("DEVIS/Acompte/Utilisateur")));
}

}  // namespace
}  // namespace configtest
