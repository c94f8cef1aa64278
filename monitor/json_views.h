#pragma once
// The model as the HTTP side shows it: JSON for /api/status, /api/calls and
// /api/positions, the Prometheus text for /metrics, one event-stream entry
// per change. Times are Unix seconds.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge_model.h"
#include "callsign_table.h"

namespace monitor {

// `now`: the time running calls are measured against.
nlohmann::json status_json(const BridgeModel& m, const CallsignTable& calls, int64_t now);
nlohmann::json calls_json(const BridgeModel& m, const CallsignTable& calls, int64_t now);
nlohmann::json positions_json(const BridgeModel& m, const CallsignTable& calls);
nlohmann::json call_json(const CallRecord& c, const CallsignTable& calls, int64_t now);
std::string metrics_text(const BridgeModel& m);
// "id: N\ndata: {\"seq\": N, \"what\": ...}\n\n"
std::string event_text(const ChangeNote& n, const CallsignTable& calls);

// JSON text that only ever holds ASCII (the model's texts are ASCII already).
std::string dump(const nlohmann::json& j);

}  // namespace monitor
