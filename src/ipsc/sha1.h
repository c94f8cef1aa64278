#pragma once
// SHA-1 with its streaming interface. Each thread that hashes on its own
// (the voice thread signs, the IPSC thread verifies) keeps a Sha1Context of
// its own; the classic global-context functions below work on one shared
// context whose arrays are `message` and `shadigest`.
//
// Feeding rule: any number of 64-byte pieces, then exactly one final piece of
// 0..63 bytes, which adds the padding. A message fed only in 64-byte pieces is
// not finished until a (possibly empty) final piece follows.
#include <cstddef>
#include <cstdint>

struct Sha1Context {
  // The block being hashed as big-endian words; compression reuses it as the
  // circular 16-word message schedule.
  uint32_t message[16];
  // Bytes 0..19: chaining words H0..H4 in native order while hashing, the
  // digest in standard byte order after sha1_done. Bytes 20..21: native
  // 16-bit count of bytes fed since sha1_init, so messages up to 65535 bytes
  // hash correctly. Bytes 22..23 are unused.
  alignas(4) unsigned char digest[24];
};

// Bytes of `digest` that carry the state between blocks: H0..H4 and the count.
constexpr unsigned SHA1_STATE_BYTES = 22;

void sha1_init(Sha1Context& c);
// len 64 is a full block; len 0..63 is the final piece. Longer pieces are cut to 64.
void sha1_block(Sha1Context& c, const unsigned char* data, unsigned char len);
void sha1_done(Sha1Context& c);
// Compresses c.message into H0..H4.
void sha1_compress(Sha1Context& c);
// Feeds a whole message after whatever the context already holds: its
// 64-byte pieces, then the final piece (empty when len is a multiple of 64).
void sha1_feed_message(Sha1Context& c, const unsigned char* data, size_t len);

// The process-wide context of the functions below.
extern Sha1Context sha1_global_context;
extern uint32_t (&message)[16];
extern unsigned char (&shadigest)[24];

void SHA1Init();
void SHA1Block(const unsigned char* data, unsigned char len);
void SHA1Done();
void SHA1();
void SHA1Once(const unsigned char* data, int len);
