#include "voice/moto_to_hytera.h"

#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "coding/AMBEplus2_33.h"
#include "coding/decode48bit.h"
#include "ipsc/moto_voice_packet.h"
#include "main/byte_order.h"
#include "main/config.h"
#include "main/log_time.h"
#include "main/sockets.h"
#include "main/udp_io.h"
#include "master_link/hytera_voice_packet.h"
#include "voice/moto_call_lock.h"

unsigned char sendhyt[100];
int hytera_voice_port = LISTEN_REPEATER_AUDIO_PORT;

namespace {

int64_t monotonic_ms() {
  timespec reading{};
  clock_gettime(CLOCK_MONOTONIC, &reading);
  return static_cast<int64_t>(reading.tv_sec) * 1000 + reading.tv_nsec / 1000000;
}

// Bytes each burst type reads: a voice burst up to the last AMBE byte (51),
// headers and terminators up to the burst type (30). A shorter datagram
// would convert stale bytes of an earlier one left in the receive buffer.
constexpr int kVoiceBurstMinLength = MOTO_OFS_VOICE + MOTO_VOICE_FIELD_LEN;
constexpr int kControlBurstMinLength = MOTO_OFS_BURST_TYPE + 1;

// What the path remembers of one timeslot between datagrams: the two
// timeslots carry calls of their own, each with its own numbering.
struct MotoToHyteraPath {
  unsigned int slot = 2;
  unsigned int superframe_position = 1;  // 1..6 for bursts A..F
  uint16_t last_sequence = 0;
  // The duplicate filter compares only after a first packet was accepted: a
  // first packet with sequence 0 is no duplicate (many masters start there).
  bool have_last_sequence = false;
  MotoCallLock call;
  // What sendhyt held when this timeslot's last datagram was handled: the
  // packet built last, which some datagrams repeat. Until one is built a
  // resend would put 72 zero bytes on the air.
  unsigned char last_built[HYT_PACKET_LEN] = {};
  bool built = false;
};

MotoToHyteraPath paths[3];  // by timeslot: 1 and 2

struct MotoFields {
  unsigned char opcode;
  uint32_t peer_id;
  uint32_t source;
  uint32_t destination;
  uint16_t sequence;
  unsigned char call_sequence;
  uint32_t timestamp;
};

MotoFields read_fields(const unsigned char* p) {
  return {p[MOTO_OFS_OPCODE],
          get_be32(p + MOTO_OFS_PEER_ID),
          get_be24(p + MOTO_OFS_SOURCE),
          get_be24(p + MOTO_OFS_DESTINATION),
          static_cast<uint16_t>(p[MOTO_OFS_RTP_SEQUENCE] << 8 | p[MOTO_OFS_RTP_SEQUENCE + 1]),
          p[MOTO_OFS_CALL_SEQ],
          get_be32(p + MOTO_OFS_RTP_TIMESTAMP)};
}

// Which call the datagram belongs to and the identity it crosses under;
// judged before the duplicate filter, kept only once the datagram passes it.
MotoCallVerdict judge_call(const MotoToHyteraPath& path, const unsigned char* p, int length, const MotoFields& f,
                           MotoDatagramKind kind) {
  MotoCallFacts facts;
  facts.kind = kind;
  facts.call_sequence = f.call_sequence;
  facts.timestamp = f.timestamp;
  facts.source = f.source;
  facts.destination = f.destination;
  facts.has_lc = kind == MotoDatagramKind::kBurst &&
                 moto_get_burst_e_lc(p, length, &facts.flco, &facts.lc_destination, &facts.lc_source);
  return moto_call_judge(path.call, facts, moto_rx_clock_ms());
}

// False when the packet repeats the last accepted RTP sequence number.
bool passes_duplicate_filter(MotoToHyteraPath& path, uint16_t sequence) {
  if (path.have_last_sequence && sequence == path.last_sequence) return false;
  path.last_sequence = sequence;
  path.have_last_sequence = true;
  return true;
}

void set_call_type(const MotoFields& f) {
  if (f.opcode == MOTO_OPCODE_PRIVATE_VOICE) hyt_set_call_type(sendhyt, HYT_CALL_PRIVATE);
}

void load(MotoToHyteraPath& path, const unsigned char* hytera_template) {
  memcpy(sendhyt, hytera_template, HYT_PACKET_LEN);
  path.built = true;
}

// Sends the packet in sendhyt, marked for the path's timeslot.
void send_to_master(const MotoToHyteraPath& path) {
  if (!path.built) return;
  hyt_set_slot(sendhyt, path.slot);
  udp_send_to(Local_Repeater_audio_srv_sock, sendhyt, HYT_PACKET_LEN, MasterIP, hytera_voice_port);
}

// A header starts a call under its own identity. Returns 0 when the turn
// ends (duplicate), 1 otherwise.
int voice_header(MotoToHyteraPath& path, const unsigned char* p, int length, const MotoFields& f) {
  const unsigned char marker = p[MOTO_OFS_RTP_MARKER_PT];
  if (marker == MOTO_RTP_FIRST_HEADER || marker == MOTO_RTP_VOICE) {
    const MotoCallVerdict call = judge_call(path, p, length, f, MotoDatagramKind::kHeader);
    load(path, marker == MOTO_RTP_FIRST_HEADER ? sync_hyt : start_hyt);
    set_call_type(f);
    hyt_set_destination(sendhyt, f.destination);
    hyt_set_sequence(sendhyt, f.sequence);
    if (!passes_duplicate_filter(path, f.sequence)) return 0;
    path.call = call.next;
    hyt_set_source(sendhyt, f.source);
    hyt_set_burst_source(sendhyt, f.source);
    if (marker == MOTO_RTP_FIRST_HEADER) {
      refresh_ts();
      printf("%s Moto RX+ slot:%u destination_id:%i source_id:%i rptr_id:%i\n", ts, path.slot,
             static_cast<int>(f.destination), static_cast<int>(f.source), static_cast<int>(f.peer_id));
    }
  }
  path.superframe_position = 1;
  send_to_master(path);
  return 1;
}

int terminator(MotoToHyteraPath& path, const unsigned char* p, int length, const MotoFields& f) {
  const MotoCallVerdict call = judge_call(path, p, length, f, MotoDatagramKind::kTerminator);
  load(path, ende_hyt);
  set_call_type(f);
  hyt_set_destination(sendhyt, call.destination);
  hyt_set_sequence(sendhyt, f.sequence);
  if (!passes_duplicate_filter(path, f.sequence)) return 0;
  path.call = call.next;
  hyt_set_source(sendhyt, call.source);
  refresh_ts();
  printf("%s Moto RX- ID:%i%s\n", ts, static_cast<int>(call.source), slot_suffix(path.slot));
  send_to_master(path);
  return 1;
}

// Embedded link control of a group call (FLCO 0, FID 0, no service
// options) — also for private calls, as the network expects.
void embedded_fragment(uint32_t destination_id, uint32_t source_id, unsigned int fragment, unsigned char* bits32) {
  unsigned char head[3] = {0, 0, 0};
  unsigned char destination[3], source[3];
  put_be24(destination, destination_id);
  put_be24(source, source_id);
  unsigned char block[128];
  encode_MultiBlockEmbeddedLC(head, destination, source, block);
  memcpy(bits32, block + 32 * fragment, 32);
}

void next_position(MotoToHyteraPath& path) {
  path.superframe_position = path.superframe_position == 6 ? 1 : path.superframe_position + 1;
}

int voice_burst(MotoToHyteraPath& path, const unsigned char* p, int length, const MotoFields& f) {
  if (moto_is_burst_a(p, length)) path.superframe_position = 1;
  const MotoCallVerdict call = judge_call(path, p, length, f, MotoDatagramKind::kBurst);
  if (!passes_duplicate_filter(path, f.sequence)) return 0;
  path.call = call.next;
  if (!call.forward) {
    // Held back, but counted, so the burst E that ends the wait goes out as E.
    next_position(path);
    return 1;
  }
  const unsigned int position = path.superframe_position;
  load(path, hyt_voice_template(position));
  set_call_type(f);

  // Bursts B..E carry the four fragments of the embedded link control; A
  // keeps the voice sync and F the null embedded signalling of its template.
  if (position >= 2 && position <= 5) {
    unsigned char fragment[HYT_EMBEDDED_BITS];
    embedded_fragment(call.destination, call.source, position - 2, fragment);
    hyt_put_embedded_signalling(sendhyt, fragment);
  }
  for (unsigned int n = 0; n < 3; ++n) {
    unsigned char voice[MOTO_VOICE_FRAME_BITS];
    unsigned char coded[HYT_AMBE_FRAME_BITS];
    moto_get_voice_frame(p, length, n, voice);
    codiere_AMBEplus2_33(coded, 2, voice);
    hyt_put_ambe_frame(sendhyt, n, coded);
  }
  hyt_set_sequence(sendhyt, f.sequence);
  hyt_set_source(sendhyt, call.source);
  hyt_set_destination(sendhyt, call.destination);
  next_position(path);
  send_to_master(path);
  return 1;
}

}  // namespace

int64_t (*moto_rx_clock_ms)() = monotonic_ms;

void reset_moto_to_hytera() {
  memset(sendhyt, 0, sizeof sendhyt);
  for (unsigned int slot = 1; slot <= 2; ++slot) {
    paths[slot] = MotoToHyteraPath{};
    paths[slot].slot = slot;
  }
}

int handle_moto_voice(const unsigned char* packet, int length) {
  const unsigned int slot = moto_slot(packet, length);
  if (!timeslot_bridged(slot)) return 1;
  MotoToHyteraPath& path = paths[slot];
  unsigned int burst_type = 0;
  if (length < kControlBurstMinLength || !moto_get_burst_type(packet, length, &burst_type)) return 1;
  // sendhyt holds what this timeslot built last, whatever the other one did since.
  if (path.built) memcpy(sendhyt, path.last_built, HYT_PACKET_LEN);
  const MotoFields fields = read_fields(packet);
  int goes_on = 1;
  switch (burst_type) {
    case MOTO_BURST_TYPE_HEADER:
      goes_on = voice_header(path, packet, length, fields);
      break;
    case MOTO_BURST_TYPE_TERMINATOR:
      goes_on = terminator(path, packet, length, fields);
      break;
    case MOTO_BURST_TYPE_VOICE:
      if (length >= kVoiceBurstMinLength) goes_on = voice_burst(path, packet, length, fields);
      break;
    default:
      // Whatever else comes on the voice opcodes repeats the packet built last.
      send_to_master(path);
      break;
  }
  if (path.built) memcpy(path.last_built, sendhyt, HYT_PACKET_LEN);
  return goes_on;
}
