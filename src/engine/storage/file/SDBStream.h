// TSDBStream: the engine's byte streams (memory, file, temporary and BLOB
// streams). A stream has a size and a position; Read and Write move up to
// Count bytes from the position and answer how many they moved. Stream to
// stream copies move BlockSize bytes at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sdb {

enum TSDBSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class TSDBStream {
 public:
  virtual ~TSDBStream() = default;

  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  // The new position; a negative target is refused (position kept, -1 answered).
  virtual int64_t Seek(int64_t Offset, TSDBSeekOrigin Origin) = 0;
  virtual int64_t GetSize() = 0;
  virtual void SetSize(int64_t NewSize) = 0;

  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Position) { Seek(Position, soBeginning); }

  // Copies the whole of this stream into Dest (from Dest's position).
  void SaveToStream(TSDBStream& Dest);
  // Replaces this stream's content with the whole of Source.
  void LoadFromStream(TSDBStream& Source);
  // Replaces this stream's content with Source from its current position on.
  void LoadFromStreamWithPosition(TSDBStream& Source);
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

  // Chunk size of copies; 0 is refused ("Stream block size = 0 is not allowed").
  int32_t BlockSize() const { return FBlockSize; }
  void SetBlockSize(int32_t Value) { FBlockSize = Value; }
  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }
  // Progress of copies: (bytes done, bytes in all).
  std::function<void(int64_t, int64_t)> OnProgress;

 protected:
  // Copies Count bytes from Source's position to this stream's position.
  void CopyFrom(TSDBStream& Source, int64_t Count);

  int32_t FBlockSize = 65536;
  bool FModified = false;
  std::recursive_mutex FLock;
};

// A stream over a growable memory buffer.
class TSDBMemoryStream : public TSDBStream {
 public:
  TSDBMemoryStream() = default;
  explicit TSDBMemoryStream(std::vector<uint8_t> Data) : FData(std::move(Data)) {}

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSDBSeekOrigin Origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t NewSize) override;

  std::vector<uint8_t>& Memory() { return FData; }
  const std::vector<uint8_t>& Memory() const { return FData; }

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

}  // namespace sdb
