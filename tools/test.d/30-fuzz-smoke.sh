#!/bin/bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a bounded time from its
# committed seed corpus. Any crash, sanitizer report, failed oracle, leak or
# hang fails the stage; the input that caused it is kept under
# build/fuzz/smoke/ for the report. tools/fuzz.sh runs the same targets for
# longer.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec bash tools/fuzz.sh --seconds "${FUZZ_SMOKE_SECONDS:-30}" --parallel 1 --quiet --work build/fuzz/smoke
