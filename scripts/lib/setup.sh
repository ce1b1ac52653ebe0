# Shared by scripts/test and scripts/demo: install what is missing, then configure and build.
# Sourced, not run.

KORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

KORVEL_PACKAGES=(
  g++ cmake ninja-build pkg-config git ccache
  libsqlite3-dev nlohmann-json3-dev libssl-dev openssl libcurl4-openssl-dev libicu-dev
  libcli11-dev libfmt-dev libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  sox espeak-ng chromium
)

korvel_log() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

# The compiler cache keys objects by content rather than by folder (paths inside the checkout
# are made relative, the working folder is left out), so a fresh clone elsewhere, as CI makes,
# reuses what the last build on this machine compiled.
export CCACHE_DIR="${CCACHE_DIR:-${HOME:-/root}/.cache/ccache}"
export CCACHE_BASEDIR="$KORVEL_ROOT"
export CCACHE_NOHASHDIR=true

# korvel_timed <phase> <command...>: runs the command and remembers how long it took.
KORVEL_TIMINGS=()
korvel_timed() {
  local phase="$1" start=$SECONDS
  shift
  "$@"
  KORVEL_TIMINGS+=("$phase: $((SECONDS - start)) s")
  korvel_log "$phase took $((SECONDS - start)) s"
}

korvel_print_timings() {
  [ ${#KORVEL_TIMINGS[@]} -gt 0 ] || return 0
  korvel_log "Time per phase"
  printf '    %s\n' "${KORVEL_TIMINGS[@]}" >&2
}

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

# korvel_configure <build-dir> [cmake options...]: Ninja, warnings as errors, ccache when installed.
korvel_configure() {
  local dir="$1"
  shift
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  korvel_log "Configuring $dir"
  cmake -S "$KORVEL_ROOT" -B "$dir" -G Ninja -DKORVEL_WERROR=ON "${launcher[@]}" "$@" >/dev/null
}

# korvel_build <build-dir> [cmake options...] [-- targets...]: configures, then builds the
# targets (default: everything).
korvel_build() {
  local dir="$1" options=() targets=()
  shift
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    options+=("$1")
    shift
  done
  if [ $# -gt 0 ]; then shift; fi
  targets=("$@")
  korvel_configure "$dir" "${options[@]}"
  korvel_log "Building ${targets[*]:-everything} in $dir"
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
  else
    cmake --build "$dir" -j"$(nproc)"
  fi
}
