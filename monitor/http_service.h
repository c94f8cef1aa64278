#pragma once
// The read-only HTTP side: the dashboard page, the JSON API, the event
// stream and the metrics. A small fixed thread pool serves everything; the
// event streams wait on the shared condition variable, so an idle monitor
// does not wake up except for their rare keep-alive comments.
#include <atomic>
#include <memory>
#include <string>

#include "shared_state.h"

namespace httplib {
class Server;
}

namespace monitor {

class HttpService {
 public:
  static constexpr int kThreads = 6;
  // Event streams hold a thread each; the rest stay for page and API calls.
  static constexpr int kMaxEventStreams = 3;

  explicit HttpService(SharedState& state);
  ~HttpService();
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;

  // Binds `host`:`port` (port 0: any free one); the bound port, or -1.
  int bind(const std::string& host, int port);
  // Serves until stop().
  bool run();
  // Ends the event streams and the server; safe from another thread.
  void stop();

 private:
  void routes();
  SharedState& state_;
  std::unique_ptr<httplib::Server> server_;
  std::atomic<int> event_streams_{0};
};

}  // namespace monitor
