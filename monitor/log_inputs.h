#pragma once
// Where the log comes from. Both block in the kernel until there is more to
// read; neither polls.
#include <string>

#include "log_ingest.h"

namespace monitor {

// Reads `fd` to its end. False (with `error`) on a read error.
bool read_stream(int fd, LogIngest& ingest, std::string* error);

// Follows the unit's lines in the systemd journal, from the unit's most
// recent start found among the last entries, with each entry's journal time.
// Returns only on an error (false, with `error`).
bool follow_journal(const std::string& unit, LogIngest& ingest, std::string* error);

}  // namespace monitor
