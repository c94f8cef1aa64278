# shellcheck shell=bash
# Sourced by the measuring scripts (from the repository root): the packages
# they need, the private network of tools/netns.sh, the build of the daemon
# and the simulated peers (tools/sim_build.sh), and the waits and figures
# every measuring script uses.
. tools/deps.sh
ensure_packages g++ cmake make libssl-dev iproute2 util-linux
. tools/netns.sh
. tools/sim_build.sh

# wait_master PID... SECONDS: waits until the given simulated masters have
# ended their scripts (their processes exited), at most SECONDS in all, so
# that a run's records are whole before its processes are stopped. Returns 1
# when the time ran out.
wait_master() {
  local seconds="${*: -1}" pid _
  for _ in $(seq $((seconds * 10))); do
    for pid in "${@:1:$#-1}"; do
      if kill -0 "$pid" 2>/dev/null; then
        sleep 0.1
        continue 2
      fi
    done
    return 0
  done
  return 1
}

# wait_line FILE PATTERN SECONDS: waits until a line of FILE (a record or a
# log still being written) matches the grep PATTERN, at most SECONDS.
# Returns 1 when the time ran out.
wait_line() {
  local file="$1" pattern="$2" seconds="$3" _
  for _ in $(seq $((seconds * 10))); do
    grep -q "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# figure KEY LINE: the value of KEY in LINE, the key=value words the run
# report prints for a call.
figure() { tr ' ' '\n' <<<"$2" | sed -n "s/^$1=//p"; }

# proc_kib PID KEY: a memory figure of a process in KiB from its
# /proc/PID/status (VmRSS resident now, VmHWM its peak).
proc_kib() { awk -v key="$2:" '$1 == key {print $2}' "/proc/$1/status"; }
