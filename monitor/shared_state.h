#pragma once
// The one place the reader thread and the HTTP threads meet: the model under
// one mutex, and a condition variable the event stream waits on.
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "bridge_model.h"
#include "callsign_table.h"

namespace monitor {

struct SharedState {
  std::mutex mutex;
  std::condition_variable changed;  // notified after every batch of changes
  BridgeModel model;                // guarded by mutex
  bool stopping = false;            // guarded by mutex
  CallsignTable callsigns;          // filled before the threads start, then read-only
  // Journal input follows the daemon as it runs: running calls are measured
  // against the clock. A log from standard input may be old: they are
  // measured against its last line.
  bool live = false;
  int64_t (*clock)() = [] { return static_cast<int64_t>(std::time(nullptr)); };

  // Caller holds the mutex.
  int64_t now() const { return live ? clock() : model.last_time; }
};

}  // namespace monitor
