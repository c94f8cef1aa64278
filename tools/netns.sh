# Sourced by demo.sh and measure.sh: a private two-host network for the
# bridge and its simulated peers. The daemon binds its ports on the wildcard
# address and shares port numbers with its peers, so it needs a host of its
# own: two network namespaces joined by a veth pair, the bridge at
# 192.0.2.1 and both peers at 192.0.2.2 (documentation addresses).
#
# As root the namespaces are made directly. Otherwise the calling script is
# run again inside a user namespace of its own (rootless), where the kernel
# allows that. Everything made here is removed on every exit path.

NETNS_PIDS=()
NETNS_NAMES=()

# Makes sure namespaces can be made: returns when running as root (real or
# inside the user namespace); otherwise re-runs the script rootless, or says
# in one line what to run instead and exits.
netns_require() {
  if [ "$(id -u)" -eq 0 ]; then
    if ! command -v ip >/dev/null || ! ip netns list >/dev/null 2>&1; then
      echo "Cannot use network namespaces here (ip netns failed); run this on a Linux host with iproute2." >&2
      exit 1
    fi
    if [ -n "${MB_NETNS_ROOTLESS:-}" ]; then
      # Inside the user namespace: a private /run holds the namespace handles.
      mount -t tmpfs tmpfs /run 2>/dev/null || true
      mkdir -p /run/netns
    fi
    return 0
  fi
  if [ -z "${MB_NETNS_ROOTLESS:-}" ] && command -v unshare >/dev/null &&
    unshare --user --map-root-user --net --mount true 2>/dev/null; then
    echo "Not root: running in a user namespace of its own (rootless)."
    MB_NETNS_ROOTLESS=1 exec unshare --user --map-root-user --net --mount --propagation private \
      bash "$0" "$@"
  fi
  echo "Cannot create network namespaces (not root, user namespaces not allowed); run: sudo bash $0" >&2
  exit 1
}

# netns_up PREFIX: makes PREFIX_b (bridge, 192.0.2.1) and PREFIX_p (peers,
# 192.0.2.2). Sets NETNS_BRIDGE and NETNS_PEER.
netns_up() {
  local prefix="$1"
  NETNS_BRIDGE="${prefix}_b"
  NETNS_PEER="${prefix}_p"
  local vb="${prefix:0:10}vb" vp="${prefix:0:10}vp"
  trap netns_down EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  ip netns add "$NETNS_BRIDGE"
  NETNS_NAMES+=("$NETNS_BRIDGE")
  ip netns add "$NETNS_PEER"
  NETNS_NAMES+=("$NETNS_PEER")
  ip link add "$vb" type veth peer name "$vp"
  ip link set "$vb" netns "$NETNS_BRIDGE"
  ip link set "$vp" netns "$NETNS_PEER"
  ip -n "$NETNS_BRIDGE" addr add 192.0.2.1/24 dev "$vb"
  ip -n "$NETNS_PEER" addr add 192.0.2.2/24 dev "$vp"
  local ns
  for ns in "$NETNS_BRIDGE" "$NETNS_PEER"; do
    ip -n "$ns" link set lo up
  done
  ip -n "$NETNS_BRIDGE" link set "$vb" up
  ip -n "$NETNS_PEER" link set "$vp" up
}

# netns_start NS LOG COMMAND...: runs COMMAND in namespace NS in the
# background, output to LOG; its pid goes to NETNS_LAST_PID.
netns_start() {
  local ns="$1" log="$2"
  shift 2
  ip netns exec "$ns" "$@" >"$log" 2>&1 &
  NETNS_LAST_PID=$!
  NETNS_PIDS+=("$NETNS_LAST_PID")
}

# Ends the given process (by pid) and waits for it, at most 5 s.
netns_stop_pid() {
  local pid="$1" i
  kill -TERM "$pid" 2>/dev/null || return 0
  for i in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

netns_down() {
  local pid ns
  for pid in "${NETNS_PIDS[@]}"; do
    netns_stop_pid "$pid"
  done
  NETNS_PIDS=()
  for ns in "${NETNS_NAMES[@]}"; do
    ip netns del "$ns" 2>/dev/null || true
  done
  NETNS_NAMES=()
}
