#pragma once
// Calls from the network master to the Motorola repeater: the thread that
// reads the 62006 socket follows the one call it relays on each bridged
// timeslot, decodes the AMBE+2 frames of every burst, fills, signs and paces
// the Motorola datagrams and sends them to the last sender on the Motorola
// side. It also takes the master's "A" echoes, which keep the login alive.
#include <sys/time.h>

#include <cstdint>

constexpr unsigned int V2M_RECEIVE_LIMIT = 72;

// Receive buffer: a datagram is read into its first 72 bytes.
extern unsigned char v2m_Buffer[224];

// Timeslot 2's call state (each bridged timeslot keeps its own): a call is
// being relayed / its header went out and no burst yet.
extern int& transmitting;
extern int& send_header;
extern uint32_t& dmr_id;            // talker of the relayed call; 0 = none
extern int& v2m_seq_num;            // IPSC call sequence number, 0..255
extern unsigned char (&flctrl)[4];  // call tag of the current call
extern uint32_t& mot_time;          // RTP timestamp, +480 before every send
extern unsigned char rx[3];         // rx[slot]: receiving on slot 1 / 2 (log only)

// Whether a call is being relayed on `slot` (1 or 2; 0 for any other).
int v2m_transmitting_on(unsigned int slot);

// Clock and sleep of the pacing and the transmit time-out; tests put their
// own in. The clock must not jump: it is monotonic by default.
extern void (*v2m_clock)(timeval* now);
extern void (*v2m_sleep_us)(unsigned int us);

// Thread start without its banner: every clock reading set to now, the call
// state of both timeslots as at start (tests call it between cases).
void v2m_reset();

// The transmit time-out: a relayed call with no voice packet for more than
// 2 s (by the seconds of the clock) ends without a terminator. Returns 1
// when it ended a call, else 0.
int v2m_check_timeout();

// One pass for a datagram already in v2m_Buffer, `length` as the receive
// returned it (at most 72; negative for an error): the time-out, judged on
// its arrival, then the "A" echo or the voice packet.
void v2m_handle_datagram(int length);

// Sends what is due by the thread's clock. With the jitter buffer
// (JitterBuffer set), every slot of the network calls whose time has come:
// its burst, silence for a burst that never came, the held terminator, or a
// terminator of our own after the transmit time-out. With both timeslots
// bridged, the datagrams that pacing held back, each timeslot's after its
// own last send. Does nothing without either key.
void v2m_send_due();

// When the thread must wake next, the soonest of both timeslots: for a call
// on the grid (or its time-out), or for a datagram pacing holds back; false
// while nothing needs it, and always without either key.
bool v2m_next_deadline(timeval* at);

// Thread entry; never returns.
void* send_voice_to_motorola(void*);
