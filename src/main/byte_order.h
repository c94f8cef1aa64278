#pragma once
// Multi-byte fields of both links: the Motorola side is big-endian, the
// Hytera and RDAC side little-endian.
#include <cstdint>

inline int get_be16(const unsigned char* p) { return p[0] << 8 | p[1]; }

inline uint32_t get_be24(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

inline uint32_t get_be32(const unsigned char* p) { return static_cast<uint32_t>(p[0]) << 24 | get_be24(p + 1); }

inline void put_be24(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 16);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v);
}

inline void put_be32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  put_be24(p + 1, v);
}

inline uint32_t get_le24(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
}

inline void put_le24(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
}

inline void put_le32(unsigned char* p, uint32_t v) {
  put_le24(p, v);
  p[3] = static_cast<unsigned char>(v >> 24);
}
