#include "embedded_signalling.h"

#include <cstddef>

namespace simdmr {
namespace {

using Row = std::array<uint8_t, 16>;
using Matrix = std::array<Row, 8>;

// Parity P0..P4 of data D0..D10 (one equation per parity bit).
constexpr uint16_t kParityTaps[5] = {
    // bit i set: D_i takes part
    (1 << 0) | (1 << 1) | (1 << 2) | (1 << 3) | (1 << 5) | (1 << 7) | (1 << 8),
    (1 << 1) | (1 << 2) | (1 << 3) | (1 << 4) | (1 << 6) | (1 << 8) | (1 << 9),
    (1 << 2) | (1 << 3) | (1 << 4) | (1 << 5) | (1 << 7) | (1 << 9) | (1 << 10),
    (1 << 0) | (1 << 1) | (1 << 2) | (1 << 4) | (1 << 6) | (1 << 7) | (1 << 10),
    (1 << 0) | (1 << 2) | (1 << 5) | (1 << 6) | (1 << 8) | (1 << 9) | (1 << 10),
};

void row_parity(Row& row) {
  for (int p = 0; p < 5; ++p) {
    uint8_t x = 0;
    for (int d = 0; d < 11; ++d)
      if (kParityTaps[p] & (1 << d)) x ^= row[static_cast<std::size_t>(d)];
    row[static_cast<std::size_t>(11 + p)] = x;
  }
}

bool row_valid(const Row& row) {
  Row copy = row;
  row_parity(copy);
  return copy == row;
}

unsigned lc_checksum(const LinkControl& lc) {
  unsigned sum = 0;
  for (uint8_t o : lc) sum += o;
  return sum % 31;
}

uint8_t lc_bit(const LinkControl& lc, unsigned k) { return (lc[k / 8] >> (7 - k % 8)) & 1; }

// Which LC bit (or checksum bit, as 100 + n for CS(4-n)) sits at row r, column c < 11.
int matrix_source(unsigned r, unsigned c) {
  if (r < 2) return static_cast<int>(r * 11 + c);
  if (c < 10) return static_cast<int>(22 + (r - 2) * 10 + c);
  return static_cast<int>(100 + (r - 2));
}

}  // namespace

uint16_t emb_encode(uint8_t colour_code, uint8_t pi, uint8_t lcss) {
  static constexpr uint16_t rows[7] = {0x04F, 0x11E, 0x1B7, 0x1E2, 0x1C9, 0x0E5, 0x073};
  const unsigned d = ((colour_code & 0xFu) << 3) | ((pi & 1u) << 2) | (lcss & 3u);
  unsigned q = 0;
  for (unsigned i = 0; i < 7; ++i)
    if (d & (0x40u >> i)) q ^= rows[i];
  return static_cast<uint16_t>((d << 9) | q);
}

Emb emb_decode(uint16_t word) {
  Emb e;
  const unsigned d = word >> 9;
  e.valid =
      emb_encode(static_cast<uint8_t>(d >> 3), static_cast<uint8_t>((d >> 2) & 1), static_cast<uint8_t>(d & 3)) == word;
  e.colour_code = static_cast<uint8_t>(d >> 3);
  e.pi = static_cast<uint8_t>((d >> 2) & 1);
  e.lcss = static_cast<uint8_t>(d & 3);
  return e;
}

EmbeddedBlock embedded_lc_encode(const LinkControl& lc) {
  Matrix m{};
  const unsigned cs = lc_checksum(lc);
  for (unsigned r = 0; r < 7; ++r) {
    for (unsigned c = 0; c < 11; ++c) {
      const int src = matrix_source(r, c);
      m[r][c] =
          src >= 100 ? static_cast<uint8_t>((cs >> (4 - (src - 100))) & 1) : lc_bit(lc, static_cast<unsigned>(src));
    }
    row_parity(m[r]);
  }
  for (unsigned c = 0; c < 16; ++c)
    for (unsigned r = 0; r < 7; ++r) m[7][c] ^= m[r][c];
  EmbeddedBlock b{};
  for (unsigned k = 0; k < 128; ++k) b[k] = m[k % 8][k / 8];
  return b;
}

EmbeddedDecode embedded_lc_decode(const EmbeddedBlock& block) {
  Matrix m{};
  for (unsigned k = 0; k < 128; ++k) m[k % 8][k / 8] = block[k] & 1;
  EmbeddedDecode out;
  out.rows_ok = true;
  for (unsigned r = 0; r < 7; ++r) out.rows_ok = out.rows_ok && row_valid(m[r]);
  out.columns_ok = true;
  for (unsigned c = 0; c < 16; ++c) {
    uint8_t x = 0;
    for (unsigned r = 0; r < 8; ++r) x ^= m[r][c];
    out.columns_ok = out.columns_ok && x == 0;
  }
  unsigned cs = 0;
  for (unsigned r = 0; r < 7; ++r) {
    for (unsigned c = 0; c < 11; ++c) {
      const int src = matrix_source(r, c);
      if (src >= 100) {
        cs = (cs << 1) | m[r][c];
      } else {
        const auto k = static_cast<unsigned>(src);
        out.lc[k / 8] = static_cast<uint8_t>(out.lc[k / 8] | (m[r][c] << (7 - k % 8)));
      }
    }
  }
  out.checksum_ok = cs == lc_checksum(out.lc);
  return out;
}

LinkControl group_call_lc(uint32_t destination, uint32_t source) {
  return {0,
          0,
          0,
          static_cast<uint8_t>(destination >> 16),
          static_cast<uint8_t>(destination >> 8),
          static_cast<uint8_t>(destination),
          static_cast<uint8_t>(source >> 16),
          static_cast<uint8_t>(source >> 8),
          static_cast<uint8_t>(source)};
}

}  // namespace simdmr
