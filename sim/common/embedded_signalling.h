#pragma once
// The signalling in the centre of DMR voice bursts B..F: the 16-bit EMB
// (colour code, PI, LCSS with QR(16,7,6) parity) and the embedded link
// control, 72 LC bits with a 5-bit checksum in a Hamming(16,11,4) block
// product code, sent column by column in four 32-bit fragments.
#include <array>
#include <cstdint>

namespace simdmr {

using EmbeddedBlock = std::array<uint8_t, 128>;  // one bit per byte
using LinkControl = std::array<uint8_t, 9>;      // LC octets 0..8

struct Emb {
  bool valid = false;  // a QR(16,7,6) code word
  uint8_t colour_code = 0;
  uint8_t pi = 0;
  uint8_t lcss = 0;
};

// LCSS of bursts A..F: B starts the embedded LC, C and D continue it, E
// ends it; F carries null signalling (burst A has no EMB).
constexpr uint8_t kBurstLcss[6] = {0, 1, 3, 3, 2, 0};
// Embedded signalling bits in the centre of one burst.
constexpr unsigned kFragmentBits = 32;

uint16_t emb_encode(uint8_t colour_code, uint8_t pi, uint8_t lcss);
Emb emb_decode(uint16_t word);

EmbeddedBlock embedded_lc_encode(const LinkControl& lc);

struct EmbeddedDecode {
  bool rows_ok = false;     // every row a Hamming(16,11,4) code word
  bool columns_ok = false;  // row 7 holds the even column parity
  bool checksum_ok = false;
  LinkControl lc{};
};
EmbeddedDecode embedded_lc_decode(const EmbeddedBlock& block);

// A group-call link control (FLCO 0) for destination and source.
LinkControl group_call_lc(uint32_t destination, uint32_t source);

}  // namespace simdmr
