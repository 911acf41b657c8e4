// Passwords are text: the key is made from their Windows-1252 bytes, so a
// program on another code page opens the same file with the same password;
// a password with a character Windows-1252 cannot hold is refused by name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../ToolRun.h"
#include "../components/ExecFixture.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBText.h"
#include "common/SDBCRC.h"
#include "storage/file/SDBCrypto.h"
#include "storage/file/SDBPageManager.h"

using namespace sdb;
using namespace sdbtest;

namespace {

struct TPasswordCase {
  const char* Utf8;
  const char* Ansi;  // the bytes the key is made from
};

const TPasswordCase kPasswords[] = {
    {"plain", "plain"},
    {"\xC3\x89t\xC3\xA9", "\xC9t\xE9"},                      // "Été"
    {"\xE2\x82\xAC \xC5\x93uvre", "\x80 \x9Cuvre"},           // "€ œuvre"
    {"Stra\xC3\x9F" "e \xE2\x80\x93 \xC2\xA7", "Stra\xDF" "e \x96 \xA7"},  // "Straße – §"
};

// The control block of a file deciphers with the key an independent reader
// makes: RIPEMD-128 of the Windows-1252 bytes, nothing else.
TEST(PasswordText, KeyIsMadeFromTheWindows1252Bytes) {
  for (const auto& c : kPasswords) {
    SCOPED_TRACE(c.Utf8);
    const std::string file = TempPath("pwtext");
    {
      TSDBDiskPageManager pm;
      pm.CreateAndOpenDatabase(file, TSDBPassword{c.Utf8, craRijndael_128});
      pm.CloseDatabase();
    }
    TSDBDiskPageManager pm;
    bool ro = false, repair = false, multi = false;
    ASSERT_NO_THROW(pm.OpenDatabase(file, TSDBPassword{c.Utf8, craRijndael_128}, ro, repair, false, multi));
    auto block = pm.CryptoHeader().ControlBlock;
    const std::string ansi = c.Ansi;
    const auto key = SDBRipeMD128(ansi.data(), ansi.size());
    auto cipher = TSDBCipher::CreateWithKey(craRijndael_128, key.data(), key.size());
    ASSERT_NE(cipher, nullptr);
    cipher->Decode(block.data(), block.size());
    EXPECT_EQ(CRC(0, block.data(), block.size()), pm.CryptoHeader().ControlBlockCRC);
    pm.CloseDatabase();
    std::filesystem::remove(file);
  }
}

TEST(PasswordText, AccentedPasswordsOpenAndOthersAreRefused) {
  const std::string file = TempPath("pwtext");
  const std::string password = "\xC3\x89t\xC3\xA9 \xE2\x82\xAC";  // "Été €"
  {
    TSDBDatabase db;
    db.SetDatabaseName("PwText1");
    db.SetDatabaseFileName(file);
    db.Password = password;
    db.CreateDatabase();
    db.Open();
    TSDBQuery q;
    q.DatabaseName = "PwText1";
    q.SetSQL("CREATE TABLE t (id INTEGER)");
    q.ExecSQL();
  }
  {
    TSDBDatabase db;
    db.SetDatabaseName("PwText2");
    db.SetDatabaseFileName(file);
    db.SilentMode = true;
    db.Password = password;
    EXPECT_NO_THROW(db.Open());
  }
  {
    // The letters without their accents are another password.
    TSDBDatabase db;
    db.SetDatabaseName("PwText3");
    db.SetDatabaseFileName(file);
    db.SilentMode = true;
    db.Password = "Ete \xE2\x82\xAC";
    EXPECT_EQ(CodeOf([&] { db.Open(); }), kSDBErrWrongPassword);
  }
  // Characters outside Windows-1252 (Greek, an emoji, invalid UTF-8, a
  // combining accent) are
  // refused with their own error, on create and on open.
  for (const char* bad : {"\xCE\xB1\xCE\xB2", "key\xF0\x9F\x94\x91", "\xFF\xFE", "E\xCC\x81t\xC3\xA9"}) {
    SCOPED_TRACE(bad);
    TSDBDatabase db;
    db.SetDatabaseName("PwText4");
    db.SetDatabaseFileName(file);
    db.SilentMode = true;
    db.Password = bad;
    const std::string msg = MessageOf([&] { db.Open(); });
    EXPECT_EQ(CodeOf([&] { db.Open(); }), kSDBErrPasswordCharacter) << msg;
    EXPECT_NE(msg.find("Windows-1252"), std::string::npos) << msg;
    const std::string other = TempPath("pwtext_new");
    TSDBDatabase created;
    created.SetDatabaseName("PwText5");
    created.SetDatabaseFileName(other);
    created.Password = bad;
    EXPECT_EQ(CodeOf([&] { created.CreateDatabase(); }), kSDBErrPasswordCharacter);
    std::error_code ec;
    std::filesystem::remove(other, ec);
  }
  std::filesystem::remove(file);
}

TEST(PasswordText, TheToolTakesAccentedPasswordsAndRefusesOthers) {
  const std::string file = TempPath("pwtool");
  const std::string password = "'\xC3\xA9t\xC3\xA9\xE2\x82\xAC'";  // 'été€'
  ASSERT_EQ(Tool("create " + file + " --password " + password).Code, 0);
  EXPECT_EQ(Tool("sql " + file + " --password " + password + " \"CREATE TABLE t (id INTEGER)\"").Code, 0);
  EXPECT_EQ(Tool("check " + file + " --password " + password).Code, 0);
  const TRun greek = Tool("sql " + file + " --password '\xCE\xB1' \"SELECT * FROM t\"");
  EXPECT_NE(greek.Code, 0);
  EXPECT_NE(greek.Output.find("Windows-1252"), std::string::npos) << greek.Output;
  std::filesystem::remove(file);
}

TEST(PasswordText, ConversionRefusesWhatWindows1252CannotHold) {
  std::string ansi = "unchanged", bad;
  EXPECT_TRUE(SDBUtf8ToAnsi("\xC5\x93\xE2\x82\xAC?", ansi, &bad));
  EXPECT_EQ(ansi, "\x9C\x80?");
  EXPECT_EQ(SDBAnsiToUtf8(ansi), "\xC5\x93\xE2\x82\xAC?");
  ansi = "unchanged";
  EXPECT_FALSE(SDBUtf8ToAnsi("ab\xE2\x84\xA2x\xCE\xA9", ansi, &bad));  // U+2122 is in 1252, U+03A9 is not
  EXPECT_EQ(ansi, "unchanged");
  EXPECT_EQ(bad, "\xCE\xA9");
  EXPECT_FALSE(SDBUtf8ToAnsi("\xF0\x9F\x98\x80", ansi, &bad));
  EXPECT_EQ(bad, "\xF0\x9F\x98\x80");
  EXPECT_FALSE(SDBUtf8ToAnsi("a\xC3", ansi, &bad));
}

}  // namespace
