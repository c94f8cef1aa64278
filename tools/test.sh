#!/bin/bash
# Builds everything with warnings as errors under g++ and clang++, runs every
# test through CTest with the g++ build, then the further stages in
# tools/test.d (sanitizer runs, fuzzing, cross-builds, packaging).
#
# Each step is a stage; a failed stage does not stop the later ones (the
# tests need the g++ build, though). At the end a summary lists every stage
# as passed, SKIPPED with the reason, or FAILED, and the command exits 1 when
# any stage failed. A stage skips itself by writing its reason to
# $STAGE_SKIP_FILE and exiting 77 (the ARM stage does when it cannot make its
# sysroots). A stage may write one line to $STAGE_DETAIL_FILE; it is added to
# the stage's summary line (the ARM stage names its tests and packages). The
# packages the native builds and tests need cannot be skipped: when they
# cannot be installed the run ends at once.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

results=()
failed=0
skip_file="$(mktemp /tmp/test-stage-skip.XXXXXX)"
detail_file="$(mktemp /tmp/test-stage-detail.XXXXXX)"

print_summary() {
  local status=$?
  rm -f "$skip_file" "$detail_file"
  # ensure_packages exits the script itself when the native packages fail.
  if [ -n "${ensure_packages_reason:-}" ]; then
    results+=("FAILED   native packages: $ensure_packages_reason")
    failed=$((failed + 1))
  elif [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
    results+=("FAILED   test command (exit $status)")
    failed=1
  fi
  echo "== Summary"
  printf '%s\n' "${results[@]}"
  if [ "$failed" -ne 0 ]; then
    echo "== Test command FAILED ($failed failed)"
    exit 1
  fi
  echo "== Test command passed"
  exit 0
}
trap print_summary EXIT

# run_stage <name> <command>...: runs the command as a stage of its own and
# records the result. The command must be a program or a function chaining
# its steps with && (errexit is off inside a tested command).
stage_passed=0
run_stage() {
  local name="$1"
  shift
  echo "== $name"
  : >"$skip_file"
  : >"$detail_file"
  local started=$SECONDS status=0
  STAGE_SKIP_FILE="$skip_file" STAGE_DETAIL_FILE="$detail_file" "$@" || status=$?
  local took="$((SECONDS - started)) s"
  local detail=""
  if [ -s "$detail_file" ]; then detail=": $(head -n 1 "$detail_file")"; fi
  stage_passed=0
  if [ "$status" -eq 0 ]; then
    results+=("passed   $name ($took)$detail")
    stage_passed=1
  elif [ "$status" -eq 77 ] && [ -s "$skip_file" ]; then
    results+=("SKIPPED  $name: $(head -n 1 "$skip_file")")
  else
    results+=("FAILED   $name (exit $status after $took)$detail")
    failed=$((failed + 1))
  fi
}

# The native packages: the builds and tests here, the monitor program's
# libraries, chromium and clang-format for its checks.
ensure_packages g++ clang cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl \
  iproute2 libsystemd-dev libcpp-httplib-dev nlohmann-json3-dev chromium clang-format

jobs="$(nproc)"
native_build() {
  local cxx="$1" dir="$2"
  CXX="$cxx" cmake -S . -B "$dir" -G Ninja -DBRIDGE_WERROR=ON >/dev/null &&
    cmake --build "$dir" -j "$jobs"
}
# Most end-to-end tests wait on timers, so more tests than cores run at once,
# as in the sanitizer stage; the tests on the bridge's fixed ports stay
# serialised by their resource lock.
native_tests() {
  (cd build/gcc && ctest --output-on-failure -j 4)
}

run_stage "apt helper" bash tools/apt_helper_test.sh
run_stage "clang++ build" native_build clang++ build/clang
run_stage "g++ build" native_build g++ build/gcc
if [ "$stage_passed" -eq 1 ]; then
  run_stage "unit and end-to-end tests" native_tests
else
  results+=("not run  unit and end-to-end tests: the g++ build failed")
fi

# Further stages, each a script of its own, in the order of their names.
for stage in tools/test.d/*.sh; do
  [ -e "$stage" ] || continue
  name="${stage##*/}"
  run_stage "${name%.sh}" bash "$stage"
done
