#include "settings/DataModuleSdb.h"

#include "sdb/SDBComponents.h"
#include "sdb/SDBText.h"

namespace tessaly {

namespace {

const char* const kString = "STRING";
const char* const kInteger = "ENTIER";
const char* const kMemo = "MEMO";
const char* const kStringColumn = "ValeurChaine";
const char* const kIntegerColumn = "ValeurEntier";
const char* const kMemoColumn = "ValeurMemo";

// The components take and give UTF-8 and convert once, at the column. A
// key part is checked here too, before it is used in a condition, so that
// the refusal names the column it was meant for.
const std::string& ToStored(const std::string& Utf8, const char* Column) {
  (void)sdb::SDBColumnText(Utf8, Column);
  return Utf8;
}

// Whether every part of a key can be stored: a key that cannot is in no
// row, so lookups answer "absent" rather than fail.
bool Storable(const std::string& Utf8) {
  std::string ignored;
  return sdb::SDBUtf8ToAnsi(Utf8, ignored);
}

// The closing lines shared by the existence test and the reads.
const char* const kWhereLines[] = {
    " WHERE `Agence` = :Agence ",
    " AND `Utilisateur` = :Utilisateur ",
    " AND `Section` = :Section ",
    " AND `Cle` = :Cle ",
    " AND `ValeurType` = :ValeurType ",
};

// Closes a query however the operation ends.
struct TCloseOnExit {
  sdb::TSDBQuery& Query;
  ~TCloseOnExit() {
    try {
      Query.Close();
    } catch (...) {
    }
  }
};

}  // namespace

namespace {
TDataModuleSdb* GDataModuleSdb = nullptr;
}  // namespace

TDataModuleSdb* DataModuleSdb() { return GDataModuleSdb; }
void SetDataModuleSdb(TDataModuleSdb* Module) { GDataModuleSdb = Module; }

TDataModuleSdb::TDataModuleSdb() : FParametres(std::make_unique<sdb::TSDBDatabase>(nullptr, this)) {
  sdb::TSDBDatabase& db = *FParametres;
  db.SetDatabaseName(kSettingsDatabaseName);
  db.SetSessionName("Default");
  db.Password = kSettingsPassword;
  db.Exclusive = false;
  db.MultiUser = true;
  db.SetMaxConnections(500000);
  db.SetKeepConnection(true);
}

TDataModuleSdb::~TDataModuleSdb() {
  if (GDataModuleSdb == this) GDataModuleSdb = nullptr;
  try {
    if (FParametres->Connected()) FParametres->Close();
  } catch (...) {
  }
}

bool TDataModuleSdb::OuvertureBDD(const std::string& CheminBase) {
  FParametres->SetDatabaseFileName(CheminBase);
  FParametres->Open();
  return FParametres->Connected();
}

bool TDataModuleSdb::FermetureBDD() {
  if (FParametres->Connected()) FParametres->Close();
  return true;
}

std::unique_ptr<sdb::TSDBQuery> TDataModuleSdb::NewQuery(const std::vector<std::string>& Lines) {
  auto q = std::make_unique<sdb::TSDBQuery>(this);
  q->DatabaseName = FParametres->DatabaseName();
  q->ReadOnly = true;
  q->Params.Clear();
  q->ClearSQL();
  for (const auto& line : Lines) q->AddSQL(line);
  return q;
}

void TDataModuleSdb::SetKeyParams(sdb::TSDBQuery& Query, const TKey& Key, bool WithType, const char* Type) {
  Query.ParamByName("Agence").SetAsString(ToStored(Key.Agence, "Agence"));
  Query.ParamByName("Utilisateur").SetAsString(ToStored(Key.Utilisateur, "Utilisateur"));
  Query.ParamByName("Section").SetAsString(ToStored(Key.Section, "Section"));
  Query.ParamByName("Cle").SetAsString(ToStored(Key.Cle, "Cle"));
  if (WithType) Query.ParamByName("ValeurType").SetAsString(Type);
}

bool TDataModuleSdb::Exists(const TKey& Key, const char* Type) {
  if (!Storable(Key.Agence) || !Storable(Key.Utilisateur) || !Storable(Key.Section) || !Storable(Key.Cle))
    return false;
  std::vector<std::string> lines{"SELECT * FROM Parametres"};
  lines.insert(lines.end(), std::begin(kWhereLines), std::end(kWhereLines));
  auto q = NewQuery(lines);
  SetKeyParams(*q, Key, true, Type);
  q->Open();
  TCloseOnExit closer{*q};
  return q->RecordCount() == 1;
}

bool TDataModuleSdb::ReadValue(const TKey& Key, const char* Column, const char* Type, std::string* Text,
                               int64_t* Integer) {
  if (!Storable(Key.Agence) || !Storable(Key.Utilisateur) || !Storable(Key.Section) || !Storable(Key.Cle))
    return false;
  std::vector<std::string> lines{std::string("SELECT ") + Column, " FROM Parametres"};
  lines.insert(lines.end(), std::begin(kWhereLines), std::end(kWhereLines));
  auto q = NewQuery(lines);
  SetKeyParams(*q, Key, true, Type);
  q->Open();
  TCloseOnExit closer{*q};
  if (q->RecordCount() != 1) return false;
  q->First();
  sdb::TSDBField& f = q->FieldByName(Column);
  if (Text) *Text = f.AsString();
  if (Integer) *Integer = f.AsInteger();  // a null value reads as 0
  return true;
}

bool TDataModuleSdb::Insert(const TKey& Key, const char* Column, const char* Type, const std::string* Text,
                            const int32_t* Integer) {
  auto q = NewQuery({"INSERT INTO Parametres",
                     std::string(" ( `Agence`, `Utilisateur`, `Section`, `Cle`, `ValeurType`, `") + Column + "`)  ",
                     " VALUES ", " ( :Agence, :Utilisateur, :Section, :Cle, :ValeurType, :Valeur )"});
  SetKeyParams(*q, Key, true, Type);
  if (Integer)
    q->ParamByName("Valeur").SetAsInteger(*Integer);
  else
    q->ParamByName("Valeur").SetAsString(ToStored(*Text, Column));
  q->ExecSQL();
  TCloseOnExit closer{*q};
  return q->RowsAffected() == 1;
}

bool TDataModuleSdb::Update(const TKey& Key, const char* Column, const char* Type, const std::string* Text,
                            const int32_t* Integer) {
  auto q = NewQuery({"UPDATE Parametres set ", " `ValeurType` = :ValeurType, ",
                     std::string(" `") + Column + "` = :Valeur ", " WHERE `Agence` = :Agence ",
                     " AND `Utilisateur` = :Utilisateur ", " AND `Section` = :Section ", " AND `Cle` = :Cle "});
  SetKeyParams(*q, Key, true, Type);
  if (Integer)
    q->ParamByName("Valeur").SetAsInteger(*Integer);
  else
    q->ParamByName("Valeur").SetAsString(ToStored(*Text, Column));
  q->ExecSQL();
  TCloseOnExit closer{*q};
  return q->RowsAffected() == 1;
}

bool TDataModuleSdb::ExisteChaine(const std::string& Agence, const std::string& Utilisateur,
                                  const std::string& Section, const std::string& Cle) {
  return Exists({Agence, Utilisateur, Section, Cle}, kString);
}
bool TDataModuleSdb::ExisteEntier(const std::string& Agence, const std::string& Utilisateur,
                                  const std::string& Section, const std::string& Cle) {
  return Exists({Agence, Utilisateur, Section, Cle}, kInteger);
}
bool TDataModuleSdb::ExisteMemo(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                                const std::string& Cle) {
  return Exists({Agence, Utilisateur, Section, Cle}, kMemo);
}

bool TDataModuleSdb::AjoutChaine(const std::string& Agence, const std::string& Utilisateur,
                                 const std::string& Section, const std::string& Cle, const std::string& Valeur) {
  return Insert({Agence, Utilisateur, Section, Cle}, kStringColumn, kString, &Valeur, nullptr);
}
bool TDataModuleSdb::AjoutEntier(const std::string& Agence, const std::string& Utilisateur,
                                 const std::string& Section, const std::string& Cle, int32_t Valeur) {
  return Insert({Agence, Utilisateur, Section, Cle}, kIntegerColumn, kInteger, nullptr, &Valeur);
}
bool TDataModuleSdb::AjoutMemo(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                               const std::string& Cle, const std::string& Valeur) {
  return Insert({Agence, Utilisateur, Section, Cle}, kMemoColumn, kMemo, &Valeur, nullptr);
}

bool TDataModuleSdb::ModifChaine(const std::string& Agence, const std::string& Utilisateur,
                                 const std::string& Section, const std::string& Cle, const std::string& Valeur) {
  return Update({Agence, Utilisateur, Section, Cle}, kStringColumn, kString, &Valeur, nullptr);
}
bool TDataModuleSdb::ModifEntier(const std::string& Agence, const std::string& Utilisateur,
                                 const std::string& Section, const std::string& Cle, int32_t Valeur) {
  return Update({Agence, Utilisateur, Section, Cle}, kIntegerColumn, kInteger, nullptr, &Valeur);
}
bool TDataModuleSdb::ModifMemo(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                               const std::string& Cle, const std::string& Valeur) {
  return Update({Agence, Utilisateur, Section, Cle}, kMemoColumn, kMemo, &Valeur, nullptr);
}

std::string TDataModuleSdb::LectureChaine(const std::string& Agence, const std::string& Utilisateur,
                                          const std::string& Section, const std::string& Cle,
                                          const std::string& Defaut) {
  std::string v;
  ReadValue({Agence, Utilisateur, Section, Cle}, kStringColumn, kString, &v, nullptr);
  return v.empty() ? Defaut : v;
}
int32_t TDataModuleSdb::LectureEntier(const std::string& Agence, const std::string& Utilisateur,
                                      const std::string& Section, const std::string& Cle, int32_t Defaut) {
  int64_t v = 0;
  if (!ReadValue({Agence, Utilisateur, Section, Cle}, kIntegerColumn, kInteger, nullptr, &v)) return Defaut;
  return static_cast<int32_t>(v);
}
std::string TDataModuleSdb::LectureMemo(const std::string& Agence, const std::string& Utilisateur,
                                        const std::string& Section, const std::string& Cle,
                                        const std::string& Defaut) {
  std::string v;
  ReadValue({Agence, Utilisateur, Section, Cle}, kMemoColumn, kMemo, &v, nullptr);
  return v.empty() ? Defaut : v;
}

void TDataModuleSdb::EcritureChaine(const std::string& Agence, const std::string& Utilisateur,
                                    const std::string& Section, const std::string& Cle, const std::string& Valeur) {
  if (ExisteChaine(Agence, Utilisateur, Section, Cle))
    ModifChaine(Agence, Utilisateur, Section, Cle, Valeur);
  else
    AjoutChaine(Agence, Utilisateur, Section, Cle, Valeur);
}

}  // namespace tessaly
