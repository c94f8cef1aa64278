#!/bin/bash
# Measures network calls shaped as real masters send them, through the
# jitter buffer, and prints one table with the targets beside: a sender
# whose clock runs slow or fast (59.5 to 60.4 ms per burst over 400 bursts),
# a sequence jump and a restart mid-call, a second talker 40 ms after the
# first one's end, a stray copy of a call's last burst 1 s after the call,
# and the daemon held up for 400 ms mid-call (SIGSTOP). Three daemons run
# side by side, each on a private network of tools/netns.sh of its own:
# JitterBuffer=120 and JitterBuffer=auto with every shape, and
# JitterBuffer=120 with the gentler clocks. Each call is matched on air by
# its frames, so the figures hold across jumps and across slots the bridge
# put in or gave up. Reports; it does not fail on a missed target. Takes
# about 2 minutes; tools/measure.sh runs it after its own figures.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/measure_common.sh
netns_require "$@"

work="$(mktemp -d /tmp/moto_bridge_shapes.XXXXXX)"
build_sim_programs "$work/build.log" moto_bridge_sim_report || exit 1
key=c0ffee00112233445566778899aabbccddeeff01

# Each run: a setting and its calls, one per line: a name, then the call's
# options. The call named "stall" has the daemon held up 400 ms at its middle.
every_shape="clock 59.5 ms|bursts=400 gap_ms=59.5
clock 60.4 ms|bursts=400 gap_ms=60.4
jump +1000|bursts=200 jump=100:1000
restart at 0|bursts=200 restart=100
talker A|bursts=30
talker B 40 ms after|bursts=30 after_end_ms=40
stray burst|bursts=30 stray_ms=1000
stall|bursts=150"
gentle_clocks="clock 59.8 ms|bursts=400 gap_ms=59.8
clock 60.0 ms|bursts=400
clock 60.2 ms|bursts=400 gap_ms=60.2"
settings=(120 auto 120)
shapes=("$every_shape" "$every_shape" "$gentle_clocks")

start_run() {  # run
  local r=$1 dir="$work/run$1" n=0 name options
  mkdir -p "$dir"
  write_sim_config "$dir/vexaqv.cfg" "$key" "JitterBuffer=${settings[$r]}"
  printf 'wait registered 20\n' >"$dir/repeater.script"
  {
    printf 'wait login 30\nsleep 1\n'
    while IFS='|' read -r name options; do
      n=$((n + 1))
      # A call that follows the one before at once waits for no pause.
      [[ "$options" == *after_end_ms* ]] || printf 'sleep 1.5\n'
      printf 'call group 9 %d %s\n' $((2620040 + n)) "$options"
    done <<<"${shapes[$r]}"
    printf 'sleep 3\nquit\n'
  } >"$dir/master.script"
  netns_up "mbs$r$$"
  start_sim_run "$dir" "$NETNS_PEER" "$NETNS_BRIDGE" "$key" $((21 + r)) 200
  run_master[$r]=$RUN_MASTER
  run_repeater[$r]=$RUN_REPEATER
  run_daemon[$r]=$RUN_DAEMON
}

# Holds run r's daemon up for 400 ms in the middle of its call named "stall";
# leaves it alone when that call has not begun within 200 s.
stall_daemon() {  # run
  local r=$1 n
  n=$(grep -n '^stall|' <<<"${shapes[$r]}" | cut -d: -f1)
  [ -n "$n" ] || return 0
  wait_line "$work/run$r/master.jsonl" "\"ev\":\"hyt_call_tx\".*\"call\":$n," 200 || return 0
  sleep 4.5
  kill -STOP "${run_daemon[$r]}"
  sleep 0.4
  kill -CONT "${run_daemon[$r]}"
}

echo "Calls shaped as real masters send them: three daemons side by side (about 2 minutes)..."
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for r in 0 1 2; do start_run "$r"; done
stall_pids=()
for r in 0 1; do
  stall_daemon "$r" &
  stall_pids+=("$!")
done
for r in 0 1 2; do wait_master "${run_master[$r]}" 250 || true; done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
# A stall ends on its own within about 205 s of the start; none may act on a
# daemon being stopped, or outlive it.
for pid in "${stall_pids[@]}"; do wait "$pid" || true; done
for r in 0 1 2; do
  netns_stop_pid "${run_master[$r]}"
  netns_stop_pid "${run_repeater[$r]}"
  netns_stop_pid "${run_daemon[$r]}"
done

table="$work/shapes-table.txt"
printf '%-22s %-5s %5s %8s %8s %9s %8s %23s %5s %10s %s\n' shape set sent "gave up" "max gap" "silence" \
  "closest" "added min/median/max" lead "slip/skip/re" target >"$table"
for r in 0 1 2; do
  dir="$work/run$r"
  n=0
  while IFS='|' read -r name options; do
    n=$((n + 1))
    f=$("$bin/moto_bridge_sim_report" --repeater "$dir/repeater.jsonl" --master "$dir/master.jsonl" \
      --air-figures "$n" || true)
    seq=$(figure call_seq "$f")
    end=$(grep " Jitter buffer ${seq:-x} end: " "$dir/daemon.log" | head -1 || true)
    lead=$(sed -n 's/.* end: lead \([0-9]*\) ms.*/\1/p' <<<"$end")
    moves=$(sed -n 's/.*slipped \([0-9]*\), skipped \([0-9]*\), re-anchored \([0-9]*\).*/\1\/\2\/\3/p' <<<"$end")
    verdict=$(awk -v name="$name" -v sent="$(figure sent "$f")" -v up="$(figure given_up "$f")" \
      -v gap="$(figure largest_gap "$f")" -v quiet="$(figure longest_silence "$f")" \
      -v near="$(figure closest "$f")" -v lo="$(figure added_min "$f")" -v hi="$(figure added_max "$f")" \
      -v lead="${lead:-0}" -v header="$(figure own_header "$f")" -v after="$(figure after_stray "$f")" 'BEGIN {
      if (name ~ /^clock/) ok = up <= 0.02 * sent && gap <= 130 && lo >= lead - 60 && hi <= lead + 60;
      else if (name ~ /^(jump|restart)/) ok = up <= 3 && quiet <= 200;
      else if (name ~ /^talker/) ok = up == 0 && header == 1;
      else if (name ~ /^stray/) ok = up == 0 && after == 0;
      else ok = near >= 30;
      printf "%s", ok ? "met" : "MISSED" }')
    printf '%-22s %-5s %5s %8s %6s ms %6s ms %5s ms %23s %5s %10s %s\n' "$name" "${settings[$r]}" \
      "$(figure sent "$f")" "$(figure given_up "$f")" "$(figure largest_gap "$f")" \
      "$(figure longest_silence "$f")" "$(figure closest "$f")" \
      "$(figure added_min "$f")/$(figure added_median "$f")/$(figure added_max "$f") ms" "${lead:--}" \
      "${moves:--}" "$verdict" >>"$table"
  done <<<"${shapes[$r]}"
done

echo
echo "== Calls shaped as real masters send them =="
cat "$table"
echo "gave up: bursts that reached the bridge but not the air; max gap: between the call's voice datagrams on air;"
echo "silence: the longest run of silence slots; closest: the two voice datagrams nearest to each other; added:"
echo "time on air minus time sent; slip/skip/re: the daemon's end line (slipped, skipped, re-anchored)."
echo "Targets: clocks 59.5..60.4 ms: at most 2 % given up, no gap over 130 ms, added delay within lead +- 60 ms;"
echo "jumps: at most 3 lost, no silence over 200 ms; back to back: both whole, each with its own header; a stray"
echo "burst keys nothing; after a 400 ms stall no two voice datagrams less than 30 ms apart."
echo "Load average (1/5/15 min) before: $load_before, after: $load_after ($(nproc) cores)."
echo "Files: $work"
