#pragma once
// The 72-byte voice packet of the Hytera repeater protocol as the network
// master sends and receives it: a little-endian header of call fields and
// one 33-byte DMR burst of timeslot 2, stored with every byte pair swapped.
#include <array>
#include <cstdint>

#include "ambe_frame.h"

namespace simhyt {

constexpr unsigned kPacketSize = 72;
using Packet = std::array<uint8_t, kPacketSize>;
using Burst = std::array<uint8_t, 33>;

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
  uint8_t kind = 0;  // low four bits of byte 8
  uint8_t slot = 0;  // low four bits of byte 16
  uint8_t frame_type = 0;
  bool frame_type_pair_equal = false;
  bool group = true;
  uint32_t destination = 0;
  uint32_t source = 0;
  Burst burst{};
};

Fields parse(const Packet& p);

struct Header {
  uint16_t sequence = 0;
  uint8_t kind = kKindVoice;
  uint8_t frame_type = kFrameHeader;
  bool group = true;
  uint32_t destination = 0;
  uint32_t source = 0;
};
// A packet with the fixed bytes a master sends, the call fields and the burst.
Packet build(const Header& h, const Burst& burst);
// The sync packet that opens a call: no burst, the talker in bytes 38, 40, 42.
Packet build_sync(const Header& h);

// Voice bursts: three air frames around a 48-bit centre.
Burst voice_burst(const std::array<simdmr::AirFrame, 3>& frames, uint64_t centre48);
std::array<simdmr::AirFrame, 3> burst_frames(const Burst& b);
uint64_t burst_centre(const Burst& b);
// Centre of bursts B..F: EMB halves around 32 bits of embedded signalling.
uint64_t emb_centre(uint16_t emb, uint32_t signalling);
uint16_t centre_emb(uint64_t centre);
uint32_t centre_signalling(uint64_t centre);

}  // namespace simhyt
