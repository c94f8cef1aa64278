# shellcheck shell=bash
# Sourced by demo.sh and the measuring scripts: builds the daemon and the simulated
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

# write_sim_config FILE KEY [LINE...]: the bridge's configuration for the
# private network (peers at 192.0.2.2, repeater port 50000, call sign
# DB0SIM, repeater 262999, bridge peer 262998) with the given network key,
# and any further lines (optional keys).
write_sim_config() {
  local file="$1" key="$2"
  shift 2
  printf '%s\n' RptrCall=DB0SIM RptrID=262999 RptrIP=192.0.2.2 RptrPort=50000 MasterIP=192.0.2.2 \
    RptrQRGtx=439500000 RptrQRGrx=431900000 MyBridgeID=262998 "NetworkKey=$key" "$@" >"$file"
}

# start_sim_run DIR PEER_NS BRIDGE_NS KEY SEED SECONDS [COMMAND...]: the
# simulated master and repeater on PEER_NS with the scripts, records and logs
# in DIR (network key KEY, the master's seed SEED, both ending after SECONDS
# at the latest), then the daemon on BRIDGE_NS in DIR (its configuration
# there): COMMAND, by default "$bin/moto_bridge"; another build, or the
# daemon under an emulator, is given as its own words. Their pids go to
# RUN_MASTER, RUN_REPEATER and RUN_DAEMON (needs tools/netns.sh).
start_sim_run() {
  local dir="$1" peer="$2" bridge="$3" key="$4" seed="$5" seconds="$6"
  shift 6
  [ $# -gt 0 ] || set -- "$bin/moto_bridge"
  netns_start "$peer" "$dir/master.log" "$bin/moto_bridge_sim_master" --json "$dir/master.jsonl" \
    --script "$dir/master.script" --seed "$seed" --duration "$seconds"
  RUN_MASTER=$NETNS_LAST_PID
  netns_start "$peer" "$dir/repeater.log" "$bin/moto_bridge_sim_repeater" --key "$key" \
    --json "$dir/repeater.jsonl" --script "$dir/repeater.script" --duration "$seconds"
  RUN_REPEATER=$NETNS_LAST_PID
  sleep 0.3
  (cd "$dir" && exec ip netns exec "$bridge" "$@") >"$dir/daemon.log" 2>&1 &
  RUN_DAEMON=$!
  NETNS_PIDS+=("$RUN_DAEMON")
}
