#pragma once
// The service port 62005: drained and logged, never answered. Only the
// network master (MasterIP) gets a line; others are dropped and reported.
#include <netinet/in.h>

constexpr int SERVICE_PORT_RECEIVE_LIMIT = 224;

extern unsigned char readBuffer[SERVICE_PORT_RECEIVE_LIMIT];
extern sockaddr_in fromRepeater_srv;  // sender of the master's last datagram; kept, never read

// One receive step on the service port; logs a line for a datagram of one
// byte or more from the master, and the drops' minute summary when it is
// due. Without its 2 ms pause.
void service_port_turn();

// Thread entry; never returns.
void* localrepeater_handler(void*);
