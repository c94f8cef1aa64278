// One voice burst through each voice path, as the daemon converts it: the
// Motorola-to-Hytera handler (three frames encoded, embedded LC, packing)
// and the Hytera-to-Motorola handler (three frames decoded, packing,
// signing), with the sends skipped, beside the HMAC yardstick. Target: each
// path within eight times the yardstick.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "coding/AMBEplus2_33.h"
#include "hmac_yardstick.h"
#include "ipsc/moto_voice_packet.h"
#include "main/config.h"
#include "master_link/hytera_voice_packet.h"
#include "voice/hytera_to_moto.h"
#include "voice/moto_to_hytera.h"

namespace {

void random_voice(std::mt19937& rng, unsigned char* bits, unsigned int n) {
  for (unsigned int i = 0; i < n; ++i) bits[i] = static_cast<unsigned char>(rng() & 1u);
}

// Burst B of a timeslot-2 group call, with the embedded LC to build.
void BM_moto_to_hytera_burst(benchmark::State& state) {
  std::mt19937 rng(1);
  unsigned char datagram[MOTO_BURST_BCDF_LEN];
  memcpy(datagram, Voice_moto_B, sizeof datagram);
  unsigned char frames[3][MOTO_VOICE_FRAME_BITS];
  for (auto& f : frames) random_voice(rng, f, MOTO_VOICE_FRAME_BITS);
  moto_put_voice_frames(datagram, frames[0], frames[1], frames[2]);
  moto_set_source(datagram, 2620001);
  moto_set_destination(datagram, 9);
  reset_moto_to_hytera();
  uint16_t sequence = 0;
  for (auto _ : state) {
    moto_set_rtp_sequence(datagram, ++sequence);
    benchmark::DoNotOptimize(handle_moto_voice(datagram, sizeof datagram));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_moto_to_hytera_burst);

timeval bench_now;

// Bursts A..F of a relayed call arriving 30 ms apart, so none is held back.
void BM_hytera_to_moto_burst(benchmark::State& state) {
  init_Golay_23_12();
  for (unsigned int i = 0; i < sizeof Key; ++i) Key[i] = static_cast<unsigned char>(i + 1);
  v2m_clock = [](timeval* t) {
    bench_now.tv_usec += 30000;
    if (bench_now.tv_usec >= 1000000) {
      bench_now.tv_usec -= 1000000;
      ++bench_now.tv_sec;
    }
    *t = bench_now;
  };
  v2m_sleep_us = [](unsigned int) {};
  v2m_reset();
  std::mt19937 rng(2);
  unsigned char packets[6][HYT_PACKET_LEN];
  for (unsigned int position = 1; position <= 6; ++position) {
    unsigned char* p = packets[position - 1];
    memcpy(p, hyt_voice_template(position), HYT_PACKET_LEN);
    hyt_set_source(p, 2620001);
    hyt_set_destination(p, 9);
    for (unsigned int n = 0; n < 3; ++n) {
      unsigned char voice[MOTO_VOICE_FRAME_BITS], coded[HYT_AMBE_FRAME_BITS];
      random_voice(rng, voice, MOTO_VOICE_FRAME_BITS);
      codiere_AMBEplus2_33(coded, 2, voice);
      hyt_put_ambe_frame(p, n, coded);
    }
  }
  // The call's header first, so the bursts belong to a relayed call; its
  // console lines go before the timing starts.
  memcpy(v2m_Buffer, start_hyt, HYT_PACKET_LEN);
  hyt_set_sequence(v2m_Buffer, 1);
  v2m_handle_datagram(HYT_PACKET_LEN);
  fflush(stdout);
  uint16_t sequence = 1;
  unsigned int position = 0;
  for (auto _ : state) {
    memcpy(v2m_Buffer, packets[position], HYT_PACKET_LEN);
    hyt_set_sequence(v2m_Buffer, ++sequence);
    v2m_handle_datagram(HYT_PACKET_LEN);
    position = position == 5 ? 0 : position + 1;
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_hytera_to_moto_burst);

BENCHMARK(BM_openssl_hmac_sha1_66_bytes);

}  // namespace

BENCHMARK_MAIN();
