#include "run_report.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace simreport {
namespace {

using simjson::Object;

struct Received {
  int64_t t;
  const Object* o;
};

// The timeslot of a record; those written before there were two are timeslot 2's.
int64_t slot_of(const Object& o) { return o.num("slot", 2); }

// A packet's place among the packets of its timeslot: each timeslot numbers its own.
int64_t stream_key(const Object& o) { return slot_of(o) << 16 | (o.num("seq") & 0xFFFF); }

// Received packets by timeslot and sequence number, in arrival order.
std::multimap<int64_t, Received> by_stream(const std::vector<Object>& events, const char* name) {
  std::multimap<int64_t, Received> m;
  for (const Object& o : events)
    if (o.event() == name) m.emplace(stream_key(o), Received{o.num("t_us"), &o});
  return m;
}

const Object* first_after(const std::multimap<int64_t, Received>& m, int64_t key, int64_t t) {
  auto range = m.equal_range(key);
  const Object* best = nullptr;
  int64_t best_t = 0;
  for (auto it = range.first; it != range.second; ++it)
    if (it->second.t >= t && (!best || it->second.t < best_t)) {
      best = it->second.o;
      best_t = it->second.t;
    }
  return best;
}

int frames_matching(const std::string& sent, const std::string& received) {
  int ok = 0;
  for (size_t i = 0; i + 14 <= sent.size(); i += 14)
    if (received.size() >= i + 14 && sent.compare(i, 14, received, i, 14) == 0) ++ok;
  return ok;
}

// What the sending peer announced about each of its calls, by call number.
std::map<int64_t, const Object*> calls_of(const std::vector<Object>& events, const char* name) {
  std::map<int64_t, const Object*> m;
  for (const Object& o : events)
    if (o.event() == name) m[o.num("call")] = &o;
  return m;
}

// One way through the bridge: the records of the peer that played the calls
// and of the one that received them, with what is looked up in them built
// once, as it serves every timeslot alike.
struct Flow {
  const std::vector<Object>& sender;
  const char* sent_name;
  const std::vector<Object>& receiver;
  const char* received_call_name;
  std::map<int64_t, const Object*> calls;     // the sender's calls, by call number
  std::multimap<int64_t, Received> received;  // the receiver's packets, by stream
};

Flow flow_of(const std::vector<Object>& sender, const char* sent_name, const char* call_name,
             const std::vector<Object>& receiver, const char* received_name, const char* received_call_name) {
  return Flow{
      sender, sent_name, receiver, received_call_name, calls_of(sender, call_name), by_stream(receiver, received_name)};
}

// The calls one peer played and how they reached the other; `slot` 0: on
// either timeslot, else only those on it.
void match(Direction& d, const Flow& f, int64_t slot) {
  const auto on_slot = [slot](const Object& o) { return slot == 0 || slot_of(o) == slot; };
  for (const auto& [number, call] : f.calls) d.calls += on_slot(*call) ? 1 : 0;
  for (const Object& o : f.receiver) d.calls_received += o.event() == f.received_call_name && on_slot(o) ? 1 : 0;
  std::map<int64_t, std::vector<int64_t>> arrivals;  // bursts per call
  for (const Object& o : f.sender) {
    if (!on_slot(o)) continue;
    if (o.event() == "hyt_voice_lost") ++d.lost_on_link;
    if (o.event() != f.sent_name || o.str("kind") == "sync") continue;
    const int64_t call = o.num("call");
    auto c = f.calls.find(call);
    const bool bunched = c != f.calls.end() && c->second->num("bunch", 1) > 1;
    const bool impaired = c != f.calls.end() && c->second->flag("impaired");
    ++d.packets_sent;
    const bool burst = o.has("frames");
    const int frames = static_cast<int>(o.str("frames").size() / 14);
    if (burst) d.frames_sent += frames;
    // From the nominal time on: a slot the bridge filled for a burst that
    // came too late may leave before that burst was sent.
    const Object* r = first_after(f.received, stream_key(o), o.num("nominal_us", o.num("t_us")));
    if (!r) continue;
    ++d.packets_received;
    if (!r->str("problems").empty()) ++d.problems;
    if (burst && r->flag("silence")) {
      d.frames_filled += frames;
    } else if (burst) {
      d.frames_ok += frames_matching(o.str("frames"), r->str("frames"));
      if (!impaired) arrivals[call * 2 + (bunched ? 1 : 0)].push_back(r->num("t_us"));
    }
    if (!bunched && !impaired) d.latency_ms.push_back(static_cast<double>(r->num("t_us") - o.num("t_us")) / 1000.0);
  }
  for (auto& [key, times] : arrivals) {
    std::sort(times.begin(), times.end());
    for (size_t i = 1; i < times.size(); ++i)
      (key % 2 ? d.spacing_ms : d.gap_ms).push_back(static_cast<double>(times[i] - times[i - 1]) / 1000.0);
  }
}

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5))];
}

std::vector<CallGrid> grids_of(const std::vector<Object>& master, const std::vector<Object>& repeater) {
  const auto received = by_stream(repeater, "moto_voice_rx");
  std::vector<CallGrid> grids;
  for (const auto& [number, call] : calls_of(master, "hyt_call_tx")) {
    CallGrid g;
    g.call = static_cast<int>(number);
    g.slot = static_cast<int>(slot_of(*call));
    g.link = call->str("link");
    g.impaired = call->flag("impaired");
    g.bunched = call->num("bunch", 1) > 1;
    std::vector<const Object*> bursts;
    for (const Object& o : master)
      if ((o.event() == "hyt_voice_tx" || o.event() == "hyt_voice_lost") && o.num("call") == number &&
          o.str("kind") == "voice")
        bursts.push_back(&o);
    if (bursts.empty()) {
      grids.push_back(g);
      continue;
    }
    std::sort(bursts.begin(), bursts.end(),
              [](const Object* a, const Object* b) { return a->num("seq") < b->num("seq"); });
    const int64_t first_seq = bursts.front()->num("seq");
    auto k_of = [&](const Object* o) { return static_cast<int>(static_cast<uint16_t>(o->num("seq") - first_seq)); };
    int64_t ref = 0;
    bool have_ref = false, have_first_sent = false;
    int64_t first_sent = 0;
    for (const Object* o : bursts)
      if (o->event() == "hyt_voice_tx" && (!have_first_sent || o->num("t_us") < first_sent)) {
        first_sent = o->num("t_us");
        ref = first_sent - k_of(o) * 60000LL;
        have_first_sent = have_ref = true;
      }
    std::vector<int64_t> arrivals;
    std::vector<double> lateness;
    for (const Object* o : bursts) {
      GridBurst b;
      b.k = k_of(o);
      b.lost_on_link = o->event() == "hyt_voice_lost";
      ++g.bursts;
      if (b.lost_on_link) ++g.lost_on_link;
      if (!b.lost_on_link)
        g.sender_stall_ms = std::max(
            g.sender_stall_ms,
            static_cast<double>(o->num("t_us") - o->num("nominal_us", o->num("t_us")) - o->num("link_delay_us")) /
                1000.0);
      if (!b.lost_on_link && have_ref) {
        b.lateness_ms = static_cast<double>(o->num("t_us") - ref - b.k * 60000LL) / 1000.0;
        lateness.push_back(b.lateness_ms);
      }
      const Object* r = first_after(received, stream_key(*o), o->num("nominal_us", o->num("t_us")));
      if (r && r->str("kind") == "burst") {
        b.on_air = true;
        ++g.on_air;
        arrivals.push_back(r->num("t_us"));
        b.arrival_ms = static_cast<double>(r->num("t_us") - ref) / 1000.0;
        if (have_ref) g.added_delay_ms.push_back(b.arrival_ms - b.k * 60.0);
        if (r->flag("silence")) {
          b.filled = true;
          ++g.filled;
          if (!b.lost_on_link) ++g.late_filled;
        } else if (!b.lost_on_link && frames_matching(o->str("frames"), r->str("frames")) * 14 ==
                                          static_cast<int>(o->str("frames").size())) {
          b.own = true;
          ++g.own;
        } else {
          ++g.wrong;
        }
      } else {
        ++g.missing;
      }
      g.slots.push_back(b);
    }
    std::sort(arrivals.begin(), arrivals.end());
    std::vector<double> jitter;
    for (size_t i = 1; i < arrivals.size(); ++i) {
      const double gap = static_cast<double>(arrivals[i] - arrivals[i - 1]) / 1000.0;
      g.gaps_ms.push_back(gap);
      g.largest_gap_ms = std::max(g.largest_gap_ms, gap);
      if (gap > 80) ++g.gaps_over_80ms;
      jitter.push_back(std::fabs(gap - 60));
    }
    g.p99_jitter_ms = percentile(jitter, 0.99);
    g.lead_for_99_ms = percentile(lateness, 0.99);
    g.max_lateness_ms = percentile(lateness, 1.0);
    grids.push_back(g);
  }
  return grids;
}

// The Motorola datagrams of one call (by its timeslot and call number)
// around the span in which its bursts arrived, in arrival order.
std::vector<const Object*> moto_call_datagrams(const std::vector<Object>& repeater, int64_t slot, int64_t call_seq,
                                               int64_t from, int64_t to) {
  std::vector<const Object*> out;
  for (const Object& o : repeater)
    if (o.event() == "moto_voice_rx" && slot_of(o) == slot && o.num("call_seq", -1) == call_seq &&
        o.num("t_us") >= from && o.num("t_us") <= to)
      out.push_back(&o);
  std::stable_sort(out.begin(), out.end(),
                   [](const Object* a, const Object* b) { return a->num("t_us") < b->num("t_us"); });
  return out;
}

void measure_moto_call(CallOnAir& a, const std::vector<const Object*>& datagrams) {
  int64_t last_voice = -1;
  int silence_run = 0;
  for (const Object* o : datagrams) {
    if (o->str("kind") == "header" && o->num("marker") == 0xDD) a.own_header = true;
    if (o->str("kind") != "burst") continue;
    const int64_t t = o->num("t_us");
    if (last_voice >= 0) {
      const double gap = static_cast<double>(t - last_voice) / 1000.0;
      a.largest_gap_ms = std::max(a.largest_gap_ms, gap);
      a.closest_ms = a.closest_ms == 0 ? gap : std::min(a.closest_ms, gap);
    }
    last_voice = t;
    silence_run = o->flag("silence") ? silence_run + 1 : 0;
    a.longest_silence_ms = std::max(a.longest_silence_ms, silence_run * 60.0);
  }
}

std::vector<CallOnAir> calls_on_air(const std::vector<Object>& master, const std::vector<Object>& repeater) {
  std::multimap<std::string, Received> by_frames;
  for (const Object& o : repeater)
    if (o.event() == "moto_voice_rx" && o.str("kind") == "burst" && !o.flag("silence"))
      by_frames.emplace(o.str("frames"), Received{o.num("t_us"), &o});
  std::vector<CallOnAir> calls;
  for (const auto& [number, call] : calls_of(master, "hyt_call_tx")) {
    CallOnAir a;
    a.call = static_cast<int>(number);
    std::vector<double> added;
    std::vector<int64_t> call_seqs;
    int64_t first_t = -1, last_t = -1, stray_t = -1;
    for (const Object& o : master) {
      if (o.event() == "hyt_stray_tx" && o.num("call") == number) stray_t = o.num("t_us");
      if (o.event() != "hyt_voice_tx" || o.num("call") != number || o.str("kind") != "voice") continue;
      ++a.sent;
      const Object* r = nullptr;
      auto range = by_frames.equal_range(o.str("frames"));
      for (auto it = range.first; it != range.second; ++it)
        if (it->second.t >= o.num("t_us") && slot_of(*it->second.o) == slot_of(o) &&
            (!r || it->second.t < r->num("t_us")))
          r = it->second.o;
      if (!r) continue;
      ++a.own;
      added.push_back(static_cast<double>(r->num("t_us") - o.num("t_us")) / 1000.0);
      if (std::find(call_seqs.begin(), call_seqs.end(), r->num("call_seq")) == call_seqs.end())
        call_seqs.push_back(r->num("call_seq"));
      if (first_t < 0) first_t = r->num("t_us");
      last_t = std::max(last_t, r->num("t_us"));
    }
    a.given_up = a.sent - a.own;
    a.moto_calls = static_cast<int>(call_seqs.size());
    if (!call_seqs.empty()) {
      a.call_seq = static_cast<int>(call_seqs.front());
      measure_moto_call(
          a, moto_call_datagrams(repeater, slot_of(*call), call_seqs.front(), first_t - 5000000, last_t + 5000000));
    }
    if (!added.empty()) {
      const Stats st = stats_of(added);
      a.added_min_ms = st.min;
      a.added_median_ms = st.median;
      a.added_max_ms = st.max;
    }
    if (stray_t >= 0) {
      // Up to 3 s after the copy, or until the master's next call: on the
      // copy's timeslot only, as a call on the other one may be under way.
      int64_t until = stray_t + 3000000;
      for (const Object& o : master)
        if (o.event() == "hyt_call_tx" && o.num("call") == number + 1) until = std::min(until, o.num("t_us"));
      a.stray_sent = true;
      for (const Object& o : repeater)
        if (o.event() == "moto_voice_rx" && slot_of(o) == slot_of(*call) && o.num("t_us") > stray_t &&
            o.num("t_us") < until)
          ++a.after_stray;
    }
    calls.push_back(a);
  }
  return calls;
}

// Calls received on timeslot 1 while a call on timeslot 2 was under way at
// either peer: the receiving peer's span of each call, from its first
// packet to its end.
void count_overlaps(Report& r, const std::vector<Object>& repeater, const std::vector<Object>& master) {
  struct Span {
    int64_t from, to;
    bool to_master;
  };
  std::vector<Span> slot1, slot2;
  auto collect = [&](const std::vector<Object>& events, const char* name, bool to_master) {
    for (const Object& o : events)
      if (o.event() == name) (slot_of(o) == 1 ? slot1 : slot2).push_back({o.num("start_us"), o.num("t_us"), to_master});
  };
  collect(master, "hyt_call_rx", true);
  collect(repeater, "moto_call_rx", false);
  for (const Span& a : slot1)
    for (const Span& b : slot2)
      if (a.from < b.to && b.from < a.to) {
        ++(a.to_master ? r.overlapped_moto_to_hytera : r.overlapped_hytera_to_moto);
        break;
      }
}

const char* fmt_stats(char* buf, size_t n, const std::vector<double>& v) {
  const Stats s = stats_of(v);
  if (s.count == 0) {
    std::snprintf(buf, n, "no samples");
  } else {
    std::snprintf(buf, n, "median %.2f ms, p95 %.2f ms, p99 %.2f ms, min %.2f, max %.2f (%zu samples)", s.median, s.p95,
                  s.p99, s.min, s.max, s.count);
  }
  return buf;
}

}  // namespace

Stats stats_of(std::vector<double> values) {
  Stats s;
  s.count = values.size();
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  auto quantile = [&](double q) {
    const size_t i = static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(i, values.size() - 1)];
  };
  s.median = quantile(0.5);
  s.p95 = quantile(0.95);
  s.p99 = quantile(0.99);
  s.min = values.front();
  s.max = values.back();
  return s;
}

Report analyse(const std::vector<Object>& repeater, const std::vector<Object>& master) {
  Report r;
  int64_t registered_at = -1, login_at = -1;
  for (const Object& o : repeater) {
    const std::string ev = o.event();
    if (ev == "registration" && registered_at < 0) {
      registered_at = o.num("t_us");
      r.registered = true;
      r.registration_signed = o.flag("sig");
      r.bridge_id = static_cast<uint32_t>(o.num("peer"));
    } else if (ev == "peer_list_request") {
      ++r.peer_list_requests;
    } else if (ev == "keepalive") {
      if (registered_at >= 0) r.keepalive_s.push_back(static_cast<double>(o.num("t_us") - registered_at) / 1e6);
      if (o.flag("answered")) ++r.keepalives_answered;
    } else if (ev == "bad_signature") {
      ++r.bad_signatures;
    } else if (ev == "wait_timeout" || ev == "script_error") {
      ++r.script_problems;
    } else if (ev == "position_tx") {
      const int64_t slot = slot_of(o) == 1 ? 1 : 2;
      ++r.positions_sent;
      ++r.positions_sent_on[slot];
      for (const Object& m : master)
        if (m.event() == "position_rx" && m.num("t_us") >= o.num("t_us") - 1000000 &&
            m.str("lat") == o.str("lat").substr(0, 9) && m.str("lon") == o.str("lon").substr(0, 9) &&
            m.str("mode") == o.str("mode") && m.flag("layout_ok")) {
          ++r.positions_matched;
          ++r.positions_matched_on[slot];
          break;
        }
    }
    if (ev == "registration" || ev == "peer_list_request" || ev == "keepalive" || ev == "moto_voice_rx" ||
        ev == "peer_reply")
      ++r.datagrams_checked;
  }
  for (const Object& o : master) {
    const std::string ev = o.event();
    if (ev == "a_rx") {
      ++r.a_received;
      if (login_at < 0) {
        login_at = o.num("t_us");
        if (registered_at >= 0) r.login_s = static_cast<double>(login_at - registered_at) / 1e6;
      }
    } else if (ev == "rdac_announcement") {
      ++r.rdac_announcements;
      r.announcements.push_back(o);
      if (login_at >= 0) r.rdac_s.push_back(static_cast<double>(o.num("t_us") - login_at) / 1e6);
    } else if (ev == "wait_timeout" || ev == "script_error") {
      ++r.script_problems;
    }
  }
  const Flow to_hytera = flow_of(repeater, "moto_voice_tx", "moto_call_tx", master, "hyt_rx", "hyt_call_rx");
  const Flow to_moto = flow_of(master, "hyt_voice_tx", "hyt_call_tx", repeater, "moto_voice_rx", "moto_call_rx");
  for (int64_t slot : {0, 1, 2}) {
    match(slot ? r.moto_to_hytera_on[slot] : r.moto_to_hytera, to_hytera, slot);
    match(slot ? r.hytera_to_moto_on[slot] : r.hytera_to_moto, to_moto, slot);
  }
  count_overlaps(r, repeater, master);
  r.grids = grids_of(master, repeater);
  r.on_air = calls_on_air(master, repeater);
  return r;
}

std::vector<std::string> shortcomings(const Report& r, const Expectations& e) {
  std::vector<std::string> why;
  if (!r.registered)
    why.push_back("the repeater saw no registration request");
  else if (!r.registration_signed)
    why.push_back("the registration request was not signed with the network key");
  if (r.peer_list_requests == 0) why.push_back("no peer-list request after the registration reply");
  if (r.keepalives_answered == 0) why.push_back("no keep-alive request was answered");
  if (r.login_s < 0) why.push_back("the network master saw no login \"A\"");
  if (r.rdac_announcements < e.rdac_announcements)
    why.push_back("RDAC announcements: " + std::to_string(r.rdac_announcements) + " of " +
                  std::to_string(e.rdac_announcements));
  for (const simjson::Object& a : r.announcements) {
    if (!a.flag("layout_ok") ||
        (!e.call_sign.empty() && (a.str("call") != e.call_sign || a.str("call_long") != e.call_sign)) ||
        (e.repeater_id >= 0 && a.num("repeater_id") != e.repeater_id) ||
        (e.bridge_id >= 0 && a.num("bridge_id_low") != (e.bridge_id & 0xFF)) ||
        (e.tx_hz >= 0 && a.num("tx_hz") != e.tx_hz) || (e.rx_hz >= 0 && a.num("rx_hz") != e.rx_hz) ||
        a.str("firmware") != "VEXA QV 1.00" || a.str("model").rfind("RovEr", 0) != 0 || a.num("from_port") != 62006) {
      why.push_back("RDAC announcement " + std::to_string(a.num("n")) + " does not carry the configured data");
      break;
    }
  }
  auto direction = [&](const Direction& d, const std::string& name) {
    if (d.calls < e.calls_each_way) {
      why.push_back(name + ": " + std::to_string(d.calls) + " call(s) played, " + std::to_string(e.calls_each_way) +
                    " needed");
      return;
    }
    if (d.packets_received < d.packets_sent)
      why.push_back(name + ": " + std::to_string(d.packets_sent - d.packets_received) + " of " +
                    std::to_string(d.packets_sent) + " packets never arrived");
    // Frames of bursts that came too late for their slot arrive as silence:
    // counted apart, not as wrong frames.
    if (d.frames_ok + d.frames_filled < d.frames_sent || d.frames_sent == 0)
      why.push_back(name + ": " + std::to_string(d.frames_ok) + " of " +
                    std::to_string(d.frames_sent - d.frames_filled) + " frames decoded correctly");
    if (d.problems > 0)
      why.push_back(name + ": " + std::to_string(d.problems) + " packet(s) failed the receiver's checks");
  };
  const unsigned ignored = e.ignored_slot == 1 || e.ignored_slot == 2 ? e.ignored_slot : 0;
  const unsigned judged = ignored ? 3 - ignored : 0;  // the timeslot judged alone; 0: both
  if (ignored) {
    const std::string on = " on timeslot " + std::to_string(judged);
    direction(r.moto_to_hytera_on[judged], "Motorola->Hytera" + on);
    direction(r.hytera_to_moto_on[judged], "Hytera->Motorola" + on);
    const std::string off = " on timeslot " + std::to_string(ignored);
    auto not_crossed = [&](const Direction& d, const Direction& judged_d, const std::string& name) {
      if (d.packets_sent == 0)
        why.push_back(name + off + ": nothing was played, so nothing shows that the bridge ignores it");
      else if (d.packets_received > 0 || d.calls_received > 0)
        why.push_back(name + off + ": " + std::to_string(d.packets_received) + " of " + std::to_string(d.packets_sent) +
                      " packets crossed, though the bridge must ignore that timeslot");
      if (judged_d.calls_received > judged_d.calls)
        why.push_back(name + on + ": " + std::to_string(judged_d.calls_received) + " call(s) arrived, " +
                      std::to_string(judged_d.calls) + " played");
    };
    not_crossed(r.moto_to_hytera_on[ignored], r.moto_to_hytera_on[judged], "Motorola->Hytera");
    not_crossed(r.hytera_to_moto_on[ignored], r.hytera_to_moto_on[judged], "Hytera->Motorola");
    if (r.positions_matched_on[ignored] > 0)
      why.push_back("a position report" + off + " reached the master, though the bridge must ignore that timeslot");
  } else {
    direction(r.moto_to_hytera, "Motorola->Hytera");
    direction(r.hytera_to_moto, "Hytera->Motorola");
  }
  if (e.both_slots && !ignored) {
    for (unsigned slot : {1u, 2u}) {
      const std::string on = " on timeslot " + std::to_string(slot) + ": ";
      for (const auto& [d, name] :
           {std::pair<const Direction&, const char*>{r.moto_to_hytera_on[slot], "Motorola->Hytera"},
            {r.hytera_to_moto_on[slot], "Hytera->Motorola"}})
        if (d.calls < e.calls_each_way || d.calls_received < d.calls)
          why.push_back(name + on + std::to_string(d.calls) + " call(s) played, " + std::to_string(d.calls_received) +
                        " arrived, " + std::to_string(e.calls_each_way) + " needed");
    }
    if (r.overlapped_moto_to_hytera == 0)
      why.push_back("Motorola->Hytera: no call on timeslot 1 overlapped one on timeslot 2");
    if (r.overlapped_hytera_to_moto == 0)
      why.push_back("Hytera->Motorola: no call on timeslot 1 overlapped one on timeslot 2");
  }
  if (e.clean_grid)
    for (const CallGrid& g : r.grids)
      if (g.impaired && (g.gaps_over_80ms > 0 || g.missing > 0 || g.wrong > 0))
        why.push_back("network call " + std::to_string(g.call) + " over the impaired link: " +
                      std::to_string(g.gaps_over_80ms) + " gap(s) over 80 ms on air, " + std::to_string(g.missing) +
                      " slot(s) missing, " + std::to_string(g.wrong) + " with wrong frames");
  const int positions_judged = ignored ? r.positions_sent_on[judged] : r.positions_sent;
  const int positions_arrived = ignored ? r.positions_matched_on[judged] : r.positions_matched;
  if (positions_judged < e.positions)
    why.push_back("no position report was played");
  else if (positions_arrived < positions_judged)
    why.push_back("position records: " + std::to_string(positions_arrived) + " of " + std::to_string(positions_judged) +
                  " arrived with the reported latitude, longitude and mode");
  if (r.bad_signatures > 0) why.push_back(std::to_string(r.bad_signatures) + " datagram(s) with a bad signature");
  if (r.script_problems > 0)
    why.push_back(std::to_string(r.script_problems) + " script step(s) timed out or were skipped");
  return why;
}

static void print_grids(const std::vector<CallGrid>& grids, std::FILE* out) {
  int slots = 0, filled = 0, over = 0, own = 0, bursts = 0;
  double largest = 0;
  std::vector<double> jitter, added;
  for (const CallGrid& g : grids) {
    if (g.bunched) continue;
    const Stats a = stats_of(g.added_delay_ms);
    std::fprintf(out,
                 "Grid on air, call %d%s: link %s; %d of %d slots on air, largest gap %.1f ms, %d gap(s) over 80 ms, "
                 "p99 |gap-60 ms| %.1f ms, %d filled with silence (%d lost on the link, %d late), %d with their own "
                 "frames, added delay median %.1f ms; lead for 99%% of bursts %.1f ms\n",
                 g.call, g.slot == 1 ? " (timeslot 1)" : "", g.link.c_str(), g.on_air, g.bursts, g.largest_gap_ms,
                 g.gaps_over_80ms, g.p99_jitter_ms, g.filled, g.lost_on_link, g.late_filled, g.own, a.median,
                 g.lead_for_99_ms);
    slots += g.on_air;
    bursts += g.bursts;
    filled += g.filled;
    over += g.gaps_over_80ms;
    own += g.own;
    largest = std::max(largest, g.largest_gap_ms);
    for (double v : g.gaps_ms) jitter.push_back(std::fabs(v - 60));
    added.insert(added.end(), g.added_delay_ms.begin(), g.added_delay_ms.end());
  }
  if (bursts == 0) return;
  std::fprintf(out,
               "Grid on air, total : %d of %d slots, largest gap %.1f ms, %d gap(s) over 80 ms, p99 |gap-60 ms| %.1f "
               "ms, %d filled, %d with their own frames, added delay median %.1f ms\n",
               slots, bursts, largest, over, percentile(jitter, 0.99), filled, own, stats_of(added).median);
}

void print_figures(const CallGrid& g, std::FILE* out) {
  const Stats added = stats_of(g.added_delay_ms);
  std::fprintf(out,
               "slot=%d bursts=%d on_air=%d gaps_over_80=%d largest_gap=%.1f p99_jitter=%.1f filled=%d lost_on_link=%d "
               "late=%d own=%d wrong=%d missing=%d added_median=%.1f lead_for_99=%.1f max_lateness=%.1f "
               "sender_stall=%.1f\n",
               g.slot, g.bursts, g.on_air, g.gaps_over_80ms, g.largest_gap_ms, g.p99_jitter_ms, g.filled,
               g.lost_on_link, g.late_filled, g.own, g.wrong, g.missing, added.median, g.lead_for_99_ms,
               g.max_lateness_ms, g.sender_stall_ms);
}

void print_figures(const CallOnAir& a, std::FILE* out) {
  std::fprintf(out,
               "sent=%d own=%d given_up=%d moto_calls=%d call_seq=%d own_header=%d largest_gap=%.1f "
               "longest_silence=%.0f closest=%.1f added_min=%.1f added_median=%.1f added_max=%.1f stray=%d "
               "after_stray=%d\n",
               a.sent, a.own, a.given_up, a.moto_calls, a.call_seq, a.own_header ? 1 : 0, a.largest_gap_ms,
               a.longest_silence_ms, a.closest_ms, a.added_min_ms, a.added_median_ms, a.added_max_ms,
               a.stray_sent ? 1 : 0, a.after_stray);
}

void print(const Report& r, std::FILE* out) {
  char buf[160];
  if (r.registered)
    std::fprintf(out, "Registration      : peer %u registered, signature %s", r.bridge_id,
                 r.registration_signed ? "ok" : "BAD");
  else
    std::fprintf(out, "Registration      : none");
  std::fprintf(out, "; %d peer-list request(s)\n", r.peer_list_requests);
  const Stats ka = stats_of([&] {
    std::vector<double> gaps;
    for (size_t i = 1; i < r.keepalive_s.size(); ++i) gaps.push_back(r.keepalive_s[i] - r.keepalive_s[i - 1]);
    return gaps;
  }());
  std::fprintf(out, "Keep-alive        : %d answered; first %.2f s after registration, then every %.2f s (median)\n",
               r.keepalives_answered, r.keepalive_s.empty() ? -1.0 : r.keepalive_s.front(), ka.median);
  if (r.login_s < 0)
    std::fprintf(out, "Network login     : none");
  else
    std::fprintf(out, "Network login     : first \"A\" %.2f s after registration", r.login_s);
  std::fprintf(out, "; %d \"A\" datagrams received and echoed\n", r.a_received);
  std::fprintf(out, "RDAC              : %d announcement(s)", r.rdac_announcements);
  if (!r.announcements.empty()) {
    const simjson::Object& a = r.announcements.front();
    std::fprintf(out, " of %s, repeater %s, tx %s Hz, rx %s Hz, \"%s\", \"%s\"; at", a.str("call").c_str(),
                 a.str("repeater_id").c_str(), a.str("tx_hz").c_str(), a.str("rx_hz").c_str(),
                 a.str("firmware").c_str(), a.str("model").c_str());
    for (double s : r.rdac_s) std::fprintf(out, " %.1f", s);
    std::fprintf(out, " s after login");
  }
  std::fputc('\n', out);
  // Per timeslot with the latency too: the figure to watch with calls on both at once.
  auto direction = [&](const Direction& d, const char* name, bool one_slot = false) {
    std::fprintf(out,
                 "%-18s: %d call(s), %d/%d packets arrived, %d/%d frames decoded correctly, %d packet(s) with problems",
                 name, d.calls, d.packets_received, d.packets_sent, d.frames_ok, d.frames_sent, d.problems);
    if (one_slot && !d.latency_ms.empty()) std::fprintf(out, ", latency median %.2f ms", stats_of(d.latency_ms).median);
    std::fputc('\n', out);
  };
  // Timeslot by timeslot once anything was played on timeslot 1.
  const bool slot1 = r.moto_to_hytera_on[1].calls + r.hytera_to_moto_on[1].calls + r.positions_sent_on[1] > 0;
  direction(r.moto_to_hytera, "Motorola->Hytera");
  if (slot1) {
    direction(r.moto_to_hytera_on[1], "  on timeslot 1", true);
    direction(r.moto_to_hytera_on[2], "  on timeslot 2", true);
  }
  direction(r.hytera_to_moto, "Hytera->Motorola");
  if (slot1) {
    direction(r.hytera_to_moto_on[1], "  on timeslot 1", true);
    direction(r.hytera_to_moto_on[2], "  on timeslot 2", true);
    std::fprintf(out,
                 "Both timeslots    : calls on timeslot 1 that overlapped one on timeslot 2: %d Motorola->Hytera, %d "
                 "Hytera->Motorola\n",
                 r.overlapped_moto_to_hytera, r.overlapped_hytera_to_moto);
  }
  if (r.hytera_to_moto.lost_on_link > 0 || r.hytera_to_moto.frames_filled > 0)
    std::fprintf(out, "                    %d packet(s) lost on the impaired link, %d frame(s) of late bursts filled\n",
                 r.hytera_to_moto.lost_on_link, r.hytera_to_moto.frames_filled);
  print_grids(r.grids, out);
  std::fprintf(out, "Position reports  : %d sent, %d arrived intact", r.positions_sent, r.positions_matched);
  if (slot1)
    std::fprintf(out, "; on timeslot 1 %d sent, %d arrived", r.positions_sent_on[1], r.positions_matched_on[1]);
  std::fputc('\n', out);
  std::fprintf(out, "Signatures        : %d datagram(s) from the bridge checked, %d bad\n", r.datagrams_checked,
               r.bad_signatures);
  std::fprintf(out, "Burst spacing M<-H: natural rate, clean link: %s\n",
               fmt_stats(buf, sizeof buf, r.hytera_to_moto.gap_ms));
  std::fprintf(out, "                    sent in bunches, after pacing: %s\n",
               fmt_stats(buf, sizeof buf, r.hytera_to_moto.spacing_ms));
  std::fprintf(out, "Latency M->H      : %s (target: median <= 3 ms, p99 <= 6 ms)\n",
               fmt_stats(buf, sizeof buf, r.moto_to_hytera.latency_ms));
  std::fprintf(out, "Latency H->M      : %s (target <= 1 ms without JitterBuffer; clean link, not paced)\n",
               fmt_stats(buf, sizeof buf, r.hytera_to_moto.latency_ms));
}

}  // namespace simreport
