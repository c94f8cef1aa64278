#pragma once
// What the peers' call checkers report alike, whatever the protocol they
// check: what one packet did to the call of its timeslot, and the calls by
// timeslot as the peers' summary lines give them.
#include <string>

namespace simcalls {

// What a packet did to the call of its timeslot.
enum class Took { kNothing, kOpened, kEnded };

// " (N on timeslot 1)" for a summary line once timeslot 1 carried calls,
// else nothing, so a run on timeslot 2 alone reads as it always did.
inline std::string timeslot1_note(int calls_on_1) {
  return calls_on_1 > 0 ? " (" + std::to_string(calls_on_1) + " on timeslot 1)" : "";
}

}  // namespace simcalls
