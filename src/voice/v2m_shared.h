#pragma once
// What the two network-to-repeater paths share: the fields of the packet in
// hand and the steps of a call that both take. The unbuffered path
// (hytera_to_moto.cpp) relays each packet as it comes; the buffered path
// (buffered_path.cpp, JitterBuffer set) puts calls on the grid. Both work on
// the thread's call state of hytera_to_moto.h (transmitting, send_header,
// dmr_id, v2m_seq_num, flctrl, mot_time) and on the packet in v2m_Buffer,
// pair-swapped.
#include <cstdint>

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

// The voice header `f` (or a burst F standing in for it) goes out now: a new
// call with its PTT ON line, call number and tag while send_header is 0,
// else a repeat of the header on air. Held back to 59 ms after the last send
// when `paced` and a call is on air. A new call's tag differs from
// `other_tag` when one is given. False when the order check dropped it.
bool v2m_send_header(const HyteraFields& f, bool paced, const unsigned char* other_tag = nullptr);

// The terminator `f` as relayed without a grid: PTT OFF, the call state
// cleared, then sent if it is in order.
void v2m_relay_terminator(const HyteraFields& f);

// The burst `f` (in v2m_Buffer) as a Motorola burst datagram in d (at least
// MOTO_WORK_BUFFER_LEN bytes): template, call fields, burst-E identifiers
// and the decoded frames; its signed length, 0 for a code not in the list.
// Timestamp and trailer are still to come.
unsigned int v2m_prepare_burst(const HyteraFields& f, unsigned char* d);

// The next RTP timestamp, the trailer over signed_len bytes, and off to the
// repeater at once.
void v2m_send_signed(unsigned char* d, unsigned int signed_len);

// The one end of a relayed call: its "PTT OFF" or "TX TIMEOUT" line and the
// call state cleared (after a time-out the slot's RX flag too).
void v2m_end_of_call(bool timed_out);
