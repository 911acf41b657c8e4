#include "sdb/SDBComponents.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBText.h"
#include "components/SDBConnection.h"
#include "sql/SDBExecResult.h"
#include "sql/SDBSQLParams.h"
#include "sql/SDBEvaluator.h"
#include "storage/table/SDBFieldDef.h"
#include "common/SDBNames.h"
#include "platform/SDBFileHandle.h"

namespace sdb {

// ---- Session list ---------------------------------------------------------------------------

TSDBSessionList& TSDBSessionList::Instance() {
  // Engine start-up: the list and the default session live until the
  // process ends (components held in static objects may outlive any
  // ordered destruction).
  static TSDBSessionList* list = [] {
    SDBRegisterSqlEvaluators();
    return new TSDBSessionList();
  }();
  return *list;
}

TSDBSessionList::TSDBSessionList() {
  FDefault.reset(new TSDBSession("Default", *this));
}

void TSDBSessionList::Add(TSDBSession* s) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FSessions.push_back(s);
}

void TSDBSessionList::Remove(TSDBSession* s) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FSessions.erase(std::remove(FSessions.begin(), FSessions.end(), s), FSessions.end());
}

TSDBSession* TSDBSessionList::FindSessionOrNull(const std::string& Name) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (Name.empty()) return FDefault.get();
  for (TSDBSession* s : FSessions)
    if (SDBSameName(s->SessionName(), Name)) return s;
  return nullptr;
}

TSDBSession& TSDBSessionList::FindSession(const std::string& Name) {
  TSDBSession* s = FindSessionOrNull(Name);
  if (!s) throw ESDBException(kSDBErrInvalidSessionName, "Invalid session name '%s'", {Name});
  return *s;
}

std::vector<std::string> TSDBSessionList::GetSessionNames() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  std::vector<std::string> out;
  for (TSDBSession* s : FSessions) out.push_back(s->SessionName());
  return out;
}

TSDBSession& SDBDefaultSession() { return TSDBSessionList::Instance().DefaultSession(); }

// ---- Session ----------------------------------------------------------------------------------

TSDBSession::TSDBSession(const std::string& SessionName) : FSessionName(SessionName) {
  TSDBSessionList::Instance().Add(this);
}

TSDBSession::TSDBSession(const std::string& SessionName, TSDBSessionList& List) : FSessionName(SessionName) {
  List.Add(this);
}

TSDBSession::~TSDBSession() {
  try {
    Close();
  } catch (...) {
  }
  FTemporary.clear();
  {
    std::lock_guard<std::recursive_mutex> g(FLock);
    for (TSDBDatabase* db : FDatabases) db->FSession = nullptr;
    FDatabases.clear();
  }
  TSDBSessionList::Instance().Remove(this);
}

void TSDBSession::SetSessionName(const std::string& Name) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  for (TSDBDatabase* db : FDatabases)
    if (db->Connected()) throw ESDBException(kSDBErrDatabaseOpen, "Cannot perform this operation on an open database");
  FSessionName = Name;
  for (TSDBDatabase* db : FDatabases) db->FSessionName = Name;
}

void TSDBSession::Open() {
  if (FActive) return;
  FActive = true;
  if (OnStartup) OnStartup(*this);
}

void TSDBSession::Close() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  std::vector<TSDBDatabase*> dbs = FDatabases;
  for (TSDBDatabase* db : dbs) db->Close();
  FActive = false;
}

void TSDBSession::AddDatabase(TSDBDatabase* db) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FDatabases.push_back(db);
}

void TSDBSession::RemoveDatabase(TSDBDatabase* db) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FDatabases.erase(std::remove(FDatabases.begin(), FDatabases.end(), db), FDatabases.end());
}

int TSDBSession::DatabaseCount() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return static_cast<int>(FDatabases.size());
}

TSDBDatabase* TSDBSession::FindDatabase(const std::string& DatabaseName, const void* Owner) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (Owner)
    for (TSDBDatabase* db : FDatabases)
      if (db->HandleShared && db->Owner() == Owner && SDBSameName(db->DatabaseName(), DatabaseName)) return db;
  for (TSDBDatabase* db : FDatabases)
    if (SDBSameName(db->DatabaseName(), DatabaseName)) return db;
  return nullptr;
}

TSDBDatabase& TSDBSession::OpenDatabase(const std::string& DatabaseName, const void* Owner) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  Open();
  TSDBDatabase* db = FindDatabase(DatabaseName, Owner);
  if (!db) {
    // A name no component has: a temporary database of that name, whose
    // file is the name itself.
    auto temp = std::make_unique<TSDBDatabase>(this);
    temp->FTemporary = true;
    temp->FDatabaseName = DatabaseName;
    temp->FDatabaseFileName = DatabaseName;
    temp->SilentMode = true;
    temp->FKeepConnection = KeepConnections;
    db = temp.get();
    FTemporary.push_back(std::move(temp));
  }
  try {
    db->Open();
  } catch (...) {
    if (db->Temporary() && db->RefCount() == 0) {
      FTemporary.erase(std::remove_if(FTemporary.begin(), FTemporary.end(),
                                      [&](const std::unique_ptr<TSDBDatabase>& p) { return p.get() == db; }),
                       FTemporary.end());
    }
    throw;
  }
  ++db->FRefCount;
  return *db;
}

void TSDBSession::CloseDatabase(TSDBDatabase& Database) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (Database.FRefCount > 0) --Database.FRefCount;
  if (Database.FRefCount > 0 || Database.KeepConnection()) return;
  if (Database.Temporary()) {
    TSDBDatabase* db = &Database;
    FTemporary.erase(std::remove_if(FTemporary.begin(), FTemporary.end(),
                                    [&](const std::unique_ptr<TSDBDatabase>& p) { return p.get() == db; }),
                     FTemporary.end());
  } else {
    Database.Close();
  }
}

std::vector<std::string> TSDBSession::GetDatabaseNames() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  std::vector<std::string> out;
  for (TSDBDatabase* db : FDatabases) out.push_back(db->DatabaseName());
  return out;
}

std::vector<std::string> TSDBSession::GetTableNames(const std::string& DatabaseName) {
  TSDBDatabase& db = OpenDatabase(DatabaseName);
  std::vector<std::string> out;
  try {
    out = db.GetTablesList();
  } catch (...) {
    CloseDatabase(db);
    throw;
  }
  CloseDatabase(db);
  return out;
}

void TSDBSession::DropConnections() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  std::vector<TSDBDatabase*> dbs = FDatabases;
  for (TSDBDatabase* db : dbs)
    if (db->RefCount() == 0 && !db->Temporary()) db->Close();
  FTemporary.erase(std::remove_if(FTemporary.begin(), FTemporary.end(),
                                  [](const std::unique_ptr<TSDBDatabase>& p) { return p->RefCount() == 0; }),
                   FTemporary.end());
}

// ---- Database ---------------------------------------------------------------------------------

TSDBDatabase::TSDBDatabase(TSDBSession* Session, const void* Owner) : FOwner(Owner) {
  FSession = Session ? Session : &SDBDefaultSession();
  FSessionName = FSession->SessionName();
  FSession->AddDatabase(this);
}

TSDBDatabase::~TSDBDatabase() {
  try {
    Close();
  } catch (...) {
  }
  if (FSession) FSession->RemoveDatabase(this);
}

TSDBSession& TSDBDatabase::Session() {
  if (!FSession) FSession = &TSDBSessionList::Instance().FindSession(FSessionName);
  return *FSession;
}

void TSDBDatabase::SetDatabaseName(const std::string& Name) {
  if (Connected()) throw ESDBException(kSDBErrDatabaseOpen, "Cannot perform this operation on an open database");
  if (Name == FDatabaseName) return;
  TSDBSession& s = Session();
  std::lock_guard<std::recursive_mutex> g(s.Lock());
  if (!Name.empty()) {
    for (TSDBDatabase* other : std::vector<TSDBDatabase*>(s.FDatabases)) {
      if (other == this || !SDBSameName(other->DatabaseName(), Name)) continue;
      if (other->Temporary() && other->RefCount() == 0) {
        s.FTemporary.erase(std::remove_if(s.FTemporary.begin(), s.FTemporary.end(),
                                          [&](const std::unique_ptr<TSDBDatabase>& p) { return p.get() == other; }),
                           s.FTemporary.end());
        continue;
      }
      throw ESDBException(kSDBErrDuplicateDatabase, "Duplicate database name '%s'", {Name});
    }
  }
  FDatabaseName = Name;
}

void TSDBDatabase::SetDatabaseFileName(const std::string& FileName) {
  if (FileName == FDatabaseFileName) return;
  if (Connected()) Close();
  FDatabaseFileName = FileName;
}

void TSDBDatabase::SetSessionName(const std::string& Name) {
  if (Connected()) throw ESDBException(kSDBErrDatabaseOpen, "Cannot perform this operation on an open database");
  TSDBSession& target = TSDBSessionList::Instance().FindSession(Name);
  if (&target == FSession) return;
  if (FSession) FSession->RemoveDatabase(this);
  FSession = &target;
  FSessionName = target.SessionName();
  target.AddDatabase(this);
}

void TSDBDatabase::SetKeepConnection(bool v) {
  FKeepConnection = v;
  if (!v && Connected() && FRefCount == 0) Close();
}

TSDBConnectionHandle& TSDBDatabase::Handle() {
  if (FSharedHandle) return *FSharedHandle;
  if (!FHandle) throw ESDBException(kSDBErrDatabaseNotOpen, "Error - database file is not opened.");
  return *FHandle;
}

void TSDBDatabase::ConnectHandle() {
  TSDBConnectionParams p;
  p.DatabaseName = FDatabaseName;
  p.FileName = FDatabaseFileName;
  p.Password = Password;
  p.CryptoAlgorithm = CryptoAlgorithm;
  p.PageSize = PageSize;
  p.PagesPerExtent = PagesPerExtent;
  p.MaxConnections = FMaxConnections;
  p.ReadOnly = FReadOnly;
  p.Exclusive = Exclusive;
  p.MultiUser = MultiUser;
  p.DisableTempFiles = DisableTempFiles;
  p.Durability = Durability;
  if (MultiUser) p.SessionName = FSessionName;
  auto h = std::make_unique<TSDBConnectionHandle>();
  h->Connect(p);
  FHandle = std::move(h);
}

void TSDBDatabase::Open() {
  if (Connected()) return;
  if (FDatabaseName.empty() && !FTemporary)
    throw ESDBException(kSDBErrDatabaseNameMissing, "Database name missing");
  TSDBSession& s = Session();
  s.Open();
  std::lock_guard<std::recursive_mutex> g(s.Lock());
  if (HandleShared) {
    for (TSDBDatabase* other : s.FDatabases) {
      if (other != this && other->FHandle && SDBSameName(other->DatabaseName(), FDatabaseName)) {
        FSharedHandle = other->FHandle.get();
        return;
      }
    }
  }
  if (!FTemporary) {
    std::error_code ec;
    if (FDatabaseFileName.empty() || !std::filesystem::is_regular_file(FDatabaseFileName, ec))
      throw ESDBException(kSDBErrDatabaseFileMissing, "Database file '%s' does not exist", {FDatabaseFileName});
  }
  for (;;) {
    try {
      ConnectHandle();
      break;
    } catch (const ESDBException& e) {
      FHandle.reset();
      if (e.NativeError() != kSDBErrWrongPassword) throw;
      bool given = false;
      if (OnPassword)
        given = OnPassword(*this);
      else if (!SilentMode && PasswordDialog)
        given = PasswordDialog(*this);
      if (!given) throw;
    }
  }
  if (FHandle->RepairNeeded() && !SilentMode) {
    bool repair = false;
    if (FHandle->FileVersion() < kSDBMinVersionWithoutRepair) {
      // An old file is converted without a question: the box only says so.
      if (InformationBox)
        InformationBox(
            "Database file you are opening is of old format. It will be converted to the current database format "
            "now. It is recommended to make a backup of the database before continuing.");
      repair = true;
    } else if (OnNeedRepair) {
      repair = OnNeedRepair(*this);
    } else if (!FRepairing && ConfirmDialog) {
      repair = ConfirmDialog("Database file was not correctly closed last time. Do you want to repair it?");
    }
    if (repair) {
      FRepairing = true;
      try {
        TSDBConnectionParams params = FHandle->Params();
        FHandle.reset();
        TSDBRepairReport report = TSDBConnectionHandle::Repair(params, [this](int percent) {
          if (OnRepairProgress) OnRepairProgress(*this, percent);
        });
        ConnectHandle();
        if (!report.Log.empty() && WarningBox) WarningBox(report.Log);
      } catch (const ESDBException& e) {
        FRepairing = false;
        FHandle.reset();
        throw ESDBException(kSDBErrCannotConvert,
                            std::string("Cannot convert database to the new format. Please contact Tessaly support "
                                        "and send the database file with this message: ") +
                                e.what());
      }
      FRepairing = false;
    }
  }
  FReadOnly = FHandle->ReadOnly();
  FMaxConnections = FHandle->MaxConnections();
  // The file's own settings win over the creation defaults, so that a
  // later ChangeDatabaseSettings starts from what the file holds.
  CryptoAlgorithm = FHandle->FileCryptoAlgorithm();
  PageSize = FHandle->FilePageSize();
  PagesPerExtent = FHandle->FilePagesPerExtent();
}

void TSDBDatabase::Close() {
  if (!Connected()) return;
  CloseDataSets();
  if (FHandle) {
    // Databases that took this connection over lose it too.
    if (FSession) {
      std::lock_guard<std::recursive_mutex> g(FSession->Lock());
      for (TSDBDatabase* other : FSession->FDatabases)
        if (other->FSharedHandle == FHandle.get()) {
          other->CloseDataSets();
          other->FSharedHandle = nullptr;
          other->FRefCount = 0;
        }
    }
    std::unique_ptr<TSDBConnectionHandle> h = std::move(FHandle);
    h->Disconnect();
  }
  FSharedHandle = nullptr;
  FRefCount = 0;
}

void TSDBDatabase::CloseDataSets() {
  std::vector<TSDBDataSet*> sets = FDataSets;
  FDataSets.clear();
  for (TSDBDataSet* ds : sets) {
    ds->FDatabase = nullptr;
    ds->FUseFlags = 0;
    ds->Close();
  }
}

void TSDBDatabase::AddDataSet(TSDBDataSet* ds) {
  if (std::find(FDataSets.begin(), FDataSets.end(), ds) == FDataSets.end()) FDataSets.push_back(ds);
}

void TSDBDatabase::RemoveDataSet(TSDBDataSet* ds) {
  FDataSets.erase(std::remove(FDataSets.begin(), FDataSets.end(), ds), FDataSets.end());
}

void TSDBDatabase::CreateDatabase() {
  if (Connected()) throw ESDBException(kSDBErrDatabaseOpen, "Cannot perform this operation on an open database");
  TSDBConnectionParams p;
  p.FileName = FDatabaseFileName;
  p.Password = Password;
  p.CryptoAlgorithm = CryptoAlgorithm;
  p.PageSize = PageSize;
  p.PagesPerExtent = PagesPerExtent;
  p.MaxConnections = FMaxConnections;
  TSDBConnectionHandle h;
  h.CreateDatabase(p);
  h.Disconnect();
}

std::string TSDBDatabase::RepairDatabase(std::string* Summary) {
  if (Connected()) throw ESDBException(kSDBErrDatabaseOpen, "Cannot perform this operation on an open database");
  TSDBConnectionParams p;
  p.FileName = FDatabaseFileName;
  p.Password = Password;
  const TSDBRepairReport report = TSDBConnectionHandle::Repair(p, [this](int percent) {
    if (OnRepairProgress) OnRepairProgress(*this, percent);
  });
  if (Summary) *Summary = report.Summary();
  return report.Log;
}

std::string TSDBDatabase::CompactDatabase() {
  if (Connected()) throw ESDBException(kSDBErrDatabaseOpen, "Cannot perform this operation on an open database");
  TSDBConnectionParams p;
  p.FileName = FDatabaseFileName;
  p.Password = Password;
  return TSDBConnectionHandle::Compact(p, [this](int percent) {
           if (OnCompactProgress) OnCompactProgress(*this, percent);
         }).Summary();
}

int64_t TSDBDatabase::BackupDatabase(const std::string& DestFileName) {
  std::error_code ec;
  if (FDatabaseFileName.empty() || !std::filesystem::is_regular_file(FDatabaseFileName, ec))
    throw ESDBException(kSDBErrDatabaseFileMissing, "Database file '%s' does not exist", {FDatabaseFileName});
  TSDBConnectionParams p;
  p.FileName = FDatabaseFileName;
  p.Password = Password;
  return TSDBConnectionHandle::Backup(p, DestFileName);
}

void TSDBDatabase::CheckClosedWithFile() const {
  if (Connected()) throw ESDBException(kSDBErrDatabaseOpen, "Cannot perform this operation on an open database");
  std::error_code ec;
  if (FDatabaseFileName.empty() || !std::filesystem::is_regular_file(FDatabaseFileName, ec))
    throw ESDBException(kSDBErrDatabaseFileMissing, "Database file '%s' does not exist", {FDatabaseFileName});
}

void TSDBDatabase::ChangePassword(const std::string& NewPassword) {
  CheckClosedWithFile();
  SDBPasswordBytes(NewPassword);  // refused before the file is touched
  TSDBConnectionParams p;
  p.FileName = FDatabaseFileName;
  p.Password = Password;
  TSDBRewriteSettings settings;
  settings.Password = NewPassword;
  TSDBConnectionHandle::Rewrite(p, settings, [this](int percent) {
    if (OnChangePasswordProgress) OnChangePasswordProgress(*this, percent);
  });
  Password = NewPassword;
}

void TSDBDatabase::ChangeDatabaseSettings() {
  CheckClosedWithFile();
  TSDBConnectionParams p;
  p.FileName = FDatabaseFileName;
  p.Password = Password;
  TSDBRewriteSettings settings;
  settings.CryptoAlgorithm = CryptoAlgorithm;
  settings.PageSize = PageSize;
  settings.PagesPerExtent = PagesPerExtent;
  TSDBConnectionHandle::Rewrite(p, settings, [this](int percent) {
    if (OnChangeDatabaseSettingsProgress) OnChangeDatabaseSettingsProgress(*this, percent);
  });
}

void TSDBDatabase::DeleteDatabase() {
  CheckClosedWithFile();
  std::error_code ec;
  if (!std::filesystem::remove(FDatabaseFileName, ec) || ec)
    throw ESDBException(kSDBErrDeleteDatabaseFile, "Cannot delete database file '%s': %s",
                        {FDatabaseFileName, ec ? ec.message() : std::string("not removed")});
}

void TSDBDatabase::RenameDatabase(const std::string& NewFileName) {
  CheckClosedWithFile();
  std::error_code ec;
  if (NewFileName.empty() || std::filesystem::exists(NewFileName, ec))
    throw ESDBException(kSDBErrDatabaseFileExists, "Database file '%s' already exists", {NewFileName});
  if (const int err = SDBRenameFile(FDatabaseFileName, NewFileName))
    throw ESDBException(kSDBErrRenameFile, "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s",
                        {FDatabaseFileName, NewFileName, int64_t{err}, std::string(std::strerror(err))});
  FDatabaseFileName = NewFileName;
}

void TSDBDatabase::TruncateDatabase() {
  CheckClosedWithFile();
  TSDBConnectionParams p;
  p.FileName = FDatabaseFileName;
  p.Password = Password;
  p.Durability = Durability;
  TSDBConnectionHandle::Truncate(p);
}

void TSDBDatabase::FlushBuffers() { Handle().FlushBuffers(); }

bool TSDBDatabase::RepairNeeded() const {
  const TSDBConnectionHandle* h = FSharedHandle ? FSharedHandle : FHandle.get();
  return h && h->RepairNeeded();
}

std::vector<std::string> TSDBDatabase::GetTablesList() { return Handle().GetTablesList(); }
bool TSDBDatabase::TableExists(const std::string& TableName) { return Handle().TableExists(TableName); }
void TSDBDatabase::StartTransaction() { Handle().StartTransaction(); }
void TSDBDatabase::Commit(bool Flush) { Handle().Commit(Flush); }
void TSDBDatabase::Rollback() { Handle().Rollback(); }
bool TSDBDatabase::InTransaction() const {
  const TSDBConnectionHandle* h = FSharedHandle ? FSharedHandle : FHandle.get();
  return h && h->InTransaction();
}

}  // namespace sdb
