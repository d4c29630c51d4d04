#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine (run as root, or with sudo
# available): installs what the build needs, configures, builds, then
#   demo          runs the live demonstration on the built-in defaults
#   test [asan]   runs the whole test suite (asan: under the sanitizers)
#   test windows  cross-compiles the Windows build and runs its tests under Wine
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

case "${1:-}" in
  demo)
    install_packages "${packages[@]}"
    build default
    exec ./build/default/tools/demo/dovel-demo
    ;;
  test)
    preset="${2:-default}"
    if [ "$preset" = windows ]; then
      install_packages "${windows_packages[@]}"
      build mingw
      source scripts/wine-env.sh
      dovel_wine_up
      ctest --preset mingw -j "$(nproc)"
    else
      install_packages "${packages[@]}"
      build "$preset"
      ctest --preset "$preset" -j "$(nproc)"
    fi
    ;;
  *)
    echo "usage: scripts/dovel.sh demo | test [asan | windows]" >&2
    exit 64
    ;;
esac
