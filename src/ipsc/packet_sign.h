#pragma once
// The signature trailer of every IPSC datagram: the first 10 bytes of
// HMAC-SHA1 over the packet's first signed_len bytes, written at
// packet[signed_len .. signed_len + 9]. The packet buffer must therefore hold
// signed_len + 10 bytes; the datagram sent is that long. The repeater and
// every IPSC peer sign what they send the same way.
//
// All of these are safe to call from several threads at once: each thread
// keeps its own hashing context and its own copy of the compressed key blocks.
#include <cstddef>

constexpr unsigned IPSC_TRAILER_LEN = 10;

// Signs with the configured 20-byte network key `Key`.
void sign_ipsc_packet(unsigned char* packet, unsigned int signed_len);

// Same convention with a key of 0..64 bytes given by the caller.
void sign_ipsc_packet(unsigned char* packet, unsigned int signed_len, const unsigned char* key, unsigned char keylen);

// True when the datagram's last 10 bytes are the trailer its other bytes call
// for under `Key`. A datagram of 10 bytes or fewer never is. The trailer is
// compared in constant time.
bool ipsc_trailer_valid(const unsigned char* datagram, size_t length);

// Same with a key given by the caller.
bool ipsc_trailer_valid(const unsigned char* datagram, size_t length, const unsigned char* key, unsigned char keylen);
