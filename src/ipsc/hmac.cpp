#include "ipsc/hmac.h"

#include <cstring>

unsigned char hmackey[64];

namespace {

// The key of the global-context functions.
HmacKey global_key;

void compress_key_block(unsigned char* state, const unsigned char* block) {
  Sha1Context c;
  sha1_init(c);
  sha1_block(c, block, 64);
  memcpy(state, c.digest, SHA1_STATE_BYTES);
}

}  // namespace

void hmac_use_inner_block(HmacKey& k, const unsigned char* inner_block) {
  if (k.valid && memcmp(k.inner_block, inner_block, sizeof k.inner_block) == 0) return;
  memcpy(k.inner_block, inner_block, sizeof k.inner_block);
  unsigned char outer_block[64];
  // 0x36 ^ 0x6a == 0x5c: the inner key block becomes the outer one.
  for (unsigned i = 0; i < 64; ++i) outer_block[i] = static_cast<unsigned char>(inner_block[i] ^ 0x6a);
  compress_key_block(k.inner_state, inner_block);
  compress_key_block(k.outer_state, outer_block);
  k.valid = true;
}

void hmac_use_key(HmacKey& k, const unsigned char* key, unsigned char keylen) {
  // Longer keys would need hashing down first, which the link never needs;
  // at least stay inside the key block.
  if (keylen > 64) keylen = 64;
  unsigned char block[64];
  for (unsigned i = 0; i < keylen; ++i) block[i] = static_cast<unsigned char>(key[i] ^ 0x36);
  for (unsigned i = keylen; i < 64; ++i) block[i] = 0x36;
  hmac_use_inner_block(k, block);
}

void hmac_start(Sha1Context& c, const HmacKey& k) { memcpy(c.digest, k.inner_state, SHA1_STATE_BYTES); }

void hmac_finish(Sha1Context& c, const HmacKey& k) {
  sha1_done(c);
  unsigned char inner[20];
  memcpy(inner, c.digest, sizeof inner);
  memcpy(c.digest, k.outer_state, SHA1_STATE_BYTES);
  sha1_block(c, inner, sizeof inner);
  sha1_done(c);
}

void hmac_message(Sha1Context& c, const HmacKey& k, const unsigned char* data, size_t len) {
  hmac_start(c, k);
  sha1_feed_message(c, data, len);
  hmac_finish(c, k);
}

void HMACInit(const unsigned char* key, unsigned char keylen) {
  if (keylen > 64) keylen = 64;
  for (unsigned i = 0; i < keylen; ++i) hmackey[i] = static_cast<unsigned char>(key[i] ^ 0x36);
  for (unsigned i = keylen; i < 64; ++i) hmackey[i] = 0x36;
  hmac_use_inner_block(global_key, hmackey);
  hmac_start(sha1_global_context, global_key);
}

void HMACBlock(const unsigned char* data, unsigned char len) { SHA1Block(data, len); }

void HMACDone() {
  // The key block is left as the outer one, as the outer hash used it.
  for (unsigned i = 0; i < 64; ++i) hmackey[i] ^= 0x6a;
  hmac_finish(sha1_global_context, global_key);
}

void HMACOnce(const unsigned char* key, unsigned char keylen, const unsigned char* data, int len) {
  HMACInit(key, keylen);
  if (len >= 0) sha1_feed_message(sha1_global_context, data, static_cast<size_t>(len));
  HMACDone();
}
