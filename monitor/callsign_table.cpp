#include "callsign_table.h"

#include <algorithm>
#include <charconv>
#include <numeric>

namespace monitor {

namespace {

std::string upper_trimmed(std::string s) {
  const size_t first = s.find_first_not_of(" \t");
  const size_t last = s.find_last_not_of(" \t\r");
  s = first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
  for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return s;
}

// Call signs are letters, digits and a few separators; anything else (or an
// over-long text) is not shown rather than shown garbled.
bool plausible_callsign(const std::string& s) {
  if (s.empty() || s.size() > 16) return false;
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-'; });
}

}  // namespace

void split_csv_line(std::string_view line, std::vector<std::string>* fields) {
  fields->clear();
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields->push_back(std::move(field));
      field.clear();
    } else if (c != '\r' && c != '\n') {
      field += c;
    }
  }
  fields->push_back(std::move(field));
}

bool CallsignTable::load(std::istream& in, std::string* error) {
  std::string line;
  std::vector<std::string> fields;
  if (!std::getline(in, line)) {
    *error = "the file is empty";
    return false;
  }
  if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  split_csv_line(line, &fields);
  size_t id_column = fields.size(), call_column = fields.size();
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string name = upper_trimmed(fields[i]);
    if (name == "RADIO_ID") id_column = i;
    if (name == "CALLSIGN") call_column = i;
  }
  if (id_column == fields.size() || call_column == fields.size()) {
    *error = "the header line names no RADIO_ID and CALLSIGN columns";
    return false;
  }
  std::vector<std::pair<uint32_t, uint32_t>> entries;
  std::string pool;
  while (std::getline(in, line)) {
    split_csv_line(line, &fields);
    if (fields.size() <= std::max(id_column, call_column)) continue;
    const std::string id_text = upper_trimmed(fields[id_column]);
    uint32_t id = 0;
    auto [end, ec] = std::from_chars(id_text.data(), id_text.data() + id_text.size(), id);
    if (ec != std::errc() || end != id_text.data() + id_text.size() || id == 0 || id > 0xFFFFFF) continue;
    const std::string call = upper_trimmed(fields[call_column]);
    if (!plausible_callsign(call)) continue;
    entries.emplace_back(id, static_cast<uint32_t>(pool.size()));
    pool += call;
    pool += '\0';
  }
  // Later rows win over earlier ones with the same id.
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  ids_.clear();
  offsets_.clear();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i + 1 < entries.size() && entries[i + 1].first == entries[i].first) continue;
    ids_.push_back(entries[i].first);
    offsets_.push_back(entries[i].second);
  }
  ids_.shrink_to_fit();
  offsets_.shrink_to_fit();
  pool_ = std::move(pool);
  pool_.shrink_to_fit();
  return true;
}

std::string_view CallsignTable::find(int64_t id) const {
  if (id <= 0 || id > 0xFFFFFF) return {};
  const auto it = std::lower_bound(ids_.begin(), ids_.end(), static_cast<uint32_t>(id));
  if (it == ids_.end() || *it != id) return {};
  return std::string_view(pool_.c_str() + offsets_[static_cast<size_t>(it - ids_.begin())]);
}

}  // namespace monitor
