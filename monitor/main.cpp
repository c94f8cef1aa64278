// moto_bridge_monitor: the operator's window on the bridge. Reads the
// daemon's console log (systemd journal or standard input) and serves the
// dashboard, the JSON API, the event stream and the metrics. It never
// writes anything the log says to its own output.
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "http_service.h"
#include "log_inputs.h"
#include "options.h"
#include "resident_pages.h"

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // A handful of threads each with an arena of its own would cost more
  // resident memory than the whole model.
  mallopt(M_ARENA_MAX, 1);
  monitor::Options options;
  std::string error;
  if (!monitor::parse_options(argc, argv, &options, &error)) {
    std::fprintf(stderr, "moto_bridge_monitor: %s\n%s", error.c_str(), monitor::kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(monitor::kUsage, stdout);
    return 0;
  }
  monitor::SharedState state;
  state.live = !options.from_stdin;
  if (!options.callsigns.empty()) {
    std::ifstream in(options.callsigns, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "moto_bridge_monitor: cannot read %s\n", options.callsigns.c_str());
      return 1;
    }
    if (!state.callsigns.load(in, &error)) {
      std::fprintf(stderr, "moto_bridge_monitor: %s: %s\n", options.callsigns.c_str(), error.c_str());
      return 1;
    }
    malloc_trim(0);
    std::printf("Call signs: %zu from %s\n", state.callsigns.size(), options.callsigns.c_str());
  }

  // Signals are taken by sigwait below, not by handlers in random threads.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  monitor::HttpService http(state);
  const int port = http.bind(options.host, options.port);
  if (port < 0) {
    std::fprintf(stderr, "moto_bridge_monitor: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    return 1;
  }
  const bool v6 = options.host.find(':') != std::string::npos;
  std::printf("Dashboard on http://%s%s%s:%d/ reading %s\n", v6 ? "[" : "", options.host.c_str(), v6 ? "]" : "", port,
              options.from_stdin ? "standard input" : ("the journal of " + options.unit).c_str());

  monitor::release_unused_library_pages();
  std::thread server([&http] { http.run(); });
  // The reader blocks in read() or in the journal; at the end of standard
  // input the monitor goes on serving what it has read.
  std::thread reader([&state, &options] {
    monitor::LogIngest ingest(state);
    std::string why;
    const bool ok = options.from_stdin ? monitor::read_stream(STDIN_FILENO, ingest, &why)
                                       : monitor::follow_journal(options.unit, ingest, &why);
    if (!ok) std::fprintf(stderr, "moto_bridge_monitor: %s\n", why.c_str());
    if (!options.from_stdin) {
      // Without the journal there is nothing to show; let the service manager retry.
      std::fflush(stdout);
      _exit(1);
    }
    std::printf("End of standard input; still serving.\n");
  });
  reader.detach();

  int received = 0;
  sigwait(&signals, &received);
  http.stop();
  server.join();
  std::printf("Stopped.\n");
  // The reader may still sit in read(); the process ends around it.
  std::fflush(stdout);
  _exit(0);
}
