#pragma once
// DMR ids and call signs from a CSV export of the public DMR user database:
// a header line naming RADIO_ID and CALLSIGN columns among others, fields
// possibly quoted, the file possibly starting with a byte-order mark. The
// whole database holds a quarter of a million users, so entries are kept
// packed: sorted ids beside offsets into one text pool.
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace monitor {

class CallsignTable {
 public:
  // Reads the CSV; false (with `error` set) when the header lacks a column.
  // Rows whose id or call sign does not read are skipped.
  bool load(std::istream& in, std::string* error);

  // The call sign of `id`, or empty.
  std::string_view find(int64_t id) const;
  size_t size() const { return ids_.size(); }

 private:
  std::vector<uint32_t> ids_;
  std::vector<uint32_t> offsets_;
  std::string pool_;
};

// Splits one CSV line into fields (quotes and doubled quotes undone).
void split_csv_line(std::string_view line, std::vector<std::string>* fields);

}  // namespace monitor
