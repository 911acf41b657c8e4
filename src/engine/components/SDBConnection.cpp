#include "components/SDBConnection.h"

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/database/SDBDatabaseData.h"
#include "storage/file/SDBPageFormat.h"
#include "storage/file/SDBSystemDirectory.h"

namespace sdb {

namespace {

TSDBConnectParams ToConnect(const TSDBConnectionParams& p) {
  TSDBConnectParams c;
  c.DatabaseName = p.DatabaseName;
  c.FileName = p.FileName;
  c.Password = p.Password;
  c.SessionName = p.SessionName;
  c.Cipher = p.CryptoAlgorithm;
  c.PageSize = p.PageSize;
  c.PagesPerExtent = p.PagesPerExtent;
  c.MaxConnections = p.MaxConnections;
  c.ReadOnly = p.ReadOnly;
  c.Exclusive = p.Exclusive;
  c.MultiUser = p.MultiUser;
  c.DisableTempFiles = p.DisableTempFiles;
  return c;
}

}  // namespace

TSDBConnectionHandle::TSDBConnectionHandle() = default;

TSDBConnectionHandle::~TSDBConnectionHandle() {
  try {
    Disconnect();
  } catch (...) {
  }
}

void TSDBConnectionHandle::Connect(const TSDBConnectionParams& Params) {
  Disconnect();
  FParams = Params;
  auto s = std::make_unique<TSDBLocalSession>();
  s->Connect(ToConnect(Params));
  s->DatabaseData().Cache().DiskPageManager().Durability = Params.Durability;
  FSession = std::move(s);
}

void TSDBConnectionHandle::CreateDatabase(const TSDBConnectionParams& Params) {
  Disconnect();
  TSDBCreateDatabaseParams p;
  p.FileName = Params.FileName;
  p.Password = Params.Password;
  p.CryptoAlgorithm = Params.CryptoAlgorithm;
  p.PageSize = Params.PageSize;
  p.PageCountInExtent = Params.PagesPerExtent;
  p.MaxConnections = Params.MaxConnections;
  TSDBLocalSession creator;
  creator.CreateDatabase(p);
  Connect(Params);
}

void TSDBConnectionHandle::Disconnect() {
  if (!FSession) return;
  std::unique_ptr<TSDBLocalSession> s = std::move(FSession);
  s->Disconnect();
}

bool TSDBConnectionHandle::Connected() { return FSession && FSession->Connected(); }

bool TSDBConnectionHandle::RepairNeeded() const { return FSession && FSession->RepairNeeded(); }

int32_t TSDBConnectionHandle::MaxConnections() const {
  return FSession && FSession->MaxSessionCount() > 0 ? FSession->MaxSessionCount() : FParams.MaxConnections;
}

double TSDBConnectionHandle::FileVersion() const {
  return FSession && FSession->Connected() ? FSession->DatabaseData().DiskPageManager().DBHeader().Version : 0;
}

TSDBRepairReport TSDBConnectionHandle::Repair(const TSDBConnectionParams& Params, const TSDBProgressCallback& Progress) {
  return SDBRepairDatabase(Params.FileName, Params.Password, Progress);
}

int64_t TSDBConnectionHandle::Backup(const TSDBConnectionParams& Params, const std::string& Destination) {
  return SDBBackupDatabase(Params.FileName, Destination, Params.Password).Bytes;
}

TSDBCompactReport TSDBConnectionHandle::Compact(const TSDBConnectionParams& Params,
                                                const TSDBProgressCallback& Progress) {
  return SDBCompactDatabase(Params.FileName, Params.Password, Progress);
}

static TSDBLocalSession& Need(const std::unique_ptr<TSDBLocalSession>& s) {
  if (!s) throw ESDBException(kSDBErrDatabaseNotOpen, "Error - database file is not opened.");
  return *s;
}

TSDBCompactReport TSDBConnectionHandle::Rewrite(const TSDBConnectionParams& Params, const TSDBRewriteSettings& Settings,
                                                const TSDBProgressCallback& Progress) {
  return SDBRewriteDatabase(Params.FileName, Params.Password, Settings, Progress);
}

int32_t TSDBConnectionHandle::Truncate(const TSDBConnectionParams& Params) {
  TSDBMaintenanceDatabase db;
  db.OpenDatabase(Params.FileName, Params.Password);
  // After an interrupted commit the last used page number may be behind
  // the pages in use: cutting there would lose them.
  if (db.RepairNeeded())
    throw ESDBException(kSDBErrTruncateNeedsRepair, "Cannot truncate database file '%s': it needs repair first",
                        {Params.FileName});
  TSDBDiskPageManager& pm = db.DiskPageManager();
  pm.Durability = Params.Durability;
  const int32_t before = pm.DBHeader().TotalPageCount;
  // The new size and the header that records it change together: the
  // journal gives the file its old size back when the process dies between
  // the two.
  if (!pm.WaitLockDBHeader()) throw ESDBException(kSDBErrDatabaseHeaderLocked, "Database is locked");
  try {
    pm.Journal().Begin({{pm.OffsetToDBHeader(), kSDBDBHeaderSize}}, Params.Durability);
    try {
      db.Cache().FreeSpaceManager().TruncateDatabase();
      pm.Journal().Commit();
    } catch (...) {
      pm.Journal().Rollback();
      throw;
    }
  } catch (...) {
    pm.UnlockDBHeader();
    throw;
  }
  pm.UnlockDBHeader();
  const int32_t cut = before - pm.DBHeader().TotalPageCount;
  db.CloseDatabase();
  return cut;
}

void TSDBConnectionHandle::FlushBuffers() { Need(FSession).FlushBuffers(); }

TSDBCryptoAlgorithm TSDBConnectionHandle::FileCryptoAlgorithm() const {
  TSDBDiskPageManager& pm = Need(FSession).DatabaseData().DiskPageManager();
  return pm.Encrypted() ? static_cast<TSDBCryptoAlgorithm>(pm.CryptoHeader().CryptoAlgorithm) : FParams.CryptoAlgorithm;
}

uint16_t TSDBConnectionHandle::FilePageSize() const {
  return Need(FSession).DatabaseData().DiskPageManager().PageSize();
}

uint16_t TSDBConnectionHandle::FilePagesPerExtent() const {
  return Need(FSession).DatabaseData().DiskPageManager().PageCountInExtent();
}

bool TSDBConnectionHandle::ReadOnly() const { return FSession ? FSession->ReadOnly() : FParams.ReadOnly; }

void TSDBConnectionHandle::OpenTable(TSDBCursor& Cursor, const std::string& TableName) {
  Need(FSession).OpenTable(Cursor, TableName, Cursor.FExclusive);
}

void TSDBConnectionHandle::CloseTable(TSDBCursor& Cursor) {
  if (FSession) FSession->CloseTable(Cursor);
}

void TSDBConnectionHandle::CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                       TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs) {
  Need(FSession).CreateTable(TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs));
}

void TSDBConnectionHandle::DeleteTable(const std::string& TableName) { Need(FSession).DeleteTable(TableName); }

void TSDBConnectionHandle::RenameTable(const std::string& OldName, const std::string& NewName) {
  Need(FSession).RenameTable(OldName, NewName);
}

void TSDBConnectionHandle::RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs,
                                  TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs,
                                  const TSDBTableFill& Fill) {
  Need(FSession).RebuildTable(TableName, std::move(FieldDefs), std::move(ConstraintDefs), std::move(IndexDefs), Fill);
}

void TSDBConnectionHandle::EmptyTable(const std::string& TableName) { Need(FSession).EmptyTable(TableName); }

bool TSDBConnectionHandle::TableExists(const std::string& TableName) { return Need(FSession).TableExists(TableName); }

std::vector<std::string> TSDBConnectionHandle::GetTablesList() { return Need(FSession).GetTablesList(); }

void TSDBConnectionHandle::StartTransaction() { Need(FSession).StartTransaction(); }

void TSDBConnectionHandle::Commit(bool Flush) {
  Need(FSession).Commit();
  if (Flush) FSession->FlushBuffers();
}

void TSDBConnectionHandle::Rollback() { Need(FSession).Rollback(); }

}  // namespace sdb
