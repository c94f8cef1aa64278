#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "coding/AMBEplus2_33.h"

namespace {

using Bits = std::vector<unsigned char>;

// The code's definitions, bit-serial and independent of the module's tables.
uint32_t remainder_of(uint32_t w) {
  uint32_t s = 0;
  for (int n = 22; n >= 0; --n) s = ((s << 1) | ((w >> n) & 1u)) ^ (((s >> 10) & 1u) * 0xC75u);
  return s;
}
uint32_t code(uint32_t d) { return (d << 11) | remainder_of(d << 11); }
uint32_t ext(uint32_t d) { return (code(d) << 1) | (std::popcount(code(d)) & 1u); }
uint32_t mask_of(uint32_t a) {
  uint32_t p = a << 4, m = 0;
  for (int i = 0; i < 23; ++i) p = (173 * p + 13849) & 0xFFFF, m = (m << 1) | (p >> 15);
  return m;
}
enum Word { W, V, R };
int pos(Word word, int n) {  // frame position of bit n of W, V or R
  static const int last_k[3] = {23, 46, 71};
  const int k = last_k[word] - n;
  return 4 * (k % 18) + k / 18;
}
uint32_t word_of(const Bits& f, Word word, int width) {
  uint32_t v = 0;
  for (int n = width - 1; n >= 0; --n) v = (v << 1) | f[pos(word, n)];
  return v;
}
Bits flipped(Bits f, Word word, uint32_t pattern) {
  for (int n = 0; n < 25; ++n)
    if ((pattern >> n) & 1u) f[pos(word, n)] ^= 1;
  return f;
}

// Voice index of field bit m (A11..A0, B11..B0, R24..R0) in bit order 1.
int order1_source(int m) {
  static const int b[12] = {36, 39, 41, 43, 45, 47, 1, 4, 7, 10, 13, 16};
  static const int r_hi[12] = {19, 22, 25, 28, 31, 34, 37, 40, 42, 44, 46, 48};
  return m < 12 ? 3 * m : m < 24 ? b[m - 12] : m < 36 ? r_hi[m - 24] : 3 * (m - 36) + 2;
}
uint64_t fields_of(const Bits& voice, int order) {
  uint64_t f = 0;
  for (int m = 0; m < 49; ++m) f = (f << 1) | voice[order == 1 ? order1_source(m) : m];
  return f;
}

Bits encode(Bits voice, int order) {
  Bits f(72, 7);
  codiere_AMBEplus2_33(f.data(), static_cast<unsigned char>(order), voice.data());
  return f;
}
struct Decoded {
  int err_a, err_b;
  Bits voice, frame;
};
Decoded decode(Bits frame, int order) {
  Bits out(49, 5);
  char ea = -1, eb = -1;
  decodiere_AMBEplus2_33(frame.data(), &ea, &eb, static_cast<unsigned char>(order), out.data());
  return {ea, eb, out, frame};
}
Bits random_voice(std::mt19937& rng) {
  Bits v(49);
  for (auto& b : v) b = rng() & 1;
  return v;
}
std::string hex(const Bits& b) {
  std::string s;
  for (size_t i = 0; i < b.size(); i += 4) s += "0123456789ABCDEF"[b[i] * 8 + b[i + 1] * 4 + b[i + 2] * 2 + b[i + 3]];
  return s;
}

TEST(Golay, SyndromesAndErrorTable) {
  init_Golay_23_12();
  unsigned short s = 0;
  for (auto [word, want] : {std::pair{0x400000u, 0x63Au}, {0x000800u, 0x475u}, {0x7FFFFFu, 0u}}) {
    Syndromberechnung(word, &s);
    EXPECT_EQ(s, want);
  }
  for (uint32_t w = 0; w < (1u << 23); ++w) {
    Syndromberechnung(w | ((w * 0x9E3779B1u) & 0xFF800000u), &s);  // bits above 22 are ignored
    ASSERT_EQ(s, remainder_of(w)) << w;
  }
  // 2048 entries of weight <= 3, each with its index as syndrome, are the
  // 2048 distinct patterns of weight <= 3.
  for (uint32_t i = 0; i < 2048; ++i) {
    const uint32_t e = Fehlermuster_Golay_23_12[i];
    ASSERT_TRUE(e < (1u << 23) && std::popcount(e) <= 3 && remainder_of(e) == i) << i;
  }
}

TEST(Golay, EncoderFollowsTheCodeAndRoundTrips) {
  init_Golay_23_12();
  auto with = [](uint32_t a, uint32_t b) {
    Bits v(49, 0);
    for (int i = 0; i < 12; ++i) v[i] = (a >> (11 - i)) & 1, v[12 + i] = (b >> (11 - i)) & 1;
    return encode(v, 2);
  };
  // W is the extended code word of A; with B = 0, V is the mask of A; with
  // A = 0, V is B's code word under the mask of 0.
  for (auto [a, w] : {std::pair{0x001u, 0x0018EBu}, {0x800u, 0x800C75u}, {0x123u, 0x1230ACu}})
    EXPECT_EQ(word_of(with(a, 0), W, 24), w);
  for (auto [a, m] : {std::pair{0x000u, 0x216623u}, {0x001u, 0x0CEB7Fu}, {0x800u, 0x5E99DCu}, {0xFFFu, 0x059F84u}})
    EXPECT_EQ(word_of(with(a, 0), V, 23), m);
  for (auto [b, c] : {std::pair{0x001u, 0x000C75u}, {0x800u, 0x40063Au}, {0x123u, 0x091856u}, {0xFFFu, 0x7FFFFFu}})
    EXPECT_EQ(word_of(with(0, b), V, 23) ^ 0x216623u, c);
  EXPECT_EQ(hex(with(0, 0)), "220002040220404400");
  EXPECT_EQ(hex(with(0x800, 0)), "C426246264448C004C");
  EXPECT_EQ(hex(encode(Bits(49, 1), 2)), "DDDDFFFFDFBFBBFFBB");

  std::mt19937 rng(20240501);
  for (int i = 0; i < 3000; ++i) {
    const Bits v = random_voice(rng);
    for (int order : {0, 1, 2, 9}) {
      const uint64_t f = fields_of(v, order);
      const uint32_t a = static_cast<uint32_t>(f >> 37), b = (f >> 25) & 0xFFF;
      const Bits frame = encode(v, order);
      ASSERT_EQ(word_of(frame, W, 24), ext(a));
      ASSERT_EQ(word_of(frame, V, 23), code(b) ^ mask_of(a));
      ASSERT_EQ(word_of(frame, R, 25), f & 0x1FFFFFF);
      const Decoded d = decode(frame, order);
      ASSERT_TRUE(d.err_a == 0 && d.err_b == 0 && d.voice == v && d.frame == frame) << i << " " << order;
    }
  }
}

TEST(Golay, CorrectsDetectsAndPassesThrough) {
  init_Golay_23_12();
  std::mt19937 rng(11);
  for (int i = 0; i < 12; ++i) {
    const Bits v = random_voice(rng);
    const int order = i % 2 ? 1 : 2;
    const Bits clean = encode(v, order);
    auto expect = [&](Word word, uint32_t pattern, int want_a, int want_b) {
      const Decoded d = decode(flipped(clean, word, pattern), order);
      ASSERT_TRUE(d.err_a == want_a && d.err_b == want_b && d.voice == v && d.frame == clean)
          << word << " " << std::hex << pattern << " " << d.err_a << d.err_b;
    };
    // Every pattern of weight 1..3 in W23..W1 (with and without W0) and in V.
    for (uint32_t e = 1; e < (1u << 23); ++e) {
      const int weight = std::popcount(e);
      if (weight > 3) continue;
      expect(W, e << 1, weight, 0);
      expect(V, e, 0, weight);
      if (weight < 3) expect(W, (e << 1) | 1u, weight, 0);
    }
    expect(W, 1u, 0, 0);

    // Four errors in W23..W1 leave everything as received.
    for (int n = 0; n < 400; ++n) {
      uint32_t e = 0;
      while (std::popcount(e) < 4) e |= 2u << (rng() % 23);
      const Bits received = flipped(clean, W, e);
      const Decoded d = decode(received, order);
      ASSERT_TRUE(d.err_a == 4 && d.err_b == 3 && d.voice == Bits(49, 5) && d.frame == received);
    }
    // Field R is handed on as received and counted nowhere.
    for (int n = 0; n < 25; ++n) {
      const Bits received = flipped(clean, R, 1u << n);
      Bits want = v;
      want[order == 1 ? order1_source(48 - n) : 48 - n] ^= 1;
      const Decoded d = decode(received, order);
      ASSERT_TRUE(d.err_a == 0 && d.err_b == 0 && d.voice == want && d.frame == received) << n;
    }
  }
}

}  // namespace
