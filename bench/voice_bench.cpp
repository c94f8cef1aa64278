// One voice burst through each voice path, as the daemon converts it: the
// Motorola-to-Hytera handler (three frames encoded, embedded LC, packing)
// and the Hytera-to-Motorola handler (three frames decoded, packing,
// signing; one call, and two at once on both timeslots), with the sends
// skipped, beside the HMAC yardstick. Target: each path within eight times
// the yardstick.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
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

// Bursts A..F of a group call on `slot`, with frames of their own.
struct NetworkCall {
  unsigned char packets[6][HYT_PACKET_LEN];
  uint16_t sequence;
  unsigned int position;
};

void prepare_call(NetworkCall& call, std::mt19937& rng, unsigned int slot, uint32_t source) {
  for (unsigned int position = 1; position <= 6; ++position) {
    unsigned char* p = call.packets[position - 1];
    memcpy(p, hyt_voice_template(position), HYT_PACKET_LEN);
    hyt_set_slot(p, slot);
    hyt_set_source(p, source);
    hyt_set_destination(p, 9);
    for (unsigned int n = 0; n < 3; ++n) {
      unsigned char voice[MOTO_VOICE_FRAME_BITS], coded[HYT_AMBE_FRAME_BITS];
      random_voice(rng, voice, MOTO_VOICE_FRAME_BITS);
      codiere_AMBEplus2_33(coded, 2, voice);
      hyt_put_ambe_frame(p, n, coded);
    }
  }
  // The call's header first, so the bursts belong to a relayed call.
  memcpy(v2m_Buffer, start_hyt, HYT_PACKET_LEN);
  hyt_set_slot(v2m_Buffer, slot);
  hyt_set_source(v2m_Buffer, source);
  hyt_set_destination(v2m_Buffer, 9);
  hyt_set_sequence(v2m_Buffer, 1);
  v2m_handle_datagram(HYT_PACKET_LEN);
  call.sequence = 1;
  call.position = 0;
}

void next_burst(NetworkCall& call) {
  memcpy(v2m_Buffer, call.packets[call.position], HYT_PACKET_LEN);
  hyt_set_sequence(v2m_Buffer, ++call.sequence);
  v2m_handle_datagram(HYT_PACKET_LEN);
  call.position = call.position == 5 ? 0 : call.position + 1;
}

// The network path on a clock that moves 30 ms at every reading, so that no
// burst is ever held back, with a call on each of `slots` (their console
// lines go before the timing starts).
void start_network_calls(std::mt19937& rng, NetworkCall* calls, std::initializer_list<unsigned int> slots) {
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
  for (unsigned int slot : slots) prepare_call(calls[slot - 1], rng, slot, 2620000 + slot);
  fflush(stdout);
}

// Bursts A..F of a relayed call on timeslot 2 arriving 30 ms apart.
void BM_hytera_to_moto_burst(benchmark::State& state) {
  std::mt19937 rng(2);
  NetworkCall calls[2];
  start_network_calls(rng, calls, {2});
  for (auto _ : state) {
    next_burst(calls[1]);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_hytera_to_moto_burst);

// Two calls at once, one on each timeslot (Timeslots=1,2), their bursts
// interleaved: the cost per datagram.
void BM_hytera_to_moto_burst_both_slots(benchmark::State& state) {
  Timeslots = TIMESLOT_1_BIT | TIMESLOT_2_BIT;
  std::mt19937 rng(2);
  NetworkCall calls[2];
  start_network_calls(rng, calls, {1, 2});
  unsigned int slot = 0;
  for (auto _ : state) {
    next_burst(calls[slot]);
    slot ^= 1u;
    benchmark::ClobberMemory();
  }
  Timeslots = TIMESLOTS_DEFAULT;
}
BENCHMARK(BM_hytera_to_moto_burst_both_slots);

BENCHMARK(BM_openssl_hmac_sha1_66_bytes);

}  // namespace

BENCHMARK_MAIN();
