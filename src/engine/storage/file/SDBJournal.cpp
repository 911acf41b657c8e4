#include "storage/file/SDBJournal.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

#include <sys/stat.h>

#include "common/SDBBytes.h"
#include "common/SDBCRC.h"
#include "sdb/SDBException.h"
#include "platform/SDBFileIO.h"
#include "platform/SDBPlatform.h"
#include "storage/file/SDBDatabaseFile.h"

namespace sdb {

namespace {

// Journal layout (little-endian):
//   header, 32 bytes: "SDBJRNL1", salt u32, 0 u32, database size i64,
//                     CRC of the 24 bytes before u32, 0 u32
//   records:          offset i64, length u32, CRC u32 (salt, offset,
//                     length, bytes), then the bytes
constexpr char kMagic[8] = {'S', 'D', 'B', 'J', 'R', 'N', 'L', '1'};
constexpr size_t kHeaderSize = 32;
constexpr size_t kRecordHeaderSize = 16;
// A record longer than this is not one we wrote (pages are at most 64 KiB).
constexpr uint32_t kMaxRecordLength = 1u << 20;

uint32_t NewSalt() {
  static thread_local std::mt19937 gen{std::random_device{}()};
  return static_cast<uint32_t>(gen());
}

uint32_t RecordCRC(uint32_t salt, int64_t offset, uint32_t length, const uint8_t* data) {
  uint8_t head[16];
  PutLE32(head, salt);
  PutLE64(head + 4, static_cast<uint64_t>(offset));
  PutLE32(head + 12, length);
  return CRC(CRC(0, head, sizeof head), data, length);
}

void PutHeader(uint8_t* p, uint32_t salt, int64_t databaseSize) {
  std::memset(p, 0, kHeaderSize);
  std::memcpy(p, kMagic, sizeof kMagic);
  PutLE32(p + 8, salt);
  PutLE64(p + 16, static_cast<uint64_t>(databaseSize));
  PutLE32(p + 24, CRC(0, p, 24));
}

[[noreturn]] void JournalError(int code, const std::string& file, int err) {
  throw ESDBException(code, "Cannot write the rollback journal '%s'. ErrorCode:%d. ErrorMessage: %s",
                      {file, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
}

struct TRecord {
  int64_t Offset;
  const uint8_t* Data;
  uint32_t Length;
};

// The valid records of a journal image; false when its header is torn.
bool ParseJournal(const std::vector<uint8_t>& image, int64_t& databaseSize, std::vector<TRecord>& records) {
  if (image.size() < kHeaderSize || std::memcmp(image.data(), kMagic, sizeof kMagic) != 0 ||
      GetLE32(image.data() + 24) != CRC(0, image.data(), 24))
    return false;
  const uint32_t salt = GetLE32(image.data() + 8);
  databaseSize = GetLEI64(image.data() + 16);
  size_t pos = kHeaderSize;
  while (pos + kRecordHeaderSize <= image.size()) {
    const uint8_t* h = image.data() + pos;
    const int64_t offset = GetLEI64(h);
    const uint32_t length = GetLE32(h + 8);
    if (offset < 0 || length == 0 || length > kMaxRecordLength || image.size() - pos - kRecordHeaderSize < length)
      break;
    const uint8_t* data = h + kRecordHeaderSize;
    if (RecordCRC(salt, offset, length, data) != GetLE32(h + 12)) break;
    records.push_back({offset, data, length});
    pos += kRecordHeaderSize + length;
  }
  return true;
}

int OpenExisting(TSDBFileHandle& f, const std::string& name) {
  return f.Open(name, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone);
}

int ReadWhole(TSDBFileHandle& f, std::vector<uint8_t>& image) {
  uint64_t size = 0;
  if (int err = f.GetSize(size)) return err;
  image.resize(static_cast<size_t>(size));
  size_t done = 0;
  if (int err = f.Read(image.data(), 0, image.size(), done)) return err;
  image.resize(done);
  return 0;
}

// Applies a journal to a database through a write function; empties the
// journal afterwards. Write(offset, data, length), SetSize(size), Flush().
template <class Write, class SetSize, class Flush>
TSDBJournalRecovery Apply(const std::string& databaseFileName, Write write, SetSize setSize, Flush flush) {
  const std::string name = TSDBJournal::FileNameFor(databaseFileName);
  TSDBFileHandle f;
  if (int err = OpenExisting(f, name)) return err == ENOENT ? TSDBJournalRecovery::None : TSDBJournalRecovery::Failed;
  std::vector<uint8_t> image;
  if (ReadWhole(f, image) != 0) return TSDBJournalRecovery::Failed;
  if (image.empty()) return TSDBJournalRecovery::None;
  int64_t databaseSize = 0;
  std::vector<TRecord> records;
  TSDBJournalRecovery result = TSDBJournalRecovery::Dropped;
  if (ParseJournal(image, databaseSize, records)) {
    try {
      // Newest first: the earliest record of a byte holds its original.
      for (auto it = records.rbegin(); it != records.rend(); ++it) write(it->Offset, it->Data, it->Length);
      setSize(databaseSize);
      flush();
    } catch (...) {
      return TSDBJournalRecovery::Failed;
    }
    result = TSDBJournalRecovery::Restored;
  }
  if (f.SetSize(0) != 0 || f.Flush() != 0) return TSDBJournalRecovery::Failed;
  return result;
}

}  // namespace

namespace {
std::atomic<TSDBDurability> gDefaultDurability{kSDBDefaultDurability};
}  // namespace

TSDBDurability SDBDefaultDurability() { return gDefaultDurability.load(std::memory_order_relaxed); }
void SDBSetDefaultDurability(TSDBDurability Durability) { gDefaultDurability.store(Durability, std::memory_order_relaxed); }

bool SDBParseDurability(const std::string& Text, TSDBDurability& Durability) {
  std::string t;
  for (char c : Text) t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (t == "off") Durability = TSDBDurability::Off;
  else if (t == "normal") Durability = TSDBDurability::Normal;
  else if (t == "full") Durability = TSDBDurability::Full;
  else return false;
  return true;
}

const char* SDBDurabilityName(TSDBDurability Durability) {
  switch (Durability) {
    case TSDBDurability::Off: return "off";
    case TSDBDurability::Normal: return "normal";
    default: return "full";
  }
}

std::string TSDBJournal::FileNameFor(const std::string& DatabaseFileName) { return DatabaseFileName + "-journal"; }

bool TSDBJournal::IsHot(const std::string& DatabaseFileName) {
  struct stat st;
  return ::stat(FileNameFor(DatabaseFileName).c_str(), &st) == 0 && st.st_size > 0;
}

TSDBJournalRecovery TSDBJournal::Recover(TSDBDatabaseFile& Database) {
  return Apply(
      Database.FileName(),
      [&](int64_t offset, const uint8_t* data, uint32_t length) {
        Database.WriteBuffer(data, kSDBJournalRestoreError, offset, length);
      },
      [&](int64_t size) { Database.SetSize(size); }, [&] { Database.FlushFileBuffers(); });
}

TSDBJournalRecovery TSDBJournal::RecoverFile(const std::string& DatabaseFileName) {
  TSDBFileHandle db;
  if (db.Open(DatabaseFileName, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone) != 0)
    return TSDBJournalRecovery::Failed;
  auto check = [](int err) {
    if (err) throw ESDBException(kSDBJournalRestoreError, "Cannot restore the database from its journal");
  };
  return Apply(
      DatabaseFileName,
      [&](int64_t offset, const uint8_t* data, uint32_t length) {
        size_t done = 0;
        check(db.Write(data, static_cast<uint64_t>(offset), length, done));
      },
      [&](int64_t size) { check(db.SetSize(static_cast<uint64_t>(size))); }, [&] { check(db.Flush()); });
}

void TSDBJournal::RemoveIfEmpty(const std::string& DatabaseFileName) {
  const std::string name = FileNameFor(DatabaseFileName);
  struct stat st;
  if (::stat(name.c_str(), &st) == 0 && st.st_size == 0) SDBDeleteFile(name);
}

TSDBJournal::~TSDBJournal() { CloseJournal(); }

bool TSDBJournal::CheckHot(bool HeaderLocked) {
  FKeptChecked = false;
  struct stat st;
  const bool exists = ::stat(FileNameFor(LDatabase.FileName()).c_str(), &st) == 0;
  if (FFile.IsOpen() && !FActive) {
    // A kept handle whose file was removed or replaced (another process
    // closing the database removes an empty journal) would hide the next
    // commit's journal from everybody else: it goes.
    if (exists && static_cast<uint64_t>(st.st_dev) == FKeptDevice && static_cast<uint64_t>(st.st_ino) == FKeptInode)
      FKeptChecked = HeaderLocked;
    else
      CloseJournal();
  }
  return exists && st.st_size > 0;
}

void TSDBJournal::OpenJournal() {
  // The handle of the last commit, still the journal beside the file as
  // checked when the header lock now held was taken, saves opening it.
  if (FFile.IsOpen() && FKeptChecked && FFileName == FileNameFor(LDatabase.FileName())) return;
  CloseJournal();
  FFileName = FileNameFor(LDatabase.FileName());
  int err = OpenExisting(FFile, FFileName);
  if (err == ENOENT) {
    err = FFile.Create(FFileName);
    // A journal nobody can find after a power loss protects nothing.
    if (err == 0 && FDurability != TSDBDurability::Off) err = SDBFlushDirectoryOf(FFileName);
    // The handle is kept between commits: opened shared like everybody
    // else's, so that another process can still open the journal.
    if (err == 0) {
      FFile.Close();
      err = OpenExisting(FFile, FFileName);
    }
  }
  if (err == 0) err = FFile.Identity(FKeptDevice, FKeptInode);
  if (err != 0) {
    CloseJournal();
    throw ESDBException(kSDBJournalOpenError, "Cannot open the rollback journal '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
  }
}

void TSDBJournal::EndCommit() noexcept {
  FActive = false;
  FCovered.clear();
  FEnd = 0;
}

void TSDBJournal::CloseJournal() noexcept {
  if (FFile.IsOpen()) FFile.Close();
  FKeptChecked = false;
  EndCommit();
}

bool TSDBJournal::Covered(int64_t Offset, int64_t Count) const {
  auto it = FCovered.upper_bound({Offset, INT64_MAX});
  if (it == FCovered.begin()) return false;
  --it;
  return it->first <= Offset && it->second >= Offset + Count;
}

void TSDBJournal::AppendRecords(const std::vector<TRange>& Ranges) {
  const int64_t databaseSize = LDatabase.GetSize();
  size_t total = FEnd == 0 ? kHeaderSize : 0;
  for (const auto& r : Ranges) total += kRecordHeaderSize + static_cast<size_t>(r.Keep);
  // Every byte is written below (record headers, originals, and zeros for
  // what lies past the end of the file): no zero-fill of the whole buffer.
  const std::unique_ptr<uint8_t[]> buf = std::make_unique_for_overwrite<uint8_t[]>(total);
  size_t pos = 0;
  if (FEnd == 0) {
    PutHeader(buf.get(), FSalt, databaseSize);
    pos = kHeaderSize;
  }
  // Ranges that follow each other in the file (pages in order) are read
  // with one call into a scratch buffer.
  constexpr int64_t kReadChunk = int64_t{1} << 20;
  std::unique_ptr<uint8_t[]> scratch;
  size_t scratchSize = 0;
  int64_t scratchOffset = 0, scratchEnd = 0;
  auto readOriginal = [&](size_t i, uint8_t* data) {
    const TRange& r = Ranges[i];
    // Bytes past the end of the file are not there to be restored: the old
    // size cuts them off again. They are recorded as zeros.
    const int64_t avail = std::clamp<int64_t>(databaseSize - r.Offset, 0, r.Keep);
    std::memset(data + avail, 0, static_cast<size_t>(r.Keep - avail));
    if (avail <= 0) return;
    if (r.Offset < scratchOffset || r.Offset + avail > scratchEnd) {
      // Pages that follow each other, up to the kept bytes of the last one
      // (a page recorded by its header only is still read whole when more
      // follow: one large read costs less than many small ones).
      int64_t end = r.Offset + r.Keep;
      for (size_t j = i + 1; j < Ranges.size() && Ranges[j].Offset == Ranges[j - 1].Offset + Ranges[j - 1].Length &&
                             Ranges[j].Offset + Ranges[j].Keep - r.Offset <= kReadChunk;
           ++j)
        end = Ranges[j].Offset + Ranges[j].Keep;
      end = std::min(end, databaseSize);
      if (end - r.Offset <= avail) {
        LDatabase.ReadBuffer(data, kSDBJournalWriteError, r.Offset, avail);
        return;
      }
      // Filled whole by the read (or the read raises).
      if (scratchSize < static_cast<size_t>(end - r.Offset)) {
        scratchSize = static_cast<size_t>(end - r.Offset);
        scratch = std::make_unique_for_overwrite<uint8_t[]>(scratchSize);
      }
      LDatabase.ReadBuffer(scratch.get(), kSDBJournalWriteError, r.Offset, end - r.Offset);
      scratchOffset = r.Offset;
      scratchEnd = end;
    }
    std::memcpy(data, scratch.get() + (r.Offset - scratchOffset), static_cast<size_t>(avail));
  };
  for (size_t i = 0; i < Ranges.size(); ++i) {
    const TRange& r = Ranges[i];
    uint8_t* h = buf.get() + pos;
    uint8_t* data = h + kRecordHeaderSize;
    readOriginal(i, data);
    const auto keep = static_cast<uint32_t>(r.Keep);
    PutLE64(h, static_cast<uint64_t>(r.Offset));
    PutLE32(h + 8, keep);
    PutLE32(h + 12, RecordCRC(FSalt, r.Offset, keep, data));
    pos += kRecordHeaderSize + keep;
    FCovered.insert({r.Offset, r.Offset + r.Length});
  }
  size_t done = 0;
  if (int err = FFile.Write(buf.get(), FEnd, total, done)) JournalError(kSDBJournalWriteError, FFileName, err);
  FEnd += total;
}

void TSDBJournal::FlushJournal() {
  if (FDurability == TSDBDurability::Off) return;
  if (int err = FFile.Flush()) JournalError(kSDBJournalWriteError, FFileName, err);
}

void TSDBJournal::Begin(const std::vector<std::pair<int64_t, int32_t>>& Ranges, TSDBDurability Durability,
                        const std::vector<std::pair<int64_t, int32_t>>& Unreferenced, int32_t UnreferencedKeep) {
  EndCommit();
  FDurability = Durability;
  OpenJournal();
  FSalt = NewSalt();
  try {
    // Ranges sorted and without repeats: one record per range. A range
    // listed both ways is recorded whole.
    std::vector<TRange> ranges;
    ranges.reserve(Ranges.size() + Unreferenced.size());
    for (const auto& [offset, length] : Ranges) ranges.push_back({offset, length, length});
    for (const auto& [offset, length] : Unreferenced)
      ranges.push_back({offset, length, std::clamp<int32_t>(UnreferencedKeep, 1, length)});
    std::sort(ranges.begin(), ranges.end(), [](const TRange& a, const TRange& b) {
      return a.Offset != b.Offset ? a.Offset < b.Offset : a.Length != b.Length ? a.Length < b.Length : a.Keep > b.Keep;
    });
    ranges.erase(std::unique(ranges.begin(), ranges.end(),
                             [](const TRange& a, const TRange& b) { return a.Offset == b.Offset && a.Length == b.Length; }),
                 ranges.end());
    AppendRecords(ranges);
    FlushJournal();
  } catch (...) {
    // Nothing of the database was touched: an empty journal says so.
    FFile.SetSize(0);
    CloseJournal();
    throw;
  }
  FActive = true;
}

void TSDBJournal::BeforeWrite(int64_t Offset, int64_t Count) {
  if (!FActive || Count <= 0 || Covered(Offset, Count)) return;
  AppendRecords({{Offset, static_cast<int32_t>(Count), static_cast<int32_t>(Count)}});
  FlushJournal();
}

void TSDBJournal::Commit() {
  if (!FActive) return;
  if (FDurability != TSDBDurability::Off) LDatabase.FlushFileBuffers();
  if (int err = FFile.SetSize(0)) JournalError(kSDBJournalWriteError, FFileName, err);
  // The commit stands from here on: the database is durable and its
  // journal empty. When this flush fails, a power loss may still undo it,
  // as with durability normal; reporting a failure would be wrong.
  if (FDurability == TSDBDurability::Full) FFile.Flush();
  // A file shared with others keeps its journal open for the next commit;
  // a file held exclusively (a private store, a tool's copy) leaves no
  // handle behind.
  if (LDatabase.ShareMode() == smExclusive)
    CloseJournal();
  else
    EndCommit();
}

void TSDBJournal::Rollback() {
  if (!FActive) return;
  CloseJournal();
  TSDBJournalRecovery r = Recover(LDatabase);
  if (r == TSDBJournalRecovery::Failed)
    throw ESDBException(kSDBJournalRestoreError,
                        "Cannot restore the database from its rollback journal '%s'; it is kept for the next open",
                        {FileNameFor(LDatabase.FileName())});
}

void TSDBJournal::Abandon() { CloseJournal(); }

}  // namespace sdb
