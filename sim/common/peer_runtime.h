#pragma once
// The event loop of a simulated peer: its sockets, the datagrams it has
// scheduled to send, and the script it follows. Single-threaded: receive
// handlers, scheduled sends and script commands all run on the loop.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "command_script.h"
#include "event_log.h"
#include "udp_socket.h"

namespace simpeer {

class Runtime {
 public:
  using Receiver = std::function<void(const std::vector<uint8_t>&, const sockaddr_in&, int64_t t_us)>;
  // Starts a peer-specific command; false when the verb is unknown.
  using CommandHandler = std::function<bool(const simscript::Command&)>;

  explicit Runtime(simlog::EventLog& log) : log_(log) {}

  void watch(simnet::UdpSocket& socket, Receiver receiver);
  void set_commands(std::vector<simscript::Command> script, CommandHandler handler);

  // Runs `task` at `due_us`. A blocking task holds the script until it ran.
  void at(int64_t due_us, std::function<void()> task, bool blocking = true);
  // Counts an event that `wait` commands look for.
  void saw(const std::string& event);
  int seen(const std::string& event) const;
  // Holds the script for `seconds` more (a command that takes time).
  void hold(double seconds);

  // Runs until `quit`, a signal, or `max_seconds` (0: no limit). Returns the
  // number of wait commands that timed out.
  int run(double max_seconds);
  void stop() { quit_ = true; }

 private:
  void advance_script(int64_t now);
  simlog::EventLog& log_;
  struct Watched {
    simnet::UdpSocket* socket;
    Receiver receiver;
  };
  std::vector<Watched> sockets_;
  std::multimap<int64_t, std::pair<std::function<void()>, bool>> tasks_;
  int blocking_tasks_ = 0;
  std::vector<simscript::Command> script_;
  size_t next_command_ = 0;
  CommandHandler handler_;
  std::map<std::string, int> seen_;
  int64_t hold_until_ = 0;
  std::string waiting_for_;
  int waiting_count_ = 0;
  int64_t wait_deadline_ = 0;
  int wait_timeouts_ = 0;
  bool quit_ = false;
};

// The whole main of a simulated peer: options (with --help), the script,
// then the peer on its event loop until the script or the time ends. Exit
// status 0, or 1 when the peer cannot start, 2 for bad options or script, 3
// when a wait of the script timed out.
template <typename Peer, typename Options>
int run_peer_main(int argc, char** argv, const char* name, bool (*parse_options)(int, char**, Options&),
                  void (*usage)()) {
  Options o;
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    usage();
    return 0;
  }
  if (!parse_options(argc, argv, o)) {
    usage();
    return 2;
  }
  std::vector<simscript::Command> script;
  std::string error;
  if (!o.script.empty() && !simscript::load(o.script, script, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  simlog::EventLog log(name, o.json.c_str());
  Runtime rt(log);
  Peer peer(o, log, rt);
  if (!peer.start()) return 1;
  rt.set_commands(script, [&](const simscript::Command& c) { return peer.command(c); });
  const int timeouts = rt.run(o.duration);
  peer.summary();
  return timeouts == 0 ? 0 : 3;
}

}  // namespace simpeer
