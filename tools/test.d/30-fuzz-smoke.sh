#!/bin/bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a bounded time from its
# committed seed corpus. Any crash, sanitizer report, failed oracle, leak or
# hang fails the stage; the input that caused it is kept under
# build/fuzz/smoke/ for the report. tools/fuzz.sh runs the same targets for
# longer.
#
# Two targets at a time, one per core, for 35 s each: side by side a target
# makes about 85 % of the executions it makes alone, so each still gets
# what 30 s alone gave it, and the stage takes a little more than half as
# long as one at a time.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash tools/fuzz.sh --seconds "${FUZZ_SMOKE_SECONDS:-35}" --parallel "${FUZZ_SMOKE_PARALLEL:-2}" --quiet \
  --work build/fuzz/smoke
