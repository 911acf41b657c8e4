// Accented and non-Western text through tessaly-db: SQL literals and
// parameters, the shell's output, CSV import and export.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../ToolRun.h"
#include "../components/ExecFixture.h"

using namespace sdbtest;

namespace {

class TextTool : public ::testing::Test {
 protected:
  void SetUp() override {
    path = TempPath("text_tool");
    csv = path + ".csv";
    ASSERT_EQ(Tool("create " + path).Code, 0);
    ASSERT_EQ(Sql("\"CREATE TABLE P (ID INTEGER, NAME VARCHAR(20), W WIDEVARCHAR(20), M MEMO, WM WIDEMEMO)\"").Code,
              0);
  }
  void TearDown() override {
    std::filesystem::remove(path);
    std::filesystem::remove(csv);
  }
  TRun Sql(const std::string& rest) { return Tool("sql " + path + " " + rest); }
  std::string path, csv;
};

TEST_F(TextTool, LiteralsAndParametersReadBackByCharacters) {
  TRun r = Sql("\"INSERT INTO P (ID, NAME, W) VALUES (1, 'Été €', 'Été € Ω')\"");
  ASSERT_EQ(r.Code, 0) << r.Output;
  r = Sql("--param n=œuvre --param w=中文 \"INSERT INTO P (ID, NAME, W) VALUES (2, :n, :w)\"");
  ASSERT_EQ(r.Code, 0) << r.Output;
  // The shell pads by characters, so the bars line up.
  r = Sql("\"SELECT UPPER(NAME) AS U, LENGTH(NAME) AS L, UPPER(W) AS UW, LENGTH(W) AS LW FROM P ORDER BY ID\"");
  EXPECT_EQ(r.Output,
            "U     | L | UW      | LW\n"
            "------+---+---------+---\n"
            "ÉTÉ € | 5 | ÉTÉ € Ω | 7\n"
            "ŒUVRE | 5 | 中文      | 2\n"
            "(2 rows)\n");
}

TEST_F(TextTool, AnEightBitColumnRefusesWhatItCannotHold) {
  for (const char* sql : {"\"INSERT INTO P (ID, NAME) VALUES (1, 'a中')\"",
                          "--param m=a中 \"INSERT INTO P (ID, M) VALUES (1, :m)\""}) {
    TRun r = Sql(sql);
    EXPECT_NE(r.Code, 0) << sql;
    EXPECT_NE(r.Output.find("cannot hold the character '中'"), std::string::npos) << r.Output;
  }
  EXPECT_EQ(Sql("--csv \"SELECT COUNT(*) AS N FROM P\"").Output, "N\n0\n");
}

TEST_F(TextTool, CsvImportAndExportKeepTheText) {
  {
    std::ofstream out(csv, std::ios::binary);
    out << "ID,NAME,W,M,WM\n1,Été €,Ω é,œ memo,中 memo\n2,çà,,,\n";
  }
  TRun r = Tool("import " + path + " P " + csv);
  ASSERT_EQ(r.Code, 0) << r.Output;
  r = Sql("--csv \"SELECT UPPER(NAME) AS A, LENGTH(W) AS B, UPPER(M) AS C, LENGTH(WM) AS D FROM P ORDER BY ID\"");
  EXPECT_EQ(r.Output, "A,B,C,D\nÉTÉ €,3,Œ MEMO,6\nÇÀ,,,\n");
  ASSERT_EQ(Tool("export " + path + " P " + csv).Code, 0);
  std::ifstream in(csv, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "ID,NAME,W,M,WM\r\n1,Été €,Ω é,œ memo,中 memo\r\n2,çà,,,\r\n");
  {
    std::ofstream out(csv, std::ios::binary);
    out << "ID,M\n3,ok\n4,a中\n";
  }
  r = Tool("import " + path + " P " + csv);
  EXPECT_NE(r.Code, 0);
  EXPECT_NE(r.Output.find("line 3, column 2 (M): Column 'M' cannot hold the character '中'"), std::string::npos)
      << r.Output;
}

}  // namespace
