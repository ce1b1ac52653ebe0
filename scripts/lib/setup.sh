# Shared by scripts/test and scripts/demo: install what is missing, then configure and build.
# Sourced, not run.

KORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

KORVEL_PACKAGES=(
  g++ cmake ninja-build pkg-config git
  libsqlite3-dev nlohmann-json3-dev libssl-dev openssl libcurl4-openssl-dev libicu-dev
  libcli11-dev libfmt-dev libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  sox espeak-ng chromium
)

korvel_log() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

korvel_install_packages() {
  local missing=()
  for package in "${KORVEL_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)
  if [ ${#missing[@]} -gt 0 ]; then
    korvel_log "Installing ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
      echo "Missing packages: ${missing[*]}. Run this script as root, or install them with apt-get." >&2
      return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# Installs the npm packages of every test folder that has a lockfile.
korvel_install_npm() {
  local lock folder
  for lock in "$KORVEL_ROOT"/tests/*/package-lock.json; do
    [ -f "$lock" ] || continue
    folder="$(dirname "$lock")"
    if [ ! -d "$folder/node_modules" ] || [ "$lock" -nt "$folder/node_modules/.package-lock.json" ]; then
      korvel_log "npm ci in ${folder#"$KORVEL_ROOT"/}"
      (cd "$folder" && npm ci --no-audit --no-fund --loglevel=error)
    fi
  done
}

# korvel_build <build-dir> [cmake options...]
korvel_build() {
  local dir="$1"
  shift
  korvel_log "Configuring and building $dir"
  cmake -S "$KORVEL_ROOT" -B "$dir" -G Ninja -DKORVEL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -- -j"$(nproc)"
}
