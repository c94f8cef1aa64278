#pragma once
// HMAC-SHA1 on top of the SHA-1 context in sha1.h; the result is read from
// shadigest bytes 0..19 after HMACDone. Keys of up to 64 bytes only: longer
// keys are not hashed down first.
#include "ipsc/sha1.h"

// The key block: key XOR 0x36 (zero-padded to 64 bytes) after HMACInit,
// key XOR 0x5c while HMACDone runs the outer hash.
extern unsigned char hmackey[64];

// Starts a new HMAC, discarding any unfinished one.
void HMACInit(const unsigned char* key, unsigned char keylen);
// Same piece rule as SHA1Block: 64-byte pieces, then one final piece of 0..63.
void HMACBlock(const unsigned char* data, unsigned char len);
void HMACDone();
void HMACOnce(const unsigned char* key, unsigned char keylen, const unsigned char* data, int len);
