#pragma once
// The clock of a network call while the jitter buffer is on. The call's
// first voice burst fixes it: the burst whose sequence number stands k after
// that burst's leaves at the first burst's arrival + lead + k x 60 ms, on
// absolute deadlines, so sleep errors never add up. Bursts wait in their slot
// until it is due; the voice thread fills a slot whose burst never came.
// One call at a time; all state is static, nothing is allocated.
#include <sys/time.h>

#include <cstdint>

constexpr long GRID_SLOT_US = 60000;
// How far ahead of the next slot to leave a burst may be held: 64 slots are
// 3.84 s, more than any lead.
constexpr int GRID_SLOTS = 64;
constexpr unsigned int GRID_DATAGRAM_MAX = 80;

enum GridPlace {
  GRID_STORED,         // waits for its slot
  GRID_LATE,           // its slot has left (filled): dropped
  GRID_DUPLICATE,      // its slot already holds it or left with it: dropped
  GRID_OUT_OF_WINDOW,  // too far ahead to hold: dropped
};

struct GridCounters {
  int bursts;  // slots that left with their own burst
  int late;    // bursts that came after their slot had left
  int lost;    // slots up to the last burst received whose burst never came
  int filled;  // slots that left with silence
};

// No call on the grid.
void grid_clear();
bool grid_active();

// Starts the clock: slot 0 is the burst with `first_sequence`, arrived at
// `first_arrival`. Sending begins with `first_slot` (1 when slot 0 stood in
// for the missing header and does not go on air itself).
void grid_start(const timeval& first_arrival, uint16_t first_sequence, int lead_ms, int first_slot);
int grid_lead_ms();

// The slot of a sequence number, counted from the first burst; negative for
// a burst that the first one overtook.
int grid_slot_of(uint16_t sequence);
// Sequence number that slot k stands for.
uint16_t grid_sequence_of(int k);
timeval grid_deadline(int k);
// How late (negative: early) a burst of slot k arriving at `arrival` is
// against the first burst, in microseconds.
int32_t grid_lateness_us(int k, const timeval& arrival);

// Where a burst of slot k arriving at `now` goes. A burst the first one
// overtook is taken as long as nothing has left yet and its slot is still to
// come; the slots between it and the first burst are then filled.
GridPlace grid_place(int k, const timeval& now);
// Keeps the datagram (signed_len bytes, trailer still to come) for slot k
// after grid_place said GRID_STORED.
void grid_store(int k, const unsigned char* datagram, unsigned int signed_len);

// The slot that leaves next, and the highest slot a burst arrived for.
int grid_next_slot();
int grid_highest_received();
// The datagram waiting in slot k (the next to leave) or nullptr.
unsigned char* grid_take(int k, unsigned int* signed_len);
// Slot k has left, with its own burst or filled.
void grid_sent(int k, bool own_burst);

// Figures of the call so far.
GridCounters grid_counters();
