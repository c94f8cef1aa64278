#pragma once
// The repeater's clock for network calls while the jitter buffer is on: slot
// n leaves at origin + n x 60 ms, on absolute deadlines, so sleep errors never
// add up. The master's sequence numbers are only mapped onto slots: the
// mapping moves by a slot when the grid follows a sender whose clock runs
// slow or fast, and starts afresh (a new stretch) after a sequence jump.
// Bursts wait in their slot until it is due. Slot numbers are 64-bit, so no
// call is too long; the mapping is always taken from a recent burst, so the
// 16-bit sequence numbers may wrap any number of times. A slot keeps only
// the burst's voice field: the datagram is built when the slot leaves, for
// the place in the superframe that the slot has on air. Nothing is
// allocated.
#include <cstdint>

#include "ipsc/moto_voice_packet.h"

// How far sequence number `to` lies after `from` (negative: before), the
// 16-bit numbers taken round their wrap.
inline int sequence_step(uint16_t to, uint16_t from) { return static_cast<int16_t>(static_cast<uint16_t>(to - from)); }

constexpr int64_t GRID_SLOT_US = 60000;
// How far ahead of the next slot to leave a burst may be held: 64 slots are
// 3.84 s, more than any lead.
constexpr int GRID_SLOTS = 64;

enum GridPlace {
  GRID_STORED,         // waits for its slot
  GRID_LATE,           // its slot has left: dropped
  GRID_DUPLICATE,      // its slot already holds it or left with it: dropped
  GRID_OUT_OF_WINDOW,  // 64 slots or more ahead of the next to leave: not held
};

struct GridSlot {
  int64_t n;         // the slot this entry holds; the other fields count only when it matches
  bool stored;       // a burst waits in it
  bool left_own;     // it left with its own burst
  bool left_silent;  // it left with silence
  bool inserted;     // silence put in to follow a slow sender
  bool hole;         // left with silence while a later burst had come: counted lost
  bool quiet;        // its burst is silence or repeats the one before: given up first
  unsigned char voice[MOTO_VOICE_FIELD_LEN];
};

struct VoiceGrid {
  bool active;            // a clock is running
  int64_t origin_us;      // deadline of slot 0 on the voice thread's clock
  int64_t next;           // the slot that leaves next
  int64_t floor;          // no burst of the stretch goes before this slot
  int64_t lowest;         // lowest slot the stretch used
  int64_t highest;        // highest slot a burst of the stretch came for; floor - 1 before the first
  bool anything_left;     // a slot of the stretch has left
  int holes;              // slots that left with silence in place of a burst that never came
  uint16_t ref_sequence;  // slot_of(s) = ref_slot + (s - ref_sequence) as a signed 16-bit step
  int64_t ref_slot;
  bool bent;  // sequences before bend_sequence lie bend_slots away from that line
  uint16_t bend_sequence;
  int bend_slots;
  int64_t bend_at;  // the slot where the line bent; forgotten a window later
  GridSlot slots[GRID_SLOTS];

  // No clock.
  void clear();
  // Starts the clock with slot 0 due at origin_us.
  void start(int64_t origin);
  int64_t deadline_us(int64_t n) const { return origin_us + n * GRID_SLOT_US; }
  // The first slot due at or after t.
  int64_t slot_at_or_after(int64_t t_us) const;

  // A new stretch: `sequence` goes in slot `n`, nothing of it before `first_allowed`.
  void anchor(uint16_t sequence, int64_t n, int64_t first_allowed);
  int64_t slot_of(uint16_t sequence) const;
  // The sequence number slot n stands for on the current line.
  uint16_t sequence_of(int64_t n) const;

  // Where a burst for slot n arriving at now_us goes. A burst the stretch's
  // first one overtook is still taken while nothing has left and its slot is
  // to come.
  GridPlace place(int64_t n, int64_t now_us);
  // Keeps the voice field of burst `sequence` for slot n after place() said
  // GRID_STORED.
  void store(int64_t n, uint16_t sequence, const unsigned char* voice, bool quiet);
  // The voice field waiting in slot n, or nullptr.
  const unsigned char* take(int64_t n);
  // Slot n left with its own burst (as far as the ring still remembers).
  bool left_with_own_burst(int64_t n) const;
  // Slot n has left (own burst or silence), or was skipped.
  void sent(int64_t n, bool own_burst);
  void skipped(int64_t n);
  // A burst that came after its slot left as silence was late, not lost.
  void late_burst(int64_t n);

  // A slower sender: bursts after the highest one move a slot later, one
  // slot of silence goes in between.
  void slip_later();
  // A faster sender: one waiting slot goes, the later ones move a slot
  // earlier. An empty slot is given up first, then a quiet burst, else the
  // next to leave. False when nothing waits.
  bool give_up_slot();

 private:
  GridSlot& entry(int64_t n) { return slots[((n % GRID_SLOTS) + GRID_SLOTS) % GRID_SLOTS]; }
  const GridSlot& entry(int64_t n) const { return slots[((n % GRID_SLOTS) + GRID_SLOTS) % GRID_SLOTS]; }
  void raise_highest(int64_t n);
};
