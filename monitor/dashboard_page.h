#pragma once
// The dashboard page: one self-contained HTML document (no external
// scripts, fonts or tiles; the board may have no internet). The state at the
// time of the request is embedded, so the page shows it at once; the page
// then follows /api/events and fetches the API again after each change.
#include <string>

namespace monitor {

// `initial_json`: {"status": ..., "calls": ..., "positions": ...}.
std::string dashboard_page(const std::string& initial_json);

}  // namespace monitor
