#include "coding/AMBEplus2_33.h"

#include <cstdint>

#include "coding/bit_lanes.h"
#include "coding/coding_tables.h"

unsigned int Fehlermuster_Golay_23_12[2048];

namespace {

// A voice frame as one 49-bit number A11..A0 B11..B0 R24..R0 (A11 in bit 48).
uint64_t read_voice(const unsigned char* voice, unsigned char order) {
  uint64_t f = 0;
  if (order == 1) {
    for (uint8_t src : kAmbeOrder1Source) f = (f << 1) | (voice[src] & 1u);
    return f;
  }
  for (int i = 0; i < 6; ++i) f = (f << 8) | pack8(load8(voice + 8 * i));
  return (f << 1) | (voice[48] & 1u);
}

void write_voice(unsigned char* voice, unsigned char order, uint64_t f) {
  if (order == 1) {
    for (int m = 0; m < 49; ++m) voice[kAmbeOrder1Source[m]] = static_cast<unsigned char>((f >> (48 - m)) & 1u);
    return;
  }
  for (int i = 0; i < 6; ++i) store8(voice + 8 * i, unpack8((f >> (41 - 8 * i)) & 0xFFu));
  voice[48] = static_cast<unsigned char>(f & 1u);
}

// The frame is 18 groups of four bits; group g's bit c belongs to column c,
// and column c is the 18-bit run S[18c .. 18c+17] of W23..W0 V22..V0 R24..R0.
// Eight frame bytes are groups 2i and 2i+1; folding the second group onto the
// first gives a 2-bit lane per column in byte c of the result.
uint32_t column_lanes(uint64_t x) {
  x &= kByteLsb;
  return static_cast<uint32_t>(((x << 1) | (x >> 32)) & 0x03030303u);
}

uint64_t lanes_to_bytes(uint32_t z) {
  return ((z >> 1) & 0x01010101u) | (static_cast<uint64_t>(z & 0x01010101u) << 32);
}

void deinterleave(const uint64_t* chunk, uint32_t* w, uint32_t* v, uint32_t* r) {
  // Groups 0-7, 8-15 and 16-17 of each column, eight bits to a byte lane.
  uint32_t hi = 0, mid = 0;
  for (int i = 0; i < 4; ++i) hi = (hi << 2) | column_lanes(chunk[i]);
  for (int i = 4; i < 8; ++i) mid = (mid << 2) | column_lanes(chunk[i]);
  uint32_t lo = column_lanes(chunk[8]);
  uint32_t col[4];
  for (int c = 0; c < 4; ++c)
    col[c] = (((hi >> (8 * c)) & 0xFFu) << 10) | (((mid >> (8 * c)) & 0xFFu) << 2) | ((lo >> (8 * c)) & 3u);
  *w = (col[0] << 6) | (col[1] >> 12);
  *v = ((col[1] & 0xFFFu) << 11) | (col[2] >> 7);
  *r = ((col[2] & 0x7Fu) << 18) | col[3];
}

void interleave(uint64_t* chunk, uint32_t w, uint32_t v, uint32_t r) {
  const uint32_t col[4] = {w >> 6, ((w & 0x3Fu) << 12) | (v >> 11), ((v & 0x7FFu) << 7) | (r >> 18), r & 0x3FFFFu};
  uint32_t hi = 0, mid = 0, lo = 0;
  for (int c = 0; c < 4; ++c) {
    hi |= ((col[c] >> 10) & 0xFFu) << (8 * c);
    mid |= ((col[c] >> 2) & 0xFFu) << (8 * c);
    lo |= (col[c] & 3u) << (8 * c);
  }
  for (int i = 0; i < 4; ++i) chunk[i] = lanes_to_bytes((hi >> (6 - 2 * i)) & 0x03030303u);
  for (int i = 4; i < 8; ++i) chunk[i] = lanes_to_bytes((mid >> (6 - 2 * (i - 4))) & 0x03030303u);
  chunk[8] = lanes_to_bytes(lo);
}

// Byte lanes of each 8-byte frame chunk that hold field R, which the decoder
// hands on as received and so never rewrites.
constexpr std::array<uint64_t, 9> make_r_lanes() {
  std::array<uint64_t, 9> m{};
  for (int k = 47; k < 72; ++k) {
    int p = ambe_frame_position(k);
    m[p / 8] |= 0xFFULL << (8 * (p % 8));
  }
  return m;
}
constexpr std::array<uint64_t, 9> kRLanes = make_r_lanes();

// Without a population-count instruction std::popcount becomes a library
// call; these two cover all the decoder needs in a few instructions.
uint32_t parity_of(uint32_t x) {
  x ^= x >> 16;
  x ^= x >> 8;
  x ^= x >> 4;
  return (0x6996u >> (x & 0xFu)) & 1u;
}

// Weight of a Golay(23,12) error pattern, which never exceeds 3.
int pattern_weight(uint32_t e) {
  const uint32_t e1 = e & (e - 1);
  const uint32_t e2 = e1 & (e1 - 1);
  return (e != 0) + (e1 != 0) + (e2 != 0);
}

uint32_t golay_syndrome(uint32_t word) { return kGolayParity[(word >> 11) & 0xFFFu] ^ (word & 0x7FFu); }

uint32_t golay_codeword(uint32_t data) { return (data << 11) | kGolayParity[data]; }

void store_pattern(uint32_t pattern) {
  unsigned short s;
  Syndromberechnung(pattern, &s);
  Fehlermuster_Golay_23_12[s] = pattern;
}

}  // namespace

void init_Golay_23_12() {
  Fehlermuster_Golay_23_12[0] = 0;
  for (int i = 0; i < 23; ++i) store_pattern(1u << i);
  for (int i = 0; i < 23; ++i)
    for (int j = i + 1; j < 23; ++j) store_pattern((1u << i) | (1u << j));
  for (int i = 0; i < 23; ++i)
    for (int j = i + 1; j < 23; ++j)
      for (int k = j + 1; k < 23; ++k) store_pattern((1u << i) | (1u << j) | (1u << k));
}

void Syndromberechnung(unsigned int word, unsigned short* syndrome) {
  // The remainder of (d * x^11 + c) is the tabulated remainder of d * x^11
  // plus c, which already has degree below 11.
  *syndrome = static_cast<unsigned short>(golay_syndrome(word));
}

void codiere_AMBEplus2_33(unsigned char* frame, unsigned char order, unsigned char* voice) {
  const uint64_t f = read_voice(voice, order);
  const uint32_t a = static_cast<uint32_t>(f >> 37);
  const uint32_t b = static_cast<uint32_t>(f >> 25) & 0xFFFu;
  const uint32_t r = static_cast<uint32_t>(f) & 0x1FFFFFFu;
  const uint32_t ca = golay_codeword(a);
  const uint32_t w = (ca << 1) | parity_of(ca);
  const uint32_t v = golay_codeword(b) ^ kAmbeScrambleMask[a];
  uint64_t chunk[9];
  interleave(chunk, w, v, r);
  for (int i = 0; i < 9; ++i) store8(frame + 8 * i, chunk[i]);
}

void decodiere_AMBEplus2_33(unsigned char* frame, char* err_a, char* err_b, unsigned char order, unsigned char* voice) {
  uint64_t received[9];
  for (int i = 0; i < 9; ++i) received[i] = load8(frame + 8 * i);
  uint32_t w, v, r;
  deinterleave(received, &w, &v, &r);

  // W0 is only the overall parity: it decides nothing unless the Golay(23,12)
  // part needed all three corrections, where a disagreeing parity reveals a
  // fourth error.
  const uint32_t ea = Fehlermuster_Golay_23_12[golay_syndrome(w >> 1)];
  const int count_a = pattern_weight(ea);
  const uint32_t w23 = (w >> 1) ^ ea;
  const uint32_t parity = parity_of(w23);
  if (count_a == 3 && parity != (w & 1u)) {
    *err_a = 4;
    *err_b = 3;
    return;
  }
  const uint32_t a = w23 >> 11;
  const uint32_t mask = kAmbeScrambleMask[a];
  const uint32_t eb = Fehlermuster_Golay_23_12[golay_syndrome(v ^ mask)];
  const uint32_t u = v ^ mask ^ eb;
  *err_a = static_cast<char>(count_a);
  *err_b = static_cast<char>(pattern_weight(eb));

  uint64_t corrected[9];
  interleave(corrected, (w23 << 1) | parity, u ^ mask, r);
  for (int i = 0; i < 9; ++i) store8(frame + 8 * i, (received[i] & kRLanes[i]) | (corrected[i] & ~kRLanes[i]));

  write_voice(voice, order, (static_cast<uint64_t>(a) << 37) | (static_cast<uint64_t>(u >> 11) << 25) | r);
}
