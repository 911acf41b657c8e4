// Operating-system services the engine needs besides files: pauses, a
// millisecond tick count, the available physical memory, platform error
// texts, and bounded retry loops.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sdb {

// Pauses the calling thread.
void SDBSleep(uint32_t Milliseconds);
// Milliseconds since an arbitrary start (wraps after about 49.7 days).
uint32_t SDBGetTickCount();
// Physical memory currently available to processes, in bytes.
uint64_t SDBAvailablePhysicalMemory();
// The platform's text for a native error code (errno on POSIX).
std::string SDBSystemErrorMessage(int ErrorCode);
// Errors that mean the file or its connection is gone (bad handle, device
// or network failure), as opposed to an ordinary refusal. A lock refused
// with such an error is reported as taken so that lock loops do not spin on
// a dead network connection.
bool SDBIsCriticalError(int ErrorCode);

// Calls Try until it answers true, at most aTryCount times with aPauseMs
// milliseconds between tries; answers whether it succeeded.
bool SDBRetry(int aTryCount, uint32_t aPauseMs, const std::function<bool()>& Try);

}  // namespace sdb
