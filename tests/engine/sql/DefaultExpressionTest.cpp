// DEFAULT expressions are worked out at each insert and kept in the file
// as their text; constant defaults stay constants.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "../components/ExecFixture.h"
#include "components/SDBConnection.h"
#include "storage/table/SDBTableData.h"

using namespace sdb;
using namespace sdbtest;

namespace {

class DefaultExec : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE D (Id INTEGER, Stamp TIMESTAMP DEFAULT CURRENT_TIMESTAMP, Today DATE DEFAULT CURRENT_DATE, "
         "N INTEGER DEFAULT 2 * 3, S VARCHAR(10) DEFAULT 'x')");
  }
  // Inserts the row Id once the clock has moved on from the last insert.
  void InsertLater(int id) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Exec("INSERT INTO D (Id) VALUES (" + std::to_string(id) + ")");
  }
  // Whether row `later` was stamped after row `earlier`.
  bool StampedAfter(int later, int earlier) {
    return Query("SELECT COUNT(*) FROM D a, D b WHERE a.Id = " + std::to_string(later) +
                 " AND b.Id = " + std::to_string(earlier) + " AND a.Stamp > b.Stamp") == Rows{{"1"}};
  }
  void Reopen() {
    db.reset();
    db = std::make_unique<TSDBDatabase>();
    db->SetDatabaseName(name);
    db->SetDatabaseFileName(path);
    db->Open();
  }
};

TEST_F(DefaultExec, ExpressionsAreWorkedOutAtEachInsert) {
  InsertLater(1);
  InsertLater(2);
  EXPECT_TRUE(StampedAfter(2, 1));
  EXPECT_EQ(Query("SELECT COUNT(*) FROM D WHERE Today = CURRENT_DATE AND N = 6 AND S = 'x'"), (Rows{{"2"}}));
  // An explicit value wins over the default.
  Exec("INSERT INTO D (Id, N, Stamp) VALUES (9, 1, NULL)");
  EXPECT_EQ(Query("SELECT N, Stamp FROM D WHERE Id = 9"), (Rows{{"1", "NULL"}}));

  // The file keeps the expression, the constant stays a constant; both
  // survive a reopen and ALTER TABLE.
  Reopen();
  TSDBCursor c;
  db->Handle().OpenTable(c, "D");
  TSDBBaseFieldManager& fm = c.TableData->FieldManager();
  EXPECT_EQ(fm.Field(fm.FieldNo("Stamp")).FDefaultValueExpr, "CURRENT_TIMESTAMP");
  EXPECT_EQ(fm.Field(fm.FieldNo("N")).FDefaultValueExpr, "");
  EXPECT_EQ(Text(fm.Field(fm.FieldNo("N")).FDefaultValue), "6");
  db->Handle().CloseTable(c);
  InsertLater(3);
  EXPECT_TRUE(StampedAfter(3, 2));
  Exec("ALTER TABLE D ADD Extra INTEGER");
  InsertLater(4);
  EXPECT_TRUE(StampedAfter(4, 3));
  EXPECT_EQ(Query("SELECT COUNT(*) FROM D WHERE N = 6 AND Today = CURRENT_DATE"), (Rows{{"4"}}));
}

TEST_F(DefaultExec, ADefaultThatCannotBeWorkedOutIsRefused) {
  EXPECT_NE(CodeOf([&] { Exec("CREATE TABLE E (A INTEGER, B INTEGER DEFAULT A + 1)"); }), 0);
  EXPECT_FALSE(db->TableExists("E"));
}

}  // namespace
