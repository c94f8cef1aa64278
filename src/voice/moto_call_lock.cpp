#include "voice/moto_call_lock.h"

namespace {

// How far the timestamp moved since the datagram taken last; negative when
// it went back. Wraps like the RTP timestamp itself.
int64_t advance(const MotoCallLock& lock, uint32_t timestamp) {
  return static_cast<int32_t>(timestamp - lock.timestamp);
}

bool runs_on(const MotoCallLock& lock, uint32_t timestamp) {
  const int64_t step = advance(lock, timestamp);
  return step > 0 && step <= MOTO_TIMESTAMP_WINDOW;
}

// A repeated timestamp is no jump: only one that goes back or leaps ahead.
bool jumps(const MotoCallLock& lock, uint32_t timestamp) {
  const int64_t step = advance(lock, timestamp);
  return step < 0 || step > MOTO_TIMESTAMP_WINDOW;
}

bool is_voice_lc(const MotoCallFacts& f) {
  // Without identifiers the repeater filled in nothing to lock on.
  return (f.flco == MOTO_FLCO_GROUP_VOICE || f.flco == MOTO_FLCO_UNIT_TO_UNIT_VOICE) && f.lc_source != 0 &&
         f.lc_destination != 0;
}

bool is_alias_lc(const MotoCallFacts& f) { return f.flco >= MOTO_FLCO_ALIAS_FIRST && f.flco <= MOTO_FLCO_ALIAS_LAST; }

void lock_identity(MotoCallLock& l, uint32_t source, uint32_t destination) {
  l.phase = MotoCallPhase::kOpen;
  l.source = source;
  l.destination = destination;
}

// Whether the datagram still belongs to the call the lock knows.
void follow_call(MotoCallLock& l, const MotoCallFacts& f) {
  switch (l.phase) {
    case MotoCallPhase::kOpen:
    case MotoCallPhase::kAwaitingLc:
      // A new stream every superframe is one over as long as the timestamp runs on.
      if (f.call_sequence != l.call_sequence && jumps(l, f.timestamp)) l.phase = MotoCallPhase::kNone;
      break;
    case MotoCallPhase::kEnded:
      l.phase = runs_on(l, f.timestamp) ? MotoCallPhase::kOpen : MotoCallPhase::kNone;
      break;
    case MotoCallPhase::kNone:
      break;
  }
}

}  // namespace

MotoCallVerdict moto_call_judge(const MotoCallLock& lock, const MotoCallFacts& f, int64_t now_ms) {
  MotoCallLock l = lock;
  if (now_ms - l.last_ms > MOTO_CALL_TIMEOUT_MS) {
    if (l.phase == MotoCallPhase::kOpen) l.phase = MotoCallPhase::kEnded;
    if (l.phase == MotoCallPhase::kAwaitingLc) l.phase = MotoCallPhase::kNone;
  }
  if (f.kind == MotoDatagramKind::kHeader)
    lock_identity(l, f.source, f.destination);
  else
    follow_call(l, f);

  // A late entry: burst E's link control tells the over's identity, or that
  // this superframe carries alias text, which must not cross as one.
  if (f.kind == MotoDatagramKind::kBurst && f.has_lc &&
      (l.phase == MotoCallPhase::kNone || l.phase == MotoCallPhase::kAwaitingLc)) {
    if (is_voice_lc(f))
      lock_identity(l, f.lc_source, f.lc_destination);
    else if (is_alias_lc(f))
      l.phase = MotoCallPhase::kAwaitingLc;
  }

  // Headers and terminators carry the real identity: a terminator without
  // a known call ends the call under its own.
  const bool terminator = f.kind == MotoDatagramKind::kTerminator;
  if (terminator && l.phase != MotoCallPhase::kOpen) lock_identity(l, f.source, f.destination);
  const bool locked = l.phase == MotoCallPhase::kOpen;
  MotoCallVerdict v{l.phase != MotoCallPhase::kAwaitingLc, locked ? l.source : f.source,
                    locked ? l.destination : f.destination, l};
  if (terminator) v.next.phase = MotoCallPhase::kEnded;
  v.next.call_sequence = f.call_sequence;
  v.next.timestamp = f.timestamp;
  v.next.last_ms = now_ms;
  return v;
}
