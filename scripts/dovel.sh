#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine (run as root, or with sudo
# available): installs what the build needs, configures, builds, then
#   demo          runs the live demonstration on the built-in defaults
#   test          runs the whole test suite: the POSIX build, then the Windows
#                 build (cross-compiled with mingw-w64, run under Wine)
#   test posix | windows | asan
#                 one of them (asan: the POSIX build under the sanitizers)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libuv1-dev libsqlite3-dev)
windows_packages=(cmake ninja-build googletest mingw-w64 wine64 wine64-tools)

install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)"
}

test_posix() {
  install_packages "${packages[@]}"
  build "$1"
  ctest --preset "$1" -j "$(nproc)"
}

# In a subshell, so that the Wine prefix and its wineserver go when it ends.
test_windows() (
  install_packages "${windows_packages[@]}"
  build mingw
  source scripts/wine-env.sh
  dovel_wine_up
  ctest --preset mingw -j "$(nproc)"
)

usage() {
  echo "usage: scripts/dovel.sh demo | test [posix | windows | asan]" >&2
  exit 64
}

case "${1:-}" in
  demo)
    install_packages "${packages[@]}"
    build default
    exec ./build/default/tools/demo/dovel-demo
    ;;
  test)
    case "${2:-all}" in
      all)
        test_posix default
        test_windows
        ;;
      posix) test_posix default ;;
      asan) test_posix asan ;;
      windows) test_windows ;;
      *) usage ;;
    esac
    ;;
  *) usage ;;
esac
