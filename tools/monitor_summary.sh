#!/bin/bash
# Puts a daemon console log through moto_bridge_monitor and prints what the
# dashboard shows: link states, the calls (direction, ids, duration, how
# they ended) and the position reports; then the command that leaves the
# dashboard running on that log, and its address. Bounded in time; stops
# the monitor it started. Exits 0, or non-zero when the monitor failed.
#
#   bash tools/monitor_summary.sh DAEMON_LOG [PORT]     (default port 8073)
#
# The monitor is taken from $MONITOR_BINARY, else the first of
# build/demo, build/monitor and build/gcc that has it, else the PATH.
set -uo pipefail
cd "$(dirname "$0")/.."
log="${1:-}"
port="${2:-8073}"
if [ -z "$log" ] || [ ! -r "$log" ]; then
  echo "usage: bash tools/monitor_summary.sh DAEMON_LOG [PORT]" >&2
  exit 2
fi
monitor="${MONITOR_BINARY:-}"
if [ -z "$monitor" ]; then
  for dir in build/demo build/monitor build/gcc; do
    if [ -x "$dir/moto_bridge_monitor" ]; then
      monitor="$dir/moto_bridge_monitor"
      break
    fi
  done
fi
[ -n "$monitor" ] || monitor="$(command -v moto_bridge_monitor || true)"
if [ -z "$monitor" ]; then
  echo "Monitor FAILED: moto_bridge_monitor is not built (cmake --build <dir> --target moto_bridge_monitor)."
  exit 1
fi
# Absolute paths, so that the printed command works from anywhere.
monitor="$(cd "$(dirname "$monitor")" && pwd)/$(basename "$monitor")"
log="$(cd "$(dirname "$log")" && pwd)/$(basename "$log")"
for tool in curl python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "Monitor FAILED: $tool is needed for the summary."
    exit 1
  fi
done

out="$(mktemp /tmp/monitor_summary.XXXXXX)"
"$monitor" --stdin --listen "127.0.0.1:$port" <"$log" >"$out" 2>&1 &
pid=$!
cleanup() {
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -f "$out"
}
trap cleanup EXIT

url="http://127.0.0.1:$port"
# Waits at most 10 s for the monitor to answer and to have read the log.
ready=0
for _ in $(seq 100); do
  if ! kill -0 "$pid" 2>/dev/null; then break; fi
  if grep -q "End of standard input" "$out" && curl -fsS --max-time 2 "$url/api/status" >/dev/null 2>&1; then
    ready=1
    break
  fi
  sleep 0.1
done
if [ "$ready" -ne 1 ]; then
  echo "Monitor FAILED: it did not answer on $url within 10 s."
  sed 's/^/  /' "$out"
  exit 1
fi

status="$(curl -fsS --max-time 5 "$url/api/status")" &&
  calls="$(curl -fsS --max-time 5 "$url/api/calls")" &&
  positions="$(curl -fsS --max-time 5 "$url/api/positions")" || {
  echo "Monitor FAILED: the API did not answer."
  exit 1
}
if ! STATUS="$status" CALLS="$calls" POSITIONS="$positions" python3 - <<'PY'; then
import json, os, time
s = json.loads(os.environ["STATUS"])
calls = json.loads(os.environ["CALLS"])
positions = json.loads(os.environ["POSITIONS"])
def when(t):
    return time.strftime("%H:%M:%S", time.localtime(t)) if t else "-"
r, m, c = s["repeater"], s["master"], s["counters"]
print("  Repeater: %s since %s" % ("registered" if r["registered"] else "NOT registered", when(r["since"])))
print("  Network master: %s, %d login(s), last %s, %d RDAC announcement(s)" % (
    "logged in" if m["logged_in"] else "NOT logged in", m["logins"], when(m["last_login"]), m["rdac"]["announcements"]))
# Both timeslots: the counters without a slot are timeslot 2's.
slots = c["by_slot"]
def both(key):
    return slots["1"][key] + slots["2"][key]
print("  Calls: %d repeater -> network, %d network -> repeater (timeslot 1: %d and %d)" % (
    both("calls_rf_to_net"), both("calls_net_to_rf"), slots["1"]["calls_rf_to_net"], slots["1"]["calls_net_to_rf"]))
names = {"rf_to_net": "repeater -> network", "net_to_rf": "network -> repeater"}
for call in reversed(calls):
    ended = call["ended_by"] or "still on air"
    errors = ""
    if call["bursts_with_errors"]:
        errors = ", BER max %.1f %% in %d burst(s)" % (call["ber_max"], call["bursts_with_errors"])
    print("    %s TS%d %-19s %8d -> %-8d %3d s, %s%s" % (when(call["start"]), call["slot"], names[call["direction"]],
                                                       call["source"], call["destination"], call["duration"], ended,
                                                       errors))
print("  Position reports: %d" % both("positions"))
for p in reversed(positions):
    deg = ""
    if p["latitude"] is not None and p["longitude"] is not None:
        deg = " (%.5f, %.5f)" % (p["latitude"], p["longitude"])
    print("    %s TS%d from %d: LAT %s LONG %s SPEED %s%s" % (when(p["time"]), p["slot"], p["source"], p["lat_text"],
                                                           p["lon_text"], p["speed_text"], deg))
PY
  echo "Monitor FAILED: its answers did not read."
  exit 1
fi
echo "  Dashboard of this log: $monitor --stdin --listen 127.0.0.1:$port < $log"
echo "  then open $url/ (JSON: $url/api/status, /api/calls, /api/positions; metrics: $url/metrics)"
exit 0
