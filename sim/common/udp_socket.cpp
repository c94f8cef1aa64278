#include "udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <cstring>

#include "sim_clock.h"

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
  const int on = 1;
  setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  port_ = port;
  return true;
}

void UdpSocket::send_to(const sockaddr_in& to, const std::vector<uint8_t>& data) const {
  sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool UdpSocket::receive(std::vector<uint8_t>& out, sockaddr_in& from, int64_t* arrival_us) const {
  uint8_t buffer[4096];
  alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(timespec))];
  iovec io{buffer, sizeof buffer};
  msghdr m{};
  m.msg_name = &from;
  m.msg_namelen = sizeof from;
  m.msg_iov = &io;
  m.msg_iovlen = 1;
  m.msg_control = control;
  m.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(fd_, &m, 0);
  if (n < 0) return false;
  out.assign(buffer, buffer + n);
  if (arrival_us) {
    const int64_t now = simclock::now_us();
    *arrival_us = now;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
      timespec stamp{}, real{};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      clock_gettime(CLOCK_REALTIME, &real);
      // The stamp is on the wall clock: carry over how long ago it was.
      const int64_t ago =
          (static_cast<int64_t>(real.tv_sec) - stamp.tv_sec) * 1000000 + (real.tv_nsec - stamp.tv_nsec) / 1000;
      if (ago >= 0 && ago < 10000000) *arrival_us = now - ago;
    }
  }
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
