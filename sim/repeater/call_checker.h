#pragma once
// Checks the voice datagrams the bridge sends to the repeater, one call at
// a time on each timeslot: signature, length, fixed bytes, call flags, RTP
// marker, sequence and timestamp, burst order A..F, identifiers, and the
// 49-bit frames. Each timeslot is a stream of its own (call numbers, RTP
// sequence and timestamps), so two calls at once, one per timeslot, are
// each checked as if alone. It also measures the grid on air: the gaps
// between a call's burst datagrams, and the slots the bridge filled with
// silence (all three frames silence).
#include <cstdint>
#include <string>
#include <vector>

#include "../common/call_outcome.h"
#include "../common/event_log.h"
#include "../common/ipsc_packet.h"

namespace simrepeater {

class CallChecker {
 public:
  CallChecker(simlog::EventLog& log, const simipsc::Key& key) : log_(log), key_(key) { slots_[1].slot = 1; }
  using Took = simcalls::Took;  // what a datagram did to the call of its timeslot
  Took take(const simipsc::Bytes& d, int64_t t_us, uint32_t bridge_id);
  int calls() const { return slots_[1].calls + slots_[2].calls; }
  int calls(unsigned slot) const { return slot == 1 || slot == 2 ? slots_[slot].calls : 0; }
  int problems() const { return problems_total_; }

 private:
  struct Call {
    bool open = false;
    simipsc::CallFields first;
    int headers = 0, bursts = 0, datagrams = 0, problems = 0;
    int expected_position = 0;
    int64_t start_us = 0;
    int filled = 0;
    int64_t last_burst_us = -1;
    std::vector<int64_t> gaps_us;  // between consecutive burst datagrams, in arrival order
  };
  // One timeslot's stream: the call on it and what the next datagram must continue.
  struct Stream {
    unsigned slot = 2;
    Call call;
    bool have_timestamp = false;
    uint32_t last_timestamp = 0;
    uint16_t last_sequence = 0;
    bool have_call_sequence = false;
    uint8_t last_call_sequence = 0;
    int calls = 0;
  };
  // What one datagram turned out to be, and what was wrong with it.
  struct Seen {
    std::string kind = "other";
    int position = -1;  // bursts: 0..5 for A..F
    bool opened = false, ended = false;
    std::string problems;
    std::string frames;
    bool silence = false;
  };
  static void problem(std::string& list, const std::string& what);
  // The call fields and RTP header every voice datagram carries.
  static void check_prefix(Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, uint32_t bridge_id,
                           Seen& s);
  void take_header(Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, int64_t t_us, Seen& s);
  static void take_burst(Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, int64_t t_us, Seen& s);
  static void take_terminator(const Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, Seen& s);
  static void check_same_call(const Stream& st, const simipsc::CallFields& c, Seen& s);
  void record(Stream& st, const simipsc::Bytes& d, const simipsc::CallFields& c, int64_t t_us, const Seen& s);
  void finish(Stream& st, int64_t t_us, bool terminated);

  simlog::EventLog& log_;
  const simipsc::Key& key_;
  Stream slots_[3];  // by timeslot: 1 and 2
  int problems_total_ = 0;
};

}  // namespace simrepeater
