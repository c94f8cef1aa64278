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
  void finish(int64_t t_us, bool ended);
  void check_voice(const simhyt::Fields& f, int position, std::string& problems, std::string& frames, int& errors);

  simlog::EventLog& log_;
  Call call_;
  int calls_ = 0;
  int problems_ = 0;
};

}  // namespace simmaster
