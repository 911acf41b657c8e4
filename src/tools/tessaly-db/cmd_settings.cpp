// settings-init and settings: the standalone settings database of an
// installation without the parent application, and an administrator's
// view of its values through the same data module Tessaly uses.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

#include "Commands.h"
#include "sdb/SDBCollation.h"
#include "sdb/SDBException.h"
#include "sdb/SDBComponents.h"
#include "settings/DataModuleSdb.h"

namespace tessdb {

namespace {

// Sessions allowed by a new settings database. Every table's locks file
// holds 12 bytes per allowed session and the active-sessions file one, so
// the 500000 of the data module's component would make a new file of about
// 6.5 MB; a thousand concurrent sessions is far beyond an office's needs and
// keeps the file at a few pages. (The component takes the stored count on
// open, so the data module works unchanged.)
constexpr int32_t kSettingsMaxConnections = 1000;

// Text columns wide enough for the multi-line texts (general terms of
// sale, questionnaire) stored as one line; the record stays under half a
// page so two rows share a page. The index serves the settings statements:
// Section and Cle are always given, Agence and Utilisateur may be empty
// (and then match null rows, which no index range can select). Section is
// a reserved word, so the names are quoted as the settings statements do.
const char* const kCreateTable =
    "CREATE TABLE Parametres ("
    " `Agence` VARCHAR(50), `Utilisateur` VARCHAR(50), `Section` VARCHAR(100), `Cle` VARCHAR(100),"
    " `ValeurType` VARCHAR(10), `ValeurChaine` VARCHAR(1500), `ValeurEntier` INTEGER, `ValeurMemo` MEMO)";
const char* const kCreateIndex = "CREATE INDEX ParametresSectionCle ON Parametres (`Section`, `Cle`)";

void RunStatement(const std::string& DatabaseName, const std::string& Text) {
  sdb::TSDBQuery q;
  q.DatabaseName = DatabaseName;
  q.SetSQL(Text);
  q.ExecSQL();
}

int SettingsInitUsage() {
  std::cerr << "usage: tessaly-db settings-init FILE [--password P]\n"
               "  creates an enciphered settings database holding the table Parametres\n";
  return 2;
}

int SettingsUsage() {
  std::cerr << "usage: tessaly-db settings FILE [--password P] get AGENCE UTILISATEUR SECTION CLE "
               "[--type STRING|ENTIER|MEMO]\n"
               "       tessaly-db settings FILE [--password P] set AGENCE UTILISATEUR SECTION CLE VALUE "
               "[--type STRING|ENTIER|MEMO]\n"
               "       tessaly-db settings FILE [--password P] list [--section S]\n"
               "  texts are UTF-8; an empty AGENCE or UTILISATEUR (\"\") selects the rows where it is null\n";
  return 2;
}

// The components already give UTF-8.
const std::string& Utf8(const std::string& Text) { return Text; }

int32_t ParseInteger(const std::string& s) {
  size_t used = 0;
  long long v = 0;
  try {
    v = std::stoll(s, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != s.size() || s.empty() || v < INT32_MIN || v > INT32_MAX)
    throw std::invalid_argument("'" + s + "' is not an integer (ENTIER values are 32-bit integers)");
  return static_cast<int32_t>(v);
}

}  // namespace

int CmdSettingsInit(const Args& argsIn) {
  Args args = argsIn;
  if (WantsHelp(args)) return SettingsInitUsage(), 0;
  std::string password = tessaly::kSettingsPassword;
  TakeOption(args, "--password", password);
  if (args.size() != 1) return SettingsInitUsage();
  const std::string& file = args[0];
  if (std::filesystem::exists(file)) throw std::invalid_argument("'" + file + "' already exists");
  sdb::TSDBDatabase db;
  db.SetDatabaseName("SettingsInit");
  db.SetDatabaseFileName(file);
  db.Password = password;
  db.SetMaxConnections(kSettingsMaxConnections);
  db.CreateDatabase();
  try {
    db.Open();
    RunStatement(db.DatabaseName(), kCreateTable);
    RunStatement(db.DatabaseName(), kCreateIndex);
    db.Close();
  } catch (...) {
    // A half-made settings database would be taken for a good one later.
    try {
      db.Close();
    } catch (...) {
    }
    std::filesystem::remove(file);
    throw;
  }
  std::cout << "created " << file << "\n";
  return 0;
}

int CmdSettings(const Args& argsIn) {
  Args args = argsIn;
  if (WantsHelp(args)) return SettingsUsage(), 0;
  std::string password = tessaly::kSettingsPassword, type = "STRING", section;
  bool hasSection = false;
  TakeOption(args, "--password", password);
  TakeOption(args, "--type", type);
  hasSection = TakeOption(args, "--section", section);
  if (args.size() < 2) return SettingsUsage();
  if (type != "STRING" && type != "ENTIER" && type != "MEMO")
    throw std::invalid_argument("--type must be STRING, ENTIER or MEMO, not '" + type + "'");
  const std::string& file = args[0];
  const std::string& action = args[1];

  tessaly::TDataModuleSdb dm;
  dm.Parametres().Password = password;
  dm.OuvertureBDD(file);

  if (action == "get") {
    if (args.size() != 6) return SettingsUsage();
    const std::string &a = args[2], &u = args[3], &s = args[4], &k = args[5];
    bool exists = type == "STRING"   ? dm.ExisteChaine(a, u, s, k)
                  : type == "ENTIER" ? dm.ExisteEntier(a, u, s, k)
                                     : dm.ExisteMemo(a, u, s, k);
    if (!exists) {
      std::cerr << "tessaly-db settings: no " << type << " value for " << s << "/" << k << "\n";
      dm.FermetureBDD();
      return 1;
    }
    if (type == "ENTIER")
      std::cout << dm.LectureEntier(a, u, s, k, 0) << "\n";
    else
      std::cout << (type == "STRING" ? dm.LectureChaine(a, u, s, k, "") : dm.LectureMemo(a, u, s, k, "")) << "\n";
  } else if (action == "set") {
    if (args.size() != 7) return SettingsUsage();
    const std::string &a = args[2], &u = args[3], &s = args[4], &k = args[5], &v = args[6];
    bool ok = true;
    if (type == "STRING") {
      dm.EcritureChaine(a, u, s, k, v);
    } else if (type == "ENTIER") {
      int32_t n = ParseInteger(v);
      ok = dm.ExisteEntier(a, u, s, k) ? dm.ModifEntier(a, u, s, k, n) : dm.AjoutEntier(a, u, s, k, n);
    } else {
      ok = dm.ExisteMemo(a, u, s, k) ? dm.ModifMemo(a, u, s, k, v) : dm.AjoutMemo(a, u, s, k, v);
    }
    if (!ok) {
      std::cerr << "tessaly-db settings: the value was not written (several rows hold this key?)\n";
      dm.FermetureBDD();
      return 1;
    }
  } else if (action == "list") {
    if (args.size() != 2) return SettingsUsage();
    sdb::TSDBQuery q;
    q.DatabaseName = tessaly::kSettingsDatabaseName;
    q.AddSQL("SELECT * FROM Parametres");
    if (hasSection) q.AddSQL(" WHERE `Section` = :Section");
    q.AddSQL(" ORDER BY `Section`, `Cle`, `Agence`, `Utilisateur`");
    if (hasSection) q.ParamByName("Section").SetAsString(section);
    q.Open();
    std::cout << "Agence\tUtilisateur\tSection\tCle\tValeurType\tValeur\n";
    for (q.First(); !q.Eof(); q.Next()) {
      std::string t = q.FieldByName("ValeurType").AsString();
      std::string value = t == "ENTIER" ? (q.FieldByName("ValeurEntier").IsNull()
                                               ? std::string()
                                               : std::to_string(q.FieldByName("ValeurEntier").AsInteger()))
                          : t == "MEMO" ? Utf8(q.FieldByName("ValeurMemo").AsString())
                                        : Utf8(q.FieldByName("ValeurChaine").AsString());
      // One row a line: line breaks inside values are shown escaped.
      std::string shown;
      for (char c : value) shown += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
      std::cout << Utf8(q.FieldByName("Agence").AsString()) << "\t" << Utf8(q.FieldByName("Utilisateur").AsString())
                << "\t" << Utf8(q.FieldByName("Section").AsString()) << "\t" << Utf8(q.FieldByName("Cle").AsString())
                << "\t" << t << "\t" << shown << "\n";
    }
    q.Close();
  } else {
    return SettingsUsage();
  }
  dm.FermetureBDD();
  return 0;
}

}  // namespace tessdb
