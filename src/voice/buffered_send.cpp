// The sending side of the buffered path: every slot leaves at its deadline
// with its burst or silence; a call ends with its terminator after its tail,
// and the call that waited goes on air after it.
#include <cstdio>
#include <cstring>

#include "main/config.h"
#include "main/log_time.h"
#include "master_link/hytera_voice_packet.h"
#include "voice/buffered_path.h"
#include "voice/buffered_steps.h"
#include "voice/hytera_to_moto.h"

namespace {

// Overdue slots never leave in a bunch: nothing goes out sooner than this
// after the datagram before it.
constexpr int64_t kMinSpacingUs = 30000;
// Bounds one wake-up whatever the clock did: a call ends within its
// time-out, which is far fewer slots.
constexpr int kMostStepsPerWake = 4096;

// AMBE+2 silence, 49 bits in bit order 2: a slot whose burst never came
// carries it in all three frames, so the repeater stays keyed and hears
// nothing.
constexpr char kSilenceFrame[] = "1111100000000001101010011001111110001100111000001";

unsigned char silence_field[MOTO_VOICE_FIELD_LEN];
unsigned char slot_datagram[MOTO_WORK_BUFFER_LEN];

void prepare_silence() {
  unsigned char bits[MOTO_VOICE_FRAME_BITS];
  for (unsigned int i = 0; i < MOTO_VOICE_FRAME_BITS; ++i) bits[i] = kSilenceFrame[i] == '1';
  unsigned char scratch[MOTO_WORK_BUFFER_LEN] = {};
  moto_put_voice_frames(scratch, bits, bits, bits);
  memcpy(silence_field, scratch + MOTO_OFS_VOICE, sizeof silence_field);
}

int64_t seconds_of(int64_t us) { return us / 1000000; }

int64_t due_us(const BufferedPath& p, int64_t n) {
  const int64_t deadline = p.grid.deadline_us(n);
  const int64_t spaced = p.last_send_us + kMinSpacingUs;
  return deadline > spaced ? deadline : spaced;
}

// Superframe position (1..6) of slot n: the superframe runs on through every
// slot on air, whatever the master numbered.
unsigned int position_of(const BufferedPath& p, int64_t n) {
  const int64_t k = (p.on_air.superframe_position - 1 + (n - p.on_air.superframe_slot)) % 6;
  return static_cast<unsigned int>(k < 0 ? k + 6 : k) + 1;
}

void send_voice(BufferedPath& p, int64_t n, const unsigned char* voice, int64_t now_us) {
  const unsigned int position = position_of(p, n);
  const unsigned int signed_len = moto_load_burst(slot_datagram, position);
  const CallId& id = p.on_air.id;
  v2m_fill_call(*p.call, slot_datagram, id.call_type, id.source, id.destination, ++p.on_air.rtp_sequence);
  if (position == 5) moto_set_burst_e_identifiers(slot_datagram, id.destination, id.source);
  memcpy(slot_datagram + MOTO_OFS_VOICE, voice, MOTO_VOICE_FIELD_LEN);
  v2m_send_signed(*p.call, slot_datagram, signed_len);
  p.last_send_us = now_us;
}

// The call's terminator, or one of our own when the network sent none.
void send_terminator(BufferedPath& p, int64_t now_us) {
  const CallId& id = p.on_air.id;
  v2m_fill_call(*p.call, Voice_moto64, id.call_type, id.source, id.destination, ++p.on_air.rtp_sequence);
  moto_set_lc_identifiers(Voice_moto64, id.destination, id.source);
  v2m_send_signed(*p.call, Voice_moto64, MOTO_TERMINATOR_SIGNED);
  p.last_send_us = now_us;
}

void print_end(const BufferedPath& p) {
  const GridFigures& f = p.on_air.figures;
  printf(
      "%s Jitter buffer %d end: lead %d ms, bursts %d, late %d, lost %d, filled %d, slipped %d, skipped %d, "
      "re-anchored %d%s\n",
      ts, p.call->seq_num, p.on_air.lead_ms, f.bursts, f.late, p.grid.holes, f.filled, f.slipped, f.skipped,
      f.re_anchored, slot_suffix(p.call->slot));
}

void finish(BufferedPath& p, int64_t now_us, bool timed_out) {
  const uint16_t end_sequence =
      p.on_air.terminated ? p.on_air.end_sequence
                          : (p.on_air.has_stretch ? p.grid.sequence_of(p.grid.highest) : p.on_air.rtp_sequence);
  refresh_ts();
  v2m_end_of_call(*p.call, timed_out);
  if (p.on_air.has_stretch) print_end(p);
  p.lead.end_call();
  grid_after_call(p, end_sequence, now_us);
}

// The kept burst that leads the waiting call: burst F of a late join, else
// its lowest-numbered burst.
const KeptBurst* first_kept(const BufferedPath::Waiting& w) {
  const KeptBurst* first = nullptr;
  for (const KeptBurst& b : w.bursts) {
    if (!b.used) continue;
    if (!first || sequence_step(b.sequence, w.header_sequence) < sequence_step(first->sequence, w.header_sequence))
      first = &b;
  }
  return first;
}

// The waiting call's header gets the first slot after the old call's end
// (slot e) that still leaves its first burst its lead.
void schedule_waiting(BufferedPath& p, int64_t e) {
  BufferedPath::Waiting& w = p.waiting;
  w.lead_ms = grid_choose_lead(p);
  int64_t h = e + 1;
  if (const KeptBurst* first = first_kept(w)) {
    const int64_t natural = p.grid.slot_at_or_after(first->arrival_us + w.lead_ms * 1000LL);
    // Burst F stands in the header's slot; a first burst A follows it.
    const int64_t header = w.late_join ? natural : natural - 1;
    if (header > h) h = header;
  }
  w.header_slot = h;
  p.grid.next = h;
}

// The waiting call goes on air: its header now, its bursts on the grid.
void promote(BufferedPath& p, int64_t now_us) {
  const BufferedPath::Waiting w = p.waiting;
  p.waiting = BufferedPath::Waiting{};
  refresh_ts();
  grid_start_call(p, grid_header(p, w.id, w.header_sequence, w.late_join ? HYT_FT_BURST_F : HYT_FT_VOICE_HEADER),
                  now_us);
  p.on_air.lead_ms = w.lead_ms;
  p.on_air.last_voice_us = w.last_voice_us;
  p.on_air.terminated = w.terminated;
  p.on_air.end_sequence = w.end_sequence;
  p.on_air.figures.late = w.overflowed;
  p.grid.sent(w.header_slot, true);
  const KeptBurst* first = first_kept(w);
  if (!first) return;
  const int64_t slot = w.late_join ? w.header_slot : w.header_slot + 1;
  p.grid.anchor(first->sequence, slot, w.header_slot + 1);
  grid_begin_stretch(p, slot, first->position);
  for (const KeptBurst& b : w.bursts)
    if (b.used && !(w.late_join && &b == first)) grid_take_kept(p, b, now_us);
}

// The slot that leaves next, if it is due: false when it is not yet.
bool send_next_slot(BufferedPath& p, int64_t now_us) {
  VoiceGrid& g = p.grid;
  const int64_t n = g.next;
  if (now_us < due_us(p, n)) return false;
  const int64_t deadline = g.deadline_us(n);
  if (n > g.highest) {
    // The tail has left: the end, or the network's silence until the
    // time-out by the seconds of the clock, as without the buffer.
    const bool timed_out = seconds_of(deadline) - seconds_of(p.on_air.last_voice_us) > V2M_TX_TIMEOUT_SECONDS;
    if (p.on_air.terminated || p.waiting.present || timed_out) {
      send_terminator(p, now_us);
      g.sent(n, true);
      finish(p, now_us, timed_out && !p.on_air.terminated && !p.waiting.present);
      return true;
    }
  }
  GridFigures& f = p.on_air.figures;
  if (now_us - deadline > GRID_SLOT_US) {
    // The bridge was held up: this slot's time is gone.
    g.skipped(n);
    ++f.skipped;
    p.last_skip_us = now_us;
  } else if (const unsigned char* voice = g.take(n)) {
    send_voice(p, n, voice, now_us);
    g.sent(n, true);
    ++f.bursts;
  } else {
    send_voice(p, n, silence_field, now_us);
    g.sent(n, false);
    ++f.filled;
  }
  return true;
}

}  // namespace

int grid_choose_lead(const BufferedPath& p) {
  return JitterBuffer == JITTER_BUFFER_AUTO ? p.lead.choose_ms() : JitterBuffer;
}

void grid_print_start(const BufferedPath& p) {
  printf("%s Jitter buffer %d start: lead %d ms (%s)%s\n", ts, p.call->seq_num, p.on_air.lead_ms,
         JitterBuffer == JITTER_BUFFER_AUTO ? "auto" : "fixed", slot_suffix(p.call->slot));
}

void grid_begin_stretch(BufferedPath& p, int64_t superframe_slot, unsigned char superframe_position) {
  p.grid.holes = 0;
  p.on_air.superframe_slot = superframe_slot;
  p.on_air.superframe_position = superframe_position;
  p.on_air.has_stretch = true;
  p.drift.reset();
  grid_print_start(p);
}

void grid_note_lateness(BufferedPath& p, int64_t n, int64_t arrival_us, bool missed) {
  int64_t lateness = arrival_us - (p.grid.deadline_us(n) - p.on_air.lead_ms * 1000LL);
  if (lateness > INT32_MAX) lateness = INT32_MAX;
  if (lateness < -INT32_MAX) lateness = -INT32_MAX;
  const int32_t l = static_cast<int32_t>(lateness);
  // A stretch after a jump says nothing about the link.
  if (p.on_air.stretch == 0) p.lead.record(l);
  // Bursts that waited in the socket while the bridge was held up say
  // nothing about the master's clock.
  const bool held_up = arrival_us - p.last_skip_us < 2 * GRID_SLOT_US;
  switch (p.drift.record(l, missed && !held_up, p.on_air.lead_ms)) {
    case DRIFT_SLIP_LATER:
      p.grid.slip_later();
      p.drift.moved(-static_cast<int32_t>(GRID_SLOT_US));
      ++p.on_air.figures.slipped;
      break;
    case DRIFT_GIVE_UP:
      if (p.grid.give_up_slot()) {
        p.drift.moved(static_cast<int32_t>(GRID_SLOT_US));
        ++p.on_air.figures.slipped;
      }
      break;
    case DRIFT_HOLD:
      break;
  }
}

void grid_late(BufferedPath& p, int64_t n, int64_t arrival_us) {
  ++p.on_air.figures.late;
  p.grid.late_burst(n);
  grid_note_lateness(p, n, arrival_us, true);
}

bool grid_keep_burst(BufferedPath& p, const HyteraFields& f, int64_t arrival_us, KeptBurst* k) {
  if (!v2m_decode_burst(*p.call, f, slot_datagram)) return false;
  k->used = true;
  k->sequence = f.sequence;
  k->position = static_cast<unsigned char>(hyt_voice_position(f.frame_type));
  k->arrival_us = arrival_us;
  memcpy(k->voice, slot_datagram + MOTO_OFS_VOICE, sizeof k->voice);
  k->quiet = memcmp(k->voice, silence_field, sizeof k->voice) == 0 ||
             memcmp(k->voice, p.last_voice_field, sizeof k->voice) == 0;
  memcpy(p.last_voice_field, k->voice, sizeof k->voice);
  return true;
}

void grid_take_kept(BufferedPath& p, const KeptBurst& k, int64_t now_us) {
  VoiceGrid& g = p.grid;
  const int64_t n = g.slot_of(k.sequence);
  switch (g.place(n, now_us)) {
    case GRID_STORED:
      g.store(n, k.sequence, k.voice, k.quiet);
      grid_note_lateness(p, n, k.arrival_us, false);
      return;
    case GRID_LATE:
      grid_late(p, n, k.arrival_us);
      return;
    case GRID_DUPLICATE:
    case GRID_OUT_OF_WINDOW:
      return;
  }
}

HyteraFields grid_header(const BufferedPath& p, const CallId& id, uint16_t sequence, unsigned char frame_type) {
  return HyteraFields{
      HYT_KIND_VOICE, static_cast<unsigned char>(p.call->slot), id.source, id.destination, sequence, frame_type,
      id.call_type};
}

void grid_start_call(BufferedPath& p, const HyteraFields& header, int64_t now_us) {
  p.candidate.present = false;
  HyteraFields h = header;
  // The RTP sequence follows the master's numbers, but never goes back on a
  // call that ran ahead of them with slots of silence.
  const int behind = sequence_step(h.sequence, p.last_rtp_sequence);
  if (p.ended.present && behind <= 0 && behind > -GRID_SLOTS)
    h.sequence = static_cast<uint16_t>(p.last_rtp_sequence + 1);
  v2m_send_header(*p.call, h, false, p.ended.present ? p.last_call_tag : nullptr);
  p.on_air = BufferedPath::OnAir{};
  p.on_air.present = true;
  p.on_air.id = CallId{header.call_type, header.source, header.destination};
  p.on_air.rtp_sequence = h.sequence;
  p.on_air.last_voice_us = now_us;
  p.last_send_us = now_us;
}

void grid_end_now(BufferedPath& p, int64_t now_us) {
  send_terminator(p, now_us);
  finish(p, now_us, false);
}

void grid_after_call(BufferedPath& p, uint16_t end_sequence, int64_t now_us) {
  p.ended = BufferedPath::Ended{true, p.on_air.id, end_sequence, now_us};
  memcpy(p.last_call_tag, p.call->flctrl, sizeof p.last_call_tag);
  p.last_rtp_sequence = p.on_air.rtp_sequence;
  p.on_air = BufferedPath::OnAir{};
  if (!p.waiting.present) {
    p.grid.clear();
    return;
  }
  // The call that waited goes on the same clock, or on one that starts now.
  if (!p.grid.active) p.grid.start(now_us);
  int64_t e = p.grid.slot_at_or_after(now_us) - 1;
  if (e < p.grid.next - 1) e = p.grid.next - 1;
  schedule_waiting(p, e);
}

void buffered_reset(BufferedPath& p, V2mCall& call) {
  prepare_silence();
  p.call = &call;
  p.grid.clear();
  p.drift.reset();
  p.lead.reset();
  p.on_air = BufferedPath::OnAir{};
  p.waiting = BufferedPath::Waiting{};
  p.candidate = BufferedPath::Candidate{};
  p.ended = BufferedPath::Ended{};
  memset(p.last_voice_field, 0, sizeof p.last_voice_field);
  memset(p.last_call_tag, 0, sizeof p.last_call_tag);
  p.last_rtp_sequence = 0;
  p.last_send_us = 0;
  p.last_skip_us = INT64_MIN / 2;
}

int buffered_check_timeout(BufferedPath& p, int64_t now_us) {
  if (!p.on_air.present || p.on_air.has_stretch) return 0;
  if (seconds_of(now_us) - seconds_of(p.on_air.last_voice_us) <= V2M_TX_TIMEOUT_SECONDS) return 0;
  send_terminator(p, now_us);
  finish(p, now_us, true);
  return 1;
}

void buffered_send_due(BufferedPath& p, int64_t now_us) {
  for (int steps = 0; steps < kMostStepsPerWake; ++steps) {
    if (!p.grid.active) {
      buffered_check_timeout(p, now_us);
      return;
    }
    if (!p.on_air.present) {
      // Between a call and the one that waited for it.
      if (!p.waiting.present) {
        p.grid.clear();
        return;
      }
      if (now_us < due_us(p, p.waiting.header_slot)) return;
      promote(p, now_us);
      continue;
    }
    if (!p.on_air.has_stretch) {
      // A call that waited and ended before any burst of it came.
      if (p.on_air.terminated && p.grid.active) {
        if (now_us < due_us(p, p.grid.next)) return;
        grid_end_now(p, now_us);
        continue;
      }
      buffered_check_timeout(p, now_us);
      return;
    }
    if (!send_next_slot(p, now_us)) return;
  }
}

bool buffered_next_deadline(const BufferedPath& p, int64_t* at_us) {
  if (p.on_air.present && !p.on_air.has_stretch && !p.on_air.terminated) {
    *at_us = (seconds_of(p.on_air.last_voice_us) + V2M_TX_TIMEOUT_SECONDS + 1) * 1000000;
    return true;
  }
  if (!p.grid.active) return false;
  if (!p.on_air.present) {
    if (!p.waiting.present) return false;
    *at_us = due_us(p, p.waiting.header_slot);
    return true;
  }
  *at_us = due_us(p, p.grid.next);
  return true;
}
