#pragma once
// The text a radio's position report carries in its data blocks: the
// latitude (five characters, ".", four), straight after it the longitude
// (six, ".", three), a blank and the speed. Where the first "." stands tells
// the reporting mode.
#include <array>
#include <cstdint>
#include <string>

namespace simrepeater {

struct PositionText {
  std::string latitude, longitude, speed;  // 10, 10 and 4 characters
  char mode_digit = '0';                   // '4', '1', '2' or '0'
  int dot = 0;                             // position of the first "." in the stored text
  std::array<uint8_t, 96> text{};          // what the second and later blocks carry
  // The 16 bytes of data block b (block 0 is the one the receiver skips).
  const uint8_t* block(int b) const;
};

// Mode 4: time and distance, 1: manual, 2: time, anything else: a layout the
// receiver does not know. `n` varies the coordinates from report to report.
PositionText position_text(int mode, int n);

}  // namespace simrepeater
