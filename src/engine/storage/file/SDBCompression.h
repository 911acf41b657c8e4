// Buffer compression of BLOB blocks and compressed internal files.
//
//   acaZLIB  zlib stream (RFC 1950), level = Mode (0 .. 9)
//   acaBZIP  bzip2 stream, block size = Mode x 100 kB (1 .. 9)
//   acaPPM   order-N PPM coder (variant G), level = Mode clamped to 1 .. 9;
//            decompression needs the exact expected size.
// CompressBuffer / DecompressBuffer answer false (never raise) for acaNone,
// an empty input, or when the compressor fails (the PPM coder's exceptions
// become false).
#pragma once

#include <cstdint>
#include <vector>

namespace sdb {

enum TSDBCompressionAlgorithm : uint8_t { acaNone, acaZLIB, acaBZIP, acaPPM };
inline constexpr int kSDBCompressionAlgorithmCount = acaPPM + 1;
enum TSDBCompressionLevel : uint8_t { aclNone, aclFastest, aclNormal, aclMaximum };

// The compression chosen for a BLOB field or an internal file.
struct TSDBCompression {
  TSDBCompressionAlgorithm CompressionAlgorithm = acaNone;
  uint8_t CompressionMode = 0;  // level 0 .. 9
  TSDBCompressionLevel CompressionLevel = aclNone;
};

// Header in front of every compressed BLOB block (20 bytes on disk).
struct TSDBCompressedStreamBlockHeader {
  int32_t CompressedSize = 0;    // bytes of compressed data after the header
  int32_t UncompressedSize = 0;  // bytes the block expands to
  uint32_t Crc32 = 0;            // CRC of the uncompressed bytes
  int64_t OffsetToNextHeader = 0;  // CompressedSize + 20

  static constexpr int kSize = 20;
  void Load(const uint8_t* p);
  void Save(uint8_t* p) const;
};

// Compresses InputSize bytes into Output (trimmed to the produced size) and
// sets Header.CompressedSize. True when the output is not empty.
bool CompressBuffer(TSDBCompressionAlgorithm Algorithm, uint8_t Mode, const uint8_t* Input,
                    TSDBCompressedStreamBlockHeader& Header, std::vector<uint8_t>& Output, int64_t InputSize);
// Expands InputSize bytes into Output. OutputSize: the expected size on
// entry (a sizing hint; 0 = unknown), the produced size on return. True
// when the output is not empty.
bool DecompressBuffer(TSDBCompressionAlgorithm Algorithm, const uint8_t* Input, int64_t InputSize,
                      int64_t& OutputSize, std::vector<uint8_t>& Output);

}  // namespace sdb
