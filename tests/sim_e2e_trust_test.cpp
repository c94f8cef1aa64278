// A third host on the test network (192.0.2.3..5) and forged datagrams with
// the peers' own address try every door of the bridge: IPSC requests,
// replies, a peer list of three and a call under a wrong key; network voice,
// "A" echoes and RDAC answers from an address that is not the master's; then
// a flood on all three ports. Nothing of it may act on the bridge, real calls
// must cross both ways throughout, and the log must stay short.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "main/trusted_senders.h"
#include "testbed/sim_testbed.h"

namespace {

using simtestbed::events;
using Host = simtestbed::Testbed::Host;

constexpr const char* kWrongKey = "1f00aa11bb22cc33dd44ee55ff6677889900abcd";
constexpr int kForgedIpscSource = 2629999;
constexpr int kForgedNetworkSource = 2629998;

size_t count_of(const std::string& log, const std::string& text) {
  size_t n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

// Runs the intruder on a host of the bench, each run with a log of its own.
class Intruder {
 public:
  explicit Intruder(simtestbed::Testbed& bench) : bench_(bench) {}

  simtestbed::PeerProcess& run(Host host, const std::string& to, const std::string& kind,
                               std::vector<std::string> extra, bool wait = true) {
    const std::string log = "intruder" + std::to_string(logs_.size()) + "_" + kind + ".log";
    logs_.push_back(log);
    std::vector<std::string> argv = {simtestbed::intruder_binary(), "--to", to, "--kind", kind};
    argv.insert(argv.end(), extra.begin(), extra.end());
    simtestbed::PeerProcess& p = bench_.launch(host, argv, log);
    if (wait) {
      EXPECT_TRUE(p.wait_exit(20)) << kind;
    }
    return p;
  }
  const std::vector<std::string>& log_names() const { return logs_; }
  std::string log(const std::string& name) const { return simtestbed::read_text(bench_.dir() + "/" + name); }
  std::string all_logs() const {
    std::string all;
    for (const std::string& name : logs_) all += name + ": " + log(name);
    return all;
  }

 private:
  simtestbed::Testbed& bench_;
  std::vector<std::string> logs_;
};

TEST(SimE2eTrust, StrangersAndForgeriesCannotActOnTheBridge) {
  simtestbed::Testbed bench('t');
  if (!bench.ok() || !bench.add_third_host(3)) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  bench.start(R"(
wait registered 20
wait keepalive 15
sleep 12
call group 9 2620001 bursts=12
sleep 9.5
call group 9 2620011 bursts=12
sleep 50
)",
              R"(
wait login 30
sleep 10
call group 9 2620002 bursts=12
sleep 11
call group 9 2620012 bursts=12
sleep 4
echo off
sleep 40
quit
)");
  ASSERT_TRUE(bench.daemon().wait_for("Sende Anmeldung an DMR Master", 40000)) << bench.logs();

  Intruder intruder(bench);
  auto forge = [&](Host host, const std::string& to, const std::string& kind, std::vector<std::string> extra,
                   bool wait = true) { intruder.run(host, to, kind, std::move(extra), wait); };
  const std::string ipsc = "192.0.2.1:50000", voice = "192.0.2.1:62006", rdac = "192.0.2.1:62007";
  const std::vector<std::string> once = {"--count", "3", "--rate", "10", "--listen-ms", "800"};
  auto with_key = [&](std::vector<std::string> o) {
    o.insert(o.end(), {"--key", kWrongKey});
    return o;
  };

  // RDAC answers from the stranger during the whole first schedule.
  forge(Host::kThird, rdac, "rdac_answer", {"--count", "60", "--rate", "2", "--listen-ms", "0"}, false);
  // The doors of the repeater port, from the stranger and with the peers' address.
  forge(Host::kThird, ipsc, "peer_register", with_key(once));
  forge(Host::kThird, ipsc, "peer_keepalive", once);
  forge(Host::kThird, ipsc, "register_reply", with_key(once));
  std::vector<std::string> from_peers = {"--from", "192.0.2.2", "--from-port", "50001"};
  from_peers.insert(from_peers.end(), once.begin(), once.end());
  forge(Host::kPeers, ipsc, "keepalive_reply", with_key(from_peers));
  from_peers[3] = "50002";
  forge(Host::kPeers, ipsc, "peer_list3", with_key(from_peers));
  forge(Host::kThird, ipsc, "ipsc_call",
        with_key({"--count", "14", "--rate", "16", "--src", std::to_string(kForgedIpscSource)}));
  forge(Host::kThird, voice, "hytera_call",
        {"--count", "15", "--rate", "16", "--src", std::to_string(kForgedNetworkSource)});

  // A 5-second flood from three addresses on every port while the second
  // call of each side crosses (they start about 22 s after the login).
  std::this_thread::sleep_for(std::chrono::seconds(11));
  const std::vector<std::string> flood = {
      "--from", bench.third_host_addresses(), "--count", "10000", "--rate", "2000", "--max-seconds", "5", "--listen-ms",
      "0"};
  for (const std::string& port : {ipsc, voice, rdac}) forge(Host::kThird, port, "junk", flood, false);
  std::this_thread::sleep_for(std::chrono::seconds(6));
  // Echoes from the stranger after the master stops echoing: the login must lapse all the same.
  forge(Host::kThird, voice, "echo", {"--count", "70", "--rate", "2", "--listen-ms", "0"}, false);

  ASSERT_TRUE(bench.finish(110)) << bench.logs();
  // The summary of the repeater port comes a minute after its first drop.
  bench.daemon().wait_for("Dropped on port 50000 in the last minute: ", 20000);
  const std::string log = bench.daemon_log();
  const std::string intruders = intruder.all_logs();

  // Nobody answered a forger, and no voice went its way.
  for (const std::string& name : intruder.log_names())
    EXPECT_NE(intruder.log(name).find(" received=0\n"), std::string::npos) << name << "\n" << intruders;
  // The forged reply drew no peer-list request; the forged list did not stop the Motorola side.
  const simreport::Report r = bench.report();
  EXPECT_EQ(r.peer_list_requests, 1) << bench.logs();
  EXPECT_EQ(log.find("TOO MANY PEERS"), std::string::npos) << log;

  // Only the real calls crossed, each way, whole.
  const auto at_master = events(bench.master_events(), "hyt_call_rx");
  const auto at_repeater = events(bench.repeater_events(), "moto_call_rx");
  std::vector<int64_t> sources_at_master, sources_at_repeater;
  for (const auto& o : at_master) sources_at_master.push_back(o.num("src"));
  for (const auto& o : at_repeater) sources_at_repeater.push_back(o.num("src"));
  EXPECT_EQ(sources_at_master, (std::vector<int64_t>{2620001, 2620011})) << bench.logs();
  EXPECT_EQ(sources_at_repeater, (std::vector<int64_t>{2620002, 2620012})) << bench.logs();
  EXPECT_EQ(r.moto_to_hytera.frames_ok, 72) << bench.logs();
  EXPECT_EQ(r.hytera_to_moto.frames_ok, 72) << bench.logs();

  // The stranger's RDAC answers did not end the first schedule: all four
  // announcements came before the master stopped echoing.
  const auto announcements = events(bench.master_events(), "rdac_announcement");
  ASSERT_GE(announcements.size(), 4u) << bench.logs();
  if (announcements.size() > 4) {
    EXPECT_GT(announcements[4].num("t_us") - announcements[3].num("t_us"), 12000000)
        << "a fifth came with the first four";
  }
  // The stranger's echoes did not keep the login alive: the bridge logged in again.
  EXPECT_GE(count_of(log, "Sende Anmeldung an DMR Master"), 2u) << log;

  // The operator was told, briefly: a line for each sender's first drop and
  // at most one summary a minute per port.
  const std::string not_master = ": not the network master\n", bad_signature = ": bad signature\n";
  EXPECT_EQ(count_of(log, " Dropped datagram from 192.0.2.3:"), 3u) << log;  // one per port
  EXPECT_EQ(count_of(log, "Dropped datagram from 192.0.2.2:50001 on port 50000" + bad_signature), 1u) << log;
  EXPECT_EQ(count_of(log, "Dropped datagram from 192.0.2.2:"), 1u) << log;  // the same sender, whatever its port
  for (const char* port : {"62006", "62007"})
    EXPECT_EQ(count_of(log, std::string(" on port ") + port + not_master), 3u) << port << "\n" << log;
  // The flood's random lengths: a sender's first datagram may be too long rather than badly signed.
  EXPECT_EQ(count_of(log, " on port 50000" + bad_signature) + count_of(log, " on port 50000: too long\n"), 4u) << log;
  EXPECT_GE(count_of(log, "Dropped on port 50000 in the last minute: "), 1u) << log;
  EXPECT_LE(count_of(log, " Dropped "), 3u * (DROP_LINES_PER_MINUTE + 2u)) << log;
  EXPECT_TRUE(bench.daemon().running());
  if (::testing::Test::HasFailure()) {
    bench.keep_files();
    printf("run files kept in %s\n", bench.dir().c_str());
  }
}

// Signed datagrams recorded on the link and sent again: the bridge's own
// keep-alive request and the repeater's keep-alive reply, from another host
// and from the repeater's address while the repeater is silent; and a flood
// of the service port. Network voice must keep going to the repeater, the
// silent repeater must not count as alive (the bridge registers again as
// it always does), and the flood must cost the log two lines.
TEST(SimE2eTrust, ReplayedAndReflectedDatagramsMoveNothing) {
  simtestbed::Testbed bench('v');
  if (!bench.ok() || !bench.add_third_host(3)) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  constexpr int kSilentSeconds = 40;
  bench.start(R"(
wait registered 20
wait keepalive 15
sleep 6
call group 9 2620001 bursts=12
sleep 12
restart 40
wait registered 60 count=2
sleep 6
call group 9 2620011 bursts=12
sleep 30
)",
              R"(
wait login 30
sleep 5
call group 9 2620002 bursts=12
sleep 69
call group 9 2620012 bursts=12
sleep 15
quit
)");
  Intruder intruder(bench);
  // Anyone who sees the link can record: the bridge's keep-alive request
  // and the repeater's reply, as they cross the peers' host.
  const std::string own_keepalive = bench.dir() + "/own_keepalive.hex";
  const std::string repeater_reply = bench.dir() + "/repeater_reply.hex";
  simtestbed::PeerProcess& request_tap =
      intruder.run(Host::kPeers, "192.0.2.2:50000", "record",
                   {"--opcode", "0x96", "--out", own_keepalive, "--max-seconds", "15"}, false);
  simtestbed::PeerProcess& reply_tap =
      intruder.run(Host::kPeers, "192.0.2.1:50000", "record",
                   {"--opcode", "0x97", "--out", repeater_reply, "--max-seconds", "15"}, false);
  ASSERT_TRUE(bench.daemon().wait_for("Sende Anmeldung an DMR Master", 40000)) << bench.logs();
  const auto login = std::chrono::steady_clock::now();
  auto at = [&](int seconds) { std::this_thread::sleep_until(login + std::chrono::seconds(seconds)); };
  ASSERT_TRUE(request_tap.wait_exit(5) && reply_tap.wait_exit(5)) << intruder.all_logs();
  ASSERT_FALSE(simtestbed::read_text(own_keepalive).empty()) << intruder.all_logs();
  ASSERT_FALSE(simtestbed::read_text(repeater_reply).empty()) << intruder.all_logs();

  const std::string ipsc = "192.0.2.1:50000";
  auto replay = [](const std::string& file, const char* from, int count, int rate) {
    return std::vector<std::string>{
        "--in",        file, "--from", from, "--count", std::to_string(count), "--rate", std::to_string(rate),
        "--listen-ms", "500"};
  };
  // While the first calls cross: our own keep-alive from 192.0.2.4, the
  // repeater's reply from 192.0.2.5, each 20 a second for 10 s.
  at(1);
  intruder.run(Host::kThird, ipsc, "replay", replay(own_keepalive, "192.0.2.4", 200, 20), false);
  intruder.run(Host::kThird, ipsc, "replay", replay(repeater_reply, "192.0.2.5", 200, 20), false);
  // 2000 datagrams on the service port from 192.0.2.4.
  at(14);
  intruder.run(Host::kThird, "192.0.2.1:62005", "junk",
               {"--from", "192.0.2.4", "--count", "2000", "--rate", "1000", "--listen-ms", "0"}, false);
  // The repeater falls silent about 17 s after the login; its reply comes
  // again, five a second from another host and five from its own address.
  at(19);
  auto silent_replay = replay(repeater_reply, "192.0.2.2", 150, 5);
  silent_replay.insert(silent_replay.end(), {"--from-port", "50003"});
  intruder.run(Host::kThird, ipsc, "replay", replay(repeater_reply, "192.0.2.5", 150, 5), false);
  intruder.run(Host::kPeers, ipsc, "replay", silent_replay, false);

  ASSERT_TRUE(bench.finish(110)) << bench.logs();
  const std::string log = bench.daemon_log();
  const std::string intruders = intruder.all_logs();
  for (const std::string& name : intruder.log_names()) {
    if (name.find("record") != std::string::npos) continue;
    EXPECT_NE(intruder.log(name).find(" received=0\n"), std::string::npos) << name << "\n" << intruders;
    EXPECT_EQ(intruder.log(name).find("sent=0 "), std::string::npos) << name << "\n" << intruders;
  }

  // Network voice went to the repeater, whole, and calls crossed both ways
  // before the silence and after the bridge registered again.
  const simreport::Report r = bench.report();
  std::vector<int64_t> sources_at_master, sources_at_repeater;
  for (const auto& o : events(bench.master_events(), "hyt_call_rx")) sources_at_master.push_back(o.num("src"));
  for (const auto& o : events(bench.repeater_events(), "moto_call_rx")) sources_at_repeater.push_back(o.num("src"));
  EXPECT_EQ(sources_at_master, (std::vector<int64_t>{2620001, 2620011})) << bench.logs();
  EXPECT_EQ(sources_at_repeater, (std::vector<int64_t>{2620002, 2620012})) << bench.logs();
  EXPECT_EQ(r.moto_to_hytera.frames_ok, 72) << bench.logs();
  EXPECT_EQ(r.hytera_to_moto.frames_ok, 72) << bench.logs();

  // The replayed replies did not keep the silent repeater alive: the bridge
  // asked to register while it was silent, and registered once it answered.
  const auto repeater = bench.repeater_events();
  const auto restarts = events(repeater, "restart");
  ASSERT_EQ(restarts.size(), 1u) << bench.logs();
  const int64_t silence = restarts[0].num("t_us"), answering = silence + kSilentSeconds * 1000000LL;
  bool asked_while_silent = false, registered_after = false;
  for (const auto& o : events(repeater, "ignored_while_restarting"))
    asked_while_silent = asked_while_silent || (o.num("op") == 0x90 && o.num("t_us") < answering);
  for (const auto& o : events(repeater, "registration"))
    registered_after = registered_after || (o.flag("sig") && o.num("t_us") > answering);
  EXPECT_TRUE(asked_while_silent) << bench.logs();
  EXPECT_TRUE(registered_after) << bench.logs();

  // Each replay was told once per sender, the flood of the service port in
  // two lines, and the repeater itself never.
  const std::string on_ipsc = " on port 50000: ";
  EXPECT_EQ(count_of(log, "Dropped datagram from 192.0.2.4:"), 2u) << log;
  EXPECT_EQ(count_of(log, on_ipsc + "reflected\n"), 1u) << log;
  EXPECT_EQ(count_of(log, "Dropped datagram from 192.0.2.5:"), 1u) << log;
  EXPECT_EQ(count_of(log, on_ipsc + "keep-alive reply not asked for\n"), 2u) << log;
  EXPECT_EQ(count_of(log, "Dropped datagram from 192.0.2.2:50000 "), 0u) << log;
  EXPECT_EQ(count_of(log, "62005"), 2u) << log;
  EXPECT_NE(log.find(" on port 62005: not the network master\n"), std::string::npos) << log;
  EXPECT_NE(
      log.find("Dropped on port 62005 in the last minute: 2000 datagrams from 1 senders, most from 192.0.2.4 (2000)\n"),
      std::string::npos)
      << log;
  EXPECT_LE(count_of(log, "Local_Repeater_rdac \n"), 2u) << log;
  EXPECT_LE(count_of(log, " Dropped "), 3u * (DROP_LINES_PER_MINUTE + 2u)) << log;
  EXPECT_TRUE(bench.daemon().running());
  if (::testing::Test::HasFailure()) {
    bench.keep_files();
    printf("run files kept in %s\n", bench.dir().c_str());
  }
}

}  // namespace
