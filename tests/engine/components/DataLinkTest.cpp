// Datasets that follow another dataset's current record: a query whose
// parameters come from a data source, and a detail table that shows the
// records of its master's current record.
#include <algorithm>

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
  void UseLines(TSDBTable& t) {
    t.DatabaseName = name;
    t.TableName = "Lines";
    t.IndexName = "ByOrder";
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

TEST_F(DataLink, DetailTableShowsTheMasterRecordsAndFollowsIt) {
  struct Case {
    const char* IndexName;
    const char* IndexFieldNames;
  };
  const Case orders[] = {{"ByOrder", ""}, {"", "OrderId;Seq"}, {"", "OrderId"}};
  for (bool table : {true, false}) {
    for (const Case& c : orders) {
      SCOPED_TRACE(std::string(Kind(table)) + " / " + c.IndexName + c.IndexFieldNames);
      auto master = Orders(table);
      TSDBDataSource src(master.get());
      TSDBTable lines;
      UseLines(lines);
      lines.IndexName = c.IndexName;
      lines.IndexFieldNames = c.IndexFieldNames;
      lines.SetMasterFields("Id");
      lines.SetMasterSource(&src);
      // Without an open master every record shows.
      lines.Open();
      EXPECT_EQ(lines.RecordCount(), 4);
      master->Open();
      EXPECT_EQ(Items(lines), (Texts{"a", "b"}));
      EXPECT_EQ(lines.RecordCount(), 2);
      master->Next();
      EXPECT_EQ(Items(lines), Texts{"c"});
      master->Next();  // an order without lines
      EXPECT_EQ(lines.RecordCount(), 0);
      EXPECT_TRUE(lines.Eof());
      EXPECT_TRUE(lines.Bof());
      EXPECT_TRUE(lines.FieldByName("Item").IsNull());
      master->Last();
      master->Prior();
      EXPECT_EQ(Items(lines), Texts{"c"});
      // The master closed: every record again.
      master->Close();
      EXPECT_EQ(lines.RecordCount(), 4);
    }
  }
}

TEST_F(DataLink, DetailInsertsTakeTheMasterKeyAndChangedKeysLeave) {
  auto master = Orders(true);
  TSDBDataSource src(master.get());
  TSDBTable lines;
  UseLines(lines);
  lines.SetMasterSource(&src);
  lines.SetMasterFields("Id");
  master->Open();
  lines.Open();
  master->Last();  // order 3, no lines yet
  lines.Insert();
  lines.FieldByName("Seq").SetAsInteger(1);
  lines.FieldByName("Item").SetAsString("d");
  lines.Post();
  EXPECT_EQ(Items(lines), Texts{"d"});
  // A line moved to another order leaves this one.
  master->First();
  ASSERT_EQ(Items(lines), (Texts{"a", "b"}));
  lines.First();
  lines.Edit();
  lines.FieldByName("OrderId").SetAsInteger(2);
  lines.FieldByName("Seq").SetAsInteger(2);
  lines.Post();
  EXPECT_EQ(lines.FieldByName("Item").AsString(), "b");
  EXPECT_EQ(Items(lines), Texts{"b"});
  master->Next();
  EXPECT_EQ(Items(lines), (Texts{"c", "a"}));
  EXPECT_EQ(Query("SELECT OrderId, Seq, Item FROM Lines ORDER BY OrderId, Seq"),
            (Rows{{"1", "2", "b"}, {"2", "1", "c"}, {"2", "2", "a"}, {"3", "1", "d"}, {"4", "1", "orphan"}}));
  // The detail's own filter applies within the master's records.
  lines.SetFilter("Item <> 'c'");
  lines.SetFiltered(true);
  EXPECT_EQ(Items(lines), Texts{"a"});
  // A master that shows no record: no detail record either.
  master->SetFilter("Id > 100");
  master->SetFiltered(true);
  EXPECT_EQ(lines.RecordCount(), 0);
  master->SetFiltered(false);
  EXPECT_EQ(Items(lines), Texts{"b"});
}

TEST_F(DataLink, DetailKeyComparesTextsAsItsIndexDoes) {
  Exec("CREATE TABLE Notes (Client VARCHAR(20), Item VARCHAR(20))");
  Exec("CREATE INDEX ByClient ON Notes (Client NOCASE)");
  Exec("INSERT INTO Notes VALUES ('ANNE', 'x'), ('Bruno', 'y'), ('anne', 'z')");
  auto master = Orders(true);
  TSDBDataSource src(master.get());
  TSDBTable notes;
  notes.DatabaseName = name;
  notes.TableName = "Notes";
  notes.IndexName = "ByClient";
  notes.SetMasterSource(&src);
  notes.SetMasterFields("Client");
  master->Open();
  notes.Open();
  Texts items = Items(notes);
  std::sort(items.begin(), items.end());
  EXPECT_EQ(items, (Texts{"x", "z"}));
  // An order that cannot carry the master fields is refused; the old one stays.
  EXPECT_EQ(CodeOf([&] { notes.SetIndexName(""); }), kSDBErrMasterFields);
  EXPECT_EQ(notes.IndexName, "ByClient");
  EXPECT_EQ(notes.RecordCount(), 2);
}

TEST_F(DataLink, BadLinksAreRefused) {
  auto master = Orders(true);
  TSDBDataSource src(master.get());
  master->Open();
  // More master fields than order fields, or no order at all.
  struct Case {
    const char* IndexName;
    const char* MasterFields;
  };
  const Case cases[] = {{"ByOrder", "Id;Client;Id"}, {"", "Id"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.MasterFields);
    TSDBTable lines;
    UseLines(lines);
    lines.IndexName = c.IndexName;
    lines.SetMasterSource(&src);
    lines.SetMasterFields(c.MasterFields);
    const std::string msg = MessageOf([&] { lines.Open(); });
    EXPECT_NE(msg.find("MasterFields '" + std::string(c.MasterFields) + "' do not fit"), std::string::npos) << msg;
    EXPECT_FALSE(lines.Active());
  }
  // An unknown master field; a bad change of an open detail keeps the old fields.
  TSDBTable lines;
  UseLines(lines);
  lines.SetMasterSource(&src);
  lines.SetMasterFields("Id");
  lines.Open();
  EXPECT_EQ(CodeOf([&] { lines.SetMasterFields("Nope"); }), kSDBErrFieldNotFound);
  EXPECT_EQ(lines.MasterFields(), "Id");
  EXPECT_EQ(Items(lines), (Texts{"a", "b"}));
  // Circular links, direct or through another dataset.
  TSDBDataSource linesSrc(&lines);
  TSDBTable third;
  TSDBDataSource thirdSrc(&third);
  third.SetMasterSource(&linesSrc);
  EXPECT_EQ(CodeOf([&] { lines.SetMasterSource(&linesSrc); }), kSDBErrCircularDataLink);
  EXPECT_EQ(CodeOf([&] { lines.SetMasterSource(&thirdSrc); }), kSDBErrCircularDataLink);
  EXPECT_EQ(CodeOf([&] { src.SetDataSet(&third); }), kSDBErrCircularDataLink);
  EXPECT_EQ(lines.MasterSource(), &src);
}

TEST_F(DataLink, EitherSideMayGoFirst) {
  // The source destroyed before the datasets that use it, and the master
  // destroyed before its source.
  TSDBTable lines;
  UseLines(lines);
  lines.SetMasterFields("Id");
  TSDBQuery q;
  q.DatabaseName = name;
  q.SetSQL("SELECT Item FROM Lines WHERE OrderId = :Id");
  {
    auto master = Orders(true);
    TSDBDataSource src(master.get());
    lines.SetMasterSource(&src);
    q.SetDataSource(&src);
    master->Open();
    lines.Open();
    q.Open();
    EXPECT_EQ(lines.RecordCount(), 2);
    EXPECT_EQ(q.RecordCount(), 2);
    master.reset();
    EXPECT_EQ(src.DataSet(), nullptr);
    EXPECT_EQ(lines.RecordCount(), 4);
  }
  EXPECT_EQ(lines.MasterSource(), nullptr);
  EXPECT_EQ(q.DataSource(), nullptr);
  lines.First();
  EXPECT_EQ(lines.RecordCount(), 4);
}

}  // namespace
