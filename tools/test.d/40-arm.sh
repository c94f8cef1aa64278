#!/bin/bash
# ARM stage: cross-builds for armhf and arm64 against sysroots made by
# mmdebstrap, runs the unit tests under qemu-user and makes both Debian
# packages (tools/cross.sh). Skipped (exit 77, the reason in
# $STAGE_SKIP_FILE) only when a sysroot cannot be made; the tests passed and
# the packages made go to the stage's summary line ($STAGE_DETAIL_FILE).
set -euo pipefail
cd "$(dirname "$0")/../.."
started=$SECONDS
bash tools/cross.sh --optional armhf arm64
echo "== ARM stage took $((SECONDS - started)) s"
