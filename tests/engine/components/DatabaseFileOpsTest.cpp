// The file operations of the database component (password and settings
// changes, delete, rename, flush) and `tessaly-db passwd`.
#include <filesystem>
#include <fstream>

#include "../ToolRun.h"
#include "ExecFixture.h"
#include "sdb/SDBErrors.h"
#include "storage/maintenance/SDBDatabaseCheck.h"

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

// TotalPageCount and LastUsedPageNo as the file's header holds them.
std::pair<int32_t, int32_t> PageCounts(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  uint8_t b[8] = {};
  in.seekg(30);
  in.read(reinterpret_cast<char*>(b), 8);
  auto le = [&](int i) { return static_cast<int32_t>(b[i] | b[i + 1] << 8 | b[i + 2] << 16 | uint32_t{b[i + 3]} << 24); };
  return {le(0), le(4)};
}

// The free pages a dropped table leaves at the end of the file are cut
// off; the pages in use and their rows stay, and the file grows again.
TEST_F(EncipheredFileOps, TruncateDatabaseCutsTheFreePagesAtTheEnd) {
  db->Open();
  Exec("CREATE TABLE Big (ID INTEGER, M MEMO)");
  for (int i = 0; i < 40; ++i)
    Exec("INSERT INTO Big VALUES (" + std::to_string(i) + ", '" + std::string(3000 + i * 97, 'x') + "')");
  Exec("DROP TABLE Big");
  db->Close();
  const auto [total, last] = PageCounts(path);
  ASSERT_GT(total, last + 1) << "the dropped table should leave free pages at the end";
  const auto sizeBefore = std::filesystem::file_size(path);

  db->TruncateDatabase();
  const auto [totalAfter, lastAfter] = PageCounts(path);
  EXPECT_EQ(lastAfter, last);
  EXPECT_EQ(totalAfter, last + 1);
  EXPECT_EQ(std::filesystem::file_size(path), sizeBefore - uint64_t(total - totalAfter) * 4096);
  EXPECT_TRUE(SDBCheckDatabase(path, "pw").Ok());
  // Nothing more to cut the second time.
  db->TruncateDatabase();
  EXPECT_EQ(PageCounts(path).first, totalAfter);

  db->Open();
  EXPECT_EQ(Query("SELECT ID, NAME FROM T ORDER BY ID"), Before);
  Exec("CREATE TABLE Again (M MEMO)");
  Exec("INSERT INTO Again VALUES ('" + std::string(20000, 'y') + "')");
  EXPECT_EQ(Query("SELECT LENGTH(M) FROM Again"), (Rows{{"20000"}}));
  db->Close();
  EXPECT_GT(PageCounts(path).first, totalAfter);
  EXPECT_TRUE(SDBCheckDatabase(path, "pw").Ok());
}

// Like the other file operations it needs the file for itself, and it
// refuses a file whose last used page may be wrong; each refusal leaves
// the file as it was.
TEST_F(EncipheredFileOps, TruncateDatabaseRefusals) {
  const auto size = std::filesystem::file_size(path);
  db->Open();
  EXPECT_EQ(CodeOf([&] { db->TruncateDatabase(); }), kSDBErrDatabaseOpen);
  db->Close();
  TSDBDatabase other;
  other.SetDatabaseName(name + "_other");
  other.SetDatabaseFileName(path);
  other.Password = "pw";
  other.Open();
  EXPECT_EQ(CodeOf([&] { db->TruncateDatabase(); }), kSDBErrDatabaseFileInUse);
  other.Close();
  db->Password = "wrong";
  EXPECT_EQ(CodeOf([&] { db->TruncateDatabase(); }), kSDBErrWrongPassword);
  db->Password = "pw";
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(42);
    f.put(1);  // a commit was interrupted
  }
  const std::string message = MessageOf([&] { db->TruncateDatabase(); });
  EXPECT_NE(message.find("it needs repair first"), std::string::npos) << message;
  EXPECT_EQ(std::filesystem::file_size(path), size);
  TSDBDatabase missing;
  missing.SetDatabaseName(name + "_missing");
  missing.SetDatabaseFileName(path + ".missing");
  EXPECT_EQ(CodeOf([&] { missing.TruncateDatabase(); }), kSDBErrDatabaseFileMissing);
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
