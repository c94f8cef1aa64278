#pragma once
// The daemon's time text: asctime without its line feed, in local time,
// e.g. "Wed Dec  9 15:41:58 2026" (always 24 characters).
#include <cstdint>
#include <ctime>
#include <string_view>

namespace monitor {

constexpr size_t kTimeTextLength = 24;

class LogTimeText {
 public:
  // Unix seconds of the time text at the start of `text`; false when the
  // text does not start with one.
  bool parse(std::string_view text, int64_t* seconds);

  // True when `text` starts with something shaped like a time text.
  static bool looks_like(std::string_view text);

 private:
  // mktime is slow and the daemon logs many lines a second within one
  // hour: the start of the last hour seen is kept (clock changes happen on
  // hour boundaries, so the cache never spans one).
  int cached_year_ = -1, cached_month_ = -1, cached_day_ = -1, cached_hour_ = -1;
  int64_t cached_hour_start_ = 0;
};

}  // namespace monitor
