#pragma once
// The 72-byte voice packet of the Hytera repeater protocol as the network
// master sends and receives it: a little-endian header of call fields and
// one 33-byte DMR burst, stored with every byte pair swapped. The slot code
// says the timeslot: 22 22 for timeslot 2, 11 11 for timeslot 1.
#include <array>
#include <cstddef>
#include <cstdint>

#include "ambe_frame.h"

namespace simhyt {

constexpr unsigned kPacketSize = 72;
using Packet = std::array<uint8_t, kPacketSize>;
using Burst = std::array<uint8_t, 33>;

// Byte offsets of the packet.
namespace offset {
constexpr size_t kLead = 0;      // 4 bytes: EE EE 11 11 before burst E, zero otherwise
constexpr size_t kSequence = 4;  // 2 bytes, little-endian; two zero bytes follow
constexpr size_t kKind = 8;      // a zero byte follows
constexpr size_t kMarks = 10;    // 05 01 02, then three zero bytes
constexpr size_t kSlot = 16;     // 2 bytes: the slot code; a reader takes the low four bits of the first
constexpr size_t kFrameTypeFirst = 18;
constexpr size_t kFrameType = 19;  // repeats the byte before it
constexpr size_t kFrameMark = 20;  // 11 11
constexpr size_t kSyncMark = 22;   // 11 11 in the sync packet, zero in the others
constexpr size_t kDataMark = 24;   // 10 00, but zero in the sync packet
constexpr size_t kBurst = 26;      // 33 bytes, byte pairs swapped (up to 59, 58 unused)
constexpr size_t kBurstSpare = 58;
constexpr size_t kVoiceMark = 60;    // 02 00, but zero in the sync packet
constexpr size_t kCallType = 62;     // non-zero: group call; a zero byte follows
constexpr size_t kDestination = 64;  // 3 bytes, little-endian; a zero byte follows
constexpr size_t kSource = 68;       // 3 bytes, little-endian; a zero byte follows
// The sync packet's talker, most significant byte first, in place of the burst.
constexpr size_t kSyncTalker[3] = {38, 40, 42};
}  // namespace offset

// Each byte of the slot code of timeslot 1 or 2: 0x11 or 0x22.
constexpr uint8_t slot_code(unsigned slot) { return slot == 1 ? 0x11 : 0x22; }

// The 66-byte location record the bridge sends the master for a position
// report: ASCII fields at fixed offsets.
namespace location {
constexpr size_t kLength = 66;
constexpr size_t kPeerText = 0;  // up to 15 characters, NUL-padded
constexpr size_t kPeerTextLength = 15;
constexpr size_t kMarkQ = 6;       // 'Q'
constexpr size_t kSource = 25;     // 3 bytes, big-endian
constexpr size_t kLatitude = 43;   // 9 characters
constexpr size_t kLongitude = 53;  // 9 characters
constexpr size_t kCoordinateLength = 9;
constexpr size_t kMark2 = 62;  // '2'
constexpr size_t kMode = 63;
}  // namespace location

enum PacketKind : uint8_t { kKindVoice = 0x01, kKindSync = 0x02, kKindEnd = 0x03 };
enum FrameType : uint8_t {
  kFrameHeader = 0x11,
  kFrameTerminator = 0x22,
  kFrameA = 0x77,
  kFrameSync = 0xEE,
};
// Frame-type code of voice burst position 0..5 (A..F).
constexpr uint8_t voice_frame_type(unsigned position) { return static_cast<uint8_t>(0x77 + 0x11 * position); }
// Position 0..5 of a voice frame-type code, -1 for anything else.
int voice_position(uint8_t frame_type);

constexpr uint64_t kVoiceSync = 0x755FD7DF75F7ULL;

struct Fields {
  uint8_t lead[4]{};
  uint16_t sequence = 0;
  uint8_t kind = 0;           // low four bits of byte 8
  uint8_t slot = 0;           // low four bits of byte 16
  bool slot_code_ok = false;  // bytes 16 and 17 both the code of timeslot 1 or 2
  uint8_t frame_type = 0;
  bool frame_type_pair_equal = false;
  bool group = true;
  uint32_t destination = 0;
  uint32_t source = 0;
  Burst burst{};
};

Fields parse(const Packet& p);

struct Header {
  unsigned slot = 2;
  uint16_t sequence = 0;
  uint8_t kind = kKindVoice;
  uint8_t frame_type = kFrameHeader;
  bool group = true;
  uint32_t destination = 0;
  uint32_t source = 0;
};
// A packet with the fixed bytes a master sends, the call fields and the burst.
Packet build(const Header& h, const Burst& burst);
// The sync packet that opens a call: no burst, the talker at offset::kSyncTalker.
Packet build_sync(const Header& h);
uint32_t sync_talker(const Packet& p);
// Whether the bytes around the call fields and the burst are the ones a
// master writes (`sync`: as in the sync packet); the slot code is judged
// apart (Fields::slot_code_ok).
bool fixed_bytes_ok(const Packet& p, bool sync);

// Voice bursts: three air frames around a 48-bit centre.
Burst voice_burst(const std::array<simdmr::AirFrame, 3>& frames, uint64_t centre48);
std::array<simdmr::AirFrame, 3> burst_frames(const Burst& b);
uint64_t burst_centre(const Burst& b);
// Centre of bursts B..F: EMB halves around 32 bits of embedded signalling.
uint64_t emb_centre(uint16_t emb, uint32_t signalling);
uint16_t centre_emb(uint64_t centre);
uint32_t centre_signalling(uint64_t centre);

}  // namespace simhyt
