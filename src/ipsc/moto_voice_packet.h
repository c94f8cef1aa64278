#pragma once
// Motorola IPSC voice datagrams: voice header, bursts A..F and terminator,
// their templates, and the helpers that fill, sign and read them. All
// multi-byte fields are big-endian. Every datagram ends in the 10-byte
// signature trailer over all bytes before it.
//
// Writers take a buffer that holds the whole datagram (see the lengths
// below). Readers take a received datagram with its length as returned by
// the receive (negative for an error) and refuse, returning false, when the
// field lies beyond it.
#include <cstdint>

// ---- Lengths

constexpr unsigned int MOTO_TRAILER_LEN = 10;
constexpr unsigned int MOTO_HEADER_LEN = 66;
constexpr unsigned int MOTO_HEADER_SIGNED = 56;
constexpr unsigned int MOTO_TERMINATOR_LEN = 64;
constexpr unsigned int MOTO_TERMINATOR_SIGNED = 54;
constexpr unsigned int MOTO_BURST_A_LEN = 62;
constexpr unsigned int MOTO_BURST_A_SIGNED = 52;
constexpr unsigned int MOTO_BURST_BCDF_LEN = 67;
constexpr unsigned int MOTO_BURST_BCDF_SIGNED = 57;
constexpr unsigned int MOTO_BURST_E_LEN = 76;
constexpr unsigned int MOTO_BURST_E_SIGNED = 66;
constexpr unsigned int MOTO_WORK_BUFFER_LEN = 80;

// ---- Offsets

constexpr unsigned int MOTO_OFS_OPCODE = 0;
constexpr unsigned int MOTO_OFS_PEER_ID = 1;  // 4 bytes
constexpr unsigned int MOTO_OFS_CALL_SEQ = 5;
constexpr unsigned int MOTO_OFS_SOURCE = 6;       // 3 bytes
constexpr unsigned int MOTO_OFS_DESTINATION = 9;  // 3 bytes
constexpr unsigned int MOTO_OFS_CALL_TAG = 13;    // 4 bytes
constexpr unsigned int MOTO_OFS_CALL_FLAGS = 17;
constexpr unsigned int MOTO_OFS_RTP_MARKER_PT = 19;
constexpr unsigned int MOTO_OFS_RTP_SEQUENCE = 20;   // 2 bytes
constexpr unsigned int MOTO_OFS_RTP_TIMESTAMP = 22;  // 4 bytes
constexpr unsigned int MOTO_OFS_BURST_TYPE = 30;
constexpr unsigned int MOTO_OFS_BURST_FLAGS = 32;
constexpr unsigned int MOTO_OFS_VOICE = 33;  // 19 bytes
constexpr unsigned int MOTO_VOICE_FIELD_LEN = 19;
constexpr unsigned int MOTO_OFS_LC_DESTINATION = 41;  // header and terminator
constexpr unsigned int MOTO_OFS_LC_SOURCE = 44;       // header and terminator
constexpr unsigned int MOTO_OFS_LC_CHECK = 47;        // 3 bytes, never recomputed
constexpr unsigned int MOTO_OFS_E_FLCO = 56;          // burst E: first octet of its link control
constexpr unsigned int MOTO_OFS_E_DESTINATION = 59;   // burst E
constexpr unsigned int MOTO_OFS_E_SOURCE = 62;        // burst E

// Voice field: three 49-bit AMBE+2 frames, frame n at bit 50·n from the
// most significant bit of byte 33; the bit after each frame and the last two
// bits of byte 51 are 0.
constexpr unsigned int MOTO_VOICE_FRAME_BITS = 49;
constexpr unsigned int MOTO_VOICE_FRAME_STRIDE = 50;

// ---- Field values

constexpr unsigned char MOTO_OPCODE_GROUP_VOICE = 0x80;
constexpr unsigned char MOTO_OPCODE_PRIVATE_VOICE = 0x81;
constexpr unsigned char MOTO_FLAG_SLOT2 = 0x20;
constexpr unsigned char MOTO_FLAG_END = 0x40;
constexpr unsigned char MOTO_RTP_FIRST_HEADER = 0xDD;  // marker set, payload type 0x5D
constexpr unsigned char MOTO_RTP_VOICE = 0x5D;         // repeated header and bursts
constexpr unsigned char MOTO_RTP_TERMINATOR = 0x5E;
constexpr unsigned int MOTO_BURST_TYPE_HEADER = 1;
constexpr unsigned int MOTO_BURST_TYPE_TERMINATOR = 2;
constexpr unsigned int MOTO_BURST_TYPE_VOICE = 10;
constexpr unsigned char MOTO_BURST_FLAG_A = 0x40;  // byte 32: first burst of a superframe
constexpr unsigned char MOTO_BURST_MARK_E = 0x16;  // byte 32 of burst E
constexpr unsigned char MOTO_FLCO_MASK = 0x3F;     // byte 56 without the protect flag and reserved bit

// ---- Templates and working buffer

// Filled in place for every send.
extern unsigned char Voice_moto66[66];  // voice header
extern unsigned char Voice_moto64[64];  // voice terminator
// Copied into Voice_moto for every burst; never written.
extern const unsigned char Voice_moto_A[62];
extern const unsigned char Voice_moto_B[67];
extern const unsigned char Voice_moto_C[67];
extern const unsigned char Voice_moto_D[67];
extern const unsigned char Voice_moto_E[76];
extern const unsigned char Voice_moto_F[67];
// Burst working buffer, zero at start.
extern unsigned char Voice_moto[80];

// Burst template, signed length and sent length for superframe position
// 1..6 (A..F); nullptr / 0 for any other position.
const unsigned char* moto_burst_template(unsigned int position);
unsigned int moto_burst_signed_len(unsigned int position);
unsigned int moto_burst_len(unsigned int position);

// Copies the template of position 1..6 whole into buf (at least 76 bytes
// long, Voice_moto normally) and returns its signed length; 0 and nothing
// copied for any other position.
unsigned int moto_load_burst(unsigned char* buf, unsigned int position);

// ---- Writers

// The fields every datagram of a call carries: opcode, peer identifier
// (4 bytes as on the wire, MyBridgeID), call sequence number, source,
// destination, call tag (4 bytes) and RTP sequence number. The timestamp is
// left to moto_set_rtp_timestamp, because it is only advanced once a packet
// is known to be sent.
void moto_fill_common(unsigned char* d, unsigned char opcode, const unsigned char* peer_id, unsigned char call_seq,
                      uint32_t source, uint32_t destination, const unsigned char* call_tag, uint16_t rtp_sequence);

void moto_set_opcode(unsigned char* d, unsigned char opcode);
void moto_set_peer_id(unsigned char* d, const unsigned char* peer_id);
void moto_set_call_seq(unsigned char* d, unsigned char call_seq);
void moto_set_source(unsigned char* d, uint32_t id);
void moto_set_destination(unsigned char* d, uint32_t id);
void moto_set_call_tag(unsigned char* d, const unsigned char* call_tag);
void moto_set_rtp_marker_pt(unsigned char* d, unsigned char value);
void moto_set_rtp_sequence(unsigned char* d, uint16_t seq);
void moto_set_rtp_timestamp(unsigned char* d, uint32_t timestamp);

// Link-control identifiers of header and terminator (bytes 41..46); the
// check bytes 47..49 stay as the template holds them.
void moto_set_lc_identifiers(unsigned char* d, uint32_t destination, uint32_t source);
// Identifiers of burst E (bytes 59..64).
void moto_set_burst_e_identifiers(unsigned char* d, uint32_t destination, uint32_t source);

// Writes 49 bits (one per byte) as frame n (0..2) of the voice field and
// clears the spare bit after it (and for frame 2 the last two bits of byte
// 51). False, nothing written, for n beyond 2.
bool moto_put_voice_frame(unsigned char* d, unsigned int n, const unsigned char* bits49);
// All three frames; every spare bit of the field ends as 0.
void moto_put_voice_frames(unsigned char* d, const unsigned char* frame1, const unsigned char* frame2,
                           const unsigned char* frame3);

// Signs bytes 0..signed_len-1 with the network key, trailer into
// signed_len..signed_len+9; returns the length to send.
unsigned int moto_sign(unsigned char* d, unsigned int signed_len);

// ---- Readers (false when the datagram is too short to hold the field)

bool moto_get_opcode(const unsigned char* d, long len, unsigned char* opcode);
bool moto_get_peer_id(const unsigned char* d, long len, uint32_t* peer_id);
bool moto_get_call_seq(const unsigned char* d, long len, unsigned char* call_seq);
bool moto_get_source(const unsigned char* d, long len, uint32_t* id);
bool moto_get_destination(const unsigned char* d, long len, uint32_t* id);
bool moto_get_call_tag(const unsigned char* d, long len, unsigned char* call_tag);
bool moto_get_call_flags(const unsigned char* d, long len, unsigned char* flags);
// True only for a datagram long enough to tell and marked timeslot 2.
bool moto_is_slot2(const unsigned char* d, long len);
// The timeslot a datagram is marked for: 2 with bit 0x20 of byte 17, 1
// without; 0 when it is too short to tell.
unsigned int moto_slot(const unsigned char* d, long len);
// Marks the datagram for `slot` (1 or 2) in byte 17, keeping its other flags.
void moto_set_slot(unsigned char* d, unsigned int slot);
bool moto_get_rtp_marker_pt(const unsigned char* d, long len, unsigned char* value);
bool moto_get_rtp_sequence(const unsigned char* d, long len, uint16_t* seq);
bool moto_get_rtp_timestamp(const unsigned char* d, long len, uint32_t* timestamp);
// Low six bits of byte 30: 1 header, 2 terminator, 10 voice burst.
bool moto_get_burst_type(const unsigned char* d, long len, unsigned int* type);
// True only for a datagram long enough to tell whose byte 32 marks burst A.
bool moto_is_burst_a(const unsigned char* d, long len);
bool moto_get_lc_identifiers(const unsigned char* d, long len, uint32_t* destination, uint32_t* source);
bool moto_get_burst_e_identifiers(const unsigned char* d, long len, uint32_t* destination, uint32_t* source);
// The link control a repeater reassembles into burst E (byte 32 = 0x16):
// its FLCO (low six bits of byte 56) and identifiers (bytes 59..64). False
// for any other datagram, or one too short to hold them.
bool moto_get_burst_e_lc(const unsigned char* d, long len, unsigned char* flco, uint32_t* destination,
                         uint32_t* source);
// Frame n (0..2) of the voice field as 49 bits, one per byte.
bool moto_get_voice_frame(const unsigned char* d, long len, unsigned int n, unsigned char* bits49);
