#pragma once
// What the log says about the bridge: link states, the call in progress in
// each direction on each timeslot, the last-heard list, position reports and
// counters. Fed
// one parsed line at a time by the reader; the HTTP side reads it under the
// same lock (see shared_model.h).
#include <array>
#include <cstdint>
#include <deque>
#include <optional>

#include "log_event.h"

namespace monitor {

enum class Direction { kRfToNet, kNetToRf };
enum class EndedBy { kRunning, kEnd, kTimeout };

// A repeater carries two calls at once, one on each timeslot.
constexpr int kTimeslots = 2;
constexpr bool is_timeslot(int64_t slot) { return slot == 1 || slot == 2; }

struct JitterFigures {
  bool started = false, ended = false;
  bool automatic = false;
  int64_t lead_start_ms = 0, lead_end_ms = 0;
  int64_t bursts = 0, late = 0, lost = 0, filled = 0;
  bool grid_moves = false;  // the end line said what the grid did (slipped, skipped, re-anchored)
  int64_t slipped = 0, skipped = 0, re_anchored = 0;
};

struct CallRecord {
  uint64_t id = 0;  // running number of the calls seen
  Direction direction = Direction::kRfToNet;
  int slot = 2;
  int64_t source = 0, destination = 0;
  int64_t start = 0, end = 0;  // end valid once ended_by is not kRunning
  EndedBy ended_by = EndedBy::kRunning;
  // Ended by the daemon restarting or the link dropping, not by a line of its own.
  bool interrupted = false;
  int64_t repeater_id = 0;     // rf_to_net: the repeater that relayed it
  int64_t call_number = 0;     // net_to_rf: the daemon's call counter
  bool without_start = false;  // net_to_rf: began without a header
  double ber_max = 0;
  int64_t bursts_with_errors = 0, uncorrectable_frames = 0, sequence_gaps = 0, out_of_order = 0, doubled_ids = 0;
  int64_t paced_bursts = 0;
  JitterFigures jitter;
};

struct PositionRecord {
  int64_t time = 0, source = 0, repeater_id = 0, dot = 0;
  int slot = 2;
  char mode[16] = {0};
  char lat_text[10] = {0}, lon_text[10] = {0}, speed_text[4] = {0};
  std::optional<double> latitude, longitude;
};

struct LinkState {
  bool up = false;
  int64_t since = 0;  // time of the last change; 0: none seen
};

struct PeerEntry {
  int64_t id = 0, port = 0;
  char address[16] = {0};
};

// What the calls of one timeslot added up to.
struct SlotCounters {
  int64_t calls_rf_to_net = 0, calls_net_to_rf = 0, positions = 0;
  int64_t bursts_with_errors = 0, uncorrectable_frames = 0, sequence_gaps = 0, out_of_order = 0, doubled_ids = 0;
  int64_t call_timeouts = 0, paced_bursts = 0;
  int64_t jitter_late = 0, jitter_lost = 0, jitter_filled = 0;
  int64_t jitter_slipped = 0, jitter_skipped = 0, jitter_re_anchored = 0;
};

struct Counters {
  std::array<SlotCounters, kTimeslots> slots{};  // [0]: timeslot 1
  int64_t logins = 0;
  int64_t dropped_bad_signature = 0, dropped_not_master = 0, dropped_other = 0, dropped_in_summaries = 0;
  int64_t dropped_too_long = 0, dropped_reflected = 0, dropped_unasked_reply = 0;
  int64_t registrations = 0, re_registrations = 0, registration_requests = 0, too_many_peers = 0;
  int64_t peer_registrations = 0, peer_keep_alives = 0, master_keep_alives = 0;
  int64_t rdac_announcements = 0, rdac_received = 0, embedded_lc_errors = 0;
  int64_t daemon_starts = 0, socket_errors = 0, config_errors = 0;
  int64_t lines = 0, unrecognised_lines = 0, secret_lines = 0;

  SlotCounters& slot(int ts) { return slots[static_cast<size_t>(ts - 1)]; }
  const SlotCounters& slot(int ts) const { return slots[static_cast<size_t>(ts - 1)]; }
};

// The last minute's drop summary of the daemon: who sent the most, so that
// the operator can keep that sender out.
struct DropSummary {
  int64_t time = 0;
  int64_t port = 0, datagrams = 0, senders = 0;
  char busiest[16] = {0};  // empty when the daemon did not name one
  int64_t busiest_datagrams = 0;
};

struct DaemonInfo {
  int64_t last_start = 0;
  char version[16] = {0};
  char call_sign[16] = {0};
  char repeater_ip[16] = {0}, master_ip[16] = {0};
  int64_t repeater_id = 0, repeater_port = 0, bridge_id = 0, tx_hz = 0, rx_hz = 0;
  int64_t jitter_buffer_ms = -1;  // -1: off; 0: auto
  int64_t timeslots = 1 << 2;     // the bridged timeslots as bits (1 << slot); timeslot 2 unless set
  bool configuration_failed = false;
};

// One change of state, for the event stream.
struct ChangeNote {
  uint64_t seq = 0;
  const char* what = "";
  int64_t time = 0;
  int64_t source = 0, destination = 0;
  int slot = 0;  // 0: not about a call
};

// The calls in progress on one timeslot, one each way at most.
struct SlotCalls {
  std::optional<CallRecord> rf_call, net_call;
};

class BridgeModel {
 public:
  static constexpr size_t kLastHeard = 50;
  static constexpr size_t kPositions = 50;
  static constexpr size_t kNotes = 256;

  // Applies one line. `time` is the line's time as the source gives it
  // (journal time), or 0 to take the line's own time text, or the last one.
  // True when the state changed.
  bool apply(const LogEvent& e, int64_t time = 0);

  // Counts a line that was cut for being overlong.
  void count_cut_line() { ++counters.unrecognised_lines; }

  // The calls in progress on `slot` (1 or 2).
  const SlotCalls& calls_on(int slot) const { return on_air[static_cast<size_t>(slot - 1)]; }

  LinkState repeater;
  LinkState master;
  int64_t repeater_peer_id = 0;
  std::array<PeerEntry, 2> peers{};
  int peer_count = 0;
  int64_t last_login = 0;
  int64_t rdac_step = 0;
  int64_t rdac_last = 0;
  std::array<SlotCalls, kTimeslots> on_air{};  // [0]: timeslot 1
  std::deque<CallRecord> last_heard;           // newest first
  std::deque<PositionRecord> positions;        // newest first
  Counters counters;
  std::optional<DropSummary> last_drop_summary;
  DaemonInfo daemon;
  int64_t last_time = 0;         // time of the last line
  uint64_t version = 0;          // bumped on every change
  std::deque<ChangeNote> notes;  // the last kNotes changes, oldest first

 private:
  // What the voice thread has seen of the network call it is receiving on a
  // timeslot ("RX SLOT=n ..."), for the "PTT ON" that follows.
  struct Receiving {
    int64_t source = 0, destination = 0;
    // Sequence errors of a call's first packets, printed before its "PTT ON"
    // (a call that starts without its header starts on a later burst).
    int64_t early_gaps = 0, early_out_of_order = 0;
  };

  void note(const char* what, int64_t source = 0, int64_t destination = 0, int slot = 0);
  void set_link(LinkState* link, bool up, const char* up_note, const char* down_note);
  void start_call(std::optional<CallRecord>* on, CallRecord call);
  void end_call(std::optional<CallRecord>* on, EndedBy how, bool interrupted);
  void end_rf_calls();
  CallRecord* call_numbered(int slot, int64_t number);
  void daemon_started();
  void apply_config(const LogEvent& e);
  void apply_net_call_line(const LogEvent& e);
  SlotCalls& calls_on(int slot) { return on_air[static_cast<size_t>(slot - 1)]; }

  uint64_t next_call_id_ = 1;
  bool previous_was_date_ = false;
  bool registered_once_ = false;
  bool registration_lost_ = false;
  std::array<Receiving, kTimeslots> receiving_{};
  int current_peer_ = -1;
};

const char* direction_name(Direction d);
// "1", "2": the timeslot as the JSON keys and metric labels give it.
const char* slot_name(int slot);
const char* ended_by_name(EndedBy e);

}  // namespace monitor
