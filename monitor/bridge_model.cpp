#include "bridge_model.h"

#include <algorithm>
#include <cstring>

#include "position_degrees.h"

namespace monitor {

namespace {

template <size_t N>
void copy_text(char (&to)[N], const char* from) {
  const size_t length = strnlen(from, N - 1);
  std::memcpy(to, from, length);
  to[length] = '\0';
}

}  // namespace

const char* direction_name(Direction d) { return d == Direction::kRfToNet ? "rf_to_net" : "net_to_rf"; }

const char* slot_name(int slot) { return slot == 1 ? "1" : "2"; }

const char* ended_by_name(EndedBy e) {
  switch (e) {
    case EndedBy::kEnd:
      return "end";
    case EndedBy::kTimeout:
      return "timeout";
    case EndedBy::kRunning:
      break;
  }
  return "";
}

void BridgeModel::note(const char* what, int64_t source, int64_t destination, int slot) {
  ++version;
  ChangeNote n;
  n.seq = version;
  n.what = what;
  n.time = last_time;
  n.source = source;
  n.destination = destination;
  n.slot = slot;
  notes.push_back(n);
  if (notes.size() > kNotes) notes.pop_front();
}

void BridgeModel::set_link(LinkState* link, bool up, const char* up_note, const char* down_note) {
  if (link->up == up) return;
  link->up = up;
  link->since = last_time;
  note(up ? up_note : down_note);
}

void BridgeModel::start_call(std::optional<CallRecord>* on, CallRecord call) {
  call.id = next_call_id_++;
  call.start = last_time;
  SlotCounters& counted = counters.slot(call.slot);
  if (call.direction == Direction::kRfToNet)
    ++counted.calls_rf_to_net;
  else
    ++counted.calls_net_to_rf;
  *on = call;
  note("call_start", call.source, call.destination, call.slot);
}

void BridgeModel::end_call(std::optional<CallRecord>* on, EndedBy how, bool interrupted) {
  if (!*on) return;
  CallRecord call = **on;
  on->reset();
  call.ended_by = how;
  call.interrupted = interrupted;
  call.end = std::max(last_time, call.start);
  last_heard.push_front(call);
  if (last_heard.size() > kLastHeard) last_heard.pop_back();
  note("call_end", call.source, call.destination, call.slot);
}

// The repeater side has stopped: no call from it goes on.
void BridgeModel::end_rf_calls() {
  for (SlotCalls& on : on_air) end_call(&on.rf_call, EndedBy::kTimeout, true);
}

// Each timeslot numbers its network calls on its own.
CallRecord* BridgeModel::call_numbered(int slot, int64_t number) {
  std::optional<CallRecord>& running = calls_on(slot).net_call;
  if (running && running->call_number == number) return &*running;
  // The jitter buffer reports a call's end figures after its last line.
  for (CallRecord& c : last_heard) {
    if (c.direction != Direction::kNetToRf || c.slot != slot) continue;
    return c.call_number == number ? &c : nullptr;
  }
  return nullptr;
}

void BridgeModel::daemon_started() {
  ++counters.daemon_starts;
  for (SlotCalls& on : on_air) {
    end_call(&on.rf_call, EndedBy::kTimeout, true);
    end_call(&on.net_call, EndedBy::kTimeout, true);
  }
  set_link(&repeater, false, "", "repeater_unregistered");
  set_link(&master, false, "", "master_logged_out");
  daemon = DaemonInfo();
  daemon.last_start = last_time;
  rdac_step = 0;
  peer_count = 0;
  peers = {};
  repeater_peer_id = 0;
  registered_once_ = registration_lost_ = false;
  receiving_ = {};
  note("daemon_start");
}

void BridgeModel::apply_config(const LogEvent& e) {
  switch (e.config) {
    case ConfigKey::kCall:
      copy_text(daemon.call_sign, e.text[0]);
      break;
    case ConfigKey::kRepeaterId:
      daemon.repeater_id = e.n[0];
      break;
    case ConfigKey::kRepeaterIp:
      copy_text(daemon.repeater_ip, e.text[0]);
      break;
    case ConfigKey::kRepeaterPort:
      daemon.repeater_port = e.n[0];
      break;
    case ConfigKey::kMasterIp:
      copy_text(daemon.master_ip, e.text[0]);
      break;
    case ConfigKey::kTxHz:
      daemon.tx_hz = e.n[0];
      break;
    case ConfigKey::kRxHz:
      daemon.rx_hz = e.n[0];
      break;
    case ConfigKey::kBridgeId:
      daemon.bridge_id = e.n[0];
      break;
    case ConfigKey::kJitterBuffer:
      daemon.jitter_buffer_ms = e.flag ? 0 : e.n[0];
      break;
    case ConfigKey::kTimeslots:
      daemon.timeslots = e.n[0];
      break;
  }
  note("configuration");
}

// A line of the network-to-repeater path, about the call on e.slot.
void BridgeModel::apply_net_call_line(const LogEvent& e) {
  const int slot = e.slot;
  const int64_t* n = e.n;
  std::optional<CallRecord>& call = calls_on(slot).net_call;
  Receiving& receiving = receiving_[static_cast<size_t>(slot - 1)];
  SlotCounters& counted = counters.slot(slot);
  switch (e.kind) {
    case LineKind::kNetReceive:
      if (receiving.source != n[0] || receiving.destination != n[1])
        receiving.early_gaps = receiving.early_out_of_order = 0;
      receiving.source = n[0];
      receiving.destination = n[1];
      if (call && call->source == 0) {
        call->source = n[0];
        call->destination = n[1];
        note("call_update", n[0], n[1], slot);
      }
      break;
    case LineKind::kNetReceiveEnd:
      receiving = Receiving();
      break;
    case LineKind::kNetCallStart: {
      end_call(&call, EndedBy::kTimeout, true);
      CallRecord c;
      c.direction = Direction::kNetToRf;
      c.slot = slot;
      c.source = receiving.source;
      c.destination = receiving.destination;
      c.call_number = n[0];
      c.without_start = !e.flag;
      c.sequence_gaps = receiving.early_gaps;
      c.out_of_order = receiving.early_out_of_order;
      receiving.early_gaps = receiving.early_out_of_order = 0;
      start_call(&call, c);
      break;
    }
    case LineKind::kNetCallEnd:
    case LineKind::kNetCallTimeout:
      if (e.kind == LineKind::kNetCallTimeout) ++counted.call_timeouts;
      end_call(&call, e.kind == LineKind::kNetCallEnd ? EndedBy::kEnd : EndedBy::kTimeout, false);
      receiving.source = receiving.destination = 0;
      break;
    case LineKind::kBitErrorRate:
      ++counted.bursts_with_errors;
      if (call) {
        call->ber_max = std::max(call->ber_max, e.value);
        ++call->bursts_with_errors;
      }
      note("bit_errors", 0, 0, slot);
      break;
    case LineKind::kUncorrectableFrame:
      ++counted.uncorrectable_frames;
      if (call) ++call->uncorrectable_frames;
      note("uncorrectable_frame", 0, 0, slot);
      break;
    case LineKind::kSequenceGap:
      ++counted.sequence_gaps;
      if (call)
        ++call->sequence_gaps;
      else if (receiving.source != 0)
        ++receiving.early_gaps;
      note("sequence_gap", 0, 0, slot);
      break;
    case LineKind::kOutOfOrder:
      ++counted.out_of_order;
      if (call)
        ++call->out_of_order;
      else if (receiving.source != 0)
        ++receiving.early_out_of_order;
      note("out_of_order", 0, 0, slot);
      break;
    case LineKind::kDoubledId:
      ++counted.doubled_ids;
      if (call) ++call->doubled_ids;
      note("doubled_id", n[1], 0, slot);
      break;
    case LineKind::kPacing:
      ++counted.paced_bursts;
      if (call) ++call->paced_bursts;
      note("pacing", 0, 0, slot);
      break;
    case LineKind::kJitterStart:
    case LineKind::kJitterEnd: {
      CallRecord* c = call_numbered(slot, n[0]);
      if (e.kind == LineKind::kJitterEnd) {
        counted.jitter_late += n[3];
        counted.jitter_lost += n[4];
        counted.jitter_filled += n[5];
        counted.jitter_slipped += n[6];
        counted.jitter_skipped += n[7];
        counted.jitter_re_anchored += n[8];
      }
      if (c) {
        JitterFigures& j = c->jitter;
        if (e.kind == LineKind::kJitterStart) {
          j.started = true;
          j.automatic = e.flag;
          j.lead_start_ms = n[1];
        } else {
          j.ended = true;
          j.lead_end_ms = n[1];
          j.bursts = n[2];
          j.late = n[3];
          j.lost = n[4];
          j.filled = n[5];
          j.grid_moves = e.flag;
          j.slipped = n[6];
          j.skipped = n[7];
          j.re_anchored = n[8];
        }
      }
      note("jitter_buffer", 0, 0, slot);
      break;
    }
    default:
      break;
  }
}

bool BridgeModel::apply(const LogEvent& e, int64_t time) {
  ++counters.lines;
  if (time > 0)
    last_time = time;
  else if (e.has_time)
    last_time = e.time;
  const bool after_date = previous_was_date_;
  previous_was_date_ = e.kind == LineKind::kDaemonStart;
  const uint64_t before = version;
  const int64_t* n = e.n;
  switch (e.kind) {
    case LineKind::kUnrecognised:
      ++counters.unrecognised_lines;
      return false;
    case LineKind::kSecret:
      ++counters.secret_lines;
      return false;
    case LineKind::kKnownOther:
    case LineKind::kThreadStart:
      return false;
    case LineKind::kDaemonStart:
      daemon_started();
      break;
    case LineKind::kGolayTable:
      // The table line follows the date line; alone it still marks a start.
      if (!after_date) daemon_started();
      break;
    case LineKind::kConfigValue:
      apply_config(e);
      break;
    case LineKind::kConfigUnreadable:
    case LineKind::kConfigInvalid:
      daemon.configuration_failed = true;
      ++counters.config_errors;
      note("configuration_failed");
      break;
    case LineKind::kInitialized:
      copy_text(daemon.version, e.text[0]);
      note("initialized");
      break;
    case LineKind::kSocketError:
      ++counters.socket_errors;
      note("socket_error");
      break;
    case LineKind::kPeerListReply:
      peer_count = 0;
      peers = {};
      current_peer_ = -1;
      if (!repeater.up) {
        ++counters.registrations;
        if (registered_once_ && registration_lost_) ++counters.re_registrations;
        registered_once_ = true;
        registration_lost_ = false;
      }
      set_link(&repeater, true, "repeater_registered", "");
      break;
    case LineKind::kPeerListSource:
      repeater_peer_id = n[0];
      note("peer_list");
      break;
    case LineKind::kPeerEntryId:
      current_peer_ = n[0] >= 1 && n[0] <= 2 ? static_cast<int>(n[0] - 1) : -1;
      if (current_peer_ < 0) return false;
      peers[current_peer_].id = n[1];
      peer_count = std::max(peer_count, current_peer_ + 1);
      note("peer_list");
      break;
    case LineKind::kPeerEntryAddress:
      if (n[0] < 1 || n[0] > peer_count) return false;
      copy_text(peers[n[0] - 1].address, e.text[0]);
      note("peer_list");
      break;
    case LineKind::kPeerEntryPort:
      if (n[0] < 1 || n[0] > peer_count) return false;
      peers[n[0] - 1].port = n[1];
      note("peer_list");
      break;
    case LineKind::kTooManyPeers:
      // The repeater thread stops: nothing keeps the registration any more.
      ++counters.too_many_peers;
      end_rf_calls();
      set_link(&repeater, false, "", "repeater_unregistered");
      note("too_many_peers", n[0]);
      break;
    case LineKind::kPeerRegistration:
      ++counters.peer_registrations;
      note("peer_registration", n[0]);
      break;
    case LineKind::kPeerKeepAlive:
      ++counters.peer_keep_alives;
      note("peer_keep_alive", n[0]);
      break;
    case LineKind::kMasterKeepAlive:
      ++counters.master_keep_alives;
      note("master_keep_alive");
      break;
    case LineKind::kNotRegistered:
      // The repeater stopped answering keep-alives: the daemon registers
      // again, and without the repeater it stops logging in to the master.
      ++counters.registration_requests;
      if (repeater.up) registration_lost_ = true;
      end_rf_calls();
      set_link(&repeater, false, "", "repeater_unregistered");
      set_link(&master, false, "", "master_logged_out");
      note("registration_request");
      break;
    case LineKind::kLogin:
      ++counters.logins;
      last_login = last_time;
      master.up = true;
      master.since = last_time;
      rdac_step = 1;
      copy_text(daemon.master_ip, e.text[0]);
      note("master_login");
      break;
    case LineKind::kRdacStep:
      ++counters.rdac_announcements;
      rdac_step = n[0];
      rdac_last = last_time;
      note("rdac_announcement");
      break;
    case LineKind::kRdacReceived:
      ++counters.rdac_received;
      note("rdac_received");
      break;
    case LineKind::kRfCallStart: {
      // Each voice header repeats the line; the same talker is the same call.
      std::optional<CallRecord>& on = calls_on(e.slot).rf_call;
      if (on && on->source == n[0] && on->destination == n[1]) {
        on->repeater_id = n[2];
        return false;
      }
      end_call(&on, EndedBy::kTimeout, true);
      CallRecord c;
      c.direction = Direction::kRfToNet;
      c.slot = e.slot;
      c.source = n[0];
      c.destination = n[1];
      c.repeater_id = n[2];
      start_call(&on, c);
      break;
    }
    case LineKind::kRfCallEnd: {
      std::optional<CallRecord>& on = calls_on(e.slot).rf_call;
      if (!on || on->source != n[0]) return false;
      end_call(&on, EndedBy::kEnd, false);
      break;
    }
    case LineKind::kNetReceive:
    case LineKind::kNetReceiveEnd:
    case LineKind::kNetCallStart:
    case LineKind::kNetCallEnd:
    case LineKind::kNetCallTimeout:
    case LineKind::kBitErrorRate:
    case LineKind::kUncorrectableFrame:
    case LineKind::kSequenceGap:
    case LineKind::kOutOfOrder:
    case LineKind::kDoubledId:
    case LineKind::kPacing:
    case LineKind::kJitterStart:
    case LineKind::kJitterEnd:
      // The network may send any slot; only timeslots 1 and 2 are relayed.
      if (!is_timeslot(e.slot)) return false;
      apply_net_call_line(e);
      break;
    case LineKind::kDropped:
      switch (e.reason) {
        case DropReason::kBadSignature:
          ++counters.dropped_bad_signature;
          break;
        case DropReason::kNotNetworkMaster:
          ++counters.dropped_not_master;
          break;
        case DropReason::kTooLong:
          ++counters.dropped_too_long;
          break;
        case DropReason::kReflected:
          ++counters.dropped_reflected;
          break;
        case DropReason::kUnaskedKeepAliveReply:
          ++counters.dropped_unasked_reply;
          break;
        case DropReason::kOther:
          ++counters.dropped_other;
          break;
      }
      note("dropped_datagram");
      break;
    case LineKind::kDropSummary: {
      counters.dropped_in_summaries += n[1];
      DropSummary summary;
      summary.time = last_time;
      summary.port = n[0];
      summary.datagrams = n[1];
      summary.senders = n[2];
      copy_text(summary.busiest, e.text[0]);
      summary.busiest_datagrams = n[3];
      last_drop_summary = summary;
      note("dropped_summary");
      break;
    }
    case LineKind::kPosition: {
      PositionRecord p;
      p.time = last_time;
      p.source = n[0];
      p.dot = n[1];
      p.repeater_id = n[2];
      p.slot = e.slot;
      copy_text(p.mode, e.mode);
      copy_text(p.lat_text, e.text[0]);
      copy_text(p.lon_text, e.text[1]);
      copy_text(p.speed_text, e.text[2]);
      p.latitude = degrees_from_text(p.lat_text, 90);
      p.longitude = degrees_from_text(p.lon_text, 180);
      positions.push_front(p);
      if (positions.size() > kPositions) positions.pop_back();
      ++counters.slot(e.slot).positions;
      note("position", p.source, 0, p.slot);
      break;
    }
    case LineKind::kEmbeddedLcError:
      ++counters.embedded_lc_errors;
      note("embedded_lc_error");
      break;
  }
  return version != before;
}

}  // namespace monitor
