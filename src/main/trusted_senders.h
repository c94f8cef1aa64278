#pragma once
// Who may act on the bridge. Traffic on the network-master ports counts only
// when it comes from MasterIP; everything else is dropped, and the operator
// hears about drops without the log being flooded: one line for the first
// datagram from a sender, then at most one summary line a minute per port,
// naming the sender that sent the most.
#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>

// True when `from` is the configured network master (MasterIP, any source port). Anything else is reported
// (rate-limited, see above) as "not the network master" for `local_port` and must be dropped by the caller.
bool accept_from_master(const sockaddr_in& from, int local_port);

// One receive step on a network-master port: reads until a datagram from
// MasterIP turns up or the queue is empty, dropping and reporting up to
// MASTER_PORT_DROPS_PER_TURN others on the way, so that a flood cannot bury
// the master's datagrams. Returns the master's datagram length (its sender
// in *from), or -1 when none came.
ssize_t receive_from_master(int sock, unsigned char* buffer, size_t capacity, sockaddr_in* from, int local_port);
constexpr int MASTER_PORT_DROPS_PER_TURN = 256;

// Prints the minute's summary line for `local_port` when one is due; cheap when nothing is due.
void flush_drop_summary(int local_port);

// When flush_drop_summary(local_port) will print the port's next summary, in
// milliseconds of drop_report_clock_ms; NO_DROP_SUMMARY_DUE while there is
// nothing to sum up. A thread that blocks in its receive waits no longer.
int64_t drop_summary_due_ms(int local_port);
constexpr int64_t NO_DROP_SUMMARY_DUE = INT64_MAX;

// The master check alone, without reporting anything.
bool is_network_master(const sockaddr_in& from);

enum class DropReason { kBadSignature, kNotNetworkMaster, kTooLong, kReflected, kUnaskedKeepAliveReply };

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
