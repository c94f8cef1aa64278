#pragma once
// Embedded signalling of a DMR voice superframe: the EMB field of each burst
// and the embedded link control (LC) spread over four bursts as 32-bit
// fragments of a 128-bit block (5-bit checksum, Hamming(16,11,4) rows and a
// column-parity row, sent column by column). Bit arrays hold one bit per
// byte; the nine LC octets are plain bytes.

// Block being collected, fragment n in rawLC[32n .. 32n+31].
extern unsigned char rawLC[128];
// -1 before the first fragment, 1..3 after that many fragments, 0 after a
// completed block.
extern int currentState;
// Set by every single-fragment report.
extern int dataReady;

// Transmit side. head/dest/source are LC octets 0-2, 3-5 and 6-8; writes the
// 128 bytes of block and nothing else.
void encode_MultiBlockEmbeddedLC(unsigned char* head, unsigned char* dest, unsigned char* source, unsigned char* block);
// Five check bits P0..P4 of the 11 data bits D0..D10; returns 0.
int hamming16114encode(unsigned char* data, unsigned char* parity);
// Octet sum mod 31 of the 72-bit LC; the second argument is not used.
int crcFiveBit(unsigned char* lc, int);

// Receive side. section is the 48-bit middle of a voice burst; writes the
// 16 EMB bits to emb and returns the LCSS value 0..3, or -1 (with a console
// line) when the EMB is not a QR(16,7,6) code word.
int EMBdecode(unsigned char* section, unsigned char* emb);
// 1 when the 16 EMB bits are a QR(16,7,6) code word, else 0.
int QuadResidue1676(unsigned char* emb);
// 1 when the 16-bit row D0..D10 P0..P4 has valid check bits, else 0.
int hamming16114(unsigned char* row);
// Offers one 32-bit fragment: 1 when it completed a block that decoded (the
// octets are then in head/dest/source), 0 when the completed block failed,
// 2 otherwise.
int addData(unsigned char* fragment, int lcss, unsigned char* head, unsigned char* dest, unsigned char* source);
// Decodes rawLC: 1 with the octets written, or 0 with nothing written.
int decode_MultiBlockEmbeddedLC(unsigned char* head, unsigned char* dest, unsigned char* source);
// Prints a non-zero single-fragment value and sets dataReady.
void processSingleBlockEmbeddedLC(unsigned char* fragment);
