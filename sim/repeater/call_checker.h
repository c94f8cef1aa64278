#pragma once
// Checks the voice datagrams the bridge sends to the repeater, one call at
// a time: signature, length, fixed bytes, RTP marker, sequence and
// timestamp, burst order A..F, identifiers, and the 49-bit frames. It also
// measures the grid on air: the gaps between a call's burst datagrams, and
// the slots the bridge filled with silence (all three frames silence).
#include <cstdint>
#include <string>
#include <vector>

#include "../common/event_log.h"
#include "../common/ipsc_packet.h"

namespace simrepeater {

class CallChecker {
 public:
  CallChecker(simlog::EventLog& log, const simipsc::Key& key) : log_(log), key_(key) {}
  // Returns true when the datagram ended a call (a terminator).
  bool take(const simipsc::Bytes& d, int64_t t_us, uint32_t bridge_id);
  int calls() const { return calls_; }
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
  // What one datagram turned out to be, and what was wrong with it.
  struct Seen {
    std::string kind = "other";
    int position = -1;  // bursts: 0..5 for A..F
    bool ended = false;
    std::string problems;
    std::string frames;
    bool silence = false;
  };
  static void problem(std::string& list, const std::string& what);
  // The call fields and RTP header every voice datagram carries.
  void check_prefix(const simipsc::Bytes& d, const simipsc::CallFields& c, uint32_t bridge_id, Seen& s);
  void take_header(const simipsc::Bytes& d, const simipsc::CallFields& c, int64_t t_us, Seen& s);
  void take_burst(const simipsc::Bytes& d, const simipsc::CallFields& c, int64_t t_us, Seen& s);
  void take_terminator(const simipsc::Bytes& d, const simipsc::CallFields& c, Seen& s);
  void check_same_call(const simipsc::CallFields& c, Seen& s);
  void record(const simipsc::Bytes& d, const simipsc::CallFields& c, int64_t t_us, const Seen& s);
  void finish(int64_t t_us, bool terminated);

  simlog::EventLog& log_;
  const simipsc::Key& key_;
  Call call_;
  bool have_timestamp_ = false;
  uint32_t last_timestamp_ = 0;
  uint16_t last_sequence_ = 0;
  bool have_call_sequence_ = false;
  uint8_t last_call_sequence_ = 0;
  int calls_ = 0;
  int problems_total_ = 0;
};

}  // namespace simrepeater
