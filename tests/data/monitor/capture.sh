#!/bin/bash
# Captures the daemon's console log and the simulated peers' records of two
# runs, for the monitor's tests: "demo" (the demonstration's calls and
# position report) and "rich" (private calls, bit errors, a transmit
# time-out, a repeater restart, peer requests, RDAC answers and random
# datagrams). Run as root from the source tree after building the daemon and
# the simulated peers into BUILD (default build/monitor). Private network
# only (192.0.2.0/24 in namespaces made and removed here). A second argument
# (demo or rich) captures that run only.
set -euo pipefail
cd "$(dirname "$0")/../../.."
build="${1:-build/monitor}"
bin="$(pwd)/$build"
out="$(pwd)/tests/data/monitor"
. tools/netns.sh
netns_require "$@"

run() {
  local name="$1" repeater_script="$2" master_script="$3" key="$4" extra="$5" limit="$6"
  shift 6
  local work
  work="$(mktemp -d /tmp/monitor_capture.XXXXXX)"
  printf 'RptrCall=DB0SIM\nRptrID=262999\nRptrIP=192.0.2.2\nRptrPort=50000\nMasterIP=192.0.2.2\nRptrQRGtx=439500000\nRptrQRGrx=431900000\nMyBridgeID=262998\nNetworkKey=%s\n%s' \
    "$key" "$extra" >"$work/vexaqv.cfg"
  printf '%s\n' "$repeater_script" >"$work/repeater.script"
  printf '%s\n' "$master_script" >"$work/master.script"
  netns_up "mbcap$$${name:0:1}"
  netns_start "$NETNS_PEER" "$work/master.log" "$bin/moto_bridge_sim_master" --bind 192.0.2.2 \
    --json "$work/master.jsonl" --script "$work/master.script" --duration "$limit" "$@"
  local master_pid=$NETNS_LAST_PID
  netns_start "$NETNS_PEER" "$work/repeater.log" "$bin/moto_bridge_sim_repeater" --bind 192.0.2.2 --port 50000 \
    --key "$key" --peers 2 --json "$work/repeater.jsonl" --script "$work/repeater.script" --duration "$limit"
  local repeater_pid=$NETNS_LAST_PID
  sleep 0.3
  (cd "$work" && exec ip netns exec "$NETNS_BRIDGE" "$bin/moto_bridge") >"$work/daemon.log" 2>&1 &
  NETNS_PIDS+=("$!")
  local daemon_pid=$!
  for _ in $(seq $((limit * 10))); do
    kill -0 "$master_pid" 2>/dev/null || break
    sleep 0.1
  done
  sleep 0.5
  netns_stop_pid "$master_pid"
  netns_stop_pid "$repeater_pid"
  netns_stop_pid "$daemon_pid"
  netns_down
  cp "$work/daemon.log" "$out/$name-daemon.log"
  cp "$work/repeater.jsonl" "$out/$name-repeater.jsonl"
  cp "$work/master.jsonl" "$out/$name-master.jsonl"
  rm -rf "$work"
  echo "$name: $(wc -c <"$out/$name-daemon.log") bytes of daemon log"
}

only="${2:-}"
[ -z "$only" ] || [ "$only" = demo ] && run demo 'wait registered 20
wait keepalive 15
sleep 2
call group 9 2620001 bursts=24
wait moto_call 30
sleep 1
position 2620001 5057 mode=4' 'wait login 30
wait hyt_call 30
sleep 1
call group 9 2620002 bursts=24
sleep 1
call group 9 2620002 bursts=12 bunch=6
wait rdac 40 count=4
sleep 1
quit' c0ffee00112233445566778899aabbccddeeff01 '' 90

[ -z "$only" ] || [ "$only" = rich ] && run rich 'wait registered 20
wait keepalive 15
sleep 1
call private 2620100 2620001 bursts=12
peer_request 0x94 262777
peer_request 0x98 262777
sleep 16
position 2620001 5057 mode=1
sleep 1
fuzz 1 count=40
sleep 1
restart 26
sleep 28
wait keepalive 20
call group 9 2620007 bursts=6' 'wait login 30
wait hyt_call 30
sleep 0.5
call private 2620001 2620002 bursts=12
sleep 1
call group 9 2620004 bursts=12 errors=11 uncorrectable=2
sleep 1
call group 9 2620005 bursts=6 end=0
sleep 9
call group 9 2620006 bursts=6 headers=0
wait rdac 60 count=3
sleep 45
fuzz 1 count=40
sleep 3
quit' 5a5b5c5d5e5f60616263646566676869707172ab $'JitterBuffer=auto\n' 110 --rdac-answers 25,24
exit 0
