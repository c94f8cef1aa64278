#pragma once
// The steps of a network call on the buffered path that its arrival side
// (buffered_path.cpp) and its sending side (buffered_send.cpp) share.
#include <cstdint>

#include "voice/buffered_path.h"

// The lead of the next call: the configured one, or what auto chose.
int grid_choose_lead(const BufferedPath& p);
// "<ts> Jitter buffer <n> start: lead <ms> ms (fixed|auto)", " slot:1" after it
// on timeslot 1
void grid_print_start(const BufferedPath& p);
// The call on air starts its first stretch on the grid, with the burst at
// `superframe_position` (1..6) in slot `superframe_slot`; the start line is printed.
void grid_begin_stretch(BufferedPath& p, int64_t superframe_slot, unsigned char superframe_position);
// How late a burst of the call on air for slot n came, and whether it missed
// its slot: the auto estimator (first stretch only) and the drift watch hear
// of it, and the grid follows the master's clock when the run says so.
void grid_note_lateness(BufferedPath& p, int64_t n, int64_t arrival_us, bool missed);
// A burst of the call on air came after slot n left: counted, and heard by
// the lateness watch as a missed slot.
void grid_late(BufferedPath& p, int64_t n, int64_t arrival_us);
// Decodes the burst in hand for keeping; false for a code not in the list.
bool grid_keep_burst(BufferedPath& p, const HyteraFields& f, int64_t arrival_us, KeptBurst* k);
// A kept burst of the call on air goes to its slot.
void grid_take_kept(BufferedPath& p, const KeptBurst& k, int64_t now_us);
// The header of call `id` on the path's timeslot, or burst F in its place.
HyteraFields grid_header(const BufferedPath& p, const CallId& id, uint16_t sequence, unsigned char frame_type);
// A call keys up: its header (or burst F in its place) goes out now.
void grid_start_call(BufferedPath& p, const HyteraFields& header, int64_t now_us);
// The call on air, which has nothing on the grid, ends now with a
// terminator of our own.
void grid_end_now(BufferedPath& p, int64_t now_us);
// The call on air has ended: it is remembered for its stray bursts, and the
// call that waited for it gets a slot for its header.
void grid_after_call(BufferedPath& p, uint16_t end_sequence, int64_t now_us);
