// Overs from radios that send talker alias, as current Motorola firmware
// relays them: a new IPSC stream every superframe, every other one with
// alias text where the identifiers belong. Each crosses the daemon as one
// call under its real identity, with every frame intact.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "testbed/sim_testbed.h"

namespace {

using simtestbed::events;

TEST(SimE2eTalkerAlias, EachOverCrossesAsOneCallUnderItsRealIdentity) {
  simtestbed::Testbed bench('a');
  if (!bench.ok()) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  bench.start(R"(
wait registered 20
wait keepalive 15
sleep 1
call group 91 2620777 bursts=60 alias=N0MJS
sleep 5
call private 2621234 2620778 bursts=36 alias=DL1ABC-Portable
)",
              R"(
wait login 30
wait hyt_call 40 count=2
sleep 1
quit
)");
  ASSERT_TRUE(bench.finish(60)) << bench.logs();
  const simreport::Report r = bench.report();
  const simreport::Direction& d = r.moto_to_hytera;
  EXPECT_EQ(d.calls, 2);
  EXPECT_EQ(d.packets_received, d.packets_sent) << bench.logs();
  EXPECT_EQ(d.frames_sent, 3 * (60 + 36));
  EXPECT_EQ(d.frames_ok, d.frames_sent);
  EXPECT_EQ(d.problems, 0) << bench.logs();

  // The repeater did send alias text as identifiers...
  int alias_bursts = 0;
  for (const auto& tx : events(bench.repeater_events(), "moto_voice_tx"))
    if (tx.flag("alias")) {
      ++alias_bursts;
      EXPECT_NE(tx.num("src"), 2620777);
    }
  EXPECT_EQ(alias_bursts, 6 * (5 + 3));

  // ...and the master saw two whole calls under the real identities.
  const struct {
    int64_t source, destination;
    bool private_call;
    int superframes;
  } expected[] = {{2620777, 91, false, 10}, {2620778, 2621234, true, 6}};
  const auto calls = events(bench.master_events(), "hyt_call_rx");
  ASSERT_EQ(calls.size(), 2u) << bench.logs();
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].num("src"), expected[i].source) << i;
    EXPECT_EQ(calls[i].num("dst"), expected[i].destination) << i;
    EXPECT_EQ(calls[i].flag("private"), expected[i].private_call) << i;
    EXPECT_TRUE(calls[i].flag("ended")) << i;
    EXPECT_EQ(calls[i].num("problems"), 0) << i;
    EXPECT_EQ(calls[i].num("lc_ok"), expected[i].superframes) << i;
  }

  const std::string log = bench.daemon_log();
  EXPECT_EQ(count_occurrences(log, " Moto RX+ slot:2 "), 2) << log;
  EXPECT_EQ(count_occurrences(log, " Moto RX- ID:2620777\n"), 1) << log;
  EXPECT_EQ(count_occurrences(log, " Moto RX- ID:2620778\n"), 1) << log;
  EXPECT_EQ(count_occurrences(log, " Moto RX- "), 2) << log;
}

}  // namespace
