#pragma once
// The 72-byte voice packet exchanged with the network master on port 62006,
// its nine stored templates and the field helpers the two voice paths use.
//
// Every helper takes a pointer to a whole 72-byte packet (as it travels, not
// pair-swapped); a received datagram qualifies only after
// hyt_is_voice_datagram() accepted its length. Header numbers are
// little-endian. The 33-byte DMR burst is stored with every byte pair
// swapped: burst byte i sits at packet byte 26 + (i XOR 1), and packet byte
// 58 (the 34th byte of the field) stays 00.
#include <cstdint>

// ---- Layout

constexpr unsigned int HYT_PACKET_LEN = 72;
constexpr unsigned int HYT_OFS_LEADING = 0;      // 4 bytes: EE EE 11 11 in burst E, else 00
constexpr unsigned int HYT_OFS_SEQUENCE = 4;     // 2 bytes, little-endian
constexpr unsigned int HYT_OFS_KIND = 8;         // packet kind, low 4 bits
constexpr unsigned int HYT_OFS_SLOT = 16;        // 2 equal bytes, low 4 bits = timeslot
constexpr unsigned int HYT_OFS_FRAME_TYPE = 18;  // 2 equal bytes
constexpr unsigned int HYT_OFS_BURST = 26;       // 34-byte pair-swapped burst field
constexpr unsigned int HYT_BURST_FIELD_LEN = 34;
constexpr unsigned int HYT_OFS_CALL_TYPE = 62;
constexpr unsigned int HYT_OFS_DESTINATION = 64;  // 3 bytes, little-endian
constexpr unsigned int HYT_OFS_SOURCE = 68;       // 3 bytes, little-endian

// Sync and header packets carry the talker's identifier again inside the
// burst field, high byte first, on every other byte (burst bytes 13, 15, 17).
constexpr unsigned int HYT_OFS_BURST_SOURCE_HIGH = 38;
constexpr unsigned int HYT_OFS_BURST_SOURCE_MIDDLE = 40;
constexpr unsigned int HYT_OFS_BURST_SOURCE_LOW = 42;

constexpr unsigned int HYT_BURST_BYTES = 33;
constexpr unsigned int HYT_BURST_BITS = 264;

// The sender works on the whole packet pair-swapped and unpacked to 576
// bits; there burst bit k is image bit 208 + k.
constexpr unsigned int HYT_IMAGE_BITS = 576;
constexpr unsigned int HYT_IMAGE_BURST_BIT = 208;

// Burst bit positions of a voice burst.
constexpr unsigned int HYT_BIT_FRAME1 = 0;           // 72 bits
constexpr unsigned int HYT_BIT_FRAME2_FIRST = 72;    // first 36 bits of frame 2
constexpr unsigned int HYT_BIT_CENTRE = 108;         // 48 bits: sync, or EMB + embedded signalling
constexpr unsigned int HYT_BIT_EMB_FIRST = 108;      // EMB bits 0..7
constexpr unsigned int HYT_BIT_EMBEDDED = 116;       // 32 bits of embedded signalling
constexpr unsigned int HYT_BIT_EMB_SECOND = 148;     // EMB bits 8..15
constexpr unsigned int HYT_BIT_FRAME2_SECOND = 156;  // last 36 bits of frame 2
constexpr unsigned int HYT_BIT_FRAME3 = 192;         // 72 bits
constexpr unsigned int HYT_AMBE_FRAME_BITS = 72;
constexpr unsigned int HYT_EMBEDDED_BITS = 32;

// ---- Field values

constexpr unsigned char HYT_KIND_VOICE = 0x01;  // voice header and bursts A..F
constexpr unsigned char HYT_KIND_SYNC = 0x02;
constexpr unsigned char HYT_KIND_END = 0x03;

constexpr unsigned char HYT_FT_SYNC = 0xEE;
constexpr unsigned char HYT_FT_VOICE_HEADER = 0x11;
constexpr unsigned char HYT_FT_TERMINATOR = 0x22;
constexpr unsigned char HYT_FT_BURST_A = 0x77;
constexpr unsigned char HYT_FT_BURST_B = 0x88;
constexpr unsigned char HYT_FT_BURST_C = 0x99;
constexpr unsigned char HYT_FT_BURST_D = 0xAA;
constexpr unsigned char HYT_FT_BURST_E = 0xBB;
constexpr unsigned char HYT_FT_BURST_F = 0xCC;

constexpr unsigned char HYT_CALL_PRIVATE = 0x00;
constexpr unsigned char HYT_CALL_GROUP = 0x01;

// ---- Templates (copied, never written)

extern const unsigned char sync_hyt[72];
extern const unsigned char start_hyt[72];
extern const unsigned char ende_hyt[72];
extern const unsigned char Voice_hyt1[72];
extern const unsigned char Voice_hyt2[72];
extern const unsigned char Voice_hyt3[72];
extern const unsigned char Voice_hyt4[72];
extern const unsigned char Voice_hyt5[72];
extern const unsigned char Voice_hyt6[72];

// Template of superframe position 1..6 (burst A..F); nullptr otherwise.
const unsigned char* hyt_voice_template(unsigned int position);
// Superframe position 1..6 of a burst frame-type code; 0 for any other code.
unsigned int hyt_voice_position(unsigned char frame_type);
// Frame-type code of position 1..6; 0 otherwise.
unsigned char hyt_voice_frame_type(unsigned int position);

// ---- Header fields

// A datagram on the voice port is a voice packet exactly when it is 72 bytes.
bool hyt_is_voice_datagram(long len);

void hyt_set_sequence(unsigned char* packet, uint16_t seq);
uint16_t hyt_sequence(const unsigned char* packet);

void hyt_set_kind(unsigned char* packet, unsigned char kind);
unsigned int hyt_kind(const unsigned char* packet);

// Writes both slot bytes (22 22 for timeslot 2).
void hyt_set_slot(unsigned char* packet, unsigned int slot);
unsigned int hyt_slot(const unsigned char* packet);

// Writes both frame-type bytes; the reader takes the second (byte 19).
void hyt_set_frame_type(unsigned char* packet, unsigned char code);
unsigned char hyt_frame_type(const unsigned char* packet);

void hyt_set_call_type(unsigned char* packet, unsigned char call_type);
unsigned char hyt_call_type(const unsigned char* packet);

void hyt_set_destination(unsigned char* packet, uint32_t id);
uint32_t hyt_destination(const unsigned char* packet);
void hyt_set_source(unsigned char* packet, uint32_t id);
uint32_t hyt_source(const unsigned char* packet);

// Source identifier into bytes 38, 40, 42 (high, middle, low), as the sync
// and voice header packets carry it.
void hyt_set_burst_source(unsigned char* packet, uint32_t id);

// ---- Burst bytes

// Packet offset of burst byte i (0..32): 26 + (i XOR 1).
unsigned int hyt_burst_offset(unsigned int i);
// Burst byte i; 0 for i beyond 32.
unsigned char hyt_burst_byte(const unsigned char* packet, unsigned int i);
// Writes burst byte i; ignored for i beyond 32.
void hyt_set_burst_byte(unsigned char* packet, unsigned int i, unsigned char value);
// The 33 burst bytes in air order, out of and into the packet; packet byte 58
// is left alone.
void hyt_get_burst(const unsigned char* packet, unsigned char* burst33);
void hyt_put_burst(unsigned char* packet, const unsigned char* burst33);

// Swaps the two bytes of all 36 pairs in place; its own inverse.
void hyt_swap_pairs(unsigned char* packet);

// ---- Bits (one bit per byte, most significant bit of each byte first)

void hyt_unpack_bits(const unsigned char* bytes, unsigned int nbytes, unsigned char* bits);
void hyt_pack_bits(const unsigned char* bits, unsigned int nbytes, unsigned char* bytes);

// The sender's view: the packet pair-swapped and unpacked into 576 bits
// (burst bit k at image bit 208 + k), and back. The packet is not changed
// by hyt_packet_to_image; hyt_image_to_packet writes all 72 bytes.
void hyt_packet_to_image(const unsigned char* packet, unsigned char* image576);
void hyt_image_to_packet(const unsigned char* image576, unsigned char* packet);

// Burst bits first..first+count-1 straight from/to the packet as it
// travels. False, and nothing touched, when the range leaves the 264 bits.
bool hyt_read_burst_bits(const unsigned char* packet, unsigned int first, unsigned int count, unsigned char* bits);
bool hyt_write_burst_bits(unsigned char* packet, unsigned int first, unsigned int count, const unsigned char* bits);

// Burst bit that carries bit j (0..71) of AMBE+2 frame n (0..2).
unsigned int hyt_ambe_burst_bit(unsigned int n, unsigned int j);

// AMBE+2 air frame n (0..2) of a voice burst as 72 bits: frame 0 at burst
// bits 0..71, frame 1 at 72..107 then 156..191, frame 2 at 192..263.
// False for n beyond 2.
bool hyt_get_ambe_frame(const unsigned char* packet, unsigned int n, unsigned char* bits72);
bool hyt_put_ambe_frame(unsigned char* packet, unsigned int n, const unsigned char* bits72);

// The 32 embedded signalling bits of bursts B..F (burst bits 116..147).
void hyt_put_embedded_signalling(unsigned char* packet, const unsigned char* bits32);
void hyt_get_embedded_signalling(const unsigned char* packet, unsigned char* bits32);
