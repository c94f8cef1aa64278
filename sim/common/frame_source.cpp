#include "frame_source.h"

#include <fstream>
#include <iterator>

#include "event_log.h"

namespace simdmr {

bool FrameSource::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  frames_.clear();
  for (size_t f = 0; f + 7 <= bytes.size(); f += 7) {
    VoiceBits v{};
    for (unsigned i = 0; i < 49; ++i) v[i] = static_cast<uint8_t>((bytes[f + i / 8] >> (7 - i % 8)) & 1);
    frames_.push_back(v);
  }
  position_ = 0;
  return !frames_.empty();
}

VoiceBits FrameSource::next() {
  if (!frames_.empty()) {
    const VoiceBits v = frames_[position_];
    position_ = (position_ + 1) % frames_.size();
    return v;
  }
  VoiceBits v{};
  for (unsigned i = 0; i < 49; ++i) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    v[i] = static_cast<uint8_t>(state_ >> 31);
  }
  return v;
}

std::string voice_hex(const VoiceBits& v) {
  uint8_t bytes[7] = {};
  for (unsigned i = 0; i < 49; ++i)
    if (v[i]) bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] | (0x80 >> (i % 8)));
  return simlog::hex(bytes, 7);
}

}  // namespace simdmr
