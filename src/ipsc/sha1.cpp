#include "ipsc/sha1.h"

#include <cstring>
#include <utility>

Sha1Context sha1_global_context;
uint32_t (&message)[16] = sha1_global_context.message;
unsigned char (&shadigest)[24] = sha1_global_context.digest;

namespace {

constexpr unsigned kCountOffset = 20;

constexpr uint32_t rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Compilers turn this shift pattern into a single byte-swapping load.
inline uint32_t load_be32(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

inline uint16_t byte_count(const Sha1Context& c) {
  uint16_t count;
  memcpy(&count, c.digest + kCountOffset, sizeof count);
  return count;
}

inline void set_byte_count(Sha1Context& c, uint16_t count) { memcpy(c.digest + kCountOffset, &count, sizeof count); }

// One round, with everything that depends on the round number resolved at
// compile time so the unrolled body carries no branches. The caller rotates
// the roles of a..e instead of moving values between them.
template <int t>
[[gnu::always_inline]] inline void sha1_round(uint32_t* w, uint32_t a, uint32_t& b, uint32_t c, uint32_t d,
                                              uint32_t& e) {
  uint32_t x;
  if constexpr (t < 16) {
    x = w[t];
  } else {
    x = rol(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
    w[t & 15] = x;
  }
  uint32_t f;
  uint32_t k;
  if constexpr (t < 20) {
    f = d ^ (b & (c ^ d));
    k = 0x5A827999u;
  } else if constexpr (t < 40) {
    f = b ^ c ^ d;
    k = 0x6ED9EBA1u;
  } else if constexpr (t < 60) {
    // Majority written as a sum of disjoint terms so the adds can reassociate.
    f = (b & c) + (d & (b ^ c));
    k = 0x8F1BBCDCu;
  } else {
    f = b ^ c ^ d;
    k = 0xCA62C1D6u;
  }
  e += rol(a, 5) + f + k + x;
  b = rol(b, 30);
}

// After five rounds every variable is back in its original role.
template <int t>
[[gnu::always_inline]] inline void sha1_five_rounds(uint32_t* w, uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d,
                                                    uint32_t& e) {
  sha1_round<t + 0>(w, a, b, c, d, e);
  sha1_round<t + 1>(w, e, a, b, c, d);
  sha1_round<t + 2>(w, d, e, a, b, c);
  sha1_round<t + 3>(w, c, d, e, a, b);
  sha1_round<t + 4>(w, b, c, d, e, a);
}

template <int... group>
[[gnu::always_inline]] inline void sha1_all_rounds(std::integer_sequence<int, group...>, uint32_t* w, uint32_t& a,
                                                   uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e) {
  (sha1_five_rounds<5 * group>(w, a, b, c, d, e), ...);
}

}  // namespace

void sha1_init(Sha1Context& c) {
  static constexpr uint32_t kInitial[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  memcpy(c.digest, kInitial, sizeof kInitial);
  set_byte_count(c, 0);
}

void sha1_compress(Sha1Context& c) {
  // A local copy of the schedule lets the compiler keep it in registers; it
  // is written back so the context ends up holding the schedule as before.
  uint32_t w[16];
  memcpy(w, c.message, sizeof w);
  uint32_t h[5];
  memcpy(h, c.digest, sizeof h);
  uint32_t a = h[0], b = h[1], cc = h[2], d = h[3], e = h[4];
  sha1_all_rounds(std::make_integer_sequence<int, 16>{}, w, a, b, cc, d, e);
  h[0] += a;
  h[1] += b;
  h[2] += cc;
  h[3] += d;
  h[4] += e;
  memcpy(c.digest, h, sizeof h);
  memcpy(c.message, w, sizeof w);
}

void sha1_block(Sha1Context& c, const unsigned char* data, unsigned char len) {
  // The block buffer holds 64 bytes; never write past it, whatever a caller passes.
  if (len > 64) len = 64;
  uint32_t* message_words = c.message;
  const unsigned words = len / 4u;
  for (unsigned k = 0; k < words; ++k) message_words[k] = load_be32(data + 4 * k);
  const uint16_t count = static_cast<uint16_t>(byte_count(c) + len);
  set_byte_count(c, count);
  if (len == 64) {
    sha1_compress(c);
    return;
  }

  // Final piece: the 0x80 end marker goes right behind the last data byte.
  const unsigned rest = len & 3u;
  uint32_t tail = 0x80u << (24 - 8 * rest);
  for (unsigned j = 0; j < rest; ++j) tail |= uint32_t{data[4 * words + j]} << (24 - 8 * j);
  message_words[words] = tail;
  for (unsigned k = words + 1; k < 16; ++k) message_words[k] = 0;
  if (len >= 56) {
    // No room left for the length: it gets a block of its own.
    sha1_compress(c);
    for (unsigned k = 0; k < 15; ++k) message_words[k] = 0;
  }
  message_words[15] = uint32_t{count} * 8u;
  sha1_compress(c);
}

void sha1_done(Sha1Context& c) {
  for (unsigned i = 0; i < 5; ++i) {
    uint32_t word;
    memcpy(&word, c.digest + 4 * i, sizeof word);
    c.digest[4 * i + 0] = static_cast<unsigned char>(word >> 24);
    c.digest[4 * i + 1] = static_cast<unsigned char>(word >> 16);
    c.digest[4 * i + 2] = static_cast<unsigned char>(word >> 8);
    c.digest[4 * i + 3] = static_cast<unsigned char>(word);
  }
}

void sha1_feed_message(Sha1Context& c, const unsigned char* data, size_t len) {
  while (len >= 64) {
    sha1_block(c, data, 64);
    data += 64;
    len -= 64;
  }
  sha1_block(c, data, static_cast<unsigned char>(len));
}

void SHA1Init() { sha1_init(sha1_global_context); }
void SHA1() { sha1_compress(sha1_global_context); }
void SHA1Block(const unsigned char* data, unsigned char len) { sha1_block(sha1_global_context, data, len); }
void SHA1Done() { sha1_done(sha1_global_context); }

void SHA1Once(const unsigned char* data, int len) {
  SHA1Init();
  if (len >= 0) sha1_feed_message(sha1_global_context, data, static_cast<size_t>(len));
  SHA1Done();
}
