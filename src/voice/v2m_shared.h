#pragma once
// What the two network-to-repeater paths share: the fields of the packet in
// hand, a timeslot's call state, and the steps of a call that both take. The
// unbuffered path (hytera_to_moto.cpp) relays each packet as it comes; the
// buffered path (buffered_path.cpp, JitterBuffer set) puts calls on the grid.
// Both work on the call state of the packet's timeslot and on the packet in
// v2m_Buffer, pair-swapped.
#include <sys/time.h>

#include <cstdint>

#include "ipsc/moto_voice_packet.h"

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

// A datagram that pacing holds back while the other timeslot's calls go on.
struct HeldDatagram {
  bool present;
  int64_t due_us;       // on the thread's clock
  long logged_wait_us;  // the "add delay" line's figure; negative: no line
  int pac_num;
  unsigned int length;
  unsigned char d[MOTO_WORK_BUFFER_LEN];
};

// A call from the network with no packet for longer than this (by the
// seconds of the clock) ends with "TX TIMEOUT".
constexpr int64_t V2M_TX_TIMEOUT_SECONDS = 2;

// Everything a timeslot keeps for the one network call it relays: each
// timeslot numbers, tags, times and paces its calls on its own.
struct V2mCall {
  unsigned int slot = 2;
  // A call is being relayed / its header went out and no burst yet.
  int transmitting = 0;
  int send_header = 0;
  uint32_t dmr_id = 0;              // talker of the relayed call; 0 = none
  int seq_num = 0;                  // IPSC call sequence number, 0..255
  unsigned char flctrl[4] = {};     // call tag of the current call
  uint32_t mot_time = 1000000000u;  // RTP timestamp, +480 before every send
  int pac_num = 0;                  // Hytera sequence number of the packet in hand
  unsigned int old_pac_num = 0;     // ... and of the last one relayed in this call
  // The decoder's output, kept from one frame to the next: an
  // uncorrectable frame repeats the last good one of this timeslot.
  unsigned char send_bits[MOTO_VOICE_FRAME_BITS + 1] = {};
  timeval last_send = {};
  timeval last_voice_packet = {};
  HeldDatagram held = {};
};

// The voice header `f` (or a burst F standing in for it) goes out now: a new
// call with its PTT ON line, call number and tag while send_header is 0,
// else a repeat of the header on air. Held back to 59 ms after the last send
// when `paced` and a call is on air. A new call's tag differs from
// `other_tag` when one is given. False when the order check dropped it.
bool v2m_send_header(V2mCall& c, const HyteraFields& f, bool paced, const unsigned char* other_tag = nullptr);

// The terminator `f` as relayed without a grid: PTT OFF, the call state
// cleared, then sent if it is in order.
void v2m_relay_terminator(V2mCall& c, const HyteraFields& f);

// The three frames of burst `f` (in v2m_Buffer), decoded into the voice
// field of d (at least MOTO_WORK_BUFFER_LEN bytes), which holds nothing else
// of the burst: the datagram is built when its slot leaves. False for a code
// not in the list.
bool v2m_decode_burst(V2mCall& c, const HyteraFields& f, unsigned char* d);

// The fields every datagram of the call carries, the timeslot included.
void v2m_fill_call(const V2mCall& c, unsigned char* d, unsigned char call_type, uint32_t source, uint32_t destination,
                   uint16_t rtp_sequence);

// The next RTP timestamp, the trailer over signed_len bytes, and off to the
// repeater at once.
void v2m_send_signed(V2mCall& c, unsigned char* d, unsigned int signed_len);

// The one end of a relayed call: its "PTT OFF" or "TX TIMEOUT" line and the
// call state cleared (after a time-out the slot's RX flag too).
void v2m_end_of_call(V2mCall& c, bool timed_out);
