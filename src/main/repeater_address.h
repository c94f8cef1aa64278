#pragma once
// Where the Motorola side is: the sender of the last trusted datagram that
// the repeater-side receive loop took. Peer replies and all outgoing Motorola
// voice go there. Written by the repeater-side thread, read by both voice
// directions; handed over whole under a lock, never read half-written.
#include <netinet/in.h>

void set_fromUser2(const sockaddr_in& address);
// False until the first trusted datagram has been received.
bool get_fromUser2(sockaddr_in* address);
