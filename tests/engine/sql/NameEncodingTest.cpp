// Table, field and index names arrive in UTF-8 like every text the engine
// is given, are stored in Windows-1252 as the file format has them (so a
// program sharing the file reads "Clé", not "ClÃ©"), and come back in UTF-8
// wherever the engine hands a name out. A name Windows-1252 cannot hold is
// refused before anything is written.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "../components/ExecFixture.h"
#include "sdb/SDBErrors.h"
#include "storage/table/SDBTableData.h"

using namespace sdb;
using namespace sdbtest;

namespace {

class NameEncoding : public ExecFixture {
 protected:
  void Reopen() {
    db.reset();
    db = std::make_unique<TSDBDatabase>();
    db->SetDatabaseName(name);
    db->SetDatabaseFileName(path);
    db->Open();
  }
  std::vector<std::string> Tables() { return db->Handle().GetTablesList(); }
  std::vector<std::string> ResultFieldNames(const std::string& sql) {
    TSDBQuery q;
    Prepare(q, sql, {});
    q.Open();
    std::vector<std::string> names;
    for (int i = 0; i < q.FieldCount(); ++i) names.push_back(q.Fields(i).FieldName());
    q.Close();
    return names;
  }
  // The table's metadata in the stored form.
  std::string StoredMetadata(const std::string& table) {
    TSDBCursor c;
    db->Handle().OpenTable(c, table);
    const std::vector<uint8_t> bytes = c.TableData->BuildMetadata().Save();
    db->Handle().CloseTable(c);
    return std::string(bytes.begin(), bytes.end());
  }
  std::string FileBytes() {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
};

TEST_F(NameEncoding, AccentedNamesAreStoredInWindows1252AndHandedOutInUtf8) {
  Exec("CREATE TABLE \"Clé€\" (Données VARCHAR(10), Œuvre INTEGER, PRIMARY KEY (Œuvre))");
  Exec("CREATE INDEX Index_é ON Clé€ (Données)");
  Exec("INSERT INTO Clé€ (Données, Œuvre) VALUES ('été', 1)");
  // Stored: the catalogue (never compressed) and the metadata hold the
  // Windows-1252 bytes ("é" = E9, "€" = 80, "Œ" = 8C), not the UTF-8 ones.
  const std::string meta = StoredMetadata("Clé€");
  for (const char* stored : {"Donn\xE9" "es", "\x8Cuvre", "Index_\xE9", "Cl\xE9\x80"})
    EXPECT_NE(meta.find(stored), std::string::npos) << stored;
  EXPECT_EQ(meta.find("Donn\xC3\xA9"), std::string::npos);
  db.reset();
  const std::string file = FileBytes();
  EXPECT_NE(file.find("Cl\xE9\x80"), std::string::npos);
  EXPECT_EQ(file.find("Cl\xC3\xA9"), std::string::npos);

  // Handed out in UTF-8 after the file is read again.
  Reopen();
  EXPECT_EQ(Tables(), std::vector<std::string>{"Clé€"});
  EXPECT_EQ(ResultFieldNames("SELECT * FROM \"Clé€\""), (std::vector<std::string>{"Données", "Œuvre"}));
  // Names compare the one way they always do: ASCII letters without
  // regard to case, every other character as it is.
  EXPECT_EQ(Query("SELECT ŒUVRE FROM \"CLé€\" WHERE dONNéES = 'été'"), (Rows{{"1"}}));
  EXPECT_EQ(CodeOf([&] { Query("SELECT Œuvre FROM \"CLÉ€\""); }), kSDBErrLoadMissingTable);
  // The constraints keep working under the stored names.
  EXPECT_EQ(CodeOf([&] { Exec("INSERT INTO \"Clé€\" (Œuvre) VALUES (1)"); }), kSDBErrPrimaryKeyViolated);

  // Renaming a table or a column keeps the same rules.
  Exec("RENAME TABLE \"Clé€\" TO Année");
  Exec("ALTER TABLE Année RENAME Données TO Élément");
  Reopen();
  EXPECT_EQ(Tables(), std::vector<std::string>{"Année"});
  EXPECT_EQ(ResultFieldNames("SELECT * FROM Année"), (std::vector<std::string>{"Élément", "Œuvre"}));
  EXPECT_NE(StoredMetadata("Année").find("\xC9l\xE9ment"), std::string::npos);
}

TEST_F(NameEncoding, ANameWindows1252CannotHoldIsRefusedAndChangesNothing) {
  Exec("CREATE TABLE T (A INTEGER)");
  Exec("INSERT INTO T VALUES (1)");
  const char* refused[] = {
      "CREATE TABLE \"Ωmega\" (A INTEGER)",
      "CREATE TABLE U (AΩ INTEGER)",
      "CREATE INDEX IdxΩ ON T (A)",
      "RENAME TABLE T TO \"TΩ\"",
      "ALTER TABLE T ADD BΩ INTEGER",
      "ALTER TABLE T RENAME A TO AΩ",
  };
  for (const char* sql : refused) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(CodeOf([&] { Exec(sql); }), kSDBErrNameCharacter);
    EXPECT_NE(MessageOf([&] { Exec(sql); }).find("cannot hold the character 'Ω'"), std::string::npos);
    Reopen();
    EXPECT_EQ(Tables(), std::vector<std::string>{"T"});
    EXPECT_EQ(Query("SELECT * FROM T"), (Rows{{"1"}}));
    EXPECT_EQ(ResultFieldNames("SELECT * FROM T"), std::vector<std::string>{"A"});
  }
  // Without an index left behind.
  Exec("CREATE INDEX IdxA ON T (A)");
}

}  // namespace
