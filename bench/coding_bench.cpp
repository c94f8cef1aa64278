// Costs of the DMR coders per frame / per block, next to a yardstick measured
// in the same run: OpenSSL HMAC-SHA1 over 66 bytes with the key schedule kept.
// Compare each coder's time with the yardstick's as a ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "hmac_yardstick.h"

#include "coding/AMBEplus2_33.h"
#include "coding/decode48bit.h"

namespace {

constexpr int kFrames = 1024;  // power of two: index with a mask

using Voice = std::array<unsigned char, 49>;
using Frame = std::array<unsigned char, 72>;

std::vector<Voice> random_voices(unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Voice> v(kFrames);
  for (auto& voice : v)
    for (auto& b : voice) b = rng() & 1;
  return v;
}

// Encoded frames with 0, 1, 2 or 3 flipped bits at distinct positions
// anywhere in the 72 (so at most three per word: every frame is correctable),
// in equal shares.
std::vector<Frame> received_frames() {
  init_Golay_23_12();
  std::mt19937 rng(99);
  std::vector<Voice> voices = random_voices(3);
  std::vector<Frame> frames(kFrames);
  std::array<int, 72> positions;
  for (int p = 0; p < 72; ++p) positions[p] = p;
  for (int i = 0; i < kFrames; ++i) {
    codiere_AMBEplus2_33(frames[i].data(), 2, voices[i].data());
    std::shuffle(positions.begin(), positions.end(), rng);
    for (int e = 0; e < i % 4; ++e) frames[i][positions[e]] ^= 1;
  }
  return frames;
}

BENCHMARK(BM_openssl_hmac_sha1_66_bytes);

// The decoder writes corrections back, so each frame is decoded from a fresh
// copy of the received bits; the 72-byte copy is part of the measured cost.
void BM_DecodeFrame_0to3Errors(benchmark::State& state) {
  const std::vector<Frame> frames = received_frames();
  Frame work;
  Voice voice;
  char err_a = 0, err_b = 0;
  unsigned i = 0;
  for (auto _ : state) {
    work = frames[i++ & (kFrames - 1)];
    decodiere_AMBEplus2_33(work.data(), &err_a, &err_b, 2, voice.data());
    benchmark::DoNotOptimize(voice);
    benchmark::DoNotOptimize(err_a);
    benchmark::DoNotOptimize(err_b);
  }
}
BENCHMARK(BM_DecodeFrame_0to3Errors);

void BM_EncodeDecodeFrame(benchmark::State& state) {
  init_Golay_23_12();
  std::vector<Voice> voices = random_voices(5);
  Frame frame;
  Voice out;
  char err_a = 0, err_b = 0;
  unsigned i = 0;
  for (auto _ : state) {
    codiere_AMBEplus2_33(frame.data(), 2, voices[i++ & (kFrames - 1)].data());
    decodiere_AMBEplus2_33(frame.data(), &err_a, &err_b, 2, out.data());
    benchmark::DoNotOptimize(out);
    benchmark::DoNotOptimize(err_a);
    benchmark::DoNotOptimize(err_b);
  }
}
BENCHMARK(BM_EncodeDecodeFrame);

std::vector<std::array<unsigned char, 9>> random_lcs() {
  std::mt19937 rng(17);
  std::vector<std::array<unsigned char, 9>> lcs(kFrames);
  for (auto& lc : lcs)
    for (auto& o : lc) o = static_cast<unsigned char>(rng());
  return lcs;
}

void BM_EmbeddedLcEncode(benchmark::State& state) {
  auto lcs = random_lcs();
  unsigned char block[128];
  unsigned i = 0;
  for (auto _ : state) {
    auto& lc = lcs[i++ & (kFrames - 1)];
    encode_MultiBlockEmbeddedLC(lc.data(), lc.data() + 3, lc.data() + 6, block);
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(BM_EmbeddedLcEncode);

// Valid blocks only, so the decoder prints nothing.
std::vector<std::array<unsigned char, 128>> valid_blocks() {
  auto lcs = random_lcs();
  std::vector<std::array<unsigned char, 128>> blocks(kFrames);
  for (int i = 0; i < kFrames; ++i)
    encode_MultiBlockEmbeddedLC(lcs[i].data(), lcs[i].data() + 3, lcs[i].data() + 6, blocks[i].data());
  return blocks;
}

void BM_EmbeddedLcBlockDecode(benchmark::State& state) {
  auto blocks = valid_blocks();
  unsigned char lc[9];
  unsigned i = 0;
  for (auto _ : state) {
    std::memcpy(rawLC, blocks[i++ & (kFrames - 1)].data(), 128);
    benchmark::DoNotOptimize(decode_MultiBlockEmbeddedLC(lc, lc + 3, lc + 6));
    benchmark::DoNotOptimize(lc);
  }
}
BENCHMARK(BM_EmbeddedLcBlockDecode);

// The whole receive side of one superframe: four fragments through addData.
void BM_EmbeddedLcAddDataSuperframe(benchmark::State& state) {
  auto blocks = valid_blocks();
  unsigned char lc[9];
  unsigned i = 0;
  static const int lcss[4] = {1, 3, 3, 2};
  for (auto _ : state) {
    unsigned char* block = blocks[i++ & (kFrames - 1)].data();
    for (int n = 0; n < 4; ++n) benchmark::DoNotOptimize(addData(block + 32 * n, lcss[n], lc, lc + 3, lc + 6));
    benchmark::DoNotOptimize(lc);
  }
}
BENCHMARK(BM_EmbeddedLcAddDataSuperframe);

}  // namespace

BENCHMARK_MAIN();
