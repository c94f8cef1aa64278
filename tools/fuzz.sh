#!/bin/bash
# Builds the libFuzzer targets in build/fuzz (clang++, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs them from their seed corpora in
# fuzz/corpus. What a run finds new is kept in the work directory, so the
# next run goes on from there.
#
#   bash tools/fuzz.sh                      every target, 10 minutes each, two at a time
#   bash tools/fuzz.sh --seconds 3600 ipsc  one target for an hour
#   bash tools/fuzz.sh --coverage           line coverage of what the corpora reach
#
# Options: --seconds N (per target, default 600), --parallel P (targets at
# once, default 2), --work DIR (default build/fuzz/work), --quiet (no build
# output), --coverage (no fuzzing: replays seeds and work corpora through a
# coverage build in build/fuzz/coverage and prints llvm-cov's report).
# Targets: config ipsc hytera_voice rdac embedded_lc ambe monitor_log (default: all;
# monitor_log only when the monitor is built).
# Exits non-zero when any target finds a crash, a failed check, a leak or a
# hang; the input is saved as <work>/<target>-crash-* (or leak-, timeout-).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
ensure_packages clang libclang-rt-14-dev llvm cmake ninja-build libssl-dev

seconds=600
parallel=2
work=build/fuzz/work
quiet=0
coverage=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --parallel) parallel="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --quiet) quiet=1; shift ;;
    --coverage) coverage=1; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
all_targets=0
if [ ${#targets[@]} -eq 0 ]; then
  targets=(config ipsc hytera_voice rdac embedded_lc ambe monitor_log)
  all_targets=1
fi

build() {
  local dir="$1"; shift
  CXX=clang++ cmake -S . -B "$dir" -G Ninja -DBRIDGE_WERROR=ON -DBRIDGE_TESTS=OFF \
    -DBRIDGE_BENCHMARKS=OFF -DBRIDGE_FUZZ=ON "$@" >/dev/null
  if [ "$all_targets" -eq 1 ]; then
    # A build without the monitor's libraries has no monitor_log target.
    local defined=() target
    for target in "${targets[@]}"; do
      # grep reads to the end (no -q), so ninja never dies of SIGPIPE under pipefail.
      if ninja -C "$dir" -t targets all | grep "^${target}_fuzz:" >/dev/null; then defined+=("$target"); fi
    done
    targets=("${defined[@]}")
  fi
  # Only the fuzz targets and the corpus generator: nothing else is needed here.
  local build_targets=(--target make_fuzz_corpus)
  for target in "${targets[@]}"; do build_targets+=("${target}_fuzz"); done
  if [ "$quiet" -eq 1 ]; then
    # Build output only when the build fails.
    cmake --build "$dir" -j 2 "${build_targets[@]}" >"$dir/build.log" 2>&1 ||
      { cat "$dir/build.log"; exit 1; }
  else
    cmake --build "$dir" -j 2 "${build_targets[@]}"
  fi
}

if [ "$coverage" -eq 1 ]; then
  dir=build/fuzz/coverage
  build "$dir" -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping"
  rm -rf "$dir/profiles"
  mkdir -p "$dir/profiles"
  objects=()
  for target in "${targets[@]}"; do
    inputs=("fuzz/corpus/$target")
    [ -d "$work/$target" ] && inputs+=("$work/$target")
    LLVM_PROFILE_FILE="$dir/profiles/$target.profraw" \
      "$dir/${target}_fuzz" -runs=0 "${inputs[@]}" >/dev/null 2>&1
    objects+=(-object "$dir/${target}_fuzz")
  done
  llvm-profdata-14 merge -sparse "$dir"/profiles/*.profraw -o "$dir/profiles/all.profdata"
  llvm-cov-14 report "${objects[@]:1}" -instr-profile="$dir/profiles/all.profdata" \
    src/main/config.cpp src/ipsc/ipsc_peer.cpp src/voice/*.cpp src/master_link/rdac.cpp \
    src/master_link/hytera_voice_packet.cpp src/ipsc/moto_voice_packet.cpp src/coding/*.cpp
  exit 0
fi

build build/fuzz -DBRIDGE_SANITIZE=address,undefined
mkdir -p "$work"

run_target() {
  local target="$1"
  local log="$work/$target.log"
  mkdir -p "$work/$target"
  local status=0
  "build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$work/$target-" "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  local runs cov
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  cov="$(grep -o "cov: [0-9]*" "$log" | tail -1 | cut -d" " -f2)"
  if [ "$status" -ne 0 ]; then
    echo "$target: FAILED after ${runs:-?} runs (cov $cov edges); log $log"
    grep -E 'ERROR|SUMMARY|check failed|Test unit written' "$log" | head -20
    return 1
  fi
  echo "$target: ${runs:-?} runs in ${seconds} s, cov $cov edges, corpus $(ls "$work/$target" | wc -l) new inputs"
}

failed=0
running=0
pids=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=($!)
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
    running=$((running - 1))
  fi
done
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done
exit "$failed"
