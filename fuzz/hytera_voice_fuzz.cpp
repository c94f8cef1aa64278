// The Hytera-side voice thread: every datagram the network master sends to
// port 62006 ("A" echoes and 72-byte voice packets of every kind and
// frame-type code), as sequences that carry the call state from one to the
// next, on a fake clock so that pacing and the transmit time-out run
// without sleeping. Everything the path signs and sends to the Motorola
// side is caught on a loopback socket and its trailer checked with
// OpenSSL's HMAC-SHA1.
//
// As in the daemon, a datagram counts only when it comes from the network
// master's address; the harness addresses each one from the master or, by
// a control bit, from another host, whose datagrams must change nothing.
//
// Record format (fuzz_support.h): length byte 0..72 is the datagram length,
// 73..254 a longer datagram cut to 72 by the receive, 255 a failed receive;
// control bits 0..6 are the time since the previous datagram: below 100 in
// milliseconds, from 100 on in steps of 250 ms (up to 7 s); bit 7: sent by
// another host (127.0.0.2) rather than the master.
//
// The input's length modulo 4 picks the jitter-buffer setting (none, 20 ms,
// 120 ms, auto), and the next bit of it the bridged timeslots (2 alone, or
// 1 and 2), so every seed runs in each mode as it grows or shrinks; the
// harness then wakes the path at every deadline it names, as the thread
// does, and every datagram it sends must be of a bridged timeslot and carry
// the RTP timestamp 480 after the one before on that timeslot. With the
// buffer, every voice burst also goes on with the call of the timeslot's
// datagram before it: the same call number and tag, and the RTP sequence
// one further, whatever the master's numbers did. With both timeslots the
// path never sleeps: pacing holds a datagram back until its deadline.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "main/config.h"
#include "ipsc/ipsc_peer.h"
#include "ipsc/moto_voice_packet.h"
#include "main/sockets.h"
#include "main/supervision.h"
#include "main/trusted_senders.h"
#include "voice/hytera_to_moto.h"

namespace {

timeval fake_now;
int capture_fd = -1;
unsigned slept_us_last;
// What each timeslot sent last: its timestamp and the call it belonged to.
struct LastSent {
  bool present;
  uint32_t timestamp;
  unsigned char call_seq;
  unsigned char call_tag[4];
  uint16_t rtp_sequence;
};
LastSent last_sent[3];

long long us_of(const timeval& t) { return static_cast<long long>(t.tv_sec) * 1000000LL + t.tv_usec; }

void advance(long us) {
  long total = fake_now.tv_usec + us;
  fake_now.tv_sec += total / 1000000;
  fake_now.tv_usec = static_cast<suseconds_t>(total % 1000000);
}

void fake_clock(timeval* now) { *now = fake_now; }

void fake_sleep(unsigned int us) {
  // Bunched bursts are held back to leave 59 ms after the previous send; a
  // sleep with both timeslots bridged would hold up the other one.
  FUZZ_CHECK(us > 29000 && us <= 59000);
  FUZZ_CHECK(!timeslot_bridged(1) || !timeslot_bridged(2));
  slept_us_last = us;
  advance(us);
}

int udp_socket_on_loopback(sockaddr_in* bound) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  if (fd < 0) abort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) abort();
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  if (bound) *bound = address;
  return fd;
}

// Every datagram sent toward the repeater is a whole, signed Motorola voice
// datagram of a bridged timeslot.
void check_sent() {
  unsigned char datagram[512];
  for (;;) {
    ssize_t n = recv(capture_fd, datagram, sizeof datagram, MSG_DONTWAIT);
    if (n < 0) return;
    const size_t length = static_cast<size_t>(n);
    FUZZ_CHECK(length == MOTO_HEADER_LEN || length == MOTO_TERMINATOR_LEN || length == MOTO_BURST_A_LEN ||
               length == MOTO_BURST_BCDF_LEN || length == MOTO_BURST_E_LEN);
    FUZZ_CHECK(datagram[0] == MOTO_OPCODE_GROUP_VOICE || datagram[0] == MOTO_OPCODE_PRIVATE_VOICE);
    const unsigned int slot = moto_slot(datagram, n);
    FUZZ_CHECK(timeslot_bridged(slot));
    FUZZ_CHECK((datagram[MOTO_OFS_CALL_FLAGS] & ~MOTO_FLAG_SLOT2) ==
               (length == MOTO_TERMINATOR_LEN ? MOTO_FLAG_END : 0));
    FUZZ_CHECK(fuzz_signature_ok(datagram, length));
    LastSent& last = last_sent[slot];
    uint32_t timestamp = 0;
    FUZZ_CHECK(moto_get_rtp_timestamp(datagram, n, &timestamp));
    FUZZ_CHECK(!last.present || timestamp == last.timestamp + 480u);
    unsigned char call_seq = 0;
    unsigned char call_tag[4] = {};
    uint16_t rtp_sequence = 0;
    FUZZ_CHECK(moto_get_call_seq(datagram, n, &call_seq) && moto_get_call_tag(datagram, n, call_tag) &&
               moto_get_rtp_sequence(datagram, n, &rtp_sequence));
    const bool burst = length == MOTO_BURST_A_LEN || length == MOTO_BURST_BCDF_LEN || length == MOTO_BURST_E_LEN;
    if (JitterBuffer != JITTER_BUFFER_OFF && burst)
      FUZZ_CHECK(last.present && call_seq == last.call_seq && memcmp(call_tag, last.call_tag, 4) == 0 &&
                 rtp_sequence == static_cast<uint16_t>(last.rtp_sequence + 1));
    last.present = true;
    last.timestamp = timestamp;
    last.call_seq = call_seq;
    memcpy(last.call_tag, call_tag, 4);
    last.rtp_sequence = rtp_sequence;
  }
}

// The thread's own wake-ups between two datagrams: each deadline the path
// names, in order, up to `until`.
void run_deadlines_until(long long until) {
  timeval at{};
  for (int wakes = 0; wakes < 100000 && v2m_next_deadline(&at) && us_of(at) <= until; ++wakes) {
    fake_now = at;
    v2m_send_due();
    check_sent();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_prepare_bridge();
  fuzz_quiet_stdout();
  v2m_clock = fake_clock;
  v2m_sleep_us = fake_sleep;
  // The path sends on the Motorola-side socket to the last sender there.
  sockaddr_in repeater{};
  capture_fd = udp_socket_on_loopback(&repeater);
  Quorvix_sock = udp_socket_on_loopback(nullptr);
  set_fromUser2(repeater);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every input is one run of the thread from its start.
  fake_now = {1000, 0};
  const int32_t modes[4] = {JITTER_BUFFER_OFF, JITTER_BUFFER_MIN_MS, 120, JITTER_BUFFER_AUTO};
  JitterBuffer = modes[size % 4];
  Timeslots = (size / 4) % 2 ? TIMESLOT_1_BIT | TIMESLOT_2_BIT : TIMESLOTS_DEFAULT;
  memset(last_sent, 0, sizeof last_sent);
  v2m_reset();
  v2m_seq_num = 0;
  master_timer = 30;

  FuzzRecords records(data, size);
  FuzzRecord record;
  sockaddr_in master{};
  master.sin_family = AF_INET;
  master.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // MasterIP
  master.sin_port = htons(62006);
  sockaddr_in stranger = master;
  stranger.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);

  while (records.next(&record)) {
    const unsigned step = record.control & 127u;
    const long long arrival = us_of(fake_now) + (step < 100 ? step * 1000LL : (step - 99) * 250000LL);
    run_deadlines_until(arrival);
    fake_now = timeval{static_cast<time_t>(arrival / 1000000), static_cast<suseconds_t>(arrival % 1000000)};
    const bool from_master = !(record.control & 128);
    int length;
    if (record.length_code == 255) {
      length = -1;
    } else {
      length = static_cast<int>(record.size < V2M_RECEIVE_LIMIT ? record.size : V2M_RECEIVE_LIMIT);
      memcpy(v2m_Buffer, record.data, static_cast<size_t>(length));  // the rest keeps the last datagram
    }
    const int timer_before = master_timer;
    const int transmitting_before[3] = {0, v2m_transmitting_on(1), v2m_transmitting_on(2)};
    // The receive loop's order: the check right after the receive.
    if (length >= 0)
      FUZZ_CHECK(accept_from_master(from_master ? master : stranger, LISTEN_REPEATER_AUDIO_PORT) == from_master);
    if (length < 0 || from_master) {
      v2m_handle_datagram(length);
    } else {
      v2m_send_due();
      // Nothing from another host starts a call or touches the login.
      for (unsigned int slot = 1; slot <= 2; ++slot)
        FUZZ_CHECK(v2m_transmitting_on(slot) == 0 || transmitting_before[slot] == 1);
    }
    flush_drop_summary(LISTEN_REPEATER_AUDIO_PORT);
    // An "A" echo from the master refreshes a running login timer and never revives a lapsed one.
    if (from_master && length == 1 && record.data[0] == 'A')
      FUZZ_CHECK(master_timer == (timer_before > 0 ? 15 : timer_before));
    else
      FUZZ_CHECK(master_timer == timer_before);
    FUZZ_CHECK(v2m_seq_num >= 0 && v2m_seq_num <= 255);
    FUZZ_CHECK(transmitting == 0 || transmitting == 1);
    FUZZ_CHECK(v2m_transmitting_on(1) == 0 || (v2m_transmitting_on(1) == 1 && timeslot_bridged(1)));
    check_sent();
    // The master's timer runs down as the supervision loop would let it.
    if (master_timer > 0 && step >= 100) --master_timer;
  }
  // The calls on the grid play out: they end by themselves within the
  // time-out, and whatever pacing held back has left.
  run_deadlines_until(us_of(fake_now) + 10 * 1000000LL);
  FUZZ_CHECK(!v2m_next_deadline(&fake_now));
  return 0;
}
