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

void BridgeModel::note(const char* what, int64_t source, int64_t destination) {
  ++version;
  ChangeNote n;
  n.seq = version;
  n.what = what;
  n.time = last_time;
  n.source = source;
  n.destination = destination;
  notes.push_back(n);
  if (notes.size() > kNotes) notes.pop_front();
}

void BridgeModel::set_link(LinkState* link, bool up, const char* up_note, const char* down_note) {
  if (link->up == up) return;
  link->up = up;
  link->since = last_time;
  note(up ? up_note : down_note);
}

void BridgeModel::start_call(std::optional<CallRecord>* slot, CallRecord call) {
  call.id = next_call_id_++;
  call.start = last_time;
  if (call.direction == Direction::kRfToNet)
    ++counters.calls_rf_to_net;
  else
    ++counters.calls_net_to_rf;
  *slot = call;
  note("call_start", call.source, call.destination);
}

void BridgeModel::end_call(std::optional<CallRecord>* slot, EndedBy how, bool interrupted) {
  if (!*slot) return;
  CallRecord call = **slot;
  slot->reset();
  call.ended_by = how;
  call.interrupted = interrupted;
  call.end = std::max(last_time, call.start);
  last_heard.push_front(call);
  if (last_heard.size() > kLastHeard) last_heard.pop_back();
  note("call_end", call.source, call.destination);
}

CallRecord* BridgeModel::call_numbered(int64_t number) {
  if (net_call && net_call->call_number == number) return &*net_call;
  // The jitter buffer reports a call's end figures after its last line.
  for (CallRecord& c : last_heard) {
    if (c.direction != Direction::kNetToRf) continue;
    return c.call_number == number ? &c : nullptr;
  }
  return nullptr;
}

void BridgeModel::daemon_started() {
  ++counters.daemon_starts;
  end_call(&rf_call, EndedBy::kTimeout, true);
  end_call(&net_call, EndedBy::kTimeout, true);
  set_link(&repeater, false, "", "repeater_unregistered");
  set_link(&master, false, "", "master_logged_out");
  daemon = DaemonInfo();
  daemon.last_start = last_time;
  rdac_step = 0;
  peer_count = 0;
  peers = {};
  repeater_peer_id = 0;
  registered_once_ = registration_lost_ = false;
  receiving_source_ = receiving_destination_ = 0;
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
  }
  note("configuration");
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
      end_call(&rf_call, EndedBy::kTimeout, true);
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
      end_call(&rf_call, EndedBy::kTimeout, true);
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
    case LineKind::kRfCallStart:
      // Each voice header repeats the line; the same talker is the same call.
      if (rf_call && rf_call->source == n[0] && rf_call->destination == n[1]) {
        rf_call->repeater_id = n[2];
        return false;
      }
      end_call(&rf_call, EndedBy::kTimeout, true);
      {
        CallRecord c;
        c.direction = Direction::kRfToNet;
        c.source = n[0];
        c.destination = n[1];
        c.repeater_id = n[2];
        start_call(&rf_call, c);
      }
      break;
    case LineKind::kRfCallEnd:
      if (!rf_call || rf_call->source != n[0]) return false;
      end_call(&rf_call, EndedBy::kEnd, false);
      break;
    case LineKind::kNetReceive:
      // Only timeslot 2 is relayed.
      if (n[2] != 2) return false;
      if (receiving_source_ != n[0] || receiving_destination_ != n[1]) early_gaps_ = early_out_of_order_ = 0;
      receiving_source_ = n[0];
      receiving_destination_ = n[1];
      if (net_call && net_call->source == 0) {
        net_call->source = n[0];
        net_call->destination = n[1];
        note("call_update", n[0], n[1]);
      }
      break;
    case LineKind::kNetReceiveEnd:
      if (n[2] != 2) return false;
      receiving_source_ = receiving_destination_ = 0;
      early_gaps_ = early_out_of_order_ = 0;
      return false;
    case LineKind::kNetCallStart:
      end_call(&net_call, EndedBy::kTimeout, true);
      {
        CallRecord c;
        c.direction = Direction::kNetToRf;
        c.source = receiving_source_;
        c.destination = receiving_destination_;
        c.call_number = n[0];
        c.without_start = !e.flag;
        c.sequence_gaps = early_gaps_;
        c.out_of_order = early_out_of_order_;
        early_gaps_ = early_out_of_order_ = 0;
        start_call(&net_call, c);
      }
      break;
    case LineKind::kNetCallEnd:
      end_call(&net_call, EndedBy::kEnd, false);
      receiving_source_ = receiving_destination_ = 0;
      break;
    case LineKind::kNetCallTimeout:
      ++counters.call_timeouts;
      end_call(&net_call, EndedBy::kTimeout, false);
      receiving_source_ = receiving_destination_ = 0;
      break;
    case LineKind::kBitErrorRate:
      ++counters.bursts_with_errors;
      if (net_call) {
        net_call->ber_max = std::max(net_call->ber_max, e.value);
        ++net_call->bursts_with_errors;
      }
      note("bit_errors");
      break;
    case LineKind::kUncorrectableFrame:
      ++counters.uncorrectable_frames;
      if (net_call) ++net_call->uncorrectable_frames;
      note("uncorrectable_frame");
      break;
    case LineKind::kSequenceGap:
      ++counters.sequence_gaps;
      if (net_call)
        ++net_call->sequence_gaps;
      else if (receiving_source_ != 0)
        ++early_gaps_;
      note("sequence_gap");
      break;
    case LineKind::kOutOfOrder:
      ++counters.out_of_order;
      if (net_call)
        ++net_call->out_of_order;
      else if (receiving_source_ != 0)
        ++early_out_of_order_;
      note("out_of_order");
      break;
    case LineKind::kDoubledId:
      ++counters.doubled_ids;
      if (net_call) ++net_call->doubled_ids;
      note("doubled_id", n[1]);
      break;
    case LineKind::kPacing:
      ++counters.paced_bursts;
      if (net_call) ++net_call->paced_bursts;
      note("pacing");
      break;
    case LineKind::kJitterStart:
    case LineKind::kJitterEnd: {
      CallRecord* c = call_numbered(n[0]);
      if (e.kind == LineKind::kJitterEnd) {
        counters.jitter_late += n[3];
        counters.jitter_lost += n[4];
        counters.jitter_filled += n[5];
        counters.jitter_slipped += n[6];
        counters.jitter_skipped += n[7];
        counters.jitter_re_anchored += n[8];
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
      note("jitter_buffer");
      break;
    }
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
      copy_text(p.mode, e.mode);
      copy_text(p.lat_text, e.text[0]);
      copy_text(p.lon_text, e.text[1]);
      copy_text(p.speed_text, e.text[2]);
      p.latitude = degrees_from_text(p.lat_text, 90);
      p.longitude = degrees_from_text(p.lon_text, 180);
      positions.push_front(p);
      if (positions.size() > kPositions) positions.pop_back();
      ++counters.positions;
      note("position", p.source);
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
