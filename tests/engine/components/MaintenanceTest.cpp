// Repair, conversion and compaction through the database component and
// the tessaly-db tool.
#include <filesystem>
#include <fstream>

#include "../ToolRun.h"
#include "ExecFixture.h"
#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "storage/file/SDBPageFormat.h"

using namespace sdb;
using namespace sdbtest;

namespace {

const char* kOldFormatText =
    "Database file you are opening is of old format. It will be converted to the current database format now. It is "
    "recommended to make a backup of the database before continuing.";

class Maintenance : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE T (ID INTEGER, NAME VARCHAR(20), PRIMARY KEY (ID))");
    for (int i = 0; i < 50; ++i) Exec("INSERT INTO T VALUES (" + std::to_string(i) + ", 'n" + std::to_string(i) + "')");
    Before = Query("SELECT ID, NAME FROM T ORDER BY ID");
    db->Close();
  }
  void WriteHeader(int64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void MakeOldFormat() {
    std::vector<uint8_t> v(8);
    PutLEDouble(v.data(), 2.5);
    WriteHeader(18, v);
  }
  // Records every dialog the open shows.
  void Script(bool answerRepair) {
    db->InformationBox = [this](const std::string& t) { Shown.push_back("info: " + t); };
    db->WarningBox = [this](const std::string& t) { Shown.push_back("warning: " + t); };
    db->ConfirmDialog = [this, answerRepair](const std::string& q) {
      Shown.push_back("question: " + q);
      return answerRepair;
    };
    db->OnRepairProgress = [this](TSDBDatabase&, int p) { Progress.push_back(p); };
  }
  Rows Before;
  std::vector<std::string> Shown;
  std::vector<int> Progress;
};

// An old file is converted without a question; the box says so in these
// exact words, and the data is there afterwards in the current format.
TEST_F(Maintenance, OldFormatOpenShowsTheInformationBoxAndConverts) {
  MakeOldFormat();
  Script(false);  // a question answered No would leave the file unconverted
  db->Open();
  ASSERT_TRUE(db->Connected());
  EXPECT_EQ(Shown, std::vector<std::string>{std::string("info: ") + kOldFormatText});
  EXPECT_DOUBLE_EQ(db->Handle().FileVersion(), kSDBCurrentVersion);
  EXPECT_FALSE(db->Handle().RepairNeeded());
  ASSERT_FALSE(Progress.empty());
  EXPECT_EQ(Progress.back(), 100);
  EXPECT_EQ(Query("SELECT ID, NAME FROM T ORDER BY ID"), Before);
}

// A conversion that cannot run (another connection holds the file) fails
// the open with 20238 and leaves the database disconnected.
TEST_F(Maintenance, AFailedConversionRaises20238) {
  MakeOldFormat();
  TSDBDatabase other;
  other.SetDatabaseName(name + "_silent");
  other.SetDatabaseFileName(path);
  other.SilentMode = true;  // no conversion: it just holds the file
  other.Open();
  Script(false);
  const std::string message = MessageOf([&] { db->Open(); });
  EXPECT_EQ(CodeOf([&] { db->Open(); }), kSDBErrCannotConvert);
  EXPECT_EQ(message.rfind("Cannot convert database to the new format.", 0), 0u) << message;
  EXPECT_FALSE(db->Connected());
  other.Close();
  db->Open();
  EXPECT_DOUBLE_EQ(db->Handle().FileVersion(), kSDBCurrentVersion);
}

TEST_F(Maintenance, InterruptedCommitAsksAndRepairsOnYesOnly) {
  WriteHeader(42, {kSDBWriteChangesWriting});
  Script(false);
  db->Open();
  EXPECT_EQ(Shown, std::vector<std::string>{
                       "question: Database file was not correctly closed last time. Do you want to repair it?"});
  EXPECT_TRUE(db->Handle().RepairNeeded());
  db->Close();
  Shown.clear();
  Script(true);
  db->Open();
  // A sound file with an interrupted commit has nothing to report.
  EXPECT_EQ(Shown, std::vector<std::string>{
                       "question: Database file was not correctly closed last time. Do you want to repair it?"});
  EXPECT_FALSE(db->Handle().RepairNeeded());
  EXPECT_EQ(Query("SELECT ID, NAME FROM T ORDER BY ID"), Before);
}

TEST_F(Maintenance, RepairAndCompactNeedTheFileForThemselves) {
  db->Open();
  EXPECT_EQ(CodeOf([&] { db->RepairDatabase(); }), kSDBErrDatabaseOpen);
  EXPECT_EQ(CodeOf([&] { db->CompactDatabase(); }), kSDBErrDatabaseOpen);
  // Another component holding the file keeps a second one from both.
  TSDBDatabase other;
  other.SetDatabaseName(name + "_other");
  other.SetDatabaseFileName(path);
  EXPECT_EQ(CodeOf([&] { other.RepairDatabase(); }), 10461);
  EXPECT_EQ(CodeOf([&] { other.CompactDatabase(); }), 10461);
  db->Close();
  std::vector<int> compacted;
  other.OnCompactProgress = [&](TSDBDatabase&, int p) { compacted.push_back(p); };
  EXPECT_EQ(other.RepairDatabase(), "");
  other.CompactDatabase();
  ASSERT_FALSE(compacted.empty());
  EXPECT_EQ(compacted.back(), 100);
  db->Open();
  EXPECT_EQ(Query("SELECT ID, NAME FROM T ORDER BY ID"), Before);
  // The primary key index came along and the query uses it.
  EXPECT_NE(Plan("SELECT NAME FROM T WHERE ID = 7").find("index=PK_T"), std::string::npos)
      << Plan("SELECT NAME FROM T WHERE ID = 7");
  EXPECT_EQ(Query("SELECT NAME FROM T WHERE ID = 7"), (Rows{{"n7"}}));
}

TEST_F(Maintenance, ToolRepairsAndCompacts) {
  MakeOldFormat();
  const TToolCase cases[] = {
      {"repair FILE --password wrong", 0, "repaired"},  // not enciphered: the password plays no part
      {"compact FILE", 0, "compacted"},
      {"repair FILE", 0, "0 unreachable pages freed"},
      {"repair", 2, "expected one FILE"},
      {"compact FILE.missing", 1, "tessaly-db compact:"},
  };
  ExpectToolCases(cases, path);
  db->Open();
  EXPECT_EQ(Query("SELECT ID, NAME FROM T ORDER BY ID"), Before);
}

// A backup through the component needs no exclusive hold: it is taken while
// this component has the file open, and the copy opens with the same rows.
TEST_F(Maintenance, BackupWhileOpenCopiesTheCommittedRows) {
  const std::string dest = path + ".copy";
  std::filesystem::remove(dest);
  db->Open();
  Exec("INSERT INTO T VALUES (100, 'late')");
  const Rows committed = Query("SELECT ID, NAME FROM T ORDER BY ID");
  const int64_t bytes = db->BackupDatabase(dest);
  EXPECT_EQ(bytes, static_cast<int64_t>(std::filesystem::file_size(dest)));
  db->Close();
  TSDBDatabase copy;
  copy.SetDatabaseName(name + "_copy");
  copy.SetDatabaseFileName(dest);
  copy.Open();
  TSDBQuery q;
  q.DatabaseName = name + "_copy";
  q.SetSQL("SELECT COUNT(*) FROM T WHERE ID = 100");
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "1");
  q.Close();
  copy.Close();
  std::filesystem::remove(dest);
  EXPECT_EQ(committed.size(), Before.size() + 1);

  TSDBDatabase missing;
  missing.SetDatabaseName(name + "_missing");
  missing.SetDatabaseFileName(path + ".missing");
  EXPECT_EQ(CodeOf([&] { missing.BackupDatabase(dest); }), kSDBErrDatabaseFileMissing);
  EXPECT_FALSE(std::filesystem::exists(dest));
}

class EncipheredMaintenance : public Maintenance {
 protected:
  void SetUp() override {
    password = "pw";
    Maintenance::SetUp();
  }
};

TEST_F(EncipheredMaintenance, ToolNeedsThePassword) {
  for (const char* command : {"repair", "compact"}) {
    TRun r = Tool(std::string(command) + " " + path + " --password nope");
    EXPECT_EQ(r.Code, 1) << r.Output;
    EXPECT_NE(r.Output.find("Cannot open database - incorrect password"), std::string::npos) << r.Output;
    r = Tool(std::string(command) + " " + path + " --password pw");
    EXPECT_EQ(r.Code, 0) << r.Output;
  }
  db->Open();
  EXPECT_EQ(Query("SELECT ID, NAME FROM T ORDER BY ID"), Before);
}

}  // namespace
