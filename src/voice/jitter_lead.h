#pragma once
// The lead that JitterBuffer=auto gives a network call: chosen at the call's
// first burst from how late the bursts of recent calls arrived. Each burst's
// lateness is first taken against its call's grid (arrival of a burst minus
// its slot's deadline plus the lead, the grid as moved to follow the
// sender's clock); when the call ends, against its fastest burst instead. So
// the figures do not depend on how late a call's first burst happened to
// be, and a next call whose first burst comes quickly is covered too.
#include <cstdint>

// How many recent lateness samples the choice looks at.
constexpr unsigned int JITTER_LEAD_SAMPLES = 512;

struct JitterLead {
  int32_t samples[JITTER_LEAD_SAMPLES];
  unsigned int count;         // samples held, up to JITTER_LEAD_SAMPLES
  unsigned int next;          // where the next sample goes
  unsigned int of_this_call;  // the newest samples that belong to the call in hand

  // Forgets every sample.
  void reset();
  // One burst's lateness in microseconds; negative when it came early.
  void record(int32_t lateness_us);
  // The call whose bursts were recorded since the last call ended has ended:
  // its figures are taken against its fastest burst from now on.
  void end_call();
  // The lead for the next call in milliseconds: the 99th percentile of the
  // recorded lateness with a small margin, within 20..480 ms; 120 ms until
  // enough has been measured.
  int choose_ms() const;
};

// The same for the network calls of timeslot 2, whose estimator the voice
// thread keeps with the rest of that timeslot's buffered path (timeslot 1
// has one of its own).
void jitter_lead_reset();
void jitter_lead_record(int32_t lateness_us);
void jitter_lead_end_call();
int jitter_lead_choose_ms();
