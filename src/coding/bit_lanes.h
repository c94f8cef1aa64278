#pragma once
// Bit arrays (one bit per byte) moved eight bytes at a time: each byte is a
// lane of a 64-bit word, byte j of the array in bits 8j..8j+7 whatever the
// host's byte order.
#include <bit>
#include <cstdint>
#include <cstring>

inline constexpr uint64_t kByteLsb = 0x0101010101010101ULL;

// Sum of 2^(9k), k = 0..7: multiplying gathers bit 0 of byte j into bit
// 63 - j, and spreads bit 7 - j of a byte back out to byte j, with no two
// partial products meeting, so no carry disturbs the result.
inline constexpr uint64_t kBitByteMul = 0x8040201008040201ULL;

inline uint64_t load8(const unsigned char* p) {
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  return x;
}

inline void store8(unsigned char* p, uint64_t x) {
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  std::memcpy(p, &x, sizeof x);
}

// Eight bit-array bytes (bit 0 of each) -> 8 bits, the first byte most significant.
inline uint64_t pack8(uint64_t x) { return ((x & kByteLsb) * kBitByteMul) >> 56; }

// 8 bits -> eight bit-array bytes, the most significant bit first.
inline uint64_t unpack8(uint64_t b) { return ((b * kBitByteMul) >> 7) & kByteLsb; }
