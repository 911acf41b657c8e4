// Little-endian serialisation helpers. Every on-disk record of the engine is
// packed and little-endian; records are written field by field through these
// helpers, never by casting structures onto byte buffers.
#pragma once

#include <cstdint>
#include <cstring>

namespace sdb {

inline uint16_t GetLE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetLE64(const uint8_t* p) {
  return static_cast<uint64_t>(GetLE32(p)) | (static_cast<uint64_t>(GetLE32(p + 4)) << 32);
}
inline int16_t GetLEI16(const uint8_t* p) { return static_cast<int16_t>(GetLE16(p)); }
inline int32_t GetLEI32(const uint8_t* p) { return static_cast<int32_t>(GetLE32(p)); }
inline int64_t GetLEI64(const uint8_t* p) { return static_cast<int64_t>(GetLE64(p)); }
inline double GetLEDouble(const uint8_t* p) {
  uint64_t bits = GetLE64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void PutLE64(uint8_t* p, uint64_t v) {
  PutLE32(p, static_cast<uint32_t>(v));
  PutLE32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void PutLEI16(uint8_t* p, int16_t v) { PutLE16(p, static_cast<uint16_t>(v)); }
inline void PutLEI32(uint8_t* p, int32_t v) { PutLE32(p, static_cast<uint32_t>(v)); }
inline void PutLEI64(uint8_t* p, int64_t v) { PutLE64(p, static_cast<uint64_t>(v)); }
inline void PutLEDouble(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  PutLE64(p, bits);
}

}  // namespace sdb
