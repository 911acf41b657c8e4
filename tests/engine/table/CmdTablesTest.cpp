// tables, schema, dump and create-table through the tessaly-db tool.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../ToolRun.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "storage/SDBTableDatabase.h"

using namespace sdb;

namespace {

using sdbtest::TRun;
using sdbtest::Tool;

class CmdTables : public ::testing::Test {
 protected:
  void SetUp() override {
    path = (std::filesystem::temp_directory_path() / ("h7_cmd_" + std::to_string(::getpid()) + ".sdb")).string();
    TSDBTableDatabase db(20);
    TSDBCreateDatabaseParams p;
    p.FileName = path;
    p.MaxConnections = 4;
    db.CreateDatabase(p);
  }
  void TearDown() override { std::filesystem::remove(path); }
  std::string path;
};

TEST_F(CmdTables, CreateListDescribeAndDumpATable) {
  TRun r = Tool("create-table " + path + " Parametres \"Cle VARCHAR(20), Valeur MEMO, N AUTOINC\"");
  ASSERT_EQ(r.Code, 0) << r.Output;
  {
    TSDBTableDatabase db(20);
    db.OpenDatabase(path);
    TSDBCursor c;
    db.OpenTable(c, "parametres");
    TSDBDiskTableData& t = *c.TableData;
    for (const char* key : {"Imprimante", "Titre\tavec tab", "Vide"}) {
      c.EditRecordBuffer = t.NewRecordBuffer();
      t.SetFieldValue(c.EditRecordBuffer, 0, TSDBVariant::FromString(key));
      if (std::string(key) != "Vide") {
        std::string memo = std::string("ligne 1\nligne 2 de ") + key;
        t.WriteBLOBFieldToRecordBuffer(c.EditRecordBuffer, 1, std::vector<uint8_t>(memo.begin(), memo.end()));
      }
      ASSERT_TRUE(t.InsertRecord(c));
    }
    db.CloseTable(c);
  }
  r = Tool("tables " + path);
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Output, "Parametres\t3 records\n");

  r = Tool("schema " + path + " PARAMETRES");
  EXPECT_EQ(r.Code, 0) << r.Output;
  EXPECT_NE(r.Output.find("record: 32 bytes on disk, 36 in memory, 126 per page; 3 records"), std::string::npos)
      << r.Output;
  EXPECT_NE(r.Output.find("Cle\tSTRING(20)\toffset 1, 21 bytes"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("N\tAUTOINC"), std::string::npos) << r.Output;

  r = Tool("dump " + path + " Parametres");
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Output,
            "Cle\tValeur\tN\n"
            "Imprimante\tligne 1\\nligne 2 de Imprimante\t1\n"
            "Titre\\tavec tab\tligne 1\\nligne 2 de Titre\\tavec tab\t2\n"
            "Vide\tNULL\t3\n");
  r = Tool("dump " + path + " Parametres --limit 1");
  EXPECT_EQ(r.Output, "Cle\tValeur\tN\nImprimante\tligne 1\\nligne 2 de Imprimante\t1\n");
}

TEST_F(CmdTables, BadInputGivesAnErrorAndExitCode) {
  struct Case {
    std::string Args;
    int Code;
    const char* Text;
  };
  const Case cases[] = {
      {"create-table " + path + " T \"A NOSUCHTYPE\"", 2, "unknown type 'NOSUCHTYPE'"},
      {"create-table " + path + " T \"A VARCHAR\"", 2, "needs a size"},
      {"create-table " + path + " T \"A INTEGER(4)\"", 2, "takes no size"},
      {"create-table " + path + " T \"A VARCHAR(5000)\"", 1, "Native error: 20174"},
      {"create-table " + path + " T \"A INTEGER,\"", 2, "empty column"},
      {"dump " + path + " Missing", 1, "Table 'Missing' does not exist."},
      {"dump " + path + " T --limit x", 2, "--limit"},
      {"schema " + path, 2, "wrong number of arguments"},
  };
  for (const Case& c : cases) {
    TRun r = Tool(c.Args);
    EXPECT_EQ(r.Code, c.Code) << c.Args << "\n" << r.Output;
    EXPECT_NE(r.Output.find(c.Text), std::string::npos) << c.Args << "\n" << r.Output;
  }
  ASSERT_EQ(Tool("create-table " + path + " T \"A INTEGER\"").Code, 0);
  TRun r = Tool("create-table " + path + " t \"A INTEGER\"");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Output.find("Cannot create table. Table 't' already exists"), std::string::npos) << r.Output;
}

}  // namespace
