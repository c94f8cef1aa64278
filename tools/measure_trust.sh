#!/bin/bash
# Measures what a flood of forged datagrams costs the real traffic: the same
# two 5-second calls (one each way) cross the daemon twice, once on a quiet
# network and once while a third host (192.0.2.3..5) floods all four ports
# for 5 seconds: IPSC voice under a wrong key on the repeater port, network
# voice on 62006, RDAC answers on 62007 and random datagrams on the service
# port 62005, none of them from the network master. Prints the forwarding
# latency each way (median, 99th percentile) for both runs, how many forged
# datagrams were sent, and how many log lines the drops added. Reports; it
# does not fail on a missed figure. Takes about a minute.
#
# The programs are built in build/demo (tools/sim_build.sh); MB_BIN=DIR
# takes them from a build folder of your own instead.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/measure_common.sh
netns_require "$@"

work="$(mktemp -d /tmp/moto_bridge_trust.XXXXXX)"
if [ -n "${MB_BIN:-}" ]; then
  bin="$(cd "$MB_BIN" && pwd)"
else
  build_sim_programs "$work/build.log" moto_bridge_sim_report moto_bridge_sim_intruder || exit 1
fi
for program in moto_bridge moto_bridge_sim_repeater moto_bridge_sim_master moto_bridge_sim_report \
  moto_bridge_sim_intruder; do
  [ -x "$bin/$program" ] || { echo "missing $bin/$program" >&2; exit 1; }
done
key=c0ffee00112233445566778899aabbccddeeff01
wrong_key=d0ffee00112233445566778899aabbccddeeff01

# third_host_up PREFIX: adds PREFIX_x with 192.0.2.3..5 on the segment of the
# peers' namespace (tools/netns.sh).
third_host_up() {
  local prefix="$1"
  NETNS_THIRD="${prefix}_x"
  NETNS_NAMES+=("$NETNS_THIRD")
  netns_third_host "$NETNS_PEER" "$NETNS_THIRD" "${prefix:0:10}vp" "${prefix:0:10}br" "${prefix:0:10}vq" \
    "${prefix:0:10}vx" 3
}

# run_once MODE (quiet or flood): one run in a folder of its own.
run_once() {
  local mode="$1" dir="$work/$1"
  mkdir -p "$dir"
  write_sim_config "$dir/vexaqv.cfg" "$key"
  # 84 bursts of 60 ms: a 5-second call each way, both starting about 3 s
  # after the login.
  printf 'wait registered 20\nwait keepalive 15\nsleep 3\ncall group 9 2620001 bursts=84\nsleep 8\n' \
    >"$dir/repeater.script"
  printf 'wait login 30\nsleep 3\ncall group 9 2620002 bursts=84\nsleep 6\nquit\n' >"$dir/master.script"
  netns_up "mbt${mode:0:1}$$"
  third_host_up "mbt${mode:0:1}$$"
  # The simulated master's own default seed is 2.
  start_sim_run "$dir" "$NETNS_PEER" "$NETNS_BRIDGE" "$key" 2 60
  local master_pid=$RUN_MASTER
  wait_line "$dir/daemon.log" "Sende Anmeldung" 40 || true
  if [ "$mode" = flood ]; then
    sleep 2.5
    local from=192.0.2.3,192.0.2.4,192.0.2.5 common=(--count 1000000 --max-seconds 5 --listen-ms 0)
    netns_start "$NETNS_THIRD" "$dir/flood_ipsc.log" "$bin/moto_bridge_sim_intruder" --to 192.0.2.1:50000 \
      --from "$from" --kind ipsc_call --key "$wrong_key" --src 2629999 --rate 3000 "${common[@]}"
    netns_start "$NETNS_THIRD" "$dir/flood_voice.log" "$bin/moto_bridge_sim_intruder" --to 192.0.2.1:62006 \
      --from "$from" --kind hytera_call --src 2629998 --rate 3000 "${common[@]}"
    netns_start "$NETNS_THIRD" "$dir/flood_rdac.log" "$bin/moto_bridge_sim_intruder" --to 192.0.2.1:62007 \
      --from "$from" --kind rdac_answer --rate 1000 "${common[@]}"
    netns_start "$NETNS_THIRD" "$dir/flood_service.log" "$bin/moto_bridge_sim_intruder" --to 192.0.2.1:62005 \
      --from "$from" --kind junk --rate 1000 "${common[@]}"
  fi
  wait_master "$master_pid" 60 || true
  netns_down
  echo "== $mode =="
  "$bin/moto_bridge_sim_report" --repeater "$dir/repeater.jsonl" --master "$dir/master.jsonl" --positions 0 \
    --rdac 0 | grep -E "^(Latency|Motorola|Hytera|M->H|H->M)" || true
  if [ "$mode" = flood ]; then
    local sent
    sent=$(cat "$dir"/flood_*.log | sed -n 's/^sent=\([0-9]*\) received=\([0-9]*\)$/\1 \2/p' |
      awk '{ s += $1; r += $2 } END { printf "%d forged datagrams sent in 5 s, %d answered", s, r }')
    echo "Flood             : $sent"
  fi
  echo "Drop lines in log : $(grep -c " Dropped " "$dir/daemon.log" || true)"
  grep " Dropped " "$dir/daemon.log" | sed 's/^/                    /' || true
}

run_once quiet
run_once flood
echo "Run files: $work"
