#include "storage/file/SDBStream.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

namespace {
}

void TSDBStream::CopyFrom(TSDBStream& Source, int64_t Count) {
  if (FBlockSize <= 0) throw ESDBException(kSDBErrStreamBlockSizeZero, "Stream block size = 0 is not allowed");
  std::vector<uint8_t> chunk(static_cast<size_t>(FBlockSize));
  int64_t done = 0;
  while (done < Count) {
    int64_t want = std::min<int64_t>(FBlockSize, Count - done);
    int64_t got = Source.Read(chunk.data(), want);
    if (got <= 0) break;
    if (Write(chunk.data(), got) != got) throw ESDBException(kSDBErrStreamWrite, "Error writing to stream");
    done += got;
    if (OnProgress) OnProgress(done, Count);
  }
}

void TSDBStream::SaveToStream(TSDBStream& Dest) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  Dest.SetBlockSize(FBlockSize);
  Seek(0, soBeginning);
  Dest.CopyFrom(*this, GetSize());
}

void TSDBStream::LoadFromStream(TSDBStream& Source) {
  Source.Seek(0, soBeginning);
  LoadFromStreamWithPosition(Source);
}

void TSDBStream::LoadFromStreamWithPosition(TSDBStream& Source) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  int64_t count = std::max<int64_t>(0, Source.GetSize() - Source.GetPosition());
  SetSize(0);
  Seek(0, soBeginning);
  CopyFrom(Source, count);
  Seek(0, soBeginning);
  FModified = true;
}

void TSDBStream::LoadFromFile(const std::string& FileName) {
  std::ifstream in(FileName, std::ios::binary);
  if (!in) throw ESDBException(kSDBErrOpenFile, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                               {FileName, static_cast<int64_t>(2), std::string("cannot read the file")});
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TSDBMemoryStream source(std::move(data));
  LoadFromStream(source);
}

void TSDBStream::SaveToFile(const std::string& FileName) {
  TSDBMemoryStream copy;
  SaveToStream(copy);
  std::ofstream out(FileName, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(copy.Memory().data()), static_cast<std::streamsize>(copy.Memory().size()));
  if (!out) throw ESDBException(kSDBErrCreateFile, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                                {FileName, static_cast<int64_t>(5), std::string("cannot write the file")});
}

int64_t TSDBMemoryStream::Read(void* Buffer, int64_t Count) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (Count <= 0 || FPosition >= GetSize()) return 0;
  int64_t n = std::min<int64_t>(Count, GetSize() - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TSDBMemoryStream::Write(const void* Buffer, int64_t Count) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (Count <= 0) return 0;
  if (FPosition + Count > GetSize()) FData.resize(static_cast<size_t>(FPosition + Count));
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition += Count;
  FModified = true;
  return Count;
}

int64_t TSDBMemoryStream::Seek(int64_t Offset, TSDBSeekOrigin Origin) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : GetSize();
  int64_t target = base + Offset;
  if (target < 0) return -1;
  FPosition = target;
  return FPosition;
}

void TSDBMemoryStream::SetSize(int64_t NewSize) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (NewSize < 0) return;
  FData.resize(static_cast<size_t>(NewSize));
  if (FPosition > NewSize) FPosition = NewSize;
  FModified = true;
}

}  // namespace sdb
