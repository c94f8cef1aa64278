// Both timeslots through the daemon: with Timeslots=1,2 a call each way on
// timeslot 1, calls on both timeslots at once in each direction and mixed
// (one way on one timeslot while the other way runs on the other), and a
// position report on timeslot 1, each call checked packet by packet on its
// own timeslot and logged as the operator's guide says. With the key absent
// timeslot 1 is ignored as it always was, and with Timeslots=1 timeslot 2 is.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/command_script.h"
#include "common/hytera_packet.h"
#include "common/ipsc_packet.h"
#include "support/test_support.h"
#include "testbed/sim_testbed.h"

namespace {

using simtestbed::events;

// Calls the repeater and the master played alone, together (hold=0 starts
// the next one at once) and mixed (each peer answers as soon as the other's
// long call has begun), then a position report on timeslot 1. The network's
// timeslot-1 call beside one on timeslot 2 comes bunched and with bit errors,
// one frame beyond correction.
const char* const kBothRepeater = R"(
wait registered 20
wait keepalive 15
sleep 1
call group 9 2620011 slot=1 bursts=12
wait moto_call 30
sleep 0.5
call group 8 2620012 slot=1 bursts=18 hold=0
call group 9 2620013 slot=2 bursts=18
wait moto_call 30 count=3
sleep 0.5
call group 7 2620014 slot=1 bursts=30
wait moto_call 30 count=4
position 2620015 5057 mode=4 slot=1
wait moto_start 30 count=5
call group 9 2620016 slot=2 bursts=12
)";
const char* const kBothMaster = R"(
wait login 30
wait hyt_call 30
sleep 0.5
call group 9 2620021 slot=1 bursts=12
wait hyt_call 30 count=3
sleep 0.5
call group 8 2620022 slot=1 bursts=18 hold=0 bunch=6 errors=5 uncorrectable=1
call group 9 2620023 slot=2 bursts=18
wait hyt_start 30 count=4
call group 9 2620024 slot=2 bursts=12
wait hyt_call 30 count=4
wait position 10
sleep 0.5
call group 7 2620025 slot=1 bursts=30
wait hyt_call 30 count=5
sleep 1
quit
)";

// A call each way and a position report on the timeslot the bridge must
// ignore, then a call each way on the other.
std::string ignoring_repeater(int off, int on) {
  return "wait registered 20\nwait keepalive 15\nsleep 1\ncall group 9 2620031 bursts=12 slot=" + std::to_string(off) +
         "\nposition 2620032 5057 slot=" + std::to_string(off) +
         "\nsleep 0.5\ncall group 9 2620033 bursts=12 slot=" + std::to_string(on) + "\n";
}
std::string ignoring_master(int off, int on) {
  return "wait login 30\nsleep 1\ncall group 9 2620041 bursts=12 slot=" + std::to_string(off) +
         "\nsleep 0.5\ncall group 9 2620042 bursts=12 slot=" + std::to_string(on) +
         "\nwait hyt_call 30\nsleep 1\nquit\n";
}

// The slot and source of each call one peer received, in order.
std::vector<std::pair<int64_t, int64_t>> received(const std::vector<simjson::Object>& all, const char* name) {
  std::vector<std::pair<int64_t, int64_t>> calls;
  for (const auto& c : events(all, name)) calls.emplace_back(c.num("slot"), c.num("src"));
  return calls;
}

struct Scenario {
  const char* name;
  char tag;
  std::string config;  // the Timeslots line; empty: the key absent
  unsigned ignored_slot;
  std::string repeater_script, master_script;
  std::function<void(const std::string& log, const simtestbed::Testbed& bench, const simreport::Report& r)> check;
};

void check_both(const std::string& log, const simtestbed::Testbed& bench, const simreport::Report& r) {
  using Calls = std::vector<std::pair<int64_t, int64_t>>;
  // Each call as a whole on its own timeslot; the pairs played together may
  // end in either order.
  auto sorted_pair = [](Calls c) {
    if (c.size() >= 3 && c[1] > c[2]) std::swap(c[1], c[2]);
    return c;
  };
  EXPECT_EQ(sorted_pair(received(bench.master_events(), "hyt_call_rx")),
            (Calls{{1, 2620011}, {1, 2620012}, {2, 2620013}, {1, 2620014}, {2, 2620016}}));
  EXPECT_EQ(sorted_pair(received(bench.repeater_events(), "moto_call_rx")),
            (Calls{{1, 2620021}, {1, 2620022}, {2, 2620023}, {2, 2620024}, {1, 2620025}}));
  // Each timeslot numbers its calls toward the repeater on its own.
  for (const auto& c : events(bench.repeater_events(), "moto_call_rx")) {
    const int64_t expected = c.num("src") == 2620021 || c.num("src") == 2620023 ? 1 : c.num("src") == 2620025 ? 3 : 2;
    EXPECT_EQ(c.num("call_seq"), expected) << c.num("src");
    EXPECT_TRUE(c.flag("terminated")) << c.num("src");
  }
  EXPECT_EQ(r.positions_matched_on[1], 1);

  // Timeslot-1 lines carry the slot; timeslot-2 lines are as they always were.
  for (const char* line :
       {" Moto RX+ slot:1 destination_id:9 source_id:2620011 rptr_id:74565\n", " Moto RX- ID:2620011 slot:1\n",
        " Moto RX+ slot:2 destination_id:9 source_id:2620013 rptr_id:74565\n", " Moto RX- ID:2620013\n",
        " RX SLOT=1 DST_ID=9 SRC_ID=2620021 TYPE=Voice\n", " VOICE RX SLOT 1 END USER_ID=2620021 \n",
        " PTT ON 1 slot:1\n", " PTT OFF 1 slot:1\n", " PTT ON 2 slot:1\n", " PTT ON 3 slot:1\n", " PTT OFF 3 slot:1\n",
        " RX SLOT=2 DST_ID=9 SRC_ID=2620023 TYPE=Voice\n", " PTT ON 1\n", " PTT OFF 1\n", " PTT ON 2\n", " PTT OFF 2\n",
        "RPT:74565 slot:1\r\n"})
    EXPECT_EQ(count_occurrences(log, line), 1) << line;
  EXPECT_EQ(count_occurrences(log, "]Decoded GPS Auto Time+Dist [17]: LAT("), 1);
  // The bunched call's pacing and the frame beyond correction (burst 9, alone in its burst).
  EXPECT_EQ(count_occurrences(log, "AMBE 2, Err_A = 4 Err_B = 3 slot:1\r\n"), 1);
  EXPECT_EQ(count_occurrences(log, "BER : 4.964539% slot:1\r\n"), 1);
  int paced = 0;
  for (size_t at = log.find(" add delay: "); at != std::string::npos; at = log.find(" add delay: ", at + 1))
    paced += log.compare(log.find('\n', at) - 7, 7, " slot:1") == 0 ? 1 : 0;
  EXPECT_GE(paced, 10);
  EXPECT_EQ(count_occurrences(log, " slot:2\n"), 0);
  EXPECT_EQ(count_occurrences(log, " PTT ON 3\n"), 0);
}

void check_ignoring(const std::string& log, unsigned ignored) {
  const std::string off = std::to_string(ignored), on = std::to_string(3 - ignored);
  // The network's call on the ignored timeslot is logged as it always was, and nothing else is.
  EXPECT_EQ(count_occurrences(log, " RX SLOT=" + off + " DST_ID=9 SRC_ID=2620041 TYPE=Voice\n"), 1);
  EXPECT_EQ(count_occurrences(log, " VOICE RX SLOT " + off + " END USER_ID=2620041 \n"), 1);
  EXPECT_EQ(count_occurrences(log, "2620031"), 0);
  EXPECT_EQ(count_occurrences(log, "2620032"), 0);
  EXPECT_EQ(count_occurrences(log, "Decoded GPS"), 0);
  EXPECT_EQ(count_occurrences(log, " Moto RX+ "), 1);
  EXPECT_EQ(count_occurrences(log, " Moto RX+ slot:" + on + " destination_id:9 source_id:2620033 "), 1);
  // The bridged timeslot's first call is its call 1.
  const std::string suffix = ignored == 1 ? "\n" : " slot:1\n";
  EXPECT_EQ(count_occurrences(log, " PTT ON 1" + suffix), 1);
  EXPECT_EQ(count_occurrences(log, " PTT OFF 1" + suffix), 1);
  EXPECT_EQ(count_occurrences(log, " PTT ON "), 1);
  EXPECT_EQ(count_occurrences(log, " slot:1"), ignored == 1 ? 0 : 4);  // Moto RX+, Moto RX-, PTT ON, PTT OFF
}

// What the peers write and judge of the slot fields, and the report's
// matching within a timeslot, before any daemon is involved.
TEST(SimE2eTimeslots, PeersWriteAndJudgeTheSlotFields) {
  const struct {
    uint8_t byte16, byte17;
    int slot;  // as a reader takes it: the low four bits of byte 16
    bool ok;
  } codes[] = {{0x22, 0x22, 2, true},  {0x11, 0x11, 1, true},  {0x11, 0x22, 1, false}, {0x21, 0x21, 1, false},
               {0x12, 0x12, 2, false}, {0x33, 0x33, 3, false}, {0x00, 0x00, 0, false}};
  simhyt::Header h;
  h.slot = 1;
  simhyt::Packet p = simhyt::build(h, simhyt::Burst{});
  EXPECT_EQ(p[16], 0x11);
  EXPECT_EQ(p[17], 0x11);
  EXPECT_TRUE(simhyt::fixed_bytes_ok(p, false));
  for (const auto& c : codes) {
    p[16] = c.byte16, p[17] = c.byte17;
    const simhyt::Fields f = simhyt::parse(p);
    EXPECT_EQ(f.slot, c.slot) << int(c.byte16);
    EXPECT_EQ(f.slot_code_ok, c.ok) << int(c.byte16) << " " << int(c.byte17);
  }

  // IPSC byte 17: 0x20 marks timeslot 2, the terminator adds 0x40.
  simipsc::Key key{};
  for (unsigned slot : {1u, 2u}) {
    simipsc::CallFields c;
    c.flags = simipsc::slot_flags(slot);
    const uint8_t expected = slot == 2 ? 0x20 : 0x00;
    EXPECT_EQ(simipsc::voice_header(c, key)[17], expected);
    EXPECT_EQ(simipsc::voice_burst(c, 4, simipsc::VoiceField{}, key)[17], expected);
    EXPECT_EQ(simipsc::voice_terminator(c, key)[17], expected | 0x40);
    EXPECT_EQ(simipsc::data_packet(c, simipsc::kDataBlock, nullptr, key)[17], expected);
    EXPECT_EQ(simipsc::slot_of_flags(static_cast<uint8_t>(expected | 0x40)), slot);
  }

  // Script options: slot=1|2 (2 without it), hold=0.
  const struct {
    const char* line;
    bool valid;
    unsigned slot;
    bool holds;
  } lines[] = {{"call group 9 1", true, 2, true},
               {"call group 9 1 slot=1 hold=0", true, 1, false},
               {"call group 9 1 slot=2 hold=1", true, 2, true},
               {"call group 9 1 slot=3", false, 2, true},
               {"call group 9 1 slot=0", false, 2, true},
               {"call group 9 1 slot=x", false, 2, true}};
  for (const auto& l : lines) {
    unsigned slot = 2;
    EXPECT_EQ(simscript::timeslot(simscript::parse(l.line, 1), slot), l.valid) << l.line;
    EXPECT_EQ(slot, l.slot) << l.line;
    EXPECT_EQ(simscript::holds_script(simscript::parse(l.line, 1)), l.holds) << l.line;
  }

  // The report matches a packet within its timeslot: the same sequence
  // number on the other timeslot is not its arrival. Records without a slot
  // are timeslot 2's.
  auto records = [](const std::vector<const char*>& lines) {
    std::vector<simjson::Object> out(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_TRUE(simjson::parse_line(lines[i], out[i])) << lines[i];
    return out;
  };
  const auto repeater = records({
      R"({"ev":"moto_call_tx","t_us":0,"call":1,"slot":1})",
      R"({"ev":"moto_voice_tx","t_us":10,"kind":"header","slot":1,"seq":7,"call":1})",
      R"({"ev":"moto_call_tx","t_us":0,"call":2})",
      R"({"ev":"moto_voice_tx","t_us":10,"kind":"header","seq":8,"call":2})",
  });
  const auto master = records({
      R"({"ev":"hyt_rx","t_us":20,"kind":"header","slot":2,"seq":7,"problems":""})",
      R"({"ev":"hyt_rx","t_us":20,"kind":"header","slot":2,"seq":8,"problems":""})",
      R"({"ev":"hyt_call_rx","t_us":30,"slot":2,"start_us":20})",
  });
  const simreport::Report r = simreport::analyse(repeater, master);
  EXPECT_EQ(r.moto_to_hytera_on[1].packets_sent, 1);
  EXPECT_EQ(r.moto_to_hytera_on[1].packets_received, 0);
  EXPECT_EQ(r.moto_to_hytera_on[2].packets_received, 1);
  EXPECT_EQ(r.moto_to_hytera_on[2].calls_received, 1);
  EXPECT_EQ(r.moto_to_hytera.packets_received, 1);
}

TEST(SimE2eTimeslots, BothTimeslotsAtOnceInEachDirectionAndOnlyTheBridgedOnes) {
  const Scenario scenarios[] = {
      {"Timeslots=1,2", 'b', "Timeslots=1,2\n", 0, kBothRepeater, kBothMaster, check_both},
      {"key absent", 'i', "", 1, ignoring_repeater(1, 2), ignoring_master(1, 2),
       [](const std::string& log, const simtestbed::Testbed&, const simreport::Report&) { check_ignoring(log, 1); }},
      {"Timeslots=1", 'o', "Timeslots=1\n", 2, ignoring_repeater(2, 1), ignoring_master(2, 1),
       [](const std::string& log, const simtestbed::Testbed&, const simreport::Report&) { check_ignoring(log, 2); }},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    simtestbed::Testbed bench(s.tag);
    if (!bench.ok()) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
    bench.settings().extra_config = s.config;
    bench.start(s.repeater_script, s.master_script);
    ASSERT_TRUE(bench.finish(60)) << bench.logs();
    const std::string log = bench.daemon_log();
    EXPECT_EQ(count_occurrences(log, "Timeslots=["), s.config.empty() ? 0 : 1);
    const simreport::Report r = bench.report();
    simreport::Expectations e = bench.expectations();
    e.rdac_announcements = 0;  // the runs end before the first
    e.positions = s.ignored_slot ? 0 : 1;
    e.both_slots = s.ignored_slot == 0;
    e.ignored_slot = s.ignored_slot;
    const auto missing = simreport::shortcomings(r, e);
    EXPECT_TRUE(missing.empty()) << missing.front() << "\n" << bench.logs();
    s.check(log, bench, r);
    EXPECT_TRUE(bench.daemon().running());
  }
}

}  // namespace
