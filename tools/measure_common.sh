# Sourced by the measuring scripts (from the repository root): the packages
# they need, the private network of tools/netns.sh and the build of the
# daemon and the simulated peers (tools/sim_build.sh).
. tools/deps.sh
ensure_packages g++ cmake make libssl-dev iproute2 util-linux
. tools/netns.sh
. tools/sim_build.sh
