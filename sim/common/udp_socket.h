#pragma once
// A bound IPv4 UDP socket of a simulated peer.
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace simnet {

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // False (with the reason in error()) when the address cannot be bound.
  bool open(const std::string& address, int port);
  int fd() const { return fd_; }
  int port() const { return port_; }
  const std::string& error() const { return error_; }

  void send_to(const sockaddr_in& to, const std::vector<uint8_t>& data) const;
  // One waiting datagram (false when none); at most 4096 bytes are kept.
  // *arrival_us: when the kernel took it in, on the monotonic clock of
  // simclock (the time of the call when the kernel gave no stamp), so a busy
  // peer does not blur what it measures.
  bool receive(std::vector<uint8_t>& out, sockaddr_in& from, int64_t* arrival_us = nullptr) const;

 private:
  int fd_ = -1;
  int port_ = 0;
  std::string error_;
};

sockaddr_in address_of(const std::string& ip, int port);
std::string text_of(const sockaddr_in& a);

}  // namespace simnet
