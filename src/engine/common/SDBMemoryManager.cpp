#include "common/SDBMemoryManager.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "sdb/SDBException.h"

namespace sdb {

namespace {

// Block layout: [size: 8][reserved: 4][guard: 4][user bytes][guard: 4]
// The prefix is 16 bytes so the user area keeps 16-byte alignment.
constexpr uint32_t kGuardHead = 0xA5D3B1C7u;
constexpr uint32_t kGuardTail = 0x7C1B3D5Au;
constexpr size_t kPrefix = 16;
constexpr size_t kSuffix = 4;

uint8_t* Base(const void* p) { return static_cast<uint8_t*>(const_cast<void*>(p)) - kPrefix; }

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Returns the user size after checking both guards.
size_t CheckBlock(const void* p) {
  if (reinterpret_cast<uintptr_t>(p) < kPrefix || (reinterpret_cast<uintptr_t>(p) & 15) != 0)
    throw ESDBException(kSDBErrInvalidPointer, "Invalid pointer");
  const uint8_t* base = Base(p);
  if (Load32(base + 12) != kGuardHead) throw ESDBException(kSDBErrInvalidPointer, "Invalid pointer");
  uint64_t size;
  std::memcpy(&size, base, 8);
  if (Load32(base + kPrefix + size) != kGuardTail)
    throw ESDBException(kSDBErrMemoryOverrun, "Memory overrun detected");
  return static_cast<size_t>(size);
}

}  // namespace

TSDBMemoryManager& TSDBMemoryManager::Instance() {
  static TSDBMemoryManager manager;
  return manager;
}

void* TSDBMemoryManager::GetMem(size_t Size) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (Size > (SIZE_MAX / 2) ||
      (FLimit > 0 && FAllocated + static_cast<int64_t>(Size) > FLimit))
    throw ESDBException(kSDBErrMemoryLimit, "Memory limit exceeded (Limit = %d bytes)",
                        {static_cast<int64_t>(FLimit > 0 ? FLimit : 0)});
  auto* base = static_cast<uint8_t*>(std::calloc(1, kPrefix + Size + kSuffix));
  if (!base) throw std::bad_alloc();
  uint64_t size = Size;
  std::memcpy(base, &size, 8);
  Store32(base + 12, kGuardHead);
  Store32(base + kPrefix + Size, kGuardTail);
  FAllocated += static_cast<int64_t>(Size);
  return base + kPrefix;
}

void TSDBMemoryManager::FreeMem(void* P) {
  if (!P) return;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  size_t size = CheckBlock(P);
  uint8_t* base = Base(P);
  // Spoil the guards so that a second free of the same block is caught.
  Store32(base + 12, 0);
  Store32(base + kPrefix + size, 0);
  FAllocated -= static_cast<int64_t>(size);
  std::free(base);
}

void* TSDBMemoryManager::ReallocMem(void* P, size_t NewSize) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (!P) return GetMem(NewSize);
  size_t old = CheckBlock(P);
  void* fresh = GetMem(NewSize);
  std::memcpy(fresh, P, old < NewSize ? old : NewSize);
  FreeMem(P);
  return fresh;
}

size_t TSDBMemoryManager::BlockSize(const void* P) const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return CheckBlock(P);
}

void TSDBMemoryManager::SetLimit(int64_t Limit) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FLimit = Limit < 0 ? 0 : Limit;
}

int64_t TSDBMemoryManager::Limit() const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return FLimit;
}

int64_t TSDBMemoryManager::AllocatedSize() const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return FAllocated;
}

}  // namespace sdb
