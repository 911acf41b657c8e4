// The settings data module over a real settings database made by
// `tessaly-db settings-init`.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "ToolRun.h"
#include "sdb/SDBException.h"
#include "sdb/SDBComponents.h"
#include "settings/DataModuleSdb.h"

namespace fs = std::filesystem;
using tessaly::TDataModuleSdb;

namespace {

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("tessaly-settings-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    file = (dir / "Parametres.sdb").string();
    auto r = sdbtest::Tool("settings-init '" + file + "'");
    ASSERT_EQ(r.Code, 0) << r.Output;
  }
  void TearDown() override { fs::remove_all(dir); }

  // Counts rows through a query of its own on the module's database.
  int64_t Count(const std::string& where) {
    sdb::TSDBQuery q;
    q.DatabaseName = "Parametres";
    q.SetSQL("SELECT * FROM Parametres WHERE " + where);
    q.Open();
    int64_t n = q.RecordCount();
    q.Close();
    return n;
  }
  void Exec(const std::string& sql) {
    sdb::TSDBQuery q;
    q.DatabaseName = "Parametres";
    q.SetSQL(sql);
    q.ExecSQL();
  }

  fs::path dir;
  std::string file;
};

TEST_F(SettingsStore, WritesAndReadsEachValueType) {
  TDataModuleSdb dm;
  ASSERT_TRUE(dm.OuvertureBDD(file));
  // Nothing stored: every read gives its default, nothing exists.
  EXPECT_EQ(dm.LectureChaine("A1", "U1", "DEVIS", "Orientation", "Portrait"), "Portrait");
  EXPECT_EQ(dm.LectureEntier("A1", "U1", "Mail", "Port", 25), 25);
  EXPECT_EQ(dm.LectureMemo("A1", "U1", "MailModele", "0", "vide"), "vide");
  EXPECT_FALSE(dm.ExisteChaine("A1", "U1", "DEVIS", "Orientation"));

  dm.EcritureChaine("A1", "U1", "DEVIS", "Orientation", "Paysage");
  EXPECT_TRUE(dm.AjoutEntier("A1", "U1", "Mail", "Port", 587));
  EXPECT_TRUE(dm.AjoutMemo("A1", "U1", "MailModele", "0", "Bonjour,\r\nCordialement"));
  EXPECT_EQ(dm.LectureChaine("A1", "U1", "DEVIS", "Orientation", "Portrait"), "Paysage");
  EXPECT_EQ(dm.LectureEntier("A1", "U1", "Mail", "Port", 25), 587);
  EXPECT_EQ(dm.LectureMemo("A1", "U1", "MailModele", "0", ""), "Bonjour,\r\nCordialement");

  // The value type is part of the key of reads and existence tests.
  EXPECT_TRUE(dm.ExisteEntier("A1", "U1", "Mail", "Port"));
  EXPECT_FALSE(dm.ExisteChaine("A1", "U1", "Mail", "Port"));
  // Texts are compared with their letter case.
  EXPECT_FALSE(dm.ExisteChaine("a1", "U1", "DEVIS", "Orientation"));

  // Updates match agency, user, section and key.
  EXPECT_TRUE(dm.ModifEntier("A1", "U1", "Mail", "Port", 465));
  EXPECT_EQ(dm.LectureEntier("A1", "U1", "Mail", "Port", 25), 465);
  EXPECT_TRUE(dm.ModifMemo("A1", "U1", "MailModele", "0", "Madame, Monsieur"));
  EXPECT_EQ(dm.LectureMemo("A1", "U1", "MailModele", "0", ""), "Madame, Monsieur");
  // An update of a missing setting changes nothing and says so.
  EXPECT_FALSE(dm.ModifChaine("A1", "U1", "DEVIS", "Logo", "x.png"));

  // Accented text survives the 8-bit storage.
  dm.EcritureChaine("A1", "U1", "FACTURE", "PiedDePage1", "Société Générale — 5 €");
  EXPECT_EQ(dm.LectureChaine("A1", "U1", "FACTURE", "PiedDePage1", ""), "Société Générale — 5 €");
  EXPECT_TRUE(dm.FermetureBDD());
}

TEST_F(SettingsStore, EcritureChaineInsertsThenUpdates) {
  TDataModuleSdb dm;
  dm.OuvertureBDD(file);
  dm.EcritureChaine("A", "U", "Impression", "DerniereImprimante", "PDF");
  dm.EcritureChaine("A", "U", "Impression", "DerniereImprimante", "Laser");
  EXPECT_EQ(Count("Cle = 'DerniereImprimante'"), 1);
  EXPECT_EQ(dm.LectureChaine("A", "U", "Impression", "DerniereImprimante", ""), "Laser");
}

TEST_F(SettingsStore, EmptyTextsAndNulls) {
  TDataModuleSdb dm;
  dm.OuvertureBDD(file);
  // An empty text is stored as null and reads back as the default.
  dm.EcritureChaine("A", "U", "DEVIS", "Orientation", "");
  EXPECT_EQ(Count("Cle = 'Orientation' AND ValeurChaine IS NULL"), 1);
  EXPECT_EQ(dm.LectureChaine("A", "U", "DEVIS", "Orientation", "Portrait"), "Portrait");

  // A null ENTIER reads as 0, not as the default.
  Exec("INSERT INTO Parametres (Agence, Utilisateur, `Section`, Cle, ValeurType) VALUES ('A', 'U', 'Mail', "
       "'UseTLS', 'ENTIER')");
  EXPECT_EQ(dm.LectureEntier("A", "U", "Mail", "UseTLS", 3), 0);

  // Empty agency and user work on the rows where they are null, consistently.
  dm.EcritureChaine("", "", "Mail", "Host", "smtp.example.org");
  EXPECT_EQ(Count("Cle = 'Host' AND Agence IS NULL AND Utilisateur IS NULL"), 1);
  EXPECT_TRUE(dm.ExisteChaine("", "", "Mail", "Host"));
  dm.EcritureChaine("", "", "Mail", "Host", "mail.example.org");
  EXPECT_EQ(Count("Cle = 'Host'"), 1);
  EXPECT_EQ(dm.LectureChaine("", "", "Mail", "Host", ""), "mail.example.org");
  // A named agency does not see them.
  EXPECT_EQ(dm.LectureChaine("A", "", "Mail", "Host", "none"), "none");

  // A row whose value type is null never matches.
  Exec("INSERT INTO Parametres (Agence, Utilisateur, `Section`, Cle, ValeurChaine) VALUES ('A', 'U', 'DEVIS', "
       "'Logo', 'x.png')");
  EXPECT_FALSE(dm.ExisteChaine("A", "U", "DEVIS", "Logo"));
  EXPECT_EQ(dm.LectureChaine("A", "U", "DEVIS", "Logo", "d"), "d");
}

TEST_F(SettingsStore, DuplicateRowsCountAsMissing) {
  TDataModuleSdb dm;
  dm.OuvertureBDD(file);
  EXPECT_TRUE(dm.AjoutChaine("A", "U", "DEVIS", "Logo", "a.png"));
  EXPECT_TRUE(dm.AjoutChaine("A", "U", "DEVIS", "Logo", "b.png"));
  EXPECT_FALSE(dm.ExisteChaine("A", "U", "DEVIS", "Logo"));
  EXPECT_EQ(dm.LectureChaine("A", "U", "DEVIS", "Logo", "none"), "none");
  // Both rows are updated, so the update does not report one row.
  EXPECT_FALSE(dm.ModifChaine("A", "U", "DEVIS", "Logo", "c.png"));
  EXPECT_EQ(Count("ValeurChaine = 'c.png'"), 2);
}

TEST_F(SettingsStore, ReadAfterCloseReopensAndStaysOpen) {
  TDataModuleSdb dm;
  dm.OuvertureBDD(file);
  dm.EcritureChaine("A", "U", "Mail", "Login", "moi");
  dm.FermetureBDD();
  EXPECT_FALSE(dm.Parametres().Connected());
  EXPECT_EQ(dm.LectureChaine("A", "U", "Mail", "Login", ""), "moi");
  EXPECT_TRUE(dm.Parametres().Connected());
  // The same path again keeps the connection; closing twice is harmless.
  EXPECT_TRUE(dm.OuvertureBDD(file));
  EXPECT_TRUE(dm.FermetureBDD());
  EXPECT_TRUE(dm.FermetureBDD());
}

TEST_F(SettingsStore, MissingFileAndWrongPassword) {
  {
    TDataModuleSdb dm;
    const std::string missing = (dir / "absent.sdb").string();
    try {
      dm.OuvertureBDD(missing);
      FAIL() << "opened a missing file";
    } catch (const sdb::ESDBException& e) {
      EXPECT_NE(std::string(e.what()).find("Database file '" + missing + "' does not exist"), std::string::npos)
          << e.what();
    }
    EXPECT_FALSE(dm.Parametres().Connected());
    // The database name is the process's one settings database.
    EXPECT_THROW(TDataModuleSdb(), sdb::ESDBException);
  }
  TDataModuleSdb dm;
  dm.Parametres().Password = "not the password";
  dm.Parametres().SilentMode = true;
  EXPECT_THROW(dm.OuvertureBDD(file), sdb::ESDBException);
  EXPECT_FALSE(dm.Parametres().Connected());
  dm.Parametres().Password = tessaly::kSettingsPassword;
  EXPECT_TRUE(dm.OuvertureBDD(file));
}

// The administrator's tool and the data module see the same values.
TEST_F(SettingsStore, ToolAndModuleAgree) {
  auto r = sdbtest::Tool("settings '" + file + "' set A U Mail Port 2525 --type ENTIER");
  ASSERT_EQ(r.Code, 0) << r.Output;
  r = sdbtest::Tool("settings '" + file + "' set A U DEVIS CGV 'Article 1%Article 2'");
  ASSERT_EQ(r.Code, 0) << r.Output;
  {
    TDataModuleSdb dm;
    dm.OuvertureBDD(file);
    EXPECT_EQ(dm.LectureEntier("A", "U", "Mail", "Port", 0), 2525);
    EXPECT_EQ(dm.LectureChaine("A", "U", "DEVIS", "CGV", ""), "Article 1%Article 2");
    dm.EcritureChaine("A", "U", "DEVIS", "Logo", "logo é.png");
    dm.FermetureBDD();
  }
  r = sdbtest::Tool("settings '" + file + "' get A U DEVIS Logo");
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Output, "logo é.png\n");
  r = sdbtest::Tool("settings '" + file + "' get A U DEVIS Absent");
  EXPECT_EQ(r.Code, 1);
  r = sdbtest::Tool("settings '" + file + "' set A U Mail Port douze --type ENTIER");
  EXPECT_NE(r.Code, 0);
  EXPECT_NE(r.Output.find("not an integer"), std::string::npos) << r.Output;
  r = sdbtest::Tool("settings '" + file + "' list --section Mail");
  EXPECT_EQ(r.Code, 0) << r.Output;
  EXPECT_NE(r.Output.find("A\tU\tMail\tPort\tENTIER\t2525\n"), std::string::npos) << r.Output;
  EXPECT_EQ(r.Output.find("DEVIS"), std::string::npos) << r.Output;
  // settings-init refuses to overwrite.
  r = sdbtest::Tool("settings-init '" + file + "'");
  EXPECT_NE(r.Code, 0);
}

// Two processes writing different keys of one database at once lose nothing.
TEST_F(SettingsStore, ConcurrentWritersLoseNothing) {
  constexpr int kKeys = 40;
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int code = 0;
      try {
        TDataModuleSdb dm;
        dm.OuvertureBDD(file);
        for (int i = 0; i < kKeys; ++i) {
          std::string key = "K" + std::to_string(p) + "_" + std::to_string(i);
          dm.EcritureChaine("A", "U", "Concurrent", key, "v" + std::to_string(i));
          if (dm.LectureChaine("A", "U", "Concurrent", key, "") != "v" + std::to_string(i)) code = 3;
        }
        dm.FermetureBDD();
      } catch (const std::exception& e) {
        fprintf(stderr, "child %d: %s\n", p, e.what());
        code = 2;
      }
      _exit(code);
    }
    children[p] = pid;
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  TDataModuleSdb dm;
  dm.OuvertureBDD(file);
  EXPECT_EQ(Count("`Section` = 'Concurrent'"), 2 * kKeys);
  for (int p = 0; p < 2; ++p)
    for (int i = 0; i < kKeys; ++i)
      EXPECT_EQ(dm.LectureChaine("A", "U", "Concurrent", "K" + std::to_string(p) + "_" + std::to_string(i), ""),
                "v" + std::to_string(i));
}

}  // namespace

namespace {

// A text the 8-bit columns cannot hold is refused by name, and nothing is
// stored; a key that cannot be stored is simply absent.
TEST_F(SettingsStore, TextsOutsideWindows1252AreRefusedNotReplaced) {
  TDataModuleSdb dm;
  ASSERT_TRUE(dm.OuvertureBDD(file));
  const std::string greek = "\xCE\xB1\xCE\xB2";  // "αβ"
  const struct {
    std::function<void()> Write;
    const char* Column;
  } cases[] = {
      {[&] { dm.EcritureChaine("A", "U", "DEVIS", "Titre", "Devis " + greek); }, "ValeurChaine"},
      {[&] { dm.AjoutMemo("A", "U", "MailModele", "0", "Bonjour " + greek); }, "ValeurMemo"},
      {[&] { dm.AjoutEntier("A", greek, "Mail", "Port", 25); }, "Utilisateur"},
      {[&] { dm.AjoutChaine("A", "U", greek, "Cle", "x"); }, "Section"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Column);
    try {
      c.Write();
      ADD_FAILURE() << "accepted";
    } catch (const sdb::ESDBException& e) {
      const std::string msg = e.what();
      EXPECT_NE(msg.find(std::string("'") + c.Column + "'"), std::string::npos) << msg;
      EXPECT_NE(msg.find("'\xCE\xB1'"), std::string::npos) << msg;  // the first such character
    }
  }
  EXPECT_EQ(Count("1 = 1"), 0);
  EXPECT_FALSE(dm.ExisteChaine("A", greek, "DEVIS", "Titre"));
  EXPECT_EQ(dm.LectureChaine("A", "U", greek, "Cle", "defaut"), "defaut");
  // "œ", "€" and "—" are Windows-1252 characters.
  dm.EcritureChaine("A", "U", "DEVIS", "Titre", "\xC5\x93uvre \xE2\x82\xAC \xE2\x80\x94");
  EXPECT_EQ(dm.LectureChaine("A", "U", "DEVIS", "Titre", ""), "\xC5\x93uvre \xE2\x82\xAC \xE2\x80\x94");
}

}  // namespace
