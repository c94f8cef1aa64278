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
// The newest bursts of the run alone decide sooner for a sender that drifts
// fast, with a threshold as wide as the link's jitter, up to a slot.
constexpr int kShortRun = 16;
constexpr int32_t kShortRunMaxUs = 60000;
// A faster sender gives up a slot once the backlog grew by most of a slot,
// and never so soon after a slip that the two undo each other.
constexpr int32_t kGiveUpUs = 50000;
constexpr int32_t kHysteresisUs = 75000;

// The two lowest and two highest values seen.
struct Extremes {
  int32_t low[2] = {INT32_MAX, INT32_MAX};
  int32_t high[2] = {INT32_MIN, INT32_MIN};
  void take(int32_t v) {
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
};

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
  if (count < kShortRun || since_step < kSamplesBetweenSteps) return DRIFT_HOLD;
  // The second-earliest and second-latest of the run and the second-earliest
  // of its newest bursts: one stray burst either way does not count.
  Extremes all, newest;
  for (int back = 0; back < count; ++back) {
    const int32_t v = run[(next + DRIFT_RUN - 1 - back) % DRIFT_RUN];
    all.take(v);
    if (back < kShortRun) newest.take(v);
  }
  const int32_t spread = all.high[1] - all.low[1];
  const int32_t slip_after = std::clamp(lead_ms * 1000 - spread - kSlipHeadroomUs, kSlipMinUs, kSlipMaxUs);
  // The newest bursts alone are as noisy as the link is wide.
  const int32_t slip_after_short = std::clamp(spread * 4 / 5, slip_after, kShortRunMaxUs);
  const int32_t give_up_after = std::max(kGiveUpUs, kHysteresisUs - slip_after);
  const bool slower =
      (count == DRIFT_RUN && all.low[1] - baseline_us >= slip_after) || newest.low[1] - baseline_us >= slip_after_short;
  if (slower) {
    since_step = 0;
    return DRIFT_SLIP_LATER;
  }
  // Bursts never come earlier than the link allows: the earliest of the
  // newest bursts show a faster sender at once (older ones may still be read
  // under a line the grid has left since).
  if (newest.low[1] - baseline_us <= -give_up_after) {
    since_step = 0;
    return DRIFT_GIVE_UP;
  }
  return DRIFT_HOLD;
}

void DriftWatch::moved(int32_t by_us) {
  for (int i = 0; i < count; ++i) run[i] += by_us;
}
