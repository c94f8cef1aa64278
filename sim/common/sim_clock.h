#pragma once
// One monotonic clock for every simulated peer: the repeater and the master
// run on the same host, so their readings can be compared directly.
#include <time.h>

#include <cstdint>

namespace simclock {

inline int64_t now_us() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

}  // namespace simclock
