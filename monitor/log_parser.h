#pragma once
// Recognises the daemon's console lines (already cleaned by LineSplitter).
// No allocation: a line becomes a LogEvent of plain fields.
#include <string_view>

#include "log_event.h"
#include "log_time_text.h"

namespace monitor {

class LogParser {
 public:
  LogEvent parse(std::string_view line);

 private:
  LogEvent parse_line(std::string_view line);
  bool parse_timed(std::string_view rest, LogEvent* e);
  bool parse_untimed(std::string_view line, LogEvent* e);
  LogTimeText time_text_;
};

}  // namespace monitor
