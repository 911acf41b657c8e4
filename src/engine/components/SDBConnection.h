// The connection handle of a database component: one connection to one
// database file, as statement execution and the table component use it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/SDBExecHost.h"
#include "storage/maintenance/SDBBackup.h"
#include "storage/maintenance/SDBCompact.h"
#include "storage/file/SDBCrypto.h"
#include "storage/maintenance/SDBRepair.h"
#include "storage/database/SDBSession.h"
#include "storage/file/SDBJournal.h"

namespace sdb {

struct TSDBConnectionParams {
  std::string DatabaseName;
  std::string FileName;
  std::string Password;
  std::string SessionName;
  TSDBCryptoAlgorithm CryptoAlgorithm = kSDBDefaultCryptoAlgorithm;
  uint16_t PageSize = 4096;
  uint16_t PagesPerExtent = 8;
  int32_t MaxConnections = 500;
  bool ReadOnly = false;
  bool Exclusive = false;
  bool MultiUser = false;
  bool DisableTempFiles = false;
  // How much commits flush (see SDBJournal.h).
  TSDBDurability Durability = SDBDefaultDurability();
};

class TSDBConnectionHandle : public TSDBExecConnection {
 public:
  TSDBConnectionHandle();
  ~TSDBConnectionHandle() override;

  // Opens the file (the file layer's errors pass on: 30445 for a wrong password).
  void Connect(const TSDBConnectionParams& Params);
  void Disconnect();
  bool Connected();
  bool RepairNeeded() const;
  // Creates a new file with the parameters' settings and leaves it open.
  void CreateDatabase(const TSDBConnectionParams& Params);
  int32_t MaxConnections() const;
  const TSDBConnectionParams& Params() const { return FParams; }
  // The version number in the header of the connected file (0 when not
  // connected): files below 2.99 are of the old format.
  double FileVersion() const;
  // Repairs (and converts) a file nobody has open; see SDBRepairDatabase.
  static TSDBRepairReport Repair(const TSDBConnectionParams& Params, const TSDBProgressCallback& Progress = {});
  // Copies a file others may be using; see SDBBackupDatabase. Returns the
  // size of the copy.
  static int64_t Backup(const TSDBConnectionParams& Params, const std::string& Destination);
  // Compacts a file nobody has open; see SDBCompactDatabase.
  static TSDBCompactReport Compact(const TSDBConnectionParams& Params, const TSDBProgressCallback& Progress = {});
  // Rewrites a file nobody has open with new settings; see SDBRewriteDatabase.
  static TSDBCompactReport Rewrite(const TSDBConnectionParams& Params, const TSDBRewriteSettings& Settings,
                                   const TSDBProgressCallback& Progress = {});
  // Cuts the pages after the last used page off a file nobody has open;
  // answers the number of pages cut.
  static int32_t Truncate(const TSDBConnectionParams& Params);
  // Flushes the operating system's buffers of the file to the disk.
  void FlushBuffers();
  // The settings stored in the connected file.
  TSDBCryptoAlgorithm FileCryptoAlgorithm() const;
  uint16_t FilePageSize() const;
  uint16_t FilePagesPerExtent() const;

  // TSDBExecConnection
  int SessionID() const override { return FSession ? FSession->SessionID() : 0; }
  bool ReadOnly() const override;
  void OpenTable(TSDBCursor& Cursor, const std::string& TableName) override;
  void CloseTable(TSDBCursor& Cursor) override;
  void CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                   TSDBIndexDefs IndexDefs) override;
  void DeleteTable(const std::string& TableName) override;
  void RenameTable(const std::string& OldName, const std::string& NewName) override;
  void RebuildTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                    TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill) override;
  void EmptyTable(const std::string& TableName) override;
  bool TableExists(const std::string& TableName) override;
  std::vector<std::string> GetTablesList() override;
  void StartTransaction() override;
  void Commit(bool Flush) override;
  void Rollback() override;
  bool InTransaction() const override { return FSession && FSession->InTransaction(); }

 private:
  TSDBConnectionParams FParams;
  std::unique_ptr<TSDBLocalSession> FSession;
};

}  // namespace sdb
