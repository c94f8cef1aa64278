#pragma once
// Small helpers shared by the tests: capture what the code prints, run code in
// a scratch working directory, and talk UDP on loopback.
#include <netinet/in.h>
#include <string>
#include <vector>

// Runs fn with standard output redirected and returns everything it printed.
template <typename Fn>
std::string capture_stdout(Fn&& fn);

std::string capture_stdout_begin_end(void (*fn)(void*), void* arg);

template <typename Fn>
std::string capture_stdout(Fn&& fn) {
  auto trampoline = [](void* p) { (*static_cast<Fn*>(p))(); };
  return capture_stdout_begin_end(trampoline, &fn);
}

// How often `what` occurs in `text` (overlapping occurrences too).
inline int count_occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A fresh empty directory made the working directory until destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  void write_file(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
  std::string old_cwd_;
};

// Waits up to timeout_ms for one datagram on fd; its bytes (empty on timeout).
std::vector<unsigned char> receive_datagram(int fd, int timeout_ms, sockaddr_in* from = nullptr);

// An IPv4 socket address from dotted text and a port.
sockaddr_in ipv4_address(const char* ip, int port);

// A UDP socket bound to 127.0.0.1 (or another loopback address, a host of
// its own as far as the bridge's sender checks go) on a port the system
// picks (or the one given).
class LoopbackSocket {
 public:
  explicit LoopbackSocket(int port = 0, const char* ip = "127.0.0.1");
  ~LoopbackSocket();
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;
  int fd() const { return fd_; }
  int port() const { return port_; }
  sockaddr_in address() const;
  // Waits up to timeout_ms for one datagram; returns its bytes (empty on timeout).
  std::vector<unsigned char> receive(int timeout_ms, sockaddr_in* from = nullptr) const;
  // True if a datagram arrives within timeout_ms.
  bool has_datagram(int timeout_ms) const;
  void send_to(int port, const std::vector<unsigned char>& data) const;
  // Every datagram waiting (up to max), each checked to come from sender_port.
  std::vector<std::vector<unsigned char>> drain_from(int sender_port, int max) const;

 private:
  int fd_ = -1;
  int port_ = 0;
  sockaddr_in address_{};
};
