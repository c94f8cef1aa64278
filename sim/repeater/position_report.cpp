#include "position_report.h"

#include <cstdio>
#include <cstring>

namespace simrepeater {

const uint8_t* PositionText::block(int b) const {
  static const uint8_t first_block[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  if (b <= 0) return first_block;
  const int offset = (b - 1) * 16;
  return offset + 16 <= static_cast<int>(text.size()) ? &text[static_cast<size_t>(offset)] : &text[80];
}

PositionText position_text(int mode, int n) {
  PositionText p;
  switch (mode) {
    case 4:
      p.dot = 17, p.mode_digit = '4';
      break;
    case 1:
      p.dot = 19, p.mode_digit = '1';
      break;
    case 2:
      p.dot = 25, p.mode_digit = '2';
      break;
    default:
      p.dot = 20, p.mode_digit = '0';
      break;
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "%05d.%04d", 5231 + n % 100, 1000 + (37 * n) % 9000);
  p.latitude = buf;
  std::snprintf(buf, sizeof buf, "%06d.%03d", 1324 + n % 100, 567);
  p.longitude = buf;
  std::snprintf(buf, sizeof buf, "%03dK", 40 + n % 900);
  p.speed = buf;
  p.text.fill(' ');
  static const char filler[] = "LRRPPOSITIONREPORTFROMRADIO";
  for (int i = 0; i < p.dot - 5; ++i) p.text[static_cast<size_t>(i)] = static_cast<uint8_t>(filler[i % 27]);
  std::memcpy(&p.text[static_cast<size_t>(p.dot - 5)], p.latitude.data(), 10);
  std::memcpy(&p.text[static_cast<size_t>(p.dot + 5)], p.longitude.data(), 10);
  std::memcpy(&p.text[static_cast<size_t>(p.dot + 16)], p.speed.data(), 4);
  return p;
}

}  // namespace simrepeater
