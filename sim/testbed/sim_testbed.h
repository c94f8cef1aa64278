#pragma once
// The end-to-end tests' bench: a private two-host network (bridge 192.0.2.1,
// peers 192.0.2.2, network namespaces named after the test process), the
// daemon on one host and the simulated repeater and network master on the
// other, each following a script. After the run the peers' records are read
// back and put together by the run report. Needs root; header-only so that
// only the tests compile it (they link the daemon runner beside it). The
// namespaces are made and removed by tools/netns.sh, as for the demo.
//
// A bench can also have a third host on the same segment (192.0.2.3 and
// further addresses), a stranger that must not be able to act on the
// bridge: the peers' host then reaches the network through a Linux bridge
// device that joins the bridge's link and the third host's.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/jsonl.h"
#include "report/run_report.h"
#include "testbed/daemon_runner.h"

namespace simtestbed {

inline bool shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Runs tools/netns.sh with `arguments` (names without spaces).
inline bool netns_script(const std::string& arguments) { return shell("bash " SIM_NETNS_SCRIPT " " + arguments); }

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A simulated peer running in a namespace; killed (by its pid) when dropped.
class PeerProcess {
 public:
  PeerProcess(const std::string& netns, const std::vector<std::string>& argv, const std::string& log) {
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      std::vector<const char*> args = {"ip", "netns", "exec", netns.c_str()};
      for (const auto& a : argv) args.push_back(a.c_str());
      args.push_back(nullptr);
      execvp("ip", const_cast<char* const*>(args.data()));
      _exit(127);
    }
  }
  ~PeerProcess() { stop(); }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  // Waits for the peer to end its script; false after timeout_s.
  bool wait_exit(double timeout_s) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(timeout_s * 1000));
    while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pid_ < 0;
  }
  // Asks the peer to stop (it writes its summary first) and waits for it.
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!wait_exit(5)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
};

struct BridgeSettings {
  std::string call_sign = "DB0TST";
  int repeater_id = 262999;
  int bridge_id = 262998;
  int tx_hz = 439500000;
  int rx_hz = 431900000;
  std::string key = "9f00aa11bb22cc33dd44ee55ff6677889900abcd";
  // Further configuration lines (optional keys), each ending in a line feed.
  std::string extra_config;
};

class Testbed {
 public:
  // `tag`: one letter that tells this bench's namespaces from others of the process.
  explicit Testbed(char tag) {
    id_ = std::to_string(getpid()) + tag;
    const std::string& id = id_;
    bridge_ns_ = "mse" + id + "b";
    peer_ns_ = "mse" + id + "p";
    const std::string vb = "msv" + id + "b", vp = "msv" + id + "p";
    char dir[] = "/tmp/moto_bridge_e2e.XXXXXX";
    dir_ = mkdtemp(dir) ? dir : "";
    ok_ =
        geteuid() == 0 && !dir_.empty() && netns_script("create " + bridge_ns_ + " " + peer_ns_ + " " + vb + " " + vp);
  }
  ~Testbed() {
    extra_.clear();
    repeater_.reset();
    master_.reset();
    daemon_.reset();
    netns_script("delete " + bridge_ns_ + " " + peer_ns_ + " " + third_ns_);
    if (!dir_.empty() && !keep_) shell("rm -rf " + dir_);
  }
  Testbed(const Testbed&) = delete;
  Testbed& operator=(const Testbed&) = delete;

  bool ok() const { return ok_; }
  const std::string& dir() const { return dir_; }
  const BridgeSettings& settings() const { return settings_; }
  // Changed before start().
  BridgeSettings& settings() { return settings_; }
  // Keeps the run's files for a look after a failure.
  void keep_files() { keep_ = true; }

  enum class Host { kPeers, kThird };
  const std::string& netns(Host host) const { return host == Host::kPeers ? peer_ns_ : third_ns_; }

  // Adds the third host with `addresses` addresses from 192.0.2.3 on (at
  // most 200); call before start(). False when the bench cannot have it.
  bool add_third_host(int addresses = 1) {
    if (!ok_ || !third_ns_.empty() || addresses < 1 || addresses > 200) return false;
    third_ns_ = "mse" + id_ + "x";
    const std::string br = "msr" + id_, vp = "msv" + id_ + "p", vq = "msv" + id_ + "q", vx = "msv" + id_ + "x";
    const bool ok = netns_script("third " + peer_ns_ + " " + third_ns_ + " " + vp + " " + br + " " + vq + " " + vx +
                                 " " + std::to_string(addresses));
    third_addresses_ = ok ? addresses : 0;
    return ok;
  }
  // The third host's addresses, comma-separated (as the intruder takes them).
  std::string third_host_addresses() const {
    std::string list;
    for (int i = 0; i < third_addresses_; ++i) list += (i ? ",192.0.2." : "192.0.2.") + std::to_string(3 + i);
    return list;
  }

  // Runs a program on a host of the bench (argv[0] the program), its output
  // in `log_name` under dir(); stopped at the latest when the bench is dropped.
  PeerProcess& launch(Host host, const std::vector<std::string>& argv, const std::string& log_name) {
    extra_.push_back(std::make_unique<PeerProcess>(netns(host), argv, dir_ + "/" + log_name));
    return *extra_.back();
  }

  // Starts both peers with their scripts, then the daemon.
  void start(const std::string& repeater_script, const std::string& master_script,
             const std::vector<std::string>& repeater_options = {},
             const std::vector<std::string>& master_options = {}) {
    write("repeater.script", repeater_script);
    write("master.script", master_script);
    write("vexaqv.cfg",
          "RptrCall=" + settings_.call_sign + "\nRptrID=" + std::to_string(settings_.repeater_id) +
              "\nRptrIP=192.0.2.2\nRptrPort=50000\nMasterIP=192.0.2.2\nRptrQRGtx=" + std::to_string(settings_.tx_hz) +
              "\nRptrQRGrx=" + std::to_string(settings_.rx_hz) + "\nMyBridgeID=" + std::to_string(settings_.bridge_id) +
              "\nNetworkKey=" + settings_.key + "\n" + settings_.extra_config);
    std::vector<std::string> m = {
        SIM_MASTER_BINARY, "--json", dir_ + "/master.jsonl", "--script", dir_ + "/master.script", "--duration", "110"};
    m.insert(m.end(), master_options.begin(), master_options.end());
    master_ = std::make_unique<PeerProcess>(peer_ns_, m, dir_ + "/master.log");
    std::vector<std::string> r = {
        SIM_REPEATER_BINARY,       "--key",      settings_.key, "--json", dir_ + "/repeater.jsonl", "--script",
        dir_ + "/repeater.script", "--duration", "110"};
    r.insert(r.end(), repeater_options.begin(), repeater_options.end());
    repeater_ = std::make_unique<PeerProcess>(peer_ns_, r, dir_ + "/repeater.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    daemon_ = std::make_unique<DaemonRunner>(dir_, bridge_ns_);
  }

  // Waits for the master's script to end, then stops the repeater; the
  // daemon keeps running until the bench is dropped.
  bool finish(double timeout_s) {
    const bool ended = master_->wait_exit(timeout_s);
    master_->stop();
    repeater_->stop();
    return ended;
  }

  DaemonRunner& daemon() { return *daemon_; }
  std::string daemon_log() const { return read_text(dir_ + "/daemon.log"); }
  std::vector<simjson::Object> repeater_events() const { return simjson::read_file(dir_ + "/repeater.jsonl"); }
  std::vector<simjson::Object> master_events() const { return simjson::read_file(dir_ + "/master.jsonl"); }
  simreport::Report report() const { return simreport::analyse(repeater_events(), master_events()); }
  simreport::Expectations expectations() const {
    simreport::Expectations e;
    e.call_sign = settings_.call_sign;
    e.repeater_id = settings_.repeater_id;
    e.bridge_id = settings_.bridge_id;
    e.tx_hz = settings_.tx_hz;
    e.rx_hz = settings_.rx_hz;
    return e;
  }
  // The peers' readable logs and the daemon's, for failure messages.
  std::string logs() const {
    return "--- daemon\n" + daemon_log() + "--- repeater\n" + read_text(dir_ + "/repeater.log") + "--- master\n" +
           read_text(dir_ + "/master.log");
  }

 private:
  void write(const std::string& name, const std::string& text) const { std::ofstream(dir_ + "/" + name) << text; }

  BridgeSettings settings_;
  std::string id_, bridge_ns_, peer_ns_, third_ns_, dir_;
  int third_addresses_ = 0;
  std::vector<std::unique_ptr<PeerProcess>> extra_;
  bool ok_ = false;
  bool keep_ = false;
  std::unique_ptr<PeerProcess> repeater_, master_;
  std::unique_ptr<DaemonRunner> daemon_;
};

// The program that forges datagrams from a host of the bench.
inline std::string intruder_binary() { return SIM_INTRUDER_BINARY; }

// Events named `name` from a record, in order.
inline std::vector<simjson::Object> events(const std::vector<simjson::Object>& all, const std::string& name) {
  std::vector<simjson::Object> out;
  for (const auto& o : all)
    if (o.event() == name) out.push_back(o);
  return out;
}

// Position of `text` in `log` at or after `from`; npos if absent.
inline size_t find_from(const std::string& log, const std::string& text, size_t from = 0) {
  return from == std::string::npos ? std::string::npos : log.find(text, from);
}

}  // namespace simtestbed
