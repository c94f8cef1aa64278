// The monitor's model and views over logs of the daemon running against the
// simulated peers (tests/data/monitor, see capture.sh there) and over a
// hand-written log of the lines those runs did not produce: what the JSON
// says must be what the peers recorded, and the key must show nowhere.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "dashboard_page.h"
#include "json_views.h"
#include "log_ingest.h"

namespace {

using nlohmann::json;

std::string data_file(const std::string& name) {
  std::ifstream in(std::string(MONITOR_TEST_DATA) + "/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<json> records(const std::string& name, const std::string& event) {
  std::vector<json> out;
  std::istringstream in(data_file(name));
  for (std::string line; std::getline(in, line);) {
    json o = json::parse(line);
    if (o["ev"] == event) out.push_back(o);
  }
  return out;
}

// Feeds a log in uneven pieces, as reads from a pipe come.
void feed(monitor::SharedState& state, const std::string& log) {
  monitor::LogIngest ingest(state);
  for (size_t at = 0; at < log.size(); at += 997) ingest.feed(log.data() + at, std::min<size_t>(997, log.size() - at));
  ingest.finish();
}

const json& by_source(const json& calls, int64_t source) {
  for (const json& c : calls)
    if (c["source"] == source) return c;
  static const json none = json::object();
  ADD_FAILURE() << "no call from " << source;
  return none;
}

struct Views {
  json status, calls, positions;
  std::string metrics, page;
};

Views views(monitor::SharedState& s) {
  Views v;
  const int64_t now = s.now();
  v.status = monitor::status_json(s.model, s.callsigns, now);
  v.calls = monitor::calls_json(s.model, s.callsigns, now);
  v.positions = monitor::positions_json(s.model, s.callsigns);
  v.metrics = monitor::metrics_text(s.model);
  v.page =
      monitor::dashboard_page(monitor::dump({{"status", v.status}, {"calls", v.calls}, {"positions", v.positions}}));
  return v;
}

void expect_key_nowhere(const Views& v, const std::string& key_text, const std::string& key_bytes) {
  for (const std::string& shown : {v.status.dump(), v.calls.dump(), v.positions.dump(), v.metrics, v.page}) {
    EXPECT_EQ(shown.find(key_text), std::string::npos);
    EXPECT_EQ(shown.find(key_bytes), std::string::npos);
    EXPECT_EQ(shown.find(key_text.substr(0, 12)), std::string::npos);
  }
}

// Each call in the JSON against the peer that received it.
void expect_calls_match_records(const json& calls, const std::string& run) {
  std::vector<json> rf, net;
  for (const json& c : calls)
    (c["direction"] == "rf_to_net" ? rf : net).insert((c["direction"] == "rf_to_net" ? rf : net).begin(), c);
  const auto at_master = records(run + "-master.jsonl", "hyt_call_rx");
  const auto at_repeater = records(run + "-repeater.jsonl", "moto_call_rx");
  ASSERT_EQ(rf.size(), at_master.size());
  for (size_t i = 0; i < rf.size(); ++i) {
    EXPECT_EQ(rf[i]["source"], at_master[i]["src"]) << run << " rf " << i;
    EXPECT_EQ(rf[i]["destination"], at_master[i]["dst"]) << run << " rf " << i;
    EXPECT_EQ(rf[i]["ended_by"], "end");
  }
  ASSERT_EQ(net.size(), at_repeater.size());
  for (size_t i = 0; i < net.size(); ++i) {
    EXPECT_EQ(net[i]["source"], at_repeater[i]["src"]) << run << " net " << i;
    EXPECT_EQ(net[i]["destination"], at_repeater[i]["dst"]) << run << " net " << i;
    EXPECT_EQ(net[i]["call_number"], at_repeater[i]["call_seq"]) << run << " net " << i;
  }
  const auto positions = records(run + "-master.jsonl", "position_rx");
  ASSERT_EQ(positions.size(), 1u);
}

TEST(MonitorModel, DemoRunMatchesWhatThePeersRecorded) {
  monitor::SharedState s;
  feed(s, data_file("demo-daemon.log"));
  const Views v = views(s);
  expect_calls_match_records(v.calls, "demo");
  EXPECT_TRUE(v.status["repeater"]["registered"]);
  EXPECT_TRUE(v.status["master"]["logged_in"]);
  EXPECT_EQ(v.status["counters"]["calls_rf_to_net"], 1);
  EXPECT_EQ(v.status["counters"]["calls_net_to_rf"], 2);
  EXPECT_EQ(v.status["counters"]["positions"], 1);
  EXPECT_EQ(v.status["counters"]["logins"], 1);
  EXPECT_EQ(v.status["counters"]["unrecognised_lines"], 0);
  EXPECT_EQ(v.status["master"]["rdac"]["announcements"], 4);
  EXPECT_EQ(v.status["daemon"]["call_sign"], "DB0SIM");
  const auto sent = records("demo-master.jsonl", "position_rx");
  ASSERT_EQ(v.positions.size(), 1u);
  EXPECT_EQ(v.positions[0]["source"], sent[0]["src"]);
  EXPECT_EQ(v.positions[0]["lat_text"], sent[0]["lat"]);
  EXPECT_EQ(v.positions[0]["lon_text"], sent[0]["lon"]);
  EXPECT_EQ(v.positions[0]["speed_text"], "041");
  EXPECT_NEAR(v.positions[0]["latitude"].get<double>(), 52.53505, 1e-5);
  EXPECT_NEAR(v.positions[0]["longitude"].get<double>(), 13.426, 1e-5);
  // The paced call: bunched bursts leave with added delay.
  EXPECT_GT(v.calls[0]["paced_bursts"].get<int>(), 5);
  expect_key_nowhere(v, "c0ffee00112233445566778899aabbccddeeff01",
                     "c0:ff:ee:00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff:01");
  EXPECT_NE(v.metrics.find("moto_bridge_calls_total{direction=\"rf_to_net\"} 1\n"), std::string::npos);
  EXPECT_NE(v.metrics.find("moto_bridge_calls_total{direction=\"net_to_rf\"} 2\n"), std::string::npos);
  EXPECT_NE(v.metrics.find("moto_bridge_positions_total 1\n"), std::string::npos);
  EXPECT_NE(v.metrics.find("moto_bridge_repeater_registered 1\n"), std::string::npos);
  EXPECT_NE(v.metrics.find("moto_bridge_master_logged_in 1\n"), std::string::npos);
}

TEST(MonitorModel, VariedRunErrorsTimeOutJitterBufferAndReRegistration) {
  monitor::SharedState s;
  feed(s, data_file("rich-daemon.log"));
  const Views v = views(s);
  expect_calls_match_records(v.calls, "rich");
  const json& c = v.status["counters"];
  EXPECT_EQ(c["re_registrations"], 1);
  EXPECT_EQ(c["registrations"], 2);
  EXPECT_EQ(c["logins"], 3);
  EXPECT_EQ(c["call_timeouts"], 1);
  EXPECT_EQ(c["peer_registrations"], 1);
  EXPECT_EQ(c["peer_keep_alives"], 1);
  EXPECT_EQ(c["uncorrectable_frames"], 3);
  // The call with bit errors: eleven BER lines, the worst 7.09 %.
  const json& errored = by_source(v.calls, 2620004);
  EXPECT_EQ(errored["bursts_with_errors"], 11);
  EXPECT_EQ(errored["uncorrectable_frames"], 3);
  EXPECT_NEAR(errored["ber_max"].get<double>(), 7.092199, 1e-6);
  const json& timed_out = by_source(v.calls, 2620005);
  EXPECT_EQ(timed_out["ended_by"], "timeout");
  EXPECT_EQ(timed_out["jitter_buffer"]["filled"], 44);
  // A daemon from before the grid moved printed no more than this.
  EXPECT_FALSE(timed_out["jitter_buffer"].contains("slipped"));
  const json& headerless = by_source(v.calls, 2620006);
  EXPECT_EQ(headerless["without_start"], true);
  EXPECT_EQ(headerless["jitter_buffer"]["mode"], "auto");
  EXPECT_EQ(headerless["sequence_gaps"], 1);
  EXPECT_EQ(by_source(v.calls, 2620002)["ber_max"], 0.0);
  // The repeater's call after its restart, and the random datagrams it sent.
  EXPECT_EQ(by_source(v.calls, 2620007)["direction"], "rf_to_net");
  EXPECT_GT(c["dropped"]["bad_signature"].get<int>(), 0);
  EXPECT_EQ(c["dropped"]["not_network_master"], 0);
  EXPECT_EQ(v.positions[0]["mode"], "Manual");
  expect_key_nowhere(v, "5a5b5c5d5e5f60616263646566676869707172ab",
                     "5a:5b:5c:5d:5e:5f:60:61:62:63:64:65:66:67:68:69:70:71:72:ab");
}

TEST(MonitorModel, HandWrittenLinesDropsRestartsAndGarbage) {
  monitor::SharedState s;
  std::istringstream csv(data_file("callsigns.csv"));
  std::string error;
  ASSERT_TRUE(s.callsigns.load(csv, &error)) << error;
  // Only part of the log first: a network call in progress.
  const std::string log = data_file("handwritten-lines.log");
  const size_t cut = log.find("F_err");
  feed(s, log.substr(0, cut));
  Views v = views(s);
  ASSERT_FALSE(v.status["calls_in_progress"]["net_to_rf"].is_null());
  EXPECT_EQ(v.calls[0]["end"], nullptr);
  EXPECT_EQ(v.calls[0]["ended_by"], nullptr);
  EXPECT_EQ(v.calls[0]["callsign"], "DL3CCC");
  EXPECT_EQ(v.status["daemon"]["jitter_buffer"], 80);
  EXPECT_EQ(v.status["counters"]["dropped"]["not_network_master"], 1);
  EXPECT_EQ(v.status["counters"]["dropped"]["bad_signature"], 1);
  EXPECT_EQ(v.status["counters"]["dropped"]["in_summaries"], 17);
  EXPECT_EQ(v.status["repeater"]["peers"].size(), 1u);

  monitor::SharedState all;
  feed(all, log);
  v = views(all);
  const json& c = v.status["counters"];
  EXPECT_EQ(c["daemon_starts"], 2);
  EXPECT_EQ(c["daemon_restarts"], 1);
  EXPECT_EQ(c["config_errors"], 2);
  EXPECT_EQ(c["sequence_gaps"], 1);
  EXPECT_EQ(c["out_of_order"], 1);
  EXPECT_EQ(c["doubled_ids"], 1);
  EXPECT_EQ(c["embedded_lc_errors"], 2);
  EXPECT_EQ(c["too_many_peers"], 1);
  EXPECT_EQ(c["unrecognised_lines"], 1);  // the garbage line
  EXPECT_FALSE(v.status["repeater"]["registered"]);
  EXPECT_FALSE(v.status["master"]["logged_in"]);
  // The restart ends the call that was on air when the daemon went.
  ASSERT_EQ(v.calls.size(), 2u);
  EXPECT_EQ(v.calls[0]["source"], 2620020);
  EXPECT_EQ(v.calls[0]["interrupted"], true);
  const json& timed_out = v.calls[1];
  EXPECT_EQ(timed_out["ended_by"], "timeout");
  EXPECT_EQ(timed_out["duration"], 4);
  EXPECT_NEAR(timed_out["ber_max"].get<double>(), 12.765957, 1e-6);
  EXPECT_EQ(timed_out["jitter_buffer"]["mode"], "fixed");
  EXPECT_EQ(timed_out["jitter_buffer"]["lost"], 3);
  EXPECT_EQ(timed_out["jitter_buffer"]["slipped"], 1);
  EXPECT_EQ(timed_out["jitter_buffer"]["skipped"], 2);
  EXPECT_EQ(timed_out["jitter_buffer"]["re_anchored"], 1);
  EXPECT_EQ(c["jitter_skipped"], 2);
  EXPECT_NEAR(v.positions[0]["latitude"].get<double>(), 48.1173, 1e-4);
  expect_key_nowhere(v, "00112233445566778899aabbccddeeff0a1b2c3d",
                     "00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff:0a:1b:2c:3d");
}

// Calls on both timeslots both ways at once, interleaved line by line: each
// line goes to the call of its own slot, and each slot numbers its network
// calls on its own.
TEST(MonitorModel, BothTimeslotsAtOnce) {
  const std::string log = data_file("handwritten-timeslots.log");
  monitor::SharedState four;
  feed(four, log.substr(0, log.find("BER : 2.8")));
  Views v = views(four);
  const json& on_air = v.status["calls_in_progress"];
  const struct {
    const char *slot, *direction;
    int source;
  } running[] = {{"1", "rf_to_net", 2620102},
                 {"1", "net_to_rf", 2620201},
                 {"2", "rf_to_net", 2620101},
                 {"2", "net_to_rf", 2620202}};
  for (const auto& r : running) {
    EXPECT_EQ(on_air["by_slot"][r.slot][r.direction]["source"], r.source) << r.slot << r.direction;
    EXPECT_EQ(on_air["by_slot"][r.slot][r.direction]["slot"], std::stoi(r.slot)) << r.slot << r.direction;
  }
  // Where consumers read it before: timeslot 2.
  EXPECT_EQ(on_air["rf_to_net"]["source"], 2620101);
  EXPECT_EQ(on_air["net_to_rf"]["source"], 2620202);
  ASSERT_EQ(v.calls.size(), 4u);
  EXPECT_EQ(v.calls[0]["source"], 2620202);  // the newest first
  EXPECT_EQ(v.status["daemon"]["timeslots"], json::array({1, 2}));
  EXPECT_NE(v.metrics.find("moto_bridge_call_in_progress{direction=\"net_to_rf\",slot=\"1\"} 1\n"), std::string::npos);

  monitor::SharedState all;
  feed(all, log);
  v = views(all);
  const struct {
    int source, slot;
    const char *direction, *ended_by;
    int call_number, bursts_with_errors, uncorrectable, sequence_gaps, out_of_order, doubled, jitter_lost;
  } heard[] = {
      {2620203, 1, "net_to_rf", "end", 2, 0, 0, 1, 0, 0, -1},     // begun without its header
      {2620202, 2, "net_to_rf", "timeout", 1, 1, 0, 0, 1, 0, 2},  // the same number on the other slot
      {2620102, 1, "rf_to_net", "end", 0, 0, 0, 0, 0, 0, -1},     // overlapping the one on timeslot 2
      {2620201, 1, "net_to_rf", "end", 1, 2, 1, 0, 0, 1, 0},      // errors and a second talker
      {2620101, 2, "rf_to_net", "end", 0, 0, 0, 0, 0, 0, -1},     // its header repeated
  };
  ASSERT_EQ(v.calls.size(), std::size(heard));
  for (size_t i = 0; i < std::size(heard); ++i) {
    const json& c = v.calls[i];
    const auto& h = heard[i];
    EXPECT_EQ(c["source"], h.source) << i;
    EXPECT_EQ(c["slot"], h.slot) << i;
    EXPECT_EQ(c["direction"], h.direction) << i;
    EXPECT_EQ(c["ended_by"], h.ended_by) << i;
    EXPECT_EQ(c["interrupted"], false) << i;
    EXPECT_EQ(c["bursts_with_errors"], h.bursts_with_errors) << i;
    EXPECT_EQ(c["uncorrectable_frames"], h.uncorrectable) << i;
    EXPECT_EQ(c["sequence_gaps"], h.sequence_gaps) << i;
    EXPECT_EQ(c["out_of_order"], h.out_of_order) << i;
    EXPECT_EQ(c["doubled_ids"], h.doubled) << i;
    EXPECT_EQ(c.value("call_number", 0), h.call_number) << i;
    const json jitter = c.value("jitter_buffer", json());
    EXPECT_EQ(jitter.is_null() ? -1 : jitter["lost"].get<int>(), h.jitter_lost) << i;
  }
  EXPECT_NEAR(v.calls[3]["ber_max"].get<double>(), 4.964539, 1e-6);
  EXPECT_EQ(v.calls[3]["jitter_buffer"]["lead_ms"], 60);
  EXPECT_EQ(v.calls[1]["jitter_buffer"]["lead_ms"], 80);
  EXPECT_EQ(v.calls[0]["without_start"], true);

  const json& counters = v.status["counters"];
  const struct {
    const char* name;
    int slot1, slot2;
  } counted[] = {{"calls_rf_to_net", 1, 1}, {"calls_net_to_rf", 2, 1},    {"positions", 1, 1},
                 {"call_timeouts", 0, 1},   {"bursts_with_errors", 2, 1}, {"uncorrectable_frames", 1, 0},
                 {"sequence_gaps", 1, 0},   {"out_of_order", 0, 1},       {"doubled_ids", 1, 0},
                 {"paced_bursts", 1, 0},    {"jitter_late", 1, 0},        {"jitter_lost", 0, 2},
                 {"jitter_slipped", 0, 1}};
  for (const auto& c : counted) {
    EXPECT_EQ(counters["by_slot"]["1"][c.name], c.slot1) << c.name;
    EXPECT_EQ(counters["by_slot"]["2"][c.name], c.slot2) << c.name;
    EXPECT_EQ(counters[c.name], c.slot2) << c.name;
  }
  for (const char* metric :
       {"moto_bridge_calls_total{direction=\"net_to_rf\",slot=\"1\"} 2\n",
        "moto_bridge_calls_total{direction=\"net_to_rf\",slot=\"2\"} 1\n",
        "moto_bridge_calls_total{direction=\"net_to_rf\"} 1\n", "moto_bridge_positions_total{slot=\"1\"} 1\n",
        "moto_bridge_sequence_errors_total{kind=\"gap\",slot=\"1\"} 1\n",
        "moto_bridge_call_in_progress{direction=\"rf_to_net\",slot=\"1\"} 0\n"})
    EXPECT_NE(v.metrics.find(metric), std::string::npos) << metric;
  ASSERT_EQ(v.positions.size(), 2u);
  EXPECT_EQ(v.positions[0]["slot"], 2);
  EXPECT_EQ(v.positions[1]["slot"], 1);
  EXPECT_EQ(v.positions[1]["source"], 2620103);
  EXPECT_EQ(counters["unrecognised_lines"], 0);
  expect_key_nowhere(v, "5a5b5c5d5e5f60616263646566676869707172cd",
                     "5a:5b:5c:5d:5e:5f:60:61:62:63:64:65:66:67:68:69:70:71:72:cd");
}

TEST(MonitorModel, LastHeardKeepsFiftyNewestFirst) {
  monitor::SharedState s;
  std::string log;
  for (int i = 1; i <= 60; ++i) {
    log += "Wed Dec  9 15:41:58 2026 Moto RX+ slot:2 destination_id:9 source_id:" + std::to_string(i) +
           " rptr_id:1\r\nWed Dec  9 15:41:59 2026 Moto RX- ID:" + std::to_string(i) + "\n";
  }
  feed(s, log);
  const Views v = views(s);
  ASSERT_EQ(v.calls.size(), 50u);
  EXPECT_EQ(v.calls[0]["source"], 60);
  EXPECT_EQ(v.calls[49]["source"], 11);
  EXPECT_EQ(v.status["counters"]["calls_rf_to_net"], 60);
}

TEST(MonitorCallsigns, HeaderColumnsQuotesBomAndBadRows) {
  std::istringstream in(
      "\xEF\xBB\xBF\"RADIO_ID\",\"CALLSIGN\",\"FIRST_NAME\"\r\n"
      "\"2620001\",\"dl1aaa\",\"Anna, \"\"the\"\" first\"\r\n"
      "2620002,DL2BBB\n"
      "x,DL9XXX\n"
      "2620003,<script>\n"
      "16777216,DL8TOO\n"
      "2620002,DL2NEW\n");
  monitor::CallsignTable t;
  std::string error;
  ASSERT_TRUE(t.load(in, &error)) << error;
  EXPECT_EQ(t.find(2620001), "DL1AAA");
  EXPECT_EQ(t.find(2620002), "DL2NEW");
  EXPECT_EQ(t.find(2620003), "");
  EXPECT_EQ(t.find(16777216), "");
  EXPECT_EQ(t.size(), 2u);
  std::istringstream no_columns("ID,NAME\n1,A\n");
  EXPECT_FALSE(t.load(no_columns, &error));
}

// Every reason the daemon gives for a drop has its counter, a reason of a
// newer daemon counts as other, and the last summary names its busiest
// sender (none on the lines of older daemons).
TEST(MonitorModel, DropReasonsAndTheBusiestSender) {
  const std::string ts = "Thu Dec 10 12:34:36 2026 ";
  const std::string from = "Dropped datagram from 192.0.2.4:40000 on port 50000: ";
  monitor::SharedState s;
  feed(s, ts + from + "bad signature\n" + ts + from + "not the network master\n" + ts + from + "too long\n" + ts +
              from + "too long\n" + ts + from + "reflected\n" + ts + from + "keep-alive reply not asked for\n" + ts +
              from + "tampered with\n" + ts +
              "Dropped on port 62005 in the last minute: 2000 datagrams from 1 senders, most from 192.0.2.4 (2000)\n");
  json dropped = views(s).status["counters"]["dropped"];
  const struct {
    const char* key;
    int count;
  } counts[] = {{"bad_signature", 1},  {"not_network_master", 1},       {"too_long", 2},
                {"reflected", 1},      {"unasked_keep_alive_reply", 1}, {"other", 1},
                {"in_summaries", 2000}};
  for (const auto& c : counts) EXPECT_EQ(dropped[c.key], c.count) << c.key;
  EXPECT_EQ(dropped["last_summary"]["port"], 62005);
  EXPECT_EQ(dropped["last_summary"]["senders"], 1);
  EXPECT_EQ(dropped["last_summary"]["busiest"], "192.0.2.4");
  EXPECT_EQ(dropped["last_summary"]["busiest_datagrams"], 2000);
  EXPECT_NE(views(s).metrics.find("moto_bridge_dropped_datagrams_total{reason=\"reflected\"} 1\n"), std::string::npos);

  feed(s, ts + "Dropped on port 62006 in the last minute: 17 datagrams from 3 senders\n");
  dropped = views(s).status["counters"]["dropped"];
  EXPECT_EQ(dropped["last_summary"]["port"], 62006);
  EXPECT_EQ(dropped["last_summary"]["busiest"], nullptr);
  EXPECT_EQ(dropped["in_summaries"], 2017);
}

}  // namespace
