#include "script_timeslot.h"

namespace simscript {

bool timeslot_or_error(const Command& c, unsigned& slot, simlog::EventLog& log, const char* skipped) {
  if (timeslot(c, slot)) return true;
  log.say("script line %d: slot must be 1 or 2; %s", c.line, skipped);
  log.event("script_error").num("line", c.line).str("command", c.text()).str("reason", "slot");
  return false;
}

}  // namespace simscript
