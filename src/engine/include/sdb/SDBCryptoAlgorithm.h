// The ciphers a password-protected database can use; chosen when the file
// is created and recorded in its crypto header.
#pragma once

#include <cstdint>

namespace sdb {

enum TSDBCryptoAlgorithm : uint8_t {
  craRijndael_128,
  craRijndael_256,
  craDES_Single,
  craDES_Triple,
  craBlowfish,
  craTwofish_128,
  craTwofish_256,
  craSquare,
};
inline constexpr int kSDBCryptoAlgorithmCount = craSquare + 1;
inline constexpr TSDBCryptoAlgorithm kSDBDefaultCryptoAlgorithm = craRijndael_128;

}  // namespace sdb
