#pragma once
// Motorola IPSC datagrams as the repeater (the IPSC master) sees them:
// the 10-byte HMAC-SHA1 trailer, the control packets it answers with, and
// the voice and data datagrams of calls on either timeslot.
#include <array>
#include <cstddef>
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

enum BurstType : uint8_t {
  kVoiceHeader = 0x01,
  kVoiceTerminator = 0x02,
  kDataHeader = 0x06,
  kDataBlock = 0x08,
  kVoiceBurst = 0x0A
};

// Byte offsets of a call datagram (voice and data): the call fields, the
// RTP header from kRtpVersion on, and the burst type; what follows depends
// on the burst type.
namespace call {
constexpr size_t kOpcode = 0;
constexpr size_t kPeer = 1;  // 4 bytes, big-endian, as in every datagram
constexpr size_t kCallSequence = 5;
constexpr size_t kSource = 6;       // 3 bytes
constexpr size_t kDestination = 9;  // 3 bytes
constexpr size_t kPriority = 12;
constexpr size_t kTag = 13;  // 4 bytes
constexpr size_t kFlags = 17;
constexpr size_t kRtpVersion = 18;
constexpr size_t kRtpMarkerType = 19;
constexpr size_t kRtpSequence = 20;   // 2 bytes
constexpr size_t kRtpTimestamp = 22;  // 4 bytes
constexpr size_t kBurstType = 30;
constexpr size_t kPrefixLength = 31;
// Voice header and terminator: the link-control block and its tail.
constexpr size_t kLcLead = 31;
constexpr size_t kLcWords = 33;
constexpr size_t kLcOptions = 34;  // 4 bytes
constexpr size_t kLcCallType = 38;
constexpr size_t kLcDestination = 41;
constexpr size_t kLcSource = 44;
constexpr size_t kLcTail = 50;
// Voice bursts: the length byte, burst A's flag, the 19-byte voice field,
// the fixed bytes of B, C, D and F, and burst E's identifiers.
constexpr size_t kBurstLength = 31;
constexpr size_t kBurstFlag = 32;
constexpr size_t kVoiceField = 33;
constexpr size_t kBurstFixed = 52;
constexpr size_t kBurstFixedLength = 5;
constexpr size_t kBurstELc = 56;  // the nine octets of the link control the repeater reassembled
constexpr size_t kBurstEDestination = 59;
constexpr size_t kBurstESource = 62;
constexpr size_t kBurstETail = 65;
// Data packets: the block length byte and the 16-byte block.
constexpr size_t kDataLength = 31;
constexpr size_t kDataBlock = 38;

constexpr uint8_t kPriorityValue = 0x02;
constexpr uint8_t kRtpVersionValue = 0x80;
constexpr uint8_t kMarkerFirstHeader = 0xDD;  // the first header of a call
constexpr uint8_t kMarkerVoice = 0x5D;        // repeated headers and bursts
constexpr uint8_t kMarkerEnd = 0x5E;          // the terminator
constexpr uint8_t kFlagsSlot2 = 0x20;         // clear: timeslot 1
constexpr uint8_t kFlagsEnd = 0x40;           // with the timeslot in the terminator
constexpr uint8_t kBurstFlagA = 0x40;
constexpr uint8_t kBurstMarkE = 0x16;  // byte 32 of burst E
constexpr uint8_t kFlcoGroupVoice = 0x00;
constexpr uint8_t kFlcoUnitToUnitVoice = 0x03;
constexpr uint8_t kFlcoTalkerAliasHeader = 0x04;  // its blocks follow as 0x05..0x07
constexpr uint8_t kBurstTypeMask = 0x3F;
// Signed lengths of header and terminator.
constexpr size_t kHeaderLength = 66;
constexpr size_t kTerminatorLength = 64;
}  // namespace call

// The call flags of a header or burst on timeslot 1 or 2, and the timeslot
// a datagram's flags mark.
constexpr uint8_t slot_flags(unsigned slot) { return slot == 1 ? 0 : call::kFlagsSlot2; }
constexpr unsigned slot_of_flags(uint8_t flags) { return flags & call::kFlagsSlot2 ? 2 : 1; }

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
  uint8_t flags = call::kFlagsSlot2;
  uint8_t rtp_marker_type = call::kMarkerVoice;
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

// Signed voice datagrams; position 0..5 is burst A..F. Burst E carries the
// link control `lc9` (nine octets: FLCO, FID, options, destination,
// source), by default the voice link control of the call's identifiers.
Bytes voice_header(const CallFields& c, const Key& key);
Bytes voice_terminator(const CallFields& c, const Key& key);
Bytes voice_burst(const CallFields& c, unsigned position, const VoiceField& voice, const Key& key,
                  const uint8_t* lc9 = nullptr);
// Expected signed length of a received burst at position 0..5.
unsigned burst_length(unsigned position);
// The call::kBurstFixedLength fixed bytes of burst B, C, D or F at
// call::kBurstFixed; nullptr for A and E.
const uint8_t* burst_fixed_bytes(unsigned position);

// Data call packets (position reports): a data header, then blocks of 16 bytes.
Bytes data_packet(const CallFields& c, uint8_t data_type, const uint8_t* block16, const Key& key);

}  // namespace simipsc
