// Sessions: a user's connection to a database file. A session gets its
// identifier from the database's active-sessions file (multi-user), or
// shares identifier 0 with the other sessions of its database data while
// holding the whole file (single-user). The sessions of one process that
// name the same file and session name share one database data object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/file/SDBCrypto.h"
#include "storage/file/SDBSystemDirectory.h"
#include "storage/table/SDBTableData.h"

namespace sdb {

class TSDBDiskDatabaseData;

struct TSDBConnectParams {
  std::string DatabaseName, FileName, Password, SessionName;
  TSDBCryptoAlgorithm Cipher = kSDBDefaultCryptoAlgorithm;
  int PageSize = 4096, PagesPerExtent = 8, MaxConnections = 500;
  bool ReadOnly = false, Exclusive = false, MultiUser = false, DisableTempFiles = false;
};

class TSDBBaseSession {
 public:
  virtual ~TSDBBaseSession() = default;

  int SessionID() const { return FSessionID; }
  bool InTransaction() const { return FInTransaction; }
  bool ReadOnly() const { return FReadOnly; }
  bool Exclusive() const { return FExclusive; }
  bool MultiUser() const { return FMultiUser; }
  bool RepairNeeded() const { return FRepairNeeded; }
  int32_t MaxSessionCount() const { return FMaxSessionCount; }
  const std::string& DatabaseName() const { return FDatabaseName; }
  const std::string& DatabaseFileName() const { return FDatabaseFileName; }
  const std::string& SessionName() const { return FSessionName; }
  const std::string& Password() const { return FPassword; }

  virtual void CreateDatabase(const TSDBCreateDatabaseParams& Params) = 0;
  virtual std::vector<std::string> GetTablesList() = 0;
  virtual bool TableExists(const std::string& TableName) = 0;
  virtual void StartTransaction() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual void FlushBuffers() = 0;

 protected:
  friend class TSDBDiskDatabaseData;
  std::string FDatabaseName;
  std::string FDatabaseFileName;
  std::string FPassword;
  int FSessionID = kSDBInvalidSessionID;
  bool FInTransaction = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  bool FDisableTempFiles = false;
  int32_t FMaxSessionCount = 0;
  bool FRepairNeeded = false;
  bool FMultiUser = false;
  std::string FSessionName;
};

class TSDBLocalSession : public TSDBBaseSession {
 public:
  TSDBLocalSession() = default;
  ~TSDBLocalSession() override;
  TSDBLocalSession(const TSDBLocalSession&) = delete;
  TSDBLocalSession& operator=(const TSDBLocalSession&) = delete;

  // Opens the database (first session of its file and session name in the
  // process) or joins it. Open errors are passed on unchanged.
  void Connect(const TSDBConnectParams& Params);
  // Closes the tables this session opened, rolls back its open transaction
  // and gives its identifier back.
  void Disconnect();
  bool Connected() const { return FData != nullptr; }

  int PageSize() const { return FPageSize; }
  int PageCountInExtent() const { return FPageCountInExtent; }
  TSDBCryptoAlgorithm Cipher() const { return FCipher; }

  // The shared database data (connected sessions only).
  TSDBTableDatabaseContext& Database();
  TSDBDiskDatabaseData& DatabaseData();

  // Creates the file (no connection is made).
  void CreateDatabase(const TSDBCreateDatabaseParams& Params) override;

  // Opens a table for the cursor under this session. The session closes the
  // cursors still open when it disconnects, so a cursor must be closed (or
  // the session disconnected) before the cursor is destroyed.
  void OpenTable(TSDBCursor& Cursor, const std::string& TableName, bool Exclusive = false);
  void CloseTable(TSDBCursor& Cursor);
  void CreateTable(const std::string& Name, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs = {},
                   TSDBIndexDefs IndexDefs = {});
  void DeleteTable(const std::string& TableName);
  void RenameTable(const std::string& OldName, const std::string& NewName);
  void RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                    TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill);
  void EmptyTable(const std::string& TableName);
  std::vector<std::string> GetTablesList() override;
  bool TableExists(const std::string& TableName) override;

  // Changes made inside a transaction stay pending until Commit; Commit
  // first takes the write locks of every table changed in it ("Cannot commit
  // changes. Locks of modified tables failed" (20233) when it cannot, the
  // transaction then stays open).
  void StartTransaction() override;
  void Commit() override;
  void Rollback() override;
  void FlushBuffers() override;

 private:
  void CheckConnected() const;
  void SetCursorsInTransaction(bool Value);

  std::shared_ptr<TSDBDiskDatabaseData> FData;
  std::vector<TSDBCursor*> FCursors;
  int FPageSize = 0;
  int FPageCountInExtent = 0;
  TSDBCryptoAlgorithm FCipher = kSDBDefaultCryptoAlgorithm;
};

}  // namespace sdb
