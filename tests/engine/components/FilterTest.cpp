// Filters of the table and query components: what navigation, counting
// and Locate see, the filter options, invalid filters, and records leaving
// the view when a change makes them fail the filter.
#include <algorithm>

#include "ComponentTestUtil.h"
#include "sdb/SDBErrors.h"

using namespace sdb;
using namespace sdbtest;

namespace {

using Ids = std::vector<int64_t>;

TSDBVariant I(int64_t v) { return TSDBVariant::FromInt(v); }
TSDBVariant T(const char* v) { return SDBTextValue(v); }

class Filter : public ExecFixture {
 protected:
  void SetUp() override {
    ExecFixture::SetUp();
    Exec("CREATE TABLE Stock (Id INTEGER, Name VARCHAR(20), Qty INTEGER)");
    Exec("CREATE INDEX ById ON Stock (Id)");
    Exec("INSERT INTO Stock VALUES (1, 'Été', 5), (2, 'été', 2), (3, 'Hiver', 7), (4, 'Printemps', NULL), "
         "(5, 'hiver', 4), (6, 'Automne', 9)");
  }
  // A table in Id order and a live query over the same rows (stored in
  // that order).
  std::unique_ptr<TSDBDataSet> Make(bool table) {
    if (table) {
      auto t = std::make_unique<TSDBTable>();
      t->DatabaseName = name;
      t->TableName = "Stock";
      t->IndexName = "ById";
      return t;
    }
    auto q = std::make_unique<TSDBQuery>();
    q->DatabaseName = name;
    q->RequestLive = true;
    q->SetSQL("SELECT * FROM Stock");
    return q;
  }
  static int64_t Id(TSDBDataSet& d) { return d.FieldByName("Id").AsInteger(); }
  static Ids Forward(TSDBDataSet& d) {
    Ids out;
    for (d.First(); !d.Eof(); d.Next()) out.push_back(Id(d));
    return out;
  }
  static Ids Backward(TSDBDataSet& d) {
    Ids out;
    for (d.Last(); !d.Bof(); d.Prior()) out.insert(out.begin(), Id(d));
    return out;
  }
};

const char* Kind(bool table) { return table ? "table" : "query"; }

TEST_F(Filter, NavigationCountAndRecordNumbersSeeOnlyMatchingRecords) {
  struct Case {
    const char* Text;
    TSDBFilterOptions Options;
    Ids Expected;
  };
  const Case cases[] = {
      {"NAME = 'Été' AND QTY > 3", 0, {1}},
      {"Name = 'été'", foCaseInsensitive, {1, 2}},
      {"Name = 'hiv*'", 0, {5}},
      {"Name = 'hiv*'", foCaseInsensitive, {3, 5}},
      {"Name = 'hiv*'", foNoPartialCompare, {}},
      {"Name <> 'H*'", 0, {1, 2, 4, 5, 6}},
      {"Name = 'É*'", foCaseInsensitive, {1, 2}},
      {"Qty IS NULL", 0, {4}},
      {"Qty >= 7 OR Name LIKE 'P%'", 0, {3, 4, 6}},
      {"Id IN (2, 6) AND NOT (Qty < 3)", 0, {6}},
      {"Qty > 100", 0, {}},
      {"  ", 0, {1, 2, 3, 4, 5, 6}},
  };
  for (bool table : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(Kind(table)) + ": " + c.Text + " / " + std::to_string(c.Options));
      auto d = Make(table);
      d->SetFilter(c.Text);
      d->SetFilterOptions(c.Options);
      d->SetFiltered(true);
      d->Open();
      EXPECT_EQ(Forward(*d), c.Expected);
      EXPECT_EQ(Backward(*d), c.Expected);
      EXPECT_EQ(d->RecordCount(), static_cast<int64_t>(c.Expected.size()));
      d->Last();
      EXPECT_EQ(d->RecNo(), static_cast<int64_t>(c.Expected.size()));
      d->First();
      EXPECT_EQ(d->Eof(), c.Expected.empty());
      EXPECT_EQ(d->RecNo(), c.Expected.empty() ? 0 : 1);
      if (c.Expected.empty()) {
        EXPECT_TRUE(d->FieldByName("Id").IsNull());
      }
      // Turned off, every record is back.
      d->SetFiltered(false);
      EXPECT_EQ(Forward(*d), (Ids{1, 2, 3, 4, 5, 6}));
    }
  }
}

TEST_F(Filter, ChangingTheFilterOfAnOpenDatasetAppliesItAgain) {
  for (bool table : {true, false}) {
    SCOPED_TRACE(Kind(table));
    auto d = Make(table);
    EXPECT_FALSE(d->HasCurrentRecord());
    d->Open();
    d->SetFilter("Qty > 4");  // not filtered yet: nothing changes
    EXPECT_EQ(d->RecordCount(), 6);
    d->Last();
    d->SetFiltered(true);
    EXPECT_EQ(Id(*d), 1);  // applied from the first record
    EXPECT_EQ(Forward(*d), (Ids{1, 3, 6}));
    d->SetFilter("Name = 'h*'");
    EXPECT_EQ(Forward(*d), Ids{5});
    d->SetFilterOptions(foCaseInsensitive);
    EXPECT_EQ(Forward(*d), (Ids{3, 5}));
    // Closed and opened again, the filter stays.
    d->Close();
    d->Open();
    EXPECT_EQ(Forward(*d), (Ids{3, 5}));
  }
}

TEST_F(Filter, LocateFindsOnlyVisibleRecordsAndKeepsThePositionOtherwise) {
  struct Case {
    const char* Fields;
    std::vector<TSDBVariant> Values;
    TSDBLocateOptions Options;
    int64_t Found;  // 0: not found
  };
  const Case cases[] = {
      {"Id", {I(2)}, 0, 0},  // hidden by the filter
      {"Id", {I(6)}, 0, 6},
      {"Name", {T("hiver")}, 0, 5},
      {"Name", {T("HIVER")}, loCaseInsensitive, 3},
      {"Name", {T("Hiv")}, 0, 0},
      {"name", {T("hiv")}, loCaseInsensitive | loPartialKey, 3},
      {"Name;Qty", {T("Été"), I(5)}, 0, 1},
      {"Name;Qty", {T("Été"), I(4)}, 0, 0},
      {"Name", {T("Printemps")}, 0, 0},  // Qty is null: hidden
  };
  for (bool table : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(Kind(table)) + ": " + c.Fields + " " + c.Values[0].AsString());
      auto d = Make(table);
      d->SetFilter("Qty > 3");
      d->SetFiltered(true);
      d->Open();
      d->Next();  // on 3
      EXPECT_EQ(d->Locate(c.Fields, c.Values, c.Options), c.Found != 0);
      EXPECT_EQ(Id(*d), c.Found != 0 ? c.Found : 3);
      EXPECT_FALSE(d->Eof());
      // Moving on goes to the next visible record (or stays on the last one).
      const Ids visible{1, 3, 5, 6};
      const auto at = std::find(visible.begin(), visible.end(), Id(*d));
      d->Next();
      EXPECT_EQ(Id(*d), at + 1 == visible.end() ? *at : *(at + 1));
    }
    auto d = Make(table);
    d->Open();
    EXPECT_EQ(CodeOf([&] { d->Locate("Nope", {I(1)}); }), kSDBErrFieldNotFound);
    EXPECT_EQ(CodeOf([&] { d->Locate("Id;Qty", {I(1)}); }), kSDBErrKeyListLengths);
    // Without a filter, a null value finds the record whose field is null.
    EXPECT_TRUE(d->Locate("Qty", {TSDBVariant(bftSignedInt32)}));
    EXPECT_EQ(Id(*d), 4);
  }
}

TEST_F(Filter, KeySearchesAndRangesOfATableKeepToTheFilter) {
  auto d = Make(true);
  auto& t = static_cast<TSDBTable&>(*d);
  t.SetFilter("Qty > 3");  // shows 1, 3, 5, 6
  t.SetFiltered(true);
  t.Open();
  t.Last();
  EXPECT_FALSE(t.FindKey({I(2)}));  // hidden: the position stays
  EXPECT_EQ(Id(t), 6);
  EXPECT_TRUE(t.FindKey({I(5)}));
  EXPECT_EQ(Id(t), 5);
  EXPECT_TRUE(t.FindNearest({I(2)}));  // 2 is hidden: the next shown
  EXPECT_EQ(Id(t), 3);
  EXPECT_FALSE(t.FindNearest({I(7)}));
  EXPECT_TRUE(t.Eof());
  t.SetRange({I(2)}, {I(5)});
  EXPECT_EQ(Forward(t), (Ids{3, 5}));
  EXPECT_EQ(t.RecordCount(), 2);
  t.CancelRange();
  EXPECT_EQ(Forward(t), (Ids{1, 3, 5, 6}));
  // Another order keeps the filter.
  t.SetIndexFieldNames("Qty DESC");
  EXPECT_EQ(Forward(t), (Ids{6, 3, 1, 5}));
}

TEST_F(Filter, InvalidFilterIsRefusedAndLeavesTheDatasetAsItWas) {
  const char* bad[] = {
      "Nom = 'x'",            // unknown field
      "Qty >",                // incomplete
      "Qty + 1",              // no condition
      "Qty > 1 Name",         // text left over
      "Qty > (SELECT 1)",     // subquery
      "COUNT(*) > 1",         // aggregate
      "Qty > 1; Qty < 3",     // two statements
      "Name = 'x",            // unterminated text
  };
  for (bool table : {true, false}) {
    for (const char* text : bad) {
      SCOPED_TRACE(std::string(Kind(table)) + ": " + text);
      auto d = Make(table);
      d->SetFilter("Qty > 3");
      d->SetFiltered(true);
      d->Open();
      d->Last();  // on 6
      const std::string msg = MessageOf([&] { d->SetFilter(text); });
      EXPECT_NE(msg.find("Invalid filter expression '" + std::string(text) + "'"), std::string::npos) << msg;
      EXPECT_EQ(CodeOf([&] { d->SetFilter(text); }), kSDBErrInvalidFilter);
      EXPECT_EQ(d->Filter(), "Qty > 3");
      EXPECT_TRUE(d->Filtered());
      EXPECT_EQ(Id(*d), 6);
      EXPECT_EQ(Forward(*d), (Ids{1, 3, 5, 6}));
      // Turning a stored bad text on fails too, and leaves the filter off.
      d->SetFiltered(false);
      d->Close();
      d->SetFilter(text);  // not applied while off
      d->Open();
      EXPECT_EQ(CodeOf([&] { d->SetFiltered(true); }), kSDBErrInvalidFilter);
      EXPECT_FALSE(d->Filtered());
      EXPECT_EQ(d->RecordCount(), 6);
    }
  }
  // Opening with an invalid filter fails and leaves the dataset closed.
  auto d = Make(true);
  d->SetFilter("Nom = 1");
  d->SetFiltered(true);
  EXPECT_EQ(CodeOf([&] { d->Open(); }), kSDBErrInvalidFilter);
  EXPECT_FALSE(d->Active());
}

TEST_F(Filter, ChangedRecordsLeaveOrJoinTheViewAfterPost) {
  for (bool table : {true, false}) {
    SCOPED_TRACE(Kind(table));
    auto d = Make(table);
    d->SetFilter("Qty > 3");
    d->SetFiltered(true);
    d->Open();
    ASSERT_EQ(Forward(*d), (Ids{1, 3, 5, 6}));
    // Editing 3 so that it fails the filter: hidden after Post, the next one is current.
    ASSERT_TRUE(d->Locate("Id", {I(3)}));
    d->Edit();
    d->FieldByName("Qty").SetAsInteger(1);
    EXPECT_EQ(Id(*d), 3);  // still shown while being edited
    EXPECT_EQ(d->RecordCount(), 4);
    EXPECT_TRUE(d->HasCurrentRecord());
    d->Post();
    EXPECT_EQ(Id(*d), 5);
    EXPECT_EQ(d->RecordCount(), 3);
    // The last one hidden: the one before it becomes current.
    d->Last();
    d->Edit();
    d->FieldByName("Qty").SetAsInteger(0);
    d->Post();
    EXPECT_EQ(Id(*d), 5);
    EXPECT_EQ(Forward(*d), (Ids{1, 5}));
    // A new record that matches is shown, one that does not is not.
    d->Insert();
    d->FieldByName("Id").SetAsInteger(7);
    d->FieldByName("Qty").SetAsInteger(10);
    d->Post();
    EXPECT_EQ(Id(*d), 7);
    d->Insert();
    d->FieldByName("Id").SetAsInteger(8);
    d->FieldByName("Qty").SetAsInteger(1);
    d->Post();
    EXPECT_EQ(Forward(*d), (Ids{1, 5, 7}));
    // Deleting moves to the next visible record.
    d->First();
    d->Delete();
    EXPECT_EQ(Id(*d), 5);
    d->Delete();
    d->Delete();
    EXPECT_EQ(d->RecordCount(), 0);
    EXPECT_TRUE(d->Eof());
    EXPECT_TRUE(d->Bof());
    EXPECT_FALSE(d->HasCurrentRecord());
    // Every change reached the table.
    EXPECT_EQ(Query("SELECT Id, Qty FROM Stock ORDER BY Id"),
              (Rows{{"2", "2"}, {"3", "1"}, {"4", "NULL"}, {"6", "0"}, {"8", "1"}}));
    // Start again for the other dataset.
    Exec("DELETE FROM Stock");
    Exec("INSERT INTO Stock VALUES (1, 'Été', 5), (2, 'été', 2), (3, 'Hiver', 7), (4, 'Printemps', NULL), "
         "(5, 'hiver', 4), (6, 'Automne', 9)");
  }
}

}  // namespace
