# The one place that makes the private two-host network for the bridge and
# its simulated peers: sourced by demo.sh and measure.sh, and run as a
# program by the end-to-end tests' bench (see the end of this file). The
# daemon binds its ports on the wildcard address and shares port numbers
# with its peers, so it needs a host of its own: two network namespaces
# joined by a veth pair, the bridge at 192.0.2.1 and both peers at
# 192.0.2.2 (documentation addresses).
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

# netns_pair BRIDGE_NS PEER_NS VETH_B VETH_P: the two hosts joined by a
# veth pair, the bridge at 192.0.2.1 and the peers at 192.0.2.2. Stops at
# the first step that fails.
netns_pair() {
  local bridge="$1" peer="$2" vb="$3" vp="$4" ns
  ip netns add "$bridge" || return 1
  ip netns add "$peer" || return 1
  ip link add "$vb" type veth peer name "$vp" || return 1
  ip link set "$vb" netns "$bridge" || return 1
  ip link set "$vp" netns "$peer" || return 1
  ip -n "$bridge" addr add 192.0.2.1/24 dev "$vb" || return 1
  ip -n "$peer" addr add 192.0.2.2/24 dev "$vp" || return 1
  for ns in "$bridge" "$peer"; do
    ip -n "$ns" link set lo up || return 1
  done
  ip -n "$bridge" link set "$vb" up || return 1
  ip -n "$peer" link set "$vp" up
}

# netns_third_host PEER_NS THIRD_NS VETH_P BRIDGE_DEV VETH_Q VETH_X COUNT: a
# third host on the same segment with COUNT addresses from 192.0.2.3 on. The
# peers' end of the pair (VETH_P) moves under a Linux bridge device in the
# peers' host, which takes over 192.0.2.2; a second veth pair joins the
# third host to it.
netns_third_host() {
  local peer="$1" third="$2" vp="$3" br="$4" vq="$5" vx="$6" count="$7" i
  ip netns add "$third" || return 1
  ip -n "$peer" link add "$br" type bridge || return 1
  ip -n "$peer" addr del 192.0.2.2/24 dev "$vp" || return 1
  ip -n "$peer" link set "$vp" master "$br" || return 1
  ip -n "$peer" addr add 192.0.2.2/24 dev "$br" || return 1
  ip -n "$peer" link set "$br" up || return 1
  ip link add "$vx" type veth peer name "$vq" || return 1
  ip link set "$vq" netns "$peer" || return 1
  ip link set "$vx" netns "$third" || return 1
  ip -n "$peer" link set "$vq" master "$br" || return 1
  ip -n "$peer" link set "$vq" up || return 1
  ip -n "$third" link set "$vx" up || return 1
  ip -n "$third" link set lo up || return 1
  for ((i = 0; i < count; ++i)); do
    ip -n "$third" addr add "192.0.2.$((3 + i))/24" dev "$vx" || return 1
  done
}

# netns_up PREFIX: makes PREFIX_b (bridge, 192.0.2.1) and PREFIX_p (peers,
# 192.0.2.2). Sets NETNS_BRIDGE and NETNS_PEER.
netns_up() {
  local prefix="$1"
  NETNS_BRIDGE="${prefix}_b"
  NETNS_PEER="${prefix}_p"
  trap netns_down EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  NETNS_NAMES+=("$NETNS_BRIDGE" "$NETNS_PEER")
  netns_pair "$NETNS_BRIDGE" "$NETNS_PEER" "${prefix:0:10}vb" "${prefix:0:10}vp"
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

# Run as a program, for the end-to-end tests' bench (as root, names given):
#   netns.sh create BRIDGE_NS PEER_NS VETH_B VETH_P
#   netns.sh third PEER_NS THIRD_NS VETH_P BRIDGE_DEV VETH_Q VETH_X COUNT
#   netns.sh delete NS...
# The caller removes what it made with `delete`, also after a failed step.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    create) [ $# -eq 5 ] && netns_pair "${@:2}" ;;
    third) [ $# -eq 8 ] && netns_third_host "${@:2}" ;;
    delete)
      for ns in "${@:2}"; do
        ip netns del "$ns" 2>/dev/null || true
      done
      ;;
    *)
      echo "usage: $0 create|third|delete ..." >&2
      exit 2
      ;;
  esac
fi
