// The monitor's HTTP side on a free loopback port: every endpoint answers
// with what the model holds, only GET is served, and the event stream sends
// one event per change as lines arrive.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "http_service.h"
#include "log_ingest.h"
#include "options.h"

namespace {

class MonitorHttp : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef MONITOR_SERVER_UNTESTABLE
    GTEST_SKIP() << "the HTTP server is not run " MONITOR_SERVER_UNTESTABLE;
#endif
    port_ = http_.bind("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    server_ = std::thread([this] { http_.run(); });
  }
  void TearDown() override {
    http_.stop();
    if (server_.joinable()) server_.join();
  }
  void log(const std::string& text) { ingest_.feed(text.data(), text.size()); }

  monitor::SharedState state_;
  monitor::HttpService http_{state_};
  monitor::LogIngest ingest_{state_};
  std::thread server_;
  int port_ = 0;
};

TEST_F(MonitorHttp, EndpointsServeTheModelReadOnly) {
  log("Master peer list reply\nWed Dec  9 15:41:58 2026 Sende Anmeldung an DMR Master  IP:192.0.2.2\n"
      "Wed Dec  9 15:41:59 2026 Moto RX+ slot:2 destination_id:9 source_id:2620001 rptr_id:1\n");
  httplib::Client client("127.0.0.1", port_);
  auto status = client.Get("/api/status");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, 200);
  const auto s = nlohmann::json::parse(status->body);
  EXPECT_TRUE(s["repeater"]["registered"]);
  EXPECT_TRUE(s["master"]["logged_in"]);
  EXPECT_EQ(s["counters"]["calls_rf_to_net"], 1);
  auto calls = client.Get("/api/calls");
  ASSERT_TRUE(calls);
  EXPECT_EQ(nlohmann::json::parse(calls->body)[0]["source"], 2620001);
  auto positions = client.Get("/api/positions");
  ASSERT_TRUE(positions);
  EXPECT_EQ(positions->body, "[]");
  auto metrics = client.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("moto_bridge_master_logged_in 1\n"), std::string::npos);
  EXPECT_NE(metrics->get_header_value("Content-Type").find("text/plain"), std::string::npos);
  auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("2620001"), std::string::npos);
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
  auto post = client.Post("/api/status", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_NE(post->status, 200);
  auto missing = client.Get("/api/nothing");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
}

TEST_F(MonitorHttp, EventStreamSendsOneEventPerChange) {
  std::string received;
  std::mutex m;
  std::condition_variable cv;
  std::thread reader([&] {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(10, 0);
    client.Get("/api/events", [&](const char* data, size_t length) {
      std::lock_guard<std::mutex> lock(m);
      received.append(data, length);
      cv.notify_all();
      return received.find("\"what\":\"call_end\"") == std::string::npos;
    });
  });
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(
        cv.wait_for(lock, std::chrono::seconds(5), [&] { return received.find("hello") != std::string::npos; }));
  }
  log("Wed Dec  9 15:41:59 2026 Moto RX+ slot:2 destination_id:9 source_id:2620001 rptr_id:1\n");
  log("Wed Dec  9 15:42:01 2026 Moto RX- ID:2620001\n");
  reader.join();
  EXPECT_NE(received.find("\"what\":\"call_start\""), std::string::npos) << received;
  EXPECT_NE(received.find("\"source\":2620001"), std::string::npos) << received;
  // hello, call_start, call_end: one "data:" each.
  size_t events = 0;
  for (size_t at = received.find("data: "); at != std::string::npos; at = received.find("data: ", at + 1)) ++events;
  EXPECT_EQ(events, 3u) << received;
}

TEST(MonitorOptions, ListenAddressesBothSides) {
  std::string host;
  int port = 0;
  EXPECT_TRUE(monitor::parse_listen("127.0.0.1:8073", &host, &port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 8073);
  EXPECT_TRUE(monitor::parse_listen("[::1]:65535", &host, &port));
  EXPECT_EQ(host, "::1");
  EXPECT_TRUE(monitor::parse_listen("0.0.0.0:1", &host, &port));
  for (const char* bad : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", ":80", "::1:80", "host:8x", "[::1:80"})
    EXPECT_FALSE(monitor::parse_listen(bad, &host, &port)) << bad;
}

}  // namespace
