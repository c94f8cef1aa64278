#!/bin/bash
# Checks `cmake --install` of a configured build tree outside any package:
#
#   bash packaging/test-install.sh BUILD_DIR PROGRAM...
#
# Installs into a staging directory (DESTDIR) with another prefix, then
# checks that the programs, the unit and the sample configuration are in
# place, that the unit names the prefix chosen at install time, and that a
# second install keeps an edited configuration.
set -euo pipefail
cd "$(dirname "$0")/.."

build="$1"
shift
prefix=/opt/moto-bridge
stage="$(mktemp -d /tmp/moto-bridge-install.XXXXXX)"
trap 'rm -rf "$stage"' EXIT

. packaging/checks.sh

install_once() { DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >"$stage.log" 2>&1; }
echo "== cmake --install $build --prefix $prefix (DESTDIR=$stage)"
check "cmake --install succeeds" install_once
for program in "$@"; do
  check "installs $prefix/bin/$program" test -x "$stage$prefix/bin/$program"
done
unit="$stage$prefix/lib/systemd/system/moto-bridge.service"
config="$stage/etc/moto-bridge/vexaqv.cfg"
check "installs the unit" test -f "$unit"
check "the unit starts $prefix/bin/moto_bridge" grep -qx "ExecStart=$prefix/bin/moto_bridge" "$unit"
check "installs the account definition" test -f "$stage$prefix/lib/sysusers.d/moto-bridge.conf"
check "installs the sample configuration as /etc/moto-bridge/vexaqv.cfg" \
  cmp -s config/vexaqv.cfg.example "$config"
if [ -x "$stage$prefix/bin/moto_bridge_monitor" ]; then
  monitor_unit="$stage$prefix/lib/systemd/system/moto-bridge-monitor.service"
  check "installs the monitor's unit" test -f "$monitor_unit"
  check "the monitor's unit starts $prefix/bin/moto_bridge_monitor" \
    grep -q "^ExecStart=$prefix/bin/moto_bridge_monitor " "$monitor_unit"
fi
sed -i 's/^RptrCall=.*/RptrCall=DB0EDIT/' "$config"
check "a second install succeeds" install_once
check "a second install keeps the edited configuration" grep -qx "RptrCall=DB0EDIT" "$config"
rm -f "$stage.log"

echo "install checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
