#include "ipsc/moto_voice_packet.h"
#include "main/byte_order.h"

#include <cstring>

#include "ipsc/packet_sign.h"

// Bytes 1..11, 13..16, 20..25, the identifiers and the voice field are
// written for every send; everything else goes out as stored here. The
// trailers are left zero and signed over at send time.

// clang-format off
unsigned char Voice_moto66[66] = {
    0x80,                    // 0: group voice
    0x00, 0x00, 0x00, 0x00,  // 1..4: peer identifier
    0x00,                    // 5: call sequence
    0x00, 0x00, 0x00,        // 6..8: source
    0x00, 0x00, 0x00,        // 9..11: destination
    0x02,                    // 12
    0x00, 0x00, 0x00, 0x00,  // 13..16: call tag
    0x20,                    // 17: timeslot 2
    0x80, 0xDD,              // 18..19: RTP v2; marker + PT 5D, 5D for a repeated header
    0x00, 0x00,              // 20..21: RTP sequence
    0x00, 0x00, 0x00, 0x00,  // 22..25: RTP timestamp
    0x00, 0x00, 0x00, 0x00,  // 26..29: RTP SSRC
    0x01,                    // 30: voice header
    0x80, 0x00, 0x0B,        // 31..33: 11 words follow up to byte 55
    0x84, 0x0A, 0x00, 0x60,  // 34..37: 96-bit link control follows
    0x00, 0x00, 0x00,        // 38..40: FLCO, FID, service options
    0x00, 0x00, 0x00,        // 41..43: destination
    0x00, 0x00, 0x00,        // 44..46: source
    0x02, 0xF8, 0xC5,        // 47..49: check bytes, kept whatever the identifiers
    0x00, 0x11, 0x01, 0x36, 0x04, 0xCD,                          // 50..55
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 56..65: trailer
};

unsigned char Voice_moto64[64] = {
    0x80,                    // 0: group voice
    0x00, 0x00, 0x00, 0x00,  // 1..4: peer identifier
    0x00,                    // 5: call sequence
    0x00, 0x00, 0x00,        // 6..8: source
    0x00, 0x00, 0x00,        // 9..11: destination
    0x02,                    // 12
    0x00, 0x00, 0x00, 0x00,  // 13..16: call tag
    0x60,                    // 17: timeslot 2, end of call
    0x80, 0x5E,              // 18..19: RTP v2, PT 5E
    0x00, 0x00,              // 20..21: RTP sequence
    0x00, 0x00, 0x00, 0x00,  // 22..25: RTP timestamp
    0x00, 0x00, 0x00, 0x00,  // 26..29: RTP SSRC
    0x02,                    // 30: voice terminator
    0xC0, 0x00, 0x0A,        // 31..33: 10 words follow up to byte 53
    0x84, 0x0A, 0x00, 0x60,  // 34..37: 96-bit link control follows
    0x00, 0x00, 0x00,        // 38..40: FLCO, FID, service options
    0x00, 0x00, 0x00,        // 41..43: destination
    0x00, 0x00, 0x00,        // 44..46: source
    0x0D, 0x7F, 0xCA,        // 47..49: check bytes, kept whatever the identifiers
    0x00, 0x12, 0x05, 0x0C,                                      // 50..53
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 54..63: trailer
};

// Bursts share bytes 0..30; byte 31 counts the bytes after it up to the end
// of the signed part, byte 32 bit 0x40 marks the first burst of a superframe.
#define MOTO_BURST_PREFIX                                               \
  0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, \
      0x02, 0x00, 0x00, 0x00, 0x00, 0x20, 0x80, 0x5D, 0x00, 0x00, 0x00, 0x00, \
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x8A
#define MOTO_VOICE_FIELD_ZERO                                                             \
  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, \
      0x00, 0x00, 0x00, 0x00
#define MOTO_TRAILER_ZERO 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00

const unsigned char Voice_moto_A[62] = {
    MOTO_BURST_PREFIX,      // 0..30
    0x14, 0x40,             // 31..32: 20 bytes follow; first burst of the superframe
    MOTO_VOICE_FIELD_ZERO,  // 33..51
    MOTO_TRAILER_ZERO,      // 52..61
};

const unsigned char Voice_moto_B[67] = {
    MOTO_BURST_PREFIX,               // 0..30
    0x19, 0x06,                      // 31..32: 25 bytes follow
    MOTO_VOICE_FIELD_ZERO,           // 33..51
    0x05, 0x03, 0x0A, 0x03, 0x12,    // 52..56
    MOTO_TRAILER_ZERO,               // 57..66
};

const unsigned char Voice_moto_C[67] = {
    MOTO_BURST_PREFIX,               // 0..30
    0x19, 0x06,                      // 31..32: 25 bytes follow
    MOTO_VOICE_FIELD_ZERO,           // 33..51
    0x03, 0x0A, 0x00, 0x00, 0x16,    // 52..56
    MOTO_TRAILER_ZERO,               // 57..66
};

const unsigned char Voice_moto_D[67] = {
    MOTO_BURST_PREFIX,               // 0..30
    0x19, 0x06,                      // 31..32: 25 bytes follow
    MOTO_VOICE_FIELD_ZERO,           // 33..51
    0x0F, 0x06, 0x35, 0x0A, 0x16,    // 52..56
    MOTO_TRAILER_ZERO,               // 57..66
};

const unsigned char Voice_moto_E[76] = {
    MOTO_BURST_PREFIX,                      // 0..30
    0x22, 0x16,                             // 31..32: 34 bytes follow
    MOTO_VOICE_FIELD_ZERO,                  // 33..51
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 52..58
    0x00, 0x00, 0x00,                       // 59..61: destination
    0x00, 0x00, 0x00,                       // 62..64: source
    0x14,                                   // 65
    MOTO_TRAILER_ZERO,                      // 66..75
};

const unsigned char Voice_moto_F[67] = {
    MOTO_BURST_PREFIX,               // 0..30
    0x19, 0x06,                      // 31..32: 25 bytes follow
    MOTO_VOICE_FIELD_ZERO,           // 33..51
    0x00, 0x00, 0x00, 0x00, 0x10,    // 52..56
    MOTO_TRAILER_ZERO,               // 57..66
};
// clang-format on

#undef MOTO_BURST_PREFIX
#undef MOTO_VOICE_FIELD_ZERO
#undef MOTO_TRAILER_ZERO

unsigned char Voice_moto[80];

namespace {

const unsigned char* const burst_templates[6] = {Voice_moto_A, Voice_moto_B, Voice_moto_C,
                                                 Voice_moto_D, Voice_moto_E, Voice_moto_F};
const unsigned int burst_signed_lens[6] = {MOTO_BURST_A_SIGNED,    MOTO_BURST_BCDF_SIGNED, MOTO_BURST_BCDF_SIGNED,
                                           MOTO_BURST_BCDF_SIGNED, MOTO_BURST_E_SIGNED,    MOTO_BURST_BCDF_SIGNED};

// The datagram holds bytes first..first+width-1.
bool holds(long len, unsigned int first, unsigned int width) {
  return len >= 0 && static_cast<unsigned long>(len) >= static_cast<unsigned long>(first) + width;
}

unsigned char* voice_byte(unsigned char* d, unsigned int bit) { return d + MOTO_OFS_VOICE + bit / 8; }
unsigned char voice_mask(unsigned int bit) { return static_cast<unsigned char>(0x80u >> (bit % 8)); }

void write_voice_bit(unsigned char* d, unsigned int bit, unsigned char v) {
  unsigned char* b = voice_byte(d, bit);
  *b = v ? static_cast<unsigned char>(*b | voice_mask(bit)) : static_cast<unsigned char>(*b & ~voice_mask(bit));
}

}  // namespace

const unsigned char* moto_burst_template(unsigned int position) {
  return (position >= 1 && position <= 6) ? burst_templates[position - 1] : nullptr;
}

unsigned int moto_burst_signed_len(unsigned int position) {
  return (position >= 1 && position <= 6) ? burst_signed_lens[position - 1] : 0;
}

unsigned int moto_burst_len(unsigned int position) {
  const unsigned int n = moto_burst_signed_len(position);
  return n ? n + MOTO_TRAILER_LEN : 0;
}

unsigned int moto_load_burst(unsigned char* buf, unsigned int position) {
  const unsigned char* t = moto_burst_template(position);
  if (!t) return 0;
  memcpy(buf, t, moto_burst_len(position));
  return moto_burst_signed_len(position);
}

void moto_fill_common(unsigned char* d, unsigned char opcode, const unsigned char* peer_id, unsigned char call_seq,
                      uint32_t source, uint32_t destination, const unsigned char* call_tag, uint16_t rtp_sequence) {
  moto_set_opcode(d, opcode);
  moto_set_peer_id(d, peer_id);
  moto_set_call_seq(d, call_seq);
  moto_set_source(d, source);
  moto_set_destination(d, destination);
  moto_set_call_tag(d, call_tag);
  moto_set_rtp_sequence(d, rtp_sequence);
}

void moto_set_opcode(unsigned char* d, unsigned char opcode) { d[MOTO_OFS_OPCODE] = opcode; }

void moto_set_peer_id(unsigned char* d, const unsigned char* peer_id) { memcpy(d + MOTO_OFS_PEER_ID, peer_id, 4); }

void moto_set_call_seq(unsigned char* d, unsigned char call_seq) { d[MOTO_OFS_CALL_SEQ] = call_seq; }

void moto_set_source(unsigned char* d, uint32_t id) { put_be24(d + MOTO_OFS_SOURCE, id); }

void moto_set_destination(unsigned char* d, uint32_t id) { put_be24(d + MOTO_OFS_DESTINATION, id); }

void moto_set_call_tag(unsigned char* d, const unsigned char* call_tag) { memcpy(d + MOTO_OFS_CALL_TAG, call_tag, 4); }

void moto_set_rtp_marker_pt(unsigned char* d, unsigned char value) { d[MOTO_OFS_RTP_MARKER_PT] = value; }

void moto_set_rtp_sequence(unsigned char* d, uint16_t seq) {
  d[MOTO_OFS_RTP_SEQUENCE] = static_cast<unsigned char>(seq >> 8);
  d[MOTO_OFS_RTP_SEQUENCE + 1] = static_cast<unsigned char>(seq);
}

void moto_set_rtp_timestamp(unsigned char* d, uint32_t timestamp) { put_be32(d + MOTO_OFS_RTP_TIMESTAMP, timestamp); }

void moto_set_lc_identifiers(unsigned char* d, uint32_t destination, uint32_t source) {
  put_be24(d + MOTO_OFS_LC_DESTINATION, destination);
  put_be24(d + MOTO_OFS_LC_SOURCE, source);
}

void moto_set_burst_e_identifiers(unsigned char* d, uint32_t destination, uint32_t source) {
  put_be24(d + MOTO_OFS_E_DESTINATION, destination);
  put_be24(d + MOTO_OFS_E_SOURCE, source);
}

bool moto_put_voice_frame(unsigned char* d, unsigned int n, const unsigned char* bits49) {
  if (n > 2) return false;
  const unsigned int first = n * MOTO_VOICE_FRAME_STRIDE;
  for (unsigned int j = 0; j < MOTO_VOICE_FRAME_BITS; ++j) write_voice_bit(d, first + j, bits49[j] & 1u);
  write_voice_bit(d, first + MOTO_VOICE_FRAME_BITS, 0);
  if (n == 2) {
    write_voice_bit(d, 150, 0);
    write_voice_bit(d, 151, 0);
  }
  return true;
}

void moto_put_voice_frames(unsigned char* d, const unsigned char* frame1, const unsigned char* frame2,
                           const unsigned char* frame3) {
  moto_put_voice_frame(d, 0, frame1);
  moto_put_voice_frame(d, 1, frame2);
  moto_put_voice_frame(d, 2, frame3);
}

unsigned int moto_sign(unsigned char* d, unsigned int signed_len) {
  sign_ipsc_packet(d, signed_len);
  return signed_len + MOTO_TRAILER_LEN;
}

bool moto_get_opcode(const unsigned char* d, long len, unsigned char* opcode) {
  if (!holds(len, MOTO_OFS_OPCODE, 1)) return false;
  *opcode = d[MOTO_OFS_OPCODE];
  return true;
}

bool moto_get_peer_id(const unsigned char* d, long len, uint32_t* peer_id) {
  if (!holds(len, MOTO_OFS_PEER_ID, 4)) return false;
  *peer_id = get_be32(d + MOTO_OFS_PEER_ID);
  return true;
}

bool moto_get_call_seq(const unsigned char* d, long len, unsigned char* call_seq) {
  if (!holds(len, MOTO_OFS_CALL_SEQ, 1)) return false;
  *call_seq = d[MOTO_OFS_CALL_SEQ];
  return true;
}

bool moto_get_source(const unsigned char* d, long len, uint32_t* id) {
  if (!holds(len, MOTO_OFS_SOURCE, 3)) return false;
  *id = get_be24(d + MOTO_OFS_SOURCE);
  return true;
}

bool moto_get_destination(const unsigned char* d, long len, uint32_t* id) {
  if (!holds(len, MOTO_OFS_DESTINATION, 3)) return false;
  *id = get_be24(d + MOTO_OFS_DESTINATION);
  return true;
}

bool moto_get_call_tag(const unsigned char* d, long len, unsigned char* call_tag) {
  if (!holds(len, MOTO_OFS_CALL_TAG, 4)) return false;
  memcpy(call_tag, d + MOTO_OFS_CALL_TAG, 4);
  return true;
}

bool moto_get_call_flags(const unsigned char* d, long len, unsigned char* flags) {
  if (!holds(len, MOTO_OFS_CALL_FLAGS, 1)) return false;
  *flags = d[MOTO_OFS_CALL_FLAGS];
  return true;
}

bool moto_is_slot2(const unsigned char* d, long len) {
  unsigned char flags = 0;
  return moto_get_call_flags(d, len, &flags) && (flags & MOTO_FLAG_SLOT2);
}

unsigned int moto_slot(const unsigned char* d, long len) {
  unsigned char flags = 0;
  if (!moto_get_call_flags(d, len, &flags)) return 0;
  return (flags & MOTO_FLAG_SLOT2) ? 2 : 1;
}

void moto_set_slot(unsigned char* d, unsigned int slot) {
  d[MOTO_OFS_CALL_FLAGS] =
      static_cast<unsigned char>((d[MOTO_OFS_CALL_FLAGS] & ~MOTO_FLAG_SLOT2) | (slot == 2 ? MOTO_FLAG_SLOT2 : 0));
}

bool moto_get_rtp_marker_pt(const unsigned char* d, long len, unsigned char* value) {
  if (!holds(len, MOTO_OFS_RTP_MARKER_PT, 1)) return false;
  *value = d[MOTO_OFS_RTP_MARKER_PT];
  return true;
}

bool moto_get_rtp_sequence(const unsigned char* d, long len, uint16_t* seq) {
  if (!holds(len, MOTO_OFS_RTP_SEQUENCE, 2)) return false;
  *seq = static_cast<uint16_t>((d[MOTO_OFS_RTP_SEQUENCE] << 8) | d[MOTO_OFS_RTP_SEQUENCE + 1]);
  return true;
}

bool moto_get_rtp_timestamp(const unsigned char* d, long len, uint32_t* timestamp) {
  if (!holds(len, MOTO_OFS_RTP_TIMESTAMP, 4)) return false;
  *timestamp = get_be32(d + MOTO_OFS_RTP_TIMESTAMP);
  return true;
}

bool moto_get_burst_type(const unsigned char* d, long len, unsigned int* type) {
  if (!holds(len, MOTO_OFS_BURST_TYPE, 1)) return false;
  *type = d[MOTO_OFS_BURST_TYPE] & 0x3Fu;
  return true;
}

bool moto_is_burst_a(const unsigned char* d, long len) {
  return holds(len, MOTO_OFS_BURST_FLAGS, 1) && (d[MOTO_OFS_BURST_FLAGS] & MOTO_BURST_FLAG_A);
}

bool moto_get_lc_identifiers(const unsigned char* d, long len, uint32_t* destination, uint32_t* source) {
  if (!holds(len, MOTO_OFS_LC_DESTINATION, 6)) return false;
  *destination = get_be24(d + MOTO_OFS_LC_DESTINATION);
  *source = get_be24(d + MOTO_OFS_LC_SOURCE);
  return true;
}

bool moto_get_burst_e_identifiers(const unsigned char* d, long len, uint32_t* destination, uint32_t* source) {
  if (!holds(len, MOTO_OFS_E_DESTINATION, 6)) return false;
  *destination = get_be24(d + MOTO_OFS_E_DESTINATION);
  *source = get_be24(d + MOTO_OFS_E_SOURCE);
  return true;
}

bool moto_get_burst_e_lc(const unsigned char* d, long len, unsigned char* flco, uint32_t* destination,
                         uint32_t* source) {
  if (!holds(len, MOTO_OFS_E_DESTINATION, 6) || d[MOTO_OFS_BURST_FLAGS] != MOTO_BURST_MARK_E) return false;
  *flco = d[MOTO_OFS_E_FLCO] & MOTO_FLCO_MASK;
  return moto_get_burst_e_identifiers(d, len, destination, source);
}

bool moto_get_voice_frame(const unsigned char* d, long len, unsigned int n, unsigned char* bits49) {
  if (n > 2 || !holds(len, MOTO_OFS_VOICE, MOTO_VOICE_FIELD_LEN)) return false;
  const unsigned int first = n * MOTO_VOICE_FRAME_STRIDE;
  for (unsigned int j = 0; j < MOTO_VOICE_FRAME_BITS; ++j) {
    const unsigned int bit = first + j;
    bits49[j] = (d[MOTO_OFS_VOICE + bit / 8] & voice_mask(bit)) ? 1 : 0;
  }
  return true;
}
