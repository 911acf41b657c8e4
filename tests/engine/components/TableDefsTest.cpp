// The table component's definitions: FieldDefs and IndexDefs read from a
// table, a table created from them, and the table-level operations
// (indexes, empty, rename, delete).
#include "ExecFixture.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBText.h"

using namespace sdb;
using namespace sdbtest;

namespace {

// One line per definition, so that a list compares as a whole and a
// difference shows which property it is.
std::string Describe(const TSDBTableFieldDef& d) {
  std::string s = d.Name + " " + SDBAdvancedFieldTypeName(d.DataType) + "(" + std::to_string(d.Size) + ")";
  if (d.Required) s += " required";
  if (!d.DefaultValue.IsNull()) s += " default=" + SDBValueUtf8(d.DefaultValue);
  if (!d.DefaultExpression.empty()) s += " expr=" + d.DefaultExpression;
  if (SDBIsBlobFieldType(d.BaseType()))
    s += " blob=" + std::to_string(d.BlobCompression) + "/" + std::to_string(d.BlobCompressionMode) + "/" +
         std::to_string(d.BlobBlockSize);
  if (SDBIsAutoIncFieldType(d.DataType))
    s += " autoinc=" + std::to_string(d.AutoincIncrement) + "/" + std::to_string(d.AutoincInitialValue) + "/" +
         std::to_string(d.AutoincMinValue) + "/" + std::to_string(d.AutoincMaxValue) +
         (d.AutoincCycled ? "/cycled" : "");
  return s;
}

std::string Describe(const TSDBTableIndexDef& d) {
  std::string s = d.Name + " (" + d.Fields + ")";
  if (d.Options & ixPrimary) s += " primary";
  if (d.Options & ixUnique) s += " unique";
  if (d.Options & ixDescending) s += " desc";
  if (d.Options & ixCaseInsensitive) s += " nocase";
  if (!d.DescFields.empty()) s += " desc=" + d.DescFields;
  if (!d.CaseInsFields.empty()) s += " nocase=" + d.CaseInsFields;
  return s;
}

template <class L>
std::vector<std::string> Described(const L& List) {
  std::vector<std::string> out;
  for (const auto& d : List) out.push_back(Describe(d));
  return out;
}

using Lines = std::vector<std::string>;

class TableDefs : public ExecFixture {
 protected:
  void Use(TSDBTable& t, const std::string& table) {
    t.DatabaseName = name;
    t.TableName = table;
  }
  bool Exists(const std::string& table) { return db->TableExists(table); }
  // Rows of a query with texts in UTF-8, as an application reads them.
  Rows Utf8Rows(const std::string& sql) {
    TSDBQuery q;
    q.DatabaseName = name;
    q.SetSQL(sql);
    q.Open();
    Rows out;
    for (q.First(); !q.Eof(); q.Next()) {
      std::vector<std::string> row;
      for (int i = 0; i < q.FieldCount(); ++i) row.push_back(q.Fields(i).AsString());
      out.push_back(std::move(row));
    }
    return out;
  }
};

// Every property the table keeps comes back in the definitions, closed or
// open, whatever statement made it.
TEST_F(TableDefs, DefinitionsOfAnExistingTable) {
  Exec("CREATE TABLE Clients (Id AUTOINC (INCREMENT 5, INITIALVALUE 100), Nom VARCHAR(30) NOT NULL DEFAULT 'Été', "
       "W WIDEVARCHAR(12), Prix DOUBLE DEFAULT 1.5, Cree TIMESTAMP DEFAULT CURRENT_TIMESTAMP, "
       "Notes MEMO BLOBBLOCKSIZE 4096 BLOBCOMPRESSIONALGORITHM ZLIB BLOBCOMPRESSIONMODE 7, Ok BOOLEAN, "
       "Code CHAR(4), PRIMARY KEY (Id))");
  Exec("CREATE INDEX ParNom ON Clients (Nom DESC NOCASE, Prix)");
  Exec("CREATE INDEX ParNomDesc ON Clients (Nom DESC, Code DESC)");
  const Lines fields = {
      "Id aftAutoInc(0) autoinc=5/100/0/0",
      "Nom aftString(30) required default=Été",
      "W aftWideString(12)",
      "Prix aftDouble(0) default=1.5",
      "Cree aftTimeStamp(0) expr=CURRENT_TIMESTAMP",
      "Notes aftMemo(0) blob=1/7/4096",
      "Ok aftBoolean(0)",
      "Code aftChar(4)",
  };
  const Lines indexes = {
      "PK_Clients (Id) primary unique",
      "ParNom (Nom;Prix) desc=Nom nocase=Nom",
      "ParNomDesc (Nom;Code) desc",
  };
  TSDBTable t;
  Use(t, "clients");
  t.UpdateDefs();
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(Described(t.FieldDefs), fields);
  EXPECT_EQ(Described(t.IndexDefs), indexes);

  // Opening fills them again, replacing whatever the caller left there.
  t.FieldDefs.Clear();
  t.IndexDefs.Add("Stale", "X");
  t.Open();
  EXPECT_EQ(Described(t.FieldDefs), fields);
  EXPECT_EQ(Described(t.IndexDefs), indexes);
  ASSERT_NE(t.FieldDefs.Find("NOM"), nullptr);
  EXPECT_EQ(t.FieldDefs.Find("NOM")->BaseType(), bftVarchar);

  TSDBTable missing;
  Use(missing, "Absent");
  EXPECT_NE(MessageOf([&] { missing.UpdateDefs(); }).find("Table 'Absent' does not exist."), std::string::npos);
}

// A table created from definitions holds them: read back they are the
// same, and the engine enforces what they say (NOT NULL, defaults, unique
// keys, key order). Copying a table's definitions makes the same table.
TEST_F(TableDefs, CreateTableFromDefinitions) {
  TSDBTable t;
  Use(t, "Articles");
  t.FieldDefs.Add("Ref", aftInteger, 0, true);
  t.FieldDefs.Add("Libellé", aftString, 20).DefaultValue = SDBTextValue("œuvre €");
  t.FieldDefs.Add("Large", aftWideString, 8);
  t.FieldDefs.Add("Qte", aftSmallint).DefaultValue = TSDBVariant::FromInt(3);
  t.FieldDefs.Add("Le", aftDateTime).DefaultExpression = "CURRENT_TIMESTAMP";
  TSDBTableFieldDef& data = t.FieldDefs.Add("Data", aftBlob);
  data.BlobCompression = bcZLIB;
  data.BlobCompressionMode = 6;
  data.BlobBlockSize = 2048;
  TSDBTableFieldDef& n = t.FieldDefs.Add("N", aftAutoIncLargeint);
  n.AutoincIncrement = 10;
  n.AutoincMaxValue = 1000;
  n.AutoincCycled = true;
  t.IndexDefs.Add("PK", "ref", ixPrimary);
  t.IndexDefs.Add("ParLibelle", "Libellé;Qte", ixUnique).DescFields = "Qte";
  t.IndexDefs.Add("ParLarge", "Large", ixCaseInsensitive | ixDescending);
  const Lines fields = {
      "Ref aftInteger(0) required",
      "Libellé aftString(20) default=œuvre €",
      "Large aftWideString(8)",
      "Qte aftSmallint(0) default=3",
      "Le aftDateTime(0) expr=CURRENT_TIMESTAMP",
      "Data aftBlob(0) blob=1/6/2048",
      "N aftAutoIncLargeint(0) autoinc=10/0/0/1000/cycled",
  };
  const Lines indexes = {
      "PK (Ref) primary unique",
      "ParLibelle (Libellé;Qte) unique desc=Qte",
      "ParLarge (Large) desc nocase",
  };
  EXPECT_EQ(Described(t.FieldDefs)[0], fields[0]);
  t.CreateTable();
  ASSERT_TRUE(Exists("ARTICLES"));
  t.FieldDefs.Clear();
  t.IndexDefs.Clear();
  t.UpdateDefs();
  EXPECT_EQ(Described(t.FieldDefs), fields);
  EXPECT_EQ(Described(t.IndexDefs), indexes);

  Exec("INSERT INTO Articles (Ref, Large) VALUES (1, 'b')");
  Exec("INSERT INTO Articles (Ref, Large, `Libellé`) VALUES (2, 'A', 'x'), (3, 'c', 'y')");
  EXPECT_EQ(Utf8Rows("SELECT Ref, `Libellé`, Qte, N, Le IS NOT NULL FROM Articles WHERE Ref = 1"),
            (Rows{{"1", "œuvre €", "3", "10", "True"}}));
  EXPECT_EQ(Utf8Rows("SELECT UPPER(`Libellé`), LENGTH(`Libellé`) FROM Articles WHERE Ref = 1"),
            (Rows{{"ŒUVRE €", "7"}}));
  // Required, primary and unique keys hold.
  EXPECT_EQ(CodeOf([&] { Exec("INSERT INTO Articles (Large) VALUES ('x')"); }), kSDBErrNotNullViolated);
  EXPECT_NE(CodeOf([&] { Exec("INSERT INTO Articles (Ref, Large) VALUES (1, 'x')"); }), 0);
  EXPECT_NE(CodeOf([&] { Exec("INSERT INTO Articles (Ref, `Libellé`, Qte) VALUES (9, 'œuvre €', 3)"); }), 0);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Articles"), (Rows{{"3"}}));
  // The descending, case-insensitive key orders the table.
  TSDBTable byLarge;
  Use(byLarge, "Articles");
  byLarge.IndexName = "ParLarge";
  byLarge.Open();
  Rows order;
  for (byLarge.First(); !byLarge.Eof(); byLarge.Next()) order.push_back({byLarge.FieldByName("Large").AsString()});
  EXPECT_EQ(order, (Rows{{"c"}, {"b"}, {"A"}}));
  byLarge.Close();

  TSDBTable copy;
  Use(copy, "Copie");
  copy.FieldDefs = t.FieldDefs;
  copy.IndexDefs = t.IndexDefs;
  copy.CreateTable();
  copy.UpdateDefs();
  EXPECT_EQ(Described(copy.FieldDefs), fields);
  EXPECT_EQ(Described(copy.IndexDefs), indexes);
}

// Definitions the engine cannot take are refused before anything is
// written, each with an error that says what is wrong.
TEST_F(TableDefs, BadDefinitionsAreRefusedAndCreateNothing) {
  Exec("CREATE TABLE Existe (A INTEGER)");
  struct Case {
    const char* Name;
    std::function<void(TSDBTable&)> Define;
    int Code;
    const char* Text;
  };
  auto base = [](TSDBTable& t) {
    t.FieldDefs.Add("A", aftInteger);
    t.FieldDefs.Add("B", aftString, 10);
  };
  const Case cases[] = {
      {"unknown type", [&](TSDBTable& t) { base(t); t.FieldDefs.Add("C", aftUnknown); },
       kSDBErrNewFieldType, "Field 'C' has no known data type (0)"},
      {"type out of range",
       [&](TSDBTable& t) { base(t); t.FieldDefs.Add("C", static_cast<TSDBAdvancedFieldType>(200)); },
       kSDBErrNewFieldType, "Field 'C' has no known data type (200)"},
      {"duplicate field", [&](TSDBTable& t) { base(t); t.FieldDefs.Add("b", aftInteger); },
       kSDBErrNewFieldDuplicate, "Duplicate field name 'b'"},
      {"field without name", [&](TSDBTable& t) { base(t); t.FieldDefs.Add("", aftInteger); },
       kSDBErrNewFieldName, "Field name missing (field 3)"},
      {"text without size", [&](TSDBTable& t) { base(t); t.FieldDefs.Add("C", aftWideChar); },
       kSDBErrNewFieldSize, "Field 'C' needs a size"},
      {"no fields", [](TSDBTable&) {}, kSDBErrTableWithoutFields, "no fields were specified"},
      {"index on unknown field", [&](TSDBTable& t) { base(t); t.IndexDefs.Add("I", "A;Z"); },
       kSDBErrNewIndexField, "Index 'I' names the unknown field 'Z'"},
      {"descending field not indexed",
       [&](TSDBTable& t) { base(t); t.IndexDefs.Add("I", "A").DescFields = "B"; }, kSDBErrNewIndexField,
       "Index 'I' names the field 'B', which it does not index"},
      {"duplicate index",
       [&](TSDBTable& t) { base(t); t.IndexDefs.Add("I", "A"); t.IndexDefs.Add("i", "B"); },
       kSDBErrNewIndexDuplicate, "Duplicate index name 'i'"},
      {"index without name", [&](TSDBTable& t) { base(t); t.IndexDefs.Add("", "A"); }, kSDBErrNewIndexName,
       "Index name missing"},
      {"index without fields", [&](TSDBTable& t) { base(t); t.IndexDefs.Add("I", " ; "); },
       kSDBErrNewIndexNoFields, "Index 'I' has no fields"},
      {"default of the wrong type",
       [&](TSDBTable& t) { base(t); t.FieldDefs[0].DefaultValue = TSDBVariant::FromString("abc"); }, 0,
       "Cannot convert value 'abc'"},
      {"default the column cannot hold",
       [&](TSDBTable& t) { base(t); t.FieldDefs[1].DefaultValue = SDBTextValue("a中"); }, kSDBErrTextCharacter,
       "Column 'B' cannot hold the character '中'"},
      {"default expression that does not parse",
       [&](TSDBTable& t) { base(t); t.FieldDefs[0].DefaultExpression = "1 +"; }, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TSDBTable t;
    Use(t, "Nouvelle");
    c.Define(t);
    std::string message;
    int code = 0;
    try {
      t.CreateTable();
    } catch (const ESDBException& e) {
      code = e.NativeError();
      message = e.what();
    }
    EXPECT_NE(code, 0);
    if (c.Code) {
      EXPECT_EQ(code, c.Code);
    }
    EXPECT_NE(message.find(c.Text), std::string::npos) << message;
    EXPECT_FALSE(Exists("Nouvelle"));
  }
  EXPECT_EQ(db->GetTablesList(), (std::vector<std::string>{"Existe"}));

  // An existing table, whatever the case of its name, stays as it was.
  TSDBTable t;
  Use(t, "EXISTE");
  t.FieldDefs.Add("X", aftString, 5);
  EXPECT_EQ(CodeOf([&] { t.CreateTable(); }), kSDBErrTableExists);
  t.UpdateDefs();
  EXPECT_EQ(Described(t.FieldDefs), Lines{"A aftInteger(0)"});
  // An open table cannot be created over, and a table needs a name.
  t.Open();
  EXPECT_EQ(CodeOf([&] { t.CreateTable(); }), kSDBErrDataSetOpen);
  TSDBTable unnamed;
  unnamed.DatabaseName = name;
  unnamed.FieldDefs.Add("A", aftInteger);
  EXPECT_EQ(CodeOf([&] { unnamed.CreateTable(); }), kSDBErrTableNameMissing);
}

// Indexes come and go on an open or a closed table; the definitions
// follow, and an open table read in a dropped index's order goes on in
// physical order.
TEST_F(TableDefs, AddAndDeleteIndexes) {
  Exec("CREATE TABLE T (Id INTEGER, Nom VARCHAR(10))");
  Exec("INSERT INTO T VALUES (2, 'b'), (1, 'B'), (3, 'a')");
  auto ids = [](TSDBTable& t) {
    Rows out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back({t.FieldByName("Id").AsString()});
    return out;
  };
  TSDBTable t;
  Use(t, "T");
  t.AddIndex("ParId", "id", ixUnique | ixDescending);
  EXPECT_EQ(Described(t.IndexDefs), Lines{"ParId (id) unique desc"});
  t.IndexName = "ParId";
  t.Open();
  EXPECT_EQ(ids(t), (Rows{{"3"}, {"2"}, {"1"}}));
  t.AddIndex("ParNom", "Nom;Id", 0, "", "Nom");
  EXPECT_EQ(Described(t.IndexDefs), (Lines{"ParId (id) unique desc", "ParNom (Nom;Id) nocase=Nom"}));
  t.SetIndexName("ParNom");
  EXPECT_EQ(ids(t), (Rows{{"3"}, {"1"}, {"2"}}));

  // Refusals leave the indexes as they were.
  Exec("INSERT INTO T VALUES (4, 'a')");
  t.Refresh();
  struct Case {
    const char* Name;
    std::function<void()> Call;
    int Code;
  };
  const Case cases[] = {
      {"records break a unique key", [&] { t.AddIndex("U", "Nom", ixUnique | ixCaseInsensitive); },
       kSDBErrUniqueViolated},
      {"name taken", [&] { t.AddIndex("parid", "Nom"); }, kSDBErrIndexExists},
      {"unknown field", [&] { t.AddIndex("X", "Nope"); }, kSDBErrNewIndexField},
      {"unknown index", [&] { t.DeleteIndex("Nope"); }, kSDBErrIndexNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(CodeOf(c.Call), c.Code);
    EXPECT_EQ(Described(t.IndexDefs), (Lines{"ParId (id) unique desc", "ParNom (Nom;Id) nocase=Nom"}));
  }

  t.DeleteIndex("parnom");
  EXPECT_EQ(t.IndexName, "");
  EXPECT_EQ(ids(t), (Rows{{"2"}, {"1"}, {"3"}, {"4"}}));
  t.Close();
  t.DeleteIndex("ParId");
  EXPECT_TRUE(t.IndexDefs.Count() == 0);
  t.UpdateDefs();
  EXPECT_TRUE(t.IndexDefs.Count() == 0);
  EXPECT_EQ(Query("SELECT Id FROM T WHERE Id = 4"), (Rows{{"4"}}));
}

TEST_F(TableDefs, EmptyRenameAndDeleteATable) {
  Exec("CREATE TABLE T (Id INTEGER, M MEMO)");
  Exec("INSERT INTO T VALUES (1, 'un'), (2, 'deux')");
  TSDBTable t;
  Use(t, "T");
  t.Open();
  for (auto* call : {+[](TSDBTable& x) { x.EmptyTable(); }, +[](TSDBTable& x) { x.DeleteTable(); },
                     +[](TSDBTable& x) { x.RenameTable("U"); }})
    EXPECT_EQ(CodeOf([&] { call(t); }), kSDBErrDataSetOpen);
  t.Close();
  // Another dataset holding the table keeps it from being emptied.
  {
    TSDBTable other;
    Use(other, "T");
    other.Open();
    EXPECT_NE(CodeOf([&] { t.EmptyTable(); }), 0);
  }
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T"), (Rows{{"2"}}));

  t.EmptyTable();
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T"), (Rows{{"0"}}));
  Exec("INSERT INTO T VALUES (3, 'trois')");

  Exec("CREATE TABLE Prise (A INTEGER)");
  EXPECT_EQ(CodeOf([&] { t.RenameTable("PRISE"); }), kSDBErrTableExists);
  EXPECT_EQ(t.TableName, "T");
  t.RenameTable("Nouveau");
  EXPECT_EQ(t.TableName, "Nouveau");
  EXPECT_FALSE(Exists("T"));
  EXPECT_EQ(Query("SELECT Id, M FROM Nouveau"), (Rows{{"3", "trois"}}));

  t.DeleteTable();
  EXPECT_FALSE(Exists("Nouveau"));
  for (auto* call : {+[](TSDBTable& x) { x.EmptyTable(); }, +[](TSDBTable& x) { x.DeleteTable(); },
                     +[](TSDBTable& x) { x.RenameTable("Autre"); }})
    EXPECT_NE(MessageOf([&] { call(t); }).find("Table 'Nouveau' does not exist."), std::string::npos);
}

}  // namespace
