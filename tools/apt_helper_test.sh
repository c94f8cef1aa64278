#!/bin/bash
# Checks ensure_packages (tools/deps.sh) against a package source that does
# not answer: nothing is done when everything is installed; apt-get update is
# tried three times and the install still goes ahead; a package that cannot
# be installed stops the caller with one line, or, with --optional, only
# returns 1 with the reason.
#
# apt only ever sees scratch copies: its sources list, package lists, cache,
# and the dpkg status file (whose directory also holds the lock), so this
# machine's package state is never touched and nothing is installed or
# removed. Needs root, as the helper only calls apt as root; otherwise the
# check skips itself (exit 77).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

if [ "$(id -u)" -ne 0 ]; then
  reason="apt helper check needs root (the helper calls apt only as root)"
  echo "SKIPPED: $reason"
  if [ -n "${STAGE_SKIP_FILE:-}" ]; then echo "$reason" >"$STAGE_SKIP_FILE"; fi
  exit 77
fi

scratch="$(mktemp -d /tmp/apt_helper_test.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/lists/partial" "$scratch/cache" "$scratch/empty"
# Nothing listens on the discard port, so every fetch is refused at once
# (apt's own retries of a fetch, 7 s each time, are switched off below).
echo "deb [trusted=yes] http://127.0.0.1:9/debian bookworm main" >"$scratch/sources.list"
# dpkg-query (the helper's installed check) reads the real status file, apt
# reads this copy, which also lists one made-up package as installed: to the
# helper it is missing, to apt it is already there, as with a package that
# the lists already on the machine can satisfy.
present=moto-bridge-apt-probe
absent=moto-bridge-apt-absent
cp /var/lib/dpkg/status "$scratch/status"
cat >>"$scratch/status" <<STATUS

Package: $present
Status: install ok installed
Priority: optional
Section: misc
Maintainer: moto_bridge developers <dev@example.invalid>
Architecture: all
Version: 1.0
Description: stand-in for an installed package
STATUS

# apt runs this before each update, so the check counts the real attempts.
cat >"$scratch/count-update" <<COUNT
#!/bin/sh
echo update >>"$scratch/updates"
COUNT
chmod +x "$scratch/count-update"

export APT_HELPER_OPTIONS="-o APT::Update::Pre-Invoke::=$scratch/count-update
  -o Dir::Etc::sourcelist=$scratch/sources.list -o Dir::Etc::sourceparts=$scratch/empty -o Dir::State::Lists=$scratch/lists -o Dir::Cache=$scratch/cache -o Dir::State::status=$scratch/status
  -o Dir::State::extended_states=$scratch/extended_states -o Acquire::Retries=0"
export APT_HELPER_PAUSE=1

failures=0
# check <name> <exit> <lines> <updates> <pattern>... -- <ensure_packages arguments>
# Runs the helper in a child shell (it may exit) and checks its exit status,
# the number of lines it printed, how often it ran apt-get update and that
# each pattern matches one of the lines.
check() {
  local name="$1" want_status="$2" want_lines="$3" want_updates="$4"
  shift 4
  local patterns=()
  while [ "$1" != "--" ]; do
    patterns+=("$1")
    shift
  done
  shift
  local out="$scratch/out" status=0
  : >"$scratch/updates"
  bash -c '. tools/deps.sh; ensure_packages "$@"; echo "returned: ${ensure_packages_reason:-}"' \
    helper "$@" >"$out" 2>&1 || status=$?
  local problems=()
  [ "$status" -eq "$want_status" ] || problems+=("exit $status, expected $want_status")
  local lines
  lines="$(grep -vc '^returned: $' "$out" || true)"
  [ "$lines" -eq "$want_lines" ] || problems+=("$lines lines, expected $want_lines")
  local updates
  updates="$(wc -l <"$scratch/updates")"
  [ "$updates" -eq "$want_updates" ] || problems+=("$updates updates, expected $want_updates")
  local pattern
  for pattern in "${patterns[@]}"; do
    grep -Eq -- "$pattern" "$out" || problems+=("no line matches: $pattern")
  done
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name"
  else
    echo "FAIL $name: $(IFS=';'; echo "${problems[*]}")"
    sed 's/^/     | /' "$out"
    failures=$((failures + 1))
  fi
}

refused='Could not connect to 127\.0\.0\.1:9.*Connection refused\)'

check "all installed: nothing printed, no apt-get update" 0 0 0 '^returned: $' \
  -- coreutils bash

check "update refused: tried 3 times, then the install goes on and succeeds" 0 4 3 \
  "^Installing: $present\$" \
  "^apt-get update failed \(attempt 1 of 3\), again in 1 s: .*$refused" \
  "^apt-get update failed \(attempt 2 of 3\), again in 1 s: .*$refused" \
  "^apt-get update failed 3 times, installing from the package lists at hand: .*$refused" \
  '^returned: $' \
  -- coreutils "$present"

check "not installable: stops with one line naming only the missing package" 1 5 3 \
  "^Installing: $absent\$" \
  "^Package install FAILED: could not install $absent: Unable to locate package $absent \(package lists not refreshed: .*$refused\)\$" \
  -- coreutils "$absent"

check "not installable, optional: returns 1 with the reason, no FAILED line" 0 5 3 \
  "^returned: could not install $absent: Unable to locate package $absent \(package lists not refreshed: .*$refused\)\$" \
  -- --optional coreutils "$absent"

# Without any source an update has nothing to fetch and succeeds.
: >"$scratch/sources.list"
check "update works: run once, then the install, quiet but for one line" 0 1 1 \
  "^Installing: $present\$" \
  -- coreutils "$present"

if [ "$failures" -ne 0 ]; then
  echo "apt helper check FAILED: $failures case(s)"
  exit 1
fi
echo "apt helper check passed"
