#pragma once
// Constant tables of the DMR coders, built by the compiler from the code
// definitions so that the hot paths replace bit-serial loops with one lookup.
#include <array>
#include <cstdint>

// g(x) = x^11 + x^10 + x^6 + x^5 + x^4 + x^2 + 1 of the Golay(23,12) code.
inline constexpr uint32_t kGolayGenerator = 0xC75;

// Remainder of bits 0..22 of word divided by g(x), most significant bit first.
constexpr uint32_t golay_remainder(uint32_t word) {
  uint32_t s = 0;
  for (int n = 22; n >= 0; --n) {
    s = (s << 1) | ((word >> n) & 1u);
    if (s & 0x800u) s ^= kGolayGenerator;
  }
  return s;
}

// Check bits (d * x^11) mod g(x) of every 12-bit data value. The remainder is
// linear in d, so each entry is the previous one with its lowest data bit's
// contribution added; this keeps the compile-time cost low.
constexpr std::array<uint16_t, 4096> make_golay_parity() {
  std::array<uint16_t, 12> unit{};
  for (int i = 0; i < 12; ++i) unit[i] = static_cast<uint16_t>(golay_remainder(1u << (11 + i)));
  std::array<uint16_t, 4096> t{};
  for (uint32_t d = 1; d < 4096; ++d) {
    int low = 0;
    while (!((d >> low) & 1u)) ++low;
    t[d] = static_cast<uint16_t>(t[d & (d - 1)] ^ unit[low]);
  }
  return t;
}
inline constexpr std::array<uint16_t, 4096> kGolayParity = make_golay_parity();

// Mask that whitens the B word: bit 15 of a 16-bit linear congruential
// sequence seeded with the A field, first step landing in bit 22.
constexpr uint32_t ambe_scramble_mask(uint32_t a) {
  uint32_t p = (a & 0xFFFu) << 4;
  uint32_t m = 0;
  for (int i = 0; i < 23; ++i) {
    p = (173u * p + 13849u) & 0xFFFFu;
    m = (m << 1) | (p >> 15);
  }
  return m;
}

constexpr std::array<uint32_t, 4096> make_scramble_masks() {
  std::array<uint32_t, 4096> t{};
  for (uint32_t a = 0; a < 4096; ++a) t[a] = ambe_scramble_mask(a);
  return t;
}
inline constexpr std::array<uint32_t, 4096> kAmbeScrambleMask = make_scramble_masks();

// Bit order 1 of a voice frame: for field bit m of the sequence
// A11..A0, B11..B0, R24..R0, the index of the voice bit that carries it.
inline constexpr std::array<uint8_t, 49> kAmbeOrder1Source = {
    0,  3,  6,  9,  12, 15, 18, 21, 24, 27, 30, 33,       // A11..A0
    36, 39, 41, 43, 45, 47, 1,  4,  7,  10, 13, 16,       // B11..B0
    19, 22, 25, 28, 31, 34, 37, 40, 42, 44, 46, 48,       // R24..R13
    2,  5,  8,  11, 14, 17, 20, 23, 26, 29, 32, 35, 38};  // R12..R0

// Frame position of interleave sequence bit k (W23..W0, V22..V0, R24..R0):
// 18 groups of four bits, the k-th bit of each column in turn.
constexpr int ambe_frame_position(int k) { return 4 * (k % 18) + k / 18; }

// Hamming(16,11,4) check bits of an 11-bit row, D0 in bit 10 and P0 in bit 4
// of the result, so that a row reads D0..D10 P0..P4 from bit 15 down.
inline constexpr std::array<std::array<uint8_t, 7>, 5> kHammingTaps = {{
    {0, 1, 2, 3, 5, 7, 8},
    {1, 2, 3, 4, 6, 8, 9},
    {2, 3, 4, 5, 7, 9, 10},
    {0, 1, 2, 4, 6, 7, 10},
    {0, 2, 5, 6, 8, 9, 10},
}};

constexpr std::array<uint8_t, 2048> make_hamming_parity() {
  std::array<uint8_t, 2048> t{};
  for (uint32_t d = 0; d < 2048; ++d) {
    uint32_t p = 0;
    for (int k = 0; k < 5; ++k) {
      uint32_t x = 0;
      for (uint8_t i : kHammingTaps[k]) x ^= (d >> (10 - i)) & 1u;
      p |= x << (4 - k);
    }
    t[d] = static_cast<uint8_t>(p);
  }
  return t;
}
inline constexpr std::array<uint8_t, 2048> kHammingParity = make_hamming_parity();

// QR(16,7,6) code words of the EMB field: entry d is d (E[0]..E[6]) followed
// by its nine check bits, so the table is sorted ascending by construction.
inline constexpr std::array<uint16_t, 7> kQrRows = {0x073, 0x0E5, 0x1C9, 0x1E2, 0x1B7, 0x11E, 0x04F};

constexpr std::array<uint16_t, 128> make_qr_codewords() {
  std::array<uint16_t, 128> t{};
  for (uint32_t d = 0; d < 128; ++d) {
    uint32_t q = 0;
    for (int b = 0; b < 7; ++b)
      if ((d >> b) & 1u) q ^= kQrRows[b];
    t[d] = static_cast<uint16_t>((d << 9) | q);
  }
  return t;
}
inline constexpr std::array<uint16_t, 128> kQrCodewords = make_qr_codewords();
