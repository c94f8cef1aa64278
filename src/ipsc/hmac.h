#pragma once
// HMAC-SHA1 on top of sha1.h. Keys of up to 64 bytes only: longer keys are
// not hashed down first.
//
// The network key never changes while the daemon runs, yet every datagram
// would otherwise spend two of its compressions on the same two key blocks.
// An HmacKey holds both key blocks already compressed, so each HMAC costs only
// the message's compressions and the outer digest's. A thread keeps its own
// HmacKey and Sha1Context; nothing is shared between threads.
#include "ipsc/sha1.h"

struct HmacKey {
  unsigned char inner_block[64];                // key XOR 0x36, zero-padded: names the key
  unsigned char inner_state[SHA1_STATE_BYTES];  // context after the inner key block
  unsigned char outer_state[SHA1_STATE_BYTES];  // context after the outer key block
  bool valid;
};

// Makes `k` hold `key`; only recompresses when the key differs from the one it holds.
void hmac_use_key(HmacKey& k, const unsigned char* key, unsigned char keylen);
// Same from the inner key block itself (key XOR 0x36, padded to 64 bytes).
void hmac_use_inner_block(HmacKey& k, const unsigned char* inner_block);
// Leaves `c` as if the inner key block had just been hashed.
void hmac_start(Sha1Context& c, const HmacKey& k);
// Finishes the HMAC begun by hmac_start; the 20-byte result is in c.digest.
void hmac_finish(Sha1Context& c, const HmacKey& k);
// The whole HMAC of one message into c.digest bytes 0..19.
void hmac_message(Sha1Context& c, const HmacKey& k, const unsigned char* data, size_t len);

// The classic interface on the global SHA-1 context; the result is read from
// shadigest bytes 0..19 after HMACDone.
//
// The key block: key XOR 0x36 (zero-padded to 64 bytes) after HMACInit,
// key XOR 0x5c while HMACDone runs the outer hash.
extern unsigned char hmackey[64];

// Starts a new HMAC, discarding any unfinished one.
void HMACInit(const unsigned char* key, unsigned char keylen);
// Same piece rule as SHA1Block: 64-byte pieces, then one final piece of 0..63.
void HMACBlock(const unsigned char* data, unsigned char len);
void HMACDone();
void HMACOnce(const unsigned char* key, unsigned char keylen, const unsigned char* data, int len);
