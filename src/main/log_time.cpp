#include "main/log_time.h"

#include <cstring>

thread_local time_t t;
thread_local char ts[26];

const char* slot_suffix(unsigned int slot) { return slot == 1 ? " slot:1" : ""; }

void refresh_ts() {
  // The text changes once a second; the voice threads refresh it for every
  // packet, so the conversion is done only when the second has moved on.
  static thread_local time_t text_time = -1;
  t = time(nullptr);
  if (t == text_time && ts[0] != '\0') return;
  tm local{};
  localtime_r(&t, &local);
  char text[64];
  if (!asctime_r(&local, text)) {
    ts[0] = '\0';
    return;
  }
  text[24] = '\0';
  memcpy(ts, text, 25);
  text_time = t;
}
