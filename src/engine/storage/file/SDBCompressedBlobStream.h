// TSDBCompressedBLOBStream: a BLOB value read and written through its
// stored stream, compressed in independent blocks.
//
// Stored layout from the descriptor's StartPosition: NumBlocks blocks, each
// a 20-byte TSDBCompressedStreamBlockHeader followed by its compressed
// bytes; every block but the last expands to exactly BlockSize bytes. With
// acaNone the stored stream holds the value's bytes as they are.
//
// Reads find their block by binary search and decompress only the blocks
// they touch; writes append (completing the last partial block, then adding
// whole blocks); a write inside the existing value writes nothing. Shrinking
// rewrites only the block that holds the new end. The descriptor passed in
// is kept current (NumBlocks, UncompressedSize, BlockSize) for its owner to
// store.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/file/SDBCompression.h"
#include "storage/file/SDBStream.h"

namespace sdb {

// Kept with each BLOB (32 bytes on disk).
struct TSDBBLOBDescriptor {
  int32_t BlockSize = 0;          // uncompressed bytes per block
  int64_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  int64_t StartPosition = 0;      // first block header in the stored stream
  uint8_t CompressionAlgorithm = acaNone;
  uint8_t CompressionMode = 0;
  uint8_t Reserved[2] = {0, 0};

  static constexpr int kSize = 32;
  void Load(const uint8_t* p);
  void Save(uint8_t* p) const;
};

// The block size of a new BLOB whose descriptor says 0, by compression mode.
int32_t SDBDefaultBlobBlockSize(uint8_t CompressionMode);

// Block headers of a stream and where each one sits in the stored stream.
struct TSDBCompressedStreamBlockHeadersArray {
  std::vector<TSDBCompressedStreamBlockHeader> Headers;
  std::vector<int64_t> Positions;
};

class TSDBCompressedBLOBStream : public TSDBStream {
 public:
  // Opens a BLOB value over Stream. NewBlob starts an empty value; otherwise
  // the block headers are read. Repair cuts a damaged value to what can be
  // read instead of failing.
  TSDBCompressedBLOBStream(TSDBStream& Stream, bool Repair, bool NewBlob, TSDBBLOBDescriptor& Descriptor);

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSDBSeekOrigin Origin) override;
  int64_t GetSize() override { return FUncompressedSize; }
  void SetSize(int64_t NewSize) override;

  // Bytes the value occupies in the stored stream (headers included).
  int64_t GetCompressedSize() const;
  // Percent saved: (1 - stored / uncompressed) x 100; 0 without compression.
  double GetCompressionRate() const;
  const TSDBBLOBDescriptor& Descriptor() const { return LDescriptor; }
  const TSDBCompressedStreamBlockHeadersArray& Headers() const { return FHeaders; }

 private:
  bool Compressed() const { return FCompressionAlgorithm != acaNone; }
  void OpenExisting();
  void CutToBlocks(size_t Count);
  size_t FindBlock(int64_t Position) const;
  // Decompresses block Index into FBlockData (cached) and checks it.
  const std::vector<uint8_t>& LoadBlock(size_t Index);
  void CompressBlock(const uint8_t* Data, int64_t Size, TSDBCompressedStreamBlockHeader& Header,
                     std::vector<uint8_t>& Out) const;
  int64_t EndOfBlocks() const;
  void SeekStored(int64_t Position, int ErrorCode);
  void Grow(int64_t NewSize);
  void UpdateDescriptor();

  TSDBStream& FCompressedStream;
  TSDBBLOBDescriptor& LDescriptor;
  bool FRepair;
  TSDBCompressedStreamBlockHeadersArray FHeaders;
  std::vector<int64_t> FBlockStarts;  // uncompressed offset of each block
  int64_t FUncompressedSize = 0;
  int64_t FCompressedSize = 0;        // compressed data bytes (without headers)
  int64_t FStartPosition = 0;
  int64_t FCurrentHeader = -1;        // block held in FBlockData
  std::vector<uint8_t> FBlockData;
  int64_t FPosition = 0;
  uint8_t FCompressionMode = 0;
  TSDBCompressionAlgorithm FCompressionAlgorithm = acaNone;
};

}  // namespace sdb
