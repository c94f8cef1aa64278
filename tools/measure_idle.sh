#!/bin/bash
# What the daemon costs while nothing happens, thread by thread, and how
# fast it forwards: each daemon under test carries one 5-second call each
# way with the simulated peers, then idles for 30 s registered and logged in.
# Prints, per thread, the wake-ups a second (voluntary context switches from
# /proc), the CPU share of the whole process (scheduler run time, not clock
# ticks), resident memory, and the forwarding latency each way.
#
#   bash tools/measure_idle.sh                  # this tree's daemon
#   bash tools/measure_idle.sh --compare REF    # ... beside the daemon built from git revision REF
#   bash tools/measure_idle.sh --arch armhf     # the ARM build of tools/cross.sh under qemu-user
#
# With --compare both daemons run at once, each on a private network of its
# own, so the machine's load is the same for both. With --arch the daemon
# runs under emulation: its wake-ups are the board's (every wait of a thread
# is one wait of its emulating host thread), but its CPU share, memory and latency
# are the emulator's, not a board's, and are printed as such. Reports; it
# does not fail on a missed target. Takes about a minute and a half.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/measure_common.sh

compare=""
arch=""
while [ $# -gt 0 ]; do
  case "$1" in
    --compare) compare="$2"; shift 2 ;;
    --arch) arch="$2"; shift 2 ;;
    *) break ;;
  esac
done
netns_require "$@"

work="$(mktemp -d /tmp/moto_bridge_idle.XXXXXX)"
build_sim_programs "$work/build.log" moto_bridge_sim_report || exit 1
key=c0ffee00112233445566778899aabbccddeeff01

# The daemons under test, each a label and a command: runner the first (this
# tree's, or the ARM build under qemu-user), ref_daemon that of --compare.
labels=()
if [ -n "$arch" ]; then
  declare -A qemu=([armhf]=qemu-arm [arm64]=qemu-aarch64)
  [ -n "${qemu[$arch]:-}" ] || { echo "Unknown architecture '$arch' (armhf or arm64)" >&2; exit 2; }
  sysroot="$(pwd)/build/sysroot/$arch"
  arm_bin="$(pwd)/build/$arch/moto_bridge"
  [ -x "$arm_bin" ] && [ -d "$sysroot" ] || { echo "Build it first: bash tools/cross.sh $arch" >&2; exit 1; }
  labels+=("$arch under ${qemu[$arch]}")
  runner=("${qemu[$arch]}" -L "$sysroot" "$arm_bin")
else
  labels+=("this tree")
  runner=("$bin/moto_bridge")
fi
if [ -n "$compare" ]; then
  ref_tree="$work/ref-tree"
  echo "Building the daemon of $compare (Release, $ref_tree)..."
  mkdir -p "$ref_tree"
  git archive "$compare" | tar -x -C "$ref_tree"
  if ! { cmake -S "$ref_tree" -B "$ref_tree/build" -DCMAKE_BUILD_TYPE=Release -DBRIDGE_TESTS=OFF \
    -DBRIDGE_BENCHMARKS=OFF && cmake --build "$ref_tree/build" -j 2 --target moto_bridge; } >"$work/ref-build.log" 2>&1; then
    cat "$work/ref-build.log"
    exit 1
  fi
  labels+=("$compare")
  ref_daemon=("$ref_tree/build/moto_bridge")
fi

# The threads in the order the daemon starts them; /proc lists them by id,
# which is that order (the emulator adds threads of its own, named).
thread_names=(main send_voice_to_hytera repeater_rdac localrepeater_handler send_voice_to_motorola)

# snapshot PID FILE: per thread "name voluntary_switches cpu_ns", in thread id order.
snapshot() {
  local pid="$1" task
  for task in $(ls "/proc/$pid/task" | sort -n); do
    printf '%s %s %s\n' "$(tr ' ' '_' <"/proc/$pid/task/$task/comm")" \
      "$(awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$pid/task/$task/status")" \
      "$(awk '{print $1}' "/proc/$pid/task/$task/schedstat")"
  done >"$2"
}

daemon_pids=()
masters=()
for i in "${!labels[@]}"; do
  dir="$work/run$i"
  mkdir -p "$dir"
  write_sim_config "$dir/vexaqv.cfg" "$key"
  printf 'wait registered 20\nwait keepalive 15\nsleep 2\ncall group 9 2620001 bursts=84\n' >"$dir/repeater.script"
  printf 'wait login 30\nsleep 10\ncall group 9 2620002 bursts=84\nwait rdac 40 count=4\nsleep 36\nquit\n' \
    >"$dir/master.script"
  netns_up "mbi$i$$"
  if [ "$i" -eq 0 ]; then daemon=("${runner[@]}"); else daemon=("${ref_daemon[@]}"); fi
  # The simulated master's own default seed is 2.
  start_sim_run "$dir" "$NETNS_PEER" "$NETNS_BRIDGE" "$key" 2 120 "${daemon[@]}"
  masters+=("$RUN_MASTER")
  daemon_pids+=("$RUN_DAEMON")
done

echo "A call each way, the RDAC announcements, then 30 s idle while registered and logged in..."
wait_line "$work/run0/master.jsonl" '"ev":"rdac_announcement".*"n":4,' 90 || true
sleep 2
for i in "${!labels[@]}"; do snapshot "${daemon_pids[$i]}" "$work/run$i/idle-start"; done
sleep 30
for i in "${!labels[@]}"; do
  snapshot "${daemon_pids[$i]}" "$work/run$i/idle-end"
  proc_kib "${daemon_pids[$i]}" VmRSS >"$work/run$i/rss"
done
for i in "${!labels[@]}"; do wait_master "${masters[$i]}" 20 || true; done
netns_down

echo
echo "== Idle for 30 s, registered and logged in: wake-ups a second per thread =="
{
  printf 'thread'
  for label in "${labels[@]}"; do printf '\t%s' "$label"; done
  printf '\n'
  # Rows by the daemon's thread order; threads the emulator adds are listed by their names.
  for i in "${!labels[@]}"; do
    paste -d' ' "$work/run$i/idle-start" "$work/run$i/idle-end" |
      awk -v names="${thread_names[*]}" -v col="$i" 'BEGIN { n = split(names, name, " ")
          known["voice_to_hytera"] = "send_voice_to_hytera"; known["repeater_rdac"] = "repeater_rdac"
          known["localrepeater"] = "localrepeater_handler"; known["voice_to_moto"] = "send_voice_to_motorola" }
        { wake = ($5 - $2) / 30; cpu += $6 - $3; total += wake; row++
          # The first thread is main; the others by the names they give
          # themselves, or, for a daemon that names none, in start order. The
          # emulator adds a thread of its own, named after it.
          if (row == 1) label = "main"
          else if ($1 in known) label = known[$1]
          else if ($1 ~ /^qemu/) label = $1 " (emulator)"
          else label = (row <= n ? name[row] : $1)
          printf "%s\t%d\t%.1f\n", label, col, wake }
        END { printf "total\t%d\t%.1f\n", col, total
              printf "CPU share (all threads)\t%d\t%.3f %%\n", col, cpu / 30e9 * 100 }'
    printf 'resident memory\t%d\t%s KiB\n' "$i" "$(cat "$work/run$i/rss")"
  done | awk -F'\t' -v cols="${#labels[@]}" '
    { if (!($1 in seen)) { seen[$1] = 1; order[++rows] = $1 } cell[$1, $2] = $3 }
    END { for (r = 1; r <= rows; r++) { line = order[r]
            for (c = 0; c < cols; c++) line = line "\t" ((order[r], c) in cell ? cell[order[r], c] : "-")
            print line } }'
} | column -t -s$'\t'
echo "Targets: at most 5 wake-ups a second for the whole process, at most 0.1 % of a core."
for i in "${!labels[@]}"; do
  echo
  echo "== Forwarding latency, ${labels[$i]} =="
  "$bin/moto_bridge_sim_report" --repeater "$work/run$i/repeater.jsonl" --master "$work/run$i/master.jsonl" \
    --positions 0 | grep -E "^Latency" || true
done
if [ -n "$arch" ]; then
  echo
  echo "Under ${labels[0]}: the wake-ups are the board's; the CPU share, the memory and the latency are the emulator's" \
    "(every instruction translated on this machine), so they say nothing about a board."
fi
echo "Targets: M->H median at most 0.3 ms and 95th percentile at most 1 ms; H->M as before."
echo "Files: $work"
