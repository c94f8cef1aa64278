#include "ambe_frame.h"

#include <bit>
#include <vector>

namespace simdmr {
namespace {

constexpr uint32_t kGolayPoly = 0xC75;  // x^11 + x^10 + x^6 + x^5 + x^4 + x^2 + 1

uint32_t golay_remainder(uint32_t word23) {
  for (int bit = 22; bit >= 11; --bit)
    if (word23 & (1u << bit)) word23 ^= kGolayPoly << (bit - 11);
  return word23 & 0x7FF;
}

// Least-weight error pattern (up to three bits) for every syndrome. Found by
// walking all patterns once; the code is perfect, so each syndrome has one.
const std::vector<uint32_t>& error_patterns() {
  static const std::vector<uint32_t> table = [] {
    std::vector<uint32_t> t(2048, 0xFFFFFFFF);
    t[0] = 0;
    for (uint32_t pattern = 1; pattern < (1u << 23); ++pattern) {
      const int weight = std::popcount(pattern);
      if (weight > 3) continue;
      uint32_t& slot = t[golay_remainder(pattern)];
      if (slot == 0xFFFFFFFF || std::popcount(slot) > weight) slot = pattern;
    }
    return t;
  }();
  return table;
}

// Position in the 72-bit frame of sequence bit k (W23..W0, V22..V0, R24..R0).
unsigned frame_position(unsigned k) { return 4 * (k % 18) + k / 18; }

uint32_t field(const VoiceBits& v, unsigned first, unsigned count) {
  uint32_t x = 0;
  for (unsigned i = 0; i < count; ++i) x = (x << 1) | (v[first + i] & 1u);
  return x;
}

void put_field(VoiceBits& v, unsigned first, unsigned count, uint32_t x) {
  for (unsigned i = 0; i < count; ++i) v[first + i] = static_cast<uint8_t>((x >> (count - 1 - i)) & 1u);
}

struct Words {
  uint32_t w = 0, v = 0, r = 0;
};

Words gather(const AirFrame& f) {
  Words s;
  for (unsigned k = 0; k < 24; ++k) s.w = (s.w << 1) | f[frame_position(k)];
  for (unsigned k = 24; k < 47; ++k) s.v = (s.v << 1) | f[frame_position(k)];
  for (unsigned k = 47; k < 72; ++k) s.r = (s.r << 1) | f[frame_position(k)];
  return s;
}

}  // namespace

uint32_t golay23_encode(uint32_t data12) {
  const uint32_t shifted = (data12 & 0xFFF) << 11;
  return shifted | golay_remainder(shifted);
}

uint32_t golay24_encode(uint32_t data12) {
  const uint32_t c = golay23_encode(data12);
  return (c << 1) | static_cast<uint32_t>(std::popcount(c) & 1);
}

uint32_t scrambling_mask(uint32_t field_a) {
  uint32_t p = (field_a << 4) & 0xFFFF, mask = 0;
  for (int i = 1; i <= 23; ++i) {
    p = (173 * p + 13849) & 0xFFFF;
    mask = (mask << 1) | (p >> 15);
  }
  return mask;
}

AirFrame encode_frame(const VoiceBits& voice) {
  const uint32_t a = field(voice, 0, 12), b = field(voice, 12, 12), r = field(voice, 24, 25);
  const uint32_t w = golay24_encode(a);
  const uint32_t v = golay23_encode(b) ^ scrambling_mask(a);
  AirFrame f{};
  for (unsigned k = 0; k < 24; ++k) f[frame_position(k)] = static_cast<uint8_t>((w >> (23 - k)) & 1);
  for (unsigned k = 0; k < 23; ++k) f[frame_position(24 + k)] = static_cast<uint8_t>((v >> (22 - k)) & 1);
  for (unsigned k = 0; k < 25; ++k) f[frame_position(47 + k)] = static_cast<uint8_t>((r >> (24 - k)) & 1);
  return f;
}

FrameDecode decode_frame(const AirFrame& frame) {
  FrameDecode out;
  const Words s = gather(frame);
  const uint32_t upper = s.w >> 1;
  const uint32_t a_pattern = error_patterns()[golay_remainder(upper)];
  const uint32_t corrected = upper ^ a_pattern;
  out.a_errors = std::popcount(a_pattern);
  const uint32_t parity = static_cast<uint32_t>(std::popcount(corrected) & 1);
  out.w0_wrong = parity != (s.w & 1);
  if (out.a_errors == 3 && out.w0_wrong) {
    out.uncorrectable = true;
    return out;
  }
  const uint32_t a = corrected >> 11;
  const uint32_t u = s.v ^ scrambling_mask(a);
  const uint32_t b_pattern = error_patterns()[golay_remainder(u)];
  out.b_errors = std::popcount(b_pattern);
  const uint32_t b = (u ^ b_pattern) >> 11;
  put_field(out.voice, 0, 12, a);
  put_field(out.voice, 12, 12, b);
  put_field(out.voice, 24, 25, s.r);
  return out;
}

void inject_errors(AirFrame& frame, int a_flips, int b_flips, uint32_t seed) {
  uint32_t x = seed * 2654435761u + 1;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  auto flip_distinct = [&](unsigned first_k, unsigned count, int flips) {
    uint32_t used = 0;
    for (int n = 0; n < flips && n < static_cast<int>(count); ++n) {
      unsigned k;
      do k = next() % count;
      while (used & (1u << k));
      used |= 1u << k;
      frame[frame_position(first_k + k)] ^= 1;
    }
  };
  flip_distinct(0, 23, a_flips);   // W23..W1
  flip_distinct(24, 23, b_flips);  // V22..V0
}

}  // namespace simdmr
