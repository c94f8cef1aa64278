#include "main/thread_wait.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include "main/trusted_senders.h"

namespace {

int64_t clock_monotonic_us() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

int64_t (*monotonic_us)() = clock_monotonic_us;

bool wait_until(int sock, int wake_fd, int64_t deadline_us) {
  pollfd watched[2] = {{sock, POLLIN, 0}, {wake_fd, POLLIN, 0}};
  for (;;) {
    timespec timeout{};
    const timespec* limit = nullptr;
    int64_t remaining = 0;
    if (deadline_us != WAIT_FOREVER) {
      remaining = deadline_us - monotonic_us();
      if (remaining < 0) remaining = 0;  // passed: only look whether anything is there
      timeout.tv_sec = static_cast<time_t>(remaining / 1000000);
      timeout.tv_nsec = static_cast<long>(remaining % 1000000) * 1000;
      limit = &timeout;
    }
    // poll skips descriptors of -1, so a socket that never opened only waits.
    const int ready = ppoll(watched, 2, limit, nullptr);
    if (ready > 0) return true;
    if (limit != nullptr && remaining == 0) return false;
    // Interrupted, or a timeout that came a hair early: look at the clock again.
  }
}

int64_t with_drop_summary(int64_t deadline_us, int local_port) {
  const int64_t due_ms = drop_summary_due_ms(local_port);
  if (due_ms == NO_DROP_SUMMARY_DUE) return deadline_us;
  // The drop report keeps its own millisecond clock, monotonic as this one.
  const int64_t due_us = monotonic_us() + (due_ms - drop_report_clock_ms()) * 1000;
  return due_us < deadline_us ? due_us : deadline_us;
}

int wake_signal_open() { return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

void wake_signal_raise(int signal_fd) {
  if (signal_fd < 0) return;
  const uint64_t one = 1;
  // A full counter already wakes the waiter; nothing is lost when this fails.
  [[maybe_unused]] const ssize_t written = write(signal_fd, &one, sizeof one);
}

void wake_signal_clear(int signal_fd) {
  if (signal_fd < 0) return;
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t taken = read(signal_fd, &count, sizeof count);
}

void name_this_thread(const char* name) { pthread_setname_np(pthread_self(), name); }
