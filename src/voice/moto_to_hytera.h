#pragma once
// Calls from the Motorola repeater to the network master: each IPSC voice
// datagram of timeslot 2 becomes one 72-byte Hytera voice packet, sent at
// once to MasterIP:62006. Runs inside the receive loop of the thread that
// reads the Motorola-side socket; all state here belongs to that thread.
//
// Every packet of a call carries the identity the call was locked to
// (voice/moto_call_lock.h), not the identifiers of the datagram it came in:
// radios that send talker alias put alias text there.
#include <cstdint>

// Destination port of the voice packets at MasterIP; the master's voice port.
extern int hytera_voice_port;

// The packet built last (the first 72 bytes are sent); zero at thread start.
extern unsigned char sendhyt[100];

// Clock of the call time-out, in milliseconds; it must not jump: monotonic
// by default. Tests put their own in.
extern int64_t (*moto_rx_clock_ms)();

// Thread start: clears sendhyt, the superframe position (back to burst A),
// the duplicate filter and the call lock.
void reset_moto_to_hytera();

// Handles one received Motorola datagram with opcode 0x80 or 0x81 of
// `length` bytes (more than 16). Returns 1 when the receive loop's turn goes
// on, 0 when it ends at once (a duplicate was dropped).
int handle_moto_voice(const unsigned char* packet, int length);
