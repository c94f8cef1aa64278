# shellcheck shell=bash
# Sourced by the build, test and demo scripts: makes sure the Debian packages
# a step needs are installed.
#
#   ensure_packages pkg...             # installs what is missing, or stops (exit 1)
#   ensure_packages --optional pkg...  # returns 1 instead, the reason left in
#                                      # $ensure_packages_reason
#
# When every package is installed it does nothing at all. As root it installs
# the missing ones; otherwise it prints the one line to run and stops (with
# --optional it only returns 1). A mirror in the middle of a sync serves index
# files that do not match their Release file, so `apt-get update` is tried up
# to three times and the install is tried whatever it said: the packages may
# well be installable from the lists already on the machine. Only a failed
# install fails, with one line naming the packages and apt's reason.
#
#   APT_HELPER_OPTIONS  extra apt-get options, split at blanks and newlines (another sources
#                       list, scratch directories)
#   APT_HELPER_PAUSE    seconds between update attempts (default 5)
#
# apt_retry (below) is the retry itself, for other apt-based steps too.

ensure_packages_reason=""

ensure_packages() {
  local optional=0
  if [ "${1:-}" = "--optional" ]; then
    optional=1
    shift
  fi
  ensure_packages_reason=""
  local missing=()
  local pkg
  for pkg in "$@"; do
    # An unqualified Multi-Arch: same package prints one status per installed
    # architecture, hence the pattern.
    case "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" in
      *"install ok installed"*) ;;
      *) missing+=("$pkg") ;;
    esac
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    ensure_packages_reason="not installed, and installing needs root: sudo apt-get install -y ${missing[*]}"
    [ "$optional" -eq 0 ] || return 1
    echo "Missing packages. Run this once, then try again:"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
  fi

  local options=()
  # -d '': the options may span lines; read then reports the missing NUL.
  read -r -d '' -a options <<<"${APT_HELPER_OPTIONS:-}" || true
  # Wait for another apt run (unattended upgrades, a second build) instead
  # of failing on its lock.
  options+=(-o DPkg::Lock::Timeout=300)
  local log
  log="$(mktemp /tmp/apt-helper.XXXXXX)"
  echo "Installing: ${missing[*]}"

  # --error-on=any: an index that could not be fetched counts as a failure
  # (apt only warns about it otherwise), so it is retried.
  local update_error=""
  if ! apt_retry "$log" "apt-get update" apt-get "${options[@]}" -qq --error-on=any update; then
    update_error="$apt_retry_error"
    echo "apt-get update failed $apt_retry_attempts times, installing from the package lists at hand: $update_error"
  fi

  if DEBIAN_FRONTEND=noninteractive apt-get "${options[@]}" -y -q install "${missing[@]}" >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  ensure_packages_reason="could not install ${missing[*]}: $(_apt_install_reason "$log")"
  if [ -n "$update_error" ]; then
    ensure_packages_reason+=" (package lists not refreshed: $update_error)"
  fi
  rm -f "$log"
  [ "$optional" -eq 0 ] || return 1
  echo "Package install FAILED: $ensure_packages_reason" >&2
  exit 1
}

# apt_retry LOG WHAT COMMAND...: runs COMMAND, its output in LOG, up to
# three times, $APT_HELPER_PAUSE seconds apart: a mirror in the middle of a
# sync serves index files that do not match their Release file for a while.
# Returns 1 after the third failure, with apt's first error in
# $apt_retry_error. $apt_retry_attempts is the number of tries, for the
# callers' messages too.
apt_retry_error=""
apt_retry_attempts=3
apt_retry() {
  local log="$1" what="$2"
  shift 2
  local attempt attempts=$apt_retry_attempts pause="${APT_HELPER_PAUSE:-5}"
  for ((attempt = 1; attempt <= attempts; attempt++)); do
    if "$@" >"$log" 2>&1; then
      apt_retry_error=""
      return 0
    fi
    apt_retry_error="$(_apt_first_error "$log")"
    if [ "$attempt" -lt "$attempts" ]; then
      echo "$what failed (attempt $attempt of $attempts), again in $pause s: $apt_retry_error"
      sleep "$pause"
    fi
  done
  return 1
}

# The first error apt reported in a log, without its "E: ".
_apt_first_error() {
  local line
  while IFS= read -r line; do
    case "$line" in
      "E: "*)
        echo "${line#E: }" | tr -s ' '
        return 0
        ;;
    esac
  done <"$1"
  echo "apt-get gave no reason"
}

# apt's reason for a failed install in one line: one unmet dependency, an
# exact-version one when there is one (a library whose index could not be
# fetched must match the version installed for this machine's own
# architecture, which is the usual cause on a mirror mid-sync), and the first
# two errors.
_apt_install_reason() {
  local line unmet="" unmet_count=0 package="" dependency errors=() in_unmet=0
  while IFS= read -r line; do
    case "$line" in
      *"have unmet dependencies:"*) in_unmet=1 ;;
      "E: "*) errors+=("$(echo "${line#E: }" | tr -s ' ')") ;;
      " "*)
        [ "$in_unmet" -eq 1 ] || continue
        line="$(echo "$line" | tr -s ' ' | sed 's/^ //')"
        case "$line" in
          *" : "*)
            package="${line%% : *}"
            dependency="${line#* : }"
            ;;
          *) dependency="$line" ;;
        esac
        unmet_count=$((unmet_count + 1))
        if [ -z "$unmet" ] || { [[ "$unmet" != *"(= "* ]] && [[ "$dependency" == *"(= "* ]]; }; then
          unmet="$package : $dependency"
        fi
        ;;
      *) in_unmet=0 ;;
    esac
  done <"$1"
  local reason="$unmet"
  if [ "$unmet_count" -gt 1 ]; then
    reason+=" (and $((unmet_count - 1)) more unmet dependencies)"
  fi
  local i
  for i in 0 1; do
    [ -n "${errors[$i]:-}" ] || break
    reason+="${reason:+; }${errors[$i]}"
  done
  if [ ${#errors[@]} -gt 2 ]; then
    reason+="; and $((${#errors[@]} - 2)) more"
  fi
  echo "${reason:-apt-get gave no reason}"
}
