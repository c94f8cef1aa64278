#pragma once
// The service port 62005: drained and logged, never answered. Only the
// network master (MasterIP) gets a line; others are dropped and reported.
#include <netinet/in.h>

constexpr int SERVICE_PORT_RECEIVE_LIMIT = 224;

extern unsigned char readBuffer[SERVICE_PORT_RECEIVE_LIMIT];
extern sockaddr_in fromRepeater_srv;  // sender of the master's last datagram; kept, never read

// Datagrams one wake-up of the thread takes at most before it waits again.
constexpr int SERVICE_PORT_DATAGRAMS_PER_WAKE = 64;

// One receive step on the service port; logs a line for a datagram of one
// byte or more from the master, and the drops' minute summary when it is
// due. True when the master's datagram (of any length) was taken.
bool service_port_turn();

// Thread entry; never returns.
void* localrepeater_handler(void*);
