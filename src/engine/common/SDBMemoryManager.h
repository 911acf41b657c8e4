// Guarded allocator for engine buffers. Every block is zero-filled and framed
// by a guard word on each side; freeing checks both guards so that a stray
// pointer or a write past the end is caught at the latest when the buffer is
// given back. An optional process-wide limit caps the bytes handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "sdb/SDBErrors.h"

namespace sdb {

class TSDBMemoryManager {
 public:
  // The process-wide allocator.
  static TSDBMemoryManager& Instance();

  TSDBMemoryManager() = default;
  TSDBMemoryManager(const TSDBMemoryManager&) = delete;
  TSDBMemoryManager& operator=(const TSDBMemoryManager&) = delete;

  // A zero-filled block of Size bytes (Size 0 gives a valid, empty block).
  // Raises "Memory limit exceeded (Limit = %d bytes)" above the limit.
  void* GetMem(size_t Size);
  // Gives a block back; nullptr is ignored. Raises "Invalid pointer" when the
  // leading guard is wrong and "Memory overrun detected" when the trailing one is.
  void FreeMem(void* P);
  // Resizes a block keeping its content; new bytes are zero.
  void* ReallocMem(void* P, size_t NewSize);
  // Size of a block handed out by this allocator (guards checked).
  size_t BlockSize(const void* P) const;

  // 0 = no limit.
  void SetLimit(int64_t Limit);
  int64_t Limit() const;
  // Bytes currently handed out (user sizes, without the guards).
  int64_t AllocatedSize() const;

 private:
  mutable std::recursive_mutex FLock;
  int64_t FLimit = 0;
  int64_t FAllocated = 0;
};

}  // namespace sdb
