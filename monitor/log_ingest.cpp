#include "log_ingest.h"

namespace monitor {

void LogIngest::feed(const char* data, size_t length, int64_t time) {
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    splitter_.feed(data, length,
                   [&](std::string_view line) { changed |= state_.model.apply(parser_.parse(line), time); });
    for (; cut_seen_ < splitter_.cut_lines(); ++cut_seen_) state_.model.count_cut_line();
  }
  if (changed) state_.changed.notify_all();
}

void LogIngest::finish() {
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    splitter_.finish([&](std::string_view line) { changed |= state_.model.apply(parser_.parse(line)); });
  }
  if (changed) state_.changed.notify_all();
}

}  // namespace monitor
