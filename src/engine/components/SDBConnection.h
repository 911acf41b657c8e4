// The connection handle of a database component: one connection to one
// database file, as statement execution and the table component use it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/SDBExecHost.h"
#include "storage/SDBCrypto.h"
#include "storage/SDBSession.h"

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
  // Rebuilds the record page index of every table of a disconnected file;
  // returns a log line per table that could not be opened.
  static std::string Repair(const TSDBConnectionParams& Params);

  // TSDBExecConnection
  int SessionID() const override { return FSession ? FSession->SessionID() : 0; }
  bool ReadOnly() const override;
  void OpenTable(TSDBCursor& Cursor, const std::string& TableName) override;
  void CloseTable(TSDBCursor& Cursor) override;
  void CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                   TSDBIndexDefs IndexDefs) override;
  void DeleteTable(const std::string& TableName) override;
  void RenameTable(const std::string& OldName, const std::string& NewName) override;
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
