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
  if (d.size() == 62 && (d[32] & 0x40)) return 0;
  if (d.size() == 76) return 4;
  if (d.size() != 67) return -1;
  static const uint8_t fixed[4][5] = {{0x05, 0x03, 0x0A, 0x03, 0x12}, {0x03, 0x0A, 0x00, 0x00, 0x16},
                                      {0x0F, 0x06, 0x35, 0x0A, 0x16}, {0x00, 0x00, 0x00, 0x00, 0x10}};
  static const int positions[4] = {1, 2, 3, 5};
  for (int i = 0; i < 4; ++i)
    if (std::memcmp(&d[52], fixed[i], 5) == 0) return positions[i];
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
    g.p99_jitter_us = jitter[std::min(jitter.size() - 1, static_cast<size_t>(0.99 * static_cast<double>(jitter.size() - 1) + 0.5))];
  }
  return g;
}

}  // namespace

void CallChecker::problem(std::string& list, const std::string& what) {
  if (!list.empty()) list += ";";
  list += what;
}

void CallChecker::finish(int64_t t_us, bool terminated) {
  if (!call_.open) return;
  ++calls_;
  const simipsc::CallFields& c = call_.first;
  const Grid grid = grid_of(call_.gaps_us);
  log_.say("call from the bridge %s: %s %u -> %u, call %u, %d header(s), %d bursts, %s, %d problem(s); "
           "largest gap %.1f ms, %d gap(s) over 80 ms, %d slot(s) filled with silence",
           terminated ? "ended" : "cut short", c.opcode == simipsc::kPrivateVoice ? "private" : "group",
           c.source, c.destination, c.call_sequence, call_.headers, call_.bursts,
           terminated ? "terminator" : "no terminator", call_.problems, static_cast<double>(grid.largest_us) / 1000.0,
           grid.over_80ms, call_.filled);
  log_.event_at("moto_call_rx", t_us)
      .num("src", c.source)
      .num("dst", c.destination)
      .flag("private", c.opcode == simipsc::kPrivateVoice)
      .num("call_seq", c.call_sequence)
      .num("headers", call_.headers)
      .num("bursts", call_.bursts)
      .flag("terminated", terminated)
      .num("problems", call_.problems)
      .num("start_us", call_.start_us)
      .num("filled", call_.filled)
      .num("max_gap_us", grid.largest_us)
      .num("gaps_over_80ms", grid.over_80ms)
      .num("p99_jitter_us", grid.p99_jitter_us);
  call_ = Call{};
}

bool CallChecker::take(const simipsc::Bytes& d, int64_t t_us, uint32_t bridge_id) {
  std::string problems;
  const simipsc::CallFields c = simipsc::parse_call(d);
  if (!simipsc::signature_valid(d, key_)) problem(problems, "signature");
  if (d.size() < 31) {
    problem(problems, "short");
    log_.event_at("moto_voice_rx", t_us).num("len", static_cast<int64_t>(d.size())).str("problems", problems);
    ++problems_total_;
    return false;
  }
  if (c.peer != bridge_id) problem(problems, "peer id");
  if (d[12] != 0x02 || d[18] != 0x80 || c.burst_type == 0) problem(problems, "fixed bytes");
  if (have_timestamp_ && c.rtp_timestamp != last_timestamp_ + 480) problem(problems, "timestamp step");
  if (have_timestamp_ && static_cast<uint16_t>(c.rtp_sequence - last_sequence_) == 0) problem(problems, "repeated sequence");
  have_timestamp_ = true;
  last_timestamp_ = c.rtp_timestamp;
  last_sequence_ = c.rtp_sequence;

  const uint8_t type = d[30] & 0x3F;
  std::string kind = "other";
  int position = -1;
  bool ended = false;
  if (type == simipsc::kVoiceHeader) {
    kind = "header";
    const bool first = !call_.open || call_.bursts > 0;
    if (first) {
      finish(t_us, false);
      call_.open = true;
      call_.first = c;
      call_.start_us = t_us;
      const uint8_t expected_seq = have_call_sequence_ ? static_cast<uint8_t>(last_call_sequence_ + 1) : 1;
      if (c.call_sequence != expected_seq) problem(problems, "call sequence");
      have_call_sequence_ = true;
      last_call_sequence_ = c.call_sequence;
    }
    if (d.size() != 66) problem(problems, "header length");
    if (c.rtp_marker_type != (first ? 0xDD : 0x5D)) problem(problems, "marker");
    if (d.size() >= 56 && (simipsc::be24(&d[41]) != c.destination || simipsc::be24(&d[44]) != c.source))
      problem(problems, "header ids");
    if (c.flags != 0x20) problem(problems, "flags");
    ++call_.headers;
  } else if (type == simipsc::kVoiceBurst) {
    kind = "burst";
    position = burst_position(d);
    if (position < 0) {
      problem(problems, "burst layout");
    } else {
      if (d.size() != simipsc::burst_length(static_cast<unsigned>(position)) + 10) problem(problems, "burst length");
      if (d[31] != simipsc::burst_length(static_cast<unsigned>(position)) - 32) problem(problems, "byte 31");
      if (call_.open && position != call_.expected_position) problem(problems, "burst order");
      call_.expected_position = (position + 1) % 6;
      if (position == 4 && (simipsc::be24(&d[59]) != c.destination || simipsc::be24(&d[62]) != c.source))
        problem(problems, "burst E ids");
      if (!simipsc::voice_padding_zero(&d[33])) problem(problems, "padding bits");
    }
    if (c.rtp_marker_type != 0x5D) problem(problems, "marker");
    if (c.flags != 0x20) problem(problems, "flags");
    ++call_.bursts;
  } else if (type == simipsc::kVoiceTerminator) {
    kind = "terminator";
    if (d.size() != 64) problem(problems, "terminator length");
    if (c.rtp_marker_type != 0x5E) problem(problems, "marker");
    if (c.flags != 0x60) problem(problems, "flags");
    if (d.size() >= 54 && (simipsc::be24(&d[41]) != c.destination || simipsc::be24(&d[44]) != c.source))
      problem(problems, "terminator ids");
    ended = true;
  } else {
    problem(problems, "burst type");
  }
  if (call_.open && kind != "header") {
    const simipsc::CallFields& f = call_.first;
    if (c.opcode != f.opcode || c.source != f.source || c.destination != f.destination ||
        c.call_sequence != f.call_sequence || std::memcmp(c.tag, f.tag, 4) != 0)
      problem(problems, "call fields changed");
  }
  if (!call_.open && kind == "burst") problem(problems, "burst without header");

  std::string frames;
  bool silence = false;
  if (kind == "burst" && d.size() >= 52) {
    const auto voice = simipsc::unpack_voice(&d[33]);
    for (const auto& v : voice) frames += simdmr::voice_hex(v);
    silence = std::all_of(voice.begin(), voice.end(), simdmr::is_silence);
    if (silence) ++call_.filled;
    if (call_.last_burst_us >= 0) call_.gaps_us.push_back(t_us - call_.last_burst_us);
    call_.last_burst_us = t_us;
  }
  ++call_.datagrams;
  if (!problems.empty()) {
    ++call_.problems;
    ++problems_total_;
    log_.say("voice datagram seq %u (%s, %zu bytes): %s", c.rtp_sequence, kind.c_str(), d.size(), problems.c_str());
  }
  {
    auto e = log_.event_at("moto_voice_rx", t_us);
    e.str("kind", kind).num("seq", c.rtp_sequence).num("len", static_cast<int64_t>(d.size()));
    e.num("call_seq", c.call_sequence).num("marker", c.rtp_marker_type).num("ts", c.rtp_timestamp);
    e.num("src", c.source).num("dst", c.destination).flag("private", c.opcode == simipsc::kPrivateVoice);
    if (position >= 0) e.str("pos", std::string(1, kPositionNames[position]));
    if (!frames.empty()) e.str("frames", frames);
    if (silence) e.flag("silence", true);
    e.str("problems", problems);
  }
  if (ended) {
    if (!call_.open) {
      call_.open = true;
      call_.first = c;
      call_.start_us = t_us;
    }
    finish(t_us, true);
  }
  return ended;
}

}  // namespace simrepeater
