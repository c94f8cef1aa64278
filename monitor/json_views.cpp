#include "json_views.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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

json call_or_null(const std::optional<CallRecord>& c, const CallsignTable& calls, int64_t now) {
  return c ? call_json(*c, calls, now) : json(nullptr);
}

json slot_counters_json(const SlotCounters& c) {
  return {
      {"calls_rf_to_net", c.calls_rf_to_net},
      {"calls_net_to_rf", c.calls_net_to_rf},
      {"positions", c.positions},
      {"bursts_with_errors", c.bursts_with_errors},
      {"uncorrectable_frames", c.uncorrectable_frames},
      {"sequence_gaps", c.sequence_gaps},
      {"out_of_order", c.out_of_order},
      {"doubled_ids", c.doubled_ids},
      {"call_timeouts", c.call_timeouts},
      {"paced_bursts", c.paced_bursts},
      {"jitter_late", c.jitter_late},
      {"jitter_lost", c.jitter_lost},
      {"jitter_filled", c.jitter_filled},
      {"jitter_slipped", c.jitter_slipped},
      {"jitter_skipped", c.jitter_skipped},
      {"jitter_re_anchored", c.jitter_re_anchored},
  };
}

json timeslots_json(int64_t bits) {
  json slots = json::array();
  for (int slot = 1; slot <= kTimeslots; ++slot)
    if (bits & (int64_t{1} << slot)) slots.push_back(slot);
  return slots;
}

}  // namespace

std::string dump(const json& j) { return j.dump(-1, ' ', true, json::error_handler_t::replace); }

json call_json(const CallRecord& c, const CallsignTable& calls, int64_t now) {
  const bool running = c.ended_by == EndedBy::kRunning;
  const int64_t until = running ? std::max(now, c.start) : c.end;
  json j = {
      {"id", c.id},
      {"direction", direction_name(c.direction)},
      {"slot", c.slot},
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
      {"timeslots", timeslots_json(d.timeslots)},
      {"configuration_failed", d.configuration_failed},
  };
  const Counters& c = m.counters;
  // The figures of the calls are timeslot 2's where they always were, and
  // each timeslot's under by_slot.
  json counters = slot_counters_json(c.slot(2));
  counters["by_slot"] = {{slot_name(1), slot_counters_json(c.slot(1))}, {slot_name(2), slot_counters_json(c.slot(2))}};
  counters.update({
      {"logins", c.logins},
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
      {"daemon_starts", c.daemon_starts},
      {"daemon_restarts", c.daemon_starts > 1 ? c.daemon_starts - 1 : 0},
      {"socket_errors", c.socket_errors},
      {"config_errors", c.config_errors},
      {"log_lines", c.lines},
      {"unrecognised_lines", c.unrecognised_lines},
  });
  json in_progress = {{"rf_to_net", call_or_null(m.calls_on(2).rf_call, calls, now)},
                      {"net_to_rf", call_or_null(m.calls_on(2).net_call, calls, now)}};
  json by_slot = json::object();
  for (int slot = 1; slot <= kTimeslots; ++slot) {
    const SlotCalls& on = m.calls_on(slot);
    by_slot[slot_name(slot)] = {{"rf_to_net", call_or_null(on.rf_call, calls, now)},
                                {"net_to_rf", call_or_null(on.net_call, calls, now)}};
  }
  in_progress["by_slot"] = by_slot;
  return {
      {"repeater", repeater}, {"master", master},
      {"daemon", daemon},     {"calls_in_progress", in_progress},
      {"counters", counters}, {"last_log_time", time_or_null(m.last_time)},
      {"now", now},
  };
}

json calls_json(const BridgeModel& m, const CallsignTable& calls, int64_t now) {
  // Running calls first (the newest first), then the last heard.
  json out = json::array();
  std::vector<const CallRecord*> running;
  for (const SlotCalls& on : m.on_air)
    for (const std::optional<CallRecord>* c : {&on.rf_call, &on.net_call})
      if (*c) running.push_back(&**c);
  std::sort(running.begin(), running.end(), [](const CallRecord* a, const CallRecord* b) { return a->id > b->id; });
  for (const CallRecord* c : running) out.push_back(call_json(*c, calls, now));
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
        {"slot", p.slot},
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
  // A figure of the calls: the series without a slot label is timeslot 2's,
  // as it was before timeslot 1 was bridged; then one series per timeslot.
  // `labels` are the others, e.g. kind="gap", or empty.
  auto by_slot = [&](const char* name, const char* labels, auto value_on) {
    char with[96];
    std::snprintf(with, sizeof with, labels[0] ? "{%s}" : "%s", labels);
    sample(name, with, value_on(2));
    for (int slot = 1; slot <= kTimeslots; ++slot) {
      std::snprintf(with, sizeof with, "{%s%sslot=\"%s\"}", labels, labels[0] ? "," : "", slot_name(slot));
      sample(name, with, value_on(slot));
    }
  };
  const Counters& c = m.counters;
  auto counted = [&c](int64_t SlotCounters::*field) { return [&c, field](int slot) { return c.slot(slot).*field; }; };
  auto one_by_slot = [&](const char* name, const char* help, int64_t SlotCounters::*field) {
    family(name, "counter", help);
    by_slot(name, "", counted(field));
  };
  family("moto_bridge_calls_total", "counter", "Calls seen, by direction and timeslot (no slot label: timeslot 2).");
  by_slot("moto_bridge_calls_total", "direction=\"rf_to_net\"", counted(&SlotCounters::calls_rf_to_net));
  by_slot("moto_bridge_calls_total", "direction=\"net_to_rf\"", counted(&SlotCounters::calls_net_to_rf));
  family("moto_bridge_call_in_progress", "gauge",
         "1 while a call runs, by direction and timeslot (no slot label: timeslot 2).");
  by_slot("moto_bridge_call_in_progress", "direction=\"rf_to_net\"",
          [&m](int slot) { return m.calls_on(slot).rf_call ? 1 : 0; });
  by_slot("moto_bridge_call_in_progress", "direction=\"net_to_rf\"",
          [&m](int slot) { return m.calls_on(slot).net_call ? 1 : 0; });
  one("moto_bridge_repeater_registered", "gauge", "1 while the bridge is registered with the repeater.",
      m.repeater.up ? 1 : 0);
  one("moto_bridge_master_logged_in", "gauge", "1 while the bridge counts as logged in to the network master.",
      m.master.up ? 1 : 0);
  one_by_slot("moto_bridge_positions_total", "Position reports decoded.", &SlotCounters::positions);
  one("moto_bridge_logins_total", "counter", "Logins sent to the network master.", c.logins);
  one("moto_bridge_registrations_total", "counter", "Registrations with the repeater.", c.registrations);
  one("moto_bridge_reregistrations_total", "counter", "Registrations after a lost one.", c.re_registrations);
  one("moto_bridge_registration_requests_total", "counter", "Registration requests while not registered.",
      c.registration_requests);
  one_by_slot("moto_bridge_bursts_with_errors_total", "Network bursts with corrected bit errors.",
              &SlotCounters::bursts_with_errors);
  one_by_slot("moto_bridge_uncorrectable_frames_total", "Voice frames beyond correction.",
              &SlotCounters::uncorrectable_frames);
  family("moto_bridge_sequence_errors_total", "counter", "Network packets out of sequence.");
  by_slot("moto_bridge_sequence_errors_total", "kind=\"gap\"", counted(&SlotCounters::sequence_gaps));
  by_slot("moto_bridge_sequence_errors_total", "kind=\"out_of_order\"", counted(&SlotCounters::out_of_order));
  by_slot("moto_bridge_sequence_errors_total", "kind=\"doubled_id\"", counted(&SlotCounters::doubled_ids));
  one_by_slot("moto_bridge_call_timeouts_total", "Network calls ended by the transmit time-out.",
              &SlotCounters::call_timeouts);
  family("moto_bridge_dropped_datagrams_total", "counter", "Datagrams dropped, by reason.");
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"bad_signature\"}", c.dropped_bad_signature);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"not_network_master\"}", c.dropped_not_master);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"too_long\"}", c.dropped_too_long);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"reflected\"}", c.dropped_reflected);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"unasked_keep_alive_reply\"}", c.dropped_unasked_reply);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"other\"}", c.dropped_other);
  sample("moto_bridge_dropped_datagrams_total", "{reason=\"summarised\"}", c.dropped_in_summaries);
  family("moto_bridge_jitter_buffer_slots_total", "counter", "Jitter-buffer slots, by what became of them.");
  by_slot("moto_bridge_jitter_buffer_slots_total", "kind=\"late\"", counted(&SlotCounters::jitter_late));
  by_slot("moto_bridge_jitter_buffer_slots_total", "kind=\"lost\"", counted(&SlotCounters::jitter_lost));
  by_slot("moto_bridge_jitter_buffer_slots_total", "kind=\"filled\"", counted(&SlotCounters::jitter_filled));
  by_slot("moto_bridge_jitter_buffer_slots_total", "kind=\"skipped\"", counted(&SlotCounters::jitter_skipped));
  family("moto_bridge_jitter_buffer_moves_total", "counter",
         "Times the jitter buffer's grid moved: a slot to follow the master's clock, or a new stretch after a "
         "sequence jump.");
  by_slot("moto_bridge_jitter_buffer_moves_total", "kind=\"slipped\"", counted(&SlotCounters::jitter_slipped));
  by_slot("moto_bridge_jitter_buffer_moves_total", "kind=\"re_anchored\"", counted(&SlotCounters::jitter_re_anchored));
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
  if (n.slot > 0) data["slot"] = n.slot;
  return "id: " + std::to_string(n.seq) + "\ndata: " + dump(data) + "\n\n";
}

}  // namespace monitor
