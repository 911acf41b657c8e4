#include <gtest/gtest.h>

#include "DataError.h"
#include "MemTable.h"
#include "TestFiles.h"

using namespace tessaly;

namespace {

// Lines (Id, Modele) and their descriptions (IdLigne, texte) as the print
// manager links them.
struct LinesFixture : ::testing::Test {
  TMemTable lines{"ligne"};
  TMemTable descs{"ligne_description"};

  void SetUp() override {
    lines.AddFieldDef("Id", TFieldType::Integer);
    lines.AddFieldDef("Modele", TFieldType::String, 1000);
    lines.CreateDataSet();
    lines.SetIndexFieldNames("Id");
    descs.AddFieldDef("IdLigne", TFieldType::Integer);
    descs.AddFieldDef("texte", TFieldType::String, 1000);
    descs.CreateDataSet();
    descs.SetMasterSource(&lines);
    descs.SetIndexFieldNames("IdLigne");
    descs.SetMasterFields("Id");
  }
  void AddLine(int id, const QString& modele) {
    lines.Append();
    lines.FieldByName("Id").SetAsInteger(id);
    lines.FieldByName("Modele").SetAsString(modele);
    lines.Post();
  }
  void AddDesc(int id, const QString& text) {
    descs.Append();
    descs.FieldByName("IdLigne").SetAsInteger(id);
    descs.FieldByName("texte").SetAsString(text);
    descs.Post();
  }
  QStringList Visit(TMemTable& t, const char* field) {
    QStringList out;
    for (t.First(); !t.Eof(); t.Next()) out << t.FieldByName(field).AsString();
    return out;
  }
};

}  // namespace

TEST_F(LinesFixture, RowsFollowTheIndexAndStayStableForEqualKeys) {
  AddLine(3, "c");
  AddLine(1, "a");
  AddLine(2, "b1");
  AddLine(2, "b2");
  EXPECT_EQ(Visit(lines, "Modele"), QStringList({"a", "b1", "b2", "c"}));
  // Editing a key moves the row.
  lines.First();
  lines.Edit();
  lines.FieldByName("Id").SetAsInteger(9);
  lines.Post();
  EXPECT_EQ(lines.FieldByName("Modele").AsString(), "a") << "the cursor follows the posted row";
  EXPECT_EQ(Visit(lines, "Modele"), QStringList({"b1", "b2", "c", "a"}));
  // Without an index, rows keep their insertion order, and Insert puts a
  // row before the current one.
  lines.SetIndexFieldNames("");
  lines.First();
  lines.Next();
  lines.Insert();
  lines.FieldByName("Id").SetAsInteger(-1);
  lines.FieldByName("Modele").SetAsString("ins");
  lines.Post();
  EXPECT_EQ(Visit(lines, "Modele"), QStringList({"b1", "ins", "b2", "c", "a"}));
}

TEST_F(LinesFixture, DetailShowsTheRowsOfTheCurrentMasterRow) {
  AddLine(1, "un");
  AddLine(2, "deux");
  AddLine(3, "trois");
  AddDesc(2, "d2a");
  AddDesc(1, "d1");
  AddDesc(2, "d2b");
  lines.First();
  EXPECT_EQ(Visit(descs, "texte"), QStringList({"d1"}));
  lines.Next();
  EXPECT_EQ(descs.RecordCount(), 2);
  EXPECT_EQ(descs.FieldByName("texte").AsString(), "d2a") << "a detail restarts at its first row when the master moves";
  EXPECT_EQ(Visit(descs, "texte"), QStringList({"d2a", "d2b"}));
  lines.Next();
  EXPECT_TRUE(descs.Eof());
  EXPECT_EQ(descs.RecordCount(), 0);
  // An empty master shows no detail rows; a detached detail shows them all.
  descs.SetMasterSource(nullptr);
  EXPECT_EQ(descs.RecordCount(), 3);
}

TEST_F(LinesFixture, NavigationAndDelete) {
  EXPECT_TRUE(lines.Eof());
  EXPECT_TRUE(lines.Bof());
  AddLine(1, "a");
  AddLine(2, "b");
  AddLine(3, "c");
  lines.First();
  EXPECT_TRUE(lines.Bof());
  EXPECT_FALSE(lines.Eof());
  lines.Last();
  EXPECT_EQ(lines.FieldByName("Modele").AsString(), "c");
  lines.Next();
  EXPECT_TRUE(lines.Eof());
  EXPECT_EQ(lines.FieldByName("Modele").AsString(), "c") << "Next past the end stays on the last row";
  lines.First();
  lines.Next();
  lines.Delete();
  EXPECT_EQ(lines.FieldByName("Modele").AsString(), "c") << "delete moves to the following row";
  lines.Delete();
  EXPECT_EQ(lines.FieldByName("Modele").AsString(), "a") << "deleting the last row moves back";
  lines.Delete();
  EXPECT_TRUE(lines.IsEmpty());
  EXPECT_TRUE(lines.FieldByName("Id").IsNull());
  EXPECT_THROW(lines.Delete(), EDataError);
  EXPECT_THROW(lines.Edit(), EDataError);
}

TEST_F(LinesFixture, PendingChangesArePostedByNavigationAndUntouchedAppendsAreDropped) {
  lines.Append();
  lines.First();  // nothing set: the empty row is dropped
  EXPECT_EQ(lines.RecordCount(), 0);
  lines.Append();
  lines.FieldByName("Id").SetAsInteger(5);
  lines.First();
  EXPECT_EQ(lines.RecordCount(), 1);
  EXPECT_THROW(lines.FieldByName("Id").SetAsInteger(6), EDataError) << "writing needs Edit or Insert";
}

TEST(MemTable, StructureErrors) {
  TMemTable t("header");
  EXPECT_THROW(t.CreateDataSet(), EDataError) << "no definitions";
  t.AddFieldDef("numero", TFieldType::String, 1000);
  EXPECT_THROW(t.AddFieldDef("NUMERO", TFieldType::Integer), EDataError) << "names ignore letter case";
  t.AddFieldDef("montant", TFieldType::Unknown, 0, false, "doubel");
  try {
    t.CreateDataSet();
    FAIL() << "an unknown type must fail when the table is created";
  } catch (const EDataError& e) {
    EXPECT_TRUE(e.Message().contains("montant")) << e.Message().toStdString();
    EXPECT_TRUE(e.Message().contains("doubel")) << e.Message().toStdString();
  }
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.FindField("numero"), nullptr) << "a closed table has no fields";
  EXPECT_THROW(t.FieldByName("numero"), EDataError);
  EXPECT_THROW(t.Append(), EDataError);
  t.ClearFieldDefs();
  t.AddFieldDef("numero", TFieldType::String, 1000);
  t.CreateDataSet();
  EXPECT_THROW(t.SetIndexFieldNames("numero;absent"), EDataError);
  EXPECT_NE(t.FindField("NUMERO"), nullptr);
  try {
    t.FieldByName("absent");
    FAIL();
  } catch (const EDataError& e) {
    EXPECT_EQ(e.Message(), "header: Field 'absent' not found");
  }
}

TEST(MemTable, TypedValuesUnderAFrenchLocale) {
  TMemTable t("t");
  t.SetLocale(QLocale(QLocale::French, QLocale::France));
  t.AddFieldDef("s", TFieldType::String, 1000);
  t.AddFieldDef("f", TFieldType::Float);
  t.AddFieldDef("i", TFieldType::Integer);
  t.AddFieldDef("d", TFieldType::Date);
  t.AddFieldDef("b", TFieldType::Boolean);
  t.AddFieldDef("g", TFieldType::Graphic);
  t.CreateDataSet();
  t.Append();
  t.FieldByName("f").SetAsString("1234,50");
  t.FieldByName("i").SetAsString(" 42 ");
  t.FieldByName("d").SetAsString("15/02/2023");
  t.FieldByName("b").SetAsString("TRUE");
  t.FieldByName("s").SetAsFloat(0.5);
  t.Post();
  EXPECT_DOUBLE_EQ(t.FieldByName("f").AsFloat(), 1234.5);
  EXPECT_EQ(t.FieldByName("f").AsString(), "1234,5");
  EXPECT_EQ(t.FieldByName("i").AsInteger(), 42);
  EXPECT_EQ(t.FieldByName("d").AsDateTime().date(), QDate(2023, 2, 15));
  EXPECT_EQ(t.FieldByName("d").AsString(), "15/02/2023");
  EXPECT_TRUE(t.FieldByName("b").AsBoolean());
  EXPECT_EQ(t.FieldByName("s").AsString(), "0,5");
  EXPECT_TRUE(t.FieldByName("g").IsNull());

  struct Bad {
    const char* field;
    const char* text;
  } bad[] = {{"f", "1234.50"}, {"f", "1 234,5"}, {"i", "12abc"}, {"i", "1,5"}, {"d", "31/02/2023"},
             {"d", "2023-02-15T10:00"}, {"b", "oui"}};
  t.Edit();
  for (const auto& b : bad) {
    try {
      t.FieldByName(b.field).SetAsString(b.text);
      ADD_FAILURE() << b.field << " accepted " << b.text;
    } catch (const EDataError& e) {
      EXPECT_TRUE(e.Message().contains(b.text)) << e.Message().toStdString();
      EXPECT_TRUE(e.Message().contains(QStringLiteral("'%1'").arg(b.field))) << e.Message().toStdString();
    }
  }
  t.FieldByName("i").SetAsString("");
  EXPECT_TRUE(t.FieldByName("i").IsNull()) << "an empty text clears a number";
  t.FieldByName("g").SetAsBytes("abc");
  EXPECT_THROW(t.FieldByName("g").AsInteger(), EDataError);
  EXPECT_THROW(t.FieldByName("i").LoadFromFile("/nonexistent"), EDataError);
  t.Post();
  EXPECT_EQ(t.FieldByName("f").AsFloat(), 1234.5) << "a refused value leaves the old one";
}

TEST(MemTable, GraphicFieldLoadsAFile) {
  QTemporaryDir dir;
  QString path = testfiles::Write(dir, "croquis.png", QByteArray("\x89PNG\r\n\x1a\nxyz", 11));
  TMemTable t("t");
  t.AddFieldDef("croquis", TFieldType::Graphic);
  t.CreateDataSet();
  t.Append();
  t.FieldByName("croquis").LoadFromFile(path);
  t.Post();
  EXPECT_EQ(t.FieldByName("croquis").AsBytes().size(), 11);
  t.Edit();
  EXPECT_THROW(t.FieldByName("croquis").LoadFromFile(dir.filePath("missing.png")), EDataError);
}
