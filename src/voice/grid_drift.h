#pragma once
// How the master's clock runs against the grid, judged from a run of bursts
// rather than from any one of them. Each burst's lateness (its arrival
// against its slot's deadline minus the lead) is kept for the last
// DRIFT_RUN bursts of a stretch. The second-earliest of them, against the
// earliest of the stretch's first bursts, tells how far the sender's clock
// has moved: random delay on the way moves single bursts, never the floor
// of a whole run, so jitter within the lead never moves the grid. The
// newest 16 bursts alone, with a threshold as wide as the link's jitter,
// follow a sender that drifts fast sooner; a lead too short to wait for
// either is caught by bursts that miss their slots several in a row.
#include <cstdint>

constexpr int DRIFT_RUN = 64;

enum DriftStep {
  DRIFT_HOLD,        // the grid stays
  DRIFT_SLIP_LATER,  // the run came a good part of a slot later: one slot of silence
  DRIFT_GIVE_UP,     // the run came most of a slot earlier: one waiting slot goes
};

struct DriftWatch {
  int32_t run[DRIFT_RUN];
  int count;  // samples in the run, up to DRIFT_RUN
  int next;   // where the next one goes
  int32_t baseline_us;
  int baseline_samples;
  int since_step;  // samples since the grid last moved
  int late_in_a_row;

  // A new stretch: nothing measured.
  void reset();
  // One burst's lateness, and whether it missed its slot (`counts_late`:
  // it did, and not because the bridge itself was held up); what the grid
  // should do about the run so far.
  DriftStep record(int32_t lateness_us, bool counts_late, int lead_ms);
  // The grid moved by_us for the bursts to come: the run is read as if it
  // had come under the new line.
  void moved(int32_t by_us);
};
