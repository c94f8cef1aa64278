#!/bin/bash
# Checks a moto-bridge Debian package.
#
#   bash packaging/test-package.sh [--without-monitor] PACKAGE.deb PROGRAM...
#
# PROGRAM... are the executables the package must carry in /usr/bin.
# --without-monitor: the package was built without the monitor
# (-DBRIDGE_MONITOR=OFF) and must hold nothing of it. For a
# package of this machine's architecture it then installs it into a scratch
# root (dpkg --root, maintainer scripts included), checks the account, the
# configuration, the unit (systemd-analyze verify) and that the installed
# daemon starts with the installed sample configuration as the service
# account, inside a network namespace made and removed here; then upgrades
# over an edited configuration and purges. Other architectures get the
# content checks only.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
ensure_packages dpkg binutils systemd iproute2 util-linux passwd init-system-helpers

without_monitor=0
if [ "${1:-}" = "--without-monitor" ]; then
  without_monitor=1
  shift
fi
deb="$1"
shift
programs=("$@")
config_dir=/etc/moto-bridge
unit_path=/usr/lib/systemd/system/moto-bridge.service

. packaging/checks.sh

scratch="$(mktemp -d /tmp/moto-bridge-pkg.XXXXXX)"
netns=""
daemon_pid=""
cleanup() {
  if [ -n "$daemon_pid" ]; then kill "$daemon_pid" 2>/dev/null || true; fi
  if [ -n "$netns" ]; then ip netns del "$netns" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

arch="$(dpkg-deb -f "$deb" Architecture)"
echo "== $deb ($arch)"
dpkg-deb -c "$deb" | awk '{ print "     " $1, $2, $6 }'

# --- contents, any architecture
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$scratch/files"
contains() { grep -qx "$1" "$scratch/files"; }
for program in "${programs[@]}"; do
  check "carries /usr/bin/$program" contains "/usr/bin/$program"
done
check "carries the unit $unit_path" contains "$unit_path"
check "carries the account definition" contains /usr/lib/sysusers.d/moto-bridge.conf
check "carries the sample configuration $config_dir/vexaqv.cfg" contains "$config_dir/vexaqv.cfg"
dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles >"$scratch/conffiles"
check "the configuration is a conffile (kept on upgrade)" grep -qx "$config_dir/vexaqv.cfg" "$scratch/conffiles"
check "the configuration is the only conffile" test "$(cat "$scratch/conffiles")" = "$config_dir/vexaqv.cfg"
check "the package depends on the C library" sh -c "dpkg-deb -f '$deb' Depends | grep -q libc6"
if [ "$without_monitor" -eq 1 ]; then
  check "carries nothing of the monitor (program, unit, documents)" sh -c "! grep -i monitor '$scratch/files'"
  check "the description does not mention the monitor" sh -c "! dpkg-deb -f '$deb' Description | grep -qi monitor"
  check "the package depends on none of the monitor's libraries" \
    sh -c "! dpkg-deb -f '$deb' Depends | grep -qE 'libsystemd|httplib'"
fi

declare -A machine=([amd64]="X86-64" [armhf]="ARM" [arm64]="AArch64")
mkdir "$scratch/unpacked"
dpkg-deb -x "$deb" "$scratch/unpacked"
elf_is_for_arch() { readelf -h "$1" | grep -E "Machine:.*${machine[$arch]}" >/dev/null; }
for program in "${programs[@]}"; do
  check "$program is an ELF program for $arch" elf_is_for_arch "$scratch/unpacked/usr/bin/$program"
done

if [ "$arch" != "$(dpkg --print-architecture)" ]; then
  echo "== $arch: not this machine's architecture, content checks only"
  echo "package checks: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi

# --- install into a scratch root, maintainer scripts run with DPKG_ROOT
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/etc"
touch "$root/var/lib/dpkg/status"
# The service account must reach the working directory inside it.
chmod 0755 "$scratch" "$root"
dpkg_root() {
  dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null "$@"
}
check "dpkg installs it into a scratch root" dpkg_root -i "$deb"

field() { awk -F: -v name=moto-bridge -v n="$2" '$1 == name { print $n }' "$root/etc/$1" 2>/dev/null || true; }
uid="$(field passwd 3)"
gid="$(field group 3)"
echo "     service account: $(grep '^moto-bridge:' "$root/etc/passwd" || echo none)"
check "postinst created the account moto-bridge" test -n "$uid"
check "the account is a system account without login" \
  sh -c "[ '${uid:-1000}' -lt 1000 ] && grep -q '^moto-bridge:.*:/usr/sbin/nologin\$' '$root/etc/passwd'"
config="$root$config_dir/vexaqv.cfg"
check "the configuration is readable by root and the account only" \
  test "$(stat -c '%a %u %g' "$config")" = "640 0 $gid"
check "the unit is enabled" test -L "$root/etc/systemd/system/multi-user.target.wants/moto-bridge.service"

unit="$root$unit_path"
echo "     installed unit $unit_path:"
sed 's/^/       /' "$unit"
has_line() { grep -qx "$1" "$unit"; }
for line in Restart=always RestartSec=5s "WorkingDirectory=$config_dir" ExecStart=/usr/bin/moto_bridge \
  User=moto-bridge NoNewPrivileges=yes ProtectSystem=strict PrivateTmp=yes \
  RestrictAddressFamilies=AF_INET StandardOutput=journal; do
  check "unit: $line" has_line "$line"
done

# systemd-analyze looks up the targets the unit names in the same root:
# lend it this machine's stock units.
cp -an /lib/systemd/system/. "$root/usr/lib/systemd/system/"
verify_clean() {
  local out
  out="$(systemd-analyze verify --root="$root" moto-bridge.service 2>&1)" || { echo "$out"; return 1; }
  [ -z "$out" ] || { echo "$out"; return 1; }
}
check "systemd-analyze verify reports nothing" verify_clean

# --- the dashboard, when the build had it
monitor_unit_path=/usr/lib/systemd/system/moto-bridge-monitor.service
has_monitor=0
[ -x "$root/usr/bin/moto_bridge_monitor" ] && has_monitor=1
if [ "$has_monitor" -eq 1 ]; then
  monitor_unit="$root$monitor_unit_path"
  check "carries the monitor's unit $monitor_unit_path" test -f "$monitor_unit"
  for line in DynamicUser=yes SupplementaryGroups=systemd-journal After=moto-bridge.service Restart=always \
    "ExecStart=/usr/bin/moto_bridge_monitor --unit moto-bridge.service --listen 127.0.0.1:8073" \
    NoNewPrivileges=yes ProtectSystem=strict ProtectHome=yes PrivateTmp=yes CapabilityBoundingSet= \
    IPAddressDeny=any IPAddressAllow=localhost; do
    check "monitor unit: $line" grep -qx -- "$line" "$monitor_unit"
  done
  check "the monitor's unit is not enabled by itself" \
    test ! -e "$root/etc/systemd/system/multi-user.target.wants/moto-bridge-monitor.service"
  verify_monitor_clean() {
    local out
    out="$(systemd-analyze verify --root="$root" moto-bridge-monitor.service 2>&1)" || { echo "$out"; return 1; }
    [ -z "$out" ] || { echo "$out"; return 1; }
  }
  check "systemd-analyze verify reports nothing on the monitor's unit" verify_monitor_clean
  echo "     $(systemd-analyze security --offline=yes --root="$root" moto-bridge-monitor.service 2>/dev/null |
    grep 'Overall exposure' || true)"
fi
echo "     $(systemd-analyze security --offline=yes --root="$root" moto-bridge.service 2>/dev/null | grep 'Overall exposure' || true)"

# --- the installed daemon starts with the installed sample configuration
log="$scratch/daemon.log"
start_daemon() {
  cd "$root$config_dir"
  if [ "$(id -u)" -eq 0 ] && ip netns add "moto-bridge-pkg-$$" 2>/dev/null; then
    netns="moto-bridge-pkg-$$"
    ip -n "$netns" link set lo up
    ip netns exec "$netns" setpriv --reuid="$uid" --regid="$gid" --clear-groups --no-new-privs \
      "$root/usr/bin/moto_bridge" >"$log" 2>&1 &
  else
    # Without namespaces the fixed ports are shared with every other test.
    echo "     no network namespace: running on this machine's loopback under the port lock"
    flock /tmp/bridge_ports.lock timeout 15 "$root/usr/bin/moto_bridge" >"$log" 2>&1 &
  fi
  daemon_pid=$!
  cd - >/dev/null
}
start_daemon
# The registration request goes out at start; with the sample configuration
# it comes straight back to the bridge's own port, which drops it as its own.
for _ in $(seq 1 120); do
  grep -q ": reflected" "$log" && break
  sleep 0.1
done
echo "     installed daemon's start-up output:"
# Colours removed; of the progress bar's frames only the last is shown.
sed 's/\x1b\[[0-9;]*m//g' "$log" |
  awk -F'\r' '{ for (i = NF; i > 1 && $i == ""; i--) {} print "       " $i }'
expect_output() { grep -qF -- "$1" "$log"; }
for text in "Read Configfile vexaqv.cfg" "AMBE Error Correction not activated" \
  "VEXAQuorvix 1.00 initialized...entering processing id" "[ OK ]" \
  "Start Moto           Modul  V0.01" "Start Repeater RDAC  Modul  V1.01" \
  "Start Voice to Motorola Pthread" ": reflected"; do
  check "daemon printed: $text" expect_output "$text"
done
check "daemon printed no failure" sh -c "! grep -qiE 'failed|Can not read' '$log'"
check "daemon still runs" kill -0 "$daemon_pid"
if [ -n "$netns" ]; then
  check "daemon runs as the service account" \
    sh -c "grep -E '^Uid:' /proc/$daemon_pid/status | grep -qw '$uid'"
  # 62005..62007 and RptrPort 50000 of the sample, in /proc's hexadecimal.
  ip netns exec "$netns" cat /proc/net/udp >"$scratch/udp"
  for port in F235 F236 F237 C350; do
    check "daemon bound UDP port $((16#$port))" grep -q "^ *[0-9]*: 00000000:$port " "$scratch/udp"
  done
fi
# The installed monitor reads what the installed daemon printed, as the
# service account, on the namespace's own loopback: it answers, and the
# sample configuration's key shows nowhere.
if [ "$has_monitor" -eq 1 ] && [ -n "$netns" ] && command -v curl >/dev/null; then
  key="$(sed -n 's/^NetworkKey=//p' "$config" | tr -d '\r')"
  ip netns exec "$netns" setpriv --reuid="$uid" --regid="$gid" --clear-groups --no-new-privs \
    "$root/usr/bin/moto_bridge_monitor" --stdin --listen 127.0.0.1:8073 <"$log" >"$scratch/monitor.log" 2>&1 &
  monitor_pid=$!
  for _ in $(seq 1 50); do
    ip netns exec "$netns" curl -fsS --max-time 2 http://127.0.0.1:8073/api/status >"$scratch/status.json" 2>/dev/null &&
      break
    sleep 0.1
  done
  check "the installed monitor answers /api/status" grep -q '"repeater"' "$scratch/status.json"
  for path in / /api/calls /api/positions /metrics; do
    ip netns exec "$netns" curl -fsS --max-time 2 "http://127.0.0.1:8073$path" >>"$scratch/served" 2>/dev/null || true
  done
  check "the installed monitor serves the page and the metrics" \
    sh -c "grep -q '<!DOCTYPE html>' '$scratch/served' && grep -q '^moto_bridge_repeater_registered ' '$scratch/served'"
  check "the monitor shows the key nowhere" \
    sh -c "[ -n '$key' ] && ! grep -qiF -- '$key' '$scratch/served' '$scratch/status.json' '$scratch/monitor.log'"
  kill "$monitor_pid" 2>/dev/null || true
  wait "$monitor_pid" 2>/dev/null || true
fi
kill "$daemon_pid" 2>/dev/null || true
wait "$daemon_pid" 2>/dev/null || true
daemon_pid=""
if [ -n "$netns" ]; then ip netns del "$netns"; netns=""; fi

# --- upgrade over an edited configuration, then purge
sed -i 's/^RptrCall=.*/RptrCall=DB0EDIT/' "$config"
check "dpkg upgrades over the installed package" dpkg_root -i "$deb"
check "the upgrade kept the edited configuration" grep -qx "RptrCall=DB0EDIT" "$config"
check "the upgrade did not add a second account" test "$(grep -c '^moto-bridge:' "$root/etc/passwd")" -eq 1
check "dpkg purges it" dpkg_root --purge moto-bridge
check "the purge removed the daemon, unit and configuration" \
  sh -c "[ ! -e '$root/usr/bin/moto_bridge' ] && [ ! -e '$unit' ] && [ ! -e '$config' ]"
if [ "$has_monitor" -eq 1 ]; then
  check "the purge removed the monitor and its unit" \
    sh -c "[ ! -e '$root/usr/bin/moto_bridge_monitor' ] && [ ! -e '$root$monitor_unit_path' ]"
fi
check "the purge removed the enable link" \
  test ! -e "$root/etc/systemd/system/multi-user.target.wants/moto-bridge.service"

echo "package checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
