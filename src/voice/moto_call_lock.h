#pragma once
// Which over a datagram from the repeater belongs to, and under which
// identity it crosses to the network.
//
// Radios that send talker alias make current Motorola firmware start a new
// IPSC stream every superframe of one over: the call sequence byte rises,
// and on the superframes that carry the alias the datagram's own source and
// destination, and the link control in burst E, hold alias text. So an
// over's identity is taken once, from its voice header (or, on a late entry,
// from the first burst E with a voice channel user link control) and kept
// until its terminator or its time-out. A new call is a new voice header, or
// a timestamp that does not run on from the call before it.
//
// All of it is plain data, copied by value: one lock per timeslot.
#include <cstdint>

// Silence after which a call counts as ended without its terminator. A live
// over sends a datagram every 60 ms; two seconds is five lost superframes
// and the transmit time-out of the other direction, so both directions agree
// on when a silent call has ended.
constexpr int64_t MOTO_CALL_TIMEOUT_MS = 2000;
// How far the RTP timestamp (8 kHz) may run on between two datagrams of one
// call: the time-out's worth, so datagrams lost in between never split an
// over, while a timestamp that counts real time cannot run on across a
// time-out.
constexpr uint32_t MOTO_TIMESTAMP_WINDOW = 8 * MOTO_CALL_TIMEOUT_MS;

// Link-control opcodes of burst E (low six bits of byte 56).
constexpr uint8_t MOTO_FLCO_GROUP_VOICE = 0x00;
constexpr uint8_t MOTO_FLCO_UNIT_TO_UNIT_VOICE = 0x03;
constexpr uint8_t MOTO_FLCO_ALIAS_FIRST = 0x04;  // talker-alias header, then its blocks
constexpr uint8_t MOTO_FLCO_ALIAS_LAST = 0x08;

enum class MotoCallPhase : uint8_t {
  kNone,        // no call known: a datagram crosses under its own identity
  kOpen,        // the identity is locked
  kEnded,       // terminator or time-out: a datagram whose timestamp runs on still belongs to it
  kAwaitingLc,  // a late entry met alias text first: nothing crosses until a voice link control
};

struct MotoCallLock {
  MotoCallPhase phase = MotoCallPhase::kNone;
  uint32_t source = 0, destination = 0;
  uint8_t call_sequence = 0;  // of the datagram taken last
  uint32_t timestamp = 0;     // of the datagram taken last
  int64_t last_ms = 0;        // clock when the datagram taken last came
};

enum class MotoDatagramKind : uint8_t { kHeader, kTerminator, kBurst };

// What the lock reads of one datagram.
struct MotoCallFacts {
  MotoDatagramKind kind = MotoDatagramKind::kBurst;
  uint8_t call_sequence = 0;
  uint32_t timestamp = 0;
  uint32_t source = 0, destination = 0;  // the datagram's own, bytes 6..11
  bool has_lc = false;                   // burst E with its link control:
  uint8_t flco = 0;
  uint32_t lc_source = 0, lc_destination = 0;
};

struct MotoCallVerdict {
  bool forward;  // false: the datagram is held back (a late entry still waits)
  uint32_t source, destination;
  MotoCallLock next;  // the lock once the datagram is taken
};

// Judges one datagram at `now_ms` without changing `lock`; the caller keeps
// verdict.next once the datagram is taken (past the duplicate filter).
MotoCallVerdict moto_call_judge(const MotoCallLock& lock, const MotoCallFacts& facts, int64_t now_ms);
