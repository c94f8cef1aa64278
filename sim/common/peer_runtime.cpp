#include "peer_runtime.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>

#include "sim_clock.h"

namespace simpeer {
namespace {

volatile sig_atomic_t g_signalled = 0;
void on_signal(int) { g_signalled = 1; }

}  // namespace

void Runtime::watch(simnet::UdpSocket& socket, Receiver receiver) {
  sockets_.push_back({&socket, std::move(receiver)});
}

void Runtime::set_commands(std::vector<simscript::Command> script, CommandHandler handler) {
  script_ = std::move(script);
  handler_ = std::move(handler);
}

void Runtime::at(int64_t due_us, std::function<void()> task, bool blocking) {
  tasks_.emplace(due_us, std::make_pair(std::move(task), blocking));
  if (blocking) ++blocking_tasks_;
}

void Runtime::saw(const std::string& event) { ++seen_[event]; }

int Runtime::seen(const std::string& event) const {
  auto it = seen_.find(event);
  return it == seen_.end() ? 0 : it->second;
}

void Runtime::hold(double seconds) {
  hold_until_ = std::max(hold_until_, simclock::now_us() + static_cast<int64_t>(seconds * 1e6));
}

void Runtime::advance_script(int64_t now) {
  while (!quit_) {
    if (!waiting_for_.empty()) {
      if (seen(waiting_for_) >= waiting_count_) {
        waiting_for_.clear();
      } else if (now >= wait_deadline_) {
        log_.say("script: gave up waiting for %s", waiting_for_.c_str());
        log_.event("wait_timeout").str("for", waiting_for_);
        ++wait_timeouts_;
        waiting_for_.clear();
      } else {
        return;
      }
    }
    if (now < hold_until_ || blocking_tasks_ > 0 || next_command_ >= script_.size()) return;
    const simscript::Command& c = script_[next_command_++];
    if (c.verb == "sleep") {
      hold(c.seconds(0, 1));
    } else if (c.verb == "wait") {
      waiting_for_ = c.word(0);
      waiting_count_ = static_cast<int>(c.option("count", 1));
      wait_deadline_ = now + static_cast<int64_t>(c.seconds(1, 30) * 1e6);
    } else if (c.verb == "quit") {
      log_.say("script: done");
      quit_ = true;
    } else if (!handler_ || !handler_(c)) {
      log_.say("script line %d: unknown command \"%s\"", c.line, c.text().c_str());
      log_.event("script_error").num("line", c.line).str("command", c.text());
    }
  }
}

int Runtime::run(double max_seconds) {
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);
  const int64_t end = max_seconds > 0 ? simclock::now_us() + static_cast<int64_t>(max_seconds * 1e6) : 0;
  std::vector<pollfd> fds(sockets_.size());
  for (size_t i = 0; i < sockets_.size(); ++i) fds[i] = {sockets_[i].socket->fd(), POLLIN, 0};
  std::vector<uint8_t> datagram;
  while (!quit_ && !g_signalled) {
    int64_t now = simclock::now_us();
    if (end && now >= end) break;
    while (!tasks_.empty() && tasks_.begin()->first <= now) {
      auto task = std::move(tasks_.begin()->second);
      tasks_.erase(tasks_.begin());
      task.first();
      if (task.second) --blocking_tasks_;
    }
    advance_script(now);
    if (quit_) break;
    int64_t wake = now + 50000;
    if (!tasks_.empty()) wake = std::min(wake, tasks_.begin()->first);
    if (hold_until_ > now) wake = std::min(wake, hold_until_);
    const int64_t wait_us = std::max<int64_t>(0, wake - now);
    const timespec timeout{static_cast<time_t>(wait_us / 1000000), static_cast<long>(wait_us % 1000000) * 1000};
    if (ppoll(fds.data(), fds.size(), &timeout, nullptr) <= 0) continue;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      sockaddr_in from{};
      int64_t arrival = 0;
      while (sockets_[i].socket->receive(datagram, from, &arrival)) sockets_[i].receiver(datagram, from, arrival);
    }
  }
  return wait_timeouts_;
}

}  // namespace simpeer
