#pragma once
// Puts together what the simulated repeater and network master recorded
// in one run: each datagram one peer sent is matched with what the other
// peer received from the bridge (by sequence number, first arrival after the
// send), so frames, latency and spacing are measured across the daemon.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../common/jsonl.h"

namespace simreport {

struct Stats {
  size_t count = 0;
  double median = 0, p99 = 0, min = 0, max = 0;
};
Stats stats_of(std::vector<double> values);

struct Direction {
  int calls = 0;
  int packets_sent = 0, packets_received = 0;
  int frames_sent = 0, frames_ok = 0;
  int problems = 0;                 // received packets the checking peer objected to
  std::vector<double> latency_ms;   // packets of calls sent at the natural rate
  std::vector<double> spacing_ms;   // between bursts of calls sent in bunches
  std::vector<double> gap_ms;       // between bursts of calls sent at the natural rate
};

struct Report {
  bool registered = false, registration_signed = false;
  uint32_t bridge_id = 0;
  int peer_list_requests = 0;
  std::vector<double> keepalive_s;  // after the registration request
  int keepalives_answered = 0;
  double login_s = -1;              // first "A", after the registration request
  int a_received = 0;
  int rdac_announcements = 0;
  std::vector<double> rdac_s;       // after the first "A"
  std::vector<simjson::Object> announcements;
  Direction moto_to_hytera, hytera_to_moto;
  int positions_sent = 0, positions_matched = 0;
  int bad_signatures = 0;
  int datagrams_checked = 0;        // signed datagrams from the bridge seen by the repeater
  int script_problems = 0;          // wait time-outs and skipped commands
};

Report analyse(const std::vector<simjson::Object>& repeater, const std::vector<simjson::Object>& master);

struct Expectations {
  std::string call_sign;
  int64_t repeater_id = -1, bridge_id = -1, tx_hz = -1, rx_hz = -1;
  int rdac_announcements = 4;
  int calls_each_way = 1;
  int positions = 1;
};

// Why the run does not show what was expected; empty when it does.
std::vector<std::string> shortcomings(const Report& r, const Expectations& e);
void print(const Report& r, std::FILE* out);

}  // namespace simreport
