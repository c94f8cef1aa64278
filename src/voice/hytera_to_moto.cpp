#include "voice/hytera_to_moto.h"

#include <netinet/in.h>
#include <poll.h>
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
#include "main/trusted_senders.h"
#include "main/udp_io.h"
#include "master_link/hytera_voice_packet.h"
#include "voice/jitter_lead.h"
#include "voice/voice_grid.h"

unsigned char v2m_Buffer[224];
int transmitting;
int send_header;
uint32_t dmr_id;
int v2m_seq_num;
unsigned char flctrl[4];
uint32_t mot_time = 1000000000u;
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

}  // namespace

void (*v2m_clock)(timeval* now) = monotonic_clock;
void (*v2m_sleep_us)(unsigned int us) = real_sleep;

namespace {

constexpr long kPacingWindowUs = 30000;  // a send closer than this to the last one is held back
constexpr long kBurstSpacingUs = 59000;  // ... to leave this long after it
constexpr time_t kTxTimeoutSeconds = 2;
constexpr unsigned char kBridgedSlot = 2;           // only timeslot 2 crosses the bridge
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
int v2m_pac_num;
unsigned int old_v2m_pac_num;
unsigned int send_w;
unsigned char v2m_MPayloadbits[HYT_AMBE_FRAME_BITS];
// Kept from one frame to the next: an uncorrectable frame repeats the last
// good one.
unsigned char v2m_Send_bits[MOTO_VOICE_FRAME_BITS + 1];
timeval last_send;
timeval last_voice_packet;
timeval now;

// The fields of the packet in hand, read from it as it travels.
struct HyteraFields {
  unsigned char kind;
  unsigned char slot;
  uint32_t source;
  uint32_t destination;
  uint16_t sequence;
  unsigned char frame_type;
  unsigned char call_type;
};

HyteraFields packet_fields;

// ---- Jitter buffer (JitterBuffer set): network calls leave on a 60 ms grid

// AMBE+2 silence, 49 bits in bit order 2: a slot whose burst never came
// carries it in all three frames, so the repeater stays keyed and hears
// nothing.
constexpr char kSilenceFrame[] = "1111100000000001101010011001111110001100111000001";

// What a filled slot or a terminator of our own needs of the call.
struct GridCall {
  unsigned char call_type;
  uint32_t source;
  uint32_t destination;
  unsigned int first_position;  // superframe position (1..6) of slot 0
};

GridCall grid_call;
bool terminator_pending;  // the call's terminator waits for the tail to leave
unsigned char grid_fill[MOTO_WORK_BUFFER_LEN];
unsigned char silence_bits[MOTO_VOICE_FRAME_BITS + 1];

bool jitter_on() { return JitterBuffer != JITTER_BUFFER_OFF; }

bool is_late(unsigned int sequence) { return sequence <= old_v2m_pac_num && old_v2m_pac_num - sequence < kLateWindow; }

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
bool is_doubling() {
  if (transmitting != 1 || packet_fields.call_type != HYT_CALL_GROUP || packet_fields.frame_type == HYT_FT_SYNC)
    return false;
  dmr_id_tmp = packet_fields.source;
  if (dmr_id == 0) {
    dmr_id = dmr_id_tmp;
    return false;
  }
  if (dmr_id == dmr_id_tmp) return false;
  v2m_pac_num = packet_fields.sequence;
  printf("Doubling DMR-IDs: %d %d in %d/-1\r\n", static_cast<int>(dmr_id), static_cast<int>(dmr_id_tmp), v2m_pac_num);
  return true;
}

void fill_common(unsigned char* d) {
  const unsigned char opcode =
      packet_fields.call_type == HYT_CALL_PRIVATE ? MOTO_OPCODE_PRIVATE_VOICE : MOTO_OPCODE_GROUP_VOICE;
  moto_fill_common(d, opcode, MyBridgeID, static_cast<unsigned char>(v2m_seq_num), packet_fields.source,
                   packet_fields.destination, flctrl, packet_fields.sequence);
  v2m_pac_num = packet_fields.sequence;
}

void stamp_rtp_time(unsigned char* d) {
  mot_time += kRtpTicksPerDatagram;
  moto_set_rtp_timestamp(d, mot_time);
}

// Bursts that reach the network in a bunch leave about 59 ms apart.
void pace(bool log_delay) {
  timeval current{};
  v2m_clock(&current);
  const long gap = microseconds_between(last_send, current);
  if (gap >= 0 && gap < kPacingWindowUs) {
    const long wait = kBurstSpacingUs - gap;
    v2m_sleep_us(static_cast<unsigned int>(wait));
    if (log_delay) printf("%s add delay: %ldus to pacnum: %d\n", ts, wait, v2m_pac_num);
  }
}

void send_to_repeater(const unsigned char* d, unsigned int length) {
  v2m_clock(&last_send);
  sockaddr_in repeater{};
  // Until the Motorola side has sent anything there is nobody to send to.
  if (!get_fromUser2(&repeater)) return;
  udp_send_to_address(Quorvix_sock, d, length, repeater);
}

void start_call(bool with_start) {
  dmr_id = 0;
  v2m_seq_num = v2m_seq_num == 255 ? 0 : v2m_seq_num + 1;
  if (with_start)
    printf("%s PTT ON %d\n", ts, v2m_seq_num);
  else
    printf("%s PTT ON without START %d\n", ts, v2m_seq_num);
  old_v2m_pac_num = 0;
  srand(static_cast<unsigned int>(time(nullptr)));
  for (unsigned char& b : flctrl) b = static_cast<unsigned char>(rand() % 255);
  send_header = 1;
}

void end_grid_call_now();
void start_grid(uint16_t sequence, unsigned int position, int first_slot);

void voice_header() {
  const unsigned int sequence = packet_fields.sequence;
  if (jitter_on() && grid_active()) {
    // A header the call's own bursts overtook belongs to this call; any
    // other starts the next call, after what this one still holds.
    const int k = grid_slot_of(static_cast<uint16_t>(sequence));
    if (k < 0 && k > -static_cast<int>(kLateWindow)) return;
    end_grid_call_now();
  }
  if (send_header == 0) {
    start_call(packet_fields.frame_type == HYT_FT_VOICE_HEADER);
    moto_set_rtp_marker_pt(Voice_moto66, MOTO_RTP_FIRST_HEADER);
  } else {
    moto_set_rtp_marker_pt(Voice_moto66, MOTO_RTP_VOICE);
  }
  fill_common(Voice_moto66);
  dmr_id = packet_fields.source;
  if (sequence != 0 && is_late(sequence)) {
    printf("O_err: %d %d\n", static_cast<int>(old_v2m_pac_num), static_cast<int>(sequence));
    return;
  }
  if (old_v2m_pac_num + 1 != sequence && old_v2m_pac_num != 0 && sequence != 0)
    printf("F_err: %d %d\n", static_cast<int>(old_v2m_pac_num), static_cast<int>(sequence));
  old_v2m_pac_num = sequence;
  stamp_rtp_time(Voice_moto66);
  moto_set_lc_identifiers(Voice_moto66, packet_fields.destination, packet_fields.source);
  const unsigned int length = moto_sign(Voice_moto66, MOTO_HEADER_SIGNED);
  // With the jitter buffer the header goes out at once; the bursts keep
  // their distance on the grid.
  if (transmitting == 1 && !jitter_on())
    pace(true);
  else
    transmitting = 1;
  send_to_repeater(Voice_moto66, length);
  if (jitter_on()) {
    grid_call = GridCall{packet_fields.call_type, packet_fields.source, packet_fields.destination, 0};
    // A late join: burst F stood in for the header and fixes the clock as
    // slot 0; the grid goes on air from the burst after it.
    if (packet_fields.frame_type == HYT_FT_BURST_F) start_grid(static_cast<uint16_t>(sequence), 6, 1);
  }
}

// The swapped copy holds the burst in air order from byte 26 on.
unsigned char swapped_air_bit(unsigned int k) { return (v2m_Buffer[HYT_OFS_BURST + k / 8] >> (7 - k % 8)) & 1u; }

// Decodes the three frames of the burst into the voice field of Voice_moto.
void decode_voice_frames() {
  int total_errors = 0;
  for (unsigned int n = 0; n < 3; ++n) {
    for (unsigned int j = 0; j < HYT_AMBE_FRAME_BITS; ++j)
      v2m_MPayloadbits[j] = swapped_air_bit(hyt_ambe_burst_bit(n, j));
    char err_a = 0;
    char err_b = 0;
    decodiere_AMBEplus2_33(v2m_MPayloadbits, &err_a, &err_b, 2, v2m_Send_bits);
    total_errors += err_a + err_b;
    v2m_Send_bits[MOTO_VOICE_FRAME_BITS] = 0;
    if (err_a > 3 || (err_a > 1 && err_b > 2)) printf("AMBE %u, Err_A = %d Err_B = %d\r\n", n + 1, err_a, err_b);
    moto_put_voice_frame(Voice_moto, n, v2m_Send_bits);
  }
  if (total_errors > 0) printf("BER : %f%%\r\n", total_errors * 100.0 / 141);
}

void start_grid(uint16_t sequence, unsigned int position, int first_slot) {
  const bool automatic = JitterBuffer == JITTER_BUFFER_AUTO;
  const int lead = automatic ? jitter_lead_choose_ms() : JitterBuffer;
  grid_start(now, sequence, lead, first_slot);
  grid_call = GridCall{packet_fields.call_type, packet_fields.source, packet_fields.destination, position};
  terminator_pending = false;
  printf("%s Jitter buffer %d start: lead %d ms (%s)\n", ts, v2m_seq_num, lead, automatic ? "auto" : "fixed");
}

// A burst of the call in hand waits in its slot, decoded and filled but not
// yet stamped or signed: the timestamp follows the order of sending.
void buffered_burst(unsigned int position) {
  const uint16_t sequence = packet_fields.sequence;
  if (!grid_active()) start_grid(sequence, position, 0);
  const int k = grid_slot_of(sequence);
  const GridPlace place = grid_place(k, now);
  if (place == GRID_STORED || place == GRID_LATE) jitter_lead_record(grid_lateness_us(k, now));
  if (place != GRID_STORED) return;
  if (k == grid_highest_received()) old_v2m_pac_num = sequence;
  grid_call.call_type = packet_fields.call_type;
  grid_call.source = packet_fields.source;
  grid_call.destination = packet_fields.destination;
  if (packet_fields.frame_type == HYT_FT_BURST_E)
    moto_set_burst_e_identifiers(Voice_moto, packet_fields.destination, packet_fields.source);
  decode_voice_frames();
  grid_store(k, Voice_moto, send_w);
}

void voice_burst() {
  send_header = 0;
  const unsigned int position = hyt_voice_position(packet_fields.frame_type);
  send_w = moto_load_burst(Voice_moto, position);
  if (send_w == 0) return;
  fill_common(Voice_moto);
  if (jitter_on() && transmitting == 1) {
    buffered_burst(position);
    return;
  }
  const unsigned int sequence = packet_fields.sequence;
  if (sequence != 0 && is_late(sequence)) return;
  if (old_v2m_pac_num + 1 != sequence && sequence != 0)
    printf("Ferr: %d %d\n", static_cast<int>(old_v2m_pac_num), static_cast<int>(sequence));
  old_v2m_pac_num = sequence;
  stamp_rtp_time(Voice_moto);
  if (packet_fields.frame_type == HYT_FT_BURST_E)
    moto_set_burst_e_identifiers(Voice_moto, packet_fields.destination, packet_fields.source);
  decode_voice_frames();
  const unsigned int length = moto_sign(Voice_moto, send_w);
  pace(true);
  send_to_repeater(Voice_moto, length);
}

void voice_terminator() {
  if (jitter_on() && grid_active()) {
    // Held until every slot up to the last burst received has left, so the
    // tail of the call is never clipped.
    const int k = grid_slot_of(packet_fields.sequence);
    if (terminator_pending || k <= grid_highest_received()) return;
    fill_common(Voice_moto64);
    old_v2m_pac_num = packet_fields.sequence;
    moto_set_lc_identifiers(Voice_moto64, packet_fields.destination, packet_fields.source);
    terminator_pending = true;
    return;
  }
  printf("%s PTT OFF %d\n", ts, v2m_seq_num);
  transmitting = 0;
  send_header = 0;
  dmr_id = 0;
  fill_common(Voice_moto64);
  const unsigned int sequence = packet_fields.sequence;
  if (is_late(sequence)) return;
  old_v2m_pac_num = sequence;
  moto_set_lc_identifiers(Voice_moto64, packet_fields.destination, packet_fields.source);
  stamp_rtp_time(Voice_moto64);
  const unsigned int length = moto_sign(Voice_moto64, MOTO_TERMINATOR_SIGNED);
  pace(false);
  send_to_repeater(Voice_moto64, length);
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

void send_on_grid(unsigned char* d, unsigned int signed_len) {
  stamp_rtp_time(d);
  const unsigned int length = moto_sign(d, signed_len);
  send_to_repeater(d, length);
}

unsigned char grid_opcode() {
  return grid_call.call_type == HYT_CALL_PRIVATE ? MOTO_OPCODE_PRIVATE_VOICE : MOTO_OPCODE_GROUP_VOICE;
}

// Superframe position (1..6) of slot k: the superframe runs on through
// every filled slot.
unsigned int grid_position(int k) {
  const int p = (static_cast<int>(grid_call.first_position) - 1 + k) % 6;
  return static_cast<unsigned int>(p < 0 ? p + 6 : p) + 1;
}

void send_silence(int k) {
  const unsigned int position = grid_position(k);
  const unsigned int signed_len = moto_load_burst(grid_fill, position);
  moto_fill_common(grid_fill, grid_opcode(), MyBridgeID, static_cast<unsigned char>(v2m_seq_num), grid_call.source,
                   grid_call.destination, flctrl, grid_sequence_of(k));
  if (position == 5) moto_set_burst_e_identifiers(grid_fill, grid_call.destination, grid_call.source);
  for (unsigned int n = 0; n < 3; ++n) moto_put_voice_frame(grid_fill, n, silence_bits);
  send_on_grid(grid_fill, signed_len);
}

// The terminator the network never sent, so the repeater unkeys at once.
void send_own_terminator(uint16_t sequence) {
  moto_fill_common(Voice_moto64, grid_opcode(), MyBridgeID, static_cast<unsigned char>(v2m_seq_num), grid_call.source,
                   grid_call.destination, flctrl, sequence);
  moto_set_lc_identifiers(Voice_moto64, grid_call.destination, grid_call.source);
  send_on_grid(Voice_moto64, MOTO_TERMINATOR_SIGNED);
}

void print_grid_figures() {
  const GridCounters c = grid_counters();
  printf("%s Jitter buffer %d end: lead %d ms, bursts %d, late %d, lost %d, filled %d\n", ts, v2m_seq_num,
         grid_lead_ms(), c.bursts, c.late, c.lost, c.filled);
}

void end_call(bool timed_out) {
  refresh_ts();
  if (timed_out)
    printf("%s TX TIMEOUT %d\n", ts, v2m_seq_num);
  else
    printf("%s PTT OFF %d\n", ts, v2m_seq_num);
  if (grid_active()) print_grid_figures();
  grid_clear();
  jitter_lead_end_call();
  terminator_pending = false;
  transmitting = 0;
  send_header = 0;
  dmr_id = 0;
  if (timed_out) rx[kBridgedSlot] = 0;
}

// A header of the next call came while this one still held bursts: they
// leave at once, then its terminator if it came.
void end_grid_call_now() {
  for (int k = grid_next_slot(); k <= grid_highest_received(); ++k) {
    unsigned int signed_len = 0;
    if (unsigned char* d = grid_take(k, &signed_len)) {
      send_on_grid(d, signed_len);
      grid_sent(k, true);
    }
  }
  if (terminator_pending) {
    send_on_grid(Voice_moto64, MOTO_TERMINATOR_SIGNED);
    end_call(false);
    return;
  }
  print_grid_figures();
  grid_clear();
  jitter_lead_end_call();
}

bool before(const timeval& a, const timeval& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

// A call with a header and no burst yet has no grid; it too ends with a
// terminator of our own when the network falls silent.
int header_only_timeout() {
  if (transmitting != 1 || grid_active() || now.tv_sec - last_voice_packet.tv_sec <= kTxTimeoutSeconds) return 0;
  send_own_terminator(static_cast<uint16_t>(old_v2m_pac_num + 1));
  end_call(true);
  return 1;
}

void handle_arrival(int length);

}  // namespace

void v2m_reset() {
  v2m_clock(&now);
  last_send = now;
  last_voice_packet = now;
  transmitting = 0;
  send_header = 0;
  dmr_id = 0;
  memset(rx, 0, sizeof rx);
  memset(v2m_Send_bits, 0, sizeof v2m_Send_bits);
  for (unsigned int i = 0; i < MOTO_VOICE_FRAME_BITS; ++i) silence_bits[i] = kSilenceFrame[i] == '1';
  grid_clear();
  terminator_pending = false;
  jitter_lead_reset();
}

void v2m_send_due() {
  if (!jitter_on()) return;
  v2m_clock(&now);
  if (!grid_active()) {
    header_only_timeout();
    return;
  }
  while (grid_active()) {
    const int k = grid_next_slot();
    const timeval due = grid_deadline(k);
    if (before(now, due)) return;
    unsigned int signed_len = 0;
    if (unsigned char* d = grid_take(k, &signed_len)) {
      send_on_grid(d, signed_len);
      grid_sent(k, true);
      continue;
    }
    if (k > grid_highest_received()) {
      if (terminator_pending) {
        send_on_grid(Voice_moto64, MOTO_TERMINATOR_SIGNED);
        end_call(false);
        return;
      }
      // The time-out by the seconds of the clock, as without the buffer.
      if (due.tv_sec - last_voice_packet.tv_sec > kTxTimeoutSeconds) {
        send_own_terminator(grid_sequence_of(k));
        end_call(true);
        return;
      }
    }
    send_silence(k);
    grid_sent(k, false);
  }
}

bool v2m_next_deadline(timeval* at) {
  if (grid_active()) {
    *at = grid_deadline(grid_next_slot());
    return true;
  }
  if (jitter_on() && transmitting == 1) {
    *at = timeval{last_voice_packet.tv_sec + kTxTimeoutSeconds + 1, 0};
    return true;
  }
  return false;
}

int v2m_check_timeout() {
  v2m_clock(&now);
  // With the jitter buffer the call ends on its grid, with a terminator.
  if (jitter_on()) return grid_active() ? 0 : header_only_timeout();
  if (transmitting != 1 || now.tv_sec - last_voice_packet.tv_sec <= kTxTimeoutSeconds) return 0;
  refresh_ts();
  printf("%s TX TIMEOUT %d\n", ts, v2m_seq_num);
  transmitting = 0;
  send_header = 0;
  dmr_id = 0;
  rx[kBridgedSlot] = 0;
  return 1;
}

void v2m_handle_datagram(int length) {
  // The time-out is judged on the arrival of each datagram, and a voice
  // packet is stamped with its own arrival: the receive blocks, so a clock
  // read before it would make the first packet after a quiet spell look old.
  v2m_check_timeout();
  // Slots due before this datagram came leave first, as the thread woke for
  // them; so a burst that arrives after its slot is late.
  v2m_send_due();
  handle_arrival(length);
  v2m_send_due();
}

namespace {

void handle_arrival(int length) {
  if (length == 1 && v2m_Buffer[0] == 'A') {
    if (master_timer > 0) master_timer = 15;
    return;
  }
  if (!hyt_is_voice_datagram(length)) return;

  packet_fields = read_fields(v2m_Buffer);
  v2m_PacketType = packet_fields.kind;
  v2m_slot = packet_fields.slot;
  v2m_srcID = packet_fields.source;
  v2m_dstID = packet_fields.destination;
  refresh_ts();
  log_slot_activity();
  if (v2m_slot != kBridgedSlot) return;

  hyt_swap_pairs(v2m_Buffer);
  if (is_doubling()) return;
  if (v2m_PacketType == HYT_KIND_END) {
    voice_terminator();
  } else if (v2m_PacketType == HYT_KIND_VOICE) {
    last_voice_packet = now;
    send_w = 0;
    if (packet_fields.frame_type == HYT_FT_VOICE_HEADER ||
        (packet_fields.frame_type == HYT_FT_BURST_F && transmitting == 0))
      voice_header();
    else
      voice_burst();
  }
}

}  // namespace

namespace {

// Waits for the voice socket to become readable, at most until `deadline`
// on the thread's clock; false when the deadline came first.
bool wait_for_datagram_until(const timeval& deadline) {
  timeval current{};
  v2m_clock(&current);
  const long remaining_us = microseconds_between(current, deadline);
  if (remaining_us <= 0) return false;
  pollfd readable{Local_Repeater_audio_srv_sock, POLLIN, 0};
  const timespec timeout{remaining_us / 1000000L, (remaining_us % 1000000L) * 1000L};
  return ppoll(&readable, 1, &timeout, nullptr) > 0;
}

// Without a call on the grid the thread blocks in its receive, but not past
// the end of a minute whose drops are still to be summed up: the summary
// must not wait for the next datagram. False when that came first.
bool wait_for_datagram_or_drop_summary() {
  const int64_t due = drop_summary_due_ms(LISTEN_REPEATER_AUDIO_PORT);
  if (due == NO_DROP_SUMMARY_DUE) return true;
  const int64_t remaining_ms = due - drop_report_clock_ms();
  if (remaining_ms <= 0) return false;
  pollfd readable{Local_Repeater_audio_srv_sock, POLLIN, 0};
  const timespec timeout{static_cast<time_t>(remaining_ms / 1000), static_cast<long>(remaining_ms % 1000) * 1000000L};
  return ppoll(&readable, 1, &timeout, nullptr) > 0;
}

}  // namespace

void* send_voice_to_motorola(void*) {
  v2m_reset();
  printf("%s", "\033[0;33m");
  puts("Start Voice to Motorola Pthread\n");
  printf("%s", "\033[0;33m");
  printf("%s", "\033[0m");
  printf("%s", "\033[0m");
  for (;;) {
    if (Local_Repeater_audio_srv_sock < 0) {
      // The voice socket never opened: nothing will ever arrive.
      sleep(1);
      continue;
    }
    // While a network call is on the grid the thread wakes at each slot's
    // time; otherwise it blocks in its receive as it always did.
    timeval deadline{};
    const bool readable =
        v2m_next_deadline(&deadline) ? wait_for_datagram_until(deadline) : wait_for_datagram_or_drop_summary();
    if (!readable) {
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
