#include "line_splitter.h"

namespace monitor {

bool LineSplitter::take(unsigned char byte) {
  constexpr unsigned char kEsc = 0x1b;
  if (escape_ == Escape::kStart) {
    // ESC [ opens a control sequence; any other byte is a two-byte escape.
    escape_ = byte == '[' ? Escape::kControlSequence : Escape::kNone;
    if (byte != '\n' && byte != '\r') return false;
  } else if (escape_ == Escape::kControlSequence) {
    // Parameters and intermediates run until a final byte 0x40..0x7e; a
    // line end inside a broken sequence still ends the line.
    if (byte >= 0x40 && byte <= 0x7e) escape_ = Escape::kNone;
    if (byte != '\n' && byte != '\r') return false;
    escape_ = Escape::kNone;
  }
  if (byte == '\n' || byte == '\r') {
    // Trailing blanks carry no meaning ("END USER_ID=%i \n").
    while (used_ > 0 && line_[used_ - 1] == ' ') --used_;
    if (cut_) ++cut_lines_;
    cut_ = false;
    return used_ > 0;
  }
  if (byte == kEsc) {
    escape_ = Escape::kStart;
    return false;
  }
  char c;
  if (byte == '\t') {
    c = ' ';
  } else if (byte < 0x20 || byte >= 0x7f) {
    // Noise: kept visible as one mark, so that a garbled line cannot match
    // a real one by accident nor carry bytes the page could not show.
    c = '?';
  } else {
    c = static_cast<char>(byte);
  }
  if (used_ == kMaxLine) {
    cut_ = true;
    return false;
  }
  line_[used_++] = c;
  return false;
}

}  // namespace monitor
