#pragma once
// Who may act on the bridge. Traffic on the network-master ports counts only
// when it comes from MasterIP; everything else is dropped, and the operator
// hears about drops without the log being flooded: one line for the first
// datagram from a sender, then at most one summary line a minute per port.
#include <netinet/in.h>

#include <cstdint>

// True when `from` is the configured network master (MasterIP, any source port). Anything else is reported
// (rate-limited, see above) as "not the network master" for `local_port` and must be dropped by the caller.
bool accept_from_master(const sockaddr_in& from, int local_port);

// Prints the minute's summary line for `local_port` when one is due; cheap when nothing is due.
void flush_drop_summary(int local_port);

// The master check alone, without reporting anything.
bool is_network_master(const sockaddr_in& from);

enum class DropReason { kBadSignature, kNotNetworkMaster };

// Counts one dropped datagram for the operator. A sender's first drop gets a
// line of its own, at most DROP_LINES_PER_MINUTE of them per port and minute;
// everything else only goes into that port's summary line. A sender is its
// IPv4 address; its port is not part of it. Each port's drops must be
// reported and flushed by one thread, the one that reads that port.
void report_drop(const sockaddr_in& from, int local_port, DropReason reason);

constexpr unsigned DROP_LINES_PER_MINUTE = 5;
constexpr int64_t DROP_SUMMARY_INTERVAL_MS = 60000;

// Milliseconds of a steady clock; tests put a clock of their own here.
extern int64_t (*drop_report_clock_ms)();

// Forgets every sender and count on every port.
void reset_drop_reports();
