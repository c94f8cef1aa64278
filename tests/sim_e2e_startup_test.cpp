// The daemon against the simulated repeater and network master on a private
// network: registration and the control requests as sent, keep-alive
// rhythm, login and its "A" keep-alive, the full RDAC schedule, a call each
// way with every frame decoded back to what was sent, answers to other peers
// and position reports in all modes.
#include <gtest/gtest.h>

#include "testbed/sim_testbed.h"

namespace {

using simtestbed::events;
using simtestbed::find_from;

TEST(SimE2eStartup, RegistersLogsInAnnouncesAndCarriesCallsAndPositions) {
  simtestbed::Testbed bench('s');
  if (!bench.ok()) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  bench.start(R"(
wait registered 20
wait keepalive 15
sleep 1
peer_request 0x94 3145729
peer_request 0x98 3145729
sleep 0.5
call group 9 2620001 bursts=18
wait moto_call 30
sleep 1
position 2620001 5057 mode=4
sleep 1
position 2620001 5057 mode=1
sleep 1
position 2620001 5057 mode=2
)",
              R"(
wait login 30
wait hyt_call 30
sleep 1
call group 9 2620002 bursts=18
wait rdac 40 count=4
sleep 8
quit
)");
  ASSERT_TRUE(bench.finish(75)) << bench.logs();
  const std::string log = bench.daemon_log();
  const simreport::Report r = bench.report();
  simreport::Expectations e = bench.expectations();
  e.positions = 3;
  const auto missing = simreport::shortcomings(r, e);
  EXPECT_TRUE(missing.empty()) << missing.front() << "\n" << bench.logs();

  // The control requests as the repeater received them: length, sender id,
  // signature, and the registration from the bridge's repeater port.
  const auto repeater_events = bench.repeater_events();
  const auto registrations = events(repeater_events, "registration");
  ASSERT_FALSE(registrations.empty());
  EXPECT_EQ(registrations[0].num("len"), 24);
  EXPECT_EQ(registrations[0].num("peer"), e.bridge_id);
  EXPECT_EQ(registrations[0].num("mode"), 0x62);
  EXPECT_EQ(registrations[0].str("from"), "192.0.2.1:50000");
  for (const char* request : {"peer_list_request", "keepalive"}) {
    const auto seen = events(repeater_events, request);
    ASSERT_FALSE(seen.empty()) << request;
    for (const auto& q : seen) {
      EXPECT_EQ(q.num("len"), std::string(request) == "keepalive" ? 24 : 15) << request;
      EXPECT_TRUE(q.flag("sig")) << request;
    }
  }

  // First keep-alive about 5 s after the registration request, then about
  // every 5 s; the login follows the first answered keep-alive.
  ASSERT_GE(r.keepalive_s.size(), 4u);
  EXPECT_GT(r.keepalive_s[0], 4.5);
  EXPECT_LT(r.keepalive_s[0], 8.0);
  for (size_t i = 1; i < r.keepalive_s.size(); ++i) {
    EXPECT_GT(r.keepalive_s[i] - r.keepalive_s[i - 1], 4.5) << i;
    EXPECT_LT(r.keepalive_s[i] - r.keepalive_s[i - 1], 7.0) << i;
  }
  EXPECT_GT(r.login_s, r.keepalive_s[0]);
  EXPECT_LT(r.login_s, r.keepalive_s[0] + 2.0);
  // The master echoes every "A": no second login, only the 5 s "A" keep-alives.
  const auto a = events(bench.master_events(), "a_rx");
  ASSERT_GE(a.size(), 4u);
  EXPECT_EQ(a[0].num("from_port"), 62006);
  for (size_t i = 1; i < a.size(); ++i) EXPECT_NEAR((a[i].num("t_us") - a[i - 1].num("t_us")) / 1e6, 5.5, 1.5) << i;
  size_t logins = 0;
  for (size_t at = find_from(log, "Sende Anmeldung an DMR Master  IP:192.0.2.2\n"); at != std::string::npos;
       at = find_from(log, "Sende Anmeldung", at + 1))
    ++logins;
  EXPECT_EQ(logins, 1u);

  // Four announcements 6 s apart, logged 2, 3, 4, 0, and none after them.
  ASSERT_EQ(r.rdac_announcements, 4) << bench.logs();
  for (const auto& rdac : events(bench.master_events(), "rdac_rx")) EXPECT_EQ(rdac.num("from_port"), 62006);
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(r.rdac_s[i], 6.0 * static_cast<double>(i + 1), 2.0) << i;
  size_t at = 0;
  for (const char* line :
       {"Local_Repeater_rdac 2\n", "Local_Repeater_rdac 3\n", "Local_Repeater_rdac 4\n", "Local_Repeater_rdac 0\n"}) {
    at = find_from(log, line, at);
    EXPECT_NE(at, std::string::npos) << line;
  }

  // One call each way, as the daemon logged it.
  EXPECT_NE(log.find("Moto RX+ slot:2 destination_id:9 source_id:2620001 rptr_id:74565\n"), std::string::npos);
  EXPECT_NE(log.find("Moto RX- ID:2620001\n"), std::string::npos);
  EXPECT_NE(log.find(" PTT ON 1\n"), std::string::npos);
  EXPECT_NE(log.find(" PTT OFF 1\n"), std::string::npos);
  EXPECT_EQ(r.moto_to_hytera.frames_sent, 54);
  EXPECT_EQ(r.hytera_to_moto.frames_sent, 54);
  const auto calls_at_master = events(bench.master_events(), "hyt_call_rx");
  ASSERT_EQ(calls_at_master.size(), 1u);
  EXPECT_EQ(calls_at_master[0].num("lc_ok"), 3);  // every superframe's embedded LC names 9 and 2620001

  // Other peers are answered, signed, at their own address.
  int answers = 0;
  for (const auto& p : events(repeater_events, "peer_reply")) {
    answers += p.flag("sig") ? 1 : 0;
    EXPECT_EQ(p.num("len"), p.num("op") == 0x95 ? 19 : 20) << p.num("op");
  }
  EXPECT_EQ(answers, 2);
  EXPECT_NE(log.find("Login PEER-ID:3145729 from IP:192.0.2.2\n"), std::string::npos);
  EXPECT_NE(log.find("Send 99 PEER-ID:3145729 IP:192.0.2.2\n"), std::string::npos);

  // A position report in each mode.
  for (const char* mode : {"Auto Time+Dist [17]", "Manual [19]", "Auto Time [25]"})
    EXPECT_NE(log.find(std::string("]Decoded GPS ") + mode), std::string::npos) << mode;
  EXPECT_TRUE(bench.daemon().running());
}

}  // namespace
