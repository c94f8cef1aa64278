#pragma once
// Reads back the JSON lines the simulated peers write: one flat object per
// line whose values are numbers, strings or booleans.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace simjson {

struct Object {
  std::map<std::string, std::string> values;  // strings unescaped, others as written
  bool has(const std::string& key) const { return values.count(key) != 0; }
  std::string str(const std::string& key) const;
  int64_t num(const std::string& key, int64_t fallback = 0) const;
  double real(const std::string& key, double fallback = 0) const;
  bool flag(const std::string& key) const;
  std::string event() const { return str("ev"); }
};

bool parse_line(const std::string& line, Object& out);
std::vector<Object> read_file(const std::string& path);

}  // namespace simjson
