#pragma once
// Forward error correction of one AMBE+2 voice frame: 49 voice bits <-> the
// 72-bit coded frame of a DMR voice burst (extended Golay(24,12) A word,
// scrambled Golay(23,12) B word, 25 unprotected bits, interleaved).
// All buffers are bit arrays, one bit per byte.

// Error pattern of least weight for each 11-bit Golay(23,12) syndrome.
// Filled once by init_Golay_23_12 before any thread decodes; read-only after.
extern unsigned int Fehlermuster_Golay_23_12[2048];

void init_Golay_23_12();

// Writes the 11-bit syndrome of bits 0..22 of word (bits 23..31 ignored).
void Syndromberechnung(unsigned int word, unsigned short* syndrome);

// order 1 selects the scattered voice bit order, any other value the
// straight one (A11..A0, B11..B0, R24..R0). Writes all 72 bytes of frame.
void codiere_AMBEplus2_33(unsigned char* frame, unsigned char order, unsigned char* voice);

// Corrects and decodes frame. *err_a/*err_b receive the bits corrected in the
// A/B words; an uncorrectable A word gives 4 and 3 and writes nothing.
// Otherwise the corrected words are written back into frame (field R left
// as received) and the 49 voice bits into voice.
void decodiere_AMBEplus2_33(unsigned char* frame, char* err_a, char* err_b, unsigned char order, unsigned char* voice);
