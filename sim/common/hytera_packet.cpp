#include "hytera_packet.h"

#include "dmr_burst_decoder.h"

namespace simhyt {
namespace {

// Burst bits of air frame n, bit i.
unsigned frame_bit(unsigned n, unsigned i) {
  if (n == 0) return i;
  if (n == 2) return 192 + i;
  return i < 36 ? 72 + i : 156 + (i - 36);
}

void put_le24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

uint32_t le24(const uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16); }

}  // namespace

int voice_position(uint8_t frame_type) {
  for (unsigned n = 0; n < 6; ++n)
    if (voice_frame_type(n) == frame_type) return static_cast<int>(n);
  return -1;
}

Fields parse(const Packet& p) {
  using namespace offset;
  Fields f;
  for (size_t i = 0; i < 4; ++i) f.lead[i] = p[kLead + i];
  f.sequence = static_cast<uint16_t>(p[kSequence] | (p[kSequence + 1] << 8));
  f.kind = p[kKind] & 0x0F;
  f.slot = p[kSlot] & 0x0F;
  // slot_code() is 0x11 or 0x22, so only a byte whose low nibble is 1 or 2 can match it.
  f.slot_code_ok = p[kSlot] == slot_code(f.slot) && p[kSlot + 1] == p[kSlot];
  f.frame_type = p[kFrameType];
  f.frame_type_pair_equal = p[kFrameTypeFirst] == p[kFrameType];
  f.group = p[kCallType] != 0;
  f.destination = le24(&p[kDestination]);
  f.source = le24(&p[kSource]);
  for (unsigned i = 0; i < 33; ++i) f.burst[i] = p[kBurst + (i ^ 1u)];
  return f;
}

Packet build(const Header& h, const Burst& burst) {
  using namespace offset;
  Packet p{};
  const bool sync = h.kind == kKindSync;
  if (voice_position(h.frame_type) == 4) {
    p[kLead] = 0xEE, p[kLead + 1] = 0xEE, p[kLead + 2] = 0x11, p[kLead + 3] = 0x11;
  }
  p[kSequence] = static_cast<uint8_t>(h.sequence);
  p[kSequence + 1] = static_cast<uint8_t>(h.sequence >> 8);
  p[kKind] = h.kind;
  p[kMarks] = 0x05, p[kMarks + 1] = 0x01, p[kMarks + 2] = 0x02;
  p[kSlot] = p[kSlot + 1] = slot_code(h.slot);
  p[kFrameTypeFirst] = p[kFrameType] = h.frame_type;
  p[kFrameMark] = p[kFrameMark + 1] = 0x11;
  if (sync) {
    p[kSyncMark] = p[kSyncMark + 1] = 0x11;
  } else {
    p[kDataMark] = 0x10;
    p[kVoiceMark] = 0x02;
  }
  for (unsigned i = 0; i < 33; ++i) p[kBurst + (i ^ 1u)] = burst[i];
  p[kCallType] = h.group ? 1 : 0;
  put_le24(&p[kDestination], h.destination);
  put_le24(&p[kSource], h.source);
  return p;
}

Packet build_sync(const Header& h) {
  Header s = h;
  s.kind = kKindSync;
  s.frame_type = kFrameSync;
  Packet p = build(s, Burst{});
  p[offset::kSyncTalker[0]] = static_cast<uint8_t>(h.source >> 16);
  p[offset::kSyncTalker[1]] = static_cast<uint8_t>(h.source >> 8);
  p[offset::kSyncTalker[2]] = static_cast<uint8_t>(h.source);
  return p;
}

uint32_t sync_talker(const Packet& p) {
  using offset::kSyncTalker;
  return static_cast<uint32_t>(p[kSyncTalker[0]]) << 16 | p[kSyncTalker[1]] << 8 | p[kSyncTalker[2]];
}

bool fixed_bytes_ok(const Packet& p, bool sync) {
  using namespace offset;
  const bool e_lead = p[kFrameTypeFirst] == voice_frame_type(4);
  const uint8_t lead = e_lead ? 0xEE : 0x00, lead2 = e_lead ? 0x11 : 0x00;
  return p[kLead] == lead && p[kLead + 1] == lead && p[kLead + 2] == lead2 && p[kLead + 3] == lead2 &&
         p[kSequence + 2] == 0 && p[kSequence + 3] == 0 && p[kKind + 1] == 0 && p[kMarks] == 0x05 &&
         p[kMarks + 1] == 0x01 && p[kMarks + 2] == 0x02 && p[kMarks + 3] == 0 && p[kMarks + 4] == 0 &&
         p[kMarks + 5] == 0 && p[kFrameTypeFirst] == p[kFrameType] && p[kFrameMark] == 0x11 &&
         p[kFrameMark + 1] == 0x11 && p[kSyncMark] == (sync ? 0x11 : 0) && p[kSyncMark + 1] == (sync ? 0x11 : 0) &&
         p[kDataMark] == (sync ? 0 : 0x10) && p[kDataMark + 1] == 0 && p[kBurstSpare] == 0 &&
         p[kVoiceMark] == (sync ? 0 : 0x02) && p[kVoiceMark + 1] == 0 && p[kCallType + 1] == 0 &&
         p[kDestination + 3] == 0 && p[kSource + 3] == 0;
}

Burst voice_burst(const std::array<simdmr::AirFrame, 3>& frames, uint64_t centre48) {
  Burst b{};
  for (unsigned n = 0; n < 3; ++n)
    for (unsigned i = 0; i < 72; ++i) dmrtest::set_bit(b.data(), frame_bit(n, i), frames[n][i]);
  dmrtest::set_bits(b.data(), 108, 48, centre48);
  return b;
}

std::array<simdmr::AirFrame, 3> burst_frames(const Burst& b) {
  std::array<simdmr::AirFrame, 3> frames{};
  for (unsigned n = 0; n < 3; ++n)
    for (unsigned i = 0; i < 72; ++i) frames[n][i] = static_cast<uint8_t>(dmrtest::get_bit(b.data(), frame_bit(n, i)));
  return frames;
}

uint64_t burst_centre(const Burst& b) { return dmrtest::get_bits(b.data(), 108, 48); }

uint64_t emb_centre(uint16_t emb, uint32_t signalling) {
  return (static_cast<uint64_t>(emb >> 8) << 40) | (static_cast<uint64_t>(signalling) << 8) | (emb & 0xFF);
}

uint16_t centre_emb(uint64_t centre) { return static_cast<uint16_t>(((centre >> 40) & 0xFF) << 8 | (centre & 0xFF)); }

uint32_t centre_signalling(uint64_t centre) { return static_cast<uint32_t>((centre >> 8) & 0xFFFFFFFF); }

}  // namespace simhyt
