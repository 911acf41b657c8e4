// The settings data module: the "Parametres" database component and the
// typed operations that read and write one setting, identified by agency,
// user, section and key, in the table Parametres of the shared settings
// database. Every operation runs one parameterised statement through a
// fresh query component; no error is caught (the callers show them).
//
// Texts cross this interface in UTF-8; the database stores 8-bit
// (Windows-1252) text, as the parent application that shares the file
// does. A text with a character outside that set is refused when written
// (an sdb::ESDBException, kSDBErrTextCharacter, naming the column); a key
// with one is in no row, so lookups answer that the setting is absent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sdb {
class TSDBDatabase;
class TSDBQuery;
}  // namespace sdb

namespace tessaly {

// The password the settings database is enciphered with.
inline constexpr const char* kSettingsPassword = "#Quillbrook47";
// The name queries use for the settings database.
inline constexpr const char* kSettingsDatabaseName = "Parametres";

class TDataModuleSdb {
 public:
  TDataModuleSdb();
  ~TDataModuleSdb();
  TDataModuleSdb(const TDataModuleSdb&) = delete;
  TDataModuleSdb& operator=(const TDataModuleSdb&) = delete;

  sdb::TSDBDatabase& Parametres() { return *FParametres; }

  // Sets the database file (a different path closes the database first)
  // and opens it; answers whether it is open.
  bool OuvertureBDD(const std::string& CheminBase);
  bool FermetureBDD();

  bool ExisteChaine(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                    const std::string& Cle);
  bool ExisteEntier(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                    const std::string& Cle);
  bool ExisteMemo(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                  const std::string& Cle);

  bool AjoutChaine(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                   const std::string& Cle, const std::string& Valeur);
  bool AjoutEntier(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                   const std::string& Cle, int32_t Valeur);
  bool AjoutMemo(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                 const std::string& Cle, const std::string& Valeur);

  bool ModifChaine(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                   const std::string& Cle, const std::string& Valeur);
  bool ModifEntier(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                   const std::string& Cle, int32_t Valeur);
  bool ModifMemo(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                 const std::string& Cle, const std::string& Valeur);

  std::string LectureChaine(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                            const std::string& Cle, const std::string& Defaut);
  int32_t LectureEntier(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                        const std::string& Cle, int32_t Defaut);
  std::string LectureMemo(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                          const std::string& Cle, const std::string& Defaut);

  // Updates the STRING value when it exists, inserts it otherwise.
  void EcritureChaine(const std::string& Agence, const std::string& Utilisateur, const std::string& Section,
                      const std::string& Cle, const std::string& Valeur);

 private:
  struct TKey {
    const std::string& Agence;
    const std::string& Utilisateur;
    const std::string& Section;
    const std::string& Cle;
  };
  std::unique_ptr<sdb::TSDBQuery> NewQuery(const std::vector<std::string>& Lines);
  void SetKeyParams(sdb::TSDBQuery& Query, const TKey& Key, bool WithType, const char* Type);
  bool Exists(const TKey& Key, const char* Type);
  // The single matching row's value column, or nothing (false).
  bool ReadValue(const TKey& Key, const char* Column, const char* Type, std::string* Text, int64_t* Integer);
  bool Insert(const TKey& Key, const char* Column, const char* Type, const std::string* Text, const int32_t* Integer);
  bool Update(const TKey& Key, const char* Column, const char* Type, const std::string* Text, const int32_t* Integer);

  std::unique_ptr<sdb::TSDBDatabase> FParametres;
};

// The process's data module: created by the process entry before the main
// window and destroyed at process end; windows reach it here (null when
// none exists, as in tests that build a window alone).
TDataModuleSdb* DataModuleSdb();
void SetDataModuleSdb(TDataModuleSdb* Module);

}  // namespace tessaly
