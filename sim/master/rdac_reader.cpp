#include "rdac_reader.h"

#include <cstring>

namespace simmaster {
namespace {

// UTF-16LE text of `chars` characters, up to its first NUL.
std::string utf16(const std::vector<uint8_t>& d, size_t offset, size_t chars) {
  std::string s;
  for (size_t i = 0; i < chars && offset + 2 * i + 1 < d.size(); ++i) {
    const uint8_t lo = d[offset + 2 * i], hi = d[offset + 2 * i + 1];
    if (lo == 0 && hi == 0) break;
    s += hi == 0 && lo >= 0x20 && lo < 0x7F ? static_cast<char>(lo) : '?';
  }
  return s;
}

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

RdacLong read_rdac_long(const std::vector<uint8_t>& d) {
  RdacLong r;
  if (d.size() != 225) return r;
  static const uint8_t head[10] = {0x7e, 0x04, 0x00, 0x00, 0x10, 0x20, 0x00, 0x03, 0x00, 0xe1};
  static const uint8_t id[4] = {0x4e, 0x00, 0x04, 0x00};
  static const uint8_t tail[5] = {0x01, 0x00, 0x00, 0x7d, 0x03};
  r.layout_ok = std::memcmp(d.data(), head, 10) == 0 && std::memcmp(&d[18], id, 4) == 0 &&
                std::memcmp(&d[216], id, 4) == 0 && std::memcmp(&d[220], tail, 5) == 0;
  r.firmware = utf16(d, 56, 16);
  r.call_sign = utf16(d, 88, 16);
  r.model = utf16(d, 120, 32);
  return r;
}

RdacShort read_rdac_short(const std::vector<uint8_t>& d) {
  RdacShort r;
  if (d.size() != 71) return r;
  static const uint8_t head[10] = {0x7e, 0x04, 0x00, 0x00, 0x10, 0x20, 0x00, 0x04, 0x00, 0x47};
  r.layout_ok = std::memcmp(d.data(), head, 10) == 0 && d[69] == 0xe8 && d[70] == 0x03;
  r.repeater_id = d[18] | d[19] << 8 | static_cast<uint32_t>(d[20]) << 16;
  r.bridge_id_low = d[21];
  r.tx_hz = le32(&d[29]);
  r.rx_hz = le32(&d[33]);
  r.call_sign = utf16(d, 37, 16);
  return r;
}

}  // namespace simmaster
