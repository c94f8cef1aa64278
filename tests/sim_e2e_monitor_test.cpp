// The monitor end to end: the demonstration's run of the daemon against the
// simulated peers, its console log through the real moto_bridge_monitor
// (--stdin, --listen on a free loopback port, --callsigns), and then:
// the JSON against what the peers recorded, the page in a real headless
// Chromium (link states, last-heard rows, the position), the key nowhere.
// MONITOR_SCREENSHOT=FILE keeps the browser's picture of the page. Then a
// hand-written log of calls on both timeslots at once through the monitor
// and the browser.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "testbed/sim_testbed.h"

namespace {

using nlohmann::json;
using simtestbed::events;

// A loopback port nothing listens on right now.
int free_port() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  int port = -1;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

// moto_bridge_monitor reading a file on standard input; stopped by its pid.
class MonitorProcess {
 public:
  MonitorProcess(const std::string& log, int port, const std::string& callsigns, const std::string& output) {
    pid_ = fork();
    if (pid_ == 0) {
      const int in = open(log.c_str(), O_RDONLY);
      const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, STDIN_FILENO);
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
      const std::string listen = "127.0.0.1:" + std::to_string(port);
      execl(MONITOR_BINARY, MONITOR_BINARY, "--stdin", "--listen", listen.c_str(), "--callsigns", callsigns.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~MonitorProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 50 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  MonitorProcess(const MonitorProcess&) = delete;
  MonitorProcess& operator=(const MonitorProcess&) = delete;

 private:
  pid_t pid_ = -1;
};

std::string get(int port, const std::string& path) {
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(2, 0);
  client.set_read_timeout(5, 0);
  auto r = client.Get(path.c_str());
  return r && r->status == 200 ? r->body : std::string();
}

bool wait_until_read(int port) {
  for (int i = 0; i < 100; ++i) {
    const std::string s = get(port, "/api/status");
    if (!s.empty() && json::parse(s)["master"]["rdac"]["announcements"].get<int>() > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// The page as headless Chromium renders it (scripts run), or empty.
std::string rendered_page(const std::string& dir, int port, const std::string& screenshot) {
  const std::string common =
      "timeout 90 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic "
      "--no-first-run --disable-background-networking --disable-component-update "
      "--disable-sync --virtual-time-budget=3000 --user-data-dir=";
  const std::string url = " http://127.0.0.1:" + std::to_string(port) + "/";
  if (std::system((common + dir + "/chrome-dom --dump-dom" + url + " >" + dir + "/dom.html 2>/dev/null").c_str()) != 0)
    return "";
  if (!screenshot.empty())
    std::system((common + dir + "/chrome-shot --hide-scrollbars --window-size=1100,860 --screenshot=" + screenshot +
                 url + " >/dev/null 2>&1")
                    .c_str());
  return simtestbed::read_text(dir + "/dom.html");
}

TEST(SimE2eMonitor, DemoLogThroughTheMonitorMatchesThePeersAndShowsInABrowser) {
  simtestbed::Testbed bench('m');
  if (!bench.ok()) GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
  bench.settings().key = "c0ffee00112233445566778899aabbccddeeff01";
  bench.start(R"(
wait registered 20
wait keepalive 15
sleep 2
call group 9 2620001 bursts=24
wait moto_call 30
sleep 1
position 2620001 5057 mode=4
)",
              R"(
wait login 30
wait hyt_call 30
sleep 1
call group 9 2620002 bursts=24
sleep 1
call group 9 2620002 bursts=12 bunch=6
wait rdac 40 count=4
sleep 1
quit
)");
  ASSERT_TRUE(bench.finish(90)) << bench.logs();
  const std::string log_path = bench.dir() + "/daemon.log";
  ASSERT_NE(bench.daemon_log().find("NetworkKey=[c0ffee"), std::string::npos);

  const int port = free_port();
  ASSERT_GT(port, 0);
  const std::string output = bench.dir() + "/monitor.out";
  MonitorProcess monitor(log_path, port, std::string(MONITOR_TEST_DATA) + "/callsigns.csv", output);
  ASSERT_TRUE(wait_until_read(port)) << simtestbed::read_text(output);

  const json status = json::parse(get(port, "/api/status"));
  const json calls = json::parse(get(port, "/api/calls"));
  const json positions = json::parse(get(port, "/api/positions"));
  EXPECT_TRUE(status["repeater"]["registered"]);
  EXPECT_TRUE(status["master"]["logged_in"]);

  // The calls, oldest first, against the peer that received each.
  const auto at_master = events(bench.master_events(), "hyt_call_rx");
  const auto at_repeater = events(bench.repeater_events(), "moto_call_rx");
  std::vector<json> rf, net;
  for (auto it = calls.rbegin(); it != calls.rend(); ++it)
    ((*it)["direction"] == "rf_to_net" ? rf : net).push_back(*it);
  ASSERT_EQ(rf.size(), at_master.size()) << calls.dump();
  ASSERT_EQ(net.size(), at_repeater.size()) << calls.dump();
  EXPECT_EQ(status["counters"]["calls_rf_to_net"], rf.size());
  EXPECT_EQ(status["counters"]["calls_net_to_rf"], net.size());
  for (size_t i = 0; i < rf.size(); ++i) {
    EXPECT_EQ(rf[i]["source"], at_master[i].num("src"));
    EXPECT_EQ(rf[i]["destination"], at_master[i].num("dst"));
    EXPECT_EQ(rf[i]["ended_by"], "end");
    EXPECT_EQ(rf[i]["callsign"], "DL1AAA");
  }
  for (size_t i = 0; i < net.size(); ++i) {
    EXPECT_EQ(net[i]["source"], at_repeater[i].num("src"));
    EXPECT_EQ(net[i]["destination"], at_repeater[i].num("dst"));
    EXPECT_EQ(net[i]["ended_by"], "end");
    EXPECT_EQ(net[i]["callsign"], "DL2BBB");
  }
  const auto sent = events(bench.master_events(), "position_rx");
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions[0]["source"], sent[0].num("src"));
  EXPECT_EQ(positions[0]["lat_text"], sent[0].str("lat"));
  EXPECT_EQ(positions[0]["lon_text"], sent[0].str("lon"));
  EXPECT_TRUE(positions[0]["latitude"].is_number());

  // The key, as text and as bytes, in nothing the monitor gives out.
  const std::string served = get(port, "/") + status.dump() + calls.dump() + positions.dump() + get(port, "/metrics") +
                             simtestbed::read_text(output);
  EXPECT_EQ(served.find("c0ffee0011223344"), std::string::npos);
  EXPECT_EQ(served.find("c0:ff:ee:00:11"), std::string::npos);

  if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/chromium for the browser check";
  const char* keep = std::getenv("MONITOR_SCREENSHOT");
  const std::string dom = rendered_page(bench.dir(), port, keep ? keep : "");
  ASSERT_FALSE(dom.empty()) << "chromium failed";
  // What the scripts wrote into the page, not the embedded state.
  const std::string body = dom.substr(0, dom.find("initial-state"));
  for (const std::string& shown :
       {std::string(">Registered<"), std::string(">Logged in<"), std::string("2620001"), std::string("2620002"),
        std::string("DL1AAA"), std::string("05232.103"), std::string("001325.56"), std::string("52.53505")})
    EXPECT_NE(body.find(shown), std::string::npos) << shown << "\n" << body;
  // One last-heard row per call.
  size_t rows = 0;
  const size_t table = body.find("id=\"last-heard\"");
  for (size_t at = body.find("<tr", table); at != std::string::npos && at < body.find("</tbody>", table);
       at = body.find("<tr", at + 1))
    ++rows;
  EXPECT_EQ(rows, calls.size());
  EXPECT_EQ(dom.find("c0ffee0011223344"), std::string::npos);
}

// The page of a log cut while a call runs each way on each timeslot, just
// after a position report from timeslot 1: each call under its timeslot,
// and the slot of every last-heard row and of the position.
TEST(SimE2eMonitor, BothTimeslotsShowInABrowser) {
  if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/chromium for the browser check";
  char dir_name[] = "/tmp/monitor_slots.XXXXXX";
  ASSERT_NE(mkdtemp(dir_name), nullptr);
  const std::string dir = dir_name;
  const std::string log = simtestbed::read_text(std::string(MONITOR_TEST_DATA) + "/handwritten-timeslots.log");
  std::ofstream(dir + "/daemon.log", std::ios::binary) << log.substr(0, log.find("Thu Dec 10 10:00:13 2026 Moto RX-"));
  const int port = free_port();
  ASSERT_GT(port, 0);
  std::string dom;
  {
    MonitorProcess monitor(dir + "/daemon.log", port, std::string(MONITOR_TEST_DATA) + "/callsigns.csv",
                           dir + "/monitor.out");
    for (int i = 0;
         i < 100 && simtestbed::read_text(dir + "/monitor.out").find("End of standard input") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    dom = rendered_page(dir, port, "");
  }
  std::filesystem::remove_all(dir);
  ASSERT_FALSE(dom.empty()) << "chromium failed";
  const std::string body = dom.substr(0, dom.find("initial-state"));
  auto part = [&body](const std::string& from, const std::string& to) {
    const size_t begin = body.find(from);
    return begin == std::string::npos ? std::string() : body.substr(begin, body.find(to, begin) - begin);
  };
  const std::string on_air[] = {part("id=\"on-air-1\"", "id=\"on-air-2\""), part("id=\"on-air-2\"", "</section>")};
  const std::string last_heard = part("id=\"last-heard\"", "</tbody>");
  const struct {
    const char* source;
    int slot;
  } calls[] = {{"2620101", 2}, {"2620102", 1}, {"2620201", 1}, {"2620202", 2}};
  for (const auto& c : calls) {
    EXPECT_NE(on_air[c.slot - 1].find(c.source), std::string::npos) << c.source << "\n" << body;
    EXPECT_EQ(on_air[2 - c.slot].find(c.source), std::string::npos) << c.source << "\n" << body;
    const size_t at = last_heard.find(c.source);
    ASSERT_NE(at, std::string::npos) << c.source << "\n" << body;
    const size_t row = last_heard.rfind("<tr", at);
    EXPECT_NE(last_heard.substr(row, at - row).find(">TS" + std::to_string(c.slot) + "<"), std::string::npos)
        << c.source << "\n"
        << last_heard;
  }
  const std::string positions = part("id=\"positions\"", "</tbody>");
  EXPECT_NE(positions.find(">TS1<"), std::string::npos) << positions;
  EXPECT_NE(positions.find("2620103"), std::string::npos) << positions;
}

}  // namespace
