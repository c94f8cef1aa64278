// Timeslot 1 from the network: with Timeslots=1 or 1,2 a call on timeslot 1
// reaches the repeater exactly as on timeslot 2 but for byte 17 and the log
// lines that say the slot; calls on both slots at once, unbuffered or on the
// jitter buffer, come out as if each had been alone, each slot numbering,
// timing, pacing and estimating its own lead. Without the key timeslot 1 is
// only logged.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/grid_bench.h"

namespace {

using gridtest::Arrival;
using gridtest::GridBench;
using gridtest::Sent;
using voicetest::Bytes;
using voicetest::Call;

constexpr uint8_t kBoth = TIMESLOT_1_BIT | TIMESLOT_2_BIT;

unsigned slot_of(const Bytes& d) { return (d[MOTO_OFS_CALL_FLAGS] & MOTO_FLAG_SLOT2) ? 2 : 1; }

bool signed_ok(const Bytes& d) {
  unsigned char digest[20];
  unsigned int len = 0;
  HMAC(EVP_sha1(), gridtest::kKey, sizeof gridtest::kKey, d.data(), d.size() - 10, digest, &len);
  return Bytes(d.end() - 10, d.end()) == Bytes(digest, digest + 10);
}

// The call tag, and so the trailer, depend on the second the call keyed up
// in; everything else must match.
Bytes masked(Bytes d) {
  std::fill(d.begin() + MOTO_OFS_CALL_TAG, d.begin() + MOTO_OFS_CALL_TAG + 4, 0);
  d.resize(d.size() - MOTO_TRAILER_LEN);
  return d;
}

struct Outcome {
  std::vector<Sent> sent;
  std::string log;
};

Outcome run(int32_t mode, uint8_t slots, const std::vector<Arrival>& arrivals, long long until_us) {
  GridBench b(mode);
  Timeslots = slots;
  b.play(arrivals, until_us);
  Timeslots = TIMESLOTS_DEFAULT;
  return {b.sent, b.log};
}

std::vector<Sent> on_slot(const std::vector<Sent>& sent, unsigned slot) {
  std::vector<Sent> out;
  for (const Sent& s : sent)
    if (slot_of(s.d) == slot) out.push_back(s);
  return out;
}

// The lines of a slot's calls, without their time text.
std::vector<std::string> lines_of(const std::string& log, unsigned slot) {
  static const std::regex time_text("^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}");
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    const bool one = line.find("slot:1") != std::string::npos || line.find("SLOT=1 ") != std::string::npos ||
                     line.find("SLOT 1 ") != std::string::npos;
    if (line.empty() || line[0] == '_' || one != (slot == 1)) continue;
    out.push_back(std::regex_replace(line, time_text, "<ts>"));
  }
  return out;
}

Bytes with_frame_errors(Bytes p) {
  // Four errors in the A word of frame 2 (W23..W20 at frame bits 0, 4, 8, 12).
  for (unsigned int bit : {0u, 4u, 8u, 12u}) {
    const unsigned int k = hyt_ambe_burst_bit(1, bit);
    p[hyt_burst_offset(k / 8)] ^= static_cast<unsigned char>(0x80u >> (k % 8));
  }
  return p;
}

TEST(TimeslotNetworkSide, Timeslot1CarriesItsSlotInEveryDatagramAndLine) {
  std::mt19937 rng(3);
  std::vector<voicetest::BurstFrames> f;
  for (int i = 0; i < 6; ++i) f.push_back(voicetest::random_burst(rng));
  auto scenario = [&](unsigned slot) {
    const Call talker{2620001, 9, false, slot == 2}, other{2620099, 9, false, slot == 2};
    auto ms = [](long long at) { return at * 1000; };
    return std::vector<Arrival>{
        {ms(0), voicetest::hytera_header(talker, 1)},
        {ms(10), voicetest::hytera_header(talker, 1)},
        {ms(20), voicetest::hytera_header(talker, 3)},
        {ms(120), voicetest::hytera_burst(talker, 5, 1, f[0])},
        {ms(180), with_frame_errors(voicetest::hytera_burst(talker, 6, 2, f[1]))},
        {ms(240), voicetest::hytera_burst(other, 7, 3, f[2])},
        {ms(300), voicetest::hytera_burst(talker, 7, 3, f[3])},
        {ms(360), voicetest::hytera_end(talker, 8)},
        {ms(1000), voicetest::hytera_burst(talker, 20, 6, f[4])},
        {ms(1060), voicetest::hytera_burst(talker, 21, 1, f[5])},
        {ms(5000), Bytes{'A'}},
    };
  };
  const struct {
    const char* line;
    const char* end;
  } lines[] = {
      {" PTT ON 1", "\n"},         {"O_err: 1 1", "\n"},
      {"F_err: 1 3", "\n"},        {" add delay: 39000us to pacnum: 3", "\n"},
      {"Ferr: 3 5", "\n"},         {"AMBE 2, Err_A = 4 Err_B = 3", "\r\n"},
      {"BER : 4.964539%", "\r\n"}, {"Doubling DMR-IDs: 2620001 2620099 in 7/-1", "\r\n"},
      {" PTT OFF 1", "\n"},        {" PTT ON without START 2", "\n"},
      {" TX TIMEOUT 2", "\n"},
  };
  const Outcome reference = run(JITTER_BUFFER_OFF, TIMESLOTS_DEFAULT, scenario(2), 6000000);
  ASSERT_EQ(reference.sent.size(), 8u) << reference.log;
  EXPECT_EQ(reference.log.find("slot:"), std::string::npos);

  const struct {
    uint8_t slots;
    unsigned slot;
    bool relayed;
  } cases[] = {
      {kBoth, 2, true},           {kBoth, 1, true}, {TIMESLOT_1_BIT, 1, true}, {TIMESLOTS_DEFAULT, 1, false},
      {TIMESLOT_1_BIT, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.slots) + " slot " + std::to_string(c.slot));
    const Outcome r = run(JITTER_BUFFER_OFF, c.slots, scenario(c.slot), 6000000);
    const std::string rx = " RX SLOT=" + std::to_string(c.slot) + " DST_ID=9 SRC_ID=2620001 TYPE=Voice\n";
    EXPECT_NE(r.log.find(rx), std::string::npos);
    EXPECT_NE(r.log.find(" VOICE RX SLOT " + std::to_string(c.slot) + " END USER_ID=2620001 \n"), std::string::npos);
    const std::string suffix = c.slot == 1 ? " slot:1" : "";
    for (const auto& l : lines) {
      const size_t at = r.log.find(c.relayed ? l.line + suffix + l.end : std::string(l.line));
      EXPECT_EQ(at != std::string::npos, c.relayed) << l.line << "\n" << r.log;
    }
    if (!c.relayed) {
      EXPECT_TRUE(r.sent.empty());
      continue;
    }
    // Every other line about the call says its slot; the RX lines name it already.
    if (c.slot == 1) {
      for (const std::string& line : lines_of(r.log, 2)) EXPECT_NE(line.find(" RX SLOT"), std::string::npos) << line;
    }
    ASSERT_EQ(r.sent.size(), reference.sent.size());
    for (size_t i = 0; i < r.sent.size(); ++i) {
      const Bytes& d = r.sent[i].d;
      EXPECT_EQ(r.sent[i].at_ms, reference.sent[i].at_ms) << i;
      EXPECT_EQ(d[MOTO_OFS_CALL_FLAGS], (d.size() == MOTO_TERMINATOR_LEN ? 0x40 : 0x00) | (c.slot == 2 ? 0x20 : 0x00));
      Bytes expected = masked(reference.sent[i].d);
      expected[MOTO_OFS_CALL_FLAGS] = d[MOTO_OFS_CALL_FLAGS];
      EXPECT_EQ(masked(d), expected) << i;
      EXPECT_TRUE(signed_ok(d)) << i;
    }
  }
}

// Two calls on each slot: on timeslot 1 private calls whose bursts come up
// to 150 ms late (and so bunch), on timeslot 2 group calls that come nearly
// on time, 30 ms apart from the other slot's.
std::vector<Arrival> two_calls(unsigned slot) {
  std::mt19937 rng(slot);
  const Call call = slot == 1 ? Call{3100001, 3100002, true, false} : Call{2620001, 9, false, true};
  const long long late_us = slot == 1 ? 150000 : 5000;
  std::uniform_int_distribution<long long> delay(0, late_us);
  std::vector<Arrival> out;
  uint16_t first = slot == 1 ? 100 : 40000;
  for (long long start_us : {0LL, 6000000LL}) {
    const gridtest::Talk t{call, first, 60, start_us + (slot == 2 ? 30000 : 0)};
    const gridtest::Played p = gridtest::play_talk(
        t, rng, [](int, uint16_t s) { return s; }, [&](int) { return delay(rng); });
    out.insert(out.end(), p.arrivals.begin(), p.arrivals.end());
    first = static_cast<uint16_t>(first + 70);
  }
  return out;
}

// The lead the auto estimate gave the slot's second call; -1 if none.
int second_lead(const std::string& log, unsigned slot) {
  const std::string head = "<ts> Jitter buffer 2 start: lead ";
  for (const std::string& line : lines_of(log, slot))
    if (line.rfind(head, 0) == 0) return std::atoi(line.c_str() + head.size());
  return -1;
}

bool any_line(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

TEST(TimeslotNetworkSide, CallsOnBothSlotsAtOnceComeOutAsIfAlone) {
  const long long until_us = 15000000;
  const std::vector<Arrival> one = two_calls(1), two = two_calls(2);
  std::vector<Arrival> both = one;
  both.insert(both.end(), two.begin(), two.end());
  for (int32_t mode : {JITTER_BUFFER_OFF, 120, JITTER_BUFFER_AUTO}) {
    SCOPED_TRACE(mode);
    // Alone: each slot the only one bridged, pacing by sleeping.
    const Outcome alone[3] = {
        {}, run(mode, TIMESLOT_1_BIT, one, until_us), run(mode, TIMESLOTS_DEFAULT, two, until_us)};
    for (uint8_t slots : {kBoth, TIMESLOTS_DEFAULT}) {
      const Outcome mixed = run(mode, slots, both, until_us);
      for (unsigned slot = 1; slot <= 2; ++slot) {
        SCOPED_TRACE(std::to_string(slots) + " slot " + std::to_string(slot));
        const std::vector<Sent> got = on_slot(mixed.sent, slot);
        const std::vector<std::string> lines = lines_of(mixed.log, slot);
        if (!(slots & (1u << slot))) {
          // Only logged: its RX lines and nothing else.
          EXPECT_TRUE(got.empty());
          EXPECT_FALSE(lines.empty());
          for (const std::string& line : lines) EXPECT_NE(line.find(" RX SLOT"), std::string::npos) << line;
          continue;
        }
        const std::vector<Sent>& want = alone[slot].sent;
        ASSERT_EQ(got.size(), want.size());
        ASSERT_GT(got.size(), 60u);
        // Each slot numbers and times its calls from the start.
        EXPECT_EQ(got[0].d[MOTO_OFS_CALL_SEQ], 1);
        EXPECT_EQ(gridtest::rtp_time(got[0].d), 1000000480u);
        for (size_t i = 0; i < got.size(); ++i) {
          EXPECT_EQ(got[i].at_ms, want[i].at_ms) << i;
          EXPECT_EQ(masked(got[i].d), masked(want[i].d)) << i;
          EXPECT_TRUE(signed_ok(got[i].d)) << i;
          if (i > 0 && got[i].d[MOTO_OFS_CALL_SEQ] == got[i - 1].d[MOTO_OFS_CALL_SEQ]) {
            EXPECT_EQ(Bytes(got[i].d.begin() + 13, got[i].d.begin() + 17),
                      Bytes(got[i - 1].d.begin() + 13, got[i - 1].d.begin() + 17))
                << i;
          }
        }
        EXPECT_EQ(lines, lines_of(alone[slot].log, slot));
      }
    }
    // Slot 1's bunched bursts were held back (without holding up slot 2).
    EXPECT_EQ(any_line(lines_of(alone[1].log, 1), " add delay: "), mode == JITTER_BUFFER_OFF);
    if (mode == JITTER_BUFFER_AUTO) {
      // Each slot's second call has the lead its own link needed.
      EXPECT_EQ(second_lead(alone[2].log, 2), 20);
      EXPECT_GT(second_lead(alone[1].log, 1), 120);
    }
  }
}

}  // namespace
