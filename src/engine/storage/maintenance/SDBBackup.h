// Online backup: a consistent copy of a database file that other processes
// keep using.
//
// The copy is taken under the database-header lock. Every commit and every
// page allocation holds that lock while it writes, so while the copy runs
// the file holds exactly the last finished commit; a journal left by a
// committer that died is applied when the lock is taken, before anything is
// copied. Writers wait for the lock as for any other committer (up to the
// usual lock wait), readers go on. The copy is written to
// Destination + kSDBBackupSuffix, flushed, and renamed to Destination, so
// Destination is never a partial copy; a failure removes the partial file.
// A file left in the interrupted-commit state by a program that does not
// know the journal is refused: it needs repair first.
#pragma once

#include <cstdint>
#include <string>

namespace sdb {

inline constexpr const char* kSDBBackupSuffix = ".backup~";

struct TSDBBackupReport {
  int64_t Bytes = 0;  // size of the copy
};

TSDBBackupReport SDBBackupDatabase(const std::string& FileName, const std::string& Destination,
                                   const std::string& Password);

}  // namespace sdb
