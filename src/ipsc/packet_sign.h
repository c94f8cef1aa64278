#pragma once
// The signature trailer of every datagram sent to the Motorola repeater: the
// first 10 bytes of HMAC-SHA1 over the packet's first signed_len bytes,
// written at packet[signed_len .. signed_len + 9]. The packet buffer must
// therefore hold signed_len + 10 bytes; the datagram sent is that long.

// Signs with the configured 20-byte network key `Key`.
void sign_ipsc_packet(unsigned char* packet, unsigned int signed_len);

// Same convention with a key of 0..64 bytes given by the caller.
void sign_ipsc_packet(unsigned char* packet, unsigned int signed_len, const unsigned char* key,
                      unsigned char keylen);
