#include "ambe_silence.h"

#include <cstddef>

namespace simdmr {

AirFrame silence_air_frame() {
  AirFrame f{};
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = (kSilenceAir[i / 8] >> (7 - i % 8)) & 1;
  return f;
}

const VoiceBits& silence_voice() {
  static const VoiceBits bits = decode_frame(silence_air_frame()).voice;
  return bits;
}

bool is_silence(const VoiceBits& v) { return v == silence_voice(); }

}  // namespace simdmr
