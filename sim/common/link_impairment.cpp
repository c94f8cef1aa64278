#include "link_impairment.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace simlink {
namespace {

bool number(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end && *end == '\0' && std::isfinite(out);
}

// "2%" or "2" (percent) as a share 0..1.
bool share(std::string text, double& out) {
  if (!text.empty() && text.back() == '%') text.pop_back();
  double p = 0;
  if (!number(text, p) || p < 0 || p > 100) return false;
  out = p / 100;
  return true;
}

bool time_ms(const std::string& text, double& out) { return number(text, out) && out >= 0 && out <= kMaxDelayMs; }

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

bool parse_delay(const std::string& value, Link& link) {
  const std::vector<std::string> p = split(value, ':');
  if (p.empty()) return false;
  if (p[0] == "fixed" && p.size() == 2 && time_ms(p[1], link.a_ms)) {
    link.delay = Link::Delay::kFixed;
    return true;
  }
  if (p[0] == "uniform" && p.size() == 3 && time_ms(p[1], link.a_ms) && time_ms(p[2], link.b_ms) &&
      link.a_ms <= link.b_ms) {
    link.delay = Link::Delay::kUniform;
    return true;
  }
  if (p[0] == "normal" && p.size() == 3 && time_ms(p[1], link.a_ms) && time_ms(p[2], link.b_ms)) {
    link.delay = Link::Delay::kNormal;
    return true;
  }
  if (p[0] == "exp" && p.size() == 2 && time_ms(p[1], link.a_ms)) {
    link.delay = Link::Delay::kExponential;
    return true;
  }
  return false;
}

bool parse_word(const std::string& word, Link& link) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos) return false;
  const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
  if (key == "delay") return parse_delay(value, link);
  if (key == "late") {
    const std::vector<std::string> p = split(value, ':');
    return p.size() == 2 && share(p[0], link.late_share) && time_ms(p[1], link.late_ms);
  }
  if (key == "loss") return share(value, link.loss_share);
  if (key == "reorder") return share(value, link.reorder_share);
  if (key == "loss_run") {
    double n = 0;
    if (!number(value, n) || n < 1 || n > 50 || n != std::floor(n)) return false;
    link.loss_run = static_cast<int>(n);
    return true;
  }
  return false;
}

class Random {
 public:
  explicit Random(uint32_t seed) : next_(seed * 2654435761u + 0x9E3779B9u) {}
  double uniform() { return (static_cast<double>(next_()) + 0.5) / 4294967296.0; }  // (0, 1)
  bool chance(double share) { return share > 0 && uniform() < share; }
  double normal() {  // Box-Muller
    const double u = uniform(), v = uniform();
    return std::sqrt(-2 * std::log(u)) * std::cos(2 * M_PI * v);
  }

 private:
  simrand::Xorshift32 next_;
};

double base_delay_ms(const Link& link, Random& r) {
  switch (link.delay) {
    case Link::Delay::kFixed:
      return link.a_ms;
    case Link::Delay::kUniform:
      return link.a_ms + (link.b_ms - link.a_ms) * r.uniform();
    case Link::Delay::kNormal:
      return std::max(0.0, link.a_ms + link.b_ms * r.normal());
    case Link::Delay::kExponential:
      return -link.a_ms * std::log(r.uniform());
    case Link::Delay::kNone:
      break;
  }
  return 0;
}

std::string format_ms(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

}  // namespace

bool parse(const std::string& text, Link& out, std::string* error) {
  Link link;
  std::string words = text;
  std::replace(words.begin(), words.end(), ',', ' ');
  std::istringstream in(words);
  std::string word;
  while (in >> word) {
    if (word == "off" || word == "clean") continue;
    if (!parse_word(word, link)) {
      if (error) *error = "bad link word \"" + word + "\"";
      return false;
    }
  }
  out = link;
  return true;
}

std::string describe(const Link& link) {
  std::string s;
  auto add = [&s](const std::string& w) { s += (s.empty() ? "" : " ") + w; };
  switch (link.delay) {
    case Link::Delay::kFixed:
      add("delay=fixed:" + format_ms(link.a_ms));
      break;
    case Link::Delay::kUniform:
      add("delay=uniform:" + format_ms(link.a_ms) + ":" + format_ms(link.b_ms));
      break;
    case Link::Delay::kNormal:
      add("delay=normal:" + format_ms(link.a_ms) + ":" + format_ms(link.b_ms));
      break;
    case Link::Delay::kExponential:
      add("delay=exp:" + format_ms(link.a_ms));
      break;
    case Link::Delay::kNone:
      break;
  }
  if (link.late_share > 0) add("late=" + format_ms(link.late_share * 100) + "%:" + format_ms(link.late_ms));
  if (link.loss_share > 0) add("loss=" + format_ms(link.loss_share * 100) + "%");
  if (link.loss_share > 0 && link.loss_run > 1) add("loss_run=" + std::to_string(link.loss_run));
  if (link.reorder_share > 0) add("reorder=" + format_ms(link.reorder_share * 100) + "%");
  return s.empty() ? "clean" : s;
}

std::vector<Fate> impair(const Link& link, size_t count, int64_t gap_us, uint32_t seed) {
  Random r(seed);
  std::vector<Fate> fates(count);
  int losing = 0;
  for (Fate& f : fates) {
    // Every packet draws the same numbers whatever happens to it, so one
    // impairment switched on or off leaves the others' choices alone.
    const double delay = base_delay_ms(link, r);
    const bool late = r.chance(link.late_share);
    const bool loss = r.chance(link.loss_share);
    if (loss && losing == 0) losing = link.loss_run;
    f.lost = losing > 0;
    if (losing > 0) --losing;
    const double ms = std::min(kMaxDelayMs, delay + (late ? link.late_ms : 0));
    f.delay_us = static_cast<int64_t>(ms * 1000);
  }
  // A swapped pair: this packet leaves 1 ms after the next one, which
  // overtakes it.
  for (size_t i = 0; i + 1 < count; ++i) {
    if (!r.chance(link.reorder_share)) continue;
    fates[i].delay_us = std::max(fates[i].delay_us, fates[i + 1].delay_us + gap_us + 1000);
    ++i;
  }
  return fates;
}

}  // namespace simlink
