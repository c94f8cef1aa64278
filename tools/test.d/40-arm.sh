#!/bin/bash
# ARM stage: cross-builds for armhf and arm64, runs the unit tests under
# qemu-user and makes both Debian packages (tools/cross.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
started=$SECONDS
bash tools/cross.sh armhf arm64
echo "== ARM stage took $((SECONDS - started)) s"
