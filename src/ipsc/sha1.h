#pragma once
// SHA-1 over one process-wide context. Only the IPSC signature trailer uses
// it, and all signing happens on one thread at a time, so the context is a set
// of plain globals rather than something passed around.
//
// Feeding rule: any number of 64-byte pieces, then exactly one final piece of
// 0..63 bytes, which adds the padding. A message fed only in 64-byte pieces is
// not finished until a (possibly empty) final piece follows.
#include <cstdint>

// The block being hashed as big-endian words; compression reuses it as the
// circular 16-word message schedule.
extern uint32_t message[16];

// Bytes 0..19: chaining words H0..H4 in native order while hashing, the
// digest in standard byte order after SHA1Done. Bytes 20..21: native 16-bit
// count of bytes fed since SHA1Init, so messages up to 65535 bytes hash
// correctly. Bytes 22..23 are unused.
extern unsigned char shadigest[24];

void SHA1Init();
// len 64 is a full block; len 0..63 is the final piece. Pieces longer than 64
// bytes are not supported.
void SHA1Block(const unsigned char* data, unsigned char len);
void SHA1Done();
// Compresses `message` into H0..H4.
void SHA1();
void SHA1Once(const unsigned char* data, int len);
