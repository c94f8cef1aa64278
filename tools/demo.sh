#!/bin/bash
# One-command demonstration: builds the bridge and its two simulated peers,
# runs them on a private two-host network (network namespaces, addresses
# 192.0.2.1 and 192.0.2.2 only), shows the daemon's console log as it runs,
# and ends with a summary of what crossed the bridge. The bridge carries
# both timeslots (Timeslots=1,2). The network's first call crosses an
# impaired link (random delay up to 80 ms, lost bursts) and leaves through
# the bridge's 120 ms jitter buffer. Then four calls run at once: one each
# way on timeslot 1 beside one each way on timeslot 2. Exits 0 only when
# registration, login, RDAC announcements, calls each way on each timeslot
# with every frame intact (lost bursts filled with silence), a call each way
# on timeslot 1 overlapping one on timeslot 2, the impaired call on a clean
# 60 ms grid on air, and a position report on timeslot 1 all happened;
# otherwise non-zero with the reasons.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
ensure_packages g++ cmake make libssl-dev iproute2 util-linux libsystemd-dev libcpp-httplib-dev nlohmann-json3-dev
. tools/netns.sh
. tools/sim_build.sh
netns_require "$@"

work="$(mktemp -d /tmp/moto_bridge_demo.XXXXXX)"
if ! build_sim_programs "$work/build.log" moto_bridge_sim_report moto_bridge_monitor; then
  echo "Demo FAILED: the build failed."
  exit 1
fi

call_sign=DB0SIM
repeater_id=262999
bridge_id=262998
tx_hz=439500000
rx_hz=431900000
key=c0ffee00112233445566778899aabbccddeeff01
cat >"$work/vexaqv.cfg" <<CFG
RptrCall=$call_sign
RptrID=$repeater_id
RptrIP=192.0.2.2
RptrPort=50000
MasterIP=192.0.2.2
RptrQRGtx=$tx_hz
RptrQRGrx=$rx_hz
MyBridgeID=$bridge_id
NetworkKey=$key
JitterBuffer=120
Timeslots=1,2
CFG

# The repeater: a group call on timeslot 2 once the bridge keeps its
# registration alive; once the network's two calls have come through, a call
# on each timeslot at once (hold=0: the next line starts alongside); then a
# position report on timeslot 1.
cat >"$work/repeater.script" <<'SCRIPT'
wait registered 20
wait keepalive 15
sleep 2
call group 9 2620001 bursts=24
wait moto_call 30 count=2
sleep 1
call group 91 2620003 slot=1 bursts=40 hold=0
call group 9 2620004 slot=2 bursts=40
wait moto_call 30 count=4
sleep 1
position 2620003 5057 mode=4 slot=1
SCRIPT
# The network master: a call back once the repeater's call has arrived, over
# a link that delays each burst by up to 80 ms and loses some, then one whose
# bursts come in bunches of six; as soon as the repeater's two calls have
# begun, a call on each timeslot at once, so four calls cross together; it
# ends the run after the fourth RDAC announcement.
cat >"$work/master.script" <<'SCRIPT'
wait login 30
wait hyt_call 30
sleep 1
call group 9 2620002 bursts=40 delay=uniform:0:80 loss=5%
sleep 1
call group 9 2620002 bursts=12 bunch=6
wait hyt_start 30 count=3
call group 92 2620005 slot=1 bursts=30 hold=0
call group 9 2620006 slot=2 bursts=30
wait rdac 40 count=4
sleep 1
quit
SCRIPT

netns_up "mbdemo$$"
echo "Private network: bridge $NETNS_BRIDGE 192.0.2.1 <-> peers $NETNS_PEER 192.0.2.2; files in $work"
netns_start "$NETNS_PEER" "$work/master.log" "$bin/moto_bridge_sim_master" --bind 192.0.2.2 \
  --json "$work/master.jsonl" --script "$work/master.script" --duration 90
master_pid=$NETNS_LAST_PID
netns_start "$NETNS_PEER" "$work/repeater.log" "$bin/moto_bridge_sim_repeater" --bind 192.0.2.2 --port 50000 \
  --key "$key" --peers 2 --json "$work/repeater.jsonl" --script "$work/repeater.script" --duration 90
repeater_pid=$NETNS_LAST_PID
sleep 0.3
(cd "$work" && exec ip netns exec "$NETNS_BRIDGE" "$bin/moto_bridge") >"$work/daemon.log" 2>&1 &
daemon_pid=$!
NETNS_PIDS+=("$daemon_pid")
echo "== Daemon console log =="
tail -n +1 -f "$work/daemon.log" &
NETNS_PIDS+=("$!")
tail_pid=$!

# The master ends the run by itself; 75 s is the most it may take.
for _ in $(seq 750); do
  kill -0 "$master_pid" 2>/dev/null || break
  sleep 0.1
done
sleep 0.5
daemon_alive=1
kill -0 "$daemon_pid" 2>/dev/null || daemon_alive=0
netns_stop_pid "$master_pid"
netns_stop_pid "$repeater_pid"
netns_stop_pid "$daemon_pid"
netns_stop_pid "$tail_pid"

echo
echo "== What the simulated peers saw =="
grep -h "summary:" "$work/repeater.log" "$work/master.log" | sed 's/^\[[^]]*\] summary: /  /'
failed=0
if [ "$daemon_alive" -ne 1 ]; then
  echo "MISSING: the daemon stopped during the run"
  failed=1
fi
for line in "Sende Anmeldung an DMR Master" "Local_Repeater_rdac 0" "Moto RX+ slot:2" "Moto RX+ slot:1" \
  "Moto RX- ID:2620001" "Moto RX- ID:2620003 slot:1" "PTT ON 1" "PTT OFF 1" "PTT ON 1 slot:1" "PTT OFF 1 slot:1" \
  "Jitter buffer 1 end:" "RX SLOT=1 DST_ID=92" "Decoded GPS"; do
  if ! grep -qF "$line" "$work/daemon.log"; then
    echo "MISSING: the daemon never logged \"$line\""
    failed=1
  fi
done
echo
echo "== Summary =="
if ! "$bin/moto_bridge_sim_report" --repeater "$work/repeater.jsonl" --master "$work/master.jsonl" \
  --call-sign "$call_sign" --repeater-id "$repeater_id" --bridge-id "$bridge_id" --tx "$tx_hz" --rx "$rx_hz" \
  --clean-grid --both-slots; then
  failed=1
fi
echo
echo "== The operator's dashboard on this run's log =="
# What moto_bridge_monitor makes of the daemon's log; a loopback port of
# its own, so an operator's monitor on the default port is left alone.
if ! MONITOR_BINARY="$bin/moto_bridge_monitor" bash tools/monitor_summary.sh "$work/daemon.log" 18073; then
  echo "(the dashboard summary could not be shown; the demo's result does not depend on it)"
fi
echo "Logs: $work (daemon.log, repeater.log, master.log and their .jsonl records)"
if [ "$failed" -ne 0 ]; then
  echo "Demo FAILED: see the lines marked MISSING above."
  exit 1
fi
echo "Demo passed."
