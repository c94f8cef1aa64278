#include "hytera_packet.h"

#include "dmr_burst_decoder.h"

namespace simhyt {
namespace {

constexpr unsigned kBurstOffset = 26;

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
  Fields f;
  for (int i = 0; i < 4; ++i) f.lead[i] = p[static_cast<size_t>(i)];
  f.sequence = static_cast<uint16_t>(p[4] | (p[5] << 8));
  f.kind = p[8] & 0x0F;
  f.slot = p[16] & 0x0F;
  f.frame_type = p[19];
  f.frame_type_pair_equal = p[18] == p[19];
  f.group = p[62] != 0;
  f.destination = le24(&p[64]);
  f.source = le24(&p[68]);
  for (unsigned i = 0; i < 33; ++i) f.burst[i] = p[kBurstOffset + (i ^ 1u)];
  return f;
}

Packet build(const Header& h, const Burst& burst) {
  Packet p{};
  const bool sync = h.kind == kKindSync;
  if (voice_position(h.frame_type) == 4) {
    p[0] = 0xEE, p[1] = 0xEE, p[2] = 0x11, p[3] = 0x11;
  }
  p[4] = static_cast<uint8_t>(h.sequence);
  p[5] = static_cast<uint8_t>(h.sequence >> 8);
  p[8] = h.kind;
  p[10] = 0x05, p[11] = 0x01, p[12] = 0x02;
  p[16] = p[17] = 0x22;
  p[18] = p[19] = h.frame_type;
  p[20] = p[21] = 0x11;
  if (sync) {
    p[22] = p[23] = 0x11;
  } else {
    p[24] = 0x10;
    p[60] = 0x02;
  }
  for (unsigned i = 0; i < 33; ++i) p[kBurstOffset + (i ^ 1u)] = burst[i];
  p[62] = h.group ? 1 : 0;
  put_le24(&p[64], h.destination);
  put_le24(&p[68], h.source);
  return p;
}

Packet build_sync(const Header& h) {
  Header s = h;
  s.kind = kKindSync;
  s.frame_type = kFrameSync;
  Packet p = build(s, Burst{});
  p[38] = static_cast<uint8_t>(h.source >> 16);
  p[40] = static_cast<uint8_t>(h.source >> 8);
  p[42] = static_cast<uint8_t>(h.source);
  return p;
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
    for (unsigned i = 0; i < 72; ++i)
      frames[n][i] = static_cast<uint8_t>(dmrtest::get_bit(b.data(), frame_bit(n, i)));
  return frames;
}

uint64_t burst_centre(const Burst& b) { return dmrtest::get_bits(b.data(), 108, 48); }

uint64_t emb_centre(uint16_t emb, uint32_t signalling) {
  return (static_cast<uint64_t>(emb >> 8) << 40) | (static_cast<uint64_t>(signalling) << 8) | (emb & 0xFF);
}

uint16_t centre_emb(uint64_t centre) {
  return static_cast<uint16_t>(((centre >> 40) & 0xFF) << 8 | (centre & 0xFF));
}

uint32_t centre_signalling(uint64_t centre) { return static_cast<uint32_t>((centre >> 8) & 0xFFFFFFFF); }

}  // namespace simhyt
