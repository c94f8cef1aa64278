#pragma once
// Puts together what the simulated repeater and network master recorded
// in one run: each datagram one peer sent is matched with what the other
// peer received from the bridge (by sequence number, first arrival after the
// send), so frames, latency and spacing are measured across the daemon.
// Network calls are also measured as a grid on air: the slots the repeater
// got, their gaps, which carried their own frames and which silence, and
// the delay the bridge added. Each timeslot is a stream of its own: packets
// are matched within their timeslot, and the figures are kept per timeslot
// too, with the calls on timeslot 1 that overlapped one on timeslot 2.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../common/jsonl.h"

namespace simreport {

struct Stats {
  size_t count = 0;
  double median = 0, p95 = 0, p99 = 0, min = 0, max = 0;
};
Stats stats_of(std::vector<double> values);

struct Direction {
  int calls = 0;           // played
  int calls_received = 0;  // that the receiving peer saw end or cut short
  int packets_sent = 0, packets_received = 0;
  int frames_sent = 0, frames_ok = 0;
  int problems = 0;                // received packets the checking peer objected to
  int lost_on_link = 0;            // dropped by the sender's impaired link: never sent
  int frames_filled = 0;           // frames of sent bursts that reached the receiver as silence
  std::vector<double> latency_ms;  // packets of calls sent at the natural rate
  std::vector<double> spacing_ms;  // between bursts of calls sent in bunches
  std::vector<double> gap_ms;      // between bursts of calls sent at the natural rate, clean link
};

// One voice burst of a network call and the slot it got on air. k counts
// from the call's first burst; the reference is the burst the master sent
// first (the one that fixes the bridge's clock): ref = its send time - its
// k x 60 ms.
struct GridBurst {
  int k = 0;
  bool lost_on_link = false;
  double lateness_ms = 0;  // send time - (ref + k x 60 ms); sent bursts only
  bool on_air = false;     // the repeater got a slot with this sequence number
  bool filled = false;     // ... carrying silence in all three frames
  bool own = false;        // ... carrying this burst's own frames
  double arrival_ms = 0;   // repeater arrival - ref
};

struct CallGrid {
  int call = 0;
  int slot = 2;  // the timeslot it was played on
  std::string link;
  bool impaired = false, bunched = false;
  int bursts = 0, lost_on_link = 0, on_air = 0, filled = 0, late_filled = 0, own = 0, wrong = 0, missing = 0;
  double largest_gap_ms = 0, p99_jitter_ms = 0;  // jitter: |gap - 60 ms|
  int gaps_over_80ms = 0;
  std::vector<double> gaps_ms;         // between consecutive slots on air, in arrival order
  std::vector<double> added_delay_ms;  // repeater arrival of slot k - (ref + k x 60 ms)
  double lead_for_99_ms = 0;           // 99th percentile of the sent bursts' lateness
  double max_lateness_ms = 0;
  // How much later than the link had it the master itself sent a packet: a
  // stalled machine, which blurs every figure of the call.
  double sender_stall_ms = 0;
  std::vector<GridBurst> slots;
};

// One network call as it came out on air, matched by its frames rather than
// its sequence numbers, so it holds across sequence jumps and across slots
// the bridge put in or gave up to follow the master's clock.
struct CallOnAir {
  int call = 0;
  int sent = 0;                   // voice bursts the master sent (not lost on the link)
  int own = 0;                    // ... that reached the repeater with their own frames
  int given_up = 0;               // sent - own
  int moto_calls = 0;             // Motorola calls that carried its bursts
  int call_seq = -1;              // call number of the Motorola call that carried its first burst
  bool own_header = false;        // that call began with a first header of its own (marker 0xDD)
  double largest_gap_ms = 0;      // between the voice datagrams of that call
  double longest_silence_ms = 0;  // silence slots in a row x 60 ms
  double closest_ms = 0;          // smallest spacing of two of its voice datagrams
  double added_min_ms = 0, added_median_ms = 0, added_max_ms = 0;  // on air - sent, own bursts
  bool stray_sent = false;  // the master sent a stray copy of its last burst after its end
  int after_stray = 0;      // datagrams the repeater got in the 3 s after that copy (or until the next call)
};

struct Report {
  bool registered = false, registration_signed = false;
  uint32_t bridge_id = 0;
  int peer_list_requests = 0;
  std::vector<double> keepalive_s;  // after the registration request
  int keepalives_answered = 0;
  double login_s = -1;  // first "A", after the registration request
  int a_received = 0;
  int rdac_announcements = 0;
  std::vector<double> rdac_s;  // after the first "A"
  std::vector<simjson::Object> announcements;
  Direction moto_to_hytera, hytera_to_moto;
  std::vector<CallGrid> grids;    // one per network call the master played
  std::vector<CallOnAir> on_air;  // the same calls matched by their frames
  int positions_sent = 0, positions_matched = 0;
  // The same per timeslot ([1] and [2]; [0] unused).
  Direction moto_to_hytera_on[3], hytera_to_moto_on[3];
  int positions_sent_on[3] = {}, positions_matched_on[3] = {};
  // Calls received on timeslot 1 while one on timeslot 2 was under way at
  // either peer, by the direction of the timeslot-1 call.
  int overlapped_moto_to_hytera = 0, overlapped_hytera_to_moto = 0;
  int bad_signatures = 0;
  int datagrams_checked = 0;  // signed datagrams from the bridge seen by the repeater
  int script_problems = 0;    // wait time-outs and skipped commands
};

Report analyse(const std::vector<simjson::Object>& repeater, const std::vector<simjson::Object>& master);

struct Expectations {
  std::string call_sign;
  int64_t repeater_id = -1, bridge_id = -1, tx_hz = -1, rx_hz = -1;
  int rdac_announcements = 4;
  int calls_each_way = 1;
  int positions = 1;
  bool clean_grid = false;  // network calls over an impaired link must show no gap over 80 ms on air
  // Both timeslots bridged: calls_each_way calls each way on each timeslot,
  // and a call each way on timeslot 1 overlapping one on timeslot 2.
  bool both_slots = false;
  // A timeslot the bridge must ignore (0: none): what was played on it must
  // not cross, and the other timeslot's figures are the ones judged.
  unsigned ignored_slot = 0;
};

// Why the run does not show what was expected; empty when it does.
std::vector<std::string> shortcomings(const Report& r, const Expectations& e);
void print(const Report& r, std::FILE* out);
// One line of key=value words with a call's grid figures, for scripts.
void print_figures(const CallGrid& g, std::FILE* out);
void print_figures(const CallOnAir& a, std::FILE* out);

}  // namespace simreport
