#!/bin/bash
# Runs the whole test suite (unit and end-to-end, with the daemon binary
# built the same way) twice more: under AddressSanitizer with
# UndefinedBehaviorSanitizer, then under ThreadSanitizer. Every report halts
# the process that made it and is written to a report directory; the stage
# fails when a test fails or when any report file appears, so a finding
# inside the daemon process, which the tests only watch from outside, fails
# the run as well.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tools/deps.sh
ensure_packages clang libclang-rt-14-dev llvm cmake ninja-build libgtest-dev libgmock-dev libssl-dev \
  iproute2 util-linux

# Most end-to-end tests wait on timers, so more tests than cores run at once;
# the tests on the bridge's fixed ports stay serialised by their resource lock.
ctest_jobs=4

run_suite() {
  local name="$1" sanitize="$2"
  local dir="build/$name"
  local reports
  reports="$(pwd)/$dir/sanitizer-reports"
  local started=$SECONDS
  CXX=clang++ cmake -S . -B "$dir" -G Ninja -DBRIDGE_WERROR=ON -DBRIDGE_BENCHMARKS=OFF \
    -DBRIDGE_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" -j 2
  rm -rf "$reports"
  mkdir -p "$reports"
  local status=0
  # The daemon and every test inherit these; a report file is named after
  # the sanitizer and the process id.
  (cd "$dir" &&
    ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1" \
    UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1" \
    TSAN_OPTIONS="log_path=$reports/tsan:halt_on_error=1:second_deadlock_stack=1" \
    flock /tmp/bridge_ports.lock ctest --output-on-failure -j "$ctest_jobs") || status=$?
  if compgen -G "$reports/*" >/dev/null; then
    echo "Sanitizer reports in $dir:"
    for report in "$reports"/*; do
      echo "---- ${report##*/}"
      cat "$report"
    done
    status=1
  fi
  echo "$name: built and tested in $((SECONDS - started)) s"
  return "$status"
}

run_suite asan address,undefined
run_suite tsan thread
