// Sessions, databases and query components: lookup, open and close,
// properties, parameters and row counts.
#include <cstring>

#include "ExecFixture.h"
#include "sdb/SDBErrors.h"

using namespace sdb;
using namespace sdbtest;

namespace {

TEST(Components, DefaultsOfANewDatabase) {
  TSDBDatabase db;
  EXPECT_EQ(db.DatabaseName(), "");
  EXPECT_EQ(db.DatabaseFileName(), "");
  EXPECT_EQ(db.Password, "");
  EXPECT_FALSE(db.Exclusive);
  EXPECT_FALSE(db.MultiUser);
  EXPECT_EQ(db.MaxConnections(), 500);
  EXPECT_FALSE(db.ReadOnly());
  EXPECT_TRUE(db.KeepConnection());
  EXPECT_FALSE(db.HandleShared);
  EXPECT_EQ(db.SessionName(), "Default");
  EXPECT_FALSE(db.SilentMode);
  EXPECT_FALSE(db.DisableTempFiles);
  EXPECT_STREQ(db.CurrentVersion(), "7.92 ");
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(db.PageSize, 4096);
  EXPECT_EQ(db.PagesPerExtent, 8);
  EXPECT_EQ(db.CryptoAlgorithm, craRijndael_128);
  TSDBQuery q;
  EXPECT_EQ(q.RowsAffected(), -1);
  EXPECT_TRUE(q.ParamCheck);
  EXPECT_FALSE(q.RequestLive);
  EXPECT_FALSE(q.Prepared());
}

TEST(Components, SessionsAreFoundByNameAndUnknownNamesFail) {
  EXPECT_EQ(&TSDBSessionList::Instance().FindSession(""), &SDBDefaultSession());
  EXPECT_EQ(&TSDBSessionList::Instance().FindSession("default"), &SDBDefaultSession());
  EXPECT_EQ(CodeOf([] { TSDBSessionList::Instance().FindSession("NoSuchSession"); }), kSDBErrInvalidSessionName);
  TSDBSession s("Second");
  int started = 0;
  s.OnStartup = [&](TSDBSession&) { ++started; };
  EXPECT_EQ(&TSDBSessionList::Instance().FindSession("SECOND"), &s);
  s.Open();
  s.Open();
  EXPECT_EQ(started, 1);
  TSDBDatabase db;
  db.SetSessionName("Second");
  EXPECT_EQ(&db.Session(), &s);
  EXPECT_EQ(s.FindDatabase(""), &db);
}

class DatabaseComponent : public ExecFixture {};

TEST_F(DatabaseComponent, QueriesFindTheDatabaseWithoutRegardToCase) {
  Exec("CREATE TABLE T (A INTEGER)");
  TSDBQuery q;
  std::string lower = name;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  q.DatabaseName = lower;
  q.SetSQL("SELECT * FROM T");
  q.Open();
  EXPECT_EQ(q.Database(), db.get());
  EXPECT_EQ(db->RefCount(), 1);
  q.Close();
  EXPECT_EQ(db->RefCount(), 0);
  EXPECT_TRUE(db->Connected());  // KeepConnection
}

TEST_F(DatabaseComponent, QueryReopensAClosedDatabaseAndKeepsItOpen) {
  Exec("CREATE TABLE T (A INTEGER)");
  db->Close();
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(Exec("INSERT INTO T VALUES (1)"), 1);
  EXPECT_TRUE(db->Connected());
  // Without KeepConnection the database closes when its last user leaves.
  db->SetKeepConnection(false);
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(Query("SELECT A FROM T"), (Rows{{"1"}}));
  EXPECT_FALSE(db->Connected());
}

TEST_F(DatabaseComponent, SettingTheSameFileNameKeepsTheConnection) {
  db->SetDatabaseFileName(path);
  EXPECT_TRUE(db->Connected());
  db->SetDatabaseFileName(path + ".other");
  EXPECT_FALSE(db->Connected());
}

TEST_F(DatabaseComponent, NameAndSessionCannotChangeWhileConnected) {
  EXPECT_EQ(CodeOf([&] { db->SetDatabaseName("Other"); }), kSDBErrDatabaseOpen);
  EXPECT_EQ(CodeOf([&] { db->SetSessionName("Default"); }), kSDBErrDatabaseOpen);
  TSDBDatabase second;
  EXPECT_EQ(CodeOf([&] { second.SetDatabaseName(name); }), kSDBErrDuplicateDatabase);
  std::string upper = name;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_NE(MessageOf([&] { second.SetDatabaseName(upper); }).find("Duplicate database name '" + upper + "'"),
            std::string::npos);
}

TEST(Components, MissingFileAndMissingName) {
  TSDBDatabase db;
  EXPECT_EQ(CodeOf([&] { db.Open(); }), kSDBErrDatabaseNameMissing);
  db.SetDatabaseName("MissingFileDB");
  const std::string path = TempPath("h5_missing");
  db.SetDatabaseFileName(path);
  EXPECT_NE(MessageOf([&] { db.Open(); }).find("Database file '" + path + "' does not exist"), std::string::npos);
  EXPECT_FALSE(db.Connected());
  TSDBQuery q;
  q.SetSQL("SELECT * FROM T");
  EXPECT_EQ(CodeOf([&] { q.Open(); }), kSDBErrDatabaseNameBlank);
}

TEST(Components, UnknownDatabaseNameMakesATemporaryDatabase) {
  const std::string path = TempPath("h5_temp");
  {
    TSDBDatabase creator;
    creator.SetDatabaseName("Creator");
    creator.SetDatabaseFileName(path);
    creator.CreateDatabase();
  }
  {
    TSDBQuery q;
    q.DatabaseName = path;  // no component has this name: the name is the file
    q.SetSQL("CREATE TABLE T (A INTEGER)");
    q.ExecSQL();
    TSDBDatabase* temp = SDBDefaultSession().FindDatabase(path);
    ASSERT_NE(temp, nullptr);
    EXPECT_TRUE(temp->Temporary());
    EXPECT_TRUE(temp->SilentMode);
    // A component taking the name frees the unused temporary one.
    TSDBDatabase named;
    named.SetDatabaseName(path);
    named.SetDatabaseFileName(path);
    EXPECT_EQ(SDBDefaultSession().FindDatabase(path), &named);
  }
  std::filesystem::remove(path);
}

class PasswordPrompt : public ::testing::Test {
 protected:
  void SetUp() override {
    path = TempPath("h5_pwd");
    TSDBDatabase creator;
    creator.SetDatabaseName("PwdCreator");
    creator.SetDatabaseFileName(path);
    creator.Password = "right";
    creator.CreateDatabase();
    db.SetDatabaseName("PwdDB");
    db.SetDatabaseFileName(path);
    db.Password = "wrong";
  }
  void TearDown() override {
    db.Close();
    std::filesystem::remove(path);
  }
  std::string path;
  TSDBDatabase db;
};

TEST_F(PasswordPrompt, PromptGivingThePasswordOpens) {
  int asked = 0;
  db.OnPassword = [&](TSDBDatabase& d) {
    ++asked;
    d.Password = asked == 1 ? "still wrong" : "right";
    return true;
  };
  db.Open();
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(asked, 2);
}

TEST_F(PasswordPrompt, CancelledDialogPassesTheWrongPasswordErrorOn) {
  int shown = 0;
  db.PasswordDialog = [&](TSDBDatabase&) {
    ++shown;
    return false;
  };
  EXPECT_EQ(CodeOf([&] { db.Open(); }), kSDBErrWrongPassword);
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(db.Connected());
}

TEST_F(PasswordPrompt, SilentModeShowsNoDialog) {
  int shown = 0;
  db.PasswordDialog = [&](TSDBDatabase&) {
    ++shown;
    return true;
  };
  db.SilentMode = true;
  EXPECT_EQ(CodeOf([&] { db.Open(); }), kSDBErrWrongPassword);
  EXPECT_EQ(shown, 0);
}

class QueryComponent : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE T (A INTEGER, B VARCHAR(20))");
  }
};

TEST_F(QueryComponent, EmptySqlFailsExecSql) {
  TSDBQuery q;
  q.DatabaseName = name;
  EXPECT_EQ(CodeOf([&] { q.ExecSQL(); }), kSDBErrNoSQLStatementExec);
  EXPECT_NE(MessageOf([&] { q.ExecSQL(); }).find("No SQL statement available"), std::string::npos);
  q.SetSQL("x");
  EXPECT_EQ(CodeOf([&] { q.Prepare(); }), kSDBErrNoSQLStatementPrepare);
}

// A text set in one piece reads back as the lines it is made of, and lines
// added later join it: the text, its lines and its parameters agree however
// the text was given.
TEST_F(QueryComponent, TextAndLinesAgreeHoweverTheTextIsSet) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
    std::string joined;
  };
  const Case cases[] = {
      {"", {}, ""},
      {"SELECT 1", {"SELECT 1"}, "SELECT 1"},
      {"a\nb", {"a", "b"}, "a\nb"},
      {"a\n", {"a", ""}, "a\n"},
      {"a\r\nb\r\n", {"a", "b", ""}, "a\nb\n"},
  };
  for (const Case& c : cases) {
    TSDBQuery q;
    q.SetSQL(c.text);
    EXPECT_EQ(q.SQL(), c.lines) << c.text;
    EXPECT_EQ(q.Text(), c.joined) << c.text;
    TSDBQuery byLines;
    byLines.SetSQL(c.lines);
    EXPECT_EQ(byLines.Text(), c.joined) << c.text;
  }

  Exec("INSERT INTO T VALUES (1, 'a'), (2, 'b')");
  TSDBQuery q;
  q.DatabaseName = name;
  q.SetSQL("SELECT A FROM T\n WHERE A >= :Low");
  q.AddSQL(" AND B = :B");
  EXPECT_EQ(q.SQL(), (std::vector<std::string>{"SELECT A FROM T", " WHERE A >= :Low", " AND B = :B"}));
  EXPECT_EQ(q.Text(), "SELECT A FROM T\n WHERE A >= :Low\n AND B = :B");
  q.ParamByName("Low").SetAsInteger(1);
  q.ParamByName("B").SetAsString("b");
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("A").AsInteger(), 2);
  q.Close();
  q.ClearSQL();
  EXPECT_TRUE(q.SQL().empty());
  EXPECT_EQ(CodeOf([&] { q.ExecSQL(); }), kSDBErrNoSQLStatementExec);
}

TEST_F(QueryComponent, RowsAffectedIsMinusOneBeforeARunAndZeroAfterAnEmptyUpdate) {
  TSDBQuery q;
  q.DatabaseName = name;
  q.SetSQL("UPDATE T SET A = 1 WHERE B = :B");
  q.ParamByName("B").SetAsString("none");
  q.Prepare();
  EXPECT_EQ(q.RowsAffected(), -1);
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 0);
  EXPECT_TRUE(q.Prepared());
  q.UnPrepare();
  EXPECT_EQ(q.RowsAffected(), 0);
}

TEST_F(QueryComponent, TwoStatementsRunInOrderAndTheSecondResultIsReturned) {
  EXPECT_EQ(Exec("INSERT INTO T VALUES (1, 'a'); INSERT INTO T VALUES (2, 'b'), (3, 'c')"), 3);
  EXPECT_EQ(Query("UPDATE T SET B = 'z' WHERE A = 1; SELECT B FROM T WHERE A <= 2"), (Rows{{"z"}, {"b"}}));
}

TEST_F(QueryComponent, OpenOnAStatementWithoutResultFails) {
  TSDBQuery q;
  q.DatabaseName = name;
  q.SetSQL("INSERT INTO T VALUES (1, 'a')");
  EXPECT_EQ(CodeOf([&] { q.Open(); }), kSDBErrCreateTableHandle);
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T"), (Rows{{"1"}}));
  q.SetSQL("SELECT * FROM T");
  q.Open();
  EXPECT_EQ(CodeOf([&] { q.ExecSQL(); }), kSDBErrDataSetOpen);
}

TEST_F(QueryComponent, OnlyASingleTableQueryGivesALiveResult) {
  Exec("INSERT INTO T VALUES (1, 'a'), (2, 'b')");
  struct Case {
    const char* Sql;
    bool Live;
  };
  const Case cases[] = {
      {"SELECT * FROM T WHERE A = 1", true},
      {"SELECT * FROM T ORDER BY A", false},
      {"SELECT A FROM T", false},
      {"SELECT * FROM T t1, T t2", false},
  };
  for (const auto& c : cases) {
    for (bool requestLive : {false, true}) {
      TSDBQuery q;
      q.DatabaseName = name;
      q.RequestLive = requestLive;
      q.SetSQL(c.Sql);
      q.Open();
      EXPECT_EQ(q.ReadOnly, !(requestLive && c.Live)) << c.Sql;
    }
  }
}

TEST_F(QueryComponent, SecondValuesRowFailingKeepsTheFirst) {
  TSDBQuery q;
  q.DatabaseName = name;
  q.SetSQL("INSERT INTO T VALUES (1, 'a'), ('not a number', 'b')");
  EXPECT_NE(CodeOf([&] { q.ExecSQL(); }), 0);
  EXPECT_EQ(q.RowsAffected(), 1);
  EXPECT_EQ(Query("SELECT A, B FROM T"), (Rows{{"1", "a"}}));
}

TEST_F(QueryComponent, ErrorInALaterStatementKeepsTheEarlierEffects) {
  TSDBQuery q;
  q.DatabaseName = name;
  q.SetSQL("INSERT INTO T VALUES (1, 'a'); SELECT * FROM Missing");
  EXPECT_NE(CodeOf([&] { q.ExecSQL(); }), 0);
  EXPECT_EQ(q.RowsAffected(), 1);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T"), (Rows{{"1"}}));
}

TEST(ParamParsing, NamesInOrderOncePerNameAndNotInsideQuotes) {
  struct Case {
    const char* Text;
    std::vector<std::string> Names;
  };
  const Case cases[] = {
      {"SELECT * FROM T WHERE A = :A AND B = :b AND C = :a", {"A", "b"}},
      {"SELECT \":\" FROM T WHERE A = :X", {"X"}},
      {"SELECT * FROM T WHERE A = '10:30' AND B = :Y", {"Y"}},
      {"SELECT \"a:b\" FROM T", {}},
      {"INSERT INTO T VALUES (:Agence, :Valeur)", {"Agence", "Valeur"}},
      {"SELECT * FROM T WHERE A = :\"long name\"", {"long name"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SDBParseParamNames(c.Text), c.Names) << c.Text;
}

TEST(ParamParsing, ChangingTheSqlKeepsValuesOfParametersThatStay) {
  TSDBQuery q;
  q.SetSQL("SELECT * FROM T WHERE A = :A AND B = :B");
  q.ParamByName("A").SetAsString("kept");
  q.ParamByName("B").SetAsInteger(5);
  q.SetSQL("SELECT * FROM T WHERE B = :b AND C = :C");
  ASSERT_EQ(q.Params.Count(), 2);
  EXPECT_EQ(q.Params[0].Name, "b");
  EXPECT_EQ(q.Params[0].AsInteger(), 5);
  EXPECT_TRUE(q.Params[1].IsNull());
  EXPECT_EQ(CodeOf([&] { q.ParamByName("A"); }), kSDBErrParamNotFound);
  q.ParamCheck = false;
  q.SetSQL("SELECT * FROM T WHERE Z = :Z");
  EXPECT_EQ(q.Params.Count(), 2);
}

TEST(ParamConversion, ComponentTypesBecomeEngineTypes) {
  TSDBParams p;
  p.Add("s").SetAsString("text");
  p.Add("i").SetAsInteger(7);
  p.Add("m").SetAsMemo("memo");
  p.Add("t").SetAsTime(0.5);
  p.Add("b").SetAsBlob("bytes");
  p.Add("n").DataType = ftString;
  TSDBSQLParams out;
  SDBConvertParams(p, out);
  ASSERT_EQ(out.Count(), 6u);
  EXPECT_EQ(out[0].Value.DataType(), bftVarchar);
  EXPECT_EQ(out[1].Value.DataType(), bftSignedInt32);
  EXPECT_EQ(out[1].Value.AsInt64(), 7);
  EXPECT_EQ(out[2].Value.DataType(), bftVarchar);
  EXPECT_EQ(out[3].Value.DataType(), bftTime);
  EXPECT_EQ(out[4].Value.DataType(), bftBlob);
  EXPECT_TRUE(out[5].Value.IsNull());
  EXPECT_EQ(out[5].Value.DataType(), bftVarchar);
}

class TableComponent : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE People (Id INTEGER, Name VARCHAR(20))");
    Exec("INSERT INTO People VALUES (3, 'c'), (1, 'a'), (2, 'b')");
    t.DatabaseName = name;
    t.TableName = "People";
  }
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("Name").AsString());
    return out;
  }
  TSDBTable t;
};

TEST_F(TableComponent, InsertEditCancelDeleteAndOrder) {
  t.IndexFieldNames = "Id";
  t.Open();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c"}));
  t.Insert();
  t.FieldByName("Id").SetAsInteger(0);
  t.FieldByName("Name").SetAsString("zero");
  t.Post();
  EXPECT_EQ(t.FieldByName("Name").AsString(), "zero");
  EXPECT_EQ(Names(), (std::vector<std::string>{"zero", "a", "b", "c"}));
  t.First();
  t.Next();
  t.Edit();
  t.FieldByName("Name").SetAsString("A");
  EXPECT_EQ(t.FieldByName("Name").AsString(), "A");
  t.Cancel();
  EXPECT_EQ(t.FieldByName("Name").AsString(), "a");
  t.Edit();
  t.FieldByName("Name").SetAsString("A");
  t.Post();
  t.First();
  t.Delete();
  EXPECT_EQ(Names(), (std::vector<std::string>{"A", "b", "c"}));
  t.SetRange({TSDBVariant::FromInt(2)}, {TSDBVariant::FromInt(3)});
  EXPECT_EQ(Names(), (std::vector<std::string>{"b", "c"}));
  t.CancelRange();
  EXPECT_EQ(t.RecordCount(), 3);
  t.Close();
  EXPECT_EQ(Query("SELECT Name FROM People ORDER BY Id"), (Rows{{"A"}, {"b"}, {"c"}}));
  EXPECT_EQ(CodeOf([&] { t.FieldByName("Name"); }), kSDBErrDataSetClosed);
}

}  // namespace
