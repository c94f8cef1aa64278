// The jitter buffer against streams shaped as real masters send them: a
// clock that runs slow or fast, sequence jumps, talkers back to back, stray
// bursts after a call, a bridge that stalls, calls longer than 16-bit slot
// numbers hold; each in fixed and auto mode where it applies.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/grid_bench.h"

namespace {

using gridtest::Arrival;
using gridtest::GridBench;
using gridtest::Played;
using gridtest::Sent;
using gridtest::Talk;
using voicetest::Bytes;

const voicetest::Call kTalkerA{1001, 9, false, true};
const voicetest::Call kTalkerB{1002, 9, false, true};

int lead_of(const std::string& log, int call) {
  const std::string head = " Jitter buffer " + std::to_string(call) + " start: lead ";
  const size_t at = log.find(head);
  return at == std::string::npos ? -1 : std::atoi(log.c_str() + at + head.size());
}

// What one call looked like on air, from its header to its terminator.
struct OnAir {
  int headers = 0, terminators = 0, voice = 0;
  long long largest_gap_ms = 0, closest_ms = 1000000;
  int longest_silence = 0;  // slots in a row
  bool continuous = true;   // RTP sequence +1, timestamp +480, same call number and tag throughout
};

OnAir on_air(const std::vector<Sent>& sent, size_t from = 0, size_t to = SIZE_MAX) {
  OnAir a;
  int silence_run = 0;
  to = std::min(to, sent.size());
  for (size_t i = from; i < to; ++i) {
    const Bytes& d = sent[i].d;
    a.headers += d.size() == 66;
    a.terminators += d.size() == 64;
    if (gridtest::is_voice(d)) {
      ++a.voice;
      silence_run = gridtest::is_silence(d) ? silence_run + 1 : 0;
      a.longest_silence = std::max(a.longest_silence, silence_run);
    }
    if (i == from) continue;
    const Bytes& b = sent[i - 1].d;
    if (b.size() != 66) a.largest_gap_ms = std::max(a.largest_gap_ms, sent[i].at_ms - sent[i - 1].at_ms);
    a.closest_ms = std::min(a.closest_ms, sent[i].at_ms - sent[i - 1].at_ms);
    if (gridtest::rtp_sequence(d) != static_cast<uint16_t>(gridtest::rtp_sequence(b) + 1) ||
        gridtest::rtp_time(d) != gridtest::rtp_time(b) + 480u || d[5] != b[5] ||
        Bytes(d.begin() + 13, d.begin() + 17) != Bytes(b.begin() + 13, b.begin() + 17))
      a.continuous = false;
  }
  return a;
}

int given_up(const std::vector<int>& where) { return static_cast<int>(std::count(where.begin(), where.end(), -1)); }

TEST(GridFollowsTheMaster, SlowAndFastSendersOver400Bursts) {
  const struct {
    long long gap_us;
    int32_t mode;
    long long jitter_us;  // uniform delay on the way, inside the lead
    bool moves;
    unsigned seed = 1;
  } cases[] = {
      {60400, 120, 0, true},
      {59500, 120, 0, true},
      {60400, 40, 0, true},  // a short lead
      {60400, JITTER_BUFFER_AUTO, 0, true},
      {59500, JITTER_BUFFER_AUTO, 0, true},
      {60000, 120, 100000, false},
      {60000, 120, 100000, false, 2},  // jitter within the lead, over other runs
      {60000, 120, 100000, false, 3},
      {60000, 120, 100000, false, 4},
      {60000, 120, 100000, false, 5},
      {60000, 120, 100000, false, 6},
      {60000, 120, 100000, false, 7},
      {60000, 120, 100000, false, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.gap_us) + " us, mode " + std::to_string(c.mode) + ", run " + std::to_string(c.seed));
    GridBench b(c.mode);
    std::mt19937 rng(31 * c.seed);
    std::uniform_int_distribution<long long> delay(0, c.jitter_us);
    std::vector<long long> delays;
    for (int n = 0; n < 400; ++n) delays.push_back(c.jitter_us ? delay(rng) : 0);
    const Talk t{kTalkerA, 1, 400, 0, c.gap_us};
    const Played p = gridtest::play_talk(
        t, rng, [](int, uint16_t s) { return s; }, [&](int n) { return delays[n]; });
    b.play(p.arrivals, p.end_at_us + 2000000);

    const std::vector<int> where = gridtest::on_air_index(p, b.sent);
    EXPECT_LE(given_up(where), c.moves ? 8 : 0);  // 2 %
    const OnAir a = on_air(b.sent);
    EXPECT_EQ(a.terminators, 1);
    EXPECT_LE(a.largest_gap_ms, 130);
    EXPECT_TRUE(a.continuous);
    const gridtest::EndLine e = gridtest::end_line(b.log, 1);
    EXPECT_EQ(e.slipped > 0, c.moves) << b.log;
    if (c.jitter_us) continue;
    // The next call, numbered on from this one's end, never repeats an RTP
    // sequence number of the slots this one put in.
    const size_t before = b.sent.size();
    b.play(gridtest::play_talk(Talk{kTalkerA, 403, 6, p.end_at_us + 3000000}, rng).arrivals, p.end_at_us + 5000000);
    ASSERT_GT(b.sent.size(), before);
    EXPECT_EQ(gridtest::rtp_sequence(b.sent[before].d),
              std::max<uint16_t>(403, static_cast<uint16_t>(gridtest::rtp_sequence(b.sent[before - 1].d) + 1)));
    const int lead = lead_of(b.log, 1);
    for (size_t n = 0; n < where.size(); ++n)
      if (where[n] >= 0) {
        const long long added = b.sent[where[n]].at_ms - p.burst_at_us[n] / 1000;
        EXPECT_GE(added, lead - 60) << "burst " << n;
        EXPECT_LE(added, lead + 60) << "burst " << n;
      }
  }
}

TEST(GridFollowsTheMaster, SequenceJumpsStartANewStretchOfTheSameCall) {
  const struct {
    int at_burst;
    int jump;  // added to the number; negative: back
    uint16_t first;
    int32_t mode;
  } cases[] = {
      {100, 1000, 1, 120},
      {100, -101, 1, 120},
      {10, -11, 1, 120},
      {60, 1000, 1, JITTER_BUFFER_AUTO},
      {60, -30000, 30000, JITTER_BUFFER_AUTO},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.jump) + " at burst " + std::to_string(c.at_burst));
    GridBench b(c.mode);
    std::mt19937 rng(12);
    const Talk t{kTalkerA, c.first, 200, 0};
    const Played p = gridtest::play_talk(
        t, rng, [&](int n, uint16_t s) { return n == c.at_burst ? static_cast<uint16_t>(s + c.jump) : s; },
        [&](int n) { return n >= c.at_burst ? 2000LL : 0LL; });  // the new stream a little behind the old
    b.play(p.arrivals, p.end_at_us + 2000000);

    const std::vector<int> where = gridtest::on_air_index(p, b.sent);
    EXPECT_LE(given_up(where), 3);
    // A master that only renumbered keeps the call's delay.
    const int lead = lead_of(b.log, 1);
    for (size_t n = static_cast<size_t>(c.at_burst); n < where.size(); ++n)
      if (where[n] >= 0) {
        EXPECT_LE(b.sent[where[n]].at_ms - p.burst_at_us[n] / 1000, lead + 30) << n;
      }
    const OnAir a = on_air(b.sent);
    EXPECT_EQ(a.headers, 1);
    EXPECT_EQ(a.terminators, 1);
    EXPECT_LE(a.longest_silence, 3);  // 180 ms
    EXPECT_TRUE(a.continuous);
    EXPECT_EQ(gridtest::end_line(b.log, 1).re_anchored, 1) << b.log;
    if (c.mode != JITTER_BUFFER_AUTO) continue;
    // The stretch after the jump tells auto nothing about the link.
    b.play(gridtest::play_talk(Talk{kTalkerA, 500, 20, p.end_at_us + 3000000}, rng).arrivals, p.end_at_us + 6000000);
    EXPECT_EQ(lead_of(b.log, 2), 20);
  }
}

TEST(GridFollowsTheMaster, BackToBackCallsLeaveWholeOneAfterTheOther) {
  const struct {
    voicetest::Call second;
    bool first_terminated;
  } cases[] = {{kTalkerB, true}, {kTalkerA, true}, {voicetest::Call{1001, 10, false, true}, false}};
  for (int32_t mode : {120, JITTER_BUFFER_AUTO})
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.second.source) + (c.first_terminated ? "" : ", no terminator"));
      GridBench b(mode);
      std::mt19937 rng(4);
      Talk first{kTalkerA, 1, 30, 0};
      first.terminator = c.first_terminated;
      const Played pa = gridtest::play_talk(first, rng);
      // The second talker keys up 40 ms after the first one's end.
      const Played pb = gridtest::play_talk(Talk{c.second, 40, 30, pa.end_at_us + 40000}, rng);
      std::vector<Arrival> all = pa.arrivals;
      all.insert(all.end(), pb.arrivals.begin(), pb.arrivals.end());
      b.play(all, pb.end_at_us + 2000000);

      const std::vector<int> wa = gridtest::on_air_index(pa, b.sent), wb = gridtest::on_air_index(pb, b.sent);
      EXPECT_EQ(given_up(wa) + given_up(wb), 0) << b.log;
      ASSERT_EQ(on_air(b.sent).headers, 2);
      ASSERT_EQ(on_air(b.sent).terminators, 2);
      size_t second_header = 1;
      while (b.sent[second_header].d.size() != 66) ++second_header;
      const OnAir a = on_air(b.sent, 0, second_header), bb = on_air(b.sent, second_header);
      EXPECT_TRUE(a.continuous && bb.continuous);
      EXPECT_EQ(b.sent[0].d[19], 0xDD);
      EXPECT_EQ(b.sent[second_header].d[19], 0xDD);
      EXPECT_EQ(b.sent[second_header].d[5], 2);
      EXPECT_NE(Bytes(b.sent[0].d.begin() + 13, b.sent[0].d.begin() + 17),
                Bytes(b.sent[second_header].d.begin() + 13, b.sent[second_header].d.begin() + 17));
      EXPECT_GE(b.sent[second_header].at_ms - b.sent[second_header - 1].at_ms, 60);
      EXPECT_LT(wa.back(), static_cast<int>(second_header));
      EXPECT_FALSE(b.logged("Doubling"));
      EXPECT_TRUE(b.logged(" PTT ON 2\n"));
      EXPECT_EQ(gridtest::end_line(b.log, 2).bursts, 30);
    }
}

TEST(GridFollowsTheMaster, StrayBurstsDoNotKeyTheRepeaterAndALateJoinNeedsTwo) {
  const voicetest::Call other{3003, 7, false, true};
  const struct {
    voicetest::Call call;
    int from_end;  // sequence against the ended call's terminator
    std::vector<unsigned> positions;
    bool keys;
  } cases[] = {
      {kTalkerA, -1, {6}, false},   // a copy of its last burst F
      {kTalkerA, -4, {3}, false},   // a copy of a burst C near its end
      {other, 100, {6}, false},     // one burst F of another call
      {other, 100, {6, 1}, true},   // F and A of another call: a late join
      {kTalkerA, 7, {6, 1}, true},  // the same talker again, its header lost
  };
  for (int32_t mode : {120, JITTER_BUFFER_AUTO})
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.call.source) + " " + std::to_string(c.from_end));
      GridBench b(mode);
      std::mt19937 rng(8);
      const Played p = gridtest::play_talk(Talk{kTalkerA, 1, 24, 0}, rng);
      std::vector<Arrival> all = p.arrivals;
      const uint16_t end_sequence = 1 + 1 + 24;
      for (size_t i = 0; i < c.positions.size(); ++i)
        all.push_back({p.end_at_us + 1000000 + 60000 * static_cast<long long>(i),
                       voicetest::hytera_burst(c.call, static_cast<uint16_t>(end_sequence + c.from_end + i),
                                               c.positions[i], voicetest::random_burst(rng))});
      b.play(all, p.end_at_us + 3000000);
      size_t end = 0;
      while (b.sent[end].d.size() != 64) ++end;
      EXPECT_EQ(b.sent.size() > end + 1, c.keys) << b.log;
      EXPECT_EQ(b.logged(" PTT ON without START 2\n"), c.keys);
    }
}

TEST(GridFollowsTheMaster, AfterAStallNothingLeavesInABunch) {
  for (int32_t mode : {120, JITTER_BUFFER_AUTO}) {
    GridBench b(mode);
    std::mt19937 rng(6);
    const Played p = gridtest::play_talk(Talk{kTalkerA, 1, 100, 0}, rng);
    // The thread sleeps through every deadline for 400 ms mid-call.
    b.play(p.arrivals, p.end_at_us + 2000000, 3000000, 3400000);
    const OnAir a = on_air(b.sent);
    EXPECT_GE(a.closest_ms, 30);
    EXPECT_TRUE(a.continuous);
    EXPECT_EQ(a.terminators, 1);
    const gridtest::EndLine e = gridtest::end_line(b.log, 1);
    EXPECT_GE(e.skipped, 5) << b.log;
    EXPECT_GE(e.bursts, 85);
    EXPECT_GE(gridtest::on_air_index(p, b.sent).back(), 0);
  }
}

TEST(GridFollowsTheMaster, ACallOf40000BurstsKeepsItsGrid) {
  GridBench b(120);
  std::mt19937 rng(40);
  // Numbered across the 16-bit wrap, too.
  const Played p = gridtest::play_talk(Talk{kTalkerA, 60000, 40000, 0}, rng);
  b.play(p.arrivals, p.end_at_us + 1000000);
  const gridtest::EndLine e = gridtest::end_line(b.log, 1);
  EXPECT_EQ(e.bursts, 40000) << b.log.substr(0, 2000);
  EXPECT_EQ(e.filled, 0);
  EXPECT_EQ(e.slipped, 0);
  const std::vector<int> where = gridtest::on_air_index(p, b.sent);
  EXPECT_EQ(given_up(where), 0);
  EXPECT_EQ(b.sent[where.back()].at_ms, p.burst_at_us.back() / 1000 + 120);
  EXPECT_TRUE(on_air(b.sent).continuous);
}

// A burst numbered exactly a window (64 slots) ahead of the next slot to
// leave shares its ring entry: it must neither overwrite the burst waiting
// there nor be taken. One number less is taken.
TEST(GridFollowsTheMaster, ABurstAtTheWindowsFarEdgeIsNotTaken) {
  for (int ahead : {63, 64}) {
    GridBench b(120);
    std::mt19937 rng(2);
    const voicetest::BurstFrames first = voicetest::random_burst(rng), far = voicetest::random_burst(rng);
    std::vector<Arrival> all = {{0, voicetest::hytera_header(kTalkerA, 1)},
                                {60000, voicetest::hytera_burst(kTalkerA, 2, 1, first)},
                                {70000, voicetest::hytera_burst(kTalkerA, static_cast<uint16_t>(2 + ahead),
                                                                1 + static_cast<unsigned>(ahead % 6), far)}};
    b.play(all, 60000 + 120000 + 65 * 60000);
    ASSERT_GE(b.sent.size(), 2u);
    EXPECT_EQ(voicetest::moto_frames(b.sent[1].d), first) << ahead;
    bool far_on_air = false;
    for (const Sent& s : b.sent) far_on_air |= gridtest::is_voice(s.d) && voicetest::moto_frames(s.d) == far;
    EXPECT_EQ(far_on_air, ahead == 63);
  }
}

TEST(GridFollowsTheMaster, AFilledBurstECarriesTheCallsDestinationAndSource) {
  GridBench b(120);
  std::mt19937 rng(3);
  const voicetest::Call call{0x0A0B0C, 0x123456, false, true};
  const Played p = gridtest::play_talk(Talk{call, 1, 6, 0}, rng);
  std::vector<Arrival> all;
  for (const Arrival& a : p.arrivals)
    if (a.d[18] != HYT_FT_BURST_E) all.push_back(a);
  b.play(all, p.end_at_us + 1000000);
  ASSERT_EQ(b.sent.size(), 8u);
  const Bytes& e = b.sent[5].d;
  ASSERT_EQ(e.size(), 76u);
  EXPECT_TRUE(gridtest::is_silence(e));
  EXPECT_EQ(Bytes(e.begin() + 59, e.begin() + 65), Bytes({0x12, 0x34, 0x56, 0x0A, 0x0B, 0x0C}));
}

}  // namespace
