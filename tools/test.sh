#!/bin/bash
# Builds everything with warnings as errors under g++ and clang++, then runs
# every test through CTest with the g++ build.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
ensure_packages g++ clang cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl iproute2

jobs="$(nproc)"
CXX=clang++ cmake -S . -B build/clang -G Ninja -DBRIDGE_WERROR=ON >/dev/null
cmake --build build/clang -j "$jobs"

CXX=g++ cmake -S . -B build/gcc -G Ninja -DBRIDGE_WERROR=ON >/dev/null
cmake --build build/gcc -j "$jobs"
(cd build/gcc && ctest --output-on-failure -j "$jobs")

# Further stages (sanitizer runs, fuzzing, cross-builds, packaging), each a
# script of its own, in the order of their names.
for stage in tools/test.d/*.sh; do
  [ -e "$stage" ] || continue
  echo "== ${stage##*/}"
  bash "$stage"
done
