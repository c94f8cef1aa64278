#include "udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace simnet {

UdpSocket::~UdpSocket() {
  if (fd_ >= 0) close(fd_);
}

bool UdpSocket::open(const std::string& address, int port) {
  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  const int buffer = 1 << 20;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  sockaddr_in a = address_of(address, port);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    error_ = "bind " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    close(fd_);
    fd_ = -1;
    return false;
  }
  fcntl(fd_, F_SETFL, O_NONBLOCK);
  port_ = port;
  return true;
}

void UdpSocket::send_to(const sockaddr_in& to, const std::vector<uint8_t>& data) const {
  sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool UdpSocket::receive(std::vector<uint8_t>& out, sockaddr_in& from) const {
  uint8_t buffer[4096];
  socklen_t len = sizeof from;
  const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return false;
  out.assign(buffer, buffer + n);
  return true;
}

sockaddr_in address_of(const std::string& ip, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr(ip.c_str());
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

std::string text_of(const sockaddr_in& a) {
  return std::string(inet_ntoa(a.sin_addr)) + ":" + std::to_string(ntohs(a.sin_port));
}

}  // namespace simnet
