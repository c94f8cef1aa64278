#include "json_views.h"

#include <cstdio>

namespace monitor {

using nlohmann::json;

namespace {

json time_or_null(int64_t t) { return t > 0 ? json(t) : json(nullptr); }

json callsign_or_null(const CallsignTable& calls, int64_t id) {
  const std::string_view call = calls.find(id);
  return call.empty() ? json(nullptr) : json(std::string(call));
}

json link_json(const LinkState& s) { return json{{"since", time_or_null(s.since)}}; }

json drop_summary_json(const std::optional<DropSummary>& s) {
  if (!s) return nullptr;
  return json{{"time", time_or_null(s->time)},
              {"port", s->port},
              {"datagrams", s->datagrams},
              {"senders", s->senders},
              {"busiest", s->busiest[0] ? json(s->busiest) : json(nullptr)},
              {"busiest_datagrams", s->busiest[0] ? json(s->busiest_datagrams) : json(nullptr)}};
}

}  // namespace

std::string dump(const json& j) { return j.dump(-1, ' ', true, json::error_handler_t::replace); }

json call_json(const CallRecord& c, const CallsignTable& calls, int64_t now) {
  const bool running = c.ended_by == EndedBy::kRunning;
  const int64_t until = running ? std::max(now, c.start) : c.end;
  json j = {
      {"id", c.id},
      {"direction", direction_name(c.direction)},
      {"source", c.source},
      {"destination", c.destination},
      {"callsign", callsign_or_null(calls, c.source)},
      {"destination_callsign", callsign_or_null(calls, c.destination)},
      {"start", c.start},
      {"end", running ? json(nullptr) : json(c.end)},
      {"duration", until - c.start},
      {"ended_by", running ? json(nullptr) : json(ended_by_name(c.ended_by))},
      {"interrupted", c.interrupted},
      {"ber_max", c.ber_max},
      {"bursts_with_errors", c.bursts_with_errors},
      {"uncorrectable_frames", c.uncorrectable_frames},
      {"sequence_gaps", c.sequence_gaps},
      {"out_of_order", c.out_of_order},
      {"doubled_ids", c.doubled_ids},
  };
  if (c.direction == Direction::kRfToNet) {
    j["repeater_id"] = c.repeater_id;
  } else {
    j["call_number"] = c.call_number;
    j["without_start"] = c.without_start;
    j["paced_bursts"] = c.paced_bursts;
    if (c.jitter.started || c.jitter.ended) {
      json jb = {{"mode", c.jitter.automatic ? "auto" : "fixed"}, {"lead_ms", c.jitter.lead_start_ms}};
      if (c.jitter.ended) {
        jb["end_lead_ms"] = c.jitter.lead_end_ms;
        jb["bursts"] = c.jitter.bursts;
        jb["late"] = c.jitter.late;
        jb["lost"] = c.jitter.lost;
        jb["filled"] = c.jitter.filled;
        if (c.jitter.grid_moves) {
          jb["slipped"] = c.jitter.slipped;
          jb["skipped"] = c.jitter.skipped;
          jb["re_anchored"] = c.jitter.re_anchored;
        }
      }
      j["jitter_buffer"] = jb;
    } else {
      j["jitter_buffer"] = nullptr;
    }
  }
  return j;
}

json status_json(const BridgeModel& m, const CallsignTable& calls, int64_t now) {
  json peers = json::array();
  for (int i = 0; i < m.peer_count; ++i) {
    const PeerEntry& p = m.peers[static_cast<size_t>(i)];
    peers.push_back({{"id", p.id}, {"address", p.address}, {"port", p.port}});
  }
  json repeater = link_json(m.repeater);
  repeater["registered"] = m.repeater.up;
  repeater["peer_id"] = m.repeater_peer_id > 0 ? json(m.repeater_peer_id) : json(nullptr);
  repeater["peers"] = peers;
  json master = link_json(m.master);
  master["logged_in"] = m.master.up;
  master["logins"] = m.counters.logins;
  master["last_login"] = time_or_null(m.last_login);
  master["address"] = m.daemon.master_ip[0] ? json(m.daemon.master_ip) : json(nullptr);
  master["rdac"] = {{"step", m.rdac_step},
                    {"announcements", m.counters.rdac_announcements},
                    {"last", time_or_null(m.rdac_last)},
                    {"received", m.counters.rdac_received}};
  const DaemonInfo& d = m.daemon;
  json daemon = {
      {"starts", m.counters.daemon_starts},
      {"last_start", time_or_null(d.last_start)},
      {"version", d.version[0] ? json(d.version) : json(nullptr)},
      {"call_sign", d.call_sign[0] ? json(d.call_sign) : json(nullptr)},
      {"repeater_id", d.repeater_id > 0 ? json(d.repeater_id) : json(nullptr)},
      {"repeater_address", d.repeater_ip[0] ? json(d.repeater_ip) : json(nullptr)},
      {"repeater_port", d.repeater_port > 0 ? json(d.repeater_port) : json(nullptr)},
      {"bridge_id", d.bridge_id > 0 ? json(d.bridge_id) : json(nullptr)},
      {"tx_hz", d.tx_hz > 0 ? json(d.tx_hz) : json(nullptr)},
      {"rx_hz", d.rx_hz > 0 ? json(d.rx_hz) : json(nullptr)},
      {"jitter_buffer", d.jitter_buffer_ms < 0    ? json("off")
                        : d.jitter_buffer_ms == 0 ? json("auto")
                                                  : json(d.jitter_buffer_ms)},
      {"configuration_failed", d.configuration_failed},
  };
  const Counters& c = m.counters;
  json counters = {
      {"calls_rf_to_net", c.calls_rf_to_net},
      {"calls_net_to_rf", c.calls_net_to_rf},
      {"positions", c.positions},
      {"logins", c.logins},
      {"bursts_with_errors", c.bursts_with_errors},
      {"uncorrectable_frames", c.uncorrectable_frames},
      {"sequence_gaps", c.sequence_gaps},
      {"out_of_order", c.out_of_order},
      {"doubled_ids", c.doubled_ids},
      {"call_timeouts", c.call_timeouts},
      {"paced_bursts", c.paced_bursts},
      {"dropped",
       {{"bad_signature", c.dropped_bad_signature},
        {"not_network_master", c.dropped_not_master},
        {"too_long", c.dropped_too_long},
        {"reflected", c.dropped_reflected},
        {"unasked_keep_alive_reply", c.dropped_unasked_reply},
        {"other", c.dropped_other},
        {"in_summaries", c.dropped_in_summaries},
        {"last_summary", drop_summary_json(m.last_drop_summary)}}},
      {"registrations", c.registrations},
      {"re_registrations", c.re_registrations},
      {"registration_requests", c.registration_requests},
      {"too_many_peers", c.too_many_peers},
      {"peer_registrations", c.peer_registrations},
      {"peer_keep_alives", c.peer_keep_alives},
      {"master_keep_alives", c.master_keep_alives},
      {"rdac_announcements", c.rdac_announcements},
      {"embedded_lc_errors", c.embedded_lc_errors},
      {"jitter_late", c.jitter_late},
      {"jitter_lost", c.jitter_lost},
      {"jitter_filled", c.jitter_filled},
      {"jitter_slipped", c.jitter_slipped},
      {"jitter_skipped", c.jitter_skipped},
      {"jitter_re_anchored", c.jitter_re_anchored},
      {"daemon_starts", c.daemon_starts},
      {"daemon_restarts", c.daemon_starts > 1 ? c.daemon_starts - 1 : 0},
      {"socket_errors", c.socket_errors},
      {"config_errors", c.config_errors},
      {"log_lines", c.lines},
      {"unrecognised_lines", c.unrecognised_lines},
  };
  return {
      {"repeater", repeater},
      {"master", master},
      {"daemon", daemon},
      {"calls_in_progress",
       {{"rf_to_net", m.rf_call ? call_json(*m.rf_call, calls, now) : json(nullptr)},
        {"net_to_rf", m.net_call ? call_json(*m.net_call, calls, now) : json(nullptr)}}},
      {"counters", counters},
      {"last_log_time", time_or_null(m.last_time)},
      {"now", now},
  };
}

json calls_json(const BridgeModel& m, const CallsignTable& calls, int64_t now) {
  // Running calls first (the newer of the two first), then the last heard.
  json out = json::array();
  const CallRecord* running[2] = {m.rf_call ? &*m.rf_call : nullptr, m.net_call ? &*m.net_call : nullptr};
  if (running[0] && running[1] && running[0]->id < running[1]->id) std::swap(running[0], running[1]);
  for (const CallRecord* c : running)
    if (c) out.push_back(call_json(*c, calls, now));
  for (const CallRecord& c : m.last_heard) out.push_back(call_json(c, calls, now));
  return out;
}

json positions_json(const BridgeModel& m, const CallsignTable& calls) {
  json out = json::array();
  for (const PositionRecord& p : m.positions) {
    out.push_back({
        {"source", p.source},
        {"callsign", callsign_or_null(calls, p.source)},
        {"time", p.time},
        {"repeater_id", p.repeater_id},
        {"mode", p.mode},
        {"lat_text", p.lat_text},
        {"lon_text", p.lon_text},
        {"speed_text", p.speed_text},
        {"latitude", p.latitude ? json(*p.latitude) : json(nullptr)},
        {"longitude", p.longitude ? json(*p.longitude) : json(nullptr)},
    });
  }
  return out;
}

std::string metrics_text(const BridgeModel& m) {
  std::string out;
  out.reserve(4096);
  char line[256];
  auto family = [&out](const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
  };
  auto sample = [&out, &line](const char* name, const char* labels, int64_t value) {
    std::snprintf(line, sizeof line, "%s%s %lld\n", name, labels, static_cast<long long>(value));
    out += line;
  };
  auto one = [&](const char* name, const char* type, const char* help, int64_t value) {
    family(name, type, help);
    sample(name, "", value);
  };
  const Counters& c = m.counters;
  family("moto_bridge_calls_total", "counter", "Calls seen, by direction.");
  sample("moto_bridge_calls_total", "{direction=\"rf_to_net\"}", c.calls_rf_to_net);
  sample("moto_bridge_calls_total", "{direction=\"net_to_rf\"}", c.calls_net_to_rf);
  family("moto_bridge_call_in_progress", "gauge", "1 while a call runs, by direction.");
  sample("moto_bridge_call_in_progress", "{direction=\"rf_to_net\"}", m.rf_call ? 1 : 0);
  sample("moto_bridge_call_in_progress", "{direction=\"net_to_rf\"}", m.net_call ? 1 : 0);
  one("moto_bridge_repeater_registered", "gauge", "1 while the bridge is registered with the repeater.",
      m.repeater.up ? 1 : 0);
  one("moto_bridge_master_logged_in", "gauge", "1 while the bridge counts as logged in to the network master.",
      m.master.up ? 1 : 0);
  one("moto_bridge_positions_total", "counter", "Position reports decoded.", c.positions);
  one("moto_bridge_logins_total", "counter", "Logins sent to the network master.", c.logins);
  one("moto_bridge_registrations_total", "counter", "Registrations with the repeater.", c.registrations);
  one("moto_bridge_reregistrations_total", "counter", "Registrations after a lost one.", c.re_registrations);
  one("moto_bridge_registration_requests_total", "counter", "Registration requests while not registered.",
      c.registration_requests);
  one("moto_bridge_bursts_with_errors_total", "counter", "Network bursts with corrected bit errors.",
      c.bursts_with_errors);
  one("moto_bridge_uncorrectable_frames_total", "counter", "Voice frames beyond correction.", c.uncorrectable_frames);
  family("moto_bridge_sequence_errors_total", "counter", "Network packets out of sequence.");
  sample("moto_bridge_sequence_errors_total", "{kind=\"gap\"}", c.sequence_gaps);
  sample("moto_bridge_sequence_errors_total", "{kind=\"out_of_order\"}", c.out_of_order);
  sample("moto_bridge_sequence_errors_total", "{kind=\"doubled_id\"}", c.doubled_ids);
  one("moto_bridge_call_timeouts_total", "counter", "Network calls ended by the transmit time-out.", c.call_timeouts);
  family("moto_bridge_dropped_datagrams_total", "counter", "Datagrams dropped, by reason.");
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"bad_signature\"}", c.dropped_bad_signature);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"not_network_master\"}", c.dropped_not_master);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"too_long\"}", c.dropped_too_long);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"reflected\"}", c.dropped_reflected);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"unasked_keep_alive_reply\"}", c.dropped_unasked_reply);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"other\"}", c.dropped_other);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"summarised\"}", c.dropped_in_summaries);
  family("moto_bridge_jitter_buffer_slots_total", "counter", "Jitter-buffer slots, by what became of them.");
  sample("moto_bridge_jitter_buffer_slots_total", "{kind=\"late\"}", c.jitter_late);
  sample("moto_bridge_jitter_buffer_slots_total", "{kind=\"lost\"}", c.jitter_lost);
  sample("moto_bridge_jitter_buffer_slots_total", "{kind=\"filled\"}", c.jitter_filled);
  sample("moto_bridge_jitter_buffer_slots_total", "{kind=\"skipped\"}", c.jitter_skipped);
  family("moto_bridge_jitter_buffer_moves_total", "counter",
         "Times the jitter buffer's grid moved: a slot to follow the master's clock, or a new stretch after a "
         "sequence jump.");
  sample("moto_bridge_jitter_buffer_moves_total", "{kind=\"slipped\"}", c.jitter_slipped);
  sample("moto_bridge_jitter_buffer_moves_total", "{kind=\"re_anchored\"}", c.jitter_re_anchored);
  one("moto_bridge_rdac_announcements_total", "counter", "RDAC announcements sent.", c.rdac_announcements);
  one("moto_bridge_embedded_lc_errors_total", "counter", "Embedded link-control decoding failures.",
      c.embedded_lc_errors);
  one("moto_bridge_daemon_starts_total", "counter", "Daemon starts seen in the log.", c.daemon_starts);
  one("moto_bridge_log_lines_total", "counter", "Log lines read.", c.lines);
  one("moto_bridge_log_lines_unrecognised_total", "counter", "Log lines not recognised.", c.unrecognised_lines);
  one("moto_bridge_last_log_time_seconds", "gauge", "Time of the last log line read.", m.last_time);
  return out;
}

std::string event_text(const ChangeNote& n, const CallsignTable& calls) {
  json data = {{"seq", n.seq}, {"what", n.what}, {"time", time_or_null(n.time)}};
  if (n.source > 0) {
    data["source"] = n.source;
    data["callsign"] = callsign_or_null(calls, n.source);
  }
  if (n.destination > 0) data["destination"] = n.destination;
  return "id: " + std::to_string(n.seq) + "\ndata: " + dump(data) + "\n\n";
}

}  // namespace monitor
