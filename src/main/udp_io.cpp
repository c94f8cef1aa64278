#include "main/udp_io.h"

#include <arpa/inet.h>
#include <sys/socket.h>

ssize_t udp_receive(int sock, unsigned char* buffer, size_t capacity, sockaddr_in* from) {
  if (sock < 0) return -1;
  sockaddr_in sender{};
  socklen_t sender_length = sizeof sender;
  ssize_t length = recvfrom(sock, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&sender), &sender_length);
  if (length >= 0 && from) *from = sender;
  return length;
}

void udp_send_to(int sock, const void* data, size_t length, const char* ip, int port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = inet_addr(ip);
  to.sin_port = htons(static_cast<uint16_t>(port));
  udp_send_to_address(sock, data, length, to);
}

void udp_send_to_address(int sock, const void* data, size_t length, const sockaddr_in& to) {
  if (sock < 0) return;
  sendto(sock, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}
