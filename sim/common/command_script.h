#pragma once
// The script a simulated peer follows, one command a line:
//   sleep SECONDS            wait before the next command
//   wait EVENT [SECONDS]     until the peer has seen EVENT (default 30 s)
//   quit                     end the run
// and the commands of each peer. Words of the form key=value are options;
// "#" starts a comment. Two options mean the same on every peer's calls:
//   slot=1|2   the timeslot the call is on (default 2)
//   hold=0     the script goes on at once instead of after the call's last
//              datagram, so the next call plays alongside this one
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace simscript {

struct Command {
  int line = 0;
  std::string verb;
  std::vector<std::string> words;
  std::map<std::string, std::string> options;
  std::string word(size_t i, const std::string& fallback = "") const;
  long number(size_t i, long fallback) const;
  double seconds(size_t i, double fallback) const;
  long option(const std::string& key, long fallback) const;
  double decimal_option(const std::string& key, double fallback) const;  // fractions allowed
  // "N:D" (or "N" with `fallback` as D) from option `key`, both in base 10;
  // false when absent or N is negative.
  bool pair_option(const std::string& key, int& n, int64_t& d, int64_t fallback) const;
  std::string text() const;  // the command as written
};

// The timeslot a command names (2 without the option); false for anything but 1 or 2.
bool timeslot(const Command& c, unsigned& slot);
// Whether the script waits for the command's datagrams before it goes on.
bool holds_script(const Command& c);

// False with the reason in *error when the file cannot be read.
bool load(const std::string& path, std::vector<Command>& out, std::string* error);
Command parse(const std::string& line, int number);

}  // namespace simscript
