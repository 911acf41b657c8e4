// Datasets that follow another dataset's current record: a query whose
// parameters come from a data source.
#include "ComponentTestUtil.h"
#include "sdb/SDBErrors.h"

using namespace sdb;
using namespace sdbtest;

namespace {

using Texts = std::vector<std::string>;

class DataLink : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE Orders (Id INTEGER, Client VARCHAR(20))");
    Exec("CREATE INDEX OrdersById ON Orders (Id)");
    Exec("CREATE TABLE Lines (OrderId INTEGER, Seq INTEGER, Item VARCHAR(20))");
    Exec("CREATE INDEX ByOrder ON Lines (OrderId, Seq)");
    Exec("INSERT INTO Orders VALUES (1, 'Anne'), (2, 'Bruno'), (3, 'Céline')");
    Exec("INSERT INTO Lines VALUES (2, 1, 'c'), (1, 2, 'b'), (4, 1, 'orphan'), (1, 1, 'a')");
  }
  // The orders in Id order, as a table or as a query.
  std::unique_ptr<TSDBDataSet> Orders(bool table) {
    if (table) {
      auto t = std::make_unique<TSDBTable>();
      t->DatabaseName = name;
      t->TableName = "Orders";
      t->IndexName = "OrdersById";
      return t;
    }
    auto q = std::make_unique<TSDBQuery>();
    q->DatabaseName = name;
    q->SetSQL("SELECT * FROM Orders ORDER BY Id");
    return q;
  }
  static Texts Items(TSDBDataSet& d) {
    Texts out;
    for (d.First(); !d.Eof(); d.Next()) out.push_back(d.FieldByName("Item").AsString());
    return out;
  }
};

const char* Kind(bool table) { return table ? "table master" : "query master"; }

TEST_F(DataLink, QueryParametersFollowTheSourceRecord) {
  for (bool table : {true, false}) {
    SCOPED_TRACE(Kind(table));
    auto orders = Orders(table);
    TSDBDataSource src(orders.get());
    TSDBQuery lines;
    lines.DatabaseName = name;
    lines.SetSQL("SELECT Item FROM Lines WHERE OrderId = :Id ORDER BY Seq");
    lines.SetDataSource(&src);
    orders->Open();
    lines.Open();
    EXPECT_EQ(Items(lines), (Texts{"a", "b"}));
    // The query runs again as the source moves, and only then.
    orders->Next();
    EXPECT_EQ(Items(lines), Texts{"c"});
    orders->Next();
    EXPECT_EQ(lines.RecordCount(), 0);
    orders->Prior();
    EXPECT_EQ(Items(lines), Texts{"c"});
    EXPECT_TRUE(orders->Locate("Client", {SDBTextValue("Anne")}));
    EXPECT_EQ(Items(lines), (Texts{"a", "b"}));
    // The parameter itself was never set: the source's value was lent for the run.
    EXPECT_TRUE(lines.ParamByName("Id").IsNull());
    // ExecSQL takes the source's values too.
    TSDBQuery update;
    update.DatabaseName = name;
    update.SetSQL("UPDATE Lines SET Item = Item WHERE OrderId = :Id");
    update.SetDataSource(&src);
    update.ExecSQL();
    EXPECT_EQ(update.RowsAffected(), 2);
    // A parameter set by the caller keeps its value.
    lines.Close();
    lines.ParamByName("Id").SetAsInteger(2);
    lines.Open();
    orders->First();
    orders->Next();
    orders->Next();
    EXPECT_EQ(Items(lines), Texts{"c"});
    // Unlinked, the source no longer runs it.
    lines.SetDataSource(nullptr);
    lines.Close();
    lines.ParamByName("Id").Clear();
    lines.Open();
    EXPECT_EQ(lines.RecordCount(), 0);
  }
}

TEST_F(DataLink, CircularLinksAreRefusedAndEitherSideMayGoFirst) {
  TSDBQuery a, b;
  TSDBDataSource srcA(&a), srcB(&b);
  b.SetDataSource(&srcA);
  EXPECT_EQ(CodeOf([&] { a.SetDataSource(&srcA); }), kSDBErrCircularDataLink);
  EXPECT_EQ(CodeOf([&] { a.SetDataSource(&srcB); }), kSDBErrCircularDataLink);
  EXPECT_EQ(a.DataSource(), nullptr);
  TSDBQuery q;
  q.DatabaseName = name;
  q.SetSQL("SELECT Item FROM Lines WHERE OrderId = :Id");
  {
    auto master = Orders(true);
    TSDBDataSource src(master.get());
    q.SetDataSource(&src);
    master->Open();
    q.Open();
    EXPECT_EQ(q.RecordCount(), 2);
    master.reset();
    EXPECT_EQ(src.DataSet(), nullptr);
  }
  EXPECT_EQ(q.DataSource(), nullptr);
  EXPECT_EQ(q.RecordCount(), 2);
}

}  // namespace
