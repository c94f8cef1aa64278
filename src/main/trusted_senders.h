#pragma once
// Who may act on the bridge. Traffic on the network-master ports counts only
// when it comes from MasterIP; everything else is dropped, and the operator
// hears about drops without the log being flooded: one line for the first
// datagram from a sender, then at most one summary line a minute per port.
#include <netinet/in.h>

// True when `from` is the configured network master (MasterIP, any source port). Anything else is reported
// (rate-limited, see above) as "not the network master" for `local_port` and must be dropped by the caller.
bool accept_from_master(const sockaddr_in& from, int local_port);

// Prints the minute's summary line for `local_port` when one is due; cheap when nothing is due.
void flush_drop_summary(int local_port);
