#pragma once
// What a simulated peer saw and did: a readable line on standard output and,
// when a path is given, one JSON object per line for scripts and tests.
#include <cstdint>
#include <cstdio>
#include <string>

namespace simlog {

class EventLog;

// Collects the fields of one JSON line; written when it goes out of scope.
class Event {
 public:
  Event(EventLog& log, const char* name, int64_t t_us);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  Event& num(const char* key, int64_t value);
  Event& real(const char* key, double value);
  Event& str(const char* key, const std::string& value);
  Event& flag(const char* key, bool value);

 private:
  EventLog& log_;
  std::string line_;
};

class EventLog {
 public:
  EventLog(const char* who, const char* json_path);
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // A readable line, prefixed with the peer's name and the seconds since start.
  void say(const char* format, ...) __attribute__((format(printf, 2, 3)));
  Event event(const char* name);
  Event event_at(const char* name, int64_t t_us);
  bool writes_json() const { return json_ != nullptr; }

 private:
  friend class Event;
  void write_json(const std::string& line);
  const char* who_;
  std::FILE* json_ = nullptr;
  int64_t start_us_;
};

std::string hex(const uint8_t* data, size_t length);

}  // namespace simlog
