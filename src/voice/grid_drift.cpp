#include "voice/grid_drift.h"

#include <algorithm>

namespace {

// The earliest bursts of a stretch that set its baseline.
constexpr int kBaselineSamples = 8;
// After a move, this many new bursts before the next, so one run is never
// counted twice.
constexpr int kSamplesBetweenSteps = 16;
// A slower sender is followed once the run's floor came this much later than
// at the start: early enough that the latest bursts are still inside the
// lead, late enough that a run of 64 bursts of the widest jitter never gets
// there by chance, nor one slot later overshoots.
constexpr int32_t kSlipMinUs = 20000;
constexpr int32_t kSlipMaxUs = 30000;
constexpr int32_t kSlipHeadroomUs = 10000;
// Bursts that missed their slots this many times in a row: the lead is too
// short to wait for the floor.
constexpr int kLateInARow = 3;
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
  late_in_a_row = 0;
}

DriftStep DriftWatch::record(int32_t lateness_us, bool counts_late, int lead_ms) {
  run[next] = lateness_us;
  next = (next + 1) % DRIFT_RUN;
  if (count < DRIFT_RUN) ++count;
  if (baseline_samples < kBaselineSamples) {
    baseline_us = baseline_samples == 0 ? lateness_us : std::min(baseline_us, lateness_us);
    ++baseline_samples;
  }
  ++since_step;
  late_in_a_row = counts_late ? late_in_a_row + 1 : 0;
  if (late_in_a_row >= kLateInARow) {
    late_in_a_row = 0;
    since_step = 0;
    return DRIFT_SLIP_LATER;
  }
  if (count < DRIFT_RUN || since_step < kSamplesBetweenSteps) return DRIFT_HOLD;
  // The two earliest and the two latest of the run: one stray burst either
  // way does not count.
  int32_t low[2] = {INT32_MAX, INT32_MAX}, high[2] = {INT32_MIN, INT32_MIN};
  for (int32_t v : run) {
    if (v < low[0]) {
      low[1] = low[0];
      low[0] = v;
    } else if (v < low[1]) {
      low[1] = v;
    }
    if (v > high[0]) {
      high[1] = high[0];
      high[0] = v;
    } else if (v > high[1]) {
      high[1] = v;
    }
  }
  const int32_t early = low[1];
  const int32_t spread = high[1] - early;
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
