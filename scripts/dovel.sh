#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine (run as root, or with sudo
# available): installs what the build needs, configures, builds, then
#   demo          runs the live demonstration on the built-in defaults
#   test          runs the whole test suite: the POSIX build, then the Windows
#                 build (cross-compiled with mingw-w64, run under Wine)
#   test posix | windows | asan
#                 one of them (asan: the POSIX build under the sanitizers)
#   fuzz [SECONDS]
#                 builds the libFuzzer harnesses (clang-14) and runs each for
#                 SECONDS (default 20) under the sanitizers
#   style         checks formatting (clang-format-14) and runs clang-tidy-14
#                 over the default build (scripts/check_style.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libuv1-dev libsqlite3-dev
  libcli11-dev nlohmann-json3-dev python3-pytest libsdbus-c++-dev libsdbus-c++-bin libsystemd-dev dbus)
# The session bus, the Python bus client and gdbus, for the server's tests.
packages+=(python3-dbus python3-gi libglib2.0-bin)
windows_packages=(cmake ninja-build googletest mingw-w64 wine64 wine64-tools python3)
fuzz_packages=(cmake ninja-build clang-14 libclang-rt-14-dev pkg-config libuv1-dev libsqlite3-dev libcli11-dev
  nlohmann-json3-dev)
fuzzers=(message_read list_walk settings_number settings_init conversions text date block_args reg_args)

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

# Each harness on a copy of its seed corpus, so the repository stays as it
# is. A crash, a sanitizer report or a broken invariant fails the step; the
# input that did it is kept in build/fuzz/findings/ to reproduce with
# `build/fuzz/fuzz/<harness> <file>`.
run_fuzzers() (
  local seconds="$1"
  install_packages "${fuzz_packages[@]}"
  build fuzz
  local work
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  mkdir -p build/fuzz/findings
  for name in "${fuzzers[@]}"; do
    local harness="${name}_fuzzer"
    cp -r "fuzz/corpus/$harness" "$work/$name"
    echo "fuzz: $harness for ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "./build/fuzz/fuzz/$harness" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build/fuzz/findings/$name-" "$work/$name" >"$work/$name.log" 2>&1; then
      tail -n 60 "$work/$name.log" >&2
      echo "fuzz: $harness found a fault; its input is in build/fuzz/findings/" >&2
      exit 1
    fi
    grep -aE '^#[0-9]+[[:space:]]+DONE' "$work/$name.log"
  done
)

usage() {
  echo "usage: scripts/dovel.sh demo | test [posix | windows | asan] | fuzz [SECONDS] | style" >&2
  exit 64
}

case "${1:-}" in
  demo)
    install_packages "${packages[@]}"
    build default
    # Always a private session bus whose only service is this build's
    # dovel-server: the bus starts it for the demonstration's queue object,
    # nothing needs installing, and the desktop's own bus is left alone.
    exec dbus-run-session --config-file=build/default/dbus/session.conf -- ./build/default/tools/demo/dovel-demo
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
  fuzz)
    seconds="${2:-20}"
    [[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage
    run_fuzzers "$seconds"
    ;;
  style)
    # clang-tidy reads the compile database and needs any generated headers.
    install_packages "${packages[@]}" clang-format-14 clang-tidy-14
    cmake --preset default -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
    cmake --build --preset default -j "$(nproc)"
    exec scripts/check_style.sh build/default
    ;;
  *) usage ;;
esac
