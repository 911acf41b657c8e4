// tessaly-db sessions FILE     the sessions connected to a database file
// tessaly-db locks FILE TABLE  the table and record locks held on a table
//
// Both look at the lock bytes from outside: a byte that this tool cannot
// lock is held by some connection. Nothing is written to the file.
#include <iostream>
#include <stdexcept>
#include <string>

#include "Commands.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/database/SDBActiveSessions.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/database/SDBLockManager.h"
#include "storage/file/SDBSystemDirectory.h"
#include "storage/table/SDBTableList.h"

namespace tessdb {

namespace {

using namespace sdb;

const char* const kSessionsUsage =
    "usage: tessaly-db sessions FILE [--password P]\n"
    "Lists the session identifiers connected to the database (from every process),\n"
    "or the single-user connection that holds the whole file.\n";
const char* const kLocksUsage =
    "usage: tessaly-db locks FILE TABLE [--password P]\n"
    "Lists the table locks (by session and type) and the record locks held on a table.\n";

// Opens the file shared and read/write (lock tests need a writable handle);
// nothing is written.
struct TPeek {
  TSDBDiskPageCache Cache{64};
  std::unique_ptr<TSDBSystemDirectory> Dir;

  TPeek(const std::string& FileName, const std::string& Password) {
    bool readOnly = false, repair = false, multi = true;
    Cache.OpenDatabase(FileName, TSDBPassword{Password, kSDBDefaultCryptoAlgorithm}, readOnly, repair, false, multi);
    Dir = std::make_unique<TSDBSystemDirectory>(Cache);
    Dir->LoadDirectory(kSDBEngineSessionID);
  }
  int32_t FileStart(TSDBDBFileType Type) {
    const int32_t p = Dir->GetFileFirstPageNo(Type);
    if (p < 0) throw ESDBException(kSDBErrInvalidDatabaseFormat, "Invalid database format");
    return p;
  }
};

void TakeArgs(const Args& in, Args& out, std::string& password, size_t count, const char* usage) {
  out = in;
  TakeOption(out, "--password", password);
  if (out.size() != count) throw std::invalid_argument(usage);
}

}  // namespace

int CmdSessions(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kSessionsUsage;
    return 0;
  }
  Args args;
  std::string password;
  TakeArgs(argsIn, args, password, 1, kSessionsUsage);
  TPeek peek(args[0], password);
  TSDBActiveSessionsFile sessions(peek.Cache.DiskPageManager());
  sessions.OpenFile(peek.FileStart(dbftActiveSessionsList));
  const int n = sessions.MaxSessionCount();
  int connected = 0;
  std::string ids;
  for (int s = 0; s < n; ++s) {
    if (!sessions.IsSessionConnected(s)) continue;
    ++connected;
    ids += (ids.empty() ? "" : " ") + std::to_string(s);
  }
  std::cout << "maximum sessions: " << n << "\n";
  if (connected == n && n > 1) {
    std::cout << "single-user connection holds the database\n";
  } else {
    std::cout << "connected sessions: " << connected << "\n";
    if (connected > 0) std::cout << "session ids: " << ids << "\n";
  }
  return 0;
}

int CmdLocks(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kLocksUsage;
    return 0;
  }
  Args args;
  std::string password;
  TakeArgs(argsIn, args, password, 2, kLocksUsage);
  TPeek peek(args[0], password);
  TSDBTableListFile list(peek.Cache);
  list.OpenFile(peek.FileStart(dbftTablesList));
  list.Load(kSDBEngineSessionID);
  const int i = list.Find(args[1]);
  if (i < 0) throw ESDBException(kSDBErrLoadMissingTable, "Table '%s' does not exist.", {args[1]});
  const int32_t locksPage = list.Items()[static_cast<size_t>(i)].LocksFilePageNo;
  TSDBTableLocksFile locks(peek.Cache.DiskPageManager());
  locks.OpenFile(locksPage);
  std::cout << "table " << args[1] << " (locks file page " << locksPage << ", " << locks.MaxSessionCount()
            << " sessions)\n";
  int held = 0;
  if (locks.IsFileLockHeld()) {
    std::cout << "file lock held (ltX or a lock being changed)\n";
    ++held;
  }
  for (int s = 0; s < locks.MaxSessionCount(); ++s) {
    std::string types;
    for (int t = ltIS; t <= ltRW; ++t)
      if (locks.IsLockByteHeld(s, static_cast<TSDBLockType>(t)))
        types += std::string(types.empty() ? "" : " ") + SDBLockTypeName(static_cast<TSDBLockType>(t));
    if (!types.empty()) {
      std::cout << "session " << s << ": " << types << "\n";
      ++held;
    }
    if (locks.IsRecordByteHeld(s)) {
      const TSDBPageItemID r = locks.RecordSlot(s);
      std::cout << "session " << s << ": record " << r.PageNo << ":" << r.PageItemNo << "\n";
      ++held;
    }
  }
  if (held == 0) std::cout << "no locks held\n";
  return 0;
}

}  // namespace tessdb
