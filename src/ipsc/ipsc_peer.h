#pragma once
// The bridge's side of the IPSC peer protocol toward the Motorola repeater,
// run by the thread that reads the Motorola-side socket.
#include <netinet/in.h>

#include <cstdint>

#include "main/repeater_address.h"

constexpr unsigned IPSC_RECEIVE_LIMIT = 224;
constexpr int IPSC_KEEPALIVE_TURNS = 1000;  // one keep-alive pair every 1000 turns, about every 5 s
// A turn is a 5 ms pause and one receive, as the thread once polled; its
// length with the loop's overhead keeps the keep-alive rhythm at the 5.08 s
// that repeaters have always seen from the bridge. The thread now waits on
// its socket and counts turns on the monotonic clock.
constexpr int64_t IPSC_TURN_US = 5080;
// Signed datagrams one wake-up handles at most before it waits again.
constexpr int IPSC_DATAGRAMS_PER_WAKE = 64;
constexpr int IPSC_PEER_LIMIT = 3;

extern unsigned char sendBuffer[IPSC_RECEIVE_LIMIT];

// What the receive loop hands on, so that it needs to know nothing of the
// voice paths: group and private voice (0x80, 0x81) and data calls (0x84).
// Each returns 1 when the turn goes on and 0 when it ends at once; `reset`
// clears their state at thread start. Start-up sets them before any thread
// runs; a handler left unset ignores its datagrams.
struct IpscHandlers {
  int (*voice)(const unsigned char* packet, int length);
  int (*data)(const unsigned char* packet, int length);
  void (*reset)();
};
void ipsc_set_handlers(const IpscHandlers& handlers);

// Sends len bytes as one datagram to the Motorola repeater (RptrIP:RptrPort).
void SEND(unsigned int len, const unsigned char* data);

// Thread start: registration request, banner, fresh state.
void ipsc_thread_start();

// One turn of the receive loop without its sleep: counts the turn, takes at
// most one datagram that may act and handles it. Datagrams that may not are
// read, reported and discarded on the way (a bounded number per turn).
// Returns 0 when the thread must end. The same as ipsc_pass(1).
int ipsc_turn();

// As ipsc_turn, but counting `turns` turns first (0: another datagram of the
// same turn).
int ipsc_pass(int turns);

// One wake-up of the thread: counts the turns that the monotonic clock says
// have passed since the thread started and were not counted yet, then
// handles what has arrived, at most IPSC_DATAGRAMS_PER_WAKE signed datagrams,
// with the keep-alive pair when its turn has come. Returns 0 when the thread
// must end.
int ipsc_wake();

// When the thread must wake if nothing arrives: the start of the turn in
// which the keep-alive pair is due (in the past when it is overdue).
int64_t ipsc_next_wake_us();

// True when the `length` bytes in sendBuffer (the datagram's real length,
// even when more than sendBuffer holds) are a datagram the bridge may look
// at: no longer than sendBuffer, ending in a valid signature trailer, and
// not one of the bridge's own (MyBridgeID in bytes 1..4) sent back.
// Anything else is reported as dropped from `sender`: "too long", "bad
// signature" or "reflected".
bool ipsc_datagram_trusted(int length, const sockaddr_in& sender);

// What one turn does with a received datagram (length -1 for none): checks
// it and, only when it may act, lets it reach the handler; otherwise the
// turn goes on as one in which nothing arrived. Besides the checks of
// ipsc_datagram_trusted, a keep-alive reply must come from the repeater
// and answer a request, with no copies of replies in the interval before.
// Only a datagram from the repeater (its address and peer identifier) moves
// fromUser2. Returns 0 when the thread must end.
int ipsc_handle_datagram(int length, const sockaddr_in& sender);

// Handles what one turn received from `sender` (length -1 when nothing
// came) in sendBuffer, with the reply and keep-alive steps, trusting it as it
// stands. Returns 0 when the thread must end.
int ipsc_handle_turn(int length, const sockaddr_in& sender);

// Thread entry; returns only when the peer limit is exceeded.
void* send_voice_to_hytera(void*);
