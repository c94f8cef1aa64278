#pragma once
// Reads the two RDAC datagrams (225 and 71 bytes) with which the bridge
// announces its repeater data after each login.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace simmaster {

// Byte offsets of the two datagrams; texts are UTF-16LE, numbers little-endian.
namespace rdac {
constexpr size_t kLongLength = 225;
constexpr size_t kShortLength = 71;
constexpr size_t kHead = 0;           // 10 bytes in both
constexpr size_t kLongId = 18;        // 4 bytes, repeated at kLongIdAgain
constexpr size_t kLongFirmware = 56;  // 16 characters
constexpr size_t kLongCallSign = 88;  // 16 characters
constexpr size_t kLongModel = 120;    // 32 characters
constexpr size_t kLongIdAgain = 216;
constexpr size_t kLongTail = 220;        // 5 bytes
constexpr size_t kShortRepeaterId = 18;  // 3 bytes
constexpr size_t kShortBridgeIdLow = 21;
constexpr size_t kShortTxHz = 29;      // 4 bytes
constexpr size_t kShortRxHz = 33;      // 4 bytes
constexpr size_t kShortCallSign = 37;  // 16 characters
constexpr size_t kShortTail = 69;      // 2 bytes
}  // namespace rdac

struct RdacLong {          // 225 bytes
  bool layout_ok = false;  // fixed bytes where the format has them
  std::string firmware, call_sign, model;
};

struct RdacShort {  // 71 bytes
  bool layout_ok = false;
  uint32_t repeater_id = 0;
  uint8_t bridge_id_low = 0;
  uint32_t tx_hz = 0, rx_hz = 0;
  std::string call_sign;
};

RdacLong read_rdac_long(const std::vector<uint8_t>& d);
RdacShort read_rdac_short(const std::vector<uint8_t>& d);

}  // namespace simmaster
