#pragma once
// Runs the real daemon binary in a scratch directory, optionally inside a
// network namespace, and collects what it prints.
#include <sys/types.h>

#include <string>

class DaemonRunner {
 public:
  // netns empty: run directly; otherwise under `ip netns exec <netns>`.
  DaemonRunner(const std::string& workdir, const std::string& netns = "");
  ~DaemonRunner();
  DaemonRunner(const DaemonRunner&) = delete;
  DaemonRunner& operator=(const DaemonRunner&) = delete;

  // Everything printed so far.
  std::string output() const;
  // Waits until the output contains text; false after timeout_ms.
  bool wait_for(const std::string& text, int timeout_ms) const;
  // True while the process runs.
  bool running();
  // Waits for the process to end by itself; its exit status, or -1 on timeout.
  int wait_exit(int timeout_ms);
  void stop();

 private:
  pid_t pid_ = -1;
  std::string log_path_;
  int status_ = -1;
};
