#pragma once
// Checks the 72-byte voice packets the bridge sends to the network master:
// fixed header bytes, the slot code, packet order, the data bursts of header
// and terminator (BPTC, Reed-Solomon, slot type, sync), the voice sync, EMB
// and embedded link control of bursts A..F, and every AMBE+2 frame. Each
// timeslot carries a call of its own: two calls at once, one per timeslot,
// are each checked as if alone.
#include <cstdint>
#include <string>

#include "../common/call_outcome.h"
#include "../common/embedded_signalling.h"
#include "../common/event_log.h"
#include "../common/hytera_packet.h"

namespace simmaster {

class VoiceChecker {
 public:
  explicit VoiceChecker(simlog::EventLog& log) : log_(log) { slots_[1].slot = 1; }
  using Took = simcalls::Took;
  Took take(const simhyt::Packet& p, int64_t t_us);
  int calls() const { return slots_[1].calls + slots_[2].calls; }
  int calls(unsigned slot) const { return slot == 1 || slot == 2 ? slots_[slot].calls : 0; }
  int problems() const { return problems_; }

 private:
  struct Call {
    bool open = false;
    uint32_t source = 0, destination = 0;
    bool group = true;
    int packets = 0, bursts = 0, problems = 0, frames = 0, frame_errors = 0;
    int superframes_checked = 0, superframes_ok = 0;
    int expected_position = 0;
    bool fragments[4] = {};
    simdmr::EmbeddedBlock block{};
    int64_t start_us = 0;
  };
  // One timeslot: the call on it and the calls it has carried.
  struct Stream {
    unsigned slot = 2;
    Call call;
    int calls = 0;
  };
  // What one packet turned out to be, and what was wrong with it.
  struct Seen {
    std::string kind;
    int position = -1;  // voice bursts: 0..5 for A..F
    int errors = 0;     // bit errors corrected in its frames
    bool opened = false, ended = false;
    std::string problems;
    std::string frames;
  };
  void finish(Stream& st, int64_t t_us, bool ended);
  static void open_call(Call& call, const simhyt::Fields& f, int64_t t_us);
  void take_sync(Stream& st, const simhyt::Packet& p, const simhyt::Fields& f, int64_t t_us, Seen& s);
  static void take_header(Call& call, const simhyt::Packet& p, const simhyt::Fields& f, Seen& s);
  static void take_terminator(const simhyt::Fields& f, Seen& s);
  static void take_voice(Call& call, const simhyt::Fields& f, Seen& s);
  // Burst A: the voice sync; B..E: EMB and a quarter of the embedded LC; F: EMB and null signalling.
  static void check_centre(Call& call, const simhyt::Fields& f, int position, std::string& problems);
  void record(Stream& st, const simhyt::Fields& f, int64_t t_us, const Seen& s);

  simlog::EventLog& log_;
  Stream slots_[3];  // by timeslot: 1 and 2
  int problems_ = 0;
};

}  // namespace simmaster
