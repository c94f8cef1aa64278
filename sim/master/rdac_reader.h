#pragma once
// Reads the two RDAC datagrams (225 and 71 bytes) with which the bridge
// announces its repeater data after each login.
#include <cstdint>
#include <string>
#include <vector>

namespace simmaster {

struct RdacLong {  // 225 bytes
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
