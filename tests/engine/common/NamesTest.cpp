// Names (tables, fields, indexes, parameters) compare by their ASCII
// letters alone, also when the process runs under a Turkish locale, where
// the C library upper-cases 'i' to a dotted capital I.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/SDBNames.h"
#include "sdb/SDBComponents.h"

using namespace sdb;

namespace {

namespace fs = std::filesystem;

// Builds tr_TR.ISO-8859-9 into a private folder (no system locale needed)
// and switches the process to it for the test's lifetime.
class TurkishLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("sdb_tr_locale_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string cmd =
        "localedef -c -i tr_TR -f ISO-8859-9 '" + (dir / "tr_TR.ISO-8859-9").string() + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "localedef cannot build tr_TR.ISO-8859-9";
    setenv("LOCPATH", dir.c_str(), 1);
    if (!std::setlocale(LC_ALL, "tr_TR.ISO-8859-9")) GTEST_SKIP() << "tr_TR.ISO-8859-9 not loadable";
    active = true;
    // The fault this guards against: the locale's own upper case of 'i'.
    ASSERT_NE(std::toupper('i'), 'I');
  }
  void TearDown() override {
    if (active) std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
  bool active = false;
};

struct NameCase {
  const char* a;
  const char* b;
  bool same;
};

const NameCase kNameCases[] = {
    {"id", "ID", true},
    {"i", "I", true},
    {"Istanbul", "ISTANBUL", true},
    {"fichier_Id2", "FICHIER_ID2", true},
    {"", "", true},
    {"id", "IDX", false},
    {"abc", "abd", false},
    {"\xFD", "I", false},  // dotless i (ISO-8859-9) is not the letter I
    {"\xDD", "i", false},  // nor is the dotted capital I
};

void CheckNames() {
  for (const NameCase& c : kNameCases) {
    EXPECT_EQ(SDBSameName(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SDBSameName(c.b, c.a), c.same) << c.b << " / " << c.a;
  }
  EXPECT_EQ(SDBUpperName("libelle_id"), "LIBELLE_ID");
  EXPECT_EQ(SDBUpperName("\xE9t\xE9"), "\xE9T\xE9");  // bytes above ASCII stay as they are
}

TEST(Names, CompareByAsciiLetters) { CheckNames(); }

TEST(Names, ListsSplitAtSemicolonsWithoutSpacesOrEmptyEntries) {
  const struct {
    const char* List;
    std::vector<std::string> Names;
  } cases[] = {
      {"", {}},
      {"Cle", {"Cle"}},
      {"Cle;Section", {"Cle", "Section"}},
      {" Cle ; Section ", {"Cle", "Section"}},
      {";;Cle;;", {"Cle"}},
      {"Prénom; Société", {"Prénom", "Société"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SDBSplitNames(c.List), c.Names) << '"' << c.List << '"';
}

TEST_F(TurkishLocale, NamesCompareAsUnderTheCLocale) { CheckNames(); }

TEST_F(TurkishLocale, QueriesFindFieldsIndexesAndParametersByName) {
  const fs::path file = dir / "names.sdb";
  TSDBDatabase db;
  db.SetDatabaseName("TurkishNames");
  db.SetDatabaseFileName(file.string());
  db.CreateDatabase();
  db.Open();
  TSDBQuery q;
  q.DatabaseName = "TurkishNames";
  q.SetSQL("CREATE TABLE Fichier (ID INTEGER, LIBELLE VARCHAR(20))");
  q.ExecSQL();
  q.SetSQL("CREATE INDEX ix_libelle ON fichier (libelle)");
  q.ExecSQL();
  q.SetSQL("INSERT INTO fichier (id, libelle) VALUES (:id, 'izmir')");
  q.ParamByName("ID").SetAsInteger(1);
  q.ExecSQL();
  q.SetSQL("SELECT f.id, libelle FROM fichier f WHERE id = :Id ORDER BY libelle");
  q.ParamByName("iD").SetAsInteger(1);
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("id").AsInteger(), 1);
  EXPECT_EQ(q.FieldByName("LIBELLE").AsString(), "izmir");
  q.Close();
  TSDBTable t;
  t.DatabaseName = "TurkishNames";
  t.TableName = "FICHIER";
  t.IndexName = "IX_LIBELLE";
  t.Open();
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.FieldByName("libelle").AsString(), "izmir");
  t.Close();
  db.Close();
}

}  // namespace
