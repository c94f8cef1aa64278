// The daemon under bad input and when its peers misbehave: bounded random
// datagrams to every port (after which a call each way must still go
// through intact), a repeater that is off at first and later restarts, and
// a peer list naming too many peers.
#include <gtest/gtest.h>

#include "testbed/sim_testbed.h"

namespace {

using simtestbed::events;

TEST(SimE2eRobustness, RandomDatagramsThenCallsStillWork) {
  simtestbed::Testbed bench('f');
  if (!bench.ok()) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  bench.start(R"(
wait registered 20
wait keepalive 15
fuzz 4 count=3000
sleep 6
call group 9 2620001 bursts=12
sleep 8
)",
              R"(
wait login 30
fuzz 4 count=6000
sleep 9
call group 9 2620002 bursts=12
sleep 4
quit
)");
  ASSERT_TRUE(bench.finish(90)) << bench.logs();
  EXPECT_TRUE(bench.daemon().running());
  const simreport::Report r = bench.report();
  simreport::Expectations e = bench.expectations();
  e.rdac_announcements = 0;  // the schedule runs during the flood; its content is checked elsewhere
  e.positions = 0;
  const auto missing = simreport::shortcomings(r, e);
  EXPECT_TRUE(missing.empty()) << missing.front() << "\n" << bench.logs();
  EXPECT_EQ(r.moto_to_hytera.frames_ok, 36);
  EXPECT_EQ(r.hytera_to_moto.frames_ok, 36);
}

// The repeater is still off when the bridge starts, comes up, and later
// restarts: each time it ignores keep-alives until the bridge registers
// again, and calls cross both ways once it has.
TEST(SimE2eRobustness, BridgeRegistersAgainUntilTheRepeaterTakesIt) {
  simtestbed::Testbed bench('r');
  if (!bench.ok()) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  bench.start(R"(
restart 12
wait registered 30
wait keepalive 15
call group 9 2620001 bursts=6
sleep 4
restart 4
wait registered 45 count=2
sleep 6
call group 9 2620011 bursts=6
sleep 6
)",
              R"(
wait login 40
sleep 2
call group 9 2620002 bursts=6
sleep 27
call group 9 2620012 bursts=6
sleep 3
quit
)");
  ASSERT_TRUE(bench.finish(100)) << bench.logs();
  const auto repeater = bench.repeater_events();
  const auto restarts = events(repeater, "restart");
  ASSERT_EQ(restarts.size(), 2u);
  const int64_t first_silence = restarts[0].num("t_us"), second_silence = restarts[1].num("t_us");

  // While the repeater was off, the registration request came about every 5 s.
  std::vector<int64_t> requests_while_off;
  for (const auto& o : events(repeater, "ignored_while_restarting"))
    if (o.num("op") == 0x90 && o.num("t_us") < second_silence) requests_while_off.push_back(o.num("t_us"));
  ASSERT_GE(requests_while_off.size(), 2u) << bench.logs();
  for (size_t i = 1; i < requests_while_off.size(); ++i)
    EXPECT_NEAR((requests_while_off[i] - requests_while_off[i - 1]) / 1e6, 5.0, 0.6);

  // Registered once the repeater was up, and again after its restart: within
  // 20 s without answers plus one keep-alive interval (and a margin).
  const auto registrations = events(repeater, "registration");
  std::vector<int64_t> taken;
  for (const auto& o : registrations)
    if (o.flag("sig")) taken.push_back(o.num("t_us"));
  ASSERT_GE(taken.size(), 2u) << bench.logs();
  EXPECT_LT(taken[0] - first_silence, 18000000);
  int64_t again = -1;
  for (int64_t t : taken)
    if (t > second_silence) {
      again = t;
      break;
    }
  ASSERT_GT(again, 0) << bench.logs();
  EXPECT_LT(again - second_silence, 28000000) << bench.logs();
  const std::string log = bench.daemon_log();
  EXPECT_NE(log.find(" Repeater not registered, send registration to IP:192.0.2.2 Port:50000\n"), std::string::npos);

  // The network login resumed, and a call crossed each way after the restart.
  bool a_after = false;
  for (const auto& o : events(bench.master_events(), "a_rx")) a_after = a_after || o.num("t_us") > again;
  EXPECT_TRUE(a_after) << bench.logs();
  const simreport::Report r = bench.report();
  EXPECT_EQ(r.moto_to_hytera.frames_ok, 36) << bench.logs();
  EXPECT_EQ(r.hytera_to_moto.frames_ok, 36) << bench.logs();
}

TEST(SimE2eRobustness, PeerListOfThreeStopsTheMotorolaSide) {
  simtestbed::Testbed bench('p');
  if (!bench.ok()) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  bench.start("wait peer_list 20\n", "sleep 14\nquit\n", {"--peers", "3"});
  ASSERT_TRUE(bench.finish(30)) << bench.logs();
  const std::string log = bench.daemon_log();
  EXPECT_NE(log.find("\nTOO MANY PEERS IN NETWORK! (3)\nProgram stopped.\n"), std::string::npos) << log;
  EXPECT_TRUE(events(bench.repeater_events(), "keepalive").empty());
  EXPECT_TRUE(events(bench.master_events(), "a_rx").empty());
  EXPECT_TRUE(bench.daemon().running());
}

}  // namespace
