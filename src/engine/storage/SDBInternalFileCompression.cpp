#include "storage/SDBInternalFileCompression.h"

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>

namespace sdb {

bool SDBCompressWhole(uint8_t Algorithm, uint8_t Mode, const uint8_t* Input, int32_t InputSize,
                      std::vector<uint8_t>& Output) {
  if (InputSize <= 0) return false;
  if (Algorithm == 1) {
    uLongf room = compressBound(static_cast<uLong>(InputSize));
    Output.resize(room);
    int level = std::clamp<int>(Mode, 0, 9);
    if (compress2(Output.data(), &room, Input, static_cast<uLong>(InputSize), level) != Z_OK) return false;
    Output.resize(room);
    return !Output.empty();
  }
  if (Algorithm == 2) {
    auto room = static_cast<unsigned>(InputSize + InputSize / 100 + 600);
    Output.resize(room);
    int block = std::clamp<int>(Mode, 1, 9);
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(Output.data()), &room,
                                 const_cast<char*>(reinterpret_cast<const char*>(Input)),
                                 static_cast<unsigned>(InputSize), block, 0, 0) != BZ_OK)
      return false;
    Output.resize(room);
    return !Output.empty();
  }
  return false;
}

bool SDBDecompressWhole(uint8_t Algorithm, const std::vector<uint8_t>& Input, int32_t ExpectedSize,
                        std::vector<uint8_t>& Output, std::string& problem) {
  if (Input.empty() || ExpectedSize < 0) {
    problem = "empty or invalid block";
    return false;
  }
  if (Algorithm == 1) {
    uLongf size = static_cast<uLongf>(ExpectedSize);
    Output.resize(std::max<size_t>(size, 1));
    int rc = uncompress(Output.data(), &size, Input.data(), static_cast<uLong>(Input.size()));
    if (rc != Z_OK) {
      problem = rc == Z_BUF_ERROR ? "content larger than recorded" : "zlib error " + std::to_string(rc);
      return false;
    }
    Output.resize(size);
    return true;
  }
  if (Algorithm == 2) {
    auto size = static_cast<unsigned>(ExpectedSize);
    Output.resize(std::max<size_t>(size, 1));
    int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(Output.data()), &size,
                                        const_cast<char*>(reinterpret_cast<const char*>(Input.data())),
                                        static_cast<unsigned>(Input.size()), 0, 0);
    if (rc != BZ_OK) {
      problem = rc == BZ_OUTBUFF_FULL ? "content larger than recorded" : "bzip2 error " + std::to_string(rc);
      return false;
    }
    Output.resize(size);
    return true;
  }
  problem = "unknown compression algorithm " + std::to_string(Algorithm);
  return false;
}

}  // namespace sdb
