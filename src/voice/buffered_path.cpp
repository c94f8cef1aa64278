// Arrivals on the buffered path: which call a packet belongs to, and where
// on the grid its burst goes.
#include "voice/buffered_path.h"

#include <algorithm>
#include <cstdio>

#include "main/log_time.h"
#include "master_link/hytera_voice_packet.h"
#include "voice/buffered_steps.h"
#include "voice/hytera_to_moto.h"

namespace {

// A second burst confirms a late join or a jump when it follows the first
// within this many sequence numbers and this long.
constexpr int kConfirmWithin = 6;
constexpr int64_t kConfirmWindowUs = 1000000;
// A burst whose slot left more than this many slots ago, and whose number the
// stretch already used or never reached, belongs to a restarted numbering,
// not to a burst held up on the way.
constexpr int64_t kBehindSlots = 2;
// A burst of the call that ended last, this close to its end and this soon
// after it, is a stray copy.
constexpr int kStrayBefore = 64;
constexpr int kStrayAfter = 3;
constexpr int64_t kStrayWindowUs = 5000000;

CallId id_of(const HyteraFields& f) { return CallId{f.call_type, f.source, f.destination}; }

bool same_call(const CallId& a, const CallId& b) {
  return a.call_type == b.call_type && a.source == b.source && a.destination == b.destination;
}

// A burst numbered after a call's terminator starts the next call.
bool after_end(bool terminated, uint16_t end_sequence, uint16_t sequence) {
  return terminated && sequence_step(sequence, end_sequence) > 0;
}

// A second talker on a group is dropped while another call is on air; a call
// whose terminator is in the buffer no longer counts, the call waiting for
// it does.
bool doubled(const BufferedPath& p, const HyteraFields& f) {
  if (f.call_type != HYT_CALL_GROUP || f.frame_type == HYT_FT_SYNC) return false;
  if (p.on_air.present && p.on_air.id.source == f.source) return false;
  uint32_t talker = 0;
  if (p.on_air.present && !p.on_air.terminated)
    talker = p.on_air.id.source;
  else if (p.waiting.present)
    talker = p.waiting.id.source;
  if (talker == 0 || talker == f.source) return false;
  printf("Doubling DMR-IDs: %d %d in %d/-1%s\r\n", static_cast<int>(talker), static_cast<int>(f.source),
         static_cast<int>(f.sequence), slot_suffix(p.call->slot));
  return true;
}

bool is_stray(const BufferedPath& p, const CallId& id, uint16_t sequence, int64_t arrival_us) {
  if (!p.ended.present || !same_call(p.ended.id, id) || arrival_us - p.ended.at_us > kStrayWindowUs) return false;
  const int from_end = sequence_step(sequence, p.ended.end_sequence);
  return from_end >= -kStrayBefore && from_end <= kStrayAfter;
}

// A second burst that confirms candidate `c` (a jump or a late join, as
// `jump` says): of the same call, a few numbers after it and soon after it.
bool confirms(const BufferedPath::Candidate& c, bool jump, const CallId& id, uint16_t sequence, int64_t arrival_us) {
  if (!c.present || c.jump != jump || !same_call(c.id, id)) return false;
  const int d = sequence_step(sequence, c.burst.sequence);
  return d >= 1 && d <= kConfirmWithin && arrival_us - c.burst.arrival_us <= kConfirmWindowUs;
}

// A number the stretch on air already passed: a stale copy.
bool passed_by_stretch(const BufferedPath& p, uint16_t sequence) {
  const int64_t n = p.grid.slot_of(sequence);
  return n <= p.grid.highest && n > p.grid.highest - GRID_SLOTS;
}

// ---- The call on air

void start_stretch(BufferedPath& p, const HyteraFields& f, int64_t arrival_us) {
  const uint16_t sequence = f.sequence;
  if (p.on_air.lead_ms == 0) p.on_air.lead_ms = grid_choose_lead(p);
  const int64_t lead_us = p.on_air.lead_ms * 1000LL;
  if (!p.grid.active) {
    p.grid.start(arrival_us + lead_us);
    p.grid.anchor(sequence, 0, p.grid.floor);
  } else {
    // The grid runs on from the call before: the first slot that gives this
    // burst its lead, and none before the header.
    int64_t n = p.grid.slot_at_or_after(arrival_us + lead_us);
    if (n < p.grid.next) n = p.grid.next;
    p.grid.anchor(sequence, n, n);
  }
  grid_begin_stretch(p, p.grid.ref_slot, static_cast<unsigned char>(hyt_voice_position(f.frame_type)));
}

// A second burst confirmed the jump: the call goes on from `c` in a new
// stretch, after everything the old one still holds.
void re_anchor(BufferedPath& p, const KeptBurst& c, int64_t now_us) {
  // The slot nearest to the burst's arrival plus the lead, so a master that
  // only renumbered keeps the call's delay; never less than half the lead.
  const int64_t lead_us = p.on_air.lead_ms * 1000LL;
  int64_t n = p.grid.slot_at_or_after(c.arrival_us + lead_us - std::min<int64_t>(GRID_SLOT_US / 2, lead_us / 2));
  if (n <= p.grid.highest) n = p.grid.highest + 1;
  if (n < p.grid.next) n = p.grid.next;
  p.grid.anchor(c.sequence, n, n);
  p.grid.anything_left = true;
  ++p.on_air.stretch;
  ++p.on_air.figures.re_anchored;
  p.drift.reset();
  if (p.grid.place(n, now_us) == GRID_STORED) p.grid.store(n, c.sequence, c.voice, c.quiet);
  grid_note_lateness(p, n, c.arrival_us, false);
}

void jump(BufferedPath& p, const HyteraFields& f, int64_t arrival_us) {
  KeptBurst k{};
  if (!grid_keep_burst(p, f, arrival_us, &k)) return;
  const CallId id = id_of(f);
  BufferedPath::Candidate& c = p.candidate;
  if (confirms(c, true, id, f.sequence, arrival_us)) {
    c.present = false;
    re_anchor(p, c.burst, arrival_us);
    grid_take_kept(p, k, arrival_us);
    return;
  }
  c = BufferedPath::Candidate{true, true, id, k};
}

void on_air_burst(BufferedPath& p, const HyteraFields& f, int64_t arrival_us) {
  if (!p.on_air.has_stretch) start_stretch(p, f, arrival_us);
  VoiceGrid& g = p.grid;
  const int64_t n = g.slot_of(f.sequence);
  const bool reused = n < g.lowest || n <= g.next - GRID_SLOTS || g.left_with_own_burst(n);
  if (n >= g.next + GRID_SLOTS || (n < g.next - kBehindSlots && reused)) {
    jump(p, f, arrival_us);
    return;
  }
  switch (g.place(n, arrival_us)) {
    case GRID_OUT_OF_WINDOW:
    case GRID_DUPLICATE:
      return;
    case GRID_LATE:
      grid_late(p, n, arrival_us);
      return;
    case GRID_STORED:
      break;
  }
  KeptBurst k{};
  if (!grid_keep_burst(p, f, arrival_us, &k)) return;
  g.store(n, f.sequence, k.voice, k.quiet);
  grid_note_lateness(p, n, arrival_us, false);
}

// A header of the call on air that its own bursts overtook, or a repeat.
bool header_of_call_on_air(const BufferedPath& p, uint16_t sequence) {
  if (p.on_air.terminated) return sequence_step(sequence, p.on_air.end_sequence) < 0;
  return passed_by_stretch(p, sequence);
}

// ---- The call that waits

void hold(BufferedPath& p, const CallId& id, uint16_t header_sequence, bool late_join, int64_t arrival_us) {
  BufferedPath::Waiting& w = p.waiting;
  w = BufferedPath::Waiting{};
  w.present = true;
  w.id = id;
  w.late_join = late_join;
  w.header_sequence = header_sequence;
  w.last_voice_us = arrival_us;
}

void waiting_burst(BufferedPath& p, const HyteraFields& f, int64_t arrival_us) {
  BufferedPath::Waiting& w = p.waiting;
  w.last_voice_us = arrival_us;
  KeptBurst* free_entry = nullptr;
  KeptBurst* oldest = &w.bursts[0];
  for (KeptBurst& b : w.bursts) {
    if (b.used && b.sequence == f.sequence) return;
    if (!b.used && !free_entry) free_entry = &b;
    if (b.used && (!oldest->used || b.arrival_us < oldest->arrival_us)) oldest = &b;
  }
  KeptBurst k{};
  if (!grid_keep_burst(p, f, arrival_us, &k)) return;
  if (!free_entry) {
    // The call before it would not end: its oldest burst goes.
    ++w.overflowed;
    free_entry = oldest;
  }
  *free_entry = k;
}

// ---- Calls that key up from bursts

void start_late_join(BufferedPath& p, const KeptBurst& burst_f, const KeptBurst& second, int64_t arrival_us) {
  grid_start_call(p, grid_header(p, p.candidate.id, burst_f.sequence, HYT_FT_BURST_F), arrival_us);
  // Burst F fixes the clock as slot 0 in place of the header; the grid goes
  // on air from the burst after it.
  p.on_air.lead_ms = grid_choose_lead(p);
  p.grid.start(burst_f.arrival_us + p.on_air.lead_ms * 1000LL);
  p.grid.anchor(burst_f.sequence, 0, 1);
  p.grid.sent(0, true);
  grid_begin_stretch(p, 0, 6);
  p.drift.record(0, false, p.on_air.lead_ms);
  grid_take_kept(p, second, arrival_us);
}

void late_join(BufferedPath& p, const HyteraFields& f, int64_t arrival_us) {
  const CallId id = id_of(f);
  BufferedPath::Candidate& c = p.candidate;
  const bool confirmed = confirms(c, false, id, f.sequence, arrival_us);
  if (!confirmed && f.frame_type != HYT_FT_BURST_F) return;
  KeptBurst k{};
  if (!grid_keep_burst(p, f, arrival_us, &k)) return;
  if (!confirmed) {
    c = BufferedPath::Candidate{true, false, id, k};
    return;
  }
  c.present = false;
  if (p.on_air.present) {
    // It waits for the call on air, burst F in its header's place.
    hold(p, id, c.burst.sequence, true, arrival_us);
    p.waiting.bursts[0] = c.burst;
    p.waiting.bursts[1] = k;
    return;
  }
  start_late_join(p, c.burst, k, arrival_us);
}

void take_burst(BufferedPath& p, const HyteraFields& f, int64_t arrival_us) {
  const CallId id = id_of(f);
  const bool of_call_on_air = p.on_air.present && same_call(p.on_air.id, id) &&
                              !after_end(p.on_air.terminated, p.on_air.end_sequence, f.sequence);
  if (of_call_on_air) {
    // Any burst after the header: a header that follows starts a new call.
    p.call->send_header = 0;
    p.on_air.last_voice_us = arrival_us;
    if (hyt_voice_position(f.frame_type) != 0) on_air_burst(p, f, arrival_us);
    return;
  }
  if (hyt_voice_position(f.frame_type) == 0) return;
  if (p.waiting.present) {
    if (same_call(p.waiting.id, id) && !after_end(p.waiting.terminated, p.waiting.end_sequence, f.sequence))
      waiting_burst(p, f, arrival_us);
    return;
  }
  if (!p.on_air.present && is_stray(p, id, f.sequence, arrival_us)) return;
  late_join(p, f, arrival_us);
}

void take_header(BufferedPath& p, const HyteraFields& f, int64_t arrival_us) {
  const CallId id = id_of(f);
  if (p.on_air.present) {
    if (same_call(p.on_air.id, id)) {
      if (!p.on_air.has_stretch) {
        // The header again, before any burst: sent again at once.
        if (v2m_send_header(*p.call, f, false)) {
          p.on_air.rtp_sequence = f.sequence;
          p.last_send_us = arrival_us;
        }
        p.on_air.last_voice_us = arrival_us;
        return;
      }
      if (header_of_call_on_air(p, f.sequence)) return;
    } else if (!p.on_air.has_stretch) {
      // Nothing of the call on air to drain: it ends, the new one starts.
      grid_end_now(p, arrival_us);
      grid_start_call(p, f, arrival_us);
      return;
    }
    if (!p.waiting.present) hold(p, id, f.sequence, false, arrival_us);
    return;
  }
  // Between a call and the one that waited for it nothing else starts.
  if (p.waiting.present) return;
  grid_start_call(p, f, arrival_us);
}

void take_end(BufferedPath& p, const HyteraFields& f, int64_t arrival_us) {
  const CallId id = id_of(f);
  if (p.on_air.present && same_call(p.on_air.id, id)) {
    if (!p.on_air.has_stretch) {
      v2m_relay_terminator(*p.call, f);
      grid_after_call(p, f.sequence, arrival_us);
      return;
    }
    if (p.on_air.terminated) return;
    // Held until every slot up to the last burst received has left, so the
    // tail of the call is never clipped.
    if (passed_by_stretch(p, f.sequence)) return;
    p.on_air.terminated = true;
    p.on_air.end_sequence = f.sequence;
    return;
  }
  if (p.waiting.present) {
    if (same_call(p.waiting.id, id) && !p.waiting.terminated) {
      p.waiting.terminated = true;
      p.waiting.end_sequence = f.sequence;
    }
    return;
  }
  if (p.on_air.present || is_stray(p, id, f.sequence, arrival_us)) return;
  // A terminator without a call is relayed as it comes.
  v2m_relay_terminator(*p.call, f);
}

}  // namespace

void buffered_take(BufferedPath& p, const HyteraFields& f, int64_t arrival_us) {
  if (f.kind != HYT_KIND_VOICE && f.kind != HYT_KIND_END) return;
  if (doubled(p, f)) return;
  if (f.kind == HYT_KIND_END)
    take_end(p, f, arrival_us);
  else if (f.frame_type == HYT_FT_VOICE_HEADER)
    take_header(p, f, arrival_us);
  else
    take_burst(p, f, arrival_us);
}
