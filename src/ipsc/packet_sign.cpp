#include "ipsc/packet_sign.h"

#include <cstring>

#include "ipsc/hmac.h"
#include "main/config.h"

namespace {

// The key blocks of the key this thread used last. A thread signs or checks
// with one key for the whole run, so they are compressed once per thread.
thread_local HmacKey thread_key;

}  // namespace

void sign_ipsc_packet(unsigned char* packet, unsigned int signed_len, const unsigned char* key, unsigned char keylen) {
  hmac_use_key(thread_key, key, keylen);
  Sha1Context c;
  hmac_message(c, thread_key, packet, signed_len);
  memcpy(packet + signed_len, c.digest, IPSC_TRAILER_LEN);
}

void sign_ipsc_packet(unsigned char* packet, unsigned int signed_len) {
  sign_ipsc_packet(packet, signed_len, Key, sizeof Key);
}

bool ipsc_trailer_valid(const unsigned char* datagram, size_t length, const unsigned char* key, unsigned char keylen) {
  if (length <= IPSC_TRAILER_LEN) return false;
  const size_t signed_len = length - IPSC_TRAILER_LEN;
  hmac_use_key(thread_key, key, keylen);
  Sha1Context c;
  hmac_message(c, thread_key, datagram, signed_len);
  // Every byte is looked at whatever the first difference, so the time taken
  // tells a forger nothing about how much of the trailer was right.
  unsigned difference = 0;
  for (unsigned i = 0; i < IPSC_TRAILER_LEN; ++i) difference |= c.digest[i] ^ datagram[signed_len + i];
  return difference == 0;
}

bool ipsc_trailer_valid(const unsigned char* datagram, size_t length) {
  return ipsc_trailer_valid(datagram, length, Key, sizeof Key);
}
