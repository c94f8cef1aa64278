#!/bin/bash
# Cross-builds the bridge for ARM Linux with Debian's cross compilers, runs
# the unit tests under qemu-user and makes the Debian package of each
# architecture. The target's headers and libraries come from a sysroot per
# architecture that mmdebstrap extracts from this machine's Debian mirror
# (tools/sysroot.sh, build/sysroot/<arch>); nothing of the target is added
# to this machine's dpkg.
#
#   bash tools/cross.sh              # armhf (32-bit) and arm64 (64-bit)
#   bash tools/cross.sh arm64        # one architecture
#   bash tools/cross.sh --optional   # the test command's ARM stage
#
# Run by hand it fails when it cannot make a sysroot. With --optional (the
# test command) that, and only that, skips the stage: it prints one line
# "ARM stage SKIPPED: <reason>", writes the reason to $STAGE_SKIP_FILE when
# that is set and exits 77. The host packages (cross compilers, qemu-user,
# mmdebstrap) are ordinary packages of this machine: like the native ones,
# the stage fails when they cannot be installed. A failing build, unit test
# or package fails it too, after both architectures have had their turn.
#
# When $STAGE_DETAIL_FILE is set, one line there names what each
# architecture did: "armhf 151/151 unit tests under qemu-arm,
# moto-bridge_1.00-1_armhf.deb (300 s); arm64 ...".
#
# Build trees: build/armhf, build/arm64; packages land in them as
# moto-bridge_<version>_<arch>.deb. Only the installed programs and the unit
# tests are built. Left out of the qemu run, as end-to-end tests: every e2e_*
# and sim_e2e_* test program (they run the daemon, need root and network
# namespaces) and the two cases that bind the fixed port 62006 (listed in
# fixed_port_cases below).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
. tools/sysroot.sh

declare -A triplet=([armhf]=arm-linux-gnueabihf [arm64]=aarch64-linux-gnu)
declare -A qemu=([armhf]=qemu-arm [arm64]=qemu-aarch64)
fixed_port_cases='IpscPeerTest\.NetworkKeepAliveOnlyWhileLoggedIn|SupervisionTest\.LoginDatagramIsTheSingleByteA'

optional=0
if [ "${1:-}" = "--optional" ]; then
  optional=1
  shift
fi

arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(armhf arm64)
for arch in "${arches[@]}"; do
  if [ -z "${triplet[$arch]:-}" ]; then
    echo "Unknown architecture '$arch' (use armhf or arm64)" >&2
    exit 2
  fi
done

packages=(cmake ninja-build pkgconf dpkg-dev mmdebstrap qemu-user)
for arch in "${arches[@]}"; do packages+=("g++-${triplet[$arch]}"); done
ensure_packages "${packages[@]}"

for arch in "${arches[@]}"; do
  if ! ensure_sysroot "$arch"; then
    if [ "$optional" -eq 1 ]; then
      echo "ARM stage SKIPPED: $sysroot_reason"
      if [ -n "${STAGE_SKIP_FILE:-}" ]; then echo "$sysroot_reason" >"$STAGE_SKIP_FILE"; fi
      exit 77
    fi
    echo "$sysroot_reason" >&2
    exit 1
  fi
done

# Unit test programs: every test source but the end-to-end ones.
unit_tests=()
for source in tests/*_test.cpp; do
  name="$(basename "$source" .cpp)"
  case "$name" in
    e2e_* | sim_e2e_*) ;;
    *) unit_tests+=("$name") ;;
  esac
done

# grep reads to the end (no -q), so ninja never dies of SIGPIPE under pipefail.
has_target() { ninja -C "$1" -t targets all 2>/dev/null | grep "^$2:" >/dev/null; }

# build_arch ARCH: configure, build, unit tests under qemu, package. Prints
# what it did as the last line of $dir/cross-result.
build_arch() {
  local arch="$1" dir="build/$1" started=$SECONDS
  local result="$dir/cross-result"
  # A tree configured against another sysroot (or, before the sysroots,
  # against the host's multiarch libraries) keeps the libraries it found
  # then in its cache: it starts afresh.
  if ! cmp -s "build/sysroot/$arch.stamp" "$dir/sysroot.stamp"; then rm -rf "$dir"; fi
  mkdir -p "$dir"
  echo "$arch: FAILED to configure" >"$result"
  echo "== $arch: configure and build ($dir)"
  # -O2 as in the native builds: at -O3 GCC 12 reports false -Wrestrict
  # warnings inside std::string, and warnings are errors here too.
  local toolchain=()
  [ -f "$dir/CMakeCache.txt" ] || toolchain=(--toolchain "cmake/toolchains/$arch.cmake")
  cmake -S . -B "$dir" -G Ninja "${toolchain[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2 \
    -DCMAKE_INSTALL_PREFIX=/usr -DBRIDGE_WERROR=ON -DBRIDGE_BENCHMARKS=OFF >/dev/null || return 1
  cp "build/sysroot/$arch.stamp" "$dir/sysroot.stamp" || return 1
  local targets=(moto_bridge) tests=() program
  for program in moto_bridge_sim_repeater moto_bridge_sim_master moto_bridge_monitor; do
    if has_target "$dir" "$program"; then targets+=("$program"); fi
  done
  # The monitor's tests exist only when the monitor is built.
  for program in "${unit_tests[@]}"; do
    if has_target "$dir" "$program"; then tests+=("$program"); fi
  done
  echo "$arch: FAILED to build" >"$result"
  cmake --build "$dir" -j 2 --target "${targets[@]}" "${tests[@]}" || return 1

  echo "== $arch: unit tests under ${qemu[$arch]}"
  local log="$dir/qemu-tests.log" status=0
  (cd "$dir" && ctest -j 2 --output-on-failure -E "_NOT_BUILT\$|^($fixed_port_cases)\$") >"$log" 2>&1 || status=$?
  grep -E 'tests passed|Total Test time' "$log" || true
  # "100% tests passed, 0 tests failed out of 151"
  local failed total
  read -r failed total < <(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$log")
  if [ "$status" -ne 0 ] || [ "${total:-0}" -eq 0 ]; then
    cat "$log"
    echo "$arch: ${failed:-?} of ${total:-?} unit tests FAILED under ${qemu[$arch]}" >"$result"
    return 1
  fi

  echo "== $arch: Debian package"
  echo "$arch: $total/$total unit tests passed under ${qemu[$arch]}, FAILED to package" >"$result"
  rm -f "$dir"/moto-bridge_*.deb
  (cd "$dir" && cpack -G DEB >/dev/null) || return 1
  local deb
  deb="$(ls "$dir"/moto-bridge_*_"$arch".deb)" || return 1
  echo "$arch $total/$total unit tests under ${qemu[$arch]}, ${deb##*/} ($((SECONDS - started)) s)" >"$result"
}

summary=()
failed=0
for arch in "${arches[@]}"; do
  build_arch "$arch" || failed=1
  summary+=("$(tail -n 1 "build/$arch/cross-result")")
done

detail="$(printf '%s; ' "${summary[@]}")"
detail="${detail%; }"
if [ -n "${STAGE_DETAIL_FILE:-}" ]; then echo "$detail" >"$STAGE_DETAIL_FILE"; fi
echo "== ARM summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
