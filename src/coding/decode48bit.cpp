#include "coding/decode48bit.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "coding/bit_lanes.h"
#include "coding/coding_tables.h"

unsigned char rawLC[128];
int currentState = -1;
int dataReady = 0;

namespace {

// On the receive side a bit counts as set only when its byte is exactly 1.
uint32_t bit_of(unsigned char b) { return b == 1 ? 1u : 0u; }

uint32_t pack_bits(const unsigned char* bits, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 1) | bit_of(bits[i]);
  return v;
}

// 1 in each byte lane that holds exactly 1, 0 elsewhere (carry-free zero-byte test).
uint64_t lanes_equal_one(uint64_t x) {
  const uint64_t y = x ^ kByteLsb;
  const uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
  const uint64_t nonzero = ((y & low7) + low7) | y;
  return (~nonzero >> 7) & kByteLsb;
}

// A matrix row holds D0..D10 in bits 15..5 and P0..P4 in bits 4..0.
bool row_checks(uint32_t row) { return (row & 0x1Fu) == kHammingParity[(row >> 5) & 0x7FFu]; }

uint32_t octet_checksum(const unsigned char* octets) {
  uint32_t sum = 0;
  for (int i = 0; i < 9; ++i) sum += octets[i];
  return sum % 31;
}

}  // namespace

void encode_MultiBlockEmbeddedLC(unsigned char* head, unsigned char* dest, unsigned char* source,
                                 unsigned char* block) {
  const unsigned char octet[9] = {head[0], head[1],   head[2],   dest[0],  dest[1],
                                  dest[2], source[0], source[1], source[2]};
  uint64_t lc = 0;  // LC[0..63], LC[0] in bit 63; LC[64..71] is octet 8
  for (int i = 0; i < 8; ++i) lc = (lc << 8) | octet[i];
  const uint32_t cs = octet_checksum(octet);

  // Rows 2-6 carry ten LC bits and one checksum bit (CS4 in row 2) each.
  uint32_t data[7];
  data[0] = static_cast<uint32_t>(lc >> 53);
  data[1] = static_cast<uint32_t>(lc >> 42) & 0x7FFu;
  for (int r = 2; r < 6; ++r)
    data[r] = ((static_cast<uint32_t>(lc >> (32 - 10 * (r - 2))) & 0x3FFu) << 1) | ((cs >> (6 - r)) & 1u);
  data[6] = ((((static_cast<uint32_t>(lc) & 3u) << 8) | octet[8]) << 1) | (cs & 1u);

  // Byte r of left/right holds columns 0-7 / 8-15 of row r, column 0 in bit
  // 7, so shifting column c down to bit 0 of every lane yields the eight
  // bytes of that column as the block sends them.
  uint32_t parity_row = 0;
  uint64_t left = 0, right = 0;
  for (int r = 0; r < 8; ++r) {
    uint32_t row = parity_row;
    if (r < 7) {
      row = (data[r] << 5) | kHammingParity[data[r]];
      parity_row ^= row;
    }
    left |= static_cast<uint64_t>(row >> 8) << (8 * r);
    right |= static_cast<uint64_t>(row & 0xFFu) << (8 * r);
  }
  for (int c = 0; c < 8; ++c) {
    store8(block + 8 * c, (left >> (7 - c)) & kByteLsb);
    store8(block + 64 + 8 * c, (right >> (7 - c)) & kByteLsb);
  }
}

int hamming16114encode(unsigned char* data, unsigned char* parity) {
  const uint32_t p = kHammingParity[pack_bits(data, 11)];
  for (int k = 0; k < 5; ++k) parity[k] = static_cast<unsigned char>((p >> (4 - k)) & 1u);
  return 0;
}

int crcFiveBit(unsigned char* lc, int) {
  unsigned char octet[9];
  for (int i = 0; i < 9; ++i) octet[i] = static_cast<unsigned char>(pack_bits(lc + 8 * i, 8));
  return static_cast<int>(octet_checksum(octet));
}

int QuadResidue1676(unsigned char* emb) {
  // The code words are d followed by nine check bits, so the only candidate
  // for a received word is the entry its top seven bits index.
  const uint32_t word = pack_bits(emb, 16);
  return kQrCodewords[word >> 9] == word ? 1 : 0;
}

int EMBdecode(unsigned char* section, unsigned char* emb) {
  std::memcpy(emb, section, 8);
  std::memcpy(emb + 8, section + 40, 8);
  if (!QuadResidue1676(emb)) {
    puts("No voice - maybe data.\r");
    return -1;
  }
  return static_cast<int>(bit_of(emb[5]) * 2 + bit_of(emb[6]));
}

int hamming16114(unsigned char* row) { return row_checks(pack_bits(row, 16)) ? 1 : 0; }

int decode_MultiBlockEmbeddedLC(unsigned char* head, unsigned char* dest, unsigned char* source) {
  // Each 8-byte column of rawLC adds one bit to every row lane: byte r of
  // left/right ends up as columns 0-7 / 8-15 of row r.
  uint64_t left = 0, right = 0;
  for (int c = 0; c < 8; ++c) {
    left = (left << 1) | lanes_equal_one(load8(rawLC + 8 * c));
    right = (right << 1) | lanes_equal_one(load8(rawLC + 64 + 8 * c));
  }
  uint32_t row[7];
  for (int r = 0; r < 7; ++r)
    row[r] = static_cast<uint32_t>(((left >> (8 * r)) & 0xFFu) << 8 | ((right >> (8 * r)) & 0xFFu));

  // LC[0] is the one bit allowed a retry: a first octet that should start
  // with 0 survives a flipped leading bit.
  if (!row_checks(row[0])) {
    row[0] &= 0x7FFFu;
    if (!row_checks(row[0])) {
      printf(" -> Hamming1 %d failed\r\n", 0);
      return 0;
    }
  }
  for (int r = 1; r < 7; ++r) {
    if (!row_checks(row[r])) {
      printf(" -> Hamming %d failed\r\n", 16 * r);
      return 0;
    }
  }
  // Row 7 (column parity) is not consulted.

  uint32_t data[7];
  for (int r = 0; r < 7; ++r) data[r] = row[r] >> 5;
  const uint64_t lc = static_cast<uint64_t>(data[0]) << 53 | static_cast<uint64_t>(data[1]) << 42 |
                      static_cast<uint64_t>(data[2] >> 1) << 32 | static_cast<uint64_t>(data[3] >> 1) << 22 |
                      static_cast<uint64_t>(data[4] >> 1) << 12 | static_cast<uint64_t>(data[5] >> 1) << 2 |
                      (data[6] >> 9);
  uint32_t cs = 0;
  for (int r = 2; r < 7; ++r) cs = (cs << 1) | (data[r] & 1u);

  unsigned char octet[9];
  for (int i = 0; i < 8; ++i) octet[i] = static_cast<unsigned char>(lc >> (56 - 8 * i));
  octet[8] = static_cast<unsigned char>(data[6] >> 1);
  if (octet_checksum(octet) != cs) {
    puts("5bit-CRC failed\r");
    return 0;
  }
  std::memcpy(head, octet, 3);
  std::memcpy(dest, octet + 3, 3);
  std::memcpy(source, octet + 6, 3);
  return 1;
}

int addData(unsigned char* fragment, int lcss, unsigned char* head, unsigned char* dest, unsigned char* source) {
  switch (lcss) {
    case 0:
      processSingleBlockEmbeddedLC(fragment);
      return 2;
    case 1:
      std::memcpy(rawLC, fragment, 32);
      currentState = 1;
      return 2;
    case 3:
      // A continuation out of turn is dropped; the collection stays where it was.
      if (currentState == 1 || currentState == 2) {
        std::memcpy(rawLC + 32 * currentState, fragment, 32);
        ++currentState;
      }
      return 2;
    case 2:
      if (currentState != 3) return 2;
      std::memcpy(rawLC + 96, fragment, 32);
      currentState = 0;
      if (decode_MultiBlockEmbeddedLC(head, dest, source)) return 1;
      puts("Bad Embedded Multi Block LC\r");
      return 0;
    default:
      return 2;
  }
}

void processSingleBlockEmbeddedLC(unsigned char* fragment) {
  bool any = false;
  for (int i = 0; i < 32; ++i) any = any || fragment[i] != 0;
  if (any) {
    printf("Single Data: ");
    for (int i = 0; i < 32; ++i) printf("%d", fragment[i]);
    printf("\r\n");
  }
  dataReady = 1;
}
