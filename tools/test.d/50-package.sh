#!/bin/bash
# Packaging stage: checks `cmake --install`, builds the amd64 Debian package
# in build/pkg and tests it (scratch-root install, unit verification, the
# installed daemon's start, upgrade, purge); builds the daemon alone
# (-DBRIDGE_MONITOR=OFF) in build/pkg-daemon, runs its unit tests and tests
# its package, which must hold nothing of the monitor; and checks the
# contents and dependencies of the armhf and arm64 packages that
# tools/cross.sh made, when they are there.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tools/deps.sh
# The monitor's libraries too: the amd64 package carries the monitor, as the
# ARM ones (whose sysroots have them) do.
ensure_packages g++ cmake ninja-build dpkg-dev util-linux libgtest-dev libbenchmark-dev libssl-dev \
  libsystemd-dev libcpp-httplib-dev nlohmann-json3-dev
started=$SECONDS

# The build's own targets (programs, tests, libraries), by name.
targets_of() {
  ninja -C "$1" -t targets all | sed -n 's/^\([A-Za-z0-9_]*\): .*/\1/p' | grep -v '^cmake_object_order_depends_target_'
}

cmake -S . -B build/pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBRIDGE_WERROR=ON -DBRIDGE_TESTS=OFF -DBRIDGE_BENCHMARKS=OFF >/dev/null
programs=(moto_bridge)
for peer in moto_bridge_sim_repeater moto_bridge_sim_master moto_bridge_monitor; do
  if targets_of build/pkg | grep -x "$peer" >/dev/null; then programs+=("$peer"); fi
done
cmake --build build/pkg -j 2 --target "${programs[@]}"
rm -f build/pkg/moto-bridge_*.deb
(cd build/pkg && cpack -G DEB >/dev/null)

bash packaging/test-install.sh build/pkg "${programs[@]}"
bash packaging/test-package.sh build/pkg/moto-bridge_*_amd64.deb "${programs[@]}"

# The daemon alone, as on a board without the monitor's libraries: nothing
# of the monitor in the build, the daemon's unit tests (not the end-to-end
# ones, which need no monitor either) and every benchmark build and pass,
# and the package installs and runs without it.
echo "== the daemon without the monitor (-DBRIDGE_MONITOR=OFF, build/pkg-daemon)"
daemon_started=$SECONDS
daemon=build/pkg-daemon
cmake -S . -B "$daemon" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBRIDGE_WERROR=ON -DBRIDGE_MONITOR=OFF >/dev/null
mapfile -t daemon_targets < <(targets_of "$daemon")
if printf '%s\n' "${daemon_targets[@]}" | grep -i monitor; then
  echo "FAIL: the build without the monitor still has the targets above" >&2
  exit 1
fi
mapfile -t checked < <(printf '%s\n' "${daemon_targets[@]}" | grep -E '_(test|bench)$' | grep -vE '^(e2e_|sim_e2e_)')
daemon_programs=(moto_bridge moto_bridge_sim_repeater moto_bridge_sim_master)
cmake --build "$daemon" -j 2 --target "${daemon_programs[@]}" "${checked[@]}"
(cd "$daemon" && flock /tmp/bridge_ports.lock ctest -j 2 --output-on-failure -E '_NOT_BUILT$') >"$daemon/unit-tests.log" 2>&1 ||
  { cat "$daemon/unit-tests.log"; exit 1; }
grep -E 'tests passed' "$daemon/unit-tests.log"
rm -f "$daemon"/moto-bridge_*.deb
(cd "$daemon" && cpack -G DEB >/dev/null)
bash packaging/test-package.sh --without-monitor "$daemon"/moto-bridge_*_amd64.deb "${daemon_programs[@]}"
echo "== the daemon without the monitor: built, tested and packaged in $((SECONDS - daemon_started)) s"

# The ARM packages carry the same programs and depend on the same packages
# (their versions aside) as the amd64 one: their dependencies are worked
# out from the sysroot, which this machine's dpkg does not know.
depends_of() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/(.*)//; s/ //g' | sort; }
for arch in armhf arm64; do
  for deb in build/"$arch"/moto-bridge_*_"$arch".deb; do
    [ -e "$deb" ] || continue
    bash packaging/test-package.sh "$deb" "${programs[@]}"
    if [ "$(depends_of "$deb")" != "$(depends_of build/pkg/moto-bridge_*_amd64.deb)" ]; then
      echo "FAIL: $deb depends on: $(dpkg-deb -f "$deb" Depends)" >&2
      echo "      the amd64 package on: $(dpkg-deb -f build/pkg/moto-bridge_*_amd64.deb Depends)" >&2
      exit 1
    fi
    echo "ok   $deb depends on the same packages as the amd64 one: $(dpkg-deb -f "$deb" Depends)"
  done
done
echo "== packaging stage took $((SECONDS - started)) s"
