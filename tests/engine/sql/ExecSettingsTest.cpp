// The settings store's statements run through query components, line by
// line as the store writes them.
#include "../components/ExecFixture.h"

using namespace sdb;
using namespace sdbtest;

namespace {

const char* kCreate =
    "CREATE TABLE Parametres (Agence VARCHAR(20), Utilisateur VARCHAR(20), `Section` VARCHAR(40), "
    "Cle VARCHAR(40), ValeurType VARCHAR(10), ValeurChaine VARCHAR(250), ValeurEntier INTEGER, ValeurMemo MEMO)";

struct Key {
  std::string Agence, Utilisateur, Section, Cle;
};

class SettingsExec : public ExecFixture {
 protected:
  void SetUp() override {
    password = "#Quillbrook47";
    ExecFixture::SetUp();
    Exec(kCreate);
  }

  void SetKey(TSDBQuery& q, const Key& k) {
    q.ParamByName("Agence").SetAsString(k.Agence);
    q.ParamByName("Utilisateur").SetAsString(k.Utilisateur);
    q.ParamByName("Section").SetAsString(k.Section);
    q.ParamByName("Cle").SetAsString(k.Cle);
  }
  void Where(TSDBQuery& q) {
    q.AddSQL(" WHERE `Agence` = :Agence ");
    q.AddSQL(" AND `Utilisateur` = :Utilisateur ");
    q.AddSQL(" AND `Section` = :Section ");
    q.AddSQL(" AND `Cle` = :Cle ");
  }
  void NewQuery(TSDBQuery& q) {
    q.DatabaseName = "Parametres-alias-unused";
    q.DatabaseName = name;
    q.ReadOnly = true;
    q.Params.Clear();
    q.ClearSQL();
  }
  bool Exists(const Key& k, const std::string& type) {
    TSDBQuery q;
    NewQuery(q);
    q.AddSQL("SELECT * FROM Parametres");
    Where(q);
    q.AddSQL(" AND `ValeurType` = :ValeurType ");
    SetKey(q, k);
    q.ParamByName("ValeurType").SetAsString(type);
    q.Open();
    bool one = q.RecordCount() == 1;
    q.Close();
    return one;
  }
  // Returns the record count and the value read (column C) when it is 1.
  std::pair<int64_t, TSDBVariant> Read(const Key& k, const std::string& column, const std::string& type) {
    TSDBQuery q;
    NewQuery(q);
    q.AddSQL("SELECT " + column);
    q.AddSQL(" FROM Parametres");
    Where(q);
    q.AddSQL(" AND `ValeurType` = :ValeurType ");
    SetKey(q, k);
    q.ParamByName("ValeurType").SetAsString(type);
    q.Open();
    std::pair<int64_t, TSDBVariant> r{q.RecordCount(), {}};
    if (r.first == 1) r.second = q.FieldByName(column).Value();
    q.Close();
    return r;
  }
  std::string LectureChaine(const Key& k, const std::string& def) {
    auto [n, v] = Read(k, "ValeurChaine", "STRING");
    std::string s = n == 1 && !v.IsNull() ? v.AsString() : std::string();
    return s.empty() ? def : s;
  }
  int64_t LectureEntier(const Key& k, int64_t def) {
    auto [n, v] = Read(k, "ValeurEntier", "ENTIER");
    if (n != 1) return def;
    return v.IsNull() ? 0 : v.AsInt64();
  }
  int Insert(const Key& k, const std::string& column, const std::string& type, const TSDBVariant& value) {
    TSDBQuery q;
    NewQuery(q);
    q.AddSQL("INSERT INTO Parametres");
    q.AddSQL(" ( `Agence`, `Utilisateur`, `Section`, `Cle`, `ValeurType`, `" + column + "`)  ");
    q.AddSQL(" VALUES ");
    q.AddSQL(" ( :Agence, :Utilisateur, :Section, :Cle, :ValeurType, :Valeur )");
    SetKey(q, k);
    q.ParamByName("ValeurType").SetAsString(type);
    if (type == "ENTIER")
      q.ParamByName("Valeur").SetAsInteger(static_cast<int32_t>(value.AsInt64()));
    else
      q.ParamByName("Valeur").SetAsString(value.IsNull() ? std::string() : value.AsString());
    q.ExecSQL();
    return q.RowsAffected();
  }
  int Update(const Key& k, const std::string& column, const std::string& type, const TSDBVariant& value) {
    TSDBQuery q;
    NewQuery(q);
    q.AddSQL("UPDATE Parametres set ");
    q.AddSQL(" `ValeurType` = :ValeurType, ");
    q.AddSQL(" `" + column + "` = :Valeur ");
    Where(q);
    SetKey(q, k);
    q.ParamByName("ValeurType").SetAsString(type);
    if (type == "ENTIER")
      q.ParamByName("Valeur").SetAsInteger(static_cast<int32_t>(value.AsInt64()));
    else
      q.ParamByName("Valeur").SetAsString(value.IsNull() ? std::string() : value.AsString());
    q.ExecSQL();
    return q.RowsAffected();
  }
  void EcritureChaine(const Key& k, const std::string& value) {
    if (Exists(k, "STRING"))
      Update(k, "ValeurChaine", "STRING", TSDBVariant::FromString(value));
    else
      Insert(k, "ValeurChaine", "STRING", TSDBVariant::FromString(value));
  }
};

TEST_F(SettingsExec, ReadMatchesTheFiveColumnsExactlyCaseIncluded) {
  EXPECT_EQ(Insert({"AG", "US", "Impression", "DerniereImprimante"}, "ValeurChaine", "STRING",
                   TSDBVariant::FromString("Printer A")),
            1);
  Insert({"ag", "US", "Impression", "DerniereImprimante"}, "ValeurChaine", "STRING",
         TSDBVariant::FromString("lower agency"));
  Insert({"AG", "US", "Impression", "derniereimprimante"}, "ValeurChaine", "STRING",
         TSDBVariant::FromString("lower key"));
  // Same key, value type not set: never matches a non-empty type.
  Exec("INSERT INTO Parametres (Agence, Utilisateur, `Section`, Cle, ValeurChaine) VALUES ('AG', 'US', 'Mail', "
       "'Host', 'no type')");

  EXPECT_EQ(LectureChaine({"AG", "US", "Impression", "DerniereImprimante"}, "def"), "Printer A");
  EXPECT_EQ(LectureChaine({"ag", "US", "Impression", "DerniereImprimante"}, "def"), "lower agency");
  EXPECT_EQ(LectureChaine({"AG", "US", "Impression", "derniereimprimante"}, "def"), "lower key");
  EXPECT_EQ(LectureChaine({"AG", "us", "Impression", "DerniereImprimante"}, "def"), "def");
  EXPECT_FALSE(Exists({"AG", "US", "Mail", "Host"}, "STRING"));
  EXPECT_EQ(LectureChaine({"AG", "US", "Mail", "Host"}, "def"), "def");
  EXPECT_TRUE(Exists({"AG", "US", "Impression", "DerniereImprimante"}, "STRING"));
  EXPECT_FALSE(Exists({"AG", "US", "Impression", "DerniereImprimante"}, "ENTIER"));
}

TEST_F(SettingsExec, EmptyAgencyAndUserAreStoredAsNullAndMatchedByEmptyParameters) {
  EcritureChaine({"", "", "Impression", "Orientation"}, "Paysage");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Parametres WHERE Agence IS NULL AND Utilisateur IS NULL"),
            (Rows{{"1"}}));
  EXPECT_EQ(LectureChaine({"", "", "Impression", "Orientation"}, "Portrait"), "Paysage");
  EXPECT_EQ(LectureChaine({"X", "", "Impression", "Orientation"}, "Portrait"), "Portrait");
  // A second write updates the same row.
  EcritureChaine({"", "", "Impression", "Orientation"}, "Portrait");
  EXPECT_EQ(Query("SELECT ValeurChaine FROM Parametres"), (Rows{{"Portrait"}}));
}

TEST_F(SettingsExec, EmptyTextIsStoredAsNullAndReadsAsTheDefault) {
  EcritureChaine({"A", "U", "Impression", "Orientation"}, "");
  EXPECT_EQ(Query("SELECT ValeurChaine FROM Parametres"), (Rows{{"NULL"}}));
  EXPECT_EQ(LectureChaine({"A", "U", "Impression", "Orientation"}, "Portrait"), "Portrait");
}

TEST_F(SettingsExec, IntegerValuesUpdateOrInsertAndNullReadsAsZero) {
  const Key port{"A", "U", "Mail", "Port"};
  EXPECT_EQ(LectureEntier(port, 25), 25);
  EXPECT_EQ(Insert(port, "ValeurEntier", "ENTIER", TSDBVariant::FromInt(587)), 1);
  EXPECT_EQ(LectureEntier(port, 25), 587);
  EXPECT_EQ(Update(port, "ValeurEntier", "ENTIER", TSDBVariant::FromInt(465)), 1);
  EXPECT_EQ(LectureEntier(port, 25), 465);
  Exec("UPDATE Parametres SET ValeurEntier = NULL");
  EXPECT_EQ(LectureEntier(port, 25), 0);
}

TEST_F(SettingsExec, UpdateReportsTheRowsItChanged) {
  EXPECT_EQ(Update({"A", "U", "S", "K"}, "ValeurChaine", "STRING", TSDBVariant::FromString("x")), 0);
  Insert({"A", "U", "S", "K"}, "ValeurChaine", "STRING", TSDBVariant::FromString("1"));
  Insert({"A", "U", "S", "K"}, "ValeurChaine", "STRING", TSDBVariant::FromString("2"));
  EXPECT_EQ(Update({"A", "U", "S", "K"}, "ValeurChaine", "STRING", TSDBVariant::FromString("both")), 2);
  EXPECT_EQ(Query("SELECT ValeurChaine FROM Parametres"), (Rows{{"both"}, {"both"}}));
  // Two matching rows count as missing for reads and existence tests.
  EXPECT_FALSE(Exists({"A", "U", "S", "K"}, "STRING"));
  EXPECT_EQ(LectureChaine({"A", "U", "S", "K"}, "def"), "def");
}

TEST_F(SettingsExec, MemoValuesRoundTrip) {
  const std::string body(3000, 'm');
  const Key slot{"A", "U", "MailModele", "0"};
  EXPECT_EQ(Insert(slot, "ValeurMemo", "MEMO", TSDBVariant::FromString(body)), 1);
  auto [n, v] = Read(slot, "ValeurMemo", "MEMO");
  ASSERT_EQ(n, 1);
  EXPECT_EQ(v.AsString(), body);
  EXPECT_EQ(Update(slot, "ValeurMemo", "MEMO", TSDBVariant::FromString("short")), 1);
  EXPECT_EQ(Read(slot, "ValeurMemo", "MEMO").second.AsString(), "short");
}

TEST_F(SettingsExec, ReadAfterTheDatabaseWasClosedReopensIt) {
  EcritureChaine({"A", "U", "Impression", "DerniereImprimante"}, "P1");
  db->Close();
  ASSERT_FALSE(db->Connected());
  EXPECT_EQ(LectureChaine({"A", "U", "Impression", "DerniereImprimante"}, "def"), "P1");
  EXPECT_TRUE(db->Connected());
}

TEST_F(SettingsExec, ValuesSurviveReopeningTheFile) {
  EcritureChaine({"A", "U", "Mail", "Host"}, "smtp.example.org");
  db->Close();
  db->Open();
  EXPECT_EQ(LectureChaine({"A", "U", "Mail", "Host"}, ""), "smtp.example.org");
}

}  // namespace
