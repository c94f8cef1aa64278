#include "ipsc/packet_sign.h"

#include <cstring>

#include "ipsc/hmac.h"
#include "main/config.h"

void sign_ipsc_packet(unsigned char* packet, unsigned int signed_len, const unsigned char* key,
                      unsigned char keylen) {
  HMACInit(key, keylen);
  // Pieces never exceed one block: whole 64-byte blocks first (only voice
  // burst E has one), then the rest as the final piece that pads.
  const unsigned char* data = packet;
  unsigned int rest = signed_len;
  while (rest >= 64) {
    HMACBlock(data, 64);
    data += 64;
    rest -= 64;
  }
  HMACBlock(data, static_cast<unsigned char>(rest));
  HMACDone();
  memcpy(packet + signed_len, shadigest, 10);
}

void sign_ipsc_packet(unsigned char* packet, unsigned int signed_len) {
  sign_ipsc_packet(packet, signed_len, Key, sizeof Key);
}
