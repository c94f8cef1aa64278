// Calls through the daemon in both directions beyond the plain group call:
// private calls, bursts that arrive bunched and leave paced, frames with bit
// errors the decoder must correct (or replace), the transmit time-out, and
// the RDAC schedule cut short by the master's 24-byte answer.
#include <gtest/gtest.h>

#include "testbed/sim_testbed.h"

namespace {

using simtestbed::events;

TEST(SimE2eCalls, PrivateCallsPacingBitErrorsTimeOutAndRdacAnswer) {
  simtestbed::Testbed bench('c');
  if (!bench.ok()) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  bench.start(R"(
wait registered 20
wait keepalive 15
sleep 1
call private 2620100 2620001 bursts=12
)",
              R"(
wait login 30
wait hyt_call 30
sleep 0.5
call private 2620001 2620002 bursts=12
sleep 1
call group 9 2620003 bursts=24 bunch=6
sleep 1
call group 9 2620004 bursts=12 errors=11 uncorrectable=2
sleep 1
call group 9 2620005 bursts=6 end=0
sleep 9
call group 9 2620006 bursts=6
wait rdac 40 count=3
sleep 8
quit
)",
              {}, {"--rdac-answers", "25,24"});
  ASSERT_TRUE(bench.finish(80)) << bench.logs();
  const std::string log = bench.daemon_log();
  const simreport::Report r = bench.report();
  simreport::Expectations e = bench.expectations();
  e.rdac_announcements = 3;
  e.positions = 0;
  const auto missing = simreport::shortcomings(r, e);
  EXPECT_TRUE(missing.empty()) << missing.front() << "\n" << bench.logs();

  // Private both ways: call type 0 toward the master, opcode 0x81 toward the repeater.
  const auto at_master = events(bench.master_events(), "hyt_call_rx");
  ASSERT_FALSE(at_master.empty());
  EXPECT_TRUE(at_master[0].flag("private"));
  EXPECT_EQ(at_master[0].num("dst"), 2620100);
  const auto at_repeater = events(bench.repeater_events(), "moto_call_rx");
  ASSERT_EQ(at_repeater.size(), 5u) << bench.logs();
  EXPECT_TRUE(at_repeater[0].flag("private"));
  EXPECT_EQ(at_repeater[0].num("dst"), 2620001);
  for (size_t i = 1; i < at_repeater.size(); ++i) EXPECT_FALSE(at_repeater[i].flag("private")) << i;

  // Every frame arrives as sent; the two frames beyond correction are
  // replaced by the frame before them (the report expects exactly that).
  EXPECT_EQ(r.hytera_to_moto.frames_sent, 3 * (12 + 24 + 12 + 6 + 6));
  EXPECT_EQ(r.hytera_to_moto.frames_ok, r.hytera_to_moto.frames_sent);
  EXPECT_NE(log.find("BER : "), std::string::npos);
  EXPECT_NE(log.find("AMBE 2, Err_A = 4 Err_B = 3\r\n"), std::string::npos);

  // Bunched bursts leave about 59 ms apart.
  const simreport::Stats spacing = simreport::stats_of(r.hytera_to_moto.spacing_ms);
  ASSERT_GE(spacing.count, 20u);
  EXPECT_NEAR(spacing.median, 59.0, 4.0);
  EXPECT_NE(log.find(" add delay: "), std::string::npos);

  // The call without its end times out (no terminator is sent); the next call
  // is a new one.
  EXPECT_NE(log.find(" TX TIMEOUT 4\n"), std::string::npos) << log;
  EXPECT_FALSE(at_repeater[3].flag("terminated"));
  EXPECT_TRUE(at_repeater[4].flag("terminated"));
  EXPECT_EQ(at_repeater[4].num("call_seq"), 5);
  EXPECT_NE(log.find(" PTT ON 5\n"), std::string::npos);

  // A 25-byte answer to the first announcement does not stop them, a 24-byte
  // answer to the second does: the daemon reads it after the third, so the
  // fourth never goes out.
  EXPECT_EQ(r.rdac_announcements, 3);
  EXPECT_NE(log.find("Local_Repeater_rdac 4\nLocal_Repeater_rdac \n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Local_Repeater_rdac 0\n"), std::string::npos);
}

}  // namespace
