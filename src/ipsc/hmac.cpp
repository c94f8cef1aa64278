#include "ipsc/hmac.h"

#include <cstring>

unsigned char hmackey[64];

namespace {

// The network key never changes while the daemon runs, yet every voice
// datagram would otherwise spend two of its five compressions on the same
// two key blocks. Each key block's compressed context (chaining words and
// byte count) is kept beside the block it came from. The cache is keyed on
// the whole 64-byte block as it stands in hmackey, so a hit can only occur
// when a fresh compression would give the same context.
constexpr unsigned kContextBytes = 22;  // H0..H4 and the byte count
constexpr int kInnerBlock = 0;
constexpr int kOuterBlock = 1;

unsigned char cached_block[2][64];
unsigned char cached_context[2][kContextBytes];
bool cached_valid[2];

// Leaves the context as SHA1Init followed by SHA1Block(hmackey, 64) would.
void start_with_key_block(int which) {
  if (cached_valid[which] && memcmp(cached_block[which], hmackey, sizeof hmackey) == 0) {
    memcpy(shadigest, cached_context[which], kContextBytes);
    return;
  }
  SHA1Init();
  SHA1Block(hmackey, 64);
  memcpy(cached_block[which], hmackey, sizeof hmackey);
  memcpy(cached_context[which], shadigest, kContextBytes);
  cached_valid[which] = true;
}

}  // namespace

void HMACInit(const unsigned char* key, unsigned char keylen) {
  // Longer keys would need hashing down first, which the link never needs;
  // at least stay inside the key block.
  if (keylen > 64) keylen = 64;
  for (unsigned i = 0; i < keylen; ++i) hmackey[i] = static_cast<unsigned char>(key[i] ^ 0x36);
  for (unsigned i = keylen; i < 64; ++i) hmackey[i] = 0x36;
  start_with_key_block(kInnerBlock);
}

void HMACBlock(const unsigned char* data, unsigned char len) { SHA1Block(data, len); }

void HMACDone() {
  SHA1Done();
  unsigned char inner[20];
  memcpy(inner, shadigest, sizeof inner);
  // 0x36 ^ 0x6a == 0x5c: the inner key block becomes the outer one in place.
  for (unsigned i = 0; i < 64; ++i) hmackey[i] ^= 0x6a;
  start_with_key_block(kOuterBlock);
  SHA1Block(inner, sizeof inner);
  SHA1Done();
}

void HMACOnce(const unsigned char* key, unsigned char keylen, const unsigned char* data, int len) {
  HMACInit(key, keylen);
  if (len >= 0) {
    while (len >= 64) {
      HMACBlock(data, 64);
      data += 64;
      len -= 64;
    }
    HMACBlock(data, static_cast<unsigned char>(len));
  }
  HMACDone();
}
