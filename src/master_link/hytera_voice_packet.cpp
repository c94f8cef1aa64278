#include "master_link/hytera_voice_packet.h"
#include "main/byte_order.h"

// Templates. Bytes 4..5 (sequence), 62 (call type, 01 = group as stored),
// 64..66 and 68..70 (identifiers) are overwritten for every packet sent; the
// rest goes out as stored. Burst fields are listed as packet bytes 26..59,
// i.e. already pair-swapped.

const unsigned char sync_hyt[72] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 0..7
    0x02, 0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00,              // 8..15: sync packet
    0x22, 0x22, 0xEE, 0xEE, 0x11, 0x11, 0x11, 0x11, 0x00, 0x00,  // 16..25
    // 26..59: no burst; the talker's identifier lands on 38, 40, 42
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00,  // 60..67
    0x00, 0x00, 0x00, 0x00,  // 68..71
};

// Voice LC header, colour code 1: group call (FLCO 0, FID 0, no options) to
// 9 from 1, RS(12,9) parity masked 96 96 96, BPTC(196,96), slot type data
// type 1 in Golay(20,8), BS data sync DFF57D75DF5D. Regenerate with
// tools/make_lc_bursts.cpp. Packet bytes 38, 40, 42 (burst bytes 13, 15,
// 17: slot type and sync bits) are replaced by the talker's identifier when
// a call is forwarded, so the stored values there never leave the bridge.
const unsigned char start_hyt[72] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 0..7
    0x01, 0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00,              // 8..15
    0x22, 0x22, 0x11, 0x11, 0x11, 0x11, 0x00, 0x00, 0x10, 0x00,  // 16..25
    0x20, 0x00, 0x08, 0x08, 0x38, 0x02, 0x00, 0x15,              // 26..33
    0xA0, 0x2C, 0x60, 0x14, 0x6D, 0x84, 0x57, 0xFF,              // 34..41
    0x5D, 0xD7, 0xDE, 0xF5, 0x30, 0x30, 0x10, 0x01,              // 42..49
    0x40, 0x01, 0xC0, 0x03, 0xC1, 0x13, 0x80, 0x1E,              // 50..57
    0x00, 0x6F,                                                  // 58..59
    0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,              // 60..67
    0x00, 0x00, 0x00, 0x00,                                      // 68..71
};

// Terminator with LC: the same link control, parity masked 99 99 99, slot
// type data type 2. Sent exactly as stored apart from the header fields.
const unsigned char ende_hyt[72] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 0..7
    0x03, 0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00,              // 8..15
    0x22, 0x22, 0x22, 0x22, 0x11, 0x11, 0x00, 0x00, 0x10, 0x00,  // 16..25
    0x4F, 0x00, 0xDC, 0x08, 0x88, 0x02, 0x78, 0x15,              // 26..33
    0xD0, 0x2C, 0xC0, 0x14, 0xAD, 0x84, 0x57, 0xFF,              // 34..41
    0x5D, 0xD7, 0xD9, 0xF5, 0x24, 0x65, 0x28, 0x02,              // 42..49
    0x20, 0x06, 0x80, 0x0F, 0xC1, 0x1B, 0x80, 0x07,              // 50..57
    0x00, 0x5C,                                                  // 58..59
    0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,              // 60..67
    0x00, 0x00, 0x00, 0x00,                                      // 68..71
};

// Voice bursts. Only the 48-bit centre of each burst is kept: burst A the
// BS voice sync 755FD7DF75F7, B..F the EMB (colour code 1, PI 0) split over
// burst bits 108..115 and 148..155, i.e. burst bytes 13, 14 (packet 38, 41)
// and 18, 19 (packet 45, 44). The AMBE+2 frames and the embedded signalling
// of B..E are rebuilt for every packet, so they are stored as zero; F keeps
// its 32 zero bits of null embedded signalling.

const unsigned char Voice_hyt1[72] = {
    // A: voice sync
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 0..7
    0x01, 0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00,              // 8..15
    0x22, 0x22, 0x77, 0x77, 0x11, 0x11, 0x00, 0x00, 0x10, 0x00,  // 16..25
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 26..33
    0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0xFD, 0x55,              // 34..41
    0xF7, 0x7D, 0x70, 0x5F, 0x00, 0x00, 0x00, 0x00,              // 42..49
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 50..57
    0x00, 0x00,                                                  // 58..59
    0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,              // 60..67
    0x00, 0x00, 0x00, 0x00,                                      // 68..71
};

const unsigned char Voice_hyt2[72] = {
    // B: EMB 1391, LCSS 1 (first fragment)
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 0..7
    0x01, 0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00,              // 8..15
    0x22, 0x22, 0x88, 0x88, 0x11, 0x11, 0x00, 0x00, 0x10, 0x00,  // 16..25
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 26..33
    0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x30,              // 34..41
    0x00, 0x00, 0x10, 0x09, 0x00, 0x00, 0x00, 0x00,              // 42..49
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 50..57
    0x00, 0x00,                                                  // 58..59
    0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,              // 60..67
    0x00, 0x00, 0x00, 0x00,                                      // 68..71
};

const unsigned char Voice_hyt3[72] = {
    // C: EMB 1774, LCSS 3 (continuation)
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 0..7
    0x01, 0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00,              // 8..15
    0x22, 0x22, 0x99, 0x99, 0x11, 0x11, 0x00, 0x00, 0x10, 0x00,  // 16..25
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 26..33
    0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x70,              // 34..41
    0x00, 0x00, 0x40, 0x07, 0x00, 0x00, 0x00, 0x00,              // 42..49
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 50..57
    0x00, 0x00,                                                  // 58..59
    0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,              // 60..67
    0x00, 0x00, 0x00, 0x00,                                      // 68..71
};

const unsigned char Voice_hyt4[72] = {
    // D: EMB 1774, LCSS 3 (continuation)
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 0..7
    0x01, 0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00,              // 8..15
    0x22, 0x22, 0xAA, 0xAA, 0x11, 0x11, 0x00, 0x00, 0x10, 0x00,  // 16..25
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 26..33
    0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x70,              // 34..41
    0x00, 0x00, 0x40, 0x07, 0x00, 0x00, 0x00, 0x00,              // 42..49
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 50..57
    0x00, 0x00,                                                  // 58..59
    0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,              // 60..67
    0x00, 0x00, 0x00, 0x00,                                      // 68..71
};

// E is the one packet the network master expects with leading EE EE 11 11.
const unsigned char Voice_hyt5[72] = {
    // E: EMB 1507, LCSS 2 (last fragment)
    0xEE, 0xEE, 0x11, 0x11, 0x00, 0x00, 0x00, 0x00,              // 0..7
    0x01, 0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00,              // 8..15
    0x22, 0x22, 0xBB, 0xBB, 0x11, 0x11, 0x00, 0x00, 0x10, 0x00,  // 16..25
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 26..33
    0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x50,              // 34..41
    0x00, 0x00, 0x70, 0x00, 0x00, 0x00, 0x00, 0x00,              // 42..49
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 50..57
    0x00, 0x00,                                                  // 58..59
    0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,              // 60..67
    0x00, 0x00, 0x00, 0x00,                                      // 68..71
};

const unsigned char Voice_hyt6[72] = {
    // F: EMB 11E2, LCSS 0, null embedded signalling
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 0..7
    0x01, 0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00,              // 8..15
    0x22, 0x22, 0xCC, 0xCC, 0x11, 0x11, 0x00, 0x00, 0x10, 0x00,  // 16..25
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 26..33
    0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x10,              // 34..41
    0x00, 0x00, 0x20, 0x0E, 0x00, 0x00, 0x00, 0x00,              // 42..49
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 50..57
    0x00, 0x00,                                                  // 58..59
    0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,              // 60..67
    0x00, 0x00, 0x00, 0x00,                                      // 68..71
};

namespace {

const unsigned char* const voice_templates[6] = {Voice_hyt1, Voice_hyt2, Voice_hyt3,
                                                 Voice_hyt4, Voice_hyt5, Voice_hyt6};
const unsigned char voice_frame_types[6] = {HYT_FT_BURST_A, HYT_FT_BURST_B, HYT_FT_BURST_C,
                                            HYT_FT_BURST_D, HYT_FT_BURST_E, HYT_FT_BURST_F};

unsigned int burst_bit_offset(unsigned int k) { return hyt_burst_offset(k / 8); }
unsigned char burst_bit_mask(unsigned int k) { return static_cast<unsigned char>(0x80u >> (k % 8)); }

unsigned char read_burst_bit(const unsigned char* packet, unsigned int k) {
  return (packet[burst_bit_offset(k)] & burst_bit_mask(k)) ? 1 : 0;
}

void write_burst_bit(unsigned char* packet, unsigned int k, unsigned char bit) {
  unsigned char& b = packet[burst_bit_offset(k)];
  b = bit ? static_cast<unsigned char>(b | burst_bit_mask(k)) : static_cast<unsigned char>(b & ~burst_bit_mask(k));
}

}  // namespace

// Frame 1 (the second of the burst) is split around the 48-bit centre.
unsigned int hyt_ambe_burst_bit(unsigned int n, unsigned int j) {
  if (n == 0) return HYT_BIT_FRAME1 + j;
  if (n == 2) return HYT_BIT_FRAME3 + j;
  return j < 36 ? HYT_BIT_FRAME2_FIRST + j : HYT_BIT_FRAME2_SECOND + (j - 36);
}

const unsigned char* hyt_voice_template(unsigned int position) {
  return (position >= 1 && position <= 6) ? voice_templates[position - 1] : nullptr;
}

unsigned int hyt_voice_position(unsigned char frame_type) {
  for (unsigned int i = 0; i < 6; ++i)
    if (voice_frame_types[i] == frame_type) return i + 1;
  return 0;
}

unsigned char hyt_voice_frame_type(unsigned int position) {
  return (position >= 1 && position <= 6) ? voice_frame_types[position - 1] : 0;
}

bool hyt_is_voice_datagram(long len) { return len == static_cast<long>(HYT_PACKET_LEN); }

void hyt_set_sequence(unsigned char* packet, uint16_t seq) {
  packet[HYT_OFS_SEQUENCE] = static_cast<unsigned char>(seq);
  packet[HYT_OFS_SEQUENCE + 1] = static_cast<unsigned char>(seq >> 8);
}

uint16_t hyt_sequence(const unsigned char* packet) {
  return static_cast<uint16_t>(packet[HYT_OFS_SEQUENCE] | (packet[HYT_OFS_SEQUENCE + 1] << 8));
}

void hyt_set_kind(unsigned char* packet, unsigned char kind) { packet[HYT_OFS_KIND] = kind; }

unsigned int hyt_kind(const unsigned char* packet) { return packet[HYT_OFS_KIND] & 0x0Fu; }

void hyt_set_slot(unsigned char* packet, unsigned int slot) {
  const unsigned char code = static_cast<unsigned char>((slot & 0x0Fu) * 0x11u);
  packet[HYT_OFS_SLOT] = code;
  packet[HYT_OFS_SLOT + 1] = code;
}

unsigned int hyt_slot(const unsigned char* packet) { return packet[HYT_OFS_SLOT] & 0x0Fu; }

void hyt_set_frame_type(unsigned char* packet, unsigned char code) {
  packet[HYT_OFS_FRAME_TYPE] = code;
  packet[HYT_OFS_FRAME_TYPE + 1] = code;
}

unsigned char hyt_frame_type(const unsigned char* packet) { return packet[HYT_OFS_FRAME_TYPE + 1]; }

void hyt_set_call_type(unsigned char* packet, unsigned char call_type) { packet[HYT_OFS_CALL_TYPE] = call_type; }

unsigned char hyt_call_type(const unsigned char* packet) { return packet[HYT_OFS_CALL_TYPE]; }

void hyt_set_destination(unsigned char* packet, uint32_t id) { put_le24(packet + HYT_OFS_DESTINATION, id); }

uint32_t hyt_destination(const unsigned char* packet) { return get_le24(packet + HYT_OFS_DESTINATION); }

void hyt_set_source(unsigned char* packet, uint32_t id) { put_le24(packet + HYT_OFS_SOURCE, id); }

uint32_t hyt_source(const unsigned char* packet) { return get_le24(packet + HYT_OFS_SOURCE); }

void hyt_set_burst_source(unsigned char* packet, uint32_t id) {
  packet[HYT_OFS_BURST_SOURCE_HIGH] = static_cast<unsigned char>(id >> 16);
  packet[HYT_OFS_BURST_SOURCE_MIDDLE] = static_cast<unsigned char>(id >> 8);
  packet[HYT_OFS_BURST_SOURCE_LOW] = static_cast<unsigned char>(id);
}

unsigned int hyt_burst_offset(unsigned int i) { return HYT_OFS_BURST + (i ^ 1u); }

unsigned char hyt_burst_byte(const unsigned char* packet, unsigned int i) {
  return i < HYT_BURST_BYTES ? packet[hyt_burst_offset(i)] : 0;
}

void hyt_set_burst_byte(unsigned char* packet, unsigned int i, unsigned char value) {
  if (i < HYT_BURST_BYTES) packet[hyt_burst_offset(i)] = value;
}

void hyt_get_burst(const unsigned char* packet, unsigned char* burst33) {
  for (unsigned int i = 0; i < HYT_BURST_BYTES; ++i) burst33[i] = packet[hyt_burst_offset(i)];
}

void hyt_put_burst(unsigned char* packet, const unsigned char* burst33) {
  for (unsigned int i = 0; i < HYT_BURST_BYTES; ++i) packet[hyt_burst_offset(i)] = burst33[i];
}

void hyt_swap_pairs(unsigned char* packet) {
  for (unsigned int i = 0; i < HYT_PACKET_LEN; i += 2) {
    const unsigned char t = packet[i];
    packet[i] = packet[i + 1];
    packet[i + 1] = t;
  }
}

void hyt_unpack_bits(const unsigned char* bytes, unsigned int nbytes, unsigned char* bits) {
  for (unsigned int i = 0; i < nbytes; ++i)
    for (unsigned int j = 0; j < 8; ++j) bits[8 * i + j] = (bytes[i] >> (7 - j)) & 1u;
}

void hyt_pack_bits(const unsigned char* bits, unsigned int nbytes, unsigned char* bytes) {
  for (unsigned int i = 0; i < nbytes; ++i) {
    unsigned int v = 0;
    for (unsigned int j = 0; j < 8; ++j) v = (v << 1) | (bits[8 * i + j] & 1u);
    bytes[i] = static_cast<unsigned char>(v);
  }
}

void hyt_packet_to_image(const unsigned char* packet, unsigned char* image576) {
  for (unsigned int i = 0; i < HYT_PACKET_LEN; ++i) hyt_unpack_bits(packet + (i ^ 1u), 1, image576 + 8 * i);
}

void hyt_image_to_packet(const unsigned char* image576, unsigned char* packet) {
  for (unsigned int i = 0; i < HYT_PACKET_LEN; ++i) hyt_pack_bits(image576 + 8 * i, 1, packet + (i ^ 1u));
}

bool hyt_read_burst_bits(const unsigned char* packet, unsigned int first, unsigned int count, unsigned char* bits) {
  if (first > HYT_BURST_BITS || count > HYT_BURST_BITS - first) return false;
  for (unsigned int j = 0; j < count; ++j) bits[j] = read_burst_bit(packet, first + j);
  return true;
}

bool hyt_write_burst_bits(unsigned char* packet, unsigned int first, unsigned int count, const unsigned char* bits) {
  if (first > HYT_BURST_BITS || count > HYT_BURST_BITS - first) return false;
  for (unsigned int j = 0; j < count; ++j) write_burst_bit(packet, first + j, bits[j] & 1u);
  return true;
}

bool hyt_get_ambe_frame(const unsigned char* packet, unsigned int n, unsigned char* bits72) {
  if (n > 2) return false;
  for (unsigned int j = 0; j < HYT_AMBE_FRAME_BITS; ++j) bits72[j] = read_burst_bit(packet, hyt_ambe_burst_bit(n, j));
  return true;
}

bool hyt_put_ambe_frame(unsigned char* packet, unsigned int n, const unsigned char* bits72) {
  if (n > 2) return false;
  for (unsigned int j = 0; j < HYT_AMBE_FRAME_BITS; ++j)
    write_burst_bit(packet, hyt_ambe_burst_bit(n, j), bits72[j] & 1u);
  return true;
}

void hyt_put_embedded_signalling(unsigned char* packet, const unsigned char* bits32) {
  hyt_write_burst_bits(packet, HYT_BIT_EMBEDDED, HYT_EMBEDDED_BITS, bits32);
}

void hyt_get_embedded_signalling(const unsigned char* packet, unsigned char* bits32) {
  hyt_read_burst_bits(packet, HYT_BIT_EMBEDDED, HYT_EMBEDDED_BITS, bits32);
}
