#pragma once
// The bridge's side of the IPSC peer protocol toward the Motorola repeater,
// run by the thread that reads the Motorola-side socket.
#include <netinet/in.h>

constexpr unsigned IPSC_RECEIVE_LIMIT = 224;
constexpr int IPSC_KEEPALIVE_TURNS = 1000;  // 5 ms turns: one keep-alive pair about every 5 s
constexpr int IPSC_PEER_LIMIT = 3;

extern unsigned char sendBuffer[IPSC_RECEIVE_LIMIT];

// Sender of the last datagram received from the Motorola side: where peer
// replies and all outgoing Motorola voice go. Handed over whole under a lock.
void set_fromUser2(const sockaddr_in& address);
// False until the first datagram has been received.
bool get_fromUser2(sockaddr_in* address);

// Sends len bytes as one datagram to the Motorola repeater (RptrIP:RptrPort).
void SEND(unsigned int len, const unsigned char* data);

// Thread start: registration request, banner, fresh state.
void ipsc_thread_start();

// One turn of the receive loop without its sleep: counts the turn, takes at
// most one datagram and handles it. Returns 0 when the thread must end.
int ipsc_turn();

// Handles what one turn received (length -1 when nothing came) from
// sendBuffer, with the reply and keep-alive steps. Returns 0 when the thread
// must end.
int ipsc_handle_turn(int length);

// Thread entry; returns only when the peer limit is exceeded.
void* send_voice_to_hytera(void*);
