#!/bin/bash
# Measures the daemon against the simulated peers on the private network of
# tools/netns.sh and prints the figures beside their targets: forwarding
# latency each way (median, 99th percentile), burst spacing after pacing,
# idle CPU share over 30 s while registered and logged in (beside a bare
# program that only sleeps and polls as the daemon's loops do), and resident
# memory. Reports; it does not fail on a missed target. Takes about 75 s.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
ensure_packages g++ cmake make libssl-dev iproute2 util-linux
. tools/netns.sh
. tools/sim_build.sh
netns_require "$@"

work="$(mktemp -d /tmp/moto_bridge_measure.XXXXXX)"
build_sim_programs "$work/build.log" moto_bridge_sim_report moto_bridge_idle_baseline || exit 1
key=c0ffee00112233445566778899aabbccddeeff01
cat >"$work/vexaqv.cfg" <<CFG
RptrCall=DB0SIM
RptrID=262999
RptrIP=192.0.2.2
RptrPort=50000
MasterIP=192.0.2.2
RptrQRGtx=439500000
RptrQRGrx=431900000
MyBridgeID=262998
NetworkKey=$key
CFG
cat >"$work/repeater.script" <<'SCRIPT'
wait registered 20
wait keepalive 15
sleep 1
call group 9 2620001 bursts=150
SCRIPT
cat >"$work/master.script" <<'SCRIPT'
wait login 30
sleep 11
call group 9 2620002 bursts=150
sleep 1
call group 9 2620003 bursts=60 bunch=6
wait rdac 40 count=4
sleep 33
quit
SCRIPT

netns_up "mbmeas$$"
netns_start "$NETNS_PEER" "$work/master.log" "$bin/moto_bridge_sim_master" --json "$work/master.jsonl" \
  --script "$work/master.script" --duration 120
master_pid=$NETNS_LAST_PID
netns_start "$NETNS_PEER" "$work/repeater.log" "$bin/moto_bridge_sim_repeater" --key "$key" \
  --json "$work/repeater.jsonl" --script "$work/repeater.script" --duration 120
repeater_pid=$NETNS_LAST_PID
sleep 0.3
(cd "$work" && exec ip netns exec "$NETNS_BRIDGE" "$bin/moto_bridge") >"$work/daemon.log" 2>&1 &
daemon_pid=$!
NETNS_PIDS+=("$daemon_pid")

# CPU ticks (user + system) of a process.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

echo "Calls each way and a bunched call; then 30 s idle while registered and logged in..."
for _ in $(seq 900); do
  grep -q '"ev":"rdac_announcement".*"n":4,' "$work/master.jsonl" 2>/dev/null && break
  sleep 0.1
done
sleep 1
netns_start "$NETNS_BRIDGE" "$work/baseline.log" "$bin/moto_bridge_idle_baseline" 40
baseline_pid=$NETNS_LAST_PID
sleep 0.2
daemon_start=$(ticks "$daemon_pid")
baseline_start=$(ticks "$baseline_pid")
sleep 30
daemon_end=$(ticks "$daemon_pid")
baseline_end=$(ticks "$baseline_pid")
rss_kib=$(awk '/^VmRSS/ {print $2}' "/proc/$daemon_pid/status")
hwm_kib=$(awk '/^VmHWM/ {print $2}' "/proc/$daemon_pid/status")
logged_in=$(grep -c '"ev":"a_rx"' "$work/master.jsonl" || true)

for _ in $(seq 100); do
  kill -0 "$master_pid" 2>/dev/null || break
  sleep 0.1
done
netns_stop_pid "$master_pid"
netns_stop_pid "$repeater_pid"
netns_stop_pid "$daemon_pid"
netns_stop_pid "$baseline_pid"

hz=$(getconf CLK_TCK)
echo
echo "== Measured =="
"$bin/moto_bridge_sim_report" --repeater "$work/repeater.jsonl" --master "$work/master.jsonl" --positions 0 |
  grep -v "^RESULT" || true
awk -v d=$((daemon_end - daemon_start)) -v b=$((baseline_end - baseline_start)) -v hz="$hz" 'BEGIN {
  dp = 100 * d / (hz * 30); bp = 100 * b / (hz * 30);
  printf "Idle CPU (30 s)   : daemon %.2f%% of one core, bare polling loops %.2f%% (target: daemon <= 1.1 x loops = %.2f%%)\n", dp, bp, 1.1 * bp }'
echo "Resident memory   : ${rss_kib} KiB now, ${hwm_kib} KiB peak (target <= 4096 KiB)"
echo "Network login     : ${logged_in} \"A\" datagrams echoed during the run"
echo "Files: $work"
