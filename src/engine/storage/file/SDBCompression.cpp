#include "storage/file/SDBCompression.h"

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "common/SDBBytes.h"
#include "storage/file/ppm/SDBPPM.h"

namespace sdb {

namespace {

// Damaged input must not make a decompressor allocate without bound.
constexpr int64_t kMaxOutput = INT32_MAX;

bool ZlibCompress(uint8_t level, const uint8_t* in, int64_t n, std::vector<uint8_t>& out) {
  if (level > 9) return false;
  z_stream z{};
  if (deflateInit(&z, level) != Z_OK) return false;
  // Start from a little more than the input and grow by 256 bytes while
  // the compressor asks for room.
  size_t room = static_cast<size_t>(((n + n / 10) + 267) / 256 * 256);
  out.resize(room);
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = static_cast<uInt>(n);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc;
  while ((rc = deflate(&z, Z_FINISH)) != Z_STREAM_END) {
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      deflateEnd(&z);
      return false;
    }
    size_t used = out.size() - z.avail_out;
    out.resize(out.size() + 256);
    z.next_out = out.data() + used;
    z.avail_out = static_cast<uInt>(out.size() - used);
  }
  out.resize(z.total_out);
  deflateEnd(&z);
  return true;
}

// Output room starts at the expected size (or the input size rounded up to
// 256 bytes) and grows while the data needs more. It grows by at least that
// default and doubles, so a small or wrong hint costs a few steps, not one
// step per byte.
bool ZlibDecompress(const uint8_t* in, int64_t n, int64_t hint, std::vector<uint8_t>& out) {
  const int64_t base = (n + 255) / 256 * 256;
  int64_t step = std::max<int64_t>(hint > 0 ? hint : base, 256);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  out.resize(static_cast<size_t>(std::min(step, kMaxOutput)));
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = static_cast<uInt>(n);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc;
  while ((rc = inflate(&z, Z_FINISH)) != Z_STREAM_END) {
    // Room ran out (Z_BUF_ERROR with output full): grow; anything else is damage.
    if ((rc != Z_OK && rc != Z_BUF_ERROR) || z.avail_out != 0 ||
        static_cast<int64_t>(out.size()) + step > kMaxOutput) {
      inflateEnd(&z);
      return false;
    }
    size_t used = out.size() - z.avail_out;
    out.resize(out.size() + static_cast<size_t>(step));
    step = std::max(step * 2, base);
    z.next_out = out.data() + used;
    z.avail_out = static_cast<uInt>(out.size() - used);
  }
  out.resize(z.total_out);
  inflateEnd(&z);
  return true;
}

bool BzipCompress(uint8_t mode, const uint8_t* in, int64_t n, std::vector<uint8_t>& out) {
  if (mode < 1 || mode > 9) return false;
  unsigned int room = static_cast<unsigned int>(std::llround(static_cast<double>(n) * 1.01) + 600);
  out.resize(room);
  int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &room,
                                    reinterpret_cast<char*>(const_cast<uint8_t*>(in)), static_cast<unsigned int>(n),
                                    mode, 0, 0);
  if (rc != BZ_OK) return false;
  out.resize(room);
  return true;
}

bool BzipDecompress(const uint8_t* in, int64_t n, int64_t hint, std::vector<uint8_t>& out) {
  const int64_t base = (n * 10 + 65535) / 65536 * 65536;
  int64_t step = hint > 0 ? hint : base;
  int64_t size = step;
  for (;;) {
    if (size > kMaxOutput) return false;
    out.resize(static_cast<size_t>(size));
    unsigned int produced = static_cast<unsigned int>(size);
    int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &produced,
                                        reinterpret_cast<char*>(const_cast<uint8_t*>(in)),
                                        static_cast<unsigned int>(n), 0, 0);
    if (rc == BZ_OK) {
      out.resize(produced);
      return true;
    }
    if (rc != BZ_OUTBUFF_FULL) return false;
    size += step;
    step = std::max(step * 2, base);
  }
}

}  // namespace

void TSDBCompressedStreamBlockHeader::Load(const uint8_t* p) {
  CompressedSize = GetLEI32(p);
  UncompressedSize = GetLEI32(p + 4);
  Crc32 = GetLE32(p + 8);
  OffsetToNextHeader = GetLEI64(p + 12);
}

void TSDBCompressedStreamBlockHeader::Save(uint8_t* p) const {
  PutLEI32(p, CompressedSize);
  PutLEI32(p + 4, UncompressedSize);
  PutLE32(p + 8, Crc32);
  PutLEI64(p + 12, OffsetToNextHeader);
}

bool CompressBuffer(TSDBCompressionAlgorithm Algorithm, uint8_t Mode, const uint8_t* Input,
                    TSDBCompressedStreamBlockHeader& Header, std::vector<uint8_t>& Output, int64_t InputSize) {
  Output.clear();
  if (!Input || InputSize <= 0 || InputSize > INT32_MAX / 2) return false;
  bool ok = false;
  try {
    switch (Algorithm) {
      case acaZLIB: ok = ZlibCompress(Mode, Input, InputSize, Output); break;
      case acaBZIP: ok = BzipCompress(Mode, Input, InputSize, Output); break;
      case acaPPM: ok = PPMCompressBuffer(Mode, Input, InputSize, Output); break;
      default: ok = false; break;
    }
  } catch (...) {
    ok = false;
  }
  if (!ok) Output.clear();
  Header.CompressedSize = static_cast<int32_t>(Output.size());
  return !Output.empty();
}

bool DecompressBuffer(TSDBCompressionAlgorithm Algorithm, const uint8_t* Input, int64_t InputSize,
                      int64_t& OutputSize, std::vector<uint8_t>& Output) {
  Output.clear();
  const int64_t hint = OutputSize;
  OutputSize = 0;
  if (!Input || InputSize <= 0 || InputSize > INT32_MAX || hint < 0) return false;
  bool ok = false;
  try {
    switch (Algorithm) {
      case acaZLIB: ok = ZlibDecompress(Input, InputSize, hint, Output); break;
      case acaBZIP: ok = BzipDecompress(Input, InputSize, hint, Output); break;
      // PPM decodes exactly the expected size, which must be given.
      case acaPPM: ok = PPMDecompressBuffer(Input, InputSize, hint, Output); break;
      default: ok = false; break;
    }
  } catch (...) {
    ok = false;
  }
  if (!ok) Output.clear();
  OutputSize = static_cast<int64_t>(Output.size());
  return !Output.empty();
}

}  // namespace sdb
