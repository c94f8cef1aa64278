#!/bin/bash
# Cross-builds the bridge for ARM Linux with Debian's cross compilers, runs
# the unit tests under qemu-user and makes the Debian package of each
# architecture.
#
#   bash tools/cross.sh              # armhf (32-bit) and arm64 (64-bit)
#   bash tools/cross.sh arm64        # one architecture
#   bash tools/cross.sh --optional   # the test command's ARM stage
#
# Run by hand it fails when the cross toolchain or the ARM libraries cannot
# be installed. With --optional (the test command) it prints one line
# "ARM stage SKIPPED: <packages and apt's reason>" instead, writes the reason
# to $STAGE_SKIP_FILE when that is set and exits 77, so a mirror that cannot
# serve the ARM indexes does not decide the run; once they are installed, a
# failing build or test fails it as before.
#
# Build trees: build/armhf, build/arm64; packages land in them as
# moto-bridge_<version>_<arch>.deb. Only the library, the installed programs
# and the unit tests are built. Left out of the qemu run, as end-to-end
# tests: every e2e_* and sim_e2e_* test program (they run the daemon, need
# root and network namespaces) and the two cases that bind the fixed port
# 62006 (listed in fixed_port_cases below).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

declare -A triplet=([armhf]=arm-linux-gnueabihf [arm64]=aarch64-linux-gnu)
declare -A qemu=([armhf]=qemu-arm [arm64]=qemu-aarch64)
fixed_port_cases='IpscPeerTest\.NetworkKeepAliveOnlyWhileLoggedIn|SupervisionTest\.LoginDatagramIsTheSingleByteA'

optional=0
if [ "${1:-}" = "--optional" ]; then
  optional=1
  shift
fi
skip_stage() {
  echo "ARM stage SKIPPED: $1"
  if [ -n "${STAGE_SKIP_FILE:-}" ]; then echo "$1" >"$STAGE_SKIP_FILE"; fi
  exit 77
}

arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(armhf arm64)
for arch in "${arches[@]}"; do
  if [ -z "${triplet[$arch]:-}" ]; then
    echo "Unknown architecture '$arch' (use armhf or arm64)" >&2
    exit 2
  fi
done

# The target's OpenSSL, GoogleTest and C++ runtime come from Debian's
# multiarch packages, which need the architecture enabled first.
packages=(cmake ninja-build qemu-user dpkg-dev)
for arch in "${arches[@]}"; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    if [ "$(id -u)" -ne 0 ]; then
      if [ "$optional" -eq 1 ]; then
        skip_stage "the $arch architecture is not enabled: sudo dpkg --add-architecture $arch && sudo apt-get update"
      fi
      echo "Enable the $arch architecture once, then try again:"
      echo "  sudo dpkg --add-architecture $arch && sudo apt-get update"
      exit 1
    fi
    # ensure_packages updates the package lists, as the $arch packages are new.
    dpkg --add-architecture "$arch"
  fi
  packages+=("g++-${triplet[$arch]}" "libstdc++6:$arch" "libssl-dev:$arch" "libgtest-dev:$arch"
    "libsystemd-dev:$arch" "libcpp-httplib-dev:$arch")
done
packages+=(nlohmann-json3-dev)
if [ "$optional" -eq 1 ]; then
  ensure_packages --optional "${packages[@]}" || skip_stage "$ensure_packages_reason"
else
  ensure_packages "${packages[@]}"
fi

# Unit test programs: every test source but the end-to-end ones.
unit_tests=()
for source in tests/*_test.cpp; do
  name="$(basename "$source" .cpp)"
  case "$name" in
    e2e_* | sim_e2e_* | package_*) ;;
    *) unit_tests+=("$name") ;;
  esac
done

# grep reads to the end (no -q), so ninja never dies of SIGPIPE under pipefail.
has_target() { ninja -C "$1" -t targets all 2>/dev/null | grep "^$2:" >/dev/null; }

summary=()
for arch in "${arches[@]}"; do
  dir="build/$arch"
  echo "== $arch: configure and build ($dir)"
  # -O2 as in the native builds: at -O3 GCC 12 reports false -Wrestrict
  # warnings inside std::string, and warnings are errors here too.
  toolchain=()
  [ -f "$dir/CMakeCache.txt" ] || toolchain=(--toolchain "cmake/toolchains/$arch.cmake")
  cmake -S . -B "$dir" -G Ninja "${toolchain[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2 \
    -DCMAKE_INSTALL_PREFIX=/usr -DBRIDGE_WERROR=ON -DBRIDGE_BENCHMARKS=OFF >/dev/null
  targets=(moto_bridge)
  for program in moto_bridge_sim_repeater moto_bridge_sim_master moto_bridge_monitor; do
    if has_target "$dir" "$program"; then targets+=("$program"); fi
  done
  cmake --build "$dir" -j 2 --target "${targets[@]}" "${unit_tests[@]}"

  echo "== $arch: unit tests under ${qemu[$arch]}"
  log="$dir/qemu-tests.log"
  status=0
  (cd "$dir" && ctest -j 2 --output-on-failure -E "_NOT_BUILT\$|^($fixed_port_cases)\$") >"$log" 2>&1 || status=$?
  grep -E 'tests passed|Total Test time' "$log" || true
  if [ "$status" -ne 0 ]; then
    cat "$log"
    echo "== $arch: unit tests FAILED under ${qemu[$arch]}" >&2
    exit 1
  fi

  echo "== $arch: Debian package"
  (cd "$dir" && cpack -G DEB >/dev/null)
  deb="$(ls "$dir"/moto-bridge_*_"$arch".deb)"
  summary+=("$arch: $(grep -E 'tests passed' "$log" | sed 's/^ *//') under ${qemu[$arch]}; package $deb")
done

echo "== ARM summary"
printf '%s\n' "${summary[@]}"
