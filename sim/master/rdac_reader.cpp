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
  using namespace rdac;
  RdacLong r;
  if (d.size() != kLongLength) return r;
  static const uint8_t head[10] = {0x7e, 0x04, 0x00, 0x00, 0x10, 0x20, 0x00, 0x03, 0x00, 0xe1};
  static const uint8_t id[4] = {0x4e, 0x00, 0x04, 0x00};
  static const uint8_t tail[5] = {0x01, 0x00, 0x00, 0x7d, 0x03};
  r.layout_ok = std::memcmp(&d[kHead], head, sizeof head) == 0 && std::memcmp(&d[kLongId], id, sizeof id) == 0 &&
                std::memcmp(&d[kLongIdAgain], id, sizeof id) == 0 && std::memcmp(&d[kLongTail], tail, sizeof tail) == 0;
  r.firmware = utf16(d, kLongFirmware, 16);
  r.call_sign = utf16(d, kLongCallSign, 16);
  r.model = utf16(d, kLongModel, 32);
  return r;
}

RdacShort read_rdac_short(const std::vector<uint8_t>& d) {
  using namespace rdac;
  RdacShort r;
  if (d.size() != kShortLength) return r;
  static const uint8_t head[10] = {0x7e, 0x04, 0x00, 0x00, 0x10, 0x20, 0x00, 0x04, 0x00, 0x47};
  r.layout_ok = std::memcmp(&d[kHead], head, sizeof head) == 0 && d[kShortTail] == 0xe8 && d[kShortTail + 1] == 0x03;
  r.repeater_id =
      d[kShortRepeaterId] | d[kShortRepeaterId + 1] << 8 | static_cast<uint32_t>(d[kShortRepeaterId + 2]) << 16;
  r.bridge_id_low = d[kShortBridgeIdLow];
  r.tx_hz = le32(&d[kShortTxHz]);
  r.rx_hz = le32(&d[kShortRxHz]);
  r.call_sign = utf16(d, kShortCallSign, 16);
  return r;
}

}  // namespace simmaster
