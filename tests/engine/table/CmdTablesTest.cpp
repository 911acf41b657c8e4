// tables, schema, dump, create-table, import and export through the
// tessaly-db tool.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../ToolRun.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sdb/SDBComponents.h"
#include "storage/database/SDBTableDatabase.h"

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

void WriteText(const std::string& name, const std::string& text) {
  std::ofstream(name, std::ios::binary) << text;
}

std::string ReadText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class CmdCsv : public CmdTables {
 protected:
  void SetUp() override {
    CmdTables::SetUp();
    csv = path + ".csv";
    ASSERT_EQ(Tool("create-table " + path +
                   " T \"ID AUTOINC, NAME VARCHAR(10), NOTE MEMO, PRICE DOUBLE, D DATE, OK BOOLEAN, W SMALLINT\"")
                  .Code,
              0);
  }
  void TearDown() override {
    std::filesystem::remove(csv);
    std::filesystem::remove(csv + ".out");
    CmdTables::TearDown();
  }
  std::string Dump() { return Tool("dump " + path + " T").Output; }
  std::string csv;
};

TEST_F(CmdCsv, ImportThenExportRoundTripsQuotingNullsAndTypes) {
  // Header in another order and without W; CR LF and LF line ends; a quoted
  // memo over two lines with a comma and doubled quotes; NULL as an empty
  // field; "" as an empty text (stored as NULL); a blank line.
  WriteText(csv,
            "NAME,ID,NOTE,PRICE,D,OK\r\n"
            "abc,1,\"multi\nline, \"\"quoted\"\"\",1.5,2024-02-29,TRUE\n"
            "\r\n"
            ",,\"\",0.1,,0\n"
            "x,7,memo,-2.5e-300,01/03/2020,\n"
            "last,,,0.30000000000000004,,no");
  TRun r = Tool("import " + path + " T " + csv);
  ASSERT_EQ(r.Code, 0) << r.Output;
  EXPECT_EQ(r.Output, "4 row(s) imported into T\n");
  // An empty auto-increment field takes the next value; an explicit one counts.
  EXPECT_EQ(Dump(),
            "ID\tNAME\tNOTE\tPRICE\tD\tOK\tW\n"
            "1\tabc\tmulti\\nline, \"quoted\"\t1.5\t2024-02-29\tTrue\tNULL\n"
            "2\tNULL\tNULL\t0.1\tNULL\tFalse\tNULL\n"
            "7\tx\tmemo\t-2.5e-300\t2020-03-01\tNULL\tNULL\n"
            "8\tlast\tNULL\t0.3\tNULL\tFalse\tNULL\n");

  r = Tool("export " + path + " T " + csv + ".out");
  ASSERT_EQ(r.Code, 0) << r.Output;
  const std::string exported = ReadText(csv + ".out");
  EXPECT_EQ(exported,
            "ID,NAME,NOTE,PRICE,D,OK,W\r\n"
            "1,abc,\"multi\nline, \"\"quoted\"\"\",1.5,2024-02-29,True,\r\n"
            "2,,,0.1,,False,\r\n"
            "7,x,memo,-2.5e-300,2020-03-01,,\r\n"
            "8,last,,0.30000000000000004,,False,\r\n");

  // Exported rows imported into an empty copy of the table give the same rows.
  ASSERT_EQ(Tool("create-table " + path +
                 " U \"ID AUTOINC, NAME VARCHAR(10), NOTE MEMO, PRICE DOUBLE, D DATE, OK BOOLEAN, W SMALLINT\"")
                .Code,
            0);
  ASSERT_EQ(Tool("import " + path + " U " + csv + ".out").Code, 0);
  ASSERT_EQ(Tool("export " + path + " U " + csv).Code, 0);
  EXPECT_EQ(ReadText(csv), exported);
  EXPECT_EQ(Tool("check " + path).Code, 0);
}

TEST_F(CmdCsv, ABadRowNamesLineAndColumnAndImportsNothing) {
  struct Case {
    const char* Name;
    std::string Text;
    const char* Expected;
  };
  const Case cases[] = {
      {"not a number", "ID,W\n1,2\n2,3\n3x,4\n", "line 4, column 1 (ID): Cannot convert value '3x'"},
      {"out of range", "NAME,W\nok,1\nbig,70000\n", "line 3, column 2 (W): Value 70000 is out of range"},
      {"bad date", "D\n2024-02-30\n", "line 2, column 1 (D): Cannot convert value '2024-02-30'"},
      {"too long", "NAME\n\"01234567890\"\n", "line 2, column 1 (NAME): the value is 11 characters long"},
      {"bad logical", "OK\nperhaps\n", "line 2, column 1 (OK): Cannot convert value 'perhaps'"},
      {"field count", "ID,NAME\n1,a\n2,b,c\n", "line 3: 3 fields, the header names 2"},
      {"unknown field", "ID,NOPE\n", "line 1, column 2: table T has no field 'NOPE'"},
      {"field twice", "ID,id\n", "line 1, column 2: field 'id' is named twice"},
      {"open quote", "NAME\n\"abc\n", "line 2, column 1: quoted field is not closed"},
      {"after quote", "NAME\n\"abc\"x\n", "line 2, column 1: text after the closing quote"},
      {"stray quote", "NAME\nab\"c\n", "line 2, column 1: a quote inside an unquoted field"},
      {"empty file", "", "line 1: the file has no header row"},
  };
  ASSERT_EQ(Tool("import " + path + " T " + [&] {
              WriteText(csv, "NAME\nkept\n");
              return csv;
            }()).Code,
            0);
  const std::string before = Dump();
  for (const Case& c : cases) {
    WriteText(csv, c.Text);
    TRun r = Tool("import " + path + " T " + csv);
    EXPECT_EQ(r.Code, 1) << c.Name << "\n" << r.Output;
    EXPECT_NE(r.Output.find(c.Expected), std::string::npos) << c.Name << "\n" << r.Output;
    EXPECT_NE(r.Output.find("nothing was imported"), std::string::npos) << c.Name << "\n" << r.Output;
    EXPECT_EQ(Dump(), before) << c.Name;
  }
  // After the refused imports the counters are those of the kept row.
  WriteText(csv, "NAME\nnext\n");
  ASSERT_EQ(Tool("import " + path + " T " + csv).Code, 0);
  EXPECT_NE(Dump().find("2\tnext"), std::string::npos) << Dump();
  EXPECT_EQ(Tool("check " + path).Code, 0) << Tool("check " + path).Output;
  EXPECT_EQ(Tool("import " + path + " T /nonexistent/x.csv").Code, 2);
  EXPECT_EQ(Tool("export " + path + " Missing " + csv).Code, 1);
}

// The commands share the file with an application that has it open (in
// multi-user mode, as the settings module opens its database): rows a
// command adds are seen by the application's next query, and a table the
// application adds is listed.
TEST_F(CmdCsv, CommandsShareTheFileWithAnOpenApplication) {
  TSDBDatabase app;
  app.SetDatabaseName("CmdCsvApp");
  app.SetDatabaseFileName(path);
  app.MultiUser = true;
  app.Open();
  auto count = [&] {
    TSDBQuery q;
    q.DatabaseName = "CmdCsvApp";
    q.SetSQL("SELECT COUNT(*) AS N FROM T");
    q.Open();
    return q.FieldByName("N").AsInteger();
  };
  EXPECT_EQ(count(), 0);
  WriteText(csv, "NAME\nun\ndeux\n");
  TRun r = Tool("import " + path + " T " + csv);
  ASSERT_EQ(r.Code, 0) << r.Output;
  EXPECT_EQ(count(), 2);
  TSDBQuery create;
  create.DatabaseName = "CmdCsvApp";
  create.SetSQL("CREATE TABLE U (A INTEGER)");
  create.ExecSQL();
  r = Tool("tables " + path);
  EXPECT_EQ(r.Code, 0) << r.Output;
  EXPECT_EQ(r.Output, "T\t2 records\nU\t0 records\n");
  r = Tool("export " + path + " T " + csv + ".out");
  EXPECT_EQ(r.Code, 0) << r.Output;
  EXPECT_EQ(ReadText(csv + ".out"), "ID,NAME,NOTE,PRICE,D,OK,W\r\n1,un,,,,,\r\n2,deux,,,,,\r\n");
  app.Close();
}

// A file whose commit was interrupted is read with a warning, and an
// import into it is refused without touching it until it is repaired.
TEST_F(CmdCsv, AFileThatNeedsRepairIsReadButNotImportedInto) {
  WriteText(csv, "NAME\nkept\n");
  ASSERT_EQ(Tool("import " + path + " T " + csv).Code, 0);
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(42);
    f.put(1);
  }
  const std::string dumped = Dump();
  WriteText(csv, "NAME\nnew\n");
  TRun r = Tool("import " + path + " T " + csv);
  EXPECT_EQ(r.Code, 1) << r.Output;
  EXPECT_NE(r.Output.find("needs repair"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("nothing was imported"), std::string::npos) << r.Output;
  r = Tool("tables " + path);
  EXPECT_EQ(r.Code, 0) << r.Output;
  EXPECT_NE(r.Output.find("T\t1 records"), std::string::npos) << r.Output;
  ASSERT_EQ(Tool("repair " + path).Code, 0);
  EXPECT_EQ(Dump(), dumped);
  ASSERT_EQ(Tool("import " + path + " T " + csv).Code, 0);
  EXPECT_NE(Dump().find("2\tnew"), std::string::npos) << Dump();
}

}  // namespace
