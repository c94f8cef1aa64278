#!/bin/bash
# Packaging stage: checks `cmake --install`, builds the amd64 Debian package
# in build/pkg and tests it (scratch-root install, unit verification, the
# installed daemon's start, upgrade, purge), and checks the contents of the
# armhf and arm64 packages that tools/cross.sh made, when they are there.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tools/deps.sh
ensure_packages g++ cmake ninja-build dpkg-dev
started=$SECONDS

cmake -S . -B build/pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBRIDGE_WERROR=ON -DBRIDGE_TESTS=OFF -DBRIDGE_BENCHMARKS=OFF >/dev/null
programs=(moto_bridge)
for peer in moto_bridge_sim_repeater moto_bridge_sim_master moto_bridge_monitor; do
  # grep reads to the end (no -q), so ninja never dies of SIGPIPE under pipefail.
  if ninja -C build/pkg -t targets all | grep "^$peer:" >/dev/null; then programs+=("$peer"); fi
done
cmake --build build/pkg -j 2 --target "${programs[@]}"
rm -f build/pkg/moto-bridge_*.deb
(cd build/pkg && cpack -G DEB >/dev/null)

bash packaging/test-install.sh build/pkg "${programs[@]}"
bash packaging/test-package.sh build/pkg/moto-bridge_*_amd64.deb "${programs[@]}"
for arch in armhf arm64; do
  for deb in build/"$arch"/moto-bridge_*_"$arch".deb; do
    [ -e "$deb" ] || continue
    bash packaging/test-package.sh "$deb" "${programs[@]}"
  done
done
echo "== packaging stage took $((SECONDS - started)) s"
