// The engine's check value: CRC-32 with the reflected polynomial 0xEDB88320
// but an initial register of 0 and no final inversion (so it differs from the
// common CRC-32). It guards enciphered page data, the password control block
// and compressed BLOB blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sdb {

// Continues the check value `Initial` over Size bytes; callers start with 0.
uint32_t CRC(uint32_t Initial, const void* Buffer, size_t Size);

}  // namespace sdb
