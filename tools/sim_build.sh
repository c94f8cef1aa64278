# Sourced by demo.sh and measure.sh: builds the daemon and the simulated
# peers (Release, build/demo) quietly, showing the build output only when it
# fails. Sets $bin to the folder of the programs.
build_sim_programs() {
  local log="$1"
  shift
  local build=build/demo
  echo "Building the daemon and the simulated peers (Release, $build)..."
  if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRIDGE_TESTS=OFF -DBRIDGE_BENCHMARKS=OFF &&
    cmake --build "$build" -j 2 --target moto_bridge moto_bridge_sim_repeater moto_bridge_sim_master "$@"; } \
    >"$log" 2>&1; then
    cat "$log"
    return 1
  fi
  bin="$(pwd)/$build"
}
