// tessaly-db repair / compact / backup / passwd: the maintenance of a
// database file, through the database component. Only the check that
// follows a repair reads the file's structures itself (as `check` does).
#include <iostream>
#include <stdexcept>
#include <string>

#include "Commands.h"
#include "sdb/SDBComponents.h"
#include "storage/maintenance/SDBDatabaseCheck.h"

namespace tessdb {

namespace {

const char* kRepairUsage =
    "usage: tessaly-db repair FILE [--password P]\n"
    "  Repairs a database file nobody else has open (and converts a file of an\n"
    "  old format): rebuilds damaged record page indexes, reads every record and\n"
    "  BLOB value, rebuilds every index from the records, frees pages nothing\n"
    "  refers to and marks pages in use that were marked free. Prints what was\n"
    "  done and each problem found, then checks the file again; exits with 1\n"
    "  when the repair fails or the check still finds a problem.\n";

const char* kCompactUsage =
    "usage: tessaly-db compact FILE [--password P]\n"
    "  Copies every table of a database file nobody else has open into a fresh\n"
    "  file with the same settings, checks the copy and puts it in place of the\n"
    "  original. A failure leaves the original untouched. Prints the sizes\n"
    "  before and after.\n";

const char* kBackupUsage =
    "usage: tessaly-db backup FILE DEST [--password P]\n"
    "  Copies a database file to DEST while other processes may be using it.\n"
    "  The copy holds the last finished commit: writers wait while it is taken\n"
    "  and a commit interrupted by a crash is undone first. DEST is written\n"
    "  under a temporary name and renamed, so it is never a partial copy.\n"
    "  Exits with 1 when no copy was made.\n";

const char* kPasswdUsage =
    "usage: tessaly-db passwd FILE [--password OLD] (--new-password NEW | --remove)\n"
    "  Rewrites a database file nobody else has open under a new password\n"
    "  (--new-password) or without any (--remove); the cipher stays. Passwords\n"
    "  are UTF-8 text whose characters Windows-1252 can hold. A failure leaves\n"
    "  the file as it was.\n";

std::string TakeFile(Args& args, const char* usage) {
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
    throw std::invalid_argument(std::string("expected one FILE\n") + usage);
  return args[0];
}

// A database component for a file-level operation: no dialogs, the password
// given on the command line.
void Prepare(sdb::TSDBDatabase& db, const std::string& file, const std::string& password) {
  db.SilentMode = true;
  db.SetDatabaseFileName(file);
  db.Password = password;
}

}  // namespace

int CmdRepair(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kRepairUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  const std::string file = TakeFile(args, kRepairUsage);
  sdb::TSDBDatabase db;
  Prepare(db, file, password);
  std::string summary;
  const std::string log = db.RepairDatabase(&summary);
  std::cout << "repaired " << file << "\n" << summary;
  if (!log.empty()) std::cout << "problems found:\n" << log;
  // Only a file the check passes is repaired.
  const sdb::TSDBDatabaseCheckResult check = sdb::SDBCheckDatabase(file, password);
  for (const auto& p : check.Problems) std::cout << file << ": still: " << p << "\n";
  if (!check.Ok()) {
    std::cout << check.Problems.size() << " problem(s) remain\n";
    return 1;
  }
  return 0;
}

int CmdCompact(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kCompactUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  const std::string file = TakeFile(args, kCompactUsage);
  sdb::TSDBDatabase db;
  Prepare(db, file, password);
  const std::string summary = db.CompactDatabase();
  std::cout << "compacted " << file << ": " << summary;
  return 0;
}

int CmdBackup(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kBackupUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  if (args.size() != 2 || args[0].empty() || args[1].empty() || args[0][0] == '-' || args[1][0] == '-')
    throw std::invalid_argument(std::string("expected FILE and DEST\n") + kBackupUsage);
  sdb::TSDBDatabase db;
  Prepare(db, args[0], password);
  const int64_t bytes = db.BackupDatabase(args[1]);
  std::cout << "backed up " << args[0] << " to " << args[1] << ": " << bytes << " bytes\n";
  return 0;
}

int CmdPasswd(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kPasswdUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password, newPassword;
  TakeOption(args, "--password", password);
  const bool hasNew = TakeOption(args, "--new-password", newPassword);
  bool remove = false;
  for (auto it = args.begin(); it != args.end();)
    if (*it == "--remove") {
      remove = true;
      it = args.erase(it);
    } else {
      ++it;
    }
  if (hasNew == remove) throw std::invalid_argument(std::string("give either --new-password NEW or --remove\n") + kPasswdUsage);
  if (hasNew && newPassword.empty())
    throw std::invalid_argument(std::string("an empty new password: use --remove to remove the password\n") + kPasswdUsage);
  const std::string file = TakeFile(args, kPasswdUsage);
  sdb::TSDBDatabase db;
  Prepare(db, file, password);
  db.ChangePassword(remove ? std::string() : newPassword);
  std::cout << (remove ? "removed the password of " : "changed the password of ") << file << "\n";
  return 0;
}

}  // namespace tessdb
