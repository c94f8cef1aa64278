#!/bin/bash
# Builds the bridge and runs it in ./run with the configuration found there.
# A first run copies the example configuration, which keeps all traffic on
# this machine (both peers at 127.0.0.1); edit run/vexaqv.cfg for real use.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
ensure_packages g++ cmake make

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBRIDGE_TESTS=OFF -DBRIDGE_BENCHMARKS=OFF >/dev/null
cmake --build build/release --target moto_bridge -j "$(nproc)"

mkdir -p run
if [ ! -f run/vexaqv.cfg ]; then
  cp config/vexaqv.cfg.example run/vexaqv.cfg
  echo "Created run/vexaqv.cfg from config/vexaqv.cfg.example"
fi
cd run
exec ../build/release/moto_bridge
