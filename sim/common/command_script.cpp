#include "command_script.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace simscript {

std::string Command::word(size_t i, const std::string& fallback) const {
  return i < words.size() ? words[i] : fallback;
}

long Command::number(size_t i, long fallback) const {
  return i < words.size() ? std::strtol(words[i].c_str(), nullptr, 0) : fallback;
}

double Command::seconds(size_t i, double fallback) const {
  return i < words.size() ? std::strtod(words[i].c_str(), nullptr) : fallback;
}

long Command::option(const std::string& key, long fallback) const {
  auto it = options.find(key);
  return it == options.end() ? fallback : std::strtol(it->second.c_str(), nullptr, 0);
}

double Command::decimal_option(const std::string& key, double fallback) const {
  auto it = options.find(key);
  return it == options.end() ? fallback : std::strtod(it->second.c_str(), nullptr);
}

// Base 10, unlike option(): a leading zero in "N:D" is no octal.
bool Command::pair_option(const std::string& key, int& n, int64_t& d, int64_t fallback) const {
  auto it = options.find(key);
  if (it == options.end()) return false;
  char* end = nullptr;
  n = static_cast<int>(std::strtol(it->second.c_str(), &end, 10));
  d = *end == ':' ? std::strtoll(end + 1, nullptr, 10) : fallback;
  return n >= 0;
}

std::string Command::text() const {
  std::string s = verb;
  for (const auto& w : words) s += " " + w;
  for (const auto& [k, v] : options) s += " " + k + "=" + v;
  return s;
}

bool timeslot(const Command& c, unsigned& slot) {
  const long value = c.option("slot", 2);
  if (value != 1 && value != 2) return false;
  slot = static_cast<unsigned>(value);
  return true;
}

bool holds_script(const Command& c) { return c.option("hold", 1) != 0; }

Command parse(const std::string& line, int number) {
  Command c;
  c.line = number;
  std::istringstream in(line.substr(0, line.find('#')));
  std::string token;
  while (in >> token) {
    const size_t eq = token.find('=');
    if (c.verb.empty())
      c.verb = token;
    else if (eq != std::string::npos)
      c.options[token.substr(0, eq)] = token.substr(eq + 1);
    else
      c.words.push_back(token);
  }
  return c;
}

bool load(const std::string& path, std::vector<Command>& out, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    if (error) *error = "cannot read script " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    Command c = parse(line, ++number);
    if (!c.verb.empty()) out.push_back(c);
  }
  return true;
}

}  // namespace simscript
