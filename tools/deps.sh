# Sourced by run.sh and test.sh: makes sure the Debian packages a step needs
# are installed. As root it installs them; otherwise it prints the one line
# to run and stops.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}"
  else
    echo "Missing packages. Run this once, then try again:"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
  fi
}
