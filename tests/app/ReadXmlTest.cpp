#include <gtest/gtest.h>

#include "DataError.h"
#include "MemTable.h"
#include "ReadXml.h"
#include "ReportDataset.h"
#include "TestFiles.h"

using namespace tessaly;

namespace {

struct Loader : ::testing::Test {
  QTemporaryDir dir;
  TMemTable header{"header"}, lines{"ligne"}, descs{"ligne_description"};
  TReportDataset dsHeader{"Données du dossier", &header};
  TReportDataset dsLines{"Données des lignes produits", &lines};
  TReportDataset dsDescs{"Description des lignes produits", &descs};
  TLectureXmlContext ctx{QString(), &header, &lines, &descs, &dsHeader, &dsLines, &dsDescs};

  void SetUp() override {
    QLocale fr(QLocale::French, QLocale::France);
    for (TMemTable* t : {&header, &lines, &descs}) t->SetLocale(fr);
    descs.SetMasterSource(&lines);
  }
  QString Load(const QString& xml, const char* name = "data.xml") {
    ctx.DataFilePath = testfiles::WriteLatin1(dir, name, xml);
    return LectureXml(ctx);
  }
  static QString Doc(const QString& body, const QString& rootAttrs =
                                              "template='Liste.fr3' index_field_names_header='' "
                                              "index_field_names_ligne='Id' index_field_names_ligneDescription='IdLigne'") {
    return "<?xml version='1.0' encoding='ISO-8859-1'?>\n<donnees " + rootAttrs + ">\n" + body + "\n</donnees>\n";
  }
  QString Message(const std::function<void()>& f) {
    try {
      f();
    } catch (const EDataError& e) {
      return e.Message();
    }
    return QString();
  }
};

const QString kExample = Loader::Doc(
    "  <entete table='header'>\n"
    "    <numero type='string' alias='Numéro'>D2023-0001</numero>\n"
    "    <typeDocNom type='string'>DEVIS</typeDocNom>\n"
    "    <dateDoc type='date' alias='Date'>15/02/2023</dateDoc>\n"
    "    <totalHT type='double' alias='Total HT'>1234,50</totalHT>\n"
    "  </entete>\n"
    "  <lignes>\n"
    "    <ligne table='ligne'>\n"
    "      <Id type='int'>2</Id>\n"
    "      <Modele type='string'>Fenêtre deux vantaux</Modele>\n"
    "      <croquis type='image'>croquis1.bmp</croquis>\n"
    "      <descs><desc table='ligne_description'>\n"
    "        <IdLigne type='int'>2</IdLigne><texte type='string' alias=''>Vitrage isolant</texte>\n"
    "      </desc></descs>\n"
    "    </ligne>\n"
    "    <ligne table='ligne'>\n"
    "      <Id type='int'>1</Id>\n"
    "      <Modele type='string'>Porte</Modele>\n"
    "      <croquis type='image'>absent.bmp</croquis>\n"
    "      <Remise type='double'>5</Remise>\n"
    "    </ligne>\n"
    "  </lignes>\n"
    "  <autres><desc table='ligne_description'><IdLigne type='int'>1</IdLigne><texte type='string'>Serrure</texte></desc></autres>",
    "template='Liste.fr3' index_field_names_header='numero' index_field_names_ligne='Id' "
    "index_field_names_ligneDescription='IdLigne'");

}  // namespace

TEST_F(Loader, BuildsTablesFieldsAliasesAndRows) {
  testfiles::Write(dir, "croquis1.bmp", "BMxxxx");
  EXPECT_EQ(Load(kExample), "Liste.fr3");

  ASSERT_TRUE(header.Active());
  EXPECT_EQ(header.FieldCount(), 4);
  EXPECT_EQ(header.FieldByName("numero").AsString(), "D2023-0001");
  EXPECT_EQ(header.FieldByName("dateDoc").AsDateTime().date(), QDate(2023, 2, 15));
  EXPECT_DOUBLE_EQ(header.FieldByName("totalHT").AsFloat(), 1234.5) << "French decimal comma";
  EXPECT_EQ(dsHeader.FieldAliases(),
            QStringList({"numero=Numéro", "typeDocNom=typeDocNom", "dateDoc=Date", "totalHT=Total HT"}));

  // Fields are the union in order of first appearance; rows follow the index.
  ASSERT_EQ(lines.FieldCount(), 4);
  EXPECT_EQ(lines.Field(3).FieldName(), "Remise");
  lines.First();
  EXPECT_EQ(lines.FieldByName("Modele").AsString(), "Porte");
  EXPECT_TRUE(lines.FieldByName("croquis").IsNull()) << "a missing picture leaves the field empty";
  EXPECT_EQ(descs.FieldByName("texte").AsString(), "Serrure") << "records under any container are found";
  lines.Next();
  EXPECT_EQ(lines.FieldByName("Modele").AsString(), QStringLiteral("Fenêtre deux vantaux")) << "ISO-8859-1 accents";
  EXPECT_EQ(lines.FieldByName("croquis").AsBytes(), "BMxxxx") << "relative picture paths start at the data file";
  EXPECT_TRUE(lines.FieldByName("Remise").IsNull()) << "a row without a field leaves it null";
  EXPECT_EQ(descs.FieldByName("texte").AsString(), "Vitrage isolant") << "a record nested inside a row";
  EXPECT_EQ(dsDescs.AliasOf("texte"), "texte") << "an empty alias shows the field name";
}

TEST_F(Loader, SameFieldTypedDifferentlyKeepsTheFirstType) {
  QString rows = "<l table='ligne'><Id type='int'>1</Id><Code type='int'>7</Code></l>"
                 "<l table='ligne'><Id type='int'>2</Id><Code type='string'>8</Code></l>";
  Load(Doc(rows));
  EXPECT_EQ(lines.FieldByName("Code").DataType(), TFieldType::Integer);
  lines.Last();
  EXPECT_EQ(lines.FieldByName("Code").AsInteger(), 8);

  QString bad = "<l table='ligne'><Id type='int'>1</Id><Code type='int'>7</Code></l>"
                "<l table='ligne'><Id type='int'>2</Id><Code type='string'>huit</Code></l>";
  QString msg = Message([&] { Load(Doc(bad)); });
  EXPECT_TRUE(msg.contains("'huit'") && msg.contains("'Code'")) << msg.toStdString();
}

TEST_F(Loader, SecondLoadReplacesStructureAndAppendsAliases) {
  testfiles::Write(dir, "croquis1.bmp", "BM");
  Load(kExample);
  int aliasCount = static_cast<int>(dsLines.FieldAliases().size());
  EXPECT_EQ(Load(Doc("<h table='header'><numero type='string'>B</numero></h>"
                     "<l table='ligne'><Id type='int'>9</Id><Prix type='double' alias='Prix'>1,5</Prix></l>")),
            "Liste.fr3");
  EXPECT_EQ(lines.FieldCount(), 2);
  EXPECT_EQ(lines.RecordCount(), 1);
  EXPECT_EQ(lines.FindField("Modele"), nullptr);
  EXPECT_EQ(dsLines.FieldAliases().size(), aliasCount + 2);
  EXPECT_EQ(dsLines.FieldAliases().last(), "Prix=Prix");
  EXPECT_FALSE(descs.Active()) << "a table the new file does not fill is closed without fields";
  EXPECT_EQ(descs.FieldDefCount(), 0);
}

TEST_F(Loader, HeaderOnlyFileAndEmptyIndex) {
  EXPECT_EQ(Load(Doc("<h table='header'><b type='string'>z</b></h><h table='header'><b type='string'>a</b></h>",
                     "template='' index_field_names_header=''")),
            "");
  EXPECT_FALSE(lines.Active());
  EXPECT_FALSE(descs.Active());
  EXPECT_EQ(lines.FieldDefCount(), 0);
  header.First();
  EXPECT_EQ(header.FieldByName("b").AsString(), "z") << "no index: file order";
}

TEST_F(Loader, MissingFileLeavesTheTablesAsTheyWere) {
  Load(kExample);
  ctx.DataFilePath = dir.filePath("absent.xml");
  EXPECT_EQ(LectureXml(ctx), "");
  EXPECT_EQ(lines.RecordCount(), 2);
}

TEST_F(Loader, MalformedXmlFailsBeforeAnyTableIsTouched) {
  Load(kExample);
  QString msg = Message([&] { Load("<?xml version='1.0' encoding='ISO-8859-1'?>\n<donnees>\n  <a>\n</donnees>\n", "bad.xml"); });
  EXPECT_TRUE(msg.contains("line 4")) << msg.toStdString();
  EXPECT_TRUE(msg.contains("column")) << msg.toStdString();
  EXPECT_TRUE(msg.contains("bad.xml")) << msg.toStdString();
  EXPECT_EQ(lines.RecordCount(), 2);
  EXPECT_EQ(header.FieldByName("numero").AsString(), "D2023-0001");
}

TEST_F(Loader, ErrorsNameWhatIsWrong) {
  struct Case {
    QString xml;
    QStringList expected;  // fragments of the message
  } cases[] = {
      {Doc("<h table='header'><n type='strng'>x</n></h>"), {"'n'", "strng"}},
      {Doc("<h table='header'><n type='string'>x</n></h>", "template='t'"), {"index_field_names_header"}},
      {Doc("<h table='header'><n type='string'>x</n></h>", "template='t' index_field_names_header='absent'"),
       {"'absent'", "not found"}},
      {Doc("<h table='header'><n type='string'>x</n></h>", "index_field_names_header=''"), {"'template'"}},
      {Doc("<h table='header'><n type='string'>x<i>y</i></n></h>"), {"<n>", "elements"}},
      {Doc("<h table='header'><n type='double'>1.5</n></h>"), {"'1.5'", "'n'"}},
      {Doc("<h table='header'><n type='date'>2023-02-15</n></h>"), {"'2023-02-15'", "'n'"}},
      {Doc("<h table='header'><n type='bool'>oui</n></h>"), {"'oui'", "'n'"}},
      {Doc("<h table='header'><n type='string'>x</n></h><l table='ligne'><note>sans type</note></l>"), {"ligne", "closed"}},
  };
  for (const auto& c : cases) {
    QString msg = Message([&] { Load(c.xml); });
    for (const QString& part : c.expected) EXPECT_TRUE(msg.contains(part)) << msg.toStdString() << " / " << part.toStdString();
  }
}

TEST_F(Loader, BoolWordsAndNumbers) {
  Load(Doc("<h table='header'><a type='bool'>TRUE</a><b type='bool'>false</b><c type='bool'>2</c>"
           "<d type='bool'>0</d><e type='bool'></e><f type='int'></f></h>"));
  EXPECT_TRUE(header.FieldByName("a").AsBoolean());
  EXPECT_FALSE(header.FieldByName("b").AsBoolean());
  EXPECT_TRUE(header.FieldByName("c").AsBoolean());
  EXPECT_FALSE(header.FieldByName("d").AsBoolean());
  EXPECT_TRUE(header.FieldByName("e").IsNull()) << "an empty value leaves a bool empty";
  EXPECT_TRUE(header.FieldByName("f").IsNull()) << "an empty value leaves a number empty";
}
