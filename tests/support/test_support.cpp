#include "support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

std::string capture_stdout_begin_end(void (*fn)(void*), void* arg) {
  fflush(stdout);
  char path[] = "/tmp/bridge_capture_XXXXXX";
  int capture_fd = mkstemp(path);
  if (capture_fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(path);
  int saved = dup(STDOUT_FILENO);
  dup2(capture_fd, STDOUT_FILENO);
  fn(arg);
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::string out;
  lseek(capture_fd, 0, SEEK_SET);
  char buf[4096];
  ssize_t n;
  while ((n = read(capture_fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(capture_fd);
  return out;
}

ScratchDir::ScratchDir() {
  char tmpl[] = "/tmp/bridge_test_XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) throw std::runtime_error("getcwd failed");
  old_cwd_ = cwd;
  if (chdir(path_.c_str()) != 0) throw std::runtime_error("chdir failed");
}

ScratchDir::~ScratchDir() {
  if (chdir(old_cwd_.c_str()) != 0) return;
  std::string cmd = "rm -rf '" + path_ + "'";
  if (std::system(cmd.c_str()) != 0) return;
}

void ScratchDir::write_file(const std::string& name, const std::string& content) const {
  std::ofstream f(path_ + "/" + name, std::ios::binary);
  f << content;
}

sockaddr_in ipv4_address(const char* ip, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr(ip);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

LoopbackSocket::LoopbackSocket(int port, const char* ip) {
  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in a = ipv4_address(ip, port);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd_);
    throw std::runtime_error("bind failed");
  }
  socklen_t len = sizeof a;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  address_ = a;
}

LoopbackSocket::~LoopbackSocket() {
  if (fd_ >= 0) close(fd_);
}

sockaddr_in LoopbackSocket::address() const { return address_; }

bool LoopbackSocket::has_datagram(int timeout_ms) const {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, timeout_ms) > 0;
}

std::vector<unsigned char> receive_datagram(int fd, int timeout_ms, sockaddr_in* from) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return {};
  std::vector<unsigned char> buf(2048);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ssize_t n = recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&a), &len);
  if (n < 0) return {};
  if (from) *from = a;
  buf.resize(static_cast<size_t>(n));
  return buf;
}

std::vector<unsigned char> LoopbackSocket::receive(int timeout_ms, sockaddr_in* from) const {
  return receive_datagram(fd_, timeout_ms, from);
}

std::vector<std::vector<unsigned char>> LoopbackSocket::drain_from(int sender_port, int max) const {
  std::vector<std::vector<unsigned char>> got;
  for (int i = 0; i < max; ++i) {
    sockaddr_in from{};
    std::vector<unsigned char> d = receive(50, &from);
    if (d.empty()) break;
    EXPECT_EQ(ntohs(from.sin_port), sender_port);
    got.push_back(d);
  }
  return got;
}

void LoopbackSocket::send_to(int port, const std::vector<unsigned char>& data) const {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}
