#pragma once
// The lead that JitterBuffer=auto gives a network call: chosen at the call's
// first burst from how late the bursts of recent calls arrived. Each burst's
// lateness is first taken against its call's first burst (arrival of burst k
// minus first arrival minus k x 60 ms); when the call ends, against its
// fastest burst instead. So the figures do not depend on how late a call's
// first burst happened to be, and a next call whose first burst comes
// quickly is covered too.
#include <cstdint>

// How many recent lateness samples the choice looks at.
constexpr unsigned int JITTER_LEAD_SAMPLES = 512;

// Forgets every sample (thread start; tests).
void jitter_lead_reset();

// One burst's lateness in microseconds; negative when it came early.
void jitter_lead_record(int32_t lateness_us);

// The call whose bursts were recorded since the last call ended has ended:
// its figures are taken against its fastest burst from now on.
void jitter_lead_end_call();

// The lead for the next call in milliseconds: the 99th percentile of the
// recorded lateness with a small margin, within 20..480 ms; 120 ms until
// enough has been measured.
int jitter_lead_choose_ms();
