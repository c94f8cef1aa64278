#!/bin/bash
# Measures the daemon with both timeslots bridged (Timeslots=1,2) and four
# streams at once: a call each way on each timeslot, all four together.
# First alone on the machine: forwarding latency each way, in all and per
# timeslot, and resident memory after the calls, beside the targets of one
# stream each way. Then, one after the other, with the jitter buffer
# (JitterBuffer=120 and JitterBuffer=auto) while the network's two calls
# cross a jittery, lossy link: the grid on air of each timeslot's call (gaps
# over 80 ms, p99 |gap-60 ms|, filled and late slots), each run alone so the
# grid is the daemon's and not the machine's. Each daemon on a private
# network of tools/netns.sh of its own. Reports; it does not fail on a missed
# target. Takes about 2 minutes; tools/measure.sh runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/measure_common.sh
netns_require "$@"

work="$(mktemp -d /tmp/moto_bridge_timeslots.XXXXXX)"
build_sim_programs "$work/build.log" moto_bridge_sim_report || exit 1
key=c0ffee00112233445566778899aabbccddeeff01
# Every burst of the jittery link stays inside a lead of 120 ms.
link="delay=uniform:0:80 loss=2%"

# four_streams DIR ROUNDS BURSTS [LINK] [SETTING]: the scripts of a run in
# which the repeater starts a call on each timeslot together and the master
# answers with one on each as soon as they have begun, ROUNDS times.
four_streams() {
  local dir="$1" rounds="$2" bursts="$3" link_words="${4:-}" setting="${5:-}" n
  mkdir -p "$dir"
  write_sim_config "$dir/vexaqv.cfg" "$key" "Timeslots=1,2" ${setting:+"JitterBuffer=$setting"}
  {
    printf 'wait registered 20\nwait keepalive 15\nsleep 1\n'
    for n in $(seq "$rounds"); do
      printf 'call group 91 %d slot=1 bursts=%d hold=0\n' $((2620100 + n)) "$bursts"
      printf 'call group 9 %d slot=2 bursts=%d\n' $((2620200 + n)) "$bursts"
      printf 'wait moto_call 60 count=%d\nsleep 1.5\n' $((2 * n))
    done
  } >"$dir/repeater.script"
  {
    printf 'wait login 30\n'
    for n in $(seq "$rounds"); do
      printf 'wait hyt_start 60 count=%d\n' $((2 * n))
      printf 'call group 92 %d slot=1 bursts=%d hold=0 %s\n' $((2620300 + n)) "$bursts" "$link_words"
      printf 'call group 9 %d slot=2 bursts=%d %s\n' $((2620400 + n)) "$bursts" "$link_words"
      printf 'wait hyt_call 60 count=%d\n' $((2 * n))
    done
    printf 'sleep 2\nquit\n'
  } >"$dir/master.script"
}

# ---- Latency and memory: two rounds of four calls of 150 bursts (9 s).
echo "Four streams at once (a call each way on each timeslot), twice, through one daemon (about 40 s)..."
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
four_streams "$work/load" 2 150
netns_up "mbts0$$"
start_sim_run "$work/load" "$NETNS_PEER" "$NETNS_BRIDGE" "$key" 2 90
wait_master "$RUN_MASTER" 90 || true
rss_kib=$(proc_kib "$RUN_DAEMON" VmRSS)
hwm_kib=$(proc_kib "$RUN_DAEMON" VmHWM)
netns_stop_pid "$RUN_MASTER"
netns_stop_pid "$RUN_REPEATER"
netns_stop_pid "$RUN_DAEMON"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- The grid on both timeslots: 120 ms and auto side by side; auto
# learns the link in the first round, the second is measured.
echo "Four streams at once with the jitter buffer, the network's calls over \"$link\" (about 80 s)..."
settings=(120 auto)
for m in 0 1; do
  four_streams "$work/grid$m" 2 200 "$link" "${settings[$m]}"
  netns_up "mbts$((m + 1))$$"
  start_sim_run "$work/grid$m" "$NETNS_PEER" "$NETNS_BRIDGE" "$key" $((31 + m)) 120
  wait_master "$RUN_MASTER" 120 || true
  grid_hwm[$m]=$(proc_kib "$RUN_DAEMON" VmHWM)
  netns_stop_pid "$RUN_MASTER"
  netns_stop_pid "$RUN_REPEATER"
  netns_stop_pid "$RUN_DAEMON"
done

echo
echo "== Four streams at once, Timeslots=1,2 (load average before ${load_before}, after ${load_after}) =="
"$bin/moto_bridge_sim_report" --repeater "$work/load/repeater.jsonl" --master "$work/load/master.jsonl" \
  --positions 0 --rdac 0 --both-slots | grep -E "^(Motorola|Hytera|  on timeslot|Both timeslots|Latency|MISSING|RESULT)" ||
  true
echo "Resident memory   : ${rss_kib:-?} KiB after the calls, ${hwm_kib:-?} KiB peak (target <= 4096 KiB); peak with" \
  "a jitter buffer on each timeslot: JitterBuffer=120 ${grid_hwm[0]:-?} KiB, JitterBuffer=auto ${grid_hwm[1]:-?} KiB"
echo
echo "== The grid on air of each timeslot's network call, four streams at once =="
printf '%-17s %-8s %5s %9s %12s %7s %5s %7s %8s %12s\n' setting timeslot bursts "gaps>80ms" "p99|gap-60|" filled \
  late missing own "added delay"
for m in 0 1; do
  dir="$work/grid$m"
  for call in 3 4; do  # the second round: auto has learnt the link
    f=$("$bin/moto_bridge_sim_report" --repeater "$dir/repeater.jsonl" --master "$dir/master.jsonl" \
      --grid-figures "$call" || true)
    printf '%-17s %-8s %5s %9s %9s ms %7s %5s %7s %8s %9s ms\n' "JitterBuffer=${settings[$m]}" \
      "$(figure slot "$f")" "$(figure bursts "$f")" "$(figure gaps_over_80 "$f")" "$(figure p99_jitter "$f")" \
      "$(figure filled "$f")" "$(figure late "$f")" "$(figure missing "$f")" "$(figure own "$f")" \
      "$(figure added_median "$f")"
  done
  "$bin/moto_bridge_sim_report" --repeater "$dir/repeater.jsonl" --master "$dir/master.jsonl" --positions 0 \
    --rdac 0 --both-slots | grep -E "^(MISSING|RESULT)" | sed "s/^/  JitterBuffer=${settings[$m]}: /" || true
done
echo "Targets: latency M->H median <= 3 ms, H->M median <= 1 ms, resident memory <= 4096 KiB (as with one stream"
echo "each way); with the jitter buffer each timeslot's call keeps its grid: no gap over 80 ms, p99 |gap-60 ms| <= 2 ms."
echo "Files: $work"
