#include "storage/file/SDBCompressedBlobStream.h"

#include <algorithm>
#include <cstring>

#include "common/SDBBytes.h"
#include "common/SDBCRC.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

namespace {

constexpr int kHeaderSize = TSDBCompressedStreamBlockHeader::kSize;

[[noreturn]] void TooSmall(int code, int64_t size, int64_t needed) {
  throw ESDBException(code, "Stream size = %d too small. Should be at least = %d", {size, needed});
}

}  // namespace

void TSDBBLOBDescriptor::Load(const uint8_t* p) {
  BlockSize = GetLEI32(p);
  NumBlocks = GetLEI64(p + 4);
  UncompressedSize = GetLEI64(p + 12);
  StartPosition = GetLEI64(p + 20);
  CompressionAlgorithm = p[28];
  CompressionMode = p[29];
  Reserved[0] = p[30];
  Reserved[1] = p[31];
}

void TSDBBLOBDescriptor::Save(uint8_t* p) const {
  PutLEI32(p, BlockSize);
  PutLEI64(p + 4, NumBlocks);
  PutLEI64(p + 12, UncompressedSize);
  PutLEI64(p + 20, StartPosition);
  p[28] = CompressionAlgorithm;
  p[29] = CompressionMode;
  p[30] = Reserved[0];
  p[31] = Reserved[1];
}

int32_t SDBDefaultBlobBlockSize(uint8_t CompressionMode) {
  if (CompressionMode == 0) return 102400;
  if (CompressionMode <= 3) return 524288;
  if (CompressionMode <= 6) return 1048576;
  return 1572864;
}

TSDBCompressedBLOBStream::TSDBCompressedBLOBStream(TSDBStream& Stream, bool Repair, bool NewBlob,
                                                   TSDBBLOBDescriptor& Descriptor)
    : FCompressedStream(Stream), LDescriptor(Descriptor), FRepair(Repair) {
  FCompressionAlgorithm = static_cast<TSDBCompressionAlgorithm>(Descriptor.CompressionAlgorithm);
  FCompressionMode = Descriptor.CompressionMode;
  FStartPosition = Descriptor.StartPosition;
  if (NewBlob) {
    if (Descriptor.BlockSize == 0) Descriptor.BlockSize = SDBDefaultBlobBlockSize(FCompressionMode);
    Descriptor.NumBlocks = 0;
    Descriptor.UncompressedSize = 0;
  }
  if (Descriptor.BlockSize <= 0) throw ESDBException(kSDBErrStreamBlockSizeZero, "Stream block size = 0 is not allowed");
  FBlockSize = Descriptor.BlockSize;
  if (FStartPosition < 0) FStartPosition = 0;
  SeekStored(FStartPosition, kSDBErrBlobStreamSeekStart);
  if (NewBlob) {
    FCompressedStream.SetSize(FStartPosition);
    UpdateDescriptor();
  } else {
    OpenExisting();
  }
}

void TSDBCompressedBLOBStream::SeekStored(int64_t Position, int ErrorCode) {
  if (FCompressedStream.Seek(Position, soBeginning) != Position)
    throw ESDBException(ErrorCode, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {Position, FCompressedStream.GetPosition(), FCompressedStream.GetSize()});
}

void TSDBCompressedBLOBStream::OpenExisting() {
  const int64_t size = FCompressedStream.GetSize();
  if (!Compressed()) {
    int64_t want = LDescriptor.UncompressedSize;
    int64_t avail = std::max<int64_t>(0, size - FStartPosition);
    if (want < 0 || want > avail) {
      if (!FRepair) TooSmall(kSDBErrBlobStreamDataShort, size, FStartPosition + std::max<int64_t>(want, 0));
      want = std::min(std::max<int64_t>(want, 0), avail);
    }
    FUncompressedSize = want;
    UpdateDescriptor();
    return;
  }
  const int64_t wanted = LDescriptor.NumBlocks;
  if (wanted < 0 && !FRepair) TooSmall(kSDBErrBlobStreamHeaderShort, size, FStartPosition + kHeaderSize);
  int64_t pos = FStartPosition;
  bool damaged = wanted < 0;
  for (int64_t i = 0; i < wanted; ++i) {
    uint8_t raw[kHeaderSize];
    if (size - pos < kHeaderSize || FCompressedStream.Seek(pos, soBeginning) != pos ||
        FCompressedStream.Read(raw, kHeaderSize) != kHeaderSize) {
      if (!FRepair) TooSmall(kSDBErrBlobStreamHeaderShort, size, pos + kHeaderSize);
      damaged = true;
      break;
    }
    TSDBCompressedStreamBlockHeader h;
    h.Load(raw);
    // A header whose sizes do not hang together, or whose data runs past
    // the end, is damage: the rest of the value cannot be located.
    if (h.CompressedSize <= 0 || h.UncompressedSize <= 0 || h.UncompressedSize > FBlockSize ||
        h.OffsetToNextHeader != static_cast<int64_t>(h.CompressedSize) + kHeaderSize ||
        pos + h.OffsetToNextHeader > size) {
      if (!FRepair) TooSmall(kSDBErrBlobStreamDataShort, size, pos + kHeaderSize + std::max<int64_t>(h.CompressedSize, 0));
      damaged = true;
      break;
    }
    FBlockStarts.push_back(FUncompressedSize);
    FHeaders.Headers.push_back(h);
    FHeaders.Positions.push_back(pos);
    FUncompressedSize += h.UncompressedSize;
    FCompressedSize += h.CompressedSize;
    pos += h.OffsetToNextHeader;
  }
  if (damaged)
    CutToBlocks(FHeaders.Headers.size());
  else
    UpdateDescriptor();
}

void TSDBCompressedBLOBStream::UpdateDescriptor() {
  LDescriptor.BlockSize = FBlockSize;
  LDescriptor.NumBlocks = Compressed() ? static_cast<int64_t>(FHeaders.Headers.size()) : 0;
  LDescriptor.UncompressedSize = FUncompressedSize;
}

int64_t TSDBCompressedBLOBStream::EndOfBlocks() const {
  if (FHeaders.Headers.empty()) return FStartPosition;
  return FHeaders.Positions.back() + FHeaders.Headers.back().OffsetToNextHeader;
}

void TSDBCompressedBLOBStream::CutToBlocks(size_t Count) {
  FHeaders.Headers.resize(Count);
  FHeaders.Positions.resize(Count);
  FBlockStarts.resize(Count);
  FUncompressedSize = 0;
  FCompressedSize = 0;
  for (const auto& h : FHeaders.Headers) {
    FUncompressedSize += h.UncompressedSize;
    FCompressedSize += h.CompressedSize;
  }
  if (FCurrentHeader >= static_cast<int64_t>(Count)) FCurrentHeader = -1;
  const int64_t end = EndOfBlocks();
  FCompressedStream.SetSize(end);
  if (FCompressedStream.GetSize() != end)
    throw ESDBException(kSDBErrBlobStreamCutToBlocks, "Invalid stream size = %d. Should be = %d", {FCompressedStream.GetSize(), end});
  UpdateDescriptor();
  FModified = true;
}

size_t TSDBCompressedBLOBStream::FindBlock(int64_t Position) const {
  auto it = std::upper_bound(FBlockStarts.begin(), FBlockStarts.end(), Position);
  return static_cast<size_t>(std::max<std::ptrdiff_t>(0, (it - FBlockStarts.begin()) - 1));
}

const std::vector<uint8_t>& TSDBCompressedBLOBStream::LoadBlock(size_t Index) {
  if (FCurrentHeader == static_cast<int64_t>(Index)) return FBlockData;
  FCurrentHeader = -1;
  const auto& h = FHeaders.Headers[Index];
  const int64_t dataPos = FHeaders.Positions[Index] + kHeaderSize;
  SeekStored(dataPos, kSDBErrBlobStreamSeekRead);
  std::vector<uint8_t> packed(static_cast<size_t>(h.CompressedSize));
  int64_t got = FCompressedStream.Read(packed.data(), h.CompressedSize);
  if (got != h.CompressedSize)
    throw ESDBException(kSDBErrBlobStreamReadBlock, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {dataPos, FCompressedStream.GetSize(), static_cast<int64_t>(h.CompressedSize), got});
  int64_t outSize = h.UncompressedSize;
  if (!DecompressBuffer(FCompressionAlgorithm, packed.data(), h.CompressedSize, outSize, FBlockData))
    throw ESDBException(kSDBErrDecompressBuffer, "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
                        {static_cast<int64_t>(FCompressionAlgorithm), static_cast<int64_t>(h.CompressedSize), outSize});
  if (outSize != h.UncompressedSize)
    throw ESDBException(kSDBErrDecompressSizeMismatch, "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {outSize, static_cast<int64_t>(h.UncompressedSize)});
  uint32_t crc = CRC(0, FBlockData.data(), FBlockData.size());
  if (crc != h.Crc32)
    throw ESDBException(kSDBErrDecompressChecksumMismatch, "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d",
                        {static_cast<int64_t>(crc), static_cast<int64_t>(h.Crc32)});
  FCurrentHeader = static_cast<int64_t>(Index);
  return FBlockData;
}

void TSDBCompressedBLOBStream::CompressBlock(const uint8_t* Data, int64_t Size, TSDBCompressedStreamBlockHeader& Header,
                                             std::vector<uint8_t>& Out) const {
  Header.UncompressedSize = static_cast<int32_t>(Size);
  Header.Crc32 = CRC(0, Data, static_cast<size_t>(Size));
  if (!CompressBuffer(FCompressionAlgorithm, FCompressionMode, Data, Header, Out, Size))
    throw ESDBException(kSDBErrCompressBuffer, "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d",
                        {static_cast<int64_t>(FCompressionAlgorithm), static_cast<int64_t>(FCompressionMode), Size,
                         static_cast<int64_t>(Out.size())});
  Header.OffsetToNextHeader = static_cast<int64_t>(Header.CompressedSize) + kHeaderSize;
}

int64_t TSDBCompressedBLOBStream::Read(void* Buffer, int64_t Count) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (Count <= 0 || FPosition >= FUncompressedSize) return 0;
  const int64_t n = std::min(Count, FUncompressedSize - FPosition);
  auto* out = static_cast<uint8_t*>(Buffer);
  if (!Compressed()) {
    SeekStored(FStartPosition + FPosition, kSDBErrBlobStreamSeekRead);
    int64_t got = FCompressedStream.Read(out, n);
    if (got > 0) FPosition += got;
    return std::max<int64_t>(got, 0);
  }
  int64_t done = 0;
  while (done < n) {
    size_t index = FindBlock(FPosition);
    const auto& data = LoadBlock(index);
    int64_t offset = FPosition - FBlockStarts[index];
    int64_t take = std::min<int64_t>(n - done, static_cast<int64_t>(data.size()) - offset);
    if (take <= 0) break;
    std::memcpy(out + done, data.data() + offset, static_cast<size_t>(take));
    done += take;
    FPosition += take;
  }
  return done;
}

int64_t TSDBCompressedBLOBStream::Write(const void* Buffer, int64_t Count) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (Count <= 0 || FPosition < FUncompressedSize) return 0;
  if (FPosition > FUncompressedSize) {
    const int64_t target = FPosition;
    Grow(target);
    FPosition = target;
  }
  const auto* src = static_cast<const uint8_t*>(Buffer);
  if (!Compressed()) {
    const int64_t at = FStartPosition + FUncompressedSize;
    SeekStored(at, kSDBErrBlobStreamSeekWrite);
    int64_t written = FCompressedStream.Write(src, Count);
    if (written != Count)
      throw ESDBException(kSDBErrBlobStreamWriteData, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                          {at, FCompressedStream.GetSize(), Count, written});
    FUncompressedSize += Count;
    FPosition += Count;
    UpdateDescriptor();
    FModified = true;
    return Count;
  }

  // Compress every new block before touching the stored stream, so that a
  // failed compression leaves the value as it was.
  struct TPending {
    TSDBCompressedStreamBlockHeader Header;
    std::vector<uint8_t> Data;
  };
  std::vector<TPending> pending;
  int64_t remaining = Count;
  const size_t blocks = FHeaders.Headers.size();
  const bool rewriteLast = blocks > 0 && FHeaders.Headers.back().UncompressedSize < FBlockSize;
  if (rewriteLast) {
    std::vector<uint8_t> last = LoadBlock(blocks - 1);
    int64_t take = std::min<int64_t>(remaining, FBlockSize - static_cast<int64_t>(last.size()));
    last.insert(last.end(), src, src + take);
    pending.emplace_back();
    CompressBlock(last.data(), static_cast<int64_t>(last.size()), pending.back().Header, pending.back().Data);
    src += take;
    remaining -= take;
  }
  while (remaining > 0) {
    int64_t piece = std::min<int64_t>(remaining, FBlockSize);
    pending.emplace_back();
    CompressBlock(src, piece, pending.back().Header, pending.back().Data);
    src += piece;
    remaining -= piece;
  }

  int64_t pos = rewriteLast ? FHeaders.Positions.back() : EndOfBlocks();
  if (rewriteLast) {
    FUncompressedSize -= FHeaders.Headers.back().UncompressedSize;
    FCompressedSize -= FHeaders.Headers.back().CompressedSize;
    FHeaders.Headers.pop_back();
    FHeaders.Positions.pop_back();
    FBlockStarts.pop_back();
    FCurrentHeader = -1;
    FCompressedStream.SetSize(pos);
  }
  SeekStored(pos, kSDBErrBlobStreamSeekBlock);
  for (auto& p : pending) {
    uint8_t raw[kHeaderSize];
    p.Header.Save(raw);
    int64_t w1 = FCompressedStream.Write(raw, kHeaderSize);
    if (w1 != kHeaderSize)
      throw ESDBException(kSDBErrBlobStreamWriteHeader, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                          {pos, FCompressedStream.GetSize(), static_cast<int64_t>(kHeaderSize), w1});
    int64_t w2 = FCompressedStream.Write(p.Data.data(), p.Header.CompressedSize);
    if (w2 != p.Header.CompressedSize)
      throw ESDBException(kSDBErrBlobStreamWriteBlock, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                          {pos + kHeaderSize, FCompressedStream.GetSize(), static_cast<int64_t>(p.Header.CompressedSize), w2});
    FBlockStarts.push_back(FUncompressedSize);
    FHeaders.Headers.push_back(p.Header);
    FHeaders.Positions.push_back(pos);
    FUncompressedSize += p.Header.UncompressedSize;
    FCompressedSize += p.Header.CompressedSize;
    pos += p.Header.OffsetToNextHeader;
  }
  FPosition += Count;
  UpdateDescriptor();
  FModified = true;
  return Count;
}

void TSDBCompressedBLOBStream::Grow(int64_t NewSize) {
  if (NewSize <= FUncompressedSize)
    throw ESDBException(kSDBErrBlobStreamExtensionSize, "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d",
                        {NewSize, FUncompressedSize, NewSize - FUncompressedSize});
  const int64_t saved = FPosition;
  std::vector<uint8_t> zeros(static_cast<size_t>(std::min<int64_t>(FBlockSize, NewSize - FUncompressedSize)));
  while (FUncompressedSize < NewSize) {
    FPosition = FUncompressedSize;
    int64_t piece = std::min<int64_t>(static_cast<int64_t>(zeros.size()), NewSize - FUncompressedSize);
    // Fill up a partial last block first so that pieces line up with blocks.
    if (Compressed() && !FHeaders.Headers.empty() && FHeaders.Headers.back().UncompressedSize < FBlockSize)
      piece = std::min<int64_t>(piece, FBlockSize - FHeaders.Headers.back().UncompressedSize);
    Write(zeros.data(), piece);
  }
  FPosition = saved;
}

void TSDBCompressedBLOBStream::SetSize(int64_t NewSize) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (NewSize < 0)
    throw ESDBException(kSDBErrBlobStreamSetSize, "Invalid stream size = %d. Should be = %d", {NewSize, static_cast<int64_t>(0)});
  if (NewSize == FUncompressedSize) return;
  if (NewSize > FUncompressedSize) {
    Grow(NewSize);
    return;
  }
  if (!Compressed()) {
    const int64_t end = FStartPosition + NewSize;
    FCompressedStream.SetSize(end);
    if (FCompressedStream.GetSize() != end)
      throw ESDBException(kSDBErrBlobStreamSetSize, "Invalid stream size = %d. Should be = %d", {FCompressedStream.GetSize(), end});
    FUncompressedSize = NewSize;
    UpdateDescriptor();
    FModified = true;
    return;
  }
  if (NewSize == 0) {
    CutToBlocks(0);
    return;
  }
  const size_t k = FindBlock(NewSize - 1);
  const int64_t keep = NewSize - FBlockStarts[k];
  if (keep == FHeaders.Headers[k].UncompressedSize) {
    CutToBlocks(k + 1);
    return;
  }
  std::vector<uint8_t> data = LoadBlock(k);
  data.resize(static_cast<size_t>(keep));
  TSDBCompressedStreamBlockHeader header;
  std::vector<uint8_t> packed;
  CompressBlock(data.data(), keep, header, packed);
  const int64_t pos = FHeaders.Positions[k];
  CutToBlocks(k);
  if (FCompressedStream.Seek(pos, soBeginning) != pos)
    throw ESDBException(kSDBErrBlobStreamSetPosition, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {pos, FCompressedStream.GetPosition(), FCompressedStream.GetSize()});
  uint8_t raw[kHeaderSize];
  header.Save(raw);
  if (FCompressedStream.Write(raw, kHeaderSize) != kHeaderSize) throw ESDBException(kSDBErrStreamWrite, "Error writing to stream");
  if (FCompressedStream.Write(packed.data(), header.CompressedSize) != header.CompressedSize)
    throw ESDBException(kSDBErrBlobStreamExtend, "Error writing to stream");
  FBlockStarts.push_back(FUncompressedSize);
  FHeaders.Headers.push_back(header);
  FHeaders.Positions.push_back(pos);
  FUncompressedSize += header.UncompressedSize;
  FCompressedSize += header.CompressedSize;
  UpdateDescriptor();
}

int64_t TSDBCompressedBLOBStream::Seek(int64_t Offset, TSDBSeekOrigin Origin) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : FUncompressedSize;
  int64_t target = base + Offset;
  if (target < 0) return -1;
  FPosition = target;
  return FPosition;
}

int64_t TSDBCompressedBLOBStream::GetCompressedSize() const {
  if (!Compressed()) return FUncompressedSize;
  return FCompressedSize + static_cast<int64_t>(FHeaders.Headers.size()) * kHeaderSize;
}

double TSDBCompressedBLOBStream::GetCompressionRate() const {
  if (!Compressed() || FUncompressedSize == 0) return 0.0;
  return (1.0 - static_cast<double>(GetCompressedSize()) / static_cast<double>(FUncompressedSize)) * 100.0;
}

}  // namespace sdb
