#include "http_service.h"

#include <httplib.h>

#include <chrono>

#include "dashboard_page.h"
#include "json_views.h"

namespace monitor {

namespace {

constexpr auto kKeepAliveComment = std::chrono::seconds(25);

// The page carries its scripts and styles inline and talks only to us.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
    "img-src data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

void plain_headers(httplib::Response& res) {
  res.set_header("Cache-Control", "no-store");
  res.set_header("X-Content-Type-Options", "nosniff");
}

}  // namespace

HttpService::HttpService(SharedState& state) : state_(state), server_(std::make_unique<httplib::Server>()) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  server_->set_keep_alive_timeout(2);
  server_->set_read_timeout(5, 0);
  server_->set_write_timeout(5, 0);
  server_->set_payload_max_length(4096);
  // The library would compress with brotli at its highest setting for any
  // browser, costing megabytes per answer for pages of a few KiB; answers
  // go out as they are. The request is the server's own, not a constant.
  server_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
    const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
    return httplib::Server::HandlerResponse::Unhandled;
  });
  routes();
}

HttpService::~HttpService() = default;

int HttpService::bind(const std::string& host, int port) {
  if (port == 0) return server_->bind_to_any_port(host);
  return server_->bind_to_port(host, port) ? port : -1;
}

bool HttpService::run() { return server_->listen_after_bind(); }

void HttpService::stop() {
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    state_.stopping = true;
  }
  state_.changed.notify_all();
  server_->stop();
}

void HttpService::routes() {
  server_->Get("/", [this](const httplib::Request&, httplib::Response& res) {
    nlohmann::json initial;
    {
      std::lock_guard<std::mutex> lock(state_.mutex);
      const int64_t now = state_.now();
      initial = {{"status", status_json(state_.model, state_.callsigns, now)},
                 {"calls", calls_json(state_.model, state_.callsigns, now)},
                 {"positions", positions_json(state_.model, state_.callsigns)}};
      initial["status"]["live"] = state_.live;
    }
    plain_headers(res);
    res.set_header("Content-Security-Policy", kPagePolicy);
    res.set_content(dashboard_page(dump(initial)), "text/html; charset=utf-8");
  });
  server_->Get("/api/status", [this](const httplib::Request&, httplib::Response& res) {
    nlohmann::json j;
    {
      std::lock_guard<std::mutex> lock(state_.mutex);
      j = status_json(state_.model, state_.callsigns, state_.now());
      j["live"] = state_.live;
    }
    plain_headers(res);
    res.set_content(dump(j), "application/json");
  });
  server_->Get("/api/calls", [this](const httplib::Request&, httplib::Response& res) {
    nlohmann::json j;
    {
      std::lock_guard<std::mutex> lock(state_.mutex);
      j = calls_json(state_.model, state_.callsigns, state_.now());
    }
    plain_headers(res);
    res.set_content(dump(j), "application/json");
  });
  server_->Get("/api/positions", [this](const httplib::Request&, httplib::Response& res) {
    nlohmann::json j;
    {
      std::lock_guard<std::mutex> lock(state_.mutex);
      j = positions_json(state_.model, state_.callsigns);
    }
    plain_headers(res);
    res.set_content(dump(j), "application/json");
  });
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    std::string text;
    {
      std::lock_guard<std::mutex> lock(state_.mutex);
      text = metrics_text(state_.model);
    }
    plain_headers(res);
    res.set_content(text, "text/plain; version=0.0.4; charset=utf-8");
  });
  server_->Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
    plain_headers(res);
    if (event_streams_.fetch_add(1) >= kMaxEventStreams) {
      event_streams_.fetch_sub(1);
      res.status = 503;
      res.set_header("Retry-After", "10");
      res.set_content("too many event streams\n", "text/plain");
      return;
    }
    auto last = std::make_shared<uint64_t>(0);
    auto greeted = std::make_shared<bool>(false);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, last, greeted](size_t, httplib::DataSink& sink) {
          std::string out;
          {
            std::unique_lock<std::mutex> lock(state_.mutex);
            const BridgeModel& m = state_.model;
            if (!*greeted) {
              // Tells the page where the stream begins; it has the state up to here.
              *greeted = true;
              *last = m.version;
              out = "retry: 3000\nid: " + std::to_string(m.version) + "\ndata: {\"seq\":" + std::to_string(m.version) +
                    ",\"what\":\"hello\"}\n\n";
            } else {
              state_.changed.wait_for(lock, kKeepAliveComment, [&] { return state_.stopping || m.version != *last; });
              if (state_.stopping) return false;
              if (m.version == *last) {
                out = ": keep-alive\n\n";
              } else {
                // Too far behind for the kept notes: one event says so.
                if (m.notes.empty() || m.notes.front().seq > *last + 1)
                  out = "id: " + std::to_string(m.version) + "\ndata: {\"seq\":" + std::to_string(m.version) +
                        ",\"what\":\"resync\"}\n\n";
                else
                  for (const ChangeNote& n : m.notes)
                    if (n.seq > *last) out += event_text(n, state_.callsigns);
                *last = m.version;
              }
            }
          }
          return sink.write(out.data(), out.size());
        },
        [this](bool) { event_streams_.fetch_sub(1); });
  });
}

}  // namespace monitor
