#include "ipsc_packet.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>

namespace simipsc {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The call fields every call datagram starts with.
Bytes call_prefix(const CallFields& c, size_t length) {
  Bytes d(length, 0);
  d[call::kOpcode] = c.opcode;
  put_be32(&d[call::kPeer], c.peer);
  d[call::kCallSequence] = c.call_sequence;
  put_be24(&d[call::kSource], c.source);
  put_be24(&d[call::kDestination], c.destination);
  d[call::kPriority] = call::kPriorityValue;
  std::memcpy(&d[call::kTag], c.tag, 4);
  d[call::kFlags] = c.flags;
  d[call::kRtpVersion] = call::kRtpVersionValue;
  d[call::kRtpMarkerType] = c.rtp_marker_type;
  d[call::kRtpSequence] = static_cast<uint8_t>(c.rtp_sequence >> 8);
  d[call::kRtpSequence + 1] = static_cast<uint8_t>(c.rtp_sequence);
  put_be32(&d[call::kRtpTimestamp], c.rtp_timestamp);
  d[call::kBurstType] = c.burst_type;
  return d;
}

// Link-control block of header and terminator: options, destination, source.
void put_lc_block(Bytes& d, const CallFields& c, uint8_t lead, uint8_t words) {
  static const uint8_t options[4] = {0x84, 0x0A, 0x00, 0x60};
  d[call::kLcLead] = lead;
  d[call::kLcWords] = words;
  std::memcpy(&d[call::kLcOptions], options, sizeof options);
  d[call::kLcCallType] = c.opcode == kPrivateVoice ? 0x03 : 0x00;
  put_be24(&d[call::kLcDestination], c.destination);
  put_be24(&d[call::kLcSource], c.source);
}

}  // namespace

bool parse_key(const char* text, Key& key) {
  const size_t n = std::strlen(text);
  if (n > 40) return false;
  char digits[41];
  std::memset(digits, '0', 40);
  std::memcpy(digits + 40 - n, text, n);
  for (int i = 0; i < 20; ++i) {
    const int hi = hex_value(digits[2 * i]), lo = hex_value(digits[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    key[static_cast<size_t>(i)] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

void append_signature(Bytes& datagram, const Key& key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), datagram.data(), datagram.size(), digest, &len);
  datagram.insert(datagram.end(), digest, digest + 10);
}

bool signature_valid(const Bytes& datagram, const Key& key) {
  if (datagram.size() <= 10) return false;
  Bytes body(datagram.begin(), datagram.end() - 10);
  append_signature(body, key);
  return body == datagram;
}

uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | p[2] << 8 | p[3];
}
uint32_t be24(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2]; }
void put_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  put_be24(p + 1, v);
}
void put_be24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}

Bytes register_reply(uint32_t master_id, const Key& key) {
  // Opcode, master id, mode, flags, peer count, protocol version: 16 bytes
  // signed, 26 on the wire.
  Bytes d = {kRegisterReply, 0, 0, 0, 0, 0x6A, 0x00, 0x00, 0x80, 0x5C, 0x00, 0x01, 0x04, 0x03, 0x04, 0x00};
  put_be32(&d[1], master_id);
  append_signature(d, key);
  return d;
}

Bytes peer_list_reply(uint32_t master_id, const std::vector<PeerEntry>& peers, const Key& key) {
  Bytes d(7, 0);
  d[0] = kPeerListReply;
  put_be32(&d[1], master_id);
  const size_t area = peers.size() * 11;
  d[5] = static_cast<uint8_t>(area >> 8);
  d[6] = static_cast<uint8_t>(area);
  for (const PeerEntry& p : peers) {
    uint8_t e[11];
    put_be32(e, p.id);
    put_be32(e + 4, p.address);
    e[8] = static_cast<uint8_t>(p.port >> 8);
    e[9] = static_cast<uint8_t>(p.port);
    e[10] = 0x6A;
    d.insert(d.end(), e, e + 11);
  }
  append_signature(d, key);
  return d;
}

Bytes keep_alive_reply(uint32_t master_id, const Key& key) {
  Bytes d = {kKeepAliveReply, 0, 0, 0, 0, 0x6A, 0x00, 0x00, 0x80, 0x5C, 0x04, 0x03, 0x04, 0x00};
  put_be32(&d[1], master_id);
  append_signature(d, key);
  return d;
}

Bytes peer_request(uint8_t opcode, uint32_t peer_id, const Key& key) {
  Bytes d = {opcode, 0, 0, 0, 0, 0x6A, 0x00, 0x00, 0x80, 0x5C};
  put_be32(&d[1], peer_id);
  append_signature(d, key);
  return d;
}

CallFields parse_call(const Bytes& d) {
  CallFields c;
  if (d.size() < call::kPrefixLength) return c;
  c.opcode = d[call::kOpcode];
  c.peer = be32(&d[call::kPeer]);
  c.call_sequence = d[call::kCallSequence];
  c.source = be24(&d[call::kSource]);
  c.destination = be24(&d[call::kDestination]);
  std::memcpy(c.tag, &d[call::kTag], 4);
  c.flags = d[call::kFlags];
  c.rtp_marker_type = d[call::kRtpMarkerType];
  c.rtp_sequence = static_cast<uint16_t>(d[call::kRtpSequence] << 8 | d[call::kRtpSequence + 1]);
  c.rtp_timestamp = be32(&d[call::kRtpTimestamp]);
  c.burst_type = d[call::kBurstType] & call::kBurstTypeMask;
  return c;
}

VoiceField pack_voice(const std::array<simdmr::VoiceBits, 3>& frames) {
  VoiceField v{};
  for (unsigned n = 0; n < 3; ++n)
    for (unsigned i = 0; i < 49; ++i) {
      const unsigned k = 50 * n + i;
      if (frames[n][i]) v[k / 8] = static_cast<uint8_t>(v[k / 8] | (0x80 >> (k % 8)));
    }
  return v;
}

std::array<simdmr::VoiceBits, 3> unpack_voice(const uint8_t* field19) {
  std::array<simdmr::VoiceBits, 3> frames{};
  for (unsigned n = 0; n < 3; ++n)
    for (unsigned i = 0; i < 49; ++i) {
      const unsigned k = 50 * n + i;
      frames[n][i] = static_cast<uint8_t>((field19[k / 8] >> (7 - k % 8)) & 1);
    }
  return frames;
}

bool voice_padding_zero(const uint8_t* field19) {
  for (unsigned k : {49u, 99u, 149u, 150u, 151u})
    if ((field19[k / 8] >> (7 - k % 8)) & 1) return false;
  return true;
}

Bytes voice_header(const CallFields& c, const Key& key) {
  CallFields h = c;
  h.burst_type = kVoiceHeader;
  Bytes d = call_prefix(h, 56);
  put_lc_block(d, h, 0x80, 0x0B);
  const uint8_t tail[6] = {0x00, 0x11, 0x01, 0x36, 0x04, 0xCD};
  std::memcpy(&d[call::kLcTail], tail, 6);
  append_signature(d, key);
  return d;
}

Bytes voice_terminator(const CallFields& c, const Key& key) {
  CallFields t = c;
  t.burst_type = kVoiceTerminator;
  t.flags = static_cast<uint8_t>(c.flags | call::kFlagsEnd);
  t.rtp_marker_type = call::kMarkerEnd;
  Bytes d = call_prefix(t, 54);
  put_lc_block(d, t, 0xC0, 0x0A);
  const uint8_t tail[4] = {0x00, 0x12, 0x05, 0x0C};
  std::memcpy(&d[call::kLcTail], tail, 4);
  append_signature(d, key);
  return d;
}

unsigned burst_length(unsigned position) {
  if (position == 0) return 52;
  if (position == 4) return 66;
  return 57;
}

const uint8_t* burst_fixed_bytes(unsigned position) {
  static const uint8_t fixed[6][call::kBurstFixedLength] = {
      {}, {0x05, 0x03, 0x0A, 0x03, 0x12}, {0x03, 0x0A, 0x00, 0x00, 0x16}, {0x0F, 0x06, 0x35, 0x0A, 0x16},
      {}, {0x00, 0x00, 0x00, 0x00, 0x10}};
  return position < 6 && position != 0 && position != 4 ? fixed[position] : nullptr;
}

Bytes voice_burst(const CallFields& c, unsigned position, const VoiceField& voice, const Key& key, const uint8_t* lc9) {
  CallFields b = c;
  b.burst_type = 0x8A;
  b.rtp_marker_type = call::kMarkerVoice;
  Bytes d = call_prefix(b, burst_length(position));
  d[call::kBurstLength] = static_cast<uint8_t>(burst_length(position) - 32);
  d[call::kBurstFlag] = position == 0 ? call::kBurstFlagA : position == 4 ? call::kBurstMarkE : 0x06;
  std::memcpy(&d[call::kVoiceField], voice.data(), voice.size());
  if (position == 4) {
    if (lc9) {
      std::memcpy(&d[call::kBurstELc], lc9, 9);
    } else {
      d[call::kBurstELc] = c.opcode == kPrivateVoice ? call::kFlcoUnitToUnitVoice : call::kFlcoGroupVoice;
      put_be24(&d[call::kBurstEDestination], c.destination);
      put_be24(&d[call::kBurstESource], c.source);
    }
    d[call::kBurstETail] = 0x14;
  } else if (const uint8_t* fixed = burst_fixed_bytes(position)) {
    std::memcpy(&d[call::kBurstFixed], fixed, call::kBurstFixedLength);
  }
  append_signature(d, key);
  return d;
}

Bytes data_packet(const CallFields& c, uint8_t data_type, const uint8_t* block16, const Key& key) {
  CallFields p = c;
  p.opcode = kData;
  p.burst_type = data_type;
  Bytes d = call_prefix(p, 54);
  d[call::kDataLength] = 0x16;
  if (block16) std::memcpy(&d[call::kDataBlock], block16, 16);
  append_signature(d, key);
  return d;
}

}  // namespace simipsc
