#pragma once
// AMBE+2 silence, the frame a DMR talker sends while nothing is spoken. On
// air it is the 72 bits B9 E8 81 52 61 73 00 2A 6B; the simulators take its
// 49 voice bits from that air frame with their own decoder, so a bridge that
// fills a missing slot with silence is recognised by what it put on air.
#include <array>
#include <cstdint>

#include "ambe_frame.h"

namespace simdmr {

constexpr std::array<uint8_t, 9> kSilenceAir = {0xB9, 0xE8, 0x81, 0x52, 0x61, 0x73, 0x00, 0x2A, 0x6B};

AirFrame silence_air_frame();
// The 49 bits of silence (straight order), decoded from the air frame.
const VoiceBits& silence_voice();
bool is_silence(const VoiceBits& v);

}  // namespace simdmr
