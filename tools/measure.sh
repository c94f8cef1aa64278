#!/bin/bash
# Measures the daemon against the simulated peers on the private network of
# tools/netns.sh and prints the figures beside their targets: forwarding
# latency each way (median, 99th percentile), burst spacing after pacing,
# idle CPU share over 30 s while registered and logged in, and resident
# memory. Then network calls over three impaired links (DSL-, LTE- and
# Wi-Fi-like), each without the JitterBuffer key, with JitterBuffer=120 and
# with JitterBuffer=auto side by side: gaps over 80 ms on air, slots filled
# with silence, bursts that came too late, and the delay the bridge added.
# Idle CPU and memory are also taken of a daemon with JitterBuffer=auto.
# Then tools/measure_shapes.sh: calls shaped as real masters send them (a
# slow or fast clock, sequence jumps, talkers back to back, a stray burst, a
# stalled bridge) through the jitter buffer, as one table. Then
# tools/measure_timeslots.sh: both timeslots bridged with four streams at
# once (a call each way on each), latency, memory, and the jitter buffer's
# grid on both timeslots. Last, tools/measure_idle.sh: the idle daemon's
# wake-ups a second per thread, its CPU share and latency each way; with
# MEASURE_COMPARE=REF beside the daemon of git revision REF, in the same run.
# Reports; it does not fail on a missed target. Takes about 9 minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/measure_common.sh
netns_require "$@"

work="$(mktemp -d /tmp/moto_bridge_measure.XXXXXX)"
build_sim_programs "$work/build.log" moto_bridge_sim_report || exit 1
key=c0ffee00112233445566778899aabbccddeeff01
write_sim_config "$work/vexaqv.cfg" "$key"
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
main_bridge=$NETNS_BRIDGE
main_peer=$NETNS_PEER
# Three more private networks: for the calls over impaired links, and the
# first of them meanwhile for the idle figures with the jitter buffer on.
jb_bridge=()
jb_peer=()
for m in 0 1 2; do
  netns_up "mbj$m$$"
  jb_bridge+=("$NETNS_BRIDGE")
  jb_peer+=("$NETNS_PEER")
done
NETNS_BRIDGE=$main_bridge
NETNS_PEER=$main_peer
# The simulated master's own default seed is 2.
start_sim_run "$work" "$NETNS_PEER" "$NETNS_BRIDGE" "$key" 2 120
master_pid=$RUN_MASTER
repeater_pid=$RUN_REPEATER
daemon_pid=$RUN_DAEMON
# Beside it a daemon with JitterBuffer=auto that carries one network call
# over a jittery link before it idles with the other.
idle_jb="$work/idle-jitter-buffer"
mkdir -p "$idle_jb"
{
  cat "$work/vexaqv.cfg"
  echo "JitterBuffer=auto"
} >"$idle_jb/vexaqv.cfg"
printf 'wait registered 20\n' >"$idle_jb/repeater.script"
printf 'wait login 30\nsleep 2\ncall group 9 2620009 bursts=60 delay=uniform:0:40\n' >"$idle_jb/master.script"
start_sim_run "$idle_jb" "${jb_peer[0]}" "${jb_bridge[0]}" "$key" 2 120
idle_jb_master=$RUN_MASTER
idle_jb_repeater=$RUN_REPEATER
idle_jb_daemon=$RUN_DAEMON

# CPU ticks (user + system) of a process.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

echo "Calls each way and a bunched call; then 30 s idle while registered and logged in..."
wait_line "$work/master.jsonl" '"ev":"rdac_announcement".*"n":4,' 90 || true
sleep 1
daemon_start=$(ticks "$daemon_pid")
jb_start=$(ticks "$idle_jb_daemon")
sleep 30
daemon_end=$(ticks "$daemon_pid")
jb_end=$(ticks "$idle_jb_daemon")
rss_kib=$(proc_kib "$daemon_pid" VmRSS)
hwm_kib=$(proc_kib "$daemon_pid" VmHWM)
jb_rss_kib=$(proc_kib "$idle_jb_daemon" VmRSS)
jb_hwm_kib=$(proc_kib "$idle_jb_daemon" VmHWM)
jb_calls=$(grep -c " Jitter buffer [0-9]* end:" "$idle_jb/daemon.log" || true)
logged_in=$(grep -c '"ev":"a_rx"' "$work/master.jsonl" || true)

wait_master "$master_pid" 10 || true
netns_stop_pid "$master_pid"
netns_stop_pid "$repeater_pid"
netns_stop_pid "$daemon_pid"
netns_stop_pid "$idle_jb_master"
netns_stop_pid "$idle_jb_repeater"
netns_stop_pid "$idle_jb_daemon"

hz=$(getconf CLK_TCK)
echo
echo "== Measured =="
"$bin/moto_bridge_sim_report" --repeater "$work/repeater.jsonl" --master "$work/master.jsonl" --positions 0 |
  grep -v "^RESULT" || true
awk -v d=$((daemon_end - daemon_start)) -v hz="$hz" 'BEGIN {
  printf "Idle CPU (30 s)   : daemon %.2f%% of one core (target <= 0.1%%; clock ticks, see the idle table below)\n",
    100 * d / (hz * 30) }'
awk -v d=$((jb_end - jb_start)) -v hz="$hz" -v calls="$jb_calls" 'BEGIN {
  printf "                    JitterBuffer=auto, idle after %d network call(s): %.2f%% of one core\n", calls,
    100 * d / (hz * 30) }'
echo "Resident memory   : ${rss_kib} KiB now, ${hwm_kib} KiB peak (target <= 4096 KiB); with JitterBuffer=auto" \
  "${jb_rss_kib} KiB now, ${jb_hwm_kib} KiB peak"
echo "Network login     : ${logged_in} \"A\" datagrams echoed during the run"

# ---- Network calls over impaired links, through the jitter buffer or not.
# Each link profile runs the three settings at once, each on its own private
# network with a daemon of its own, so auto learns only that link. The
# master plays two calls of 200 bursts (12 s) over the same seeded link:
# the first teaches auto the link, the second is measured.
profiles=("DSL-like" "LTE-like" "Wi-Fi-like")
links=("delay=normal:8:3 loss=0.5%"
  "delay=normal:30:8 late=3%:100 loss=1% reorder=1%"
  "delay=uniform:0:30 loss=1.5% loss_run=3")
modes=("" "120" "auto")
mode_names=("no key" "JitterBuffer=120" "JitterBuffer=auto")

jitter_start() {  # profile mode
  local p=$1 m=$2 dir="$work/link$1-mode$2"
  mkdir -p "$dir"
  sed '/^JitterBuffer=/d' "$work/vexaqv.cfg" >"$dir/vexaqv.cfg"
  [ -z "${modes[$m]}" ] || echo "JitterBuffer=${modes[$m]}" >>"$dir/vexaqv.cfg"
  printf 'wait registered 20\n' >"$dir/repeater.script"
  cat >"$dir/master.script" <<SCRIPT
wait login 30
sleep 1
link ${links[$p]}
call group 9 2620011 bursts=200
sleep 1.5
call group 9 2620012 bursts=200
sleep 1.5
quit
SCRIPT
  start_sim_run "$dir" "${jb_peer[$m]}" "${jb_bridge[$m]}" "$key" $((11 + p)) 80
  jb_master[$m]=$RUN_MASTER
  jb_repeater[$m]=$RUN_REPEATER
  jb_daemon[$m]=$RUN_DAEMON
}

table="$work/jitter-table.txt"
{
  echo "Network calls of 200 bursts (12 s) over impaired links, measured on air at the repeater:"
  printf '%-11s %-18s %9s %7s %5s %8s %12s %12s %6s %9s\n' link setting "gaps>80ms" filled late missing \
    "p99|gap-60|" "added delay" lead "lead 99%"
} >"$table"
notes=()
echo
echo "Network calls over impaired links: ${profiles[*]}, each without the key, with 120 ms and auto (about 2 min)..."
for p in 0 1 2; do
  for m in 0 1 2; do jitter_start "$p" "$m"; done
  wait_master "${jb_master[@]}" 80 || true
  for m in 0 1 2; do
    netns_stop_pid "${jb_master[$m]}"
    netns_stop_pid "${jb_repeater[$m]}"
    netns_stop_pid "${jb_daemon[$m]}"
    dir="$work/link$p-mode$m"
    f=$("$bin/moto_bridge_sim_report" --repeater "$dir/repeater.jsonl" --master "$dir/master.jsonl" \
      --grid-figures 2 || true)
    lead=-
    if [ -n "${modes[$m]}" ]; then
      lead=$(sed -n 's/.* Jitter buffer 2 start: lead \([0-9]*\) ms.*/\1/p' "$dir/daemon.log" | head -1)
      lead=${lead:-?}
    fi
    printf '%-11s %-18s %9s %7s %5s %8s %9s ms %9s ms %6s %6s ms\n' "${profiles[$p]}" "${mode_names[$m]}" \
      "$(figure gaps_over_80 "$f")" "$(figure filled "$f")" "$(figure late "$f")" "$(figure missing "$f")" \
      "$(figure p99_jitter "$f")" "$(figure added_median "$f")" "$lead" "$(figure lead_for_99 "$f")" >>"$table"
    bursts=$(figure bursts "$f")
    stall=$(figure sender_stall "$f")
    if awk -v s="${stall:-0}" 'BEGIN { exit !(s > 5) }'; then
      notes+=("${profiles[$p]}, ${mode_names[$m]}: the machine held the simulated master up to $stall ms; figures blurred")
    fi
    if [ "$m" -eq 1 ]; then
      notes+=("$(awk -v name="${profiles[$p]}" -v gaps="$(figure gaps_over_80 "$f")" \
        -v jit="$(figure p99_jitter "$f")" -v worst="$(figure max_lateness "$f")" 'BEGIN {
        inside = worst < 120 ? "every burst inside the lead" : "not every burst inside the lead";
        ok = gaps == 0 && jit <= 2 ? "met" : "missed";
        printf "%s, 120 ms (%s, latest %.1f ms): %d gaps over 80 ms, p99 |gap-60| %.1f ms: target %s", name, inside,
          worst, gaps, jit, ok }')")
    elif [ "$m" -eq 2 ]; then
      notes+=("$(awk -v name="${profiles[$p]}" -v late="$(figure late "$f")" -v bursts="${bursts:-0}" \
        -v lead="$lead" -v need="$(figure lead_for_99 "$f")" 'BEGIN {
        share = bursts > 0 ? 100 * late / bursts : 0; limit = 1.25 * (need < 20 ? 20 : need);
        ok = share <= 1 && lead ~ /^[0-9]+$/ && lead + 0 <= limit ? "met" : "missed";
        printf "%s, auto: lead %s ms (at most %.1f), %.1f%% of bursts late (at most 1%%): target %s", name, lead,
          limit, share, ok }')")
    fi
  done
done
echo
echo "== Network calls over impaired links =="
cat "$table"
echo "Links: ${profiles[0]} ${links[0]}; ${profiles[1]} ${links[1]}; ${profiles[2]} ${links[2]} (milliseconds)."
echo "late: bursts that reached the bridge after their slot had left; lead 99%: the smallest fixed lead that holds"
echo "99% of this link's bursts. Targets: a fixed lead with every burst inside it has no gap over 80 ms on air and"
echo "p99 |gap-60 ms| <= 2 ms; auto has at most 1% of bursts late, with a lead of at most 1.25 x lead 99%."
for n in "${notes[@]}"; do echo "  $n"; done
echo "Files: $work"

# Everything of this run has stopped: its namespaces go before the other
# scripts run. In rootless mode each of them mounts a new /run of its own
# over this one, which would hide these namespaces from the removal at exit.
netns_down
echo
bash tools/measure_shapes.sh
echo
bash tools/measure_timeslots.sh
echo
bash tools/measure_idle.sh ${MEASURE_COMPARE:+--compare "$MEASURE_COMPARE"}
