// Prints the voice LC header and terminator-with-LC bursts stored in the
// Hytera templates start_hyt and ende_hyt, as the 34 pair-swapped packet
// bytes 26..59 ready to paste into initialised data.
//
// Not part of the build; kept so the literal bytes can be regenerated:
//   g++ -std=c++20 tools/make_lc_bursts.cpp -o /tmp/make_lc_bursts && /tmp/make_lc_bursts
#include <cstdio>

#include "../sim/common/dmr_burst_decoder.h"

namespace {

// Group call (FLCO 0, FID 0, no service options) to talk group 9 from
// subscriber 1; the bridge overwrites nothing of it but a few sync bytes.
constexpr uint8_t kLc[9] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x01};
constexpr uint8_t kColourCode = 1;

void print(const char* name, uint8_t data_type) {
  const dmrtest::Burst b = dmrtest::encode_lc_burst(kLc, kColourCode, data_type);
  std::printf("%s burst:", name);
  for (uint8_t v : b) std::printf(" %02X", v);
  std::printf("\n%s packet bytes 26..59:\n   ", name);
  uint8_t field[34] = {};
  for (unsigned i = 0; i < dmrtest::kBurstBytes; ++i) field[i ^ 1u] = b[i];
  for (unsigned i = 0; i < 34; ++i) std::printf(" 0x%02X,%s", field[i], (i % 10 == 9) ? "\n   " : "");
  std::printf("\n");
}

}  // namespace

int main() {
  print("start_hyt (voice LC header)", dmrtest::kDataTypeVoiceLcHeader);
  print("ende_hyt (terminator with LC)", dmrtest::kDataTypeTerminatorLc);
  return 0;
}
