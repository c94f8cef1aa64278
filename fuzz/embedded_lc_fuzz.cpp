// The embedded signalling decoder: EMB check of each burst's middle section,
// fragment collection across bursts and the block decode, fed with
// sequences of 48-bit sections; and the round trip through the encoder.
//
// Input: the first 9 bytes are a link control that must survive
// encode -> four fragments (LCSS 1, 3, 3, 2) -> decode unchanged; every
// following 6 bytes are one burst middle section (48 bits, most significant
// bit first) offered as the voice paths would: EMB check, then its 32
// embedded bits with the LCSS the EMB names.
#include <cstdint>
#include <cstring>

#include "coding/decode48bit.h"
#include "fuzz_support.h"

namespace {

void unpack(const uint8_t* bytes, size_t count, unsigned char* bits) {
  for (size_t i = 0; i < count * 8; ++i) bits[i] = (bytes[i / 8] >> (7 - i % 8)) & 1;
}

// Row r of the code matrix held column by column in a 128-bit block.
unsigned row_of(const unsigned char* block, int r) {
  unsigned row = 0;
  for (int c = 0; c < 16; ++c) row = row << 1 | (block[8 * c + r] == 1 ? 1u : 0u);
  return row;
}

void check_round_trip(const uint8_t* lc) {
  unsigned char head[3], dest[3], source[3];
  memcpy(head, lc, 3);
  memcpy(dest, lc + 3, 3);
  memcpy(source, lc + 6, 3);
  unsigned char block[128];
  encode_MultiBlockEmbeddedLC(head, dest, source, block);
  unsigned char out[9] = {};
  const int lcss[4] = {1, 3, 3, 2};
  currentState = -1;
  for (int n = 0; n < 4; ++n) {
    int result = addData(block + 32 * n, lcss[n], out, out + 3, out + 6);
    FUZZ_CHECK(result == (n < 3 ? 2 : 1));
  }
  FUZZ_CHECK(memcmp(out, lc, 9) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  check_round_trip(data);
  data += 9;
  size -= 9;

  currentState = -1;
  for (; size >= 6; data += 6, size -= 6) {
    unsigned char section[48];
    unpack(data, 6, section);
    unsigned char emb[16];
    int lcss = EMBdecode(section, emb);
    FUZZ_CHECK(memcmp(emb, section, 8) == 0 && memcmp(emb + 8, section + 40, 8) == 0);
    FUZZ_CHECK(lcss == (QuadResidue1676(emb) ? emb[5] * 2 + emb[6] : -1));
    if (lcss < 0) continue;

    const int state_before = currentState;
    unsigned char out[9];
    memset(out, 0xA5, sizeof out);
    int result = addData(section + 8, lcss, out, out + 3, out + 6);
    FUZZ_CHECK(result == 0 || result == 1 || result == 2);
    FUZZ_CHECK(currentState >= -1 && currentState <= 3);
    if (result == 2) continue;
    // Only a last fragment after three others completes a block.
    FUZZ_CHECK(lcss == 2 && state_before == 3 && currentState == 0);
    if (result == 0) {
      for (unsigned char byte : out) FUZZ_CHECK(byte == 0xA5);  // nothing written
      continue;
    }
    // A block that decoded re-encodes to the rows it was read from; only the
    // leading bit may differ (the retry of row 0 clears it), and the
    // column-parity row is not consulted.
    unsigned char block[128];
    encode_MultiBlockEmbeddedLC(out, out + 3, out + 6, block);
    FUZZ_CHECK((row_of(block, 0) | 0x8000u) == (row_of(rawLC, 0) | 0x8000u));
    FUZZ_CHECK((row_of(block, 0) & 0x8000u) <= (row_of(rawLC, 0) & 0x8000u));
    for (int r = 1; r < 7; ++r) FUZZ_CHECK(row_of(block, r) == row_of(rawLC, r));
    // Every row of the re-encoded block passes the parity check, and the
    // checksum of its LC bits is the one in column 10 of rows 2..6.
    unsigned char lc_bits[72];
    int cs = 0;
    for (int r = 0; r < 7; ++r) {
      unsigned char row[16];
      for (int c = 0; c < 16; ++c) row[c] = block[8 * c + r];
      FUZZ_CHECK(hamming16114(row) == 1);
      if (r >= 2) cs = cs << 1 | row[10];
    }
    for (int k = 0; k < 72; ++k) lc_bits[k] = (out[k / 8] >> (7 - k % 8)) & 1;
    FUZZ_CHECK(crcFiveBit(lc_bits, 0) == cs);
  }
  return 0;
}
