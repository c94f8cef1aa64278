#pragma once
// The 49-bit AMBE+2 voice frames a simulated talker sends: read from a file
// (7 bytes a frame, the 49 bits first, most significant bit first; the file
// is read round) or made up from a seed.
#include <cstdint>
#include <string>
#include <vector>

#include "ambe_frame.h"

namespace simdmr {

class FrameSource {
 public:
  explicit FrameSource(uint32_t seed = 1) : state_(seed ? seed : 1) {}
  // False when the file cannot be read or holds no whole frame.
  bool load(const std::string& path);
  VoiceBits next();

 private:
  uint32_t state_;
  std::vector<VoiceBits> frames_;
  size_t position_ = 0;
};

std::string voice_hex(const VoiceBits& v);  // the 49 bits as 7 bytes of hex

}  // namespace simdmr
