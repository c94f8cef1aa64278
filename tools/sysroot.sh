# shellcheck shell=bash
# Sourced by tools/cross.sh (after tools/deps.sh): the target's root of files
# for a cross-build, one per Debian architecture.
#
#   ensure_sysroot ARCH    # makes or reuses build/sysroot/ARCH; returns 1 when
#                          # it cannot, the reason in one line in $sysroot_reason
#
# mmdebstrap extracts (does not install) the target's C and C++ runtime and
# the headers and libraries the bridge, its tests and the monitor link
# against, from this machine's own Debian mirror: the suites of this
# machine's Debian release it is configured for (main, updates, security).
# Nothing of the target is added to this machine's dpkg, so the target's
# libraries never have to carry exactly the versions installed here.
#
# build/sysroot/ARCH.stamp holds the package list and the sources the
# sysroot was made from; while they are unchanged it is reused, otherwise
# made again. ARCH/DEBIAN/symbols and shlibs hold the packages' own
# dependency information, where dpkg-shlibdeps (cpack) finds it for the
# libraries under ARCH.
#
#   APT_HELPER_PAUSE   seconds between attempts (default 5): tried three times
#                      like apt-get update in tools/deps.sh

sysroot_packages=(libc6-dev libstdc++-12-dev libssl-dev libgtest-dev libsystemd-dev
  libcpp-httplib-dev nlohmann-json3-dev)
sysroot_reason=""

# This machine's Debian release (bookworm): the cross compilers are its own,
# so the target's C and C++ runtime must come from the same release.
_sysroot_release() { (. /etc/os-release && echo "${VERSION_CODENAME:-}"); }

# One source line per suite of RELEASE (the release, its updates and its
# security suite) that apt here is configured for, with its components:
# "deb URI SUITE COMPONENT...".
_sysroot_sources() {
  local codename="$1"
  apt-get indextargets --no-release-info --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' |
    awk -v release="$codename" '
      $1 == "deb" && ($3 == release || $3 == release "-updates" || $3 == release "-security") {
        key = $2 " " $3
        if (!(key in components)) { order[++n] = key; components[key] = "" }
        if (index(" " components[key] " ", " " $4 " ") == 0) components[key] = components[key] " " $4
      }
      END { for (i = 1; i <= n; i++) print "deb " order[i] components[order[i]] }'
}

ensure_sysroot() {
  local arch="$1"
  local dir="build/sysroot/$arch"
  sysroot_reason=""
  local release sources=()
  release="$(_sysroot_release)"
  [ -z "$release" ] || mapfile -t sources < <(_sysroot_sources "$release")
  if [ ${#sources[@]} -eq 0 ]; then
    sysroot_reason="no Debian source for this machine's release (${release:-unknown}) in its apt configuration"
    return 1
  fi
  local stamp
  stamp="$(printf 'mmdebstrap --variant=extract --architectures=%s %s\n' "$arch" "$release"
    printf '%s\n' "${sysroot_packages[@]}" "${sources[@]}")"
  if [ -d "$dir/usr" ] && [ "$(cat "$dir.stamp" 2>/dev/null)" = "$stamp" ]; then
    echo "$arch sysroot: $dir (reused, its packages and sources are unchanged)"
    return 0
  fi

  local new="$dir.new" log="$dir.log" include
  include="$(IFS=,; echo "${sysroot_packages[*]}")"
  mkdir -p "${dir%/*}"
  rm -f "$dir.stamp"
  local started=$SECONDS
  if ! apt_retry "$log" "mmdebstrap ($arch)" _sysroot_extract "$arch" "$release" "$new" "$include" "${sources[@]}"; then
    sysroot_reason="mmdebstrap could not make the $arch sysroot: $apt_retry_error"
    rm -rf "$new"
    return 1
  fi

  # Failing from here on is this script's fault, not the mirror's: the
  # caller (in whose conditional errexit is off) must not skip over it.
  _sysroot_finish "$new" "$dir" || { echo "could not finish the $arch sysroot in $dir" >&2; exit 1; }
  echo "$stamp" >"$dir.stamp"
  echo "$arch sysroot: $dir made in $((SECONDS - started)) s ($(du -sh "$dir" | cut -f1)) from:"
  printf '  %s\n' "${sources[@]}"
}

# _sysroot_extract ARCH RELEASE DIR PACKAGES SOURCE...: extracts the
# packages (comma-separated) and their dependencies into DIR, made anew. The
# packages stay in its cache until their dependency information is copied
# out (_sysroot_finish).
_sysroot_extract() {
  local arch="$1" release="$2" dir="$3" include="$4"
  shift 4
  rm -rf "$dir" &&
    mmdebstrap --variant=extract --architectures="$arch" --include="$include" --skip=cleanup/apt/cache \
      "$release" "$dir" "$@"
}

# Copies the packages' symbols and shlibs files into NEW/DEBIAN, empties the
# package cache and puts NEW in place of DIR.
_sysroot_finish() {
  local new="$1" dir="$2" deb control="$1/DEBIAN/control.tmp"
  mkdir -p "$new/DEBIAN" && : >"$new/DEBIAN/symbols" && : >"$new/DEBIAN/shlibs" || return 1
  for deb in "$new"/var/cache/apt/archives/*.deb; do
    rm -rf "$control" && dpkg-deb --control "$deb" "$control" || return 1
    if [ -f "$control/symbols" ]; then cat "$control/symbols" >>"$new/DEBIAN/symbols" || return 1; fi
    if [ -f "$control/shlibs" ]; then cat "$control/shlibs" >>"$new/DEBIAN/shlibs" || return 1; fi
  done
  [ -s "$new/DEBIAN/symbols" ] && rm -rf "$control" "$new"/var/cache/apt/archives/*.deb &&
    rm -rf "$dir" && mv "$new" "$dir"
}
