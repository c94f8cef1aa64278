// The AMBE+2 frame coder that the network-to-Motorola path runs on every
// received voice frame, with its oracles: decode(encode(x)) == x with no
// corrections in both bit orders, at most three flipped bits in either
// protected word are corrected, and any frame the decoder accepts is left
// as the encoder would have made it from the decoded bits.
//
// Input: byte 0 picks the bit order; then 7 bytes of voice bits (49 used),
// then 9 bytes of an arbitrary received frame (72 bits), then up to three
// bytes naming bit positions to flip in the encoded frame.
#include <cstdint>
#include <cstring>

#include "coding/AMBEplus2_33.h"
#include "fuzz_support.h"

namespace {

void unpack(const uint8_t* bytes, size_t bits_wanted, unsigned char* bits) {
  for (size_t i = 0; i < bits_wanted; ++i) bits[i] = (bytes[i / 8] >> (7 - i % 8)) & 1;
}

// Frame positions of the A word (W23..W0) and B word (V22..V0), in
// interleaving order: sequence bit k sits at 4 * (k % 18) + k / 18.
int frame_position(int k) { return 4 * (k % 18) + k / 18; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  init_Golay_23_12();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 + 7 + 9) return 0;
  const unsigned char order = data[0];

  unsigned char voice[49];
  unpack(data + 1, 49, voice);
  unsigned char frame[72];
  codiere_AMBEplus2_33(frame, order, voice);
  unsigned char encoded[72];
  memcpy(encoded, frame, sizeof frame);
  for (unsigned char bit : frame) FUZZ_CHECK(bit <= 1);

  char err_a = -1, err_b = -1;
  unsigned char decoded[49];
  decodiere_AMBEplus2_33(frame, &err_a, &err_b, order, decoded);
  FUZZ_CHECK(err_a == 0 && err_b == 0);
  FUZZ_CHECK(memcmp(decoded, voice, sizeof voice) == 0);
  FUZZ_CHECK(memcmp(frame, encoded, sizeof frame) == 0);

  // Up to three flipped bits inside W23..W1 (sequence 0..22) or inside the
  // B word (sequence 24..46) are corrected and counted.
  const size_t flips = size - 17 > 3 ? 3 : size - 17;
  if (flips > 0) {
    bool in_a = (data[17] & 0x80) == 0;
    bool flipped[23] = {};
    int count = 0;
    for (size_t i = 0; i < flips; ++i) {
      int bit = data[17 + i] % 23;
      if (flipped[bit]) continue;
      flipped[bit] = true;
      ++count;
      int sequence = in_a ? bit : 24 + bit;
      frame[frame_position(sequence)] ^= 1;
    }
    decodiere_AMBEplus2_33(frame, &err_a, &err_b, order, decoded);
    FUZZ_CHECK(err_a == (in_a ? count : 0) && err_b == (in_a ? 0 : count));
    FUZZ_CHECK(memcmp(decoded, voice, sizeof voice) == 0);
    FUZZ_CHECK(memcmp(frame, encoded, sizeof frame) == 0);
  }

  // An arbitrary received frame: either refused untouched, or corrected into
  // exactly what the encoder makes of the decoded bits.
  unsigned char received[72];
  unpack(data + 8, 72, received);
  unsigned char before[72];
  memcpy(before, received, sizeof received);
  unsigned char out[49];
  memset(out, 0x5A, sizeof out);
  decodiere_AMBEplus2_33(received, &err_a, &err_b, order, out);
  FUZZ_CHECK(err_a >= 0 && err_a <= 4 && err_b >= 0 && err_b <= 3);
  if (err_a == 4) {
    FUZZ_CHECK(err_b == 3);
    FUZZ_CHECK(memcmp(received, before, sizeof received) == 0);
    for (unsigned char bit : out) FUZZ_CHECK(bit == 0x5A);
  } else {
    unsigned char again[72];
    codiere_AMBEplus2_33(again, order, out);
    FUZZ_CHECK(memcmp(again, received, sizeof again) == 0);
  }
  return 0;
}
