#pragma once
// What anyone who can see a link gets: a copy of a datagram crossing it.
// A packet socket taps every interface of the host it runs on (root only).
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace simintruder {

// Waits up to timeout_ms for an IPv4 UDP datagram to `to` (address and
// port) whose first byte is `opcode`, and gives its payload. False on
// timeout or when the tap cannot be opened (the reason in *error).
bool record_datagram(const sockaddr_in& to, int opcode, int timeout_ms, std::vector<uint8_t>* payload,
                     std::string* error);

// The recording kept as one line of hexadecimal digits.
bool write_hex_file(const std::string& path, const std::vector<uint8_t>& bytes);
bool read_hex_file(const std::string& path, std::vector<uint8_t>* bytes);

}  // namespace simintruder
