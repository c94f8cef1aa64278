#pragma once
// Motorola IPSC datagrams as the repeater (the IPSC master) sees them:
// the 10-byte HMAC-SHA1 trailer, the control packets it answers with, and
// the voice and data datagrams of timeslot-2 calls.
#include <array>
#include <cstdint>
#include <vector>

#include "ambe_frame.h"

namespace simipsc {

using Bytes = std::vector<uint8_t>;
using Key = std::array<uint8_t, 20>;

// Up to 40 hex digits, right-aligned behind leading zeros as the bridge reads them.
bool parse_key(const char* text, Key& key);

void append_signature(Bytes& datagram, const Key& key);
bool signature_valid(const Bytes& datagram, const Key& key);

uint32_t be32(const uint8_t* p);
uint32_t be24(const uint8_t* p);
void put_be32(uint8_t* p, uint32_t v);
void put_be24(uint8_t* p, uint32_t v);

enum Opcode : uint8_t {
  kGroupVoice = 0x80,
  kPrivateVoice = 0x81,
  kData = 0x84,
  kRegisterRequest = 0x90,
  kRegisterReply = 0x91,
  kPeerListRequest = 0x92,
  kPeerListReply = 0x93,
  kPeerRegisterRequest = 0x94,
  kPeerRegisterReply = 0x95,
  kKeepAliveRequest = 0x96,
  kKeepAliveReply = 0x97,
  kPeerKeepAliveRequest = 0x98,
  kPeerKeepAliveReply = 0x99,
};

enum BurstType : uint8_t { kVoiceHeader = 0x01, kVoiceTerminator = 0x02, kDataHeader = 0x06, kDataBlock = 0x08, kVoiceBurst = 0x0A };

struct PeerEntry {
  uint32_t id = 0;
  uint32_t address = 0;  // host order, a.b.c.d = a << 24 ...
  uint16_t port = 0;
};

Bytes register_reply(uint32_t master_id, const Key& key);
Bytes peer_list_reply(uint32_t master_id, const std::vector<PeerEntry>& peers, const Key& key);
Bytes keep_alive_reply(uint32_t master_id, const Key& key);
Bytes peer_request(uint8_t opcode, uint32_t peer_id, const Key& key);

// The fields every call datagram starts with.
struct CallFields {
  uint8_t opcode = kGroupVoice;
  uint32_t peer = 0;
  uint8_t call_sequence = 0;
  uint32_t source = 0;
  uint32_t destination = 0;
  uint8_t tag[4]{};
  uint8_t flags = 0x20;  // timeslot 2
  uint8_t rtp_marker_type = 0x5D;
  uint16_t rtp_sequence = 0;
  uint32_t rtp_timestamp = 0;
  uint8_t burst_type = 0;
};

CallFields parse_call(const Bytes& d);

using VoiceField = std::array<uint8_t, 19>;
VoiceField pack_voice(const std::array<simdmr::VoiceBits, 3>& frames);
std::array<simdmr::VoiceBits, 3> unpack_voice(const uint8_t* field19);
// Bits 49, 99 and 149..151 of the voice field: must be zero.
bool voice_padding_zero(const uint8_t* field19);

// Signed voice datagrams; position 0..5 is burst A..F.
Bytes voice_header(const CallFields& c, const Key& key);
Bytes voice_terminator(const CallFields& c, const Key& key);
Bytes voice_burst(const CallFields& c, unsigned position, const VoiceField& voice, const Key& key);
// Expected signed length of a received burst at position 0..5.
unsigned burst_length(unsigned position);

// Data call packets (position reports): a data header, then blocks of 16 bytes.
Bytes data_packet(const CallFields& c, uint8_t data_type, const uint8_t* block16, const Key& key);

}  // namespace simipsc
