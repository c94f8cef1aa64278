#pragma once
// Checks the 72-byte voice packets the bridge sends to the network master:
// fixed header bytes, packet order, the data bursts of header and
// terminator (BPTC, Reed-Solomon, slot type, sync), the voice sync, EMB and
// embedded link control of bursts A..F, and every AMBE+2 frame.
#include <cstdint>
#include <string>

#include "../common/embedded_signalling.h"
#include "../common/event_log.h"
#include "../common/hytera_packet.h"

namespace simmaster {

class VoiceChecker {
 public:
  explicit VoiceChecker(simlog::EventLog& log) : log_(log) {}
  // Returns true when the packet ended a call.
  bool take(const simhyt::Packet& p, int64_t t_us);
  int calls() const { return calls_; }
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
  // What one packet turned out to be, and what was wrong with it.
  struct Seen {
    std::string kind;
    int position = -1;  // voice bursts: 0..5 for A..F
    int errors = 0;     // bit errors corrected in its frames
    bool ended = false;
    std::string problems;
    std::string frames;
  };
  void finish(int64_t t_us, bool ended);
  void open_call(const simhyt::Fields& f, int64_t t_us);
  void take_sync(const simhyt::Packet& p, const simhyt::Fields& f, int64_t t_us, Seen& s);
  void take_header(const simhyt::Packet& p, const simhyt::Fields& f, Seen& s);
  void take_terminator(const simhyt::Fields& f, Seen& s);
  void take_voice(const simhyt::Fields& f, Seen& s);
  // Burst A: the voice sync; B..E: EMB and a quarter of the embedded LC; F: EMB and null signalling.
  void check_centre(const simhyt::Fields& f, int position, std::string& problems);
  void record(const simhyt::Fields& f, int64_t t_us, const Seen& s);

  simlog::EventLog& log_;
  Call call_;
  int calls_ = 0;
  int problems_ = 0;
};

}  // namespace simmaster
