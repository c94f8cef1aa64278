# Sourced by the package tests: `check DESCRIPTION COMMAND...` runs one check,
# prints ok or FAIL and counts it in $passed / $failed.
passed=0
failed=0
check() {
  local what="$1"
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok   $what"
  else
    failed=$((failed + 1))
    echo "FAIL $what"
  fi
}
