// The daemon under bad input and when its peers misbehave: bounded random
// datagrams to every port (after which a call each way must still go
// through intact), a repeater restart that forgets the bridge, and a peer
// list naming too many peers.
#include <gtest/gtest.h>

#include "testbed/sim_testbed.h"

namespace {

using simtestbed::events;

TEST(SimE2eRobustness, RandomDatagramsThenCallsStillWorkAndRestartIsNoticed) {
  simtestbed::Testbed bench('f');
  if (!bench.ok()) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  bench.start(R"(
wait registered 20
wait keepalive 15
fuzz 4 count=3000
sleep 6
call group 9 2620001 bursts=12
sleep 8
restart 4
)",
              R"(
wait login 30
fuzz 4 count=6000
sleep 9
call group 9 2620002 bursts=12
sleep 33
quit
)");
  ASSERT_TRUE(bench.finish(90)) << bench.logs();
  EXPECT_TRUE(bench.daemon().running());
  const std::string log = bench.daemon_log();
  const simreport::Report r = bench.report();
  simreport::Expectations e = bench.expectations();
  e.rdac_announcements = 0;  // the schedule runs during the flood; its content is checked elsewhere
  e.positions = 0;
  const auto missing = simreport::shortcomings(r, e);
  EXPECT_TRUE(missing.empty()) << missing.front() << "\n" << bench.logs();
  EXPECT_EQ(r.moto_to_hytera.frames_ok, 36);
  EXPECT_EQ(r.hytera_to_moto.frames_ok, 36);

  // After the restart the repeater ignores keep-alives from the bridge until
  // it registers again. A bridge that registers again is answered again; one
  // that does not loses the network login: "A" stops about 20 s after the
  // last answered keep-alive.
  const auto repeater = bench.repeater_events();
  const auto restarts = events(repeater, "restart");
  ASSERT_EQ(restarts.size(), 1u);
  const int64_t restart_at = restarts[0].num("t_us");
  int registrations_after = 0, answered_after = 0, ignored_after = 0;
  for (const auto& o : repeater) {
    if (o.num("t_us") < restart_at) continue;
    if (o.event() == "registration") ++registrations_after;
    if (o.event() == "keepalive") ++(o.flag("answered") ? answered_after : ignored_after);
  }
  if (registrations_after > 0) {
    EXPECT_GT(answered_after, 0);
  } else {
    EXPECT_GT(ignored_after, 0);
    EXPECT_EQ(answered_after, 0);
    const auto a = events(bench.master_events(), "a_rx");
    ASSERT_FALSE(a.empty());
    EXPECT_LT(a.back().num("t_us"), restart_at + 23000000) << bench.logs();
    EXPECT_GE(events(bench.master_events(), "summary").back().num("t_us"), restart_at + 28000000);
  }
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
