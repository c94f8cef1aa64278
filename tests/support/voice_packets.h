#pragma once
// Builders of the voice datagrams the two peers send, and readers of the
// AMBE+2 frames the bridge puts out, for the voice path tests.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include <netinet/in.h>

#include "coding/AMBEplus2_33.h"
#include "ipsc/moto_voice_packet.h"
#include "main/config.h"
#include "main/repeater_address.h"
#include "main/sockets.h"
#include "master_link/hytera_voice_packet.h"
#include "voice/moto_to_hytera.h"

namespace voicetest {

// What start-up has done before the network-to-repeater path runs: the Golay
// table, the key and our peer identifier 00 04 03 56; its datagrams leave on
// `bridge_fd` toward `repeater`.
inline void prepare_network_voice(const unsigned char* key, int bridge_fd, const sockaddr_in& repeater) {
  init_Golay_23_12();
  memcpy(Key, key, sizeof Key);
  const unsigned char id[4] = {0x00, 0x04, 0x03, 0x56};
  memcpy(MyBridgeID, id, sizeof id);
  Quorvix_sock = bridge_fd;
  set_fromUser2(repeater);
}

// What start-up has done before the repeater-to-network path runs: the Golay
// table; its packets leave on `bridge_fd` toward 127.0.0.1:`master_port`,
// and the path starts afresh.
inline void prepare_repeater_voice(int bridge_fd, int master_port) {
  init_Golay_23_12();
  snprintf(MasterIP, sizeof MasterIP, "127.0.0.1");
  hytera_voice_port = master_port;
  Local_Repeater_audio_srv_sock = bridge_fd;
  reset_moto_to_hytera();
}

using Bytes = std::vector<unsigned char>;
using Frame49 = std::array<unsigned char, 49>;
using BurstFrames = std::array<Frame49, 3>;

inline Frame49 random_frame(std::mt19937& rng) {
  Frame49 f{};
  for (auto& b : f) b = static_cast<unsigned char>(rng() & 1u);
  return f;
}

inline BurstFrames random_burst(std::mt19937& rng) { return {random_frame(rng), random_frame(rng), random_frame(rng)}; }

struct Call {
  uint32_t source = 2620001;
  uint32_t destination = 9;
  bool private_call = false;
  bool slot2 = true;
};

// ---- What the Motorola repeater sends

inline Bytes moto_common(Bytes d, const Call& c, uint16_t sequence) {
  const unsigned char peer[4] = {0x00, 0x00, 0x30, 0x39};
  const unsigned char tag[4] = {1, 2, 3, 4};
  moto_fill_common(d.data(), c.private_call ? MOTO_OPCODE_PRIVATE_VOICE : MOTO_OPCODE_GROUP_VOICE, peer, 7, c.source,
                   c.destination, tag, sequence);
  if (!c.slot2) d[MOTO_OFS_CALL_FLAGS] &= static_cast<unsigned char>(~MOTO_FLAG_SLOT2);
  return d;
}

inline Bytes moto_header(const Call& c, uint16_t sequence, unsigned char marker) {
  Bytes d = moto_common(Bytes(Voice_moto66, Voice_moto66 + MOTO_HEADER_LEN), c, sequence);
  d[MOTO_OFS_RTP_MARKER_PT] = marker;
  return d;
}

inline Bytes moto_terminator(const Call& c, uint16_t sequence) {
  return moto_common(Bytes(Voice_moto64, Voice_moto64 + MOTO_TERMINATOR_LEN), c, sequence);
}

// Burst of superframe position 1..6; only A carries the burst-A flag.
inline Bytes moto_burst(const Call& c, uint16_t sequence, unsigned int position, const BurstFrames& f) {
  const unsigned char* t = moto_burst_template(position);
  Bytes d = moto_common(Bytes(t, t + moto_burst_len(position)), c, sequence);
  moto_put_voice_frames(d.data(), f[0].data(), f[1].data(), f[2].data());
  return d;
}

// ---- What the network master sends

inline Bytes hytera_packet(const unsigned char* hytera_template, const Call& c, uint16_t sequence) {
  Bytes p(hytera_template, hytera_template + HYT_PACKET_LEN);
  hyt_set_sequence(p.data(), sequence);
  hyt_set_source(p.data(), c.source);
  hyt_set_destination(p.data(), c.destination);
  hyt_set_call_type(p.data(), c.private_call ? HYT_CALL_PRIVATE : HYT_CALL_GROUP);
  hyt_set_slot(p.data(), c.slot2 ? 2 : 1);
  return p;
}

inline Bytes hytera_header(const Call& c, uint16_t sequence) { return hytera_packet(start_hyt, c, sequence); }

inline Bytes hytera_end(const Call& c, uint16_t sequence) { return hytera_packet(ende_hyt, c, sequence); }

inline Bytes hytera_burst(const Call& c, uint16_t sequence, unsigned int position, BurstFrames f) {
  Bytes p = hytera_packet(hyt_voice_template(position), c, sequence);
  for (unsigned int n = 0; n < 3; ++n) {
    unsigned char coded[72];
    codiere_AMBEplus2_33(coded, 2, f[n].data());
    hyt_put_ambe_frame(p.data(), n, coded);
  }
  return p;
}

// ---- Reading what the bridge sends

// The three frames of a Hytera voice packet, decoded; false if one is
// uncorrectable.
inline bool decode_hytera_frames(const Bytes& p, BurstFrames* out) {
  for (unsigned int n = 0; n < 3; ++n) {
    unsigned char coded[72];
    hyt_get_ambe_frame(p.data(), n, coded);
    char err_a = 0, err_b = 0;
    decodiere_AMBEplus2_33(coded, &err_a, &err_b, 2, (*out)[n].data());
    if (err_a != 0 || err_b != 0) return false;
  }
  return true;
}

inline BurstFrames moto_frames(const Bytes& d) {
  BurstFrames f{};
  for (unsigned int n = 0; n < 3; ++n) moto_get_voice_frame(d.data(), static_cast<long>(d.size()), n, f[n].data());
  return f;
}

}  // namespace voicetest
