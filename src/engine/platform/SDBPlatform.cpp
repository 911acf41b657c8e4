#include "platform/SDBPlatform.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include <unistd.h>

namespace sdb {

void SDBSleep(uint32_t Milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

uint32_t SDBGetTickCount() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

uint64_t SDBAvailablePhysicalMemory() {
  // MemAvailable counts reclaimable caches too, which is what "free for a
  // new allocation" means in practice.
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t value = 0;
  std::string unit;
  while (meminfo >> key >> value) {
    std::getline(meminfo, unit);
    if (key == "MemAvailable:") return value * 1024;
  }
  long pages = sysconf(_SC_AVPHYS_PAGES);
  long size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && size > 0) return static_cast<uint64_t>(pages) * static_cast<uint64_t>(size);
  return 0;
}

std::string SDBSystemErrorMessage(int ErrorCode) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  const char* text = strerror_r(ErrorCode, buf, sizeof buf);
  return text ? std::string(text) : std::string();
}

bool SDBIsCriticalError(int ErrorCode) {
  switch (ErrorCode) {
    case EBADF:        // invalid handle
    case EIO:          // device fault
    case ENXIO:
    case ENODEV:
    case ESTALE:       // network file handle gone
    case ENOLCK:       // lock service unreachable (network file systems)
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
    case ECONNABORTED:
    case ECONNRESET:
    case ENOTCONN:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case EREMOTEIO:
    case ENOLINK:
    case ECOMM:
      return true;
    default:
      return false;
  }
}

bool SDBRetry(int aTryCount, uint32_t aPauseMs, const std::function<bool()>& Try) {
  for (int i = 0; i < aTryCount; ++i) {
    if (Try()) return true;
    if (i + 1 < aTryCount) SDBSleep(aPauseMs);
  }
  return false;
}

}  // namespace sdb
