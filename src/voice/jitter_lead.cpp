#include "voice/jitter_lead.h"

#include <algorithm>

#include "main/config.h"

namespace {

// Fewer samples than this say too little about the link's tail.
constexpr unsigned int kMinimumSamples = 50;

}  // namespace

void JitterLead::reset() {
  count = 0;
  next = 0;
  of_this_call = 0;
}

void JitterLead::record(int32_t lateness_us) {
  samples[next] = lateness_us;
  next = (next + 1) % JITTER_LEAD_SAMPLES;
  if (count < JITTER_LEAD_SAMPLES) ++count;
  if (of_this_call < JITTER_LEAD_SAMPLES) ++of_this_call;
}

void JitterLead::end_call() {
  if (of_this_call == 0) return;
  auto at = [this](unsigned int back) -> int32_t& {
    return samples[(next + JITTER_LEAD_SAMPLES - 1 - back) % JITTER_LEAD_SAMPLES];
  };
  int32_t fastest = at(0);
  for (unsigned int i = 1; i < of_this_call; ++i) fastest = std::min(fastest, at(i));
  for (unsigned int i = 0; i < of_this_call; ++i) at(i) -= fastest;
  of_this_call = 0;
}

int JitterLead::choose_ms() const {
  if (count < kMinimumSamples) return JITTER_BUFFER_START_MS;
  int32_t scratch[JITTER_LEAD_SAMPLES];
  std::copy(samples, samples + count, scratch);
  // The smallest lead that would have held 99 % of these bursts.
  const unsigned int rank = (count * 99 + 99) / 100 - 1;
  std::nth_element(scratch, scratch + rank, scratch + count);
  const int64_t p99_us = std::max<int32_t>(scratch[rank], 0);
  // A little headroom for the next call's tail, never more than an eighth,
  // so the lead stays close to what the link needs.
  const int64_t margin_us = std::min<int64_t>(p99_us / 8, 10000);
  const int64_t lead_ms = (p99_us + margin_us + 999) / 1000;
  return static_cast<int>(std::clamp<int64_t>(lead_ms, JITTER_BUFFER_MIN_MS, JITTER_BUFFER_MAX_MS));
}
