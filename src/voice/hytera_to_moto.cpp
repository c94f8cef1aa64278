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

// The network calls of the bridged timeslot on the grid (JitterBuffer set).
BufferedPath network_buffer;

bool jitter_on() { return JitterBuffer != JITTER_BUFFER_OFF; }

int64_t microseconds_of(const timeval& t) { return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_usec; }

timeval timeval_of(int64_t us) {
  return timeval{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
}

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
bool is_doubling(const HyteraFields& f) {
  if (transmitting != 1 || f.call_type != HYT_CALL_GROUP || f.frame_type == HYT_FT_SYNC) return false;
  dmr_id_tmp = f.source;
  if (dmr_id == 0) {
    dmr_id = dmr_id_tmp;
    return false;
  }
  if (dmr_id == dmr_id_tmp) return false;
  v2m_pac_num = f.sequence;
  printf("Doubling DMR-IDs: %d %d in %d/-1\r\n", static_cast<int>(dmr_id), static_cast<int>(dmr_id_tmp), v2m_pac_num);
  return true;
}

void fill_common(unsigned char* d, const HyteraFields& f) {
  const unsigned char opcode = f.call_type == HYT_CALL_PRIVATE ? MOTO_OPCODE_PRIVATE_VOICE : MOTO_OPCODE_GROUP_VOICE;
  moto_fill_common(d, opcode, MyBridgeID, static_cast<unsigned char>(v2m_seq_num), f.source, f.destination, flctrl,
                   f.sequence);
  v2m_pac_num = f.sequence;
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

void draw_call_tag() {
  for (unsigned char& b : flctrl) b = static_cast<unsigned char>(rand() % 255);
}

void start_call(bool with_start, const unsigned char* other_tag) {
  dmr_id = 0;
  v2m_seq_num = v2m_seq_num == 255 ? 0 : v2m_seq_num + 1;
  if (with_start)
    printf("%s PTT ON %d\n", ts, v2m_seq_num);
  else
    printf("%s PTT ON without START %d\n", ts, v2m_seq_num);
  old_v2m_pac_num = 0;
  srand(static_cast<unsigned int>(time(nullptr)));
  draw_call_tag();
  // Calls that key up within the same second would draw the same tag.
  while (other_tag && memcmp(flctrl, other_tag, sizeof flctrl) == 0) draw_call_tag();
  send_header = 1;
}

// The swapped copy holds the burst in air order from byte 26 on.
unsigned char swapped_air_bit(unsigned int k) { return (v2m_Buffer[HYT_OFS_BURST + k / 8] >> (7 - k % 8)) & 1u; }

// Decodes the three frames of the burst into the voice field of d.
void decode_voice_frames(unsigned char* d) {
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
    moto_put_voice_frame(d, n, v2m_Send_bits);
  }
  if (total_errors > 0) printf("BER : %f%%\r\n", total_errors * 100.0 / 141);
}

// Burst E carries the call's destination and source once more; then the frames.
void fill_burst_content(unsigned char* d, const HyteraFields& f) {
  if (f.frame_type == HYT_FT_BURST_E) moto_set_burst_e_identifiers(d, f.destination, f.source);
  decode_voice_frames(d);
}

// ---- Without the jitter buffer: every packet relayed as it comes

void voice_burst(const HyteraFields& f) {
  send_header = 0;
  send_w = moto_load_burst(Voice_moto, hyt_voice_position(f.frame_type));
  if (send_w == 0) return;
  fill_common(Voice_moto, f);
  const unsigned int sequence = f.sequence;
  if (sequence != 0 && is_late(sequence)) return;
  if (old_v2m_pac_num + 1 != sequence && sequence != 0)
    printf("Ferr: %d %d\n", static_cast<int>(old_v2m_pac_num), static_cast<int>(sequence));
  old_v2m_pac_num = sequence;
  stamp_rtp_time(Voice_moto);
  fill_burst_content(Voice_moto, f);
  const unsigned int length = moto_sign(Voice_moto, send_w);
  pace(true);
  send_to_repeater(Voice_moto, length);
}

void relay_packet(const HyteraFields& f, const timeval& arrival) {
  if (is_doubling(f)) return;
  if (f.kind == HYT_KIND_END) {
    v2m_relay_terminator(f);
  } else if (f.kind == HYT_KIND_VOICE) {
    last_voice_packet = arrival;
    send_w = 0;
    if (f.frame_type == HYT_FT_VOICE_HEADER || (f.frame_type == HYT_FT_BURST_F && transmitting == 0))
      v2m_send_header(f, true);
    else
      voice_burst(f);
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

int check_timeout_at(const timeval& now) {
  // With the jitter buffer the call ends on its grid, with a terminator.
  if (jitter_on()) return buffered_check_timeout(network_buffer, microseconds_of(now));
  if (transmitting != 1 || now.tv_sec - last_voice_packet.tv_sec <= kTxTimeoutSeconds) return 0;
  refresh_ts();
  v2m_end_of_call(true);
  return 1;
}

void handle_arrival(int length, const timeval& arrival) {
  if (length == 1 && v2m_Buffer[0] == 'A') {
    if (master_timer > 0) master_timer = 15;
    return;
  }
  if (!hyt_is_voice_datagram(length)) return;

  const HyteraFields f = read_fields(v2m_Buffer);
  v2m_PacketType = f.kind;
  v2m_slot = f.slot;
  v2m_srcID = f.source;
  v2m_dstID = f.destination;
  refresh_ts();
  log_slot_activity();
  if (v2m_slot != kBridgedSlot) return;

  hyt_swap_pairs(v2m_Buffer);
  if (jitter_on())
    buffered_take(network_buffer, f, microseconds_of(arrival));
  else
    relay_packet(f, arrival);
}

}  // namespace

// ---- Steps both paths take

bool v2m_send_header(const HyteraFields& f, bool paced, const unsigned char* other_tag) {
  const unsigned int sequence = f.sequence;
  if (send_header == 0) {
    start_call(f.frame_type == HYT_FT_VOICE_HEADER, other_tag);
    moto_set_rtp_marker_pt(Voice_moto66, MOTO_RTP_FIRST_HEADER);
  } else {
    moto_set_rtp_marker_pt(Voice_moto66, MOTO_RTP_VOICE);
  }
  fill_common(Voice_moto66, f);
  dmr_id = f.source;
  if (sequence != 0 && is_late(sequence)) {
    printf("O_err: %d %d\n", static_cast<int>(old_v2m_pac_num), static_cast<int>(sequence));
    return false;
  }
  if (old_v2m_pac_num + 1 != sequence && old_v2m_pac_num != 0 && sequence != 0)
    printf("F_err: %d %d\n", static_cast<int>(old_v2m_pac_num), static_cast<int>(sequence));
  old_v2m_pac_num = sequence;
  stamp_rtp_time(Voice_moto66);
  moto_set_lc_identifiers(Voice_moto66, f.destination, f.source);
  const unsigned int length = moto_sign(Voice_moto66, MOTO_HEADER_SIGNED);
  if (transmitting == 1 && paced)
    pace(true);
  else
    transmitting = 1;
  send_to_repeater(Voice_moto66, length);
  return true;
}

void v2m_relay_terminator(const HyteraFields& f) {
  v2m_end_of_call(false);
  fill_common(Voice_moto64, f);
  const unsigned int sequence = f.sequence;
  if (is_late(sequence)) return;
  old_v2m_pac_num = sequence;
  moto_set_lc_identifiers(Voice_moto64, f.destination, f.source);
  stamp_rtp_time(Voice_moto64);
  const unsigned int length = moto_sign(Voice_moto64, MOTO_TERMINATOR_SIGNED);
  pace(false);
  send_to_repeater(Voice_moto64, length);
}

unsigned int v2m_prepare_burst(const HyteraFields& f, unsigned char* d) {
  const unsigned int signed_len = moto_load_burst(d, hyt_voice_position(f.frame_type));
  if (signed_len == 0) return 0;
  fill_common(d, f);
  fill_burst_content(d, f);
  return signed_len;
}

void v2m_send_signed(unsigned char* d, unsigned int signed_len) {
  stamp_rtp_time(d);
  send_to_repeater(d, moto_sign(d, signed_len));
}

void v2m_end_of_call(bool timed_out) {
  if (timed_out)
    printf("%s TX TIMEOUT %d\n", ts, v2m_seq_num);
  else
    printf("%s PTT OFF %d\n", ts, v2m_seq_num);
  transmitting = 0;
  send_header = 0;
  dmr_id = 0;
  if (timed_out) rx[kBridgedSlot] = 0;
}

void jitter_lead_reset() { network_buffer.lead.reset(); }
void jitter_lead_record(int32_t lateness_us) { network_buffer.lead.record(lateness_us); }
void jitter_lead_end_call() { network_buffer.lead.end_call(); }
int jitter_lead_choose_ms() { return network_buffer.lead.choose_ms(); }

// ---- The thread's entry points

void v2m_reset() {
  timeval current{};
  v2m_clock(&current);
  last_send = current;
  last_voice_packet = current;
  transmitting = 0;
  send_header = 0;
  dmr_id = 0;
  memset(rx, 0, sizeof rx);
  memset(v2m_Send_bits, 0, sizeof v2m_Send_bits);
  buffered_reset(network_buffer);
}

void v2m_send_due() {
  if (!jitter_on()) return;
  timeval current{};
  v2m_clock(&current);
  buffered_send_due(network_buffer, microseconds_of(current));
}

bool v2m_next_deadline(timeval* at) {
  int64_t at_us = 0;
  if (!jitter_on() || !buffered_next_deadline(network_buffer, &at_us)) return false;
  *at = timeval_of(at_us);
  return true;
}

int v2m_check_timeout() {
  timeval current{};
  v2m_clock(&current);
  return check_timeout_at(current);
}

void v2m_handle_datagram(int length) {
  // The time-out is judged on the arrival of each datagram, and a voice
  // packet is stamped with its own arrival: the receive blocks, so a clock
  // read before it would make the first packet after a quiet spell look old.
  timeval arrival{};
  v2m_clock(&arrival);
  check_timeout_at(arrival);
  // Slots due before this datagram came leave first, as the thread woke for
  // them; so a burst that arrives after its slot is late.
  if (jitter_on()) buffered_send_due(network_buffer, microseconds_of(arrival));
  handle_arrival(length, arrival);
  v2m_send_due();
}

namespace {

// When the thread must wake if nothing arrives: at each slot's time while a
// network call is on the grid, at its time-out, and when the port's drop
// summary falls due; otherwise it blocks until a datagram comes.
int64_t next_wake_us() {
  timeval deadline{};
  const int64_t grid =
      v2m_next_deadline(&deadline) ? static_cast<int64_t>(deadline.tv_sec) * 1000000 + deadline.tv_usec : WAIT_FOREVER;
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
