// Writes the seed corpora of the fuzz targets: valid datagrams and files as
// the bridge and its peers make them, built with the bridge's own packet
// templates, field writers, signer and coders.
//
//   build/fuzz/make_fuzz_corpus fuzz/corpus
//
// Every seed is deterministic, so running it again reproduces the committed
// files byte for byte. Sequence targets take records of
// [length][control][data] (fuzz_support.h).
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "coding/AMBEplus2_33.h"
#include "coding/decode48bit.h"
#include "fuzz_support.h"
#include "ipsc/control_packets.h"
#include "ipsc/moto_voice_packet.h"
#include "ipsc/packet_sign.h"
#include "main/config.h"
#include "master_link/hytera_voice_packet.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string out_root;

void write_seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  std::string dir = out_root + "/" + target;
  mkdir(out_root.c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  std::string path = dir + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    perror(path.c_str());
    return;
  }
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// A sequence of records for the sequence targets.
class Sequence {
 public:
  Sequence& add(const unsigned char* data, size_t size, unsigned control = 0) {
    bytes_.push_back(static_cast<unsigned char>(size));
    bytes_.push_back(static_cast<unsigned char>(control));
    bytes_.insert(bytes_.end(), data, data + size);
    return *this;
  }
  Sequence& add(const Bytes& data, unsigned control = 0) { return add(data.data(), data.size(), control); }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// Deterministic voice bits for the frames of a call.
uint32_t lcg_state = 12345;
unsigned char next_bit() {
  lcg_state = lcg_state * 1103515245u + 12345u;
  return (lcg_state >> 16) & 1;
}
void voice_bits(unsigned char* bits, size_t count) {
  for (size_t i = 0; i < count; ++i) bits[i] = next_bit();
}

const uint32_t kSource = 2621001;
const uint32_t kDestination = 9;
const unsigned char kRepeaterId[4] = {0x00, 0x04, 0x03, 0x57};
const unsigned char kCallTag[4] = {0x11, 0x22, 0x33, 0x44};

// ---- Motorola side (what the repeater sends the bridge)

Bytes signed_control(std::initializer_list<unsigned char> head, size_t signed_length) {
  Bytes p(signed_length + MOTO_TRAILER_LEN, 0);
  std::copy(head.begin(), head.end(), p.begin());
  sign_ipsc_packet(p.data(), static_cast<unsigned>(signed_length));
  return p;
}

Bytes peer_list(int entries) {
  Bytes p(7 + 11 * entries + MOTO_TRAILER_LEN, 0);
  p[0] = 0x93;
  memcpy(&p[1], kRepeaterId, 4);
  p[6] = static_cast<unsigned char>(11 * entries);
  for (int n = 0; n < entries; ++n) {
    unsigned char* e = &p[7 + 11 * n];
    e[3] = static_cast<unsigned char>(0x60 + n);
    e[4] = 127;
    e[7] = static_cast<unsigned char>(2 + n);
    e[8] = 0xC3;
    e[9] = 0x50;
  }
  sign_ipsc_packet(p.data(), static_cast<unsigned>(7 + 11 * entries));
  return p;
}

Bytes moto_header(unsigned char opcode, uint16_t rtp_seq, bool first) {
  unsigned char d[MOTO_WORK_BUFFER_LEN] = {};
  memcpy(d, Voice_moto66, sizeof Voice_moto66);
  moto_fill_common(d, opcode, kRepeaterId, 7, kSource, kDestination, kCallTag, rtp_seq);
  moto_set_rtp_marker_pt(d, first ? MOTO_RTP_FIRST_HEADER : MOTO_RTP_VOICE);
  moto_set_lc_identifiers(d, kDestination, kSource);
  unsigned len = moto_sign(d, MOTO_HEADER_SIGNED);
  return Bytes(d, d + len);
}

Bytes moto_burst(unsigned char opcode, unsigned position, uint16_t rtp_seq) {
  unsigned char d[MOTO_WORK_BUFFER_LEN] = {};
  unsigned signed_len = moto_load_burst(d, position);
  moto_fill_common(d, opcode, kRepeaterId, 7, kSource, kDestination, kCallTag, rtp_seq);
  unsigned char frames[3][49];
  for (auto& frame : frames) voice_bits(frame, 49);
  moto_put_voice_frames(d, frames[0], frames[1], frames[2]);
  if (position == 5) moto_set_burst_e_identifiers(d, kDestination, kSource);
  unsigned len = moto_sign(d, signed_len);
  return Bytes(d, d + len);
}

Bytes moto_terminator(unsigned char opcode, uint16_t rtp_seq) {
  unsigned char d[MOTO_WORK_BUFFER_LEN] = {};
  memcpy(d, Voice_moto64, sizeof Voice_moto64);
  moto_fill_common(d, opcode, kRepeaterId, 7, kSource, kDestination, kCallTag, rtp_seq);
  moto_set_lc_identifiers(d, kDestination, kSource);
  unsigned len = moto_sign(d, MOTO_TERMINATOR_SIGNED);
  return Bytes(d, d + len);
}

// A call as the repeater relays it: header twice, `superframes` of bursts
// A..F, terminator.
Sequence moto_call(unsigned char opcode, int superframes) {
  Sequence s;
  uint16_t seq = 100;
  s.add(moto_header(opcode, seq++, true));
  s.add(moto_header(opcode, seq++, false));
  for (int f = 0; f < superframes; ++f)
    for (unsigned position = 1; position <= 6; ++position) s.add(moto_burst(opcode, position, seq++));
  s.add(moto_terminator(opcode, seq++));
  return s;
}

// An over as current firmware sends it when the radio sends talker alias:
// the call sequence byte rises every superframe, the RTP timestamp runs on,
// and every other superframe carries alias text where the identifiers
// belong, burst E's link control included (FLCO 0x04..0x07). With
// `late`, the header and the first superframe are missed and the stream
// starts at an alias superframe's burst E. The last superframe comes after
// 2.4 s of silence (the call's time-out), its timestamp running on.
Sequence moto_alias_call(int superframes, bool late) {
  Sequence s;
  uint16_t seq = 300;
  uint32_t timestamp = 0xFFFFF100;  // wraps during the over
  unsigned char call_seq = 20;
  auto add = [&](Bytes d, unsigned signed_len, unsigned control = 0) {
    moto_set_call_seq(d.data(), call_seq);
    moto_set_rtp_sequence(d.data(), seq++);
    moto_set_rtp_timestamp(d.data(), timestamp);
    timestamp += 480;
    if (!late) s.add(Bytes(d.begin(), d.begin() + moto_sign(d.data(), signed_len)), control);
  };
  const uint32_t alias_destination = 0x4E304D, alias_source = 0x4A5300;  // "N0M", "JS\0"
  if (!late) add(moto_header(MOTO_OPCODE_GROUP_VOICE, 0, true), MOTO_HEADER_SIGNED);
  for (int f = 0; f < superframes; ++f, ++call_seq) {
    const bool alias = f % 2 == 1;
    for (unsigned position = 1; position <= 6; ++position) {
      Bytes d = moto_burst(MOTO_OPCODE_GROUP_VOICE, position, 0);
      if (alias) {
        moto_set_source(d.data(), alias_source);
        moto_set_destination(d.data(), alias_destination);
      }
      if (position == 5) {
        d[MOTO_OFS_E_FLCO] = alias ? static_cast<unsigned char>(0x04 + f / 2 % 4) : 0x00;
        if (alias) moto_set_burst_e_identifiers(d.data(), alias_destination, alias_source);
      }
      if (late && f == 1 && position == 5) late = false;
      const bool after_silence = f == superframes - 1 && position == 1;
      add(d, moto_burst_signed_len(position), after_silence ? 30 : 0);  // 30 x 16 turns of 5 ms
    }
  }
  add(moto_terminator(MOTO_OPCODE_GROUP_VOICE, 0), MOTO_TERMINATOR_SIGNED);
  return s;
}

// A data packet: data header (type 6) or block (type 8) carrying 16 bytes.
Bytes moto_data(unsigned char data_type, const unsigned char* block16) {
  unsigned char d[MOTO_WORK_BUFFER_LEN] = {};
  moto_fill_common(d, 0x84, kRepeaterId, 3, kSource, kDestination, kCallTag, 0);
  d[MOTO_OFS_CALL_FLAGS] = MOTO_FLAG_SLOT2;
  d[MOTO_OFS_BURST_TYPE] = data_type;
  if (block16) memcpy(d + 38, block16, 16);
  unsigned len = moto_sign(d, 54);
  return Bytes(d, d + len);
}

// A position report whose text has its two dots `dot` and `dot + 11` bytes
// into the stored blocks.
Sequence position_report(int dot, int blocks) {
  char text[96];
  memset(text, '0', sizeof text);
  memcpy(text, "\x01\x02GPRMC,", 9);
  text[dot] = '.';
  text[dot + 11] = '.';
  text[dot + 6] = ',';
  text[dot + 15] = ',';
  Sequence s;
  unsigned char skipped[16];
  memset(skipped, 'x', sizeof skipped);
  s.add(moto_data(6, nullptr));
  s.add(moto_data(8, skipped));
  for (int b = 0; b < blocks; ++b) s.add(moto_data(8, reinterpret_cast<const unsigned char*>(text) + 16 * (b % 6)));
  return s;
}

void ipsc_seeds() {
  Sequence control;
  control
      .add(signed_control({0x91, 0x00, 0x04, 0x03, 0x57, 0x6A}, 16))  // registration reply, 26 bytes
      .add(peer_list(2))
      .add(signed_control({0x97, 0x00, 0x04, 0x03, 0x57, 0x6A}, 14))  // keep-alive reply
      .add(signed_control({0x96, 0x00, 0x04, 0x03, 0x57, 0x6A}, 14))  // master's keep-alive request
      .add(signed_control({0x94, 0x00, 0x00, 0x30, 0x39, 0x6A}, 14))  // peer registration request
      .add(signed_control({0x98, 0x00, 0x00, 0x30, 0x39, 0x6A}, 10))  // peer keep-alive request
      .add(signed_control({0x97, 0x00, 0x04, 0x03, 0x57}, 6), 63);    // after 1008 empty turns
  write_seed("ipsc", "control_exchange", control.bytes());

  // The signature check itself (ipsc_fuzz.cpp: control bit 6 leaves a
  // datagram unsigned, bit 7 makes another peer its sender): requests,
  // replies and a list of three under a wrong trailer, a trailer with one
  // bit off, what is too short to carry one, and a datagram longer than the
  // receive buffer; then another peer's signed requests, which are answered.
  constexpr unsigned kAsItStands = 64, kOtherPeer = 128;
  Bytes flipped = signed_control({0x97, 0x00, 0x04, 0x03, 0x57, 0x6A}, 14);
  flipped.back() ^= 0x01;
  Bytes wrong_list = peer_list(3);
  wrong_list[wrong_list.size() - 10] ^= 0x80;
  Sequence forged;
  forged.add(Bytes(26, 0x91), kAsItStands)
      .add(Bytes(20, 0x94), kAsItStands | kOtherPeer)
      .add(flipped, kAsItStands)
      .add(wrong_list, kAsItStands)
      .add(peer_list(3), kOtherPeer)
      .add(Bytes(10, 0x97), kAsItStands)
      .add(Bytes(), kAsItStands)
      .add(Bytes(240, 0x93))
      .add(signed_control({0x94, 0x00, 0x00, 0x30, 0x39, 0x6A}, 14), kOtherPeer)
      .add(signed_control({0x98, 0x00, 0x00, 0x30, 0x39, 0x6A}, 10), kOtherPeer);
  write_seed("ipsc", "forged_and_other_peers", forged.bytes());

  // Signed datagrams sent again: the bridge's own keep-alive request from
  // another peer and from the repeater's address (both reflected), the
  // repeater's keep-alive reply a second time with no request outstanding,
  // from another peer, and after a keep-alive request; the repeater's voice
  // from another peer, and voice under another peer identifier.
  const Bytes reply = signed_control({0x97, 0x00, 0x04, 0x03, 0x57, 0x6A}, 14);
  Sequence replayed;
  replayed.add(signed_control({0x91, 0x00, 0x04, 0x03, 0x57, 0x6A}, 16))
      .add(Bytes(start_hb, start_hb + sizeof start_hb), kOtherPeer)
      .add(Bytes(start_hb, start_hb + sizeof start_hb))
      .add(reply)
      .add(reply)
      .add(reply, kOtherPeer)
      .add(reply, 63)
      .add(moto_header(MOTO_OPCODE_GROUP_VOICE, 300, true), kOtherPeer);
  Bytes other_id = moto_header(MOTO_OPCODE_GROUP_VOICE, 301, true);
  other_id[4] ^= 0x01;
  sign_ipsc_packet(other_id.data(), MOTO_HEADER_SIGNED);
  replayed.add(other_id);
  write_seed("ipsc", "replayed_and_reflected", replayed.bytes());
  write_seed("ipsc", "peer_limit", Sequence().add(peer_list(1)).add(peer_list(3)).bytes());
  write_seed("ipsc", "group_call", moto_call(MOTO_OPCODE_GROUP_VOICE, 2).bytes());
  write_seed("ipsc", "private_call", moto_call(MOTO_OPCODE_PRIVATE_VOICE, 1).bytes());
  const int dots[] = {17, 19, 25, 20};
  for (int dot : dots) write_seed("ipsc", "position_report_dot" + std::to_string(dot), position_report(dot, 3).bytes());
  write_seed("ipsc", "position_report_long", position_report(17, 9).bytes());
}

// ---- Network-master side (what the master sends on port 62006)

uint16_t hyt_seq = 1;

Bytes hyt_packet(const unsigned char* tmpl, unsigned char kind, unsigned char frame_type, unsigned slot,
                 uint32_t source) {
  Bytes p(tmpl, tmpl + HYT_PACKET_LEN);
  hyt_set_sequence(p.data(), hyt_seq++);
  hyt_set_kind(p.data(), kind);
  hyt_set_slot(p.data(), slot);
  hyt_set_frame_type(p.data(), frame_type);
  hyt_set_call_type(p.data(), HYT_CALL_GROUP);
  hyt_set_destination(p.data(), kDestination);
  hyt_set_source(p.data(), source);
  return p;
}

Bytes hyt_burst(unsigned position, unsigned slot, uint32_t source, const unsigned char* embedded32) {
  Bytes p = hyt_packet(hyt_voice_template(position), HYT_KIND_VOICE, hyt_voice_frame_type(position), slot, source);
  for (unsigned n = 0; n < 3; ++n) {
    unsigned char voice[49], frame[72];
    voice_bits(voice, 49);
    codiere_AMBEplus2_33(frame, 2, voice);
    hyt_put_ambe_frame(p.data(), n, frame);
  }
  if (embedded32) hyt_put_embedded_signalling(p.data(), embedded32);
  return p;
}

// A call from the master: sync, header, superframes A..F with the embedded
// link control of the call, terminator. Control bytes give the clock steps
// in milliseconds (hytera_voice_fuzz.cpp).
Sequence hyt_call(unsigned slot, uint32_t source, int superframes, unsigned gap_ms = 60) {
  Sequence s;
  Bytes sync = hyt_packet(sync_hyt, HYT_KIND_SYNC, HYT_FT_SYNC, slot, source);
  hyt_set_burst_source(sync.data(), source);
  s.add(sync, gap_ms);
  Bytes header = hyt_packet(start_hyt, HYT_KIND_VOICE, HYT_FT_VOICE_HEADER, slot, source);
  hyt_set_burst_source(header.data(), source);
  s.add(header, gap_ms);
  unsigned char head[3] = {0, 0, 0};
  unsigned char dest[3] = {0, 0, static_cast<unsigned char>(kDestination)};
  unsigned char src[3] = {static_cast<unsigned char>(source >> 16), static_cast<unsigned char>(source >> 8),
                          static_cast<unsigned char>(source)};
  unsigned char lc_block[128];
  encode_MultiBlockEmbeddedLC(head, dest, src, lc_block);
  for (int f = 0; f < superframes; ++f) {
    for (unsigned position = 1; position <= 6; ++position) {
      const unsigned char* embedded = (position >= 2 && position <= 5) ? lc_block + 32 * (position - 2) : nullptr;
      s.add(hyt_burst(position, slot, source, embedded), gap_ms);
    }
  }
  s.add(hyt_packet(ende_hyt, HYT_KIND_END, HYT_FT_TERMINATOR, slot, source), gap_ms);
  return s;
}

// Streams shaped as real masters send them, for the jitter buffer's grid:
// a slow clock, a restarted count, a second talker right after the first,
// a stray copy of a call's last burst. Made last, on saved generator states,
// so that the seeds before keep their bytes.
void master_shaped_seeds() {
  const uint32_t saved_lcg = lcg_state;
  const uint16_t saved_seq = hyt_seq;
  write_seed("hytera_voice", "slow_clock", hyt_call(2, kSource, 12, 62).bytes());

  Sequence restarted = hyt_call(2, kSource, 1);
  const Bytes& first_part = restarted.bytes();
  hyt_seq = 0;
  Sequence rest;
  for (unsigned position = 1; position <= 6; ++position) rest.add(hyt_burst(position, 2, kSource, nullptr), 60);
  rest.add(hyt_packet(ende_hyt, HYT_KIND_END, HYT_FT_TERMINATOR, 2, kSource), 60);
  Bytes both = first_part;
  // The first call's terminator goes: the count restarts mid-call instead.
  both.resize(both.size() - (2 + HYT_PACKET_LEN));
  both.insert(both.end(), rest.bytes().begin(), rest.bytes().end());
  write_seed("hytera_voice", "restart_mid_call", both);

  // An echo at the end of these two makes their length pick the buffer in
  // auto mode (hytera_voice_fuzz.cpp).
  const unsigned char echo[1] = {'A'};
  Bytes back_to_back = hyt_call(2, kSource, 1).bytes();
  const Bytes second = hyt_call(2, kSource + 1, 1, 40).add(echo, 1, 60).bytes();
  back_to_back.insert(back_to_back.end(), second.begin(), second.end());
  write_seed("hytera_voice", "back_to_back", back_to_back);

  Sequence stray = hyt_call(2, kSource, 1);
  const uint16_t after = hyt_seq;
  hyt_seq = static_cast<uint16_t>(after - 2);
  stray.add(hyt_burst(6, 2, kSource, nullptr), 103).add(echo, 1, 60);  // 1 s after the end
  write_seed("hytera_voice", "stray_after_call", stray.bytes());
  lcg_state = saved_lcg;
  hyt_seq = saved_seq;
}

// Calls on both timeslots at once, datagram by datagram, some of them
// bunched; each seed's length makes the harness bridge both timeslots, one
// without the jitter buffer and one with 120 ms (hytera_voice_fuzz.cpp).
// Made last, on saved generator states, so that the seeds before keep their
// bytes.
void both_slot_seeds() {
  const uint32_t saved_lcg = lcg_state;
  const uint16_t saved_seq = hyt_seq;
  auto records_of = [](const Sequence& s) {
    std::vector<FuzzRecord> records;
    FuzzRecords r(s.bytes().data(), s.bytes().size());
    for (FuzzRecord record; r.next(&record);) records.push_back(record);
    return records;
  };
  const Sequence on1 = hyt_call(1, kSource + 1, 2), on2 = hyt_call(2, kSource, 2);
  const std::vector<FuzzRecord> records1 = records_of(on1), records2 = records_of(on2);
  Sequence both;
  for (size_t i = 0; i < records1.size() || i < records2.size(); ++i) {
    // Every fifth pair comes in a bunch.
    const bool bunched = i % 5 == 4;
    if (i < records1.size()) both.add(records1[i].data, records1[i].size, bunched ? 3 : 41);
    if (i < records2.size()) both.add(records2[i].data, records2[i].size, bunched ? 2 : 19);
  }
  const unsigned char echo[1] = {'A'};
  for (unsigned size_mod_8 : {4u, 6u}) {
    Sequence padded = both;
    while (padded.bytes().size() % 8 != size_mod_8) padded.add(echo, 1, 60);
    write_seed("hytera_voice", size_mod_8 == 4 ? "both_slots_unbuffered" : "both_slots_buffered", padded.bytes());
  }
  lcg_state = saved_lcg;
  hyt_seq = saved_seq;
}

void hytera_seeds() {
  const unsigned char echo[1] = {'A'};
  write_seed("hytera_voice", "login_echo", Sequence().add(echo, 1, 0).add(echo, 1, 127).bytes());
  write_seed("hytera_voice", "call_slot2", hyt_call(2, kSource, 2).bytes());
  write_seed("hytera_voice", "call_slot1", hyt_call(1, kSource, 1).bytes());
  write_seed("hytera_voice", "call_bunched", hyt_call(2, kSource, 1, 5).bytes());

  // A call that stalls past the transmit time-out, then goes on.
  Sequence stalled = hyt_call(2, kSource, 1);
  stalled.add(hyt_burst(3, 2, kSource, nullptr), 127).add(hyt_burst(4, 2, kSource, nullptr), 60);
  write_seed("hytera_voice", "call_timeout", stalled.bytes());

  // Another talker keys up in the middle of a call.
  Sequence doubling = hyt_call(2, kSource, 1);
  doubling.add(hyt_burst(2, 2, kSource + 1, nullptr), 60);
  write_seed("hytera_voice", "doubling", doubling.bytes());

  // One burst of a running call arrives with its sequence number mangled
  // far ahead; the rest of the call follows in order.
  Sequence jumped;
  {
    Bytes sync = hyt_packet(sync_hyt, HYT_KIND_SYNC, HYT_FT_SYNC, 2, kSource);
    Bytes header = hyt_packet(start_hyt, HYT_KIND_VOICE, HYT_FT_VOICE_HEADER, 2, kSource);
    jumped.add(sync, 60).add(header, 60).add(hyt_burst(1, 2, kSource, nullptr), 60);
    Bytes mangled = hyt_burst(2, 2, kSource, nullptr);
    hyt_set_sequence(mangled.data(), 60000);
    jumped.add(mangled, 60);
    for (unsigned position = 3; position <= 6; ++position) jumped.add(hyt_burst(position, 2, kSource, nullptr), 60);
    jumped.add(hyt_packet(ende_hyt, HYT_KIND_END, HYT_FT_TERMINATOR, 2, kSource), 60);
  }
  write_seed("hytera_voice", "sequence_jump_mid_call", jumped.bytes());

  // Burst F with no call running, and every frame-type code alone.
  write_seed("hytera_voice", "burst_f_without_header", Sequence().add(hyt_burst(6, 2, kSource, nullptr), 60).bytes());
  Sequence codes;
  const unsigned char all_codes[] = {HYT_FT_SYNC,    HYT_FT_VOICE_HEADER, HYT_FT_TERMINATOR,
                                     HYT_FT_BURST_A, HYT_FT_BURST_B,      HYT_FT_BURST_C,
                                     HYT_FT_BURST_D, HYT_FT_BURST_E,      HYT_FT_BURST_F};
  for (unsigned char code : all_codes)
    for (unsigned char kind : {HYT_KIND_VOICE, HYT_KIND_SYNC, HYT_KIND_END})
      codes.add(hyt_packet(Voice_hyt3, kind, code, 2, kSource), 10);
  write_seed("hytera_voice", "every_code", codes.bytes());

  // Another host's echoes and call (hytera_voice_fuzz.cpp: control bit 7),
  // then the master's call. Made last, on saved generator states, so that
  // the seeds above and after keep their bytes.
  const uint32_t saved_lcg = lcg_state;
  const uint16_t saved_seq = hyt_seq;
  constexpr unsigned kOtherHost = 128;
  Sequence strangers;
  strangers.add(echo, 1, kOtherHost).add(echo, 1, 110 | kOtherHost);
  const Sequence stranger_call = hyt_call(2, kSource + 7, 1);
  for (FuzzRecords r(stranger_call.bytes().data(), stranger_call.bytes().size());;) {
    FuzzRecord record;
    if (!r.next(&record)) break;
    strangers.add(record.data, record.size, record.control | kOtherHost);
  }
  const Sequence master_call = hyt_call(2, kSource, 1);
  const Bytes& tail = master_call.bytes();
  Bytes all = strangers.bytes();
  all.insert(all.end(), tail.begin(), tail.end());
  write_seed("hytera_voice", "other_host_then_master", all);
  lcg_state = saved_lcg;
  hyt_seq = saved_seq;
  master_shaped_seeds();
  both_slot_seeds();
}

// ---- RDAC port

void rdac_seeds() {
  Bytes answer(24, 0x7e);
  Bytes short_answer(23, 0x7e), long_answer(25, 0x7e);
  // login, two announcement turns, the master's answer
  write_seed("rdac", "answer_while_logged_in",
             Sequence().add(nullptr, 0, 1 | 2 | 4).add(nullptr, 0, 1 | 4).add(answer, 1 | 4).bytes());
  write_seed("rdac", "wrong_lengths_then_offline",
             Sequence().add(short_answer, 1 | 2 | 4).add(long_answer, 1 | 4).add(answer, 4).add(nullptr, 0, 8).bytes());
  // Another host's answer (rdac_fuzz.cpp: control bit 4) during the schedule, then the master's.
  write_seed(
      "rdac", "other_host_answer",
      Sequence().add(nullptr, 0, 1 | 2 | 4).add(answer, 1 | 4 | 16).add(answer, 1 | 16).add(answer, 1 | 4).bytes());
  Sequence full_schedule;
  full_schedule.add(nullptr, 0, 1 | 2 | 4);
  for (int i = 0; i < 5; ++i) full_schedule.add(nullptr, 0, 1 | 4);
  write_seed("rdac", "full_schedule", full_schedule.bytes());
}

// ---- Embedded signalling

void pack_bits(const unsigned char* bits, size_t nbits, Bytes* out) {
  for (size_t i = 0; i < nbits; i += 8) {
    unsigned char byte = 0;
    for (size_t b = 0; b < 8; ++b) byte = static_cast<unsigned char>(byte << 1 | bits[i + b]);
    out->push_back(byte);
  }
}

void embedded_seeds() {
  const unsigned char lc[9] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x27, 0xFE, 0x49};
  unsigned char block[128];
  encode_MultiBlockEmbeddedLC(const_cast<unsigned char*>(lc), const_cast<unsigned char*>(lc + 3),
                              const_cast<unsigned char*>(lc + 6), block);
  // The burst centres of the master's templates B..E carry the EMBs for
  // fragments 1..4 (LCSS 1, 3, 3, 2); F carries a single fragment (LCSS 0).
  Bytes seed(lc, lc + 9);
  for (unsigned position = 2; position <= 6; ++position) {
    unsigned char centre[48];
    hyt_read_burst_bits(hyt_voice_template(position), HYT_BIT_CENTRE, 48, centre);
    if (position <= 5)
      memcpy(centre + 8, block + 32 * (position - 2), 32);
    else
      for (int i = 0; i < 32; ++i) centre[8 + i] = static_cast<unsigned char>(i & 1);
    pack_bits(centre, 48, &seed);
  }
  write_seed("embedded_lc", "superframe", seed);

  // The same superframe with its block damaged in ways the decoder tells
  // apart: LC[0] arriving as 1 (the row-0 retry), one bit of row 3 flipped,
  // and an LC bit changed with its row's parity made good again, so only the
  // checksum catches it.
  auto damaged = [&](const char* name, void (*damage)(unsigned char* block)) {
    unsigned char copy[128];
    memcpy(copy, block, sizeof copy);
    damage(copy);
    Bytes s(lc, lc + 9);
    for (unsigned position = 2; position <= 5; ++position) {
      unsigned char centre[48];
      hyt_read_burst_bits(hyt_voice_template(position), HYT_BIT_CENTRE, 48, centre);
      memcpy(centre + 8, copy + 32 * (position - 2), 32);
      pack_bits(centre, 48, &s);
    }
    write_seed("embedded_lc", name, s);
  };
  // Block bit k is matrix row k % 8, column k / 8.
  damaged("row0_retry", [](unsigned char* b) { b[0] ^= 1; });
  damaged("row3_error", [](unsigned char* b) { b[8 * 6 + 3] ^= 1; });
  damaged("checksum_mismatch", [](unsigned char* b) {
    unsigned char row[11], parity[5];
    b[8 * 2 + 4] ^= 1;  // row 4, column 2: an LC bit
    for (int c = 0; c < 11; ++c) row[c] = b[8 * c + 4];
    hamming16114encode(row, parity);
    for (int c = 0; c < 5; ++c) b[8 * (11 + c) + 4] = parity[c];
    // Keep the column parity row even as the encoder would.
    for (int c = 0; c < 16; ++c) {
      unsigned char sum = 0;
      for (int r = 0; r < 7; ++r) sum ^= b[8 * c + r];
      b[8 * c + 7] = sum;
    }
  });
  // Burst A's voice sync in place of an EMB: not a code word.
  Bytes sync_seed(lc, lc + 9);
  unsigned char centre[48];
  hyt_read_burst_bits(Voice_hyt1, HYT_BIT_CENTRE, 48, centre);
  pack_bits(centre, 48, &sync_seed);
  write_seed("embedded_lc", "voice_sync", sync_seed);
}

// ---- AMBE+2 frames

void ambe_seeds() {
  for (unsigned char order : {1, 2}) {
    unsigned char voice[49], frame[72];
    voice_bits(voice, 49);
    Bytes seed{order};
    unsigned char padded[56] = {};
    memcpy(padded, voice, 49);
    pack_bits(padded, 56, &seed);
    codiere_AMBEplus2_33(frame, order, voice);
    frame[4] ^= 1;  // a received frame with one error in its A word
    pack_bits(frame, 72, &seed);
    seed.push_back(3);
    seed.push_back(11);
    write_seed("ambe", "order" + std::to_string(order), seed);
  }
}

// ---- Configuration file

void config_seeds() {
  const std::string valid =
      "RptrCall=DB0FUZ\nRptrID=262999\nRptrIP=127.0.0.1\nRptrPort=50000\nMasterIP=127.0.0.1\n"
      "RptrQRGtx=439500000\nRptrQRGrx=431900000\nMyBridgeID=262998\n"
      "NetworkKey=1234567890abcdef1234567890abcdef12345678\n";
  auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  write_seed("config", "valid", text(valid));
  std::string crlf;
  for (char c : valid) crlf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
  write_seed("config", "valid_crlf", text("# comment line\r\n" + crlf));
  write_seed("config", "rejected_values",
             text("RptrCall=AB\nRptrID=0\nRptrPort=-5\nMyBridgeID=1\nNetworkKey=xyz\nRptrIP = 1.2.3.4\n"
                  "MasterIP=192.168.100.200x\nRptrQRGtx=+12\nRptrCall=ABCDEFGHI\n"));
  write_seed("config", "long_line", text("NetworkKey=" + std::string(1100, 'a') + "\n" + valid));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  out_root = argv[1];
  fuzz_prepare_bridge();
  ipsc_seeds();
  hytera_seeds();
  rdac_seeds();
  embedded_seeds();
  ambe_seeds();
  config_seeds();
  // Last, so the voice bits of every seed before stay as they were.
  write_seed("ipsc", "talker_alias_call", moto_alias_call(6, false).bytes());
  write_seed("ipsc", "talker_alias_late_entry", moto_alias_call(6, true).bytes());
  return 0;
}
