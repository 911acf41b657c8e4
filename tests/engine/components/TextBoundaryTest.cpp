// Text crossing the engine's boundary: UTF-8 outside, Windows-1252 in 8-bit
// columns, UTF-16LE in wide columns and wide memos. Every way in (SQL
// literal, parameter, table component) is read back through UPPER, LENGTH
// and the components' UTF-8 reading.
#include <string>
#include <vector>

#include "ExecFixture.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBText.h"

namespace sdbtest {
namespace {

struct TTextCase {
  const char* Text;
  const char* Upper;
  int Length;       // characters
  bool Ansi;        // Windows-1252 holds it
};

const TTextCase kTexts[] = {
    {"plain", "PLAIN", 5, true},
    {"Été €", "ÉTÉ €", 5, true},
    {"œuvre", "ŒUVRE", 5, true},
    {"çà ÿ", "ÇÀ Ÿ", 4, true},
    {"Ω中", "Ω中", 2, false},
};

const char* const kAnsiColumns[] = {"S", "M"};
const char* const kWideColumns[] = {"W", "WM"};

class TextBoundary : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE T (ID INTEGER, S VARCHAR(30), W WIDEVARCHAR(30), M MEMO, WM WIDEMEMO)");
  }
  // UPPER, LENGTH and the UTF-8 reading of one column of row Id.
  void ExpectReadBack(int Id, const std::string& Column, const TTextCase& c, const std::string& how) {
    SCOPED_TRACE(how + " " + Column + " '" + c.Text + "'");
    sdb::TSDBQuery q;
    Prepare(q, "SELECT UPPER(" + Column + "), LENGTH(" + Column + "), " + Column + " FROM T WHERE ID = " +
                   std::to_string(Id),
            {});
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.Fields(0).AsString(), c.Upper);
    EXPECT_EQ(q.Fields(1).AsInteger(), c.Length);
    EXPECT_EQ(q.Fields(2).AsString(), c.Text);
  }
  // Writes text into Column of a new row Id by one of the three ways in.
  void Write(int way, int Id, const std::string& Column, const std::string& text) {
    const std::string id = std::to_string(Id);
    if (way == 0) {
      Exec("INSERT INTO T (ID, " + Column + ") VALUES (" + id + ", '" + text + "')");
    } else if (way == 1) {
      Exec("INSERT INTO T (ID, " + Column + ") VALUES (" + id + ", :v)", {{"v", text}});
    } else {
      sdb::TSDBTable t;
      t.DatabaseName = name;
      t.TableName = "T";
      t.Open();
      t.Insert();
      t.FieldByName("ID").SetAsInteger(Id);
      t.FieldByName(Column).SetAsString(text);
      t.Post();
      t.Close();
    }
  }
};

const char* const kWays[] = {"literal", "parameter", "component"};

TEST_F(TextBoundary, EveryWayInStoresAndFoldsCharacters) {
  int id = 0;
  for (int way = 0; way < 3; ++way)
    for (const TTextCase& c : kTexts) {
      for (const char* col : kWideColumns) {
        Write(way, ++id, col, c.Text);
        ExpectReadBack(id, col, c, kWays[way]);
      }
      if (!c.Ansi) continue;
      for (const char* col : kAnsiColumns) {
        Write(way, ++id, col, c.Text);
        ExpectReadBack(id, col, c, kWays[way]);
      }
    }
}

TEST_F(TextBoundary, EightBitColumnsRefuseOtherCharactersNamingTheColumn) {
  for (int way = 0; way < 3; ++way)
    for (const char* col : kAnsiColumns) {
      SCOPED_TRACE(std::string(kWays[way]) + " " + col);
      const std::string msg = MessageOf([&] { Write(way, 100 + way, col, "a中b"); });
      EXPECT_NE(msg.find(std::string("'") + col + "'"), std::string::npos) << msg;
      EXPECT_NE(msg.find("中"), std::string::npos) << msg;
      EXPECT_EQ(CodeOf([&] { Write(way, 100 + way, col, "a中b"); }), sdb::kSDBErrTextCharacter);
    }
  // Nothing was stored, not even a "?" in place of the character.
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T"), (Rows{{"0"}}));
}

TEST_F(TextBoundary, WideMemosAreStoredAsUtf16) {
  // SQL and the table component meet on the same bytes in either direction.
  Write(0, 1, "WM", "Ω é");
  Write(2, 2, "WM", "Ω é");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T WHERE WM = 'Ω é'"), (Rows{{"2"}}));
  sdb::TSDBTable t;
  t.DatabaseName = name;
  t.TableName = "T";
  t.Open();
  for (t.First(); !t.Eof(); t.Next()) {
    EXPECT_EQ(t.FieldByName("WM").AsString(), "Ω é");
    EXPECT_EQ(t.FieldByName("WM").Value().AsWideString(), u"Ω é");
  }
}

TEST_F(TextBoundary, ComparisonsAndLikeWorkOnCharacters) {
  Write(0, 1, "S", "Été €");
  Write(0, 2, "W", "Été € 中");
  EXPECT_EQ(Query("SELECT ID FROM T WHERE S LIKE '_t_ €'"), (Rows{{"1"}}));
  EXPECT_EQ(Query("SELECT ID FROM T WHERE W LIKE '%€ _'"), (Rows{{"2"}}));
  EXPECT_EQ(Query("SELECT ID FROM T WHERE S = 'Été €'"), (Rows{{"1"}}));
  EXPECT_EQ(Query("SELECT SUBSTRING(S FROM 2 FOR 3) FROM T WHERE ID = 1"),
            (Rows{{sdb::SDBWideToAnsi(u"té ")}}));
}

}  // namespace
}  // namespace sdbtest
