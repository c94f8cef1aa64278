#include "call_checker.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "../common/ambe_silence.h"
#include "../common/frame_source.h"

namespace simrepeater {
namespace {

const char* kPositionNames = "ABCDEF";

// Position 0..5 of a burst datagram from its length, flag and fixed bytes; -1 if none fits.
int burst_position(const simipsc::Bytes& d) {
  using namespace simipsc::call;
  if (d.size() == simipsc::burst_length(0) + 10 && (d[kBurstFlag] & kBurstFlagA)) return 0;
  if (d.size() == simipsc::burst_length(4) + 10) return 4;
  if (d.size() != simipsc::burst_length(1) + 10) return -1;
  for (unsigned position : {1u, 2u, 3u, 5u})
    if (std::memcmp(&d[kBurstFixed], simipsc::burst_fixed_bytes(position), kBurstFixedLength) == 0)
      return static_cast<int>(position);
  return -1;
}

struct Grid {
  int64_t largest_us = 0;
  int over_80ms = 0;
  int64_t p99_jitter_us = 0;  // 99th percentile of |gap - 60 ms|
};

Grid grid_of(const std::vector<int64_t>& gaps) {
  Grid g;
  std::vector<int64_t> jitter;
  for (int64_t gap : gaps) {
    g.largest_us = std::max(g.largest_us, gap);
    if (gap > 80000) ++g.over_80ms;
    jitter.push_back(std::llabs(gap - 60000));
  }
  if (!jitter.empty()) {
    std::sort(jitter.begin(), jitter.end());
    g.p99_jitter_us =
        jitter[std::min(jitter.size() - 1, static_cast<size_t>(0.99 * static_cast<double>(jitter.size() - 1) + 0.5))];
  }
  return g;
}

}  // namespace

void CallChecker::problem(std::string& list, const std::string& what) {
  if (!list.empty()) list += ";";
  list += what;
}

void CallChecker::finish(Stream& st, int64_t t_us, bool terminated) {
  Call& call = st.call;
  if (!call.open) return;
  ++st.calls;
  const simipsc::CallFields& c = call.first;
  const Grid grid = grid_of(call.gaps_us);
  log_.say(
      "call from the bridge on timeslot %u %s: %s %u -> %u, call %u, %d header(s), %d bursts, %s, %d problem(s); "
      "largest gap %.1f ms, %d gap(s) over 80 ms, %d slot(s) filled with silence",
      st.slot, terminated ? "ended" : "cut short", c.opcode == simipsc::kPrivateVoice ? "private" : "group", c.source,
      c.destination, c.call_sequence, call.headers, call.bursts, terminated ? "terminator" : "no terminator",
      call.problems, static_cast<double>(grid.largest_us) / 1000.0, grid.over_80ms, call.filled);
  log_.event_at("moto_call_rx", t_us)
      .num("slot", st.slot)
      .num("src", c.source)
      .num("dst", c.destination)
      .flag("private", c.opcode == simipsc::kPrivateVoice)
      .num("call_seq", c.call_sequence)
      .num("headers", call.headers)
      .num("bursts", call.bursts)
      .flag("terminated", terminated)
      .num("problems", call.problems)
      .num("start_us", call.start_us)
      .num("filled", call.filled)
      .num("max_gap_us", grid.largest_us)
      .num("gaps_over_80ms", grid.over_80ms)
      .num("p99_jitter_us", grid.p99_jitter_us);
  call = Call{};
}

void CallChecker::check_prefix(Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, uint32_t bridge_id,
                               Seen& s) {
  using namespace simipsc::call;
  if (c.peer != bridge_id) problem(s.problems, "peer id");
  if (d[kPriority] != kPriorityValue || d[kRtpVersion] != kRtpVersionValue || c.burst_type == 0)
    problem(s.problems, "fixed bytes");
  if (st.have_timestamp && c.rtp_timestamp != st.last_timestamp + 480) problem(s.problems, "timestamp step");
  if (st.have_timestamp && static_cast<uint16_t>(c.rtp_sequence - st.last_sequence) == 0)
    problem(s.problems, "repeated sequence");
  st.have_timestamp = true;
  st.last_timestamp = c.rtp_timestamp;
  st.last_sequence = c.rtp_sequence;
}

// A header opens a call unless it repeats the one before it (no burst yet).
void CallChecker::take_header(Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, int64_t t_us,
                              Seen& s) {
  using namespace simipsc::call;
  s.kind = "header";
  Call& call = st.call;
  const bool first = !call.open || call.bursts > 0;
  if (first) {
    s.opened = true;
    finish(st, t_us, false);
    call.open = true;
    call.first = c;
    call.start_us = t_us;
    const uint8_t expected_seq = st.have_call_sequence ? static_cast<uint8_t>(st.last_call_sequence + 1) : 1;
    if (c.call_sequence != expected_seq) problem(s.problems, "call sequence");
    st.have_call_sequence = true;
    st.last_call_sequence = c.call_sequence;
  }
  if (d.size() != kHeaderLength) problem(s.problems, "header length");
  if (c.rtp_marker_type != (first ? kMarkerFirstHeader : kMarkerVoice)) problem(s.problems, "marker");
  if (d.size() >= kLcTail + 6 &&
      (simipsc::be24(&d[kLcDestination]) != c.destination || simipsc::be24(&d[kLcSource]) != c.source))
    problem(s.problems, "header ids");
  if (c.flags != simipsc::slot_flags(st.slot)) problem(s.problems, "flags");
  ++call.headers;
}

void CallChecker::take_burst(Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, int64_t t_us, Seen& s) {
  using namespace simipsc::call;
  s.kind = "burst";
  s.position = burst_position(d);
  Call& call = st.call;
  if (s.position < 0) {
    problem(s.problems, "burst layout");
  } else {
    const unsigned position = static_cast<unsigned>(s.position);
    if (d.size() != simipsc::burst_length(position) + 10) problem(s.problems, "burst length");
    if (d[kBurstLength] != simipsc::burst_length(position) - 32) problem(s.problems, "byte 31");
    if (call.open && s.position != call.expected_position) problem(s.problems, "burst order");
    call.expected_position = (s.position + 1) % 6;
    if (position == 4 &&
        (simipsc::be24(&d[kBurstEDestination]) != c.destination || simipsc::be24(&d[kBurstESource]) != c.source))
      problem(s.problems, "burst E ids");
    if (!simipsc::voice_padding_zero(&d[kVoiceField])) problem(s.problems, "padding bits");
  }
  if (c.rtp_marker_type != kMarkerVoice) problem(s.problems, "marker");
  if (c.flags != simipsc::slot_flags(st.slot)) problem(s.problems, "flags");
  ++call.bursts;
  if (!call.open) problem(s.problems, "burst without header");
  // The frames, and the grid on air: a slot the bridge had nothing for is
  // filled with silence.
  if (d.size() < kVoiceField + simipsc::VoiceField().size()) return;
  const auto voice = simipsc::unpack_voice(&d[kVoiceField]);
  for (const auto& v : voice) s.frames += simdmr::voice_hex(v);
  s.silence = std::all_of(voice.begin(), voice.end(), simdmr::is_silence);
  if (s.silence) ++call.filled;
  if (call.last_burst_us >= 0) call.gaps_us.push_back(t_us - call.last_burst_us);
  call.last_burst_us = t_us;
}

void CallChecker::take_terminator(const Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, Seen& s) {
  using namespace simipsc::call;
  s.kind = "terminator";
  if (d.size() != kTerminatorLength) problem(s.problems, "terminator length");
  if (c.rtp_marker_type != kMarkerEnd) problem(s.problems, "marker");
  if (c.flags != (simipsc::slot_flags(st.slot) | kFlagsEnd)) problem(s.problems, "flags");
  if (d.size() >= kLcTail + 4 &&
      (simipsc::be24(&d[kLcDestination]) != c.destination || simipsc::be24(&d[kLcSource]) != c.source))
    problem(s.problems, "terminator ids");
  s.ended = true;
}

// Bursts and terminator carry the fields of the header that opened the call.
void CallChecker::check_same_call(const Stream& st, const simipsc::CallFields& c, Seen& s) {
  if (!st.call.open || s.kind == "header") return;
  const simipsc::CallFields& f = st.call.first;
  if (c.opcode != f.opcode || c.source != f.source || c.destination != f.destination ||
      c.call_sequence != f.call_sequence || std::memcmp(c.tag, f.tag, 4) != 0)
    problem(s.problems, "call fields changed");
}

void CallChecker::record(Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, int64_t t_us,
                         const Seen& s) {
  ++st.call.datagrams;
  if (!s.problems.empty()) {
    ++st.call.problems;
    ++problems_total_;
    log_.say("voice datagram seq %u on timeslot %u (%s, %zu bytes): %s", c.rtp_sequence, st.slot, s.kind.c_str(),
             d.size(), s.problems.c_str());
  }
  auto e = log_.event_at("moto_voice_rx", t_us);
  e.str("kind", s.kind).num("slot", st.slot).num("seq", c.rtp_sequence).num("len", static_cast<int64_t>(d.size()));
  e.num("call_seq", c.call_sequence).num("marker", c.rtp_marker_type).num("ts", c.rtp_timestamp);
  e.num("src", c.source).num("dst", c.destination).flag("private", c.opcode == simipsc::kPrivateVoice);
  if (s.position >= 0) e.str("pos", std::string(1, kPositionNames[s.position]));
  if (!s.frames.empty()) e.str("frames", s.frames);
  if (s.silence) e.flag("silence", true);
  e.str("problems", s.problems);
}

CallChecker::Took CallChecker::take(const simipsc::Bytes& d, int64_t t_us, uint32_t bridge_id) {
  Seen s;
  const simipsc::CallFields c = simipsc::parse_call(d);
  if (!simipsc::signature_valid(d, key_)) problem(s.problems, "signature");
  if (d.size() < simipsc::call::kPrefixLength) {
    problem(s.problems, "short");
    log_.event_at("moto_voice_rx", t_us).num("len", static_cast<int64_t>(d.size())).str("problems", s.problems);
    ++problems_total_;
    return Took::kNothing;
  }
  Stream& st = slots_[simipsc::slot_of_flags(c.flags)];
  check_prefix(st, d, c, bridge_id, s);
  switch (d[simipsc::call::kBurstType] & simipsc::call::kBurstTypeMask) {
    case simipsc::kVoiceHeader:
      take_header(st, d, c, t_us, s);
      break;
    case simipsc::kVoiceBurst:
      take_burst(st, d, c, t_us, s);
      break;
    case simipsc::kVoiceTerminator:
      take_terminator(st, d, c, s);
      break;
    default:
      problem(s.problems, "burst type");
  }
  check_same_call(st, c, s);
  record(st, d, c, t_us, s);
  if (s.ended) {
    if (!st.call.open) {
      st.call.open = true;
      st.call.first = c;
      st.call.start_us = t_us;
    }
    finish(st, t_us, true);
  }
  return s.ended ? Took::kEnded : s.opened ? Took::kOpened : Took::kNothing;
}

}  // namespace simrepeater
