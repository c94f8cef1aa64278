#include "event_log.h"

#include <cstdarg>

#include "sim_clock.h"

namespace simlog {
namespace {

void append_escaped(std::string& out, const std::string& s) {
  out += '"';
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

Event::Event(EventLog& log, const char* name, int64_t t_us) : log_(log) {
  line_ = "{\"ev\":";
  append_escaped(line_, name);
  line_ += ",\"t_us\":" + std::to_string(t_us);
}

Event::~Event() { log_.write_json(line_ + "}\n"); }

Event& Event::num(const char* key, int64_t value) {
  line_ += ",\"" + std::string(key) + "\":" + std::to_string(value);
  return *this;
}

Event& Event::real(const char* key, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", value);
  line_ += ",\"" + std::string(key) + "\":" + buf;
  return *this;
}

Event& Event::str(const char* key, const std::string& value) {
  line_ += ",\"" + std::string(key) + "\":";
  append_escaped(line_, value);
  return *this;
}

Event& Event::flag(const char* key, bool value) {
  line_ += ",\"" + std::string(key) + "\":" + (value ? "true" : "false");
  return *this;
}

EventLog::EventLog(const char* who, const char* json_path) : who_(who), start_us_(simclock::now_us()) {
  if (json_path && *json_path) json_ = std::fopen(json_path, "w");
  setvbuf(stdout, nullptr, _IOLBF, 0);
}

EventLog::~EventLog() {
  if (json_) std::fclose(json_);
}

void EventLog::say(const char* format, ...) {
  const double t = static_cast<double>(simclock::now_us() - start_us_) / 1e6;
  std::printf("[%s %7.3f] ", who_, t);
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::putchar('\n');
}

Event EventLog::event(const char* name) { return Event(*this, name, simclock::now_us()); }
Event EventLog::event_at(const char* name, int64_t t_us) { return Event(*this, name, t_us); }

void EventLog::write_json(const std::string& line) {
  if (!json_) return;
  std::fputs(line.c_str(), json_);
  std::fflush(json_);
}

std::string hex(const uint8_t* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}

}  // namespace simlog
