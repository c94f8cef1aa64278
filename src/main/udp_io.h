#pragma once
// Datagram helpers shared by all threads. A socket that could not be opened
// at start-up holds -1: receives on it are empty and sends are skipped, so a
// worker whose link is down does no harm.
#include <netinet/in.h>
#include <sys/types.h>

// One receive attempt of at most capacity bytes; the sender lands in *from.
// Returns the datagram length, or -1 when nothing was received.
ssize_t udp_receive(int sock, unsigned char* buffer, size_t capacity, sockaddr_in* from);

// Sends one datagram to a dotted IPv4 address and port; the result is not examined.
void udp_send_to(int sock, const void* data, size_t length, const char* ip, int port);

// Sends one datagram to an address record.
void udp_send_to_address(int sock, const void* data, size_t length, const sockaddr_in& to);
