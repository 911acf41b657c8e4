// tessaly-db sql and plan, run as a separate process.
#include <filesystem>
#include <fstream>

#include "../ToolRun.h"
#include "../components/ExecFixture.h"

using namespace sdbtest;

namespace {

class ExecTool : public ::testing::Test {
 protected:
  void SetUp() override {
    path = TempPath("h5_tool");
    ASSERT_EQ(Tool("create " + path).Code, 0);
    ASSERT_EQ(Sql("\"CREATE TABLE P (A VARCHAR(10), N INTEGER)\"").Code, 0);
  }
  void TearDown() override { std::filesystem::remove(path); }
  TRun Sql(const std::string& rest) { return Tool("sql " + path + " " + rest); }
  std::string path;
};

TEST_F(ExecTool, PrintsRowsAffectedTablesAndCsv) {
  TRun r = Sql("\"INSERT INTO P VALUES ('x', 1), ('y, z', NULL)\"");
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Output, "2 rows affected\n");
  r = Sql("--param a=x \"SELECT * FROM P WHERE A = :a OR N IS NULL\"");
  EXPECT_EQ(r.Output,
            "A    | N\n"
            "-----+-----\n"
            "x    | 1\n"
            "y, z | NULL\n"
            "(2 rows)\n");
  r = Sql("--csv \"SELECT A, N FROM P ORDER BY A\"");
  EXPECT_EQ(r.Output, "A,N\nx,1\n\"y, z\",\n");
  r = Sql("--param n:int=1 \"UPDATE P SET N = N + 1 WHERE N = :n\"");
  EXPECT_EQ(r.Output, "1 row affected\n");
}

TEST_F(ExecTool, ShellReadsStatementsAndReportsFailures) {
  const std::string input = path + ".sql";
  {
    std::ofstream f(input);
    f << "INSERT INTO P VALUES ('w', 3);\nSELECT COUNT(*) AS C\n FROM P;\nSELECT nope FROM P;\n";
  }
  TRun r = Tool("sql " + path + " < " + input);
  std::filesystem::remove(input);
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Output.find("1 row affected"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("C\n-\n1\n(1 row)"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("Native error: 30180"), std::string::npos) << r.Output;
}

TEST_F(ExecTool, ErrorsAndPlan) {
  TRun r = Sql("\"SELECT * FROM Missing\"");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Output.find("error: "), std::string::npos);
  r = Tool("sql " + path + ".none \"SELECT 1 FROM P\"");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Output.find("does not exist"), std::string::npos) << r.Output;
  r = Sql("--password wrong \"SELECT * FROM P\"");
  EXPECT_EQ(r.Code, 0);  // the file has no password: any is accepted
  ASSERT_EQ(Sql("\"CREATE INDEX ByN ON P (N)\"").Code, 0);
  r = Tool("plan " + path + " \"SELECT A FROM P WHERE N = 1 ORDER BY A\"");
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Output,
            "TSDBAOSort A\n"
            "  TSDBAOTableExpr A\n"
            "    TSDBAOTable P rows=0 index=none filter=1\n");
}

}  // namespace
