// The file operations of the database component (password and settings
// changes, delete, rename, flush) and `tessaly-db passwd`.
#include <filesystem>
#include <fstream>

#include "../ToolRun.h"
#include "ExecFixture.h"
#include "sdb/SDBErrors.h"

using namespace sdb;
using namespace sdbtest;

namespace {

class FileOps : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE T (ID INTEGER, NAME VARCHAR(20), PRIMARY KEY (ID))");
    for (int i = 0; i < 30; ++i) Exec("INSERT INTO T VALUES (" + std::to_string(i) + ", 'n" + std::to_string(i) + "')");
    Before = Query("SELECT ID, NAME FROM T ORDER BY ID");
    db->Close();
  }
  void TearDown() override {
    ExecFixture::TearDown();
    std::error_code ec;
    for (const std::string& p : Extra) std::filesystem::remove(p, ec);
  }
  // Opens the file with that password in a component of its own, reads
  // the table and closes again; the native error code of a failure.
  int OpenWith(const std::string& pw, Rows* rows = nullptr) {
    db->Password = pw;
    const int code = CodeOf([&] { db->Open(); });
    if (code == 0 && rows) *rows = Query("SELECT ID, NAME FROM T ORDER BY ID");
    db->Close();
    return code;
  }
  Rows Before;
  std::vector<std::string> Extra;
};

class EncipheredFileOps : public FileOps {
 protected:
  void SetUp() override {
    password = "pw";
    FileOps::SetUp();
  }
};

// A new password replaces the old one (accents included: the key is made
// from the Windows-1252 bytes); an empty one removes the cipher. Each
// step keeps every row.
TEST_F(EncipheredFileOps, ChangePasswordReplacesOrRemovesThePassword) {
  std::vector<int> progress;
  db->OnChangePasswordProgress = [&](TSDBDatabase&, int p) { progress.push_back(p); };
  db->ChangePassword("Été €1");
  EXPECT_EQ(db->Password, "Été €1");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  Rows rows;
  EXPECT_EQ(OpenWith("pw"), kSDBErrWrongPassword);
  EXPECT_EQ(OpenWith("Été €1", &rows), 0);
  EXPECT_EQ(rows, Before);

  db->ChangePassword("");
  rows.clear();
  EXPECT_EQ(OpenWith("", &rows), 0);
  EXPECT_EQ(rows, Before);
}

// Each refusal leaves the file under its old password with its rows.
TEST_F(EncipheredFileOps, ChangePasswordRefusalsLeaveTheFileAsItWas) {
  db->Password = "wrong";
  EXPECT_EQ(CodeOf([&] { db->ChangePassword("new"); }), kSDBErrWrongPassword);
  db->Password = "pw";
  EXPECT_EQ(CodeOf([&] { db->ChangePassword("日本"); }), kSDBErrPasswordCharacter);
  db->Open();
  EXPECT_EQ(CodeOf([&] { db->ChangePassword("new"); }), kSDBErrDatabaseOpen);
  db->Close();
  // Another connection holds the file: the rewrite needs it for itself.
  TSDBDatabase other;
  other.SetDatabaseName(name + "_other");
  other.SetDatabaseFileName(path);
  other.Password = "pw";
  other.Open();
  EXPECT_NE(CodeOf([&] { db->ChangePassword("new"); }), 0);
  other.Close();
  Rows rows;
  EXPECT_EQ(OpenWith("pw", &rows), 0);
  EXPECT_EQ(rows, Before);
  EXPECT_FALSE(std::filesystem::exists(path + ".compact~"));
}

// The settings are rewritten into the file, and a component that opens
// the file takes the file's settings, not its creation defaults.
TEST_F(EncipheredFileOps, ChangeDatabaseSettingsRewritesAndOpenReadsThem) {
  db->CryptoAlgorithm = craBlowfish;
  db->PageSize = 8192;
  db->PagesPerExtent = 16;
  db->ChangeDatabaseSettings();

  TSDBDatabase fresh;
  fresh.SetDatabaseName(name + "_fresh");
  fresh.SetDatabaseFileName(path);
  fresh.Password = "pw";
  EXPECT_EQ(fresh.PageSize, 4096);
  fresh.Open();
  EXPECT_EQ(fresh.PageSize, 8192);
  EXPECT_EQ(fresh.PagesPerExtent, 16);
  EXPECT_EQ(fresh.CryptoAlgorithm, craBlowfish);
  fresh.Close();
  Rows rows;
  EXPECT_EQ(OpenWith("pw", &rows), 0);
  EXPECT_EQ(rows, Before);

  // A page size the file layer refuses changes nothing.
  db->PageSize = 100;
  EXPECT_EQ(CodeOf([&] { db->ChangeDatabaseSettings(); }), kSDBErrInvalidDatabaseParameters);
  fresh.Open();
  EXPECT_EQ(fresh.PageSize, 8192);
}

TEST_F(FileOps, DeleteAndRenameMoveTheFileOrRefuse) {
  const std::string moved = path + ".moved";
  Extra.push_back(moved);
  // The target exists: both files stay.
  { std::ofstream(moved) << "x"; }
  EXPECT_EQ(CodeOf([&] { db->RenameDatabase(moved); }), kSDBErrDatabaseFileExists);
  EXPECT_EQ(db->DatabaseFileName(), path);
  std::filesystem::remove(moved);

  db->Open();
  EXPECT_EQ(CodeOf([&] { db->RenameDatabase(moved); }), kSDBErrDatabaseOpen);
  EXPECT_EQ(CodeOf([&] { db->DeleteDatabase(); }), kSDBErrDatabaseOpen);
  db->Close();

  db->RenameDatabase(moved);
  EXPECT_EQ(db->DatabaseFileName(), moved);
  EXPECT_FALSE(std::filesystem::exists(path));
  Rows rows;
  EXPECT_EQ(OpenWith("", &rows), 0);
  EXPECT_EQ(rows, Before);

  db->DeleteDatabase();
  EXPECT_FALSE(std::filesystem::exists(moved));
  EXPECT_EQ(CodeOf([&] { db->DeleteDatabase(); }), kSDBErrDatabaseFileMissing);
  EXPECT_EQ(CodeOf([&] { db->RenameDatabase(path); }), kSDBErrDatabaseFileMissing);
}

TEST_F(FileOps, FlushBuffersNeedsAnOpenDatabase) {
  EXPECT_EQ(CodeOf([&] { db->FlushBuffers(); }), kSDBErrDatabaseNotOpen);
  db->Open();
  Exec("INSERT INTO T VALUES (100, 'x')");
  EXPECT_EQ(CodeOf([&] { db->FlushBuffers(); }), 0);
}

TEST_F(EncipheredFileOps, ToolPasswdChangesOrRemovesThePassword) {
  const TToolCase cases[] = {
      {"passwd FILE --password nope --new-password x", 1, "incorrect password"},
      {"passwd FILE --password pw", 2, "give either --new-password NEW or --remove"},
      {"passwd FILE --password pw --new-password x --remove", 2, "give either"},
      {"passwd FILE --password pw --new-password ''", 2, "use --remove"},
      {"passwd FILE --password pw --new-password 日本", 1, "password cannot hold"},
      {"passwd FILE --password pw --new-password 'clé 2'", 0, "changed the password of"},
      {"passwd FILE --password pw --remove", 1, "incorrect password"},
      {"passwd FILE --password 'clé 2' --remove", 0, "removed the password of"},
      {"passwd FILE.missing --remove", 1, "does not exist"},
  };
  ExpectToolCases(cases, path);
  Rows rows;
  EXPECT_EQ(OpenWith("", &rows), 0);
  EXPECT_EQ(rows, Before);
}

}  // namespace
