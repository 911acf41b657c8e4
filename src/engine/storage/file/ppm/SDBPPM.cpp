#include "storage/file/ppm/SDBPPM.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <new>

#include "common/SDBBytes.h"
#include "sdb/SDBException.h"
#include "storage/file/ppm/SDBPPMModel.h"

namespace sdb {

namespace {

constexpr TSDBPPMLevel kLevels[9] = {{2, 2}, {3, 3}, {4, 7}, {5, 16}, {7, 22}, {8, 25}, {10, 40}, {13, 100}, {16, 100}};
constexpr int64_t kHeaderSize = 4;

// The one model of the process. It is large (up to 100 MB and more), so it
// is made once, kept, and used by one caller at a time.
struct TSDBPPMCoder {
  std::recursive_mutex Lock;
  TSDBPPMModel Model;
};

TSDBPPMCoder& Coder() {
  static TSDBPPMCoder* const coder = new TSDBPPMCoder;  // lives as long as the process
  return *coder;
}

[[noreturn]] void CompressionError() { throw ESDBException(kSDBPPMCompressionError, "PPM Compression error"); }
[[noreturn]] void DecompressionError() { throw ESDBException(kSDBPPMDecompressionError, "PPM Decompression error"); }

}  // namespace

TSDBPPMLevel PPMLevelParameters(uint8_t Mode) { return kLevels[std::clamp<int>(Mode, 1, 9) - 1]; }

bool PPMCompressBuffer(uint8_t Mode, const uint8_t* Input, int64_t InputSize, std::vector<uint8_t>& Output) {
  Output.clear();
  if (InputSize < 0 || (InputSize > 0 && !Input)) CompressionError();
  // Room for the worst case of data that does not compress.
  const int64_t room = InputSize + InputSize / 20 + 50;
  if (InputSize > std::numeric_limits<int64_t>::max() / 2 ||
      static_cast<uint64_t>(room) > std::numeric_limits<size_t>::max())
    CompressionError();
  const TSDBPPMLevel level = PPMLevelParameters(Mode);
  TSDBPPMCoder& coder = Coder();
  std::lock_guard<std::recursive_mutex> guard(coder.Lock);
  try {
    Output.resize(static_cast<size_t>(room));
    const uint32_t word = static_cast<uint32_t>(level.Order - 1) | (static_cast<uint32_t>(level.MemoryMB - 1) << 4) |
                          (kSDBPPMVariant << 12);
    PutLE32(Output.data(), word);
    const size_t coded =
        coder.Model.Compress(level.Order, static_cast<uint32_t>(level.MemoryMB), Input, static_cast<size_t>(InputSize),
                             Output.data() + kHeaderSize, Output.size() - kHeaderSize);
    Output.resize(kHeaderSize + coded);
  } catch (const TSDBPPMFault&) {
    Output.clear();
    CompressionError();
  } catch (const std::bad_alloc&) {
    Output.clear();
    CompressionError();
  }
  return true;
}

bool PPMDecompressBuffer(const uint8_t* Input, int64_t InputSize, int64_t OutputSize, std::vector<uint8_t>& Output) {
  Output.clear();
  if (OutputSize <= 0)
    throw ESDBException(kSDBPPMOutputSizeNotSetError, "PPM DecpmpressBuf: OutSize must be set");
  if (!Input || InputSize < kHeaderSize) DecompressionError();
  if (static_cast<uint64_t>(OutputSize) > std::numeric_limits<size_t>::max()) DecompressionError();
  const uint32_t word = GetLE32(Input);
  if (((word >> 12) & 0xF) != kSDBPPMVariant) DecompressionError();
  const int order = static_cast<int>(word & 0xF) + 1;
  const uint32_t memoryMB = ((word >> 4) & 0xFF) + 1;
  TSDBPPMCoder& coder = Coder();
  std::lock_guard<std::recursive_mutex> guard(coder.Lock);
  try {
    coder.Model.Decompress(order, memoryMB, Input + kHeaderSize, static_cast<size_t>(InputSize - kHeaderSize), Output,
                           static_cast<size_t>(OutputSize));
  } catch (const TSDBPPMFault&) {
    Output.clear();
    DecompressionError();
  } catch (const std::bad_alloc&) {
    Output.clear();
    DecompressionError();
  } catch (const std::length_error&) {
    Output.clear();
    DecompressionError();
  }
  return true;
}

}  // namespace sdb
