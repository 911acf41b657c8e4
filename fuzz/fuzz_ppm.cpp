// libFuzzer target of the PPM coder.
//
// First byte even: the rest is handed to the decompressor as a compressed
// buffer (header word included), with an expected size taken from the next
// two bytes (and, from bit 1 of the first byte, the variant forced to G);
// any damage must end in the decompression error. The model
// memory named by the header is kept small so that runs stay fast; every
// order is reachable.
// First byte odd: the rest is compressed at the level named by the second
// byte and must decompress to itself.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sdb/SDBException.h"
#include "storage/file/ppm/SDBPPM.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  std::vector<uint8_t> out;
  if ((data[0] & 1) == 0) {
    const int64_t expected = 1 + (data[1] | (data[2] << 8));
    std::vector<uint8_t> in(data + 3, data + size);
    if (in.size() >= 2) {
      in[0] &= 0x3F;  // memory 1 .. 4 MB
      in[1] &= 0xF0;
      if (data[0] & 2) in[1] = 0x60;  // variant G for half of the inputs
    }
    try {
      sdb::PPMDecompressBuffer(in.data(), static_cast<int64_t>(in.size()), expected, out);
      if (static_cast<int64_t>(out.size()) != expected) std::abort();
    } catch (const sdb::ESDBException& e) {
      if (e.NativeError() != sdb::kSDBPPMDecompressionError) std::abort();
      if (!out.empty()) std::abort();
    }
    return 0;
  }
  const uint8_t level = data[1] % 5;  // 0 .. 4: every level up to 16 MB of model memory
  const uint8_t* in = data + 2;
  const auto n = static_cast<int64_t>(size - 2);
  std::vector<uint8_t> packed;
  try {
    sdb::PPMCompressBuffer(level, in, n, packed);
    sdb::PPMDecompressBuffer(packed.data(), static_cast<int64_t>(packed.size()), n, out);
  } catch (const sdb::ESDBException&) {
    std::abort();
  }
  if (out.size() != static_cast<size_t>(n) || !std::equal(out.begin(), out.end(), in)) std::abort();
  return 0;
}
