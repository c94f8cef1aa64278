#include "voice/grid_drift.h"

#include <algorithm>

namespace {

// The earliest bursts of a stretch that set its baseline.
constexpr int kBaselineSamples = 8;
// After a move, this many new bursts before the next, so one run is never
// counted twice.
constexpr int kSamplesBetweenSteps = DRIFT_RUN / 2;
// A slower sender is followed once the run came this much later than at
// the start: early enough that the latest bursts are still inside the lead,
// late enough that one slot later does not overshoot.
constexpr int32_t kSlipMinUs = 15000;
constexpr int32_t kSlipMaxUs = 40000;
constexpr int32_t kSlipHeadroomUs = 10000;
// A faster sender gives up a slot once the backlog grew by most of a slot,
// and never so soon after a slip that the two undo each other.
constexpr int32_t kGiveUpUs = 50000;
constexpr int32_t kHysteresisUs = 75000;

}  // namespace

void DriftWatch::reset() {
  count = 0;
  next = 0;
  baseline_us = 0;
  baseline_samples = 0;
  since_step = 0;
}

DriftStep DriftWatch::record(int32_t lateness_us, int lead_ms) {
  run[next] = lateness_us;
  next = (next + 1) % DRIFT_RUN;
  if (count < DRIFT_RUN) ++count;
  if (baseline_samples < kBaselineSamples) {
    baseline_us = baseline_samples == 0 ? lateness_us : std::min(baseline_us, lateness_us);
    ++baseline_samples;
  }
  ++since_step;
  if (count < DRIFT_RUN || since_step < kSamplesBetweenSteps) return DRIFT_HOLD;
  int32_t sorted[DRIFT_RUN];
  std::copy(run, run + DRIFT_RUN, sorted);
  std::sort(sorted, sorted + DRIFT_RUN);
  // One stray burst either way does not count.
  const int32_t early = sorted[1];
  const int32_t spread = sorted[DRIFT_RUN - 2] - early;
  const int32_t slip_after = std::clamp(lead_ms * 1000 - spread - kSlipHeadroomUs, kSlipMinUs, kSlipMaxUs);
  const int32_t give_up_after = std::max(kGiveUpUs, kHysteresisUs - slip_after);
  const int32_t moved_by = early - baseline_us;
  if (moved_by >= slip_after) {
    since_step = 0;
    return DRIFT_SLIP_LATER;
  }
  if (moved_by <= -give_up_after) {
    since_step = 0;
    return DRIFT_GIVE_UP;
  }
  return DRIFT_HOLD;
}

void DriftWatch::moved(int32_t by_us) {
  for (int i = 0; i < count; ++i) run[i] += by_us;
}
