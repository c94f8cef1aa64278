#include "voice/hytera_to_moto.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "coding/AMBEplus2_33.h"
#include "ipsc/moto_voice_packet.h"
#include "main/byte_order.h"
#include "main/config.h"
#include "main/log_time.h"
#include "main/repeater_address.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/thread_wait.h"
#include "main/trusted_senders.h"
#include "main/udp_io.h"
#include "master_link/hytera_voice_packet.h"
#include "voice/buffered_path.h"
#include "voice/jitter_lead.h"
#include "voice/v2m_shared.h"

unsigned char v2m_Buffer[224];
unsigned char rx[3];

namespace {

void monotonic_clock(timeval* now) {
  // Pacing and the time-out measure intervals; a wall clock that NTP sets
  // after boot would make them jump.
  timespec reading{};
  clock_gettime(CLOCK_MONOTONIC, &reading);
  now->tv_sec = reading.tv_sec;
  now->tv_usec = static_cast<suseconds_t>(reading.tv_nsec / 1000);
}

void real_sleep(unsigned int us) { usleep(us); }

// Datagrams of a timeslot that came while pacing held one of its own back
// wait here, as they would in the socket while the thread slept: each
// timeslot then sees its datagrams when, and in the order, it would alone.
// 64 are 3.8 s of bursts; a longer bunch loses its newest, as a full socket
// buffer would.
constexpr int kWaitingDatagrams = 64;

// One timeslot's network path.
struct SlotPath {
  V2mCall call;
  BufferedPath buffer;  // its calls on the grid (JitterBuffer set)
  unsigned char waiting[kWaitingDatagrams][V2M_RECEIVE_LIMIT];
  int waiting_first;
  int waiting_count;
};

SlotPath paths[2];

SlotPath& path_of(unsigned int slot) { return paths[slot - 1]; }

}  // namespace

int& transmitting = paths[1].call.transmitting;
int& send_header = paths[1].call.send_header;
uint32_t& dmr_id = paths[1].call.dmr_id;
int& v2m_seq_num = paths[1].call.seq_num;
unsigned char (&flctrl)[4] = paths[1].call.flctrl;
uint32_t& mot_time = paths[1].call.mot_time;

void (*v2m_clock)(timeval* now) = monotonic_clock;
void (*v2m_sleep_us)(unsigned int us) = real_sleep;

namespace {

constexpr long kPacingWindowUs = 30000;             // a send closer than this to the last one is held back
constexpr long kBurstSpacingUs = 59000;             // ... to leave this long after it
constexpr unsigned int kRtpTicksPerDatagram = 480;  // 60 ms at 8 kHz
// How far behind the last relayed packet a sequence number may lie and still
// be a late or repeated packet. Further back, the master's numbering has
// moved on (a wrap with losses, or one stray packet that jumped far ahead);
// following it keeps the rest of the call instead of dropping all of it.
constexpr unsigned int kLateWindow = 1000;

unsigned char v2m_PacketType;
unsigned char v2m_slot;
uint32_t v2m_srcID;
uint32_t v2m_dstID;
uint32_t dmr_id_tmp;
unsigned int send_w;
unsigned char v2m_MPayloadbits[HYT_AMBE_FRAME_BITS];

bool jitter_on() { return JitterBuffer != JITTER_BUFFER_OFF; }

// With both timeslots bridged no timeslot's pacing may hold up the other's.
bool both_slots() { return timeslot_bridged(1) && timeslot_bridged(2); }

int64_t microseconds_of(const timeval& t) { return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_usec; }

timeval timeval_of(int64_t us) {
  return timeval{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
}

bool is_late(const V2mCall& c, unsigned int sequence) {
  return sequence <= c.old_pac_num && c.old_pac_num - sequence < kLateWindow;
}

long microseconds_between(const timeval& from, const timeval& to) {
  return static_cast<long>(to.tv_sec - from.tv_sec) * 1000000L + static_cast<long>(to.tv_usec - from.tv_usec);
}

void log_receive_start(unsigned int slot) {
  printf("\n");
  for (int i = 0; i < 78; ++i) putchar('_');
  printf("\n%s RX SLOT=%i DST_ID=%i SRC_ID=%i TYPE=Voice\n", ts, slot, static_cast<int>(v2m_dstID),
         static_cast<int>(v2m_srcID));
}

// The RX / END lines for every slot. Only slots 1 and 2 have a flag; any
// other slot value is logged on every packet and never relayed.
void log_slot_activity() {
  const bool tracked = v2m_slot == 1 || v2m_slot == 2;
  if (!tracked || rx[v2m_slot] == 0) {
    if (tracked) rx[v2m_slot] = 1;
    log_receive_start(v2m_slot);
  }
  if (v2m_PacketType == HYT_KIND_END) {
    printf("%s VOICE RX SLOT %i END USER_ID=%i \n", ts, v2m_slot, static_cast<int>(v2m_srcID));
    if (tracked) rx[v2m_slot] = 0;
  }
}

// A second talker on the same group while a call is relayed is dropped.
bool is_doubling(V2mCall& c, const HyteraFields& f) {
  if (c.transmitting != 1 || f.call_type != HYT_CALL_GROUP || f.frame_type == HYT_FT_SYNC) return false;
  dmr_id_tmp = f.source;
  if (c.dmr_id == 0) {
    c.dmr_id = dmr_id_tmp;
    return false;
  }
  if (c.dmr_id == dmr_id_tmp) return false;
  c.pac_num = f.sequence;
  printf("Doubling DMR-IDs: %d %d in %d/-1%s\r\n", static_cast<int>(c.dmr_id), static_cast<int>(dmr_id_tmp), c.pac_num,
         slot_suffix(c.slot));
  return true;
}

void fill_common(V2mCall& c, unsigned char* d, const HyteraFields& f) {
  v2m_fill_call(c, d, f.call_type, f.source, f.destination, f.sequence);
  c.pac_num = f.sequence;
}

void stamp_rtp_time(V2mCall& c, unsigned char* d) {
  c.mot_time += kRtpTicksPerDatagram;
  moto_set_rtp_timestamp(d, c.mot_time);
}

void send_to_repeater(V2mCall& c, const unsigned char* d, unsigned int length) {
  v2m_clock(&c.last_send);
  sockaddr_in repeater{};
  // Until the Motorola side has sent anything there is nobody to send to.
  if (!get_fromUser2(&repeater)) return;
  udp_send_to_address(Quorvix_sock, d, length, repeater);
}

void log_delay(const V2mCall& c, long wait_us, int pac_num) {
  printf("%s add delay: %ldus to pacnum: %d%s\n", ts, wait_us, pac_num, slot_suffix(c.slot));
}

// Bursts that reach the network in a bunch leave about 59 ms apart. With one
// timeslot bridged the thread sleeps the rest, and the next datagram waits in
// the socket; with both, the datagram is held until then and only its own
// timeslot waits.
void paced_send(V2mCall& c, const unsigned char* d, unsigned int length, bool with_line) {
  timeval current{};
  v2m_clock(&current);
  const long gap = microseconds_between(c.last_send, current);
  if (gap >= 0 && gap < kPacingWindowUs) {
    const long wait = kBurstSpacingUs - gap;
    if (both_slots()) {
      HeldDatagram& h = c.held;
      h.present = true;
      h.due_us = microseconds_of(current) + wait;
      h.logged_wait_us = with_line ? wait : -1;
      h.pac_num = c.pac_num;
      h.length = length;
      memcpy(h.d, d, length);
      return;
    }
    v2m_sleep_us(static_cast<unsigned int>(wait));
    if (with_line) log_delay(c, wait, c.pac_num);
  }
  send_to_repeater(c, d, length);
}

void draw_call_tag(V2mCall& c) {
  for (unsigned char& b : c.flctrl) b = static_cast<unsigned char>(rand() % 255);
}

void start_call(V2mCall& c, bool with_start, const unsigned char* other_tag) {
  c.dmr_id = 0;
  c.seq_num = c.seq_num == 255 ? 0 : c.seq_num + 1;
  if (with_start)
    printf("%s PTT ON %d%s\n", ts, c.seq_num, slot_suffix(c.slot));
  else
    printf("%s PTT ON without START %d%s\n", ts, c.seq_num, slot_suffix(c.slot));
  c.old_pac_num = 0;
  srand(static_cast<unsigned int>(time(nullptr)));
  draw_call_tag(c);
  // Calls that key up within the same second would draw the same tag.
  while (other_tag && memcmp(c.flctrl, other_tag, sizeof c.flctrl) == 0) draw_call_tag(c);
  c.send_header = 1;
}

// The swapped copy holds the burst in air order from byte 26 on.
unsigned char swapped_air_bit(unsigned int k) { return (v2m_Buffer[HYT_OFS_BURST + k / 8] >> (7 - k % 8)) & 1u; }

// Decodes the three frames of the burst into the voice field of d.
void decode_voice_frames(V2mCall& c, unsigned char* d) {
  int total_errors = 0;
  for (unsigned int n = 0; n < 3; ++n) {
    for (unsigned int j = 0; j < HYT_AMBE_FRAME_BITS; ++j)
      v2m_MPayloadbits[j] = swapped_air_bit(hyt_ambe_burst_bit(n, j));
    char err_a = 0;
    char err_b = 0;
    decodiere_AMBEplus2_33(v2m_MPayloadbits, &err_a, &err_b, 2, c.send_bits);
    total_errors += err_a + err_b;
    c.send_bits[MOTO_VOICE_FRAME_BITS] = 0;
    if (err_a > 3 || (err_a > 1 && err_b > 2))
      printf("AMBE %u, Err_A = %d Err_B = %d%s\r\n", n + 1, err_a, err_b, slot_suffix(c.slot));
    moto_put_voice_frame(d, n, c.send_bits);
  }
  if (total_errors > 0) printf("BER : %f%%%s\r\n", total_errors * 100.0 / 141, slot_suffix(c.slot));
}

// Burst E carries the call's destination and source once more; then the frames.
void fill_burst_content(V2mCall& c, unsigned char* d, const HyteraFields& f) {
  if (f.frame_type == HYT_FT_BURST_E) moto_set_burst_e_identifiers(d, f.destination, f.source);
  decode_voice_frames(c, d);
}

// ---- Without the jitter buffer: every packet relayed as it comes

void voice_burst(V2mCall& c, const HyteraFields& f) {
  c.send_header = 0;
  send_w = moto_load_burst(Voice_moto, hyt_voice_position(f.frame_type));
  if (send_w == 0) return;
  fill_common(c, Voice_moto, f);
  const unsigned int sequence = f.sequence;
  if (sequence != 0 && is_late(c, sequence)) return;
  if (c.old_pac_num + 1 != sequence && sequence != 0)
    printf("Ferr: %d %d%s\n", static_cast<int>(c.old_pac_num), static_cast<int>(sequence), slot_suffix(c.slot));
  c.old_pac_num = sequence;
  stamp_rtp_time(c, Voice_moto);
  fill_burst_content(c, Voice_moto, f);
  const unsigned int length = moto_sign(Voice_moto, send_w);
  paced_send(c, Voice_moto, length, true);
}

void relay_packet(V2mCall& c, const HyteraFields& f, const timeval& arrival) {
  if (is_doubling(c, f)) return;
  if (f.kind == HYT_KIND_END) {
    v2m_relay_terminator(c, f);
  } else if (f.kind == HYT_KIND_VOICE) {
    c.last_voice_packet = arrival;
    send_w = 0;
    if (f.frame_type == HYT_FT_VOICE_HEADER || (f.frame_type == HYT_FT_BURST_F && c.transmitting == 0))
      v2m_send_header(c, f, true);
    else
      voice_burst(c, f);
  }
}

HyteraFields read_fields(const unsigned char* p) {
  return {static_cast<unsigned char>(hyt_kind(p)),
          static_cast<unsigned char>(hyt_slot(p)),
          hyt_source(p),
          hyt_destination(p),
          hyt_sequence(p),
          hyt_frame_type(p),
          hyt_call_type(p)};
}

// A timeslot whose pacing holds a datagram back is, as far as its calls can
// tell, asleep: nothing of it is judged or sent until the datagram leaves.
bool held_up(const SlotPath& s) { return s.call.held.present; }

int check_timeout_at(SlotPath& s, const timeval& now) {
  if (held_up(s)) return 0;
  // With the jitter buffer the call ends on its grid, with a terminator.
  if (jitter_on()) return buffered_check_timeout(s.buffer, microseconds_of(now));
  if (s.call.transmitting != 1 || now.tv_sec - s.call.last_voice_packet.tv_sec <= V2M_TX_TIMEOUT_SECONDS) return 0;
  refresh_ts();
  v2m_end_of_call(s.call, true);
  return 1;
}

int check_timeouts_at(const timeval& now) {
  int ended = 0;
  for (unsigned int slot = 1; slot <= 2; ++slot)
    if (timeslot_bridged(slot)) ended |= check_timeout_at(path_of(slot), now);
  return ended;
}

void send_due_on_grid(SlotPath& s, const timeval& now) {
  if (jitter_on() && !held_up(s)) buffered_send_due(s.buffer, microseconds_of(now));
}

void send_due_on_grids(const timeval& now) {
  for (unsigned int slot = 1; slot <= 2; ++slot)
    if (timeslot_bridged(slot)) send_due_on_grid(path_of(slot), now);
}

// A voice packet in v2m_Buffer as the thread reads it: its RX lines, then,
// on a bridged timeslot, on to the repeater.
void take_packet(const HyteraFields& f, const timeval& arrival) {
  v2m_PacketType = f.kind;
  v2m_slot = f.slot;
  v2m_srcID = f.source;
  v2m_dstID = f.destination;
  refresh_ts();
  log_slot_activity();
  if (!timeslot_bridged(v2m_slot)) return;

  SlotPath& s = path_of(v2m_slot);
  hyt_swap_pairs(v2m_Buffer);
  if (jitter_on())
    buffered_take(s.buffer, f, microseconds_of(arrival));
  else
    relay_packet(s.call, f, arrival);
}

void handle_arrival(int length, const timeval& arrival) {
  if (length == 1 && v2m_Buffer[0] == 'A') {
    if (master_timer > 0) master_timer = 15;
    return;
  }
  if (!hyt_is_voice_datagram(length)) return;

  const HyteraFields f = read_fields(v2m_Buffer);
  if (timeslot_bridged(f.slot) && held_up(path_of(f.slot))) {
    SlotPath& s = path_of(f.slot);
    if (s.waiting_count == kWaitingDatagrams) return;
    memcpy(s.waiting[(s.waiting_first + s.waiting_count) % kWaitingDatagrams], v2m_Buffer, V2M_RECEIVE_LIMIT);
    ++s.waiting_count;
    return;
  }
  take_packet(f, arrival);
}

// The held datagram of a timeslot leaves; then what waited behind it is
// read, one datagram after the other, as the thread would after its sleep.
void release(SlotPath& s, const timeval& now) {
  HeldDatagram& h = s.call.held;
  h.present = false;
  if (h.logged_wait_us >= 0) {
    refresh_ts();
    log_delay(s.call, h.logged_wait_us, h.pac_num);
  }
  send_to_repeater(s.call, h.d, h.length);
  unsigned char in_hand[V2M_RECEIVE_LIMIT];
  memcpy(in_hand, v2m_Buffer, sizeof in_hand);
  while (s.waiting_count > 0 && !held_up(s)) {
    memcpy(v2m_Buffer, s.waiting[s.waiting_first], V2M_RECEIVE_LIMIT);
    s.waiting_first = (s.waiting_first + 1) % kWaitingDatagrams;
    --s.waiting_count;
    check_timeout_at(s, now);
    send_due_on_grid(s, now);
    take_packet(read_fields(v2m_Buffer), now);
    send_due_on_grid(s, now);
  }
  memcpy(v2m_Buffer, in_hand, sizeof in_hand);
  send_due_on_grid(s, now);
}

// Held datagrams due by now leave, the soonest first.
void release_due(const timeval& now) {
  for (;;) {
    SlotPath* first = nullptr;
    for (SlotPath& s : paths)
      if (held_up(s) && s.call.held.due_us <= microseconds_of(now) &&
          (!first || s.call.held.due_us < first->call.held.due_us))
        first = &s;
    if (!first) return;
    release(*first, now);
  }
}

}  // namespace

// ---- Steps both paths take

bool v2m_send_header(V2mCall& c, const HyteraFields& f, bool paced, const unsigned char* other_tag) {
  const unsigned int sequence = f.sequence;
  if (c.send_header == 0) {
    start_call(c, f.frame_type == HYT_FT_VOICE_HEADER, other_tag);
    moto_set_rtp_marker_pt(Voice_moto66, MOTO_RTP_FIRST_HEADER);
  } else {
    moto_set_rtp_marker_pt(Voice_moto66, MOTO_RTP_VOICE);
  }
  fill_common(c, Voice_moto66, f);
  c.dmr_id = f.source;
  if (sequence != 0 && is_late(c, sequence)) {
    printf("O_err: %d %d%s\n", static_cast<int>(c.old_pac_num), static_cast<int>(sequence), slot_suffix(c.slot));
    return false;
  }
  if (c.old_pac_num + 1 != sequence && c.old_pac_num != 0 && sequence != 0)
    printf("F_err: %d %d%s\n", static_cast<int>(c.old_pac_num), static_cast<int>(sequence), slot_suffix(c.slot));
  c.old_pac_num = sequence;
  stamp_rtp_time(c, Voice_moto66);
  moto_set_lc_identifiers(Voice_moto66, f.destination, f.source);
  const unsigned int length = moto_sign(Voice_moto66, MOTO_HEADER_SIGNED);
  if (c.transmitting == 1 && paced) {
    paced_send(c, Voice_moto66, length, true);
  } else {
    c.transmitting = 1;
    send_to_repeater(c, Voice_moto66, length);
  }
  return true;
}

void v2m_relay_terminator(V2mCall& c, const HyteraFields& f) {
  v2m_end_of_call(c, false);
  fill_common(c, Voice_moto64, f);
  const unsigned int sequence = f.sequence;
  if (is_late(c, sequence)) return;
  c.old_pac_num = sequence;
  moto_set_lc_identifiers(Voice_moto64, f.destination, f.source);
  stamp_rtp_time(c, Voice_moto64);
  const unsigned int length = moto_sign(Voice_moto64, MOTO_TERMINATOR_SIGNED);
  paced_send(c, Voice_moto64, length, false);
}

bool v2m_decode_burst(V2mCall& c, const HyteraFields& f, unsigned char* d) {
  if (hyt_voice_position(f.frame_type) == 0) return false;
  c.pac_num = f.sequence;
  decode_voice_frames(c, d);
  return true;
}

void v2m_fill_call(const V2mCall& c, unsigned char* d, unsigned char call_type, uint32_t source, uint32_t destination,
                   uint16_t rtp_sequence) {
  const unsigned char opcode = call_type == HYT_CALL_PRIVATE ? MOTO_OPCODE_PRIVATE_VOICE : MOTO_OPCODE_GROUP_VOICE;
  moto_fill_common(d, opcode, MyBridgeID, static_cast<unsigned char>(c.seq_num), source, destination, c.flctrl,
                   rtp_sequence);
  moto_set_slot(d, c.slot);
}

void v2m_send_signed(V2mCall& c, unsigned char* d, unsigned int signed_len) {
  stamp_rtp_time(c, d);
  send_to_repeater(c, d, moto_sign(d, signed_len));
}

void v2m_end_of_call(V2mCall& c, bool timed_out) {
  if (timed_out)
    printf("%s TX TIMEOUT %d%s\n", ts, c.seq_num, slot_suffix(c.slot));
  else
    printf("%s PTT OFF %d%s\n", ts, c.seq_num, slot_suffix(c.slot));
  c.transmitting = 0;
  c.send_header = 0;
  c.dmr_id = 0;
  if (timed_out) rx[c.slot] = 0;
}

void jitter_lead_reset() { path_of(2).buffer.lead.reset(); }
void jitter_lead_record(int32_t lateness_us) { path_of(2).buffer.lead.record(lateness_us); }
void jitter_lead_end_call() { path_of(2).buffer.lead.end_call(); }
int jitter_lead_choose_ms() { return path_of(2).buffer.lead.choose_ms(); }

// ---- The thread's entry points

int v2m_transmitting_on(unsigned int slot) { return slot == 1 || slot == 2 ? path_of(slot).call.transmitting : 0; }

void v2m_reset() {
  timeval current{};
  v2m_clock(&current);
  for (unsigned int slot = 1; slot <= 2; ++slot) {
    SlotPath& s = path_of(slot);
    s.call = V2mCall{};
    s.call.slot = slot;
    s.call.last_send = current;
    s.call.last_voice_packet = current;
    s.waiting_first = 0;
    s.waiting_count = 0;
    buffered_reset(s.buffer, s.call);
  }
  memset(rx, 0, sizeof rx);
}

void v2m_send_due() {
  if (!jitter_on() && !both_slots()) return;
  timeval current{};
  v2m_clock(&current);
  release_due(current);
  send_due_on_grids(current);
}

bool v2m_next_deadline(timeval* at) {
  bool any = false;
  int64_t soonest = 0;
  for (unsigned int slot = 1; slot <= 2; ++slot) {
    if (!timeslot_bridged(slot)) continue;
    const SlotPath& s = path_of(slot);
    int64_t at_us = 0;
    if (held_up(s))
      at_us = s.call.held.due_us;
    else if (!jitter_on() || !buffered_next_deadline(s.buffer, &at_us))
      continue;
    if (!any || at_us < soonest) soonest = at_us;
    any = true;
  }
  if (any) *at = timeval_of(soonest);
  return any;
}

int v2m_check_timeout() {
  timeval current{};
  v2m_clock(&current);
  return check_timeouts_at(current);
}

void v2m_handle_datagram(int length) {
  // The time-out is judged on the arrival of each datagram, and a voice
  // packet is stamped with its own arrival: the receive blocks, so a clock
  // read before it would make the first packet after a quiet spell look old.
  timeval arrival{};
  v2m_clock(&arrival);
  release_due(arrival);
  check_timeouts_at(arrival);
  // Slots due before this datagram came leave first, as the thread woke for
  // them; so a burst that arrives after its slot is late.
  send_due_on_grids(arrival);
  handle_arrival(length, arrival);
  v2m_send_due();
}

namespace {

// When the thread must wake if nothing arrives: at each slot's time while a
// network call is on the grid, at its time-out, when a datagram that pacing
// held back may leave, and when the port's drop summary falls due; otherwise
// it blocks until a datagram comes.
int64_t next_wake_us() {
  timeval deadline{};
  const int64_t grid = v2m_next_deadline(&deadline) ? microseconds_of(deadline) : WAIT_FOREVER;
  return with_drop_summary(grid, LISTEN_REPEATER_AUDIO_PORT);
}

}  // namespace

void* send_voice_to_motorola(void*) {
  name_this_thread("voice_to_moto");
  v2m_reset();
  printf("%s", "\033[0;33m");
  puts("Start Voice to Motorola Pthread\n");
  printf("%s", "\033[0;33m");
  printf("%s", "\033[0m");
  printf("%s", "\033[0m");
  for (;;) {
    if (Local_Repeater_audio_srv_sock < 0) {
      // The voice socket never opened: nothing will ever arrive.
      wait_until(-1, -1, WAIT_FOREVER);
      continue;
    }
    if (!wait_until(Local_Repeater_audio_srv_sock, -1, next_wake_us())) {
      v2m_send_due();
      flush_drop_summary(LISTEN_REPEATER_AUDIO_PORT);
      continue;
    }
    sockaddr_in sender{};
    const ssize_t length = udp_receive(Local_Repeater_audio_srv_sock, v2m_Buffer, V2M_RECEIVE_LIMIT, &sender);
    // Echoes and voice count only from the network master: anyone else
    // could keep a lapsed login alive or put a call on air.
    if (length >= 0 && !accept_from_master(sender, LISTEN_REPEATER_AUDIO_PORT))
      v2m_send_due();
    else
      v2m_handle_datagram(static_cast<int>(length));
    flush_drop_summary(LISTEN_REPEATER_AUDIO_PORT);
  }
}
