#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "coding/coding_tables.h"
#include "coding/decode48bit.h"
#include "support/test_support.h"

namespace {

using Bits = std::vector<unsigned char>;
using Octets = std::array<unsigned char, 9>;

Bits bits_of(uint32_t value, int n) {
  Bits b(n);
  for (int i = 0; i < n; ++i) b[i] = (value >> (n - 1 - i)) & 1u;
  return b;
}
int at(int r, int c) { return 8 * c + r; }  // block index of matrix row r, column c

Bits encode(Octets lc) {
  Bits block(144, 0xAA);  // eight guard bytes on each side
  encode_MultiBlockEmbeddedLC(lc.data(), lc.data() + 3, lc.data() + 6, block.data() + 8);
  EXPECT_EQ(std::count(block.begin(), block.begin() + 8, 0xAA) + std::count(block.end() - 8, block.end(), 0xAA), 16);
  return Bits(block.begin() + 8, block.end() - 8);
}
std::string hex(const Bits& b) {
  std::string s;
  for (size_t i = 0; i < b.size(); i += 4) s += "0123456789ABCDEF"[b[i] * 8 + b[i + 1] * 4 + b[i + 2] * 2 + b[i + 3]];
  return s;
}
// Offers the fragments with LCSS 1, 3, 3, 2; returns the results as digits
// followed by what was printed. Octets not written stay 0xEE.
std::string offer(const Bits& block, Octets* lc) {
  lc->fill(0xEE);
  std::string results;
  const std::string printed = capture_stdout([&] {
    const int lcss[4] = {1, 3, 3, 2};
    for (int n = 0; n < 4; ++n) {
      Bits fragment(block.begin() + 32 * n, block.begin() + 32 * n + 32);
      results += std::to_string(addData(fragment.data(), lcss[n], lc->data(), lc->data() + 3, lc->data() + 6));
    }
  });
  return results + printed;
}

TEST(EmbeddedLc, ChecksumParityAndBlockCheckValues) {
  EXPECT_EQ(currentState, -1);
  EXPECT_EQ(dataReady, 0);
  const Octets ones{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, nine_one{0, 0, 0, 0, 0, 9, 0, 0, 1};
  for (auto [lc, cs] : {std::pair{Octets{}, 0}, {ones, 1}, {nine_one, 10}, {Octets{0, 0, 0, 0, 0, 0, 0, 30, 1}, 0}}) {
    Bits bits;
    for (unsigned char o : lc)
      for (unsigned char b : bits_of(o, 8)) bits.push_back(b);
    EXPECT_EQ(crcFiveBit(bits.data(), 17), cs);
  }
  EXPECT_EQ(hex(encode(Octets{})), std::string(32, '0'));
  EXPECT_EQ(hex(encode(nine_one)), "0000090000090000000314000A171D17");
  EXPECT_EQ(hex(encode(ones)), "FFFFFFFFFFFFFFFFFFFFC3FFFFC3C3C3");

  // Every data word: parity as the equations say, the row checks, and every
  // single flipped bit of it is caught.
  static const int taps[5][7] = {{0, 1, 2, 3, 5, 7, 8},
                                 {1, 2, 3, 4, 6, 8, 9},
                                 {2, 3, 4, 5, 7, 9, 10},
                                 {0, 1, 2, 4, 6, 7, 10},
                                 {0, 2, 5, 6, 8, 9, 10}};
  for (uint32_t d = 0; d < 2048; ++d) {
    Bits row = bits_of(d << 5, 16);
    ASSERT_EQ(hamming16114encode(row.data(), row.data() + 11), 0);
    for (int k = 0; k < 5; ++k) {
      unsigned want = 0;
      for (int i : taps[k]) want ^= row[i];
      ASSERT_EQ(row[11 + k], want) << d;
    }
    ASSERT_EQ(hamming16114(row.data()), 1);
    for (int i = 0; i < 16; ++i) {
      row[i] ^= 1;
      ASSERT_EQ(hamming16114(row.data()), 0) << d << " " << i;
      row[i] ^= 1;
    }
  }
}

TEST(EmbeddedLc, EmbQrCode) {
  static const uint16_t rows[7] = {0x04F, 0x11E, 0x1B7, 0x1E2, 0x1C9, 0x0E5, 0x073};  // for E[0]..E[6]
  for (uint32_t d = 0; d < 128; ++d) {
    uint32_t q = 0;
    for (int i = 0; i < 7; ++i) q ^= ((d >> (6 - i)) & 1u) * rows[i];
    ASSERT_EQ(kQrCodewords[d], (d << 9) | q);
    for (uint32_t e = 0; e < d; ++e) ASSERT_GE(std::popcount(0u + (kQrCodewords[d] ^ kQrCodewords[e])), 6);
  }
  EXPECT_EQ(kQrCodewords[1], 0x0273);
  EXPECT_EQ(kQrCodewords[127], 0xFE5B);

  // Of all 65536 EMB values exactly the code words pass; EMBdecode takes
  // E[0..7] and E[8..15] from around the 32 signalling bits.
  int accepted = 0;
  std::string expected;
  const std::string printed = capture_stdout([&] {
    for (uint32_t word = 0; word < 65536; ++word) {
      const Bits emb = bits_of(word, 16);
      Bits section(48, 1), got(16, 7);
      std::copy(emb.begin(), emb.begin() + 8, section.begin());
      std::copy(emb.begin() + 8, emb.end(), section.begin() + 40);
      const int lcss = EMBdecode(section.data(), got.data());
      const bool valid = kQrCodewords[word >> 9] == word;
      accepted += QuadResidue1676(got.data());
      ASSERT_TRUE(got == emb && lcss == (valid ? static_cast<int>((word >> 9) & 3u) : -1)) << word;
      if (!valid) expected += "No voice - maybe data.\r\n";
    }
  });
  EXPECT_EQ(accepted, 128);
  EXPECT_EQ(printed, expected);
}

TEST(EmbeddedLc, FragmentsDecodeOrFailLoudly) {
  std::mt19937 rng(42);
  auto failed = [](const std::string& why) { return "2220" + why + "Bad Embedded Multi Block LC\r\n"; };
  Octets lc, got, untouched;
  untouched.fill(0xEE);
  for (int i = 0; i < 1000; ++i) {
    for (auto& o : lc) o = static_cast<unsigned char>(rng());
    const Bits good = encode(lc);
    auto with_flip = [&](int r, int c) {
      Bits b = good;
      b[at(r, c)] ^= 1;
      return b;
    };
    ASSERT_EQ(offer(good, &got), "2221");
    ASSERT_TRUE(got == lc && currentState == 0);
    const int c = static_cast<int>(rng() % 16);
    EXPECT_EQ(offer(with_flip(7, c), &got), "2221");  // column parity is not consulted
    for (int r = 1; r < 7; ++r) {
      ASSERT_EQ(offer(with_flip(r, c), &got), failed(" -> Hamming " + std::to_string(16 * r) + " failed\r\n"));
      ASSERT_EQ(got, untouched);
    }
    // Row 0 is retried with LC[0] = 0: only a leading 0 that arrived as 1 is rescued.
    const std::string hamming1 = failed(" -> Hamming1 0 failed\r\n");
    EXPECT_EQ(offer(with_flip(0, 0), &got), lc[0] & 0x80 ? hamming1 : "2221");
    EXPECT_EQ(got, lc[0] & 0x80 ? untouched : lc);
    EXPECT_EQ(offer(with_flip(0, 1 + c % 15), &got), hamming1);
    // LC[71] flipped and row 6 re-protected: only the checksum disagrees.
    Bits wrong_sum = with_flip(6, 9), row6(16);
    for (int k = 0; k < 11; ++k) row6[k] = wrong_sum[at(6, k)];
    hamming16114encode(row6.data(), row6.data() + 11);
    for (int k = 11; k < 16; ++k) wrong_sum[at(6, k)] = row6[k];
    ASSERT_EQ(offer(wrong_sum, &got), failed("5bit-CRC failed\r\n"));
    ASSERT_EQ(got, untouched);
  }
}

TEST(EmbeddedLc, CollectionStateAndSingleFragments) {
  const Octets lc{0, 0, 0, 0, 0x12, 0x34, 0, 0xAB, 0xCD};
  Bits block = encode(lc), zero(32, 0), last = bits_of(1u, 32);
  Octets out{};
  auto add = [&](int n, int lcss) {
    return addData(block.data() + 32 * n, lcss, out.data(), out.data() + 3, out.data() + 6);
  };
  // Continuation and last fragments out of turn are dropped without a reset.
  for (auto [n, lcss] : {std::pair{3, 2}, {1, 3}, {0, 1}, {1, 3}, {3, 2}}) EXPECT_EQ(add(n, lcss), 2);
  EXPECT_EQ(currentState, 2);
  for (auto [n, lcss] : {std::pair{2, 3}, {1, 3}, {0, -1}, {0, 4}}) EXPECT_EQ(add(n, lcss), 2);
  EXPECT_EQ(currentState, 3);
  EXPECT_EQ(add(3, 2), 1);
  EXPECT_EQ(out, lc);
  EXPECT_EQ(add(1, 3), 2);
  EXPECT_EQ(add(3, 2), 2);
  EXPECT_EQ(currentState, 0);
  EXPECT_EQ(memcmp(rawLC, block.data(), 128), 0);

  dataReady = 0;
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(addData(zero.data(), 0, out.data(), out.data() + 3, out.data() + 6), 2); }),
            "");
  EXPECT_TRUE(dataReady == 1 && currentState == 0);
  dataReady = 0;
  EXPECT_EQ(capture_stdout([&] { processSingleBlockEmbeddedLC(last.data()); }),
            "Single Data: 00000000000000000000000000000001\r\n");
  EXPECT_EQ(dataReady, 1);
}

}  // namespace
