#pragma once
// Raw log text in, model changes out: splits, parses and applies lines, one
// lock per batch, and wakes the event streams when something changed.
#include <cstddef>
#include <cstdint>

#include "line_splitter.h"
#include "log_parser.h"
#include "shared_state.h"

namespace monitor {

class LogIngest {
 public:
  explicit LogIngest(SharedState& state) : state_(state) {}

  // `time`: the time the source gives these bytes (journal entries), or 0
  // to go by the time texts in the lines.
  void feed(const char* data, size_t length, int64_t time = 0);
  // End of input: the last line without a line end counts too.
  void finish();

 private:
  SharedState& state_;
  LineSplitter splitter_;
  LogParser parser_;
  unsigned long cut_seen_ = 0;
};

}  // namespace monitor
