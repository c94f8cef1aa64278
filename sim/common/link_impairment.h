#pragma once
// What an internet link does to the voice packets a network master sends:
// a random delay from a chosen distribution, a long tail of late packets,
// loss (single or in runs) and pairs that swap places. Seeded, so a run can
// be repeated; bounded, so no packet is held longer than kMaxDelayMs.
//
// A link is written as words key=value, separated by spaces or commas:
//   delay=uniform:MIN:MAX | delay=normal:MEAN:SD | delay=exp:MEAN | delay=fixed:MS
//   late=P%:MS      P percent of the packets come MS later still
//   loss=P%         P percent of the packets start a loss
//   loss_run=N      each loss takes N packets in a row (default 1)
//   reorder=P%      P percent of the packets swap places with the next one
// All times in milliseconds. "off" or an empty text is a clean link.
#include <cstdint>
#include <string>
#include <vector>

#include "xorshift.h"

namespace simlink {

constexpr double kMaxDelayMs = 2000;

struct Link {
  enum class Delay { kNone, kFixed, kUniform, kNormal, kExponential };
  Delay delay = Delay::kNone;
  double a_ms = 0, b_ms = 0;  // fixed: a; uniform: a..b; normal: mean a, deviation b; exp: mean a
  double late_share = 0, late_ms = 0;
  double loss_share = 0;
  int loss_run = 1;
  double reorder_share = 0;
  bool impaired() const { return delay != Delay::kNone || late_share > 0 || loss_share > 0 || reorder_share > 0; }
};

// False with the reason in *error for a word it does not know or a value out
// of range (shares 0..100 %, times 0..kMaxDelayMs, runs 1..50).
bool parse(const std::string& text, Link& out, std::string* error);
// Each word of the link's parsed form, for records.
std::string describe(const Link& link);

// The fate of one packet: dropped, or sent delay_us after its nominal time.
struct Fate {
  bool lost = false;
  int64_t delay_us = 0;
};

// Fates of `count` packets sent `gap_us` apart, in order, from one seed.
std::vector<Fate> impair(const Link& link, size_t count, int64_t gap_us, uint32_t seed);

}  // namespace simlink
