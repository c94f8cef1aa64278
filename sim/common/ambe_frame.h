#pragma once
// AMBE+2 voice frame forward error correction as carried in DMR voice
// bursts: 49 voice bits become a 72-bit air frame (extended Golay(24,12) over
// field A, Golay(23,12) scrambled by field A over field B, 25 bits of field R
// unprotected, interleaved in 18 groups of four). Bits are in the straight
// order: A11..A0, B11..B0, R24..R0.
#include <array>
#include <cstdint>

namespace simdmr {

using VoiceBits = std::array<uint8_t, 49>;  // one bit per byte
using AirFrame = std::array<uint8_t, 72>;   // one bit per byte, f[0] first on air

struct FrameDecode {
  VoiceBits voice{};
  int a_errors = 0;  // bits corrected in W23..W1
  int b_errors = 0;  // bits corrected in the descrambled B word
  bool w0_wrong = false;
  bool uncorrectable = false;  // four or more errors in the A word
};

uint32_t golay23_encode(uint32_t data12);
uint32_t golay24_encode(uint32_t data12);
uint32_t scrambling_mask(uint32_t field_a);

AirFrame encode_frame(const VoiceBits& voice);
FrameDecode decode_frame(const AirFrame& frame);

// Flips frame bits of the A word (a_flips of W23..W1) and of the B word
// (b_flips of V22..V0), choosing positions from `seed`.
void inject_errors(AirFrame& frame, int a_flips, int b_flips, uint32_t seed);

}  // namespace simdmr
