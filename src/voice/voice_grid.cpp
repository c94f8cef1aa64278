#include "voice/voice_grid.h"

#include <cstring>

namespace {

struct Slot {
  int k;          // the slot this entry holds, valid when k matches
  bool stored;    // a burst waits in it
  bool left_own;  // it left with its own burst
  unsigned int signed_len;
  unsigned char datagram[GRID_DATAGRAM_MAX];
};

Slot slots[GRID_SLOTS];
bool active;
bool anything_left;
timeval first_arrival_at;
uint16_t first_sequence_number;
int lead_ms_of_call;
int next_slot;
int highest_received;
int last_left;
GridCounters counters;

Slot& entry(int k) { return slots[((k % GRID_SLOTS) + GRID_SLOTS) % GRID_SLOTS]; }

long long to_us(const timeval& t) { return static_cast<long long>(t.tv_sec) * 1000000LL + t.tv_usec; }

long long deadline_us(int k) {
  return to_us(first_arrival_at) + static_cast<long long>(lead_ms_of_call) * 1000LL +
         k * static_cast<long long>(GRID_SLOT_US);
}

}  // namespace

void grid_clear() {
  active = false;
  for (Slot& s : slots) s = Slot{};
  for (Slot& s : slots) s.k = -1000000;
  counters = GridCounters{};
}

bool grid_active() { return active; }

void grid_start(const timeval& first_arrival, uint16_t first_sequence, int lead_ms, int first_slot) {
  grid_clear();
  active = true;
  anything_left = false;
  first_arrival_at = first_arrival;
  first_sequence_number = first_sequence;
  lead_ms_of_call = lead_ms;
  next_slot = first_slot;
  highest_received = 0;
  last_left = first_slot - 1;
}

int grid_lead_ms() { return lead_ms_of_call; }

int grid_slot_of(uint16_t sequence) {
  return static_cast<int16_t>(static_cast<uint16_t>(sequence - first_sequence_number));
}

uint16_t grid_sequence_of(int k) { return static_cast<uint16_t>(first_sequence_number + k); }

timeval grid_deadline(int k) {
  const long long us = deadline_us(k);
  return timeval{static_cast<time_t>(us / 1000000LL), static_cast<suseconds_t>(us % 1000000LL)};
}

int32_t grid_lateness_us(int k, const timeval& arrival) {
  return static_cast<int32_t>(to_us(arrival) - to_us(first_arrival_at) - k * static_cast<long long>(GRID_SLOT_US));
}

GridPlace grid_place(int k, const timeval& now) {
  if (k >= next_slot + GRID_SLOTS) return GRID_OUT_OF_WINDOW;
  if (k < next_slot) {
    // Overtaken by the first burst: still in time while nothing has left.
    const bool in_time = !anything_left && deadline_us(k) > to_us(now) && k > highest_received - GRID_SLOTS;
    if (!in_time) {
      Slot& s = entry(k);
      if (s.k == k && s.left_own) return GRID_DUPLICATE;
      if (k > highest_received) highest_received = k;
      ++counters.late;
      return GRID_LATE;
    }
    next_slot = k;
    last_left = k - 1;
  }
  Slot& s = entry(k);
  if (s.k == k && s.stored) return GRID_DUPLICATE;
  if (k > highest_received) highest_received = k;
  return GRID_STORED;
}

void grid_store(int k, const unsigned char* datagram, unsigned int signed_len) {
  Slot& s = entry(k);
  s.k = k;
  s.stored = true;
  s.left_own = false;
  s.signed_len = signed_len < GRID_DATAGRAM_MAX ? signed_len : GRID_DATAGRAM_MAX;
  memcpy(s.datagram, datagram, s.signed_len);
}

int grid_next_slot() { return next_slot; }
int grid_highest_received() { return highest_received; }

unsigned char* grid_take(int k, unsigned int* signed_len) {
  Slot& s = entry(k);
  if (s.k != k || !s.stored) return nullptr;
  *signed_len = s.signed_len;
  return s.datagram;
}

void grid_sent(int k, bool own_burst) {
  Slot& s = entry(k);
  if (s.k != k) s = Slot{};
  s.k = k;
  s.stored = false;
  s.left_own = own_burst;
  if (own_burst)
    ++counters.bursts;
  else
    ++counters.filled;
  anything_left = true;
  last_left = k;
  next_slot = k + 1;
}

GridCounters grid_counters() {
  GridCounters c = counters;
  // Every slot that left after the last burst received was filled: the
  // tail while the call waited for its end. The other fills stood for
  // bursts that came late or never.
  const int tail = last_left > highest_received ? last_left - highest_received : 0;
  c.lost = c.filled - tail - c.late;
  if (c.lost < 0) c.lost = 0;
  return c;
}
