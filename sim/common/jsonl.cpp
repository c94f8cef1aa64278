#include "jsonl.h"

#include <cstdlib>
#include <fstream>

namespace simjson {

std::string Object::str(const std::string& key) const {
  auto it = values.find(key);
  return it == values.end() ? std::string() : it->second;
}

int64_t Object::num(const std::string& key, int64_t fallback) const {
  auto it = values.find(key);
  return it == values.end() ? fallback : std::strtoll(it->second.c_str(), nullptr, 10);
}

double Object::real(const std::string& key, double fallback) const {
  auto it = values.find(key);
  return it == values.end() ? fallback : std::strtod(it->second.c_str(), nullptr);
}

bool Object::flag(const std::string& key) const { return str(key) == "true"; }

bool parse_line(const std::string& line, Object& out) {
  out.values.clear();
  size_t i = 0;
  auto skip = [&] {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
  };
  auto read_string = [&](std::string& s) {
    if (i >= line.size() || line[i] != '"') return false;
    ++i;
    while (i < line.size() && line[i] != '"') {
      if (line[i] == '\\' && i + 1 < line.size()) {
        ++i;
        if (line[i] == 'u' && i + 4 < line.size()) {
          s += static_cast<char>(std::strtol(line.substr(i + 1, 4).c_str(), nullptr, 16));
          i += 4;
        } else {
          s += line[i];
        }
      } else {
        s += line[i];
      }
      ++i;
    }
    if (i >= line.size()) return false;
    ++i;
    return true;
  };
  skip();
  if (i >= line.size() || line[i] != '{') return false;
  ++i;
  for (;;) {
    skip();
    if (i < line.size() && line[i] == '}') return true;
    std::string key, value;
    if (!read_string(key)) return false;
    skip();
    if (i >= line.size() || line[i] != ':') return false;
    ++i;
    skip();
    if (i < line.size() && line[i] == '"') {
      if (!read_string(value)) return false;
    } else {
      while (i < line.size() && line[i] != ',' && line[i] != '}') value += line[i++];
      while (!value.empty() && value.back() == ' ') value.pop_back();
    }
    out.values[key] = value;
    skip();
    if (i < line.size() && line[i] == ',') {
      ++i;
      continue;
    }
    return i < line.size() && line[i] == '}';
  }
}

std::vector<Object> read_file(const std::string& path) {
  std::vector<Object> objects;
  std::ifstream in(path);
  std::string line;
  Object o;
  while (std::getline(in, line))
    if (parse_line(line, o)) objects.push_back(o);
  return objects;
}

}  // namespace simjson
