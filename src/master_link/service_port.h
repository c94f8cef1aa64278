#pragma once
// The service port 62005: drained and logged, never answered.
#include <netinet/in.h>

constexpr int SERVICE_PORT_RECEIVE_LIMIT = 224;

extern unsigned char readBuffer[SERVICE_PORT_RECEIVE_LIMIT];
extern sockaddr_in fromRepeater_srv;  // sender of the last datagram; kept, never read

// One receive attempt on the service port; logs a line for a datagram of one
// byte or more. Without its 2 ms pause.
void service_port_turn();

// Thread entry; never returns.
void* localrepeater_handler(void*);
