# Shared by the scripts: the Debian packages the project needs, and the build.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Build tools and libraries (Debian 12 package names).
PACKAGES=(
  build-essential cmake pkg-config
  libxml2-dev libboost-dev libsqlite3-dev sqlite3
  libcurl4-openssl-dev libpacparser-dev libcpp-httplib-dev libsodium-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  tinyproxy curl time
)

# Installs what is missing: with apt-get when running as root, otherwise stops
# with the list of packages to install.
ensure_packages() {
  local missing=()
  local p
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq || true
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    echo "== installing: ${missing[*]}"
    sudo DEBIAN_FRONTEND=noninteractive apt-get update -qq || true
    sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "These Debian packages are missing; install them first:" >&2
    echo "  sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
}

# build <dir> [cmake options...]: configures (once) and builds out of tree.
build() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
