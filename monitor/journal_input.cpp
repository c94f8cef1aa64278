#include <systemd/sd-journal.h>

#include <cstring>

#include "log_inputs.h"

namespace monitor {

namespace {

// How far back to look for the daemon's last start when the monitor starts.
constexpr int kLookBack = 50000;

bool message_of(sd_journal* j, const char** text, size_t* length) {
  const void* data = nullptr;
  size_t size = 0;
  if (sd_journal_get_data(j, "MESSAGE", &data, &size) < 0 || size < 8) return false;
  *text = static_cast<const char*>(data) + 8;  // after "MESSAGE="
  *length = size - 8;
  return true;
}

}  // namespace

bool follow_journal(const std::string& unit, LogIngest& ingest, std::string* error) {
  sd_journal* j = nullptr;
  int r = sd_journal_open(&j, SD_JOURNAL_LOCAL_ONLY);
  if (r < 0) {
    *error = std::string("cannot open the journal: ") + std::strerror(-r);
    return false;
  }
  const std::string match = "_SYSTEMD_UNIT=" + unit;
  r = sd_journal_add_match(j, match.c_str(), 0);
  if (r >= 0) r = sd_journal_seek_tail(j);
  if (r < 0) {
    *error = std::string("cannot read the journal: ") + std::strerror(-r);
    sd_journal_close(j);
    return false;
  }
  // Back to the daemon's last "Date: " line, so the state is whole.
  for (int i = 0; i < kLookBack && sd_journal_previous(j) > 0; ++i) {
    const char* text;
    size_t length;
    if (message_of(j, &text, &length) && length >= 6 && std::memcmp(text, "Date: ", 6) == 0) break;
  }
  // The cursor now stands on the first entry to read: step back once so
  // that sd_journal_next lands on it (at the head, previous does nothing).
  if (sd_journal_previous(j) <= 0) sd_journal_seek_head(j);
  for (;;) {
    r = sd_journal_next(j);
    if (r < 0) {
      *error = std::string("reading the journal failed: ") + std::strerror(-r);
      break;
    }
    if (r == 0) {
      // Sleeps in the kernel until the journal changes.
      r = sd_journal_wait(j, static_cast<uint64_t>(-1));
      if (r < 0) {
        *error = std::string("waiting for the journal failed: ") + std::strerror(-r);
        break;
      }
      continue;
    }
    const char* text;
    size_t length;
    if (!message_of(j, &text, &length)) continue;
    uint64_t usec = 0;
    sd_journal_get_realtime_usec(j, &usec);
    const int64_t time = static_cast<int64_t>(usec / 1000000);
    ingest.feed(text, length, time > 0 ? time : 0);
    ingest.feed("\n", 1, time > 0 ? time : 0);
  }
  sd_journal_close(j);
  return false;
}

}  // namespace monitor
