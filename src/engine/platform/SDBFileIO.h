// The file primitives every engine file goes through: positioned reads and
// writes, size changes, flushes and byte-range locks on an open descriptor.
//
// One process-wide instance does the work. By default it calls the
// operating system; tests install their own (SDBSetFileIO) to make the N-th
// write, flush or lock fail, tear a write, stop all I/O as a killed process
// would, or record what reached the file between flushes to replay a power
// loss. Nothing else in the engine touches a descriptor's data directly, so
// every such fault is seen exactly where the engine would meet it.
//
// Every operation answers 0 or the platform error code (errno).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sdb {

// The file an operation works on: its descriptor and the name it was
// opened with (fault injectors tell the database from its journal by it).
struct TSDBFileRef {
  int Fd;
  const std::string& Path;
};

class TSDBFileIO {
 public:
  virtual ~TSDBFileIO() = default;
  // Reads up to Count bytes; Done < Count only at the end of the file.
  virtual int Read(const TSDBFileRef& File, void* Buffer, uint64_t Position, size_t Count, size_t& Done);
  // Writes Count bytes; Done receives what reached the file.
  virtual int Write(const TSDBFileRef& File, const void* Buffer, uint64_t Position, size_t Count, size_t& Done);
  virtual int GetSize(const TSDBFileRef& File, uint64_t& Size);
  virtual int SetSize(const TSDBFileRef& File, uint64_t Size);
  // Makes the file's data (and its size) durable.
  virtual int Flush(const TSDBFileRef& File);
  // Non-blocking open-file-description lock; Type is F_WRLCK, F_RDLCK or
  // F_UNLCK. EAGAIN/EACCES = held elsewhere.
  virtual int Lock(const TSDBFileRef& File, short Type, uint64_t Offset, uint64_t Count);
  // Whether a lock of Type (F_WRLCK or F_RDLCK) on the range would be
  // refused because another open file description holds a conflicting one;
  // nothing is locked. Locks of this very description never conflict.
  virtual int TestLock(const TSDBFileRef& File, short Type, uint64_t Offset, uint64_t Count, bool& Locked);
};

// The primitives in use (the operating system's unless replaced).
TSDBFileIO& SDBFileIO();
// Installs Io for the whole process (nullptr: the operating system's
// again); answers the previous one. Install before opening files and keep
// it alive while they are used.
TSDBFileIO* SDBSetFileIO(TSDBFileIO* Io);

// Makes a directory entry (a created or renamed file) durable.
int SDBFlushDirectoryOf(const std::string& FileName);

}  // namespace sdb
