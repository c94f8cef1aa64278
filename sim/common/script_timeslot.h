#pragma once
// The timeslot a peer's script command names, checked the same way on
// every peer: anything but 1 or 2 is a script error in the peer's log, and
// the command is skipped.
#include "command_script.h"
#include "event_log.h"

namespace simscript {

// The command's timeslot in `slot`; false, with the error logged, for
// anything but 1 or 2. `skipped` ends the readable line ("skipped",
// "call skipped").
bool timeslot_or_error(const Command& c, unsigned& slot, simlog::EventLog& log, const char* skipped);

}  // namespace simscript
