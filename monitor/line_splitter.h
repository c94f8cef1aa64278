#pragma once
// Turns the daemon's raw console output into clean text lines. The daemon
// colours its banners with escape sequences that often run on into the next
// line, ends protocol lines in "\r\n", and redraws its start-up progress bar
// with a bare "\r"; all of those are taken apart here, so the line parser
// sees plain printable ASCII only.
#include <cstddef>
#include <string_view>

namespace monitor {

class LineSplitter {
 public:
  // Longer lines are cut here; the daemon's longest real line is far shorter,
  // so anything beyond is noise and must not grow memory.
  static constexpr size_t kMaxLine = 400;

  // Feeds raw bytes; `sink(std::string_view line)` gets every complete,
  // non-empty line. Escape sequences may be split across calls.
  template <typename Sink>
  void feed(const char* data, size_t length, Sink&& sink) {
    for (size_t i = 0; i < length; ++i) {
      if (take(static_cast<unsigned char>(data[i]))) {
        sink(std::string_view(line_, used_));
        used_ = 0;
      }
    }
  }
  // Hands out a last line that had no line end.
  template <typename Sink>
  void finish(Sink&& sink) {
    if (take('\n')) sink(std::string_view(line_, used_));
    used_ = 0;
  }

  // Lines that were longer than kMaxLine.
  unsigned long cut_lines() const { return cut_lines_; }

 private:
  // True when `byte` ended a line that holds text.
  bool take(unsigned char byte);

  enum class Escape { kNone, kStart, kControlSequence };
  Escape escape_ = Escape::kNone;
  bool cut_ = false;
  unsigned long cut_lines_ = 0;
  size_t used_ = 0;
  char line_[kMaxLine];
};

}  // namespace monitor
