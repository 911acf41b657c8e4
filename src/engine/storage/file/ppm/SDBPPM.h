// Order-N PPM compression of buffers (PPMd variant G: the PPMII model with
// SEE, binary contexts and information inheritance over a carryless range
// coder), as used for BLOB blocks compressed with acaPPM.
//
// Compressed layout: a 32-bit little-endian header word, then the range
// coded stream.
//   bits 0..3    model order - 1
//   bits 4..11   model memory in MB - 1
//   bits 12..15  variant letter - 'A' (6 = 'G'; other variants are refused)
//   bits 16..31  0
//
// One model serves the whole process: it is guarded by its own lock (so PPM
// work is serialised across threads) and keeps its memory between calls
// while the memory size stays the same.
#pragma once

#include <cstdint>
#include <vector>

#include "sdb/SDBErrors.h"

namespace sdb {

inline constexpr uint32_t kSDBPPMVariant = 'G' - 'A';

// Model order and model memory (MB) of a compression level; the level is
// clamped to 1 .. 9 first.
struct TSDBPPMLevel {
  int Order;
  int MemoryMB;
};
TSDBPPMLevel PPMLevelParameters(uint8_t Mode);

// Compresses InputSize bytes at level Mode (clamped to 1 .. 9) into Output,
// header word included, trimmed to the produced size. The output may take
// at most InputSize + InputSize / 20 + 50 bytes. Raises ESDBException
// "PPM Compression error" on any failure; returns true otherwise.
bool PPMCompressBuffer(uint8_t Mode, const uint8_t* Input, int64_t InputSize, std::vector<uint8_t>& Output);

// Expands a buffer made by PPMCompressBuffer (or by any other program using
// the same variant) into exactly OutputSize bytes. Raises ESDBException:
// "PPM DecpmpressBuf: OutSize must be set" when OutputSize is not positive,
// "PPM Decompression error" for another variant, damaged, truncated or
// foreign data, or data that does not expand to exactly OutputSize bytes.
bool PPMDecompressBuffer(const uint8_t* Input, int64_t InputSize, int64_t OutputSize, std::vector<uint8_t>& Output);

}  // namespace sdb
