// The rollback journal: a file beside the database ("NAME-journal") that
// holds the original bytes of everything a commit is about to overwrite,
// so that a commit interrupted by a killed process, a power loss, a full
// disk or an I/O error can be undone exactly. The database file format does
// not know it: a program that ignores the journal still sees the
// interrupted-commit state in the header and repairs as before.
//
// Commit, under the database-header lock:
//   1. Begin: the journal is emptied and gets a header (random salt, the
//      database file's size), then the original bytes of the database
//      header and of every page the commit will write or free (data pages,
//      pages the session allocated, free-space bitmap pages) are appended,
//      each record with a check value over the salt and its bytes.
//   2. With durability normal or full the journal is flushed: nothing of the
//      database is overwritten before its original is durable.
//   3. The pages are written. A write to a range that is not in the journal
//      yet (found only while committing) first appends its original (and
//      flushes the journal again when flushes are on).
//   4. With normal or full the database file is flushed; then the journal
//      is emptied (and, with full, that is flushed too: the commit now
//      survives a power loss).
//
// Recovery: whoever takes the header lock and finds a journal that is not
// empty holds the only proof of a commit that did not finish (committers
// keep the lock until the journal is empty again). The records whose check
// values hold are written back in order and the file gets its old size;
// the journal is then emptied. A record that fails its check ends the
// journal: a torn or incomplete tail is never applied, and no page of the
// database was overwritten before its record was complete (with flushes on,
// before it was durable). A journal whose header is torn is from before
// the first database write and is dropped.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/SDBFileHandle.h"
#include "sdb/SDBDurability.h"

namespace sdb {

class TSDBDatabaseFile;


// Error codes of the journal.
inline constexpr int kSDBJournalOpenError = 30520;     // cannot create or open the journal
inline constexpr int kSDBJournalWriteError = 30521;    // cannot write or flush the journal
inline constexpr int kSDBJournalRestoreError = 30522;  // cannot write the originals back
inline constexpr int kSDBCommitRolledBack = 30523;     // a commit failed and was undone

// Outcome of a recovery.
enum class TSDBJournalRecovery {
  None,       // no journal, or an empty one
  Restored,   // originals written back, journal emptied
  Dropped,    // a journal torn before its first record: nothing to undo
  Failed,     // the journal could not be applied (kept for the next try)
};

class TSDBJournal {
 public:
  // The journal's file name for a database file.
  static std::string FileNameFor(const std::string& DatabaseFileName);
  // Whether a journal with content lies beside the database (cheap: one stat).
  static bool IsHot(const std::string& DatabaseFileName);
  // IsHot for this database, also telling the journal whether the file it
  // keeps open between commits is still the one beside the database. Called
  // with HeaderLocked each time the header lock is taken (nobody following
  // the protocol removes or replaces the journal while that lock is held):
  // until HeaderUnlocked, a commit may then write through the kept handle.
  bool CheckHot(bool HeaderLocked);
  // The header lock went: the kept handle is checked again at the next one.
  void HeaderUnlocked() noexcept { FKeptChecked = false; }
  // Applies a hot journal to the database through Database (which must be
  // writable) and empties it. Flushes the database before emptying the
  // journal and the journal after, so that the recovery itself survives a
  // power loss.
  static TSDBJournalRecovery Recover(TSDBDatabaseFile& Database);
  // The same through a handle of our own when the database was opened
  // read-only (a check right after a crash): answers Failed when the file
  // cannot be written.
  static TSDBJournalRecovery RecoverFile(const std::string& DatabaseFileName);
  // Removes an empty journal (the database is being closed).
  static void RemoveIfEmpty(const std::string& DatabaseFileName);

  explicit TSDBJournal(TSDBDatabaseFile& Database) : LDatabase(Database) {}
  ~TSDBJournal();
  TSDBJournal(const TSDBJournal&) = delete;
  TSDBJournal& operator=(const TSDBJournal&) = delete;

  // Starts a commit's journal: Ranges are the (offset, length) ranges of the
  // database file the commit will write; their current bytes are recorded.
  // Unreferenced are ranges nothing in the file refers to (pages the
  // committing session allocated before the commit): only their first
  // UnreferencedKeep bytes (the page header, which tells the check that
  // the page was never written) are recorded, but a write anywhere in them
  // needs no further record.
  void Begin(const std::vector<std::pair<int64_t, int32_t>>& Ranges, TSDBDurability Durability,
             const std::vector<std::pair<int64_t, int32_t>>& Unreferenced = {}, int32_t UnreferencedKeep = 0);
  bool Active() const { return FActive; }
  // Called before any write of the database while a commit is active: a
  // range not covered yet is recorded first.
  void BeforeWrite(int64_t Offset, int64_t Count);
  // Ends a successful commit: flushes the database when the durability
  // asks for it, empties the journal.
  void Commit();
  // Ends a failed commit: writes the originals back and empties the
  // journal. Raises when that fails too (the journal then stays hot and
  // the next header lock tries again).
  void Rollback();
  // Forgets the commit without touching the files (the process is going
  // away as a killed one would) and closes the journal.
  void Abandon();

 private:
  // Opens the journal, or keeps the handle of an earlier commit when the
  // header lock's check found it still names the journal beside the file.
  void OpenJournal();
  // Ends the commit's bookkeeping; the handle stays open for the next one.
  void EndCommit() noexcept;
  void CloseJournal() noexcept;
  // Records the current bytes of each range, or of its first Keep bytes;
  // the whole range counts as covered.
  struct TRange {
    int64_t Offset;
    int32_t Length;
    int32_t Keep;
  };
  void AppendRecords(const std::vector<TRange>& Ranges);
  void FlushJournal();
  bool Covered(int64_t Offset, int64_t Count) const;

  TSDBDatabaseFile& LDatabase;
  TSDBFileHandle FFile;
  std::string FFileName;
  TSDBDurability FDurability = kSDBDefaultDurability;
  bool FActive = false;
  // The kept handle's file (device, inode), and whether the check of the
  // current header lock found it at the journal's name.
  uint64_t FKeptDevice = 0, FKeptInode = 0;
  bool FKeptChecked = false;
  uint32_t FSalt = 0;
  uint64_t FEnd = 0;                      // journal bytes written
  std::set<std::pair<int64_t, int64_t>> FCovered;  // (offset, end) of recorded ranges
};

}  // namespace sdb
