// The database file wrapper: messages and codes of its failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sdb/SDBException.h"
#include "storage/file/SDBDatabaseFile.h"

namespace sdb {
namespace {

namespace fs = std::filesystem;

int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESDBException& e) {
    return e.NativeError();
  }
  return 0;
}

TEST(DatabaseFileTest, FailuresCarryTheirCodes) {
  const std::string file = (fs::temp_directory_path() / ("sdb_df_" + std::to_string(getpid()))).string();
  TSDBDatabaseFile f;
  char buf[16] = {};
  EXPECT_EQ(ErrorOf([&] { f.ReadBuffer(buf, 111, 0, 4); }), 30376);
  EXPECT_EQ(ErrorOf([&] { f.CreateAndOpenFile(""); }), 30374);
  EXPECT_EQ(ErrorOf([&] { f.OpenFile(file + ".missing", amReadOnly, smShareDenyNone); }), 30364);
  EXPECT_EQ(ErrorOf([&] { f.OpenFile(file, static_cast<TSDBAccessMode>(7), smShareDenyNone); }), 30366);
  EXPECT_EQ(ErrorOf([&] { f.OpenFile(file, amReadOnly, static_cast<TSDBShareMode>(7)); }), 30367);

  f.CreateAndOpenFile(file);
  EXPECT_EQ(ErrorOf([&] { f.OpenFile(file, amReadOnly, smShareDenyNone); }), 30377);
  f.WriteBuffer("abcdef", 222, 0, 6);
  EXPECT_EQ(f.GetSize(), 6);
  EXPECT_EQ(f.GetPosition(), 6);
  EXPECT_EQ(ErrorOf([&] { f.ReadBuffer(buf, 333, 4, 4); }), 333);  // short read: caller's code
  EXPECT_FALSE(f.ReadBuffer(buf, 4, 4));
  EXPECT_TRUE(f.ReadBuffer(buf, 2, 4));
  EXPECT_EQ(std::string(buf, 4), "cdef");
  EXPECT_EQ(ErrorOf([&] { f.SetPosition(-1); }), 30372);
  EXPECT_EQ(ErrorOf([&] { f.SetSize(-1); }), 30370);
  f.SetSize(3);
  EXPECT_EQ(f.GetSize(), 3);
  try {
    f.ReadBuffer(buf, 444, 1, 10);
    FAIL();
  } catch (const ESDBException& e) {
    EXPECT_EQ(std::string(e.RawMessage()).rfind("Cannot Read from file: '" + file + "' Position = 1, Count = 10, ", 0), 0u)
        << e.RawMessage();
  }
  f.CloseFile();
  EXPECT_EQ(ErrorOf([&] { f.CloseFile(); }), 30376);

  // An existing read-only file is replaced on creation.
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::remove);
  f.CreateAndOpenFile(file);
  EXPECT_EQ(f.GetSize(), 0);
  f.CloseFile();
  f.RenameFile(file, file + ".b");
  EXPECT_EQ(ErrorOf([&] { f.RenameFile(file, file + ".c"); }), 30378);
  f.DeleteFile(file + ".b");
  EXPECT_EQ(ErrorOf([&] { f.DeleteFile(file + ".b"); }), 30362);
}

}  // namespace
}  // namespace sdb
