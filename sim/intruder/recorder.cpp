#include "recorder.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "../common/event_log.h"

namespace simintruder {

namespace {

constexpr size_t kIpv4HeaderMin = 20, kUdpHeader = 8;

// The UDP payload of an IPv4 packet to `to`, unfragmented; false for anything else.
bool udp_payload_to(const uint8_t* packet, size_t length, const sockaddr_in& to, std::vector<uint8_t>* payload) {
  if (length < kIpv4HeaderMin || (packet[0] >> 4) != 4) return false;
  const size_t header = static_cast<size_t>(packet[0] & 0x0F) * 4;
  const size_t total = static_cast<size_t>(packet[2]) << 8 | packet[3];
  const bool fragment = ((packet[6] & 0x3F) | packet[7]) != 0;
  if (header < kIpv4HeaderMin || total > length || header + kUdpHeader > total || packet[9] != IPPROTO_UDP || fragment)
    return false;
  uint32_t destination = 0;
  memcpy(&destination, packet + 16, 4);
  const uint8_t* udp = packet + header;
  const size_t udp_length = static_cast<size_t>(udp[4]) << 8 | udp[5];
  if (destination != to.sin_addr.s_addr || memcmp(udp + 2, &to.sin_port, 2) != 0 || udp_length < kUdpHeader ||
      header + udp_length > total)
    return false;
  payload->assign(udp + kUdpHeader, udp + udp_length);
  return true;
}

}  // namespace

bool record_datagram(const sockaddr_in& to, int opcode, int timeout_ms, std::vector<uint8_t>* payload,
                     std::string* error) {
  // Every protocol: only such a tap also sees what the host itself sends.
  const int tap = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_ALL));
  if (tap < 0) {
    *error = std::string("packet socket: ") + strerror(errno);
    return false;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<uint8_t> packet(65536);
  bool found = false;
  while (!found) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd readable{tap, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left)) <= 0) continue;
    sockaddr_ll link{};
    socklen_t link_length = sizeof link;
    const ssize_t n = recvfrom(tap, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&link), &link_length);
    found = n > 0 && link.sll_protocol == htons(ETH_P_IP) &&
            udp_payload_to(packet.data(), static_cast<size_t>(n), to, payload) && !payload->empty() &&
            (*payload)[0] == opcode;
  }
  close(tap);
  if (!found) *error = "nothing recorded in time";
  return found;
}

bool write_hex_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "w");
  if (!f) return false;
  const bool written = fputs((simlog::hex(bytes.data(), bytes.size()) + "\n").c_str(), f) >= 0;
  return fclose(f) == 0 && written;
}

bool read_hex_file(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return false;
  bytes->clear();
  unsigned value = 0;
  while (bytes->size() < 65536 && fscanf(f, "%2x", &value) == 1) bytes->push_back(static_cast<uint8_t>(value));
  fclose(f);
  return !bytes->empty();
}

}  // namespace simintruder
