#pragma once
// Coder for DMR data bursts (voice LC header, terminator with LC),
// written from the DMR air-interface standard so the stored bursts can be
// proved independently of how they were produced. Header-only; the encoder
// exists to round-trip random link controls through the decoder, the decoder
// to take apart whatever bytes the bridge carries.
//
// Bit arrays are one bit per byte, most significant bit of each byte first.
#include <array>
#include <bit>
#include <cstdint>
#include <cstddef>

namespace dmrtest {

constexpr unsigned int kBurstBytes = 33;
constexpr unsigned int kBurstBits = 264;
constexpr uint64_t kDataSyncBs = 0xDFF57D75DF5DULL;
constexpr uint64_t kVoiceSyncBs = 0x755FD7DF75F7ULL;
constexpr uint8_t kMaskVoiceLcHeader = 0x96;
constexpr uint8_t kMaskTerminatorLc = 0x99;
constexpr uint8_t kDataTypeVoiceLcHeader = 1;
constexpr uint8_t kDataTypeTerminatorLc = 2;

using Burst = std::array<uint8_t, kBurstBytes>;

// ---------------------------------------------------------------- bit access

inline unsigned get_bit(const uint8_t* bytes, unsigned k) { return (bytes[k / 8] >> (7 - k % 8)) & 1u; }

inline void set_bit(uint8_t* bytes, unsigned k, unsigned v) {
  const uint8_t m = static_cast<uint8_t>(0x80u >> (k % 8));
  if (v)
    bytes[k / 8] = static_cast<uint8_t>(bytes[k / 8] | m);
  else
    bytes[k / 8] = static_cast<uint8_t>(bytes[k / 8] & ~m);
}

// Reads `count` (at most 64) burst bits from `first` as a number, first bit highest.
inline uint64_t get_bits(const uint8_t* bytes, unsigned first, unsigned count) {
  uint64_t v = 0;
  for (unsigned i = 0; i < count; ++i) v = (v << 1) | get_bit(bytes, first + i);
  return v;
}

inline void set_bits(uint8_t* bytes, unsigned first, unsigned count, uint64_t v) {
  for (unsigned i = 0; i < count; ++i) set_bit(bytes, first + i, static_cast<unsigned>((v >> (count - 1 - i)) & 1u));
}

// ---------------------------------------------------------------- GF(2^8), RS(12,9)

inline uint8_t gf_mul(uint8_t a, uint8_t b) {
  unsigned r = 0, x = a;
  while (b) {
    if (b & 1) r ^= x;
    x <<= 1;
    if (x & 0x100) x ^= 0x11D;
    b = static_cast<uint8_t>(b >> 1);
  }
  return static_cast<uint8_t>(r);
}

// Remainder of LC(x)·x³ by g(x) = x³ + 14x² + 56x + 64, highest degree first,
// before the data-type mask.
inline std::array<uint8_t, 3> rs129_parity(const uint8_t lc[9]) {
  uint8_t r0 = 0, r1 = 0, r2 = 0;  // coefficients of x², x¹, x⁰
  for (int i = 0; i < 9; ++i) {
    const uint8_t fb = static_cast<uint8_t>(lc[i] ^ r0);
    r0 = static_cast<uint8_t>(r1 ^ gf_mul(fb, 14));
    r1 = static_cast<uint8_t>(r2 ^ gf_mul(fb, 56));
    r2 = gf_mul(fb, 64);
  }
  return {r0, r1, r2};
}

// The three syndromes c(α), c(α²), c(α³) of a 12-octet code word, octet 0 the
// highest-degree coefficient. Evaluating at the generator's roots is a check
// independent of the division that builds the parity.
inline std::array<uint8_t, 3> rs129_syndromes(const uint8_t word[12]) {
  std::array<uint8_t, 3> s{};
  uint8_t root = 1;
  for (int j = 0; j < 3; ++j) {
    root = gf_mul(root, 2);
    uint8_t acc = 0;
    for (int i = 0; i < 12; ++i) acc = static_cast<uint8_t>(gf_mul(acc, root) ^ word[i]);
    s[static_cast<size_t>(j)] = acc;
  }
  return s;
}

// ---------------------------------------------------------------- Hamming, BPTC(196,96)

// Remainder of the n-bit word (bits[0] the highest degree) by x⁴ + x + 1.
inline unsigned hamming_remainder(const uint8_t* bits, unsigned n) {
  unsigned r = 0;
  for (unsigned i = 0; i < n; ++i) {
    r = (r << 1) | (bits[i] & 1u);
    if (r & 0x10) r ^= 0x13;
  }
  return r;
}

// Systematic cyclic Hamming code word: k data bits then 4 parity bits.
inline void hamming_encode(uint8_t* word, unsigned k) {
  for (unsigned i = 0; i < 4; ++i) word[k + i] = 0;
  const unsigned p = hamming_remainder(word, k + 4);
  for (unsigned i = 0; i < 4; ++i) word[k + i] = static_cast<uint8_t>((p >> (3 - i)) & 1u);
}

inline unsigned bptc_interleave(unsigned a) { return (a * 181u) % 196u; }

// Burst bit carrying transmitted BPTC position p (the burst's centre 68 bits
// hold slot type and sync).
inline unsigned bptc_burst_bit(unsigned p) { return p < 98 ? p : p + 68; }

using Matrix = std::array<std::array<uint8_t, 15>, 13>;

inline void bptc_encode(const uint8_t info[96], uint8_t out[196]) {
  Matrix m{};
  unsigned n = 0;
  for (unsigned c = 3; c < 11; ++c) m[0][c] = info[n++];  // index 4..11 of row 0
  for (unsigned r = 1; r < 9; ++r)
    for (unsigned c = 0; c < 11; ++c) m[r][c] = info[n++];
  for (unsigned r = 0; r < 9; ++r) hamming_encode(m[r].data(), 11);
  for (unsigned c = 0; c < 15; ++c) {
    uint8_t col[13];
    for (unsigned r = 0; r < 9; ++r) col[r] = m[r][c];
    hamming_encode(col, 9);
    for (unsigned r = 9; r < 13; ++r) m[r][c] = col[r];
  }
  uint8_t plain[196] = {};
  for (unsigned r = 0; r < 13; ++r)
    for (unsigned c = 0; c < 15; ++c) plain[15 * r + c + 1] = m[r][c];
  for (unsigned a = 0; a < 196; ++a) out[bptc_interleave(a)] = plain[a];
}

struct BptcResult {
  std::array<uint8_t, 96> info{};
  unsigned failing_rows = 0;     // before any correction
  unsigned failing_columns = 0;  // before any correction
  bool corrected = false;        // one bit repaired at a failing row/column crossing
  bool clean = false;            // every row and column a code word after correction
  bool reserved_zero = false;    // R(3) .. R(0)
};

inline BptcResult bptc_decode(const uint8_t in[196]) {
  uint8_t plain[196];
  for (unsigned a = 0; a < 196; ++a) plain[a] = in[bptc_interleave(a)];
  Matrix m{};
  for (unsigned r = 0; r < 13; ++r)
    for (unsigned c = 0; c < 15; ++c) m[r][c] = plain[15 * r + c + 1];

  auto row_ok = [&](unsigned r) { return hamming_remainder(m[r].data(), 15) == 0; };
  auto col_ok = [&](unsigned c) {
    uint8_t col[13];
    for (unsigned r = 0; r < 13; ++r) col[r] = m[r][c];
    return hamming_remainder(col, 13) == 0;
  };

  BptcResult res;
  unsigned bad_r = 0, bad_c = 0;
  for (unsigned r = 0; r < 13; ++r)
    if (!row_ok(r)) {
      ++res.failing_rows;
      bad_r = r;
    }
  for (unsigned c = 0; c < 15; ++c)
    if (!col_ok(c)) {
      ++res.failing_columns;
      bad_c = c;
    }
  if (res.failing_rows == 1 && res.failing_columns == 1) {
    m[bad_r][bad_c] ^= 1;
    res.corrected = true;
  }
  res.clean = true;
  for (unsigned r = 0; r < 13; ++r) res.clean = res.clean && row_ok(r);
  for (unsigned c = 0; c < 15; ++c) res.clean = res.clean && col_ok(c);

  res.reserved_zero = plain[0] == 0 && m[0][0] == 0 && m[0][1] == 0 && m[0][2] == 0;
  unsigned n = 0;
  for (unsigned c = 3; c < 11; ++c) res.info[n++] = m[0][c];
  for (unsigned r = 1; r < 9; ++r)
    for (unsigned c = 0; c < 11; ++c) res.info[n++] = m[r][c];
  return res;
}

// ---------------------------------------------------------------- Golay, slot type

inline uint32_t golay23_codeword(uint32_t d12) {
  uint32_t r = (d12 & 0xFFFu) << 11;
  for (int bit = 22; bit >= 11; --bit)
    if (r & (1u << bit)) r ^= 0xC75u << (bit - 11);
  return ((d12 & 0xFFFu) << 11) | r;
}

inline uint32_t golay24_codeword(uint32_t d12) {
  const uint32_t c = golay23_codeword(d12);
  return (c << 1) | static_cast<uint32_t>(std::popcount(c) & 1);
}

// Golay(20,8): the extended Golay(24,12) word of colour code and data type
// without its four leading zero data bits.
inline uint32_t slot_type_word(uint8_t colour_code, uint8_t data_type) {
  const uint32_t d = ((colour_code & 0xFu) << 4) | (data_type & 0xFu);
  return golay24_codeword(d) & 0xFFFFFu;
}

struct SlotType {
  uint8_t colour_code = 0;
  uint8_t data_type = 0;
  int distance = 99;  // bits differing from the nearest code word
};

inline SlotType slot_type_decode(uint32_t word20) {
  SlotType best;
  for (unsigned d = 0; d < 256; ++d) {
    const int dist =
        std::popcount((slot_type_word(static_cast<uint8_t>(d >> 4), static_cast<uint8_t>(d & 15)) ^ word20) & 0xFFFFFu);
    if (dist < best.distance) {
      best.distance = dist;
      best.colour_code = static_cast<uint8_t>(d >> 4);
      best.data_type = static_cast<uint8_t>(d & 15);
    }
  }
  return best;
}

inline uint32_t slot_type_from_burst(const uint8_t* burst) {
  return static_cast<uint32_t>((get_bits(burst, 98, 10) << 10) | get_bits(burst, 156, 10));
}

// ---------------------------------------------------------------- whole data bursts

inline uint8_t rs_mask_for(uint8_t data_type) {
  return data_type == kDataTypeTerminatorLc ? kMaskTerminatorLc : kMaskVoiceLcHeader;
}

inline Burst encode_lc_burst(const uint8_t lc[9], uint8_t colour_code, uint8_t data_type) {
  uint8_t octets[12];
  for (int i = 0; i < 9; ++i) octets[i] = lc[i];
  const auto parity = rs129_parity(lc);
  const uint8_t mask = rs_mask_for(data_type);
  for (int i = 0; i < 3; ++i) octets[9 + i] = static_cast<uint8_t>(parity[static_cast<size_t>(i)] ^ mask);
  uint8_t info[96];
  for (unsigned k = 0; k < 96; ++k) info[k] = static_cast<uint8_t>(get_bit(octets, k));
  uint8_t coded[196];
  bptc_encode(info, coded);

  Burst b{};
  for (unsigned p = 0; p < 196; ++p) set_bit(b.data(), bptc_burst_bit(p), coded[p]);
  const uint32_t st = slot_type_word(colour_code, data_type);
  set_bits(b.data(), 98, 10, st >> 10);
  set_bits(b.data(), 156, 10, st & 0x3FF);
  set_bits(b.data(), 108, 48, kDataSyncBs);
  return b;
}

struct LcBurst {
  BptcResult bptc;
  SlotType slot;
  bool data_sync = false;
  std::array<uint8_t, 9> lc{};
  std::array<uint8_t, 3> check{};  // as received, still masked
  bool rs_ok = false;              // syndromes zero after removing the data type's mask
};

inline LcBurst decode_lc_burst(const uint8_t* burst) {
  LcBurst out;
  out.data_sync = get_bits(burst, 108, 48) == kDataSyncBs;
  out.slot = slot_type_decode(slot_type_from_burst(burst));
  uint8_t coded[196];
  for (unsigned p = 0; p < 196; ++p) coded[p] = static_cast<uint8_t>(get_bit(burst, bptc_burst_bit(p)));
  out.bptc = bptc_decode(coded);
  uint8_t octets[12] = {};
  for (unsigned k = 0; k < 96; ++k) set_bit(octets, k, out.bptc.info[k]);
  for (int i = 0; i < 9; ++i) out.lc[static_cast<size_t>(i)] = octets[i];
  for (int i = 0; i < 3; ++i) out.check[static_cast<size_t>(i)] = octets[9 + i];
  const uint8_t mask = rs_mask_for(out.slot.data_type);
  for (int i = 9; i < 12; ++i) octets[i] = static_cast<uint8_t>(octets[i] ^ mask);
  const auto s = rs129_syndromes(octets);
  out.rs_ok = s[0] == 0 && s[1] == 0 && s[2] == 0;
  return out;
}

// ---------------------------------------------------------------- EMB, QR(16,7,6)

// Nine parity bits of the 7 EMB information bits (colour code, PI, LCSS),
// one generator row per information bit, most significant first.
inline uint16_t emb_codeword(uint8_t colour_code, uint8_t pi, uint8_t lcss) {
  static constexpr uint16_t rows[7] = {0x04F, 0x11E, 0x1B7, 0x1E2, 0x1C9, 0x0E5, 0x073};
  const unsigned d = ((colour_code & 0xFu) << 3) | ((pi & 1u) << 2) | (lcss & 3u);
  unsigned q = 0;
  for (unsigned i = 0; i < 7; ++i)
    if (d & (0x40u >> i)) q ^= rows[i];
  return static_cast<uint16_t>((d << 9) | q);
}

}  // namespace dmrtest
