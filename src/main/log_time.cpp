#include "main/log_time.h"

#include <cstring>

thread_local time_t t;
thread_local char ts[26];

void refresh_ts() {
  t = time(nullptr);
  tm local{};
  localtime_r(&t, &local);
  char text[64];
  if (!asctime_r(&local, text)) {
    ts[0] = '\0';
    return;
  }
  text[24] = '\0';
  memcpy(ts, text, 25);
}
