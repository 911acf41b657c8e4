// Whole-buffer compression of transacted internal file contents (one block,
// no block headers): algorithm 1 = zlib stream at level Mode, 2 = bzip2 at
// block size Mode x 100 kB. Answers false when the algorithm is not
// available or the data does not compress/decompress; `problem` names why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sdb {

bool SDBCompressWhole(uint8_t Algorithm, uint8_t Mode, const uint8_t* Input, int32_t InputSize,
                      std::vector<uint8_t>& Output);
bool SDBDecompressWhole(uint8_t Algorithm, const std::vector<uint8_t>& Input, int32_t ExpectedSize,
                        std::vector<uint8_t>& Output, std::string& problem);

}  // namespace sdb
