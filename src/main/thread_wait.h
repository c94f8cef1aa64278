#pragma once
// How the worker threads wait. Each blocks until a datagram is on its
// socket, another thread wakes it, or its next deadline on the monotonic
// clock comes: an idle bridge does not wake at all, so a small board reaches
// its deep idle states, and a datagram is handled the moment it arrives.
#include <cstdint>
#include <limits>

constexpr int64_t WAIT_FOREVER = std::numeric_limits<int64_t>::max();

// Microseconds of the monotonic clock (never set back, unlike the wall clock
// that NTP sets after boot on boards without a real-time clock). Tests put a
// clock of their own here.
extern int64_t (*monotonic_us)();

// Blocks until `sock` or `wake_fd` is readable (either may be -1: never) or
// the monotonic clock reaches `deadline_us` (WAIT_FOREVER: no deadline).
// True when a descriptor is readable; false at the deadline. With a deadline
// already passed it only looks, without waiting.
bool wait_until(int sock, int wake_fd, int64_t deadline_us);

// The sooner of `deadline_us` and the time the minute's drop summary of
// `local_port` falls due: a thread that reads a port waits no longer, so the
// summary comes out even when nothing more arrives.
int64_t with_drop_summary(int64_t deadline_us, int local_port);

// A wake-up from another thread: raising it makes wait_until return in the
// thread that waits on it; the waiter clears it before it looks at what the
// signal announced, so a raise is never lost. -1 when it could not be made;
// raising or clearing -1 does nothing.
int wake_signal_open();
void wake_signal_raise(int signal_fd);
void wake_signal_clear(int signal_fd);

// Names the calling thread (at most 15 characters), so that top, ps and the
// measuring scripts can tell the bridge's threads apart.
void name_this_thread(const char* name);
