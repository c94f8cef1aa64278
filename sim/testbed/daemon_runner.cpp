#include "testbed/daemon_runner.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

DaemonRunner::DaemonRunner(const std::string& workdir, const std::string& netns) {
  log_path_ = workdir + "/daemon.log";
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    if (chdir(workdir.c_str()) != 0) _exit(127);
    int log = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    setpgid(0, 0);
    if (netns.empty()) {
      execl(MOTO_BRIDGE_BINARY, MOTO_BRIDGE_BINARY, static_cast<char*>(nullptr));
    } else {
      execlp("ip", "ip", "netns", "exec", netns.c_str(), MOTO_BRIDGE_BINARY, static_cast<char*>(nullptr));
    }
    _exit(127);
  }
}

DaemonRunner::~DaemonRunner() { stop(); }

std::string DaemonRunner::output() const {
  std::ifstream f(log_path_, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool DaemonRunner::wait_for(const std::string& text, int timeout_ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (output().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return output().find(text) != std::string::npos;
}

bool DaemonRunner::running() {
  if (pid_ < 0) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = status;
    pid_ = -1;
    return false;
  }
  return true;
}

int DaemonRunner::wait_exit(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!running()) return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

void DaemonRunner::stop() {
  if (pid_ < 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  waitpid(pid_, &status_, 0);
  pid_ = -1;
}
