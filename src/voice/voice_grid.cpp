#include "voice/voice_grid.h"

#include <algorithm>
#include <cstring>

namespace {

// Below any slot a call can reach, so an empty entry never matches.
constexpr int64_t kNoSlot = INT64_MIN / 4;

}  // namespace

void VoiceGrid::clear() {
  active = false;
  origin_us = 0;
  next = 0;
  floor = kNoSlot;
  lowest = 0;
  highest = -1;
  anything_left = false;
  holes = 0;
  ref_sequence = 0;
  ref_slot = 0;
  bent = false;
  bend_sequence = 0;
  bend_slots = 0;
  bend_at = 0;
  for (GridSlot& s : slots) {
    s = GridSlot{};
    s.n = kNoSlot;
  }
}

void VoiceGrid::start(int64_t origin) {
  clear();
  active = true;
  origin_us = origin;
}

int64_t VoiceGrid::slot_at_or_after(int64_t t_us) const {
  const int64_t d = t_us - origin_us;
  return d <= 0 ? -((-d) / GRID_SLOT_US) : (d + GRID_SLOT_US - 1) / GRID_SLOT_US;
}

void VoiceGrid::anchor(uint16_t sequence, int64_t n, int64_t first_allowed) {
  ref_sequence = sequence;
  ref_slot = n;
  bent = false;
  floor = first_allowed;
  lowest = n;
  highest = std::max(highest, first_allowed - 1);
}

int64_t VoiceGrid::slot_of(uint16_t sequence) const {
  int64_t n = ref_slot + sequence_step(sequence, ref_sequence);
  if (bent && sequence_step(sequence, bend_sequence) < 0) n += bend_slots;
  return n;
}

uint16_t VoiceGrid::sequence_of(int64_t n) const {
  return static_cast<uint16_t>(ref_sequence + static_cast<uint16_t>(n - ref_slot));
}

void VoiceGrid::raise_highest(int64_t n) {
  if (n <= highest) return;
  // Slots between the old highest and this one that already left with
  // silence stood for bursts that never came.
  for (int64_t m = std::max(highest + 1, n - GRID_SLOTS + 1); m < n && m < next; ++m) {
    GridSlot& s = entry(m);
    if (s.n == m && s.left_silent && !s.inserted && !s.hole) {
      s.hole = true;
      ++holes;
    }
  }
  highest = n;
}

GridPlace VoiceGrid::place(int64_t n, int64_t now_us) {
  if (n >= next + GRID_SLOTS) return GRID_OUT_OF_WINDOW;
  if (n < next) {
    const bool in_time = !anything_left && n >= floor && deadline_us(n) > now_us && n > highest - GRID_SLOTS;
    if (!in_time) {
      const GridSlot& s = entry(n);
      if (s.n == n && s.left_own) return GRID_DUPLICATE;
      raise_highest(n);
      return GRID_LATE;
    }
    next = n;
  }
  if (n < floor) return GRID_LATE;
  const GridSlot& s = entry(n);
  if (s.n == n && s.stored) return GRID_DUPLICATE;
  raise_highest(n);
  return GRID_STORED;
}

void VoiceGrid::store(int64_t n, uint16_t sequence, const unsigned char* voice, bool quiet) {
  GridSlot& s = entry(n);
  if (s.n != n) s = GridSlot{};
  s.n = n;
  s.stored = true;
  s.left_own = false;
  s.quiet = quiet;
  memcpy(s.voice, voice, sizeof s.voice);
  if (n < lowest) lowest = n;
  // The line follows the newest burst, so a 16-bit step never spans more
  // than the buffer holds.
  const bool on_line = !bent || sequence_step(sequence, bend_sequence) >= 0;
  if (on_line && n > ref_slot) {
    ref_sequence = sequence;
    ref_slot = n;
  }
}

const unsigned char* VoiceGrid::take(int64_t n) {
  const GridSlot& s = entry(n);
  return s.n == n && s.stored ? s.voice : nullptr;
}

bool VoiceGrid::left_with_own_burst(int64_t n) const {
  const GridSlot& s = entry(n);
  return s.n == n && s.left_own;
}

void VoiceGrid::sent(int64_t n, bool own_burst) {
  GridSlot& s = entry(n);
  const bool inserted = s.n == n && s.inserted;
  s = GridSlot{};
  s.n = n;
  s.inserted = inserted;
  s.left_own = own_burst;
  s.left_silent = !own_burst;
  if (!own_burst && !inserted && n <= highest) {
    s.hole = true;
    ++holes;
  }
  anything_left = true;
  next = n + 1;
  if (bent && next > bend_at + GRID_SLOTS) bent = false;
}

void VoiceGrid::skipped(int64_t n) {
  GridSlot& s = entry(n);
  s = GridSlot{};
  s.n = n;
  anything_left = true;
  next = n + 1;
}

void VoiceGrid::late_burst(int64_t n) {
  GridSlot& s = entry(n);
  if (s.n == n && s.hole) {
    s.hole = false;
    --holes;
  }
}

void VoiceGrid::slip_later() {
  const uint16_t last = sequence_of(highest);
  ref_sequence = static_cast<uint16_t>(last + 1);
  ref_slot = highest + 2;
  bent = true;
  bend_sequence = ref_sequence;
  bend_slots = -1;
  bend_at = highest + 1;
  if (highest + 1 >= next) {
    GridSlot& s = entry(highest + 1);
    s = GridSlot{};
    s.n = highest + 1;
    s.inserted = true;
  }
}

bool VoiceGrid::give_up_slot() {
  if (highest < next) return false;
  auto stored = [this](int64_t m) { return entry(m).n == m && entry(m).stored; };
  int64_t r = -1;
  for (int64_t m = next; m <= highest && r < 0; ++m)
    if (!stored(m)) r = m;
  for (int64_t m = next; m <= highest && r < 0; ++m)
    if (entry(m).quiet) r = m;
  if (r < 0) r = next;
  const uint16_t given_up = sequence_of(r);
  for (int64_t m = r; m < highest; ++m) {
    entry(m) = entry(m + 1);
    entry(m).n = m;
  }
  GridSlot& last = entry(highest);
  last = GridSlot{};
  last.n = highest;
  --highest;
  // Sequences after the one given up now lie a slot earlier; those before
  // it where they were.
  ref_sequence = static_cast<uint16_t>(given_up + 1);
  ref_slot = r;
  bent = true;
  bend_sequence = ref_sequence;
  bend_slots = 1;
  bend_at = r;
  return true;
}
